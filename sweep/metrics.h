#pragma once
// The numbers a sweep keeps of each run, computed from the recorded columns of the run
// (the values the output table would show, before their rounding to eight digits).

#include <span>
#include <vector>

#include "sweep/sweep_file.h"

namespace mas {

// The largest line of the amplitude spectrum between f1 and f2 (ends included), for
// samples taken every `sample_period` seconds.
//
// The samples are weighted by a periodic Hann window w[n] = 0.5 (1 - cos(2 pi n / N)),
// which keeps the leakage of a strong line (the supply frequency next to the sidebands of
// a broken bar) out of its neighbours, and each line is scaled by the window's sum so
// that a sinusoid of amplitude A on a line of the spectrum reads A: A_k = 2 |X_k| / sum w
// (the lines at 0 and at half the sampling frequency are not doubled). The lines are
// those of the record's length, k / (N sample_period); the one of largest amplitude wins,
// the lowest frequency on a tie.
struct SpectralLine {
  double amplitude = 0.0;
  double frequency = 0.0;  // Hz
};
// False when there are fewer than two samples or no line in the band.
bool LargestLine(std::span<const double> samples, double sample_period, double f1, double f2,
                 SpectralLine& line);

// The values of `metric` (one, or two for a band: amplitude then frequency) over the
// samples whose time lies in its window. NaN when no sample lies in the window (or, for
// a band, when the window holds fewer than two samples or no line of the band).
//   mean  sum / n          rms  sqrt(sum of squares / n)
//   min, max               final  the last sample of the window
// The band's sample period is the window's span over its sample count less one (the
// recorded steps are evenly spaced).
std::vector<double> ComputeMetric(const MetricSpec& metric, std::span<const double> time,
                                  std::span<const double> values);

}  // namespace mas
