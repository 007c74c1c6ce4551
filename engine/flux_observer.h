#pragma once
// The controller-side machine model ("Phi_s Observé"): the parameters the controller
// believes, copied from the settings when a parameter file is read, and the observer's
// state in the stationary frame.

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

  // State: stator currents and fluxes, and the input voltages.
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
  // Zero state and inputs, working rotor resistance back to the nominal one.
  void ResetForRun() {
    RrAct = mRr;
    IalphasObs = IbetasObs = PhialphasObs = PhibetasObs = 0.0;
    Valpha = Vbeta = 0.0;
  }
  // Observer EMF and torque read-outs.
  double EalphasObs() const { return Valpha - mRs * IalphasObs; }
  double EbetasObs() const { return Vbeta - mRs * IbetasObs; }
  double CeObs() const { return 1.5 * mp * (PhialphasObs * IbetasObs - IalphasObs * PhibetasObs); }
};

}  // namespace mas
