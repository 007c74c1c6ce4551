// Twenty generations of the genetic identification on the identification example (55
// simulations of its 0.5 s start-up per generation, 10^4 steps each) from the workbench's
// "RunT" button against the same generations as `mas identify ga` runs them (the study
// prepared by the command's own PrepareIdentification, then RunGeneration on all cores),
// both from the same seed, measured side by side (wall clock, best of the repeats each), with the
// largest gap between the ticks of a 10 ms timer on the window's event loop during the
// window's generations: how long the window could not repaint.
//   identification_window_bench [REPEATS]

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "bench/ui/event_loop_gap.h"
#include "cli/commands.h"
#include "cli/identify_command.h"
#include "identification/genetic_algorithm.h"
#include "ui/gen_dem_window.h"
#include "ui/identification_commands.h"
#include "ui/main_window.h"

namespace {

using mas::bench::Clock;
using mas::bench::Seconds;

const std::string kStudy = std::string(MAS_SOURCE_DIR) + "/examples/identification.mas";
const std::string kRecord = std::string(MAS_SOURCE_DIR) + "/examples/dem1.dat";
constexpr std::uint32_t kSeed = 7;
constexpr int kGenerations = 20;

// Fixed-point text with a decimal point whatever the locale Qt has set.
std::string Fixed(double value, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

double CliSeconds(const std::filesystem::path& dir) {
  std::ostringstream out, err;
  mas::SilentPlatform platform;
  mas::CliEnvironment env{out, err, platform, (dir / "echo.dat").string()};
  mas::SimulationSettings s;
  mas::CarriedState carried;
  if (mas::PrepareIdentification(kStudy, {}, kRecord, s, carried, env)) return 0.0;
  mas::GeneticIdentification ga(mas::SharedRandom(), dir);
  ga.Randomize(s.GenX, kSeed, platform);
  const mas::CandidateEvaluator evaluator;
  const auto start = Clock::now();
  for (int g = 0; g < kGenerations; ++g) ga.RunGeneration(s, carried, platform, evaluator);
  return Seconds(start, Clock::now());
}

struct WindowGeneration {
  double seconds = 0.0;
  double largest_gap_ms = 0.0;
  double window_thread_seconds = 0.0;  // processor time of the window's own thread
};

template <class Command>
void RunAndWait(mas::ui::TGenDemWindow& gen, Command command) {
  QEventLoop loop;
  QObject::connect(&gen, &mas::ui::TGenDemWindow::jobFinished, &loop, &QEventLoop::quit);
  if (command()) loop.exec();
}

WindowGeneration WindowSeconds() {
  mas::ui::TSimulWindow window;
  window.message_presenter = [](const QString&, const QString&, mas::MessageIcon) {};
  window.ReadStudy(QString::fromStdString(kStudy));
  window.MutableSettings().ExpNom = kRecord;
  auto& gen = window.findChild<mas::ui::IdentificationWorkbenches*>()->Genetic();
  gen.seed_source = [] { return kSeed; };
  gen.show();
  RunAndWait(gen, [&] { return gen.CmOuvrirExperimental(); });
  RunAndWait(gen, [&] { return gen.CmCreerTable(); });
  gen.CmRandomize();
  QApplication::processEvents();

  WindowGeneration result;
  mas::bench::EventLoopGap gap;
  timespec cpu0{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
  const auto start = Clock::now();
  gap.Start();
  gen.TimesEdit()->setText(QString::number(kGenerations));
  RunAndWait(gen, [&] { return gen.CmRunT(); });
  result.seconds = Seconds(start, Clock::now());
  gap.Stop();
  result.largest_gap_ms = gap.LargestMs();
  timespec cpu1{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
  result.window_thread_seconds = static_cast<double>(cpu1.tv_sec - cpu0.tv_sec) +
                                 1e-9 * static_cast<double>(cpu1.tv_nsec - cpu0.tv_nsec);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const auto dir = std::filesystem::current_path() / "identification_window_bench_out";
  std::filesystem::create_directories(dir / "cli");
  std::filesystem::current_path(dir);  // the window writes its logs in the current folder

  double best_cli = 1e300, best_window = 1e300, largest_gap = 0.0, window_thread = 0.0;
  for (int i = 0; i < repeats; ++i) {
    // Alternately first, so that neither side always runs on a warmer machine.
    WindowGeneration w;
    if (i % 2 == 0) {
      best_cli = std::min(best_cli, CliSeconds(dir / "cli"));
      w = WindowSeconds();
    } else {
      w = WindowSeconds();
      best_cli = std::min(best_cli, CliSeconds(dir / "cli"));
    }
    best_window = std::min(best_window, w.seconds);
    largest_gap = std::max(largest_gap, w.largest_gap_ms);
    window_thread = std::max(window_thread, w.window_thread_seconds);
  }
  std::cout << kGenerations << " identification generations (55 runs each): mas identify "
            << Fixed(best_cli, 3) << " s, window " << Fixed(best_window, 3)
            << " s, ratio window/mas identify " << Fixed(best_window / best_cli, 3) << "\n"
            << "largest gap between 10 ms timer ticks during the window's generations: "
            << Fixed(largest_gap, 1) << " ms\n"
            << "processor time of the window's thread during its generations: at most "
            << Fixed(window_thread, 3) << " s\n";
  return 0;
}
