#include "ui/tuning_cost_plot.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/number_text.h"

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
  if (highest - lowest >= 1.0) {
    // A positive finite double lies within 10^-324 .. 10^309.
    return {std::floor(lowest), std::ceil(highest), true};
  }
  // Equal costs: about 2 % either side.
  const double margin = highest > lowest ? 0.1 * (highest - lowest) : 0.01;
  return {lowest - margin, highest + margin, false};
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

std::vector<double> AxisTicks(const LogRange& range, int max_labels) {
  const int labels = std::max(2, max_labels);
  std::vector<double> ticks;
  if (range.whole_decades) {
    // The decades are whole numbers well inside the range of an int.
    const int low = static_cast<int>(range.low);
    const int span = static_cast<int>(range.high) - low;
    const int step = std::max(1, (span + labels - 2) / (labels - 1));
    for (int d = 0; d <= span; d += step) ticks.push_back(low + d);
    return ticks;
  }
  // Within a decade: round costs, 1, 2 or 5 times a power of ten apart.
  const double lo = std::pow(10.0, range.low);
  const double hi = std::pow(10.0, range.high);
  const double rough = (hi - lo) / (std::min(labels, 6) - 1);
  if (!(rough > 0) || !std::isfinite(rough)) return {range.low, range.high};
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = 10 * power;
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= rough) {
      step = m * power;
      break;
    }
  }
  for (double k = std::ceil(lo / step); k * step <= hi; k += 1) {
    ticks.push_back(std::log10(k * step));
  }
  if (ticks.size() < 2) ticks = {range.low, range.high};
  return ticks;
}

QString TickLabel(const LogRange& range, double tick) {
  if (range.whole_decades) return QStringLiteral("1e") + QString::number(std::lround(tick));
  // The round cost of the tick: as many digits as its integer part or as the tick spacing
  // needs, so that 317900 reads "317900" and 0.0325 reads "0.0325".
  const double value = std::pow(10.0, tick);
  const double spacing = (std::pow(10.0, range.high) - std::pow(10.0, range.low)) / 5;
  const int top = static_cast<int>(std::floor(std::log10(std::abs(value)))) + 1;
  const int bottom = static_cast<int>(std::floor(std::log10(spacing)));
  const int digits = std::clamp(std::max(top, top - bottom), 1, 12);
  return QString::fromStdString(FormatReal(value, digits));
}

TuningCostPlot::TuningCostPlot(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TuningCostPlot"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TuningCostPlot::SetCaptions(QString title, QString axis) {
  title_ = std::move(title);
  axis_ = std::move(axis);
  update();
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
      metrics.horizontalAdvance(QStringLiteral("9.99999e+99")) + 10, line + 8,
      std::max(10, width() - metrics.horizontalAdvance(QStringLiteral("9.99999e+99")) - 22),
      std::max(10, height() - 3 * line - 12));

  p.setPen(palette().color(QPalette::Text));
  p.drawText(QRectF(0, 2, width(), line), Qt::AlignHCenter, title_);

  const LogRange range = CostRange(points_);
  const int max_labels = std::max(2, static_cast<int>(area.height() / (line + 2)));
  const QPen grid(QColor(215, 215, 215), 1, Qt::DotLine);
  for (double tick : AxisTicks(range, max_labels)) {
    const double y = area.bottom() - area.height() * (tick - range.low) / (range.high - range.low);
    p.setPen(grid);
    p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRectF(0, y - line / 2.0, area.left() - 6, line), Qt::AlignRight | Qt::AlignVCenter,
               TickLabel(range, tick));
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
  p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), line), Qt::AlignHCenter, axis_);

  const std::vector<QPointF> curve = CostCurve(points_, area);
  p.setPen(QPen(QColor(20, 70, 170), 1.6));
  if (curve.size() > 1) p.drawPolyline(curve.data(), static_cast<int>(curve.size()));
  p.setBrush(QColor(20, 70, 170));
  for (const QPointF& point : curve) p.drawEllipse(point, 2.5, 2.5);
}

}  // namespace mas::ui
