#include "ui/cost_plot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace mas::ui {
namespace {

bool Plottable(double cost) { return std::isfinite(cost) && cost > 0.0; }

// Decades beyond any double (1e-324 .. 1e309) cannot occur; the clamp keeps the
// conversion to int defined whatever comes in.
int Decade(double log_value) { return static_cast<int>(std::clamp(log_value, -400.0, 400.0)); }

}  // namespace

CostPlotLayout LayOutCosts(const std::vector<double>& costs, const QRectF& area) {
  CostPlotLayout layout;
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (double c : costs) {
    if (!Plottable(c)) continue;
    lo = std::min(lo, std::log10(c));
    hi = std::max(hi, std::log10(c));
  }
  if (lo > hi) return layout;
  layout.low_decade = Decade(std::floor(lo));
  layout.high_decade = std::max(Decade(std::ceil(hi)), layout.low_decade + 1);
  const double span = layout.high_decade - layout.low_decade;
  const std::size_t n = costs.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (!Plottable(costs[i])) continue;
    const double x =
        n == 1 ? area.center().x()
               : area.left() + area.width() * static_cast<double>(i) / static_cast<double>(n - 1);
    const double y =
        area.bottom() - area.height() * (std::log10(costs[i]) - layout.low_decade) / span;
    layout.points.emplace_back(x, y);
  }
  return layout;
}

CostPlot::CostPlot(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CostPlot"));
  setMinimumSize(240, 120);
  setToolTip(QStringLiteral("Meilleur coût à chaque itération (échelle logarithmique)"));
}

void CostPlot::Append(double cost) {
  costs_.push_back(cost);
  update();
}

void CostPlot::Clear() {
  costs_.clear();
  update();
}

void CostPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const QFontMetrics fm = p.fontMetrics();
  const int left = fm.horizontalAdvance(QStringLiteral("1e-000")) + 8;
  const QRectF area(left, fm.height() + 6, width() - left - 10, height() - 2 * fm.height() - 14);
  p.setPen(Qt::black);
  p.drawText(QRectF(0, 2, width(), fm.height()), Qt::AlignHCenter,
             QStringLiteral("Meilleur coût (log)"));
  p.setPen(QColor(160, 160, 160));
  p.drawRect(area);
  const CostPlotLayout layout = LayOutCosts(costs_, area);
  if (layout.points.empty()) return;
  // One grid line and label per decade (at most about ten labels).
  const int decades = layout.high_decade - layout.low_decade;
  const int every = std::max(1, decades / 8);
  for (int d = layout.low_decade; d <= layout.high_decade; d += every) {
    const double y = area.bottom() - area.height() * (d - layout.low_decade) / decades;
    p.setPen(QColor(220, 220, 220));
    p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    p.setPen(Qt::black);
    p.drawText(QRectF(0, y - fm.height() / 2.0, left - 4, fm.height()), Qt::AlignRight,
               QStringLiteral("1e") + QString::number(d));
  }
  p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), fm.height()), Qt::AlignRight,
             QString::number(costs_.size()));
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(20, 70, 160), 1.5));
  for (std::size_t i = 1; i < layout.points.size(); ++i) {
    p.drawLine(layout.points[i - 1], layout.points[i]);
  }
  p.setBrush(QColor(20, 70, 160));
  for (const QPointF& pt : layout.points) p.drawEllipse(pt, 2.0, 2.0);
}

}  // namespace mas::ui
