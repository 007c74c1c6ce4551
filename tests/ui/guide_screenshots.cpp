// The pictures of the user guide, taken from the real windows on the examples: the
// workbench on a study and one of its event dialogs, the curve viewer on the table of a
// run started from the workbench (zoomed on the load step, two cursors, the spectrum),
// the trajectory fit of the identification with its intervals, the genetic algorithm's
// window, and the tuning of the IP speed regulator. They go to guide_img/ beside the binary;
// scripts/guide_screenshots.sh copies them into docs/img/. Each picture is also checked for what a
// reader of the guide relies on: the study read, the curves drawn, the fit ended with its
// intervals.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <filesystem>
#include <set>

#include "files/settings_override.h"
#include "fit/trajectory_fit.h"
#include "identification/machine_genes.h"
#include "study_fixture.h"
#include "ui/dialog_model.h"
#include "ui/fit_window.h"
#include "ui/gen_dem_window.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/settings_form.h"
#include "ui/tuning_commands.h"
#include "ui/tuning_cost_plot.h"
#include "ui/tuning_window.h"
#include "viewer/main_window.h"
#include "viewer/spectrum_window.h"

namespace mas::ui {
namespace {

namespace fs = std::filesystem;
using testing::ExamplePath;
using testing::ScratchDir;

QString GuideDir() {
  QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/guide_img");
  QDir().mkpath(dir);
  return dir;
}

// Shows a window at a given size, lets it lay itself out and paint, and saves it.
QImage Shoot(QWidget& w, const QString& name, QSize size = {}) {
  if (size.isValid()) w.resize(size);
  w.show();
  QApplication::processEvents();
  QImage image = w.grab().toImage();
  EXPECT_TRUE(image.save(GuideDir() + "/" + name + ".png")) << name.toStdString();
  return image;
}

// How many different colours a part of a picture holds: a plot left empty, or a window
// that did not paint, holds two or three.
int Colours(const QImage& image, QRect part) {
  std::set<QRgb> seen;
  part = part.intersected(image.rect());
  for (int y = part.top(); y <= part.bottom(); y += 2) {
    for (int x = part.left(); x <= part.right(); x += 2) seen.insert(image.pixel(x, y));
  }
  return static_cast<int>(seen.size());
}

// Messages of the workbench recorded instead of shown.
struct Recorded {
  explicit Recorded(TSimulWindow& w) {
    w.message_presenter = [this](const QString& t, const QString&, MessageIcon) {
      messages.push_back(t.toStdString());
    };
  }
  std::vector<std::string> messages;
};

// "Ouvrir" an example, "Run", the viewer on the table written: the windows a reader sees
// first, and the event dialog of the load torque.
TEST(GuidePictures, WorkbenchAndViewerOnTheRunOfTheDefaultStudy) {
  const fs::path dir = ScratchDir("guide_run");
  TSimulWindow window;
  Recorded recorded(window);
  QString viewer_file;
  window.viewer_starter = [&](const QString& f) { viewer_file = f; };
  window.ReadStartupStudy(QString::fromStdString(ExamplePath("default.mas")));
  ASSERT_TRUE(window.Settings().FileLoaded);
  window.MutableSettings().OutFileName = (dir / "out.dat").string();
  QSignalSpy finished(&window, &TSimulWindow::runFinished);
  window.CmRun();
  ASSERT_TRUE(finished.count() > 0 || finished.wait(120000));
  ASSERT_TRUE(recorded.messages.empty()) << recorded.messages[0];
  ASSERT_EQ(viewer_file.toStdString(), (dir / "out.dat").string());
  const QImage workbench = Shoot(window, QStringLiteral("atelier"), {760, 540});
  EXPECT_GT(Colours(workbench, workbench.rect()), 20) << "the diagram is not drawn";

  // The dialogs the guide walks through: the machine, the time base, the load events.
  for (const auto& [id, name] :
       {std::pair{"TDIALOG_MACHINE", "machine"}, std::pair{"TDIALOG_TIMESIMUL", "temps"},
        std::pair{"TDIALOG_CRREF", "evenements_couple"}}) {
    SettingsForm form(DialogById(id));
    form.Load(window.Settings());
    Shoot(form, QString::fromLatin1(name));
  }

  // The viewer as the run starts it, with the example session: speed, torques, current.
  viewer::ViewerOptions options;
  options.file = viewer_file;
  options.session = QString::fromStdString(ExamplePath("viewer_session.tracix"));
  viewer::MainWindow viewer(options);
  ASSERT_NE(viewer.dataset(), nullptr);
  ASSERT_GT(viewer.dataset()->table().RowCount(), 1000u);
  ASSERT_EQ(viewer.view().plots.size(), 3u);
  viewer::Session zoomed = viewer.CurrentSession();
  zoomed.auto_time = false;
  zoomed.time_range = {0.4, 0.8};
  zoomed.cursors = {0.5, 0.6};
  viewer.ApplySession(zoomed);
  const QImage curves = Shoot(viewer, QStringLiteral("tracix"), {1000, 640});
  EXPECT_EQ(viewer.view().time, (viewer::Range{0.4, 0.8}));
  EXPECT_GT(Colours(curves, curves.rect()), 30) << "no curve drawn";

  auto* spectrum = viewer.findChild<viewer::SpectrumWindow*>();
  ASSERT_NE(spectrum, nullptr) << "the session's spectrum window is not open";
  EXPECT_EQ(spectrum->column().toStdString(), "Ias(A)");
  Shoot(*spectrum, QStringLiteral("tracix_spectre"), {640, 400});
}

// "&Ajustement (moindres carrés)" from a guess 10-20 % off the machine that made the
// record (the cost per iteration, the parameters with their intervals, the trajectories),
// then the genetic algorithm's window on the same record.
TEST(GuidePictures, IdentificationOfTheExampleRecord) {
  const fs::path dir = ScratchDir("guide_fit");
  TSimulWindow host;
  Recorded recorded(host);
  IdentificationHub hub(host);
  fs::create_directories(dir / "ga");
  TGenDemWindow gen(hub, dir / "ga");
  ASSERT_TRUE(host.ReadStudy(QString::fromStdString(ExamplePath("identification.mas"))));
  SimulationSettings& s = host.MutableSettings();
  s.ExpNom = ExamplePath("dem1.dat");
  s.OutFileName = (dir / "out.dat").string();
  MapGenesOntoMachine({1.2, 0.14, 0.115, 0.07, 0.015, 0, 0, 1.6}, s);
  for (auto command : {&TGenDemWindow::CmOuvrirExperimental, &TGenDemWindow::CmCreerTable}) {
    QSignalSpy ended(&gen, &TGenDemWindow::jobFinished);
    ASSERT_TRUE((gen.*command)());
    ASSERT_TRUE(ended.count() > 0 || ended.wait(120000));
  }
  ASSERT_TRUE(host.Settings().ExpTableReady);

  TFitWindow fit(hub, [](TFitWindow::Start) { return Genes{}; });
  fit.StartChoice()->setCurrentIndex(static_cast<int>(TFitWindow::Start::kMachine));
  fit.IterationsEdit()->setText(QStringLiteral("40"));
  QSignalSpy ended(&fit, &TFitWindow::jobFinished);
  ASSERT_TRUE(fit.CmAjuster());
  ASSERT_TRUE(ended.count() > 0 || ended.wait(300000));
  ASSERT_TRUE(recorded.messages.empty()) << recorded.messages[0];
  ASSERT_TRUE(fit.Result().has_value());
  EXPECT_EQ(fit.Result()->end, FitEnd::kConverged);
  // Rs of the machine that made the record, 1.405 Ω, from 1.2.
  EXPECT_NEAR(fit.Result()->genes[kGeneRs], 1.405, 0.01);

  const QSize size(900, 560);
  fit.Tabs()->setCurrentIndex(0);  // the window ends on its result: the cost first
  const QImage cost = Shoot(fit, QStringLiteral("ajustement_cout"), size);
  EXPECT_GT(Colours(cost, cost.rect()), 10);
  fit.Tabs()->setCurrentIndex(1);
  auto* table = fit.findChild<QTableWidget*>(QStringLiteral("Parametres"));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->rowCount(), 8);
  Shoot(fit, QStringLiteral("ajustement_resultat"), size);
  fit.Tabs()->setCurrentIndex(2);
  const QImage paths = Shoot(fit, QStringLiteral("ajustement_trajectoires"), size);
  EXPECT_GT(Colours(paths, paths.rect()), 20) << "no trajectory drawn";

  // Then ten generations of the genetic algorithm from a drawn population, the best set
  // shown (its candidates go through the study's machine: the fit above came first).
  ApplyOverrides(host.MutableSettings(), ParseOverrides({"gA=200", "gt0=0.03"}));
  gen.seed_source = [] { return 7u; };
  ASSERT_TRUE(gen.CmRandomize());
  gen.TimesEdit()->setText(QStringLiteral("10"));
  QSignalSpy generations(&gen, &TGenDemWindow::jobFinished);
  ASSERT_TRUE(gen.CmRunT());
  ASSERT_TRUE(generations.count() > 0 || generations.wait(300000));
  ASSERT_TRUE(recorded.messages.empty()) << recorded.messages[0];
  EXPECT_EQ(gen.GenerationText().toStdString(), "10");
  gen.show();
  gen.ParamCheck()->setChecked(true);
  const QImage genetic = Shoot(gen, QStringLiteral("identification_ga"));
  EXPECT_GT(Colours(genetic, genetic.rect()), 10);
  ASSERT_NE(hub.ParamWindow(), nullptr);
  Shoot(*hub.ParamWindow(), QStringLiteral("identification_parametres"));
}

// "Régulateur &IP de vitesse": a population drawn, five generations, the result window.
TEST(GuidePictures, TuningOfTheIpSpeedRegulator) {
  const fs::path dir = ScratchDir("guide_tuning");
  const fs::path previous = fs::current_path();
  fs::current_path(dir);  // the tuning writes its logs in the current folder
  {
    TSimulWindow window;
    Recorded recorded(window);
    window.ReadStartupStudy(QString::fromStdString(ExamplePath("tuning_ip.mas")));
    ApplyOverrides(window.MutableSettings(), ParseOverrides({"tf=0.25", "dt=0.0001"}));
    auto* tuning = window.findChild<TuningWorkbench*>();
    ASSERT_NE(tuning, nullptr);
    tuning->seed_source = [] { return 7u; };
    for (const char* handler : {"CmOpenFenetreOptimisationW1", "CmInitRandomizeW1", "Cm5foisW1"}) {
      QAction* action = window.ActionFor(handler);
      ASSERT_NE(action, nullptr) << handler;
      ASSERT_TRUE(action->isEnabled()) << handler;
      QSignalSpy finished(tuning, &TuningWorkbench::seriesFinished);
      action->trigger();
      if (window.Busy()) {
        ASSERT_TRUE(finished.wait(300000)) << handler;
      }
      QApplication::processEvents();
    }
    ASSERT_TRUE(recorded.messages.empty()) << recorded.messages[0];
    TuningResultWindow* result = tuning->ResultWindow();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->ValueText("Gen").toStdString(), "5");
    EXPECT_EQ(result->Plot()->Points().size(), 5u);
    Shoot(*result, QStringLiteral("reglage_ip"));
  }
  fs::current_path(previous);
}

}  // namespace
}  // namespace mas::ui
