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
// Epochs run on the main window's worker thread, particles scored on all cores (the
// choices it shares with the genetic workbench are in ui/identification_workbench.h). Its
// own choices:
//  - "Stop" (and Escape) interrupts the particle run under way: its epoch ends as an
//    interrupted run ends the scoring (its message; the epoch then moves the swarm).
//  - The logs "outbest.dat" and "outTracix.dat" are opened for each line written, so
//    closing this window leaves them whole; the epochs run after it is shown again go on
//    appending to them (they are created anew by "MàJ", "Ouvrir Expérimental" and
//    "Paramètres à Optimiser", as always).

#include <filesystem>
#include <memory>
#include <vector>

#include "identification/particle_swarm.h"
#include "ui/identification_workbench.h"

class QComboBox;
class QLabel;
class QTableWidget;

namespace mas::ui {

class ParticlePlane;

class TPsoDemWindow : public IdentificationWorkbench {
  Q_OBJECT

 public:
  // The logs go to `log_folder`; the swarm is allocated (N1 = N2 = 10) with its logs.
  explicit TPsoDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder = ".",
                         QWidget* parent = nullptr);
  ~TPsoDemWindow() override;

  bool CmRun() override;
  bool CmRunT() override;
  bool CmSimule() override;
  bool CmInitialise() override;
  bool CmRandomize(bool keep_gbest);
  bool CmTempsDeCalcul();
  bool CmMaJ();  // "MàJ": N1, N2 read, a new swarm
  bool CmMAJ();  // "MAJ": pulls and inertias read
  void CmClear();
  bool CmParametresAOptimiser() override;
  bool CmOuvrirExperimental() override;

  const ParticleSwarmIdentification& Optimiser() const { return *pso_; }
  ParticlePlane* Plane() const { return plane_; }
  QTableWidget* Grid() const { return grid_; }
  QLineEdit* Field(const QString& name) const;  // "times", "N1", "N2", "pincrement", ...
  QString EpochText() const;
  QString GbestiText() const;
  QString GbestText() const;

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
  void ShowEpoch(const EpochShown& shown);
  void ShowState();
  void FillGrid(const std::vector<Genes>& X, const std::vector<Genes>& V,
                const std::vector<double>& eval, const std::vector<double>& pbest_val,
                const std::vector<Genes>& pbest);
  void RebuildHeaderAndLogs();
  void BuildMenu();

  std::unique_ptr<ParticleSwarmIdentification> pso_;
  QLabel* epoch_ = nullptr;
  QLabel* gbesti_ = nullptr;
  QLabel* gbest_ = nullptr;
  QComboBox* plane_x_ = nullptr;
  QComboBox* plane_y_ = nullptr;
  ParticlePlane* plane_ = nullptr;
  QTableWidget* grid_ = nullptr;
};

}  // namespace mas::ui
