#pragma once
// Cursor readout: the value of a column at a time, read between samples either by linear
// interpolation or from the nearest sample, and the differences between two cursors.

#include <cstddef>
#include <span>

namespace mas::viewer {

enum class Readout { kInterpolated, kNearest };

struct CursorValue {
  bool valid = false;      // the time lies within the column's times
  double value = 0;        // interpolated, or the nearest sample's value
  std::size_t index = 0;   // the sample at or before the time (interpolated) or the nearest
  double sample_time = 0;  // time of that sample
};

// Value of y at `time` on the time column t (non-decreasing). Outside [t.front(),
// t.back()] there is no value. Between two samples of equal time the later one counts.
CursorValue ValueAt(std::span<const double> t, std::span<const double> y, double time,
                    Readout mode);

struct CursorDifference {
  double dt = 0;         // t2 - t1, s
  double frequency = 0;  // 1 / |dt|, Hz; infinite when dt is 0
  double dy = 0;         // y(t2) - y(t1)
  bool valid = false;    // both values exist
};

CursorDifference Difference(std::span<const double> t, std::span<const double> y, double t1,
                            double t2, Readout mode);

}  // namespace mas::viewer
