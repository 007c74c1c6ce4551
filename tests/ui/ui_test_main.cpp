// GoogleTest with one QApplication for the whole binary, on Qt's offscreen platform
// unless another one is asked for. The tests run in a fresh temporary folder, so that what
// the windows write in the current folder (the swarm's logs, the parameter-file echo, the
// scratch folders) stays out of the folder the binary is started from; the folder is
// removed after a successful run and kept, its path said, after a failed one.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLocale>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "viewer/qt_french.h"

namespace {

// A new empty folder under the system's temporary folder.
std::filesystem::path MakeRunFolder() {
  std::string name = (std::filesystem::temp_directory_path() / "mas_ui_tests-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) return {};
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A locale with a decimal comma: numbers in the dialogs must not depend on it.
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // Qt's own texts in French, as the workbench installs them.
  mas::viewer::InstallQtFrenchTexts(app);

  const std::filesystem::path started_in = std::filesystem::current_path();
  const std::filesystem::path run_folder = MakeRunFolder();
  if (run_folder.empty()) {
    std::cerr << "ui_tests: no temporary folder to run in\n";
    return 1;
  }
  std::filesystem::current_path(run_folder);
  const int status = RUN_ALL_TESTS();
  std::filesystem::current_path(started_in);
  if (status == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(run_folder, ignored);
  } else {
    std::cerr << "ui_tests: the files of the run are kept in " << run_folder.string() << "\n";
  }
  return status;
}
