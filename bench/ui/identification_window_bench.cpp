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
#include <filesystem>
#include <iostream>
#include <sstream>

#include "bench/ui/window_timing.h"
#include "cli/commands.h"
#include "cli/identify_command.h"
#include "identification/genetic_algorithm.h"
#include "ui/gen_dem_window.h"
#include "ui/identification_commands.h"
#include "ui/main_window.h"

namespace {

using mas::bench::Clock;
using mas::bench::Fixed;
using mas::bench::Seconds;

const std::string kStudy = std::string(MAS_SOURCE_DIR) + "/examples/identification.mas";
const std::string kRecord = std::string(MAS_SOURCE_DIR) + "/examples/dem1.dat";
constexpr std::uint32_t kSeed = 7;
constexpr int kGenerations = 20;

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

template <class Command>
void RunAndWait(mas::ui::TGenDemWindow& gen, Command command) {
  QEventLoop loop;
  QObject::connect(&gen, &mas::ui::TGenDemWindow::jobFinished, &loop, &QEventLoop::quit);
  if (command()) loop.exec();
}

mas::bench::WindowTiming WindowSeconds() {
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
  return mas::bench::TimeWindowWork(&gen, &mas::ui::TGenDemWindow::jobFinished, [&] {
    gen.TimesEdit()->setText(QString::number(kGenerations));
    return gen.CmRunT();
  });
}

}  // namespace

int main(int argc, char** argv) {
  mas::bench::UseOffscreenPlatformUnlessAsked();
  QApplication app(argc, argv);
  const int repeats = mas::bench::Repeats(argc, argv);
  const auto dir = std::filesystem::current_path() / "identification_window_bench_out";
  std::filesystem::create_directories(dir / "cli");
  std::filesystem::current_path(dir);  // the window writes its logs in the current folder

  const mas::bench::SideBySide best = mas::bench::BestOfRepeats(
      repeats, [&] { return CliSeconds(dir / "cli"); }, [] { return WindowSeconds(); });
  std::cout << kGenerations << " identification generations (55 runs each): mas identify "
            << Fixed(best.best_cli, 3) << " s, window " << Fixed(best.best_window, 3)
            << " s, ratio window/mas identify " << Fixed(best.best_window / best.best_cli, 3)
            << "\n"
            << "largest gap between 10 ms timer ticks during the window's generations: "
            << Fixed(best.largest_gap_ms, 1) << " ms\n"
            << "processor time of the window's thread during its generations: at most "
            << Fixed(best.window_thread_seconds, 3) << " s\n";
  return 0;
}
