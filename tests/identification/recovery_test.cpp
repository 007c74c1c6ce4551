// The proof of the identification: from the example start-up record (examples/dem1.dat,
// a start-up of the example machine sampled every 0.2 ms with tachometer and current
// noise), the genetic algorithm and the particle swarm find the machine that made it,
// starting from a guess 10 to 20 % off on every parameter.
//
// The record is scored on a shorter and coarser time base than the example study (0.4 s,
// dt = 2e-4 s, recorded every millisecond: the whole start-up and 0.25 s of steady
// state) to keep the test short. Under the sanitizers, which slow the simulations down
// several times, the test runs a few generations and checks only that the cost falls.

#include <gtest/gtest.h>

#include <cmath>

#include "identification/candidate_evaluator.h"
#include "identification/experimental_file.h"
#include "identification/genetic_algorithm.h"
#include "identification/particle_swarm.h"
#include "identification_fixture.h"

namespace mas {
namespace {

using testing::ExampleMachineGenes;
using testing::ScratchFolder;

#if defined(MAS_SANITIZED) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Rs -15 %, Ts +10 %, Tr -10 %, sigma +8 %, J +15 %, a30 -20 %; a10 = a20 = 0.
const Genes kGuess = {1.2, 0.14, 0.115, 0.07, 0.015, 0.0, 0.0, 1.6};

struct ExampleRecord {
  SimulationSettings s = testing::StartUpStudy(0.4, 2e-4, 5);
  CarriedState carried;
  RecordingPlatform platform;
  ExampleRecord() {
    s.ExpNom = std::string(MAS_SOURCE_DIR) + "/examples/dem1.dat";
    EXPECT_EQ(ReadExperimentalFile(s, carried.experiment, platform).status,
              ExperimentalReadStatus::kRead);
    BuildExperimentalTables(s, carried, platform, nullptr);
    EXPECT_TRUE(s.ExpTableReady);
  }
  double CostOf(const Genes& g) {
    SimulationSettings probe = s;
    MapGenesOntoMachine(g, probe);
    return SimulationScore(probe, carried, platform).cost;
  }
};

// Largest relative error allowed on each gene (a10 and a20 are 0 in the record's machine
// and stay 0 here).
using Tolerances = std::array<double, NGenes>;

void ExpectRecovered(const Genes& found, const Tolerances& tolerance, const char* what) {
  const Genes truth = ExampleMachineGenes();
  for (int j = 0; j < NGenes; ++j) {
    if (truth[j] == 0.0) {
      EXPECT_EQ(found[j], 0.0) << what << " " << kGeneNames[j];
    } else {
      EXPECT_LT(std::fabs(found[j] / truth[j] - 1), tolerance[j])
          << what << " " << kGeneNames[j] << " = " << found[j] << ", truth " << truth[j];
    }
  }
}

TEST(Recovery, GeneticAlgorithmFindsTheMachineOfTheExampleRecord) {
  ExampleRecord r;
  const double truth_cost = r.CostOf(ExampleMachineGenes());  // the sensors' noise
  const double guess_cost = r.CostOf(kGuess);
  ScratchFolder logs;
  LcgRandom rng;
  GeneticIdentification ga(rng, logs.path());
  rng.Randomize(7);
  ASSERT_TRUE(ga.Initialise(0, kGuess, r.s, r.platform));
  const CandidateEvaluator evaluator(MachineThreads());
  const int generations = kSanitized ? 20 : 120;
  for (int n = 0; n < generations; ++n) {
    ASSERT_EQ(ga.RunGeneration(r.s, r.carried, r.platform, evaluator).end,
              EvaluationEnd::kComplete);
  }
  const double cost = 1 / ga.BestFitness;
  if (kSanitized) {
    EXPECT_LT(cost, guess_cost / 10);
    return;
  }
  // Seed 7, 120 generations: Rs -0.6 %, Ts +1.2 %, Tr +1.0 %, sigma -1.3 %, J +1.0 %,
  // a30 -8.5 %, and a cost within 11 % of the noise's own (the guess cost 440 times more).
  EXPECT_LT(cost, 1.15 * truth_cost);
  ExpectRecovered(ga.XOld[0], {0.01, 0.02, 0.02, 0.02, 0.015, 0, 0, 0.12}, "GA");
}

TEST(Recovery, ParticleSwarmFindsTheMachineOfTheExampleRecord) {
  ExampleRecord r;
  r.s.GenX[kGeneA10] = r.s.GenX[kGeneA20] = false;  // held at 0
  const double truth_cost = r.CostOf(ExampleMachineGenes());
  ScratchFolder logs;
  LcgRandom rng;
  ParticleSwarmIdentification pso(rng, logs.path());
  const CandidateEvaluator evaluator(MachineThreads());
  // The guess becomes the global best of a swarm drawn at random over the whole search
  // range: score it, then draw the swarm again keeping that best.
  ASSERT_TRUE(pso.Allocate(10, 10, r.s.GenX, 7, r.platform));
  pso.UpdateWeights(0.5, 1.5, 0.7, 0.9);
  ASSERT_TRUE(pso.InitialiseSwarm(0, kGuess, false, r.s, r.platform));
  pso.RunEpoch(r.s, r.carried, r.platform, evaluator);
  const double guess_cost = pso.gbest();
  pso.RandomizeSwarm(true, r.s.GenX, 8);
  const int epochs = kSanitized ? 50 : 150;
  for (int n = 0; n < epochs; ++n) {
    ASSERT_EQ(pso.RunEpoch(r.s, r.carried, r.platform, evaluator).end, EvaluationEnd::kComplete);
  }
  if (kSanitized) {
    EXPECT_LT(pso.gbest(), guess_cost / 10);
    return;
  }
  // Seeds 7 and 8, 150 epochs of 20 particles: Rs +1.8 %, Ts -4.7 %, Tr -4.5 %,
  // sigma +5.2 %, J -2.6 %, a30 +5.7 %, and a cost within 13 % of the noise's own (the
  // guess cost 440 times more).
  EXPECT_LT(pso.gbest(), 1.2 * truth_cost);
  ExpectRecovered(pso.pbest[static_cast<std::size_t>(pso.gbesti)],
                  {0.03, 0.07, 0.07, 0.07, 0.04, 0, 0, 0.09}, "PSO");
}

}  // namespace
}  // namespace mas
