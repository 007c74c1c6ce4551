#pragma once
// The machine's own state at chosen instants: its mechanical speed and its phase-a
// current, taken from the integrator (not from the controller's sampled copies) and
// interpolated linearly between the two steps around each instant.
//
// The state after a step belongs to the end of that step. The voltage is held over each
// step; one that changes only at the controller's samples is held as the real inverter
// holds it. The open-loop sine supply, though, is a continuous waveform: held at its
// value at the start of the step it would drive the machine half a step late (a phase lag
// of half a step at the supply frequency), so a traced run holds its value at the middle
// of the step, which is its average over the step to second order. The output table of
// an ordinary run keeps its own timing.
//
// The trace is sized once before the run; the run fills it without allocating and ends
// as soon as the last instant is filled.

#include <cstddef>
#include <vector>

namespace mas {

struct MachineTrace {
  // Instants to trace (s), increasing. Set before the run.
  std::vector<double> instants;
  // Filled by the run, one per instant: mechanical speed (rad/s) and phase-a current (A).
  std::vector<double> speed;
  std::vector<double> current;
  // Instants filled so far; the run stops when it reaches instants.size().
  std::size_t filled = 0;

  // Sizes the outputs for the instants and empties them.
  void Prepare() {
    speed.assign(instants.size(), 0.0);
    current.assign(instants.size(), 0.0);
    filled = 0;
  }
  bool Complete() const { return filled == instants.size(); }

  // The state (w, i) stands for instant t; the previous one for t_prev. Fills every
  // instant in (t_prev, t] (and any before t_prev, at the very start, by its value).
  void Advance(double t_prev, double w_prev, double i_prev, double t, double w, double i) {
    const double span = t - t_prev;
    while (filled < instants.size() && instants[filled] <= t) {
      const double x = instants[filled];
      const double a = span > 0.0 && x > t_prev ? (x - t_prev) / span : 0.0;
      speed[filled] = w_prev + a * (w - w_prev);
      current[filled] = i_prev + a * (i - i_prev);
      ++filled;
    }
  }
};

}  // namespace mas
