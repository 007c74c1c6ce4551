// mas-gui: the desktop workbench. The first argument, when given, names the study read
// at start-up. With --exit-when-shown the program ends as soon as its window has been
// painted once (to time the start-up).

#include <QApplication>
#include <QMessageBox>
#include <cstring>
#include <exception>

#include "ui/main_window.h"
#include "viewer/qt_french.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Commande vectorielle de MAS"));
  mas::viewer::InstallQtFrenchTexts(app);
  bool exit_when_shown = false;
  QString study;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--exit-when-shown") == 0) {
      exit_when_shown = true;
    } else if (study.isEmpty()) {
      study = QString::fromLocal8Bit(argv[i]);
    }
  }
  try {
    mas::ui::TSimulWindow window;
    if (!study.isEmpty()) window.ReadStartupStudy(study);
    if (exit_when_shown) {
      QObject::connect(&window, &mas::ui::TSimulWindow::firstPainted, &app, &QApplication::quit);
    }
    window.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Erreur"), QString::fromUtf8(e.what()));
    return 1;
  }
}
