// Start-up time of mas-gui, measured as a process from its start to its first painted
// window, and a run of the vector-control example over 10^6 steps from the window against
// the same run by `mas run`, measured side by side (wall clock, best of three each), with
// the largest gap between the ticks of a 10 ms timer on the window's event loop during
// the window's run.
//   window_bench [REPEATS]

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

#include "bench/ui/event_loop_gap.h"
#include "cli/commands.h"
#include "ui/main_window.h"

namespace {

using mas::bench::Clock;
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

struct WindowRun {
  double seconds = 0.0;
  double largest_gap_ms = 0.0;
};

WindowRun WindowRunSeconds(const std::filesystem::path& dir) {
  mas::ui::TSimulWindow window;
  window.message_presenter = [](const QString&, const QString&, mas::MessageIcon) {};
  window.viewer_starter = [](const QString&) {};
  window.ReadStudy(QString::fromStdString(kStudy));
  window.MutableSettings().tf = 10;
  window.MutableSettings().OutFileName = (dir / "window.dat").string();
  window.show();
  QApplication::processEvents();

  WindowRun result;
  mas::bench::EventLoopGap gap;
  QEventLoop loop;
  QObject::connect(&window, &mas::ui::TSimulWindow::runFinished, &loop, &QEventLoop::quit);
  const auto start = Clock::now();
  gap.Start();
  window.CmRun();
  if (window.Running()) loop.exec();
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
  const auto dir = std::filesystem::current_path() / "window_bench_out";
  std::filesystem::create_directories(dir);

  std::vector<double> startups;
  for (int i = 0; i < 2 * repeats + 1; ++i) startups.push_back(StartupSeconds());
  std::sort(startups.begin(), startups.end());
  std::printf("start-up to first painted window: median %.3f s, best %.3f s (%zu starts)\n",
              startups[startups.size() / 2], startups.front(), startups.size());

  double best_cli = 1e300, best_window = 1e300, largest_gap = 0.0;
  for (int i = 0; i < repeats; ++i) {
    best_cli = std::min(best_cli, CliRunSeconds(dir));
    const WindowRun w = WindowRunSeconds(dir);
    best_window = std::min(best_window, w.seconds);
    largest_gap = std::max(largest_gap, w.largest_gap_ms);
  }
  std::printf("10^6 steps: mas run %.3f s, window %.3f s, ratio window/mas run %.3f\n", best_cli,
              best_window, best_window / best_cli);
  std::printf("largest gap between 10 ms timer ticks during the window's runs: %.1f ms\n",
              largest_gap);
  return 0;
}
