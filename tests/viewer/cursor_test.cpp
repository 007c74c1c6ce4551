#include "viewer/core/cursor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace mas::viewer {
namespace {

TEST(Cursor, ReadsInterpolatedAndNearestValues) {
  const std::vector<double> t{0, 0.1, 0.2, 0.2, 0.4};
  const std::vector<double> y{0, 10, 20, 30, 50};
  struct Case {
    double time;
    Readout mode;
    bool valid;
    double value;
    std::size_t index;
  };
  const Case cases[] = {
      {0.05, Readout::kInterpolated, true, 5, 0},   {0.1, Readout::kInterpolated, true, 10, 1},
      {0.3, Readout::kInterpolated, true, 40, 3},  // after a repeated time: the later sample
      {0.2, Readout::kInterpolated, true, 30, 3},   {0.4, Readout::kInterpolated, true, 50, 4},
      {0.05, Readout::kNearest, true, 0, 0},  // a tie goes to the earlier sample
      {0.16, Readout::kNearest, true, 20, 2},       {0.35, Readout::kNearest, true, 50, 4},
      {-0.01, Readout::kInterpolated, false, 0, 0}, {0.41, Readout::kNearest, false, 0, 0},
      {NAN, Readout::kNearest, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.time << " " << static_cast<int>(c.mode));
    const CursorValue v = ValueAt(t, y, c.time, c.mode);
    EXPECT_EQ(v.valid, c.valid);
    if (!c.valid) continue;
    EXPECT_NEAR(v.value, c.value, 1e-12);
    EXPECT_EQ(v.index, c.index);
    EXPECT_EQ(v.sample_time, t[v.index]);
  }
  EXPECT_FALSE(ValueAt({}, {}, 0, Readout::kNearest).valid);
}

TEST(Cursor, TwoCursorsGiveTheDifferencesAndTheFrequency) {
  const std::vector<double> t{0, 0.01, 0.02, 0.03};
  const std::vector<double> y{1, 2, 4, 8};
  const CursorDifference d = Difference(t, y, 0.03, 0.01, Readout::kInterpolated);
  EXPECT_TRUE(d.valid);
  EXPECT_DOUBLE_EQ(d.dt, -0.02);
  EXPECT_DOUBLE_EQ(d.frequency, 50);
  EXPECT_DOUBLE_EQ(d.dy, -6);
  const CursorDifference same = Difference(t, y, 0.01, 0.01, Readout::kNearest);
  EXPECT_TRUE(std::isinf(same.frequency));
  EXPECT_FALSE(Difference(t, y, 0.01, 1, Readout::kNearest).valid);
}

}  // namespace
}  // namespace mas::viewer
