#pragma once
// "Résultats de l'Algorithme Génétique": the result window of a speed-regulator tuning,
// IP or fuzzy. It shows the generation reached, the best individual's gains (KpW, KiW and
// Tt for the IP regulator; WFErr, WFdErr and WFdU for the fuzzy one), its
// fitness under "Erreur" (the inverse of the tuning cost, larger is better), the live plot
// of the best cost per generation, and a status line; its "Arrêter" button and Escape ask
// the optimisation in progress to stop. It only displays what the workbench gives it: the
// population stays with the workbench (ui/tuning_commands.h).

#include <QWidget>
#include <vector>

#include "tuning/speed_regulator_tuning.h"
#include "ui/tuning_cost_plot.h"

class QGridLayout;
class QLabel;
class QPushButton;

namespace mas::ui {

// What the window shows of a population.
struct TuningDisplay {
  int generation = 0;
  RegulatorGenes best{};  // individual 0: after a generation, the best, kept by elitism
  double best_fitness = 0.0;
};

class TuningResultWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TuningResultWindow(QWidget* parent = nullptr, TunedRegulator kind = TunedRegulator::kIP);

  void Show(const TuningDisplay& display);
  void SetCosts(std::vector<CostPoint> costs);
  void SetStatus(const QString& text);
  // While an optimisation goes, "Arrêter" is enabled.
  void SetBusy(bool busy);

  // The text of a value label: "Gen", the gains ("KpW", "KiW", "Tt" or "WFErr",
  // "WFdErr", "WFdU"), "Erreur"; for the tests.
  QString ValueText(const QString& name) const;
  const TuningCostPlot* Plot() const { return plot_; }
  QPushButton* StopButton() const { return stop_; }

 signals:
  void stopRequested();
  // The window is closing (by the menu or by its frame); it is then destroyed.
  void closing();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* AddRow(QGridLayout* grid, int row, const QString& caption, const QString& name);

  QLabel* generation_ = nullptr;
  QLabel* kpw_ = nullptr;
  QLabel* kiw_ = nullptr;
  QLabel* tt_ = nullptr;
  QLabel* fitness_ = nullptr;
  QLabel* status_ = nullptr;
  TuningCostPlot* plot_ = nullptr;
  QPushButton* stop_ = nullptr;
};

}  // namespace mas::ui
