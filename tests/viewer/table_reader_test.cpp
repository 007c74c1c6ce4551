#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "viewer/core/table.h"

namespace mas::viewer {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct HostileCase {
  const char* name;
  std::string text;
  std::size_t rows;  // rows kept
  bool complete;
  std::size_t line;     // line named by the message (0: none)
  std::size_t column;   // column named by the message (0: none)
  const char* message;  // part of the message
};

TEST(TableReader, HostileTablesKeepTheRowsBeforeTheFaultAndNameItsLineAndColumn) {
  const HostileCase cases[] = {
      {"empty", "", 0, false, 1, 1, "fichier vide"},
      {"blank lines only", "  \n\t\n\r\n", 0, false, 1, 1, "fichier vide"},
      {"header only", "time(s)     Ce(Nm)  \n", 0, true, 0, 0, ""},
      {"header without line end", "time(s) Ce(Nm)", 0, true, 0, 0, ""},
      {"short row", "t a b\n0 1 2\n1 2\n2 3 4\n", 1, false, 3, 3,
       "colonne 3 (« b ») : valeur manquante (la ligne a 2 valeurs au lieu de 3)"},
      {"long row", "t a\n0 1\n1 2 3\n", 1, false, 3, 3, "valeur en trop, lu « 3 »"},
      {"not a number", "t a b\n0 1 2\n1 x1 2\n", 1, false, 3, 2,
       "colonne 2 (« a ») : nombre attendu, lu « x1 »"},
      {"decimal comma", "t a\n0 1,5\n", 0, false, 2, 2, "nombre attendu, lu « 1,5 »"},
      {"overflow", "t a\n0 1\n1 1e999\n", 1, false, 3, 2, "hors de la portée d'un double"},
      {"number glued to text", "t a\n0 12abc\n", 0, false, 2, 2, "lu « 12abc »"},
      {"sign alone", "t a\n0 -\n", 0, false, 2, 2, "lu « - »"},
      {"two signs", "t a\n0 +-1\n", 0, false, 2, 2, "lu « +-1 »"},
      {"control bytes are shown as ?", std::string("t a\n0 \x01\x02\n"), 0, false, 2, 2,
       "lu « ?? »"},
      {"last line cut short", "t a b\n0 1 2\n1 2 3\n2 3", 2, false, 4, 3, "valeur manquante"},
      {"blank lines are skipped", "\n\nt a\n\n0 1\n   \n1 2\n\n", 2, true, 0, 0, ""},
      {"line numbers count blank lines", "t a\n\n0 1\n\nx 1\n", 1, false, 5, 1,
       "colonne 1 (« t »)"},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadResult r = ParseTable(c.text, 1);
    EXPECT_EQ(r.table.RowCount(), c.rows);
    EXPECT_EQ(r.complete, c.complete);
    EXPECT_EQ(r.error_line, c.line);
    EXPECT_EQ(r.error_column, c.column);
    EXPECT_THAT(r.message, HasSubstr(c.message));
    if (c.line > 0) {
      EXPECT_THAT(r.message, HasSubstr("igne " + std::to_string(c.line)));
    }
    for (const auto& column : r.table.columns) EXPECT_EQ(column.size(), c.rows);
  }
}

TEST(TableReader, ReadsTheWorkbenchNumbersAndLayout) {
  // Cells as the output table writes them: left-justified in 16 characters, two spaces,
  // the special values as printf writes them, CR LF line ends, a tab, a '+' sign and a
  // magnitude below the smallest double.
  const std::string text =
      "time(s)     Ce(Nm)            Ias(A)            \r\n"
      "0           1.2345679         nan               \r\n"
      "0.0001      -inf              -nan              \r\n"
      "0.0002      inf\t+2.5e-3\r\n"
      "0.0003      1e-400            -1e-400\r\n";
  const ReadResult r = ParseTable(text, 1);
  ASSERT_TRUE(r.complete) << r.message;
  EXPECT_THAT(r.table.names, ElementsAre("time(s)", "Ce(Nm)", "Ias(A)"));
  ASSERT_EQ(r.table.RowCount(), 4u);
  EXPECT_THAT(r.table.columns[0], ElementsAre(0, 0.0001, 0.0002, 0.0003));
  const auto& ce = r.table.columns[1];
  EXPECT_EQ(ce[0], 1.2345679);
  EXPECT_EQ(ce[1], -std::numeric_limits<double>::infinity());
  EXPECT_EQ(ce[2], std::numeric_limits<double>::infinity());
  EXPECT_EQ(ce[3], 0.0);
  const auto& ias = r.table.columns[2];
  EXPECT_TRUE(std::isnan(ias[0]));
  EXPECT_TRUE(std::isnan(ias[1]));
  EXPECT_EQ(ias[2], 2.5e-3);
  EXPECT_EQ(ias[3], 0.0);
  EXPECT_TRUE(std::signbit(ias[3]));
  EXPECT_EQ(r.table.ColumnIndex("Ias(A)"), 2);
  EXPECT_EQ(r.table.ColumnIndex("Wm"), -1);
}

TEST(TableReader, TableWithoutHeaderNamesItsColumns) {
  // The bar snapshot "Ib.dat" has no header: "%d  %f" lines.
  const ReadResult r = ParseTable("0  1.500000\n1  -2.250000\n", 1);
  ASSERT_TRUE(r.complete) << r.message;
  EXPECT_FALSE(r.has_header);
  EXPECT_THAT(r.table.names, ElementsAre("C1", "C2"));
  EXPECT_THAT(r.table.columns[1], ElementsAre(1.5, -2.25));
}

// A long table read in parallel chunks gives exactly the one-thread result, and a fault
// in a late chunk keeps every row before it and names its line.
TEST(TableReader, ParallelChunksGiveTheSameTableAndTheFirstFault) {
  std::string text = "t a b\n";
  const int rows = 300000;
  for (int i = 0; i < rows; ++i) {
    text += std::to_string(i) + " " + std::to_string(i * 0.5) + "   " + std::to_string(-i) + "\n";
    if (i % 1000 == 0) text += "\n";  // blank lines shift line numbers against rows
  }
  const ReadResult one = ParseTable(text, 1);
  const ReadResult many = ParseTable(text, 5);
  ASSERT_TRUE(one.complete && many.complete) << many.message;
  EXPECT_EQ(many.table.columns, one.table.columns);
  EXPECT_EQ(many.table.RowCount(), static_cast<std::size_t>(rows));

  // Two faults: the first one counts, wherever the chunks split.
  const std::size_t at = text.find("\n250000 ") + 1;
  std::string faulty = text;
  faulty.insert(at, "250000 oops 1\n");
  faulty.insert(faulty.find("\n280000 ") + 1, "x\n");
  const std::size_t fault_line =
      static_cast<std::size_t>(std::count(faulty.begin(), faulty.begin() + at, '\n')) + 1;
  for (int threads : {1, 2, 7}) {
    SCOPED_TRACE(threads);
    const ReadResult r = ParseTable(faulty, threads);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.table.RowCount(), 250000u);
    EXPECT_EQ(r.error_line, fault_line);
    EXPECT_EQ(r.error_column, 2u);
    EXPECT_EQ(r.table.columns[0].back(), 249999);
  }
}

// Short texts cut into up to eight chunks at every place: the same rows, message, line
// and column as one pass.
TEST(TableReader, AnyCutIntoChunksGivesTheOnePassResult) {
  const std::string texts[] = {
      "t a\n0 1\n\n1 2\n2 3\n3 4\n4 5\n5 6\n6 7\n",
      "t a\n0 1\n1 2\n2 x\n3 4\n4 5 6\n5\n",
      "1 2\n3 4\r\n\n5 6\n7 8",
      "t a\n\n\n\n\n\n\n\n0 1\n",
      "t\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n1e999\n",
  };
  for (const std::string& text : texts) {
    const ReadResult one = ParseTable(text, 1);
    for (int threads = 2; threads <= 8; ++threads) {
      SCOPED_TRACE(testing::Message() << text << " / " << threads);
      const ReadResult r = ParseTable(text, threads, 1);
      EXPECT_EQ(r.table.names, one.table.names);
      EXPECT_EQ(r.table.columns, one.table.columns);
      EXPECT_EQ(r.message, one.message);
      EXPECT_EQ(r.error_line, one.error_line);
      EXPECT_EQ(r.error_column, one.error_column);
    }
  }
}

TEST(TableReader, TenMillionRows) {
  std::string text = "t\n";
  text.reserve(2 + 10'000'000 * 2);
  for (int i = 0; i < 10'000'000; ++i) text += "7\n";
  const ReadResult r = ParseTable(text, 0);
  ASSERT_TRUE(r.complete);
  EXPECT_EQ(r.table.RowCount(), 10'000'000u);
  EXPECT_EQ(r.table.columns[0].front(), 7);
  EXPECT_EQ(r.table.columns[0].back(), 7);
}

// A file larger than the reader's blocks gives the table of the text in memory, rows,
// line numbers and faults included, wherever the blocks cut its lines.
TEST(TableReader, FileReadInBlocksGivesTheTableOfItsText) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("mas_viewer_blocks_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string text(70000, '\n');  // blank lines before a header far into the file
  text += "time(s)     Ias(A)            \n";
  for (int i = 0; i < 1'700'000; ++i) {
    text += std::to_string(i) + "  " + std::to_string(i % 977) + ".25\n";
    if (i % 100'000 == 0) text += "\n";
  }
  for (const bool faulty : {false, true}) {
    SCOPED_TRACE(faulty);
    std::string content = text;
    if (faulty) content.insert(content.find("\n1600000 ") + 1, "1600000 1 2\n");
    {
      std::ofstream out(dir / "big.dat", std::ios::binary);
      out << content;
    }
    ASSERT_GT(fs::file_size(dir / "big.dat"), 16u << 20);
    const ReadResult file = ReadTable(dir / "big.dat");
    const ReadResult memory = ParseTable(content, 1);
    EXPECT_EQ(file.complete, !faulty);
    EXPECT_EQ(file.table.names, memory.table.names);
    EXPECT_EQ(file.table.columns, memory.table.columns);
    EXPECT_EQ(file.message, memory.message);
    EXPECT_EQ(file.error_line, memory.error_line);
    EXPECT_EQ(file.table.RowCount(), faulty ? 1'600'000u : 1'700'000u);
  }
  fs::remove_all(dir);
}

TEST(TableReader, FileThatCannotBeOpenedIsNamed) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("mas_viewer_read_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const ReadResult missing = ReadTable(dir / "absent.dat");
  EXPECT_FALSE(missing.complete);
  EXPECT_EQ(missing.message, "Impossible d'ouvrir le fichier " + (dir / "absent.dat").string());
  EXPECT_FALSE(ReadTable(dir).complete);  // a folder
  {
    std::ofstream out(dir / "out.dat");
    out << "time(s)     Ce(Nm)            \n0           1                 \n";
  }
  const ReadResult r = ReadTable(dir / "out.dat");
  EXPECT_TRUE(r.complete);
  EXPECT_THAT(r.table.columns[1], ElementsAre(1));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace mas::viewer
