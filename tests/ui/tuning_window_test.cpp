#include "ui/tuning_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "files/settings_override.h"
#include "study_fixture.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/tuning_commands.h"
#include "ui/tuning_cost_plot.h"

namespace mas::ui {
namespace {

namespace fs = std::filesystem;
using testing::ExamplePath;
using testing::ScratchDir;

// The scenario of the tuning examples, shortened so that a generation takes little time.
const std::vector<std::string> kShortScenario = {"tf=0.25", "dt=0.0001"};

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The workbench writes its logs in the current folder: each test works in its own.
class InFolder {
 public:
  explicit InFolder(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
  ~InFolder() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

struct Shown {
  QString text, caption;
  MessageIcon icon;
};

// The main window on a tuning example, messages recorded, the input box and the seed of
// "Randomize" given by the test.
struct Bench {
  explicit Bench(const std::string& example) {
    window.message_presenter = [this](const QString& t, const QString& c, MessageIcon i) {
      messages.push_back({t, c, i});
    };
    window.ReadStartupStudy(QString::fromStdString(ExamplePath(example)));
    ApplyOverrides(window.MutableSettings(), ParseOverrides(kShortScenario));
    tuning = window.findChild<TuningWorkbench*>();
    if (tuning == nullptr) return;
    tuning->seed_source = [] { return 7u; };
    tuning->text_asker = [this](const QString& c, const QString& p, const QString& v) {
      asked.push_back({c, p, v});
      return answer;
    };
  }

  void Trigger(const std::string& handler) {
    QAction* action = window.ActionFor(handler);
    ASSERT_NE(action, nullptr) << handler;
    ASSERT_TRUE(action->isEnabled()) << handler;
    action->trigger();
  }

  // Triggers a command that starts generations and waits for the series to end.
  void Optimise(const std::string& handler) {
    QSignalSpy finished(tuning, &TuningWorkbench::seriesFinished);
    Trigger(handler);
    ASSERT_TRUE(window.Busy()) << handler;
    ASSERT_TRUE(finished.wait(300000)) << handler;
    QApplication::processEvents();  // the menu follows the end of the job (queued)
  }

  TSimulWindow window;
  TuningWorkbench* tuning = nullptr;
  std::vector<Shown> messages;
  std::vector<std::array<QString, 3>> asked;
  std::optional<QString> answer;
};

TEST(TuningCostPlot, LogScaleSpansTheCostsAndSkipsUnplottableOnes) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<CostPoint> points = {{1, 1e3}, {2, 10}, {3, 0.5}, {4, inf}, {5, 0.0}};
  const LogRange range = CostRange(points);
  EXPECT_TRUE(range.whole_decades);
  EXPECT_EQ(range.low, -1);
  EXPECT_EQ(range.high, 3);
  const QRectF area(10, 20, 400, 200);
  const std::vector<QPointF> curve = CostCurve(points, area);
  ASSERT_EQ(curve.size(), 3u);          // inf and 0 have no place on a logarithmic axis
  EXPECT_DOUBLE_EQ(curve[0].x(), 10);   // generation 1 of 1..5
  EXPECT_DOUBLE_EQ(curve[0].y(), 20);   // 1e3 at the top
  EXPECT_DOUBLE_EQ(curve[1].x(), 110);  // generation 2
  EXPECT_DOUBLE_EQ(curve[1].y(), 120);  // 10: two decades of four above the bottom
  EXPECT_NEAR(curve[2].y(), 220 - 200 * (std::log10(0.5) + 1) / 4, 1e-9);
  EXPECT_EQ(TickLabel(range, -1), "1e-1");
  // A perfect candidate (cost 1e-20) and a diverged one (1e50) on one axis.
  const std::vector<CostPoint> wide = {{1, 1e50}, {2, 1e-20}};
  const std::vector<double> ticks = AxisTicks(CostRange(wide), 8);
  EXPECT_LE(ticks.size(), 8u);
  EXPECT_EQ(ticks.front(), -20);
  EXPECT_TRUE(CostCurve({}, area).empty());

  // A best refined by 0.1 % from one generation to the next fills the height of the plot,
  // and the labels tell the ticks apart.
  const std::vector<CostPoint> refined = {{1, 318200.0}, {2, 317900.0}, {3, 317882.0}};
  const LogRange fine = CostRange(refined);
  EXPECT_FALSE(fine.whole_decades);
  const std::vector<QPointF> steps = CostCurve(refined, area);
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_NEAR(steps[0].y(), 20 + 200 / 12.0, 1e-6);   // a tenth of the span above it
  EXPECT_NEAR(steps[2].y(), 220 - 200 / 12.0, 1e-6);  // and below the smallest
  // Its ticks are round costs inside the axis, told apart by their labels.
  std::set<QString> labels;
  const std::vector<double> fine_ticks = AxisTicks(fine, 10);
  EXPECT_GE(fine_ticks.size(), 2u);
  EXPECT_LE(fine_ticks.size(), 10u);
  for (double tick : fine_ticks) {
    EXPECT_GE(tick, fine.low);
    EXPECT_LE(tick, fine.high);
    const QString label = TickLabel(fine, tick);
    labels.insert(label);
    const double cost = label.toDouble();
    EXPECT_NEAR(cost, std::pow(10.0, tick), 1e-9 * cost);
    EXPECT_EQ(std::fmod(cost, 100.0), 0.0) << label.toStdString();  // 317900, 318000, ...
  }
  EXPECT_EQ(labels.size(), fine_ticks.size());
  EXPECT_TRUE(labels.count(QStringLiteral("318000"))) << labels.begin()->toStdString();
  // One cost: in the middle of the plot, on an axis a little wider than it.
  const std::vector<CostPoint> one = {{3, 2.0}};
  EXPECT_DOUBLE_EQ(CostCurve(one, area)[0].x(), area.center().x());
  EXPECT_DOUBLE_EQ(CostCurve(one, area)[0].y(), area.center().y());
}

TEST(TuningWindow, GenerationsFromTheWindowEqualMasTuneWithTheSameSeed) {
  const fs::path dir = ScratchDir("tuning_same_as_cli");
  fs::create_directories(dir / "window");
  fs::create_directories(dir / "cli");
  for (const bool ip : {true, false}) {
    SCOPED_TRACE(ip ? "IP" : "fuzzy");
    const std::string kind = ip ? "W1" : "WFlou";
    std::string cli_out;
    {
      std::ostringstream out, err;
      RecordingPlatform platform;
      CliEnvironment env{out, err, platform, (dir / "echo.dat").string()};
      std::vector<std::string> args = {"tune",
                                       ip ? "ip" : "fuzzy",
                                       ExamplePath(ip ? "tuning_ip.mas" : "tuning_fuzzy.mas"),
                                       "--generations",
                                       "6",
                                       "--seed",
                                       "7",
                                       "--logs",
                                       (dir / "cli").string()};
      for (const std::string& o : kShortScenario) args.insert(args.end(), {"--set", o});
      ASSERT_EQ(MasMain(args, env), 0) << err.str();
      cli_out = out.str();
    }
    InFolder in(dir / "window");
    Bench b(ip ? "tuning_ip.mas" : "tuning_fuzzy.mas");
    ASSERT_NE(b.tuning, nullptr);
    if (ip) b.Trigger("CmOpenFenetreOptimisationW1");
    b.Trigger("CmInitRandomize" + kind);
    QSignalSpy shown(b.tuning, &TuningWorkbench::generationShown);
    b.Optimise("Cm1fois" + kind);
    b.Optimise("Cm5fois" + kind);
    EXPECT_TRUE(b.messages.empty()) << b.messages[0].text.toStdString();
    EXPECT_EQ(shown.count(), 6);
    const TunedRegulator tuned = ip ? TunedRegulator::kIP : TunedRegulator::kFuzzy;
    const SpeedRegulatorTuning& t = b.tuning->Tuning(tuned);
    EXPECT_EQ(t.Gen, 6);
    EXPECT_EQ(FileText("debgen.cpp"), FileText(dir / "cli" / "debgen.cpp"));
    if (!ip) {
      EXPECT_EQ(FileText("HistorF.cpp"), FileText(dir / "cli" / "HistorF.cpp"));
    }
    // The best of the last generation is in the regulator's settings and on show.
    EXPECT_EQ(RegulatorGenesOf(tuned, b.window.Settings()), t.XOld[0]);
    EXPECT_EQ(b.tuning->Costs(tuned).size(), 6u);
    EXPECT_DOUBLE_EQ(b.tuning->Costs(tuned).back().cost, 1.0 / t.BestFitness);
    const QString last_line = QString::fromStdString(cli_out).trimmed().split('\n').last();
    EXPECT_TRUE(last_line.startsWith(QStringLiteral("6  "))) << last_line.toStdString();
    if (ip) {
      TuningResultWindow* w = b.tuning->ResultWindow();
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(w->ValueText("Gen"), "6");
      EXPECT_EQ(w->ValueText("KpW"), QString::fromStdString(FormatReal(t.XOld[0][0], 6)));
      EXPECT_EQ(w->ValueText("Tt"), QString::fromStdString(FormatReal(t.XOld[0][2], 6)));
      EXPECT_EQ(w->ValueText("Erreur"), QString::fromStdString(FormatReal(t.BestFitness, 6)));
      EXPECT_EQ(w->Plot()->Points().size(), 6u);
      EXPECT_FALSE(w->StopButton()->isEnabled());
      QApplication::processEvents();
      EXPECT_TRUE(w->grab().save(testing::ScreenshotDir() + "/TuningResultWindow.png"));
    } else {
      EXPECT_TRUE(b.window.statusBar()->currentMessage().startsWith(
          QStringLiteral("Régulateur flou, génération 6 : fitness max ")))
          << b.window.statusBar()->currentMessage().toStdString();
      // The fuzzy results have a window of their own: the values whole, the cost curve.
      TuningResultWindow* w = b.tuning->FuzzyResultWindow();
      ASSERT_NE(w, nullptr);
      EXPECT_TRUE(w->isVisible());
      EXPECT_EQ(w->windowTitle(), "Résultats de l'Algorithme Génétique (régulateur flou)");
      EXPECT_EQ(w->ValueText("Gen"), "6");
      EXPECT_EQ(w->ValueText("WFErr"), QString::fromStdString(FormatReal(t.XOld[0][0], 6)));
      EXPECT_EQ(w->ValueText("WFdErr"), QString::fromStdString(FormatReal(t.XOld[0][1], 6)));
      EXPECT_EQ(w->ValueText("WFdU"), QString::fromStdString(FormatReal(t.XOld[0][2], 6)));
      EXPECT_EQ(w->ValueText("Erreur"), QString::fromStdString(FormatReal(t.BestFitness, 6)));
      EXPECT_EQ(w->Plot()->Points().size(), 6u);
      EXPECT_FALSE(w->StopButton()->isEnabled());
      QApplication::processEvents();
      EXPECT_TRUE(w->grab().save(testing::ScreenshotDir() + "/TuningResultWindowFlou.png"));
      // Its status line is whole in the window, not cut by the main window's width.
      EXPECT_TRUE(w->findChild<QLabel*>(QStringLiteral("Status"))
                      ->text()
                      .startsWith(QStringLiteral("Régulateur flou, génération 6 : fitness max ")));
    }
  }
}

TEST(TuningWindow, RecupererSpreadsAroundTheStudysGainsAndKeepsAZeroGain) {
  InFolder in(ScratchDir("tuning_recover"));
  Bench b("tuning_ip.mas");
  ASSERT_NE(b.tuning, nullptr);
  b.window.MutableSettings().KpW = 2.0;
  b.window.MutableSettings().KiW = 0.0;
  b.window.MutableSettings().TtW = 1.5;
  b.window.MutableSettings().WFErr = 0.4;
  b.Trigger("CmRequestW1");
  b.Trigger("CmRequestWFlou");
  const auto& ip = b.tuning->Tuning(TunedRegulator::kIP);
  std::set<double> spread;
  for (const RegulatorGenes& g : ip.XOld) {
    EXPECT_GE(g[0], 1.5);
    EXPECT_LE(g[0], 2.5);
    EXPECT_EQ(g[1], 0.0);
    EXPECT_GE(g[2], 1.125);
    EXPECT_LE(g[2], 1.875);
    spread.insert(g[0]);
  }
  EXPECT_GT(spread.size(), 30u);
  // The fuzzy population is spread around the fuzzy scalings, not the IP gains.
  for (const RegulatorGenes& g : b.tuning->Tuning(TunedRegulator::kFuzzy).XOld) {
    EXPECT_GE(g[0], 0.3);
    EXPECT_LE(g[0], 0.5);
  }
  // A generation puts its best into the settings; "Récupérer" then spreads around it.
  b.Optimise("Cm1foisW1");
  const RegulatorGenes best = ip.XOld[0];
  EXPECT_EQ(RegulatorGenesOf(TunedRegulator::kIP, b.window.Settings()), best);
  b.Trigger("CmRequestW1");
  for (const RegulatorGenes& g : ip.XOld) {
    EXPECT_NEAR(g[0] / best[0], 1.0, 0.2501);
    EXPECT_EQ(g[1], 0.0);
  }
}

TEST(TuningWindow, StopEndsTheSeriesWithAStatusLineAndNoErrorBox) {
  InFolder in(ScratchDir("tuning_stop"));
  Bench b("tuning_ip.mas");
  ASSERT_NE(b.tuning, nullptr);
  ApplyOverrides(b.window.MutableSettings(), ParseOverrides({"tf=1.2"}));
  b.Trigger("CmOpenFenetreOptimisationW1");
  b.Trigger("CmInitRandomizeW1");
  TuningResultWindow* w = b.tuning->ResultWindow();
  ASSERT_NE(w, nullptr);
  const auto& t = b.tuning->Tuning(TunedRegulator::kIP);
  QSignalSpy shown(b.tuning, &TuningWorkbench::generationShown);
  QSignalSpy finished(b.tuning, &TuningWorkbench::seriesFinished);

  // Stopped (Escape in the result window) within the first generation: it is cut short,
  // neither sorted nor bred, and the study keeps the user's gains.
  const RegulatorGenes gains = RegulatorGenesOf(TunedRegulator::kIP, b.window.Settings());
  const std::vector<RegulatorGenes> initial = t.XOld;
  QSignalSpy progress(b.window.Progress(), &QProgressBar::valueChanged);
  b.Trigger("Cm5foisW1");
  while (b.window.Progress()->value() == 0 && progress.wait(60000)) {
  }
  // Escape is a shortcut of the window, which answers while the window is active only.
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  QTest::keyClick(w, Qt::Key_Escape);
  ASSERT_TRUE(finished.wait(300000));
  EXPECT_EQ(shown.count(), 0);
  EXPECT_EQ(t.Gen, 1);
  EXPECT_EQ(t.XOld, initial);
  EXPECT_EQ(RegulatorGenesOf(TunedRegulator::kIP, b.window.Settings()), gains);
  EXPECT_TRUE(b.messages.empty()) << b.messages[0].text.toStdString();
  EXPECT_TRUE(b.window.statusBar()->currentMessage().contains(
      QStringLiteral("optimisation arrêtée : génération 1 interrompue après ")))
      << b.window.statusBar()->currentMessage().toStdString();

  // Stopped after a generation: the series ends there.
  finished.clear();
  b.Trigger("Cm100foisW1");
  ASSERT_TRUE(b.window.Busy());
  EXPECT_TRUE(w->StopButton()->isEnabled());
  // The population is the job's while it runs: the commands that change it are off.
  EXPECT_FALSE(b.window.ActionFor("CmInitRandomizeW1")->isEnabled());
  EXPECT_FALSE(b.window.ActionFor("CmRequestWFlou")->isEnabled());
  ASSERT_TRUE(shown.wait(300000));
  // The plot and the labels follow each generation while the series goes on.
  EXPECT_TRUE(b.window.Busy());
  EXPECT_EQ(w->Plot()->Points().size(), static_cast<std::size_t>(shown.count()));
  EXPECT_EQ(w->ValueText("Gen"), QString::number(w->Plot()->Points().back().generation));
  QTest::mouseClick(w->StopButton(), Qt::LeftButton);
  ASSERT_TRUE(finished.count() > 0 || finished.wait(300000));
  QApplication::processEvents();
  EXPECT_LT(t.Gen, 50);
  EXPECT_TRUE(b.messages.empty()) << b.messages[0].text.toStdString();
  EXPECT_TRUE(
      b.window.statusBar()->currentMessage().contains(QStringLiteral("optimisation arrêtée")))
      << b.window.statusBar()->currentMessage().toStdString();
  EXPECT_FALSE(w->StopButton()->isEnabled());
  EXPECT_TRUE(w->findChild<QLabel*>("Status")->text().contains(QStringLiteral("arrêtée")));
  EXPECT_TRUE(b.window.ActionFor("CmInitRandomizeW1")->isEnabled());
  // The settings hold the best of the last complete generation: the one on show.
  ASSERT_FALSE(b.tuning->Costs(TunedRegulator::kIP).empty());
  const int complete = b.tuning->Costs(TunedRegulator::kIP).back().generation;
  EXPECT_EQ(w->ValueText("Gen"), QString::number(complete));
  EXPECT_GE(t.Gen, complete);
  EXPECT_EQ(QString::fromStdString(FormatReal(b.window.Settings().KpW, 6)), w->ValueText("KpW"));
  // A generation cut short is neither sorted nor bred: the population is the one the last
  // complete generation bred, whose individual 0 is that best.
  EXPECT_EQ(b.window.Settings().KpW, t.XOld[0][0]);
  QApplication::processEvents();
  EXPECT_TRUE(w->grab().save(testing::ScreenshotDir() + "/TuningResultWindowStopped.png"));
}

TEST(TuningWindow, NFoisAsksTheCountAndRunsNothingOnABadOne) {
  InFolder in(ScratchDir("tuning_n"));
  Bench b("tuning_fuzzy.mas");
  ASSERT_NE(b.tuning, nullptr);
  b.Trigger("CmInitRandomizeWFlou");
  const auto& t = b.tuning->Tuning(TunedRegulator::kFuzzy);
  for (const char* bad : {"abc", "2.5", "", "-3"}) {
    SCOPED_TRACE(bad);
    b.messages.clear();
    b.answer = QString::fromUtf8(bad);
    b.Trigger("CmNfoisWFlou");
    EXPECT_FALSE(b.window.Busy());
    ASSERT_EQ(b.messages.size(), 1u);
    if (std::string(bad) == "-3") {
      EXPECT_EQ(b.messages[0].text, "Le nombre de générations doit être positif ou nul : -3");
    } else {
      EXPECT_EQ(b.messages[0].text.toStdString(), NotAnIntegerMessage(bad));
    }
    EXPECT_EQ(b.messages[0].caption, "Erreur");
    EXPECT_EQ(t.Gen, 0);
  }
  ASSERT_FALSE(b.asked.empty());
  EXPECT_EQ(b.asked[0][0], "Paramètre d'optimisation");
  EXPECT_EQ(b.asked[0][1], "Nombre de génération ");
  EXPECT_EQ(b.asked[0][2], "50");
  b.messages.clear();
  b.answer.reset();  // cancelled
  b.Trigger("CmNfoisWFlou");
  EXPECT_FALSE(b.window.Busy());
  b.answer = QStringLiteral(" 2 ");
  b.Optimise("CmNfoisWFlou");
  EXPECT_EQ(t.Gen, 2);
  EXPECT_TRUE(b.messages.empty());
}

TEST(TuningWindow, RefusesStudiesThatWouldNotUseTheGenesAndEmptyPopulations) {
  InFolder in(ScratchDir("tuning_refused"));
  {
    Bench b("vector_control_pi.mas");  // a PI speed regulator
    ASSERT_NE(b.tuning, nullptr);
    b.Trigger("CmInitRandomizeW1");
    b.Trigger("Cm1foisW1");
    EXPECT_FALSE(b.window.Busy());
    ASSERT_EQ(b.messages.size(), 1u);
    EXPECT_EQ(b.messages[0].text.toStdString(),
              TuningRefusal(TunedRegulator::kIP, b.window.Settings()));
    EXPECT_EQ(b.messages[0].caption, "Erreur");
  }
  Bench b("tuning_ip.mas");
  ASSERT_NE(b.tuning, nullptr);
  b.Trigger("Cm5foisW1");  // before "Randomize" or "Récupérer"
  EXPECT_FALSE(b.window.Busy());
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_TRUE(b.messages[0].text.contains(QStringLiteral("Randomize")));
  EXPECT_EQ(b.tuning->Tuning(TunedRegulator::kIP).Gen, 0);
  EXPECT_FALSE(fs::exists("debgen.cpp"));
}

TEST(TuningWindow, OpenAndCloseEntriesFollowTheResultWindow) {
  InFolder in(ScratchDir("tuning_menu"));
  Bench b("tuning_ip.mas");
  ASSERT_NE(b.tuning, nullptr);
  QAction* open = b.window.ActionFor("CmOpenFenetreOptimisationW1");
  QAction* close = b.window.ActionFor("CmCloseFenetreOptimisationW1");
  auto expect_closed = [&] {
    EXPECT_EQ(b.tuning->ResultWindow(), nullptr);
    EXPECT_TRUE(open->isEnabled());
    EXPECT_FALSE(open->isChecked());
    EXPECT_FALSE(close->isEnabled());
    EXPECT_TRUE(close->isChecked());
  };
  expect_closed();
  for (const bool by_frame : {false, true}) {
    SCOPED_TRACE(by_frame ? "closed by its frame" : "closed by the menu");
    b.Trigger("CmOpenFenetreOptimisationW1");
    TuningResultWindow* w = b.tuning->ResultWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "Résultats de l'Algorithme Génétique");
    EXPECT_FALSE(open->isEnabled());
    EXPECT_TRUE(open->isChecked());
    EXPECT_TRUE(close->isEnabled());
    EXPECT_FALSE(close->isChecked());
    QSignalSpy destroyed(w, &QObject::destroyed);
    if (by_frame) {
      w->close();
    } else {
      b.Trigger("CmCloseFenetreOptimisationW1");
    }
    expect_closed();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(destroyed.count(), 1);
  }
}

}  // namespace
}  // namespace mas::ui
