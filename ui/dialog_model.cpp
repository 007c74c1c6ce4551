#include "ui/dialog_model.h"

#include <algorithm>
#include <cmath>
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

std::string ShowNumber(double value, Conversion conversion) {
  switch (conversion) {
    case Conversion::kReal6:
      return FormatReal(value, 6);
    case Conversion::kInteger:
    case Conversion::kIntegerFromReal:
    case Conversion::kAtLeastOne:
    case Conversion::kReal:
    case Conversion::kText:
      break;
  }
  return FormatReal(value, 15);
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
    case Conversion::kReal:
    case Conversion::kReal6: {
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

  for (std::size_t i = 0; i < controls.size() && result.error.empty(); ++i) {
    const ControlRef& c = controls[i];
    if (c.field.empty()) continue;
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

  if (!result.error.empty() && dialog.order == StoreOrder::kParseAllFirst) return result;

  const SimulationSettings before = s;
  auto fields = FieldsByName(s);
  for (const Pending& p : pending) {
    Write(fields.at(p.field), p.value);
    result.stored.push_back(p.field);
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
