#include "viewer/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTableWidget>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "viewer/plot_canvas.h"
#include "viewer/spectrum_window.h"
#include "viewer/xy_window.h"

namespace mas::viewer {
namespace {

namespace fs = std::filesystem;

// The folder of the screenshots, beside the test binary, created.
QString ScreenshotDir() {
  const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  QDir().mkpath(dir);
  return dir;
}

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

// Without a table the window still shows an empty plot: a white area with its frame and
// axis drawn in a dark colour, nothing left unpainted.
TEST_F(MainWindowTest, WindowWithoutTableDraws) {
  ViewerOptions options;
  MainWindow window(options);
  window.resize(500, 400);
  window.show();
  auto* canvas = window.findChild<PlotCanvas*>();
  ASSERT_NE(canvas, nullptr);
  const QImage image = canvas->grab().toImage();
  ASSERT_GT(image.width(), 50);
  ASSERT_GT(image.height(), 50);
  std::size_t white = 0, dark = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c == Qt::white) ++white;
      if (c.lightness() < 100) ++dark;
    }
  }
  const auto pixels = static_cast<std::size_t>(image.width()) * image.height();
  EXPECT_GT(white, pixels / 2);  // the plot area
  EXPECT_GT(dark, 100u);         // its frame and axis
}

// The cursor panel shows every value whole, with about six significant digits, the
// exponent kept and the unit of the column's name; no text is elided.
TEST_F(MainWindowTest, CursorPanelShowsWholeValuesWithTheirUnits) {
  Write("time(s) Ias(A) Phi\n0 6.45e-19 1234567.89\n0.5 6.45e-19 1234567.89\n1 1 2\n");
  ViewerOptions options;
  options.file = Path();
  MainWindow window(options);
  Session s = window.CurrentSession();
  s.plots = {{{"Ias(A)", "Phi"}, true, {}}};
  s.cursors = {0.25, 0.5};
  window.ApplySession(s);
  window.resize(700, 500);
  window.show();
  QApplication::processEvents();
  auto* table = window.findChild<QTableWidget*>(QStringLiteral("readout"));
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(table->item(0, 0)->text(), "Ias(A)");
  EXPECT_EQ(table->item(0, 1)->text(), "6.45e-19 A");
  EXPECT_EQ(table->item(0, 2)->text(), "6.45e-19 A");
  EXPECT_EQ(table->item(0, 3)->text(), "0 A");
  EXPECT_EQ(table->item(1, 1)->text(), "1.23457e+06");
  EXPECT_EQ(table->textElideMode(), Qt::ElideNone);
  EXPECT_TRUE(window.grab().save(ScreenshotDir() + "/tracix_cursors.png"));
  const QFontMetrics fm(table->font());
  for (int row = 0; row < table->rowCount(); ++row) {
    for (int column = 0; column < table->columnCount(); ++column) {
      if (table->item(row, column) == nullptr) continue;
      EXPECT_GE(table->columnWidth(column), fm.horizontalAdvance(table->item(row, column)->text()))
          << row << " " << column;
    }
  }
}

// "Spectre" and "Tracé XY" open filled, from the current range, without a click on the
// plot first.
TEST_F(MainWindowTest, ToolWindowsAreFilledAsTheyOpen) {
  std::string table = "time(s) Ias(A) Ibs(A)\n";
  for (int i = 0; i < 256; ++i) {
    const double t = i * 1e-3;
    table += std::to_string(t) + " " + std::to_string(std::sin(2 * M_PI * 50 * t)) + " " +
             std::to_string(std::cos(2 * M_PI * 50 * t)) + "\n";
  }
  Write(table);
  ViewerOptions options;
  options.file = Path();
  MainWindow window(options);
  window.show();
  QApplication::processEvents();
  auto trigger = [&](const QString& text) {
    for (QAction* a : window.findChildren<QAction*>()) {
      if (a->text() == text) {
        a->trigger();
        return true;
      }
    }
    return false;
  };
  ASSERT_TRUE(trigger(QStringLiteral("&Spectre…")));
  auto* spectrum = window.findChild<SpectrumWindow*>();
  ASSERT_NE(spectrum, nullptr);
  EXPECT_TRUE(spectrum->isVisible());
  EXPECT_EQ(spectrum->column(), "Ias(A)");
  bool described = false;
  for (QLabel* label : spectrum->findChildren<QLabel*>()) {
    described = described || label->text().contains(QStringLiteral("points de"));
  }
  EXPECT_TRUE(described);
  ASSERT_TRUE(trigger(QStringLiteral("Tracé &XY…")));
  auto* xy = window.findChild<XYWindow*>();
  ASSERT_NE(xy, nullptr);
  EXPECT_TRUE(xy->isVisible());
  EXPECT_FALSE(xy->x_column().isEmpty());
  EXPECT_FALSE(xy->y_column().isEmpty());
  QApplication::processEvents();
  EXPECT_TRUE(spectrum->grab().save(ScreenshotDir() + "/tracix_spectre.png"));
  EXPECT_TRUE(xy->grab().save(ScreenshotDir() + "/tracix_xy.png"));
}

}  // namespace
}  // namespace mas::viewer
