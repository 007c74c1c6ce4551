#pragma once
// Shared pieces of the identification tests: a scratch folder per test, the example
// machine, and start-up studies with their experimental tables built.

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "engine/settings.h"
#include "identification/machine_genes.h"
#include "tests/record_sink.h"

namespace mas::testing {

// A fresh folder named after the running test (and `suffix`, for tests that use several
// at once), removed at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& suffix = "") {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("mas_ident_" + std::to_string(getpid()) + "_" + info->test_suite_name() + "_" +
             info->name() + suffix);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The 4 kW machine of the examples, as a parameter set, with the small constant load of
// the example record.
inline Genes ExampleMachineGenes() {
  const double ls = 0.178039;
  return {1.405, ls / 1.405, ls / 1.395, 1 - 0.1722 * 0.1722 / (ls * ls), 0.0131, 0.0, 0.0, 2.0};
}

// Direct start-up of the example machine on the 400 V, 50 Hz network (open loop, dq
// model, no event), scored on the example's weights.
inline SimulationSettings StartUpStudy(double tf, double dt, int out_step) {
  SimulationSettings s;
  s.dq.p = 2;
  MapGenesOntoMachine(ExampleMachineGenes(), s);
  s.SetCrsgn(1);
  s.E2 = 326.6;
  s.fs = 50.0;
  s.TMLI = 1e-4;
  for (int i = 0; i < 4; ++i) s.Wmt[i] = s.Crt[i] = s.Rrt[i] = 100.0;
  s.tf = tf;
  s.dt = dt;
  s.PushStep();
  s.OutStep = out_step;
  s.CreateOutputFile = false;
  s.DisplayProgressBar = false;
  s.FileLoaded = true;
  s.gA = 200.0;
  s.gt0 = 0.03;
  s.GenX.fill(true);
  return s;
}

// "Measures" the study's own start-up (a little longer than the study) as the record,
// then builds the tables on the study's time base.
inline void MeasureAndBuildTables(SimulationSettings& s, CarriedState& carried) {
  SimulationSettings measuring = s;
  measuring.tf = s.tf + 10 * s.dt * s.OutStep;
  measuring.CreateOutputFile = true;
  carried.experiment = {};
  RecordSink sink(carried.experiment);
  SilentPlatform quiet;
  RunSimulation(measuring, carried, quiet, &sink, false, 0);
  BuildExperimentalTables(s, carried, quiet, nullptr);
}

// Bits of a double, so that two results can be compared exactly (NaN included).
inline std::uint64_t Bits(double x) { return std::bit_cast<std::uint64_t>(x); }

}  // namespace mas::testing
