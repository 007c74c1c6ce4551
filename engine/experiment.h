#pragma once
// The measured start-up against which machine parameters are identified: the raw record
// (time, speed, phase current), its linear interpolation with a persistent cursor, the
// tables resampled onto the recorded steps of a run, and the sliding-window maximum of
// the current that the "Max de Ias" cost compares.

#include <vector>

namespace mas {

struct ExperimentalData {
  // Raw record, element i of each array belonging to row i of the file.
  std::vector<double> ExpTime;  // s
  std::vector<double> ExpWm;    // tr/mn
  std::vector<double> ExpIas;   // A

  // Tables resampled at the recorded steps of a run over the current time base.
  std::vector<double> ExpWmTable;
  std::vector<double> ExpIasTable;
  std::vector<double> ExpMaxIasTable;

  // Sliding window of the most recent current samples, oldest first: MaxIasWindowLen + 1
  // values, MaxIasWindowLen being the number of recorded steps in one supply period.
  std::vector<double> MaxIasWindow;
  int MaxIasWindowLen = 0;
  double MaxIas = 0.0;

  // Interpolation state of a run.
  int ExpCursor = 0;
  double ExpWmInterp = 0.0;
  double ExpIasInterp = 0.0;

  // Rows that can be interpolated: the shortest of the three raw arrays (a row cut short
  // by the end of the file is left out).
  int Rows() const;
};

// Largest window the tables may ask for (recorded steps per supply period).
inline constexpr int kMaxIasWindowLimit = 1000000;

// Interpolates the record linearly at time t into ExpWmInterp and ExpIasInterp, moving
// the cursor one row per turn from where the previous call left it. Returns false, with
// the previous values kept, when t lies outside [first time, last time) of the record or
// the record has fewer than two rows.
bool Interpolate(ExperimentalData& d, double t);

// Window update with a sample v: shift by one towards the start, v at the end, MaxIas the
// largest of the old contents (the value shifted out included) and v.
void UpdateMaxIasWindow(ExperimentalData& d, double v);

// Number of recorded steps in one period of fs: trunc(1/(fs dt OutStep)); -1 when that is
// not a usable window length (not finite, below 0 or above kMaxIasWindowLimit).
int MaxIasWindowLength(double fs, double dt, int out_step);

// Weight of the cost at time t: 1/(1 + exp(gA (gt0 - t))), small during the electrical
// transient of the first instants.
double CostTimeWeight(double gA, double gt0, double t);

}  // namespace mas
