#include "ui/tuning_cost_plot.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <limits>

namespace mas::ui {

bool Plottable(double cost) { return std::isfinite(cost) && cost > 0.0; }

LogRange CostRange(std::span<const CostPoint> points) {
  double lowest = std::numeric_limits<double>::infinity();
  double highest = -lowest;
  for (const CostPoint& p : points) {
    if (!Plottable(p.cost)) continue;
    const double decade = std::log10(p.cost);
    lowest = std::min(lowest, decade);
    highest = std::max(highest, decade);
  }
  if (!(lowest <= highest)) return {};
  // A positive finite double lies within 10^-324 .. 10^309: the decades fit an int.
  LogRange range{static_cast<int>(std::floor(lowest)), static_cast<int>(std::ceil(highest))};
  if (range.high <= range.low) range.high = range.low + 1;
  return range;
}

std::vector<QPointF> CostCurve(std::span<const CostPoint> points, const QRectF& area) {
  std::vector<QPointF> curve;
  if (points.empty()) return curve;
  const LogRange range = CostRange(points);
  const int first = points.front().generation;
  const int last = points.back().generation;
  const double decades = range.high - range.low;
  for (const CostPoint& p : points) {
    if (!Plottable(p.cost)) continue;
    const double x = last == first ? area.center().x()
                                   : area.left() + area.width() * (p.generation - first) /
                                                       static_cast<double>(last - first);
    const double y = area.bottom() - area.height() * (std::log10(p.cost) - range.low) / decades;
    curve.emplace_back(x, y);
  }
  return curve;
}

std::vector<int> LabelledDecades(const LogRange& range, int max_labels) {
  const int span = range.high - range.low;
  const int step = std::max(1, (span + std::max(1, max_labels) - 1) / std::max(1, max_labels));
  std::vector<int> decades;
  for (int d = range.low; d <= range.high; d += step) decades.push_back(d);
  return decades;
}

TuningCostPlot::TuningCostPlot(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TuningCostPlot"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TuningCostPlot::SetPoints(std::vector<CostPoint> points) {
  points_ = std::move(points);
  update();
}

void TuningCostPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Base));
  p.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics metrics(font());
  const int line = metrics.height();
  const QRectF area(
      metrics.horizontalAdvance(QStringLiteral("1e-300")) + 10, line + 8,
      std::max(10, width() - metrics.horizontalAdvance(QStringLiteral("1e-300")) - 22),
      std::max(10, height() - 3 * line - 12));

  p.setPen(palette().color(QPalette::Text));
  p.drawText(QRectF(0, 2, width(), line), Qt::AlignHCenter,
             QStringLiteral("Coût du meilleur individu (échelle logarithmique)"));

  const LogRange range = CostRange(points_);
  const int max_labels = std::max(2, static_cast<int>(area.height() / (line + 2)));
  const QPen grid(QColor(215, 215, 215), 1, Qt::DotLine);
  for (int decade : LabelledDecades(range, max_labels)) {
    const double y =
        area.bottom() - area.height() * (decade - range.low) / double(range.high - range.low);
    p.setPen(grid);
    p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRectF(0, y - line / 2.0, area.left() - 6, line), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("1e") + QString::number(decade));
  }
  p.setPen(QPen(palette().color(QPalette::Text), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(area);

  if (!points_.empty()) {
    const QString first = QString::number(points_.front().generation);
    const QString last = QString::number(points_.back().generation);
    const QRectF labels(area.left(), area.bottom() + 2, area.width(), line);
    p.drawText(labels, Qt::AlignLeft, first);
    if (points_.size() > 1) p.drawText(labels, Qt::AlignRight, last);
  }
  p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), line), Qt::AlignHCenter,
             QStringLiteral("génération"));

  const std::vector<QPointF> curve = CostCurve(points_, area);
  p.setPen(QPen(QColor(20, 70, 170), 1.6));
  if (curve.size() > 1) p.drawPolyline(curve.data(), static_cast<int>(curve.size()));
  p.setBrush(QColor(20, 70, 170));
  for (const QPointF& point : curve) p.drawEllipse(point, 2.5, 2.5);
}

}  // namespace mas::ui
