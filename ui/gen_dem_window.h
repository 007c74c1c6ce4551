#pragma once
// "Genetic Algorithms Optimisation - Paramètres de la MAS": the workbench of the genetic
// identification of the machine's eight parameters (identification/genetic_algorithm.h).
//
// Buttons "Run" (one generation), "RunT" (as many as the field beside it says, read again
// before each generation), "Stop", "Simule" (the best individual in the machine and a run
// with the curve viewer), "Initialise" and "Paramètres à Optimiser"; the tool button
// "Options" drops down the workbench's menu. The labels show the generation and the best
// fitness, and a live plot the best cost of each generation.
//
// Generations run on the main window's worker thread, candidates scored on all cores, so
// the windows stay responsive. Choices of this workbench:
//  - "Stop" (and Escape) asks the candidate run under way to stop: the generation then
//    ends as an interrupted run ends it (its message, no sort, no log, no new
//    generation), and "RunT" does not go on with the next generations.
//  - A candidate that diverges is an ordinary, very bad score: the count of such
//    candidates is said in the status line after the generation, not one message each.
//  - The guard on the experimental tables is checked before each generation, so a study
//    read with another time base, or a changed time dialog, makes "Run" refuse.
//  - The check box "Affiche la fenêtre des paramètres" shows whether the result window is
//    on screen: ticked when it was shown, unticked when it was closed by its frame or
//    destroyed, in both workbenches alike.

#include <QMainWindow>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "identification/candidate_evaluator.h"
#include "identification/genetic_algorithm.h"
#include "identification/random.h"
#include "ui/tuning_cost_plot.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace mas::ui {

class IdentificationHub;

class TGenDemWindow : public QMainWindow {
  Q_OBJECT

 public:
  // The logs "Histor.cpp" and "debgen.cpp" go to `log_folder`.
  explicit TGenDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder = ".",
                         QWidget* parent = nullptr);
  ~TGenDemWindow() override;

  // Commands; each is refused (false, nothing done) while the study is busy.
  bool CmRun();
  bool CmRunT();
  void CmStop();
  bool CmSimule();
  bool CmInitialise();
  bool CmRandomize();
  bool CmParametresAOptimiser();
  bool CmFichierDemarrage();
  bool CmFonctionCout();
  bool CmOuvrirExperimental();
  bool CmCreerTable();

  // The population; read it only while no job of this window runs.
  const GeneticIdentification& Optimiser() const { return *ga_; }
  IdentificationHub& Hub() const { return hub_; }
  QMenu* OptionsMenu() const { return options_; }
  TuningCostPlot* Plot() const { return plot_; }
  QLineEdit* TimesEdit() const { return times_; }
  QCheckBox* ParamCheck() const { return param_check_; }
  QString GenerationText() const;
  QString FitnessText() const;

  // Seed of "Randomize": the calendar time in seconds unless a test sets it.
  std::function<std::uint32_t()> seed_source = CalendarSeconds;

 signals:
  // A job of this window (generations, reading, tables, "Simule") has ended.
  void jobFinished();
  // "Ajustement" asked for, from this workbench's best.
  void fitRequested();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct GenerationShown {
    int gen = 0;
    double best_fitness = 0.0;
    Genes best{};
    bool complete = true;
    int diverged = 0;
    bool stopped = false;
  };
  bool StartGenerations(bool repeat);
  bool StartJob(const std::function<bool(std::function<void()>)>& start);
  void ShowGeneration(const GenerationShown& shown);
  void ShowState();
  void SetBusy(bool busy);
  void SyncParamCheck();
  void BuildMenu();

  IdentificationHub& hub_;
  std::unique_ptr<GeneticIdentification> ga_;
  CandidateEvaluator evaluator_;
  // "RunT"'s count, kept up to date from its field so that the job reads it before each
  // generation without touching the widget (-1: the field holds no integer).
  std::atomic<int> repetitions_{10};
  bool job_running_ = false;
  // A job of this window is using the population on the worker thread.
  std::atomic<bool> optimiser_in_use_{false};
  Genes best_{};  // individual 0 as last shown

  QMenu* options_ = nullptr;
  QLabel* generation_ = nullptr;
  QLabel* fitness_ = nullptr;
  QLineEdit* times_ = nullptr;
  QCheckBox* param_check_ = nullptr;
  QPushButton* stop_ = nullptr;
  TuningCostPlot* plot_ = nullptr;
  std::vector<CostPoint> costs_;    // best cost of each generation or epoch since the start
  std::vector<QWidget*> commands_;  // disabled while the study is busy
  std::vector<QAction*> menu_commands_;
};

}  // namespace mas::ui
