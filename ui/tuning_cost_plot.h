#pragma once
// The live plot of a speed-regulator tuning: the cost of the best individual (the inverse
// of its fitness) after each generation, on a logarithmic scale, since a tuning typically
// divides the cost by several decades in its first generations and then refines it by a
// few percent. The geometry is computed by plain functions that the tests check; the
// widget only paints it.

#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <span>
#include <vector>

namespace mas::ui {

struct CostPoint {
  int generation = 0;
  double cost = 0.0;  // 1 / best fitness
};

// The decades a plot spans, 10^low .. 10^high, high > low.
struct LogRange {
  int low = 0;
  int high = 1;
};

// Whether a cost can be placed on a logarithmic axis (finite and positive). A generation
// whose best fitness is 0 (every run diverged to an infinite cost) has none.
bool Plottable(double cost);

// From the decade below the smallest plottable cost to the decade above the largest, at
// least one decade; 10^0 .. 10^1 when no cost is plottable.
LogRange CostRange(std::span<const CostPoint> points);

// The curve's points inside `area`: x from the first to the last generation plotted (one
// generation sits in the middle), y from 10^high at the top to 10^low at the bottom.
// Costs that are not plottable are left out.
std::vector<QPointF> CostCurve(std::span<const CostPoint> points, const QRectF& area);

// The decades labelled on the axis, from low to high, one every `step` decades so that at
// most `max_labels` labels are drawn.
std::vector<int> LabelledDecades(const LogRange& range, int max_labels);

class TuningCostPlot : public QWidget {
  Q_OBJECT

 public:
  explicit TuningCostPlot(QWidget* parent = nullptr);

  void SetPoints(std::vector<CostPoint> points);
  const std::vector<CostPoint>& Points() const { return points_; }

  QSize sizeHint() const override { return {420, 240}; }
  QSize minimumSizeHint() const override { return {260, 160}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<CostPoint> points_;
};

}  // namespace mas::ui
