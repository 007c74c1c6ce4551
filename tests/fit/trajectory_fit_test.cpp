#include "fit/trajectory_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fit/fit_report.h"
#include "fit/trajectory_residuals.h"
#include "fit_fixture.h"

namespace mas {
namespace {

using testing::Bits;
using testing::LoadedMachineGenes;
using testing::MakeFitStudy;
using testing::Scaled;

FitOptions Threads(int threads) {
  FitOptions o;
  o.threads = threads;
  return o;
}

const FittedParameter& Param(const FitResult& r, int gene) {
  for (const FittedParameter& p : r.parameters) {
    if (p.gene == gene) return p;
  }
  ADD_FAILURE() << "gene " << gene << " not fitted";
  return r.parameters.front();
}

bool Warned(const FitResult& r, const std::string& name) {
  for (const std::string& w : r.warnings) {
    if (w.find(name) != std::string::npos) return true;
  }
  return false;
}

TEST(TrajectoryFit, RecoversEveryParameterOfACleanRecordFromThirtyPercentOff) {
  const Genes truth = LoadedMachineGenes();
  const testing::FitStudy f = MakeFitStudy(truth);
  ASSERT_TRUE(f.s.ExpTableReady);
  for (double factor : {1.3, 0.7}) {
    SCOPED_TRACE(factor);
    RecordingPlatform platform;
    const FitResult r = FitTrajectory(Scaled(truth, factor), f.s, f.carried, platform, Threads(2));
    ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
    for (int j = 0; j < NGenes; ++j) {
      EXPECT_NEAR(r.genes[static_cast<std::size_t>(j)] / truth[static_cast<std::size_t>(j)], 1.0,
                  1e-3)
          << kGeneNames[static_cast<std::size_t>(j)];
    }
    EXPECT_LT(r.cost, 1e-12 * r.initial_cost);
    // The machine the parameters map to is the one that made the record.
    EXPECT_NEAR(r.machine.Rr, f.s.dq.Rr, 1e-3 * f.s.dq.Rr);
    EXPECT_NEAR(r.machine.M, f.s.dq.M, 1e-3 * f.s.dq.M);
    EXPECT_TRUE(r.statistics);
    EXPECT_TRUE(platform.messages.empty());
  }
}

TEST(TrajectoryFit, TruthLiesInsideTheNinetyFivePercentIntervalsOfNoisyRecords) {
  const Genes truth = LoadedMachineGenes();
  int inside = 0;
  int total = 0;
  for (std::uint32_t seed : {11u, 12u, 13u}) {
    // The sensors of the example record: 1.5 tr/mn and 0.08 A rms.
    const testing::FitStudy f = MakeFitStudy(truth, 0.25, 1e-4, 5, 1.5, 0.08, seed);
    RecordingPlatform platform;
    const FitResult r = FitTrajectory(Scaled(truth, 1.1), f.s, f.carried, platform, Threads(2));
    ASSERT_NE(r.end, FitEnd::kRefused) << r.message;
    ASSERT_TRUE(r.statistics);
    // The residual rms is the noise's.
    EXPECT_NEAR(r.speed_rms, 1.5, 0.3);
    EXPECT_NEAR(r.current_rms, 0.08, 0.02);
    for (const FittedParameter& p : r.parameters) {
      const double x = truth[static_cast<std::size_t>(p.gene)];
      EXPECT_LE(p.lower95, p.value);
      EXPECT_GE(p.upper95, p.value);
      inside += p.lower95 <= x && x <= p.upper95 ? 1 : 0;
      ++total;
    }
  }
  EXPECT_GE(inside, total * 3 / 4) << inside << " of " << total;
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
  // No gene to fit; tables never built; a record of three recorded steps for eight genes.
  testing::FitStudy held = f;
  held.s.GenX.fill(false);
  RecordingPlatform platform;
  EXPECT_EQ(FitTrajectory(truth, held.s, held.carried, platform, Threads(2)).end, FitEnd::kRefused);
  testing::FitStudy stale = f;
  stale.s.ExpTableReady = false;
  EXPECT_EQ(FitTrajectory(truth, stale.s, stale.carried, platform, Threads(2)).end,
            FitEnd::kRefused);
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
  // A record cut at 60 % of the study: the tables hold its last values beyond; the fit
  // compares the instants inside the record and still finds the machine.
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
  const FitResult r = FitTrajectory(Scaled(truth, 1.2), f.s, f.carried, platform, Threads(2));
  ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
  EXPECT_LT(r.compared_last, f.carried.experiment.ExpTime.back());
  EXPECT_LT(r.instants, static_cast<int>(f.carried.experiment.ExpWmTable.size()));
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("plus court"), std::string::npos);
  for (int j = 0; j < NGenes; ++j) {
    EXPECT_NEAR(r.genes[static_cast<std::size_t>(j)] / truth[static_cast<std::size_t>(j)], 1.0,
                1e-3)
        << kGeneNames[static_cast<std::size_t>(j)];
  }
  // A table value that is not a number is refused with the instant where it lies.
  f.carried.experiment.ExpWmTable[40] = std::nan("");
  const FitResult bad = FitTrajectory(truth, f.s, f.carried, platform, Threads(2));
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
    EXPECT_LT(out[0].Cost(), 1e-20);
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
  EXPECT_NEAR(r.genes[kGeneTr] / truth[kGeneTr], 1.0, 1e-3);
  EXPECT_NE(FormatFitReport(r, {}).find("départ divergent"), std::string::npos);
}

TEST(TrajectoryFit, ALoadCoefficientFittedToZeroSitsAtItsBound) {
  // The example record's load is constant: the quadratic and linear terms are 0, and a
  // guess of 0 stays there, never evaluated below it.
  Genes truth = LoadedMachineGenes();
  truth[kGeneA10] = 0.0;
  truth[kGeneA20] = 0.0;
  const testing::FitStudy f = MakeFitStudy(truth, 0.2, 1e-4, 10);
  Genes guess = Scaled(truth, 1.2);
  RecordingPlatform platform;
  const FitResult r = FitTrajectory(guess, f.s, f.carried, platform, Threads(2));
  ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
  EXPECT_LT(r.genes[kGeneA10], 1e-12);
  EXPECT_LT(r.genes[kGeneA20], 1e-10);
  EXPECT_TRUE(Param(r, kGeneA10).at_bound);
  EXPECT_TRUE(Param(r, kGeneA20).at_bound);
  EXPECT_EQ(Param(r, kGeneA20).lower95, 0.0);
  EXPECT_NEAR(r.genes[kGeneRs] / truth[kGeneRs], 1.0, 1e-3);
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
