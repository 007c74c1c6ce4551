#pragma once
// Qt's own texts in French: the buttons and labels of the file dialogs, the standard
// buttons of message boxes and input boxes, the context menus of the edits. The workbench
// and the curve viewer speak French whatever the user's locale; the locale still chooses
// how numbers are shown. Header only, for both programs and their tests.

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace mas::viewer {

// Installs Qt's French translations (qtbase_fr.qm of the Qt installation) on `app`.
// False, nothing installed, when the translation file is missing.
inline bool InstallQtFrenchTexts(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_fr"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

}  // namespace mas::viewer
