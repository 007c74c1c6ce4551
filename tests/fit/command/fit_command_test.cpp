#include "cli/fit_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "files/parameter_file.h"
#include "tests/cli/start_up_record.h"

namespace mas {
namespace {

// The start-up study and its record, in a fresh folder.
class MasIdentifyFit : public testing::StartUpRecordTest {
 protected:
  void SetUp() override {
    StartUpRecordTest::SetUp();
    WriteStartUp("0.15", "0.16", 10);
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
