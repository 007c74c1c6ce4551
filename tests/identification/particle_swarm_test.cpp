#include "identification/particle_swarm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "identification/workbench.h"
#include "identification_fixture.h"

namespace mas {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;

// Cost of a particle chosen by the test, found from its stator resistance.
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
  ScratchFolder logs;
  LcgRandom rng;
  ParticleSwarmIdentification pso{rng, logs.path()};
  SimulationSettings s;
  CarriedState carried;
  RecordingPlatform platform;
  Bench() {
    s.GenX.fill(true);
    s.dq.p = 2;
  }
  EpochReport Run(const CostTable& costs) {
    return pso.RunEpoch(s, carried, platform, CandidateEvaluator(1, costs));
  }
};

TEST(ParticleSwarm, AllocateDrawsTheOptimisedDimensionsAndStartsFromNoBest) {
  Bench b;
  b.s.GenX[kGeneTs] = false;
  ASSERT_TRUE(b.pso.Allocate(3, 2, b.s.GenX, 321, b.platform));
  EXPECT_EQ(b.pso.Particles(), 5);
  LcgRandom replay;
  replay.Randomize(321);
  for (int i = 0; i < 5; ++i) {
    const Genes& x = b.pso.X[i];
    EXPECT_EQ(x[kGeneRs], (replay.Next() % 1000) * 0.005 + 0.01);
    EXPECT_EQ(x[kGeneTs], 0.0);  // not optimised: no draw
    EXPECT_EQ(x[kGeneTr], (replay.Next() % 1000) * 0.001 + 0.001);
    EXPECT_EQ(x[kGeneSigma], (replay.Next() % 100) * 0.001 + 0.01);
    EXPECT_EQ(x[kGeneJ], (replay.Next() % 100) * 0.001 + 0.005);  // not the GA's 0.01
    EXPECT_EQ(x[kGeneA10], (replay.Next() % 100) * 1e-5);
    EXPECT_EQ(x[kGeneA20], (replay.Next() % 100) * 0.001);
    EXPECT_EQ(x[kGeneA30], (replay.Next() % 100) * 0.001);
    EXPECT_EQ(b.pso.V[i], Genes{});
    EXPECT_EQ(b.pso.pbestVal[i], 1e50);
  }
  EXPECT_EQ(b.rng.state(), replay.state());
  EXPECT_EQ(b.pso.gbesti, 0);
  EXPECT_EQ(b.pso.pbest[0], b.pso.X[0]);
  EXPECT_EQ(b.pso.Epoch, 0);

  // The logs' headers: the selected names, and one group per particle.
  EXPECT_EQ(ReadFile(b.logs.path() / "outbest.dat"),
            "Epoch \tEval \tgbest \tRs \tTr \tsigma \tJ \ta10 \ta20 \ta30 \t\n");
  std::string trajectory = "Epoch \tEval \tgbest \t";
  for (int i = 0; i < 5; ++i) {
    for (const char* name : {"Rs", "Tr", "sigma", "J", "a10", "a20", "a30"}) {
      trajectory += "X[" + std::to_string(i) + "][" + name + "] \t";
    }
    trajectory += "\t";
  }
  EXPECT_EQ(ReadFile(b.logs.path() / "outTracix.dat"), trajectory + "\n");

  // No dimension selected: the headers keep their three fixed columns.
  b.s.GenX.fill(false);
  b.pso.CreateLogs(b.s.GenX, b.platform);
  EXPECT_EQ(ReadFile(b.logs.path() / "outbest.dat"), "Epoch \tEval \tgbest \t\n");
  EXPECT_EQ(ReadFile(b.logs.path() / "outTracix.dat"), "Epoch \tEval \tgbest \t\t\t\t\t\t\n");

  // A swarm without particles, or with a negative count, is refused and changes nothing.
  for (auto [n1, n2] : {std::pair{0, 0}, std::pair{-1, 3}, std::pair{3, -1}}) {
    RecordingPlatform p;
    EXPECT_FALSE(b.pso.Allocate(n1, n2, b.s.GenX, 1, p));
    EXPECT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(b.pso.Particles(), 5);
  }
}

TEST(ParticleSwarm, RandomizeKeepingTheGlobalBestKeepsItsPositionWithItsCost) {
  Bench b;
  ASSERT_TRUE(b.pso.Allocate(2, 2, b.s.GenX, 1, b.platform));
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

  // Without keeping: particle 0 holds the "best", at its new position, without a cost.
  b.pso.RandomizeSwarm(false, b.s.GenX, 3);
  EXPECT_EQ(b.pso.gbesti, 0);
  EXPECT_EQ(b.pso.pbest[0], b.pso.X[0]);
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>(4, 1e50)));
}

TEST(ParticleSwarm, EpochUpdatesBestsThenVelocitiesWithThreeDrawsThenBoundedPositions) {
  Bench b;
  b.s.GenX[kGeneA20] = false;
  ASSERT_TRUE(b.pso.Allocate(2, 1, b.s.GenX, 5, b.platform));
  b.pso.UpdateWeights(0.3, 0.7, 0.9, 1.05);
  // Three particles placed by hand. Particle 1 heads below every lower bound and out of
  // the band of sigma; particle 2 has no cost better than its best.
  b.pso.X = {{1.0, 0.1, 0.1, 0.05, 0.01, 0.001, 0.5, 1.0},
             {0.002, 0.002, 0.002, 0.006, 0.002, 0.0001, 0.001, 0.0001},
             {2.0, 0.2, 0.2, 0.19, 0.02, 0.002, 0.3, 2.0}};
  b.pso.V = {{0.1, 0.01, 0.01, 0.01, 0.001, 0.0001, 0.1, 0.1},
             {-10.0, -10.0, -10.0, -10.0, -10.0, -10.0, -10.0, -10.0},
             {0.5, 0.1, 0.1, 0.5, 0.01, 0.001, 0.1, 0.5}};
  b.pso.pbest = {{1.1, 0.11, 0.11, 0.055, 0.011, 0.0011, 0.4, 0.9},
                 {0.5, 0.05, 0.05, 0.03, 0.005, 0.0005, 0.2, 0.5},
                 {1.9, 0.19, 0.19, 0.18, 0.019, 0.0019, 0.25, 1.9}};
  b.pso.pbestVal = {10.0, 1e50, 0.5};
  b.pso.gbesti = 0;
  const auto X = b.pso.X;
  const auto V = b.pso.V;
  const std::uint32_t state = b.rng.state();

  // Costs: particle 0 improves (8 < 10), 1 gets its first best (9 < 1e50), 2 does not
  // (0.5 is not beaten by 0.5): the global best is particle 2 (0.5).
  const EpochReport report = b.Run({{{1.0, 8.0}, {0.002, 9.0}, {2.0, 0.5}}});
  EXPECT_EQ(report.end, EvaluationEnd::kComplete);
  EXPECT_EQ(b.pso.Eval, (std::vector<double>{8.0, 9.0, 0.5}));
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>{8.0, 9.0, 0.5}));
  EXPECT_EQ(b.pso.pbest[0], X[0]);
  EXPECT_EQ(b.pso.pbest[1], X[1]);
  const Genes kept_best = {1.9, 0.19, 0.19, 0.18, 0.019, 0.0019, 0.25, 1.9};
  EXPECT_EQ(b.pso.pbest[2], kept_best);
  EXPECT_EQ(b.pso.gbesti, 2);
  EXPECT_EQ(b.pso.Epoch, 1);

  // Velocities from three draws per particle and optimised dimension, then positions.
  LcgRandom replay;
  replay.Seed(state);
  for (int i = 0; i < 3; ++i) {
    const double w = i < 2 ? 0.9 : 1.05;
    const Genes& own = i == 2 ? kept_best : X[i];
    for (int k = 0; k < NGenes; ++k) {
      if (k == kGeneA20) {
        EXPECT_EQ(b.pso.V[i][k], V[i][k]);
        EXPECT_EQ(b.pso.X[i][k], X[i][k]);
        continue;
      }
      const int r1 = replay.Next() % 100;
      const int r2 = replay.Next() % 1000;
      const int r3 = replay.Next() % 1000;
      const double v = (r1 * 0.002 - 0.1 + w) * V[i][k] + r2 * 0.001 * 0.3 * (own[k] - X[i][k]) +
                       r3 * 0.001 * 0.7 * (kept_best[k] - X[i][k]);
      const double x = X[i][k] + v;
      if (i == 1) {
        // Every bound reached: the bound, and the velocity stopped.
        const double bound = k == kGeneSigma ? 0.005 : k >= kGeneA10 ? 0.0 : 0.001;
        EXPECT_EQ(b.pso.X[i][k], bound) << k;
        EXPECT_EQ(b.pso.V[i][k], 0.0) << k;
      } else if (i == 2 && k == kGeneSigma && x > 0.2) {
        EXPECT_EQ(b.pso.X[i][k], 0.2);
        EXPECT_EQ(b.pso.V[i][k], 0.0);
      } else {
        EXPECT_EQ(b.pso.V[i][k], v) << i << " " << k;
        EXPECT_EQ(b.pso.X[i][k], x) << i << " " << k;
      }
    }
  }
  EXPECT_EQ(b.rng.state(), replay.state());
  EXPECT_EQ(b.pso.X[2][kGeneSigma], 0.2);  // the case was met

  // The logs of the epoch, against printf: the epoch before its increment.
  char buf[128];
  std::string best = "Epoch \tEval \tgbest \tRs \tTs \tTr \tsigma \tJ \ta10 \ta30 \t\n";
  std::snprintf(buf, sizeof buf, "%d \t%8e \t%d \t", 0, 0.5, 2);
  std::string head = buf;
  best += head;
  for (int k = 0; k < NGenes; ++k) {
    if (k == kGeneA20) continue;
    std::snprintf(buf, sizeof buf, "%f \t", kept_best[k]);
    best += buf;
  }
  EXPECT_EQ(ReadFile(b.logs.path() / "outbest.dat"), best + "\n");
  const std::string trajectory = ReadFile(b.logs.path() / "outTracix.dat");
  std::string line = head;
  for (const Genes& x : X) {
    for (int k = 0; k < NGenes; ++k) {
      if (k == kGeneA20) continue;
      std::snprintf(buf, sizeof buf, "%f \t", x[k]);
      line += buf;
    }
    line += " \t";
  }
  EXPECT_EQ(trajectory.substr(trajectory.find('\n') + 1), line + "\n");
}

TEST(ParticleSwarm, AParticleWithoutABestNeverLeadsAndTheLowestIndexWinsTies) {
  Bench b;
  ASSERT_TRUE(b.pso.Allocate(2, 2, b.s.GenX, 9, b.platform));
  b.pso.gbesti = 3;
  const double rs1 = b.pso.X[1][kGeneRs];
  const double rs2 = b.pso.X[2][kGeneRs];
  // Every run diverges: no best is found, the global best stays where it was.
  b.Run({{}, 1e50});
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>(4, 1e50)));
  EXPECT_EQ(b.pso.gbesti, 3);
  // Two equal costs: the lower index wins.
  b.pso.X[1][kGeneRs] = rs1;
  b.pso.X[2][kGeneRs] = rs2;
  b.Run({{{b.pso.X[1][kGeneRs], 4.0}, {b.pso.X[2][kGeneRs], 4.0}}, 1e50});
  EXPECT_EQ(b.pso.gbesti, 1);
  EXPECT_EQ(b.pso.gbest(), 4.0);
}

TEST(ParticleSwarm, AStoppedScoringStillLogsAndMovesTheWholeSwarm) {
  for (bool interrupted : {false, true}) {
    Bench b;
    ASSERT_TRUE(b.pso.Allocate(2, 2, b.s.GenX, 4, b.platform));
    b.pso.Eval.assign(4, 7.0);
    if (!interrupted) b.pso.X[1][kGeneTr] = 0.0;
    const auto X = b.pso.X;
    const EpochReport report = b.Run({{{X[1][kGeneRs], -1.0}}, 3.0});
    EXPECT_EQ(report.end, interrupted ? EvaluationEnd::kInterrupted : EvaluationEnd::kTrZero);
    EXPECT_EQ(report.evaluated, 1);
    // Scored up to the stop; the interrupted particle shows -1, the others 0.
    EXPECT_EQ(b.pso.Eval, (std::vector<double>{3.0, interrupted ? -1.0 : 0.0, 0.0, 0.0}));
    EXPECT_EQ(b.pso.pbestVal, (std::vector<double>{3.0, 1e50, 1e50, 1e50}));
    ASSERT_EQ(b.platform.messages.size(), 1u);
    EXPECT_EQ(b.platform.messages[0].text, interrupted ? kRunErrorMessage : kTrZeroSwarm);
    EXPECT_EQ(b.pso.Epoch, 1);
    // Every particle moves but the global best, at rest on its own best.
    EXPECT_EQ(b.pso.gbesti, 0);
    EXPECT_EQ(b.pso.X[0], X[0]);
    for (int i = 1; i < 4; ++i) EXPECT_NE(b.pso.X[i], X[i]) << i;
    // Tr of 0 is lifted to its bound by the move.
    EXPECT_GE(b.pso.X[1][kGeneTr], 0.001);
    const std::string log = ReadFile(b.logs.path() / "outbest.dat");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  }
}

TEST(ParticleSwarm, InitialiseSetsEveryPositionAndTheMachineAndKeepsTheBestsOnRequest) {
  Bench b;
  ASSERT_TRUE(b.pso.Allocate(1, 2, b.s.GenX, 4, b.platform));
  b.pso.pbestVal = {1.0, 2.0, 3.0};
  const Genes g = {1.2, 0.14, 0.115, 0.07, 0.015, 0.0, 0.001, 1.6};
  ASSERT_TRUE(b.pso.InitialiseSwarm(5, g, true, b.s, b.platform));
  EXPECT_EQ(b.pso.Epoch, 5);
  for (const Genes& x : b.pso.X) EXPECT_EQ(x, g);
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(b.s.dq.Rs, 1.2);
  ASSERT_TRUE(b.pso.InitialiseSwarm(0, g, false, b.s, b.platform));
  EXPECT_EQ(b.pso.pbestVal, (std::vector<double>(3, 1e50)));

  Genes zero = g;
  zero[kGeneTr] = 0.0;
  EXPECT_FALSE(b.pso.InitialiseSwarm(8, zero, false, b.s, b.platform));
  EXPECT_EQ(b.pso.Epoch, 0);
  ASSERT_EQ(b.platform.messages.size(), 1u);
  EXPECT_EQ(b.platform.messages[0].text, kTrZeroSwarm);

  // Timing an epoch shows the seconds it took.
  RecordingPlatform timing;
  const double seconds =
      b.pso.TimeEpoch(b.s, b.carried, timing, CandidateEvaluator(1, CostTable{}));
  EXPECT_GE(seconds, 0.0);
  ASSERT_EQ(timing.messages.size(), 1u);
  EXPECT_EQ(timing.messages[0].caption, "Temps de calcul");
  EXPECT_EQ(timing.messages[0].text.substr(timing.messages[0].text.size() - 2), " s");
  EXPECT_EQ(b.pso.Epoch, 1);
}

}  // namespace
}  // namespace mas
