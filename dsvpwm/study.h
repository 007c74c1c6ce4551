#pragma once
// Stand-alone study of the double space-vector modulator: the reference set from a
// modulation index, the leg waveforms of one switching period as a window draws them, and a
// simulation of six R-L phases fed by the modulator, written to a debug table for the curve
// viewer. Everything here works on the one shared modulator instance, as the study does.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "dsvpwm/double_svpwm.h"
#include "platform/platform.h"

namespace mas {

inline constexpr const char* kDsvpwmDebugFileName = "mydspwm_debug.dat";

// Reference of the study for a modulation index m: Vdsref = m E2 (4/pi) sqrt(3). With the
// modulator's scaling (phase amplitude = Vdsref/sqrt(3)) m = 1 asks for the fundamental of
// six-step operation, 4 E2/pi per phase.
double VdsrefFromModulationIndex(double m, double E2);

// Sets the reference the study draws: Thetas = turn_fraction x 2 pi, Vdsref from m,
// Vqsref = 0, then the five computing operations.
void SetStudyReference(DoubleSvpwm& modulator, double turn_fraction, double m);

// Every result of the modulator is a finite number. Extreme inputs (E/2 = 1e308) make the
// reference overflow, and the instants drawn from it become inf and NaN.
bool ResultsAreFinite(const DoubleSvpwm& modulator);

// The refusal of a modulator set for the index m whose results are not all finite: the
// message shown to the user (caption "Erreur"), or nothing when they are finite.
std::optional<std::string> NonFiniteInstantsMessage(const DoubleSvpwm& modulator, double m);

// The same check on the reference of a stand-alone simulation's first period (angle 0,
// index m), made before anything is written; `modulator` itself is not changed.
std::optional<std::string> NonFiniteSimulationMessage(const DoubleSvpwm& modulator, double m);

// Leg states at one instant of the drawn period.
struct LegStateSample {
  double t = 0.0;
  std::array<int, kLegCount> state{};
};

// Largest number of samples SampleLegStates returns; a step that would give more is cut
// there (the drawing is only 400 pixels wide).
inline constexpr std::size_t kMaxLegStateSamples = 100000;

// The leg states at t = 0, dt, 2 dt, ... while t <= 2 TMLI, with the modulator's own step
// dt. Empty when dt is not a positive finite step that advances t.
std::vector<LegStateSample> SampleLegStates(DoubleSvpwm& modulator,
                                            std::size_t max_samples = kMaxLegStateSamples);

// Drawing geometry of the study: abscissa of time t on the 400-pixel period axis starting
// at x = 270, trunc(270 + t/(2 TMLI) x 400), saturated for degenerate inputs.
int WaveformX(double t, double TMLI);

// Stand-alone simulation: six phases of R = 2 ohm and L = 0.01 H each, fed by the
// modulator, reference of 50 Hz.
inline constexpr double kStudyLoadR = 2.0;       // ohm
inline constexpr double kStudyLoadL = 0.01;      // H
inline constexpr double kStudyFrequency = 50.0;  // Hz

struct StandaloneSimulation {
  double dt = 2.0e-6;  // step (s), also becomes the modulator's step
  double tf = 0.08;    // end time (s); at least one line (t = 0) is written
  double m = 0.25;     // modulation index
};

// Most lines tf/dt a stand-alone simulation may ask for, the bound of a run's steps: a
// billion lines is already some 200 GB of table.
inline constexpr double kMaxStandaloneLines = 1e9;
// Lines between two polls of the progress and of the stop request (Escape, Ctrl-C).
inline constexpr long long kStandalonePollLines = 4096;

// How a stand-alone simulation ended; on failure `message` and `caption` are what the
// user is shown. A step dt that cannot reach tf or that asks for more than
// kMaxStandaloneLines lines, or a table that cannot be created, stops it before anything
// happens (the modulator is untouched); a failure while writing leaves the modulator as
// the simulation left it. In every failure the previous debug table, if any, is still in
// place. An interrupted simulation is no failure: its partial table is put in place.
struct StandaloneOutcome {
  bool ok = false;
  bool refused = false;      // the step dt cannot reach tf: nothing was attempted
  bool interrupted = false;  // stopped by Escape (Ctrl-C): the table holds the lines so far
  std::string message;
  std::string caption;
  long long lines = 0;  // data lines written
};

// Runs the stand-alone simulation and writes its table to `path`. The table is written to
// a temporary file in the same folder and renamed over `path` at the end, so a reader never
// sees half a table. Phase voltages of each set, legs over the whole bus -E2..+E2:
// V(K0) = 2 E2/3 (2 S0 - S1 - S2) and so on;
// currents by explicit Euler, I += (V - R I)/L dt. At each switching period the reference
// angle advances by 2 pi f 2 TMLI, wrapped once into [-pi, pi], and the modulator is
// recomputed. The file: left-aligned numbers of 8 significant digits, a header
// "time(s)     " then 13 column names in fields of 16 characters, each followed by two
// spaces; data lines with t in a field of 10, then the leg K0 reference, its phase voltage,
// Valphas, Vbetas, the six currents, Thetas, Sector and the state of K0 in fields of 16,
// every value followed by two spaces. With a platform, the progress t/tf is shown and
// Escape polled every kStandalonePollLines lines and once at the end.
StandaloneOutcome RunStandaloneSimulation(DoubleSvpwm& modulator, const StandaloneSimulation& sim,
                                          const std::string& path, Platform* platform = nullptr);

}  // namespace mas
