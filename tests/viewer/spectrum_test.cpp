#include "viewer/core/spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace mas::viewer {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(Spectrum, FftMatchesTheDefinition) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  const std::size_t n = 64;
  std::vector<double> re(n), im(n);
  for (std::size_t i = 0; i < n; ++i) {
    re[i] = u(rng);
    im[i] = u(rng);
  }
  std::vector<std::complex<double>> want(n);
  for (std::size_t k = 0; k < n; ++k) {
    for (std::size_t j = 0; j < n; ++j) {
      want[k] += std::complex<double>(re[j], im[j]) *
                 std::polar(1.0, -2 * kPi * static_cast<double>(k * j) / static_cast<double>(n));
    }
  }
  Fft(re, im);
  for (std::size_t k = 0; k < n; ++k) {
    EXPECT_NEAR(re[k], want[k].real(), 1e-12);
    EXPECT_NEAR(im[k], want[k].imag(), 1e-12);
  }
}

struct Line {
  double frequency, amplitude;
};

// A stator current of 50 Hz with the (1 - 2s) f and (1 + 2s) f sidebands of a broken bar
// (s = 4 %: 46 Hz and 54 Hz, 40 dB down) and a DC offset.
TEST(Spectrum, FindsTheFrequenciesAndLevelsOfKnownSines) {
  const Line lines[] = {{50, 10}, {46, 0.1}, {54, 0.1}, {250, 0.5}};
  const double dt = 1e-4, offset = 0.3;
  const std::size_t n = 30000;  // 3 s, not a power of two
  std::vector<double> t(n), y(n);
  for (std::size_t i = 0; i < n; ++i) {
    t[i] = dt * static_cast<double>(i);
    y[i] = offset;
    for (const Line& l : lines) y[i] += l.amplitude * std::sin(2 * kPi * l.frequency * t[i] + 0.3);
  }
  const Spectrum s = ComputeSpectrum(t, y, 0, 10);
  ASSERT_TRUE(s.message.empty()) << s.message;
  EXPECT_FALSE(s.resampled);
  EXPECT_EQ(s.samples, n);
  EXPECT_NEAR(s.amplitude[0], offset, 1e-3);
  for (const Line& l : lines) {
    SCOPED_TRACE(l.frequency);
    const SpectralPeak peak = PeakNear(s, l.frequency + 0.4);
    ASSERT_TRUE(peak.found);
    EXPECT_NEAR(peak.frequency, l.frequency, 0.05);
    // Within 0.5 %; the sidebands within 2 %, as the skirt of the line 40 dB above them
    // still adds to their bins.
    EXPECT_NEAR(peak.amplitude, l.amplitude, (l.amplitude < 0.2 ? 0.02 : 0.005) * l.amplitude);
  }
  // The largest line is 0 dB; the sidebands 40 dB below it.
  const SpectralPeak side = PeakNear(s, 46);
  EXPECT_NEAR(20 * std::log10(side.amplitude / 10), -40, 0.2);
  double top = -1e9;
  for (double v : s.level_db) top = std::max(top, v);
  EXPECT_EQ(top, 0.0);
  // The band worth showing ends a little above the last line (250 Hz), far below the
  // 5 kHz of half the sampling frequency.
  const Range band = AutoFrequencyRange(s, -80);
  EXPECT_GT(band.hi, 250);
  EXPECT_LT(band.hi, 400);
}

TEST(Spectrum, ResamplesTimesThatAreNotUniformAndSaysSo) {
  // Steps alternating between 0.8 and 1.2 times 1e-4 s.
  std::vector<double> t, y;
  double time = 0;
  for (int i = 0; i < 20000; ++i) {
    t.push_back(time);
    y.push_back(std::sin(2 * kPi * 50 * time));
    time += (i % 2 == 0 ? 0.8e-4 : 1.2e-4);
  }
  const Spectrum s = ComputeSpectrum(t, y, 0, 10);
  ASSERT_TRUE(s.message.empty()) << s.message;
  EXPECT_TRUE(s.resampled);
  const SpectralPeak peak = PeakNear(s, 48, 3);
  EXPECT_NEAR(peak.frequency, 50, 0.1);
  EXPECT_NEAR(peak.amplitude, 1, 0.01);
  EXPECT_TRUE(IsUniform(std::vector<double>{0, 1.000001, 2, 3}, 0, 4));
  EXPECT_FALSE(IsUniform(std::vector<double>{0, 1, 2, 4}, 0, 4));
}

TEST(Spectrum, RefusesRangesItCannotTransform) {
  const std::vector<double> t{0, 1, 2, 3, 4, 5}, y{1, 2, 3, 4, 5, 6};
  EXPECT_NE(ComputeSpectrum(t, y, 0, 2).message, "");  // three samples
  std::vector<double> with_nan = y;
  with_nan[2] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_NE(ComputeSpectrum(t, with_nan, 0, 5).message, "");
  const std::vector<double> frozen{1, 1, 1, 1, 1};
  EXPECT_NE(ComputeSpectrum(frozen, frozen, 0, 5).message, "");  // time does not advance
  const std::vector<double> backwards{0, 1, 2, 1.5, 4, 5};       // not a time column
  EXPECT_NE(ComputeSpectrum(backwards, y, 0, 5).message, "");
  EXPECT_TRUE(ComputeSpectrum(t, y, 0, 5).message.empty());
}

}  // namespace
}  // namespace mas::viewer
