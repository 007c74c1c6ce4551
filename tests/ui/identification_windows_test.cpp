#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "cli/commands.h"
#include "cli/identify_command.h"
#include "files/parameter_file.h"
#include "fit/fit_report.h"
#include "identification/workbench.h"
#include "study_fixture.h"
#include "ui/fit_window.h"
#include "ui/gen_dem_window.h"
#include "ui/gene_vector_dialog.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/param_window.h"
#include "ui/particle_plane.h"
#include "ui/pso_dem_window.h"
#include "ui/tuning_cost_plot.h"

namespace mas::ui {
namespace {

using testing::ExamplePath;
using testing::ScratchDir;

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Shown {
  std::string text, caption;
  MessageIcon icon;
};

// The identification study shortened to 0.1 s, compared from 0.05 s on.
const std::vector<std::string> kShortStudy = {"tf=0.1", "gt0=0.05"};

std::filesystem::path Made(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  return dir;
}

// A main window with its messages, dialogs and viewer recorded, and the workbenches of
// the identification writing their logs in a scratch folder.
struct Bench {
  explicit Bench(const std::string& name)
      : dir(ScratchDir(name)), hub(host), gen(hub, Made(dir / "ga")), pso(hub, Made(dir / "pso")) {
    host.message_presenter = [this](const QString& t, const QString& c, MessageIcon i) {
      messages.push_back({t.toStdString(), c.toStdString(), i});
    };
    host.viewer_starter = [this](const QString& f) { viewers.push_back(f.toStdString()); };
    host.dialog_runner = [this](QDialog& d) { return dialog ? dialog(d) : QDialog::Rejected; };
    gen.seed_source = [] { return 7u; };
    pso.seed_source = [] { return 7u; };
  }

  // Reads the example study with the short time base and the example record.
  void ReadShortStudy() {
    ASSERT_TRUE(host.ReadStudy(QString::fromStdString(ExamplePath("identification.mas"))));
    host.MutableSettings().tf = 0.1;
    host.MutableSettings().gt0 = 0.05;
    host.MutableSettings().ExpNom = ExamplePath("dem1.dat");
    host.MutableSettings().OutFileName = (dir / "out.dat").string();
  }

  // Runs a command of the workbench that starts a job, and waits for the job's end.
  template <class Command, class Window = TGenDemWindow>
  bool Job(Command command, Window* window = nullptr, int timeout_ms = 300000) {
    Window* w = window;
    if constexpr (std::is_same_v<Window, TGenDemWindow>) {
      if (w == nullptr) w = &gen;
    }
    QSignalSpy ended(w, &Window::jobFinished);
    if (!command()) return false;
    return ended.count() > 0 || ended.wait(timeout_ms);
  }

  void PrepareTables() {
    ReadShortStudy();
    ASSERT_TRUE(Job([&] { return gen.CmOuvrirExperimental(); }));
    ASSERT_TRUE(Job([&] { return gen.CmCreerTable(); }));
    ASSERT_TRUE(host.Settings().ExpTableReady);
    ASSERT_TRUE(messages.empty()) << messages[0].text;
  }

  std::filesystem::path dir;
  TSimulWindow host;
  IdentificationHub hub;
  TGenDemWindow gen;
  TPsoDemWindow pso;
  std::vector<Shown> messages;
  std::vector<std::string> viewers;
  std::function<int(QDialog&)> dialog;
};

TEST(GeneticWorkbench, GenerationsFromTheWindowGiveThePopulationAndLogsOfMasIdentify) {
  Bench b("ga_vs_cli");
  b.PrepareTables();
  ASSERT_TRUE(b.gen.CmRandomize());
  b.gen.TimesEdit()->setText(QStringLiteral("2"));
  ASSERT_TRUE(b.Job([&] { return b.gen.CmRunT(); }));
  EXPECT_TRUE(b.messages.empty()) << b.messages[0].text;
  EXPECT_EQ(b.gen.GenerationText(), "2");
  EXPECT_EQ(b.gen.Plot()->Points().size(), 2u);
  EXPECT_GE(b.gen.Plot()->Points()[0].cost, b.gen.Plot()->Points()[1].cost);  // elitism

  const auto cli_dir = ScratchDir("ga_vs_cli_cli");
  std::ostringstream out, err;
  SilentPlatform platform;
  CliEnvironment env{out, err, platform, (cli_dir / "echo.dat").string()};
  IdentifyRequest r;
  r.study = ExamplePath("identification.mas");
  r.overrides = kShortStudy;
  r.experiment = ExamplePath("dem1.dat");
  r.iterations = 2;
  r.seed = 7;
  r.threads = 1;
  r.log_folder = cli_dir.string();
  ASSERT_EQ(IdentifyCommand(r, env), 0) << err.str();
  const std::string history = FileText(cli_dir / "Histor.cpp");
  EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 3);
  EXPECT_EQ(FileText(b.dir / "ga" / "Histor.cpp"), history);
  EXPECT_EQ(FileText(b.dir / "ga" / "debgen.cpp"), FileText(cli_dir / "debgen.cpp"));
  // The window's best is the command's best.
  EXPECT_NE(out.str().find("Rs " + FormatReal(b.gen.Optimiser().XOld[0][kGeneRs], 6)),
            std::string::npos)
      << out.str();

  // "Simule": the best in the machine, a run with the viewer, the measured columns beside.
  ASSERT_TRUE(b.Job([&] { return b.gen.CmSimule(); }));
  ASSERT_EQ(b.viewers.size(), 1u);
  EXPECT_EQ(b.host.Settings().dq.Rs, b.gen.Optimiser().XOld[0][kGeneRs]);
  const std::string table = FileText(b.dir / "out.dat");
  EXPECT_NE(table.substr(0, table.find('\n')).find("Exp"), std::string::npos)
      << table.substr(0, 200);
  EXPECT_EQ(b.host.Settings().OutSelExp, (std::array<int, kOutSelExpCount>{}));
}

TEST(GeneticWorkbench, GuardRefusesWithoutTablesAndAfterAStudyWithAnotherTimeBase) {
  Bench b("ga_guard");
  b.ReadShortStudy();
  ASSERT_TRUE(b.Job([&] { return b.gen.CmRun(); }));
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_EQ(b.messages[0].text, kStaleTablesMessage);
  EXPECT_EQ(b.messages[0].caption, "Erreur");
  EXPECT_EQ(b.gen.GenerationText(), "0");

  // Tables built, then a study with another end time is read: "Run" refuses again.
  b.messages.clear();
  ASSERT_TRUE(b.Job([&] { return b.gen.CmOuvrirExperimental(); }));
  ASSERT_TRUE(b.Job([&] { return b.gen.CmCreerTable(); }));
  ASSERT_TRUE(b.host.Settings().ExpTableReady);
  SimulationSettings longer = b.host.Settings();
  longer.tf = 0.2;
  const std::string other = (b.dir / "longer.mas").string();
  WriteParameterFile(longer, other);
  ASSERT_TRUE(b.host.ReadStudy(QString::fromStdString(other)));
  ASSERT_TRUE(b.Job([&] { return b.gen.CmRunT(); }));
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_EQ(b.messages[0].text, kStaleTablesMessage);
}

TEST(GeneticWorkbench, StopEndsTheGenerationAsAnInterruptedRunAndEndsRunT) {
  Bench b("ga_stop");
  b.PrepareTables();
  ASSERT_TRUE(b.gen.CmRandomize());
  QSignalSpy ended(&b.gen, &TGenDemWindow::jobFinished);
  ASSERT_TRUE(b.gen.CmRunT());
  EXPECT_FALSE(b.gen.CmRun());  // one job at a time
  EXPECT_TRUE(b.gen.findChild<QWidget*>(QStringLiteral("Stop"))->isEnabled());
  EXPECT_FALSE(b.pso.findChild<QWidget*>(QStringLiteral("Stop"))->isEnabled());
  EXPECT_FALSE(b.pso.findChild<QWidget*>(QStringLiteral("Run"))->isEnabled());
  b.gen.CmStop();
  ASSERT_TRUE(ended.wait(300000));
  // The first generation ends at the interrupted candidate, said in the status line (the
  // stop was asked for: no error box), and the nine other repetitions are not started.
  EXPECT_TRUE(b.messages.empty()) << b.messages[0].text;
  EXPECT_EQ(b.gen.statusBar()->currentMessage(), "Génération 1 arrêtée (Stop)");
  // The label names the last generation with data: the stopped one left none.
  EXPECT_EQ(b.gen.GenerationText(), "0");
  EXPECT_TRUE(b.gen.Plot()->Points().empty());
  const std::string history = FileText(b.dir / "ga" / "Histor.cpp");
  EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1);  // the header alone
  // The window is usable again.
  EXPECT_TRUE(b.gen.findChild<QWidget*>(QStringLiteral("Run"))->isEnabled());
}

TEST(GeneticWorkbench, InitialiseTakesTheEnteredVectorAndRefusesBadOnes) {
  Bench b("ga_init");
  std::map<std::string, std::string> typed;
  b.dialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<GeneVectorDialog*>(&d);
    if (dialog == nullptr) return int(QDialog::Rejected);
    for (const auto& [name, text] : typed) {
      d.findChild<QLineEdit*>(QString::fromStdString("IDC_" + name))
          ->setText(QString::fromStdString(text));
    }
    return int(QDialog::Accepted);
  };
  typed = {{"Gen", "4"},    {"Rs", "1.5"}, {"Ts", "0.12"}, {"Tr", "0.13"}, {"sigma", "0.05"},
           {"J", "0.0131"}, {"a10", "0"},  {"a20", "0"},   {"a30", "2"}};
  ASSERT_TRUE(b.gen.CmInitialise());
  EXPECT_EQ(b.gen.GenerationText(), "4");
  EXPECT_EQ(b.gen.Optimiser().XOld[54][kGeneTs], 0.12);
  EXPECT_DOUBLE_EQ(b.host.Settings().dq.Ls, 1.5 * 0.12);

  struct Case {
    const char* name;
    std::map<std::string, std::string> typed;
    std::string message;
  };
  const std::vector<Case> refused = {
      {"two decimal commas",
       {{"Rs", "1,5,2"}},
       "'1,5,2' n'est pas une valeur en virgule flottante correcte"},
      {"infinite gene", {{"J", "inf"}}, "'inf' n'est pas une valeur en virgule flottante correcte"},
      {"counter not an integer", {{"Gen", "2.5"}}, "'2.5' n'est pas une valeur entière correcte"},
      {"rotor time constant 0", {{"Tr", "0"}}, kTrZeroGenetic},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    b.messages.clear();
    typed = c.typed;
    EXPECT_FALSE(b.gen.CmInitialise());
    ASSERT_EQ(b.messages.size(), 1u);
    EXPECT_EQ(b.messages[0].text, c.message);
    EXPECT_EQ(b.gen.Optimiser().XOld[0][kGeneRs], 1.5);  // unchanged
  }
}

TEST(SwarmWorkbench, EpochsFromTheWindowGiveTheLogsOfMasIdentifyAndDrawTheMoves) {
  Bench b("pso_vs_cli");
  b.PrepareTables();
  b.pso.Field(QStringLiteral("N1"))->setText(QStringLiteral("2"));
  b.pso.Field(QStringLiteral("N2"))->setText(QStringLiteral("3"));
  ASSERT_TRUE(b.pso.CmMaJ());
  EXPECT_EQ(b.pso.statusBar()->currentMessage(), "N modifiés, réallocation de la mémoire");
  b.pso.Field(QStringLiteral("times"))->setText(QStringLiteral("3"));
  ASSERT_TRUE(b.Job([&] { return b.pso.CmRunT(); }, &b.pso));
  EXPECT_TRUE(b.messages.empty()) << b.messages[0].text;
  EXPECT_EQ(b.pso.EpochText(), "3");
  EXPECT_EQ(b.pso.GbestText().toStdString(), ExponentText(b.pso.Optimiser().gbest(), 8));
  ASSERT_EQ(b.pso.Plot()->Points().size(), 3u);
  EXPECT_GE(b.pso.Plot()->Points()[1].cost,
            b.pso.Plot()->Points()[2].cost);  // the global best only falls
  // The grid: one row per particle, 3 S + 3 columns with every gene optimised.
  ASSERT_EQ(b.pso.Grid()->rowCount(), 5);
  ASSERT_EQ(b.pso.Grid()->columnCount(), 27);
  EXPECT_EQ(b.pso.Grid()->horizontalHeaderItem(9)->text(), "V_Rs");
  EXPECT_EQ(b.pso.Grid()->item(4, 0)->text(), "4");
  // A position shows 6 significant digits; the whole value is in its tooltip.
  const QTableWidgetItem* rs = b.pso.Grid()->item(1, 1);
  const double whole = rs->toolTip().toDouble();
  EXPECT_LE(rs->text().size(), 12) << rs->text().toStdString();
  EXPECT_NEAR(rs->text().toDouble(), whole, 1e-5 * std::abs(whole));
  EXPECT_NE(rs->toolTip(), rs->text());
  // Moves were drawn, every one inside the plane's axes.
  const ParticlePlane* plane = b.pso.Plane();
  EXPECT_GE(plane->Moves().size(), 5u);
  const PlaneAxis ax = plane->AxisX();
  const PlaneAxis ay = plane->AxisY();
  for (const PlaneMove& m : plane->Moves()) {
    for (const QPointF& pt : {m.from, m.to}) {
      EXPECT_GE(pt.x(), ax.low);
      EXPECT_LE(pt.x(), ax.high);
      EXPECT_GE(pt.y(), ay.low);
      EXPECT_LE(pt.y(), ay.high);
    }
  }

  const auto cli_dir = ScratchDir("pso_vs_cli_cli");
  std::ostringstream out, err;
  SilentPlatform platform;
  CliEnvironment env{out, err, platform, (cli_dir / "echo.dat").string()};
  IdentifyRequest r;
  r.method = IdentifyRequest::Method::kSwarm;
  r.study = ExamplePath("identification.mas");
  r.overrides = kShortStudy;
  r.experiment = ExamplePath("dem1.dat");
  r.iterations = 3;
  r.seed = 7;
  r.threads = 1;
  r.n1 = 2;
  r.n2 = 3;
  r.log_folder = cli_dir.string();
  ASSERT_EQ(IdentifyCommand(r, env), 0) << err.str();
  const std::string best = FileText(cli_dir / "outbest.dat");
  EXPECT_EQ(std::count(best.begin(), best.end(), '\n'), 4);
  EXPECT_EQ(FileText(b.dir / "pso" / "outbest.dat"), best);
  EXPECT_EQ(FileText(b.dir / "pso" / "outTracix.dat"), FileText(cli_dir / "outTracix.dat"));

  // Timing one epoch: "Temps de calcul", seconds in exponent form.
  ASSERT_TRUE(b.Job([&] { return b.pso.CmTempsDeCalcul(); }, &b.pso));
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_EQ(b.messages[0].caption, "Temps de calcul");
  EXPECT_TRUE(b.messages[0].text.ends_with(" s")) << b.messages[0].text;
  EXPECT_EQ(b.pso.EpochText(), "4");
}

TEST(SwarmWorkbench, RefusesBadSwarmFieldsAndRunsOnlyWithTables) {
  Bench b("pso_fields");
  b.ReadShortStudy();
  ASSERT_TRUE(b.Job([&] { return b.pso.CmRun(); }, &b.pso));
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_EQ(b.messages[0].text, kStaleTablesMessage);
  EXPECT_EQ(b.pso.EpochText(), "0");

  struct Case {
    const char* field;
    const char* text;
    bool counts;  // "MàJ" (else "MAJ")
    std::string message;
  };
  const std::vector<Case> cases = {
      {"N1", "dix", true, "'dix' n'est pas une valeur entière correcte"},
      {"N2", "-1", true, ""},  // refused by the swarm itself, with its own message
      {"w2", "nan", false, "'nan' n'est pas une valeur en virgule flottante correcte"},
      {"pincrement", "0,5,1", false, "'0,5,1' n'est pas une valeur en virgule flottante correcte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    b.messages.clear();
    QLineEdit* edit = b.pso.Field(QString::fromUtf8(c.field));
    const QString kept = edit->text();
    edit->setText(QString::fromUtf8(c.text));
    EXPECT_FALSE(c.counts ? b.pso.CmMaJ() : b.pso.CmMAJ());
    ASSERT_EQ(b.messages.size(), 1u);
    if (!c.message.empty()) {
      EXPECT_EQ(b.messages[0].text, c.message);
    }
    EXPECT_EQ(b.pso.Optimiser().Particles(), 20);
    EXPECT_EQ(b.pso.Optimiser().w2, 1.01);
    edit->setText(kept);
  }
}

// A workbench closed while its generations or epochs run stops them and waits, before its
// optimiser goes, for the job to let go of it; a second start refused meanwhile must not
// release the job's claim. The sanitizer build catches any use of the freed optimiser.
TEST(IdentificationWorkbench, DestroyedMidJobStopsAndWaitsForItsJob) {
  Bench b("destroyed_mid_job");
  b.PrepareTables();
  auto run_then_destroy = [&](std::unique_ptr<IdentificationWorkbench> window) {
    QSignalSpy busy(&b.host, &TSimulWindow::busyChanged);
    ASSERT_TRUE(window->CmRunT());
    EXPECT_FALSE(window->CmRun());
    window.reset();
    while (b.host.Busy()) ASSERT_TRUE(busy.wait(300000));
    EXPECT_TRUE(b.messages.empty()) << b.messages[0].text;
  };
  auto gen = std::make_unique<TGenDemWindow>(b.hub, Made(b.dir / "ga_closed"));
  gen->seed_source = [] { return 7u; };
  ASSERT_TRUE(gen->CmRandomize());
  run_then_destroy(std::move(gen));
  // The generation under way was interrupted and "RunT" went no further.
  const std::string history = FileText(b.dir / "ga_closed" / "Histor.cpp");
  EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1);  // the header alone

  run_then_destroy(std::make_unique<TPsoDemWindow>(b.hub, Made(b.dir / "pso_closed")));
  // The windows of the bench are usable again.
  EXPECT_TRUE(b.gen.findChild<QWidget*>(QStringLiteral("Run"))->isEnabled());
}

TEST(SwarmDrawing, LinesColoursAndGridFollowTheSwarm) {
  const std::vector<Genes> X = {{1.0, 2.0, 0, 0, 0, 0, 0, 0},
                                {-0.51, 0.0, 3.0, 0, 0, 0, 0, 0},
                                {std::nan(""), 0, 0, 0, 0, 0, 0, 0},
                                {1e300, 0, 0, 0, 0, 0, std::numeric_limits<double>::infinity(), 0}};
  const std::vector<Genes> V = {{0.5, -1.0, 0, 0, 0, 0, 0, 0},
                                {0.0, 0.0, 1.0, 0, 0, 0, 0, 0},
                                {0, 0, 0, 0, 0, 0, 0, 0},
                                {0, 0, 0, 0, 0, 0, 0, 0}};
  const std::vector<PlaneMove> moves = ParticleMoves(X, V);
  ASSERT_EQ(moves.size(), 3u);  // no move for a particle without finite coordinates
  EXPECT_EQ(moves[0].from, QPointF(1.0, 2.0));
  EXPECT_EQ(moves[0].to, QPointF(1.5, 1.0));
  EXPECT_EQ(moves[1].colour, ParticleColour(1));
  // Another plane: Ts across, Tr up.
  EXPECT_EQ(ParticleMoves(X, V, kGeneTs, kGeneTr)[1].to, QPointF(0.0, 4.0));
  EXPECT_EQ(ParticleMoves(X, V, kGeneTs, kGeneTr).size(), 4u);   // Rs's NaN and 1e300 unused
  EXPECT_EQ(ParticleMoves(X, V, kGeneTs, kGeneA20).size(), 3u);  // a20 of particle 3 infinite

  // The axes are scaled to the values on round graduations that enclose them.
  const PlaneAxis axis = ScaleAxis({-0.51, 1.5, 1.0, std::nan("")});
  EXPECT_LE(axis.low, -0.51);
  EXPECT_GE(axis.high, 1.5);
  EXPECT_GT(axis.low, -1.01);
  EXPECT_LT(axis.high, 2.01);
  ASSERT_GE(axis.ticks.size(), 3u);
  EXPECT_EQ(axis.ticks.front(), axis.low);
  EXPECT_NEAR(axis.ticks.back(), axis.high, 1e-12);
  const PlaneAxis tiny = ScaleAxis({1e-4, 3e-4});  // a tight cloud fills the plane
  EXPECT_GE(tiny.high - tiny.low, 2e-4);
  EXPECT_LE(tiny.high - tiny.low, 4e-4);
  EXPECT_EQ(ScaleAxis({}).low, -1.0);
  const PlaneAxis single = ScaleAxis({5.0});
  EXPECT_LT(single.low, 5.0);
  EXPECT_GT(single.high, 5.0);
  const QRectF area(10, 20, 200, 100);
  const PlaneAxis unit{0, 1, {0, 1}};
  EXPECT_EQ(ToArea({0, 0}, unit, unit, area), QPointF(10, 120));  // y upwards
  EXPECT_EQ(ToArea({1, 1}, unit, unit, area), QPointF(210, 20));

  // i 10000 as 0x00BBGGRR, modulo 2^24.
  EXPECT_EQ(ParticleColour(0), QColor(0, 0, 0));
  EXPECT_EQ(ParticleColour(1), QColor(0x10, 0x27, 0x00));
  EXPECT_EQ(ParticleColour(7), QColor(0x70, 0x11, 0x01));     // 70000 = 0x011170
  EXPECT_EQ(ParticleColour(1678), QColor(0xE0, 0x0A, 0x00));  // 16780000 - 2^24 = 0x000AE0

  std::array<bool, NGenes> none{};
  EXPECT_EQ(SwarmGridHeader(none), (std::vector<std::string>{"particle", "Eval", "pbest"}));
  std::array<bool, NGenes> two{};
  two[kGeneTr] = two[kGeneA30] = true;
  EXPECT_EQ(SwarmGridHeader(two),
            (std::vector<std::string>{"particle", "Tr", "a30", "V_Tr", "V_a30", "Eval", "pbest",
                                      "pbest_Tr", "pbest_a30"}));
  const Genes x = {9, 9, 0.125, 9, 9, 9, 9, 2};
  const Genes v = {9, 9, -0.5, 9, 9, 9, 9, 0};
  const Genes best = {9, 9, 0.1, 9, 9, 9, 9, 1e-7};
  EXPECT_EQ(SwarmGridRow(3, x, v, 1234.5678, 1e50, best, two),
            (std::vector<std::string>{"3", "0.125", "2", "-0.5", "0", "1.235e+03", "1.000e+50",
                                      "0.1", "1e-07"}));
}

TEST(ParamWindow, ShowsTheBestAndTheMachineItMapsToAndFollowsTheCheckBoxes) {
  Bench b("param_window");
  EXPECT_FALSE(b.hub.ParamWindowExists());
  b.gen.show();
  b.gen.ParamCheck()->click();
  ASSERT_TRUE(b.hub.ParamWindowExists());
  TParamWindow* w = b.hub.ParamWindow();
  w->ShowGenes({2.0, 0.1, 0.25, 0.19, 0.01, 1e-5, 0.0, 2.0});
  EXPECT_EQ(w->ValueText(kGeneRs), "2");
  EXPECT_EQ(w->ValueText(kGeneA10), "1e-05");
  EXPECT_EQ(w->MachineText(0), "2");     // Rs
  EXPECT_EQ(w->MachineText(2), "0.2");   // Ls = Rs Ts
  EXPECT_EQ(w->MachineText(1), "0.8");   // Rr = Ls / Tr
  EXPECT_EQ(w->MachineText(4), "0.18");  // M = Ls sqrt(1 - sigma)
  // Fifteen-digit values fit their fields with six digits; the whole value is at hand.
  w->ShowGenes(
      {0.475335778781038, 0.126719438877756, 0.25, 0.0645272791, 0.01, 7.43391376975e-4, 0.0, 2.0});
  EXPECT_EQ(w->ValueText(kGeneRs), "0.475336");
  EXPECT_EQ(w->ValueText(kGeneA10), "0.000743391");
  EXPECT_EQ(w->findChild<QLineEdit*>(QStringLiteral("IDC_Rs"))->toolTip(), "0.475335778781038");
  w->ShowGenes({2.0, 0.1, 0.0, 1.5, 0.01, 0.0, 0.0, 0.0});
  EXPECT_EQ(w->MachineText(1), "—");  // no rotor resistance for Tr = 0
  EXPECT_EQ(w->MachineText(4), "—");  // nor a mutual inductance for sigma > 1

  // Closed by its frame: hidden, kept, the box unticked; ticked again: the same window.
  w->close();
  EXPECT_TRUE(b.hub.ParamWindowExists());
  EXPECT_FALSE(b.gen.ParamCheck()->isChecked());
  b.gen.ParamCheck()->click();
  EXPECT_EQ(b.hub.ParamWindow(), w);
  EXPECT_TRUE(w->isVisible());
  // Unticked: destroyed.
  b.gen.ParamCheck()->click();
  EXPECT_FALSE(b.hub.ParamWindowExists());
}

TEST(FitWindow, FitsFromTheStudysMachineShowsIntervalsAndStops) {
  Bench b("fit");
  TFitWindow fit(b.hub, [&](TFitWindow::Start) { return b.gen.Optimiser().XOld[0]; });
  b.ReadShortStudy();
  // Without tables: the optimisers' guard.
  ASSERT_TRUE(b.Job([&] { return fit.CmAjuster(); }, &fit));
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_EQ(b.messages[0].text, kStaleTablesMessage);
  EXPECT_FALSE(fit.Result().has_value());

  b.messages.clear();
  b.PrepareTables();
  auto& genx = b.host.MutableSettings().GenX;
  genx.fill(false);
  genx[kGeneRs] = genx[kGeneTr] = genx[kGeneJ] = true;
  const double rs_before = b.host.Settings().dq.Rs;
  fit.StartChoice()->setCurrentIndex(static_cast<int>(TFitWindow::Start::kMachine));
  fit.IterationsEdit()->setText(QStringLiteral("3"));
  ASSERT_TRUE(b.Job([&] { return fit.CmAjuster(); }, &fit));
  ASSERT_TRUE(fit.Result().has_value());
  const FitResult& r = *fit.Result();
  ASSERT_TRUE(r.end == FitEnd::kConverged || r.end == FitEnd::kIterationLimit) << r.message;
  // One point per accepted iteration: the cost plotted never rises within a start.
  const auto& points = fit.Plot()->Points();
  ASSERT_FALSE(points.empty());
  for (std::size_t i = 1; i < points.size(); ++i) EXPECT_LE(points[i].cost, points[i - 1].cost);
  EXPECT_TRUE(fit.ProgressText().contains("itération")) << fit.ProgressText().toStdString();
  ASSERT_TRUE(b.hub.ParamWindowExists());
  TParamWindow* w = b.hub.ParamWindow();
  EXPECT_EQ(w->ValueText(kGeneRs).toStdString(), FormatReal(r.genes[kGeneRs], 6));
  EXPECT_TRUE(w->IntervalText(kGeneRs).startsWith("[")) << w->IntervalText(kGeneRs).toStdString();
  EXPECT_TRUE(w->IntervalText(kGeneJ).startsWith("["));
  EXPECT_EQ(w->IntervalText(kGeneTs), "tenu");
  // The window's own result: one row per optimised parameter, its interval read back holds
  // the fitted value, and the method is named.
  QTableWidget* table = fit.ParameterTable();
  ASSERT_EQ(table->rowCount(), static_cast<int>(r.parameters.size()));
  ASSERT_EQ(r.parameters.size(), 3u);
  ASSERT_TRUE(r.statistics);
  for (int row = 0; row < table->rowCount(); ++row) {
    const FittedParameter& p = r.parameters[static_cast<std::size_t>(row)];
    SCOPED_TRACE(kGeneNames[static_cast<std::size_t>(p.gene)]);
    EXPECT_EQ(table->item(row, 0)->text().toStdString(),
              kGeneNames[static_cast<std::size_t>(p.gene)]);
    const QString interval = table->item(row, 3)->text();
    ASSERT_TRUE(interval.startsWith('[') && interval.endsWith(']')) << interval.toStdString();
    const QStringList bounds = interval.mid(1, interval.size() - 2).split(QStringLiteral(", "));
    ASSERT_EQ(bounds.size(), 2);
    EXPECT_NEAR(bounds[0].toDouble(), p.lower95, 1e-5 * std::fabs(p.lower95));
    EXPECT_NEAR(bounds[1].toDouble(), p.upper95, 1e-5 * std::fabs(p.upper95));
    EXPECT_LE(bounds[0].toDouble(), table->item(row, 1)->text().toDouble());
    EXPECT_GE(bounds[1].toDouble(), table->item(row, 1)->text().toDouble());
    EXPECT_EQ(table->item(row, 4)->text(), "Newey-West");
  }
  // The texts the command line prints: the method, the weights, the identifiability.
  const QString summary = fit.SummaryText();
  EXPECT_TRUE(summary.contains(ToQString(IntervalMethodText(r)))) << summary.toStdString();
  EXPECT_TRUE(summary.contains(ToQString(FitWeightsText(r)))) << summary.toStdString();
  for (const std::string& line : IdentifiabilityLines(r)) {
    EXPECT_TRUE(summary.contains(ToQString(line))) << line;
  }
  // The curves: one point per compared instant, the fitted speed and current rebuilt from
  // the residuals agree with the rms the fit reports.
  const FitCurves& curves = fit.CurvesPlot()->Curves();
  EXPECT_EQ(fit.CurvesPlot()->Instants(), r.instants);
  ASSERT_EQ(curves.fitted_speed.size(), curves.times.size());
  ASSERT_EQ(curves.fitted_current.size(), curves.times.size());
  ASSERT_FALSE(curves.times.empty());
  EXPECT_DOUBLE_EQ(curves.times.front(), r.compared_first);
  EXPECT_DOUBLE_EQ(curves.times.back(), r.compared_last);
  double sum_w = 0.0;
  double sum_i = 0.0;
  for (std::size_t k = 0; k < curves.times.size(); ++k) {
    sum_w += std::pow(curves.measured_speed[k] - curves.fitted_speed[k], 2);
    sum_i += std::pow(curves.measured_current[k] - curves.fitted_current[k], 2);
  }
  const double n = static_cast<double>(curves.times.size());
  EXPECT_NEAR(std::sqrt(sum_w / n), r.speed_rms, 1e-6 * r.speed_rms + 1e-12);
  EXPECT_NEAR(std::sqrt(sum_i / n), r.current_rms, 1e-6 * r.current_rms + 1e-12);
  // Not in the machine until asked for.
  EXPECT_EQ(b.host.Settings().dq.Rs, rs_before);
  ASSERT_TRUE(fit.CmAppliquer());
  EXPECT_EQ(b.host.Settings().dq.Rs, r.genes[kGeneRs]);
  // An optimiser's best shown afterwards has no intervals.
  b.hub.UpdateParamWindow(b.gen.Optimiser().XOld[0]);
  EXPECT_EQ(w->IntervalText(kGeneRs), "");

  // "Stop" at once: the fit ends at its first iteration with the best point so far.
  QSignalSpy ended(&fit, &TFitWindow::jobFinished);
  fit.IterationsEdit()->setText(QStringLiteral("50"));
  ASSERT_TRUE(fit.CmAjuster());
  fit.CmStop();
  ASSERT_TRUE(ended.wait(300000));
  EXPECT_EQ(fit.Result()->end, FitEnd::kInterrupted);
  EXPECT_EQ(fit.statusBar()->currentMessage(), "Ajustement arrêté (Stop) : meilleur point atteint");
  EXPECT_TRUE(b.messages.empty()) << b.messages[0].text;
}

// Every label and button of a window is as wide as its text needs.
void ExpectNothingCut(QWidget& window) {
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_GE(w->width(), w->sizeHint().width()) << label->text().toStdString();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_GE(w->width(), w->sizeHint().width()) << button->text().toStdString();
    }
  }
}

TEST(Screenshots, OfTheIdentificationWindows) {
  const QString dir = testing::ScreenshotDir();
  Bench b("screenshots");
  b.PrepareTables();
  ASSERT_TRUE(b.gen.CmRandomize());
  b.gen.TimesEdit()->setText(QStringLiteral("3"));
  ASSERT_TRUE(b.Job([&] { return b.gen.CmRunT(); }));
  ASSERT_TRUE(b.pso.CmRandomize(false));
  b.pso.Field(QStringLiteral("times"))->setText(QStringLiteral("4"));
  ASSERT_TRUE(b.Job([&] { return b.pso.CmRunT(); }, &b.pso));
  ASSERT_TRUE(b.messages.empty()) << b.messages[0].text;

  b.gen.show();
  b.gen.ParamCheck()->click();
  b.pso.show();
  QApplication::processEvents();
  for (QWidget* w : std::initializer_list<QWidget*>{&b.gen, &b.pso, b.hub.ParamWindow()}) {
    SCOPED_TRACE(w->objectName().toStdString());
    ExpectNothingCut(*w);
    EXPECT_TRUE(w->grab().save(dir + "/" + w->objectName() + ".png"));
  }
  b.gen.OptionsMenu()->popup(QPoint(0, 0));
  QApplication::processEvents();
  EXPECT_TRUE(b.gen.OptionsMenu()->grab().save(dir + "/TGenDemWindow_Options.png"));
  b.gen.OptionsMenu()->hide();
  b.pso.OptionsMenu()->popup(QPoint(0, 0));
  QApplication::processEvents();
  EXPECT_TRUE(b.pso.OptionsMenu()->grab().save(dir + "/TPsoDemWindow_Options.png"));
  b.pso.OptionsMenu()->hide();
  // The trajectory fit from the genetic algorithm's best, and its intervals.
  TFitWindow fit(b.hub, [&](TFitWindow::Start) { return b.gen.Optimiser().XOld[0]; });
  fit.IterationsEdit()->setText(QStringLiteral("4"));
  ASSERT_TRUE(b.Job([&] { return fit.CmAjuster(); }, &fit));
  fit.show();
  b.hub.ParamWindow()->adjustSize();
  QApplication::processEvents();
  ExpectNothingCut(fit);
  ExpectNothingCut(*b.hub.ParamWindow());
  EXPECT_TRUE(fit.grab().save(dir + "/TFitWindow.png"));
  // Each tab of the result: the cost, the parameter table, the trajectories.
  for (int tab = 0; tab < fit.Tabs()->count(); ++tab) {
    fit.Tabs()->setCurrentIndex(tab);
    QApplication::processEvents();
    ExpectNothingCut(fit);
    EXPECT_TRUE(fit.grab().save(dir + "/TFitWindow_" + QString::number(tab) + ".png"));
  }
  EXPECT_TRUE(b.hub.ParamWindow()->grab().save(dir + "/TParamWindow_Ajustement.png"));
  for (auto kind : {GeneVectorDialog::Kind::kGenetic, GeneVectorDialog::Kind::kSwarm}) {
    GeneVectorDialog dialog(kind, 3, b.gen.Optimiser().XOld[0]);
    dialog.show();
    QApplication::processEvents();
    ExpectNothingCut(dialog);
    EXPECT_TRUE(dialog.grab().save(dir + "/" + dialog.objectName() + ".png"));
  }
}

}  // namespace
}  // namespace mas::ui
