#include "files/column_recorder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "examples/example_machine.h"

namespace mas {
namespace {

std::string TempPath(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "mas_" + test->name() + "_" + std::to_string(::getpid()) + "_" +
         name;
}

std::vector<std::vector<std::string>> TableWords(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string w; words >> w;) rows.back().push_back(w);
  }
  return rows;
}

std::string G8(double v) {
  char cell[64];
  std::snprintf(cell, sizeof cell, "%.8g", v);
  return cell;
}

// A vector-controlled start-up with delayed recording, a decimation of 3 and an integer
// column among the reals.
SimulationSettings Study() {
  SimulationSettings s = example::ExampleStudy(0.02, 1e-5);
  example::SetExampleVectorControl(s);
  s.Wmt[0] = 0.0;
  s.Wmref[0] = 500.0;
  s.OutStep = 3;
  s.td0 = 0.005;
  s.CreateOutputFile = true;
  for (int i : {kOutCe, kOutWm, kOutIas, kOutIqsref}) s.OutSel[static_cast<std::size_t>(i)] = 1;
  s.OutSelStator[kStatStatorMode] = 1;
  return s;
}

TEST(ColumnRecorder, KeepsTheValuesTheTablePrintsUnderTheHeaderNames) {
  SimulationSettings s = Study();
  s.OutFileName = TempPath("table.dat");
  CarriedState carried;
  SilentPlatform platform;
  OutputRecorder table;
  ColumnRecorder columns(&table);
  ASSERT_EQ(RunSimulation(s, carried, platform, &columns, false, 0).status, RunStatus::kReachedEnd);

  const auto rows = TableWords(s.OutFileName);
  std::filesystem::remove(s.OutFileName);
  const auto& series = columns.series();
  ASSERT_EQ(rows[0].size(), series.size());
  EXPECT_EQ(RecordedColumnNames(s), rows[0]);
  ASSERT_GT(rows.size(), 100u);
  for (std::size_t c = 0; c < series.size(); ++c) {
    EXPECT_EQ(series[c].name, rows[0][c]);
    ASSERT_EQ(series[c].values.size(), rows.size() - 1) << series[c].name;
    for (std::size_t r = 1; r < rows.size(); ++r) {
      ASSERT_EQ(G8(series[c].values[r - 1]), rows[r][c]) << series[c].name << " row " << r;
    }
  }
  // The time counts from td0 (the first recorded step is within OutStep steps of it),
  // and the reservation held every recorded step.
  EXPECT_GE(series[0].values[0], 0.0);
  EXPECT_LT(series[0].values[0], 3 * s.dt);
  EXPECT_LE(series[0].values.size(), series[0].values.capacity());
  EXPECT_LE(series[0].values.capacity(), series[0].values.size() + 3);
}

TEST(ColumnRecorder, KeepsOnlyTheColumnsAskedForWithoutTouchingAFile) {
  SimulationSettings s = Study();
  s.OutFileName = TempPath("never.dat");
  CarriedState carried;
  SilentPlatform platform;
  ColumnRecorder all;
  ASSERT_EQ(RunSimulation(s, carried, platform, &all, false, 0).status, RunStatus::kReachedEnd);
  EXPECT_FALSE(std::filesystem::exists(s.OutFileName));

  SimulationSettings again = Study();
  ColumnRecorder some;
  some.KeepOnly({"StatorMode", "Vitesse(tr/mn)", "absent"});
  ASSERT_EQ(RunSimulation(again, carried, platform, &some, false, 0).status,
            RunStatus::kReachedEnd);
  // Table order, not the order asked for; the time always first.
  ASSERT_EQ(some.series().size(), 3u);
  EXPECT_EQ(some.series()[0].name, "time(s)");
  EXPECT_EQ(some.series()[1].name, "Vitesse(tr/mn)");
  EXPECT_EQ(some.series()[2].name, "StatorMode");
  EXPECT_EQ(some.series()[1].values, all.series()[2].values);
}

}  // namespace
}  // namespace mas
