#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <vector>

#include "viewer/core/plot_geometry.h"
#include "viewer/core/spectrum.h"
#include "viewer/core/table.h"
#include "viewer/headless.h"
#include "viewer/plot_painter.h"

namespace mas::viewer {
namespace {

namespace fs = std::filesystem;

// Whether the pixel at (x, y), or one of its neighbours within `slack` pixels, shows the
// colour drawn over white, at least a third opaque (antialiased strokes blend with the
// background). The landmarks do not depend on fonts or on the rounding of a stroke.
bool HasColourNear(const QImage& image, double x, double y, QColor colour, int slack = 2) {
  const int r0 = colour.red(), g0 = colour.green(), b0 = colour.blue();
  const int span = std::max({255 - r0, 255 - g0, 255 - b0});
  for (int dx = -slack; dx <= slack; ++dx) {
    for (int dy = -slack; dy <= slack; ++dy) {
      const int px = static_cast<int>(std::floor(x)) + dx,
                py = static_cast<int>(std::floor(y)) + dy;
      if (px < 0 || py < 0 || px >= image.width() || py >= image.height()) continue;
      const QColor c = image.pixelColor(px, py);
      // Opacity of the colour over white, from the channel that differs most from white.
      const double a = (255 - r0 == span)   ? (255.0 - c.red()) / span
                       : (255 - g0 == span) ? (255.0 - c.green()) / span
                                            : (255.0 - c.blue()) / span;
      if (a < 0.33) continue;
      auto blended = [a](int v) { return 255 - a * (255 - v); };
      if (std::abs(c.red() - blended(r0)) < 40 && std::abs(c.green() - blended(g0)) < 40 &&
          std::abs(c.blue() - blended(b0)) < 40) {
        return true;
      }
    }
  }
  return false;
}

Table StepAndSpike(std::size_t n) {
  Table t;
  t.names = {"time(s)", "step", "spike"};
  t.columns.assign(3, std::vector<double>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const double time = static_cast<double>(i) / static_cast<double>(n - 1);
    t.columns[0][i] = time;
    t.columns[1][i] = time < 0.5 ? 0.0 : 1.0;
    t.columns[2][i] = 0.0;
  }
  t.columns[2][n / 4] = 1.0;  // one sample among a million
  t.columns[2][n / 4 + 1] = std::nan("");
  return t;
}

struct Picture {
  QImage image;
  PlotLayout layout;
};

Picture Paint(const Dataset& data, const ViewState& view, QSize size) {
  Picture p{QImage(size, QImage::Format_ARGB32_Premultiplied), {}};
  QPainter painter(&p.image);
  p.layout = PaintPlots(painter, QRect(QPoint(0, 0), size), data, view);
  return p;
}

TEST(Painting, StackedPlotsShowTheStepAndTheOneSampleSpike) {
  const Dataset data(StepAndSpike(1'000'001));
  ViewState view;
  view.time = data.TimeRange();
  view.plots = {{{1}, true, {}}, {{2}, true, {}}};
  const Picture p = Paint(data, view, QSize(900, 600));
  ASSERT_EQ(p.layout.plots.size(), 2u);
  const QRect a = p.layout.plots[0], b = p.layout.plots[1];
  // Stacked, one time axis: same left and right, the second below the first.
  EXPECT_EQ(a.left(), b.left());
  EXPECT_EQ(a.right(), b.right());
  EXPECT_GT(b.top(), a.bottom());
  EXPECT_LT(b.bottom(), 600);
  EXPECT_GT(a.left(), 20);  // room for the value labels
  const QColor curve = CurveColor(0);
  auto x_of = [&](double t) { return ToPixel(t, view.time, a.left(), a.right() + 1.0); };
  auto y_of = [&](const QRect& r, std::size_t plot, double v) {
    return ToPixel(v, p.layout.ranges[plot], r.bottom() + 1.0, r.top());
  };
  // The step: low before 0.5 s, high after, and nothing high before.
  EXPECT_TRUE(HasColourNear(p.image, x_of(0.25), y_of(a, 0, 0.0), curve));
  EXPECT_TRUE(HasColourNear(p.image, x_of(0.75), y_of(a, 0, 1.0), curve));
  EXPECT_FALSE(HasColourNear(p.image, x_of(0.25), y_of(a, 0, 1.0), curve));
  EXPECT_FALSE(HasColourNear(p.image, x_of(0.75), y_of(a, 0, 0.0), curve));
  // The spike of one sample in a million reaches the top at 0.25 s and nowhere else.
  EXPECT_TRUE(HasColourNear(p.image, x_of(0.25), y_of(b, 1, 1.0), curve));
  EXPECT_FALSE(HasColourNear(p.image, x_of(0.6), y_of(b, 1, 1.0), curve));
  EXPECT_TRUE(HasColourNear(p.image, x_of(0.6), y_of(b, 1, 0.0), curve));
}

TEST(Painting, ZoomedInShowsTheExactSamplesWithMarkers) {
  Table t;
  t.names = {"t", "y"};
  t.columns = {{0, 1, 2, 3, 4, 5}, {0, 10, 0, 10, 0, 10}};
  const Dataset data(std::move(t));
  ViewState view;
  view.time = {0.5, 3.5};
  view.plots = {{{1}, false, {-1, 11}}};
  const Picture p = Paint(data, view, QSize(600, 300));
  const QRect r = p.layout.plots[0];
  const QColor curve = CurveColor(0);
  for (double time : {1.0, 2.0, 3.0}) {
    const double v = time == 2.0 ? 0 : 10;
    EXPECT_TRUE(HasColourNear(p.image, ToPixel(time, view.time, r.left(), r.right() + 1.0),
                              ToPixel(v, view.plots[0].range, r.bottom() + 1.0, r.top()), curve,
                              1));
  }
  // The line from the sample outside the view (t = 0, y = 0) enters at the left edge.
  EXPECT_TRUE(HasColourNear(p.image, r.left() + 1,
                            ToPixel(5, view.plots[0].range, r.bottom() + 1.0, r.top()), curve, 3));
}

class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mas_tracix_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream out(dir_ / "out.dat");
    out << "time(s)     Ias(A)            Vitesse(tr/mn)    \n";
    for (int i = 0; i <= 20000; ++i) {
      const double t = 1e-4 * i;
      out << t << "  " << 10 * std::sin(2 * std::numbers::pi * 50 * t) << "  " << (t < 1 ? 0 : 1500)
          << "\n";
    }
  }
  void TearDown() override { fs::remove_all(dir_); }
  QString Path(const char* name) const { return QString::fromStdString((dir_ / name).string()); }
  fs::path dir_;
};

TEST_F(Headless, DrawsTheChosenColumnsAndRangeIntoAPngOfTheChosenSize) {
  ViewerOptions o;
  QString error;
  ASSERT_TRUE(ParseViewerOptions(
      {Path("out.dat"), "--png", Path("a.png"), "--columns", "Vitesse(tr/mn)", "--from", "0.5",
       "--to", "1.5", "--size", "640x360", "--svg", Path("a.svg")},
      o, error))
      << error.toStdString();
  QString log;
  ASSERT_EQ(RunHeadless(o, log), kHeadlessOk) << log.toStdString();
  const QImage image(Path("a.png"));
  ASSERT_EQ(image.size(), QSize(640, 360));
  EXPECT_TRUE(fs::file_size(dir_ / "a.svg") > 1000);
  // Landmarks: the speed step at 1 s is in the middle of the range; the curve is low in
  // the left quarter and high in the right quarter of the plot.
  const QColor curve = CurveColor(0);
  int low_left = 0, high_right = 0;
  for (int y = 0; y < image.height(); ++y) {
    if (HasColourNear(image, 640 * 0.3, y, curve, 0)) low_left = y;
    if (HasColourNear(image, 640 * 0.8, y, curve, 0)) high_right = y;
  }
  EXPECT_GT(low_left, 0);
  EXPECT_GT(high_right, 0);
  EXPECT_GT(low_left, high_right + 100);  // the low level is drawn far below the high one
}

TEST_F(Headless, SpectrumOfTheCurrentShowsItsLineAtFiftyHertz) {
  ViewerOptions o;
  QString error;
  ASSERT_TRUE(ParseViewerOptions(
      {Path("out.dat"), "--png", Path("s.png"), "--spectrum", "Ias(A)", "--size", "800x400"}, o,
      error));
  QString log;
  ASSERT_EQ(RunHeadless(o, log), kHeadlessOk) << log.toStdString();
  const QImage image(Path("s.png"));
  ASSERT_EQ(image.size(), QSize(800, 400));
  // Where 50 Hz lies on the plot's frequency axis: the same spectrum painted again gives
  // the plot's area, the automatic range its frequencies.
  const ReadResult read = ReadTable(dir_ / "out.dat");
  ASSERT_TRUE(read.complete) << read.message;
  const Spectrum spectrum = ComputeSpectrum(read.table.columns[0], read.table.columns[1], 0.0, 2.0);
  const Range frequencies = AutoFrequencyRange(spectrum);
  ASSERT_GT(frequencies.hi, 60.0);
  QImage scratch(image.size(), QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&scratch);
  const QRect plot =
      PaintSpectrum(painter, scratch.rect(), spectrum, true, QString(), NAN, frequencies);
  painter.end();
  const double x50 = ToPixel(50.0, frequencies, plot.left(), plot.right() + 1.0);
  // The dashed red marker stands on the largest line, 50 Hz, and nowhere else.
  std::vector<int> marker_columns;
  for (int x = 0; x < image.width(); ++x) {
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
      red += HasColourNear(image, x, y, QColor(200, 0, 0), 0);
    if (red > 60) marker_columns.push_back(x);
  }
  ASSERT_FALSE(marker_columns.empty());
  for (int x : marker_columns) EXPECT_NEAR(x, x50, 3.0) << "50 Hz at " << x50;
}

TEST_F(Headless, RefusesBadArgumentsAndMissingFiles) {
  struct Case {
    QStringList args;
    bool parses;
    int status;
  };
  const Case cases[] = {
      {{Path("out.dat"), "--png", Path("b.png"), "--columns", "Nope"}, true, kHeadlessBadArguments},
      {{Path("absent.dat"), "--png", Path("b.png")}, true, kHeadlessUnreadable},
      {{Path("out.dat"), "--png", Path("no/such/folder/b.png")}, true, kHeadlessUnreadable},
      {{Path("out.dat"), "--png", Path("b.png"), "--spectrum", "X"}, true, kHeadlessBadArguments},
      {{Path("out.dat"), "--png", Path("b.png"), "--from", "1,5"}, false, 0},
      {{Path("out.dat"), "--png", Path("b.png"), "--from", "2", "--to", "1"}, false, 0},
      {{Path("out.dat"), "--png", Path("b.png"), "--size", "99999x10"}, false, 0},
      {{Path("out.dat"), "--png"}, false, 0},
      {{"--png", Path("b.png")}, false, 0},
      {{Path("out.dat"), "--bogus"}, false, 0},
      {{Path("out.dat"), "--columns", "A,,B"}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    ViewerOptions o;
    QString error;
    EXPECT_EQ(ParseViewerOptions(c.args, o, error), c.parses);
    if (!c.parses) {
      EXPECT_FALSE(error.isEmpty());
      continue;
    }
    QString log;
    EXPECT_EQ(RunHeadless(o, log), c.status);
    EXPECT_FALSE(log.isEmpty());
  }
}

// The program itself, started without a display: it picks the offscreen platform.
TEST_F(Headless, ProgramDrawsWithoutADisplay) {
  QProcess tracix;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  tracix.setProcessEnvironment(env);
  tracix.start(TRACIX_PATH, {Path("out.dat"), "--png", Path("p.png"), "--size", "400x300"});
  ASSERT_TRUE(tracix.waitForFinished(30000));
  EXPECT_EQ(tracix.exitCode(), 0) << tracix.readAllStandardError().toStdString();
  EXPECT_EQ(QImage(Path("p.png")).size(), QSize(400, 300));
}

}  // namespace
}  // namespace mas::viewer
