#include "files/settings_description.h"

#include <fnmatch.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstddef>

#include "engine/settings.h"
#include "engine/settings_fields.h"
#include "files/settings_override.h"

namespace mas {
namespace {

// What a field accepts: its rule's range when it has one, else what its type accepts.
std::string ValuesText(const FieldRef& ref) {
  switch (ref.rule) {
    case FieldRule::kAny:
      break;
    case FieldRule::kStep:
      return "réel fini > 0";
    case FieldRule::kBarCount:
      return "entier de 3 à " + std::to_string(CageMachineModel::kMaxBars);
    case FieldRule::kCount:
      return "entier >= 1";
    case FieldRule::kColumn:
      return "entier >= 0";
    case FieldRule::kFluxType:
      return "entier de 0 à 10";
    case FieldRule::kCost:
      return "0 ou 1";
    case FieldRule::kWeakening:
      return "0, 1 ou 2";
  }
  switch (ref.type) {
    case ValueType::kReal:
      return "réel fini";
    case ValueType::kInt:
      return "entier (32 bits)";
    case ValueType::kIntFlag:
    case ValueType::kFlag:
      return "0 ou 1";
    case ValueType::kText:
      return "texte";
  }
  return {};
}

// The shortest text that reads back as the same double.
std::string ShortestReal(double value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return {buffer.data(), result.ptr};
}

std::string ValueText(const FieldRef& ref) {
  switch (ref.type) {
    case ValueType::kReal:
      return ShortestReal(ref.real());
    case ValueType::kInt:
    case ValueType::kIntFlag:
      return std::to_string(ref.integer());
    case ValueType::kFlag:
      return ref.flag() ? "1" : "0";
    case ValueType::kText:
      return ref.text();
  }
  return {};
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool Selects(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return true;
  if (pattern.find_first_of("*?[") != std::string_view::npos) {
    return fnmatch(std::string(pattern).c_str(), std::string(name).c_str(), 0) == 0;
  }
  return Lower(name).find(Lower(pattern)) != std::string::npos;
}

// Width on a terminal of UTF-8 text: one column per character.
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
  }));
}

void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  out.append(width - std::min(width, Columns(text)) + 2, ' ');
}

// The columns the cage model's per-bar selections add to the table.
std::string BarSelectionMeaning(std::string_view name) {
  if (name == "BarreSel") return "barres dont le courant est enregistré (colonnes Ib)";
  if (name == "LoopSel") return "mailles rotoriques dont le courant est enregistré (colonnes Ir)";
  return "portions d'anneau dont le courant est enregistré (colonnes Ian)";
}

std::vector<SettingDescription> Describe(std::string_view pattern, bool exact) {
  SimulationSettings defaults;
  std::vector<SettingDescription> out;
  for (const auto& field : SettableFields(defaults)) {
    const bool chosen = exact ? field.ref.name == pattern : Selects(pattern, field.ref.name);
    if (!chosen) continue;
    out.push_back({std::string(field.ref.name), field.group, ValuesText(field.ref),
                   ValueText(field.ref), std::string(field.ref.unit),
                   std::string(field.ref.meaning)});
  }
  // The cage model's per-bar selections: lists of bars, none selected in a new study.
  for (const auto& name : BarSelectionNames()) {
    const bool chosen = exact ? name == pattern : Selects(pattern, name);
    if (!chosen) continue;
    out.push_back({name, "Modèle à cage : sélection par barre (hors fichier)",
                   "barres (0,3), all ou none", "none", "", BarSelectionMeaning(name)});
  }
  return out;
}

}  // namespace

std::vector<SettingDescription> DescribeSettings(std::string_view pattern) {
  return Describe(pattern, /*exact=*/false);
}

std::optional<SettingDescription> DescribeSetting(std::string_view name) {
  auto found = Describe(name, /*exact=*/true);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

std::string FormatSettings(const std::vector<SettingDescription>& settings) {
  const SettingDescription header{"NOM", "GROUPE", "VALEURS", "DÉFAUT", "UNITÉ", "SIGNIFICATION"};
  auto unit = [](const SettingDescription& d) -> std::string_view {
    return d.unit.empty() ? "-" : std::string_view(d.unit);
  };
  std::size_t name_width = Columns(header.name);
  std::size_t unit_width = Columns(header.unit);
  std::size_t values_width = Columns(header.values);
  std::size_t default_width = Columns(header.default_value);
  std::size_t group_width = Columns(header.group);
  for (const auto& d : settings) {
    name_width = std::max(name_width, Columns(d.name));
    unit_width = std::max(unit_width, Columns(unit(d)));
    values_width = std::max(values_width, Columns(d.values));
    default_width = std::max(default_width, Columns(d.default_value));
    group_width = std::max(group_width, Columns(d.group));
  }
  std::string out;
  auto line = [&](const SettingDescription& d) {
    AppendPadded(out, d.name, name_width);
    AppendPadded(out, &d == &header ? std::string_view(d.unit) : unit(d), unit_width);
    AppendPadded(out, d.values, values_width);
    AppendPadded(out, d.default_value.empty() ? "\"\"" : d.default_value, default_width);
    AppendPadded(out, d.group, group_width);
    out += d.meaning;
    // No trailing spaces when a setting has no meaning to show.
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += '\n';
  };
  line(header);
  for (const auto& d : settings) line(d);
  return out;
}

}  // namespace mas
