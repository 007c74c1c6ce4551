#pragma once
// Min/max decimation of a curve for drawing: for every pixel column of a plot, the
// smallest and largest value of the samples that fall in it, and the first and last of
// them (for the lines joining neighbouring columns). Drawn as a vertical stroke per
// column, the curve looks exactly like the curve of every point, a one-sample spike
// included, at a cost bounded by the plot's width rather than by the table's length.

#include <cstddef>
#include <span>
#include <vector>

namespace mas::viewer {

// Block summaries of a column: the min and max of every kBlock consecutive samples (NaN
// skipped). A pixel column covering many samples reads whole blocks from here, so that
// any zoom of ten million points costs a few hundred thousand reads at most. Costs 2/64
// of the column's memory.
class MinMaxIndex {
 public:
  static constexpr std::size_t kBlock = 64;

  MinMaxIndex() = default;
  explicit MinMaxIndex(std::span<const double> y);

  // Min and max of y[first, last), NaN skipped; lo = +inf and hi = -inf when every sample
  // is NaN or the range is empty. `y` is the column the index was built from.
  void MinMax(std::span<const double> y, std::size_t first, std::size_t last, double& lo,
              double& hi) const;
  std::size_t size() const { return size_; }

 private:
  std::size_t size_ = 0;
  std::vector<double> min_, max_;
};

// Min and max of y[first, last) by reading every sample (NaN skipped).
void MinMaxOfRange(std::span<const double> y, std::size_t first, std::size_t last, double& lo,
                   double& hi);

// Whether x never decreases (a time column); NaN makes it false.
bool IsNonDecreasing(std::span<const double> x);

// Pixel column of abscissa x in a plot of `width` columns showing [x0, x1]: floor((x -
// x0) / (x1 - x0) * width), x1 itself in the last column; -1 outside [x0, x1] or for NaN.
int PixelColumnOf(double x, double x0, double x1, int width);

struct PixelColumn {
  bool empty = true;
  double min = 0, max = 0;     // NaN skipped (min > max when every sample was NaN)
  double first = 0, last = 0;  // values of the column's first and last sample
  std::size_t count = 0;       // samples in the column
};

struct Decimated {
  std::vector<PixelColumn> columns;  // one per pixel column
  std::size_t first_index = 0;       // samples [first_index, last_index) are in [x0, x1]
  std::size_t last_index = 0;        // (for a time column; for another, their count)
  bool monotone = true;              // x never decreases: the fast path was used
};

// Decimates (x, y) over [x0, x1] into `width` pixel columns. With a time column (x never
// decreasing, say so with `x_monotone`) each column's samples are found by binary search
// and summarised through `index` when given; otherwise every sample is placed on its own.
Decimated DecimateMinMax(std::span<const double> x, std::span<const double> y, bool x_monotone,
                         const MinMaxIndex* index, double x0, double x1, int width);

// The samples [first, last) of a time column that lie in [x0, x1], widened by one on each
// side when there is one (the lines entering and leaving the view).
void VisibleSamples(std::span<const double> x, double x0, double x1, std::size_t& first,
                    std::size_t& last);

}  // namespace mas::viewer
