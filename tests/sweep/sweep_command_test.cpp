// `mas sweep` end to end on very short runs of the example study: the runs are those of
// `mas run`, the summary does not depend on the threads, a diverging run is a row, and a
// resumed sweep keeps exactly the rows of its own journal.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "sweep/sweep_execution.h"
#include "tests/cli/command_fixture.h"

namespace mas::testing {
namespace {

class SweepCommandTest : public CommandTest {
 protected:
  // A sweep of the example direct start-up cut to 20 ms; `body` adds its lines.
  std::string WriteSweep(const std::string& body, const std::string& name = "s.txt") {
    std::ofstream(Path(name)) << "study = " MAS_SOURCE_DIR "/examples/default.mas\n"
                              << "set tf=0.02\n"
                              << body;
    return Path(name);
  }
  static std::string LastLine(const std::string& text) {
    const std::size_t end = text.find_last_of('\n', text.size() - 2);
    return text.substr(end + 1);
  }
};

constexpr const char* kSweep =
    "Rs = 1.405, -20, 1.3   # the second run diverges\n"
    "a10 = 0, 0.01\n"
    "metric = final(Vitesse(tr/mn))\n"
    "window = 0.01, 0.02\n"
    "metric = rms(Ias(A))\n"
    "metric = band(Ias(A), 0, 500)\n";

TEST_F(SweepCommandTest, SummaryIsTheSameOnOneAndOnThreeThreadsWithDivergenceAsARow) {
  const std::string sweep = WriteSweep(kSweep);
  ASSERT_EQ(Mas({"sweep", sweep, "--threads", "1", "--summary", Path("one.tsv")}), kExitSuccess)
      << err_.str();
  ASSERT_EQ(Mas({"sweep", sweep, "--threads", "3", "--summary", Path("three.tsv")}), kExitSuccess)
      << err_.str();
  const std::string one = ReadAll(Path("one.tsv"));
  EXPECT_EQ(one, ReadAll(Path("three.tsv")));
  EXPECT_FALSE(std::filesystem::exists(Path("one.tsv.journal")));

  std::istringstream lines(one);
  std::string line;
  std::getline(lines, line);
  EXPECT_TRUE(line.starts_with("# empreinte\t")) << line;
  std::getline(lines, line);
  EXPECT_EQ(line,
            "index\tRs\ta10\tstatus\tsteps\tfinal(Vitesse(tr/mn))\trms(Ias(A)) [0.01, 0.02]\t"
            "band(Ias(A), 0, 500) [0.01, 0.02]\tfreq(Ias(A), 0, 500) [0.01, 0.02]\tmessage");
  int index = 0;
  while (std::getline(lines, line)) {
    // Sorted by run index; the runs with Rs = -20 (indices 2 and 3) diverged.
    EXPECT_TRUE(line.starts_with(std::to_string(index) + "\t")) << line;
    const bool diverges = index == 2 || index == 3;
    EXPECT_EQ(line.find("\tdivergence\t") != std::string::npos, diverges) << line;
    EXPECT_EQ(line.find("\ttf_atteint\t") != std::string::npos, !diverges) << line;
    ++index;
  }
  EXPECT_EQ(index, 6);
}

TEST_F(SweepCommandTest, RunsAreThoseOfMasRun) {
  const std::string sweep = WriteSweep(kSweep);
  ASSERT_EQ(Mas({"sweep", sweep, "--tables", Path("tables"), "--summary", Path("s.tsv")}),
            kExitSuccess)
      << err_.str();
  ASSERT_EQ(Mas({"run", MAS_SOURCE_DIR "/examples/default.mas", "--set", "tf=0.02", "--set",
                 "Rs=1.3", "--set", "a10=0.01", "--output", Path("out.dat")}),
            kExitSuccess);
  const std::string table = ReadAll(Path("out.dat"));
  EXPECT_EQ(ReadAll(Path("tables/run_5.dat")), table);
  // In another kind, the same as `mas run` writes in that kind, the metrics unchanged.
  ASSERT_EQ(Mas({"sweep", sweep, "--tables", Path("csv"), "--table-format", "csv", "--summary",
                 Path("c.tsv")}),
            kExitSuccess)
      << err_.str();
  ASSERT_EQ(
      Mas({"run", MAS_SOURCE_DIR "/examples/default.mas", "--set", "tf=0.02", "--set", "Rs=1.3",
           "--set", "a10=0.01", "--output", Path("out.dat"), "--table-format", "csv"}),
      kExitSuccess);
  EXPECT_EQ(ReadAll(Path("csv/run_5.csv")), ReadAll(Path("out.csv")));
  EXPECT_FALSE(std::filesystem::exists(Path("csv/run_5.dat")));
  EXPECT_EQ(ReadAll(Path("c.tsv")), ReadAll(Path("s.tsv")));

  // The final speed of the run's row is the last speed of the table (eight digits there).
  std::istringstream summary(ReadAll(Path("s.tsv")));
  std::string row;
  for (int i = 0; i < 8; ++i) std::getline(summary, row);
  ASSERT_TRUE(row.starts_with("5\t1.3\t0.01\ttf_atteint\t")) << row;
  std::istringstream cells(row);
  std::string cell;
  for (int i = 0; i < 6; ++i) std::getline(cells, cell, '\t');
  std::istringstream last(LastLine(table));
  double time = 0.0, speed = 0.0;
  last >> time >> speed;
  EXPECT_NEAR(std::stod(cell), speed, 1e-7 * std::fabs(speed) + 1e-9);
}

TEST_F(SweepCommandTest, ResumeRunsOnlyWhatTheJournalLacks) {
  const std::string sweep = WriteSweep(kSweep);
  ASSERT_EQ(Mas({"sweep", sweep, "--summary", Path("full.tsv")}), kExitSuccess) << err_.str();
  const std::string full = ReadAll(Path("full.tsv"));
  std::vector<std::string> lines;
  std::istringstream in(full);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");

  // A journal as a kill leaves it (the fingerprint, the header, then rows): rows in
  // finish order, a row of another sweep (its Rs differs), a repeated row and a last line
  // cut short.
  ASSERT_TRUE(lines[0].starts_with("# empreinte\tbalayage=")) << lines[0];
  std::string other = lines[3];
  other.replace(other.find("\t1.405\t"), 7, "\t1.406\t");
  std::ofstream(Path("r.tsv.journal")) << lines[0] << lines[1] << lines[4] << lines[2] << other
                                       << lines[4] << lines[6].substr(0, lines[6].size() / 2);
  err_.str("");
  ASSERT_EQ(Mas({"sweep", sweep, "--resume", "--summary", Path("r.tsv")}), kExitSuccess)
      << err_.str();
  EXPECT_NE(err_.str().find("6 simulations dont 2 déjà faites"), std::string::npos) << err_.str();
  EXPECT_EQ(ReadAll(Path("r.tsv")), full);
  EXPECT_FALSE(std::filesystem::exists(Path("r.tsv.journal")));

  // Resuming a finished sweep runs nothing and writes the same summary again.
  err_.str("");
  ASSERT_EQ(Mas({"sweep", sweep, "--resume", "--summary", Path("r.tsv")}), kExitSuccess);
  EXPECT_NE(err_.str().find("dont 6 déjà faites"), std::string::npos) << err_.str();
  EXPECT_EQ(ReadAll(Path("r.tsv")), full);

  // The journal of another sweep is not taken for this one's.
  std::ofstream(Path("x.tsv.journal")) << "index\tRr\tstatus\tsteps\tmessage\n";
  EXPECT_EQ(Mas({"sweep", sweep, "--resume", "--summary", Path("x.tsv")}), kExitParameterFile);
  EXPECT_NE(err_.str().find("n'est pas le journal de ce balayage"), std::string::npos);
}

TEST_F(SweepCommandTest, ABadSweepRunsNothing) {
  const struct {
    const char* body;
    int status;
    const char* message;
  } cases[] = {
      {"Rs = 1\nmetric = mean(Vitesse)\n", kExitUsage,
       "s.txt, ligne 4 : la colonne « Vitesse » n'est pas dans la table de l'étude"},
      {"Rs = 1, x\n", kExitUsage, "s.txt, ligne 3 : Rs=x : valeur invalide pour Rs"},
      // Checked against the study: the example's dq machine has no bar to select.
      {"BarreSel = none, 0\n", kExitUsage,
       "s.txt, ligne 3 : BarreSel=0 : l'étude n'a aucune barre"},
  };
  for (const auto& c : cases) {
    err_.str("");
    EXPECT_EQ(Mas({"sweep", WriteSweep(c.body), "--summary", Path("bad.tsv")}), c.status) << c.body;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_FALSE(std::filesystem::exists(Path("bad.tsv")));
    EXPECT_FALSE(std::filesystem::exists(Path("bad.tsv.journal")));
  }
  EXPECT_EQ(Mas({"sweep", Path("missing.txt")}), kExitParameterFile);
}

// A sweep of a copy of the example study, in the test's folder.
class SweepOutputsTest : public SweepCommandTest {
 protected:
  void SetUp() override {
    SweepCommandTest::SetUp();
    std::filesystem::copy_file(MAS_SOURCE_DIR "/examples/default.mas", Path("study.mas"));
    study_text_ = ReadAll(Path("study.mas"));
    sweep_ = Path("s.txt");
    WriteSweepText("0.02");
  }
  void WriteSweepText(const std::string& tf) {
    std::ofstream(sweep_) << "study = study.mas\nset tf=" << tf
                          << "\nRs = 1.405, 1.3\nmetric = final(Vitesse(tr/mn))\n";
    sweep_text_ = ReadAll(sweep_);
  }
  // The command's status, with what it said.
  int Sweep(std::vector<std::string> more) {
    err_.str("");
    more.insert(more.begin(), {"sweep", sweep_});
    return Mas(more);
  }
  std::string sweep_, sweep_text_, study_text_;
};

TEST_F(SweepOutputsTest, NoOutputReplacesAnInputAndEveryNameIsChecked) {
  std::filesystem::create_symlink(Path("study.mas"), Path("link.tsv"));
  const struct {
    std::vector<std::string> args;
    int status;
    std::string said;
  } cases[] = {
      {{"--summary", sweep_}, kExitParameterFile, "est le fichier de balayage lu"},
      {{"--summary", Path("link.tsv")}, kExitParameterFile, "est l'étude lue"},
      {{"--summary", Path("study.mas")}, kExitParameterFile, "est l'étude lue"},
      {{"--summary", ""}, kExitUsage, "--summary : nom vide"},
      {{"--tables", ""}, kExitUsage, "--tables : nom vide"},
      {{"--summary", Path("nodir/x.tsv")},
       kExitParameterFile,
       "Impossible d'écrire le résumé " + Path("nodir/x.tsv") + " : le dossier"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    EXPECT_EQ(Sweep(c.args), c.status);
    EXPECT_NE(err_.str().find(c.said), std::string::npos) << err_.str();
    EXPECT_EQ(ReadAll(sweep_), sweep_text_);
    EXPECT_EQ(ReadAll(Path("study.mas")), study_text_);
    EXPECT_TRUE(std::filesystem::is_symlink(Path("link.tsv")));
  }
  EXPECT_FALSE(std::filesystem::exists(Path("link.tsv.journal")));

  // Links planted in the tables folder are replaced by the tables, never followed.
  std::filesystem::create_directory(Path("tables"));
  std::filesystem::create_symlink(Path("study.mas"), Path("tables/run_0.dat"));
  std::filesystem::create_symlink("/dev/null", Path("tables/run_1.dat"));
  ASSERT_EQ(Sweep({"--tables", Path("tables"), "--summary", Path("t.tsv")}), kExitSuccess)
      << err_.str();
  EXPECT_EQ(ReadAll(Path("study.mas")), study_text_);
  for (const char* name : {"tables/run_0.dat", "tables/run_1.dat"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(Path(name))));
    EXPECT_TRUE(ReadAll(Path(name)).starts_with("time(s)")) << name;
  }
}

TEST_F(SweepOutputsTest, MetricsTellTheirResolutionAnEmptyWindowAndANarrowBand) {
  std::ofstream(sweep_) << "study = study.mas\nset tf=0.02\nRs = 1.405\n"
                        << "window = 0.01, 0.02\n"
                        << "metric = band(Ias(A), 0, 1000)\n"  // lines 100 Hz apart: ten
                        << "metric = band(Ias(A), 40, 48)\n"   // not even one
                        << "window = 5, 6\n"
                        << "metric = mean(Ias(A))\n";
  ASSERT_EQ(Sweep({"--summary", Path("m.tsv")}), kExitSuccess) << err_.str();
  const std::string err = err_.str();
  EXPECT_NE(err.find("Attention : " + sweep_ + ", ligne 6 : la bande de 8 Hz"), std::string::npos)
      << err;
  EXPECT_EQ(err.find("ligne 5 :"), std::string::npos) << err;
  EXPECT_NE(err.find("Attention : " + sweep_ +
                     ", ligne 8 : la fenêtre de mean(Ias(A)) [5, 6] est "
                     "hors de la simulation"),
            std::string::npos)
      << err;
  EXPECT_NE(out_.str().find("band(Ias(A), 0, 1000) [0.01, 0.02] : raies espacées de 100 Hz "
                            "(fenêtre de 0.01 s)"),
            std::string::npos)
      << out_.str();
}

TEST_F(SweepOutputsTest, OneSweepAtATimeWritesASummaryAndResumeChecksTheFingerprint) {
  // Another sweep on the same summary holds its journal.
  {
    const int held = ::open(Path("s.tsv.journal").c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::write(held, "rows of the other sweep\n", 24), 24);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Sweep({"--summary", Path("s.tsv")}), kExitParameterFile);
    EXPECT_NE(err_.str().find("Le résumé " + Path("s.tsv") + " est déjà en cours d'écriture"),
              std::string::npos)
        << err_.str();
    EXPECT_EQ(ReadAll(Path("s.tsv.journal")), "rows of the other sweep\n");
    EXPECT_FALSE(std::filesystem::exists(Path("s.tsv")));
    ::close(held);
  }
  ASSERT_EQ(Sweep({"--summary", Path("s.tsv")}), kExitSuccess) << err_.str();
  const std::string summary = ReadAll(Path("s.tsv"));
  EXPECT_FALSE(std::filesystem::exists(Path("s.tsv.journal")));

  // The journal of a killed sweep: its fingerprint, its header and the first row.
  const std::size_t header_end = summary.find('\n', summary.find('\n') + 1) + 1;
  const std::string journal = summary.substr(0, summary.find('\n', header_end) + 1);
  const std::string changed_study = study_text_ + "\n";
  const struct {
    const char* what;
    std::string tf;
    bool change_study;
    const char* said;  // nullptr: resumed
  } cases[] = {
      {"set tf changed", "0.01", false, "ont changé depuis le fichier de balayage ;"},
      {"study changed", "0.02", true, "ont changé depuis l'étude ;"},
      {"both changed", "0.01", true, "ont changé depuis le fichier de balayage, l'étude ;"},
      {"nothing changed", "0.02", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(Path("s.tsv.journal"), std::ios::binary) << journal;
    WriteSweepText(c.tf);
    std::ofstream(Path("study.mas"), std::ios::binary)
        << (c.change_study ? changed_study : study_text_);
    if (c.said != nullptr) {
      EXPECT_EQ(Sweep({"--resume", "--summary", Path("s.tsv")}), kExitParameterFile);
      EXPECT_NE(err_.str().find(c.said), std::string::npos) << err_.str();
      EXPECT_EQ(ReadAll(Path("s.tsv.journal")), journal);
    } else {
      EXPECT_EQ(Sweep({"--resume", "--summary", Path("s.tsv")}), kExitSuccess) << err_.str();
      EXPECT_NE(err_.str().find("2 simulations dont 1 déjà faites"), std::string::npos);
      EXPECT_EQ(ReadAll(Path("s.tsv")), summary);
    }
  }
}

}  // namespace
}  // namespace mas::testing

namespace mas {
namespace {

// Ctrl-C: no new run starts, the rows delivered are whole rows of their runs or marked
// interrupted, and the sweep says it is incomplete.
TEST(RunOnThreads, StopsHandingOutRunsWhenAsked) {
  SimulationSettings study;
  study.ParamFileName = MAS_SOURCE_DIR "/examples/default.mas";
  RecordingPlatform platform;
  ReadParameterFile(study, platform, "/dev/null");
  const SweepFile file = ParseSweepFile(
      "study = x.mas\nset tf=0.05\na10 = 0:0.001:0.039\nmetric = max(Ias(A))\n", "s.txt");
  const SweepRunner runner(file, study);
  std::vector<long long> runs(40);
  for (long long i = 0; i < 40; ++i) runs[static_cast<std::size_t>(i)] = i;
  std::vector<SweepRow> rows;
  const bool complete = RunOnThreads(
      runner, runs, 2, [&](const SweepRow& row) { rows.push_back(row); },
      [&] { return rows.size() >= 2; });
  EXPECT_FALSE(complete);
  EXPECT_GE(rows.size(), 2u);
  EXPECT_LT(rows.size(), 40u);
  // The runs under way that poll Escape (this study shows its progress) stop and are
  // marked, so that the journal leaves them to --resume; the others are whole.
  for (const SweepRow& row : rows) {
    if (row.interrupted) {
      EXPECT_NE(row.line.find("\tinterrompue\t"), std::string::npos) << row.line;
    } else {
      EXPECT_EQ(row.line, runner.Run(row.index).line);
    }
  }
}

}  // namespace
}  // namespace mas
