// The bootstrap and profile-likelihood intervals of the trajectory fit.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fit/fit_report.h"
#include "fit/trajectory_fit.h"
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

// A constant load only, so that the six fitted parameters are all identified.
testing::FitStudy NoisyStartUp(double tf, std::uint32_t seed) {
  Genes truth = LoadedMachineGenes();
  truth[kGeneA10] = 0.0;
  truth[kGeneA20] = 0.0;
  testing::FitStudy f = MakeFitStudy(truth, tf, 1e-4, 5, 1.5, 0.08, seed, 0, 0.0, 100);
  f.s.GenX[kGeneA10] = false;
  f.s.GenX[kGeneA20] = false;
  return f;
}

TEST(FitBootstrap, GivesTheSameBitsOnAnyThreadCountAndIntervalsLikeTheDefaultOnes) {
  Genes truth = LoadedMachineGenes();
  truth[kGeneA10] = 0.0;
  truth[kGeneA20] = 0.0;
  const testing::FitStudy f = NoisyStartUp(0.15, 3);
  std::vector<std::vector<std::uint64_t>> bits;
  for (int threads : {1, 2}) {
    RecordingPlatform platform;
    FitOptions o = Threads(threads);
    o.bootstrap = 30;
    o.seed = 4;
    const FitResult r = FitTrajectory(Scaled(truth, 1.05), f.s, f.carried, platform, o);
    ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
    const BootstrapSummary& b = r.bootstrap;
    EXPECT_EQ(b.requested, 30);
    EXPECT_EQ(b.used, 30);
    EXPECT_TRUE(b.reliable);
    ASSERT_EQ(b.block_length.size(), 1u);
    EXPECT_EQ(b.block_length[0], r.hac_window);
    ASSERT_EQ(b.parameters.size(), r.parameters.size());
    std::vector<std::uint64_t> v = {static_cast<std::uint64_t>(b.runs)};
    int inside = 0;
    for (const ResampledParameter& p : b.parameters) {
      const FittedParameter& d = Param(r, p.gene);
      SCOPED_TRACE(kGeneNames[static_cast<std::size_t>(p.gene)]);
      // Around the fitted value, and of the default interval's width within a factor 2
      // (30 resamples: their percentiles are rough).
      EXPECT_LT(p.lower95, d.value);
      EXPECT_GT(p.upper95, d.value);
      const double ratio = (p.upper95 - p.lower95) / (d.upper95 - d.lower95);
      EXPECT_GT(ratio, 0.5);
      EXPECT_LT(ratio, 2.0);
      const double x = truth[static_cast<std::size_t>(p.gene)];
      inside += p.lower95 <= x && x <= p.upper95 ? 1 : 0;
      v.insert(v.end(), {Bits(p.lower95), Bits(p.upper95), Bits(p.standard_error)});
    }
    EXPECT_GE(inside, 5);
    bits.push_back(v);
    if (threads == 2) {
      // The default table first, as it was; the bootstrap's under its own heading after it.
      const std::string text = FormatFitReport(r, {});
      const std::size_t table =
          text.find("Paramètre  Valeur        Écart-type   Intervalle à 95 %");
      const std::size_t boot = text.find("Intervalles bootstrap (blocs mobiles");
      ASSERT_NE(table, std::string::npos) << text;
      ASSERT_NE(boot, std::string::npos) << text;
      EXPECT_LT(table, boot);
      EXPECT_NE(text.find("Bootstrap        : bootstrap par blocs mobiles"), std::string::npos);
      EXPECT_EQ(text.find("peu fiables"), std::string::npos);
      const std::string json = FormatFitReportJson(r, {});
      EXPECT_NE(json.find("\"bootstrap\": {\"method\": \"moving-block\""), std::string::npos);
      EXPECT_NE(json.find("\"reliable\": true"), std::string::npos);
      EXPECT_NE(json.find("\"profile\": null"), std::string::npos);
    }
  }
  EXPECT_EQ(bits[0], bits[1]);
}

TEST(FitBootstrap, RefitsThatDoNotConvergeAreCountedAndTheIntervalsSaidUnreliable) {
  Genes truth = LoadedMachineGenes();
  truth[kGeneA10] = 0.0;
  truth[kGeneA20] = 0.0;
  const testing::FitStudy f = NoisyStartUp(0.1, 5);
  RecordingPlatform platform;
  // Two iterations per refit: none can meet the tolerances.
  FitOptions o = Threads(2);
  o.bootstrap = 6;
  o.max_iterations = 2;
  const FitResult r = FitTrajectory(truth, f.s, f.carried, platform, o);
  ASSERT_TRUE(r.statistics) << r.message;
  const BootstrapSummary& b = r.bootstrap;
  EXPECT_EQ(b.used + b.diverged + b.not_converged, 6);
  EXPECT_GE(b.not_converged + b.diverged, 5);
  EXPECT_FALSE(b.reliable);
  const std::string text = FormatFitReport(r, {});
  EXPECT_NE(text.find(b.used > 0 ? "Intervalles bootstrap peu fiables"
                                 : "Aucun réajustement n'a convergé"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("non convergé(s) et écarté(s)"), std::string::npos) << text;
  EXPECT_NE(FormatFitReportJson(r, {}).find("\"reliable\": false"), std::string::npos);
}

TEST(FitBootstrap, RefusesACountOutsideItsBounds) {
  const testing::FitStudy f = NoisyStartUp(0.05, 1);
  for (int count : {-1, kMostBootstrapResamples + 1}) {
    RecordingPlatform platform;
    FitOptions o = Threads(1);
    o.bootstrap = count;
    const FitResult r = FitTrajectory(LoadedMachineGenes(), f.s, f.carried, platform, o);
    EXPECT_EQ(r.end, FitEnd::kRefused);
    EXPECT_NE(r.message.find("1 à 10000"), std::string::npos) << r.message;
    EXPECT_EQ(r.runs, 0);
  }
}

TEST(FitProfile, HoldsTheTruthOfTheStronglyCorrelatedParametersOnly) {
  // A 60 ms noisy start-up with every load term fitted: Tr and sigma trade against each
  // other (correlation -0.99), the others are told apart.
  const Genes truth = LoadedMachineGenes();
  const testing::FitStudy f = MakeFitStudy(truth, 0.06, 1e-4, 2, 1.5, 0.08, 3, 0, 0.0, 100);
  RecordingPlatform platform;
  FitOptions o = Threads(2);
  o.profile = true;
  const FitResult r = FitTrajectory(truth, f.s, f.carried, platform, o);
  ASSERT_EQ(r.end, FitEnd::kConverged) << r.message;
  ASSERT_TRUE(r.profile.asked);
  std::vector<int> profiled;
  for (const ProfiledParameter& p : r.profile.parameters) {
    profiled.push_back(p.gene);
    SCOPED_TRACE(kGeneNames[static_cast<std::size_t>(p.gene)]);
    const double x = truth[static_cast<std::size_t>(p.gene)];
    EXPECT_FALSE(p.lower_open || p.upper_open);
    EXPECT_LT(p.lower95, x);
    EXPECT_GT(p.upper95, x);
    // Nearly linear here: the profile's ends are the default interval's, to a few %.
    const FittedParameter& d = Param(r, p.gene);
    EXPECT_NEAR(p.lower95, d.lower95, 0.1 * (d.value - d.lower95));
    EXPECT_NEAR(p.upper95, d.upper95, 0.1 * (d.upper95 - d.value));
  }
  EXPECT_EQ(profiled, (std::vector<int>{kGeneTr, kGeneSigma}));
  EXPECT_GT(r.profile.runs, 100);
  const std::string text = FormatFitReport(r, {});
  EXPECT_NE(text.find("Intervalles de vraisemblance profilée\nParamètre"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Profil           : vraisemblance profilée"), std::string::npos);
  const std::string json = FormatFitReportJson(r, {});
  EXPECT_NE(json.find("\"profile\": {\"method\": \"profile-likelihood\""), std::string::npos);
  EXPECT_NE(json.find("{\"name\": \"sigma\", \"lower95\""), std::string::npos) << json;
}

}  // namespace
}  // namespace mas
