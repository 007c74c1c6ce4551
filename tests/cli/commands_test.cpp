#include "cli/commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/parameter_file.h"
#include "platform/version.h"
#include "tests/cli/command_fixture.h"

namespace mas {
namespace {

namespace fs = std::filesystem;

// A small open-loop study in a fresh folder.
class MasCommand : public testing::CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    study_ = WriteStudy({"Rs=1.2", "Rr=1", "Ls=0.16", "Lr=0.16", "M=0.15", "p=2", "J=0.03",
                         "a20=0.001", "tf=0.02", "dt=1e-4", "TMLI=1e-4", "OutStep=10", "E2=180",
                         "fs=50", "OutSel.Wm=1"});
  }

  std::string study_;
};

TEST_F(MasCommand, RunReachesTheEndWritesTheOutputAndPrintsTheSummary) {
  const std::string output = Path("o.dat");
  EXPECT_EQ(Mas({"run", "--set", "OutSel.Ce=1", study_, "--output", output}), 0) << err_.str();
  EXPECT_TRUE(fs::exists(output));
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_TRUE(platform_.started_processes.empty());
  EXPECT_NE(out_.str().find("Fin              : tf atteint\n"), std::string::npos);
  EXPECT_NE(out_.str().find("Sortie           : " + output), std::string::npos);
  EXPECT_NE(out_.str().find("(201 pas de 0.0001 s)"), std::string::npos) << out_.str();
  std::ifstream table(output);
  std::string header;
  std::getline(table, header);
  EXPECT_EQ(header.rfind("time(s)", 0), 0u);
}

TEST_F(MasCommand, OutputOptionWinsOverOutFileNameAndViewerIsStartedOnRequest) {
  EXPECT_EQ(
      Mas({"run", study_, "--set=OutFileName=" + Path("a.dat"), "-o", Path("b.dat"), "--viewer"}),
      0);
  EXPECT_FALSE(fs::exists(Path("a.dat")));
  EXPECT_TRUE(fs::exists(Path("b.dat")));
  ASSERT_EQ(platform_.started_processes.size(), 1u);
  EXPECT_EQ(platform_.started_processes[0], ViewerCommandLine(Path("b.dat")));
}

TEST_F(MasCommand, RefusedRunsExitWithThreeAndPrintNoSummary) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  // A run refused after its first step keeps the previous table as it was.
  { std::ofstream(Path("m.dat")) << "previous table\n"; }
  const std::vector<Case> cases = {
      {{"run"}, "Aucun fichier de données n'a été chargé"},
      {{"run", study_, "-o", Path("missing/x.dat")}, "Impossible d'ouvrir le fichier "},
      {{"run", study_, "-o", Path("m.dat"), "--set", "VectCtrl=1", "--set", "Statique=1"},
       "Aucune simulation n'a été sélectionnée"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    platform_.messages.clear();
    EXPECT_EQ(Mas(c.args), 3);
    ASSERT_EQ(platform_.messages.size(), 1u);
    EXPECT_EQ(platform_.messages[0].caption, "Erreur");
    EXPECT_EQ(platform_.messages[0].text.rfind(c.message, 0), 0u);
  }
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(ReadAll(Path("m.dat")), "previous table\n");
}

TEST_F(MasCommand, ProtectedFilesAndTheStudyBeingReadAreNeverReplaced) {
  const std::string kept = Path("kept.dat");
  { std::ofstream(kept) << "previous table\n"; }
  fs::permissions(kept, fs::perms::owner_read | fs::perms::group_read);
  const std::string study_text = ReadAll(study_);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string is_study = "Le fichier de sortie " + study_ + " est l'étude lue";
  const std::string is_protected = "Le fichier " + kept + " est protégé en écriture";
  const std::vector<Case> cases = {
      {{"run", study_, "-o", kept}, is_protected},
      {{"run", study_, "-o", study_}, is_study},
      {{"run", study_, "--set", "OutFileName=" + study_}, is_study},
      {{"save", study_, kept}, is_protected},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    platform_.messages.clear();
    EXPECT_EQ(Mas(c.args), 1);
    ASSERT_EQ(platform_.messages.size(), 1u);
    EXPECT_EQ(platform_.messages[0].caption, "Erreur");
    EXPECT_EQ(platform_.messages[0].text.rfind(c.message, 0), 0u) << platform_.messages[0].text;
  }
  EXPECT_EQ(out_.str(), "");  // nothing ran
  EXPECT_EQ(ReadAll(kept), "previous table\n");
  EXPECT_EQ(ReadAll(study_), study_text);
}

TEST_F(MasCommand, DivergenceAndInterruptionKeepTheOutputAndPrintTheSummary) {
  EXPECT_EQ(Mas({"run", study_, "--set", "E2=1e6", "-o", Path("d.dat")}), 4);
  EXPECT_TRUE(fs::exists(Path("d.dat")));
  EXPECT_NE(out_.str().find("Fin              : divergence"), std::string::npos);

  // Ctrl-C once the study is read (the reader polls it too, once per line): the run sees
  // it at its first poll, here the one at its end.
  RecordingPlatform reader;
  SimulationSettings s;
  s.ParamFileName = study_;
  ReadParameterFile(s, reader, env_.echo_path);
  platform_.escape_polls = 0;
  platform_.escape_after_polls = reader.escape_polls;
  EXPECT_EQ(Mas({"run", study_, "-o", Path("i.dat")}), 130);
  EXPECT_TRUE(fs::exists(Path("i.dat")));
  EXPECT_NE(out_.str().find("Fin              : interrompue par Ctrl-C"), std::string::npos);
}

// A run whose table cannot be written whole (a full disk) still prints its summary, but
// without the table, and exits with 1 after the warning: a script must not take it for
// a success.
TEST_F(MasCommand, RunWhoseTableCannotBeWrittenWholeExitsWithOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  EXPECT_EQ(Mas({"run", study_, "-o", "/dev/full"}), 1);
  ASSERT_EQ(platform_.messages.size(), 1u);
  EXPECT_EQ(platform_.messages[0].caption, "Attention");
  EXPECT_EQ(platform_.messages[0].text,
            "l'écriture du fichier /dev/full a échoué : le fichier précédent est conservé");
  EXPECT_NE(out_.str().find("Fin              : tf atteint"), std::string::npos);
  EXPECT_NE(out_.str().find("Sortie           : aucune\n"), std::string::npos);
}

TEST_F(MasCommand, BadOverrideExitsWithTwoBeforeReadingOrWritingAnything) {
  for (const std::string set : {"Foo=1", "dt=abc", "BarreSel=99"}) {
    SCOPED_TRACE(set);
    err_.str("");
    EXPECT_EQ(Mas({"run", study_, "--set", set, "-o", Path("x.dat")}), 2);
    EXPECT_NE(err_.str().find("--set " + set), std::string::npos) << err_.str();
    EXPECT_EQ(Mas({"save", study_, Path("copy.mas"), "--set", set}), 2);
  }
  EXPECT_FALSE(fs::exists(Path("x.dat")));
  EXPECT_FALSE(fs::exists(Path("copy.mas")));
  EXPECT_TRUE(platform_.messages.empty());
}

TEST_F(MasCommand, UnreadableStudyExitsWithOneAfterTheMessage) {
  const std::string bad = Path("bad.mas");
  std::ofstream(bad) << "8 commentaire\n13 1 2\n";
  EXPECT_EQ(Mas({"run", bad, "-o", Path("x.dat")}), 1);
  EXPECT_EQ(Mas({"save", Path("absent.mas"), Path("copy.mas")}), 1);
  ASSERT_EQ(platform_.messages.size(), 2u);
  EXPECT_EQ(platform_.messages[0].caption, "Erreur");
  EXPECT_EQ(platform_.messages[0].text.rfind("Erreur de lecture !!! " + bad, 0), 0u);
  EXPECT_EQ(platform_.messages[0].icon, MessageIcon::kStop);
  EXPECT_EQ(platform_.messages[1].text, "Impossible d'ouvrir le fichier " + Path("absent.mas"));
  EXPECT_FALSE(fs::exists(Path("x.dat")));
  EXPECT_FALSE(fs::exists(Path("copy.mas")));
}

TEST_F(MasCommand, SaveWritesTheStudyWithItsOverrides) {
  const std::string copy = Path("copy.mas");
  EXPECT_EQ(Mas({"save", study_, copy, "--set", "dt=2.5e-5", "--set", "VectCtrl=1"}), 0);
  SimulationSettings s;
  s.ParamFileName = copy;
  ReadParameterFile(s, platform_, env_.echo_path);
  EXPECT_EQ(s.dt, 2.5e-5);
  EXPECT_EQ(s.VectCtrl, 1);
  EXPECT_EQ(s.dq.Rs, 1.2);

  EXPECT_EQ(Mas({"save", study_, Path("missing/copy.mas")}), 1);
  ASSERT_EQ(platform_.messages.size(), 1u);
  EXPECT_EQ(platform_.messages[0].caption, "Erreur d'écriture");
}

TEST_F(MasCommand, UsageErrorsExitWithTwoAndHelpListsTheExitStatuses) {
  EXPECT_EQ(Mas({"--help"}), 0);
  EXPECT_NE(out_.str().find("130  interrompue par Ctrl-C"), std::string::npos);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"fly"},
                                             {"run", "--bogus"},
                                             {"run", study_, "--set"},
                                             {"run", study_, "extra.mas"},
                                             {"save", study_}}) {
    EXPECT_EQ(Mas(args), 2);
  }
  EXPECT_TRUE(platform_.messages.empty());
}

TEST_F(MasCommand, VersionAndSettingsDescribeTheProgram) {
  EXPECT_EQ(Mas({"--version"}), 0);
  EXPECT_EQ(out_.str(), std::string("mas ") + kVersion + "\n");
  out_.str("");
  EXPECT_EQ(Mas({"settings", "Wmref?"}), 0);
  std::istringstream lines(out_.str());
  std::string line;
  std::vector<std::string> names;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) names.push_back(line.substr(0, line.find(' ')));
  EXPECT_EQ(names, (std::vector<std::string>{"Wmref1", "Wmref2", "Wmref3", "Wmref4"}));
  // No name matching is a usage error, said on stderr, with nothing on stdout.
  out_.str("");
  EXPECT_EQ(Mas({"settings", "nothing-like-it"}), 2);
  EXPECT_TRUE(out_.str().empty());
  EXPECT_NE(err_.str().find("nothing-like-it"), std::string::npos);
}

}  // namespace
}  // namespace mas
