#pragma once
// One complete simulation of the drive from t0 to tf with the fixed step dt.

#include <string>

#include "engine/machine_trace.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "platform/platform.h"

namespace mas {

// Everything the output table may read at a recorded step.
struct RunView {
  const SimulationSettings& settings;
  const RunState& state;
  const DqMachineModel& dq;
  const CageMachineModel& cage;
  const FluxObserver& observer;
  const ExperimentalData& experiment;
  int run_mode;  // the optimisers' hook of this run (RunMode)
};

// Where a run writes its output table. The files layer provides the table writer; tests
// may record the lines in memory.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Creates (or truncates) the table; false when it cannot be opened.
  virtual bool Open(const std::string& file_name) = 0;
  // Header line, written once after the run's state has been initialised.
  virtual void WriteHeader(const RunView& view) = 0;
  // One data line for a recorded step.
  virtual void WriteLine(const RunView& view) = 0;
  virtual void Close() = 0;
  // Ends the table without keeping it, for a run that turned out to be refused after its
  // first step (several modes selected): the previous table stays in place. A sink that
  // keeps nothing of a previous table may simply close.
  virtual void Discard() { Close(); }
  // Whether the lines of a run of these settings read the direct flux estimator's fluxes,
  // the filtered back-EMF or the filtered currents: a run whose control needs none of them
  // skips them when its sink does not read them either. A sink that does not say may read
  // anything.
  virtual bool ReadsEstimates(const SimulationSettings& /*settings*/) const { return true; }
};

// How a run ended.
enum class RunStatus {
  kReachedEnd,   // t passed tf
  kInterrupted,  // Escape
  kDiverged,     // torque or current out of bounds, or not finite
  kNoMode,       // several modes selected: one step ran, then the run stopped
  kRefused,      // nothing ran: no parameter file, output file, or unusable settings
  kModelError,   // nothing ran: the cage model could not be prepared (singular
                 // inductance matrix, memory)
};

struct RunOutcome {
  RunStatus status = RunStatus::kRefused;
  // The message shown to the user, if any, and its caption.
  std::string message;
  std::string caption;
  long long steps = 0;  // steps executed
  double t_end = 0.0;   // simulation time when the loop ended (s)
};

// Steps between two polls of the stop request (Escape, Ctrl-C) and of the progress: a
// cheap test that does not depend on the recording (OutStep, td0) nor on the progress
// display, so that every run can be interrupted within a few thousand steps. The end of
// the loop polls once more, so that a request that came after the last poll is not lost.
inline constexpr long long kInterruptPollSteps = 4096;

// Hook run at each output step for the optimisers (0 = none; 1..6, see the run loop).
using RunMode = int;

// Runs one simulation on `settings` (whose models it advances and whose cage resistances
// and VqsrefMax it may change, as the workbench does) and `carried` (read at the start,
// written back at the end). Output goes to `sink` when CreateOutputFile is set and a
// sink is given. The curve viewer is started only when `launch_viewer` is set, a mode
// ran and an output file was written.
RunOutcome RunSimulation(SimulationSettings& settings, CarriedState& carried, Platform& platform,
                         OutputSink* sink, bool launch_viewer, RunMode mode);

// The same run without output table, the machine's state traced at trace.instants
// (machine_trace.h). The run ends once the last instant is traced: a run that traced
// every instant reports kReachedEnd even before tf. A run that reaches tf first leaves
// the trace incomplete.
RunOutcome RunSimulation(SimulationSettings& settings, CarriedState& carried, Platform& platform,
                         RunMode mode, MachineTrace& trace);

// Builds the experimental tables for the current time base: empties them, sizes and zeroes
// the sliding window (one supply period of recorded steps), runs one simulation in the
// table-building mode (RunMode 5) and sets ExpTableReady when it reached its end.
RunOutcome BuildExperimentalTables(SimulationSettings& settings, CarriedState& carried,
                                   Platform& platform, OutputSink* sink);

// Identification cost of the machine parameters now in the settings: CostIdent = 0, one
// run without viewer in RunMode 1 (CostFunction 0, "Ias") or 6 (CostFunction 1, "Max de
// Ias"), and the accumulated CostIdent (1e50 diverged, -1 interrupted).
double EvaluateCost(SimulationSettings& settings, CarriedState& carried, Platform& platform,
                    OutputSink* sink);

// Command line that starts the curve viewer on a data file.
std::string ViewerCommandLine(const std::string& data_file);

}  // namespace mas
