#pragma once
// The controller-side machine model ("Phi_s Observé"): the parameters the controller
// believes, copied from the settings when a parameter file is read, and the observer's
// state in the stationary frame. It runs the machine's two-axis equations with the
// controller's stator voltage references and the measured speed, by explicit Euler steps
// of one current-sample period.

namespace mas {

struct FluxObserver {
  // Parameters.
  double mRs = 0.0;
  double mRr = 0.0;
  double mLs = 0.0;
  double mLr = 0.0;
  double mM = 0.0;
  int mp = 0;
  double h = 0.0;      // step: the current-sample period NTregI x TMLI (s)
  double RrAct = 0.0;  // working rotor resistance

  // Constants computed at the start of each run from the observer's own copy.
  double sigma = 0.0, sigmaLs = 0.0, Ts = 0.0, Tr = 0.0;
  double InvTs = 0.0, InvTr = 0.0, InvTsTr = 0.0;

  // State: stator currents and fluxes, and the input voltages of the last step.
  double IalphasObs = 0.0;
  double IbetasObs = 0.0;
  double PhialphasObs = 0.0;
  double PhibetasObs = 0.0;
  double Valpha = 0.0;
  double Vbeta = 0.0;

  void SetParameters(double rs, double rr, double ls, double lr, double m) {
    mRs = rs;
    mRr = rr;
    mLs = ls;
    mLr = lr;
    mM = m;
    RrAct = rr;
  }
  // Constants from the parameters, working rotor resistance back to the nominal one,
  // zero state and inputs.
  void ResetForRun() {
    RrAct = mRr;
    sigma = 1 - mM * mM / (mLs * mLr);
    sigmaLs = sigma * mLs;
    Ts = mLs / mRs;
    Tr = mLr / RrAct;
    InvTs = 1 / Ts;
    InvTr = 1 / Tr;
    InvTsTr = InvTs + InvTr;
    IalphasObs = IbetasObs = PhialphasObs = PhibetasObs = 0.0;
    Valpha = Vbeta = 0.0;
  }
  // One explicit Euler step with the stator voltage (va, vb) and the electrical speed w:
  //   dia/dt = va/sigmaLs - (1/Ts + 1/Tr)/sigma ia - w ib + 1/(Tr sigmaLs) fa + w/sigmaLs fb
  //   dib/dt = vb/sigmaLs + w ia - (1/Ts + 1/Tr)/sigma ib - w/sigmaLs fa + 1/(Tr sigmaLs) fb
  //   dfa/dt = va - Rs ia,  dfb/dt = vb - Rs ib
  // (all four derivatives first, then the states).
  void Step(double va, double vb, double w) {
    Valpha = va;
    Vbeta = vb;
    const double ia = IalphasObs, ib = IbetasObs, fa = PhialphasObs, fb = PhibetasObs;
    const double dia = va / sigmaLs - (InvTsTr / sigma) * ia - w * ib + (InvTr / sigmaLs) * fa +
                       (w / sigmaLs) * fb;
    const double dib = vb / sigmaLs + w * ia - (InvTsTr / sigma) * ib - (w / sigmaLs) * fa +
                       (InvTr / sigmaLs) * fb;
    const double dfa = va - mRs * ia;
    const double dfb = vb - mRs * ib;
    IalphasObs += h * dia;
    IbetasObs += h * dib;
    PhialphasObs += h * dfa;
    PhibetasObs += h * dfb;
  }
  // Observer EMF and torque read-outs.
  double EalphasObs() const { return Valpha - mRs * IalphasObs; }
  double EbetasObs() const { return Vbeta - mRs * IbetasObs; }
  double CeObs() const { return 1.5 * mp * (PhialphasObs * IbetasObs - IalphasObs * PhibetasObs); }
};

}  // namespace mas
