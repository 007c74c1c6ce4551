#pragma once
// A simulation run on a worker thread. The window hands it a copy of its study (the
// settings and the state carried from run to run); the run works on that copy alone and
// the window takes it back, with the outcome, when the finished() signal reaches its
// event loop. The run reports through a QtPlatform, whose signals are queued to the
// window's thread.

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

#include "engine/run_simulation.h"
#include "ui/qt_platform.h"

namespace mas::ui {

// The study as a run leaves it.
struct RunResult {
  SimulationSettings settings;
  CarriedState carried;
  RunOutcome outcome;
  bool output_write_failed = false;  // the table could not be written whole
  double wall_seconds = 0.0;
};

class RunWorker : public QObject {
  Q_OBJECT

 public:
  explicit RunWorker(QtPlatform& platform, QObject* parent = nullptr);
  ~RunWorker() override;
  RunWorker(const RunWorker&) = delete;
  RunWorker& operator=(const RunWorker&) = delete;

  // Starts a run of the given study; false when a run is already going.
  bool Start(SimulationSettings settings, CarriedState carried, RunMode mode, bool launch_viewer);
  // Starts any work on a copy of the study (a generation of an optimiser, a simulation of
  // its best candidate): `job` gets the copy and the window's platform on the worker
  // thread. A failure it throws is shown and ends it. False when a run is already going.
  using Job = std::function<void(SimulationSettings&, CarriedState&, Platform&)>;
  bool StartJob(SimulationSettings settings, CarriedState carried, Job job);
  bool Running() const { return running_; }
  // Asks the run to stop at its next poll; it then ends as interrupted.
  void RequestStop() { platform_.RequestStop(); }
  // Waits for the worker thread (the window closing during a run).
  void Wait();
  // The study after the last run; valid after finished().
  RunResult TakeResult() { return std::move(*result_); }

 signals:
  void finished();

 private:
  void Finish();
  bool Launch(SimulationSettings settings, CarriedState carried,
              std::function<void(RunResult&)> work);

  QtPlatform& platform_;
  std::thread thread_;
  std::unique_ptr<RunResult> result_;
  bool running_ = false;
};

}  // namespace mas::ui
