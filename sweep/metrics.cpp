#include "sweep/metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace mas {

bool LargestLine(std::span<const double> samples, double sample_period, double f1, double f2,
                 SpectralLine& line) {
  const std::size_t n = samples.size();
  if (n < 2 || !(sample_period > 0.0)) return false;
  const double length = static_cast<double>(n) * sample_period;  // s
  const double first = std::ceil(f1 * length - 1e-9);
  // Lines up to half the sampling frequency, N / 2 (rounded down).
  const std::size_t half = n / 2;
  const double last = std::min(std::floor(f2 * length + 1e-9), static_cast<double>(half));
  if (!(first <= last) || first < 0.0) return false;

  // The window and the sine table of the record's length: the line k turns by k n / N of
  // a revolution at sample n, so one table of N angles serves every line.
  const double step = 2.0 * std::numbers::pi / static_cast<double>(n);
  std::vector<double> cosine(n), sine(n), weighted(n);
  double window_sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    cosine[i] = std::cos(step * static_cast<double>(i));
    sine[i] = std::sin(step * static_cast<double>(i));
    const double w = 0.5 * (1.0 - cosine[i]);
    window_sum += w;
    weighted[i] = w * samples[i];
  }
  bool found = false;
  const auto k_first = static_cast<std::size_t>(first);
  const auto k_last = static_cast<std::size_t>(last);
  for (std::size_t k = k_first; k <= k_last; ++k) {
    double re = 0.0, im = 0.0;
    std::size_t phase = 0;  // k i mod N
    for (std::size_t i = 0; i < n; ++i) {
      re += weighted[i] * cosine[phase];
      im -= weighted[i] * sine[phase];
      phase += k;
      if (phase >= n) phase -= n;
    }
    const bool edge = k == 0 || 2 * k == n;
    const double amplitude = (edge ? 1.0 : 2.0) * std::hypot(re, im) / window_sum;
    if (!found || amplitude > line.amplitude) {
      line.amplitude = amplitude;
      line.frequency = static_cast<double>(k) / length;
      found = true;
    }
  }
  return found;
}

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
  if (metric.kind == MetricKind::kBand) {
    SpectralLine line;
    const double period =
        v.size() >= 2 ? (time[end - 1] - time[begin]) / static_cast<double>(v.size() - 1) : 0.0;
    if (!LargestLine(v, period, metric.f1, metric.f2, line)) return {kNaN, kNaN};
    return {line.amplitude, line.frequency};
  }
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
