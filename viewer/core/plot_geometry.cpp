#include "viewer/core/plot_geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace mas::viewer {

Range PaddedRange(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi) {
    if (std::isfinite(lo) && !std::isfinite(hi))
      hi = lo;
    else if (std::isfinite(hi) && !std::isfinite(lo))
      lo = hi;
    else
      return {-1, 1};
  }
  if (lo == hi) {
    const double d = std::abs(lo) > 10 ? 0.1 * std::abs(lo) : 1.0;
    return {lo - d, hi + d};
  }
  const double margin = 0.05 * (hi - lo);
  Range r{lo - margin, hi + margin};
  if (!std::isfinite(r.lo) || !std::isfinite(r.hi)) return {lo, hi};
  return r;
}

Range AutoRange(std::span<const double> y, std::size_t first, std::size_t last) {
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  last = std::min(last, y.size());
  for (std::size_t i = first; i < last; ++i) {
    if (std::isfinite(y[i])) {
      lo = std::min(lo, y[i]);
      hi = std::max(hi, y[i]);
    }
  }
  return PaddedRange(lo, hi);
}

Ticks NiceTicks(Range range, int max_ticks) {
  Ticks ticks;
  max_ticks = std::max(max_ticks, 2);
  const double span = range.hi - range.lo;
  if (!(span > 0) || !std::isfinite(span)) return ticks;
  const double raw = span / max_ticks;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude * 10;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * magnitude >= raw) {
      step = m * magnitude;
      break;
    }
  }
  ticks.step = step;
  const double first = std::ceil(range.lo / step - 1e-9);
  const double last = std::floor(range.hi / step + 1e-9);
  // first and last are whole numbers of steps, about max_ticks apart.
  const double count = std::clamp(last - first + 1, 0.0, static_cast<double>(max_ticks) + 1);
  for (int k = 0; k < static_cast<int>(count); ++k) ticks.values.push_back((first + k) * step);
  return ticks;
}

namespace {
std::string ToText(double value, int precision) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general,
                               std::clamp(precision, 1, 17));
  return std::string(buf, r.ptr);
}
}  // namespace

std::string FormatTick(double value, double step) {
  if (!std::isfinite(value) || !std::isfinite(step) || step == 0) return ToText(value, 6);
  if (std::abs(value) < std::abs(step) * 1e-6) return "0";
  const double top = std::floor(std::log10(std::abs(value)));
  const double bottom = std::floor(std::log10(std::abs(step)) + 1e-9);
  // Plain decimals for the magnitudes of a drive (1e-4 to 1e6), as many as the step
  // needs; otherwise the exponent form with the digits down to the step's first one.
  if (top < 6 && bottom >= -4) {
    char buf[64];
    const int decimals = static_cast<int>(std::clamp(-bottom, 0.0, 17.0));
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (r.ec == std::errc()) return std::string(buf, r.ptr);
  }
  return ToText(value, static_cast<int>(std::clamp(top - bottom + 1, 1.0, 15.0)));
}

std::string FormatValue(double value) { return ToText(value, 6); }

std::string ColumnUnit(std::string_view name) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.empty() || name.back() != ')') return {};
  const auto open = name.rfind('(');
  if (open == std::string_view::npos) return {};
  std::string_view unit = name.substr(open + 1, name.size() - open - 2);
  while (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
  while (!unit.empty() && unit.back() == ' ') unit.remove_suffix(1);
  return std::string(unit);
}

std::string FormatValueWithUnit(double value, std::string_view column_name) {
  const std::string unit = ColumnUnit(column_name);
  return unit.empty() ? FormatValue(value) : FormatValue(value) + " " + unit;
}

double ToPixel(double v, Range range, double p_lo, double p_hi) {
  const double limit = 1e6;
  const double low = std::min(p_lo, p_hi) - limit, high = std::max(p_lo, p_hi) + limit;
  if (std::isnan(v)) return low;
  const double span = range.hi - range.lo;
  if (!(span != 0) || !std::isfinite(span)) return 0.5 * (p_lo + p_hi);
  const double p = p_lo + (v - range.lo) / span * (p_hi - p_lo);
  if (std::isnan(p)) return v > 0 ? high : low;
  return std::clamp(p, low, high);
}

double FromPixel(double p, Range range, double p_lo, double p_hi) {
  if (p_hi == p_lo) return range.lo;
  return range.lo + (p - p_lo) / (p_hi - p_lo) * (range.hi - range.lo);
}

bool IsViewable(Range r) {
  const double span = r.hi - r.lo;
  const double scale = std::max({std::abs(r.lo), std::abs(r.hi), 1e-300});
  return std::isfinite(r.lo) && std::isfinite(r.hi) && std::isfinite(span) &&
         span > scale * 1e-12 && span <= 1e300;
}

Range Zoom(Range range, double center, double factor) {
  if (!std::isfinite(center) || !(factor > 0) || !std::isfinite(factor)) return range;
  const Range r{center - (center - range.lo) * factor, center + (range.hi - center) * factor};
  return IsViewable(r) ? r : range;
}

Range Pan(Range range, double fraction) {
  const double d = range.Span() * fraction;
  Range r{range.lo + d, range.hi + d};
  if (!std::isfinite(r.lo) || !std::isfinite(r.hi)) return range;
  return r;
}

std::vector<Band> StackPlots(int top, int height, int count, int gap, int axis_height) {
  std::vector<Band> bands;
  if (count <= 0) return bands;
  const int usable = std::max(0, height - axis_height - gap * (count - 1));
  for (int i = 0; i < count; ++i) {
    const int y0 = usable * i / count, y1 = usable * (i + 1) / count;
    bands.push_back({top + y0 + gap * i, y1 - y0});
  }
  return bands;
}

}  // namespace mas::viewer
