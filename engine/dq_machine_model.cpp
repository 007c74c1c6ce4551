#include "engine/dq_machine_model.h"

#include "engine/numeric.h"

namespace mas {

void DqMachineModel::SetElectricalParameters(double rs, double rr, double ls, double lr, double m) {
  Rs = rs;
  Rr = rr;
  Ls = ls;
  Lr = lr;
  M = m;
}

void DqMachineModel::SetMechanicalParameters(int pole_pairs, double j, double a10_in, double a20_in,
                                             double a30_in) {
  p = pole_pairs;
  J = j;
  a10 = a10_in;
  a20 = a20_in;
  a30 = a30_in;
}

void DqMachineModel::ResetForRun() {
  RrAct = Rr;
  sigma = 1 - M * M / Ls / Lr;
  sigmaLs = Ls * sigma;
  Ts = Ls / Rs;
  invTs = 1 / Ts;
  UpdateRotorTerms();
  for (double& v : x_) v = 0.0;
  Valphas = 0.0;
  Vbetas = 0.0;
  a1Act = a10;
  a2Act = a20;
  a3Act = a30;
}

void DqMachineModel::UpdateRotorTerms() {
  Tr = Lr / RrAct;
  invTr = 1 / Tr;
  invTsTr = invTs + invTr;
  invTsTr_over_sigma_ = invTsTr / sigma;
  invTr_over_sigmaLs_ = invTr / sigmaLs;
}

void DqMachineModel::SetRotorResistance(double r) {
  // Ignored unless positive (see the header); idempotent, since the run loop repeats the
  // call at every step after the event time.
  if (!(r > 0.0) || r == RrAct) return;
  RrAct = r;
  UpdateRotorTerms();
}

double DqMachineModel::LoadTorque(double w_el) const {
  const double omega = w_el / p;
  const double constant = Crsgn != 0 ? a3Act * SignSat(w_el) : a3Act;
  return a1Act * omega * omega + a2Act * omega + constant;
}

// dis_a/dt   = Va/sigmaLs - (1/Ts + 1/Tr)/sigma is_a - w is_b + 1/(Tr sigmaLs) phis_a
//              + w/sigmaLs phis_b
// dis_b/dt   = Vb/sigmaLs + w is_a - (1/Ts + 1/Tr)/sigma is_b - w/sigmaLs phis_a
//              + 1/(Tr sigmaLs) phis_b
// dphis_a/dt = Va - Rs is_a;  dphis_b/dt = Vb - Rs is_b
// dw/dt      = p (Ce - Cr)/J, Ce = 1.5 p (phis_a is_b - is_a phis_b)
void DqMachineModel::Derivative(const double* x, double* dx) const {
  const double ia = x[0];
  const double ib = x[1];
  const double fa = x[2];
  const double fb = x[3];
  const double w_el = x[4];
  const double va_term = Valphas / sigmaLs;
  const double vb_term = Vbetas / sigmaLs;
  const double w_over_sigmaLs = w_el / sigmaLs;
  dx[0] = va_term - invTsTr_over_sigma_ * ia - w_el * ib + invTr_over_sigmaLs_ * fa +
          w_over_sigmaLs * fb;
  dx[1] = vb_term + w_el * ia - invTsTr_over_sigma_ * ib - w_over_sigmaLs * fa +
          invTr_over_sigmaLs_ * fb;
  dx[2] = Valphas - Rs * ia;
  dx[3] = Vbetas - Rs * ib;
  const double ce = 1.5 * p * (fa * ib - ia * fb);
  dx[4] = p * (ce - LoadTorque(w_el)) / J;
}

void DqMachineModel::Integrate() {
  double k1[5], k2[5], k3[5], k4[5], stage[5];
  const double half = h / 2;
  Derivative(x_, k1);
  for (int i = 0; i < 5; ++i) stage[i] = x_[i] + half * k1[i];
  Derivative(stage, k2);
  for (int i = 0; i < 5; ++i) stage[i] = x_[i] + half * k2[i];
  Derivative(stage, k3);
  for (int i = 0; i < 5; ++i) stage[i] = x_[i] + h * k3[i];
  Derivative(stage, k4);
  const double sixth = h / 6;
  for (int i = 0; i < 5; ++i) x_[i] = x_[i] + sixth * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
}

PhaseCurrents DqMachineModel::StepStar(double a, double b, double c) {
  // The zero-sequence part of the three voltages drives no current in a star winding.
  Valphas = (2 * a - b - c) / 3;
  const double vb_phase = (2 * b - a - c) / 3;
  Vbetas = (2 * vb_phase + Valphas) / kSqrt3;
  Integrate();
  return {x_[0], (kSqrt3 * x_[1] - x_[0]) / 2, x_[4] / p};
}

PhaseCurrents DqMachineModel::StepDelta(double a, double b, double c) {
  Valphas = (2 * (a - b) - (b - c) - (c - a)) / 3;
  Vbetas = ((b - c) - (c - a)) / kSqrt3;
  Integrate();
  const double i1 = x_[0];
  const double i2 = (kSqrt3 * x_[1] - x_[0]) / 2;
  return {2 * i1 + i2, i2 - i1, x_[4] / p};
}

}  // namespace mas
