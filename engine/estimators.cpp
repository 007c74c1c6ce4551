#include "engine/estimators.h"

#include <cmath>

#include "engine/numeric.h"
#include "engine/regulators.h"
#include "engine/transforms.h"

namespace mas {
namespace {

bool Is(const SimulationSettings& s, FluxType type) { return s.Flux_typ == static_cast<int>(type); }

}  // namespace

ModelCopyConstants ComputeModelCopyConstants(const SimulationSettings& s) {
  ModelCopyConstants mc;
  mc.Tr = s.mLr / s.mRr;
  mc.sigma = 1 - s.mM * s.mM / (s.mLs * s.mLr);
  mc.sigmaLs = mc.sigma * s.mLs;
  mc.Ts = s.mLs / s.mRs;
  mc.InvTs = 1 / mc.Ts;
  mc.InvTr = 1 / mc.Tr;
  mc.InvTsTr = mc.InvTs + mc.InvTr;
  mc.Ti = s.TMLI * s.NTregI;
  return mc;
}

double ParkAngle(const SimulationSettings& s, const RunState& st) {
  const EstimatorState& e = st.est;
  switch (static_cast<FluxType>(s.Flux_typ)) {
    case FluxType::kDirectRotor:
      return FluxAngle(e.Phi_alpha_r, e.Phi_beta_r);
    case FluxType::kDirectStator:
      return FluxAngle(e.Phi_alpha_s, e.Phi_beta_s);
    case FluxType::kCorrectedStator:
      return FluxAngle(e.Phi1s, e.Phi2s);
    case FluxType::kObservedStator:
      return FluxAngle(s.observer.PhialphasObs, s.observer.PhibetasObs);
    default:
      return e.thetas;
  }
}

void MeasuredCurrentsToPark(const SimulationSettings& s, RunState& st, double theta) {
  EstimatorState& e = st.est;
  const double a = s.IFiltOn ? e.IasF : st.IasMeas;
  const double b = s.IFiltOn ? e.IbsF : st.IbsMeas;
  const AlphaBeta i = ClarkeCurrents(a, b, s.Triangle);
  e.IalphaMeas = i.alpha;
  e.IbetaMeas = i.beta;
  Park(i, std::cos(theta), std::sin(theta), e.Ids, e.Iqs);
  // The filtered d and q currents: the Park components of the filtered phase currents,
  // which are the controller's currents when the filter is on.
  if (s.IFiltOn) {
    e.IdsF = e.Ids;
    e.IqsF = e.Iqs;
  }
}

void VoltageReferencesToPhases(const SimulationSettings& s, RunState& st, double theta) {
  const AlphaBeta v = InversePark(st.Vdsref, st.Vqsref, std::cos(theta), std::sin(theta));
  st.est.VdsrefAlpha = v.alpha;
  st.est.VdsrefBeta = v.beta;
  const ThreePhase ref = InverseClarke(v, s.Triangle);
  st.VasRef = ref.a;
  st.VbsRef = ref.b;
  st.VcsRef = ref.c;
}

void SpeedFilterSlipAndAngle(const SimulationSettings& s, RunState& st) {
  EstimatorState& e = st.est;
  if (s.UseSpeedFilter) {
    st.WmMeas = 0.2 * (st.Wm + e.W1 + e.W2 + e.W3 + e.W4);
    e.W4 = e.W3;
    e.W3 = e.W2;
    e.W2 = e.W1;
    e.W1 = st.Wm;
  }
  // Rotor-flux slip frequency from the references, Iqsref/(Tr Idsref). Without a flux
  // reference (Idsref = 0) the slip is undefined; it is taken as 0, so that the angle
  // follows the rotor.
  e.Wsl = st.Idsref != 0.0 ? st.Iqsref / st.mc.Tr / st.Idsref : 0.0;
  const double ti = st.mc.Ti;
  if (Is(s, FluxType::kIndirectStator)) {
    e.Ws = s.mp * st.WmMeas + e.WslS;
    e.thetas += ti * e.Ws;
  } else if (Is(s, FluxType::kDirIndStator)) {
    e.ThetaInd = WrapOnce(e.ThetaInd + e.WslS * ti);
    e.thetas = (1 - e.Kblend) * e.ThetaInd + e.Kblend * e.ThetaDir;
    e.Ws = (1 - e.Kblend) * e.WslS + e.Kblend * e.WsDir;
  } else if (Is(s, FluxType::kSensorlessDirIndStator)) {
    e.Ws = e.WslS;
    e.ThetaInd = WrapOnce(e.ThetaInd + e.Ws * ti);
    e.thetas = (1 - e.Kblend) * e.ThetaInd + e.Kblend * e.ThetaDir;
  } else {
    e.Ws = s.mp * st.WmMeas + e.Wsl;
    e.thetas += ti * e.Ws;
  }
  e.thetas = WrapOnce(e.thetas);
}

// State (Phidr, Phi_alpha_s, Phi_beta_s):
//   dPhidr/dt = (mM Ids - Phidr)/Tr,  dPhi_alpha_s/dt = E_alpha,  dPhi_beta_s/dt = E_beta,
// with the back-EMF E = V - Rs i of the dq model, held over the step.
void DirectFluxEstimatorStep(const SimulationSettings& s, RunState& st) {
  EstimatorState& e = st.est;
  const double ea = s.dq.Esalpha();
  const double eb = s.dq.Esbeta();
  const double drive = s.mM * e.Ids;
  const double tr = st.mc.Tr;
  const double h = s.dt;
  const double k1 = (drive - e.Phidr) / tr;
  const double k2 = (drive - (e.Phidr + h / 2 * k1)) / tr;
  const double k3 = (drive - (e.Phidr + h / 2 * k2)) / tr;
  const double k4 = (drive - (e.Phidr + h * k3)) / tr;
  e.Phidr = e.Phidr + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
  e.Phi_alpha_s = e.Phi_alpha_s + h / 6 * (ea + 2 * ea + 2 * ea + ea);
  e.Phi_beta_s = e.Phi_beta_s + h / 6 * (eb + 2 * eb + 2 * eb + eb);
  // Rotor flux from the stator flux and current: phi_r = (Lr/M) phi_s + (M - Ls Lr/M) i_s.
  const double leak = s.mM - s.mLs * s.mLr / s.mM;
  const double ratio = s.mLr / s.mM;
  e.Phi_alpha_r = s.dq.isAlpha() * leak + ratio * e.Phi_alpha_s;
  e.Phi_beta_r = s.dq.isBeta() * leak + ratio * e.Phi_beta_s;
}

// A discrete integrator of the back-EMF with a slow correction of its drift:
// Phi = K CorrX + PhiPrev; CorrX = E - Phi + PhiPrev; PhiPrev = Phi.
void CorrectedStatorFluxStep(const SimulationSettings& s, RunState& st) {
  EstimatorState& e = st.est;
  const double k = s.CorrectedFluxGain;
  e.Phi1s = k * e.CorrXA + e.PhiCorrPrevA;
  e.CorrXA = s.dq.Esalpha() - e.Phi1s + e.PhiCorrPrevA;
  e.PhiCorrPrevA = e.Phi1s;
  e.Phi2s = k * e.CorrXB + e.PhiCorrPrevB;
  e.CorrXB = s.dq.Esbeta() - e.Phi2s + e.PhiCorrPrevB;
  e.PhiCorrPrevB = e.Phi2s;
}

void StatorFluxEstimatorsStep(const SimulationSettings& s, RunState& st) {
  EstimatorState& e = st.est;
  const ModelCopyConstants& mc = st.mc;
  // Direct angle of the observed stator flux and its smoothed angular speed; speeds
  // outside +-250 rad/s are taken as glitches of the angle and ignored.
  const double fa = s.observer.PhialphasObs;
  const double fb = s.observer.PhibetasObs;
  e.PhisObsMag = std::sqrt(fa * fa + fb * fb);
  const double previous = e.ThetaDir;
  if (e.PhisObsMag != 0.0) e.ThetaDir = std::atan2(fb, fa);
  double dtheta = e.ThetaDir - previous;
  if (dtheta >= kPi) dtheta -= 2 * kPi;
  if (dtheta <= -kPi) dtheta += 2 * kPi;
  const double w = dtheta / s.TMLI / s.NTregI;
  if (-250 < w && w < 250) e.WsDir = 0.995 * e.WsDir + 0.005 * w;
  e.WmEst = e.Kblend > 0.01 ? 0.5 * (e.WsDir - e.WslSF) : 0.5 * e.WslSF;

  // Indirect stator-flux model over one current sample T:
  //   Wsl_s = (Iqs + sigma Tr dIqs/dt) (Ls/Tr) / (PhisEst - sigma Ls Idsref)
  //   PhisEst = (1 - T/Tr) PhisEst + Ls T/Tr (Ids + sigma Tr dIds/dt)
  const double t = mc.Ti;
  e.dIds = (e.Ids - e.IdsPrev) / t;
  e.dIqs = (e.Iqs - e.IqsPrev) / t;
  // With no stator flux left beyond the leakage term the slip is undefined; it is then
  // taken as 0.
  const double flux = e.PhisEst - mc.sigma * s.mLs * st.Idsref;
  e.WslS = flux != 0.0 ? (e.Iqs + mc.sigma * mc.Tr * e.dIqs) * (s.mLs / mc.Tr) / flux : 0.0;
  e.WslSF = 0.9995 * e.WslSF + 0.0005 * e.WslS;
  e.IdsCorr = (1 - t / mc.sigma / mc.Tr) * e.IdsCorr + e.Iqs * t * e.WslSF;
  e.PhisEst =
      (1 - t / mc.Tr) * e.PhisEstPrev + s.mLs * t / mc.Tr * (e.Ids + mc.sigma * mc.Tr * e.dIds);
  e.IdsPrev = e.Ids;
  e.IqsPrev = e.Iqs;
  e.PhisEstPrev = e.PhisEst;
}

void BlendFactorStep(RunState& st) {
  EstimatorState& e = st.est;
  // The orientation starts on the integrated angle and moves to the direct one for good
  // once the q current reference has exceeded 12 A.
  if (e.BlendLatched == 0 && (st.Iqsref > 12 || st.Iqsref < -12)) e.BlendLatched = 1;
  e.Kblend = e.BlendLatched != 0 ? 0.1 + 0.9 * e.Kblend : 0.5 * e.Kblend;
}

void MrasSpeedEstimatorStep(const SimulationSettings& s, RunState& st, double va, double vb,
                            double vc) {
  EstimatorState& e = st.est;
  const ModelCopyConstants& mc = st.mc;
  const AlphaBeta v = PhaseToStationary(va, vb, vc);
  const double h = s.TEst;
  const double w = s.mp * e.WmEst;
  // Reference model: the stator equations of the machine copy (explicit Euler).
  const double ia = e.MrasIalpha, ib = e.MrasIbeta, fa = e.MrasPhisAlpha, fb = e.MrasPhisBeta;
  const double dia = v.alpha / mc.sigmaLs - (mc.InvTsTr / mc.sigma) * ia - w * ib +
                     (mc.InvTr / mc.sigmaLs) * fa + (w / mc.sigmaLs) * fb;
  const double dib = v.beta / mc.sigmaLs + w * ia - (mc.InvTsTr / mc.sigma) * ib -
                     (w / mc.sigmaLs) * fa + (mc.InvTr / mc.sigmaLs) * fb;
  e.MrasIalpha = ia + h * dia;
  e.MrasIbeta = ib + h * dib;
  e.MrasPhisAlpha = fa + h * (v.alpha - s.mRs * ia);
  e.MrasPhisBeta = fb + h * (v.beta - s.mRs * ib);
  // Adjustable model: rotor flux from the measured currents at the estimated speed.
  e.MrasPhirAlpha +=
      h * (-e.MrasPhirAlpha / mc.Tr - w * e.MrasPhirBeta + (s.mM / mc.Tr) * e.IalphaMeas);
  e.MrasPhirBeta +=
      h * (w * e.MrasPhirAlpha - e.MrasPhirBeta / mc.Tr + (s.mM / mc.Tr) * e.IbetaMeas);
  // The cross product of the two fluxes drives the speed estimate through a PI whose
  // limit only stops the integration.
  const double error = e.MrasPhirAlpha * e.MrasPhisBeta - e.MrasPhisAlpha * e.MrasPhirBeta;
  e.WmEst = PiStep(error, s.KpWmEst, s.KiWmEst, s.WmEstMax, e.MrasInteg);
}

}  // namespace mas
