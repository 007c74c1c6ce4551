#include "identification/experimental_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/run_simulation.h"
#include "identification_fixture.h"

namespace mas {
namespace {

using Status = ExperimentalReadStatus;
using Values = std::vector<double>;

struct Read {
  ExperimentalReadResult result;
  SimulationSettings s;
  ExperimentalData d;
  RecordingPlatform platform;
};

Read ReadText(const testing::ScratchFolder& folder, const std::string& text, int wm_col = 3,
              int ias_col = 4) {
  Read r;
  r.s.ExpNom = folder.File("dem1.dat");
  r.s.ExpWmCol = wm_col;
  r.s.ExpIasCol = ias_col;
  testing::WriteFile(r.s.ExpNom, text);
  r.result = ReadExperimentalFile(r.s, r.d, r.platform);
  return r;
}

const std::string kHeader = "t Vas Ibs N Ias\n";

// The first line of a message, the caption's own text.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// A refusal: nothing kept, one message with the reading's caption, its first line as
// given, then the file's name and what a record holds.
void ExpectRefused(const Read& r, Status status, const std::string& first_line,
                   const std::string& what) {
  EXPECT_EQ(r.result.status, status) << what;
  EXPECT_FALSE(r.result.usable()) << what;
  EXPECT_TRUE(r.d.ExpTime.empty() && r.d.ExpWm.empty() && r.d.ExpIas.empty()) << what;
  ASSERT_EQ(r.platform.messages.size(), 1u) << what;
  const std::string& text = r.platform.messages[0].text;
  EXPECT_EQ(r.platform.messages[0].caption, "Erreur de lecture") << what;
  EXPECT_EQ(FirstLine(text), first_line) << what;
  EXPECT_NE(text.find(r.result.path), std::string::npos) << what << ": " << text;
  EXPECT_NE(text.find("le temps (s) en colonne 0"), std::string::npos) << what;
  EXPECT_NE(text.find("ExpWmCol = " + std::to_string(r.s.ExpWmCol)), std::string::npos) << what;
  EXPECT_NE(text.find("ExpIasCol = " + std::to_string(r.s.ExpIasCol)), std::string::npos) << what;
  for (bool on : r.s.GenX) EXPECT_TRUE(on) << what;  // whatever the outcome
}

TEST(ExperimentalFile, ReadsTimeSpeedAndCurrentWhateverTheLayout) {
  testing::ScratchFolder folder;
  struct Case {
    const char* what;
    std::string text;
    int wm_col, ias_col;
    Values time, wm, ias;
  };
  const std::vector<Case> cases = {
      {"one row per line",
       kHeader + "0 1 2 3 4\n0.1 11 12 13 14\n",
       3,
       4,
       {0, 0.1},
       {3, 13},
       {4, 14}},
      {"one number per line, CR LF",
       "t a b N I\r\n0\r\n1\r\n2\r\n3\r\n4\r\n0.1\r\n11\r\n12\r\n13\r\n14\r\n",
       3,
       4,
       {0, 0.1},
       {3, 13},
       {4, 14}},
      {"two rows on one line, tabs",
       "t\ta\tb\tN\tI\n0\t1 2 3 4 0.1 11\n12 13 14\n",
       3,
       4,
       {0, 0.1},
       {3, 13},
       {4, 14}},
      {"signs and exponents",
       kHeader + "+0 -1 2 3.5e2 -4E-1\n1e-1 1 2 .5 +7.\n",
       3,
       4,
       {0, 0.1},
       {350, 0.5},
       {-0.4, 7}},
      {"speed in column 0 feeds the time too",
       "t N I\n5 6 7\n8 9 10\n",
       0,
       2,
       {5, 8},
       {5, 8},
       {7, 10}},
      // Without a final line end the very last number is lost.
      {"no final line end", kHeader + "0 1 2 3 4\n0.1 11 12 13 14", 3, 4, {0, 0.1}, {3, 13}, {4}},
      {"last row cut short", kHeader + "0 1 2 3 4\n0.1 11 12 13\n", 3, 4, {0, 0.1}, {3, 13}, {4}},
      {"header of 894 characters", std::string(894, 'x') + "\n0\n", 0, 0, {0}, {0}, {0}},
  };
  // Lines whose count differs from the header's are read all the same, with one warning.
  const std::vector<std::pair<const char*, int>> ragged = {{"one number per line, CR LF", 10},
                                                           {"two rows on one line, tabs", 2},
                                                           {"last row cut short", 1}};
  for (const Case& c : cases) {
    Read r = ReadText(folder, c.text, c.wm_col, c.ias_col);
    EXPECT_EQ(r.result.status, Status::kRead) << c.what;
    EXPECT_EQ(r.d.ExpTime, c.time) << c.what;
    EXPECT_EQ(r.d.ExpWm, c.wm) << c.what;
    EXPECT_EQ(r.d.ExpIas, c.ias) << c.what;
    int lines = 0;
    for (const auto& [what, count] : ragged) {
      if (std::string(what) == c.what) lines = count;
    }
    EXPECT_EQ(r.result.ragged_lines, lines) << c.what;
    EXPECT_EQ(r.platform.messages.size(), lines > 0 ? 1u : 0u) << c.what;
  }
}

// Lines whose count differs from the header's are read in sequence all the same, and the
// user is told which line to look at.
TEST(ExperimentalFile, RaggedRowsAreReadInSequenceButNamedInAWarning) {
  testing::ScratchFolder folder;
  std::string text = kHeader;
  for (int i = 0; i < 4000; ++i) {
    // Row 4 spread over two lines (6 and 7).
    text += std::to_string(i) + " 0 0 " + std::to_string(10 * i) + (i == 4 ? "\n7\n" : " 7\n");
  }
  Read r = ReadText(folder, text);
  EXPECT_EQ(r.result.status, Status::kRead);
  EXPECT_EQ(r.d.ExpWm[4], 40);
  EXPECT_EQ(r.d.ExpIas[4], 7);
  EXPECT_EQ(r.d.ExpTime[5], 5);
  EXPECT_EQ(r.result.ragged_lines, 2);
  EXPECT_EQ(r.result.first_ragged_line, 6);
  ASSERT_EQ(r.platform.messages.size(), 1u);
  EXPECT_EQ(r.platform.messages[0].caption, "Attention");
  EXPECT_EQ(r.platform.messages[0].text,
            "Lignes irrégulières dans " + r.s.ExpNom +
                " : la ligne 6 a 4 nombres au lieu de 5 (2 lignes de ce genre) ; les nombres sont "
                "lus à la suite, les colonnes peuvent être décalées");
}

// One stray value on a row of a long record shifts every later value into the wrong
// column: the times then go back, and the refusal names the line that has one too many.
TEST(ExperimentalFile, AStrayValueShiftingTheColumnsIsRefusedNamingItsLine) {
  testing::ScratchFolder folder;
  std::string text = kHeader;
  for (int i = 0; i < 4000; ++i) {
    text += std::to_string(i) + " 0 0 " + std::to_string(10 * i) + (i == 4 ? " 7 99\n" : " 7\n");
  }
  Read r = ReadText(folder, text);
  ExpectRefused(r, Status::kTimeNotIncreasing, "Temps non croissant ligne 7 de " + r.result.path,
                "stray value");
  EXPECT_NE(r.result.message.find("La ligne 6 a 6 nombres au lieu de 5 : les colonnes qui la "
                                  "suivent sont décalées."),
            std::string::npos)
      << r.result.message;
}

TEST(ExperimentalFile, RefusesMissingFilesBadHeadersAndColumnsWithTheirMessages) {
  testing::ScratchFolder folder;
  struct Case {
    const char* what;
    std::string text;
    int wm_col, ias_col;
    Status status;
    const char* message;
  };
  const char* kHeaderMessage = "Ligne d'entete trop longue";
  const char* kColumnMessage = "Probleme de n° de colones";
  const std::string rows = kHeader + "0 1 2 3 4\n";
  const Case cases[] = {
      {"empty header", "\n0 1 2 3 4\n", 3, 4, Status::kHeaderRejected, kHeaderMessage},
      {"empty file", "", 3, 4, Status::kHeaderRejected, kHeaderMessage},
      {"header of 895 characters", std::string(895, 'x') + "\n", 0, 0, Status::kHeaderRejected,
       kHeaderMessage},
      {"speed column beyond the header", rows, 5, 4, Status::kBadColumns, kColumnMessage},
      {"current column beyond the header", rows, 3, 5, Status::kBadColumns, kColumnMessage},
      {"negative column", rows, -1, 4, Status::kBadColumns, kColumnMessage},
  };
  for (const Case& c : cases) {
    Read r = ReadText(folder, c.text, c.wm_col, c.ias_col);
    ExpectRefused(r, c.status, c.message, c.what);
  }
  Read missing;
  missing.s.ExpNom = folder.File("absent.dat");
  missing.d.ExpTime = {1.0};
  missing.d.ExpWmTable = {2.0};
  missing.s.ExpTableReady = true;
  EXPECT_EQ(ReadExperimentalFile(missing.s, missing.d, missing.platform).status, Status::kNotFound);
  ASSERT_EQ(missing.platform.messages.size(), 1u);
  EXPECT_EQ(FirstLine(missing.platform.messages[0].text),
            "Fichier : " + missing.s.ExpNom + " introuvable");
  EXPECT_TRUE(missing.d.ExpTime.empty());
  // The tables belong to the table build: a reading leaves them.
  EXPECT_EQ(missing.d.ExpWmTable.size(), 1u);
  EXPECT_TRUE(missing.s.ExpTableReady);
}

// A record cut at a bad word would be fitted on a fraction of itself: it is refused whole,
// naming the line, the column and its header name.
TEST(ExperimentalFile, AWordThatIsNotAFiniteNumberRefusesTheRecord) {
  testing::ScratchFolder folder;
  for (const char* word : {"abc", "1,5", "1.5x", "nan", "inf", "-inf", "1e400", "0x10", "--1"}) {
    Read r = ReadText(folder, kHeader + "0 1 2 3 4\n0.1 11 12 13 14\n0.2 21 " + word +
                                  " 23 24\n0.3 31 32 33 34\n");
    ExpectRefused(r, Status::kBadValue,
                  std::string("Nombre fini attendu, lu « ") + word +
                      " » ligne 4, colonne 2 « Ibs » de " + r.result.path,
                  word);
    EXPECT_EQ(r.result.bad_line, 4) << word;
    EXPECT_EQ(r.result.bad_column, 2) << word;
  }
  // Far into a long record, in the time column of a record laid out one number per line.
  std::string text = kHeader;
  for (int i = 0; i < 200; ++i) {
    text += std::to_string(i * 1e-3) + "\n1\n2\n3\n4\n";
  }
  Read r = ReadText(folder, text + "NaN\n1\n2\n3\n4\n");
  EXPECT_EQ(r.result.status, Status::kBadValue);
  EXPECT_EQ(r.result.bad_line, 1002);
  EXPECT_EQ(r.result.bad_column, 0);
  EXPECT_NE(r.result.message.find("colonne 0 « t »"), std::string::npos) << r.result.message;
}

// The interpolation walks the record in time order: times that go back, repeat or start
// below zero would leave a few scattered instants compared. The first such row is named.
TEST(ExperimentalFile, TimesMustStartAtZeroOrMoreAndStrictlyIncrease) {
  testing::ScratchFolder folder;
  struct Case {
    const char* what;
    std::string rows;
    int line;
    const char* first_line;
  };
  const Case cases[] = {
      {"repeated", "0 1 2 3 4\n0.1 1 2 3 4\n0.1 1 2 3 4\n0.2 1 2 3 4\n", 4, "Temps non croissant"},
      {"going back", "0 1 2 3 4\n0.1 1 2 3 4\n0.2 1 2 3 4\n0.15 1 2 3 4\n", 5,
       "Temps non croissant"},
      {"negative first", "-0.001 1 2 3 4\n0.1 1 2 3 4\n", 2, "Temps négatif"},
      {"negative zero is zero", "-0 1 2 3 4\n-0.5 1 2 3 4\n", 3, "Temps négatif"},
  };
  for (const Case& c : cases) {
    Read r = ReadText(folder, kHeader + c.rows);
    ExpectRefused(
        r, Status::kTimeNotIncreasing,
        std::string(c.first_line) + " ligne " + std::to_string(c.line) + " de " + r.result.path,
        c.what);
    EXPECT_EQ(r.result.bad_line, c.line) << c.what;
  }
  Read going_back = ReadText(folder, kHeader + cases[1].rows);
  EXPECT_NE(going_back.result.message.find("ne dépasse pas celui de la ligne 4"), std::string::npos)
      << going_back.result.message;
  // Only the time column is checked: other columns may do as they please.
  Read other = ReadText(folder, kHeader + "0 5 -2 3 4\n1e-9 4 -3 -3 4\n", 3, 4);
  EXPECT_EQ(other.result.status, Status::kRead);
  EXPECT_EQ(other.d.ExpTime, (Values{0, 1e-9}));
}

// What is not a regular file is never opened for reading: a pipe without a writer would
// block for ever, a device such as /dev/zero would fill the memory.
TEST(ExperimentalFile, RefusesPipesDevicesFoldersAndHugeFilesBeforeReadingThem) {
  testing::ScratchFolder folder;
  const std::string fifo = folder.File("pipe.dat");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = folder.File("link.dat");
  std::filesystem::create_symlink("/dev/zero", link);
  for (const std::string& name : {fifo, std::string("/dev/zero"), folder.path().string(), link}) {
    Read r;
    r.s.ExpNom = name;
    r.result = ReadExperimentalFile(r.s, r.d, r.platform);
    ExpectRefused(r, Status::kNotRegularFile,
                  "Fichier : " + name + " n'est pas un fichier ordinaire", name);
  }
  // A sparse file just above the limit costs no disk: it is refused on its size.
  Read big;
  big.s.ExpNom = folder.File("big.dat");
  testing::WriteFile(big.s.ExpNom, kHeader + "0 1 2 3 4\n");
  std::filesystem::resize_file(big.s.ExpNom,
                               static_cast<std::uintmax_t>(kExperimentalFileMaxBytes) + 1);
  big.result = ReadExperimentalFile(big.s, big.d, big.platform);
  ExpectRefused(
      big, Status::kTooLarge,
      "Le fichier " + big.s.ExpNom + " dépasse 2 Go : ce n'est pas un fichier expérimental", "big");
}

// A record named by a study read from another folder is the one beside the study; one
// found only from the current folder is still read; one named on the command line is
// taken as named.
TEST(ExperimentalFile, ARecordNamedByTheStudyIsLookedForBesideItFirst) {
  testing::ScratchFolder study_folder("_study");
  const std::string rows = kHeader + "0 1 2 3 4\n0.1 11 12 13 14\n";
  testing::WriteFile(study_folder.File("beside.dat"), rows);
  const std::filesystem::path here = std::filesystem::current_path();
  testing::ScratchFolder current("_current");
  std::filesystem::current_path(current.path());
  testing::WriteFile(current.File("beside.dat"), kHeader + "0 1 2 3 4\n");
  testing::WriteFile(current.File("here.dat"), kHeader + "0 1 2 3 4\n");

  SimulationSettings s;
  s.ParamFileName = study_folder.File("study.mas");
  ExperimentalData d;
  RecordingPlatform platform;
  s.ExpNom = "beside.dat";
  ExperimentalReadResult r = ReadExperimentalFile(s, d, platform);
  EXPECT_EQ(r.status, Status::kRead);
  EXPECT_EQ(r.path, study_folder.File("beside.dat"));
  EXPECT_EQ(d.ExpTime.size(), 2u);
  EXPECT_EQ(s.ExpNom, "beside.dat");  // the study keeps the name it gave

  r = ReadExperimentalFile(s, d, platform, RecordLookup::kAsNamed);
  EXPECT_EQ(r.path, "beside.dat");
  EXPECT_EQ(d.ExpTime.size(), 1u);

  s.ExpNom = "here.dat";
  r = ReadExperimentalFile(s, d, platform);
  EXPECT_EQ(r.status, Status::kRead);
  EXPECT_EQ(r.path, "here.dat");

  s.ExpNom = "nowhere.dat";
  r = ReadExperimentalFile(s, d, platform);
  EXPECT_EQ(r.status, Status::kNotFound);
  EXPECT_NE(r.message.find("cherché à côté de l'étude, dans " + study_folder.path().string()),
            std::string::npos)
      << r.message;
  std::filesystem::current_path(here);
}

// Records that end oddly still score safely: interpolation uses only the rows present in
// all three columns, and a record of one row cannot build tables.
TEST(ExperimentalFile, ShortAndUnevenRecordsNeverReadPastTheirEnd) {
  testing::ScratchFolder folder;
  std::string text = kHeader;
  for (int i = 0; i <= 50; ++i) {
    text += std::to_string(i * 0.002) + " 0 0 " + std::to_string(30.0 * i) + " " +
            std::to_string(i % 7) + "\n";
  }
  Read r = ReadText(folder, text + "0.102 0 0 1500");  // cut short, without a final line end
  ASSERT_EQ(r.d.ExpTime.size(), 52u);
  ASSERT_EQ(r.d.ExpIas.size(), 51u);
  SimulationSettings s = testing::StartUpStudy(0.1, 1e-4, 10);
  CarriedState carried;
  carried.experiment = r.d;
  RecordingPlatform platform;
  EXPECT_EQ(BuildExperimentalTables(s, carried, platform, nullptr).status, RunStatus::kReachedEnd);
  EXPECT_GT(EvaluateCost(s, carried, platform, nullptr), 0.0);

  carried.experiment = ReadText(folder, kHeader + "0 1 2 3 4\n").d;
  EXPECT_EQ(BuildExperimentalTables(s, carried, platform, nullptr).status, RunStatus::kRefused);
  EXPECT_FALSE(s.ExpTableReady);
}

}  // namespace
}  // namespace mas
