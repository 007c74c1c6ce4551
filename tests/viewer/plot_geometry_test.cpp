#include "viewer/core/plot_geometry.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace mas::viewer {
namespace {

TEST(PlotGeometry, GraduationsAreRoundStepsWithDistinctPointLabels) {
  // A French locale must not change the labels (decimal point, never a comma).
  const char* previous = std::setlocale(LC_ALL, "fr_FR.UTF-8");
  struct Case {
    Range range;
    int max_ticks;
  };
  const Case cases[] = {
      {{0, 1}, 5},          {{-0.37, 2.91}, 8}, {{1234.5, 1234.7}, 6},  {{-1e-7, 3e-7}, 4},
      {{0.2, 0.20001}, 10}, {{-1e6, 5e6}, 7},   {{99.999, 100.001}, 3}, {{-5, -4.9}, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.range.lo << " " << c.range.hi);
    const Ticks t = NiceTicks(c.range, c.max_ticks);
    ASSERT_GE(t.values.size(), 2u);
    EXPECT_LE(t.values.size(), static_cast<std::size_t>(c.max_ticks) + 1);
    const double mantissa = t.step / std::pow(10.0, std::floor(std::log10(t.step)));
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 ||
                std::abs(mantissa - 5) < 1e-9)
        << t.step;
    std::set<std::string> labels;
    for (double v : t.values) {
      EXPECT_GE(v, c.range.lo - 1e-9 * t.step);
      EXPECT_LE(v, c.range.hi + 1e-9 * t.step);
      const std::string label = FormatTick(v, t.step);
      EXPECT_EQ(label.find(','), std::string::npos) << label;
      EXPECT_LE(label.size(), 12u) << label;
      // The label reads back as the graduation, to within a small part of the step.
      EXPECT_NEAR(std::stod(label), v, 1e-6 * t.step + 1e-12 * std::abs(v)) << label;
      labels.insert(label);
    }
    EXPECT_EQ(labels.size(), t.values.size());
  }
  EXPECT_EQ(FormatTick(1e-17, 0.1), "0");
  EXPECT_EQ(FormatTick(0.30000000000000004, 0.1), "0.3");
  if (previous != nullptr) std::setlocale(LC_ALL, "C");
}

TEST(PlotGeometry, CursorValuesCarryTheUnitOfTheirColumn) {
  EXPECT_EQ(ColumnUnit("Ias(A)"), "A");
  EXPECT_EQ(ColumnUnit("time(s)"), "s");
  EXPECT_EQ(ColumnUnit("Ce MAS ( Nm ) "), "Nm");
  EXPECT_EQ(ColumnUnit("Phi_alpha_s"), "");
  EXPECT_EQ(ColumnUnit("f(x) y"), "");
  EXPECT_EQ(ColumnUnit(")"), "");
  EXPECT_EQ(ColumnUnit(""), "");
  EXPECT_EQ(FormatValueWithUnit(6.45e-19, "Ias(A)"), "6.45e-19 A");
  EXPECT_EQ(FormatValueWithUnit(1234567.89, "Wm(rd/s)"), "1.23457e+06 rd/s");
  EXPECT_EQ(FormatValueWithUnit(0.5, "Flou"), "0.5");
}

TEST(PlotGeometry, PixelsOfValuesStayPlaceable) {
  const Range r{0, 10};
  EXPECT_DOUBLE_EQ(ToPixel(5, r, 100, 200), 150);
  EXPECT_DOUBLE_EQ(ToPixel(5, r, 200, 100), 150);  // vertical axis, upwards
  EXPECT_DOUBLE_EQ(FromPixel(150, r, 100, 200), 5);
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {inf, -inf, std::nan(""), 1e308, -1e308}) {
    const double p = ToPixel(v, r, 100, 200);
    EXPECT_TRUE(std::isfinite(p));
    EXPECT_LE(std::abs(p), 2e6);
  }
  EXPECT_TRUE(std::isfinite(ToPixel(1, Range{-1e308, 1e308}, 0, 100)));
}

TEST(PlotGeometry, RangesZoomPanAndStack) {
  EXPECT_EQ(PaddedRange(0, 10), (Range{-0.5, 10.5}));
  EXPECT_EQ(PaddedRange(3, 3), (Range{2, 4}));
  EXPECT_EQ(PaddedRange(HUGE_VAL, -HUGE_VAL), (Range{-1, 1}));
  const std::vector<double> y{std::nan(""), 2, HUGE_VAL, 4};
  EXPECT_EQ(AutoRange(y, 0, 4), (Range{1.9, 4.1}));
  EXPECT_EQ(Zoom({0, 10}, 5, 0.5), (Range{2.5, 7.5}));
  EXPECT_EQ(Zoom({0, 10}, 0, 2), (Range{0, 20}));
  EXPECT_EQ(Zoom({1, 1 + 1e-12}, 1, 0.5), (Range{1, 1 + 1e-12}));   // too narrow: refused
  EXPECT_EQ(Zoom({-1e300, 1e300}, 0, 10), (Range{-1e300, 1e300}));  // too wide: refused
  EXPECT_EQ(Pan({0, 10}, 0.25), (Range{2.5, 12.5}));
  EXPECT_TRUE(IsViewable({0.1, 0.1000001}));
  EXPECT_FALSE(IsViewable({1, 1}));
  EXPECT_FALSE(IsViewable({2, 1}));
  EXPECT_FALSE(IsViewable({0, HUGE_VAL}));
  EXPECT_FALSE(IsViewable({1e6, 1e6 + 1e-7}));
  const std::vector<Band> bands = StackPlots(10, 400, 3, 8, 40);
  ASSERT_EQ(bands.size(), 3u);
  EXPECT_EQ(bands[0].top, 10);
  for (std::size_t i = 1; i < bands.size(); ++i) {
    EXPECT_EQ(bands[i].top, bands[i - 1].top + bands[i - 1].height + 8);
  }
  EXPECT_EQ(bands.back().top + bands.back().height, 10 + 400 - 40);
  EXPECT_TRUE(StackPlots(0, 10, 0, 8, 40).empty());
  for (const Band& b : StackPlots(0, 10, 4, 8, 40)) EXPECT_GE(b.height, 0);
}

TEST(PlotGeometry, ZoomHistoryGoesBackAndForward) {
  ZoomHistory<int> h;
  EXPECT_FALSE(h.CanGoBack());
  h.Push(1);
  h.Push(2);
  h.Push(3);
  EXPECT_EQ(h.Back(), 2);
  EXPECT_EQ(h.Back(), 1);
  EXPECT_FALSE(h.CanGoBack());
  EXPECT_EQ(h.Back(), 1);
  EXPECT_EQ(h.Forward(), 2);
  h.Push(4);  // a new zoom drops the views ahead
  EXPECT_FALSE(h.CanGoForward());
  EXPECT_EQ(h.Back(), 2);
  EXPECT_EQ(h.size(), 3u);
}

}  // namespace
}  // namespace mas::viewer
