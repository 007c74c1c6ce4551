#pragma once
// Geometry of the viewer's plots, kept apart from the painting so that it can be checked
// on its own: value ranges, graduations and their labels, the mapping from values to
// pixels, the stacking of plots on one time axis, and the zoom history.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mas::viewer {

struct Range {
  double lo = 0, hi = 1;
  bool operator==(const Range&) const = default;
  double Span() const { return hi - lo; }
};

// Range of the finite values of y[first, last), widened by 5 % on each side; a constant
// gives +-1 around it (+-10 % of it when large); no finite value gives [-1, 1].
Range AutoRange(std::span<const double> y, std::size_t first, std::size_t last);
// The same from a known min and max (infinite or NaN bounds are ignored).
Range PaddedRange(double lo, double hi);

// Graduations of [lo, hi]: multiples of a step of 1, 2 or 5 times a power of ten, at most
// `max_ticks` of them (at least two when the range allows).
struct Ticks {
  double step = 1;
  std::vector<double> values;
};
Ticks NiceTicks(Range range, int max_ticks);

// Label of a graduation: the shortest decimal text (always a point, never the locale's
// comma) that tells neighbouring graduations apart; a value within a millionth of a step
// of zero is "0".
std::string FormatTick(double value, double step);
// A value read at a cursor: 6 significant digits, decimal point.
std::string FormatValue(double value);
// The unit a column's name gives between parentheses at its end ("Ias(A)" -> "A",
// "time(s)" -> "s", "Ce MAS (Nm)" -> "Nm"), or an empty text.
std::string ColumnUnit(std::string_view name);
// A value read at a cursor with its column's unit: "6.45e-19 A", or the value alone.
std::string FormatValueWithUnit(double value, std::string_view column_name);

// Pixel of value v on an axis that shows [lo, hi] between pixels p_lo and p_hi (p_hi may
// be below p_lo, as for a vertical axis). Infinite values and values far outside the
// range are held at 10^6 pixels past the axis, so that the painter never receives
// numbers it cannot place.
double ToPixel(double v, Range range, double p_lo, double p_hi);
// The value at pixel p (inverse of ToPixel inside the range).
double FromPixel(double p, Range range, double p_lo, double p_hi);

// Whether a view can show the range: finite bounds, lo < hi, and a span of at least
// 1e-12 of the bounds' magnitude (below that the pixels of the axis repeat values).
bool IsViewable(Range range);

// Range zoomed by `factor` (< 1 zooms in) around `center`, and shifted by `fraction`
// of its span. Refuses (returns the range unchanged) to go below a span of 1e-12 of
// the center's magnitude or beyond 1e300.
Range Zoom(Range range, double center, double factor);
Range Pan(Range range, double fraction);

// Rows of stacked plots: `count` plots sharing `height` pixels from `top`, separated by
// `gap` pixels, the last one keeping `axis_height` more below it for the time axis's
// labels. Each entry is the top and the height of one plot's drawing area.
struct Band {
  int top = 0;
  int height = 0;
};
std::vector<Band> StackPlots(int top, int height, int count, int gap, int axis_height);

// Back and forward through the zooms: every new view is pushed; back and forward move
// through them like a browser's history.
template <class View>
class ZoomHistory {
 public:
  void Push(const View& view) {
    views_.resize(position_ + (views_.empty() ? 0 : 1));
    views_.push_back(view);
    position_ = views_.size() - 1;
  }
  bool CanGoBack() const { return !views_.empty() && position_ > 0; }
  bool CanGoForward() const { return position_ + 1 < views_.size(); }
  const View& Back() { return views_[CanGoBack() ? --position_ : position_]; }
  const View& Forward() { return views_[CanGoForward() ? ++position_ : position_]; }
  void Clear() {
    views_.clear();
    position_ = 0;
  }
  std::size_t size() const { return views_.size(); }

 private:
  std::vector<View> views_;
  std::size_t position_ = 0;
};

}  // namespace mas::viewer
