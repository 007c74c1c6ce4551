#include "viewer/core/spectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "viewer/core/decimation.h"

namespace mas::viewer {

bool IsUniform(std::span<const double> t, std::size_t first, std::size_t last) {
  if (last <= first + 2) return true;
  const double mean = (t[last - 1] - t[first]) / static_cast<double>(last - first - 1);
  if (!(mean > 0) || !std::isfinite(mean)) return false;
  for (std::size_t i = first + 1; i < last; ++i) {
    if (!(std::abs(t[i] - t[i - 1] - mean) <= 0.01 * mean)) return false;
  }
  return true;
}

std::vector<double> ResampleLinear(std::span<const double> t, std::span<const double> y, double t0,
                                   double dt, std::size_t n) {
  std::vector<double> out(n);
  const std::size_t size = std::min(t.size(), y.size());
  if (size == 0) return out;
  std::size_t j = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double tk = t0 + dt * static_cast<double>(k);
    while (j + 1 < size && t[j + 1] <= tk) ++j;
    if (j + 1 >= size || tk <= t[j]) {
      out[k] = y[j];
    } else {
      const double a = (tk - t[j]) / (t[j + 1] - t[j]);
      out[k] = y[j] + a * (y[j + 1] - y[j]);
    }
  }
  return out;
}

void Fft(std::vector<double>& re, std::vector<double>& im) {
  const std::size_t n = re.size();
  if (n < 2) return;
  // Bit-reversal permutation.
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  // Twiddles exp(-2 pi i k / n), each from its own cos and sin (no accumulated rounding).
  std::vector<double> wr(n / 2), wi(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double a = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    wr[k] = std::cos(a);
    wi[k] = std::sin(a);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t half = len / 2, stride = n / len;
    for (std::size_t i = 0; i < n; i += len) {
      for (std::size_t k = 0; k < half; ++k) {
        const double c = wr[k * stride], s = wi[k * stride];
        const std::size_t a = i + k, b = a + half;
        const double xr = re[b] * c - im[b] * s;
        const double xi = re[b] * s + im[b] * c;
        re[b] = re[a] - xr;
        im[b] = im[a] - xi;
        re[a] += xr;
        im[a] += xi;
      }
    }
  }
}

Spectrum ComputeSpectrum(std::span<const double> t, std::span<const double> y, double t0,
                         double t1) {
  Spectrum s;
  const std::size_t size = std::min(t.size(), y.size());
  t = t.first(size);
  if (!IsNonDecreasing(t)) {
    s.message = "La première colonne (le temps) ne croît pas : pas de spectre";
    return s;
  }
  const auto first = static_cast<std::size_t>(std::lower_bound(t.begin(), t.end(), t0) - t.begin());
  const auto last = static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), t1) - t.begin());
  if (last < first + 4) {
    s.message = "Pas assez de points dans l'intervalle pour un spectre (au moins 4)";
    return s;
  }
  const std::size_t n = last - first;
  if (n > kMaxSpectrumSamples) {
    s.message = "Intervalle trop long pour le spectre (" + std::to_string(n) + " points, au plus " +
                std::to_string(kMaxSpectrumSamples) + ") : réduisez la plage affichée";
    return s;
  }
  const double dt = (t[last - 1] - t[first]) / static_cast<double>(n - 1);
  if (!(dt > 0) || !std::isfinite(dt)) {
    s.message = "Base de temps invalide pour le spectre";
    return s;
  }
  std::vector<double> x;
  if (IsUniform(t, first, last)) {
    x.assign(y.begin() + static_cast<std::ptrdiff_t>(first),
             y.begin() + static_cast<std::ptrdiff_t>(last));
  } else {
    s.resampled = true;
    x = ResampleLinear(t.subspan(first, n), y.subspan(first, n), t[first], dt, n);
  }
  for (double v : x) {
    if (!std::isfinite(v)) {
      s.message = "Valeurs non finies (nan, inf) dans l'intervalle : pas de spectre";
      return s;
    }
  }
  // Hann window w_k = 0.5 - 0.5 cos(2 pi k / n); a sine of amplitude A gives a line of
  // height A sum(w) / 2, hence the scaling 2 / sum(w).
  std::size_t padded = 1;
  while (padded < n) padded <<= 1;
  std::vector<double> re(padded, 0.0), im(padded, 0.0);
  double sum_w = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) /
                                          static_cast<double>(n));
    re[k] = x[k] * w;
    sum_w += w;
  }
  Fft(re, im);
  const std::size_t bins = padded / 2 + 1;
  s.samples = n;
  s.sample_time = dt;
  s.frequency.resize(bins);
  s.amplitude.resize(bins);
  s.level_db.resize(bins);
  double largest = 0;
  for (std::size_t k = 0; k < bins; ++k) {
    s.frequency[k] = static_cast<double>(k) / (static_cast<double>(padded) * dt);
    const double scale = (k == 0 || k == padded / 2) ? 1.0 / sum_w : 2.0 / sum_w;
    s.amplitude[k] = std::hypot(re[k], im[k]) * scale;
    largest = std::max(largest, s.amplitude[k]);
  }
  for (std::size_t k = 0; k < bins; ++k) {
    s.level_db[k] =
        largest > 0 && s.amplitude[k] > 0 ? 20.0 * std::log10(s.amplitude[k] / largest) : -300.0;
    s.level_db[k] = std::max(s.level_db[k], -300.0);
  }
  return s;
}

SpectralPeak PeakNear(const Spectrum& spectrum, double frequency, double search) {
  SpectralPeak peak;
  const std::vector<double>& a = spectrum.amplitude;
  if (a.size() < 3 || spectrum.frequency.size() != a.size()) return peak;
  const double df = spectrum.frequency[1];
  if (!(df > 0) || !std::isfinite(frequency) || !std::isfinite(search)) return peak;
  const double last = static_cast<double>(a.size() - 1);
  const double width = std::max(3.0, std::ceil(std::abs(search) / df));
  const double center = std::clamp(std::round(frequency / df), 0.0, last);
  // Bin numbers within [0, a.size() - 1]: the conversions are defined.
  const auto from = static_cast<std::size_t>(std::clamp(center - width, 0.0, last));
  const auto to = static_cast<std::size_t>(std::clamp(center + width, 0.0, last));
  std::size_t k = from;
  for (std::size_t i = from; i <= to; ++i) {
    if (a[i] > a[k]) k = i;
  }
  return RefinePeak(spectrum, k);
}

SpectralPeak RefinePeak(const Spectrum& spectrum, std::size_t k) {
  SpectralPeak peak;
  const std::vector<double>& a = spectrum.amplitude;
  if (k >= a.size() || spectrum.frequency.size() != a.size() || a.size() < 2) return peak;
  const double df = spectrum.frequency[1];
  peak.found = true;
  peak.frequency = spectrum.frequency[k];
  peak.amplitude = a[k];
  if (k > 0 && k + 1 < a.size() && a[k - 1] > 0 && a[k + 1] > 0 && a[k] > 0) {
    // The Hann main lobe is close to a Gaussian: a parabola through the logarithms of the
    // three bins gives the line's position and height between bins.
    const double l = std::log(a[k - 1]), c = std::log(a[k]), r = std::log(a[k + 1]);
    const double denominator = l - 2 * c + r;
    if (denominator < 0) {
      const double delta = std::clamp(0.5 * (l - r) / denominator, -0.5, 0.5);
      peak.frequency = (static_cast<double>(k) + delta) * df;
      // The Hann window's response to a sine d bins (of the unpadded length n) off a
      // bin: W(d) = sin(pi d) / (pi d (1 - d^2)); the bin shows A W(d).
      const double padded = 2.0 * static_cast<double>(a.size() - 1);
      const double d = delta * static_cast<double>(spectrum.samples) / padded;
      const double w = std::abs(d) < 1e-9
                           ? 1.0
                           : std::sin(std::numbers::pi * d) / (std::numbers::pi * d * (1 - d * d));
      if (w > 0.5) peak.amplitude = a[k] / w;
    }
  }
  return peak;
}

Range AutoFrequencyRange(const Spectrum& spectrum, double floor_db) {
  const std::size_t bins = spectrum.frequency.size();
  if (bins < 2) return {0, 1};
  std::size_t last = 0;
  for (std::size_t k = 0; k < bins && k < spectrum.level_db.size(); ++k) {
    if (spectrum.level_db[k] > floor_db) last = k;
  }
  // A fifth more than the last line above the floor, and never fewer than 16 bins.
  const double top = std::max(1.2 * spectrum.frequency[last], 16 * spectrum.frequency[1]);
  return {0, std::min(top, spectrum.frequency.back())};
}

}  // namespace mas::viewer
