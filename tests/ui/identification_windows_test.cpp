#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/commands.h"
#include "cli/identify_command.h"
#include "files/parameter_file.h"
#include "identification/workbench.h"
#include "study_fixture.h"
#include "ui/cost_plot.h"
#include "ui/gen_dem_window.h"
#include "ui/gene_vector_dialog.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/param_window.h"

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

// A main window with its messages, dialogs and viewer recorded, and the workbenches of
// the identification writing their logs in a scratch folder.
struct Bench {
  explicit Bench(const std::string& name) : dir(ScratchDir(name)), hub(host), gen(hub, dir) {
    host.message_presenter = [this](const QString& t, const QString& c, MessageIcon i) {
      messages.push_back({t.toStdString(), c.toStdString(), i});
    };
    host.viewer_starter = [this](const QString& f) { viewers.push_back(f.toStdString()); };
    host.dialog_runner = [this](QDialog& d) { return dialog ? dialog(d) : QDialog::Rejected; };
    gen.seed_source = [] { return 7u; };
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
  template <class Command>
  bool Job(Command command, int timeout_ms = 300000) {
    QSignalSpy ended(&gen, &TGenDemWindow::jobFinished);
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
  EXPECT_EQ(b.gen.Plot()->Costs().size(), 2u);
  EXPECT_GE(b.gen.Plot()->Costs()[0], b.gen.Plot()->Costs()[1]);  // elitism

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
  EXPECT_EQ(FileText(b.dir / "Histor.cpp"), history);
  EXPECT_EQ(FileText(b.dir / "debgen.cpp"), FileText(cli_dir / "debgen.cpp"));
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
  b.gen.CmStop();
  ASSERT_TRUE(ended.wait(300000));
  // One message: the first generation ends at the interrupted candidate, and the nine
  // other repetitions are not started.
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_EQ(b.messages[0].text, kRunErrorMessage);
  EXPECT_EQ(b.gen.GenerationText(), "1");
  EXPECT_TRUE(b.gen.Plot()->Costs().empty());
  const std::string history = FileText(b.dir / "Histor.cpp");
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
      {"decimal comma",
       {{"Rs", "1,5"}},
       "'1,5' n'est pas une valeur en virgule flottante correcte"},
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

TEST(CostPlot, LaysTheCostsOutOnWholeDecadesAndSkipsTheUnplottable) {
  const QRectF area(10, 20, 100, 40);
  const CostPlotLayout l = LayOutCosts({1000.0, 0.0, 10.0, std::nan(""), 1.0}, area);
  EXPECT_EQ(l.low_decade, 0);
  EXPECT_EQ(l.high_decade, 3);
  ASSERT_EQ(l.points.size(), 3u);
  EXPECT_EQ(l.points[0], QPointF(10, 20));  // 1e3 at the top left
  EXPECT_DOUBLE_EQ(l.points[1].x(), 60.0);
  EXPECT_NEAR(l.points[1].y(), 60 - 40 / 3.0, 1e-9);  // 10: one decade up of three
  EXPECT_EQ(l.points[2], QPointF(110, 60));           // 1 at the bottom right
  // One cost: in the middle, on a decade of its own.
  const CostPlotLayout one = LayOutCosts({5e-7}, area);
  EXPECT_EQ(one.low_decade, -7);
  EXPECT_EQ(one.high_decade, -6);
  EXPECT_DOUBLE_EQ(one.points.at(0).x(), 60.0);
  EXPECT_TRUE(LayOutCosts({-1.0, HUGE_VAL}, area).points.empty());
}

}  // namespace
}  // namespace mas::ui
