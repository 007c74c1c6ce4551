#include "ui/dialog_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>

#include "engine/numeric.h"
#include "engine/settings_fields.h"
#include "ui/number_text.h"

namespace mas::ui {
namespace {

// The settable fields of one settings record by name.
std::map<std::string, FieldRef, std::less<>> FieldsByName(SimulationSettings& s) {
  std::map<std::string, FieldRef, std::less<>> out;
  for (const auto& f : SettableFields(s)) out.emplace(std::string(f.ref.name), f.ref);
  return out;
}

double NumberOf(const FieldRef& f) {
  switch (f.type) {
    case ValueType::kReal:
      return f.real();
    case ValueType::kInt:
    case ValueType::kIntFlag:
      return f.integer();
    case ValueType::kFlag:
      return f.flag() ? 1.0 : 0.0;
    case ValueType::kText:
      break;
  }
  return 0.0;
}

// The time constants shown by the time-constant machine dialog.
double TimeConstant(const SimulationSettings& s, std::string_view name) {
  const auto& m = s.dq;
  if (name == "Ts") return m.Ls / m.Rs;
  if (name == "Tr") return m.Lr / m.Rr;
  if (name == "sigma") return 1.0 - m.M * m.M / (m.Ls * m.Lr);
  throw std::out_of_range("no time constant " + std::string(name));
}

bool IsTimeConstant(std::string_view name) {
  return name == "Ts" || name == "Tr" || name == "sigma";
}

// Reals fit their fields with six significant digits; an integer held in a real field is
// shown whole whatever its size.
std::string ShowNumber(double value, Conversion conversion) {
  switch (conversion) {
    case Conversion::kReal:
      return FormatReal(value, 6);
    case Conversion::kInteger:
    case Conversion::kIntegerFromReal:
    case Conversion::kAtLeastOne:
    case Conversion::kText:
    case Conversion::kBarList:
      break;
  }
  return FormatReal(value, 15);
}

bool IsBarSelection(std::string_view name) {
  return name == "BarreSel" || name == "LoopSel" || name == "AnneauSel";
}

std::vector<std::uint8_t>& BarSelection(SimulationSettings& s, std::string_view name) {
  if (name == "BarreSel") return s.cage.BarreSel;
  if (name == "LoopSel") return s.cage.LoopSel;
  return s.cage.AnneauSel;
}

// The selected bars as the field shows them: "0,3,5", "all" or "" (none).
std::string BarListText(const std::vector<std::uint8_t>& selection) {
  std::string text;
  bool all = !selection.empty();
  for (std::size_t i = 0; i < selection.size(); ++i) {
    if (selection[i] == 0) {
      all = false;
      continue;
    }
    if (!text.empty()) text += ',';
    text += std::to_string(i);
  }
  return all ? std::string("all") : text;
}

// The bars a field names: numbers separated by commas or spaces, "all" (every one of
// `bars`, which must then be known) or "none"/empty. Nothing, and the message, when a
// number is no integer or lies outside 0 .. bars - 1 (when bars >= 0).
std::optional<std::vector<int>> ParseBarList(const std::string& text, int bars,
                                             std::string& error) {
  std::vector<int> out;
  std::string trimmed = text;
  trimmed.erase(0, trimmed.find_first_not_of(' '));
  trimmed.erase(trimmed.find_last_not_of(' ') + 1);
  if (trimmed.empty() || trimmed == "none") return out;
  if (trimmed == "all") {
    for (int i = 0; i < bars; ++i) out.push_back(i);
    return out;
  }
  std::string token;
  auto take = [&]() -> bool {
    if (token.empty()) return true;
    const auto n = ParseInt(token);
    if (!n) {
      error = "'" + text + "' n'est pas une liste de numéros correcte";
      return false;
    }
    if (*n < 0 || (bars >= 0 && *n >= bars)) {
      error = "'" + token + "' : numéro hors de 0 .. " + std::to_string(bars - 1);
      return false;
    }
    out.push_back(*n);
    token.clear();
    return true;
  };
  for (char c : trimmed) {
    if (c == ',' || c == ' ' || c == ';') {
      if (!take()) return std::nullopt;
    } else {
      token += c;
    }
  }
  if (!take()) return std::nullopt;
  return out;
}

// A value ready to be written into a field: a real, an integer or a text.
struct Value {
  enum class Kind { kReal, kInteger, kText } kind = Kind::kInteger;
  double real = 0.0;
  int integer = 0;
  std::string text;

  static Value Real(double v) { return {Kind::kReal, v, 0, {}}; }
  static Value Integer(int v) { return {Kind::kInteger, 0.0, v, {}}; }
  static Value Text(std::string v) { return {Kind::kText, 0.0, 0, std::move(v)}; }
  double AsReal() const { return kind == Kind::kReal ? real : integer; }
  int AsInteger() const { return kind == Kind::kReal ? TruncToInt(real) : integer; }
};

struct Pending {
  std::string field;
  Value value;
};

// Converts an edit's text; nothing (and the message) when it is refused.
std::optional<Value> Convert(const std::string& text, Conversion conversion, std::string& error) {
  switch (conversion) {
    case Conversion::kText:
    case Conversion::kBarList:
      return Value::Text(text);
    case Conversion::kInteger: {
      const auto v = ParseInt(text);
      if (!v) {
        error = NotAnIntegerMessage(text);
        return std::nullopt;
      }
      return Value::Integer(*v);
    }
    case Conversion::kIntegerFromReal:
    case Conversion::kAtLeastOne: {
      const auto v = ParseReal(text);
      if (!v) {
        error = NotARealMessage(text);
        return std::nullopt;
      }
      int n = TruncToInt(*v);
      if (conversion == Conversion::kAtLeastOne && n < 1) n = 1;
      return Value::Integer(n);
    }
    case Conversion::kReal: {
      const auto v = ParseReal(text);
      if (!v) {
        error = NotARealMessage(text);
        return std::nullopt;
      }
      return Value::Real(*v);
    }
  }
  return std::nullopt;
}

void Write(const FieldRef& f, const Value& v) {
  switch (f.type) {
    case ValueType::kReal:
      f.real() = v.AsReal();
      break;
    case ValueType::kInt:
    case ValueType::kIntFlag:
      f.integer() = v.AsInteger();
      break;
    case ValueType::kFlag:
      f.flag() = v.AsInteger() != 0;
      break;
    case ValueType::kText:
      f.text() = v.text;
      break;
  }
}

// The unit a label names between parentheses ("Rs (Ohm) :", "t0(s) :", "( Ohm )"), or
// nothing. Only units are taken: "(Iqsref - IqsrefOld)2" or "( Wm )" name no unit.
std::string UnitOf(const std::string& label) {
  static constexpr std::array<std::string_view, 14> kUnits = {
      "s",  "Ohm",     "H",         "V",     "A",   "Hz",      "kg.m2",
      "Nm", "Nm/s/rd", "Nm/s2/rd2", "tr/mn", "deg", "A/tr*mn", "rd/s"};
  const auto open = label.rfind('(');
  const auto close = label.find(')', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return {};
  std::string inside = label.substr(open + 1, close - open - 1);
  const auto first = inside.find_first_not_of(' ');
  const auto last = inside.find_last_not_of(' ');
  if (first == std::string::npos) return {};
  inside = inside.substr(first, last - first + 1);
  return std::find(kUnits.begin(), kUnits.end(), inside) != kUnits.end() ? inside : std::string();
}

const Row& RowOf(const DialogDescription& dialog, const ControlRef& control) {
  return dialog.groups[static_cast<std::size_t>(control.group)]
      .rows[static_cast<std::size_t>(control.row)];
}

}  // namespace

std::vector<ControlRef> Controls(const DialogDescription& dialog) {
  std::vector<ControlRef> out;
  for (int g = 0; g < static_cast<int>(dialog.groups.size()); ++g) {
    const Group& group = dialog.groups[static_cast<std::size_t>(g)];
    for (int r = 0; r < static_cast<int>(group.rows.size()); ++r) {
      const Row& row = group.rows[static_cast<std::size_t>(r)];
      if (row.kind == ControlKind::kNote) continue;
      if (row.fields.empty()) {
        out.push_back({g, r, 0, row.kind, "", Conversion::kReal});
        continue;
      }
      for (int c = 0; c < static_cast<int>(row.fields.size()); ++c) {
        const auto i = static_cast<std::size_t>(c);
        const Conversion conversion =
            i < row.conversions.size() ? row.conversions[i] : Conversion::kReal;
        out.push_back({g, r, c, row.kind, group.disabled ? "" : row.fields[i], conversion});
      }
    }
  }
  return out;
}

std::vector<ControlState> LoadDialog(const DialogDescription& dialog,
                                     const SimulationSettings& settings) {
  SimulationSettings s = settings;  // the field list hands out writable references
  const auto fields = FieldsByName(s);
  std::vector<ControlState> out;
  for (const ControlRef& c : Controls(dialog)) {
    const Row& row =
        dialog.groups[static_cast<std::size_t>(c.group)].rows[static_cast<std::size_t>(c.row)];
    ControlState state;
    if (c.field.empty()) {
      state.text = row.text;
      state.checked = row.code == 1;
    } else if (IsTimeConstant(c.field)) {
      state.text = ShowNumber(TimeConstant(s, c.field), c.conversion);
    } else if (IsBarSelection(c.field)) {
      state.text = BarListText(BarSelection(s, c.field));
    } else {
      const FieldRef& f = fields.at(c.field);
      switch (c.kind) {
        case ControlKind::kEdit:
          state.text =
              f.type == ValueType::kText ? f.text() : ShowNumber(NumberOf(f), c.conversion);
          break;
        case ControlKind::kCheck:
        case ControlKind::kRadioFlag:
          state.checked = NumberOf(f) == 1.0;
          break;
        case ControlKind::kRadio:
          state.checked = NumberOf(f) == row.code;
          break;
        case ControlKind::kNote:
        case ControlKind::kInertEdit:
        case ControlKind::kInertRadio:
          break;
      }
    }
    out.push_back(std::move(state));
  }
  return out;
}

StoreResult StoreDialog(const DialogDescription& dialog, const std::vector<ControlState>& loaded,
                        const std::vector<ControlState>& current, SimulationSettings& s) {
  const std::vector<ControlRef> controls = Controls(dialog);
  if (loaded.size() != controls.size() || current.size() != controls.size()) {
    throw std::invalid_argument("dialog " + dialog.id + ": control states of another layout");
  }
  StoreResult result;
  std::vector<Pending> pending;
  std::map<std::string, double> time_constants;
  bool machine_changed = false;  // Rs or a time constant changed (time-constant dialog)
  std::vector<std::string> radio_fields_done;
  std::vector<std::pair<std::string, std::vector<int>>> bar_lists;

  for (std::size_t i = 0; i < controls.size() && result.error.empty(); ++i) {
    const ControlRef& c = controls[i];
    if (c.field.empty()) continue;
    result.refused_control = static_cast<int>(i);
    switch (c.kind) {
      case ControlKind::kEdit: {
        if (IsTimeConstant(c.field)) {
          double value = TimeConstant(s, c.field);
          if (current[i].text != loaded[i].text) {
            const auto v = Convert(current[i].text, c.conversion, result.error);
            if (!v) break;
            value = v->real;
            machine_changed = true;
          }
          time_constants[c.field] = value;
          break;
        }
        if (current[i].text == loaded[i].text) break;
        if (IsBarSelection(c.field)) {
          const int count = static_cast<int>(BarSelection(s, c.field).size());
          if (auto bars = ParseBarList(current[i].text, count, result.error)) {
            bar_lists.emplace_back(c.field, std::move(*bars));
          }
          break;
        }
        if (auto v = Convert(current[i].text, c.conversion, result.error)) {
          if (c.field == "Rs") machine_changed = true;
          pending.push_back({c.field, std::move(*v)});
        }
        break;
      }
      case ControlKind::kCheck:
      case ControlKind::kRadioFlag:
        if (current[i].checked != loaded[i].checked) {
          pending.push_back({c.field, Value::Integer(current[i].checked ? 1 : 0)});
        }
        break;
      case ControlKind::kRadio: {
        // The buttons of one field store together, at the first of them: the code of the
        // checked one; none checked keeps the value.
        if (std::find(radio_fields_done.begin(), radio_fields_done.end(), c.field) !=
            radio_fields_done.end()) {
          break;
        }
        radio_fields_done.push_back(c.field);
        bool changed = false;
        std::optional<int> code;
        for (std::size_t j = i; j < controls.size(); ++j) {
          if (controls[j].kind != ControlKind::kRadio || controls[j].field != c.field) continue;
          changed = changed || current[j].checked != loaded[j].checked;
          if (current[j].checked) {
            code = dialog.groups[static_cast<std::size_t>(controls[j].group)]
                       .rows[static_cast<std::size_t>(controls[j].row)]
                       .code;
          }
        }
        if (changed && code) pending.push_back({c.field, Value::Integer(*code)});
        break;
      }
      case ControlKind::kNote:
      case ControlKind::kInertEdit:
      case ControlKind::kInertRadio:
        break;
    }
  }

  if (result.error.empty()) result.refused_control = -1;
  if (!result.error.empty() && dialog.order == StoreOrder::kParseAllFirst) return result;

  const SimulationSettings before = s;
  auto fields = FieldsByName(s);
  for (const Pending& p : pending) {
    Write(fields.at(p.field), p.value);
    result.stored.push_back(p.field);
  }
  // A bar list replaces its selection: every bar cleared, then the bars named set.
  for (const auto& [name, bars] : bar_lists) {
    std::vector<std::uint8_t>& selection = BarSelection(s, name);
    std::fill(selection.begin(), selection.end(), std::uint8_t{0});
    for (int b : bars) selection[static_cast<std::size_t>(b)] = 1;
    result.stored.push_back(name);
  }
  if (dialog.hook == DialogHook::kTimeConstants && result.error.empty() && machine_changed) {
    auto& m = s.dq;
    m.Ls = m.Rs * time_constants.at("Ts");
    m.Lr = m.Ls;
    m.Rr = m.Ls / time_constants.at("Tr");
    m.M = m.Ls * std::sqrt(1.0 - time_constants.at("sigma"));
    for (const char* name : {"Ls", "Lr", "Rr", "M"}) result.stored.emplace_back(name);
  }
  FinishSettingsChange(s, before, result.stored);
  return result;
}

Refusal CheckDialog(const DialogDescription& dialog, const std::vector<ControlState>& loaded,
                    const std::vector<ControlState>& current, int bars) {
  const std::vector<ControlRef> controls = Controls(dialog);
  if (loaded.size() != controls.size() || current.size() != controls.size()) {
    throw std::invalid_argument("dialog " + dialog.id + ": control states of another layout");
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ControlRef& c = controls[i];
    if (c.field.empty() || c.kind != ControlKind::kEdit) continue;
    if (current[i].text == loaded[i].text) continue;
    Refusal r;
    if (IsBarSelection(c.field)) {
      if (ParseBarList(current[i].text, bars, r.message)) continue;
    } else if (Convert(current[i].text, c.conversion, r.message)) {
      continue;
    }
    r.control = static_cast<int>(i);
    r.caption = ControlCaption(dialog, c);
    r.expected = ExpectedText(dialog, c);
    return r;
  }
  return {};
}

std::string ExpectedText(const DialogDescription& dialog, const ControlRef& control,
                         char decimal_point) {
  std::string what;
  switch (control.conversion) {
    case Conversion::kReal:
      what = std::string("un nombre décimal (par exemple 1") + decimal_point + "5 ou 2" +
             decimal_point + "5e-3)";
      break;
    case Conversion::kInteger:
      what = "un nombre entier, de -2147483648 à 2147483647";
      break;
    case Conversion::kIntegerFromReal:
      what = "un nombre, dont la partie entière est gardée";
      break;
    case Conversion::kAtLeastOne:
      what = "un nombre entier, 1 au moins";
      break;
    case Conversion::kText:
      what = "un texte";
      break;
    case Conversion::kBarList:
      what =
          "des numéros de 0 au nombre de barres moins 1, séparés par des virgules, ou all, "
          "ou none";
      break;
  }
  const std::string unit = UnitOf(RowOf(dialog, control).label);
  return "Attendu : " + what + (unit.empty() ? std::string() : ", en " + unit);
}

std::string ControlCaption(const DialogDescription& dialog, const ControlRef& control) {
  const Row& row = RowOf(dialog, control);
  std::string caption;
  for (std::size_t i = 0; i < row.label.size(); ++i) {
    if (row.label[i] == '&' && i + 1 < row.label.size() && row.label[i + 1] != '&') continue;
    caption += row.label[i];
  }
  while (!caption.empty() && (caption.back() == ' ' || caption.back() == ':')) caption.pop_back();
  const Group& group = dialog.groups[static_cast<std::size_t>(control.group)];
  const auto column = static_cast<std::size_t>(control.column);
  if (column < group.columns.size() && row.fields.size() > 1) {
    std::string header = group.columns[column];
    std::replace(header.begin(), header.end(), '\n', ' ');
    while (!header.empty() && (header.back() == ' ' || header.back() == ':')) header.pop_back();
    caption += " (" + header + ")";
  }
  return caption;
}

const DialogDescription& DialogById(const std::string& id) {
  for (const auto& d : AllDialogs()) {
    if (d.id == id) return d;
  }
  throw std::out_of_range("no dialog " + id);
}

std::string SettingsFingerprint(const SimulationSettings& settings) {
  SimulationSettings s = settings;
  std::string out;
  for (const auto& f : SettableFields(s)) {
    out += f.ref.name;
    out += '=';
    if (f.ref.type == ValueType::kText) {
      out += f.ref.text();
    } else {
      out += FormatReal(NumberOf(f.ref), 17);
    }
    out += '\n';
  }
  return out;
}

}  // namespace mas::ui
