// One generation of the IP speed-regulator tuning on the tuning example (45 simulations of
// its 1.2 s scenario) from the workbench's menu against the same generation by `mas tune`
// with the same seed, measured side by side (wall clock, best of the repeats each, each
// side first in turn), with
// the largest gap between the ticks of a 10 ms timer on the window's event loop during the
// window's generations: how long the window could not repaint.
//   tuning_window_bench [REPEATS]

#include <QAction>
#include <QApplication>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "bench/ui/window_timing.h"
#include "cli/commands.h"
#include "cli/tune_command.h"
#include "ui/main_window.h"
#include "ui/tuning_commands.h"

namespace {

using mas::bench::Clock;
using mas::bench::Fixed;
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

mas::bench::WindowTiming WindowSeconds() {
  mas::ui::TSimulWindow window;
  window.message_presenter = [](const QString&, const QString&, mas::MessageIcon) {};
  window.ReadStudy(QString::fromStdString(kStudy));
  auto* tuning = window.findChild<mas::ui::TuningWorkbench*>();
  tuning->seed_source = [] { return 7u; };
  window.show();
  window.ActionFor("CmOpenFenetreOptimisationW1")->trigger();
  window.ActionFor("CmInitRandomizeW1")->trigger();
  QApplication::processEvents();
  return mas::bench::TimeWindowWork(tuning, &mas::ui::TuningWorkbench::seriesFinished, [&] {
    window.ActionFor("Cm1foisW1")->trigger();
    return window.Busy();
  });
}

}  // namespace

int main(int argc, char** argv) {
  mas::bench::UseOffscreenPlatformUnlessAsked();
  QApplication app(argc, argv);
  const int repeats = mas::bench::Repeats(argc, argv);
  const auto dir = std::filesystem::current_path() / "tuning_window_bench_out";
  std::filesystem::create_directories(dir / "cli");
  std::filesystem::current_path(dir);  // the window writes its logs in the current folder

  const mas::bench::SideBySide best = mas::bench::BestOfRepeats(
      repeats, [&] { return CliSeconds(dir / "cli"); }, [] { return WindowSeconds(); });
  std::cout << "one IP tuning generation (45 runs): mas tune " << Fixed(best.best_cli, 3)
            << " s, window " << Fixed(best.best_window, 3) << " s, ratio "
            << Fixed(best.best_window / best.best_cli, 3) << "\n"
            << "largest gap between 10 ms timer ticks during the window's generations: "
            << Fixed(best.largest_gap_ms, 1) << " ms\n";
  return 0;
}
