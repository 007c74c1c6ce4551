#include "viewer/core/session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "viewer/core/table.h"
#include "viewer/core/table_export.h"

namespace mas::viewer {
namespace {

using ::testing::HasSubstr;

TEST(Session, WritesAndReadsBackTheSameSession) {
  Session s;
  s.time_column = "time(s)";
  s.auto_time = false;
  s.time_range = {0.1 + 0.2, 0.35};  // a value whose shortest text has 17 digits
  s.readout = Readout::kNearest;
  s.cursors = {0.25, 0.2700001};
  s.plots = {{{"Ias(A)", "Ids(A)"}, true, {}}, {{"Vitesse(tr/mn)"}, false, {-10, 1500}}};
  s.xy = {{"Phi_alpha_s(Wb)", "Phi_beta_s(Wb)"}};
  s.spectrum_column = "Ias(A)";
  s.spectrum_db = false;
  Session back;
  std::string message;
  ASSERT_TRUE(ParseSession(WriteSession(s), back, message)) << message;
  EXPECT_EQ(back, s);
  Session empty;
  ASSERT_TRUE(ParseSession(WriteSession(empty), back, message)) << message;
  EXPECT_EQ(back, empty);
}

TEST(Session, RefusesTextThatIsNotASessionAndNamesTheLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"", "Session vide"},
      {"time(s) Ias(A)\n0 1\n", "ligne 1 : ce n'est pas une session"},
      {"tracix-session 1\ncurve Ias(A)\n", "ligne 2 : « curve » avant le premier « plot »"},
      {"tracix-session 1\nplot 5 1\n", "ligne 2 : plage attendue"},
      {"tracix-session 1\nrange 0 nan\n", "ligne 2 : plage attendue"},
      {"tracix-session 1\n\n# note\ncursors 1 2 3\n", "ligne 4 : ligne non reconnue"},
      {"tracix-session 1\nspectrum Ias(A) loud\n", "ligne 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Session s;
    s.time_column = "kept";
    std::string message;
    EXPECT_FALSE(ParseSession(c.text, s, message));
    EXPECT_THAT(message, HasSubstr(c.message));
    EXPECT_EQ(s.time_column, "kept");  // a refused session changes nothing
  }
}

TEST(Session, SavedBesideTheDataAndLoaded) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("mas_viewer_session_" + std::to_string(getpid()));
  fs::create_directories(dir);
  EXPECT_EQ(SessionPathFor(dir / "out.dat"), dir / "out.dat.tracix");
  Session s;
  s.plots = {{{"Ce(Nm)"}, true, {}}};
  std::string message;
  ASSERT_TRUE(SaveSession(SessionPathFor(dir / "out.dat"), s, message)) << message;
  Session back;
  ASSERT_TRUE(LoadSession(SessionPathFor(dir / "out.dat"), back, message)) << message;
  EXPECT_EQ(back, s);
  EXPECT_FALSE(LoadSession(dir / "absent", back, message));
  EXPECT_THAT(message, HasSubstr("Impossible d'ouvrir le fichier"));
  EXPECT_FALSE(SaveSession(dir / "no" / "such" / "folder", s, message));
  fs::remove_all(dir);
}

TEST(Session, ExampleSessionReads) {
  Session s;
  std::string message;
  ASSERT_TRUE(
      LoadSession(std::string(MAS_SOURCE_DIR) + "/examples/viewer_session.tracix", s, message))
      << message;
  ASSERT_EQ(s.plots.size(), 3u);
  EXPECT_EQ(s.plots[1].curves, (std::vector<std::string>{"CeMAS(Nm)", "CrMAS(Nm)"}));
  EXPECT_EQ(s.spectrum_column, "Ias(A)");
}

TEST(TableExport, VisibleRangeReadsBackAsTheSameNumbers) {
  Table table;
  table.names = {"time(s)", "Ce(Nm)", "Ias(A)"};
  table.columns = {{0, 0.1, 0.2, 0.3}, {1.23456789, -2, 3, 4}, {NAN, 1e-300, -HUGE_VAL, 7}};
  const std::string text = ExportRangeText(table, 0, {2, 0}, 0.05, 0.25);
  EXPECT_EQ(text.substr(0, text.find('\n')), "time(s)           Ias(A)            ");
  const ReadResult back = ParseTable(text, 1);
  ASSERT_TRUE(back.complete) << back.message;
  ASSERT_EQ(back.table.RowCount(), 2u);
  EXPECT_EQ(back.table.columns[0], (std::vector<double>{0.1, 0.2}));
  EXPECT_EQ(back.table.columns[1], (std::vector<double>{1e-300, -HUGE_VAL}));
}

// The range exported as CSV or .mat reads back through the viewer's own reader, which
// chooses by the extension.
TEST(TableExport, CsvAndMatExportsReadBack) {
  Table table;
  table.names = {"time(s)", "Ce(Nm)", "Ias(A)"};
  table.columns = {{0, 0.1, 0.2, 0.3}, {1.23456789, -2, 3, 4}, {5, 1.0 / 3.0, -7, 8}};
  const std::filesystem::path dir = ::testing::TempDir();
  const std::string stem = "mas_export_" + std::to_string(::getpid());
  for (const char* extension : {".csv", ".mat"}) {
    SCOPED_TRACE(extension);
    const std::filesystem::path path = dir / (stem + extension);
    std::string message;
    ASSERT_TRUE(ExportRange(path, table, 0, {2}, 0.05, 0.25, message)) << message;
    const ReadResult back = ReadTable(path);
    ASSERT_TRUE(back.complete) << back.message;
    EXPECT_EQ(back.table.names, (std::vector<std::string>{"time(s)", "Ias(A)"}));
    EXPECT_EQ(back.table.columns[0], (std::vector<double>{0.1, 0.2}));
    // CSV keeps eight significant digits, .mat the double itself.
    EXPECT_EQ(back.table.columns[1][0], extension[1] == 'c' ? 0.33333333 : 1.0 / 3.0);
    std::filesystem::remove(path);
  }
  const ReadResult missing = ReadTable(dir / (stem + "_absent.mat"));
  EXPECT_FALSE(missing.complete);
  EXPECT_FALSE(missing.message.empty());
}

}  // namespace
}  // namespace mas::viewer
