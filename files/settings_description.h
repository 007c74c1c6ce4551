#pragma once
// What each settable name is, for `mas settings` and the Python module's describe(): the
// list of settable fields that drives the study reader and the --set overrides
// (engine/settings_fields.h), each with its group, its unit and meaning, the values it
// accepts and its value in the settings of a study that no file has filled.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mas {

struct SettingDescription {
  std::string name;
  std::string group;
  std::string values;         // what the name accepts ("réel", "entier", "0 ou 1", "texte")
  std::string default_value;  // in the form --set takes it
  std::string unit;           // "s", "Ω", "tr/mn"...; empty for a number without unit
  std::string meaning;        // what the setting does, in French
};

// Every settable name that `pattern` selects, in the order of the field list. An empty
// pattern selects every name; one with * or ? is a shell pattern on the whole name
// ("OutSel.*", "Wmref?"); any other selects the names that contain it, letter case
// ignored ("rs" selects Rs, mRs, ...).
std::vector<SettingDescription> DescribeSettings(std::string_view pattern);

// The description of one name (exact, case-sensitive as --set), none for a name that is
// not settable.
std::optional<SettingDescription> DescribeSetting(std::string_view name);

// The listing: a header line, then one line per description, in aligned columns (name,
// unit, accepted values, default, group, meaning); "-" stands for no unit.
std::string FormatSettings(const std::vector<SettingDescription>& settings);

}  // namespace mas
