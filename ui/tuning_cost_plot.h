#pragma once
// The live plot of a speed-regulator tuning: the cost of the best individual (the inverse
// of its fitness) after each generation, on a logarithmic scale, since a tuning typically
// divides the cost by several decades in its first generations and then refines it by a
// few percent. The geometry is computed by plain functions that the tests check; the
// widget only paints it.

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <span>
#include <vector>

namespace mas::ui {

struct CostPoint {
  int generation = 0;
  double cost = 0.0;  // 1 / best fitness
};

// The span of the logarithmic axis, in decades: 10^low .. 10^high, high > low.
struct LogRange {
  double low = 0.0;
  double high = 1.0;
  bool whole_decades = true;  // from one power of ten to another
};

// Whether a cost can be placed on a logarithmic axis (finite and positive). A generation
// whose best fitness is 0 (every run diverged to an infinite cost) has none.
bool Plottable(double cost);

// The axis of the plottable costs: from the decade below the smallest to the decade above
// the largest when they lie a decade or more apart; otherwise, as a tuning that refines
// its best by a few percent per generation would look flat on whole decades, from just
// below the smallest to just above the largest (a tenth of their span on either side, or
// 0.01 decade when they are equal). 10^0 .. 10^1 when no cost is plottable.
LogRange CostRange(std::span<const CostPoint> points);

// The curve's points inside `area`: x from the first to the last generation plotted (one
// generation sits in the middle), y from 10^high at the top to 10^low at the bottom.
// Costs that are not plottable are left out.
std::vector<QPointF> CostCurve(std::span<const CostPoint> points, const QRectF& area);

// The labelled values of the axis (log10 of the cost), from low to high, at most
// `max_labels`: whole decades, one every so many, on an axis of whole decades; else round
// costs 1, 2 or 5 times a power of ten apart (the two ends when none fits).
std::vector<double> AxisTicks(const LogRange& range, int max_labels);

// The label of a tick: "1e-3" for a whole decade, else the round cost ("317900").
QString TickLabel(const LogRange& range, double tick);

class TuningCostPlot : public QWidget {
  Q_OBJECT

 public:
  explicit TuningCostPlot(QWidget* parent = nullptr);

  void SetPoints(std::vector<CostPoint> points);
  // The plot's title and the name of its horizontal axis (the identification's epochs and
  // fit iterations are not generations).
  void SetCaptions(QString title, QString axis);
  const std::vector<CostPoint>& Points() const { return points_; }

  QSize sizeHint() const override { return {420, 240}; }
  QSize minimumSizeHint() const override { return {260, 160}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<CostPoint> points_;
  QString title_ = QStringLiteral("Coût du meilleur individu (échelle logarithmique)");
  QString axis_ = QStringLiteral("génération");
};

}  // namespace mas::ui
