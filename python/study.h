#pragma once
// A study seen from Python: the settings record, read and written by the names of the
// command line's --set (the one field list of engine/settings_fields.h), through the same
// parser, so that a value set from Python is checked and stored, with its dependent
// updates, exactly as `mas run --set NAME=VALUE` stores it.
//
// Python values become the text of a --set before they are parsed: True/False are 1/0,
// integers their digits, floats their shortest exact form (repr), strings are taken as
// typed ("all", "none", "0,3"), and a sequence of integers is a bar list ("BarreSel").
// A float for an integer setting, or text for a number, is thus refused with the
// parser's own message, before anything is stored.

#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/settings.h"

namespace mas::python {

struct Study {
  SimulationSettings settings;
};

// The module's exception classes (created in Python at import).
struct ErrorTypes {
  pybind11::object error;            // mas.Error: every failure of the workbench
  pybind11::object file_error;       // mas.FileError: a file cannot be read or written
  pybind11::object missing_file;     // mas.MissingFileError: a file that does not exist
  pybind11::object setting_error;    // mas.SettingError: a value that cannot be stored
  pybind11::object unknown_setting;  // mas.UnknownSettingError: a name that is no setting
  pybind11::object run_error;        // mas.RunError: a run refused before its first step
};
ErrorTypes& Errors();

// Raises `type(message, caption)` as a Python exception.
[[noreturn]] void Raise(const pybind11::object& type, const std::string& message,
                        const std::string& caption = "Erreur");

// Value of a setting, a whole output group ({"OutSel.Wm": 0, ...}) or a bar selection
// (list of the selected bars). Raises UnknownSettingError with the suggestions of --set.
pybind11::object GetSetting(const SimulationSettings& s, const std::string& name);

// Stores name = value pairs in order, all or nothing (SettingError, UnknownSettingError).
void SetSettings(SimulationSettings& s,
                 const std::vector<std::pair<std::string, pybind11::handle>>& values);

// Every setting by name, in the order of the field list, then the three bar selections.
pybind11::dict SettingsDict(const SimulationSettings& s);
// The names of SettingsDict, without reading a study.
const std::vector<std::string>& SettingNames();
// Whether `name` is a setting, a group or a bar selection.
bool IsSettingName(const std::string& name);

}  // namespace mas::python
