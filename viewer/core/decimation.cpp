#include "viewer/core/decimation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mas::viewer {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

// `v < lo ? v : lo` keeps lo when v is NaN: NaN samples never enter the summary, and the
// form is the one the compiler turns into vector min/max instructions.
void MinMaxOfRange(std::span<const double> y, std::size_t first, std::size_t last, double& lo,
                   double& hi) {
  double a = kInf, b = -kInf;
  const double* p = y.data();
  for (std::size_t i = first; i < last; ++i) {
    const double v = p[i];
    a = v < a ? v : a;
    b = v > b ? v : b;
  }
  lo = a;
  hi = b;
}

MinMaxIndex::MinMaxIndex(std::span<const double> y) : size_(y.size()) {
  const std::size_t blocks = (y.size() + kBlock - 1) / kBlock;
  min_.resize(blocks);
  max_.resize(blocks);
  for (std::size_t b = 0; b < blocks; ++b) {
    MinMaxOfRange(y, b * kBlock, std::min(y.size(), (b + 1) * kBlock), min_[b], max_[b]);
  }
}

void MinMaxIndex::MinMax(std::span<const double> y, std::size_t first, std::size_t last, double& lo,
                         double& hi) const {
  last = std::min(last, y.size());
  if (first >= last) {
    lo = kInf;
    hi = -kInf;
    return;
  }
  const std::size_t first_block = (first + kBlock - 1) / kBlock;  // first whole block
  const std::size_t end_block = last / kBlock;                    // past the last whole one
  if (y.size() != size_ || first_block >= end_block) {
    MinMaxOfRange(y, first, last, lo, hi);
    return;
  }
  double a = 0, b = 0;
  MinMaxOfRange(y, first, first_block * kBlock, a, b);
  double c = 0, d = 0;
  MinMaxOfRange(y, end_block * kBlock, last, c, d);
  a = std::min(a, c);
  b = std::max(b, d);
  for (std::size_t k = first_block; k < end_block; ++k) {
    a = min_[k] < a ? min_[k] : a;
    b = max_[k] > b ? max_[k] : b;
  }
  lo = a;
  hi = b;
}

bool IsNonDecreasing(std::span<const double> x) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (std::isnan(x[i])) return false;
    if (i > 0 && x[i] < x[i - 1]) return false;
  }
  return true;
}

int PixelColumnOf(double x, double x0, double x1, int width) {
  if (!(x >= x0 && x <= x1) || width <= 0) return -1;
  if (!(x1 > x0)) return 0;
  double fraction = (x - x0) / (x1 - x0);
  // A range wider than the largest double: the same fraction from halved bounds.
  if (!std::isfinite(x1 - x0)) fraction = (0.5 * x - 0.5 * x0) / (0.5 * x1 - 0.5 * x0);
  // An infinite bound leaves no finite fraction (inf / inf): the sample goes to the edge
  // it stands at, the first column otherwise.
  if (std::isnan(fraction)) return x == x1 ? width - 1 : 0;
  const double p = std::floor(std::clamp(fraction, 0.0, 1.0) * width);
  // p lies in [0, width] (x1 itself maps to width): the conversion is defined.
  return std::min(static_cast<int>(p), width - 1);
}

void VisibleSamples(std::span<const double> x, double x0, double x1, std::size_t& first,
                    std::size_t& last) {
  first = static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), x0) - x.begin());
  last = static_cast<std::size_t>(std::upper_bound(x.begin(), x.end(), x1) - x.begin());
  if (first > 0) --first;
  if (last < x.size()) ++last;
}

Decimated DecimateMinMax(std::span<const double> x, std::span<const double> y, bool x_monotone,
                         const MinMaxIndex* index, double x0, double x1, int width) {
  Decimated out;
  out.monotone = x_monotone;
  if (width <= 0) return out;
  out.columns.resize(static_cast<std::size_t>(width));
  const std::size_t n = std::min(x.size(), y.size());
  if (x_monotone) {
    x = x.first(n);
    // Samples in [x0, x1], then the boundaries of every pixel column by binary search on
    // the same mapping that places a single sample.
    const auto begin = std::lower_bound(x.begin(), x.end(), x0);
    const auto end = std::upper_bound(begin, x.end(), x1);
    out.first_index = static_cast<std::size_t>(begin - x.begin());
    out.last_index = static_cast<std::size_t>(end - x.begin());
    auto from = begin;
    for (int p = 0; p < width && from != end; ++p) {
      const auto to = std::partition_point(
          from, end, [&](double v) { return PixelColumnOf(v, x0, x1, width) <= p; });
      if (to != from) {
        PixelColumn& c = out.columns[static_cast<std::size_t>(p)];
        const auto i = static_cast<std::size_t>(from - x.begin());
        const auto j = static_cast<std::size_t>(to - x.begin());
        c.empty = false;
        c.count = j - i;
        c.first = y[i];
        c.last = y[j - 1];
        if (index != nullptr) {
          index->MinMax(y, i, j, c.min, c.max);
        } else {
          MinMaxOfRange(y, i, j, c.min, c.max);
        }
      }
      from = to;
    }
    return out;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const int p = PixelColumnOf(x[i], x0, x1, width);
    if (p < 0) continue;
    ++out.last_index;
    PixelColumn& c = out.columns[static_cast<std::size_t>(p)];
    const double v = y[i];
    if (c.empty) {
      c.empty = false;
      c.min = kInf;
      c.max = -kInf;
      c.first = v;
    }
    c.last = v;
    ++c.count;
    c.min = v < c.min ? v : c.min;
    c.max = v > c.max ? v : c.max;
  }
  return out;
}

}  // namespace mas::viewer
