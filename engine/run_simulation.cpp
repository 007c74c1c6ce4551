#include "engine/run_simulation.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/direct_control.h"
#include "engine/estimators.h"
#include "engine/inverter.h"
#include "engine/machine_trace.h"
#include "engine/numeric.h"
#include "engine/regulators.h"
#include "engine/settings_fields.h"

namespace mas {
namespace {

constexpr double kTwoPi = 2.0 * kPi;
constexpr double kHalfSqrt3 = 0.86602540378443864676;  // sin(2 pi/3)
// Cost given to a diverged run and to an interrupted one.
constexpr double kDivergedCost = 1e50;
constexpr double kInterruptedCost = -1.0;
// Most recorded steps the experimental tables may hold.
constexpr double kMaxTableRows = 1e7;
// Most steps (tf - t0)/dt a run may ask for.
constexpr double kMaxRunSteps = 1e9;
// Torque from which a run counts as diverged (N m), and current likewise (A).
constexpr double kTorqueLimit = 10000.0;
constexpr double kCurrentLimit = 1e30;
// Corner frequency factor of the back-EMF filter (1/s).
constexpr double kEmfFilterRate = 6666.66;

constexpr const char* kCaptionError = "Erreur";

// The simulation selected by the five mode flags.
enum class Mode { kOpenLoop, kVectCtrl, kCourant, kStatique, kDtc, kVf, kSeveral };

// Events are levels: from its time on an event is applied at every step, and a later event
// of the same kind overrides an earlier one while both are due. Applying only the last due
// event of each kind gives the same result: its index, -1 when none is due at t.
int LastDue(const Events4& times, double t) {
  int last = -1;
  for (int i = 0; i < 4; ++i) {
    if (t >= times[i]) last = i;
  }
  return last;
}

Mode SelectedMode(const SimulationSettings& s) {
  const int count =
      (s.VectCtrl != 0) + (s.Courant != 0) + (s.Statique != 0) + (s.DTC != 0) + (s.Vf != 0);
  if (count == 0) return Mode::kOpenLoop;
  if (count > 1) return Mode::kSeveral;
  if (s.VectCtrl != 0) return Mode::kVectCtrl;
  if (s.Courant != 0) return Mode::kCourant;
  if (s.Statique != 0) return Mode::kStatique;
  if (s.DTC != 0) return Mode::kDtc;
  return Mode::kVf;
}

class SimulationRun {
 public:
  SimulationRun(SimulationSettings& settings, CarriedState& carried, Platform& platform,
                OutputSink* sink, bool launch_viewer, RunMode mode, MachineTrace* trace = nullptr)
      : s_(settings),
        carried_(carried),
        platform_(platform),
        sink_(settings.CreateOutputFile ? sink : nullptr),
        launch_viewer_(launch_viewer),
        run_mode_(mode),
        mode_(SelectedMode(settings)),
        trace_(trace) {}

  RunOutcome Run();

 private:
  // Reasons to refuse a run before its first step; empty when it can run.
  std::string RefusalReason() const;
  RunOutcome Refuse(std::string message, MessageIcon icon,
                    const std::string& caption = kCaptionError);
  void Initialise();
  // The step loop of the run's mode, chosen once per run: each mode has its own copy of
  // the step, so that the mode is never tested again within the loop.
  void RunSteps();
  template <Mode M>
  void RunStepsOf();
  template <Mode M>
  void Step();
  // The traced loop: the same steps, the machine's state handed to the trace after each,
  // until the trace is complete or the run ends.
  template <Mode M>
  void RunTraced();
  // The references due at this step, then the other events when the time passes one of
  // theirs (ApplyDueEvents, apart from the step).
  template <Mode M>
  [[gnu::always_inline]] inline void ApplyEvents();
  template <Mode M>
  [[gnu::noinline]] void ApplyDueEvents();
  [[gnu::always_inline]] inline void OpenLoopSupply();
  // Sampling instants: a PWM tick every TMLI, a current sample every NTregI ticks, a
  // speed sample every NTregW current samples. The counters are incremented before the
  // comparison, so a period of 0 never samples.
  bool PwmTick() {
    if (st_.t - st_.MliCount * s_.TMLI >= s_.TMLI) {
      ++st_.MliCount;
      return true;
    }
    return false;
  }
  bool CurrentSample() {
    if (!PwmTick()) return false;
    if (++st_.RegICount != s_.NTregI) return false;
    st_.RegICount = 0;
    return true;
  }
  bool SpeedSample() {
    if (++st_.RegWCount != s_.NTregW) return false;
    st_.RegWCount = 0;
    return true;
  }
  bool FluxIs(FluxType type) const { return s_.Flux_typ == static_cast<int>(type); }
  void VectorControl();
  void CurrentControl();
  void VfControl();
  void DirectTorqueControl();
  void OutputStep();
  // Every kInterruptPollSteps steps: the progress bar (when shown) and the stop request.
  void PollProgressAndInterrupt();
  // Ends the run as interrupted, marking the optimisers' costs.
  void Interrupt();
  // The machine's step and the divergence test are inlined in each mode's step, so that
  // the step's values stay in registers; the ending of a diverged run is apart (Diverge).
  [[gnu::always_inline]] inline void StepMachine();
  [[gnu::always_inline]] inline void CheckDivergence();
  [[gnu::noinline, gnu::cold]] void Diverge();
  // True once t lies half a step or more beyond tf. The distance is doubled rather than dt
  // halved: doubling is exact (or overflows to infinity, still past the end), while half of
  // the smallest subnormal dt rounds to zero and would end the run one step early.
  bool PastEnd() const { return 2 * (st_.t - s_.tf) >= s_.dt; }
  void Stop() {
    st_.t = s_.tf + 1;
    stop_ = true;
  }
  RunView View() const {
    return {s_, st_, s_.dq, s_.cage, s_.observer, carried_.experiment, run_mode_};
  }
  // The experimental comparison of the optimisers' hooks, at an output step.
  void ExperimentHook();

  SimulationSettings& s_;
  CarriedState& carried_;
  Platform& platform_;
  OutputSink* sink_;
  const bool launch_viewer_;
  const RunMode run_mode_;
  const Mode mode_;
  MachineTrace* const trace_;

  RunState st_;
  RunOutcome outcome_;
  Inverter inverter_;
  bool stop_ = false;
  bool interpolation_reported_ = false;
  bool table_end_reported_ = false;
  int progress_position_ = 0;
  // Earliest load, rotor-resistance, bar or ring event time still to come.
  static constexpr double kNever = std::numeric_limits<double>::infinity();
  double next_event_time_ = -kNever;
  // Per-run constants.
  double two_pi_fs_ = 0.0;
  double supply_phase_ = 0.0;          // VsPh in radians
  double supply_sample_offset_ = 0.0;  // s: where in the step the open-loop sine is taken
  // The direct flux estimator and the back-EMF and current filters feed only the output
  // table and the controls that orient on a flux, decouple the axes or regulate filtered
  // currents (vector control, current control, direct torque control): a run with
  // neither skips them.
  bool estimates_needed_ = true;
};

std::string SimulationRun::RefusalReason() const {
  const SimulationSettings& s = s_;
  // A run whose time cannot pass tf would never end. Every t from t0 to tf must move by
  // dt, so dt must reach the spacing of the doubles at the largest |t|: a step of half
  // that spacing passes a test at tf (rounded up to the even neighbour) and then rounds
  // back to t at every even t, for ever.
  const double t_span = std::max(std::fabs(s.t0), std::fabs(s.tf));
  if (!IsUsableStep(s.dt) || !std::isfinite(s.t0) || !std::isfinite(s.tf) ||
      !(s.dt >= std::nextafter(t_span, kNever) - t_span)) {
    return std::string(kStepMessage);
  }
  // With dt at least that spacing each step advances t by at least dt/2, so a run has at
  // most 2 (tf - t0)/dt + 1 steps: the bound keeps them countable by the int counters and
  // a run within hours.
  if (!((s.tf - s.t0) / s.dt <= kMaxRunSteps)) {
    return "Paramètres temporels invalides : plus d'un milliard de pas de t0 à tf "
           "(augmenter dt ou réduire tf - t0)";
  }
  if (run_mode_ < 0 || run_mode_ > 6) {
    return "Mode de calcul " + std::to_string(run_mode_) + " inconnu";
  }
  const ExperimentalData& d = carried_.experiment;
  if ((run_mode_ >= 3 && run_mode_ <= 5) && d.Rows() < 2) {
    return "Interpolation des donnees du fichier experimental impossible";
  }
  if ((run_mode_ == 1 && (d.ExpWmTable.empty() || d.ExpIasTable.empty())) ||
      (run_mode_ == 6 && (d.ExpWmTable.empty() || d.ExpMaxIasTable.empty()))) {
    return "Les tables expérimentales n'ont pas été créées pour ces paramètres temporels";
  }
  return {};
}

RunOutcome SimulationRun::Refuse(std::string message, MessageIcon icon,
                                 const std::string& caption) {
  platform_.ShowMessage(message, caption, icon);
  RunOutcome out;
  out.status = RunStatus::kRefused;
  out.message = std::move(message);
  out.caption = caption;
  out.t_end = s_.t0;
  return out;
}

RunOutcome SimulationRun::Run() {
  // Start checks, in order: a parameter file was read, the settings can run, the output
  // file opens. A refused run leaves any previous output file untouched.
  if (!s_.FileLoaded) {
    return Refuse("Aucun fichier de données n'a été chargé", MessageIcon::kInformation);
  }
  if (std::string reason = RefusalReason(); !reason.empty()) {
    return Refuse(std::move(reason), MessageIcon::kError);
  }
  // The cage model is prepared (inductances, matrix inversion) before the output file is
  // touched, so that a cage that cannot be simulated leaves the previous table in place.
  if (s_.SpecialModel) {
    try {
      s_.cage.ResetForRun();
    } catch (const CageModelError& error) {
      RunOutcome out = Refuse(error.what(), MessageIcon::kExclamation, error.caption);
      if (error.kind != CageModelError::Kind::kInvalidCage) out.status = RunStatus::kModelError;
      return out;
    }
    if (s_.BarreInit) s_.cage.ResetBars();
    if (s_.AnneauInit) s_.cage.ResetRings();
  }
  if (sink_ != nullptr && !sink_->Open(s_.OutFileName)) {
    return Refuse("Impossible d'ouvrir le fichier " + s_.OutFileName, MessageIcon::kError);
  }

  Initialise();
  if (sink_ != nullptr) sink_->WriteHeader(View());
  // The bar-current snapshot needs the cage model's bars: without the cage model none is
  // written (an empty "Ib.dat" would look like a result), and the user is told once.
  if (sink_ != nullptr && s_.OutSelCage[kCageCapt] != 0 && !s_.SpecialModel) {
    platform_.ShowMessage(
        "Le modèle à cage n'est pas utilisé : les courants de barre (Ib.dat) ne sont pas écrits",
        "Attention", MessageIcon::kInformation);
  }
  st_.ExpIndex = 0;
  if (s_.DisplayProgressBar) {
    platform_.SetStatusText("Simulation en cours");
    platform_.SetProgress(0);
  }
  progress_position_ = 0;
  platform_.SetWaitCursor(true);
  st_.ModeSelected = false;
  outcome_.status = RunStatus::kReachedEnd;

  RunSteps();
  // A stop asked after the last poll still ends the run as interrupted: the user asked for
  // it, and a script must not read it as success.
  if (!stop_ && platform_.EscapePressed()) Interrupt();

  if (sink_ != nullptr) {
    // A run refused after its first step (several modes) leaves the previous table.
    if (outcome_.status == RunStatus::kNoMode) {
      sink_->Discard();
    } else {
      sink_->Close();
    }
  }
  platform_.SetWaitCursor(false);
  if (s_.DisplayProgressBar) {
    platform_.SetStatusText("Fin de la simulation");
    platform_.SetProgress(100);
  }
  carried_.ThetaDir = st_.est.ThetaDir;
  carried_.WsDir = st_.est.WsDir;
  if (st_.ModeSelected && launch_viewer_ && sink_ != nullptr) {
    platform_.StartProcess(ViewerCommandLine(s_.OutFileName));
  }
  outcome_.steps = st_.steps;
  outcome_.t_end = st_.t;
  return outcome_;
}

void SimulationRun::RunSteps() {
  switch (mode_) {
    case Mode::kOpenLoop:
      return RunStepsOf<Mode::kOpenLoop>();
    case Mode::kVectCtrl:
      return RunStepsOf<Mode::kVectCtrl>();
    case Mode::kCourant:
      return RunStepsOf<Mode::kCourant>();
    case Mode::kStatique:
      return RunStepsOf<Mode::kStatique>();
    case Mode::kDtc:
      return RunStepsOf<Mode::kDtc>();
    case Mode::kVf:
      return RunStepsOf<Mode::kVf>();
    case Mode::kSeveral:
      return RunStepsOf<Mode::kSeveral>();
  }
}

template <Mode M>
void SimulationRun::RunStepsOf() {
  if (trace_ != nullptr) {
    RunTraced<M>();
    return;
  }
  // The end test comes after the step, so a run with tf < t0 still executes one step.
  // Time is accumulated step by step (t += dt), whose rounding may leave the step meant for
  // tf a hair above it: with half a step of tolerance the last step is the one nearest tf
  // (the earlier one when tf lies midway between two steps). The distance to tf is compared
  // rather than t with tf + dt/2, a sum whose own rounding could drop the step at tf.
  do {
    Step<M>();
    if (st_.steps % kInterruptPollSteps == 0 && !stop_) PollProgressAndInterrupt();
  } while (!stop_ && !PastEnd());
}

void SimulationRun::Initialise() {
  st_ = RunState{};
  st_.t = s_.t0;
  s_.dq.ResetForRun();
  s_.observer.ResetForRun();
  st_.mc = ComputeModelCopyConstants(s_);
  st_.reg.FieldStep = 1;
  st_.dc.PhiRef = 1.0;
  st_.est.ThetaDir = carried_.ThetaDir;
  st_.est.WsDir = carried_.WsDir;
  // Filter coefficients: current filter exp(-dt/IFiltT), back-EMF filter exp(-6666.66 dt).
  st_.est.kI = std::exp(-s_.dt / s_.IFiltT);
  st_.est.kE = std::exp(-kEmfFilterRate * s_.dt);
  // The open-loop supply starts from the full bus voltage on the d axis.
  if (mode_ == Mode::kOpenLoop) {
    st_.Vdsref = s_.E2 * kSqrt3;
    st_.Vqsref = 0.0;
  }
  // Interpolation starts from the first row, and every run of a cost or a display starts
  // from the same zeroed current window as the table build, so that a candidate's cost
  // does not depend on the candidate scored before it.
  ExperimentalData& d = carried_.experiment;
  d.ExpCursor = 0;
  d.ExpWmInterp = d.ExpIasInterp = 0.0;
  std::fill(d.MaxIasWindow.begin(), d.MaxIasWindow.end(), 0.0);
  d.MaxIas = 0.0;
  two_pi_fs_ = kTwoPi * s_.fs;
  supply_phase_ = SupplyPhaseRadians(s_.VsPh);
  inverter_.ResetForRun(s_, carried_.dsvpwm, st_.est.thetas);
  estimates_needed_ = (sink_ != nullptr && sink_->ReadsEstimates(s_)) || mode_ == Mode::kVectCtrl ||
                      mode_ == Mode::kCourant || mode_ == Mode::kDtc;
}

template <Mode M>
void SimulationRun::RunTraced() {
  MachineTrace& trace = *trace_;
  trace.filled = 0;
  // The open-loop sine held over each step is taken at the step's middle, so that the
  // machine is not driven half a step late (machine_trace.h).
  supply_sample_offset_ = 0.5 * s_.dt;
  double t_prev = st_.t;
  double w_prev = st_.Wm;
  double i_prev = st_.Ias;
  while (!trace.Complete()) {
    Step<M>();
    if (stop_) break;
    const double t = st_.t;
    trace.Advance(t_prev, w_prev, i_prev, t, st_.Wm, st_.Ias);
    t_prev = t;
    w_prev = st_.Wm;
    i_prev = st_.Ias;
    if (st_.steps % kInterruptPollSteps == 0) PollProgressAndInterrupt();
    if (stop_ || PastEnd()) break;
  }
}

template <Mode M>
void SimulationRun::ApplyEvents() {
  const double t = st_.t;
  // The current references are set again at every step: in current control the d reference
  // is also moved by the stator-flux correction between events. The speed reference is set
  // by its events alone, so it goes with the events below. With several modes selected,
  // the one step that runs takes the current references when current control is among
  // them, else the speed reference.
  if constexpr (M == Mode::kCourant) {
    if (int i = LastDue(s_.Idst, t); i >= 0) st_.Idsref = s_.Idssref[i];
    if (int i = LastDue(s_.Iqst, t); i >= 0) st_.Iqsref = s_.Iqsref[i];
  } else if constexpr (M == Mode::kSeveral) {
    if (s_.Courant != 0) {
      if (int i = LastDue(s_.Idst, t); i >= 0) st_.Idsref = s_.Idssref[i];
      if (int i = LastDue(s_.Iqst, t); i >= 0) st_.Iqsref = s_.Iqsref[i];
    } else if (int i = LastDue(s_.Wmt, t); i >= 0) {
      st_.Wmref = s_.Wmref[i] * kRpmToRadS;
    }
  }
  // Speed, load, rotor-resistance, bar and ring events only change what they set when the
  // set of due events changes, that is when the time passes one of their times: between
  // two such instants applying them again would write the same values.
  if (t >= next_event_time_) ApplyDueEvents<M>();
}

template <Mode M>
void SimulationRun::ApplyDueEvents() {
  const double t = st_.t;
  auto last_due = [t](const Events4& times) { return LastDue(times, t); };
  next_event_time_ = kNever;
  auto note_future = [&](const Events4& times) {
    for (double time : times) {
      if (!(t >= time) && time < next_event_time_) next_event_time_ = time;
    }
  };
  if constexpr (M != Mode::kCourant && M != Mode::kSeveral) {
    note_future(s_.Wmt);
    if (int i = last_due(s_.Wmt); i >= 0) st_.Wmref = s_.Wmref[i] * kRpmToRadS;
  }
  note_future(s_.Crt);
  note_future(s_.Rrt);
  note_future(s_.RbCasset);
  note_future(s_.ReCasset);
  if (int i = last_due(s_.Crt); i >= 0) {
    s_.dq.SetLoadIncrement1(s_.da1ref[i]);
    s_.dq.SetLoadIncrement2(s_.da2ref[i]);
    s_.dq.SetLoadIncrement3(s_.da3ref[i]);
    s_.cage.SetLoadIncrement1(s_.da1ref[i]);
    s_.cage.SetLoadIncrement2(s_.da2ref[i]);
    s_.cage.SetLoadIncrement3(s_.da3ref[i]);
  }
  if (int i = last_due(s_.Rrt); i >= 0) s_.dq.SetRotorResistance(s_.Rrref[i]);
  // Broken bars and ring portions: a number outside the cage disables the event. So does
  // a residual resistance that is zero or negative: a study that never breaks a bar stores
  // its events as time 0, bar 0, resistance 0, which would otherwise short-circuit bar 0
  // (and ring portion 0) from the first step of every cage run.
  const int bars = std::min(s_.cage.Nr, s_.cage.AllocatedBars());
  for (int i = 0; i < 4; ++i) {
    if (t >= s_.RbCasset[i] && s_.Rbn[i] >= 0 && s_.Rbn[i] < bars && s_.RbRef[i] > 0) {
      s_.cage.Rb[s_.Rbn[i]] = s_.RbRef[i];
    }
  }
  for (int i = 0; i < 4; ++i) {
    if (t >= s_.ReCasset[i] && s_.Ren[i] >= 0 && s_.Ren[i] < bars && s_.ReRef[i] > 0) {
      s_.cage.Re[s_.Ren[i]] = s_.ReRef[i];
    }
  }
}

// Balanced three-phase sine source of amplitude E2 and frequency fs. During start-up the
// amplitude may be lowered by a drop that recovers along a sigmoid:
// drop = 2 dVA (1/(1 + exp(-(t - dVB)/dVC)) - 1), from about -2 dVA to 0.
void SimulationRun::OpenLoopSupply() {
  const double t = st_.t;
  // Switching periods of the double space-vector modulator (2 TMLI): with it the supply
  // angle advances one period at a time and the legs come from the modulator.
  if (inverter_.OpenLoopPeriodStep(t, st_.MliCount, st_.est.thetas)) ++st_.MliCount;
  if (inverter_.UsesDoubleSvpwm()) return;
  // The sine is held over the step: a traced run holds its value at the middle of the
  // step (machine_trace.h), the others its value at the start.
  const double ts = t + supply_sample_offset_;
  double drop = 0.0;
  if (s_.VoltDrop && ts <= s_.dVtf) {
    drop = 2 * s_.dVA * (1 / (1 + std::exp(-(ts - s_.dVB) / s_.dVC)) - 1);
  }
  const double angle = two_pi_fs_ * ts + supply_phase_;
  const double amplitude = s_.E2 + drop;
  st_.est.thetas = angle;
  // The three phases from one sine and one cosine:
  // cos(angle -+ 2 pi/3) = -cos(angle)/2 +- (sqrt(3)/2) sin(angle).
  const double c = std::cos(angle);
  const double sn = std::sin(angle);
  st_.VasRef = amplitude * c;
  st_.VbsRef = amplitude * (-0.5 * c + kHalfSqrt3 * sn);
  st_.VcsRef = amplitude * (-0.5 * c - kHalfSqrt3 * sn);
}

// Field-oriented control: MRAS speed estimator on its own period; at each current sample
// the speed loop (when due), the observer, the Park transform of the measured currents,
// the d and q current regulators, the inverse transforms, the stator-flux estimators,
// the slip and angle update and the corrected stator flux.
void SimulationRun::VectorControl() {
  if (st_.t - st_.EstCount * s_.TEst >= s_.TEst) {
    ++st_.EstCount;
    if (FluxIs(FluxType::kSensorless6) || FluxIs(FluxType::kSensorless7) ||
        FluxIs(FluxType::kSensorless8)) {
      // The estimator sees the voltages the inverter applies: with the sine-triangle PWM,
      // the pole voltages at this instant; otherwise the references.
      if (s_.MLI != 0) {
        const PoleVoltages v =
            SineTrianglePoleVoltages(st_.t, s_.TMLI, s_.E2, st_.VasRef, st_.VbsRef, st_.VcsRef);
        MrasSpeedEstimatorStep(s_, st_, v.Vas, v.Vbs, v.Vcs);
      } else {
        MrasSpeedEstimatorStep(s_, st_, st_.VasRef, st_.VbsRef, st_.VcsRef);
      }
    }
  }
  const bool blended = FluxIs(FluxType::kDirIndStator) || FluxIs(FluxType::kSensorlessDirIndStator);
  if (CurrentSample()) {
    if (SpeedSample()) {
      if (blended) BlendFactorStep(st_);
      SpeedRegulatorStep(s_, st_);
    }
    s_.observer.Step(st_.est.VdsrefAlpha, st_.est.VdsrefBeta, s_.mp * st_.WmMeas);
    const double theta = ParkAngle(s_, st_);
    MeasuredCurrentsToPark(s_, st_, theta);
    DAxisRegulatorStep(s_, st_);
    QAxisRegulatorStep(s_, st_);
    VoltageReferencesToPhases(s_, st_, theta);
    if (blended || FluxIs(FluxType::kIndirectStator)) StatorFluxEstimatorsStep(s_, st_);
    SpeedFilterSlipAndAngle(s_, st_);
    CorrectedStatorFluxStep(s_, st_);
  }
}

// Current control: the current references come from the events; no speed loop and no
// observer.
void SimulationRun::CurrentControl() {
  if (CurrentSample()) {
    const double theta = ParkAngle(s_, st_);
    MeasuredCurrentsToPark(s_, st_, theta);
    DAxisRegulatorStep(s_, st_);
    QAxisRegulatorStep(s_, st_);
    VoltageReferencesToPhases(s_, st_, theta);
    SpeedFilterSlipAndAngle(s_, st_);
    CorrectedStatorFluxStep(s_, st_);
  }
}

void SimulationRun::VfControl() {
  if (CurrentSample()) {
    if (SpeedSample()) SpeedRegulatorStep(s_, st_);
    VfStep(s_, st_);
  }
}

// Direct torque control sets the pole voltages itself; between samples they stay.
void SimulationRun::DirectTorqueControl() {
  if (CurrentSample()) {
    if (SpeedSample()) {
      SpeedRegulatorStep(s_, st_);
      st_.dc.CeRef = 2.9 * st_.Iqsref;
    }
    DtcStep(s_, st_);
  }
}

template <Mode M>
void SimulationRun::Step() {
  ApplyEvents<M>();

  if constexpr (M == Mode::kOpenLoop) {
    OpenLoopSupply();
  } else if constexpr (M == Mode::kStatique) {
    // DC test: phase a at +Vcss, b and c at -Vcss, until tfss.
    if (st_.t > s_.tfss) {
      st_.VasRef = st_.VbsRef = st_.VcsRef = 0.0;
    } else {
      st_.VasRef = s_.Vcss;
      st_.VbsRef = -s_.Vcss;
      st_.VcsRef = -s_.Vcss;
    }
  } else if constexpr (M == Mode::kVectCtrl) {
    VectorControl();
  } else if constexpr (M == Mode::kCourant) {
    CurrentControl();
  } else if constexpr (M == Mode::kVf) {
    VfControl();
  }
  // Direct torque control runs after the inverter, below; several modes run no control.
  if constexpr (M != Mode::kSeveral) st_.ModeSelected = true;

  if (estimates_needed_) DirectFluxEstimatorStep(s_, st_);
  if constexpr (M == Mode::kDtc) {
    DirectTorqueControl();
  } else {
    // DTC with another mode (refused after this step): direct torque control sets the
    // pole voltages itself, so the inverter is skipped and they stay as they are.
    if (M != Mode::kSeveral || s_.DTC == 0) {
      const PoleVoltages v = inverter_.ModulateVoltages(st_.t, st_.VasRef, st_.VbsRef, st_.VcsRef);
      st_.Vas = v.Vas;
      st_.Vbs = v.Vbs;
      st_.Vcs = v.Vcs;
    }
  }

  // Filters: measured currents (when enabled) and the machine's back-EMF.
  EstimatorState& est = st_.est;
  if (s_.IFiltOn && estimates_needed_) {
    est.IasF = est.kI * est.IasF + (1 - est.kI) * st_.IasMeas;
    est.IbsF = est.kI * est.IbsF + (1 - est.kI) * st_.IbsMeas;
  }
  if (estimates_needed_) {
    est.EsalphaF = (1 - est.kE) * s_.dq.Esalpha() + est.kE * est.EsalphaF;
    est.EsbetaF = (1 - est.kE) * s_.dq.Esbeta() + est.kE * est.EsbetaF;
  }

  if (st_.StepCount == 0) OutputStep();
  if (++st_.StepCount == s_.OutStep) st_.StepCount = 0;

  StepMachine();
  CheckDivergence();
  st_.t += s_.dt;
  ++st_.steps;

  if constexpr (M == Mode::kSeveral) {
    // A refusal, not news: the user has something to fix.
    const char* text = "Aucune simulation n'a été sélectionnée";
    platform_.ShowMessage(text, kCaptionError, MessageIcon::kExclamation);
    outcome_.status = RunStatus::kNoMode;
    outcome_.message = text;
    outcome_.caption = kCaptionError;
    Stop();
  }
}

void SimulationRun::OutputStep() {
  // Hook of the optimisers.
  if (run_mode_ == 2) {
    // Regulator tuning: squared speed error plus the squared change of the q current
    // reference made by the last speed-regulator step.
    const double ew = st_.Wmref - st_.WmMeas;
    const double di = st_.Iqsref - st_.reg.IqsrefPrev;
    carried_.CostReg += s_.gWmF * ew * ew + s_.gIasF * di * di;
  } else if (run_mode_ != 0) {
    ExperimentHook();
  }
  if (sink_ != nullptr && st_.t >= s_.td0) sink_->WriteLine(View());
}

void SimulationRun::PollProgressAndInterrupt() {
  if (s_.DisplayProgressBar) {
    // Share of the time base covered: (t - t0)/(tf - t0).
    const int progress = TruncToInt((st_.t - s_.t0) / (s_.tf - s_.t0) * 100);
    if (progress > progress_position_) {
      progress_position_ = progress;
      platform_.SetProgress(std::min(progress, 100));
    }
  }
  if (platform_.EscapePressed()) Interrupt();
}

void SimulationRun::Interrupt() {
  carried_.CostIdent = kInterruptedCost;
  carried_.CostReg = kInterruptedCost;
  outcome_.status = RunStatus::kInterrupted;
  Stop();
}

void SimulationRun::ExperimentHook() {
  ExperimentalData& d = carried_.experiment;
  const int k = st_.ExpIndex;
  const double t = st_.t;
  auto interpolate = [&] {
    // Said once per run: the same message at every recorded step would bury the user.
    if (!Interpolate(d, t) && !interpolation_reported_) {
      interpolation_reported_ = true;
      platform_.ShowMessage("Interpolation des donnees du fichier experimental impossible",
                            "Arret de l'optimisation", MessageIcon::kStop);
    }
  };
  // The identification costs compare with the tables entry by entry; a run with more
  // recorded steps than the tables ends its comparison at their end, and says so once.
  auto table_ended = [&](const std::vector<double>& a, const std::vector<double>& b) {
    if (k < static_cast<int>(a.size()) && k < static_cast<int>(b.size())) return false;
    if (!table_end_reported_) {
      table_end_reported_ = true;
      platform_.ShowMessage(
          "La simulation dépasse la fin des tables expérimentales : comparaison arrêtée",
          "Arret de l'optimisation", MessageIcon::kStop);
    }
    return true;
  };
  switch (run_mode_) {
    case 1: {  // identification on the speed and the current
      if (table_ended(d.ExpWmTable, d.ExpIasTable)) return;
      const double ew = d.ExpWmTable[k] - st_.WmMeas * kRadSToRpm;
      const double ei = d.ExpIasTable[k] - st_.IasMeas;
      carried_.CostIdent +=
          (s_.gWmF * ew * ew + s_.gIasF * ei * ei) / (std::exp((s_.gt0 - t) * s_.gA) + 1);
      break;
    }
    case 3:  // table creation
      interpolate();
      d.ExpWmTable.push_back(d.ExpWmInterp);
      d.ExpIasTable.push_back(d.ExpIasInterp);
      break;
    case 4:  // display run beside the experiment
      interpolate();
      UpdateMaxIasWindow(d, st_.IasMeas);
      break;
    case 5:  // table creation with the current maxima
      interpolate();
      d.ExpWmTable.push_back(d.ExpWmInterp);
      d.ExpIasTable.push_back(d.ExpIasInterp);
      UpdateMaxIasWindow(d, d.ExpIasTable.back());
      d.ExpMaxIasTable.push_back(d.MaxIas);
      break;
    case 6: {  // identification on the speed and the maximum of the current
      if (table_ended(d.ExpWmTable, d.ExpMaxIasTable)) return;
      UpdateMaxIasWindow(d, st_.IasMeas);
      const double ew = d.ExpWmTable[k] - st_.WmMeas * kRadSToRpm;
      const double ei = d.ExpMaxIasTable[k] - d.MaxIas;
      carried_.CostIdent +=
          (s_.gWmF * ew * ew + s_.gIasF * ei * ei) / (std::exp((s_.gt0 - t) * s_.gA) + 1);
      break;
    }
    default:
      return;
  }
  ++st_.ExpIndex;
}

void SimulationRun::StepMachine() {
  PhaseCurrents out;
  if (s_.SpecialModel) {
    out = s_.Triangle ? s_.cage.StepDelta(st_.Vas, st_.Vbs, st_.Vcs)
                      : s_.cage.StepStar(st_.Vas, st_.Vbs, st_.Vcs);
  } else {
    out = s_.Triangle ? s_.dq.StepDelta(st_.Vas, st_.Vbs, st_.Vcs)
                      : s_.dq.StepStar(st_.Vas, st_.Vbs, st_.Vcs);
  }
  st_.Ias = out.ia;
  st_.Ibs = out.ib;
  st_.Ics = -out.ia - out.ib;
  st_.Wm = out.omega;
  st_.IasMeas = st_.Ias;
  st_.IbsMeas = st_.Ibs;
  if (!s_.UseSpeedFilter) st_.WmMeas = st_.Wm;
  if (s_.Flux_typ == static_cast<int>(FluxType::kSensorless7) ||
      s_.Flux_typ == static_cast<int>(FluxType::kSensorlessDirIndStator)) {
    st_.WmMeas = st_.est.WmEst;
  }
  st_.sensor.Imes[0] = st_.IasMeas;
  st_.sensor.Imes[1] = st_.IbsMeas;
  st_.sensor.Imes[2] = -st_.IasMeas - st_.IbsMeas;
}

void SimulationRun::CheckDivergence() {
  const double torque = s_.SpecialModel ? s_.cage.Ce() : s_.dq.Ce();
  // A torque or current that is no longer a number is a divergence too: it would
  // otherwise fill the output with "nan" and poison an optimiser's cost.
  const bool diverged = (s_.CheckOverflow != 0 && torque >= kTorqueLimit) ||
                        std::fabs(st_.IasMeas) > kCurrentLimit || !std::isfinite(torque) ||
                        !std::isfinite(st_.IasMeas);
  if (diverged) [[unlikely]]
    Diverge();
}

void SimulationRun::Diverge() {
  const char* text = "La simulation a divergée";
  if (s_.DisplayProgressBar) platform_.ShowMessage(text, kCaptionError, MessageIcon::kError);
  carried_.CostIdent = kDivergedCost;
  carried_.CostReg = kDivergedCost;
  outcome_.status = RunStatus::kDiverged;
  outcome_.message = text;
  outcome_.caption = kCaptionError;
  Stop();
}

}  // namespace

RunOutcome RunSimulation(SimulationSettings& settings, CarriedState& carried, Platform& platform,
                         OutputSink* sink, bool launch_viewer, RunMode mode) {
  SimulationRun run(settings, carried, platform, sink, launch_viewer, mode);
  return run.Run();
}

RunOutcome RunSimulation(SimulationSettings& settings, CarriedState& carried, Platform& platform,
                         RunMode mode, MachineTrace& trace) {
  SimulationRun run(settings, carried, platform, nullptr, false, mode, &trace);
  return run.Run();
}

RunOutcome BuildExperimentalTables(SimulationSettings& settings, CarriedState& carried,
                                   Platform& platform, OutputSink* sink) {
  ExperimentalData& d = carried.experiment;
  d.ExpWmTable.clear();
  d.ExpIasTable.clear();
  d.ExpMaxIasTable.clear();
  settings.ExpTableReady = false;
  const int len = MaxIasWindowLength(settings.fs, settings.dt, settings.OutStep);
  if (len < 0) {
    RunOutcome out;
    out.message =
        "Fenêtre du maximum de Ias impossible : fs, dt et OutStep doivent donner au plus " +
        std::to_string(kMaxIasWindowLimit) + " pas enregistrés par période";
    out.caption = kCaptionError;
    platform.ShowMessage(out.message, out.caption, MessageIcon::kStop);
    return out;
  }
  // The tables take one entry per recorded step: a time base with more recorded steps than
  // kMaxTableRows would ask for gigabytes.
  const double rows =
      ((settings.tf - settings.t0) / settings.dt + 1) / std::max(settings.OutStep, 1);
  if (!(rows <= kMaxTableRows)) {
    RunOutcome out;
    out.message = "Tables expérimentales trop longues : plus de " +
                  std::to_string(static_cast<long long>(kMaxTableRows)) +
                  " pas enregistrés de t0 à tf (augmenter OutStep ou dt)";
    out.caption = kCaptionError;
    platform.ShowMessage(out.message, out.caption, MessageIcon::kStop);
    return out;
  }
  d.MaxIasWindowLen = len;
  d.MaxIasWindow.assign(static_cast<std::size_t>(len) + 1, 0.0);
  RunOutcome out = RunSimulation(settings, carried, platform, sink, false, 5);
  if (out.status == RunStatus::kReachedEnd) settings.ExpTableReady = true;
  return out;
}

double EvaluateCost(SimulationSettings& settings, CarriedState& carried, Platform& platform,
                    OutputSink* sink) {
  carried.CostIdent = 0.0;
  RunSimulation(settings, carried, platform, sink, false, settings.CostFunction == 0 ? 1 : 6);
  return carried.CostIdent;
}

std::string ViewerCommandLine(const std::string& data_file) { return "Tracix.exe " + data_file; }

}  // namespace mas
