#include "identification/particle_swarm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>

#include "identification/workbench.h"
#include "identification_fixture.h"

namespace mas {
namespace {

using testing::ReadFile;

// Costs chosen by the test for the particles, found from their stator resistance.
struct CostTable {
  std::vector<std::pair<double, double>> rs_cost;
  double other = 1.0;
  CandidateScore operator()(SimulationSettings& s, CarriedState&, Platform&) const {
    for (const auto& [rs, cost] : rs_cost) {
      if (s.dq.Rs == rs) return {cost, false};
    }
    return {other, false};
  }
};

struct Bench {
  testing::ScratchFolder logs;
  LcgRandom rng;
  ParticleSwarmIdentification pso{rng, logs.path()};
  SimulationSettings s;
  CarriedState carried;
  RecordingPlatform platform;
  explicit Bench(int n1 = 2, int n2 = 2, std::uint32_t seed = 5) {
    s.GenX.fill(true);
    s.dq.p = 2;
    EXPECT_TRUE(pso.Allocate(n1, n2, s.GenX, seed, platform));
  }
  EpochReport Run(const CostTable& costs) {
    return pso.RunEpoch(s, carried, platform, CandidateEvaluator(1, costs));
  }
};

TEST(ParticleSwarm, AllocateDrawsTheOptimisedDimensionsAndItsFirstEpochCreatesTheLogs) {
  Bench b;
  b.s.GenX[kGeneTs] = false;
  ASSERT_TRUE(b.pso.Allocate(3, 2, b.s.GenX, 321, b.platform));
  // A swarm allocated (the workbench opened) leaves no file until it runs.
  EXPECT_TRUE(std::filesystem::is_empty(b.logs.path()));
  EXPECT_TRUE(b.pso.LogsDue());
  EXPECT_EQ(b.pso.Particles(), 5);
  LcgRandom replay;
  replay.Randomize(321);
  const Genes& x = b.pso.X[0];
  EXPECT_EQ(x[kGeneRs], (replay.Next() % 1000) * 0.005 + 0.01);
  EXPECT_EQ(x[kGeneTs], 0.0);  // not optimised: no draw
  EXPECT_EQ(x[kGeneTr], (replay.Next() % 1000) * 0.001 + 0.001);
  EXPECT_EQ(x[kGeneSigma], (replay.Next() % 100) * 0.001 + 0.01);
  EXPECT_EQ(x[kGeneJ], (replay.Next() % 100) * 0.001 + 0.005);  // not the GA's 0.01
  for (int n = 4; n < 5 * 7; ++n) replay.Next();
  EXPECT_EQ(b.rng.state(), replay.state());
  EXPECT_EQ(b.pso.V[4], Genes{});
  EXPECT_EQ(b.pso.pbestVal, std::vector<double>(5, 1e50));
  EXPECT_EQ(b.pso.gbesti, 0);
  EXPECT_EQ(b.pso.pbest[0], b.pso.X[0]);

  b.Run(CostTable{});
  EXPECT_FALSE(b.pso.LogsDue());
  const std::string best = ReadFile(b.logs.path() / "outbest.dat");
  EXPECT_EQ(best.substr(0, best.find('\n') + 1),
            "Epoch \tEval \tgbest \tRs \tTr \tsigma \tJ \ta10 \ta20 \ta30 \t\n");
  const std::string trajectory = ReadFile(b.logs.path() / "outTracix.dat");
  EXPECT_EQ(trajectory.rfind("Epoch \tEval \tgbest \tX[0][Rs] \tX[0][Tr] \t", 0), 0u);
  EXPECT_NE(trajectory.find("X[0][a30] \t\tX[1][Rs] \t"), std::string::npos);
  b.s.GenX.fill(false);  // no dimension: the three fixed columns
  b.pso.CreateLogs(b.s.GenX, b.platform);
  EXPECT_EQ(ReadFile(b.logs.path() / "outbest.dat"), "Epoch \tEval \tgbest \t\n");

  // No particle, a negative count or a swarm beyond the bound (counts whose sum does not
  // fit an int included): refused, the swarm unchanged.
  const int most = std::numeric_limits<int>::max();
  EXPECT_FALSE(b.pso.Allocate(0, 0, b.s.GenX, 1, b.platform));
  EXPECT_FALSE(b.pso.Allocate(-1, 3, b.s.GenX, 1, b.platform));
  EXPECT_FALSE(b.pso.Allocate(most, most, b.s.GenX, 1, b.platform));
  EXPECT_FALSE(
      b.pso.Allocate(ParticleSwarmIdentification::kMaxParticles, 1, b.s.GenX, 1, b.platform));
  ASSERT_EQ(b.platform.messages.size(), 4u);
  EXPECT_EQ(b.platform.messages[3].text,
            "Nombres de particules invalides : N1 et N2 doivent être positifs ou nuls, et N1 + "
            "N2 entre 1 et 200000");
  EXPECT_EQ(b.pso.Particles(), 5);
}

TEST(ParticleSwarm, RandomizeKeepingTheGlobalBestKeepsItsPositionWithItsCost) {
  Bench b;
  const Genes best = {1.3, 0.12, 0.13, 0.06, 0.013, 0, 0, 1};
  b.pso.gbesti = 2;
  b.pso.pbest[2] = best;
  b.pso.pbestVal = {3.0, 4.0, 2.0, 5.0};
  b.pso.Epoch = 17;
  const Genes old_position = b.pso.X[2];
  b.pso.RandomizeSwarm(true, b.s.GenX, 2);
  EXPECT_EQ(b.pso.gbesti, 2);
  EXPECT_EQ(b.pso.pbest[2], best);
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>{1e50, 1e50, 2.0, 1e50}));
  EXPECT_NE(b.pso.X[2], old_position);
  EXPECT_EQ(b.pso.Epoch, 0);
  b.pso.RandomizeSwarm(false, b.s.GenX, 3);
  EXPECT_EQ(b.pso.gbesti, 0);
  EXPECT_EQ(b.pso.pbest[0], b.pso.X[0]);
  EXPECT_EQ(b.pso.pbestVal, std::vector<double>(4, 1e50));
}

TEST(ParticleSwarm, EpochUpdatesTheBestsThenMovesEveryParticleWithinItsBounds) {
  Bench b(2, 1);
  b.s.GenX[kGeneA20] = false;
  b.pso.UpdateWeights(0.3, 0.7, 0.9, 1.05);
  // Particle 1 heads below every lower bound, particle 2 above the band of sigma.
  b.pso.X = {{1.0, 0.1, 0.1, 0.05, 0.01, 0.001, 0.5, 1.0},
             {0.002, 0.002, 0.002, 0.006, 0.002, 0.0001, 0.001, 0.0001},
             {2.0, 0.2, 0.2, 0.19, 0.02, 0.002, 0.3, 2.0}};
  b.pso.V = {{0.1, 0.01, 0.01, 0.01, 0.001, 0.0001, 0.1, 0.1}, Genes{}, Genes{}};
  b.pso.V[1].fill(-10.0);
  b.pso.V[2][kGeneSigma] = 0.5;
  const Genes kept_best = {1.9, 0.19, 0.19, 0.18, 0.019, 0.0019, 0.25, 1.9};
  b.pso.pbest = {Genes{}, Genes{}, kept_best};
  b.pso.pbestVal = {10.0, 1e50, 0.5};
  const auto X = b.pso.X;
  const std::uint32_t state = b.rng.state();
  // Particle 0 improves (8 < 10), 1 gets its first best, 2 does not (0.5 is not below
  // 0.5) and leads.
  EXPECT_EQ(b.Run({{{1.0, 8.0}, {0.002, 9.0}, {2.0, 0.5}}}).end, EvaluationEnd::kComplete);
  EXPECT_EQ(b.pso.Eval, (std::vector<double>{8.0, 9.0, 0.5}));
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>{8.0, 9.0, 0.5}));
  EXPECT_EQ(b.pso.pbest[1], X[1]);
  EXPECT_EQ(b.pso.pbest[2], kept_best);
  EXPECT_EQ(b.pso.gbesti, 2);
  EXPECT_EQ(b.pso.Epoch, 1);

  // Particle 0's Rs from the first three draws; three draws per particle and optimised
  // dimension in all.
  LcgRandom replay;
  replay.Seed(state);
  const int r1 = replay.Next() % 100, r2 = replay.Next() % 1000, r3 = replay.Next() % 1000;
  const double v =
      (r1 * 0.002 - 0.1 + 0.9) * 0.1 + r2 * 0.001 * 0.3 * 0.0 + r3 * 0.001 * 0.7 * (1.9 - 1.0);
  EXPECT_EQ(b.pso.V[0][kGeneRs], v);
  EXPECT_EQ(b.pso.X[0][kGeneRs], 1.0 + v);
  for (int n = 3; n < 3 * 3 * 7; ++n) replay.Next();
  EXPECT_EQ(b.rng.state(), replay.state());
  // A bound reached: the position on it, the velocity stopped; held a20 untouched.
  EXPECT_EQ(b.pso.X[1], (Genes{0.001, 0.001, 0.001, 0.005, 0.001, 0.0, 0.001, 0.0}));
  EXPECT_EQ(b.pso.V[1], (Genes{0, 0, 0, 0, 0, 0, -10.0, 0}));
  EXPECT_EQ(b.pso.X[2][kGeneSigma], 0.2);
  EXPECT_EQ(b.pso.V[2][kGeneSigma], 0.0);

  // The logs of the epoch, against printf: the epoch before its increment.
  char buf[128];
  std::snprintf(buf, sizeof buf, "\n%d \t%8e \t%d \t%f \t%f \t", 0, 0.5, 2, 1.9, 0.19);
  EXPECT_NE(ReadFile(b.logs.path() / "outbest.dat").find(buf), std::string::npos);
  std::snprintf(buf, sizeof buf, "%f \t \t%f \t%f \t", X[0][kGeneA30], X[1][kGeneRs],
                X[1][kGeneTs]);
  EXPECT_NE(ReadFile(b.logs.path() / "outTracix.dat").find(buf), std::string::npos);
}

TEST(ParticleSwarm, NoBestNeverLeadsAndAStoppedScoringStillMovesTheSwarm) {
  Bench b(2, 2, 9);
  b.pso.gbesti = 3;
  b.Run({{}, 1e50});  // every run diverges: no best, the leader stays
  EXPECT_EQ(b.pso.pbestVal, std::vector<double>(4, 1e50));
  EXPECT_EQ(b.pso.gbesti, 3);
  b.Run({{{b.pso.X[1][kGeneRs], 4.0}, {b.pso.X[2][kGeneRs], 4.0}}, 1e50});
  EXPECT_EQ(b.pso.gbesti, 1);  // equal costs: the lower index

  for (bool interrupted : {false, true}) {
    Bench c(2, 2, 4);
    if (!interrupted) c.pso.X[1][kGeneTr] = 0.0;
    const auto X = c.pso.X;
    const EpochReport report = c.Run({{{X[1][kGeneRs], -1.0}}, 3.0});
    EXPECT_EQ(report.end, interrupted ? EvaluationEnd::kInterrupted : EvaluationEnd::kTrZero);
    EXPECT_EQ(c.pso.Eval, (std::vector<double>{3.0, interrupted ? -1.0 : 0.0, 0.0, 0.0}));
    EXPECT_EQ(c.pso.pbestVal, (std::vector<double>{3.0, 1e50, 1e50, 1e50}));
    EXPECT_EQ(c.platform.messages.at(0).text, interrupted ? kRunErrorMessage : kTrZeroSwarm);
    // Logged and moved all the same: the leader stays at rest on its best, the others
    // move (Tr = 0 lifted to its bound).
    EXPECT_EQ(c.pso.Epoch, 1);
    EXPECT_EQ(c.pso.X[0], X[0]);
    for (int i = 1; i < 4; ++i) EXPECT_NE(c.pso.X[i], X[i]) << i;
    EXPECT_GE(c.pso.X[1][kGeneTr], 0.001);
    const std::string log = ReadFile(c.logs.path() / "outbest.dat");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
  }
}

TEST(ParticleSwarm, InitialiseAndTimeAnEpoch) {
  Bench b(1, 2);
  b.pso.pbestVal = {1.0, 2.0, 3.0};
  const Genes g = {1.2, 0.14, 0.115, 0.07, 0.015, 0.0, 0.001, 1.6};
  ASSERT_TRUE(b.pso.InitialiseSwarm(5, g, true, b.s, b.platform));
  EXPECT_EQ(b.pso.Epoch, 5);
  EXPECT_EQ(b.pso.X[2], g);
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(b.s.dq.Rs, 1.2);
  ASSERT_TRUE(b.pso.InitialiseSwarm(0, g, false, b.s, b.platform));
  EXPECT_EQ(b.pso.pbestVal, std::vector<double>(3, 1e50));
  Genes zero = g;
  zero[kGeneTr] = 0.0;
  EXPECT_FALSE(b.pso.InitialiseSwarm(8, zero, false, b.s, b.platform));
  EXPECT_EQ(b.pso.Epoch, 0);
  EXPECT_EQ(b.platform.messages.at(0).text, kTrZeroSwarm);

  RecordingPlatform timing;
  EXPECT_GE(b.pso.TimeEpoch(b.s, b.carried, timing, CandidateEvaluator(1, CostTable{})), 0.0);
  EXPECT_EQ(timing.messages.at(0).caption, "Temps de calcul");
  EXPECT_EQ(timing.messages[0].text.substr(timing.messages[0].text.size() - 2), " s");
  EXPECT_EQ(b.pso.Epoch, 1);
}

}  // namespace
}  // namespace mas
