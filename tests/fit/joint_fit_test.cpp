#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "fit/fit_report.h"
#include "fit/trajectory_fit.h"
#include "fit_fixture.h"
#include "fit_result_checks.h"

namespace mas {
namespace {

using testing::LoadedMachineGenes;
using testing::MakeFitStudy;
using testing::MakeLoadStepStudy;
using testing::Param;
using testing::Scaled;
using testing::Threads;
using testing::Warned;

std::string Warnings(const FitResult& r) {
  std::string all;
  for (const std::string& w : r.warnings) all += w + "\n";
  return all;
}

// A start-up and a load step at speed, both made ten times finer than the fit's studies.
struct Pair {
  testing::FitStudy start;
  testing::FitStudy step;
  std::array<FitRecord, 2> Records() const {
    return {FitRecord{&start.s, &start.carried, "demarrage.dat"},
            FitRecord{&step.s, &step.carried, "echelon.dat"}};
  }
};

Pair MakePair(const Genes& truth, double speed_noise, double current_noise) {
  return {MakeFitStudy(truth, 0.25, 1e-4, 5, speed_noise, current_noise, 3),
          MakeLoadStepStudy(truth, 0.6, 0.35, 15.0)};
}

TEST(JointFit, RecoversTheMachineFromAStartUpAndALoadStep) {
  const Genes truth = LoadedMachineGenes();
  const Pair pair = MakePair(truth, 0.0, 0.0);
  const auto records = pair.Records();
  for (double factor : {1.25}) {
    SCOPED_TRACE(factor);
    RecordingPlatform platform;
    const FitResult r = FitTrajectories(Scaled(truth, factor), records, platform, Threads(2));
    ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
    for (int j : {kGeneRs, kGeneTs, kGeneTr, kGeneSigma, kGeneJ}) {
      EXPECT_NEAR(r.genes[static_cast<std::size_t>(j)] / truth[static_cast<std::size_t>(j)], 1.0,
                  1.5e-3)
          << kGeneNames[static_cast<std::size_t>(j)];
    }
    EXPECT_NEAR(r.genes[kGeneA30] / truth[kGeneA30], 1.0, 1e-2);
    // Both records are compared, each over its own span and with its own weights.
    ASSERT_EQ(r.records.size(), 2U);
    EXPECT_EQ(r.records[0].name, "demarrage.dat");
    EXPECT_EQ(r.records[0].instants, 500);
    EXPECT_EQ(r.records[1].instants, 1201);
    EXPECT_EQ(r.instants, 1701);
    EXPECT_EQ(r.residuals, 2 * 1701);
    EXPECT_NEAR(r.records[1].compared_last, 0.6, 1e-9);
    EXPECT_DOUBLE_EQ(r.simulated_until, r.records[1].compared_last);
    for (const RecordFit& rec : r.records) {
      EXPECT_LT(rec.current_rms, 0.05) << rec.name;
      EXPECT_LT(rec.speed_rms, 0.2) << rec.name;
    }
    // The joint rms weighs each record by its instants.
    const double joint_sq = (500 * r.records[0].speed_rms * r.records[0].speed_rms +
                             1201 * r.records[1].speed_rms * r.records[1].speed_rms) /
                            1701;
    EXPECT_NEAR(r.speed_rms, std::sqrt(joint_sq), 1e-12);
    const std::string json = FormatFitReportJson(r, {});
    EXPECT_NE(json.find("\"records\": [\n    {\"record\": \"demarrage.dat\", \"instants\": 500"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"record\": \"echelon.dat\", \"instants\": 1201"), std::string::npos);
    const std::string text = FormatFitReport(r, {});
    EXPECT_NE(text.find("  echelon.dat"), std::string::npos) << text;
  }
}

TEST(JointFit, ALoadStepSeparatesWhatTheStartUpCannot) {
  const Genes truth = LoadedMachineGenes();
  Pair pair = MakePair(truth, 1.5, 0.08);
  const auto records = pair.Records();
  {
    // Speed alone: a start-up does not separate Rs from the others; with the load step
    // beside it, Rs has a finite interval that holds the truth.
    Pair speed_only = MakePair(truth, 1.5, 0.08);
    speed_only.start.s.gIasF = 0.0;
    speed_only.step.s.gIasF = 0.0;
    RecordingPlatform platform;
    const FitResult alone = FitTrajectory(Scaled(truth, 1.1), speed_only.start.s,
                                          speed_only.start.carried, platform, Threads(2));
    ASSERT_TRUE(alone.statistics) << alone.message;
    EXPECT_FALSE(Param(alone, kGeneRs).identifiable);
    EXPECT_TRUE(Warned(alone, "Rs")) << Warnings(alone);
    const auto both = speed_only.Records();
    FitOptions o = Threads(2);
    o.max_iterations = 100;
    const FitResult joint = FitTrajectories(Scaled(truth, 1.1), both, platform, o);
    ASSERT_TRUE(joint.statistics) << joint.message;
    const FittedParameter& rs = Param(joint, kGeneRs);
    EXPECT_TRUE(std::isfinite(rs.standard_error));
    EXPECT_FALSE(Warned(joint, "ne sépare pas")) << Warnings(joint);
    EXPECT_LE(rs.lower95, truth[kGeneRs]);
    EXPECT_GE(rs.upper95, truth[kGeneRs]);
  }
  // Both signals: the load step narrows the start-up's Rs interval, and each record keeps
  // its own noise level (the start-up's sensor noise, the step's far lower model error).
  RecordingPlatform platform;
  const FitResult alone =
      FitTrajectory(Scaled(truth, 1.1), pair.start.s, pair.start.carried, platform, Threads(2));
  const FitResult joint = FitTrajectories(Scaled(truth, 1.1), records, platform, Threads(2));
  ASSERT_TRUE(alone.statistics && joint.statistics);
  const FittedParameter& a = Param(alone, kGeneRs);
  const FittedParameter& b = Param(joint, kGeneRs);
  EXPECT_LT(b.upper95 - b.lower95, 0.9 * (a.upper95 - a.lower95));
  EXPECT_LE(b.lower95, truth[kGeneRs]);
  EXPECT_GE(b.upper95, truth[kGeneRs]);
  EXPECT_NEAR(joint.records[0].speed_noise, 1.5, 0.3);
  EXPECT_NEAR(joint.records[0].current_noise, 0.08, 0.016);
  EXPECT_LT(joint.records[1].speed_noise, 0.5);
  EXPECT_LT(joint.records[1].current_noise, 0.03);
}

TEST(JointFit, ARecordThatCannotBeUsedNamesItself) {
  const Genes truth = LoadedMachineGenes();
  Pair pair = MakePair(truth, 0.0, 0.0);
  // The step's record runs backwards at one row.
  std::vector<double>& times = pair.step.carried.experiment.ExpTime;
  std::swap(times[100], times[101]);
  const auto records = pair.Records();
  RecordingPlatform platform;
  const FitResult r = FitTrajectories(truth, records, platform, Threads(2));
  EXPECT_EQ(r.end, FitEnd::kRefused);
  EXPECT_EQ(r.message.rfind("Enregistrement echelon.dat : ", 0), 0U) << r.message;
  EXPECT_EQ(r.runs, 0);
}

}  // namespace
}  // namespace mas
