// tracix: the curve viewer of the workbench. With --png, --svg or --pdf it draws and exits
// without a window (on the offscreen platform when there is no display); otherwise it
// opens its window on the data file.

#include <QApplication>
#include <QTextStream>
#include <csignal>
#include <cstdlib>

#include "platform/version.h"
#include "viewer/headless.h"
#include "viewer/main_window.h"
#include "viewer/qt_french.h"

namespace {
bool Unset(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0';
}
}  // namespace

int main(int argc, char** argv) {
  // A write beyond a file-size limit fails as a full disk does (the picture is not
  // written, the previous file kept, a message) rather than killing the program.
  std::signal(SIGXFSZ, SIG_IGN);
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  mas::viewer::ViewerOptions options;
  QString error;
  const bool parsed = mas::viewer::ParseViewerOptions(arguments, options, error);
  QTextStream err(stderr);
  if (!parsed) {
    err << "Erreur: " << error << "\n" << mas::viewer::ViewerUsage();
    return mas::viewer::kHeadlessBadArguments;
  }
  if (options.help) {
    QTextStream(stdout) << mas::viewer::ViewerUsage();
    return 0;
  }
  if (options.version) {
    QTextStream(stdout) << "tracix " << mas::kVersion << "\n";
    return 0;
  }
  const bool no_display = Unset("DISPLAY") && Unset("WAYLAND_DISPLAY") && Unset("QT_QPA_PLATFORM");
  if (options.Headless() && no_display) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!options.Headless() && no_display) {
    err << "Erreur: aucun affichage (DISPLAY) pour la fenêtre du visualiseur ; "
           "--png, --svg ou --pdf dessinent sans fenêtre\n";
    return mas::viewer::kHeadlessUnreadable;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tracix"));
  mas::viewer::InstallQtFrenchTexts(app);
  if (options.Headless()) {
    QString log;
    const int status = mas::viewer::RunHeadless(options, log);
    err << log;
    return status;
  }
  mas::viewer::MainWindow window(options);
  window.show();
  return QApplication::exec();
}
