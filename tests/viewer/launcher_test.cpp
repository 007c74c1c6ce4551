#include "viewer/launcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace mas::viewer {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A folder with a stand-in viewer that records its arguments, one per line, once released.
class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mas_viewer_launch_" + std::to_string(getpid()));
    fs::create_directories(dir_ / "bin");
    WriteScript(dir_ / "bin" / "tracix");
    const char* path = std::getenv("PATH");
    saved_path_ = path == nullptr ? "" : path;
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    fs::remove_all(dir_);
  }
  void WriteScript(const fs::path& file) {
    {
      std::ofstream script(file);
      // It waits (30 s at most) for the test to create "release": a launcher that waited
      // for the viewer would find "seen" written when it returns.
      script << "#!/bin/sh\ni=0\nwhile [ ! -e \"" << (dir_ / "release").string()
             << "\" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done\n"
             << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << (dir_ / "seen").string()
             << ".tmp\"\nmv \"" << (dir_ / "seen").string() << ".tmp\" \""
             << (dir_ / "seen").string() << "\"\n";
    }
    fs::permissions(file, fs::perms::owner_all);
  }
  // Lets the stand-in viewer go on, then reads what it recorded.
  std::string Seen() {
    std::ofstream(dir_ / "release").put('x');
    for (int i = 0; i < 200 && !fs::exists(dir_ / "seen"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::ifstream in(dir_ / "seen");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
  std::string saved_path_;
};

TEST_F(LauncherTest, StartsTheViewerOnThePathWithTheFileAsOneArgumentWithoutWaiting) {
  setenv("PATH", ((dir_ / "bin").string() + ":" + saved_path_).c_str(), 1);
  // The test binary has no tracix beside it: the PATH one is found.
  EXPECT_EQ(FindViewer(), (dir_ / "bin" / "tracix").string());
  const std::string data_file = (dir_ / "a b; touch injected.dat $(id)").string();
  const LaunchResult r = StartViewerCommandLine("Tracix.exe " + data_file);
  EXPECT_TRUE(r.started) << r.message;
  EXPECT_FALSE(fs::exists(dir_ / "seen"));  // returned while the viewer still waits
  EXPECT_EQ(Seen(), data_file + "\n");
  EXPECT_FALSE(fs::exists("injected.dat"));
}

TEST_F(LauncherTest, ReportsAViewerThatCannotBeFound) {
  setenv("PATH", (dir_ / "empty").string().c_str(), 1);
  EXPECT_EQ(FindViewer(), "");
  const LaunchResult r = LaunchViewer("out.dat");
  EXPECT_FALSE(r.started);
  EXPECT_THAT(r.message, HasSubstr("tracix"));
  const LaunchResult other = StartViewerCommandLine("no-such-program out.dat");
  EXPECT_FALSE(other.started);
  EXPECT_THAT(other.message, HasSubstr("no-such-program"));
  // A file that is not executable is not a program.
  std::ofstream(dir_ / "plain").put('x');
  EXPECT_FALSE(StartDetached((dir_ / "plain").string(), {}).started);
}

TEST_F(LauncherTest, AnotherProgramIsStartedAsNamed) {
  WriteScript(dir_ / "other viewer");
  const LaunchResult r = StartDetached((dir_ / "other viewer").string(), {"x y", "", "z"});
  ASSERT_TRUE(r.started) << r.message;
  EXPECT_EQ(Seen(), "x y\n\nz\n");
}

}  // namespace
}  // namespace mas::viewer
