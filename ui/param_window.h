#pragma once
// "Résultats de l'optimisation des paramètres": the best parameter set of the identification,
// read-only, in gene order (Rs, Ts, Tr, sigma, J, a10, a20, a30), each with six
// significant digits (the whole value in its tooltip), and beside the time constants and
// the leakage coefficient the machine's resistances and inductances they stand for
// (Ls = Lr = Rs Ts, Rr = Ls/Tr, M = Ls sqrt(1 - sigma)). After a trajectory fit each
// optimised value also shows its 95 % confidence interval.
//
// Closing it by its frame only hides it (closedByFrame tells the workbenches, which
// untick their check boxes); the workbenches destroy it when their check box is unticked.

#include <QWidget>
#include <array>
#include <optional>
#include <string>

#include "identification/machine_genes.h"

class QLabel;
class QLineEdit;

namespace mas::ui {

// The physical machine a parameter set maps to; a value that has no machine (Tr = 0,
// sigma above 1, a non-finite gene) is empty.
struct MachineOfGenes {
  std::optional<double> Rs, Rr, Ls, Lr, M;
};
MachineOfGenes MachineFromGenes(const Genes& g);

// 95 % interval of one optimised parameter, and whether the record identifies it.
struct GeneInterval {
  double lower = 0.0;
  double upper = 0.0;
  bool identifiable = true;
};

// Shortest general text of a value (up to 15 significant digits), with a decimal point.
std::string ShortestText(double value);

class TParamWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TParamWindow(QWidget* parent = nullptr);

  void ShowGenes(const Genes& g);
  // Intervals of the optimised genes after a fit (nullopt: no interval for that gene);
  // cleared by ShowGenes from an optimiser.
  void ShowIntervals(const std::array<std::optional<GeneInterval>, NGenes>& intervals);
  void ClearIntervals();

  QString ValueText(int gene) const;
  QString IntervalText(int gene) const;
  QString MachineText(int row) const;  // Rs, Rr, Ls, Lr, M

 signals:
  void closedByFrame();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::array<QLineEdit*, NGenes> values_{};
  std::array<QLabel*, NGenes> intervals_{};
  std::array<QLineEdit*, 5> machine_{};
  QLabel* interval_header_ = nullptr;
};

}  // namespace mas::ui
