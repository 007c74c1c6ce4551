// The `mas` Python module: studies, runs, tables and the optimisers of the workbench.

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "files/column_recorder.h"
#include "files/parameter_file.h"
#include "files/settings_description.h"
#include "files/settings_override.h"
#include "platform/version.h"
#include "python/columns.h"
#include "python/optimisers.h"
#include "python/run.h"
#include "python/study.h"
#include "viewer/core/table.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace mas::python {
namespace {

// The exception classes, written in Python so that they behave as Python users expect
// (the message as str(), the caption beside it, a KeyError that prints its text).
constexpr const char* kExceptions = R"doc(
class Error(Exception):
    """A failure of the workbench: `message` is its French text, `caption` the caption
    of its message box ("Erreur", "Erreur d'écriture", ...)."""

    def __init__(self, message, caption="Erreur"):
        super().__init__(message, caption)
        self.message = message
        self.caption = caption

    def __str__(self):
        return self.message


class FileError(Error, OSError):
    """A study, table or record that cannot be read or written; an OSError too, so that
    ``except OSError`` catches it as it catches the other file failures."""

    def __init__(self, message, caption="Erreur"):
        super().__init__(message, caption)
        # OSError would take the two arguments for an error number and its text.
        self.errno = None
        self.strerror = message


class MissingFileError(FileError, FileNotFoundError):
    """A file to read that does not exist: a FileNotFoundError too."""

    def __init__(self, message, caption="Erreur"):
        super().__init__(message, caption)
        import errno
        self.errno = errno.ENOENT


class SettingError(Error, ValueError):
    """A value that cannot be stored in a setting (or a column the study does not record)."""


class UnknownSettingError(SettingError, KeyError):
    """A name that is no setting; the message suggests the close names."""

    def __str__(self):
        return self.message


class RunError(Error):
    """A run refused before its first step."""
)doc";

constexpr const char* kStudyDoc =
    R"doc(A study: every setting of a simulation, by the names of ``mas run --set``.

``Study()`` holds the defaults of a new study (a run of it is refused until a study file
has been read, as in the workbench); ``Study(path)`` or ``Study.read(path)`` reads a
study file. Settings are read and written by name::

    s = mas.Study("examples/vector_control_pi.mas")
    s["dt"]                      # 1e-05
    s["OutSel.Wm"] = 1           # one output column
    s["OutSel"] = "all"          # a whole group
    s["BarreSel"] = [0, 3]       # bars of the cage model
    s.set({"OutSel.Ias": 1}, tf=0.5, Kpd=17)   # several at once, all or nothing
    r = s.run()
    r["Vitesse(tr/mn)"]          # numpy array

A value is checked and stored exactly as ``--set NAME=VALUE`` stores it, with the same
dependent updates; a refused value leaves the study unchanged (mas.SettingError, a
ValueError, with the workbench's message). A value no run can use is refused where it
is set: s["dt"] = -1 raises with the run's own message, as do NaN, a bar count below 3,
a sampling period below 1 or a Flux_typ above 10 (mas.describe(name)["values"] gives each
range). What depends on other settings (t0 before tf, dt against tf - t0) is judged by
run().)doc";

constexpr const char* kRunDoc = R"doc(Runs the study once and returns its RunResult.

columns: header names of the columns to keep ("Vitesse(tr/mn)", "Ias(A)"...; all the
    study records when None). The columns a study records are chosen by its output
    selections (OutSel.*, OutSelStator.*, OutSelCage.*, BarreSel...); ``columns()``
    lists them.
output: a table file to write as ``mas run`` writes it (with the bar snapshot and the
    cage's matrix dump); None writes no file at all.
session: a mas.Session whose carried state (flux angle, modulator, costs) the run uses
    and keeps; None starts from a fresh state, as ``mas run``.
progress: None or a callable given the position 0..100; returning a false value
    (False, 0, ...; returning None goes on) ends the run (status "interrupted").

The study itself is not changed. The interpreter is released while the run goes on, so
runs in several Python threads go on at once; Ctrl-C ends the run and raises
KeyboardInterrupt (a table asked for keeps the part written). A run refused before its
first step raises mas.RunError with the workbench's message.)doc";

using Path = std::filesystem::path;

Study ReadStudy(const Path& path, const std::optional<Path>& echo) {
  Study study;
  study.settings.ParamFileName = path.string();
  SilentPlatform platform;
  try {
    ReadParameterFile(study.settings, platform, echo ? echo->string() : "/dev/null");
  } catch (const ParameterFileError& e) {
    std::error_code ignored;
    const bool missing = !std::filesystem::exists(path, ignored);
    Raise(missing ? Errors().missing_file : Errors().file_error, e.what(), e.caption);
  }
  return study;
}

std::vector<std::pair<std::string, py::handle>> NamedValues(const py::object& mapping,
                                                            const py::kwargs& kwargs) {
  std::vector<std::pair<std::string, py::handle>> values;
  if (!mapping.is_none()) {
    if (!py::isinstance<py::dict>(mapping) && !py::hasattr(mapping, "items")) {
      throw py::type_error("set() attend un dictionnaire nom -> valeur et/ou des nom=valeur");
    }
    for (py::handle item : mapping.attr("items")()) {
      const py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
      values.emplace_back(py::str(pair[0]).cast<std::string>(), pair[1]);
    }
  }
  for (auto item : kwargs)
    values.emplace_back(py::str(item.first).cast<std::string>(), item.second);
  return values;
}

// The curve viewer's reader. A table read only in part is refused (or, with `partial`,
// handed back up to the line at fault with a warning), so that a script never works on a
// truncated record without knowing it.
py::object TableFromFile(const Path& path, bool partial) {
  viewer::ReadResult read;
  {
    py::gil_scoped_release release;
    read = viewer::ReadTable(path);
  }
  if (!read.complete) {
    std::string message = read.message;
    if (read.error_line > 0) message = "Erreur de lecture !!! " + path.string() + " : " + message;
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) Raise(Errors().missing_file, message);
    if (!partial || read.table.names.empty()) Raise(Errors().file_error, message);
    if (PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 1) != 0) throw py::error_already_set();
  }
  Table table;
  table.names = std::move(read.table.names);
  for (auto& column : read.table.columns) table.arrays.push_back(OwningArray(std::move(column)));
  return py::cast(std::move(table));
}

std::string StudyRepr(const Study& s) {
  if (!s.settings.FileLoaded) return "<mas.Study (valeurs par défaut, aucune étude lue)>";
  return "<mas.Study " + py::repr(py::str(s.settings.ParamFileName)).cast<std::string>() + ">";
}

}  // namespace

void AddModule(py::module_& m) {
  m.doc() =
      "Commande vectorielle de MAS: the simulation workbench of the induction machine drive "
      "from Python (studies, runs with numpy columns, tables, identification and tuning).";
  py::exec(kExceptions, m.attr("__dict__"));
  ErrorTypes& errors = Errors();
  errors.error = m.attr("Error");
  errors.file_error = m.attr("FileError");
  errors.missing_file = m.attr("MissingFileError");
  errors.setting_error = m.attr("SettingError");
  errors.unknown_setting = m.attr("UnknownSettingError");
  errors.run_error = m.attr("RunError");

  py::class_<Table>(m, "Table", R"doc(Named columns of equal length as numpy arrays, the time first.

Indexing by name gives the column (``table["Ias(A)"]``); ``names`` lists them in file
order; ``to_dataframe()`` gives a pandas DataFrame over the same arrays when pandas is
installed.)doc")
      .def_property_readonly(
          "names", [](const Table& t) { return t.names; }, "Column names, the time first.")
      .def_property_readonly(
          "t", [](const Table& t) { return t.arrays.at(0); }, "The first column (the time).")
      .def_property_readonly("rows", &Table::Rows, "Number of rows.")
      .def("__getitem__", &Table::Column, "name"_a)
      .def("__contains__", &Table::Has, "name"_a)
      .def("__len__", [](const Table& t) { return t.names.size(); })
      .def("__iter__", [](const Table& t) { return py::iter(py::cast(t.names)); })
      .def("keys", [](const Table& t) { return t.names; })
      .def("items", [](const Table& t) { return t.AsDict().attr("items")(); })
      .def("to_dict", &Table::AsDict, "The columns as a dict name -> array (no copy).")
      .def("to_dataframe", &Table::DataFrame,
           "A pandas DataFrame over the columns (ImportError when pandas is not installed).")
      .def("__repr__", [](const Table& t) {
        return "<mas.Table " + std::to_string(t.names.size()) + " colonnes x " +
               std::to_string(t.Rows()) + " lignes>";
      });

  py::class_<RunResult>(m, "RunResult", R"doc(How a run ended and what it recorded.

status: "reached_end", "interrupted" (the progress callback asked to stop), "diverged"
    or "no_mode" (several control modes selected: one step ran).
steps: steps executed; t_end: the simulation time when the loop ended.
message, caption: the run's message ("La simulation a divergée"), empty when none.
messages: every message shown during the run, as (caption, text).
t and result[name]: the recorded columns as numpy arrays that own the run's buffers.)doc")
      .def_readonly("status", &RunResult::status)
      .def_readonly("steps", &RunResult::steps)
      .def_readonly("t_end", &RunResult::t_end)
      .def_readonly("message", &RunResult::message)
      .def_readonly("caption", &RunResult::caption)
      .def_readonly("messages", &RunResult::messages)
      .def_readonly("table", &RunResult::table)
      .def_property_readonly(
          "ok", [](const RunResult& r) { return r.status == "reached_end"; },
          "True when the run reached tf.")
      .def_property_readonly(
          "t", [](const RunResult& r) { return r.table.arrays.at(0); },
          "Recorded times (s), counted from td0 when it is set.")
      .def_property_readonly(
          "names", [](const RunResult& r) { return r.table.names; },
          "Recorded column names, \"time(s)\" first.")
      .def("__getitem__",
           [](const RunResult& r, const std::string& name) { return r.table.Column(name); })
      .def("__contains__",
           [](const RunResult& r, const std::string& name) { return r.table.Has(name); })
      .def("keys", [](const RunResult& r) { return r.table.names; })
      .def("to_dict", [](const RunResult& r) { return r.table.AsDict(); })
      .def(
          "to_dataframe", [](const RunResult& r) { return r.table.DataFrame(); },
          "A pandas DataFrame over the columns (ImportError when pandas is not installed).")
      .def("__repr__", [](const RunResult& r) {
        return "<mas.RunResult " + r.status + ", " + std::to_string(r.steps) + " pas, " +
               std::to_string(r.table.names.size()) + " colonnes x " +
               std::to_string(r.table.Rows()) + " lignes>";
      });

  py::class_<Session>(m, "Session", R"doc(State carried from one run to the next.

The workbench keeps a few values from one run to the next (the direct stator-flux angle
and its speed, the double space-vector modulator's switching instants, the optimisers'
costs). ``study.run(session=s)`` starts from the session's state and leaves its own there,
for studies that depend on the previous run; without a session every run starts afresh.
One run at a time uses a session (a second thread waits for it).)doc")
      .def(py::init([](int dsv_type) {
             if (dsv_type < 0 || dsv_type >= kModulationTypeCount) {
               throw py::value_error("dsv_type : type de MLI 0..5 attendu");
             }
             auto session = std::make_unique<Session>();
             session->carried.dsvpwm.type = static_cast<ModulationType>(dsv_type);
             return session;
           }),
           "dsv_type"_a = 1,
           "dsv_type: the double space-vector modulator's type 0..5 (as mas run --dsv-type).")
      .def_property_readonly("ThetaDir", [](const Session& s) { return s.carried.ThetaDir; })
      .def_property_readonly("WsDir", [](const Session& s) { return s.carried.WsDir; })
      .def_property_readonly("CostIdent", [](const Session& s) { return s.carried.CostIdent; })
      .def_property_readonly("CostReg", [](const Session& s) { return s.carried.CostReg; })
      .def_property_readonly(
          "dsv_type", [](const Session& s) { return static_cast<int>(s.carried.dsvpwm.type); });

  py::class_<Study>(m, "Study", kStudyDoc)
      .def(py::init([](const std::optional<Path>& path, const std::optional<Path>& echo) {
             return path ? ReadStudy(*path, echo) : Study{};
           }),
           "path"_a = py::none(), "echo"_a = py::none(),
           "Defaults of a new study, or the study file `path` read (see read()).")
      .def_static("read", &ReadStudy, "path"_a, "echo"_a = py::none(),
                  R"doc(Reads a study file (*.mas). echo: where to write the reader's echo
("rd_echo.dat" in the workbench); None writes none. Raises mas.FileError with the
workbench's message ("Erreur de lecture !!! f.mas : ligne 8, enregistrement 2, champ p :
entier attendu, lu « 2.5 »").)doc")
      .def(
          "save",
          [](const Study& s, const Path& path) {
            try {
              WriteParameterFile(s.settings, path.string());
            } catch (const ParameterFileError& e) {
              Raise(Errors().file_error, e.what(), e.caption);
            }
          },
          "path"_a,
          "Writes the study file; the previous file is replaced only once the new one is "
          "complete (mas.FileError otherwise).")
      .def("__getitem__",
           [](const Study& s, const std::string& name) { return GetSetting(s.settings, name); })
      .def("__setitem__",
           [](Study& s, const std::string& name, const py::object& value) {
             SetSettings(s.settings, {{name, value}});
           })
      .def(
          "set",
          [](Study& s, const py::object& mapping, const py::kwargs& kwargs) {
            SetSettings(s.settings, NamedValues(mapping, kwargs));
          },
          "values"_a = py::none(),
          "Stores settings by name, from a dict (for names such as \"OutSel.Wm\") and from "
          "keyword arguments, in that order; all or nothing.")
      .def(
          "get",
          [](const Study& s, const std::string& name, const py::object& fallback) -> py::object {
            if (!IsSettingName(name)) return fallback;
            return GetSetting(s.settings, name);
          },
          "name"_a, "default"_a = py::none())
      .def("__contains__",
           [](const Study&, const std::string& name) { return IsSettingName(name); })
      .def("__iter__", [](const Study&) { return py::iter(py::cast(SettingNames())); })
      .def("__len__", [](const Study&) { return SettingNames().size(); })
      .def("keys", [](const Study&) { return SettingNames(); })
      .def("items", [](const Study& s) { return SettingsDict(s.settings).attr("items")(); })
      .def(
          "to_dict", [](const Study& s) { return SettingsDict(s.settings); },
          "Every setting by name (a copy: changing the dict changes nothing).")
      .def(
          "copy", [](const Study& s) { return Study(s); }, "An independent copy.")
      .def("__copy__", [](const Study& s) { return Study(s); })
      .def(
          "__deepcopy__", [](const Study& s, const py::object&) { return Study(s); }, "memo"_a)
      .def_property_readonly(
          "path", [](const Study& s) { return s.settings.ParamFileName; },
          "The study file read, empty for a new study.")
      .def_property_readonly(
          "loaded", [](const Study& s) { return s.settings.FileLoaded; },
          "Whether a study file has been read (a run needs one).")
      .def(
          "columns", [](const Study& s) { return RecordedColumnNames(s.settings); },
          "Names of the columns a run of the study records, \"time(s)\" first.")
      .def(
          "run",
          [](const Study& s, const std::optional<std::vector<std::string>>& columns,
             const std::optional<Path>& output, Session* session, const py::object& progress) {
            return RunStudy(s, columns, output ? std::optional(output->string()) : std::nullopt,
                            session, progress);
          },
          "columns"_a = py::none(), "output"_a = py::none(), "session"_a = py::none(),
          "progress"_a = py::none(), kRunDoc)
      .def("__repr__", &StudyRepr);

  m.def("read_table", &TableFromFile, "path"_a, "partial"_a = false,
        R"doc(Reads a table of curves (a run's output table, a measured start-up record, the
bar snapshot) with the curve viewer's reader: a header line of names (a first line of
numbers names the columns C1, C2...), then one row of numbers a line. A ".csv" file
(comma, or semicolon with a decimal comma) and a ".mat" file (MATLAB version 5, one vector
per column) are read as well, chosen by the extension. Returns a mas.Table whose columns
are numpy arrays.

A table that cannot be read whole raises mas.FileError naming the line and the column at
fault; with partial=True the rows before that line are returned, with a RuntimeWarning.)doc");

  m.attr("__version__") = kVersion;
  m.def(
      "describe",
      [](const std::string& name) {
        const auto d = DescribeSetting(name);
        if (!d) {
          std::string message = name + " : paramètre inconnu";
          const auto close = CloseNames(name);
          for (std::size_t i = 0; i < close.size(); ++i) {
            message += (i == 0 ? " ; noms proches : " : ", ") + close[i];
          }
          Raise(Errors().unknown_setting, message);
        }
        py::dict out;
        out["name"] = d->name;
        out["group"] = d->group;
        out["values"] = d->values;
        out["default"] = d->default_value;
        out["unit"] = d->unit;
        out["meaning"] = d->meaning;
        return out;
      },
      "name"_a,
      R"doc(What a setting is, as ``mas settings NAME`` lists it: a dict with its "name", its
"group" (the study file's record that stores it, or its theme), the "values" it accepts
("réel fini", "entier (32 bits)", "0 ou 1", "texte", or the range a run can use, such as
"réel fini > 0" for dt), its "default" in a study that no file has filled, as text in the
form ``mas run --set`` takes it, its "unit" ("s", "Ω", "tr/mn"...; "" for a count, a
choice, a 0/1 flag, a text, or a gain whose unit depends on the regulator's scaling) and
its "meaning" in French. Raises KeyError for a name
that is no setting (mas.UnknownSettingError, a KeyError, with the close names).)doc");

  AddOptimisers(m);
}

}  // namespace mas::python

PYBIND11_MODULE(mas, m) { mas::python::AddModule(m); }
