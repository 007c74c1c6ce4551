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
  return Launch(std::move(settings), std::move(carried), [this, mode, launch_viewer](RunResult& r) {
    OutputRecorder recorder;
    r.outcome = RunSimulation(r.settings, r.carried, platform_, &recorder, launch_viewer, mode);
    r.output_write_failed = recorder.WriteFailed();
  });
}

bool RunWorker::StartJob(SimulationSettings settings, CarriedState carried, Job job) {
  return Launch(
      std::move(settings), std::move(carried),
      [this, job = std::move(job)](RunResult& r) { job(r.settings, r.carried, platform_); });
}

bool RunWorker::Launch(SimulationSettings settings, CarriedState carried,
                       std::function<void(RunResult&)> work) {
  if (running_) return false;
  Wait();
  running_ = true;
  platform_.ClearStopRequest();
  auto result = std::make_unique<RunResult>();
  result->settings = std::move(settings);
  result->carried = std::move(carried);
  result_ = std::move(result);
  thread_ = std::thread([this, work = std::move(work)] {
    RunResult& r = *result_;
    const auto start = std::chrono::steady_clock::now();
    try {
      work(r);
    } catch (const std::exception& e) {
      // A failure the work cannot continue from is shown; the window keeps the study.
      r.outcome.status = RunStatus::kModelError;
      r.outcome.message = e.what();
      r.outcome.caption = "Erreur";
      platform_.ShowMessage(e.what(), "Erreur", MessageIcon::kStop);
    }
    r.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
