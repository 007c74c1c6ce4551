// GoogleTest with one QApplication for the whole binary, on Qt's offscreen platform
// unless another one is asked for.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A locale with a decimal comma: numbers in the dialogs must not depend on it.
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
