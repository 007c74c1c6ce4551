#pragma once
// A small live plot of the best cost of each generation or epoch, on a logarithmic scale
// (the costs of an identification fall by decades). The geometry is a plain function;
// the widget only paints it.

#include <QRectF>
#include <QWidget>
#include <vector>

namespace mas::ui {

struct CostPlotLayout {
  std::vector<QPointF> points;  // one per positive finite cost, in order
  int low_decade = 0;           // the vertical axis spans 10^low_decade .. 10^high_decade
  int high_decade = 1;
};

// Places costs[i] at x = left + i (width / (n - 1)) (the middle for one cost) and at the
// height of log10(cost) between the whole decades around the costs. Costs that are not
// positive and finite (an interrupted or diverged best) have no point.
CostPlotLayout LayOutCosts(const std::vector<double>& costs, const QRectF& area);

class CostPlot : public QWidget {
  Q_OBJECT

 public:
  explicit CostPlot(QWidget* parent = nullptr);

  void Append(double cost);
  void Clear();
  const std::vector<double>& Costs() const { return costs_; }

  QSize sizeHint() const override { return {320, 160}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<double> costs_;
};

}  // namespace mas::ui
