#include "engine/inverter.h"

#include <cmath>

#include "engine/numeric.h"

namespace mas {
namespace {

bool ControlModeSelected(const SimulationSettings& s) {
  return s.VectCtrl != 0 || s.Courant != 0 || s.Statique != 0 || s.DTC != 0 || s.Vf != 0;
}

}  // namespace

InverterMode SelectInverterMode(const SimulationSettings& s) {
  if (s.MLI != 0) return InverterMode::kSineTriangle;
  if (s.dsvPWM) return InverterMode::kDoubleSvpwm;
  return InverterMode::kIdeal;
}

void Inverter::ResetForRun(const SimulationSettings& s, DoubleSvpwm& modulator, double thetas) {
  mode_ = SelectInverterMode(s);
  modulator_ = &modulator;
  carrier_ = SineTriangleCarrier(s.TMLI, s.E2);
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

PoleVoltages Inverter::DoubleSvpwmVoltages(double t, double VasRef, double VbsRef, double VcsRef) {
  if (follow_references_) FollowReferences(t, VasRef, VbsRef, VcsRef);
  // Phases a, b, c are fed by the legs K0, K1, K2 of the first winding set.
  const auto& s = modulator_->SwitchStatesAt(t, 3);
  return {s[0] == 1 ? E2_ : -E2_, s[1] == 1 ? E2_ : -E2_, s[2] == 1 ? E2_ : -E2_};
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

void Inverter::BeginOpenLoopPeriod(double& thetas) {
  if (mode_ == InverterMode::kDoubleSvpwm) thetas += angle_per_period_;
  if (modulator_ != nullptr) {
    modulator_->Thetas = thetas;
    modulator_->Recompute();
  }
}

}  // namespace mas
