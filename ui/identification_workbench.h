#pragma once
// What the two identification workbenches, "Genetic Algorithms Optimisation" and
// "Particle Swarm Optimisation" (ui/gen_dem_window.h, ui/pso_dem_window.h), have in
// common: the row of buttons they begin with ("Options", "Run", "RunT" and its count,
// "Stop", "Simule", "Initialise", "Paramètres à Optimiser"), the entries of the "Options"
// menu that set the comparison with the measured start-up, the check box
// "Affiche la fenêtre des paramètres", the live plot of the best cost, and how a job of
// the window runs: on the main window's worker thread, one at a time for the whole study,
// with the window's commands disabled meanwhile.
//
// Choices shared by both workbenches:
//  - "Stop" (and Escape) asks the candidate run under way to stop, and "RunT" does not go
//    on with the next generations or epochs. "Stop" is enabled only while a job of this
//    window runs (a run of the main window has its own "Arrêter").
//  - The guard on the experimental tables is checked before each generation or epoch, so
//    a study read with another time base, or a changed time dialog, makes "Run" refuse.
//  - A candidate that diverges is an ordinary, very bad score: the count of such
//    candidates is said in the status line after the generation or epoch, not one message
//    each.
//  - The check box "Affiche la fenêtre des paramètres" shows whether the result window is
//    on screen: ticked when it was shown, unticked when it was closed by its frame or
//    destroyed, in both workbenches alike.

#include <QMainWindow>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "engine/settings.h"
#include "identification/candidate_evaluator.h"
#include "identification/machine_genes.h"
#include "identification/random.h"
#include "ui/gene_vector_dialog.h"
#include "ui/tuning_cost_plot.h"

class QAction;
class QBoxLayout;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QVBoxLayout;

namespace mas::ui {

class DivergenceCountingPlatform;
class IdentificationHub;

class IdentificationWorkbench : public QMainWindow {
  Q_OBJECT

 public:
  ~IdentificationWorkbench() override;

  // Commands; each is refused (false, nothing done) while the study is busy.
  virtual bool CmRun() = 0;   // one generation or epoch
  virtual bool CmRunT() = 0;  // as many as "RunT"'s field says, read before each
  void CmStop();
  virtual bool CmSimule() = 0;
  virtual bool CmInitialise() = 0;
  virtual bool CmParametresAOptimiser();
  bool CmFichierDemarrage();
  bool CmFonctionCout();
  virtual bool CmOuvrirExperimental();
  bool CmCreerTable();

  IdentificationHub& Hub() const { return hub_; }
  QMenu* OptionsMenu() const { return options_; }
  TuningCostPlot* Plot() const { return plot_; }
  QLineEdit* TimesEdit() const { return times_; }
  QCheckBox* ParamCheck() const { return param_check_; }

  // Seed of "Randomize": the calendar time in seconds unless a test sets it.
  std::function<std::uint32_t()> seed_source = CalendarSeconds;

 signals:
  // A job of this window (generations or epochs, reading, tables, "Simule") has ended.
  void jobFinished();
  // "Ajustement" asked for, from this workbench's best.
  void fitRequested();

 protected:
  // One generation or epoch on the worker thread, on the job's copy of the study.
  using Step = std::function<void(SimulationSettings& s, CarriedState& carried,
                                  DivergenceCountingPlatform& platform)>;

  // The window with its central widget (a vertical layout whose first row is the row of
  // buttons) and the plot, which the derived window places with the check box (created
  // where it stands in the window's tab order by AddParamCheck). `stop_hint` and
  // `initialise_hint` say what "Stop" and "Initialise" act on (a generation or an epoch,
  // the population or the particles).
  IdentificationWorkbench(IdentificationHub& hub, const QString& stop_hint,
                          const QString& initialise_hint, QWidget* parent);

  // Stops a job of this window that still uses its optimiser on the worker thread and
  // waits for it to let go (within one candidate's run). Every derived destructor calls it
  // first, while its optimiser still exists: this class's destructor would run too late.
  void WaitForJob();

  void showEvent(QShowEvent* event) override;

  // A push button named after its caption, with its hint as tool tip and status tip.
  static QPushButton* Button(const QString& text, const QString& hint, QWidget* parent);
  QVBoxLayout* Layout() const { return layout_; }
  // Adds the check box "Affiche la fenêtre des paramètres" at the end of `row`.
  void AddParamCheck(QBoxLayout* row);
  // A widget disabled with the row of buttons while the study is busy.
  void AddCommand(QWidget* command);
  // One entry of the "Options" menu, disabled while the study is busy.
  void AddMenuEntry(const QString& caption, const QString& hint, std::function<void()> command);
  // The menu's first entries, those that set the comparison with the measurement
  // (start-up file, cost function, experimental file, its tables), and a separator; the
  // captions of the first and the third differ in their accelerators between the two
  // workbenches.
  void AddComparisonEntries(const QString& start_file_caption, const QString& experimental_caption);
  // "&Initialiser", "Paramètres à Optimiser", a separator and "&Ajustement (moindres
  // carrés)".
  void AddInitialiseAndFitEntries();
  // Enables the commands as the study's busy state says; call it once every command is
  // added.
  void SetBusy(bool busy);

  // Claims the optimiser and starts `step` on the worker thread once, or as many times as
  // "RunT"'s field says; refused when the field holds no integer (after its message) or
  // while the study is busy.
  bool StartSteps(bool repeat, Step step);
  // Starts a job of this window through `start`, which hands the given completion on to
  // the hub or the main window.
  bool StartJob(const std::function<bool(std::function<void()>)>& start);
  // Called on the window's thread when a job of this window has ended, before
  // jobFinished.
  virtual void JobEnded() {}
  bool JobRunning() const { return job_running_; }
  const CandidateEvaluator& Evaluator() const { return evaluator_; }

  // "Simule" with `best`.
  bool SimulateBest(const Genes& best, std::string tr_zero_message);
  // The vector entered in the dialog of "Initialise", showing `counter` and `genes`;
  // nothing when cancelled or refused (its conversion message shown).
  std::optional<GeneVectorEntry> AskGeneVector(GeneVectorDialog::Kind kind, int counter,
                                               const Genes& genes);

  // The best parameter set as last shown, and in the result window when it exists.
  const Genes& Best() const { return best_; }
  void ShowBest(const Genes& best);
  // The best cost of each generation or epoch since the start.
  void AddCost(CostPoint point);
  void ClearCosts();
  // `status` in the status line, with the count of diverged candidates when there are.
  void ShowStatus(QString status, int diverged);

 private:
  void SyncParamCheck();

  IdentificationHub& hub_;
  CandidateEvaluator evaluator_;
  // "RunT"'s count, kept up to date from its field so that the job reads it before each
  // generation or epoch without touching the widget (-1: the field holds no integer).
  std::atomic<int> repetitions_{10};
  bool job_running_ = false;
  // A job of this window is using the optimiser on the worker thread.
  std::atomic<bool> optimiser_in_use_{false};
  Genes best_{};
  QString initialise_hint_;

  QVBoxLayout* layout_ = nullptr;
  QMenu* options_ = nullptr;
  QLineEdit* times_ = nullptr;
  QPushButton* stop_ = nullptr;
  QCheckBox* param_check_ = nullptr;
  TuningCostPlot* plot_ = nullptr;
  std::vector<CostPoint> costs_;
  std::vector<QWidget*> commands_;  // disabled while the study is busy
  std::vector<QAction*> menu_commands_;
};

}  // namespace mas::ui
