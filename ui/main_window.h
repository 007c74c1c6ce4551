#pragma once
// The main window of the workbench, "Commande vectorielle de MAS": it holds the study
// (the settings and the state carried from run to run), shows the block diagram of the
// drive, and offers every command through its menus (ui/menu_table.h), its tool bar and
// the diagram's regions. Runs go on a worker thread on a copy of the study; the window
// stays responsive, Escape or "Arrêter" stops the run at its next progress step, and the
// commands that change the study are disabled until the run ends.
//
// Choices of this workbench:
//  - A study file that cannot be read or written shows its message and leaves the
//    settings, the file name and the caption as they were; the file on disk is kept.
//  - Closing the window or opening another study with a study changed since it was last
//    read or saved asks whether to save it ("Enregistrer", the default, "Ne pas
//    enregistrer", "Annuler"); the title bar marks such a study after its caption.
//  - "&Affichage des courbes" in the Simulation menu starts the curve viewer as the
//    "Affichage" button does; the items without an action in this workbench (printing,
//    the gradient optimisers, the special functions, the help) are shown disabled.
//  - The windows of the identification and the regulator tuning register their menu
//    commands with this window and do their work through StartStudyJob; a command no
//    window has registered says so in a message.
//  - The double SVPWM study window is created with this window, hidden, and edits the
//    modulator of the carried state; "&Double space vector PWM" shows or hides it and its
//    check mark follows the window, also when it is closed by its frame.

#include <QMainWindow>
#include <QMessageBox>
#include <functional>
#include <map>
#include <string>

#include "engine/run_state.h"
#include "engine/settings.h"
#include "ui/menu_table.h"
#include "ui/qt_platform.h"
#include "ui/run_worker.h"

class QAction;
class QDialog;
class QProgressBar;

namespace mas::ui {

class DiagramWidget;
class TFormdSVPWM;

class TSimulWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit TSimulWindow(QWidget* parent = nullptr);
  ~TSimulWindow() override;

  // Start-up with a study named on the command line: it is read, the caption is kept.
  void ReadStartupStudy(const QString& path);

  // Commands.
  bool CmFileOpen();
  bool CmFileSave();
  bool CmFileSaveAs();
  void CmRun();
  void CmAffichage();
  void CmAbout();
  void CmOptionsBarre();
  void Menu_dsvpwmClick();
  // The settings command of a dialog: load, show, store on "OK", follow-ups.
  void RunSettingsDialog(const std::string& dialog_id);
  // Runs the command of a menu item, tool-bar button or diagram region.
  void RunCommand(const MenuItem& item);
  // Asks the run or the job in progress to stop (Escape, "Arrêter").
  void StopRun();

  // A long piece of work on the study (a generation, an epoch, a simulation of a best
  // candidate): `job` runs on the worker thread on a copy of the study with the window's
  // platform, so its messages, progress, status and the viewer reach the window as queued
  // signals and "Arrêter" or Escape set the stop request its runs poll. The window takes
  // the copy back when the job ends, then calls `done` on its own thread. The commands
  // that change the study are disabled meanwhile. False, nothing started, when a run or
  // another job is going.
  using StudyJob = RunWorker::Job;
  bool StartStudyJob(StudyJob job, std::function<void()> done);
  // A run or a job is going.
  bool Busy() const { return worker_.Running(); }
  // The menu items of the workbench windows (identification, regulator tuning) run the
  // command registered for their handler name; the others say they are not available.
  void RegisterWorkbenchCommand(const std::string& handler, std::function<void()> command);

  // Reads a study file into the settings; on failure the message is shown and nothing
  // changes. True when it was read.
  bool ReadStudy(const QString& path);
  // Writes the settings to `path`; on failure the message is shown. True when written.
  bool WriteStudy(const QString& path);

  const SimulationSettings& Settings() const { return settings_; }
  SimulationSettings& MutableSettings() { return settings_; }
  const CarriedState& Carried() const { return carried_; }
  bool Running() const { return worker_.Running(); }
  bool StudyChanged() const;
  // What shows the study follows it: the title bar's mark of unsaved changes, the DC bus
  // and switching period of the modulator study.
  void UpdateModifiedMark();
  DiagramWidget* Diagram() const { return diagram_; }
  TFormdSVPWM* DsvpwmWindow() const { return dsvpwm_window_; }
  QProgressBar* Progress() const { return progress_; }
  QAction* ActionFor(const std::string& handler) const;
  QAction* StopAction() const { return stop_action_; }
  // The mode of the last run started (0 plain, 4 compared with the experimental tables).
  RunMode LastRunMode() const { return last_run_mode_; }

  // Seams for the tests and for embedding; each defaults to the ordinary Qt dialog.
  std::function<void(const QString& text, const QString& caption, MessageIcon icon)>
      message_presenter;
  std::function<QString(bool save)> file_chooser;  // empty: cancelled
  std::function<int(QDialog& dialog)> dialog_runner;
  std::function<QMessageBox::StandardButton()> save_question;
  std::function<void(const QString& data_file)> viewer_starter;

 signals:
  void runFinished();
  void firstPainted();
  // A run or a job started (true) or ended (false).
  void busyChanged(bool busy);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  void ApplyCaptionRule();
  void SetRunning(bool running);
  void RunFinished();
  void ShowMessage(const QString& text, const QString& caption, MessageIcon icon);
  int RunDialog(QDialog& dialog);
  void StartViewer(const QString& data_file);
  void StartProcess(const QString& command_line);
  void NotAvailable(const QString& what);
  void MarkSaved();
  // Asks whether to save a study changed since it was last read or saved ("Enregistrer",
  // the default, "Ne pas enregistrer", "Annuler"); true when it may be dropped.
  bool MayDropStudy();

  SimulationSettings settings_;
  CarriedState carried_;
  std::string saved_fingerprint_;
  QtPlatform platform_;
  RunWorker worker_;
  RunMode last_run_mode_ = 0;
  std::function<void()> job_done_;  // the job going, if any: what to do when it ends
  std::map<std::string, std::function<void()>> workbench_commands_;
  bool first_paint_seen_ = false;
  bool stop_asked_ = false;  // "Arrêter" or Escape during the run or job going

  DiagramWidget* diagram_ = nullptr;
  TFormdSVPWM* dsvpwm_window_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QAction* stop_action_ = nullptr;
  std::map<std::string, QAction*> actions_;
  std::vector<QAction*> study_actions_;  // disabled while a run goes
};

}  // namespace mas::ui
