#pragma once
// Current and speed regulators of the field-oriented controller.
//
// Three discrete-time loops: the d-axis current regulator gives Vdsref, the q-axis current
// regulator gives Vqsref, the speed regulator gives Iqsref. Each loop runs one of the
// common regulator forms below on e = reference - measure; the forms are shared with the
// MRAS speed estimator and the genetic tuning of the speed loop. The integral gains are
// per-sample gains: the sampling period is not multiplied in.
//
// The run loop calls, at each current sample of the vector control:
//   [at a speed sample] SpeedRegulatorStep, then DAxisRegulatorStep, QAxisRegulatorStep;
// in the current control only DAxisRegulatorStep and QAxisRegulatorStep (Idsref, Iqsref
// come from the events); the V/f law and the direct torque control call only
// SpeedRegulatorStep. ResetRegulators at the start of every run.
//
// Everything here is inline and allocation-free: these run at every current sample of
// runs of millions of steps.

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/numeric.h"
#include "engine/run_state.h"
#include "engine/settings.h"

namespace mas {

// ---------------------------------------------------------------------------------------
// Common regulator forms. Each returns the unclamped output; the caller clamps it.

// Symmetric output limit: u clamped to [-|limit|, +|limit|]. The limit is a magnitude; a
// negative setting is read as its absolute value rather than pinning the output.
inline double ClampToLimit(double u, double limit) {
  const double lim = std::fabs(limit);
  if (u > lim) return lim;
  if (u < -lim) return -lim;
  return u;
}

// PI with conditional integration:
//   u = Kp e + Integ;   only if |u| <= limit:  Integ += Ki e.
// The output uses the integral of the previous sample; while the unclamped output is
// beyond the limit the integral is frozen, and it resumes as soon as u is back inside.
inline double PiStep(double e, double kp, double ki, double limit, double& integ) {
  const double u = kp * e + integ;
  if (std::fabs(u) <= std::fabs(limit)) integ += ki * e;
  return u;
}

// IP with back-calculation anti-windup and tracking constant Tt. The proportional gain
// acts on the measure only, so a reference step does not kick the output:
//   Integ += (Ki/Kp) (ref - meas - (U - Usat)/Tt)   with U, Usat of the previous call,
//   U = Kp (Integ - meas),   Usat = U clamped to the limit.
// Degenerate settings, chosen so that a finite input never gives NaN:
//   Kp = 0: the output is 0 whatever the integral, so the integral is held (Ki/Kp read
//           as 0) instead of being driven by an infinite gain;
//   Tt = 0: no tracking (1/Tt read as 0), i.e. the plain IP without anti-windup.
inline double IpStep(double ref, double meas, double kp, double ki, double tt, double limit,
                     double& integ, double& u, double& u_sat) {
  const double ki_over_kp = kp != 0.0 ? ki / kp : 0.0;
  const double windup = tt != 0.0 ? (u - u_sat) / tt : 0.0;
  integ += ki_over_kp * (ref - meas - windup);
  u = kp * (integ - meas);
  u_sat = ClampToLimit(u, limit);
  return u;
}

// Degrees of one input in the three triangular sets Negative, Zero, Positive on [-1, 1]:
//   v <= -1: (1, 0, 0);   -1 < v <= 0: (-v, 1 + v, 0);
//   0 < v < 1: (0, 1 - v, v);   v >= 1: (0, 0, 1).
struct FuzzyDegrees {
  double N = 0.0, Z = 0.0, P = 0.0;
};

inline FuzzyDegrees Fuzzify(double v) {
  if (v <= -1.0) return {1.0, 0.0, 0.0};
  if (v <= 0.0) return {-v, 1.0 + v, 0.0};
  if (v < 1.0) return {0.0, 1.0 - v, v};
  if (v >= 1.0) return {0.0, 0.0, 1.0};
  return {v, v, v};  // NaN input of a diverging run: NaN degrees, not a made-up set
}

// Output change of the incremental fuzzy regulator for the scaled error x and change of
// error y. Rule base (AND = min, aggregation = max), output set by (y, x):
//            x N   x Z   x P
//     y N     N     N     Z
//     y Z     N     Z     P
//     y P     Z     P     P
// Defuzzification on the centres -1, 0, +1: du = (P - N)/(N + Z + P), 0 if nothing fires
// (cannot happen with these triangles, which always cover the input).
inline double FuzzyIncrement(double x, double y) {
  const FuzzyDegrees ex = Fuzzify(x);
  const FuzzyDegrees de = Fuzzify(y);
  const double out_n = std::max({std::min(de.N, ex.N), std::min(de.N, ex.Z), std::min(de.Z, ex.N)});
  const double out_z = std::max({std::min(de.N, ex.P), std::min(de.Z, ex.Z), std::min(de.P, ex.N)});
  const double out_p = std::max({std::min(de.Z, ex.P), std::min(de.P, ex.Z), std::min(de.P, ex.P)});
  const double s = out_n + out_z + out_p;
  if (s == 0.0) return 0.0;
  return (out_p - out_n) / s;
}

// Incremental fuzzy regulator with the scalings GE (error), GdE (change of error) and GdU
// (output):  x = GE e,  y = GdE (e - ErrPrev),  ErrPrev = e,  u = u_previous + GdU du.
// u_previous is the regulator's output as it stands when the form runs.
inline double FuzzyStep(double e, double ge, double gde, double gdu, double u_previous,
                        double& err_prev) {
  const double x = ge * e;
  const double y = gde * (e - err_prev);
  err_prev = e;
  return u_previous + gdu * FuzzyIncrement(x, y);
}

// Incremental speed regulator by a fixed, trained neural network: two inputs (e, de), three
// tanh hidden neurons written as h = 1 - 2/(exp(2 z) + 1), which saturates cleanly to +-1
// for large |z| instead of overflowing to NaN, and a linear output neuron.
inline double NeuralNetStep(double e, double u_previous, double& err_prev) {
  const double de = e - err_prev;
  err_prev = e;
  const double z1 = 0.068452977688049 * e + 4.04e-12 + 0.283356181584198 * de;
  const double z2 = 0.030904673649751 * e + 2.14492062199183 + 1.665184494661723 * de;
  const double z3 = 0.030904673651215 * e - 2.14492062206357 + 1.665184494706433 * de;
  const double h1 = 1.0 - 2.0 / (std::exp(2.0 * z1) + 1.0);
  const double h2 = 1.0 - 2.0 / (std::exp(2.0 * z2) + 1.0);
  const double h3 = 1.0 - 2.0 / (std::exp(2.0 * z3) + 1.0);
  return u_previous + 3.51997818083439 * h1 - 1.0394e-11 + 3.476874492063896 * h2 +
         3.476874492040266 * h3;
}

// Squared normalised distance ((v - c)/s)^2 of a Gaussian membership function. A zero width
// is a singleton: distance 0 at the centre, infinite (membership 0) elsewhere, never 0/0.
inline double GaussianDistance(double v, double centre, double width) {
  const double d = v - centre;
  if (width == 0.0) return d == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
  const double r = d / width;
  return r * r;
}

// Two-input neuro-fuzzy speed regulator (incremental). The scaled inputs
//   x = Fe e,  y = Fde (e - ErrPrev),  each clipped to [-1, 1],  then ErrPrev = e,
// feed three Gaussian sets each, Ek = ((x - cEk)/sEk)^2 and Rk = ((y - cRk)/sRk)^2. Six
// rules fire, the digits of a weight naming the error and error-change sets:
//   S = w11 g(E1,R1) + w12 g(E1,R2) + w21 g(E2,R1) + w32 g(E3,R2) + w33 g(E3,R3)
//       + w23 g(E2,R3),   g(E,R) = exp(-(E + R)/2);
//   u = u_previous + FdU S.
inline double NeuroFuzzy2DStep(const SimulationSettings& s, double e, double u_previous,
                               double& err_prev) {
  const double x = std::clamp(s.Fe * e, -1.0, 1.0);
  const double y = std::clamp(s.Fde * (e - err_prev), -1.0, 1.0);
  err_prev = e;
  const double e1 = GaussianDistance(x, s.cE1, s.sE1);
  const double e2 = GaussianDistance(x, s.cE2, s.sE2);
  const double e3 = GaussianDistance(x, s.cE3, s.sE3);
  const double r1 = GaussianDistance(y, s.cR1, s.sR1);
  const double r2 = GaussianDistance(y, s.cR2, s.sR2);
  const double r3 = GaussianDistance(y, s.cR3, s.sR3);
  const double sum = s.w11 * std::exp(-(e1 + r1) / 2.0) + s.w12 * std::exp(-(e1 + r2) / 2.0) +
                     s.w21 * std::exp(-(e2 + r1) / 2.0) + s.w32 * std::exp(-(e3 + r2) / 2.0) +
                     s.w33 * std::exp(-(e3 + r3) / 2.0) + s.w23 * std::exp(-(e2 + r3) / 2.0);
  return u_previous + s.FdU * sum;
}

// ---------------------------------------------------------------------------------------
// One loop of the controller: which forms are selected, their settings, and where their
// state lives in RegulatorState.

struct RegulatorForms {
  bool pi = false, ip = false, fuzzy = false, nn = false, nfc2d = false;
};

struct RegulatorGains {
  double Kp = 0.0, Ki = 0.0, limit = 0.0, Tt = 1.0;
  double GE = 0.0, GdE = 0.0, GdU = 0.0;  // fuzzy scalings
};

struct RegulatorMemory {
  double& integ;
  double& u_ip;
  double& u_ip_sat;
  double& err_prev;
  // Output-table columns of the fuzzy inputs: the error and the change of error as the
  // fuzzy form sees them before scaling (e and e - ErrPrev of the same sample), written
  // only when the fuzzy form runs.
  double& fuzzy_err;
  double& fuzzy_derr;
};

// Runs the selected forms in the order PI, IP, fuzzy, NN, 2D NFC; the last one's result
// stands, each one still updating its own state. The incremental forms add to the output
// as it stands when they run (so a fuzzy form behind a PI adds to the PI's result). With
// no form selected the output keeps its previous value.
inline double RunSelectedForms(const SimulationSettings& s, const RegulatorForms& forms,
                               const RegulatorGains& g, RegulatorMemory m, double ref, double meas,
                               double output) {
  const double e = ref - meas;
  if (forms.pi) output = PiStep(e, g.Kp, g.Ki, g.limit, m.integ);
  if (forms.ip) output = IpStep(ref, meas, g.Kp, g.Ki, g.Tt, g.limit, m.integ, m.u_ip, m.u_ip_sat);
  if (forms.fuzzy) {
    m.fuzzy_err = e;
    m.fuzzy_derr = e - m.err_prev;
    output = FuzzyStep(e, g.GE, g.GdE, g.GdU, output, m.err_prev);
  }
  if (forms.nn) output = NeuralNetStep(e, output, m.err_prev);
  if (forms.nfc2d) output = NeuroFuzzy2DStep(s, e, output, m.err_prev);
  return output;
}

// ---------------------------------------------------------------------------------------
// Field weakening ("défluxage"): the d-current reference from the measured speed
// N = |WmMeas 30/pi| (tr/mn).
//   Flag 1, by steps: N <= Wmlim1 - 100 -> step 1 (Idsref1); Wmlim1 <= N <= Wmlim2 - 100
//     -> step 2 (Idsref2); N >= Wmlim2 -> step 3 (Idsref3). In the 100 tr/mn bands below
//     Wmlim1 and Wmlim2 the previous step and Idsref stay in force (hysteresis), so the
//     flux does not chatter when the speed hovers at a threshold.
//   Flag 2, continuous: above the base speed the flux falls as 1/N, Idsref = Kdeflux/N;
//     at and below it Idsref = Idsref1. N > 0 is also required, so a negative WmBase
//     cannot divide by zero at standstill.
//   Otherwise (Flag 0, none): Idsref = Idsref1.
// The step's reference is remembered apart (IdsrefBase), so that the stator-flux
// correction added afterwards for Flux_typ 9 and 10 is added to the reference of the step
// in force, not again to the corrected value of the previous sample inside a hysteresis
// band, where it would pile up for as long as the speed stays in the band.
inline void FieldWeakeningStep(const SimulationSettings& s, RunState& st) {
  const double n = std::fabs(st.WmMeas * kRadSToRpm);
  double& base = st.reg.IdsrefBase;
  if (s.Flag == 1) {
    if (s.Wmlim1 - 100.0 >= n) {
      st.reg.FieldStep = 1;
      base = s.Idsref1;
    }
    if (n >= s.Wmlim1 && n <= s.Wmlim2 - 100.0) {
      st.reg.FieldStep = 2;
      base = s.Idsref2;
    }
    if (n >= s.Wmlim2) {
      st.reg.FieldStep = 3;
      base = s.Idsref3;
    }
  } else if (s.Flag == 2 && n > s.WmBase && n > 0.0) {
    base = s.Kdeflux / n;
  } else {
    base = s.Idsref1;
  }
  st.Idsref = base;
}

// d-axis current regulator, at each current sample:
//   Idsref from the field weakening (not in the current control, where the events set it),
//   plus the stator-flux d-current correction IdsCorr for the blended stator orientations
//   (Flux_typ 9 and 10);
//   Vdsref = form(e = Idsref - Ids) with Kpd, Kid, VdsrefMax, TtdI, IdsFE/FdE/FdU;
//   decoupling of the cross-coupling EMF: Vdsref -= sigma mLs Ws Iqs;
//   Vdsref clamped to +-VdsrefMax.
inline void DAxisRegulatorStep(const SimulationSettings& s, RunState& st) {
  if (!s.Courant) FieldWeakeningStep(s, st);
  // The correction adds to Idsref as it stands: inside a hysteresis band of the stepped
  // field weakening, where Idsref is not recomputed, it adds to last sample's reference.
  if (s.Flux_typ == 9 || s.Flux_typ == 10) st.Idsref += st.est.IdsCorr;

  RegulatorState& r = st.reg;
  const RegulatorForms forms{.pi = s.IdsPI, .ip = s.IdsIP, .fuzzy = s.IdsFlou};
  const RegulatorGains gains{.Kp = s.Kpd,
                             .Ki = s.Kid,
                             .limit = s.VdsrefMax,
                             .Tt = s.TtdI,
                             .GE = s.IdsFE,
                             .GdE = s.IdsFdE,
                             .GdU = s.IdsFdU};
  st.Vdsref = RunSelectedForms(s, forms, gains,
                               {r.IntegD, r.UdIP, r.UdIPSat, r.ErrPrevD, r.IdsErr, r.IdsdErr},
                               st.Idsref, st.est.Ids, st.Vdsref);
  if (s.Decouple) st.Vdsref -= st.mc.sigma * s.mLs * st.est.Ws * st.est.Iqs;
  st.Vdsref = ClampToLimit(st.Vdsref, s.VdsrefMax);
}

// Voltage left for the q axis when "Vqsref Max libre" is set: sqrt(E2^2 - Vdsref^2), and 0
// when the d axis already asks for more than the bus can give (|Vdsref| > E2).
inline double FreeVqsrefMax(double E2, double Vdsref) {
  return std::sqrt(std::max(E2 * E2 - Vdsref * Vdsref, 0.0));
}

// q-axis current regulator, right after the d axis:
//   with VqsrefMaxFree, the setting VqsrefMax is overwritten by the voltage the d axis
//   leaves (it stays so after the run and is what a later save stores);
//   Vqsref = form(e = Iqsref - Iqs) with Kpq, Kiq, VqsrefMax, TtqI, IqsFE/FdE/FdU;
//   decoupling of the cross-coupling and rotor-flux EMF:
//     Vqsref += sigma mLs Ws Ids + Ws (mM/mLr) Phidr   (the flux term is left out if mLr = 0);
//   Vqsref clamped to +-VqsrefMax.
inline void QAxisRegulatorStep(SimulationSettings& s, RunState& st) {
  if (s.VqsrefMaxFree) s.VqsrefMax = FreeVqsrefMax(s.E2, st.Vdsref);

  RegulatorState& r = st.reg;
  const RegulatorForms forms{.pi = s.IqsPI, .ip = s.IqsIP, .fuzzy = s.IqsFlou};
  const RegulatorGains gains{.Kp = s.Kpq,
                             .Ki = s.Kiq,
                             .limit = s.VqsrefMax,
                             .Tt = s.TtqI,
                             .GE = s.IqsFE,
                             .GdE = s.IqsFdE,
                             .GdU = s.IqsFdU};
  st.Vqsref = RunSelectedForms(s, forms, gains,
                               {r.IntegQ, r.UqIP, r.UqIPSat, r.ErrPrevQ, r.IqsErr, r.IqsdErr},
                               st.Iqsref, st.est.Iqs, st.Vqsref);
  if (s.Decouple) {
    const double rotor_coupling = s.mLr != 0.0 ? s.mM / s.mLr : 0.0;
    st.Vqsref +=
        st.mc.sigma * s.mLs * st.est.Ws * st.est.Ids + st.est.Ws * rotor_coupling * st.est.Phidr;
  }
  st.Vqsref = ClampToLimit(st.Vqsref, s.VqsrefMax);
}

// Speed-regulator gains. With "Adapter les gains" the gains follow the field-weakening
// step so that the torque per ampere of Iqsref, which falls with the flux, is compensated:
//   step 2: (KpW, KiW) Idsref1/Idsref2;   step 3: (KpW, KiW) Idsref2/Idsref3.
// A step whose divisor is 0 keeps the unscaled gains.
struct SpeedGains {
  double Kp = 0.0, Ki = 0.0;
};

inline SpeedGains SpeedRegulatorGains(const SimulationSettings& s, int field_step) {
  if (s.ChangeK) {
    if (field_step == 2 && s.Idsref2 != 0.0)
      return {s.KpW * s.Idsref1 / s.Idsref2, s.KiW * s.Idsref1 / s.Idsref2};
    if (field_step == 3 && s.Idsref3 != 0.0)
      return {s.KpW * s.Idsref2 / s.Idsref3, s.KiW * s.Idsref2 / s.Idsref3};
  }
  return {s.KpW, s.KiW};
}

// Speed regulator, at each speed sample:
//   IqsrefPrev = Iqsref (read by the regulator-tuning cost);
//   Iqsref = form(e = Wmref - WmMeas, rad/s) with the gains above, IqsrefM, TtW,
//   WFErr/WFdErr/WFdU, or the NN or 2D NFC forms;
//   Iqsref clamped to +-IqsrefM.
inline void SpeedRegulatorStep(const SimulationSettings& s, RunState& st) {
  RegulatorState& r = st.reg;
  const SpeedGains k = SpeedRegulatorGains(s, r.FieldStep);
  r.IqsrefPrev = st.Iqsref;
  const RegulatorForms forms{
      .pi = s.WPI, .ip = s.WIP, .fuzzy = s.WFlou, .nn = s.WNN, .nfc2d = s.W2DNFC};
  const RegulatorGains gains{.Kp = k.Kp,
                             .Ki = k.Ki,
                             .limit = s.IqsrefM,
                             .Tt = s.TtW,
                             .GE = s.WFErr,
                             .GdE = s.WFdErr,
                             .GdU = s.WFdU};
  st.Iqsref =
      RunSelectedForms(s, forms, gains, {r.IntegW, r.UwIP, r.UwIPSat, r.ErrPrevW, r.WErr, r.WdErr},
                       st.Wmref, st.WmMeas, st.Iqsref);
  st.Iqsref = ClampToLimit(st.Iqsref, s.IqsrefM);
}

// Start of a run: every integral, anti-windup and previous-error state to 0, the fuzzy
// input columns to 0 and the field weakening on its first step.
inline void ResetRegulators(RunState& st) { st.reg = RegulatorState{}; }

}  // namespace mas
