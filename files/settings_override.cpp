#include "files/settings_override.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace mas {
namespace {

constexpr std::string_view kAll = "all";
constexpr std::string_view kNone = "none";

// The cage model's per-bar output selections, sized by the allocated bar count.
struct BarSelection {
  std::string_view name;
  std::vector<std::uint8_t> CageMachineModel::*member;
};
const std::array<BarSelection, 3> kBarSelections = {{
    {"BarreSel", &CageMachineModel::BarreSel},
    {"LoopSel", &CageMachineModel::LoopSel},
    {"AnneauSel", &CageMachineModel::AnneauSel},
}};

const BarSelection* FindBarSelection(std::string_view name) {
  for (const auto& b : kBarSelections) {
    if (b.name == name) return &b;
  }
  return nullptr;
}

// Names and types of the settable fields, read from a record that is never written.
const std::vector<SettableField>& ReferenceFields() {
  static SimulationSettings scratch;
  static const std::vector<SettableField> fields = SettableFields(scratch);
  return fields;
}

const SettableField* FindField(const std::vector<SettableField>& fields, std::string_view name) {
  for (const auto& f : fields) {
    if (f.ref.name == name) return &f;
  }
  return nullptr;
}

// "OutSel" for "OutSel.Wm"; empty for a name without a group.
std::string_view GroupOf(std::string_view name) {
  const auto dot = name.find('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(0, dot);
}

bool IsGroup(std::string_view name) {
  if (name.empty()) return false;
  const auto& fields = ReferenceFields();
  return std::any_of(fields.begin(), fields.end(),
                     [&](const SettableField& f) { return GroupOf(f.ref.name) == name; });
}

[[noreturn]] void Fail(std::string_view text, std::string_view detail) {
  std::string message = "--set ";
  message += text;
  message += " : ";
  message += detail;
  throw OverrideError(message);
}

std::string Quoted(std::string_view s) { return "« " + std::string(s) + " »"; }

// A '+' sign before a number, which std::from_chars does not take.
std::string_view WithoutPlus(std::string_view v) {
  if (v.size() > 1 && v[0] == '+' && v[1] != '-' && v[1] != '+') v.remove_prefix(1);
  return v;
}

void ParseReal(Override& o, std::string_view value) {
  const std::string_view v = WithoutPlus(value);
  double x = 0.0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
  std::string expected = "réel attendu";
  if (value.find(',') != std::string_view::npos) expected += ", avec un point décimal";
  if (ec == std::errc::result_out_of_range) {
    Fail(o.text, "valeur hors limites pour " + o.name + " (" + expected + ")");
  }
  if (v.empty() || ec != std::errc{} || end != v.data() + v.size()) {
    Fail(o.text, "valeur invalide pour " + o.name + " (" + expected + ")");
  }
  // A non-finite setting would only make the run diverge or never end.
  if (!std::isfinite(x)) Fail(o.text, "valeur invalide pour " + o.name + " (réel fini attendu)");
  o.real = x;
}

void ParseInt(Override& o, std::string_view value) {
  const std::string_view v = WithoutPlus(value);
  int x = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
  if (ec == std::errc::result_out_of_range) {
    Fail(o.text, "valeur hors limites pour " + o.name + " (entier de 32 bits attendu)");
  }
  if (v.empty() || ec != std::errc{} || end != v.data() + v.size()) {
    Fail(o.text, "valeur invalide pour " + o.name + " (entier attendu)");
  }
  o.integer = x;
}

void ParseZeroOne(Override& o, std::string_view value) {
  if (value != "0" && value != "1") {
    Fail(o.text, "valeur invalide pour " + o.name + " (0 ou 1 attendu)");
  }
  o.integer = value == "1" ? 1 : 0;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

void ParseBarList(Override& o, std::string_view value) {
  o.kind = Override::Kind::kBarList;
  if (value.empty() || value == kNone) return;
  if (value == kAll) {
    o.all_bars = true;
    return;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = value.find(',', start);
    const std::string_view item = TrimSpaces(
        value.substr(start, comma == std::string_view::npos ? value.npos : comma - start));
    int bar = -1;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), bar);
    if (item.empty()) Fail(o.text, "élément vide dans la liste de " + o.name);
    if (ec != std::errc{} || end != item.data() + item.size() || bar < 0) {
      Fail(o.text, "indice de barre invalide " + Quoted(item) + " pour " + o.name +
                       " (numéros de barre >= 0 séparés par des virgules, all ou none attendu)");
    }
    o.bars.push_back(bar);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
}

void Store(const SettableField& field, const Override& o) {
  const FieldRef& ref = field.ref;
  switch (ref.type) {
    case ValueType::kReal:
      ref.real() = o.real;
      break;
    case ValueType::kInt:
    case ValueType::kIntFlag:
      ref.integer() = o.integer;
      break;
    case ValueType::kFlag:
      ref.flag() = o.integer != 0;
      break;
    case ValueType::kText:
      ref.text() = o.text_value;
      break;
  }
}

void StoreGroup(SimulationSettings& s, const Override& o, std::vector<std::string>& stored) {
  for (const auto& field : SettableFields(s)) {
    if (GroupOf(field.ref.name) != o.name) continue;
    if (field.ref.type == ValueType::kFlag) {
      field.ref.flag() = o.group_value != 0;
    } else {
      field.ref.integer() = o.group_value;
    }
    stored.emplace_back(field.ref.name);
  }
}

void StoreBars(SimulationSettings& s, const Override& o) {
  // A bar count changed earlier in the same set of overrides sizes the arrays first, so
  // that "Nr=40 BarreSel=35" selects bar 35 of the new cage.
  const int wanted = (s.cage.Nr >= 1 && s.cage.Nr <= CageMachineModel::kMaxBars) ? s.cage.Nr : 0;
  if (s.cage.AllocatedBars() != wanted) ResetCageArrays(s, /*reallocate=*/true);
  std::vector<std::uint8_t>& selection = s.cage.*(FindBarSelection(o.name)->member);
  const int bars = static_cast<int>(selection.size());
  if (bars == 0 && (o.all_bars || !o.bars.empty())) {
    Fail(o.text, "l'étude n'a aucune barre allouée (Nr = " + std::to_string(s.cage.Nr) +
                     ") : " + o.name + " ne peut sélectionner aucune barre");
  }
  for (int bar : o.bars) {
    if (bar >= bars) {
      Fail(o.text, "barre " + std::to_string(bar) + " hors de 0.." + std::to_string(bars - 1) +
                       " pour " + o.name + " (Nr = " + std::to_string(bars) + ")");
    }
  }
  std::fill(selection.begin(), selection.end(), o.all_bars ? 1 : 0);
  for (int bar : o.bars) selection[static_cast<std::size_t>(bar)] = 1;
}

// Levenshtein distance between a and b, ignoring case.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t substitution = diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, substitution});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<std::string> BarSelectionNames() {
  std::vector<std::string> names;
  names.reserve(kBarSelections.size());
  for (const auto& b : kBarSelections) names.emplace_back(b.name);
  return names;
}

std::vector<std::string> CloseNames(std::string_view name, std::size_t max_count) {
  std::vector<std::string> candidates;
  for (const auto& f : ReferenceFields()) {
    candidates.emplace_back(f.ref.name);
    const std::string_view group = GroupOf(f.ref.name);
    if (!group.empty() &&
        std::find(candidates.begin(), candidates.end(), group) == candidates.end()) {
      candidates.emplace_back(group);
    }
  }
  for (const auto& b : kBarSelections) candidates.emplace_back(b.name);

  // Short names are close to too many others: allow one typing error below five letters.
  const std::size_t limit = name.size() <= 4 ? 1 : 2;
  std::vector<std::pair<std::size_t, std::string>> close;
  for (auto& c : candidates) {
    const std::size_t d = EditDistance(name, c);
    if (d <= limit && c != name) close.emplace_back(d, std::move(c));
  }
  std::stable_sort(close.begin(), close.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<std::string> out;
  for (auto& [d, c] : close) {
    if (out.size() == max_count) break;
    out.push_back(std::move(c));
  }
  return out;
}

Override ParseOverride(std::string_view text) {
  Override o;
  o.text = std::string(text);
  const auto eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) Fail(text, "forme NOM=VALEUR attendue");
  o.name = std::string(text.substr(0, eq));
  const std::string_view value = text.substr(eq + 1);

  if (const SettableField* field = FindField(ReferenceFields(), o.name)) {
    o.kind = Override::Kind::kField;
    o.type = field->ref.type;
    switch (o.type) {
      case ValueType::kReal:
        ParseReal(o, value);
        break;
      case ValueType::kInt:
        ParseInt(o, value);
        break;
      case ValueType::kIntFlag:
      case ValueType::kFlag:
        ParseZeroOne(o, value);
        break;
      case ValueType::kText:
        o.text_value = std::string(value);
        break;
    }
    // A value the run cannot use whatever the study is refused here, where it is typed.
    const double number = o.type == ValueType::kReal ? o.real : o.integer;
    if (std::string problem = FieldValueProblem(field->ref, number); !problem.empty()) {
      Fail(text, problem);
    }
    return o;
  }
  if (FindBarSelection(o.name) != nullptr) {
    ParseBarList(o, value);
    return o;
  }
  if (IsGroup(o.name)) {
    o.kind = Override::Kind::kGroup;
    if (value != kAll && value != kNone) {
      Fail(text, "valeur invalide pour " + o.name + " (all ou none attendu)");
    }
    o.group_value = value == kAll ? 1 : 0;
    return o;
  }

  std::string detail = "paramètre inconnu " + Quoted(o.name);
  const auto close = CloseNames(o.name);
  for (std::size_t i = 0; i < close.size(); ++i) {
    detail += i == 0 ? " ; vouliez-vous dire " : ", ";
    detail += Quoted(close[i]);
  }
  if (!close.empty()) detail += " ?";
  Fail(text, detail);
}

std::vector<Override> ParseOverrides(const std::vector<std::string>& texts) {
  std::vector<Override> out;
  out.reserve(texts.size());
  for (const auto& t : texts) out.push_back(ParseOverride(t));
  return out;
}

namespace {

// Stores one override, without its follow-ups; adds the names of the fields it stored.
void StoreOverride(SimulationSettings& s, const Override& o, std::vector<std::string>& stored) {
  switch (o.kind) {
    case Override::Kind::kField: {
      const auto fields = SettableFields(s);
      const SettableField* field = FindField(fields, o.name);
      if (field == nullptr) Fail(o.text, "paramètre inconnu " + Quoted(o.name));
      Store(*field, o);
      stored.push_back(o.name);
      break;
    }
    case Override::Kind::kGroup:
      StoreGroup(s, o, stored);
      break;
    case Override::Kind::kBarList:
      StoreBars(s, o);
      break;
  }
}

}  // namespace

void ApplyOverride(SimulationSettings& s, const Override& o) { ApplyOverrides(s, {o}); }

void ApplyOverrides(SimulationSettings& s, const std::vector<Override>& overrides) {
  if (overrides.empty()) return;
  SimulationSettings changed = s;
  std::vector<std::string> stored;
  for (const auto& o : overrides) StoreOverride(changed, o, stored);
  // The follow-ups of a file read of the same values, once, after every value is stored.
  FinishSettingsChange(changed, s, stored);
  s = std::move(changed);
}

}  // namespace mas
