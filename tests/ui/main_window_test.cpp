#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cli/commands.h"
#include "study_fixture.h"
#include "ui/about_box.h"
#include "ui/bar_editor.h"
#include "ui/diagram_geometry.h"
#include "ui/diagram_widget.h"
#include "ui/dialog_model.h"
#include "ui/menu_table.h"
#include "ui/settings_form.h"

namespace mas::ui {
namespace {

using testing::ExamplePath;
using testing::ScratchDir;

struct Shown {
  QString text, caption;
  MessageIcon icon;
};

// A window whose message boxes, file dialogs and viewer are recorded instead of shown.
struct Fixture {
  TSimulWindow window;
  std::vector<Shown> messages;
  std::vector<QString> viewers;
  QString next_file;
  std::vector<bool> file_dialogs;  // true: save dialog
  // What the next settings dialog gets typed into it: field -> text; accepted when set.
  std::map<std::string, std::string> typing;
  bool accept = true;
  // The question asked before unsaved changes are dropped, and its answer.
  int save_questions = 0;
  QMessageBox::StandardButton save_answer = QMessageBox::Discard;

  Fixture() {
    window.message_presenter = [this](const QString& t, const QString& c, MessageIcon i) {
      messages.push_back({t, c, i});
    };
    window.viewer_starter = [this](const QString& f) { viewers.push_back(f); };
    window.save_question = [this] {
      ++save_questions;
      return save_answer;
    };
    window.file_chooser = [this](bool save) {
      file_dialogs.push_back(save);
      return next_file;
    };
    window.dialog_runner = [this](QDialog& d) {
      if (auto* form = qobject_cast<SettingsForm*>(&d)) {
        for (const auto& [field, text] : typing) {
          qobject_cast<QLineEdit*>(form->ControlFor(field))->setText(QString::fromStdString(text));
        }
      }
      typing.clear();
      return accept ? QDialog::Accepted : QDialog::Rejected;
    };
  }

  void Dialog(const std::string& id, std::map<std::string, std::string> texts) {
    typing = std::move(texts);
    window.RunSettingsDialog(id);
  }

  bool RunAndWait(int timeout_ms = 120000) {
    QSignalSpy finished(&window, &TSimulWindow::runFinished);
    window.CmRun();
    return finished.count() > 0 || finished.wait(timeout_ms);
  }
};

// The title as the title bar shows it: Qt's "[*]" becomes "*" for a changed study.
std::string ShownTitle(const TSimulWindow& window) {
  QString title = window.windowTitle();
  title.replace(QStringLiteral("[*]"), window.isWindowModified() ? QStringLiteral("*") : QString());
  return title.toStdString();
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(MainWindow, StartsEmptyAndRefusesToRunWithoutAStudy) {
  Fixture f;
  EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS");
  EXPECT_FALSE(f.window.Settings().FileLoaded);
  ASSERT_TRUE(f.RunAndWait());
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].text, "Aucun fichier de données n'a été chargé");
  EXPECT_TRUE(f.viewers.empty());
  // The window stays usable.
  EXPECT_TRUE(f.window.ActionFor("CmRun")->isEnabled());
  EXPECT_TRUE(f.window.ActionFor("CmOptionsTimeSimul")->isEnabled());
  EXPECT_FALSE(f.window.StopAction()->isEnabled());
}

TEST(MainWindow, RunFromTheWindowWritesTheTableOfMasRun) {
  const auto dir = ScratchDir("run");
  Fixture f;
  f.window.ReadStartupStudy(QString::fromStdString(ExamplePath("vector_control_pi.mas")));
  // Started with a study: read, caption unchanged.
  EXPECT_TRUE(f.window.Settings().FileLoaded);
  EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS");
  f.Dialog("TDIALOG_TIMESIMUL", {{"tf", "0.05"}});
  f.Dialog("TDIALOG_OptionsFichier", {{"OutFileName", (dir / "window.dat").string()}});
  ASSERT_TRUE(f.RunAndWait());
  EXPECT_TRUE(f.messages.empty());
  EXPECT_EQ(f.window.LastRunMode(), 0);
  ASSERT_EQ(f.viewers.size(), 1u);
  EXPECT_EQ(f.viewers[0].toStdString(), (dir / "window.dat").string());
  EXPECT_EQ(f.window.Progress()->value(), 100);
  EXPECT_EQ(f.window.statusBar()->currentMessage(), "Fin de la simulation");

  std::ostringstream out, err;
  RecordingPlatform platform;
  CliEnvironment env{out, err, platform, (dir / "echo.dat").string()};
  RunRequest request;
  request.study = ExamplePath("vector_control_pi.mas");
  request.overrides = {"tf=0.05"};
  request.output = (dir / "cli.dat").string();
  ASSERT_EQ(RunStudyCommand(request, env), 0) << err.str();
  const std::string table = FileText(dir / "cli.dat");
  EXPECT_GT(table.size(), 1000u);
  EXPECT_EQ(FileText(dir / "window.dat"), table);

  // With experimental columns asked for but no tables built, the run is a plain one.
  f.window.MutableSettings().OutSelExp[0] = 1;
  ASSERT_TRUE(f.RunAndWait());
  EXPECT_EQ(f.window.LastRunMode(), 0);
}

TEST(MainWindow, StopEndsTheRunAtItsNextProgressStep) {
  const auto dir = ScratchDir("stop");
  Fixture f;
  f.window.ReadStartupStudy(QString::fromStdString(ExamplePath("vector_control_pi.mas")));
  f.Dialog("TDIALOG_TIMESIMUL", {{"tf", "20"}});
  f.Dialog("TDIALOG_OptionsFichier", {{"OutFileName", (dir / "stop.dat").string()}});
  f.window.show();
  QApplication::setActiveWindow(&f.window);
  QSignalSpy finished(&f.window, &TSimulWindow::runFinished);
  QSignalSpy progress(f.window.Progress(), &QProgressBar::valueChanged);
  f.window.CmRun();
  EXPECT_TRUE(f.window.Running());
  // Commands that change the study are off while the run goes.
  EXPECT_FALSE(f.window.ActionFor("CmOptionsTimeSimul")->isEnabled());
  EXPECT_FALSE(f.window.ActionFor("CmFileOpen")->isEnabled());
  EXPECT_FALSE(f.window.ActionFor("CmRun")->isEnabled());
  EXPECT_TRUE(f.window.ActionFor("CmFileSave")->isEnabled());
  EXPECT_TRUE(f.window.StopAction()->isEnabled());
  const double tf_before = f.window.Settings().tf;
  f.Dialog("TDIALOG_TIMESIMUL", {{"tf", "1"}});  // refused while running
  EXPECT_EQ(f.window.Settings().tf, tf_before);
  while (progress.count() < 2 && finished.count() == 0) progress.wait(60000);
  ASSERT_EQ(finished.count(), 0) << "the run ended before it could be stopped";
  // Escape is the shortcut of "Arrêter", which answers while the window is active only.
  f.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
  QTest::keyClick(&f.window, Qt::Key_Escape);
  ASSERT_TRUE(finished.count() > 0 || finished.wait(60000));
  EXPECT_EQ(f.window.Carried().CostIdent, -1.0);  // the run's mark of an interruption
  // Stopped within a few progress steps: the table holds a small part of the 200000
  // lines of the whole run.
  const std::string table = FileText(dir / "stop.dat");
  EXPECT_LT(std::count(table.begin(), table.end(), '\n'), 20000);
  EXPECT_TRUE(f.window.ActionFor("CmOptionsTimeSimul")->isEnabled());
  EXPECT_FALSE(f.window.StopAction()->isEnabled());
  EXPECT_EQ(f.window.statusBar()->currentMessage(), "Simulation interrompue");
  EXPECT_EQ(f.window.Progress()->value(), 0);  // not left full
}

// Two modes ticked: the run is refused with a warning; nothing ended, the status bar does
// not say so and the progress bar is not left full.
TEST(MainWindow, ARefusedRunIsAWarningAndEndsNothing) {
  const auto dir = ScratchDir("refused");
  Fixture f;
  f.window.ReadStartupStudy(QString::fromStdString(ExamplePath("vector_control_pi.mas")));
  f.Dialog("TDIALOG_OptionsFichier", {{"OutFileName", (dir / "refused.dat").string()}});
  f.window.MutableSettings().VectCtrl = 1;
  f.window.MutableSettings().Statique = 1;
  f.window.Progress()->setValue(100);  // as a previous run leaves it
  ASSERT_TRUE(f.RunAndWait());
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].text, "Aucune simulation n'a été sélectionnée");
  EXPECT_EQ(f.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_NE(f.window.statusBar()->currentMessage(), "Fin de la simulation");
  EXPECT_EQ(f.window.Progress()->value(), 0);
  EXPECT_TRUE(f.viewers.empty());
}

TEST(MainWindow, AJobWorksOnACopyOfTheStudyAndHandsItBackWhenItEnds) {
  Fixture f;
  f.window.ReadStartupStudy(QString::fromStdString(ExamplePath("vector_control_pi.mas")));
  const double rs_before = f.window.Settings().mRs;
  QSignalSpy busy(&f.window, &TSimulWindow::busyChanged);
  std::atomic<bool> release{false};
  std::atomic<bool> saw_stop{false};
  bool done = false;
  ASSERT_TRUE(f.window.StartStudyJob(
      [&](SimulationSettings& s, CarriedState&, Platform& platform) {
        s.mRs = 2 * s.mRs;
        platform.SetStatusText("génération 1");
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        saw_stop = platform.EscapePressed();
      },
      [&] { done = true; }));
  // During the job the window's study is untouched, its commands are off, and neither a
  // run nor a second job can start.
  EXPECT_TRUE(f.window.Busy());
  EXPECT_EQ(f.window.Settings().mRs, rs_before);
  EXPECT_FALSE(f.window.ActionFor("CmOptionsTimeSimul")->isEnabled());
  EXPECT_FALSE(f.window.StartStudyJob([](SimulationSettings&, CarriedState&, Platform&) {}, {}));
  f.window.StopRun();
  release = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
  EXPECT_TRUE(saw_stop);
  EXPECT_EQ(f.window.Settings().mRs, 2 * rs_before);
  EXPECT_EQ(f.window.statusBar()->currentMessage(), "génération 1");
  EXPECT_TRUE(f.window.ActionFor("CmOptionsTimeSimul")->isEnabled());
  ASSERT_EQ(busy.count(), 2);
  EXPECT_FALSE(busy[1][0].toBool());

  // A job that throws shows why and leaves the window usable; the next job runs.
  done = false;
  ASSERT_TRUE(f.window.StartStudyJob(
      [](SimulationSettings&, CarriedState&, Platform&) { throw std::runtime_error("panne"); },
      [&] { done = true; }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].text, "panne");
  EXPECT_FALSE(f.window.Busy());

  // A registered workbench command replaces the "not available" message.
  int called = 0;
  f.window.RegisterWorkbenchCommand("CmInitRandomizeW1", [&] { ++called; });
  f.window.RunCommand(MenuItemByHandler("CmInitRandomizeW1"));
  MenuItem unregistered = MenuItemByHandler("CmFenetreprincipaleoptPSO");
  unregistered.handler = "CmFenetreInconnue";
  f.window.RunCommand(unregistered);
  EXPECT_EQ(called, 1);
  ASSERT_EQ(f.messages.size(), 2u);
  EXPECT_TRUE(f.messages[1].text.contains("CmFenetreInconnue"));
}

TEST(MainWindow, AFileThatCannotBeReadOrWrittenChangesNothing) {
  const auto dir = ScratchDir("files");
  Fixture f;
  f.next_file = QString::fromStdString(ExamplePath("vector_control_pi.mas"));
  ASSERT_TRUE(f.window.CmFileOpen());
  EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS - vector_control_pi.mas");
  f.Dialog("TDIALOG_ONDULEUR", {{"E2", "300"}});
  EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS - vector_control_pi.mas*");
  const std::string before = SettingsFingerprint(f.window.Settings());
  const std::string name = f.window.Settings().ParamFileName;

  {
    std::ofstream bad(dir / "bad.mas");
    bad << "1 1.4 abc\n";
  }
  struct Case {
    std::string file;
    QString text_start;
  };
  const Case cases[] = {
      {(dir / "bad.mas").string(), "Erreur de lecture !!! "},
      {(dir / "missing.mas").string(), "Impossible d'ouvrir le fichier "},
      {dir.string(), "Impossible d'ouvrir le fichier "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    f.messages.clear();
    f.next_file = QString::fromStdString(c.file);
    EXPECT_FALSE(f.window.CmFileOpen());
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_TRUE(f.messages[0].text.startsWith(c.text_start)) << f.messages[0].text.toStdString();
    EXPECT_EQ(f.messages[0].caption, "Erreur");
    EXPECT_EQ(SettingsFingerprint(f.window.Settings()), before);
    EXPECT_EQ(f.window.Settings().ParamFileName, name);
    EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS - vector_control_pi.mas*");
  }

  // A study that cannot be written: message, name and caption kept.
  f.messages.clear();
  f.next_file = QString::fromStdString((dir / "no such folder" / "x.mas").string());
  EXPECT_FALSE(f.window.CmFileSaveAs());
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].caption, "Erreur d'écriture");
  EXPECT_EQ(f.window.Settings().ParamFileName, name);
  EXPECT_TRUE(f.window.StudyChanged());

  // Cancelled dialogs change nothing.
  f.next_file.clear();
  EXPECT_FALSE(f.window.CmFileOpen());
  EXPECT_FALSE(f.window.CmFileSaveAs());
  EXPECT_EQ(f.window.Settings().ParamFileName, name);
}

TEST(MainWindow, SaveWithoutANameActsAsSaveAsAndClosingAsksForUnsavedChanges) {
  const auto dir = ScratchDir("save");
  Fixture f;
  f.Dialog("TDIALOG_ONDULEUR", {{"E2", "250"}});
  EXPECT_TRUE(f.window.StudyChanged());
  f.next_file = QString::fromStdString((dir / "new.mas").string());
  ASSERT_TRUE(f.window.CmFileSave());
  EXPECT_EQ(f.file_dialogs, std::vector<bool>{true});
  EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS - new.mas");
  EXPECT_FALSE(f.window.StudyChanged());
  EXPECT_NE(FileText(dir / "new.mas").find("250"), std::string::npos);

  // A dialog closed with "Annuler" changes nothing.
  f.accept = false;
  f.Dialog("TDIALOG_ONDULEUR", {{"E2", "100"}});
  f.accept = true;
  EXPECT_FALSE(f.window.StudyChanged());

  int questions = 0;
  QMessageBox::StandardButton answer = QMessageBox::Cancel;
  f.window.save_question = [&] {
    ++questions;
    return answer;
  };
  f.window.show();
  f.Dialog("TDIALOG_ONDULEUR", {{"E2", "200"}});
  EXPECT_FALSE(f.window.close());  // "Annuler": the window stays
  EXPECT_EQ(questions, 1);
  EXPECT_TRUE(f.window.isVisible());
  answer = QMessageBox::Save;  // "Enregistrer": written under its name, then closed
  EXPECT_TRUE(f.window.close());
  EXPECT_NE(FileText(dir / "new.mas").find("200"), std::string::npos);
  f.window.show();
  EXPECT_TRUE(f.window.close());  // nothing changed since: no question
  EXPECT_EQ(questions, 2);
}

// Opening another study over unsaved changes asks first: "Annuler" keeps everything (no
// file dialog), "Enregistrer" writes the study before the other is read, "Ne pas
// enregistrer" drops the changes. The title bar marks the changed study after its caption.
TEST(MainWindow, OpeningAnotherStudyAsksBeforeDroppingUnsavedChanges) {
  const auto dir = ScratchDir("open_over_changes");
  const auto first = dir / "first.mas";
  std::filesystem::copy_file(ExamplePath("vector_control_pi.mas"), first);
  Fixture f;
  f.next_file = QString::fromStdString(first.string());
  ASSERT_TRUE(f.window.CmFileOpen());
  EXPECT_EQ(f.save_questions, 0);  // nothing to drop
  f.Dialog("TDIALOG_ONDULEUR", {{"E2", "250"}});
  EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS - first.mas*");

  f.save_answer = QMessageBox::Cancel;
  f.file_dialogs.clear();
  f.next_file = QString::fromStdString(ExamplePath("tuning_fuzzy.mas"));
  EXPECT_FALSE(f.window.CmFileOpen());
  EXPECT_EQ(f.save_questions, 1);
  EXPECT_TRUE(f.file_dialogs.empty());
  EXPECT_EQ(f.window.Settings().E2, 250.0);

  f.save_answer = QMessageBox::Save;
  ASSERT_TRUE(f.window.CmFileOpen());
  EXPECT_EQ(f.save_questions, 2);
  EXPECT_NE(FileText(first).find("250"), std::string::npos);
  EXPECT_EQ(ShownTitle(f.window), "Commande vectorielle de MAS - tuning_fuzzy.mas");

  f.Dialog("TDIALOG_ONDULEUR", {{"E2", "111"}});
  f.save_answer = QMessageBox::Discard;
  f.next_file = QString::fromStdString(first.string());
  f.window.Progress()->setValue(100);  // the last run's progress
  ASSERT_TRUE(f.window.CmFileOpen());
  EXPECT_EQ(f.window.Progress()->value(), 0);
  EXPECT_EQ(f.save_questions, 3);
  EXPECT_EQ(f.window.Settings().E2, 250.0);
  EXPECT_EQ(FileText(ExamplePath("tuning_fuzzy.mas")).find("111"), std::string::npos);
  EXPECT_FALSE(f.window.isWindowModified());

  // The real question: "Enregistrer" is its default button, "Annuler" its escape.
  f.window.save_question = nullptr;
  f.Dialog("TDIALOG_ONDULEUR", {{"E2", "112"}});
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->defaultButton()->text(), "Enregistrer");
    QStringList texts;
    for (QAbstractButton* b : box->buttons()) texts << b->text();
    texts.sort();
    EXPECT_EQ(texts, (QStringList{"Annuler", "Enregistrer", "Ne pas enregistrer"}));
    box->escapeButton()->click();
  });
  EXPECT_FALSE(f.window.CmFileOpen());
  EXPECT_TRUE(seen);
  EXPECT_EQ(f.window.Settings().E2, 112.0);
}

// Texts of buttons as read, without their accelerator marks.
QStringList ButtonTexts(QWidget& w) {
  QStringList texts;
  for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
    if (b->isVisibleTo(&w) && qobject_cast<QPushButton*>(b)) texts << b->text().remove('&');
  }
  texts.sort();
  return texts;
}

// Qt's own windows speak French: the open-file dialog, the input boxes, the message
// boxes' standard buttons and the edits' context menus.
TEST(FrenchTexts, QtsOwnDialogsAndMenusSpeakFrench) {
  QFileDialog open(nullptr, QStringLiteral("Ouvrir"), QString(),
                   QStringLiteral("Fichier Machine (*.MAS *.mas)"));
  open.setOption(QFileDialog::DontUseNativeDialog);
  open.setAcceptMode(QFileDialog::AcceptOpen);
  EXPECT_EQ(ButtonTexts(open), (QStringList{"Annuler", "Ouvrir"}));
  QInputDialog input;
  input.setLabelText(QStringLiteral("Nombre de générations :"));
  input.show();
  EXPECT_EQ(ButtonTexts(input), (QStringList{"Annuler", "OK"}));
  QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(ButtonTexts(box), (QStringList{"Non", "Oui"}));
  QLineEdit edit;
  std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList items;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator()) items << a->text().remove('&').section('\t', 0, 0);
  }
  EXPECT_TRUE(items.contains("Copier")) << items.join(", ").toStdString();
  EXPECT_TRUE(items.contains("Coller")) << items.join(", ").toStdString();
}

// Every settings command and every diagram region opens its own dialog.
TEST(MainWindow, CommandsAndRegionsOpenTheirDialogs) {
  Fixture f;
  std::vector<std::string> opened;
  f.window.dialog_runner = [&](QDialog& d) {
    opened.push_back(d.objectName().toStdString() + " " + d.windowTitle().toStdString());
    return QDialog::Rejected;
  };
  for (const MenuItem& item : MenuItems()) {
    if (item.command != Command::kSettingsDialog) continue;
    SCOPED_TRACE(item.handler);
    opened.clear();
    f.window.RunCommand(item);
    const DialogDescription& d = DialogById(item.dialog);
    EXPECT_EQ(opened, std::vector<std::string>{d.id + " " + d.caption});
  }
  opened.clear();
  f.window.RunCommand(MenuItemByHandler("CmOptionsBarre"));
  f.window.RunCommand(MenuItemByHandler("CmAbout"));
  EXPECT_EQ(opened, (std::vector<std::string>{"TDIALOG_BARRE Barres cassées",
                                              "AboutBox A propos du logiciel de simulation"}));

  f.window.show();
  f.window.resize(900, 700);
  QApplication::processEvents();
  DiagramWidget* diagram = f.window.Diagram();
  for (const Region& r : DiagramRegions()) {
    SCOPED_TRACE(r.element);
    opened.clear();
    QTest::mouseClick(diagram, Qt::LeftButton, Qt::NoModifier,
                      diagram->FromClient(QPointF(r.left + 3, r.top + 3)).toPoint());
    ASSERT_EQ(opened.size(), 1u);
    const std::string id = *r.dialog ? r.dialog : "AboutBox";
    EXPECT_EQ(opened[0].substr(0, id.size()), id);
  }
  // The identification workbenches are windows of their own, shown by their items.
  f.window.RunCommand(MenuItemByHandler("CmFenetreprincipaleoptPSO"));
  f.window.RunCommand(MenuItemByHandler("FentreprincipaledeloptimisationGenClick"));
  EXPECT_TRUE(f.window.findChild<QWidget*>(QStringLiteral("TPsoDemWindow"))->isVisible());
  EXPECT_TRUE(f.window.findChild<QWidget*>(QStringLiteral("TGenDemWindow"))->isVisible());
}

// Every label, check box and radio button of a dialog is as wide as its text needs, and
// every frame's title is one line that fits its frame.
void ExpectNothingCut(QWidget& dialog) {
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
      EXPECT_FALSE(box->title().contains('\n')) << box->title().toStdString();
      EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->title()) + 16)
          << dialog.objectName().toStdString() << ": " << box->title().toStdString();
    }
    if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
      EXPECT_GE(w->width(), w->sizeHint().width())
          << dialog.objectName().toStdString() << ": "
          << (qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text()
                                       : qobject_cast<QAbstractButton*>(w)->text())
                 .toStdString();
    }
  }
}

TEST(Screenshots, OfTheWindowAndEveryDialog) {
  const QString dir = testing::ScreenshotDir();
  const SimulationSettings study = testing::ReadExample("broken_bar.mas");
  for (const DialogDescription& d : AllDialogs()) {
    SettingsForm form(d);
    form.Load(study);
    form.show();
    QApplication::processEvents();
    ExpectNothingCut(form);
    EXPECT_TRUE(form.grab().save(dir + "/" + QString::fromStdString(d.id) + ".png")) << d.id;
  }
  std::vector<double> rb = study.cage.Rb;
  BarEditor bars(study.cage.Nr, study.cage.RbSain, study.cage.RbCasse, rb);
  bars.show();
  ExpectNothingCut(bars);
  EXPECT_TRUE(bars.grab().save(dir + "/TDIALOG_BARRE.png"));
  AboutBox about;
  about.show();
  EXPECT_TRUE(about.grab().save(dir + "/AboutBox.png"));

  Fixture f;
  f.window.show();
  f.window.resize(640, 500);
  QApplication::processEvents();
  const QImage plain = f.window.grab().toImage();
  EXPECT_TRUE(plain.save(dir + "/TSimulWindow.png"));
  // Hover tints: the inverter at the nominal size, the machine on a large window. The
  // element under the mouse changes colour; away from it the picture stays as it was.
  DiagramWidget* diagram = f.window.Diagram();
  const QPoint inverter = diagram->FromClient(QPointF(490, 100)).toPoint();
  QTest::mouseMove(diagram, inverter);
  QApplication::processEvents();
  const QImage hover = f.window.grab().toImage();
  EXPECT_TRUE(hover.save(dir + "/TSimulWindow_hover.png"));
  const QPoint at = diagram->mapTo(&f.window, inverter);
  const QPoint away = diagram->mapTo(&f.window, QPoint(12, 12));
  const qreal ratio = hover.devicePixelRatio();
  auto pixel = [&](const QImage& image, QPoint p) {
    return image.pixelColor(static_cast<int>(p.x() * ratio), static_cast<int>(p.y() * ratio));
  };
  // Pixels around `p` that differ between the two pictures.
  auto changed = [&](const QImage& a, const QImage& b, QPoint p) {
    int n = 0;
    for (int dx = -6; dx <= 6; ++dx) {
      for (int dy = -6; dy <= 6; ++dy)
        n += pixel(a, p + QPoint(dx, dy)) != pixel(b, p + QPoint(dx, dy));
    }
    return n;
  };
  EXPECT_GT(changed(hover, plain, at), 40) << "no tint under the mouse";
  EXPECT_EQ(changed(hover, plain, away), 0);
  f.window.resize(1250, 900);
  QApplication::processEvents();
  const QImage large_plain = f.window.grab().toImage();
  const QPoint machine = diagram->FromClient(QPointF(570, 110)).toPoint();
  QTest::mouseMove(diagram, machine);
  QApplication::processEvents();
  const QImage large = f.window.grab().toImage();
  EXPECT_TRUE(large.save(dir + "/TSimulWindow_large.png"));
  EXPECT_GT(changed(large, large_plain, diagram->mapTo(&f.window, machine)), 40)
      << "no tint under the mouse on the large window";
}

}  // namespace
}  // namespace mas::ui
