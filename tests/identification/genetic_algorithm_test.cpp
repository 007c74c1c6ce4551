#include "identification/genetic_algorithm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "identification/workbench.h"
#include "identification_fixture.h"

namespace mas {
namespace {

using testing::ReadFile;

const Genes kTarget = {1.4, 0.12, 0.13, 0.06, 0.013, 1e-4, 0.002, 0.5};

// A cheap cost instead of a simulation: squared relative distance of the machine to
// kTarget, read back from the machine fields as a simulation would see them.
CandidateScore DistanceToTarget(SimulationSettings& s, CarriedState&, Platform&) {
  const Genes g = GenesOfMachine(s.dq);
  double cost = 0.0;
  for (int j = 0; j < NGenes; ++j) cost += std::pow(g[j] / kTarget[j] - 1, 2);
  return {cost, false};
}

struct Bench {
  testing::ScratchFolder logs;
  LcgRandom rng;
  GeneticIdentification ga{rng, logs.path()};
  SimulationSettings s;
  CarriedState carried;
  RecordingPlatform platform;
  CandidateEvaluator evaluator{1, DistanceToTarget};
  Bench() {
    s.GenX.fill(true);
    s.dq.p = 2;
  }
  GenerationReport Run() { return ga.RunGeneration(s, carried, platform, evaluator); }
  std::string History() const { return ReadFile(logs.path() / "Histor.cpp"); }
};

// Whether `child` is a mutation of amplitude amp of one of parents[first, last): each gene
// the parent's times a factor in [1 - 0.4998 amp, 1 + 0.5 amp], or the parent's itself.
bool IsMutantOf(const Genes& child, const std::array<Genes, NPop>& parents, int first, int last,
                double amp) {
  for (int p = first; p < last; ++p) {
    bool all = true;
    for (int j = 0; j < NGenes && all; ++j) {
      const double f = child[j] / parents[p][j];
      all = child[j] == parents[p][j] ||
            (f >= 1 - 0.4998 * amp - 1e-12 && f <= 1 + 0.5 * amp + 1e-12);
    }
    if (all) return true;
  }
  return false;
}

TEST(GeneticAlgorithm, RandomizeDrawsEachMarkedGeneInGeneOrderAndRestartsTheHistory) {
  Bench b;
  for (Genes& g : b.ga.XOld) g.fill(7.0);
  b.s.GenX[kGeneTs] = false;
  b.ga.Gen = 12;
  b.ga.Randomize(b.s.GenX, 1234, b.platform);
  LcgRandom replay;
  replay.Randomize(1234);
  const Genes& first = b.ga.XOld[0];
  EXPECT_EQ(first[kGeneRs], (replay.Next() % 1000) * 0.005 + 0.01);
  EXPECT_EQ(first[kGeneTs], 7.0);  // not optimised: kept, and no draw
  EXPECT_EQ(first[kGeneTr], (replay.Next() % 1000) * 0.001 + 0.001);
  EXPECT_EQ(first[kGeneSigma], (replay.Next() % 100) * 0.001 + 0.01);
  EXPECT_EQ(first[kGeneJ], (replay.Next() % 100) * 0.001 + 0.01);
  EXPECT_EQ(first[kGeneA10], (replay.Next() % 100) * 1e-5);
  EXPECT_EQ(first[kGeneA20], (replay.Next() % 100) * 0.001);
  EXPECT_EQ(first[kGeneA30], (replay.Next() % 100) * 0.001);
  for (int i = 7; i < 7 * NPop; ++i) replay.Next();  // seven draws per individual
  EXPECT_EQ(b.rng.state(), replay.state());
  EXPECT_EQ(b.ga.iOld[54], 54);
  EXPECT_EQ(b.ga.Gen, 0);
  EXPECT_EQ(b.History(), "Gen°  Fitness  \tbest \tRs \tTs \tTr \tsigma \tJ \ta10 \ta20 \ta30\n");
}

TEST(GeneticAlgorithm, OneGenerationSortsLogsAndBreedsTheFiveGroupsFromTheBest) {
  Bench b;
  b.s.GenX[kGeneA20] = false;  // held: keeps its value in every individual
  b.ga.Randomize(b.s.GenX, 99, b.platform);
  for (Genes& g : b.ga.XOld) g[kGeneA20] = 0.25;
  const std::array<Genes, NPop> before = b.ga.XOld;
  const std::uint32_t state = b.rng.state();
  EXPECT_EQ(b.Run().end, EvaluationEnd::kComplete);
  EXPECT_EQ(b.ga.Gen, 1);

  // Sorted best first, equal fitnesses in evaluation order.
  std::array<double, NPop> fitness{};
  std::array<int, NPop> order{};
  for (int i = 0; i < NPop; ++i) {
    SimulationSettings probe = b.s;
    MapGenesOntoMachine(before[i], probe);
    fitness[i] = 1 / DistanceToTarget(probe, b.carried, b.platform).cost;
    order[i] = i;
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](int x, int y) { return fitness[x] > fitness[y]; });
  std::array<Genes, NPop> sorted{};
  for (int k = 0; k < NPop; ++k) {
    sorted[k] = before[order[k]];
    EXPECT_EQ(b.ga.Fitness[k], fitness[order[k]]) << k;
  }
  EXPECT_EQ(b.ga.BestFitness, b.ga.Fitness[0]);
  EXPECT_EQ(b.ga.WorstFitness, b.ga.Fitness[NPop - 1]);

  // The groups: elite, mutants of the 10 best (two amplitudes), blends of two of the 15
  // best, mutants of the 25 best, and the best with one gene changed by at most 0.5 %.
  const auto& x = b.ga.XNew;
  EXPECT_EQ(x[0], sorted[0]);
  for (int i = 1; i < 10; ++i) EXPECT_TRUE(IsMutantOf(x[i], sorted, 0, 10, 0.001)) << i;
  for (int i = 10; i < 15; ++i) EXPECT_TRUE(IsMutantOf(x[i], sorted, 0, 10, 0.1)) << i;
  for (int i = 15; i < 25; ++i) {
    bool blend = false;
    for (int a = 0; a < 15; ++a) {
      for (int c = 0; c < 15; ++c) {
        Genes mix{};
        for (int j = 0; j < NGenes; ++j) mix[j] = 0.5 * sorted[a][j] + 0.5 * sorted[c][j];
        blend = blend || mix == x[i];
      }
    }
    EXPECT_TRUE(blend) << i;
  }
  for (int i = 25; i < 35; ++i) EXPECT_TRUE(IsMutantOf(x[i], sorted, 0, 25, 0.5)) << i;
  for (int i = 35; i < NPop; ++i) {
    EXPECT_TRUE(IsMutantOf(x[i], sorted, 0, 1, 0.01)) << i;
    int changed = 0;
    for (int j = 0; j < NGenes; ++j) changed += x[i][j] != sorted[0][j];
    EXPECT_LE(changed, 1) << i;
  }
  // The draws: none while scoring; the first picks individual 1's parent among the 10 best
  // and the second its Rs factor; 276 in all (9 + 5 mutants of 1 + 8 draws, 10 blends of
  // 2, 10 mutants of 1 + 8, 20 single-gene mutants of 2).
  LcgRandom replay;
  replay.Seed(state);
  const int parent = replay.Next() % 10;
  EXPECT_EQ(x[1][kGeneRs],
            ((0.5 - (replay.Next() % 5000) * 0.0002) * 0.001 + 1) * sorted[parent][0]);
  for (int n = 2; n < 276; ++n) replay.Next();
  EXPECT_EQ(b.rng.state(), replay.state());
  for (int i = 0; i < NPop; ++i) {
    EXPECT_EQ(b.ga.XOld[i][kGeneA20], 0.25);
    EXPECT_EQ(b.ga.XOld[i][kGeneRs], x[i][kGeneRs]);
    EXPECT_EQ(b.ga.iOld[i], i);
  }

  // The logs, against printf: the best with its position before the sort, and the
  // population with the optimised genes only.
  char buf[256];
  std::snprintf(buf, sizeof buf, "\n1   %12.5e  \t%3d \t%f \t", b.ga.BestFitness, order[0],
                sorted[0][0]);
  EXPECT_NE(b.History().find(buf), std::string::npos) << b.History();
  const std::string population = ReadFile(b.logs.path() / "debgen.cpp");
  EXPECT_EQ(population.rfind("Gen° 1\n  i  Fitness     \t iOld XOld[0]    \tXNew[0]    \t\t", 0),
            0u);
  std::snprintf(buf, sizeof buf, "\n  1 %12.5e \t%3d  %f \t%f \t\t", b.ga.Fitness[1], order[1],
                sorted[1][0], x[1][0]);
  EXPECT_NE(population.find(buf), std::string::npos);
  EXPECT_EQ(std::count(population.begin(), population.end(), '\t'), 1 + 8 * 3 + NPop * (1 + 7 * 3));
}

TEST(GeneticAlgorithm, SortIsStableAndCostsOfZeroOrOfDivergenceHaveTheirFitness) {
  Bench b;
  b.ga.Randomize(b.s.GenX, 6, b.platform);
  const auto population = b.ga.XOld;
  b.evaluator = CandidateEvaluator(1, [&](SimulationSettings& s, CarriedState&, Platform&) {
    if (s.dq.Rs == population[3][kGeneRs]) return CandidateScore{1e50, false};  // diverged
    if (s.dq.Rs == population[7][kGeneRs]) return CandidateScore{0.0, false};
    return CandidateScore{1.0, false};
  });
  b.Run();
  EXPECT_EQ(b.ga.Fitness[0], 1e20);
  EXPECT_EQ(b.ga.XNew[0], population[7]);
  EXPECT_EQ(b.ga.WorstFitness, 1 / 1e50);
  // The log keeps the order before the sort: the ties in evaluation order.
  const std::string log = ReadFile(b.logs.path() / "debgen.cpp");
  for (const char* line :
       {"\n  0  1.00000e+20 \t  7  ", "\n  1  1.00000e+00 \t  0  ", "\n  4  1.00000e+00 \t  4  ",
        "\n  7  1.00000e+00 \t  8  ", "\n 54  1.00000e-50 \t  3  "}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
}

TEST(GeneticAlgorithm, AGenerationEndsAtTrZeroOrAtAnInterruptedOrRefusedRun) {
  struct Case {
    const char* what;
    int stop;  // individual that ends the generation
    int kind;  // 0: Tr = 0, 1: interrupted, 2: refused
    EvaluationEnd end;
    const char* message;
  };
  const Case cases[] = {
      {"Tr = 0", 5, 0, EvaluationEnd::kTrZero, kTrZeroGenetic},
      {"interrupted", 3, 1, EvaluationEnd::kInterrupted, kRunErrorMessage},
      {"refused", 0, 2, EvaluationEnd::kRefused, kRunErrorMessage},
  };
  for (const Case& c : cases) {
    Bench b;
    b.ga.Randomize(b.s.GenX, 11, b.platform);
    b.ga.Fitness.fill(-3.0);
    if (c.kind == 0) b.ga.XOld[c.stop][kGeneTr] = 0.0;
    const double marker = b.ga.XOld[c.stop][kGeneRs];
    b.evaluator = CandidateEvaluator(1, [&](SimulationSettings& s, CarriedState& cs, Platform& p) {
      CandidateScore score = DistanceToTarget(s, cs, p);
      if (s.dq.Rs == marker && c.kind == 1) score.cost = -1.0;
      if (s.dq.Rs == marker && c.kind == 2) score.refused = true;
      return score;
    });
    const auto before = b.ga.XOld;
    const std::uint32_t state = b.rng.state();
    const GenerationReport report = b.Run();
    EXPECT_EQ(report.end, c.end) << c.what;
    EXPECT_EQ(report.evaluated, c.stop) << c.what;
    ASSERT_EQ(b.platform.messages.size(), 1u) << c.what;
    EXPECT_EQ(b.platform.messages[0].text, c.message) << c.what;
    EXPECT_EQ(b.ga.Gen, 1) << c.what;
    for (int i = 0; i < NPop; ++i) EXPECT_EQ(b.ga.Fitness[i] == -3.0, i >= c.stop) << c.what;
    // Nothing sorted, bred or logged; the machine keeps the last individual mapped.
    EXPECT_EQ(b.ga.XOld, before) << c.what;
    EXPECT_EQ(b.rng.state(), state) << c.what;
    EXPECT_FALSE(std::filesystem::exists(b.logs.path() / "debgen.cpp")) << c.what;
    const std::string history = b.History();
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1) << c.what;
    EXPECT_EQ(b.s.dq.Rs, before[c.kind == 0 ? c.stop - 1 : c.stop][kGeneRs]) << c.what;
  }
}

TEST(GeneticAlgorithm, InitialiseAndTheGenesThatMustNotMove) {
  Bench b;
  const Genes g = {1.0, 0.1, 0.1, 0.95, 0.01, 0.0, 0.001, 0.5};
  ASSERT_TRUE(b.ga.Initialise(4, g, b.s, b.platform));
  EXPECT_EQ(b.ga.Gen, 4);
  EXPECT_EQ(b.ga.XOld[54], g);
  EXPECT_DOUBLE_EQ(b.s.dq.M, 0.1 * std::sqrt(0.05));
  EXPECT_EQ(b.s.cage.J, 0.01);  // both machine models, not the controller's copy
  EXPECT_EQ(b.s.mRs, 0.0);
  Genes zero = g;
  zero[kGeneTr] = 0.0;
  EXPECT_FALSE(b.ga.Initialise(9, zero, b.s, b.platform));
  EXPECT_EQ(b.ga.Gen, 4);
  EXPECT_EQ(b.platform.messages.at(0).text, kTrZeroGenetic);

  // A gene of 0 stays 0 and the others positive, sigma below 1 even under the largest
  // mutations of a population whose sigma is close to 1.
  for (int n = 0; n < 20; ++n) b.Run();
  for (int i = 0; i < NPop; ++i) {
    EXPECT_EQ(b.ga.XOld[i][kGeneA10], 0.0) << i;
    EXPECT_LT(b.ga.XOld[i][kGeneSigma], 1.0) << i;
    EXPECT_GT(*std::min_element(b.ga.XOld[i].begin(), b.ga.XOld[i].begin() + 5), 0.0) << i;
  }
  // Every gene held: the population is scored and sorted, never changed.
  b.s.GenX.fill(false);
  auto members = b.ga.XOld;
  b.Run();
  auto after = b.ga.XOld;
  std::sort(members.begin(), members.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, members);
}

}  // namespace
}  // namespace mas
