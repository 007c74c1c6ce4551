#pragma once
// What every test of a `mas` subcommand starts from: a fresh folder of its own (the tests
// run in parallel processes, and several builds may run the suite at once), the streams
// and the recording platform of the command, and helpers to write a study and read files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "files/parameter_file.h"
#include "files/settings_override.h"

namespace mas::testing {

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() / ("mas_cli_" + std::to_string(getpid()) + "_" +
                                                     test->test_suite_name() + "_" + test->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    env_.echo_path = Path("rd_echo.dat");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  int Mas(const std::vector<std::string>& args) { return MasMain(args, env_); }

  // The default study with these `--set` overrides, written to Path(name).
  std::string WriteStudy(const std::vector<std::string>& overrides,
                         const std::string& name = "study.mas") const {
    SimulationSettings s;
    ApplyOverrides(s, ParseOverrides(overrides));
    WriteParameterFile(s, Path(name));
    return Path(name);
  }

  static std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir_;
  std::ostringstream out_, err_;
  RecordingPlatform platform_;
  CliEnvironment env_{out_, err_, platform_};
};

}  // namespace mas::testing
