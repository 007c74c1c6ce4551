#include "cli/fit_command.h"

#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "files/parameter_file.h"
#include "tests/cli/command_fixture.h"

namespace mas {
namespace {

std::string G(double x) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 17);
  return std::string(buf, r.ptr);
}

// A short start-up study, and its own start-up as the record, in a fresh folder.
class MasIdentifyFit : public testing::CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    study_ = WriteStudy({"Rs=1.405", "Rr=1.395",  "Ls=0.178039", "Lr=0.178039", "M=0.1722",
                         "p=2",      "J=0.0131",  "a30=2",       "Crsgn=1",     "tf=0.15",
                         "dt=1e-4",  "TMLI=1e-4", "OutStep=10",  "E2=326.6",    "fs=50",
                         "Wmt1=100", "Crt1=100",  "Rrt1=100",    "OutSel.Wm=1", "OutSel.Ias=1"});
    ASSERT_EQ(MasMain({"run", study_, "--set", "tf=0.16", "--set", "OutStep=5", "--output",
                       Path("start.dat")},
                      env_),
              0);
    std::ifstream table(Path("start.dat"));
    std::string line;
    std::getline(table, line);
    std::string record = "t a b N I\n";
    double t = 0, wm = 0, ias = 0;
    while (table >> t >> wm >> ias) record += G(t) + " 0 0 " + G(wm) + " " + G(ias) + "\n";
    std::ofstream(Path("rec.dat")) << record;
    out_.str("");
  }
  std::vector<std::string> Fit(std::vector<std::string> more,
                               const std::string& record = "rec.dat") const {
    std::vector<std::string> args = {
        "identify",   "fit",       study_,  "--exp",          Path(record), "--set",      "gA=200",
        "--set",      "gt0=0.01",  "--set", "CostFunction=0", "--set",      "GenX.a10=0", "--set",
        "GenX.a20=0", "--threads", "2"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  std::string study_;
};

TEST_F(MasIdentifyFit, FindsTheMachineSavesItAndWritesTheReport) {
  ASSERT_EQ(Mas(Fit({"--init", "1.8,0.16,0.1,0.08,0.017,0,0,2.6", "--save-best", Path("best.mas"),
                     "--report", Path("fit.txt")})),
            0)
      << err_.str() << out_.str();
  const std::string out = out_.str();
  EXPECT_NE(out.find("Fin              : convergence"), std::string::npos) << out;
  EXPECT_NE(out.find("a10      0  "), std::string::npos) << out;  // held
  EXPECT_NE(out.find("(tenu)"), std::string::npos);
  // One progress line per iteration on stderr.
  EXPECT_NE(err_.str().find("itération 0  coût"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("accepté"), std::string::npos);
  const std::string report = ReadAll(Path("fit.txt"));
  EXPECT_NE(report.find("Intervalle à 95 %"), std::string::npos);
  EXPECT_NE(out.find(report), std::string::npos);  // the report is the summary printed
  SimulationSettings saved;
  saved.ParamFileName = Path("best.mas");
  ReadParameterFile(saved, platform_, Path("echo.dat"));
  EXPECT_NEAR(saved.dq.Rs, 1.405, 1e-3);
  EXPECT_NEAR(saved.dq.Rr, 1.395, 1e-3);
  EXPECT_NEAR(saved.dq.J, 0.0131, 1e-5);
  EXPECT_NEAR(saved.dq.a30, 2.0, 1e-2);
}

TEST_F(MasIdentifyFit, SaysWhyItCannotStart) {
  struct Case {
    std::vector<std::string> args;
    std::string record;
    int status;
    const char* said;  // in the message shown, or on stderr
  };
  const std::vector<Case> cases = {
      {{"--init", "1,2,3"}, "rec.dat", kExitUsage, "huit réels"},
      {{"--init", "1.4,0.13,0.13,1,0.013,0,0,2"}, "rec.dat", kExitRefused, "sigma"},
      {{"--init", "1.4,0.13,0,0.06,0.013,0,0,2"}, "rec.dat", kExitRefused, "Tr"},
      {{"--set", "GenX=0"}, "rec.dat", kExitUsage, "GenX"},
      {{"--step", "0.5"}, "rec.dat", kExitUsage, "step"},
      {{}, "none.dat", kExitParameterFile, "introuvable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    platform_.messages.clear();
    err_.str("");
    EXPECT_EQ(Mas(Fit(c.args, c.record)), c.status);
    std::string said = err_.str();
    for (const auto& m : platform_.messages) said += m.text;
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
  }
}

// Ctrl-C as the user presses it: once the progress line of an iteration has been shown.
class EscapeAfterLine final : public std::stringbuf {
 public:
  explicit EscapeAfterLine(std::string line) : line_(std::move(line)) {}
  bool seen() const { return str().find(line_) != std::string::npos; }

 private:
  std::string line_;
};

class WatchingPlatform final : public RecordingPlatform {
 public:
  explicit WatchingPlatform(const EscapeAfterLine& err) : err_(err) {}
  bool EscapePressed() override { return err_.seen(); }

 private:
  const EscapeAfterLine& err_;
};

TEST_F(MasIdentifyFit, CtrlCKeepsTheBestPointAndStillSavesIt) {
  EscapeAfterLine watched("itération 2 ");
  std::ostream err(&watched);
  WatchingPlatform platform(watched);
  CliEnvironment env{out_, err, platform, Path("rd_echo.dat")};
  EXPECT_EQ(MasMain(Fit({"--init", "1.8,0.16,0.1,0.08,0.017,0,0,2.6", "--starts", "3", "--seed",
                         "1", "--save-best", Path("best.mas"), "--report", Path("fit.txt")}),
                    env),
            kExitInterrupted);
  EXPECT_EQ(watched.str().find("itération 3 "), std::string::npos) << watched.str();
  EXPECT_NE(out_.str().find("interrompu par Ctrl-C"), std::string::npos) << out_.str();
  EXPECT_TRUE(std::filesystem::exists(Path("best.mas")));
  EXPECT_TRUE(std::filesystem::exists(Path("fit.txt")));
}

}  // namespace
}  // namespace mas
