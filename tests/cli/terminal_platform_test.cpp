#include "cli/terminal_platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace mas {
namespace {

TEST(TerminalPlatform, WithoutTerminalWritesOnlyMessages) {
  std::ostringstream err;
  TerminalPlatform platform(err, /*interactive=*/false);
  platform.SetStatusText("Simulation en cours");
  platform.SetProgress(0);
  platform.SetProgress(50);
  platform.ShowMessage("La simulation a divergée", "Erreur", MessageIcon::kError);
  platform.ShowMessage("sans titre", "", MessageIcon::kInformation);
  platform.SetProgress(100);
  EXPECT_EQ(err.str(), "Erreur: La simulation a divergée\nsans titre\n");
}

TEST(TerminalPlatform, ProgressRedrawsOneLineThatMessagesAndCompletionEnd) {
  std::ostringstream err;
  TerminalPlatform platform(err, /*interactive=*/true);
  platform.SetStatusText("Simulation en cours");
  EXPECT_EQ(err.str(), "");  // no line before the first progress
  platform.SetProgress(50);
  EXPECT_EQ(err.str(), "\rSimulation en cours [###############---------------]  50 %\x1b[K");
  platform.ShowMessage("La simulation a divergée", "Erreur", MessageIcon::kError);
  EXPECT_TRUE(err.str().ends_with("\x1b[K\nErreur: La simulation a divergée\n")) << err.str();

  err.str("");
  platform.SetProgress(140);  // clamped
  EXPECT_EQ(err.str(), "\rSimulation en cours [##############################] 100 %\x1b[K\n");
  err.str("");
  platform.SetStatusText("Fin de la simulation");  // the line is closed: nothing drawn
  EXPECT_EQ(err.str(), "");
}

TEST(TerminalPlatform, FirstCtrlCIsRememberedAndTheSecondActsNormally) {
  ClearInterruptRequest();
  std::signal(SIGINT, SIG_DFL);
  InstallInterruptHandler();
  std::ostringstream err;
  TerminalPlatform platform(err, false);
  EXPECT_FALSE(platform.EscapePressed());
  std::raise(SIGINT);
  EXPECT_TRUE(platform.EscapePressed());
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  ClearInterruptRequest();
  EXPECT_FALSE(platform.EscapePressed());
}

TEST(TerminalPlatform, BackgroundJobKeepsIgnoringCtrlC) {
  std::signal(SIGINT, SIG_IGN);
  InstallInterruptHandler();
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  std::signal(SIGINT, SIG_DFL);
}

TEST(TerminalPlatform, StartsTheProgramWithoutWaitingForItAndPassesTheFileAsIs) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("mas_cli_start_" + std::to_string(getpid()));
  fs::create_directories(dir);
  // A stand-in viewer that waits (30 s at most) for the test to create "release", then
  // records the argument it was given: a platform that waited for it would find "seen"
  // written when it returns.
  const fs::path viewer = dir / "viewer.sh";
  {
    std::ofstream script(viewer);
    script << "#!/bin/sh\nd=\"$(dirname \"$0\")\"\ni=0\n"
           << "while [ ! -e \"$d/release\" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done\n"
           << "printf '%s' \"$1\" > \"$d/seen.tmp\"\nmv \"$d/seen.tmp\" \"$d/seen\"\n";
  }
  fs::permissions(viewer, fs::perms::owner_all);
  // A data file name with spaces and shell characters must reach the viewer unchanged and
  // never be run as a command.
  const std::string data_file = (dir / "a b; touch injected.dat").string();
  std::ostringstream err;
  TerminalPlatform platform(err, false);
  platform.StartProcess(viewer.string() + " " + data_file);
  const fs::path seen = dir / "seen";
  EXPECT_FALSE(fs::exists(seen));  // returned while the viewer still waits
  std::ofstream(dir / "release").put('x');
  for (int i = 0; i < 200 && !fs::exists(seen); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::ifstream in(seen);
  std::string argument((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(argument, data_file);
  EXPECT_FALSE(fs::exists("injected.dat"));
  EXPECT_EQ(err.str(), "");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace mas
