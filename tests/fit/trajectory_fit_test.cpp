#include "fit/trajectory_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "fit/fit_report.h"
#include "fit/trajectory_residuals.h"
#include "fit_fixture.h"
#include "fit_result_checks.h"

namespace mas {
namespace {

using testing::Bits;
using testing::LoadedMachineGenes;
using testing::MakeFitStudy;
using testing::Param;
using testing::Scaled;
using testing::Threads;
using testing::Warned;

// The parameters a start-up identifies well, and how close a clean record made another
// way gives them.
constexpr std::array<int, 5> kWellIdentified = {kGeneRs, kGeneTs, kGeneTr, kGeneSigma, kGeneJ};

TEST(TrajectoryFit, RecoversEveryParameterOfACleanRecordFromThirtyPercentOff) {
  const Genes truth = LoadedMachineGenes();
  // The record at the study's recorded instants, and at a period (0.07 ms) that falls
  // between the study's steps.
  for (int record_every : {0, 7}) {
    const testing::FitStudy f = MakeFitStudy(truth, 0.25, 1e-4, 5, 0.0, 0.0, 1, record_every);
    for (double factor : {1.3, 0.7}) {
      SCOPED_TRACE(::testing::Message() << "record every " << record_every << ", x" << factor);
      RecordingPlatform platform;
      const FitResult r =
          FitTrajectory(Scaled(truth, factor), f.s, f.carried, platform, Threads(2));
      ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
      for (int j : kWellIdentified) {
        EXPECT_NEAR(r.genes[static_cast<std::size_t>(j)] / truth[static_cast<std::size_t>(j)], 1.0,
                    1.5e-3)
            << kGeneNames[static_cast<std::size_t>(j)];
      }
      EXPECT_NEAR(r.genes[kGeneA30] / truth[kGeneA30], 1.0, 1e-2);
      // What is left is the record's own accuracy (its finer step still holds the
      // network's sine half a fine step), far below the half-step offset of the cost's
      // comparison.
      EXPECT_LT(r.current_rms, 0.05);
      EXPECT_LT(r.speed_rms, 0.1);
      EXPECT_EQ(r.instants, static_cast<int>(r.residuals / 2));
      // The machine the parameters map to is the one that made the record.
      EXPECT_NEAR(r.machine.Rr, f.s.dq.Rr, 2e-3 * f.s.dq.Rr);
      EXPECT_NEAR(r.machine.M, f.s.dq.M, 2e-3 * f.s.dq.M);
      EXPECT_TRUE(r.statistics);
      EXPECT_TRUE(platform.messages.empty());
    }
  }
}

TEST(TrajectoryFit, ComparesTheMachinesStateNotTheControllersCopies) {
  // At the true parameters, the machine's own state at the record's instants leaves the
  // record's accuracy; the cost's comparison (the copies sampled at the recorded steps,
  // with the sine held from the start of each step) leaves ten times more, a timing
  // offset that moves Rs and Ts.
  const Genes truth = LoadedMachineGenes();
  const testing::FitStudy f = MakeFitStudy(truth);
  RecordingPlatform platform;
  double rms[2] = {0.0, 0.0};
  for (const ResidualKind kind : {ResidualKind::kMachineState, ResidualKind::kCost}) {
    const LayoutResult layout = MakeResidualLayout(truth, f.s, f.carried, 8, kind);
    ASSERT_EQ(layout.status, LayoutStatus::kReady) << layout.message;
    ResidualEvaluator evaluator(f.s, f.carried, layout.layout, 2);
    const std::vector<TrajectoryResiduals> out = evaluator.Evaluate({&truth, 1}, platform);
    ASSERT_TRUE(out[0].complete);
    rms[kind == ResidualKind::kCost ? 1 : 0] = out[0].current_rms;
  }
  EXPECT_LT(rms[0], 0.05);
  EXPECT_GT(rms[1], 5.0 * rms[0]);
  // With the cost's comparison the fit lands measurably off; with the machine's state,
  // on the machine.
  FitOptions cost = Threads(2);
  cost.residuals = ResidualKind::kCost;
  const FitResult off = FitTrajectory(Scaled(truth, 1.1), f.s, f.carried, platform, cost);
  const FitResult on = FitTrajectory(Scaled(truth, 1.1), f.s, f.carried, platform, Threads(2));
  ASSERT_TRUE(off.end == FitEnd::kConverged || off.end == FitEnd::kIterationLimit) << off.message;
  ASSERT_EQ(on.end, FitEnd::kConverged) << on.message;
  EXPECT_EQ(off.residual_kind, ResidualKind::kCost);
  double worst_off = 0.0;
  double worst_on = 0.0;
  for (int j : kWellIdentified) {
    const auto ju = static_cast<std::size_t>(j);
    worst_off = std::max(worst_off, std::fabs(off.genes[ju] / truth[ju] - 1.0));
    worst_on = std::max(worst_on, std::fabs(on.genes[ju] / truth[ju] - 1.0));
  }
  EXPECT_GT(worst_off, 3.0 * worst_on);
  EXPECT_NE(FormatFitReport(off, {}).find("--residuals cout"), std::string::npos);

  // The fitted curves at the record's instants are the machine's at the best point, with
  // the weights of the last refit taken out: a run of the fitted genes with unit weights
  // gives the raw errors.
  EXPECT_TRUE(off.curves.times.empty());
  ASSERT_GT(on.reweights, 0);
  const FitCurves& c = on.curves;
  ASSERT_EQ(c.times.size(), static_cast<std::size_t>(on.instants));
  ASSERT_EQ(c.fitted_speed.size(), c.times.size());
  ASSERT_EQ(c.fitted_current.size(), c.times.size());
  LayoutResult unit = MakeResidualLayout(on.genes, f.s, f.carried, 8);
  ASSERT_EQ(unit.status, LayoutStatus::kReady) << unit.message;
  SetNoiseLevels(unit.layout, 1.0, 1.0);
  ResidualEvaluator evaluator(f.s, f.carried, unit.layout, 2);
  const std::vector<TrajectoryResiduals> raw = evaluator.Evaluate({&on.genes, 1}, platform);
  ASSERT_TRUE(raw[0].complete);
  const std::size_t n = c.times.size();
  ASSERT_EQ(raw[0].r.size(), 2 * n);
  for (std::size_t k = 0; k < n; ++k) {
    EXPECT_DOUBLE_EQ(c.times[k], unit.layout.times[k]);
    EXPECT_NEAR(c.fitted_speed[k], c.measured_speed[k] - raw[0].r[k], 1e-9 * on.speed_range);
    EXPECT_NEAR(c.fitted_current[k], c.measured_current[k] - raw[0].r[n + k],
                1e-9 * on.current_range);
  }
}

TEST(TrajectoryFit, TruthLiesInsideTheNinetyFivePercentIntervalsOfNoisyRecords) {
  // The sensors of the example record (1.5 tr/mn and 0.08 A rms), white or coloured
  // (AR(1), 5 ms: ten recorded instants), on a load with a constant term only; the
  // record integrated a hundred times finer, so that only the noise is left.
  Genes truth = LoadedMachineGenes();
  truth[kGeneA10] = 0.0;
  truth[kGeneA20] = 0.0;
  for (const double noise_time : {0.0, 5e-3}) {
    SCOPED_TRACE(noise_time);
    int inside = 0;
    int total = 0;
    double window = 0.0;
    for (std::uint32_t seed : {11u, 12u, 13u, 14u}) {
      testing::FitStudy f = MakeFitStudy(truth, 0.25, 1e-4, 5, 1.5, 0.08, seed, 0, noise_time, 100);
      f.s.GenX[kGeneA10] = false;
      f.s.GenX[kGeneA20] = false;
      RecordingPlatform platform;
      const FitResult r = FitTrajectory(Scaled(truth, 1.1), f.s, f.carried, platform, Threads(2));
      ASSERT_NE(r.end, FitEnd::kRefused) << r.message;
      ASSERT_TRUE(r.statistics);
      EXPECT_EQ(r.interval_method, IntervalMethod::kNeweyWest);
      // The residual rms, and the weights, are the noise's.
      EXPECT_NEAR(r.speed_rms, 1.5, 0.3);
      EXPECT_NEAR(r.current_rms, 0.08, 0.02);
      EXPECT_NEAR(r.speed_noise, r.speed_rms, 0.2 * r.speed_rms);
      EXPECT_NEAR(r.current_noise, r.current_rms, 0.2 * r.current_rms);
      window += r.hac_window;
      for (const FittedParameter& p : r.parameters) {
        const double x = truth[static_cast<std::size_t>(p.gene)];
        EXPECT_LE(p.lower95, p.value);
        EXPECT_GE(p.upper95, p.value);
        inside += p.lower95 <= x && x <= p.upper95 ? 1 : 0;
        ++total;
      }
    }
    EXPECT_GE(inside, total * 5 / 6) << inside << " of " << total;
    // Coloured noise widens the window over its correlation time.
    if (noise_time > 0.0) {
      EXPECT_GT(window / 4, 40.0);
    } else {
      EXPECT_LT(window / 4, 20.0);
    }
  }
}

TEST(TrajectoryFit, NamesTheParametersTheRecordCannotIdentify) {
  const Genes truth = LoadedMachineGenes();
  struct Case {
    double tf;
    bool a10_identifiable;
  };
  // The whole start-up shows the quadratic load; its first 20 ms, before the machine has
  // any speed, do not.
  for (const Case& c : {Case{0.25, true}, Case{0.02, false}}) {
    SCOPED_TRACE(c.tf);
    const testing::FitStudy f = MakeFitStudy(truth, c.tf, 1e-4, 2, 0.5, 0.05, 3);
    RecordingPlatform platform;
    const FitResult r = FitTrajectory(truth, f.s, f.carried, platform, Threads(2));
    ASSERT_TRUE(r.statistics) << r.message;
    EXPECT_EQ(Param(r, kGeneA10).identifiable, c.a10_identifiable);
    EXPECT_EQ(Warned(r, "a10"), !c.a10_identifiable);
    EXPECT_TRUE(Param(r, kGeneRs).identifiable);
  }
}

TEST(TrajectoryFit, ThreadCountsGiveIdenticalResults) {
  const Genes truth = LoadedMachineGenes();
  const testing::FitStudy f = MakeFitStudy(truth, 0.2, 1e-4, 10, 1.0, 0.05, 5);
  std::vector<std::vector<std::uint64_t>> bits;
  for (int threads : {1, 2}) {
    RecordingPlatform platform;
    FitOptions o = Threads(threads);
    o.starts = 1;
    o.seed = 9;
    o.max_iterations = 8;
    const FitResult r = FitTrajectory(Scaled(truth, 1.2), f.s, f.carried, platform, o);
    std::vector<std::uint64_t> b;
    for (double x : r.genes) b.push_back(Bits(x));
    for (const FittedParameter& p : r.parameters) {
      b.insert(b.end(), {Bits(p.standard_error), Bits(p.lower95), Bits(p.upper95)});
    }
    b.insert(b.end(), {Bits(r.cost), Bits(r.initial_cost), static_cast<std::uint64_t>(r.runs),
                       static_cast<std::uint64_t>(r.iterations)});
    for (const StartSummary& s : r.starts) b.push_back(Bits(s.cost));
    bits.push_back(b);
  }
  EXPECT_EQ(bits[0], bits[1]);
}

// Escape pressed from the moment the progress display shows a given iteration.
class EscapeAtIteration final : public SilentPlatform {
 public:
  bool EscapePressed() override { return pressed; }
  bool pressed = false;
};

TEST(TrajectoryFit, StopsAtTheBestPointWhenInterrupted) {
  const Genes truth = LoadedMachineGenes();
  const testing::FitStudy f = MakeFitStudy(truth, 0.2, 1e-4, 10);
  EscapeAtIteration platform;
  int last = 0;
  FitOptions o = Threads(2);
  o.starts = 2;
  const FitResult r =
      FitTrajectory(Scaled(truth, 1.3), f.s, f.carried, platform, o, [&](const FitProgress& p) {
        last = p.iteration;
        if (p.iteration == 6) platform.pressed = true;
      });
  EXPECT_EQ(r.end, FitEnd::kInterrupted);
  EXPECT_EQ(last, 6);
  EXPECT_EQ(r.starts.size(), 1u);  // the other starts were not begun
  EXPECT_EQ(r.best_start, 0);
  EXPECT_LT(r.cost, r.initial_cost);
  for (double x : r.genes) EXPECT_TRUE(std::isfinite(x));
  EXPECT_NE(FormatFitReport(r, {}).find("interrompu"), std::string::npos);
}

TEST(TrajectoryFit, RefusesWhatCannotBeFitted) {
  const Genes truth = LoadedMachineGenes();
  const testing::FitStudy f = MakeFitStudy(truth, 0.2, 1e-4, 10);
  struct Case {
    int gene;
    double value;
    const char* said;
  };
  for (const Case& c :
       {Case{kGeneSigma, 1.0, "sigma"}, Case{kGeneRs, 0.0, "Rs"}, Case{kGeneTr, -0.1, "Tr"},
        Case{kGeneA30, -1.0, "a30"}, Case{kGeneJ, std::nan(""), "J"}}) {
    SCOPED_TRACE(c.said);
    Genes g = truth;
    g[static_cast<std::size_t>(c.gene)] = c.value;
    RecordingPlatform platform;
    const FitResult r = FitTrajectory(g, f.s, f.carried, platform, Threads(2));
    EXPECT_EQ(r.end, FitEnd::kRefused);
    EXPECT_NE(r.message.find(c.said), std::string::npos) << r.message;
    EXPECT_EQ(r.runs, 0);
  }
  // An absurd guess: inside the domain, but its simulation is not finite.
  {
    Genes absurd = truth;
    absurd[kGeneRs] = 1e300;
    RecordingPlatform platform;
    const FitResult r = FitTrajectory(absurd, f.s, f.carried, platform, Threads(2));
    EXPECT_EQ(r.end, FitEnd::kRefused);
    EXPECT_NE(r.message.find("absurde"), std::string::npos) << r.message;
    EXPECT_EQ(r.iterations, 0);
  }
  // No gene to fit; tables never built (the cost's comparison needs them, the machine's
  // state reads the record); a record of three recorded steps for eight genes.
  testing::FitStudy held = f;
  held.s.GenX.fill(false);
  RecordingPlatform platform;
  EXPECT_EQ(FitTrajectory(truth, held.s, held.carried, platform, Threads(2)).end, FitEnd::kRefused);
  testing::FitStudy stale = f;
  stale.s.ExpTableReady = false;
  FitOptions cost = Threads(2);
  cost.residuals = ResidualKind::kCost;
  cost.max_iterations = 1;
  EXPECT_EQ(FitTrajectory(truth, stale.s, stale.carried, platform, cost).end, FitEnd::kRefused);
  FitOptions state = Threads(2);
  state.max_iterations = 1;
  EXPECT_NE(FitTrajectory(truth, stale.s, stale.carried, platform, state).end, FitEnd::kRefused);
  // Records the machine's state cannot be compared with, each blamed on its data line.
  struct Bad {
    const char* said;
    std::vector<double> ExperimentalData::*column;
    std::size_t row;
    double value;
  };
  for (const Bad& b : {Bad{"non finie", &ExperimentalData::ExpIas, 40, std::nan("")},
                       Bad{"non croissant", &ExperimentalData::ExpTime, 40, 0.001},
                       Bad{"aberrante", &ExperimentalData::ExpWm, 40, 1e300}}) {
    SCOPED_TRACE(b.said);
    testing::FitStudy bad = f;
    (bad.carried.experiment.*b.column)[b.row] = b.value;
    const FitResult r = FitTrajectory(truth, bad.s, bad.carried, platform, Threads(2));
    EXPECT_EQ(r.end, FitEnd::kRefused);
    EXPECT_NE(r.message.find(b.said), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("ligne de données 41"), std::string::npos) << r.message;
    EXPECT_EQ(r.runs, 0);
  }
  testing::FitStudy tiny = f;
  for (auto* a : {&tiny.carried.experiment.ExpTime, &tiny.carried.experiment.ExpWm,
                  &tiny.carried.experiment.ExpIas}) {
    a->resize(4);  // 3 ms of record: three recorded steps of 1 ms
  }
  BuildExperimentalTables(tiny.s, tiny.carried, platform, nullptr);
  const FitResult r = FitTrajectory(truth, tiny.s, tiny.carried, platform, Threads(2));
  EXPECT_EQ(r.end, FitEnd::kRefused);
  EXPECT_NE(r.message.find("Trop peu"), std::string::npos) << r.message;
}

TEST(TrajectoryFit, ComparesOnlyWhereTheRecordHasData) {
  // A record cut at 60 % of the study: the fit compares the instants inside the record,
  // simulates no further, says so, and still finds the machine.
  const Genes truth = LoadedMachineGenes();
  testing::FitStudy f = MakeFitStudy(truth);
  const std::size_t rows = f.carried.experiment.ExpTime.size() * 6 / 10;
  for (auto* a :
       {&f.carried.experiment.ExpTime, &f.carried.experiment.ExpWm, &f.carried.experiment.ExpIas}) {
    a->resize(rows);
  }
  RecordingPlatform platform;
  BuildExperimentalTables(f.s, f.carried, platform, nullptr);
  ASSERT_TRUE(f.s.ExpTableReady);
  for (const ResidualKind kind : {ResidualKind::kMachineState, ResidualKind::kCost}) {
    SCOPED_TRACE(static_cast<int>(kind));
    FitOptions o = Threads(2);
    o.residuals = kind;
    platform.messages.clear();
    const FitResult r = FitTrajectory(Scaled(truth, 1.2), f.s, f.carried, platform, o);
    ASSERT_TRUE(r.end == FitEnd::kConverged || r.end == FitEnd::kIterationLimit) << r.message;
    EXPECT_LE(r.compared_last, f.carried.experiment.ExpTime.back());
    EXPECT_LT(r.compared_last, 0.65 * f.s.tf);
    EXPECT_TRUE(platform.messages.empty());
    const std::string report = FormatFitReport(r, {});
    if (kind == ResidualKind::kMachineState) {
      EXPECT_EQ(r.simulated_until, r.compared_last);
      EXPECT_NE(report.find("Simulations arrêtées au dernier instant comparé"), std::string::npos)
          << report;
    } else {
      EXPECT_NE(report.find("plus court"), std::string::npos) << report;
    }
    for (int j : kWellIdentified) {
      EXPECT_NEAR(r.genes[static_cast<std::size_t>(j)] / truth[static_cast<std::size_t>(j)], 1.0,
                  kind == ResidualKind::kCost ? 2e-2 : 2e-3)
          << kGeneNames[static_cast<std::size_t>(j)];
    }
  }
  // With the cost's comparison, a table value that is not a number is refused with the
  // instant where it lies.
  f.carried.experiment.ExpWmTable[40] = std::nan("");
  FitOptions cost = Threads(2);
  cost.residuals = ResidualKind::kCost;
  const FitResult bad = FitTrajectory(truth, f.s, f.carried, platform, cost);
  EXPECT_EQ(bad.end, FitEnd::kRefused);
  EXPECT_NE(bad.message.find("non finie"), std::string::npos) << bad.message;
}

TEST(TrajectoryFit, ADivergingStartOrTrialIsRejectedNotFatal) {
  const Genes truth = LoadedMachineGenes();
  const testing::FitStudy f = MakeFitStudy(truth, 0.2, 1e-4, 10);
  // A rotor time constant a thousand times too short makes the integration blow up.
  Genes diverging = truth;
  diverging[kGeneTr] *= 1e-3;
  {
    RecordingPlatform platform;
    ResidualEvaluator evaluator(f.s, f.carried, MakeResidualLayout(truth, f.s, f.carried, 8).layout,
                                2);
    const std::vector<Genes> sets = {truth, diverging, Scaled(truth, 1.1)};
    const std::vector<TrajectoryResiduals> out = evaluator.Evaluate(sets, platform);
    EXPECT_TRUE(out[0].complete);
    EXPECT_TRUE(out[1].diverged);
    EXPECT_FALSE(out[1].complete);
    EXPECT_TRUE(out[2].complete);
    EXPECT_LT(out[0].Cost(), 1e-3 * out[2].Cost());
    EXPECT_TRUE(platform.messages.empty());  // a diverged trial is no message
  }
  RecordingPlatform platform;
  FitOptions o = Threads(2);
  o.extra_starts = {diverging};
  const FitResult r = FitTrajectory(Scaled(truth, 1.2), f.s, f.carried, platform, o);
  ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
  ASSERT_EQ(r.starts.size(), 2u);
  EXPECT_TRUE(r.starts[0].usable);
  EXPECT_FALSE(r.starts[1].usable);
  EXPECT_GE(r.diverged_trials, 1);
  EXPECT_EQ(r.best_start, 0);
  EXPECT_NEAR(r.genes[kGeneTr] / truth[kGeneTr], 1.0, 2e-3);
  EXPECT_NE(FormatFitReport(r, {}).find("départ divergent"), std::string::npos);
}

TEST(TrajectoryFit, ALoadCoefficientFittedToZeroSitsAtItsBound) {
  // The example record's load is constant: the quadratic and linear terms are 0, and a
  // guess of 0 stays there, never evaluated below it.
  Genes truth = LoadedMachineGenes();
  truth[kGeneA10] = 0.0;
  truth[kGeneA20] = 0.0;
  const testing::FitStudy f = MakeFitStudy(truth, 0.2, 1e-4, 10, 0.0, 0.0, 1, 0, 0.0, 100);
  Genes guess = Scaled(truth, 1.2);
  RecordingPlatform platform;
  const FitResult r = FitTrajectory(guess, f.s, f.carried, platform, Threads(2));
  ASSERT_TRUE(r.end == FitEnd::kConverged || r.end == FitEnd::kIterationLimit) << r.message;
  // The quadratic term, nearly without effect on a start-up, may keep a trace of the
  // record's own inaccuracy (a thousandth of its typical 1e-4); it never goes below 0.
  EXPECT_GE(r.genes[kGeneA10], 0.0);
  EXPECT_LT(r.genes[kGeneA10], 1e-7);
  EXPECT_LT(r.genes[kGeneA20], 1e-10);
  EXPECT_TRUE(Param(r, kGeneA20).at_bound);
  EXPECT_EQ(Param(r, kGeneA20).lower95, 0.0);
  EXPECT_NEAR(r.genes[kGeneRs] / truth[kGeneRs], 1.0, 2e-3);
  EXPECT_NE(FormatFitReport(r, {}).find("à sa borne 0"), std::string::npos);
}

TEST(TrajectoryFit, HeldGenesKeepTheirValues) {
  const Genes truth = LoadedMachineGenes();
  testing::FitStudy f = MakeFitStudy(truth, 0.2, 1e-4, 10);
  f.s.GenX[kGeneJ] = false;
  f.s.GenX[kGeneA10] = false;
  Genes guess = Scaled(truth, 1.2);
  guess[kGeneJ] = truth[kGeneJ];
  guess[kGeneA10] = truth[kGeneA10];
  RecordingPlatform platform;
  const FitResult r = FitTrajectory(guess, f.s, f.carried, platform, Threads(2));
  ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
  EXPECT_EQ(r.parameters.size(), 6u);
  EXPECT_EQ(Bits(r.genes[kGeneJ]), Bits(truth[kGeneJ]));
  EXPECT_NEAR(r.genes[kGeneSigma] / truth[kGeneSigma], 1.0, 1e-3);
  EXPECT_NE(FormatFitReport(r, {}).find("(tenu)"), std::string::npos);
}

}  // namespace
}  // namespace mas

namespace mas {
namespace {

TEST(MachineTrace, TracesTheStateAtAnyInstantAndStopsAtTheLast) {
  // A DC test (constant voltages): the traced run is the ordinary run step for step, so
  // the trace is the table's state interpolated between its steps.
  SimulationSettings s = testing::StartUpStudy(0.2, 1e-4, 1);
  s.Statique = 1;
  s.Vcss = 20.0;
  s.tfss = 1.0;
  SimulationSettings table_study = s;
  table_study.CreateOutputFile = true;
  CarriedState carried;
  testing::RecordSink sink(carried.experiment);
  SilentPlatform quiet;
  ASSERT_EQ(RunSimulation(table_study, carried, quiet, &sink, false, 0).status,
            RunStatus::kReachedEnd);
  const ExperimentalData& table = carried.experiment;

  MachineTrace trace;
  trace.instants = {0.0, 5e-5, 0.01234, 0.031, 0.05};
  trace.Prepare();
  CarriedState traced_carried;
  const RunOutcome outcome = RunSimulation(s, traced_carried, quiet, 0, trace);
  EXPECT_EQ(outcome.status, RunStatus::kReachedEnd);
  ASSERT_TRUE(trace.Complete());
  // It stopped at the step that passed the last instant.
  EXPECT_LE(outcome.t_end, 0.05 + 1.5e-4);
  EXPECT_LT(outcome.steps, 510);
  for (std::size_t k = 0; k < trace.instants.size(); ++k) {
    const double x = trace.instants[k];
    std::size_t i = 0;
    while (i + 1 < table.ExpTime.size() && table.ExpTime[i + 1] < x) ++i;
    const double a = (x - table.ExpTime[i]) / (table.ExpTime[i + 1] - table.ExpTime[i]);
    const double ias = x <= table.ExpTime[0]
                           ? table.ExpIas[0]
                           : table.ExpIas[i] + a * (table.ExpIas[i + 1] - table.ExpIas[i]);
    EXPECT_NEAR(trace.current[k], ias, 1e-9 * std::max(1.0, std::fabs(ias))) << x;
  }
  EXPECT_GT(std::fabs(trace.current.back()), 1.0);  // the DC test drives a current
}

}  // namespace
}  // namespace mas
