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
  void WriteHeader(const RunView& v) override { mode = v.run_mode; }
  void WriteLine(const RunView&) override { ++lines; }
  void Close() override {}
  std::vector<std::string> opened;
  int mode = -1;
  int lines = 0;
};

TEST(Workbench, StaleTablesAreRefusedAndTheBestIsSimulatedWithTheOutputTableForced) {
  SimulationSettings s = testing::StartUpStudy(0.05, 1e-4, 10);
  RecordingPlatform platform;
  EXPECT_FALSE(TablesReadyForIdentification(s, platform));
  EXPECT_EQ(platform.messages.at(0).text,
            "Les paramètrese de simulation ont changés\n Recréez la table expérimentale");
  EXPECT_EQ(platform.messages[0].icon, MessageIcon::kStop);
  CarriedState carried;
  testing::MeasureAndBuildTables(s, carried);
  EXPECT_TRUE(TablesReadyForIdentification(s, platform));

  // "Simule": the best into the machine, the Run command's run with the output table
  // forced for that run only, experimental columns beside the simulated ones.
  s.OutSelExp[kExpWmTable] = 1;
  ASSERT_FALSE(s.CreateOutputFile);
  LcgRandom rng;
  testing::ScratchFolder logs;
  GeneticIdentification ga(rng, logs.path());
  ASSERT_TRUE(ga.Initialise(0, {1.3, 0.13, 0.12, 0.07, 0.014, 0.0, 0.0, 1.0}, s, platform));
  s.dq.Rs = 9.0;
  MemorySink sink;
  EXPECT_EQ(ga.SimulateBest(s, carried, platform, &sink, true).status, RunStatus::kReachedEnd);
  EXPECT_EQ(s.dq.Rs, 1.3);
  EXPECT_EQ(sink.opened, std::vector<std::string>{"out.dat"});
  EXPECT_EQ(sink.mode, 4);
  EXPECT_NEAR(sink.lines, 51, 1);  // every recorded step of 0.05 s
  EXPECT_FALSE(s.CreateOutputFile);
  EXPECT_EQ(platform.started_processes, std::vector<std::string>{"Tracix.exe out.dat"});
  s.ExpTableReady = false;
  EXPECT_EQ(DisplayRunMode(s), 0);

  // Tr = 0 is refused with each optimiser's "Simulation impossible" message.
  ParticleSwarmIdentification pso(rng, logs.path());
  ASSERT_TRUE(pso.Allocate(1, 0, s.GenX, 3, platform));
  pso.pbest[0][kGeneTr] = 0.0;
  ga.XOld[0][kGeneTr] = 0.0;
  MemorySink none;
  EXPECT_EQ(ga.SimulateBest(s, carried, platform, &none, true).message, kTrZeroGeneticSimulation);
  EXPECT_EQ(pso.SimulateGlobalBest(s, carried, platform, &none, true).status, RunStatus::kRefused);
  EXPECT_EQ(platform.messages.back().text, kTrZeroSwarmSimulation);
  EXPECT_TRUE(none.opened.empty());
  EXPECT_EQ(s.dq.Rs, 1.3);
}

}  // namespace
}  // namespace mas
