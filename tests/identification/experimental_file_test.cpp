#include "identification/experimental_file.h"

#include <gtest/gtest.h>

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

// One stray value on a row of a long record shifts every later value into the wrong
// column: the record is read as before, but the user is told which line to look at.
TEST(ExperimentalFile, RaggedRowsAreReadInSequenceButNamedInAWarning) {
  testing::ScratchFolder folder;
  std::string text = kHeader;
  for (int i = 0; i < 4000; ++i) {
    text += std::to_string(i) + " 0 0 " + std::to_string(10 * i) + (i == 4 ? " 7 99\n" : " 7\n");
  }
  Read r = ReadText(folder, text);
  EXPECT_EQ(r.result.status, Status::kRead);
  EXPECT_EQ(r.d.ExpWm[3], 30);
  EXPECT_EQ(r.d.ExpWm[5], 0);  // shifted: the reading is kept as it always was
  EXPECT_EQ(r.result.ragged_lines, 1);
  EXPECT_EQ(r.result.first_ragged_line, 6);
  ASSERT_EQ(r.platform.messages.size(), 1u);
  EXPECT_EQ(r.platform.messages[0].caption, "Attention");
  EXPECT_EQ(r.platform.messages[0].text,
            "Lignes irrégulières dans " + r.s.ExpNom +
                " : la ligne 6 a 6 nombres au lieu de 5 (1 ligne de ce genre) ; les nombres sont "
                "lus à la suite, les colonnes peuvent être décalées");
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
    EXPECT_EQ(r.result.status, c.status) << c.what;
    EXPECT_TRUE(r.d.ExpTime.empty() && r.d.ExpWm.empty() && r.d.ExpIas.empty()) << c.what;
    ASSERT_EQ(r.platform.messages.size(), 1u) << c.what;
    EXPECT_EQ(r.platform.messages[0].text, c.message) << c.what;
    EXPECT_EQ(r.platform.messages[0].caption, "Erreur de lecture") << c.what;
    for (bool on : r.s.GenX) EXPECT_TRUE(on) << c.what;  // whatever the outcome
  }

  Read missing;
  missing.s.ExpNom = folder.File("absent.dat");
  missing.d.ExpTime = {1.0};
  missing.d.ExpWmTable = {2.0};
  missing.s.ExpTableReady = true;
  EXPECT_EQ(ReadExperimentalFile(missing.s, missing.d, missing.platform).status, Status::kNotFound);
  ASSERT_EQ(missing.platform.messages.size(), 1u);
  EXPECT_EQ(missing.platform.messages[0].text, "Fichier : " + missing.s.ExpNom + " introuvable");
  EXPECT_TRUE(missing.d.ExpTime.empty());
  // The tables belong to the table build: a reading leaves them.
  EXPECT_EQ(missing.d.ExpWmTable.size(), 1u);
  EXPECT_TRUE(missing.s.ExpTableReady);
}

TEST(ExperimentalFile, AWordThatIsNotANumberEndsTheReadingKeepingTheCompleteRows) {
  testing::ScratchFolder folder;
  for (const char* word : {"abc", "1,5", "1.5x", "nan", "inf", "1e400", "0x10", "--1"}) {
    Read r = ReadText(folder, kHeader + "0 1 2 3 4\n0.1 11 12 13 14\n0.2 21 " + word +
                                  " 23 24\n0.3 31 32 33 34\n");
    EXPECT_EQ(r.result.status, Status::kStoppedAtBadValue) << word;
    EXPECT_EQ(r.d.ExpTime, (Values{0, 0.1})) << word;
    EXPECT_EQ(r.d.ExpWm, (Values{3, 13})) << word;
    EXPECT_EQ(r.d.ExpIas, (Values{4, 14})) << word;
    ASSERT_EQ(r.platform.messages.size(), 1u) << word;
    EXPECT_NE(r.platform.messages[0].text.find("ligne 4"), std::string::npos) << word;
  }
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
