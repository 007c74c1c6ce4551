#pragma once
// The one record of every setting of a simulation study, grouped as the dialogs group
// them. Field names are the keys of the parameter file; a setting numbered 1..4 in the
// file (`Wmt1` .. `Wmt4`) is an array here whose element i-1 is setting i.
// Units are SI unless stated; speeds entered by the user are in tr/mn.
//
// Defaults are those of a fresh program: every number 0, every flag off and every text
// empty except where an initialiser below says otherwise.

#include <array>
#include <string>

#include "engine/cage_machine_model.h"
#include "engine/dq_machine_model.h"
#include "engine/flux_observer.h"

namespace mas {

// Source of the Park angle (`Flux_typ`).
enum class FluxType : int {
  kIndirectRotor = 0,            // "Indirecte Phi_r"
  kDirectRotor = 1,              // "Directe Phi_r"
  kDirectStator = 2,             // "Directe Phi_s"
  kCorrectedStator = 3,          // "Phi_s Corrigé"
  kObservedStator = 4,           // "Phi_s Observé"
  kIndirectStator = 5,           // "Indirecte Phi_s"
  kSensorless6 = 6,              // "Sans Capteur"
  kSensorless7 = 7,              // "Sans Capteur 7"
  kSensorless8 = 8,              // "Sans Capteur 8"
  kDirIndStator = 9,             // "Dir/ind Stator"
  kSensorlessDirIndStator = 10,  // "SS Dir/ind Stator"
};

// Output-selection flags of the display dialog, in column order.
enum OutSelIndex : int {
  kOutCe,
  kOutWm,
  kOutIas,
  kOutVas,
  kOutIdsref,
  kOutIds,
  kOutIqsref,
  kOutIqs,
  kOutVdsref,
  kOutVqsref,
  kOutEsalpha,
  kOutEsbeta,
  kOutIdsMAS,
  kOutIqsMAS,
  kOutCeMAS,
  kOutCrMAS,
  kOutthetas,
  kOutangphi_s,
  kOutangphi_r,
  kOutPhi_alpha_s,
  kOutPhi_beta_s,
  kOutPhi_alpha_r,
  kOutPhi_beta_r,
  kOutPhidr,
  kOutPhi1s,
  kOutPhi2s,
  kOutIasF,
  kOutIbsF,
  kOutIdsF,
  kOutIqsF,
  kOutangphi_s_Corr,
  kOutWs,
  kOutIalphasObs,
  kOutIbetasObs,
  kOutPhialphasObs,
  kOutPhibetasObs,
  kOutEalphasObs,
  kOutEbetasObs,
  kOutCeObs,
  kOutFlou,
  kOutSelCount
};
inline constexpr std::array<const char*, kOutSelCount> kOutSelNames = {
    "Ce",         "Wm",          "Ias",           "Vas",
    "Idsref",     "Ids",         "Iqsref",        "Iqs",
    "Vdsref",     "Vqsref",      "Esalpha",       "Esbeta",
    "IdsMAS",     "IqsMAS",      "CeMAS",         "CrMAS",
    "thetas",     "angphi_s",    "angphi_r",      "Phi_alpha_s",
    "Phi_beta_s", "Phi_alpha_r", "Phi_beta_r",    "Phidr",
    "Phi1s",      "Phi2s",       "IasF",          "IbsF",
    "IdsF",       "IqsF",        "angphi_s_Corr", "Ws",
    "IalphasObs", "IbetasObs",   "PhialphasObs",  "PhibetasObs",
    "EalphasObs", "EbetasObs",   "CeObs",         "Flou"};

// Experimental-comparison columns.
enum OutSelExpIndex : int {
  kExpWmint,
  kExpIasint,
  kExpWmTable,
  kExpIasTable,
  kExpMaxIasTable,
  kMaxIas,
  kOutSelExpCount
};
inline constexpr std::array<const char*, kOutSelExpCount> kOutSelExpNames = {
    "ExpWmint", "ExpIasint", "ExpWmTable", "ExpIasTable", "ExpMaxIasTable", "MaxIas"};

// Cage-model columns.
enum OutSelCageIndex : int {
  kCageThetar,
  kCageValphas,
  kCageVbetas,
  kCageVds,
  kCageVqs,
  kCageIalphas,
  kCageIbetas,
  kCageIe,
  kCageCapt,
  kCagePolaireBarre,
  kCagePolaireLoop,
  kCagePolaireAnneau,
  kOutSelCageCount
};
inline constexpr std::array<const char*, kOutSelCageCount> kOutSelCageNames = {
    "Thetar", "Valphas", "Vbetas", "Vds",          "Vqs",         "Ialphas",
    "Ibetas", "Ie",      "Capt",   "PolaireBarre", "PolaireLoop", "PolaireAnneau"};

// Stator-flux estimator columns.
enum OutSelStatorIndex : int {
  kStatPhids,
  kStatPhisM,
  kStatIdqs,
  kStatWsl_Stator,
  kStatWsl_StatorFiltre,
  kStatPhisTheta,
  kStatthInd,
  kStatPhisWs,
  kStatWmEst,
  kStatStatorMode,
  kStatStatorModeFN,
  kOutSelStatorCount
};
inline constexpr std::array<const char*, kOutSelStatorCount> kOutSelStatorNames = {
    "Phids", "PhisM",  "Idqs",  "Wsl_Stator", "Wsl_StatorFiltre", "PhisTheta",
    "thInd", "PhisWs", "WmEst", "StatorMode", "StatorModeFN"};

using Events4 = std::array<double, 4>;
using Indices4 = std::array<int, 4>;

struct SimulationSettings {
  // Physical machine (Rs, Rr, Ls, Lr, M, p, J, a10, a20, a30, Crsgn) lives in the dq
  // model; the cage model holds its geometry, its per-bar resistances and the same
  // mechanical parameters; the flux observer the controller's copy used by it.
  DqMachineModel dq;
  CageMachineModel cage;
  FluxObserver observer;

  // Model machine: what the controller believes.
  double mRs = 0.0, mRr = 0.0, mLs = 0.0, mLr = 0.0, mM = 0.0;
  int mp = 0;
  double mJ = 0.0, ma10 = 0.0, ma20 = 0.0, ma30 = 0.0;

  // Time base.
  double t0 = 0.0;    // initial time (s)
  double tf = 0.0;    // final time (s); the loop runs while t <= tf
  double td0 = 0.0;   // output recorded from this time on, and origin of its time column (s)
  double dt = 0.0;    // integration step (s)
  double TMLI = 0.0;  // PWM period, base period of all regulator sampling (s)
  int OutStep = 0;    // output decimation (steps)
  int OutOpt = 0;     // stored in the file, no effect on the run

  // Inverter.
  double E2 = 0.0;  // half the DC-bus voltage (V), key "E/2"
  double fs = 0.0;  // supply frequency of the open-loop mode (Hz)

  // Current regulators.
  int NTregI = 0;  // current-loop period in PWM periods
  bool IdsPI = false, IdsIP = false, IdsFlou = false;
  double Kpd = 0.0, Kid = 0.0, VdsrefMax = 0.0;
  double IdsFE = 0.0, IdsFdE = 0.0, IdsFdU = 0.0;
  double TtdI = 1.0;
  bool IqsPI = false, IqsIP = false, IqsFlou = false;
  double Kpq = 0.0, Kiq = 0.0, VqsrefMax = 0.0;
  bool VqsrefMaxFree = false;  // "Vqsref Max libre"
  double IqsFE = 0.0, IqsFdE = 0.0, IqsFdU = 0.0;
  double TtqI = 1.0;

  // Speed regulator.
  int NTregW = 0;  // speed-loop period in current-loop periods
  bool WPI = false, WIP = false, WFlou = false, WNN = false, W2DNFC = false;
  double KpW = 0.0, KiW = 0.0;
  double TtW = 1.0;
  double IqsrefM = 0.0;  // limit of the q current reference (A)
  double WFErr = 0.0, WFdErr = 0.0, WFdU = 0.0;
  bool ChangeK = false;         // "Adapter les gains"
  bool UseSpeedFilter = false;  // "Activer FIR5"
  double Fe = 0.05, Fde = 1.0, FdU = 1.5;
  double w11 = -0.9, w21 = -0.7, w12 = -0.7;
  double w32 = 0.7, w23 = 0.7, w33 = 0.9;  // dependent weights, see UpdateNeuroFuzzyWeights
  double cE1 = -1.0, cE2 = 0.0, cE3 = 1.0;
  double sE1 = 0.9, sE2 = 0.9, sE3 = 0.9;
  double cR1 = -1.0, cR2 = 0.0, cR3 = 1.0;
  double sR1 = 0.9, sR2 = 0.9, sR3 = 0.9;

  // Simulation type: exactly one of the five modes, or none for the open-loop supply.
  int MLI = 0;       // inverter model: 1 regular-sampled PWM, 0 ideal (key "MLI/Hyst")
  int VectCtrl = 0;  // "Contrôle Vectoriel"
  int Courant = 0;   // "Commande en courant"
  int Statique = 0;  // "Essai statique"
  int DTC = 0;       // direct torque control
  int Vf = 0;        // "V/f" (not stored in the parameter file)
  int Decouple = 0;
  int Flux_typ = 0;           // FluxType
  bool SpecialModel = false;  // machine model: false "dq", true "Cage"
  bool Triangle = false;      // connection: false star ("Etoile"), true delta (not stored)
  int CheckOverflow = 1;      // "Vérifie dépassement" torque divergence test (not stored)
  bool dsvPWM = false;        // inverter legs from the double SVPWM when MLI is 0 (not stored)

  // Events: event i applies at every step with t >= its time.
  Events4 Wmt{};     // speed-reference times (s)
  Events4 Wmref{};   // speed references (tr/mn)
  Events4 Crt{};     // load times (s)
  Events4 da1ref{};  // increments of a10, a20, a30 from the event time on
  Events4 da2ref{};
  Events4 da3ref{};
  Events4 Rrt{};    // rotor-resistance times (s)
  Events4 Rrref{};  // rotor resistance of the dq model from the event time on (ohm)
  Events4 Idst{100.0, 100.0, 100.0, 100.0};  // d current-reference times, mode Courant
  Events4 Idssref{};                         // d current references (A)
  Events4 Iqst{100.0, 100.0, 100.0, 100.0};  // q current-reference times
  Events4 Iqsref{};                          // q current references (A)

  // Field weakening.
  int Flag = 2;                                        // 0 "Aucun", 1 "Par paliers", 2 "Continu"
  double Wmlim1 = 0.0, Wmlim2 = 0.0, Wmlim3 = 0.0;     // step thresholds (tr/mn)
  double Idsref1 = 0.0, Idsref2 = 0.0, Idsref3 = 0.0;  // d current of each step (A)
  double Kdeflux = 6260.8;                             // continuous: Idsref = Kdeflux/|N|
  double WmBase = 700.0;                               // continuous: base speed (tr/mn)

  // Rotor faults (bar and end-ring portion numbers are 0-based).
  Events4 RbCasset{};
  Indices4 Rbn{};
  Events4 RbRef{};
  Events4 ReCasset{};
  Indices4 Ren{};
  Events4 ReRef{};
  bool BarreInit = false;   // reset the bar resistances when a run starts
  bool AnneauInit = false;  // reset the ring resistances when a run starts

  // Start-up and voltage drop (open-loop mode).
  bool VoltDrop = false;
  double dVtf = 0.0;  // end of the drop (s)
  double dVA = 0.0;   // half depth of the drop (V)
  double dVB = 0.0;   // centre of the recovery sigmoid (s)
  double dVC = 0.0;   // time constant of the sigmoid (s)
  double VsPh = 0.0;  // phase of the supply at t = 0 as entered (degrees, converted when used)

  // Static test.
  double Vcss = 0.0;  // DC level (V)
  double tfss = 0.0;  // end of the test (s)

  // Filters.
  bool IFiltOn = false;
  double IFiltT = 0.00011;  // current filter time constant (s)
  double IFiltGain = 1.0;   // kept, not used by the run

  // Speed estimator (MRAS).
  double TEst = 2e-05;
  double KpWmEst = 100.0;
  double KiWmEst = 5.0;
  double WmEstMax = 400.0;  // rad/s

  // Output.
  std::array<int, kOutSelCount> OutSel{};
  std::array<int, kOutSelExpCount> OutSelExp{};
  std::array<int, kOutSelCageCount> OutSelCage{};
  std::array<int, kOutSelStatorCount> OutSelStator{};
  int OutSensor = 0;
  bool CreateOutputFile = true;    // "Crée le fichier de sortie ( .dat )"
  bool DisplayProgressBar = true;  // "Affiche la barre de progression"
  std::string OutFileName = "out.dat";

  // Files (identification).
  std::string ExpNom = "dem1.dat";
  std::string SimNom = "out.dat";
  int ExpCol = 4;
  int SimCol = 2;
  int ExpWmCol = 3;
  int ExpIasCol = 4;
  double gWmF = 1.0, gIasF = 5.0, gA = 30.0, gt0 = 0.3;
  int CostFunction = 1;
  std::array<bool, 8> GenX{};
  bool ExpTableReady = false;

  // State flags.
  bool FileLoaded = false;           // a parameter file has been read completely
  bool CageArraysAllocated = false;  // the cage model's per-bar arrays exist
  std::string ParamFileName;         // current parameter file

  // Fixed constants of the run, without a dialog.
  double CorrectedFluxGain = 7.3575e-05;
  double VfV0 = 10.0;    // V/f law: voltage at zero frequency (V)
  double VfVn = 310.2;   // nominal voltage (V)
  double VfWn = 314.16;  // nominal angular frequency (rad/s)

  // Dependent updates of the groups ------------------------------------------------
  // Physical machine into both models (the cage takes Rs and the mechanical values).
  void PushElectricalParameters();
  void PushMechanicalParameters();
  // dt into both models.
  void PushStep();
  // Crsgn into both models.
  void SetCrsgn(int value);
  // The controller's machine copy into the flux observer.
  void PushObserverParameters();
  // Sampling period of the flux observer: NTregI x TMLI as they stand.
  void PushObserverStep();
  // w32 = -w12, w23 = -w12, w33 = -w11.
  void UpdateNeuroFuzzyWeights();
};

}  // namespace mas
