#pragma once
// One run of a study from Python: the study's settings and the carried state are copied
// (or the carried state of a session is used and kept), the run goes on with the
// interpreter released, and its recorded columns come back as numpy arrays over the run's
// own buffers.

#include <pybind11/pybind11.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "python/columns.h"
#include "python/study.h"

namespace mas::python {

// The state a run leaves for the next one (flux angle, modulator, costs, experimental
// record), for studies that depend on the previous run. One run at a time uses it.
struct Session {
  CarriedState carried;
  std::mutex busy;
};

struct RunResult {
  std::string status;  // "reached_end", "interrupted", "diverged" or "no_mode"
  long long steps = 0;
  double t_end = 0.0;
  std::string message;  // the run's message ("La simulation a divergée"), or empty
  std::string caption;
  pybind11::list messages;  // every message shown during the run, (caption, text)
  Table table;              // "time(s)" first, then the recorded columns
};

// Runs a copy of `study`. `columns`: header names to keep (all when none); `output`: a
// table file written as `mas run` writes it (none: no file at all); `session`: the carried
// state to use and keep (none: a fresh one, as `mas run`); `progress`: None or a callable
// given the position 0..100, False from it ends the run ("interrupted").
// Raises mas.SettingError for a column the study does not record, mas.RunError when the
// run is refused before its first step (no study read, invalid time base, output file
// that cannot be created, cage that cannot be prepared), KeyboardInterrupt on Ctrl-C.
RunResult RunStudy(const Study& study, const std::optional<std::vector<std::string>>& columns,
                   const std::optional<std::string>& output, Session* session,
                   const pybind11::object& progress);

}  // namespace mas::python
