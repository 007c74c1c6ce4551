#pragma once
// A study read from the examples, for the workbench tests.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <filesystem>
#include <string>

#include "engine/settings.h"
#include "files/parameter_file.h"

namespace mas::ui::testing {

inline std::string ExamplePath(const std::string& name) {
  return std::string(MAS_SOURCE_DIR) + "/examples/" + name;
}

// A scratch folder of the test binary's own, emptied at the start of each use (in the
// temporary folder the binary runs in: ui_test_main.cpp).
inline std::filesystem::path ScratchDir(const std::string& name) {
  const auto dir = std::filesystem::current_path() / "ui_scratch" / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// The folder of the screenshots, beside the test binary (the tests run in a temporary
// folder), created.
inline QString ScreenshotDir() {
  const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  QDir().mkpath(dir);
  return dir;
}

inline SimulationSettings ReadExample(const std::string& name) {
  SimulationSettings s;
  s.ParamFileName = ExamplePath(name);
  SilentPlatform platform;
  const auto echo = std::filesystem::current_path() / "mas_ui_test_echo.dat";
  ReadParameterFile(s, platform, echo.string());
  return s;
}

}  // namespace mas::ui::testing
