#pragma once
// Everything a run computes and keeps while it goes, reset at the start of every run,
// and the few values that carry over from one run to the next.

#include "dsvpwm/double_svpwm.h"
#include "engine/experiment.h"

namespace mas {

// State that the workbench keeps from one run to the next, in one place. A run reads it
// at its start and writes it back at its end. (The cage model's bar and ring resistances
// also carry over; they live with the cage model in the settings, where the fault
// dialogs edit them.)
struct CarriedState {
  // Direct stator-flux angle of the observer and its smoothed angular speed.
  double ThetaDir = 0.0;
  double WsDir = 0.0;
  // Costs of the optimisers: 1e50 marks a diverged run, -1 an interrupted one.
  double CostIdent = 0.0;
  double CostReg = 0.0;
  // The measured start-up and its tables, kept until the next reading or table build.
  ExperimentalData experiment;
  // The double space-vector modulator shared by the inverter and its study: its
  // switching instants stay in force until the next recomputation.
  DoubleSvpwm dsvpwm;
};

// Constants of the controller's copy of the machine, computed at the start of a run from
// mRs, mRr, mLs, mLr, mM, and the current-sample period.
struct ModelCopyConstants {
  double Tr = 0.0;       // mLr/mRr (s)
  double sigma = 0.0;    // 1 - mM^2/(mLs mLr)
  double sigmaLs = 0.0;  // sigma mLs (H)
  double Ts = 0.0;       // mLs/mRs (s)
  double InvTs = 0.0;
  double InvTr = 0.0;
  double InvTsTr = 0.0;  // 1/Ts + 1/Tr
  double Ti = 0.0;       // current-sample period TMLI x NTregI (s)
};

// States of the three regulators.
struct RegulatorState {
  double IntegD = 0.0, IntegQ = 0.0, IntegW = 0.0;
  double UdIP = 0.0, UdIPSat = 0.0, UqIP = 0.0, UqIPSat = 0.0, UwIP = 0.0, UwIPSat = 0.0;
  double ErrPrevD = 0.0, ErrPrevQ = 0.0, ErrPrevW = 0.0;
  int FieldStep = 1;
  double IdsrefBase = 0.0;  // d reference of the field-weakening step in force (A)
  double IqsrefPrev = 0.0;
  // Inputs of the fuzzy regulators at their last step (error and change of error).
  double WErr = 0.0, WdErr = 0.0;
  double IdsErr = 0.0, IdsdErr = 0.0;
  double IqsErr = 0.0, IqsdErr = 0.0;
};

// States of the transforms, flux estimators, observers and filters.
struct EstimatorState {
  double thetas = 0.0;                       // Park angle used by the control (rad)
  double Ws = 0.0;                           // stator angular frequency (rad/s)
  double Wsl = 0.0;                          // rotor-flux slip angular frequency (rad/s)
  double Ids = 0.0, Iqs = 0.0;               // measured currents in the Park frame
  double IdsF = 0.0, IqsF = 0.0;             // Park frame currents of the filtered currents
  double IalphaMeas = 0.0, IbetaMeas = 0.0;  // measured currents after Clarke
  double VdsrefAlpha = 0.0, VdsrefBeta = 0.0;
  // Direct flux estimator.
  double Phidr = 0.0, Phi_alpha_s = 0.0, Phi_beta_s = 0.0;
  double Phi_alpha_r = 0.0, Phi_beta_r = 0.0;
  // Corrected stator flux.
  double Phi1s = 0.0, Phi2s = 0.0, PhiCorrPrevA = 0.0, PhiCorrPrevB = 0.0;
  double CorrXA = 0.0, CorrXB = 0.0;
  // Indirect stator-flux model and blend.
  double PhisEst = 0.0, PhisEstPrev = 0.0, IdsPrev = 0.0, IqsPrev = 0.0;
  double dIds = 0.0, dIqs = 0.0;
  double WslS = 0.0, WslSF = 0.0, IdsCorr = 0.0;
  double PhisObsMag = 0.0;
  // Working copies, during a run, of the carried direct stator-flux angle and speed.
  double ThetaDir = 0.0, WsDir = 0.0;
  double ThetaInd = 0.0;
  double Kblend = 0.0;
  int BlendLatched = 0;
  int StatorMode = 0;
  double StatorModeFN = 0.0;
  // MRAS speed estimator.
  double WmEst = 0.0;
  double MrasIalpha = 0.0, MrasIbeta = 0.0, MrasPhisAlpha = 0.0, MrasPhisBeta = 0.0;
  double MrasPhirAlpha = 0.0, MrasPhirBeta = 0.0, MrasInteg = 0.0;
  // Five-sample speed filter history.
  double W1 = 0.0, W2 = 0.0, W3 = 0.0, W4 = 0.0;
  // First-order filters: measured currents and the machine's back-EMF.
  double IasF = 0.0, IbsF = 0.0;
  double EsalphaF = 0.0, EsbetaF = 0.0;
  // Coefficients of the filters, computed at the start of a run.
  double kI = 0.0, kE = 0.0;
};

// Direct torque control and V/f.
struct DirectControlState {
  double CeRef = 0.0;
  double PhiRef = 1.0;
  double PhisMag = 0.0;
  double CeEst = 0.0;
  int DtcSector = 1;
  int TorqueUp = 0;
  int FluxUp = 0;
  double VfAmp = 0.0;
};

// Current-sensor supervision, shown by the sensor columns of the output table. No sensor
// fault is simulated: every sensor reads healthy (state 0) and the measured currents are
// the three phase currents the controller sees.
struct SensorState {
  int EtatCapteur = 0;
  int InhibFlag = 0;
  double Imes[3] = {0.0, 0.0, 0.0};
};

struct RunState {
  double t = 0.0;       // simulation time (s)
  long long steps = 0;  // steps executed in this run
  int StepCount = 0;    // output decimation counter, 0 .. OutStep-1
  int MliCount = 0;     // PWM periods elapsed (double periods in the open-loop mode)
  int RegICount = 0;    // PWM periods since the last current-loop sample
  int RegWCount = 0;    // current-loop samples since the last speed-loop sample
  int EstCount = 0;     // speed-estimator periods elapsed
  int ExpIndex = 0;     // index into the experimental tables
  bool ModeSelected = false;
  double Wmref = 0.0;                               // speed reference (rad/s)
  double Idsref = 0.0, Iqsref = 0.0;                // current references (A)
  double Vdsref = 0.0, Vqsref = 0.0;                // voltage references in the Park frame (V)
  double VasRef = 0.0, VbsRef = 0.0, VcsRef = 0.0;  // phase voltage references (V)
  double Vas = 0.0, Vbs = 0.0, Vcs = 0.0;           // pole voltages applied (V)
  double Ias = 0.0, Ibs = 0.0, Ics = 0.0;           // model phase currents (A)
  double IasMeas = 0.0, IbsMeas = 0.0;              // currents seen by the controller (A)
  double Wm = 0.0;                                  // model mechanical speed (rad/s)
  double WmMeas = 0.0;                              // speed seen by the controller (rad/s)

  ModelCopyConstants mc;
  RegulatorState reg;
  EstimatorState est;
  DirectControlState dc;
  SensorState sensor;
};

}  // namespace mas
