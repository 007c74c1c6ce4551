#include "files/settings_description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/settings_fields.h"
#include "files/settings_override.h"

namespace mas {
namespace {

std::vector<std::string> Names(const std::vector<SettingDescription>& settings) {
  std::vector<std::string> names;
  for (const auto& d : settings) names.push_back(d.name);
  return names;
}

TEST(SettingDescriptions, DescribeEverySettableNameOnceAndItsDefaultReadsBackAsItself) {
  SimulationSettings scratch;
  const auto fields = SettableFields(scratch);
  const auto all = DescribeSettings("");
  // The fields, then the three per-bar selections of the cage model.
  ASSERT_EQ(all.size(), fields.size() + 3);
  EXPECT_EQ(all.back().name, "AnneauSel");
  for (std::size_t i = fields.size(); i < all.size(); ++i) {
    SimulationSettings s;
    EXPECT_NO_THROW(ApplyOverride(s, ParseOverride(all[i].name + "=" + all[i].default_value)));
  }
  const auto names = Names(all);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), all.size());
  const SimulationSettings defaults;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const auto& d = all[i];
    SCOPED_TRACE(d.name);
    EXPECT_EQ(d.name, fields[i].ref.name);
    EXPECT_FALSE(d.group.empty());
    EXPECT_FALSE(d.values.empty());
    // The default is printed in the form --set takes, and storing it gives the same value,
    // except the zeros of a study no file has filled where a run needs more (dt, p, Nr...):
    // those are refused, as every value the field's rule refuses.
    const FieldRef& ref = fields[i].ref;
    const double number = ref.type == ValueType::kReal   ? ref.real()
                          : ref.type == ValueType::kFlag ? ref.flag()
                          : ref.type == ValueType::kText ? 0.0
                                                         : ref.integer();
    if (ref.type != ValueType::kText && !FieldValueProblem(ref, number).empty()) {
      EXPECT_NE(ref.rule, FieldRule::kAny);
      EXPECT_THROW(ParseOverride(d.name + "=" + d.default_value), OverrideError);
      continue;
    }
    SimulationSettings s;
    ASSERT_NO_THROW(ApplyOverride(s, ParseOverride(d.name + "=" + d.default_value)));
    const FieldRef stored = SettableFields(s)[i].ref;
    SimulationSettings fresh = defaults;
    const FieldRef original = SettableFields(fresh)[i].ref;
    switch (stored.type) {
      case ValueType::kReal:
        EXPECT_EQ(stored.real(), original.real());
        break;
      case ValueType::kInt:
      case ValueType::kIntFlag:
        EXPECT_EQ(stored.integer(), original.integer());
        break;
      case ValueType::kFlag:
        EXPECT_EQ(stored.flag(), original.flag());
        break;
      case ValueType::kText:
        EXPECT_EQ(stored.text(), original.text());
        break;
    }
  }
}

TEST(SettingDescriptions, GroupAndValuesFollowTheFieldAndItsRecord) {
  const auto dt = DescribeSetting("dt");
  ASSERT_TRUE(dt.has_value());
  EXPECT_EQ(dt->group, "enregistrement 3 du fichier d'étude");
  EXPECT_EQ(dt->values, "réel fini > 0");
  EXPECT_EQ(DescribeSetting("Rs")->values, "réel fini");
  EXPECT_EQ(DescribeSetting("Ns")->values, "entier (32 bits)");
  EXPECT_EQ(DescribeSetting("p")->values, "entier >= 1");
  EXPECT_EQ(DescribeSetting("Nr")->values, "entier de 3 à 1000");
  EXPECT_EQ(DescribeSetting("Flag")->values, "0, 1 ou 2");
  EXPECT_EQ(DescribeSetting("Triangle")->values, "0 ou 1");
  EXPECT_EQ(DescribeSetting("OutFileName")->values, "texte");
  EXPECT_EQ(DescribeSetting("IFiltT")->group, "Filtres et estimateur de vitesse (hors fichier)");
  // Exact and case-sensitive, as --set: "rs" is no setting, "Rs" and "mRs" are two.
  EXPECT_FALSE(DescribeSetting("rs").has_value());
  EXPECT_FALSE(DescribeSetting("OutSel").has_value());
}

TEST(SettingDescriptions, PatternSelectsByShellPatternOrByTextInAnyCase) {
  const auto outsel = Names(DescribeSettings("OutSel.*"));
  ASSERT_FALSE(outsel.empty());
  for (const auto& n : outsel) EXPECT_EQ(n.rfind("OutSel.", 0), 0u) << n;
  EXPECT_EQ(Names(DescribeSettings("Wmref?")),
            (std::vector<std::string>{"Wmref1", "Wmref2", "Wmref3", "Wmref4"}));
  // A pattern is matched on the whole name: "Wmref" alone with a wildcard needs it.
  EXPECT_TRUE(DescribeSettings("Wmre?").empty());
  const auto rs = Names(DescribeSettings("rs"));
  EXPECT_NE(std::find(rs.begin(), rs.end(), "Rs"), rs.end());
  EXPECT_NE(std::find(rs.begin(), rs.end(), "mRs"), rs.end());
  for (const auto& n : rs) {
    std::string lower = n;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_NE(lower.find("rs"), std::string::npos) << n;
  }
  EXPECT_TRUE(DescribeSettings("no such name").empty());
}

// Column of the first character of `field` (0-based) in a line, counted in characters.
std::size_t ColumnOf(const std::string& line, const std::string& field) {
  const std::size_t at = line.find(field);
  return static_cast<std::size_t>(std::count_if(line.begin(), line.begin() + static_cast<long>(at),
                                                [](char c) { return (c & 0xC0) != 0x80; }));
}

TEST(SettingDescriptions, ListingAlignsItsColumnsWhateverTheAccents) {
  const std::vector<SettingDescription> rows = {
      {"dt", "enregistrement 3 du fichier d'étude", "réel fini", "1e-05", "s", "pas fixe"},
      {"OutFileName", "Sorties (hors fichier)", "texte", "", "", "fichier écrit"},
  };
  std::istringstream text(FormatSettings(rows));
  std::string header, first, second;
  std::getline(text, header);
  std::getline(text, first);
  std::getline(text, second);
  EXPECT_EQ(header.rfind("NOM", 0), 0u);
  EXPECT_EQ(ColumnOf(header, "VALEURS"), ColumnOf(first, "réel"));
  EXPECT_EQ(ColumnOf(first, "réel"), ColumnOf(second, "texte"));
  EXPECT_EQ(ColumnOf(header, "GROUPE"), ColumnOf(first, "enregistrement"));
  EXPECT_EQ(ColumnOf(first, "enregistrement"), ColumnOf(second, "Sorties"));
  // An empty text default is shown, so that the columns stay readable; so is no unit.
  EXPECT_NE(second.find("\"\""), std::string::npos);
  EXPECT_EQ(ColumnOf(header, "UNITÉ"), ColumnOf(first, "s "));
  EXPECT_EQ(ColumnOf(first, "s "), ColumnOf(second, "- "));
  // The meaning ends the line, after the group, aligned too.
  EXPECT_EQ(ColumnOf(header, "SIGNIFICATION"), ColumnOf(first, "pas fixe"));
  EXPECT_EQ(ColumnOf(first, "pas fixe"), ColumnOf(second, "fichier écrit"));
  EXPECT_EQ(first.substr(first.size() - 8), "pas fixe");
}

TEST(SettingDescriptions, EverySettingSaysWhatItIsAndInWhichUnit) {
  // The units a setting may have; "" is a number without unit: a count, a choice, a 0/1
  // flag, a text, a weight, or a regulator gain whose unit depends on its scaling.
  const std::set<std::string> units = {"",      "s",      "Ω", "H",   "kg·m²",  "N·m",
                                       "N·m·s", "N·m·s²", "V", "A",   "Hz",     "tr/mn",
                                       "rad",   "rad/s",  "m", "1/s", "A·tr/mn"};
  std::size_t without_meaning = 0;
  for (const auto& d : DescribeSettings("")) {
    SCOPED_TRACE(d.name);
    EXPECT_EQ(units.count(d.unit), 1u) << d.unit;
    if (d.meaning.empty()) ++without_meaning;
  }
  EXPECT_EQ(without_meaning, 0u);
  const std::vector<std::pair<std::string, std::string>> expected = {{"dt", "s"},
                                                                     {"tf", "s"},
                                                                     {"TMLI", "s"},
                                                                     {"Rs", "Ω"},
                                                                     {"mRr", "Ω"},
                                                                     {"Ls", "H"},
                                                                     {"M", "H"},
                                                                     {"J", "kg·m²"},
                                                                     {"a30", "N·m"},
                                                                     {"E2", "V"},
                                                                     {"fs", "Hz"},
                                                                     {"IqsrefM", "A"},
                                                                     {"Wmref1", "tr/mn"},
                                                                     {"Wmt4", "s"},
                                                                     {"Rrref2", "Ω"},
                                                                     {"WmBase", "tr/mn"},
                                                                     {"Idssref3", "A"},
                                                                     {"VsPh", "rad"},
                                                                     {"WmEstMax", "rad/s"},
                                                                     {"Rayon", "m"},
                                                                     {"p", ""},
                                                                     {"Nr", ""},
                                                                     {"OutSel.Wm", ""},
                                                                     {"ExpNom", ""},
                                                                     {"BarreSel", ""}};
  for (const auto& [name, unit] : expected) {
    const auto d = DescribeSetting(name);
    ASSERT_TRUE(d.has_value()) << name;
    EXPECT_EQ(d->unit, unit) << name;
  }
  EXPECT_EQ(DescribeSetting("dt")->meaning, "pas d'intégration fixe");
  // Each of four numbered event settings has the meaning of its quantity.
  EXPECT_EQ(DescribeSetting("Wmref1")->meaning, DescribeSetting("Wmref4")->meaning);
  EXPECT_NE(DescribeSetting("OutSel.Wm")->meaning.find("Vitesse(tr/mn)"), std::string::npos);
}

}  // namespace
}  // namespace mas
