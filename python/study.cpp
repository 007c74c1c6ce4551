#include "python/study.h"

#include <algorithm>
#include <array>
#include <optional>

#include "engine/settings_fields.h"
#include "files/settings_override.h"

namespace py = pybind11;

namespace mas::python {
namespace {

constexpr std::array<const char*, 3> kBarSelections = {"BarreSel", "LoopSel", "AnneauSel"};

const std::vector<std::uint8_t>& BarSelection(const SimulationSettings& s, std::string_view name) {
  if (name == "BarreSel") return s.cage.BarreSel;
  if (name == "LoopSel") return s.cage.LoopSel;
  return s.cage.AnneauSel;
}

bool IsBarSelection(std::string_view name) {
  return std::find(kBarSelections.begin(), kBarSelections.end(), name) != kBarSelections.end();
}

std::string_view GroupOf(std::string_view name) {
  const auto dot = name.find('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(0, dot);
}

// The field list read through a record that is never written.
const std::vector<SettableField>& ReferenceFields() {
  static SimulationSettings scratch;
  static const std::vector<SettableField> fields = SettableFields(scratch);
  return fields;
}

bool IsGroup(std::string_view name) {
  const auto& fields = ReferenceFields();
  return !name.empty() && std::any_of(fields.begin(), fields.end(), [&](const SettableField& f) {
    return GroupOf(f.ref.name) == name;
  });
}

py::object FieldValue(const FieldRef& ref) {
  switch (ref.type) {
    case ValueType::kReal:
      return py::float_(ref.real());
    case ValueType::kInt:
    case ValueType::kIntFlag:
      return py::int_(ref.integer());
    case ValueType::kFlag:
      return py::bool_(ref.flag());
    case ValueType::kText:
      return py::str(ref.text());
  }
  return py::none();
}

py::list SelectedBars(const std::vector<std::uint8_t>& selection) {
  py::list bars;
  for (std::size_t i = 0; i < selection.size(); ++i) {
    if (selection[i] != 0) bars.append(static_cast<int>(i));
  }
  return bars;
}

// The parser's message without the "--set " of the command line.
std::string PythonMessage(const OverrideError& e) {
  std::string message = e.what();
  constexpr std::string_view kPrefix = "--set ";
  if (message.rfind(kPrefix, 0) == 0) message.erase(0, kPrefix.size());
  return message;
}

// The parser's unknown-name message, with its suggestions; `text` is the override as the
// user gave it, or empty when a setting is only read.
[[noreturn]] void RaiseUnknown(const std::string& name, const std::string& text = "") {
  try {
    ParseOverride(text.empty() ? name + "=" : text);
  } catch (const OverrideError& e) {
    std::string message = PythonMessage(e);
    if (text.empty() && message.rfind(name + "= :", 0) == 0) message.erase(name.size(), 1);
    Raise(Errors().unknown_setting, message);
  }
  Raise(Errors().unknown_setting, name + " : paramètre inconnu");
}

// The type of the field `name`, when it is a single field (not a group or a bar selection).
std::optional<ValueType> FieldType(const std::string& name) {
  const auto& fields = ReferenceFields();
  const auto found = std::find_if(fields.begin(), fields.end(),
                                  [&](const SettableField& f) { return f.ref.name == name; });
  return found == fields.end() ? std::nullopt : std::optional(found->ref.type);
}

// A Python or numpy boolean.
bool IsBoolean(py::handle value) {
  if (py::isinstance<py::bool_>(value)) return true;
  return py::hasattr(value, "dtype") && py::hasattr(value.attr("dtype"), "kind") &&
         py::str(value.attr("dtype").attr("kind")).cast<std::string>() == "b";
}

// The digits of an integer (anything with __index__ that accepts it), or nothing.
std::optional<std::string> IntegerText(py::handle value) {
  if (!PyIndex_Check(value.ptr())) return std::nullopt;
  // A type may offer the slot and still refuse (an array of reals): then it is no integer.
  PyObject* index = PyNumber_Index(value.ptr());
  if (index == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return py::str(py::reinterpret_steal<py::object>(index)).cast<std::string>();
}

// The --set text of a Python value.
std::string ValueText(const std::string& name, py::handle value) {
  if (IsBoolean(value)) {
    // A boolean is a yes or a no: never a real, a text or bar numbers.
    const std::optional<ValueType> type = FieldType(name);
    if (IsBarSelection(name) ||
        (type && (*type == ValueType::kReal || *type == ValueType::kText))) {
      Raise(Errors().setting_error, name + "=" + py::repr(value).cast<std::string>() + " : " +
                                        (type == ValueType::kReal ? "réel"
                                         : IsBarSelection(name)   ? "liste de barres"
                                                                  : "texte") +
                                        " attendu, un booléen est refusé");
    }
    return value.cast<bool>() ? "1" : "0";
  }
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  // An array (numpy's, of any size, even one) is no single value; a 0-d array or a numpy
  // scalar is one, taken as the Python number it holds.
  if (!IsBarSelection(name) && py::hasattr(value, "ndim")) {
    if (py::cast<py::int_>(value.attr("ndim")).cast<long>() != 0) {
      Raise(Errors().setting_error, name + "=" + py::repr(value).cast<std::string>() +
                                        " : une seule valeur attendue, lu un tableau");
    }
    if (py::hasattr(value, "item")) {
      const py::object item = value.attr("item")();
      if (!py::hasattr(item, "ndim")) return ValueText(name, item);
    }
  }
  if (PyFloat_Check(value.ptr())) return py::repr(value).cast<std::string>();
  if (std::optional<std::string> whole = IntegerText(value)) return *whole;
  if (IsBarSelection(name) && py::isinstance<py::iterable>(value)) {
    std::string text;
    for (py::handle item : value) {
      const std::optional<std::string> bar = IsBoolean(item) ? std::nullopt : IntegerText(item);
      if (!bar) {
        Raise(Errors().setting_error, name + " : liste de numéros de barre attendue, lu « " +
                                          py::repr(item).cast<std::string>() + " »");
      }
      if (!text.empty()) text += ',';
      text += *bar;
    }
    return text;
  }
  if (PyNumber_Check(value.ptr()) && py::hasattr(value, "__float__")) {
    return py::repr(py::float_(py::reinterpret_borrow<py::object>(value))).cast<std::string>();
  }
  Raise(Errors().setting_error,
        name + "=" + py::repr(value).cast<std::string>() +
            " : valeur invalide (nombre, booléen, texte ou liste de barres attendu)");
}

}  // namespace

ErrorTypes& Errors() {
  static ErrorTypes* types = new ErrorTypes();  // lives as long as the interpreter
  return *types;
}

void Raise(const py::object& type, const std::string& message, const std::string& caption) {
  PyErr_SetObject(type.ptr(), py::make_tuple(message, caption).ptr());
  throw py::error_already_set();
}

bool IsSettingName(const std::string& name) {
  const auto& fields = ReferenceFields();
  return IsBarSelection(name) || IsGroup(name) ||
         std::any_of(fields.begin(), fields.end(),
                     [&](const SettableField& f) { return f.ref.name == name; });
}

py::object GetSetting(const SimulationSettings& s, const std::string& name) {
  // SettableFields hands out writable references; they are only read here.
  auto& settings = const_cast<SimulationSettings&>(s);
  if (IsBarSelection(name)) return SelectedBars(BarSelection(s, name));
  const bool group = IsGroup(name);
  py::dict members;
  for (const SettableField& f : SettableFields(settings)) {
    if (f.ref.name == name) return FieldValue(f.ref);
    if (group && GroupOf(f.ref.name) == name)
      members[py::str(std::string(f.ref.name))] = FieldValue(f.ref);
  }
  if (group) return members;
  RaiseUnknown(name);
}

void SetSettings(SimulationSettings& s,
                 const std::vector<std::pair<std::string, py::handle>>& values) {
  std::vector<std::string> texts;
  texts.reserve(values.size());
  for (const auto& [name, value] : values) {
    if (!IsSettingName(name)) RaiseUnknown(name, name + "=" + py::str(value).cast<std::string>());
    texts.push_back(name + "=" + ValueText(name, value));
  }
  try {
    ApplyOverrides(s, ParseOverrides(texts));
  } catch (const OverrideError& e) {
    Raise(Errors().setting_error, PythonMessage(e));
  }
}

py::dict SettingsDict(const SimulationSettings& s) {
  auto& settings = const_cast<SimulationSettings&>(s);
  py::dict out;
  for (const SettableField& f : SettableFields(settings)) {
    out[py::str(std::string(f.ref.name))] = FieldValue(f.ref);
  }
  for (const char* name : kBarSelections) out[name] = SelectedBars(BarSelection(s, name));
  return out;
}

const std::vector<std::string>& SettingNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const SettableField& f : ReferenceFields()) out.emplace_back(f.ref.name);
    for (const char* name : kBarSelections) out.emplace_back(name);
    return out;
  }();
  return names;
}

}  // namespace mas::python
