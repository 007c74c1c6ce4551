#include "python/run.h"

#include <exception>

#include "engine/run_simulation.h"
#include "files/column_recorder.h"
#include "python/python_platform.h"

namespace py = pybind11;

namespace mas::python {
namespace {

std::string StatusName(RunStatus status) {
  switch (status) {
    case RunStatus::kReachedEnd:
      return "reached_end";
    case RunStatus::kInterrupted:
      return "interrupted";
    case RunStatus::kDiverged:
      return "diverged";
    case RunStatus::kNoMode:
      return "no_mode";
    case RunStatus::kRefused:
      return "refused";
    case RunStatus::kModelError:
      return "model_error";
  }
  return "refused";
}

void CheckColumns(const std::vector<std::string>& wanted, const SimulationSettings& s,
                  const ExperimentalData& experiment) {
  const std::vector<std::string> recorded = RecordedColumnNames(s, experiment);
  for (const std::string& name : wanted) {
    if (std::find(recorded.begin(), recorded.end(), name) != recorded.end()) continue;
    std::string known;
    for (const std::string& n : recorded) known += (known.empty() ? "" : ", ") + n;
    Raise(Errors().setting_error,
          "colonne « " + name + " » non enregistrée par l'étude (colonnes : " + known +
              ") ; une colonne se sélectionne par son paramètre, par exemple OutSel.Wm=1");
  }
}

}  // namespace

RunResult RunStudy(const Study& study, const std::optional<std::vector<std::string>>& columns,
                   const std::optional<std::string>& output, Session* session,
                   const py::object& progress) {
  SimulationSettings s = study.settings;
  // The columns are always recorded, in memory; a file only when one is asked for. The
  // progress is always followed, so that Ctrl-C is polled whatever the study displays.
  s.CreateOutputFile = true;
  s.DisplayProgressBar = true;
  if (output) {
    s.OutFileName = *output;
  } else {
    s.cage.SetDumpPath("");
  }

  std::unique_lock<std::mutex> lock;
  if (session != nullptr) {
    py::gil_scoped_release release;  // another thread's run may hold the session
    lock = std::unique_lock<std::mutex>(session->busy);
  }
  CarriedState fresh;
  CarriedState& carried = session != nullptr ? session->carried : fresh;
  if (columns) CheckColumns(*columns, s, carried.experiment);

  PythonPlatform platform(progress);
  OutputRecorder table;
  ColumnRecorder recorder(output ? &table : nullptr);
  if (columns) recorder.KeepOnly(*columns);
  RunOutcome outcome;
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      outcome = RunSimulation(s, carried, platform, &recorder, false, 0);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (lock.owns_lock()) lock.unlock();
  platform.RaisePending();
  if (!failure.empty()) Raise(Errors().run_error, failure);
  if (outcome.status == RunStatus::kRefused || outcome.status == RunStatus::kModelError) {
    Raise(Errors().run_error, outcome.message, outcome.caption);
  }

  RunResult result;
  result.status = StatusName(outcome.status);
  result.steps = outcome.steps;
  result.t_end = outcome.t_end;
  result.message = outcome.message;
  result.caption = outcome.caption;
  if (output && table.WriteFailed()) {
    const std::string text =
        "l'écriture du fichier " + *output + " a échoué : le fichier précédent est conservé";
    platform.ShowMessage(text, "Attention", MessageIcon::kExclamation);
    if (PyErr_WarnEx(PyExc_RuntimeWarning, ("Attention: " + text).c_str(), 1) != 0) {
      throw py::error_already_set();
    }
  }
  result.messages = platform.MessageList();
  for (ColumnRecorder::Series& series : recorder.series()) {
    result.table.names.push_back(std::move(series.name));
    result.table.arrays.push_back(OwningArray(std::move(series.values)));
  }
  return result;
}

}  // namespace mas::python
