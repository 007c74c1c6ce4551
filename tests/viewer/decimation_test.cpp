#include "viewer/core/decimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace mas::viewer {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Random walk with one-sample spikes of both signs and a few NaN gaps.
std::vector<double> SpikyColumn(std::size_t n, std::mt19937& rng) {
  std::normal_distribution<double> step(0.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 999);
  std::vector<double> y(n);
  double v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    v += step(rng);
    y[i] = v;
    const int r = pick(rng);
    if (r == 0) y[i] = v + 1e4;
    if (r == 1) y[i] = v - 1e4;
    if (r == 2) y[i] = kNaN;
  }
  return y;
}

// Every pixel column's min, max, first, last and count, sample by sample.
std::vector<PixelColumn> BruteForce(const std::vector<double>& x, const std::vector<double>& y,
                                    double x0, double x1, int width) {
  std::vector<PixelColumn> out(static_cast<std::size_t>(width));
  for (std::size_t i = 0; i < x.size(); ++i) {
    const int p = PixelColumnOf(x[i], x0, x1, width);
    if (p < 0) continue;
    PixelColumn& c = out[static_cast<std::size_t>(p)];
    if (c.empty) {
      c.empty = false;
      c.min = HUGE_VAL;
      c.max = -HUGE_VAL;
      c.first = y[i];
    }
    c.last = y[i];
    ++c.count;
    if (!std::isnan(y[i])) {
      c.min = std::min(c.min, y[i]);
      c.max = std::max(c.max, y[i]);
    }
  }
  return out;
}

void ExpectSame(const std::vector<PixelColumn>& got, const std::vector<PixelColumn>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t p = 0; p < got.size(); ++p) {
    SCOPED_TRACE(p);
    ASSERT_EQ(got[p].empty, want[p].empty);
    if (got[p].empty) continue;
    EXPECT_EQ(got[p].count, want[p].count);
    EXPECT_EQ(got[p].min, want[p].min);
    EXPECT_EQ(got[p].max, want[p].max);
    EXPECT_TRUE(got[p].first == want[p].first ||
                (std::isnan(got[p].first) && std::isnan(want[p].first)));
    EXPECT_TRUE(got[p].last == want[p].last ||
                (std::isnan(got[p].last) && std::isnan(want[p].last)));
  }
}

TEST(Decimation, KeepsEveryMinAndMaxOfEveryPixelColumnAtEveryZoom) {
  std::mt19937 rng(12);
  const std::size_t n = 200'000;
  std::vector<double> t(n);
  for (std::size_t i = 0; i < n; ++i) t[i] = 1e-4 * static_cast<double>(i);
  // Repeated times (a table written with too few digits) must not confuse the search.
  for (std::size_t i = 5000; i < 5100; ++i) t[i] = t[5000];
  const std::vector<double> y = SpikyColumn(n, rng);
  const MinMaxIndex index(y);
  struct View {
    double x0, x1;
    int width;
  };
  const View views[] = {{0, 20, 800},          {0, 19.9999, 1}, {3.21, 3.2101, 640},
                        {0.5, 0.5063, 1000},   {-5, 25, 333},   {19.99, 40, 50},
                        {0.49999, 0.50001, 7}, {1.0, 1.0, 10},  {21, 30, 100}};
  for (const View& v : views) {
    SCOPED_TRACE(testing::Message() << v.x0 << " " << v.x1 << " " << v.width);
    const auto want = BruteForce(t, y, v.x0, v.x1, v.width);
    ExpectSame(DecimateMinMax(t, y, true, &index, v.x0, v.x1, v.width).columns, want);
    ExpectSame(DecimateMinMax(t, y, true, nullptr, v.x0, v.x1, v.width).columns, want);
    // The sample-by-sample path for times that go back and forth gives the same columns.
    ExpectSame(DecimateMinMax(t, y, false, nullptr, v.x0, v.x1, v.width).columns, want);
  }
}

TEST(Decimation, OneSampleSpikeStaysVisibleAmongTenMillionPoints) {
  const std::size_t n = 10'000'000;
  std::vector<double> t(n), y(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) t[i] = static_cast<double>(i);
  y[7'654'321] = 5.0;
  y[123] = -3.0;
  const MinMaxIndex index(y);
  const Decimated d = DecimateMinMax(t, y, true, &index, 0, static_cast<double>(n - 1), 500);
  double top = -HUGE_VAL, bottom = HUGE_VAL;
  int spikes = 0;
  for (const PixelColumn& c : d.columns) {
    top = std::max(top, c.max);
    bottom = std::min(bottom, c.min);
    spikes += c.max == 5.0 ? 1 : 0;
  }
  EXPECT_EQ(top, 5.0);
  EXPECT_EQ(bottom, -3.0);
  EXPECT_EQ(spikes, 1);
}

TEST(Decimation, BlockSummariesMatchEveryRange) {
  std::mt19937 rng(3);
  const std::vector<double> y = SpikyColumn(10'000, rng);
  const MinMaxIndex index(y);
  std::uniform_int_distribution<std::size_t> pick(0, y.size());
  for (int k = 0; k < 2000; ++k) {
    std::size_t a = pick(rng), b = pick(rng);
    if (a > b) std::swap(a, b);
    double lo = 0, hi = 0, want_lo = 0, want_hi = 0;
    index.MinMax(y, a, b, lo, hi);
    MinMaxOfRange(y, a, b, want_lo, want_hi);
    ASSERT_EQ(lo, want_lo) << a << " " << b;
    ASSERT_EQ(hi, want_hi) << a << " " << b;
  }
  // Only NaN: no value.
  const std::vector<double> gaps(200, kNaN);
  double lo = 0, hi = 0;
  MinMaxIndex(gaps).MinMax(gaps, 0, 200, lo, hi);
  EXPECT_GT(lo, hi);
}

TEST(Decimation, PixelColumnsAndVisibleSamples) {
  EXPECT_EQ(PixelColumnOf(0, 0, 1, 10), 0);
  EXPECT_EQ(PixelColumnOf(0.0999, 0, 1, 10), 0);
  EXPECT_EQ(PixelColumnOf(0.1, 0, 1, 10), 1);
  EXPECT_EQ(PixelColumnOf(1, 0, 1, 10), 9);
  EXPECT_EQ(PixelColumnOf(1.0001, 0, 1, 10), -1);
  EXPECT_EQ(PixelColumnOf(kNaN, 0, 1, 10), -1);
  EXPECT_EQ(PixelColumnOf(HUGE_VAL, 0, 1, 10), -1);
  EXPECT_EQ(PixelColumnOf(1e308, -1e308, 1e308, 10), 9);
  // Infinite bounds (a table holding inf): no finite fraction, the sample goes to an edge.
  EXPECT_EQ(PixelColumnOf(0, -HUGE_VAL, HUGE_VAL, 10), 0);
  EXPECT_EQ(PixelColumnOf(HUGE_VAL, -HUGE_VAL, HUGE_VAL, 10), 9);
  const std::vector<double> t{0, 1, 2, 3, 4, 5};
  std::size_t first = 0, last = 0;
  VisibleSamples(t, 1.5, 3.5, first, last);
  EXPECT_EQ(first, 1u);  // the samples around the view join the lines at its edges
  EXPECT_EQ(last, 5u);
  VisibleSamples(t, -10, 10, first, last);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(last, 6u);
  EXPECT_TRUE(IsNonDecreasing(t));
  EXPECT_FALSE(IsNonDecreasing(std::vector<double>{0, 1, kNaN}));
  EXPECT_FALSE(IsNonDecreasing(std::vector<double>{0, 2, 1}));
}

}  // namespace
}  // namespace mas::viewer
