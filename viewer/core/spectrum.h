#pragma once
// Spectrum of one column over a time range: Hann window, FFT, peak amplitudes in the
// column's own unit and levels in dB relative to the largest line, on a uniform time
// base (a table whose times are not uniform is first resampled linearly, and says so).

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "viewer/core/plot_geometry.h"

namespace mas::viewer {

// Samples a spectrum accepts: 2^22, about 4 million (a 64 MB transform).
inline constexpr std::size_t kMaxSpectrumSamples = std::size_t{1} << 22;

struct Spectrum {
  std::vector<double> frequency;  // Hz, bin k at k / (N dt), N the padded length
  std::vector<double> amplitude;  // peak amplitude of a sine at that bin (DC: the mean)
  std::vector<double> level_db;   // 20 log10(amplitude / largest amplitude), floor -300 dB
  std::size_t samples = 0;        // samples taken from the range
  double sample_time = 0;         // dt of the uniform base, s
  bool resampled = false;         // the table's times were not uniform
  std::string message;            // why there is no spectrum (empty when there is one)
};

// Times within 1 % of their mean step count as uniform (the table's times carry 8
// significant digits, so their steps jitter by far less than that).
bool IsUniform(std::span<const double> t, std::size_t first, std::size_t last);

// y resampled linearly at n instants t0 + k dt from the time column t (non-decreasing).
std::vector<double> ResampleLinear(std::span<const double> t, std::span<const double> y, double t0,
                                   double dt, std::size_t n);

// In-place radix-2 FFT (size a power of two), X_k = sum x_n exp(-2 pi i k n / N).
void Fft(std::vector<double>& re, std::vector<double>& im);

// Spectrum of y over the samples of the time column t that lie in [t0, t1].
Spectrum ComputeSpectrum(std::span<const double> t, std::span<const double> y, double t0,
                         double t1);

struct SpectralPeak {
  bool found = false;
  double frequency = 0;  // Hz, between bins (Gaussian interpolation of the Hann lobe)
  double amplitude = 0;  // column unit
};

// The spectral line at `frequency`: the largest bin within `search` Hz of it (at least
// three bins, the half-width of the Hann main lobe), refined between bins.
SpectralPeak PeakNear(const Spectrum& spectrum, double frequency, double search = 0);

// The line whose largest bin is `bin`, refined between bins (Gaussian interpolation of the
// Hann lobe through the bin and its two neighbours).
SpectralPeak RefinePeak(const Spectrum& spectrum, std::size_t bin);

// Frequencies worth showing: from 0 to a little above the last line that stands above
// `floor_db` (the rest of the band up to half the sampling frequency is noise).
Range AutoFrequencyRange(const Spectrum& spectrum, double floor_db = -80);

}  // namespace mas::viewer
