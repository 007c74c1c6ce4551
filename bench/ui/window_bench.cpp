// Start-up time of mas-gui, measured as a process from its start to its first painted
// window, and a run of the vector-control example over 10^6 steps from the window against
// the same run by `mas run`, measured side by side (wall clock, best of three each), with
// the largest gap between the ticks of a 10 ms timer on the window's event loop during
// the window's run. Each side runs first in turn.
//   window_bench [REPEATS]

#include <QApplication>
#include <QProcess>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <vector>

#include "bench/ui/window_timing.h"
#include "cli/commands.h"
#include "ui/main_window.h"

namespace {

using mas::bench::Clock;
using mas::bench::Fixed;
using mas::bench::Seconds;

double StartupSeconds() {
  QProcess process;
  const auto start = Clock::now();
  process.start(QStringLiteral(MAS_GUI_PATH), {QStringLiteral("--exit-when-shown")});
  process.waitForFinished(30000);
  return Seconds(start, Clock::now());
}

const std::string kStudy = std::string(MAS_SOURCE_DIR) + "/examples/vector_control_pi.mas";
const char* kSteps = "tf=10";  // dt = 1e-5 s: 10^6 steps

double CliRunSeconds(const std::filesystem::path& dir) {
  std::ostringstream out, err;
  mas::SilentPlatform platform;
  mas::CliEnvironment env{out, err, platform, (dir / "echo.dat").string()};
  mas::RunRequest request;
  request.study = kStudy;
  request.overrides = {kSteps};
  request.output = (dir / "cli.dat").string();
  const auto start = Clock::now();
  mas::RunStudyCommand(request, env);
  return Seconds(start, Clock::now());
}

mas::bench::WindowTiming WindowRunSeconds(const std::filesystem::path& dir) {
  mas::ui::TSimulWindow window;
  window.message_presenter = [](const QString&, const QString&, mas::MessageIcon) {};
  window.viewer_starter = [](const QString&) {};
  window.ReadStudy(QString::fromStdString(kStudy));
  window.MutableSettings().tf = 10;
  window.MutableSettings().OutFileName = (dir / "window.dat").string();
  window.show();
  QApplication::processEvents();
  return mas::bench::TimeWindowWork(&window, &mas::ui::TSimulWindow::runFinished, [&] {
    window.CmRun();
    return window.Running();
  });
}

}  // namespace

int main(int argc, char** argv) {
  mas::bench::UseOffscreenPlatformUnlessAsked();
  QApplication app(argc, argv);
  const int repeats = mas::bench::Repeats(argc, argv);
  const auto dir = std::filesystem::current_path() / "window_bench_out";
  std::filesystem::create_directories(dir);

  std::vector<double> startups;
  for (int i = 0; i < 2 * repeats + 1; ++i) startups.push_back(StartupSeconds());
  std::sort(startups.begin(), startups.end());
  std::cout << "start-up to first painted window: median "
            << Fixed(startups[startups.size() / 2], 3) << " s, best " << Fixed(startups.front(), 3)
            << " s (" << startups.size() << " starts)\n";

  const mas::bench::SideBySide best = mas::bench::BestOfRepeats(
      repeats, [&] { return CliRunSeconds(dir); }, [&] { return WindowRunSeconds(dir); });
  std::cout << "10^6 steps: mas run " << Fixed(best.best_cli, 3) << " s, window "
            << Fixed(best.best_window, 3) << " s, ratio window/mas run "
            << Fixed(best.best_window / best.best_cli, 3) << "\n"
            << "largest gap between 10 ms timer ticks during the window's runs: "
            << Fixed(best.largest_gap_ms, 1) << " ms\n";
  return 0;
}
