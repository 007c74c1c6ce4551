#include "ui/run_worker.h"

#include <QMetaObject>
#include <chrono>

#include "files/output_recorder.h"

namespace mas::ui {

RunWorker::RunWorker(QtPlatform& platform, QObject* parent)
    : QObject(parent), platform_(platform) {}

RunWorker::~RunWorker() {
  platform_.RequestStop();
  Wait();
}

bool RunWorker::Start(SimulationSettings settings, CarriedState carried, RunMode mode,
                      bool launch_viewer) {
  if (running_) return false;
  Wait();
  running_ = true;
  platform_.ClearStopRequest();
  auto result = std::make_unique<RunResult>();
  result->settings = std::move(settings);
  result->carried = std::move(carried);
  result_ = std::move(result);
  thread_ = std::thread([this, mode, launch_viewer] {
    RunResult& r = *result_;
    OutputRecorder recorder;
    const auto start = std::chrono::steady_clock::now();
    try {
      r.outcome = RunSimulation(r.settings, r.carried, platform_, &recorder, launch_viewer, mode);
    } catch (const std::exception& e) {
      // A failure the run cannot continue from is shown; the window keeps the study.
      r.outcome.status = RunStatus::kModelError;
      r.outcome.message = e.what();
      r.outcome.caption = "Erreur";
      platform_.ShowMessage(e.what(), "Erreur", MessageIcon::kStop);
    }
    r.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.output_write_failed = recorder.WriteFailed();
    QMetaObject::invokeMethod(
        this, [this] { Finish(); }, Qt::QueuedConnection);
  });
  return true;
}

void RunWorker::Wait() {
  if (thread_.joinable()) thread_.join();
}

void RunWorker::Finish() {
  Wait();
  running_ = false;
  emit finished();
}

}  // namespace mas::ui
