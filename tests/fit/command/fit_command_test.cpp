#include "cli/fit_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "files/number_format.h"
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
      {{"--step", "0"}, "rec.dat", kExitUsage, "pas relatif attendu entre 1e-12 et 0.1"},
      {{"--residuals", "tout"}, "rec.dat", kExitUsage, "residuals"},
      {{"--bootstrap", "0"}, "rec.dat", kExitUsage, "entre 1 et 10000"},
      {{"--bootstrap", "10001"}, "rec.dat", kExitUsage, "entre 1 et 10000"},
      {{"--init", "1e300,0.13,0.13,0.06,0.013,0,0,2"}, "rec.dat", kExitRefused, "absurde"},
      {{}, "aberrant.dat", kExitRefused, "aberrante"},
      {{}, "none.dat", kExitParameterFile, "introuvable"},
  };
  // One speed of 1e300 in the record is the record's fault, not the simulation's.
  // The middle row's speed (column 3) becomes 1e300; its time stays in order.
  std::string aberrant = ReadAll(Path("rec.dat"));
  const std::size_t line = aberrant.find('\n', aberrant.size() / 2) + 1;
  std::size_t speed = line;
  for (int column = 0; column < 3; ++column) speed = aberrant.find(' ', speed) + 1;
  aberrant.replace(speed, aberrant.find(' ', speed) - speed, "1e300");
  std::ofstream(Path("aberrant.dat")) << aberrant;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    platform_.messages.clear();
    err_.str("");
    EXPECT_EQ(Mas(Fit(c.args, c.record)), c.status);
    std::string said = err_.str();
    for (const auto& m : platform_.messages) said += m.text;
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    EXPECT_EQ(said.find("0.000000"), std::string::npos) << said;
    EXPECT_EQ(said.find("diverge"), std::string::npos) << said;
  }
}

TEST_F(MasIdentifyFit, TheJsonReportParsesAndSaysWhatTheTextSays) {
  ASSERT_EQ(Mas(Fit({"--init", "1.8,0.16,0.1,0.08,0.017,0,0,2.6", "--report", Path("fit.json")})),
            0)
      << err_.str();
  const std::string text = out_.str();
  EXPECT_NE(text.find("Rapport enregistré : " + Path("fit.json")), std::string::npos);
  // Python reads it, and lists each fitted parameter's numbers, the interval method and
  // the weights.
  const std::string script =
      "import json,sys\n"
      "d=json.load(open(sys.argv[1]))\n"
      "assert d['end']=='converged' and d['residuals']=='etat'\n"
      "n=len(d['parameters'])\n"
      "assert len(d['correlation'])==n and all(len(r)==n for r in d['correlation'])\n"
      "assert set(d['held'])=={'a10','a20'}\n"
      "for p in d['parameters']:\n"
      "  print(p['name'],repr(p['value']),repr(p['standard_error']),repr(p['lower95']),"
      "repr(p['upper95']),p['method'])\n"
      "print('weights',repr(d['weights']['speed_noise']),repr(d['weights']['current_noise']))\n"
      "print('rms',repr(d['rms']['speed']),repr(d['rms']['current']))\n"
      "print('method',d['interval_method']['text'])\n";
  std::ofstream(Path("read.py")) << script;
  const std::string command = "python3 " + Path("read.py") + " " + Path("fit.json");
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listed;
  char buf[512];
  while (fgets(buf, sizeof buf, pipe) != nullptr) listed += buf;
  ASSERT_EQ(pclose(pipe), 0) << listed;
  // Every number the text prints (6 digits, 3 for standard errors) is the JSON's.
  std::istringstream lines(listed);
  std::string name;
  int parameters = 0;
  auto six = [](double x, int digits) { return FormatG(x, digits); };
  while (lines >> name) {
    if (name == "weights") {
      double w = 0, i = 0;
      lines >> w >> i;
      EXPECT_NE(text.find("vitesse σ = " + six(w, 4) + " tr/mn"), std::string::npos) << text;
      EXPECT_NE(text.find("courant σ = " + six(i, 4) + " A"), std::string::npos) << text;
    } else if (name == "rms") {
      double w = 0, i = 0;
      lines >> w >> i;
      EXPECT_NE(text.find("vitesse " + six(w, 4) + " tr/mn"), std::string::npos) << text;
      EXPECT_NE(text.find("courant " + six(i, 4) + " A"), std::string::npos) << text;
    } else if (name == "method") {
      std::string rest;
      std::getline(lines, rest);
      EXPECT_NE(text.find("Intervalles      :" + rest), std::string::npos) << rest;
    } else {
      double value = 0, se = 0, lo = 0, hi = 0;
      std::string method;
      lines >> value >> se >> lo >> hi >> method;
      EXPECT_EQ(method, "newey-west");
      const std::string row = "  " + name;
      const std::size_t at = text.find("\n" + row + " ");
      ASSERT_NE(at, std::string::npos) << name;
      const std::string line = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
      EXPECT_NE(line.find(" " + six(value, 6) + " "), std::string::npos) << line;
      EXPECT_NE(line.find(" " + six(se, 3) + " "), std::string::npos) << line;
      EXPECT_NE(line.find("[" + six(lo, 6) + ", " + six(hi, 6) + "]"), std::string::npos) << line;
      ++parameters;
    }
  }
  EXPECT_EQ(parameters, 6);
}

TEST_F(MasIdentifyFit, BootstrapAndProfileTablesFollowTheDefaultOneAndReachTheJsonReport) {
  ASSERT_EQ(Mas(Fit({"--init", "1.5,0.13,0.12,0.07,0.014,0,0,2.2", "--seed", "3", "--bootstrap",
                     "20", "--profile", "--report", Path("fit.json")})),
            0)
      << err_.str() << out_.str();
  const std::string text = out_.str();
  EXPECT_NE(err_.str().find("bootstrap 20/20  itération 0"), std::string::npos);
  const std::size_t table = text.find("Paramètre  Valeur        Écart-type   Intervalle à 95 %");
  const std::size_t boot = text.find("\nIntervalles bootstrap (blocs mobiles, percentiles, ");
  const std::size_t profile = text.find("\nIntervalles de vraisemblance profilée\n");
  ASSERT_NE(table, std::string::npos) << text;
  ASSERT_NE(boot, std::string::npos) << text;
  ASSERT_NE(profile, std::string::npos) << text;
  EXPECT_LT(table, boot);
  EXPECT_LT(boot, profile);
  std::ofstream(Path("intervals.py"))
      << "import json,sys\n"
         "d=json.load(open(sys.argv[1]))\n"
         "b=d['bootstrap']\n"
         "assert b['method']=='moving-block' and b['requested']==20, b\n"
         "assert b['used']+b['diverged']+b['not_converged']==20, b\n"
         "assert [p['name'] for p in b['parameters']]==[p['name'] for p in d['parameters']]\n"
         "assert d['profile']['method']=='profile-likelihood'\n"
         "for p in b['parameters']:\n"
         "  assert p['lower95']<=p['upper95'] and p['method']=='bootstrap'\n"
         "  print(p['name'],repr(p['lower95']),repr(p['upper95']))\n";
  const std::string command = "python3 " + Path("intervals.py") + " " + Path("fit.json");
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listed;
  char buf[512];
  while (fgets(buf, sizeof buf, pipe) != nullptr) listed += buf;
  ASSERT_EQ(pclose(pipe), 0) << listed;
  // Each bootstrap interval of the JSON is the one printed under its heading.
  std::istringstream lines(listed);
  std::string name;
  double lo = 0.0;
  double hi = 0.0;
  int rows = 0;
  while (lines >> name >> lo >> hi) {
    const std::size_t at = text.find("\n  " + name + " ", boot);
    ASSERT_NE(at, std::string::npos) << name;
    const std::string line = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    EXPECT_NE(line.find("[" + FormatG(lo, 6) + ", " + FormatG(hi, 6) + "]"), std::string::npos)
        << line;
    ++rows;
  }
  EXPECT_EQ(rows, 6);
}

TEST_F(MasIdentifyFit, SeveralRecordsEachWithItsStudyAreFittedTogether) {
  // A second study (the start-up 20 ms shorter) with a copy of the record: the record read
  // with the main study and the copy with its own study.
  SimulationSettings other;
  other.ParamFileName = study_;
  ReadParameterFile(other, platform_, Path("echo.dat"));
  other.tf -= 0.02;
  WriteParameterFile(other, Path("other.mas"));
  std::ofstream(Path("rec2.dat")) << ReadAll(Path("rec.dat"));
  const std::string pair = Path("other.mas") + ":" + Path("rec2.dat");
  ASSERT_EQ(Mas(Fit({"--exp", pair, "--init", "1.8,0.16,0.1,0.08,0.017,0,0,2.6", "--report",
                     Path("fit.json"), "--save-best", Path("best.mas")})),
            0)
      << err_.str() << out_.str();
  const std::string out = out_.str();
  EXPECT_NE(out.find("  " + Path("rec.dat") + "  "), std::string::npos) << out;
  EXPECT_NE(out.find("  " + Path("rec2.dat") + "  "), std::string::npos) << out;
  EXPECT_NE(out.find("sur l'ensemble des enregistrements"), std::string::npos);
  // The second record is simulated with its own study: it stops 20 ms earlier.
  const std::string report = ReadAll(Path("fit.json"));
  std::ofstream(Path("records.py"))
      << "import json,sys\n"
         "d=json.load(open(sys.argv[1]))\n"
         "r=d['records']\n"
         "assert len(r)==2, r\n"
         "assert r[0]['record'].endswith('rec.dat') and r[1]['record'].endswith('rec2.dat')\n"
         "assert abs(r[0]['compared'][1]-r[1]['compared'][1]-0.02)<1e-9, r\n"
         "assert d['instants']==r[0]['instants']+r[1]['instants']\n"
         "assert all(x['rms']['speed']>0 and x['weights']['current_noise']>0 for x in r)\n";
  EXPECT_EQ(std::system(("python3 " + Path("records.py") + " " + Path("fit.json")).c_str()), 0)
      << report;
  SimulationSettings saved;
  saved.ParamFileName = Path("best.mas");
  ReadParameterFile(saved, platform_, Path("echo.dat"));
  EXPECT_NEAR(saved.dq.Rs, 1.405, 1e-3);
  EXPECT_NEAR(saved.tf, other.tf + 0.02, 1e-12);  // the main study is the one saved

  // What cannot be used is refused before anything runs, and named.
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;
  };
  const std::vector<Case> cases = {
      {{"--exp", ".mas:" + Path("rec2.dat")}, kExitUsage, "ETUDE.mas:FICHIER attendu"},
      {{"--exp", Path("other.mas") + ":"}, kExitUsage, "ETUDE.mas:FICHIER attendu"},
      {{"--exp", Path("other.mas") + ":" + Path("none.dat")}, kExitParameterFile, "none.dat"},
      {{"--exp", Path("none.mas") + ":" + Path("rec2.dat")}, kExitParameterFile, "none.mas"},
      {{"--exp", pair, "--report", Path("rec2.dat")}, kExitParameterFile, "rec2.dat"},
      {{"--exp", pair, "--save-best", Path("other.mas")}, kExitParameterFile, "other.mas"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    platform_.messages.clear();
    err_.str("");
    out_.str("");
    EXPECT_EQ(Mas(Fit(c.args)), c.status);
    std::string said = err_.str();
    for (const auto& m : platform_.messages) said += m.text;
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    EXPECT_EQ(out_.str().find("itération"), std::string::npos);
  }
}

TEST_F(MasIdentifyFit, AShorterRecordIsFittedOnItsSpanWithoutAnAlarm) {
  // The record ends at 0.1 s of a 0.15 s study: both comparisons fit its span, and the
  // machine's state stops the simulations there; nothing says "Interpolation impossible".
  std::istringstream full(ReadAll(Path("rec.dat")));
  std::string line;
  std::string shorter;
  while (std::getline(full, line)) {
    double t = 0.0;
    if (!shorter.empty() && std::istringstream(line) >> t && t > 0.1) break;
    shorter += line + "\n";
  }
  std::ofstream(Path("short.dat")) << shorter;
  for (const char* residuals : {"etat", "cout"}) {
    SCOPED_TRACE(residuals);
    platform_.messages.clear();
    out_.str("");
    const int status = Mas(Fit({"--init", "1.5,0.13,0.12,0.065,0.014,0,0,2.2", "--residuals",
                                residuals, "--max-iterations", "5"},
                               "short.dat"));
    EXPECT_EQ(status, 0) << err_.str();
    EXPECT_TRUE(platform_.messages.empty()) << platform_.messages.front().text;
    const std::string said = out_.str();
    EXPECT_EQ(said.find("Interpolation"), std::string::npos) << said;
    EXPECT_NE(said.find(std::string(residuals) == "etat" ? "Simulations arrêtées" : "plus court"),
              std::string::npos)
        << said;
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

TEST_F(MasIdentifyFit, CtrlCBeforeTheFirstPointStillSummarisesAndReports) {
  std::ofstream(Path("fit.json")) << "old";
  EscapeAfterLine watched("Graine");  // pressed as soon as the fit begins
  std::ostream out(&watched);
  WatchingPlatform platform(watched);
  CliEnvironment env{out, err_, platform, Path("rd_echo.dat")};
  EXPECT_EQ(MasMain(Fit({"--init", "1.8,0.16,0.1,0.08,0.017,0,0,2.6", "--save-best",
                         Path("best.mas"), "--report", Path("fit.json")}),
                    env),
            kExitInterrupted)
      << (platform.messages.empty() ? "" : platform.messages.front().text);
  EXPECT_NE(watched.str().find("interrompu par Ctrl-C"), std::string::npos) << watched.str();
  EXPECT_EQ(err_.str().find("itération"), std::string::npos) << err_.str();
  EXPECT_NE(ReadAll(Path("fit.json")).find("\"end\": \"interrupted\""), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("best.mas")));
}

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
