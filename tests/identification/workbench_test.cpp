#include "identification/workbench.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "identification/genetic_algorithm.h"
#include "identification/particle_swarm.h"
#include "identification_fixture.h"

namespace mas {
namespace {

struct MemorySink : OutputSink {
  bool Open(const std::string& name) override {
    opened.push_back(name);
    return true;
  }
  void WriteHeader(const RunView& v) override { modes.push_back(v.run_mode); }
  void WriteLine(const RunView&) override { ++lines; }
  void Close() override {}
  std::vector<std::string> opened;
  std::vector<int> modes;
  int lines = 0;
};

TEST(Workbench, StaleTablesAreRefusedWithTheirMessage) {
  SimulationSettings s;
  RecordingPlatform platform;
  EXPECT_FALSE(TablesReadyForIdentification(s, platform));
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text,
            "Les paramètrese de simulation ont changés\n Recréez la table expérimentale");
  EXPECT_EQ(platform.messages[0].caption, "Erreur");
  EXPECT_EQ(platform.messages[0].icon, MessageIcon::kStop);
  s.ExpTableReady = true;
  EXPECT_TRUE(TablesReadyForIdentification(s, platform));
  EXPECT_EQ(platform.messages.size(), 1u);

  // The Run command shows the experimental columns only beside ready tables.
  EXPECT_EQ(DisplayRunMode(s), 0);
  s.OutSelExp[kMaxIas] = 1;
  EXPECT_EQ(DisplayRunMode(s), 4);
  s.ExpTableReady = false;
  EXPECT_EQ(DisplayRunMode(s), 0);
}

TEST(Workbench, SimulatingTheBestForcesTheOutputTableForThatRunOnly) {
  SimulationSettings s = testing::StartUpStudy(0.05, 1e-4, 10);
  CarriedState carried;
  testing::MeasureAndBuildTables(s, carried);
  s.OutSelExp[kExpWmTable] = 1;
  ASSERT_FALSE(s.CreateOutputFile);
  RecordingPlatform platform;
  LcgRandom rng;
  testing::ScratchFolder logs;
  GeneticIdentification ga(rng, logs.path());
  const Genes best = {1.3, 0.13, 0.12, 0.07, 0.014, 0.0, 0.0, 1.0};
  ASSERT_TRUE(ga.Initialise(0, best, s, platform));
  s.dq.Rs = 9.0;  // anything: the best goes into the machine again

  MemorySink sink;
  const RunOutcome run = ga.SimulateBest(s, carried, platform, &sink, true);
  EXPECT_EQ(run.status, RunStatus::kReachedEnd);
  EXPECT_EQ(s.dq.Rs, 1.3);
  EXPECT_EQ(sink.opened, std::vector<std::string>{"out.dat"});
  EXPECT_EQ(sink.modes, std::vector<int>{4});  // experimental values beside the simulated ones
  EXPECT_NEAR(sink.lines, 51, 1);              // every recorded step of 0.05 s
  EXPECT_FALSE(s.CreateOutputFile);
  EXPECT_EQ(platform.started_processes, std::vector<std::string>{"Tracix.exe out.dat"});

  // Tr = 0 is refused with the "Simulation impossible" message of each optimiser.
  ParticleSwarmIdentification pso(rng, logs.path());
  ASSERT_TRUE(pso.Allocate(1, 0, s.GenX, 3, platform));
  pso.pbest[0][kGeneTr] = 0.0;
  ga.XOld[0][kGeneTr] = 0.0;
  MemorySink none;
  RunOutcome outcome = ga.SimulateBest(s, carried, platform, &none, true);
  EXPECT_EQ(outcome.status, RunStatus::kRefused);
  EXPECT_EQ(outcome.message, kTrZeroGeneticSimulation);
  EXPECT_EQ(platform.messages.back().text, kTrZeroGeneticSimulation);
  outcome = pso.SimulateGlobalBest(s, carried, platform, &none, true);
  EXPECT_EQ(outcome.status, RunStatus::kRefused);
  EXPECT_EQ(platform.messages.back().text, kTrZeroSwarmSimulation);
  EXPECT_TRUE(none.opened.empty());
  EXPECT_EQ(s.dq.Rs, 1.3);
}

}  // namespace
}  // namespace mas
