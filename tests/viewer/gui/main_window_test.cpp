#include "viewer/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <filesystem>
#include <fstream>

namespace mas::viewer {
namespace {

namespace fs = std::filesystem;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mas_tracix_window_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& text) { std::ofstream(dir_ / "out.dat") << text; }
  QString Path() const { return QString::fromStdString((dir_ / "out.dat").string()); }
  fs::path dir_;
};

// A new run rewrites the table with its columns in another order: the reload keeps the
// plots' columns by name, the zoom and the cursors.
TEST_F(MainWindowTest, ReloadKeepsColumnsZoomAndCursors) {
  Write("time(s) Ias(A) Ce(Nm)\n0 1 10\n0.5 2 20\n1 3 30\n");
  ViewerOptions options;
  options.file = Path();
  MainWindow window(options);
  ASSERT_NE(window.dataset(), nullptr);
  ASSERT_EQ(window.view().plots.size(), 1u);
  EXPECT_EQ(window.view().plots[0].columns, (std::vector<std::size_t>{1}));  // Ias(A)

  Session s = window.CurrentSession();
  s.plots = {{{"Ce(Nm)"}, true, {}}, {{"Ias(A)"}, false, {-1, 4}}};
  s.auto_time = false;
  s.time_range = {0.2, 0.8};
  s.cursors = {0.25};
  window.ApplySession(s);

  Write("time(s) Ce(Nm) Vas(V) Ias(A)\n0 1 0 10\n0.5 2 0 20\n1 3 0 30\n2 4 0 40\n");
  ASSERT_TRUE(window.Open(Path(), true));
  const ViewState& v = window.view();
  ASSERT_EQ(v.plots.size(), 2u);
  EXPECT_EQ(v.plots[0].columns, (std::vector<std::size_t>{1}));  // Ce(Nm), now column 1
  EXPECT_EQ(v.plots[1].columns, (std::vector<std::size_t>{3}));  // Ias(A), now column 3
  EXPECT_FALSE(v.plots[1].auto_range);
  EXPECT_EQ(v.plots[1].range, (Range{-1, 4}));
  EXPECT_EQ(v.time, (Range{0.2, 0.8}));
  EXPECT_EQ(v.cursors, (std::vector<double>{0.25}));
  EXPECT_EQ(window.dataset()->table().RowCount(), 4u);
  // A session written and read back gives the same view.
  EXPECT_EQ(window.CurrentSession().plots[1].curves, (std::vector<std::string>{"Ias(A)"}));
}

TEST_F(MainWindowTest, WindowWithoutTableDraws) {
  ViewerOptions options;
  MainWindow window(options);
  window.resize(500, 400);
  QImage image(500, 400, QImage::Format_ARGB32_Premultiplied);
  window.render(&image);
  EXPECT_FALSE(image.isNull());
}

}  // namespace
}  // namespace mas::viewer
