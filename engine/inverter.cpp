#include "engine/inverter.h"

#include <cmath>

#include "engine/numeric.h"

namespace mas {
namespace {

// Shortest notch and half pulse of the sine-triangle PWM (s).
constexpr double kMinEdge = 1e-6;

bool ControlModeSelected(const SimulationSettings& s) {
  return s.VectCtrl != 0 || s.Courant != 0 || s.Statique != 0 || s.DTC != 0 || s.Vf != 0;
}

}  // namespace

InverterMode SelectInverterMode(const SimulationSettings& s) {
  if (s.MLI != 0) return InverterMode::kSineTriangle;
  if (s.dsvPWM) return InverterMode::kDoubleSvpwm;
  return InverterMode::kIdeal;
}

double CarrierTime(double t, double T) {
  double tau = t - static_cast<double>(TruncToInt64(t / T)) * T;
  if (tau < 0) tau = tau + T;
  return tau;
}

namespace {

// The carrier's constants of one period, shared by the three legs.
struct Carrier {
  double T;
  double quarter;  // T / 4
  double longest;  // T / 2 - kMinEdge, the longest half pulse
  double E2;
};

// The edge l of the leg's pulse, held between kMinEdge and T/2 - kMinEdge: the leg is high
// for l <= tau <= T - l. Dividing T by 4 first gives the same edge to the bit: a division
// by 4 is exact.
inline double Pole(const Carrier& c, double tau, double ref) {
  double l = (1 - ref / c.E2) * c.quarter;
  if (l > c.longest) l = c.longest;
  if (l < kMinEdge) l = kMinEdge;
  return (l <= tau && tau <= c.T - l) ? c.E2 : -c.E2;
}

}  // namespace

double SineTrianglePole(double tau, double ref, double E2, double T) {
  return Pole({T, T / 4, T / 2 - kMinEdge, E2}, tau, ref);
}

PoleVoltages SineTrianglePoleVoltages(double t, double T, double E2, double VasRef, double VbsRef,
                                      double VcsRef) {
  const double tau = CarrierTime(t, T);
  const Carrier c{T, T / 4, T / 2 - kMinEdge, E2};
  return {Pole(c, tau, VasRef), Pole(c, tau, VbsRef), Pole(c, tau, VcsRef)};
}

void Inverter::ResetForRun(const SimulationSettings& s, DoubleSvpwm& modulator, double thetas) {
  mode_ = SelectInverterMode(s);
  modulator_ = &modulator;
  TMLI_ = s.TMLI;
  E2_ = s.E2;
  two_tmli_ = 2 * s.TMLI;
  angle_per_period_ = 2 * kPi * s.fs * 2 * s.TMLI;
  const bool open_loop = !ControlModeSelected(s);
  follow_references_ = mode_ == InverterMode::kDoubleSvpwm && !open_loop;
  followed_any_ = false;
  followed_period_ = 0;

  modulator.SetTiming(s.E2, s.TMLI, s.dt);
  if (open_loop) {
    modulator.Vdsref = kSqrt3 * s.E2;
    modulator.Vqsref = 0.0;
    modulator.Thetas = thetas;
    modulator.Recompute();
  }
}

PoleVoltages Inverter::ModulateVoltages(double t, double VasRef, double VbsRef, double VcsRef) {
  switch (mode_) {
    case InverterMode::kSineTriangle:
      return SineTrianglePoleVoltages(t, TMLI_, E2_, VasRef, VbsRef, VcsRef);
    case InverterMode::kDoubleSvpwm: {
      if (follow_references_) FollowReferences(t, VasRef, VbsRef, VcsRef);
      // Phases a, b, c are fed by the legs K0, K1, K2 of the first winding set.
      const auto& s = modulator_->SwitchStatesAt(t, 3);
      return {s[0] == 1 ? E2_ : -E2_, s[1] == 1 ? E2_ : -E2_, s[2] == 1 ? E2_ : -E2_};
    }
    case InverterMode::kIdeal:
      break;
  }
  return {VasRef, VbsRef, VcsRef};
}

void Inverter::FollowReferences(double t, double VasRef, double VbsRef, double VcsRef) {
  // Same period index as the modulator's d = t - n 2 TMLI.
  const long long period = TruncToInt64(t / two_tmli_);
  if (followed_any_ && period == followed_period_) return;
  followed_any_ = true;
  followed_period_ = period;
  const double v_alpha = (2 * VasRef - VbsRef - VcsRef) / 3;
  const double v_beta = (VbsRef - VcsRef) / kSqrt3;
  modulator_->Thetas = std::atan2(v_beta, v_alpha);
  modulator_->Vdsref = kSqrt3 * std::hypot(v_alpha, v_beta);
  modulator_->Vqsref = 0.0;
  modulator_->Recompute();
}

bool Inverter::OpenLoopPeriodStep(double t, long long MliCount, double& thetas) {
  if (!(t - static_cast<double>(MliCount) * two_tmli_ >= two_tmli_)) return false;
  if (mode_ == InverterMode::kDoubleSvpwm) thetas += angle_per_period_;
  if (modulator_ != nullptr) {
    modulator_->Thetas = thetas;
    modulator_->Recompute();
  }
  return true;
}

}  // namespace mas
