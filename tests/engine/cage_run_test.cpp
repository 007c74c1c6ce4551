// The cage model inside the run loop: refusals, fault events, the carried bar
// resistances and the start-up of a healthy cage.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "examples/example_machine.h"

namespace mas {
namespace {

// The 4 kW machine with a 28-bar cage whose equivalent two-axis parameters are close to
// those of the examples' dq model.
SimulationSettings CageStudy() {
  SimulationSettings s = example::ExampleStudy(0.01, 1e-5);
  s.cage.SetCageParameters(0.05, 0.12, 0.35e-3, 130, 28, 2.9e-3, 1.64e-4, 1.64e-2, 3.5e-6, 3.5e-4,
                           2e-8, 8.2e-7);
  s.cage.AllocateArrays();
  s.cage.ResetBars();
  s.cage.ResetRings();
  s.cage.SetDumpPath("");
  s.SpecialModel = true;
  s.OutStep = 1000;
  return s;
}

RunOutcome Simulate(SimulationSettings& s, RecordingPlatform& platform) {
  CarriedState carried;
  return RunSimulation(s, carried, platform, nullptr, false, 0);
}

TEST(CageRun, CagesThatCannotBeSimulatedAreRefusedBeforeAnyStep) {
  struct Case {
    const char* what;
    void (*change)(SimulationSettings&);
    RunStatus status;
    const char* caption;
  };
  const Case cases[] = {
      {"two bars",
       [](SimulationSettings& s) {
         s.cage.Nr = 2;
         s.cage.AllocateArrays();
       },
       RunStatus::kRefused, "Erreur"},
      {"arrays of another cage", [](SimulationSettings& s) { s.cage.Nr = 30; }, RunStatus::kRefused,
       "Erreur"},
      {"no inductance at all",
       [](SimulationSettings& s) {
         s.cage.SetCageParameters(0, 0, 1, 0, 28, 0, 1, 1, 1, 1, 0, 0);
         s.cage.AllocateArrays();
       },
       RunStatus::kModelError, "Erreur de calcul"},
  };
  for (const Case& c : cases) {
    SimulationSettings s = CageStudy();
    c.change(s);
    RecordingPlatform platform;
    const RunOutcome out = Simulate(s, platform);
    EXPECT_EQ(out.status, c.status) << c.what;
    EXPECT_EQ(out.steps, 0) << c.what;
    ASSERT_EQ(platform.messages.size(), 1u) << c.what;
    EXPECT_EQ(platform.messages[0].caption, c.caption) << c.what;
  }
}

TEST(CageRun, HealthyCageStartsUpToTheSpeedOfTheTwoAxisMachine) {
  // The fault events keep the values of a study that never breaks a bar (time 0, bar 0,
  // resistance 0): they must leave the cage healthy.
  SimulationSettings cage = CageStudy();
  cage.tf = 0.6;
  cage.dq.a30 = cage.cage.a30 = 10.0;
  RecordingPlatform platform;
  ASSERT_EQ(Simulate(cage, platform).status, RunStatus::kReachedEnd);
  // The two-axis machine equivalent to this cage: on the fundamental pattern of the mesh
  // currents the circulant cage matrices act as the numbers
  //   lL = Lrp - Mrr + 2 Lb (1 - cos alpha) + 2 Le/Nr,  lR = 2 Rb (1 - cos alpha) + 2 Re,
  // giving M = (3 Nr/4) Msr^2/lg, Lr = M lL/lg, Rr = M lR/lg with lg = Lrp - Mrr.
  const CageMachineModel& c = cage.cage;
  const double lg = c.Lrp - c.Mrr;
  const double m = 0.75 * c.Nr * c.Msr * c.Msr / lg;
  const double ll = lg + 2 * c.Lb * (1 - std::cos(c.alpha)) + 2 * c.Le / c.Nr;
  const double lr = 2 * c.RbSain * (1 - std::cos(c.alpha)) + 2 * c.ReSain;
  SimulationSettings dq = cage;
  dq.SpecialModel = false;
  dq.dq.SetElectricalParameters(1.405, m * lr / lg, c.Lsc, m * ll / lg, m);
  ASSERT_EQ(Simulate(dq, platform).status, RunStatus::kReachedEnd);
  const double cage_rpm = cage.cage.w() / 2 * kRadSToRpm;
  const double dq_rpm = dq.dq.w() / 2 * kRadSToRpm;
  EXPECT_NEAR(cage_rpm, dq_rpm, 1.5);
  EXPECT_NEAR(cage.cage.Ce(), 10.0, 0.5);
}

TEST(CageRun, BrokenBarsCarryOverUnlessTheRunResetsThem) {
  SimulationSettings s = CageStudy();
  s.RbCasset = {0.0, 0.0, 100.0, 100.0};
  s.Rbn = {3, 28, 0, 0};  // bar 28 does not exist: that event changes nothing
  s.RbRef = {1.64e-2, 5.0, 0.0, 0.0};
  s.ReCasset = {0.0, 0.0, 100.0, 100.0};
  s.Ren = {-1, 0, 0, 0};  // ring portion -1 does not exist; portion 0 gets no resistance
  s.ReRef = {1.0, 0.0, 0.0, 0.0};
  RecordingPlatform platform;
  ASSERT_EQ(Simulate(s, platform).status, RunStatus::kReachedEnd);
  for (int k = 0; k < 28; ++k) EXPECT_EQ(s.cage.Rb[k], k == 3 ? 1.64e-2 : 1.64e-4) << k;
  for (int k = 0; k < 28; ++k) EXPECT_EQ(s.cage.Re[k], 3.5e-6) << k;

  // Without the events the bar stays broken in the next run...
  s.RbCasset = {100.0, 100.0, 100.0, 100.0};
  ASSERT_EQ(Simulate(s, platform).status, RunStatus::kReachedEnd);
  EXPECT_EQ(s.cage.Rb[3], 1.64e-2);
  // ...unless the run starts from healthy bars.
  s.BarreInit = true;
  ASSERT_EQ(Simulate(s, platform).status, RunStatus::kReachedEnd);
  EXPECT_EQ(s.cage.Rb[3], 1.64e-4);
}

}  // namespace
}  // namespace mas
