#pragma once
// "Particle Swarm Optimisation - Paramètres de la MAS": the workbench of the particle
// swarm identification (identification/particle_swarm.h). Besides the buttons it shares
// with the genetic workbench ("Run", "RunT" and its count, "Stop", "Simule",
// "Initialise", "Paramètres à Optimiser", the "Options" menu) it has the swarm's own
// fields N1, N2 (refiners, explorers), pincrement, gincrement, w1, w2 with the buttons
// "MàJ" (a new swarm of N1 + N2 particles), "MAJ" (the new pulls and inertias) and
// "Clear" (erases the moves drawn); the labels Epoch, gbesti and gbest; the particles'
// moves drawn in a parameter plane (which two dimensions is a choice of this
// workbench, Rs and Ts by default); the grid of the particles; and a live plot of the
// global best cost of each epoch.
//
// Epochs run on the main window's worker thread, particles scored on all cores. Choices of
// this workbench:
//  - "Stop" (and Escape) interrupts the particle run under way: its epoch ends as an
//    interrupted run ends the scoring (its message; the epoch then moves the swarm), and
//    "RunT" does not go on with the next epochs.
//  - The logs "outbest.dat" and "outTracix.dat" are opened for each line written, so
//    closing this window leaves them whole; the epochs run after it is shown again go on
//    appending to them (they are created anew by "MàJ", "Ouvrir Expériemtal" and
//    "Paramètres à Optimiser", as always).
//  - A diverged particle is counted in the status line, not shown one message each.

#include <QMainWindow>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "identification/candidate_evaluator.h"
#include "identification/particle_swarm.h"
#include "identification/random.h"
#include "ui/tuning_cost_plot.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;

namespace mas::ui {

class IdentificationHub;
class ParticlePlane;

class TPsoDemWindow : public QMainWindow {
  Q_OBJECT

 public:
  // The logs go to `log_folder`; the swarm is allocated (N1 = N2 = 10) with its logs.
  explicit TPsoDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder = ".",
                         QWidget* parent = nullptr);
  ~TPsoDemWindow() override;

  // Commands; each is refused (false, nothing done) while the study is busy.
  bool CmRun();
  bool CmRunT();
  void CmStop();
  bool CmSimule();
  bool CmInitialise();
  bool CmRandomize(bool keep_gbest);
  bool CmTempsDeCalcul();
  bool CmMaJ();  // "MàJ": N1, N2 read, a new swarm
  bool CmMAJ();  // "MAJ": pulls and inertias read
  void CmClear();
  bool CmParametresAOptimiser();
  bool CmFichierDemarrage();
  bool CmFonctionCout();
  bool CmOuvrirExperimental();
  bool CmCreerTable();

  const ParticleSwarmIdentification& Optimiser() const { return *pso_; }
  QMenu* OptionsMenu() const { return options_; }
  TuningCostPlot* Plot() const { return plot_; }
  ParticlePlane* Plane() const { return plane_; }
  QTableWidget* Grid() const { return grid_; }
  QLineEdit* Field(const QString& name) const;  // "times", "N1", "N2", "pincrement", ...
  QCheckBox* ParamCheck() const { return param_check_; }
  QString EpochText() const;
  QString GbestiText() const;
  QString GbestText() const;

  std::function<std::uint32_t()> seed_source = CalendarSeconds;

 signals:
  void jobFinished();
  // "Ajustement" asked for, from this workbench's best.
  void fitRequested();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct EpochShown {
    std::vector<Genes> X, V;  // as the epoch found them: the move drawn is the one that
                              // brought each particle where it was scored
    std::vector<Genes> pbest;
    std::vector<double> Eval, pbestVal;
    int gbesti = 0;
    int epoch = 0;
    double gbest = 0.0;
    bool complete = true;
    int diverged = 0;
    bool stopped = false;
  };
  bool StartEpochs(int mode);  // 0: one, 1: RunT, 2: timed
  bool StartJob(const std::function<bool(std::function<void()>)>& start);
  void ShowEpoch(const EpochShown& shown);
  void ShowState();
  void FillGrid(const std::vector<Genes>& X, const std::vector<Genes>& V,
                const std::vector<double>& eval, const std::vector<double>& pbest_val,
                const std::vector<Genes>& pbest);
  void RebuildHeaderAndLogs();
  void SetBusy(bool busy);
  void SyncParamCheck();
  void BuildMenu();
  Genes Best() const;

  IdentificationHub& hub_;
  std::unique_ptr<ParticleSwarmIdentification> pso_;
  CandidateEvaluator evaluator_;
  std::atomic<int> repetitions_{10};
  bool job_running_ = false;
  std::atomic<bool> optimiser_in_use_{false};
  Genes best_{};

  QMenu* options_ = nullptr;
  QLabel* epoch_ = nullptr;
  QLabel* gbesti_ = nullptr;
  QLabel* gbest_ = nullptr;
  QCheckBox* param_check_ = nullptr;
  QPushButton* stop_ = nullptr;
  QComboBox* plane_x_ = nullptr;
  QComboBox* plane_y_ = nullptr;
  ParticlePlane* plane_ = nullptr;
  QTableWidget* grid_ = nullptr;
  TuningCostPlot* plot_ = nullptr;
  std::vector<CostPoint> costs_;  // best cost of each generation or epoch since the start
  std::vector<QWidget*> commands_;
  std::vector<QAction*> menu_commands_;
};

}  // namespace mas::ui
