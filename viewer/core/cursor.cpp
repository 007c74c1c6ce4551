#include "viewer/core/cursor.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mas::viewer {

CursorValue ValueAt(std::span<const double> t, std::span<const double> y, double time,
                    Readout mode) {
  CursorValue out;
  const std::size_t n = std::min(t.size(), y.size());
  if (n == 0 || !(time >= t[0] && time <= t[n - 1])) return out;
  t = t.first(n);
  // j: first sample after `time`; the sample at or before it is j - 1.
  const auto j = static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), time) - t.begin());
  const std::size_t i = j - 1;  // j >= 1 because t[0] <= time
  out.valid = true;
  if (j == n || t[i] == time) {
    out.index = i;
  } else if (mode == Readout::kNearest) {
    out.index = (time - t[i] <= t[j] - time) ? i : j;
  } else {
    const double a = (time - t[i]) / (t[j] - t[i]);
    out.index = i;
    out.sample_time = t[i];
    out.value = y[i] + a * (y[j] - y[i]);
    return out;
  }
  out.sample_time = t[out.index];
  out.value = y[out.index];
  return out;
}

CursorDifference Difference(std::span<const double> t, std::span<const double> y, double t1,
                            double t2, Readout mode) {
  CursorDifference d;
  d.dt = t2 - t1;
  d.frequency = d.dt == 0 ? std::numeric_limits<double>::infinity() : 1.0 / std::abs(d.dt);
  const CursorValue a = ValueAt(t, y, t1, mode);
  const CursorValue b = ValueAt(t, y, t2, mode);
  d.valid = a.valid && b.valid;
  if (d.valid) d.dy = b.value - a.value;
  return d;
}

}  // namespace mas::viewer
