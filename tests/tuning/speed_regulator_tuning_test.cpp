#include "tuning/speed_regulator_tuning.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/run_simulation.h"
#include "examples/example_machine.h"
#include "identification/genetic_operators.h"

namespace mas {
namespace {

namespace fs = std::filesystem;

fs::path TempFolder() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path folder = fs::temp_directory_path() /
                    ("mas_tuning_" + std::string(test->name()) + "_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  return folder;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A speed step of 1000 tr/mn at 0.05 s and a load step at 0.2 s under vector control,
// with the IP or the fuzzy speed regulator, coarse steps so that a generation is cheap.
SimulationSettings TuningStudy(TunedRegulator kind) {
  SimulationSettings s = example::ExampleStudy(0.3, 1e-4);
  example::SetExampleVectorControl(s);
  s.WPI = false;
  s.OutStep = 10;
  s.Wmt = {0.05, 100.0, 100.0, 100.0};
  s.Wmref = {1000.0, 0.0, 0.0, 0.0};
  s.Crt = {0.2, 100.0, 100.0, 100.0};
  s.da3ref = {10.0, 0.0, 0.0, 0.0};
  (kind == TunedRegulator::kIP ? s.WIP : s.WFlou) = true;
  return s;
}

// A cheap deterministic cost of the genes in the study: the distance to a target set.
CandidateScore DistanceToTarget(SimulationSettings& s, CarriedState&, Platform&) {
  const double d0 = s.KpW - 0.5, d1 = s.KiW - 0.01, d2 = s.TtW - 1.2;
  return {d0 * d0 + d1 * d1 + d2 * d2 + 1e-6, false};
}

TEST(SpeedRegulatorTuning, ElitesSurviveAndNewIndividualsStayInTheirRanges) {
  for (TunedRegulator kind : {TunedRegulator::kIP, TunedRegulator::kFuzzy}) {
    const bool ip = kind == TunedRegulator::kIP;
    LcgRandom rng;
    SpeedRegulatorTuning tuning(kind, rng, TempFolder());
    RecordingPlatform platform;
    tuning.Randomize(12345, platform);
    ASSERT_EQ(tuning.NPop(), ip ? 45 : 55);
    for (const RegulatorGenes& g : tuning.XOld) {
      EXPECT_GE(g[0], 0.0001);
      EXPECT_LE(g[0], ip ? 9.9901 : 0.9991);
      EXPECT_LE(g[2], ip ? 1.999 : 9.9901);
      if (ip) {
        EXPECT_GE(g[2], 1.0);
      }
    }
    SimulationSettings s = TuningStudy(kind);
    CarriedState carried;
    const CandidateEvaluator evaluator(1, DistanceToTarget);
    ASSERT_EQ(tuning.RunGeneration(s, carried, platform, evaluator).end, EvaluationEnd::kComplete);
    // The sorted old population is logged; the elite reach the new one unchanged.
    const int elite = ip ? 5 : 1;
    const std::vector<RegulatorGenes> sorted_old = [&] {
      std::vector<RegulatorGenes> v;
      std::istringstream log(ReadFile(TempFolder() / "debgen.cpp"));
      std::string line;
      std::getline(log, line);
      std::getline(log, line);
      for (int i = 0; i < tuning.NPop() && std::getline(log, line); ++i) {
        int index;
        double fitness, o0, n0, o1, n1, o2, n2;
        std::sscanf(line.c_str(), "%d %le %lf %lf %lf %lf %lf %lf", &index, &fitness, &o0, &n0, &o1,
                    &n1, &o2, &n2);
        v.push_back({o0, o1, o2});
      }
      return v;
    }();
    ASSERT_EQ(static_cast<int>(sorted_old.size()), tuning.NPop());
    for (int i = 0; i < elite; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(tuning.XOld[i][j], sorted_old[i][j], 1e-6) << i;
    }
    for (int i = 1; i < tuning.NPop(); ++i) EXPECT_GE(tuning.Fitness[i - 1], tuning.Fitness[i]);
    if (ip) {
      // The immigrants are new random individuals.
      for (int i = 35; i < 45; ++i) {
        EXPECT_GE(tuning.XOld[i][2], 1.0);
        EXPECT_LE(tuning.XOld[i][2], 1.999);
      }
    } else {
      // The last group copies the best with exactly one gene changed by at most 0.5 %.
      for (int i = 35; i < 55; ++i) {
        int changed = 0;
        for (int j = 0; j < 3; ++j) {
          if (tuning.XOld[i][j] != tuning.XOld[0][j]) ++changed;
          EXPECT_NEAR(tuning.XOld[i][j] / tuning.XOld[0][j], 1.0, 0.00501);
        }
        EXPECT_LE(changed, 1) << i;
      }
    }
  }
}

TEST(SpeedRegulatorTuning, RecoverSpreadsAroundTheCurrentSettingsAndKeepsZeros) {
  LcgRandom rng;
  rng.Seed(7);
  SpeedRegulatorTuning tuning(TunedRegulator::kIP, rng, TempFolder());
  SimulationSettings s;
  s.KpW = 0.4;
  s.KiW = 0.0;
  s.TtW = 1.0;
  tuning.Recover(s);
  for (const RegulatorGenes& g : tuning.XOld) {
    EXPECT_GE(g[0], 0.4 * (1 - 0.2499));
    EXPECT_LE(g[0], 0.4 * 1.25);
    EXPECT_EQ(g[1], 0.0);  // a zero setting stays zero in every individual
  }
}

TEST(SpeedRegulatorTuning, PerfectTrackingOfAConstantReferenceHasTheFitnessOfZeroCost) {
  SimulationSettings s = TuningStudy(TunedRegulator::kIP);
  // The reference stays 0 and the machine is not fluxed: it stays exactly at rest, the
  // speed loop tracks perfectly and never moves Iqsref.
  s.Wmt = {100.0, 100.0, 100.0, 100.0};
  s.Crt = {100.0, 100.0, 100.0, 100.0};
  s.Idsref1 = 0.0;
  s.tf = 0.05;
  CarriedState carried;
  RecordingPlatform platform;
  const CandidateScore score = TuningScore(s, carried, platform);
  EXPECT_EQ(score.cost, 0.0);
  EXPECT_EQ(FitnessOfCost(score.cost), 1e20);
}

TEST(SpeedRegulatorTuning, StudiesWhoseSpeedLoopIgnoresTheGenesAreRefused) {
  SimulationSettings s = TuningStudy(TunedRegulator::kIP);
  EXPECT_EQ(TuningRefusal(TunedRegulator::kIP, s), "");
  EXPECT_NE(TuningRefusal(TunedRegulator::kFuzzy, s), "");  // the study uses IP
  s.WNN = true;                                             // a later form sets Iqsref
  EXPECT_NE(TuningRefusal(TunedRegulator::kIP, s), "");
  SimulationSettings open_loop = TuningStudy(TunedRegulator::kIP);
  open_loop.VectCtrl = 0;
  EXPECT_NE(TuningRefusal(TunedRegulator::kIP, open_loop), "");
  SimulationSettings unsampled = TuningStudy(TunedRegulator::kIP);
  unsampled.NTregW = 0;
  EXPECT_NE(TuningRefusal(TunedRegulator::kIP, unsampled), "");
}

TEST(SpeedRegulatorTuning, GenerationsInParallelAreThoseOfOneByOneAndImproveTheResponse) {
  for (TunedRegulator kind : {TunedRegulator::kIP, TunedRegulator::kFuzzy}) {
    auto run = [kind](int threads, int generations, std::string& history, double& first_best) {
      const fs::path folder = TempFolder() / std::to_string(threads);
      fs::create_directories(folder);
      LcgRandom rng;
      SpeedRegulatorTuning tuning(kind, rng, folder);
      RecordingPlatform platform;
      tuning.Randomize(2026, platform);
      SimulationSettings s = TuningStudy(kind);
      CarriedState carried;
      const CandidateEvaluator evaluator(threads, TuningScore);
      for (int g = 0; g < generations; ++g) {
        EXPECT_EQ(tuning.RunGeneration(s, carried, platform, evaluator).end,
                  EvaluationEnd::kComplete);
        if (g == 0) first_best = tuning.BestFitness;
      }
      history = ReadFile(folder / "debgen.cpp") + ReadFile(folder / "HistorF.cpp");
      const double best = tuning.BestFitness;
      // A new population has no fitness yet: the last series' best is not its best.
      tuning.Randomize(7, platform);
      EXPECT_EQ(tuning.BestFitness, 0.0);
      EXPECT_EQ(tuning.WorstFitness, 0.0);
      return best;
    };
    std::string one_by_one, parallel;
    double first_sequential = 0, first_parallel = 0;
    const double best_sequential = run(1, 6, one_by_one, first_sequential);
    const double best_parallel = run(3, 6, parallel, first_parallel);
    EXPECT_EQ(best_sequential, best_parallel);
    EXPECT_EQ(one_by_one, parallel);
    // Six generations from a random start reduce the cost of the best response.
    EXPECT_GT(best_sequential, first_sequential);
  }
}

}  // namespace
}  // namespace mas
