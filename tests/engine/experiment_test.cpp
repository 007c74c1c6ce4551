#include "engine/experiment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "examples/example_machine.h"
#include "tests/record_sink.h"

namespace mas {
namespace {

ExperimentalData Record(std::vector<double> time, std::vector<double> wm, std::vector<double> ias) {
  ExperimentalData d;
  d.ExpTime = std::move(time);
  d.ExpWm = std::move(wm);
  d.ExpIas = std::move(ias);
  return d;
}

TEST(Experiment, InterpolatesOnHalfOpenIntervalsFromAPersistentCursor) {
  ExperimentalData d = Record({0.0, 0.1, 0.2, 0.3}, {0, 100, 300, 600}, {10, 20, 0, -10});
  struct Case {
    double t;
    bool inside;
    double wm, ias;
  };
  const Case cases[] = {
      {0.0, true, 0, 10},
      {0.05, true, 50, 15},
      {0.1, true, 100, 20},
      {0.25, true, 450, -5},
      {0.3, false, 450, -5},  // the last time of the file is outside the
                              // data
      {0.15, true, 200, 10},  // the cursor walks back
      {-0.1, false, 200, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Interpolate(d, c.t), c.inside) << c.t;
    EXPECT_NEAR(d.ExpWmInterp, c.wm, 1e-9) << c.t;
    EXPECT_NEAR(d.ExpIasInterp, c.ias, 1e-9) << c.t;
  }
  // A row cut short by the end of the file is never read; one row cannot interpolate.
  ExperimentalData cut = Record({0.0, 0.1, 0.2}, {0, 100, 200}, {1, 2});
  EXPECT_EQ(cut.Rows(), 2);
  EXPECT_FALSE(Interpolate(cut, 0.15));
  EXPECT_TRUE(Interpolate(cut, 0.05));
  ExperimentalData one = Record({0.0}, {1.0}, {1.0});
  EXPECT_FALSE(Interpolate(one, 0.0));
  // Times that go back and forth do not trap the cursor.
  ExperimentalData unordered = Record({0.0, 2.0, 1.0, 3.0}, {0, 0, 0, 0}, {0, 0, 0, 0});
  unordered.ExpCursor = 1;
  Interpolate(unordered, 1.5);
  EXPECT_FALSE(Interpolate(unordered, std::nan("")));
}

TEST(Experiment, SlidingMaximumKeepsOnePeriodAndTheValueShiftedOut) {
  ExperimentalData d;
  d.MaxIasWindowLen = 2;
  d.MaxIasWindow.assign(3, 0.0);
  const double samples[] = {5, 1, 2, 3, 0.5, 0.25};
  const double maxima[] = {5, 5, 5, 5, 3, 3};
  for (int i = 0; i < 6; ++i) {
    UpdateMaxIasWindow(d, samples[i]);
    EXPECT_EQ(d.MaxIas, maxima[i]) << i;
  }
  EXPECT_EQ(MaxIasWindowLength(50.0, 1e-4, 10), 20);
  EXPECT_EQ(MaxIasWindowLength(0.0, 1e-4, 10), -1);  // no supply frequency: no window
  EXPECT_EQ(MaxIasWindowLength(50.0, 1e-9, 1), -1);  // more than the cap
  EXPECT_EQ(MaxIasWindowLength(std::nan(""), 1e-4, 10), -1);
}

// A direct start-up of the example machine, and a "measurement" made of that very run.
struct Identification {
  SimulationSettings s;
  CarriedState carried;
  RecordingPlatform platform;

  Identification() {
    s = example::ExampleStudy(0.3, 1e-4);
    s.dq.a30 = 2.0;
    s.PushMechanicalParameters();
    s.OutStep = 10;
    // Record the machine's own start-up every 1 ms as the experiment.
    testing::RecordSink recorder(carried.experiment);
    SimulationSettings measuring = s;
    measuring.tf = 0.35;  // a little longer than the runs to compare
    measuring.CreateOutputFile = true;
    RunSimulation(measuring, carried, platform, &recorder, false, 0);
  }
};

TEST(Experiment, TablesOfTheMachinesOwnStartUpGiveAZeroCostAndStaleParametersDoNot) {
  Identification id;
  ASSERT_EQ(BuildExperimentalTables(id.s, id.carried, id.platform, nullptr).status,
            RunStatus::kReachedEnd);
  EXPECT_TRUE(id.s.ExpTableReady);
  const ExperimentalData& d = id.carried.experiment;
  EXPECT_EQ(d.MaxIasWindowLen, 20);
  ASSERT_EQ(d.ExpWmTable.size(), 301u);
  ASSERT_EQ(d.ExpMaxIasTable.size(), 301u);

  for (int cost_function : {0, 1}) {
    id.s.CostFunction = cost_function;
    const double exact = EvaluateCost(id.s, id.carried, id.platform, nullptr);
    EXPECT_LT(exact, 1e-9) << cost_function;
    // Scoring the same candidate twice gives the same cost: every run starts from the
    // same zeroed current window.
    id.s.dq.Rr = 2.0;
    const double first = EvaluateCost(id.s, id.carried, id.platform, nullptr);
    const double second = EvaluateCost(id.s, id.carried, id.platform, nullptr);
    EXPECT_GT(first, 1.0) << cost_function;
    EXPECT_EQ(first, second) << cost_function;
    id.s.dq.Rr = 1.395;
  }
  EXPECT_TRUE(id.platform.messages.empty());
}

TEST(Experiment, ARunLongerThanTheTablesStopsComparingAndSaysSoOnce) {
  Identification id;
  ASSERT_EQ(BuildExperimentalTables(id.s, id.carried, id.platform, nullptr).status,
            RunStatus::kReachedEnd);
  id.s.tf = 0.5;
  const double cost = EvaluateCost(id.s, id.carried, id.platform, nullptr);
  EXPECT_LT(cost, 1e-9);
  ASSERT_EQ(id.platform.messages.size(), 1u);
  EXPECT_EQ(id.platform.messages[0].caption, "Arret de l'optimisation");

  // Building tables beyond the record says once that it cannot interpolate.
  RecordingPlatform quiet;
  BuildExperimentalTables(id.s, id.carried, quiet, nullptr);
  ASSERT_EQ(quiet.messages.size(), 1u);
  EXPECT_EQ(quiet.messages[0].text, "Interpolation des donnees du fichier experimental impossible");
}

TEST(Experiment, RunsNeedingTheRecordOrTheTablesAreRefusedWithoutThem) {
  Identification id;
  ExperimentalData empty;
  id.carried.experiment = empty;
  EXPECT_EQ(BuildExperimentalTables(id.s, id.carried, id.platform, nullptr).status,
            RunStatus::kRefused);
  EXPECT_FALSE(id.s.ExpTableReady);
  EXPECT_EQ(RunSimulation(id.s, id.carried, id.platform, nullptr, false, 1).status,
            RunStatus::kRefused);
  id.s.fs = 0.0;  // no supply period for the current window
  EXPECT_EQ(BuildExperimentalTables(id.s, id.carried, id.platform, nullptr).status,
            RunStatus::kRefused);
  // A time base whose tables would hold more than ten million entries.
  Identification huge;
  huge.s.tf = 200.0;
  huge.s.dt = 1e-5;
  huge.s.OutStep = 1;
  EXPECT_EQ(BuildExperimentalTables(huge.s, huge.carried, huge.platform, nullptr).status,
            RunStatus::kRefused);
  EXPECT_TRUE(huge.carried.experiment.ExpWmTable.empty());
}

}  // namespace
}  // namespace mas
