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
using testing::ScratchFolder;

const Genes kTarget = {1.4, 0.12, 0.13, 0.06, 0.013, 1e-4, 0.002, 0.5};

// A cheap cost instead of a simulation: squared relative distance of the machine to
// kTarget, read back from the machine fields as a simulation would see them.
CandidateScore DistanceToTarget(SimulationSettings& s, CarriedState& carried, Platform&) {
  const Genes g = GenesOfMachine(s.dq);
  double cost = 0.0;
  for (int j = 0; j < NGenes; ++j) cost += std::pow(g[j] / kTarget[j] - 1, 2);
  carried.CostIdent = cost;
  return {cost, false};
}

struct Bench {
  ScratchFolder logs;
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
  std::string Population() const { return ReadFile(logs.path() / "debgen.cpp"); }
};

// The breeding of one generation written out group by group, draw by draw, with its own
// generator: the sequence a seed must replay.
std::array<Genes, NPop> Breed(const std::array<Genes, NPop>& x, LcgRandom& r) {
  auto factor = [&r](double amp) { return (0.5 - (r.Next() % 5000) * 0.0002) * amp + 1; };
  auto keep = [](int j, double v, double parent) {
    return v > 0 && !(j == kGeneSigma && v >= 1) ? v : parent;
  };
  auto mutant = [&](int p, double amp) {
    Genes g{};
    for (int j = 0; j < NGenes; ++j) g[j] = keep(j, factor(amp) * x[p][j], x[p][j]);
    return g;
  };
  std::array<Genes, NPop> y{};
  y[0] = x[0];
  for (int i = 1; i < 10; ++i) y[i] = mutant(r.Next() % 10, 0.001);
  for (int i = 10; i < 15; ++i) y[i] = mutant(r.Next() % 10, 0.1);
  for (int i = 15; i < 25; ++i) {
    const int a = r.Next() % 15;
    const int b = r.Next() % 15;
    for (int j = 0; j < NGenes; ++j) y[i][j] = 0.5 * x[a][j] + 0.5 * x[b][j];
  }
  for (int i = 25; i < 35; ++i) y[i] = mutant(r.Next() % 25, 0.5);
  for (int i = 35; i < NPop; ++i) {
    y[i] = x[0];
    const int k = r.Next() % NGenes;
    y[i][k] = keep(k, factor(0.01) * x[0][k], x[0][k]);
  }
  return y;
}

TEST(GeneticAlgorithm, RandomizeDrawsEachMarkedGeneInGeneOrderAndRestartsTheHistory) {
  Bench b;
  for (Genes& g : b.ga.XOld) g.fill(7.0);
  std::array<bool, NGenes> genx{};
  genx.fill(true);
  genx[kGeneTs] = genx[kGeneA20] = false;
  b.ga.Gen = 12;
  b.ga.Randomize(genx, 1234, b.platform);

  LcgRandom replay;
  replay.Randomize(1234);
  for (int i = 0; i < NPop; ++i) {
    EXPECT_EQ(b.ga.iOld[i], i);
    const Genes& g = b.ga.XOld[i];
    int r = replay.Next();
    EXPECT_EQ(g[kGeneRs], (r % 1000) * 0.005 + 0.01);
    EXPECT_EQ(g[kGeneTs], 7.0);  // not optimised: kept, and no draw
    r = replay.Next();
    EXPECT_EQ(g[kGeneTr], (r % 1000) * 0.001 + 0.001);
    r = replay.Next();
    EXPECT_EQ(g[kGeneSigma], (r % 100) * 0.001 + 0.01);
    r = replay.Next();
    EXPECT_EQ(g[kGeneJ], (r % 100) * 0.001 + 0.01);
    r = replay.Next();
    EXPECT_EQ(g[kGeneA10], (r % 100) * 1e-5);
    EXPECT_EQ(g[kGeneA20], 7.0);
    r = replay.Next();
    EXPECT_EQ(g[kGeneA30], (r % 100) * 0.001);
  }
  EXPECT_EQ(b.rng.state(), replay.state());
  EXPECT_EQ(b.ga.Gen, 0);
  EXPECT_EQ(b.History(), "Gen°  Fitness  \tbest \tRs \tTs \tTr \tsigma \tJ \ta10 \ta20 \ta30\n");
}

TEST(GeneticAlgorithm, OneGenerationScoresSortsLogsAndBreedsGroupByGroup) {
  Bench b;
  b.s.GenX[kGeneA20] = false;  // held: keeps its value in every individual
  b.ga.Randomize(b.s.GenX, 99, b.platform);
  for (Genes& g : b.ga.XOld) g[kGeneA20] = 0.25;
  const std::array<Genes, NPop> before = b.ga.XOld;
  const std::uint32_t state = b.rng.state();

  const GenerationReport report = b.Run();
  EXPECT_EQ(report.end, EvaluationEnd::kComplete);
  EXPECT_EQ(report.evaluated, NPop);
  EXPECT_EQ(b.ga.Gen, 1);
  EXPECT_TRUE(b.platform.messages.empty());

  // Sorted best first, equal fitnesses in evaluation order; each fitness is the inverse of
  // its individual's cost.
  std::array<double, NPop> fitness{};
  std::array<int, NPop> order{};
  for (int i = 0; i < NPop; ++i) {
    SimulationSettings probe = b.s;
    MapGenesOntoMachine(before[i], probe);
    CarriedState unused;
    fitness[i] = 1 / DistanceToTarget(probe, unused, b.platform).cost;
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

  // The draws: none during the evaluation, then the groups in order.
  LcgRandom replay;
  replay.Seed(state);
  const std::array<Genes, NPop> children = Breed(sorted, replay);
  EXPECT_EQ(b.rng.state(), replay.state());
  for (int i = 0; i < NPop; ++i) {
    for (int j = 0; j < NGenes; ++j) {
      EXPECT_EQ(b.ga.XNew[i][j], children[i][j]) << i << " " << j;
      EXPECT_EQ(b.ga.XOld[i][j], j == kGeneA20 ? 0.25 : children[i][j]) << i << " " << j;
    }
    EXPECT_EQ(b.ga.iOld[i], i);
  }

  // The history line (the best with its position before the sort) and the population
  // log, against printf.
  char buf[256];
  std::string expected = "Gen°  Fitness  \tbest \tRs \tTs \tTr \tsigma \tJ \ta10 \ta20 \ta30\n";
  std::snprintf(buf, sizeof buf, "%d   %12.5e  \t%3d \t", 1, b.ga.BestFitness, order[0]);
  expected += buf;
  for (int j = 0; j < NGenes; ++j) {
    std::snprintf(buf, sizeof buf, "%f \t", sorted[0][j]);
    expected += buf;
  }
  expected += "\n";
  EXPECT_EQ(b.History(), expected);

  std::string population = "Gen° 1\n  i  Fitness     \t iOld ";
  for (int j = 0; j < NGenes; ++j) {
    std::snprintf(buf, sizeof buf, "XOld[%d]    \tXNew[%d]    \t\t", j, j);
    population += buf;
  }
  population += "\n";
  for (int i = 0; i < NPop; ++i) {
    std::snprintf(buf, sizeof buf, "%3d %12.5e \t%3d  ", i, b.ga.Fitness[i], order[i]);
    population += buf;
    for (int j = 0; j < NGenes; ++j) {
      if (j == kGeneA20) continue;
      std::snprintf(buf, sizeof buf, "%f \t%f \t\t", sorted[i][j], children[i][j]);
      population += buf;
    }
    population += "\n";
  }
  EXPECT_EQ(b.Population(), population);
}

TEST(GeneticAlgorithm, SortIsStableAndCostsOfZeroOrOfDivergenceHaveTheirFitness) {
  // Every individual equally good: the evaluation order stays.
  Bench b;
  b.evaluator = CandidateEvaluator(1, [](SimulationSettings&, CarriedState&, Platform&) {
    return CandidateScore{2.0, false};
  });
  b.ga.Randomize(b.s.GenX, 5, b.platform);
  const auto before = b.ga.XOld;
  b.ga.RunGeneration(b.s, b.carried, b.platform, b.evaluator);
  EXPECT_EQ(b.ga.XNew[0], before[0]);
  for (int i = 0; i < NPop; ++i) EXPECT_EQ(b.ga.Fitness[i], 0.5);
  EXPECT_NE(b.History().find("\n1    5.00000e-01  \t  0 \t"), std::string::npos) << b.History();

  // Cost 0 gives 1e20; a diverged run (1e50) sinks to the end; ties keep their order.
  Bench c;
  c.ga.Randomize(c.s.GenX, 6, c.platform);
  const auto order = c.ga.XOld;
  c.evaluator = CandidateEvaluator(1, [&order](SimulationSettings& s, CarriedState&, Platform&) {
    const double rs = s.dq.Rs;
    if (rs == order[3][kGeneRs]) return CandidateScore{1e50, false};
    if (rs == order[7][kGeneRs]) return CandidateScore{0.0, false};
    return CandidateScore{1.0, false};
  });
  c.ga.RunGeneration(c.s, c.carried, c.platform, c.evaluator);
  EXPECT_EQ(c.ga.Fitness[0], 1e20);
  EXPECT_EQ(c.ga.iOld[0], 0);  // iOld is reset after breeding; the log keeps the order
  EXPECT_EQ(c.ga.XNew[0], order[7]);
  EXPECT_EQ(c.ga.WorstFitness, 1 / 1e50);
  const std::string log = ReadFile(c.logs.path() / "debgen.cpp");
  EXPECT_NE(log.find("\n  0  1.00000e+20 \t  7  "), std::string::npos);
  EXPECT_NE(log.find("\n  1  1.00000e+00 \t  0  "), std::string::npos);
  EXPECT_NE(log.find("\n  2  1.00000e+00 \t  1  "), std::string::npos);
  EXPECT_NE(log.find("\n  3  1.00000e+00 \t  2  "), std::string::npos);
  EXPECT_NE(log.find("\n  4  1.00000e+00 \t  4  "), std::string::npos);
  EXPECT_NE(log.find("\n 54  1.00000e-50 \t  3  "), std::string::npos);
}

TEST(GeneticAlgorithm, HeldGenesZeroGenesAndLeakageStayWhereTheyMustOverGenerations) {
  // All genes held: evaluated and sorted, never changed.
  Bench held;
  held.ga.Randomize(held.s.GenX, 8, held.platform);
  held.s.GenX.fill(false);
  const auto start = held.ga.XOld;
  for (int n = 0; n < 3; ++n) held.Run();
  for (int i = 0; i < NPop; ++i) {
    // The population keeps its members, in sorted order.
    bool found = false;
    for (const Genes& g : start) found = found || g == held.ga.XOld[i];
    EXPECT_TRUE(found) << i;
  }

  // A gene of 0 stays 0; every other gene stays positive and sigma below 1, even under the
  // largest mutations of a population whose sigma is close to 1.
  Bench b;
  ASSERT_TRUE(b.ga.Initialise(0, {1.0, 0.1, 0.1, 0.95, 0.01, 0.0, 0.001, 0.5}, b.s, b.platform));
  for (int n = 0; n < 20; ++n) b.Run();
  for (int i = 0; i < NPop; ++i) {
    EXPECT_EQ(b.ga.XOld[i][kGeneA10], 0.0) << i;
    EXPECT_LT(b.ga.XOld[i][kGeneSigma], 1.0) << i;
    for (int j : {kGeneRs, kGeneTs, kGeneTr, kGeneSigma, kGeneJ, kGeneA20, kGeneA30}) {
      EXPECT_GT(b.ga.XOld[i][j], 0.0) << i << " " << j;
    }
  }
  EXPECT_EQ(b.ga.Gen, 20);
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
    const int kind = c.kind;
    b.evaluator =
        CandidateEvaluator(1, [marker, kind](SimulationSettings& s, CarriedState& cs, Platform& p) {
          CandidateScore score = DistanceToTarget(s, cs, p);
          if (s.dq.Rs == marker && kind == 1) score.cost = -1.0;
          if (s.dq.Rs == marker && kind == 2) score.refused = true;
          return score;
        });
    const auto before = b.ga.XOld;
    const std::uint32_t state = b.rng.state();
    const GenerationReport report = b.Run();
    EXPECT_EQ(report.end, c.end) << c.what;
    EXPECT_EQ(report.evaluated, c.stop) << c.what;
    ASSERT_EQ(b.platform.messages.size(), 1u) << c.what;
    EXPECT_EQ(b.platform.messages[0].text, c.message) << c.what;
    EXPECT_EQ(b.platform.messages[0].icon, MessageIcon::kStop);
    EXPECT_EQ(b.ga.Gen, 1) << c.what;
    for (int i = 0; i < NPop; ++i) EXPECT_EQ(b.ga.Fitness[i] == -3.0, i >= c.stop) << c.what;
    EXPECT_EQ(b.ga.XOld, before) << c.what;  // nothing sorted nor bred
    EXPECT_EQ(b.rng.state(), state) << c.what;
    EXPECT_FALSE(std::filesystem::exists(b.logs.path() / "debgen.cpp")) << c.what;
    EXPECT_EQ(b.History().find('\n'), b.History().size() - 1) << c.what;  // header alone
    // The machine keeps the last individual that was mapped.
    const int last = c.kind == 0 ? c.stop - 1 : c.stop;
    EXPECT_EQ(b.s.dq.Rs, before[last][kGeneRs]) << c.what;
  }
}

TEST(GeneticAlgorithm, InitialiseSetsEveryIndividualAndTheMachineButRefusesTrZero) {
  Bench b;
  const Genes g = {1.2, 0.14, 0.115, 0.07, 0.015, 0.0, 0.001, 1.6};
  ASSERT_TRUE(b.ga.Initialise(4, g, b.s, b.platform));
  EXPECT_EQ(b.ga.Gen, 4);
  for (int i = 0; i < NPop; ++i) EXPECT_EQ(b.ga.XOld[i], g);
  EXPECT_DOUBLE_EQ(b.s.dq.Ls, 1.2 * 0.14);
  EXPECT_EQ(b.s.dq.Lr, b.s.dq.Ls);
  EXPECT_DOUBLE_EQ(b.s.dq.Rr, 1.2 * 0.14 / 0.115);
  EXPECT_DOUBLE_EQ(b.s.dq.M, 1.2 * 0.14 * std::sqrt(0.93));
  EXPECT_EQ(b.s.cage.Rs, 1.2);  // both machine models
  EXPECT_EQ(b.s.cage.J, 0.015);
  EXPECT_EQ(b.s.mRs, 0.0);  // the controller's copy is not touched

  Genes zero = g;
  zero[kGeneTr] = 0.0;
  SimulationSettings kept = b.s;
  EXPECT_FALSE(b.ga.Initialise(9, zero, b.s, b.platform));
  EXPECT_EQ(b.ga.Gen, 4);
  EXPECT_EQ(b.ga.XOld[0], g);
  EXPECT_EQ(b.s.dq.Rr, kept.dq.Rr);
  ASSERT_EQ(b.platform.messages.size(), 1u);
  EXPECT_EQ(b.platform.messages[0].text, kTrZeroGenetic);
  EXPECT_EQ(b.platform.messages[0].caption, "Erreur");
}

}  // namespace
}  // namespace mas
