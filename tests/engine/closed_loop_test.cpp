// Closed-loop behaviour of the control modes on the dq model, as a drive engineer checks
// it: orientation, speed tracking, estimators and direct controls in steady state.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "examples/example_machine.h"

namespace mas {
namespace {

// The 4 kW machine of the examples, the controller's copy matched to it, PI current
// loops every PWM period (1e-4 s) and a PI speed loop every 10 current samples.
SimulationSettings VectorControlStudy() {
  SimulationSettings s = example::ExampleStudy(0.6, 1e-5);
  example::SetExampleVectorControl(s);
  s.OutStep = 1000;
  s.Wmt = {0.0, 100.0, 100.0, 100.0};
  s.Wmref = {1000.0, 0.0, 0.0, 0.0};
  s.Crt = {0.3, 100.0, 100.0, 100.0};
  s.da3ref = {10.0, 0.0, 0.0, 0.0};
  return s;
}

double RotorFluxMagnitude(const DqMachineModel& m) {
  // phi_r = (Lr/M) phi_s + (M - Ls Lr/M) i_s
  const double a = m.Lr / m.M * m.PhisAlpha() + (m.M - m.Ls * m.Lr / m.M) * m.isAlpha();
  const double b = m.Lr / m.M * m.PhisBeta() + (m.M - m.Ls * m.Lr / m.M) * m.isBeta();
  return std::hypot(a, b);
}

// Keeps the controller's state at the last recorded step.
class LastStateSink : public OutputSink {
 public:
  bool Open(const std::string&) override { return true; }
  void WriteHeader(const RunView&) override {}
  void WriteLine(const RunView& view) override { last = view.state; }
  void Close() override {}
  RunState last;
};

RunOutcome Simulate(SimulationSettings& s, OutputSink* sink = nullptr) {
  CarriedState carried;
  RecordingPlatform platform;
  s.CreateOutputFile = sink != nullptr;
  return RunSimulation(s, carried, platform, sink, false, 0);
}

double SpeedRpm(const SimulationSettings& s) { return s.dq.w() / s.dq.p * kRadSToRpm; }

TEST(VectorControl, IndirectRotorFluxOrientationHoldsFluxAndSpeedUnderLoad) {
  SimulationSettings s = VectorControlStudy();
  LastStateSink sink;
  ASSERT_EQ(Simulate(s, &sink).status, RunStatus::kReachedEnd);
  EXPECT_NEAR(RotorFluxMagnitude(s.dq), 0.1722 * 5.5, 0.01);
  // The controller's estimate of the d-axis rotor flux agrees.
  EXPECT_NEAR(sink.last.est.Phidr, 0.1722 * 5.5, 0.01);
  // The measured q current follows its reference.
  EXPECT_NEAR(sink.last.est.Iqs, sink.last.Iqsref, 0.1);
  EXPECT_NEAR(SpeedRpm(s), 1000.0, 2.0);
  // The load of 10 N m is carried by the q current: Ce = 1.5 p M^2/Lr Ids Iqs.
  EXPECT_NEAR(s.dq.Ce(), 10.0, 0.3);
}

TEST(VectorControl, SpeedReachesAStepReferenceWithinItsSettlingTime) {
  // The machine is fluxed first; the speed step of 1000 tr/mn at 0.3 s is reached with
  // the current limit in some 40 ms and settles within 1 % in 200 ms.
  SimulationSettings s = VectorControlStudy();
  s.Wmt = {0.3, 100.0, 100.0, 100.0};
  s.Crt = {100.0, 100.0, 100.0, 100.0};
  s.tf = 0.5;
  ASSERT_EQ(Simulate(s).status, RunStatus::kReachedEnd);
  EXPECT_NEAR(SpeedRpm(s), 1000.0, 10.0);
}

TEST(VectorControl, MrasEstimateTracksTheSpeedInSteadyState) {
  // Estimator running beside the measured speed ("Sans Capteur").
  SimulationSettings s = VectorControlStudy();
  s.Flux_typ = 6;
  s.tf = 0.5;
  LastStateSink sink;
  ASSERT_EQ(Simulate(s, &sink).status, RunStatus::kReachedEnd);
  EXPECT_NEAR(sink.last.est.WmEst, sink.last.Wm, 0.02 * sink.last.Wm);

  // The estimate replacing the measured speed ("Sans Capteur 7") still holds the speed.
  SimulationSettings sensorless = VectorControlStudy();
  sensorless.Flux_typ = 7;
  sensorless.tf = 0.5;
  ASSERT_EQ(Simulate(sensorless).status, RunStatus::kReachedEnd);
  EXPECT_NEAR(SpeedRpm(sensorless), 1000.0, 30.0);
}

TEST(CurrentControl, MeasuredCurrentsFollowTheEventReferences) {
  SimulationSettings s = VectorControlStudy();
  s.VectCtrl = 0;
  s.Courant = 1;
  s.Idst = {0.0, 100.0, 100.0, 100.0};
  s.Idssref = {5.5, 0.0, 0.0, 0.0};
  s.Iqst = {0.6, 100.0, 100.0, 100.0};
  s.Iqsref = {4.0, 0.0, 0.0, 0.0};
  s.dq.a20 = 0.05;  // viscous load so that the speed settles
  s.tf = 0.9;       // the rotor flux builds with Tr = 0.13 s, then the torque step
  ASSERT_EQ(Simulate(s).status, RunStatus::kReachedEnd);
  EXPECT_NEAR(RotorFluxMagnitude(s.dq), 0.1722 * 5.5, 0.02);
  EXPECT_NEAR(s.dq.Ce(), 1.5 * 2 * 0.1722 * 0.1722 / 0.178039 * 5.5 * 4.0, 0.5);
}

TEST(DirectTorqueControl, HoldsTheStatorFluxNearItsReference) {
  SimulationSettings s = VectorControlStudy();
  s.VectCtrl = 0;
  s.DTC = 1;
  s.TMLI = 5e-5;
  s.KpW = 0.5;
  s.tf = 0.4;
  ASSERT_EQ(Simulate(s).status, RunStatus::kReachedEnd);
  EXPECT_NEAR(std::hypot(s.dq.PhisAlpha(), s.dq.PhisBeta()), 1.0, 0.05);
  EXPECT_NEAR(SpeedRpm(s), 1000.0, 20.0);
}

TEST(VfControl, SpeedLoopTurnsTheFrequencyToHoldTheSpeed) {
  // The speed regulator's output, read as a stator frequency, settles at the
  // synchronous frequency of the commanded speed plus a small no-load slip.
  SimulationSettings s = VectorControlStudy();
  s.VectCtrl = 0;
  s.Vf = 1;
  s.KpW = 0.05;
  s.KiW = 0.001;
  s.IqsrefM = 40.0;  // up to 400 rad/s of stator frequency
  s.tf = 1.8;
  s.Crt = {100.0, 100.0, 100.0, 100.0};
  LastStateSink sink;
  ASSERT_EQ(Simulate(s, &sink).status, RunStatus::kReachedEnd);
  EXPECT_NEAR(SpeedRpm(s), 1000.0, 10.0);
  const double slip = sink.last.est.Ws - 2 * sink.last.Wm;
  EXPECT_GT(slip, -2.0);
  EXPECT_LT(slip, 5.0);
}

}  // namespace
}  // namespace mas

namespace mas {
namespace {

// Keeps the sampling counters of every step.
class CounterSink : public OutputSink {
 public:
  bool Open(const std::string&) override { return true; }
  void WriteHeader(const RunView&) override {}
  void WriteLine(const RunView& v) override {
    mli.push_back(v.state.MliCount);
    regi.push_back(v.state.RegICount);
    regw.push_back(v.state.RegWCount);
    est.push_back(v.state.EstCount);
    vdsref.push_back(v.state.Vdsref);
    iqsref.push_back(v.state.Iqsref);
  }
  void Close() override {}
  std::vector<long long> mli, regi, regw, est;
  std::vector<double> vdsref, iqsref;
};

TEST(VectorControl, SamplingCountersDivideThePwmPeriod) {
  SimulationSettings s = VectorControlStudy();
  s.tf = 0.02;
  s.OutStep = 1;
  s.NTregI = 2;
  s.NTregW = 3;
  s.TEst = 3e-5;
  CounterSink sink;
  ASSERT_EQ(Simulate(s, &sink).status, RunStatus::kReachedEnd);
  const std::size_t n = sink.mli.size();
  ASSERT_EQ(n, 2001u);
  for (std::size_t i = 0; i < n; ++i) {
    // A PWM tick per 10 steps of 1e-5 s, a current sample every 2 ticks, a speed sample
    // every 3 current samples, a speed-estimator period every 3 steps.
    ASSERT_EQ(sink.regi[i], sink.mli[i] % 2) << i;
    ASSERT_EQ(sink.regw[i], (sink.mli[i] / 2) % 3) << i;
    if (i > 0) {
      ASSERT_LE(sink.mli[i] - sink.mli[i - 1], 1) << i;
    }
  }
  EXPECT_NEAR(static_cast<double>(sink.mli.back()), 200.0, 1.0);
  EXPECT_NEAR(static_cast<double>(sink.est.back()), 0.02 / 3e-5, 1.0);

  // A run starting late catches up one tick per step.
  SimulationSettings late = VectorControlStudy();
  late.t0 = 0.01;
  late.tf = 0.0101;
  late.OutStep = 1;
  CounterSink late_sink;
  ASSERT_EQ(Simulate(late, &late_sink).status, RunStatus::kReachedEnd);
  for (std::size_t i = 0; i < late_sink.mli.size(); ++i) EXPECT_EQ(late_sink.mli[i], i + 1);
}

TEST(VectorControl, ZeroSamplingPeriodsNeverSample) {
  // The values of a fresh program: the counters pass 0 before they are compared, so the
  // loops never run and their outputs keep their reset values.
  SimulationSettings s = VectorControlStudy();
  s.tf = 0.01;
  s.OutStep = 1;
  s.NTregI = 0;
  CounterSink sink;
  ASSERT_EQ(Simulate(s, &sink).status, RunStatus::kReachedEnd);
  for (double v : sink.vdsref) ASSERT_EQ(v, 0.0);
  for (double v : sink.iqsref) ASSERT_EQ(v, 0.0);

  SimulationSettings no_speed_loop = VectorControlStudy();
  no_speed_loop.tf = 0.01;
  no_speed_loop.OutStep = 1;
  no_speed_loop.NTregW = 0;
  CounterSink speed_sink;
  ASSERT_EQ(Simulate(no_speed_loop, &speed_sink).status, RunStatus::kReachedEnd);
  for (double v : speed_sink.iqsref) ASSERT_EQ(v, 0.0);
  EXPECT_NE(speed_sink.vdsref.back(), 0.0);  // the current loops do run
}

TEST(DirectTorqueControl, TorqueEstimateFollowsTheSpeedLoopsReference) {
  SimulationSettings s = VectorControlStudy();
  s.VectCtrl = 0;
  s.DTC = 1;
  s.TMLI = 5e-5;
  s.KpW = 0.5;
  s.tf = 0.45;
  s.OutStep = 10;
  class TorqueSink : public OutputSink {
   public:
    bool Open(const std::string&) override { return true; }
    void WriteHeader(const RunView&) override {}
    void WriteLine(const RunView& v) override {
      if (v.state.t < 0.35) return;
      ++count;
      error += std::fabs(v.state.dc.CeEst - v.state.dc.CeRef);
      ref += std::fabs(v.state.dc.CeRef);
    }
    void Close() override {}
    int count = 0;
    double error = 0, ref = 0;
  } sink;
  s.CreateOutputFile = true;
  CarriedState carried;
  RecordingPlatform platform;
  ASSERT_EQ(RunSimulation(s, carried, platform, &sink, false, 0).status, RunStatus::kReachedEnd);
  ASSERT_GT(sink.count, 100);
  // In steady state under 10 N m the estimate stays within a band around 2.9 Iqsref.
  EXPECT_LT(sink.error / sink.count, 0.3 * sink.ref / sink.count);
}

}  // namespace
}  // namespace mas
