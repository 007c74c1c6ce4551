#pragma once
// Two-level inverter between the control's phase voltage references and the machine model.
//
// Three modes, chosen once per run from the settings:
// - sine-triangle PWM (MLI nonzero): each leg compares its reference with a symmetric
//   triangular carrier of period TMLI and switches between +E2 and -E2;
// - double space-vector PWM (dsvPWM set, MLI zero): the legs K0, K1, K2 of the workbench's
//   double space-vector modulator feed phases a, b, c;
// - ideal source (both off): the references are applied as they are.
// The outputs are leg voltages with respect to the DC-bus midpoint; the machine model
// removes their common part. There is no dead time.
//
// Sine-triangle decision, for the time tau within the carrier period T and a reference
// ref: l = (1 - ref/E2) T/4, bounded to [1e-6, T/2 - 1e-6] s; the leg is at +E2 for
// l <= tau <= T - l, else at -E2. The high pulse is centred on the middle of the period and
// is T/2 (1 + ref/E2) wide, kept within [2e-6 s, T - 2e-6 s]: a reference at or beyond +E2
// still leaves a 1 microsecond low notch at each end of the period, one at or beyond -E2
// still a 2 microsecond high pulse in the middle. With E2 = 0 the division gives an
// infinite or NaN ratio: an infinite one is bounded like any other, a NaN one (0/0, or a NaN
// reference) makes the leg sit at -E2.
//
// Double space-vector mode with a control mode (vector control, current control, static
// test, V/f): the control produces phase voltage references but no reference for the
// modulator, and a modulator left on its last instants would apply a voltage unrelated to
// what the controller asks for, which no one studying the drive would expect. So the
// inverter makes the modulator follow the control: at the first step of the run and of
// every switching period (2 TMLI, the same period boundaries as the modulator's own
// d = t - n 2 TMLI) the
// phase references of that step are turned into the modulator's reference and its
// switching instants are recomputed (regular sampling, once per period). The references
// are taken through the amplitude-preserving Clarke transform, v_alpha = (2a - b - c)/3,
// v_beta = (b - c)/sqrt(3), and handed over as a magnitude on the d axis at the vector's
// own angle: Thetas = atan2(v_beta, v_alpha), Vdsref = sqrt(3) |v|, Vqsref = 0. Handing
// over the angle of the vector itself keeps the modulator's sector, which it finds from
// Thetas alone, right for any control (a control angle with a nonzero Vqsref would put the
// vector in the wrong sector), and it serves the modes that never form a dq reference
// (V/f, static test) and the delta connection alike. The factor sqrt(3) is the modulator's
// scaling: its phase references are its reference vector divided by sqrt(3). Averaged over
// a period, each leg then applies the phase reference plus a common-mode voltage the
// machine does not see (with the modulation types 1 to 3 the legs K0..K2 do so in the odd
// sectors; in the even ones they apply the reference's projection onto the sector's centre
// line, see dsvpwm/double_svpwm.h).
//
// Start-up phase VsPh: the start-up dialog asks for it in degrees ("Phas (deg) :") and the
// parameter file keeps the number as entered. The open-loop supply converts it when it
// uses it: angle = 2 pi fs t + VsPh x pi/180 (SupplyPhaseRadians below). Reading and
// writing the file never converts it.

#include "dsvpwm/double_svpwm.h"
#include "engine/numeric.h"
#include "engine/settings.h"

namespace mas {

// Leg voltages with respect to the DC-bus midpoint (V).
struct PoleVoltages {
  double Vas = 0.0;
  double Vbs = 0.0;
  double Vcs = 0.0;
};

enum class InverterMode {
  kSineTriangle,  // MLI
  kDoubleSvpwm,   // dsvPWM, when MLI is off
  kIdeal,         // references applied as they are
};

// The mode the settings select: MLI wins over dsvPWM.
InverterMode SelectInverterMode(const SimulationSettings& s);

// Start-up phase of the open-loop supply in radians, from VsPh as the user enters it in
// degrees.
inline constexpr double kDegreesToRadians = 3.14159265358979323846 / 180.0;
inline double SupplyPhaseRadians(double VsPh) { return VsPh * kDegreesToRadians; }

// Time within the carrier period T: tau = t - n T with n = trunc(t/T) (saturating), plus T
// when negative (times before 0).
inline double CarrierTime(double t, double T) {
  double tau = t - static_cast<double>(TruncToInt64(t / T)) * T;
  if (tau < 0) tau = tau + T;
  return tau;
}

// The sine-triangle carrier's constants, shared by the three legs and by every step of a
// run.
struct SineTriangleCarrier {
  static constexpr double kMinEdge = 1e-6;  // shortest notch and half pulse (s)
  SineTriangleCarrier() = default;
  SineTriangleCarrier(double period, double e2)
      : T(period), quarter(period / 4), longest(period / 2 - kMinEdge), E2(e2) {}

  // The edge l of the leg's pulse, held between kMinEdge and T/2 - kMinEdge: the leg is
  // high for l <= tau <= T - l. Dividing T by 4 first gives the same edge to the bit: a
  // division by 4 is exact.
  double Pole(double tau, double ref) const {
    double l = (1 - ref / E2) * quarter;
    if (l > longest) l = longest;
    if (l < kMinEdge) l = kMinEdge;
    return (l <= tau && tau <= T - l) ? E2 : -E2;
  }

  double T = 0.0;
  double quarter = 0.0;  // T / 4
  double longest = 0.0;  // T / 2 - kMinEdge, the longest half pulse
  double E2 = 0.0;
};

// Sine-triangle decision for one leg at carrier time tau: +E2 or -E2.
inline double SineTrianglePole(double tau, double ref, double E2, double T) {
  return SineTriangleCarrier(T, E2).Pole(tau, ref);
}

// Pole voltages the sine-triangle PWM applies at time t for the given references. This is
// the decision of the inverter in MLI mode, also used by the speed estimator to know the
// voltages actually applied.
inline PoleVoltages SineTrianglePoleVoltages(double t, double T, double E2, double VasRef,
                                             double VbsRef, double VcsRef) {
  const double tau = CarrierTime(t, T);
  const SineTriangleCarrier c(T, E2);
  return {c.Pole(tau, VasRef), c.Pole(tau, VbsRef), c.Pole(tau, VcsRef)};
}

class Inverter {
 public:
  // Reset at the start of a run. The modulator (the workbench's single double-SVPWM
  // instance, which must outlive the run) receives E2, TMLI, the step dt and the scale
  // 2000/TMLI. In the open-loop mode (no control mode selected) it also receives
  // Vdsref = sqrt(3) E2, Vqsref = 0 and Thetas = thetas (0 at the start of a run) and
  // computes its first period. The run loop itself sets thetas = 0, MliCount = 0 and its
  // stored Vdsref, Vqsref (sqrt(3) E2 and 0 in the open-loop mode, else 0).
  void ResetForRun(const SimulationSettings& s, DoubleSvpwm& modulator, double thetas = 0.0);

  // Applied pole voltages for the references of this step, at time t. Allocates nothing;
  // in the double space-vector mode with a control mode, recomputes the modulator at the
  // first step of each switching period (see above).
  PoleVoltages ModulateVoltages(double t, double VasRef, double VbsRef, double VcsRef) {
    switch (mode_) {
      case InverterMode::kSineTriangle: {
        const double tau = CarrierTime(t, carrier_.T);
        return {carrier_.Pole(tau, VasRef), carrier_.Pole(tau, VbsRef), carrier_.Pole(tau, VcsRef)};
      }
      case InverterMode::kDoubleSvpwm:
        return DoubleSvpwmVoltages(t, VasRef, VbsRef, VcsRef);
      case InverterMode::kIdeal:
        break;
    }
    return {VasRef, VbsRef, VcsRef};
  }

  // Period step of the open-loop supply, to call at every step in the open-loop mode. When
  // t - 2 MliCount TMLI >= 2 TMLI a new switching period begins: in the double
  // space-vector mode the supply angle thetas advances by 2 pi fs 2 TMLI; in every mode the
  // modulator takes Thetas = thetas and recomputes. Returns true when a period began; the
  // caller then adds one to MliCount (at most one per step).
  bool OpenLoopPeriodStep(double t, long long MliCount, double& thetas) {
    if (!(t - static_cast<double>(MliCount) * two_tmli_ >= two_tmli_)) return false;
    BeginOpenLoopPeriod(thetas);
    return true;
  }

  InverterMode mode() const { return mode_; }
  // True when the legs come from the double space-vector modulator (dsvPWM set, MLI off).
  // The open-loop supply should use this rather than the dsvPWM flag alone, so that MLI
  // wins over dsvPWM there too: with both set it produces the sine references for MLI.
  bool UsesDoubleSvpwm() const { return mode_ == InverterMode::kDoubleSvpwm; }

 private:
  PoleVoltages DoubleSvpwmVoltages(double t, double VasRef, double VbsRef, double VcsRef);
  void FollowReferences(double t, double VasRef, double VbsRef, double VcsRef);
  void BeginOpenLoopPeriod(double& thetas);

  InverterMode mode_ = InverterMode::kIdeal;
  DoubleSvpwm* modulator_ = nullptr;
  bool follow_references_ = false;  // double SVPWM driven by a control mode
  SineTriangleCarrier carrier_;
  double E2_ = 0.0;
  double two_tmli_ = 0.0;
  double angle_per_period_ = 0.0;  // 2 pi fs 2 TMLI
  long long followed_period_ = 0;
  bool followed_any_ = false;
};

}  // namespace mas
