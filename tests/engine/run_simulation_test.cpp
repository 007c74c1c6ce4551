#include "engine/run_simulation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/numeric.h"
#include "examples/example_machine.h"

namespace mas {
namespace {

using ::testing::ElementsAre;

// Records what the run asks of its output table.
class MemorySink : public OutputSink {
 public:
  bool Open(const std::string& file_name) override {
    opened = file_name;
    return can_open;
  }
  void WriteHeader(const RunView&) override { ++headers; }
  void WriteLine(const RunView& v) override {
    times.push_back(v.state.t);
    wmref.push_back(v.state.Wmref);
    vas.push_back(v.state.Vas);
    a1.push_back(v.dq.a1Act);
    rr.push_back(v.dq.RrAct);
  }
  void Close() override { ++closes; }
  void Discard() override { ++discards; }

  bool can_open = true;
  std::string opened;
  int headers = 0;
  int closes = 0;
  int discards = 0;
  std::vector<double> times, wmref, vas, a1, rr;
};

// An open-loop direct start of the 4 kW machine of the examples, as a loaded study.
SimulationSettings OpenLoopStudy() {
  SimulationSettings s = example::ExampleStudy(0.01, 1e-4);
  s.CreateOutputFile = true;
  s.DisplayProgressBar = true;
  return s;
}

struct Harness {
  SimulationSettings s = OpenLoopStudy();
  CarriedState carried;
  RecordingPlatform platform;
  MemorySink sink;
  RunOutcome Run(bool viewer = false, RunMode mode = 0) {
    return RunSimulation(s, carried, platform, &sink, viewer, mode);
  }
};

TEST(RunSimulation, RefusesBeforeTouchingTheOutputFile) {
  struct Case {
    const char* what;
    void (*change)(SimulationSettings&);
    const char* message_start;
    MessageIcon icon;
  };
  const Case cases[] = {
      {"no parameter file", [](SimulationSettings& s) { s.FileLoaded = false; },
       "Aucun fichier de données n'a été chargé", MessageIcon::kInformation},
      {"zero step", [](SimulationSettings& s) { s.dt = 0.0; }, "Paramètres temporels invalides",
       MessageIcon::kError},
      {"negative step", [](SimulationSettings& s) { s.dt = -1e-4; },
       "Paramètres temporels invalides", MessageIcon::kError},
      {"NaN step", [](SimulationSettings& s) { s.dt = std::nan(""); },
       "Paramètres temporels invalides", MessageIcon::kError},
      {"infinite end", [](SimulationSettings& s) { s.tf = INFINITY; },
       "Paramètres temporels invalides", MessageIcon::kError},
      {"step too small to advance the time",
       [](SimulationSettings& s) {
         s.t0 = 1e10;
         s.tf = 2e10;
         s.dt = 1e-10;
       },
       "Paramètres temporels invalides", MessageIcon::kError},
  };
  for (const Case& c : cases) {
    Harness h;
    c.change(h.s);
    const RunOutcome out = h.Run(true);
    EXPECT_EQ(out.status, RunStatus::kRefused) << c.what;
    EXPECT_EQ(out.steps, 0) << c.what;
    EXPECT_TRUE(h.sink.opened.empty()) << c.what;
    ASSERT_EQ(h.platform.messages.size(), 1u) << c.what;
    EXPECT_EQ(h.platform.messages[0].text.rfind(c.message_start, 0), 0u) << c.what;
    EXPECT_EQ(h.platform.messages[0].caption, "Erreur");
    EXPECT_EQ(h.platform.messages[0].icon, c.icon) << c.what;
    EXPECT_TRUE(h.platform.started_processes.empty());
  }
}

TEST(RunSimulation, OutputFileThatCannotBeOpenedRefusesTheRun) {
  Harness h;
  h.s.OutFileName = "/nonexistent/out.dat";
  h.sink.can_open = false;
  const RunOutcome out = h.Run();
  EXPECT_EQ(out.status, RunStatus::kRefused);
  ASSERT_EQ(h.platform.messages.size(), 1u);
  EXPECT_EQ(h.platform.messages[0].text, "Impossible d'ouvrir le fichier /nonexistent/out.dat");
  EXPECT_EQ(h.platform.messages[0].icon, MessageIcon::kError);
  EXPECT_EQ(h.sink.headers, 0);
}

TEST(RunSimulation, RecordsEveryOutStepFromTd0AndEndsAfterTf) {
  struct Case {
    int out_step;
    double td0;
    std::vector<int> recorded_steps;
  };
  const Case cases[] = {
      {1, 0.0, {0, 1, 2, 3, 4, 5}},
      {2, 0.0, {0, 2, 4}},
      {0, 0.0, {0}},  // OutStep 0: the counter never wraps again
      {2, 0.00015, {2, 4}},
  };
  for (const Case& c : cases) {
    Harness h;
    h.s.tf = 5.5e-4;
    h.s.OutStep = c.out_step;
    h.s.td0 = c.td0;
    const RunOutcome out = h.Run();
    EXPECT_EQ(out.status, RunStatus::kReachedEnd);
    EXPECT_EQ(out.steps, 6);  // t = 0 .. 5e-4 inclusive
    std::vector<int> steps;
    for (double t : h.sink.times) steps.push_back(static_cast<int>(std::lround(t / 1e-4)));
    EXPECT_EQ(steps, c.recorded_steps) << "OutStep " << c.out_step << " td0 " << c.td0;
    EXPECT_EQ(h.sink.headers, 1);
    EXPECT_EQ(h.sink.closes, 1);
  }
}

// Time is accumulated step by step, so the step meant for tf may land a hair above it: the
// run still ends on the step nearest tf, and every row before it is the row of a longer
// run, to the bit.
TEST(RunSimulation, EndsOnTheStepNearestTfWithTheRowsOfALongerRun) {
  for (const double dt : {1e-5, 3e-5, 1e-4, 2.5e-4}) {
    Harness longer;
    longer.s.OutStep = 1;
    longer.s.dt = dt;
    longer.s.tf = 2.6;
    ASSERT_EQ(longer.Run().status, RunStatus::kReachedEnd);
    const std::vector<double>& all = longer.sink.times;
    for (const double tf : {0.7, 1.0, 1.6, 2.5, 0.01 + dt / 3, 0.01 + 2 * dt / 3}) {
      Harness h;
      h.s.OutStep = 1;
      h.s.dt = dt;
      h.s.tf = tf;
      ASSERT_EQ(h.Run().status, RunStatus::kReachedEnd);
      const std::size_t n = h.sink.times.size();
      ASSERT_GE(n, 2u);
      ASSERT_LT(n, all.size());
      // The last step is nearer tf than the steps on either side of it.
      EXPECT_LE(std::fabs(h.sink.times[n - 1] - tf), std::fabs(all[n - 2] - tf))
          << "dt " << dt << " tf " << tf;
      EXPECT_LT(std::fabs(h.sink.times[n - 1] - tf), std::fabs(all[n] - tf))
          << "dt " << dt << " tf " << tf;
      EXPECT_NEAR(h.sink.times[n - 1], tf, dt / 2 * (1 + 1e-9)) << "dt " << dt << " tf " << tf;
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(h.sink.times[i]),
                  std::bit_cast<std::uint64_t>(all[i]))
            << i;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(h.sink.vas[i]),
                  std::bit_cast<std::uint64_t>(longer.sink.vas[i]))
            << i;
      }
    }
  }
}

TEST(RunSimulation, EndTimeBeforeStartStillRunsOneStep) {
  Harness h;
  h.s.t0 = 1.0;
  h.s.tf = 0.5;
  const RunOutcome out = h.Run();
  EXPECT_EQ(out.status, RunStatus::kReachedEnd);
  EXPECT_EQ(out.steps, 1);
  EXPECT_THAT(h.sink.times, ElementsAre(1.0));
}

// A step just above the spacing of the doubles at t is rounded at every addition, down as
// well as up: the run still ends, after at most 2 (tf - t0)/dt + 1 steps (the bound the
// step-count counters rely on). Found by fuzzing, with dt = 1.45 spacings; and near zero,
// where the smallest subnormal step has no half and the run must still reach past tf.
TEST(RunSimulation, StepNearTheSpacingOfTheTimeEndsWithinTwiceThePlannedSteps) {
  for (const double t0 : {1000.0, 0.0})
    for (const double spacings : {1.0, 1.45, 1.5, 1.99, 2.5}) {
      Harness h;
      h.s.t0 = t0;
      const double spacing = std::nextafter(t0, 2000.0) - t0;
      h.s.dt = spacings * spacing;
      h.s.tf = h.s.t0 + 100 * h.s.dt;
      const RunOutcome out = h.Run();
      EXPECT_EQ(out.status, RunStatus::kReachedEnd) << spacings;
      EXPECT_GT(out.t_end, h.s.tf) << spacings;
      EXPECT_GE(out.steps, 1) << spacings;
      EXPECT_LE(out.steps, 2 * (h.s.tf - h.s.t0) / h.s.dt + 1) << spacings;
    }
}

TEST(RunSimulation, EventsAreLevelsAppliedFromTheirTimeOnLaterOnesOverriding) {
  Harness h;
  h.s.tf = 6.5e-4;
  h.s.Wmt = {1.5e-4, 3.5e-4, 100.0, 100.0};
  h.s.Wmref = {300.0, 600.0, 900.0, 1200.0};
  h.s.Crt = {0.0, 2.5e-4, 100.0, 100.0};  // an event due at t0 applies in the first step
  h.s.da1ref = {0.5, 0.25, 9.0, 9.0};
  h.s.dq.a10 = 1.0;
  h.s.Rrt = {2.5e-4, 100.0, 100.0, 100.0};
  h.s.Rrref = {2.0, 0.0, 0.0, 0.0};
  h.Run();
  // Line k is written before the machine step of step k, at t = k dt.
  const double rpm = kRpmToRadS;
  EXPECT_THAT(h.sink.wmref,
              ElementsAre(0.0, 0.0, 300 * rpm, 300 * rpm, 600 * rpm, 600 * rpm, 600 * rpm));
  EXPECT_THAT(h.sink.a1, ElementsAre(1.5, 1.5, 1.5, 1.25, 1.25, 1.25, 1.25));
  EXPECT_THAT(h.sink.rr, ElementsAre(1.395, 1.395, 1.395, 2.0, 2.0, 2.0, 2.0));
}

TEST(RunSimulation, ZeroRotorResistanceEventsOfStoredStudiesAreIgnored) {
  // Every study that never used rotor-resistance events stores their times and values
  // as 0; the machine must still start normally.
  Harness h;
  h.s.tf = 1.0;
  h.s.OutStep = 1000;
  const RunOutcome out = h.Run();
  EXPECT_EQ(out.status, RunStatus::kReachedEnd);
  EXPECT_EQ(h.s.dq.RrAct, 1.395);
  EXPECT_NEAR(h.s.dq.w() / h.s.dq.p * kRadSToRpm, 1500.0, 5.0);
}

TEST(RunSimulation, OpenLoopSupplyWithStartUpVoltageDrop) {
  Harness h;
  h.s.tf = 0.03;
  h.s.VoltDrop = true;
  h.s.dVtf = 0.02;
  h.s.dVA = 50.0;
  h.s.dVB = 0.01;
  h.s.dVC = 0.002;
  h.s.VsPh = 0.0;
  h.Run();
  for (std::size_t k = 0; k < h.sink.times.size(); ++k) {
    const double t = h.sink.times[k];
    double amplitude = 326.6;
    if (t <= 0.02) amplitude += 100.0 * (1 / (1 + std::exp(-(t - 0.01) / 0.002)) - 1);
    ASSERT_NEAR(h.sink.vas[k], amplitude * std::cos(2 * kPi * 50 * t), 1e-9) << t;
  }
  // Half depth at the centre of the sigmoid; full amplitude after the drop.
  EXPECT_NEAR(h.sink.vas[100], (326.6 - 50.0) * std::cos(2 * kPi * 50 * 0.01), 1e-9);
  EXPECT_NEAR(h.sink.vas[250], 326.6 * std::cos(2 * kPi * 50 * 0.025), 1e-9);
}

TEST(RunSimulation, StaticTestSettlesAtTheDcCurrentOfTheStatorResistance) {
  Harness h;
  h.s.Statique = 1;
  h.s.Vcss = 20.0;
  h.s.tfss = 10.0;
  h.s.tf = 2.0;
  h.s.dt = 1e-4;
  h.s.PushStep();
  h.s.OutStep = 100000;
  const RunOutcome out = h.Run();
  EXPECT_EQ(out.status, RunStatus::kReachedEnd);
  // Phase a at +Vcss, b and c at -Vcss: the star point sits at -Vcss/3, so phase a sees
  // 4 Vcss/3 and carries 4 Vcss/(3 Rs) once the flux has settled.
  EXPECT_NEAR(h.s.dq.isAlpha(), 4 * 20.0 / (3 * 1.405), 1e-2);
  EXPECT_NEAR(h.s.dq.w(), 0.0, 1e-9);
}

TEST(RunSimulation, SeveralModesRunOneStepThenStopWithoutViewer) {
  Harness h;
  h.s.VectCtrl = 0;
  h.s.Statique = 1;
  h.s.Vf = 1;
  const RunOutcome out = h.Run(true);
  EXPECT_EQ(out.status, RunStatus::kNoMode);
  EXPECT_EQ(out.steps, 1);
  EXPECT_EQ(h.sink.times.size(), 1u);
  ASSERT_EQ(h.platform.messages.size(), 1u);
  EXPECT_EQ(h.platform.messages[0].text, "Aucune simulation n'a été sélectionnée");
  EXPECT_EQ(h.platform.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_TRUE(h.platform.started_processes.empty());
  // The run is refused: its one-line table does not replace the previous one.
  EXPECT_EQ(h.sink.discards, 1);
  EXPECT_EQ(h.sink.closes, 0);
}

TEST(RunSimulation, EndOfRunShowsStatusAndStartsTheViewer) {
  Harness h;
  h.s.OutFileName = "essai.dat";
  const RunOutcome out = h.Run(true);
  EXPECT_EQ(out.status, RunStatus::kReachedEnd);
  EXPECT_THAT(h.platform.status_texts, ElementsAre("Simulation en cours", "Fin de la simulation"));
  EXPECT_THAT(h.platform.started_processes, ElementsAre("Tracix.exe essai.dat"));
  EXPECT_THAT(h.platform.wait_cursor_calls, ElementsAre(true, false));
  EXPECT_EQ(h.platform.progress.front(), 0);
  EXPECT_EQ(h.platform.progress.back(), 100);
  // A run shorter than one poll interval polls Escape once, at its end.
  ASSERT_LT(out.steps, kInterruptPollSteps);
  EXPECT_EQ(h.platform.escape_polls, 1);

  // Without the progress bar: no status, no progress, but Escape is still polled.
  Harness quiet;
  quiet.s.DisplayProgressBar = false;
  quiet.Run();
  EXPECT_TRUE(quiet.platform.status_texts.empty());
  EXPECT_TRUE(quiet.platform.progress.empty());
  EXPECT_EQ(quiet.platform.escape_polls, 1);

  // No output file: no viewer.
  Harness no_file;
  no_file.s.CreateOutputFile = false;
  no_file.Run(true);
  EXPECT_TRUE(no_file.sink.opened.empty());
  EXPECT_TRUE(no_file.platform.started_processes.empty());
}

TEST(RunSimulation, EscapeInterruptsKeepingTheOutputAndMarkingTheCosts) {
  Harness h;
  h.s.tf = 0.1;
  h.s.dt = 1e-6;
  h.platform.escape_after_polls = 3;
  h.carried.CostIdent = 5.0;
  const RunOutcome out = h.Run(true);
  EXPECT_EQ(out.status, RunStatus::kInterrupted);
  EXPECT_EQ(h.carried.CostIdent, -1.0);
  EXPECT_EQ(h.carried.CostReg, -1.0);
  EXPECT_EQ(h.platform.escape_polls, 4);
  EXPECT_EQ(out.steps, 4 * kInterruptPollSteps);
  EXPECT_GT(out.t_end, h.s.tf);
  EXPECT_EQ(h.sink.closes, 1);
  EXPECT_EQ(h.platform.status_texts.back(), "Fin de la simulation");
  EXPECT_THAT(h.platform.started_processes, ElementsAre("Tracix.exe out.dat"));
}

// The stop request is polled every kInterruptPollSteps steps whatever the recording and the
// display, and the progress is the share of t0..tf covered: a run that records only its
// first line, shows nothing, or starts far from (or before) 0 is interrupted all the same.
TEST(RunSimulation, InterruptIsPolledOnItsOwnScheduleWhateverTheRecordingAndTheDisplay) {
  const struct {
    const char* what;
    double t0, tf;
    int out_step;
    bool display;
  } cases[] = {
      {"recording only the first line", 0.0, 0.4, 0, true},
      {"no progress display", 0.0, 0.4, 1, false},
      {"late time base", 100000.0, 100000.4, 3, true},
      {"negative start", -0.2, 0.2, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h;
    h.s.t0 = c.t0;
    h.s.tf = c.tf;
    h.s.dt = 1e-5;  // 40000 steps
    h.s.OutStep = c.out_step;
    h.s.DisplayProgressBar = c.display;
    h.platform.escape_after_polls = 2;
    const RunOutcome out = h.Run();
    EXPECT_EQ(out.status, RunStatus::kInterrupted);
    EXPECT_EQ(out.steps, 3 * kInterruptPollSteps);
    EXPECT_EQ(h.sink.closes, 1);  // the partial table is kept
    if (c.display) {
      // 0 at the start, then 4096 and 8192 steps of 40000 (the last poll interrupts).
      EXPECT_THAT(h.platform.progress, ElementsAre(0, 10, 20, 30, 100));
    } else {
      EXPECT_TRUE(h.platform.progress.empty());
    }
  }

  // A request that comes after the last poll still ends the run as interrupted.
  Harness late;
  late.platform.escape_after_polls = 0;
  const RunOutcome out = late.Run();
  ASSERT_LT(out.steps, kInterruptPollSteps);
  EXPECT_EQ(out.status, RunStatus::kInterrupted);
  EXPECT_EQ(late.carried.CostIdent, -1.0);
}

TEST(RunSimulation, DivergenceEndsTheRunWithTheDivergedCost) {
  struct Case {
    const char* what;
    void (*change)(SimulationSettings&);
    bool diverges;
  };
  const Case cases[] = {
      // A stator resistance that is not a number makes every current NaN.
      {"NaN current", [](SimulationSettings& s) { s.dq.Rs = std::nan(""); }, true},
      // A huge voltage gives a transient torque above 10000 N m...
      {"torque limit", [](SimulationSettings& s) { s.E2 = 1e5; }, true},
      // ...which is not tested when the check is off (the current stays finite).
      {"torque check off",
       [](SimulationSettings& s) {
         s.E2 = 1e5;
         s.CheckOverflow = 0;
       },
       false},
  };
  for (const Case& c : cases) {
    Harness h;
    h.s.tf = 0.005;
    h.s.dt = 1e-6;
    h.s.PushStep();
    h.s.OutStep = 100;
    c.change(h.s);
    const RunOutcome out = h.Run();
    if (!c.diverges) {
      EXPECT_EQ(out.status, RunStatus::kReachedEnd) << c.what;
      continue;
    }
    EXPECT_EQ(out.status, RunStatus::kDiverged) << c.what;
    EXPECT_EQ(h.carried.CostIdent, 1e50) << c.what;
    EXPECT_EQ(h.carried.CostReg, 1e50) << c.what;
    ASSERT_EQ(h.platform.messages.size(), 1u) << c.what;
    EXPECT_EQ(h.platform.messages[0].text, "La simulation a divergée");
    EXPECT_EQ(h.platform.messages[0].icon, MessageIcon::kError);
  }
  // Without the progress bar the divergence is silent but still reported in the outcome.
  Harness quiet;
  quiet.s.DisplayProgressBar = false;
  quiet.s.dq.Rs = std::nan("");
  EXPECT_EQ(quiet.Run().status, RunStatus::kDiverged);
  EXPECT_TRUE(quiet.platform.messages.empty());
}

TEST(RunSimulation, TuningCostAccumulatesTheSpeedErrorAtOutputSteps) {
  Harness h;
  h.s.tf = 1.05e-3;
  h.s.OutStep = 2;
  h.s.Wmt = {0.0, 100.0, 100.0, 100.0};
  h.s.Wmref = {30.0 * kRadSToRpm, 0, 0, 0};  // 30 rad/s
  h.s.E2 = 0.0;                              // the machine stays at rest
  h.s.gWmF = 2.0;
  h.carried.CostReg = 0.0;
  h.Run(false, 2);
  // Six output steps (t = 0, 2e-4, ... 1e-3), each adding 2 x 30^2.
  EXPECT_NEAR(h.carried.CostReg, 6 * 2.0 * 900.0, 1e-6);
}

TEST(RunSimulation, CarriedStateSurvivesRuns) {
  Harness h;
  h.carried.ThetaDir = 0.7;
  h.carried.WsDir = 12.0;
  h.Run();
  EXPECT_EQ(h.carried.ThetaDir, 0.7);
  EXPECT_EQ(h.carried.WsDir, 12.0);
}

}  // namespace
}  // namespace mas

namespace mas {
namespace {

TEST(RunSimulation, PwmInvertersDriveTheMachineLikeTheIdealSource) {
  // A direct start-up through the sine-triangle PWM and through the double space-vector
  // modulator (type 0, exact on both winding sets) reaches the speed of the ideal source.
  auto final_speed = [](int mli, bool dsv, int type) {
    Harness h;
    h.s.tf = 0.4;
    h.s.dt = 1e-6;
    h.s.PushStep();
    h.s.OutStep = 100000;
    h.s.MLI = mli;
    h.s.dsvPWM = dsv;
    h.carried.dsvpwm.type = static_cast<ModulationType>(type);
    EXPECT_EQ(h.Run().status, RunStatus::kReachedEnd);
    return h.s.dq.w() / h.s.dq.p * kRadSToRpm;
  };
  const double ideal = final_speed(0, false, 0);
  EXPECT_NEAR(ideal, 1500.0, 10.0);
  EXPECT_NEAR(final_speed(1, false, 0), ideal, 5.0);
  // E2 is the amplitude of the sine source but the bus of the modulator, whose phase
  // voltage at the full reference sqrt(3) E2 is E2 too: the same machine flux.
  EXPECT_NEAR(final_speed(0, true, 0), ideal, 5.0);
}

}  // namespace
}  // namespace mas

namespace mas {
namespace {

// A run leaves out the direct flux estimator and the back-EMF and current filters when
// neither its control nor its table reads them. Leaving them out must not move anything
// else: in each mode that does so and through each inverter, a run whose sink reads no
// estimate, and a run without sink, end in the very state of the run whose sink reads them
// all, having recorded the same lines on the way.
TEST(RunSimulation, UnreadEstimatesAreLeftOutWithoutChangingTheRun) {
  class SinkReadingNoEstimate : public MemorySink {
   public:
    bool ReadsEstimates(const SimulationSettings&) const override { return false; }
  };
  struct Mode {
    const char* name;
    void (*select)(SimulationSettings&);
  };
  const Mode modes[] = {
      {"open loop", [](SimulationSettings&) {}},
      {"static test",
       [](SimulationSettings& s) {
         s.Statique = 1;
         s.Vcss = 20.0;
         s.tfss = 0.02;
       }},
      {"V/f",
       [](SimulationSettings& s) {
         example::SetExampleVectorControl(s);
         s.VectCtrl = 0;
         s.Vf = 1;
         s.Wmt = {0.0, 0.015, 100.0, 100.0};
         s.Wmref = {600.0, 1200.0, 0.0, 0.0};
       }},
  };
  auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
  for (const Mode& mode : modes) {
    for (int inverter = 0; inverter < 3; ++inverter) {
      SCOPED_TRACE(std::string(mode.name) + ", inverter " + std::to_string(inverter));
      auto study = [&] {
        SimulationSettings s = OpenLoopStudy();
        s.tf = 0.03;
        s.dt = 1e-5;
        s.PushStep();
        s.OutStep = 7;
        s.IFiltOn = true;
        s.MLI = inverter == 1 ? 1 : 0;
        s.dsvPWM = inverter == 2;
        mode.select(s);
        return s;
      };
      auto state = [&](const SimulationSettings& s) {
        return std::vector<std::uint64_t>{bits(s.dq.isAlpha()), bits(s.dq.isBeta()),
                                          bits(s.dq.PhisAlpha()), bits(s.dq.PhisBeta()),
                                          bits(s.dq.w())};
      };
      RecordingPlatform platform;
      auto run = [&](SimulationSettings& s, OutputSink* sink) {
        CarriedState carried;
        return RunSimulation(s, carried, platform, sink, false, 0).status;
      };
      SimulationSettings reading = study();
      MemorySink all;
      ASSERT_EQ(run(reading, &all), RunStatus::kReachedEnd);
      SimulationSettings skipping = study();
      SinkReadingNoEstimate none;
      EXPECT_EQ(run(skipping, &none), RunStatus::kReachedEnd);
      SimulationSettings silent = study();
      silent.CreateOutputFile = false;
      EXPECT_EQ(run(silent, nullptr), RunStatus::kReachedEnd);

      EXPECT_EQ(state(skipping), state(reading));
      EXPECT_EQ(state(silent), state(reading));
      ASSERT_EQ(none.vas.size(), all.vas.size());
      for (std::size_t i = 0; i < all.vas.size(); ++i) {
        ASSERT_EQ(bits(none.vas[i]), bits(all.vas[i])) << "line " << i;
      }
    }
  }
}

}  // namespace
}  // namespace mas
