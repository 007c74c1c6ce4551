#pragma once
// Double space-vector modulator of a six-leg two-level inverter feeding a machine with two
// three-phase windings shifted by 30 degrees (legs K0, K1, K2 at 0, 120 and 240 degrees,
// legs K3, K4, K5 at 30, 150 and 270 degrees).
//
// From a voltage reference (Vdsref, Vqsref) at the angle Thetas the modulator finds one of
// twelve 30-degree sectors, projects the reference onto six dual vectors, keeps four of the
// projections as the active times of the sector, spreads the remaining zero time according
// to the modulation type and derives, for every leg, its switching instants within one
// switching period of 2 TMLI. SwitchStatesAt(t) then answers the six leg states at any time.
//
// One instance is shared by the study of the modulator and by the simulation's inverter; it
// is a plain record so that both can set its reference and read what it computed. The
// computing operations are always called in the order FindSector, ComputeAlphaBeta,
// ComputePhaseReferences, ComputeProjections, ComputeSwitchingTimes (Recompute() does all
// five), after Thetas, Vdsref and Vqsref have been set.
//
// Reference scaling: the phase references are the reference vector divided by sqrt(3)
// (K0 = Valphas/sqrt(3)), so Vdsref = sqrt(3) E2 asks for phase voltages of amplitude E2.
//
// What a period applies: averaged over one switching period, the legs of a three-phase set
// apply their phase references up to a common-mode voltage of the set, as long as the
// reference stays in the reachable region (zero time T0 >= 0). That holds for both sets
// with the carrier type and the types B1 and B2. The types 1, 2 and 3 spread the period
// with only three independent times (T0, T1 and T4, the letters z and y depending on T0
// alone), one fewer than two independent sets need: there the set with a phase axis on the
// sector's centre line (set K0..K2 in the odd sectors, K3..K5 in the even ones) applies the
// reference, and the other set applies the reference's projection onto that centre line.
// Both sets are exact at the centre of every sector; 15 degrees off the centre the other set
// misses the reference by sin(15 deg) of its magnitude, at right angles to the centre line.
// Nothing is limited: a reference beyond the reachable region gives negative times, which
// are used as computed.
//
// Degenerate inputs never lead to undefined behaviour; every conversion to an integer is
// saturating (NaN gives 0):
// - E2 = 0: the projections are infinite or NaN, their quantised instants saturate (or
//   become 0 for NaN) and the leg states are whatever the interval tests then give; the
//   inverter multiplies them by E2 = 0 anyway.
// - TMLI = 0 (and therefore scale = infinity): all instants quantise to 0, no interval of
//   SwitchStatesAt is ever matched and the legs of codes 1 and 2 keep the states they had.
// - A Thetas that is not finite selects sector 1 and makes every computed time NaN: all
//   instants quantise to 0, so legs of code 1 sit at 0 and legs of code 2 at 1 for the
//   whole period (with the carrier type, which compares with the NaN projections
//   themselves, the legs keep their states).

#include <array>
#include <cstdint>

namespace mas {

// Switching pattern of one leg over the period.
enum class LegCode : int {
  kHeldLow = 0,   // state 0 for the whole period
  kNormal = 1,    // on at both ends of the period and around its middle
  kInverted = 2,  // the complement of kNormal
  kHeldHigh = 3,  // state 1 for the whole period
};

// Modulation types, in the order of the study's "PWM type" choice.
enum class ModulationType : int {
  kSixPhaseCarrier = 0,  // per-leg comparison with a carrier, no space vectors
  kContinuous1 = 1,      // continuous, zero time split in eighths
  kContinuous2 = 2,      // continuous, zero time split in sixths and twelfths
  kDiscontinuousA = 3,   // discontinuous, one leg per set clamped
  kDiscontinuousB1 = 4,  // discontinuous, variant B1
  kDiscontinuousB2 = 5,  // discontinuous, variant B2
};
inline constexpr int kModulationTypeCount = 6;

// Captions of the modulation types as the study shows them (UTF-8).
inline constexpr std::array<const char*, kModulationTypeCount> kModulationTypeCaptions = {
    "6 phase PWM",
    "dsv PWM (continue th\xc3\xa8se)",
    "dsv PWM (continue IAS 2002)",
    "dsv PWM (discontinue A)",
    "dsv PWM (discontinue B1)",
    "dsv PWM (discontinue B2)",
};

// Dual vectors (Xk, Yk), k = 0..5, onto which the stator-frame reference is projected:
// 0.26794919243109994 = 2 - sqrt(3), 0.7320508075689001 = sqrt(3) - 1.
inline constexpr std::array<double, 6> kDualX = {0.26794919243109994, 0.7320508075689001, 1.0, 1.0,
                                                 0.7320508075689001,  0.26794919243109994};
inline constexpr std::array<double, 6> kDualY = {
    -1.0, -0.7320508075689001, -0.26794919243109994, 0.26794919243109994, 0.7320508075689001, 1.0};

inline constexpr int kLegCount = 6;
// Switching instants are quantised to TMLI/kQuantisationSteps.
inline constexpr double kQuantisationSteps = 2000.0;

class DoubleSvpwm {
 public:
  // Finds the 30-degree sector of Thetas: sector k is centred on (k - 1) x 30 degrees.
  void FindSector();
  // Reference in the stator frame: rotation of (Vdsref, Vqsref) by Thetas.
  void ComputeAlphaBeta();
  // Phase references of the six legs.
  void ComputePhaseReferences();
  // Six projection times (type 0: the on-time at each end of the period of each leg).
  void ComputeProjections();
  // Active and zero times of the sector, candidate instants, leg codes and the quantised
  // instants A(k) and B(k) of every leg.
  void ComputeSwitchingTimes();
  // The five computing operations, in their order.
  void Recompute();

  // Leg states K0..K5 at time t (left in `state` and returned). Within the period
  // d = t - n 2 TMLI, n = trunc(t/(2 TMLI)), a leg of code 1 is on for [0, A), off, on for
  // [TMLI - B, TMLI + B), off, and on again for [2 TMLI - A, 2 TMLI); code 2 is the
  // complement, codes 0 and 3 hold the leg at 0 and 1. The intervals are tested in that
  // order, a later match overriding an earlier one; a leg that matches none (oversized or
  // negative instants, negative d) keeps its previous state.
  // `legs` limits the update to legs K0 .. legs-1 (the three-phase inverter needs only
  // K0..K2); the others keep their states.
  const std::array<int, kLegCount>& SwitchStatesAt(double t, int legs = kLegCount);

  // Sets the timing the simulation imposes at the start of a run: half bus voltage, half
  // switching period, own step and the quantisation scale 2000/TMLI.
  void SetTiming(double e2, double tmli, double step);

  // ---- Inputs.
  double Thetas = 0.0;  // reference angle (rad)
  double Vdsref = 0.0;  // reference in the rotating frame (V)
  double Vqsref = 0.0;
  double E2 = 311.0;                           // half DC-bus voltage (V)
  double TMLI = 0.0001;                        // half switching period (s)
  double scale = kQuantisationSteps / 0.0001;  // quantisation scale 2000/TMLI (1/s)
  double dt = 1e-6;                            // step of the study's drawing and simulation (s)
  ModulationType type = ModulationType::kContinuous1;

  // ---- Results of the computing operations, kept until the next recomputation.
  int Sector = 0;                                 // 1..12 once FindSector has run
  double Valphas = 0.0, Vbetas = 0.0;             // reference in the stator frame (V)
  std::array<double, kLegCount> phase_ref{};      // phase references of legs K0..K5 (V)
  std::array<double, kLegCount> P{};              // projection times P0..P5 (s)
  double T0 = 0.0;                                // zero time of the period (s)
  double T1 = 0.0, T2 = 0.0, T3 = 0.0, T4 = 0.0;  // the four selected times (s)
  double z = 0.0, y = 0.0, w = 0.0, v = 0.0;      // candidate switching instants (s)
  std::array<LegCode, kLegCount> leg_code{};
  std::array<std::int64_t, kLegCount> A_steps{}, B_steps{};  // trunc(instant x scale)
  std::array<double, kLegCount> A{}, B{};  // edge and centre half-widths (s), A_steps/scale
  std::array<int, kLegCount> state{};      // leg states K0..K5 (0/1)
};

}  // namespace mas
