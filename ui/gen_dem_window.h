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
// the windows stay responsive (the choices it shares with the swarm's workbench are in
// ui/identification_workbench.h). Its own: "Stop" ends the generation under way as an
// interrupted run ends it (its message, no sort, no log, no new generation).

#include <filesystem>
#include <memory>

#include "identification/genetic_algorithm.h"
#include "ui/identification_workbench.h"

class QLabel;

namespace mas::ui {

class TGenDemWindow : public IdentificationWorkbench {
  Q_OBJECT

 public:
  // The logs "Histor.cpp" and "debgen.cpp" go to `log_folder`.
  explicit TGenDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder = ".",
                         QWidget* parent = nullptr);
  ~TGenDemWindow() override;

  bool CmRun() override;
  bool CmRunT() override;
  bool CmSimule() override;
  bool CmInitialise() override;
  bool CmRandomize();

  // The population; read it only while no job of this window runs.
  const GeneticIdentification& Optimiser() const { return *ga_; }
  QString GenerationText() const;
  QString FitnessText() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void JobEnded() override;

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
  void ShowGeneration(const GenerationShown& shown);
  void ShowState();
  void BuildMenu();

  std::unique_ptr<GeneticIdentification> ga_;
  int shown_generation_ = 0;  // the last generation complete, whose data is shown
  QLabel* generation_ = nullptr;
  QLabel* fitness_ = nullptr;
};

}  // namespace mas::ui
