#include "cli/identify_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "files/parameter_file.h"
#include "tests/cli/start_up_record.h"

namespace mas {
namespace {

namespace fs = std::filesystem;

// The start-up study and its record, in a fresh folder.
class MasIdentify : public testing::StartUpRecordTest {
 protected:
  void SetUp() override {
    StartUpRecordTest::SetUp();
    WriteStartUp("0.05", "0.06");
  }
  int Mas(std::vector<std::string> args) {
    args.insert(args.end(), {"--exp", Path("rec.dat"), "--logs", dir_.string()});
    return MasMain(args, env_);
  }
  static std::string Read(const fs::path& p) { return ReadAll(p); }
};

TEST_F(MasIdentify, GeneticRunPrintsEachGenerationWritesItsLogsAndSavesTheBest) {
  ASSERT_EQ(Mas({"identify", "ga", study_, "--generations", "2", "--seed", "5", "--threads", "2",
                 "--set", "gA=200", "--set", "gt0=0.01", "--save-best", Path("best.mas")}),
            0)
      << err_.str();
  const std::string out = out_.str();
  EXPECT_NE(out.find("Graine 5, 2 fils"), std::string::npos) << out;
  EXPECT_NE(out.find("génération 1  fitness "), std::string::npos) << out;
  EXPECT_NE(out.find("génération 2  fitness "), std::string::npos) << out;
  const std::string history = Read(dir_ / "Histor.cpp");
  EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 3);
  EXPECT_EQ(Read(dir_ / "debgen.cpp").rfind("Gen° 2\n", 0), 0u);

  // The saved study holds the best set in its machine fields (five digits).
  SimulationSettings best;
  best.ParamFileName = Path("best.mas");
  ReadParameterFile(best, platform_, Path("echo2.dat"));
  const std::size_t at = out.find("Meilleur jeu :  Rs ");
  ASSERT_NE(at, std::string::npos);
  const double rs = std::stod(out.substr(at + 19));
  EXPECT_NEAR(best.dq.Rs, rs, rs * 1e-4);
  EXPECT_EQ(best.dq.Lr, best.dq.Ls);

  // The same seed on one thread gives the same lines and logs.
  auto generations = [](const std::string& text) {
    const std::size_t from = text.find("génération 1");
    return text.substr(from, text.find('\n', text.find("Meilleur jeu")) - from);
  };
  const std::string lines = generations(out);
  out_.str("");
  ASSERT_EQ(Mas({"identify", "ga", study_, "--generations", "2", "--seed", "5", "--threads", "1",
                 "--set", "gA=200", "--set", "gt0=0.01"}),
            0);
  EXPECT_EQ(generations(out_.str()), lines);
  EXPECT_EQ(Read(dir_ / "Histor.cpp"), history);
}

TEST_F(MasIdentify, InitialVectorHeldGenesAndTheBestSetsRun) {
  ASSERT_EQ(Mas({"identify", "ga", study_, "--generations", "3", "--seed", "1", "--init",
                 "1.3,0.13,0.12,0.07,0.014,0.0001,0,1.5", "--set", "GenX.a10=0", "--simulate-best",
                 "--set", "OutFileName=" + Path("best.dat")}),
            0)
      << err_.str();
  // a10 is held at its initial value, a20 starts at 0 and stays there.
  EXPECT_NE(out_.str().find("génération 3"), std::string::npos);
  EXPECT_NE(out_.str().find("a10 0.0001  a20 0  a30"), std::string::npos) << out_.str();
  // The best set's run writes its output table.
  EXPECT_NE(out_.str().find("Simulation du meilleur jeu : " + Path("best.dat")), std::string::npos);
  EXPECT_EQ(Read(Path("best.dat")).rfind("time(s)", 0), 0u);
}

TEST_F(MasIdentify, ParticleSwarmRunPrintsEachEpochAndLogsIt) {
  ASSERT_EQ(Mas({"identify", "pso", study_, "--epochs", "2", "--n1", "2", "--n2", "3", "--seed",
                 "3", "--pincrement", "0.5", "--gincrement", "1.5", "--w1", "0.7", "--w2", "0.9"}),
            0)
      << err_.str();
  EXPECT_NE(out_.str().find("époque 0  gbest "), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("époque 1  gbest "), std::string::npos) << out_.str();
  const std::string best = Read(dir_ / "outbest.dat");
  EXPECT_EQ(std::count(best.begin(), best.end(), '\n'), 3);
  EXPECT_EQ(best.rfind("Epoch \tEval \tgbest \tRs \t", 0), 0u);

  // From a guess: scored first as the global best, which the later epochs can only improve.
  out_.str("");
  ASSERT_EQ(Mas({"identify", "pso", study_, "--epochs", "3", "--n1", "2", "--n2", "2", "--seed",
                 "3", "--init", "1.4,0.127,0.128,0.0645,0.0131,0,0,2"}),
            0)
      << err_.str();
  const std::string out = out_.str();
  ASSERT_NE(out.find("départ  gbest "), std::string::npos) << out;
  const double start = std::stod(out.substr(out.find("départ  gbest ") + 15));
  const std::size_t last = out.find("époque 2  gbest ");
  ASSERT_NE(last, std::string::npos) << out;
  EXPECT_LE(std::stod(out.substr(last + 16)), start);
  // The logs start with the swarm drawn around the guess: a header and three epochs.
  const std::string logged = Read(dir_ / "outbest.dat");
  EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 4);
}

TEST_F(MasIdentify, FailuresEndWithTheirDocumentedStatus) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {"malformed initial vector", {"identify", "ga", study_, "--init", "1,2,3"}, 2},
      {"nine values for eight genes", {"identify", "ga", study_, "--init", "1,2,3,4,5,6,7,8,9"}, 2},
      {"unknown --set", {"identify", "ga", study_, "--set", "Nope=1"}, 2},
      {"no method", {"identify", study_}, 2},
      {"no particle", {"identify", "pso", study_, "--n1", "0", "--n2", "0"}, 2},
      {"Tr = 0 in the initial vector",
       {"identify", "ga", study_, "--init", "1,0.1,0,0.05,0.01,0,0,1"},
       3},
      {"no supply period for the current window", {"identify", "ga", study_, "--set", "fs=0"}, 3},
      {"study missing", {"identify", "ga", Path("absent.mas")}, 1},
      // Nothing would be scored: the saved "best" set would be a random draw.
      {"best of no generation",
       {"identify", "ga", study_, "--generations", "0", "--save-best", Path("b.mas")},
       2},
      {"best of no epoch",
       {"identify", "pso", study_, "--epochs", "0", "--save-best", Path("b.mas")},
       2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Mas(c.args), c.status) << c.what << "\n" << err_.str();
  }
  EXPECT_EQ(
      MasMain({"tune", "ip", study_, "--generations", "0", "--save-best", Path("b.mas")}, env_), 2);
  EXPECT_FALSE(fs::exists(Path("b.mas")));
  // The exit statuses are documented in the help.
  EXPECT_EQ(MasMain({"identify", "pso", "--help"}, env_), 0);
  EXPECT_NE(out_.str().find("130  interrompue par Ctrl-C"), std::string::npos);
  // A record that cannot be read.
  EXPECT_EQ(
      MasMain({"identify", "ga", study_, "--exp", Path("absent.dat"), "--logs", dir_.string()},
              env_),
      1);
  EXPECT_EQ(platform_.messages.back().text.rfind("Fichier : " + Path("absent.dat") +
                                                     " introuvable\nFichier expérimental " +
                                                     Path("absent.dat") + " absent ou illisible.",
                                                 0),
            0u)
      << platform_.messages.back().text;
}

// A record that cannot be fitted whole ends the command with 1 before anything is
// optimised or written, whatever it is: a bad word, times going back, a pipe nobody writes
// into (never waited on), a device.
TEST_F(MasIdentify, RecordsThatCannotBeReadWholeEndWithOne) {
  const std::string rows = Read(Path("rec.dat"));
  std::string nan_record = rows;
  nan_record.replace(nan_record.find('\n', nan_record.size() / 2) + 1, 1, "nan ");
  std::ofstream(Path("nan.dat")) << nan_record;
  std::ofstream(Path("back.dat")) << "t a b N I\n0 0 0 0 0\n0.001 0 0 1 1\n0.0005 0 0 2 2\n";
  ASSERT_EQ(::mkfifo(Path("fifo.dat").c_str(), 0600), 0);
  struct Case {
    std::string record;
    const char* first_line;
  };
  const Case cases[] = {{Path("nan.dat"), "Nombre fini attendu, lu « nan"},
                        {Path("back.dat"), "Temps non croissant ligne 4 de "},
                        {Path("fifo.dat"), "Fichier : "},
                        {"/dev/zero", "Fichier : /dev/zero n'est pas un fichier ordinaire"}};
  for (const Case& c : cases) {
    platform_.messages.clear();
    out_.str("");
    EXPECT_EQ(MasMain({"identify", "ga", study_, "--exp", c.record, "--generations", "1", "--logs",
                       dir_.string(), "--save-best", Path("best.mas")},
                      env_),
              1)
        << c.record;
    ASSERT_EQ(platform_.messages.size(), 1u) << c.record;
    EXPECT_EQ(platform_.messages[0].text.rfind(c.first_line, 0), 0u) << platform_.messages[0].text;
    EXPECT_EQ(out_.str().find("génération"), std::string::npos) << c.record;
    EXPECT_FALSE(fs::exists(Path("best.mas"))) << c.record;
  }
}

// The study names its record: it is looked for beside the study, wherever the command is
// started from. A record named by --exp is taken from the current folder.
TEST_F(MasIdentify, ARecordNamedByTheStudyIsFoundBesideIt) {
  fs::copy_file(Path("rec.dat"), Path("measured.dat"));
  ASSERT_FALSE(fs::exists("measured.dat"));  // not in the current folder
  EXPECT_EQ(MasMain({"identify", "ga", study_, "--set", "ExpNom=measured.dat", "--generations", "1",
                     "--seed", "3", "--threads", "1", "--logs", dir_.string()},
                    env_),
            0)
      << err_.str();
  EXPECT_NE(out_.str().find("Fichier expérimental : " + Path("measured.dat") + " ("),
            std::string::npos)
      << out_.str();
  platform_.messages.clear();
  EXPECT_EQ(MasMain({"identify", "pso", study_, "--exp", "measured.dat", "--epochs", "1", "--logs",
                     dir_.string()},
                    env_),
            1);
  ASSERT_FALSE(platform_.messages.empty());
  EXPECT_EQ(platform_.messages.back().text.rfind("Fichier : measured.dat introuvable\n", 0), 0u);
}

// Logs that cannot be written do not stop the optimisation, but the command does not
// report success: its results are printed and saved, then it exits with 1.
TEST_F(MasIdentify, LogsThatCannotBeWrittenEndWithOneAfterTheResults) {
  const std::string missing = Path("no/such/dir");
  for (const std::string method : {"ga", "pso"}) {
    SCOPED_TRACE(method);
    platform_.messages.clear();
    out_.str("");
    EXPECT_EQ(MasMain({"identify", method, study_, method == "ga" ? "--generations" : "--epochs",
                       "1", "--seed", "3", "--threads", "1", "--exp", Path("rec.dat"), "--logs",
                       missing, "--save-best", Path(method + ".mas")},
                      env_),
              1);
    ASSERT_FALSE(platform_.messages.empty());
    EXPECT_EQ(platform_.messages[0].text.rfind("Impossible d'écrire le fichier " + missing, 0), 0u);
    EXPECT_NE(out_.str().find("Meilleur jeu"), std::string::npos);
    EXPECT_TRUE(fs::exists(Path(method + ".mas")));
  }
}

TEST_F(MasIdentify, CtrlCStopsTheGenerationUnderWayAndStillSavesTheBest) {
  // Escape polls of the reading and of the table build, counted on a run without
  // generations; Ctrl-C then comes during the first candidate of the first generation.
  RecordingPlatform counting;
  CliEnvironment env{out_, err_, counting};
  const std::vector<std::string> common = {
      "--exp", Path("rec.dat"), "--logs", dir_.string(), "--threads", "1", "--seed", "2"};
  std::vector<std::string> args = {"identify", "ga", study_, "--generations", "0"};
  args.insert(args.end(), common.begin(), common.end());
  ASSERT_EQ(MasMain(args, env), 0);
  platform_.escape_after_polls = platform_.escape_polls + counting.escape_polls + 3;
  args = {"identify", "ga", study_, "--generations", "5", "--save-best", Path("best.mas")};
  args.insert(args.end(), common.begin(), common.end());
  EXPECT_EQ(MasMain(args, env_), 130);
  EXPECT_EQ(platform_.messages.back().text, "Une erreur s'est produite\n Arret d'optimisation.");
  EXPECT_EQ(out_.str().find("génération 1"), std::string::npos);
  EXPECT_TRUE(fs::exists(Path("best.mas")));
}

}  // namespace
}  // namespace mas
