#include "sweep/metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "viewer/core/spectrum.h"

namespace mas {

namespace {

// The band's largest line: the largest bin between f1 and f2, refined between bins when it
// is a peak (a band whose largest bin is at its edge, on the slope of a stronger line
// outside it, keeps that bin as it is).
std::vector<double> BandLine(const MetricSpec& metric, std::span<const double> time,
                             std::span<const double> values) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const double lo = metric.windowed ? metric.t1 : -std::numeric_limits<double>::infinity();
  const double hi = metric.windowed ? metric.t2 : std::numeric_limits<double>::infinity();
  const viewer::Spectrum s = viewer::ComputeSpectrum(time, values, lo, hi);
  if (!s.message.empty() || s.frequency.size() < 2) return {kNaN, kNaN};
  const double df = s.frequency[1];
  const double tolerance = 1e-9 * df;
  std::size_t best = s.frequency.size();
  for (std::size_t k = 0; k < s.frequency.size(); ++k) {
    if (s.frequency[k] < metric.f1 - tolerance || s.frequency[k] > metric.f2 + tolerance) continue;
    if (best == s.frequency.size() || s.amplitude[k] > s.amplitude[best]) best = k;
  }
  if (best == s.frequency.size()) return {kNaN, kNaN};
  const std::vector<double>& a = s.amplitude;
  const bool peak =
      best > 0 && best + 1 < a.size() && a[best] >= a[best - 1] && a[best] >= a[best + 1];
  if (!peak) return {a[best], s.frequency[best]};
  const viewer::SpectralPeak line = viewer::RefinePeak(s, best);
  return {line.amplitude, line.frequency};
}

}  // namespace

std::vector<double> ComputeMetric(const MetricSpec& metric, std::span<const double> time,
                                  std::span<const double> values) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const std::size_t count = std::min(time.size(), values.size());
  // The samples in the window: the recorded times increase, so the window is one slice.
  std::size_t begin = 0, end = count;
  if (metric.windowed) {
    while (begin < count && !(time[begin] >= metric.t1)) ++begin;
    end = begin;
    while (end < count && time[end] <= metric.t2) ++end;
  }
  const std::span<const double> v = values.subspan(begin, end - begin);
  if (metric.kind == MetricKind::kBand)
    return BandLine(metric, time.first(count), values.first(count));
  if (v.empty()) return {kNaN};
  switch (metric.kind) {
    case MetricKind::kMean:
    case MetricKind::kRms: {
      double sum = 0.0;
      for (double x : v) sum += metric.kind == MetricKind::kMean ? x : x * x;
      const double mean = sum / static_cast<double>(v.size());
      return {metric.kind == MetricKind::kMean ? mean : std::sqrt(mean)};
    }
    case MetricKind::kMin:
      return {*std::min_element(v.begin(), v.end())};
    case MetricKind::kMax:
      return {*std::max_element(v.begin(), v.end())};
    case MetricKind::kFinal:
    case MetricKind::kBand:
      break;
  }
  return {v.back()};
}

}  // namespace mas
