// mas-gui: the desktop workbench. The first argument, when given, names the study read
// at start-up. With --exit-when-shown the program ends as soon as its window has been
// painted once (to time the start-up). --help and --version answer on the terminal and
// exit without opening a window.

#include <QApplication>
#include <QMessageBox>
#include <cstring>
#include <exception>
#include <iostream>

#include "platform/version.h"
#include "ui/main_window.h"
#include "viewer/qt_french.h"

namespace {
constexpr const char* kUsage =
    "Usage : mas-gui [ETUDE.mas]\n"
    "Banc de simulation de la commande vectorielle d'une machine asynchrone (MAS) : ouvre\n"
    "la fenêtre du banc, sur l'étude donnée s'il y en a une.\n"
    "\n"
    "Options :\n"
    "  -h, --help           affiche cette aide et quitte\n"
    "  --version            affiche la version et quitte\n"
    "  --exit-when-shown    quitte dès que la fenêtre a été dessinée une fois (mesure du\n"
    "                       temps de démarrage)\n";
}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "mas-gui " << mas::kVersion << '\n';
      return 0;
    }
  }
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
