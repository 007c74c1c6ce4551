#pragma once
// The numbers a sweep keeps of each run, computed from the recorded columns of the run
// (the values the output table would show, before their rounding to eight digits).

#include <span>
#include <vector>

#include "sweep/sweep_file.h"

namespace mas {

// Lines a band must span for its largest line to be told from its neighbours: a band
// narrower than this many spacings of the window's lines (1 / its length) gets a warning.
inline constexpr double kFewBandLines = 5.0;

// The values of `metric` (one, or two for a band: amplitude then frequency) over the
// samples whose time lies in its window. NaN when no sample lies in the window (or, for
// a band, when the window holds too few samples for a spectrum or no line of the band).
//   mean  sum / n          rms  sqrt(sum of squares / n)
//   min, max               final  the last sample of the window
//   band  the largest line between f1 and f2 of the curve viewer's spectrum of the
//         window (viewer/core/spectrum.h: Hann window, padded to a power of two,
//         scaled so that a sinusoid of amplitude A reads A, the mean not doubled), its
//         frequency and amplitude interpolated between bins when it is a peak; one
//         spectrum code serves the viewer and the sweeps.
std::vector<double> ComputeMetric(const MetricSpec& metric, std::span<const double> time,
                                  std::span<const double> values);

}  // namespace mas
