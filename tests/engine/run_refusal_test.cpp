// What a run does on its way to a refusal or without the parts an output asks for.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/run_simulation.h"
#include "examples/example_machine.h"

namespace mas {
namespace {

// Keeps the applied phase-a voltage of every recorded step.
class VoltageSink : public OutputSink {
 public:
  bool Open(const std::string&) override { return true; }
  void WriteHeader(const RunView&) override {}
  void WriteLine(const RunView& v) override { vas.push_back(v.state.Vas); }
  void Close() override {}
  std::vector<double> vas;
};

// Two modes run one step before the refusal, with no controller. Direct torque control sets
// the pole voltages itself: with DTC among the modes the PWM inverter is skipped and the
// voltages stay at rest; without it the inverter switches its legs on the zero reference.
TEST(RunRefusal, TwoModesWithDirectTorqueControlLeaveTheInverterAlone) {
  for (const bool with_dtc : {true, false}) {
    SimulationSettings s = example::ExampleStudy(0.01, 1e-4);
    s.CreateOutputFile = true;
    s.VectCtrl = 0;
    s.Statique = 1;
    s.MLI = 1;
    s.DTC = with_dtc ? 1 : 0;
    s.Vf = with_dtc ? 0 : 1;
    CarriedState carried;
    RecordingPlatform platform;
    VoltageSink sink;
    const RunOutcome out = RunSimulation(s, carried, platform, &sink, false, 0);
    EXPECT_EQ(out.status, RunStatus::kNoMode);
    ASSERT_EQ(sink.vas.size(), 1u);
    EXPECT_EQ(sink.vas[0] != 0.0, !with_dtc) << "DTC " << with_dtc << ", Vas " << sink.vas[0];
  }
}

// A bar snapshot asked for without the cage model: the run says once that it writes none.
TEST(RunRefusal, BarSnapshotWithoutTheCageModelIsAnnouncedOnce) {
  SimulationSettings s = example::ExampleStudy(0.01, 1e-4);
  s.CreateOutputFile = true;
  s.OutSelCage[kCageCapt] = 1;
  CarriedState carried;
  RecordingPlatform platform;
  VoltageSink sink;
  EXPECT_EQ(RunSimulation(s, carried, platform, &sink, false, 0).status, RunStatus::kReachedEnd);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_NE(platform.messages[0].text.find("Ib.dat"), std::string::npos);
}

}  // namespace
}  // namespace mas
