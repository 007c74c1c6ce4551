// One generation of the IP speed-regulator tuning on the tuning example (45 simulations of
// its 1.2 s scenario) from the workbench's menu against the same generation by `mas tune`
// with the same seed, measured side by side (wall clock, best of the repeats each), with
// the largest gap between the ticks of a 10 ms timer on the window's event loop during the
// window's generations: how long the window could not repaint.
//   tuning_window_bench [REPEATS]

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "bench/ui/event_loop_gap.h"
#include "cli/commands.h"
#include "cli/tune_command.h"
#include "ui/main_window.h"
#include "ui/tuning_commands.h"

namespace {

using mas::bench::Clock;
using mas::bench::Seconds;

const std::string kStudy = std::string(MAS_SOURCE_DIR) + "/examples/tuning_ip.mas";

double CliSeconds(const std::filesystem::path& dir) {
  std::ostringstream out, err;
  mas::SilentPlatform platform;
  mas::CliEnvironment env{out, err, platform, (dir / "echo.dat").string()};
  mas::TuneRequest request;
  request.kind = mas::TunedRegulator::kIP;
  request.study = kStudy;
  request.generations = 1;
  request.seed = 7;
  request.log_folder = dir.string();
  const auto start = Clock::now();
  mas::TuneCommand(request, env);
  return Seconds(start, Clock::now());
}

struct WindowGeneration {
  double seconds = 0.0;
  double largest_gap_ms = 0.0;
};

WindowGeneration WindowSeconds() {
  mas::ui::TSimulWindow window;
  window.message_presenter = [](const QString&, const QString&, mas::MessageIcon) {};
  window.ReadStudy(QString::fromStdString(kStudy));
  auto* tuning = window.findChild<mas::ui::TuningWorkbench*>();
  tuning->seed_source = [] { return 7u; };
  window.show();
  window.ActionFor("CmOpenFenetreOptimisationW1")->trigger();
  window.ActionFor("CmInitRandomizeW1")->trigger();
  QApplication::processEvents();

  WindowGeneration result;
  mas::bench::EventLoopGap gap;
  QEventLoop loop;
  QObject::connect(tuning, &mas::ui::TuningWorkbench::seriesFinished, &loop, &QEventLoop::quit);
  const auto start = Clock::now();
  gap.Start();
  window.ActionFor("Cm1foisW1")->trigger();
  if (window.Busy()) loop.exec();
  result.seconds = Seconds(start, Clock::now());
  gap.Stop();
  result.largest_gap_ms = gap.LargestMs();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const auto dir = std::filesystem::current_path() / "tuning_window_bench_out";
  std::filesystem::create_directories(dir / "cli");
  std::filesystem::current_path(dir);  // the window writes its logs in the current folder

  double best_cli = 1e300, best_window = 1e300, largest_gap = 0.0;
  for (int i = 0; i < repeats; ++i) {
    best_cli = std::min(best_cli, CliSeconds(dir / "cli"));
    const WindowGeneration w = WindowSeconds();
    best_window = std::min(best_window, w.seconds);
    largest_gap = std::max(largest_gap, w.largest_gap_ms);
  }
  std::printf("one IP tuning generation (45 runs): mas tune %.3f s, window %.3f s, ratio %.3f\n",
              best_cli, best_window, best_window / best_cli);
  std::printf("largest gap between 10 ms timer ticks during the window's generations: %.1f ms\n",
              largest_gap);
  return 0;
}
