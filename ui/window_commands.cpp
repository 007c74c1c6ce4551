// The commands of the main window: study files, runs, the curve viewer and the settings
// dialogs.

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <algorithm>

#include "files/parameter_file.h"
#include "ui/about_box.h"
#include "ui/bar_editor.h"
#include "ui/dialog_model.h"
#include "ui/dsvpwm_window.h"
#include "ui/main_window.h"
#include "ui/settings_form.h"

#ifdef MAS_HAVE_VIEWER_LAUNCHER
#include "viewer/launcher.h"
#endif

namespace mas::ui {
namespace {

const QString kFilter = QStringLiteral("Fichier Machine (*.MAS *.mas)");

}  // namespace

bool TSimulWindow::ReadStudy(const QString& path) {
  // The file is read into a copy that replaces the study only when the whole read
  // succeeded: a bad file leaves the settings and the file name as they were.
  SimulationSettings work = settings_;
  work.ParamFileName = ToStdString(path);
  try {
    // Escape during a read ends it as if the file ended there; the window's Escape only
    // stops runs, so a read is never cut short.
    SilentPlatform reader_platform;
    ReadParameterFile(work, reader_platform);
  } catch (const ParameterFileError& e) {
    ShowMessage(ToQString(e.what()), ToQString(e.caption), MessageIcon::kStop);
    return false;
  } catch (const std::exception& e) {
    ShowMessage(ToQString(e.what()), QStringLiteral("Erreur"), MessageIcon::kStop);
    return false;
  }
  settings_ = std::move(work);
  MarkSaved();
  return true;
}

bool TSimulWindow::WriteStudy(const QString& path) {
  try {
    WriteParameterFile(settings_, ToStdString(path));
  } catch (const ParameterFileError& e) {
    ShowMessage(ToQString(e.what()), ToQString(e.caption), MessageIcon::kStop);
    return false;
  }
  settings_.ParamFileName = ToStdString(path);
  MarkSaved();
  return true;
}

void TSimulWindow::ReadStartupStudy(const QString& path) { ReadStudy(path); }

bool TSimulWindow::CmFileOpen() {
  if (!MayDropStudy()) return false;
  QString path;
  if (file_chooser) {
    path = file_chooser(false);
  } else {
    QFileDialog dialog(this, QStringLiteral("Ouvrir"), QString(), kFilter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      path = dialog.selectedFiles().first();
    }
  }
  if (path.isEmpty()) return false;
  if (!ReadStudy(path)) return false;
  // Another study: the progress of the last run is no longer its own.
  progress_->setValue(0);
  ApplyCaptionRule();
  return true;
}

bool TSimulWindow::CmFileSave() {
  if (settings_.ParamFileName.empty()) return CmFileSaveAs();
  return WriteStudy(ToQString(settings_.ParamFileName));
}

bool TSimulWindow::CmFileSaveAs() {
  QString path;
  if (file_chooser) {
    path = file_chooser(true);
  } else {
    QFileDialog dialog(this, QStringLiteral("Enregistrer sous"), QString(), kFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("mas"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      path = dialog.selectedFiles().first();
    }
  }
  if (path.isEmpty()) return false;
  if (!WriteStudy(path)) return false;
  ApplyCaptionRule();
  return true;
}

void TSimulWindow::CmRun() {
  if (Running()) return;
  // Compared with the measured start-up when one of its columns is asked for and the
  // tables were built for this time base; otherwise a plain run.
  const bool experimental = std::any_of(settings_.OutSelExp.begin(), settings_.OutSelExp.end(),
                                        [](int on) { return on != 0; }) &&
                            settings_.ExpTableReady;
  last_run_mode_ = experimental ? 4 : 0;
  progress_->setValue(0);
  SetRunning(true);
  worker_.Start(settings_, carried_, last_run_mode_, /*launch_viewer=*/true);
}

void TSimulWindow::StopRun() {
  if (!Running()) return;
  stop_asked_ = true;
  worker_.RequestStop();
}

bool TSimulWindow::StartStudyJob(StudyJob job, std::function<void()> done) {
  if (Running()) return false;
  progress_->setValue(0);
  job_done_ = done ? std::move(done) : [] {};
  SetRunning(true);
  worker_.StartJob(settings_, carried_, std::move(job));
  return true;
}

void TSimulWindow::RegisterWorkbenchCommand(const std::string& handler,
                                            std::function<void()> command) {
  workbench_commands_[handler] = std::move(command);
}

void TSimulWindow::RunFinished() {
  RunResult result = worker_.TakeResult();
  // The run leaves the study as the workbench keeps it: the models' final states, the
  // cage resistances changed by fault events, and the state carried to the next run.
  settings_ = std::move(result.settings);
  carried_ = std::move(result.carried);
  UpdateModifiedMark();
  // The run reset gave the modulator the study's timing; a shown study window redraws.
  if (dsvpwm_window_->isVisible()) dsvpwm_window_->Redraw();
  const bool stopped = stop_asked_;
  stop_asked_ = false;
  if (job_done_) {
    // A job says itself how it ended; the window only takes the study back. A stopped
    // job leaves no full progress bar behind.
    if (stopped) progress_->setValue(0);
    const std::function<void()> done = std::move(job_done_);
    job_done_ = nullptr;
    SetRunning(false);
    done();
    return;
  }
  if (result.output_write_failed) {
    ShowMessage(QStringLiteral("l'écriture du fichier ") + ToQString(settings_.OutFileName) +
                    QStringLiteral(" a échoué : le fichier précédent est conservé"),
                QStringLiteral("Attention"), MessageIcon::kExclamation);
  }
  // An interrupted or refused run did not end: its progress is not left full and the
  // status bar does not say it ended.
  if (result.outcome.status == RunStatus::kInterrupted) {
    progress_->setValue(0);
    statusBar()->showMessage(QStringLiteral("Simulation interrompue"));
  } else if (result.outcome.status == RunStatus::kNoMode) {
    progress_->setValue(0);
    statusBar()->clearMessage();
  }
  SetRunning(false);
  emit runFinished();
}

void TSimulWindow::StartProcess(const QString& command_line) {
  // The run asks for the curve viewer with "Tracix.exe FILE".
  const QString prefix = ToQString(ViewerCommandLine(""));
  if (command_line.startsWith(prefix)) {
    StartViewer(command_line.mid(prefix.size()));
    return;
  }
  const QStringList parts = QProcess::splitCommand(command_line);
  if (!parts.isEmpty()) QProcess::startDetached(parts.first(), parts.mid(1));
}

void TSimulWindow::StartViewer(const QString& data_file) {
  if (viewer_starter) {
    viewer_starter(data_file);
    return;
  }
#ifdef MAS_HAVE_VIEWER_LAUNCHER
  const viewer::LaunchResult launched = viewer::LaunchViewer(ToStdString(data_file));
  if (!launched.started) {
    ShowMessage(ToQString(launched.message), QStringLiteral("Affichage"),
                MessageIcon::kExclamation);
  }
#else
  // The viewer `tracix` beside this program, in the build tree's viewer/ folder, or on
  // the PATH.
  const QString here = QCoreApplication::applicationDirPath();
  QString program = QStandardPaths::findExecutable(QStringLiteral("tracix"),
                                                   {here, here + QStringLiteral("/../viewer")});
  if (program.isEmpty()) program = QStandardPaths::findExecutable(QStringLiteral("tracix"));
  if (program.isEmpty() || !QProcess::startDetached(program, {data_file})) {
    ShowMessage(QStringLiteral("Aucun visualiseur de courbes n'a été trouvé (tracix) : le "
                               "fichier ") +
                    data_file + QStringLiteral(" n'est pas affiché."),
                QStringLiteral("Affichage"), MessageIcon::kExclamation);
  }
#endif
}

void TSimulWindow::CmAffichage() { StartViewer(ToQString(settings_.OutFileName)); }

void TSimulWindow::CmAbout() {
  AboutBox box(this);
  RunDialog(box);
}

void TSimulWindow::RunSettingsDialog(const std::string& dialog_id) {
  if (Running()) return;
  SettingsForm form(DialogById(dialog_id), this);
  form.Load(settings_);
  if (RunDialog(form) != QDialog::Accepted) return;
  const StoreResult result = form.Store(settings_);
  UpdateModifiedMark();
  if (!result.error.empty()) {
    ShowMessage(ToQString(result.error), QStringLiteral("Erreur"), MessageIcon::kError);
  }
}

void TSimulWindow::CmOptionsBarre() {
  if (Running()) return;
  auto& cage = settings_.cage;
  BarEditor editor(cage.Nr, cage.RbSain, cage.RbCasse, cage.Rb, this);
  connect(&editor, &BarEditor::conversionRefused, this, [this](const QString& message) {
    ShowMessage(message, QStringLiteral("Erreur"), MessageIcon::kError);
  });
  RunDialog(editor);
  UpdateModifiedMark();
}

void TSimulWindow::NotAvailable(const QString& what) {
  ShowMessage(what + QStringLiteral(" n'est pas encore disponible dans cet atelier."),
              QStringLiteral("Information"), MessageIcon::kInformation);
}

void TSimulWindow::Menu_dsvpwmClick() {
  dsvpwm_window_->setVisible(!dsvpwm_window_->isVisible());
  if (QAction* action = ActionFor("Menu_dsvpwmClick"))
    action->setChecked(dsvpwm_window_->isVisible());
}

void TSimulWindow::RunCommand(const MenuItem& item) {
  try {
    switch (item.command) {
      case Command::kFileOpen:
        if (!Running()) CmFileOpen();
        break;
      case Command::kFileSave:
        CmFileSave();
        break;
      case Command::kFileSaveAs:
        CmFileSaveAs();
        break;
      case Command::kQuit:
        close();
        break;
      case Command::kRun:
        CmRun();
        break;
      case Command::kAffichage:
        CmAffichage();
        break;
      case Command::kAbout:
        CmAbout();
        break;
      case Command::kDsvpwmWindow:
        Menu_dsvpwmClick();
        break;
      case Command::kBarEditor:
        CmOptionsBarre();
        break;
      case Command::kSettingsDialog:
        RunSettingsDialog(item.dialog);
        break;
      case Command::kWorkbenchWindow:
        if (const auto it = workbench_commands_.find(item.handler);
            it != workbench_commands_.end()) {
          it->second();
        } else {
          NotAvailable(QStringLiteral("La fenêtre d'optimisation (") + ToQString(item.handler) +
                       QStringLiteral(")"));
        }
        break;
      case Command::kNothing:
      case Command::kNone:
        break;
    }
  } catch (const std::exception& e) {
    ShowMessage(ToQString(e.what()), QStringLiteral("Erreur"), MessageIcon::kStop);
  }
  UpdateModifiedMark();
}

}  // namespace mas::ui
