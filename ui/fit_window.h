#pragma once
// "Ajustement": the third identification method, beside the genetic algorithm and the
// particle swarm: a least-squares fit of the simulated start-up to the measured one
// (fit/trajectory_fit.h), from a start the user chooses: the genetic algorithm's best
// (individual 0), the swarm's global best, or the study's machine. It is reached from the
// "Options" menu of both identification workbenches.
//
// The fit runs on the main window's worker; each solver iteration shows its cost in the
// labels and in a live plot (logarithmic), "Stop" or Escape ends it at the next iteration
// with the best point so far. At its end the result window "Resultats de l'optimisation
// des paramètres" shows the fitted parameters, each optimised one with its 95 %
// confidence interval, and the status line how the fit ended. The window itself then
// shows, in its "Résultat" tab, each fitted parameter with its standard error, its 95 %
// interval and the method of that interval, the weights and residuals, and what the
// record cannot identify (the texts of the fit's report); and in its "Trajectoires" tab
// the recorded and fitted speed and current over each other, with their residuals. Choices of this
// window:
//  - The fitted parameters are not written into the machine: "Appliquer à la machine" does
//    it when the user wants them (a refused or failed fit never changes the study).
//  - The fit uses the experimental tables like the optimisers, behind the same guard.

#include <QMainWindow>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

#include "fit/trajectory_fit.h"
#include "identification/machine_genes.h"
#include "ui/param_window.h"
#include "ui/tuning_cost_plot.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace mas::ui {

class IdentificationHub;

// The recorded and fitted speed (left) and phase current (right) at the compared instants,
// over each other, and below each its residual (recorded - fitted), on a shared time axis.
class FitCurvesPlot : public QWidget {
  Q_OBJECT

 public:
  explicit FitCurvesPlot(QWidget* parent = nullptr);

  void SetCurves(FitCurves curves);
  const FitCurves& Curves() const { return curves_; }
  // The instants drawn (0 before a fit that compared the machine's state).
  int Instants() const { return static_cast<int>(curves_.times.size()); }

  QSize sizeHint() const override { return {640, 360}; }
  QSize minimumSizeHint() const override { return {420, 260}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  FitCurves curves_;
};

class TFitWindow : public QMainWindow {
  Q_OBJECT

 public:
  enum class Start { kGenetic, kSwarm, kMachine };

  // `best_of` gives the optimisers' bests (kGenetic, kSwarm) when the fit starts.
  TFitWindow(IdentificationHub& hub, std::function<Genes(Start)> best_of,
             QWidget* parent = nullptr);
  ~TFitWindow() override;

  // Shows the window with the start chosen.
  void ShowFrom(Start start);
  // "Ajuster": the fit from the chosen start; refused while the study is busy.
  bool CmAjuster();
  void CmStop();
  // "Appliquer à la machine": the last fitted parameters into the machine fields.
  bool CmAppliquer();

  const std::optional<FitResult>& Result() const { return result_; }
  QComboBox* StartChoice() const { return start_; }
  QLineEdit* IterationsEdit() const { return iterations_; }
  TuningCostPlot* Plot() const { return plot_; }
  QTabWidget* Tabs() const { return tabs_; }
  // The fitted parameters: "Paramètre", "Valeur", "Écart-type", "Intervalle à 95 %",
  // "Méthode", "Unité", "Remarque".
  QTableWidget* ParameterTable() const { return table_; }
  // The interval method, weights, residual rms and identifiability, one per line.
  QString SummaryText() const;
  FitCurvesPlot* CurvesPlot() const { return curves_; }
  QString ProgressText() const;

 signals:
  void jobFinished();

 private:
  void ShowProgress(const FitProgress& p);
  void ShowResult(const FitResult& r);
  void ShowParameters(const FitResult& r);
  void SetBusy(bool busy);

  IdentificationHub& hub_;
  std::function<Genes(Start)> best_of_;
  bool job_running_ = false;
  // A fit of this window is under way on the worker (it posts its progress here).
  std::atomic<bool> fit_in_use_{false};
  std::optional<FitResult> result_;
  std::vector<CostPoint> costs_;

  QComboBox* start_ = nullptr;
  QLineEdit* iterations_ = nullptr;
  QLabel* progress_ = nullptr;
  QPushButton* fit_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* apply_ = nullptr;
  TuningCostPlot* plot_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* summary_ = nullptr;
  FitCurvesPlot* curves_ = nullptr;
};

// How a fit ended, in the status line's words.
std::string FitEndText(const FitResult& r);

// The 95 % intervals of a fit's optimised genes, in gene order (nullopt: held).
std::array<std::optional<GeneInterval>, NGenes> IntervalsOf(const FitResult& r);

}  // namespace mas::ui
