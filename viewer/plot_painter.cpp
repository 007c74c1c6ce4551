#include "viewer/plot_painter.h"

#include <QFontMetrics>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace mas::viewer {

namespace {

constexpr int kGap = 8;  // between stacked plots
constexpr int kTopMargin = 8;
constexpr int kRightMargin = 16;
constexpr int kTickLength = 4;

QString Text(const std::string& s) { return QString::fromStdString(s); }

// Ticks that fit along `pixels` with their labels apart by at least `spacing` pixels.
Ticks FittingTicks(Range range, int pixels, const QFontMetrics& fm, bool horizontal) {
  int count = std::max(2, pixels / (horizontal ? 70 : 2 * fm.height()));
  for (;; --count) {
    Ticks ticks = NiceTicks(range, count);
    if (count <= 2) return ticks;
    int needed = 0;
    for (double v : ticks.values) {
      needed = std::max(
          needed, horizontal ? fm.horizontalAdvance(Text(FormatTick(v, ticks.step))) : fm.height());
    }
    const double room = static_cast<double>(pixels) / std::max<std::size_t>(1, ticks.values.size());
    if (needed + (horizontal ? 16 : fm.height() / 2) <= room) return ticks;
  }
}

// Right margin that leaves room for half the label of the last graduation (the labels
// are centred on their graduation).
int RightMargin(Range range, int pixels, const QFontMetrics& fm) {
  const Ticks ticks = FittingTicks(range, pixels, fm, true);
  if (ticks.values.empty()) return kRightMargin;
  const int half = fm.horizontalAdvance(Text(FormatTick(ticks.values.back(), ticks.step))) / 2;
  return std::max(kRightMargin, half + 4);
}

void DrawCurve(QPainter& painter, const QRect& r, const Dataset& data, std::size_t column,
               Range time, Range values) {
  const std::vector<double>& t = data.Time();
  const std::vector<double>& y = data.Column(column);
  const double left = r.left(), right = r.right() + 1.0;
  const double bottom = r.bottom() + 1.0, top = r.top();
  auto px = [&](double v) { return ToPixel(v, time, left, right); };
  auto py = [&](double v) { return ToPixel(v, values, bottom, top); };
  QPolygonF line;
  auto flush = [&] {
    if (line.size() > 1) painter.drawPolyline(line);
    if (line.size() == 1) painter.drawPoint(line.front());
    line.clear();
  };
  std::size_t first = 0, last = 0;
  if (data.time_monotone()) VisibleSamples(t, time.lo, time.hi, first, last);
  const int width = std::max(1, r.width());
  if (data.time_monotone() && last - first <= static_cast<std::size_t>(width / 3)) {
    // Zoomed in: the exact samples, with markers when they are far enough apart.
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool markers = last - first <= static_cast<std::size_t>(width / 8);
    for (std::size_t i = first; i < last; ++i) {
      if (!std::isfinite(y[i])) {
        flush();
        continue;
      }
      line << QPointF(px(t[i]), py(y[i]));
      if (markers) painter.drawRect(QRectF(line.back() - QPointF(2, 2), QSizeF(4, 4)));
    }
    flush();
    painter.setRenderHint(QPainter::Antialiasing, false);
    return;
  }
  // One vertical stroke per pixel column, from its first sample through its min and
  // max to its last, joined to the neighbouring columns.
  const Decimated d =
      DecimateMinMax(t, y, data.time_monotone(),
                     data.time_monotone() ? &data.Index(column) : nullptr, time.lo, time.hi, width);
  line.reserve(4 * width + 2);
  if (d.monotone && d.first_index > 0 && std::isfinite(y[d.first_index - 1])) {
    line << QPointF(px(t[d.first_index - 1]), py(y[d.first_index - 1]));
  }
  for (int p = 0; p < width; ++p) {
    const PixelColumn& c = d.columns[static_cast<std::size_t>(p)];
    if (c.empty) continue;
    if (!(c.min <= c.max)) {
      flush();
      continue;
    }
    const double x = left + p + 0.5;
    if (!std::isfinite(c.first)) flush();
    line << QPointF(x, py(std::isfinite(c.first) ? c.first : c.min)) << QPointF(x, py(c.min))
         << QPointF(x, py(c.max)) << QPointF(x, py(std::isfinite(c.last) ? c.last : c.max));
    if (!std::isfinite(c.last)) flush();
  }
  if (d.monotone && d.last_index < y.size() && std::isfinite(y[d.last_index])) {
    line << QPointF(px(t[d.last_index]), py(y[d.last_index]));
  }
  flush();
}

void DrawGridAndTicks(QPainter& painter, const QRect& r, const Ticks& ticks, bool vertical_axis,
                      Range range, bool grid, bool labels) {
  const QFontMetrics fm = painter.fontMetrics();
  for (double v : ticks.values) {
    const QString label = Text(FormatTick(v, ticks.step));
    if (vertical_axis) {
      const double y = ToPixel(v, range, r.bottom() + 1.0, r.top());
      if (grid) {
        painter.setPen(QPen(QColor(225, 225, 225), 0));
        painter.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
      }
      painter.setPen(QPen(Qt::black, 0));
      painter.drawLine(QPointF(r.left() - kTickLength, y), QPointF(r.left(), y));
      const QRectF box(0, y - fm.height() / 2.0, r.left() - kTickLength - 3, fm.height());
      painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, label);
    } else {
      const double x = ToPixel(v, range, r.left(), r.right() + 1.0);
      if (grid) {
        painter.setPen(QPen(QColor(225, 225, 225), 0));
        painter.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
      }
      painter.setPen(QPen(Qt::black, 0));
      painter.drawLine(QPointF(x, r.bottom()), QPointF(x, r.bottom() + kTickLength));
      if (labels) {
        const int w = fm.horizontalAdvance(label);
        painter.drawText(QPointF(x - w / 2.0, r.bottom() + kTickLength + fm.ascent() + 2), label);
      }
    }
  }
}

void DrawLegend(QPainter& painter, const QRect& r, const std::vector<QString>& names,
                const std::vector<QColor>& colors) {
  if (names.empty()) return;
  const QFontMetrics fm = painter.fontMetrics();
  int width = 0;
  for (const QString& n : names) width = std::max(width, fm.horizontalAdvance(n));
  const int row = fm.height();
  const int rows =
      std::min<int>(static_cast<int>(names.size()), std::max(1, (r.height() - 8) / row));
  const QRect box(r.right() - width - 40, r.top() + 4, width + 34, rows * row + 6);
  painter.setPen(QPen(QColor(160, 160, 160), 0));
  painter.setBrush(QColor(255, 255, 255, 225));
  painter.drawRect(box);
  painter.setBrush(Qt::NoBrush);
  for (int i = 0; i < rows; ++i) {
    const int y = box.top() + 3 + i * row;
    painter.setPen(QPen(colors[static_cast<std::size_t>(i)], 2));
    painter.drawLine(box.left() + 5, y + row / 2, box.left() + 23, y + row / 2);
    painter.setPen(QPen(Qt::black, 0));
    painter.drawText(QPoint(box.left() + 28, y + fm.ascent()), names[static_cast<std::size_t>(i)]);
  }
}

}  // namespace

Dataset::Dataset(Table table) : table_(std::move(table)) {
  time_monotone_ = table_.columns.empty() || IsNonDecreasing(table_.columns[0]);
  indices_.resize(table_.columns.size());
}

const std::vector<double>& Dataset::Time() const {
  static const std::vector<double> kNoTime;
  return table_.columns.empty() ? kNoTime : table_.columns[0];
}

const MinMaxIndex& Dataset::Index(std::size_t c) const {
  if (!indices_[c]) indices_[c] = std::make_unique<MinMaxIndex>(table_.columns[c]);
  return *indices_[c];
}

Range Dataset::TimeRange() const {
  if (table_.columns.empty() || table_.columns[0].empty()) return {0, 1};
  const std::vector<double>& t = table_.columns[0];
  if (time_monotone_) {
    if (t.front() < t.back()) return {t.front(), t.back()};
    return PaddedRange(t.front(), t.back());
  }
  const Range r = AutoRange(t, 0, t.size());
  return r;
}

QColor CurveColor(std::size_t index) {
  static const QColor kColors[] = {QColor(0, 90, 200),   QColor(220, 50, 30), QColor(0, 150, 60),
                                   QColor(150, 60, 180), QColor(230, 130, 0), QColor(0, 160, 170),
                                   QColor(120, 80, 40),  QColor(200, 40, 140)};
  return kColors[index % (sizeof kColors / sizeof kColors[0])];
}

Range AutoPlotRange(const Dataset& data, const PlotView& plot, Range time) {
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  const std::vector<double>& t = data.Time();
  for (std::size_t c : plot.columns) {
    const std::vector<double>& y = data.Column(c);
    if (data.time_monotone()) {
      std::size_t first = 0, last = 0;
      first = static_cast<std::size_t>(std::lower_bound(t.begin(), t.end(), time.lo) - t.begin());
      last = static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), time.hi) - t.begin());
      double a = 0, b = 0;
      data.Index(c).MinMax(y, first, last, a, b);
      // Infinite values stay off the scale (they are drawn at the plot's edge).
      if (!std::isfinite(a) || !std::isfinite(b)) {
        const Range r = AutoRange(y, first, last);
        if (first < last) {
          lo = std::min(lo, r.lo);
          hi = std::max(hi, r.hi);
        }
        continue;
      }
      lo = std::min(lo, a);
      hi = std::max(hi, b);
    } else {
      for (std::size_t i = 0; i < y.size(); ++i) {
        if (t[i] >= time.lo && t[i] <= time.hi && std::isfinite(y[i])) {
          lo = std::min(lo, y[i]);
          hi = std::max(hi, y[i]);
        }
      }
    }
  }
  return PaddedRange(lo, hi);
}

QString NumberText(double value) { return Text(FormatValue(value)); }

PlotLayout PaintPlots(QPainter& painter, const QRect& area, const Dataset& data,
                      const ViewState& view) {
  PlotLayout layout;
  layout.area = area;
  painter.save();
  painter.fillRect(area, Qt::white);
  const QFontMetrics fm = painter.fontMetrics();
  const int axis_height = 2 * fm.height() + kTickLength + 6;
  const int count = std::max<int>(1, static_cast<int>(view.plots.size()));
  const std::vector<Band> bands =
      StackPlots(area.top() + kTopMargin, area.height() - kTopMargin, count, kGap, axis_height);
  // Value ranges and graduations first: the widest label sets the left margin of all.
  std::vector<Range> ranges;
  std::vector<Ticks> y_ticks;
  int label_width = fm.horizontalAdvance(QStringLiteral("-0.000"));
  for (int i = 0; i < count; ++i) {
    Range range{-1, 1};
    if (i < static_cast<int>(view.plots.size())) {
      const PlotView& plot = view.plots[static_cast<std::size_t>(i)];
      range = plot.auto_range ? AutoPlotRange(data, plot, view.time) : plot.range;
    }
    ranges.push_back(range);
    y_ticks.push_back(FittingTicks(range, bands[static_cast<std::size_t>(i)].height, fm, false));
    for (double v : y_ticks.back().values) {
      label_width =
          std::max(label_width, fm.horizontalAdvance(Text(FormatTick(v, y_ticks.back().step))));
    }
  }
  layout.left = area.left() + label_width + kTickLength + 8;
  layout.right = area.right() - RightMargin(view.time, area.right() - layout.left, fm);
  const int width = std::max(1, layout.right - layout.left);
  const Ticks x_ticks = FittingTicks(view.time, width, fm, true);
  for (int i = 0; i < count; ++i) {
    const Band& band = bands[static_cast<std::size_t>(i)];
    const QRect r(layout.left, band.top, width, std::max(1, band.height));
    layout.plots.push_back(r);
    layout.ranges.push_back(ranges[static_cast<std::size_t>(i)]);
    const bool last_plot = i + 1 == count;
    DrawGridAndTicks(painter, r, y_ticks[static_cast<std::size_t>(i)], true,
                     ranges[static_cast<std::size_t>(i)], view.grid, true);
    DrawGridAndTicks(painter, r, x_ticks, false, view.time, view.grid, last_plot);
    if (i < static_cast<int>(view.plots.size())) {
      const PlotView& plot = view.plots[static_cast<std::size_t>(i)];
      painter.save();
      painter.setClipRect(r);
      std::vector<QString> names;
      std::vector<QColor> colors;
      for (std::size_t k = 0; k < plot.columns.size(); ++k) {
        const std::size_t c = plot.columns[k];
        if (c >= data.table().ColumnCount()) continue;
        const QColor color = CurveColor(k);
        painter.setPen(QPen(color, 0));
        painter.setBrush(Qt::NoBrush);
        DrawCurve(painter, r, data, c, view.time, ranges[static_cast<std::size_t>(i)]);
        names.push_back(Text(data.table().names[c]));
        colors.push_back(color);
      }
      for (std::size_t k = 0; k < view.cursors.size(); ++k) {
        const double x = ToPixel(view.cursors[k], view.time, r.left(), r.right() + 1.0);
        painter.setPen(QPen(k == 0 ? QColor(0, 0, 0) : QColor(120, 120, 120), 1, Qt::DashLine));
        painter.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
        if (i == 0) {
          painter.setPen(QPen(Qt::black, 0));
          painter.drawText(QPointF(x + 3, r.top() + fm.ascent() + 1),
                           k == 0 ? QStringLiteral("C1") : QStringLiteral("C2"));
        }
      }
      if (view.legend) DrawLegend(painter, r, names, colors);
      painter.restore();
    }
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
  }
  // Name of the time axis, under the graduations at the right end.
  if (!data.table().names.empty()) {
    const QString name = Text(data.table().names[0]);
    const QRect last = layout.plots.back();
    painter.setPen(QPen(Qt::black, 0));
    painter.drawText(QPointF(last.right() - fm.horizontalAdvance(name),
                             last.bottom() + kTickLength + 2 * fm.height() + 2),
                     name);
  }
  painter.restore();
  return layout;
}

QRect PaintSpectrum(QPainter& painter, const QRect& area, const Spectrum& s, bool db,
                    const QString& title, double marker_frequency, Range frequency_range) {
  painter.save();
  painter.fillRect(area, Qt::white);
  const QFontMetrics fm = painter.fontMetrics();
  const int top = area.top() + fm.height() + 8;
  const int bottom = area.bottom() - (2 * fm.height() + kTickLength + 6);
  painter.setPen(QPen(Qt::black, 0));
  painter.drawText(QPointF(area.left() + 8, area.top() + fm.ascent() + 3), title);
  if (!s.message.empty() || s.frequency.size() < 2) {
    painter.drawText(area, Qt::AlignCenter, Text(s.message));
    painter.restore();
    return area;
  }
  const Range values =
      db ? Range{-120, 5}
         : PaddedRange(0, *std::max_element(s.amplitude.begin(), s.amplitude.end()));
  const Ticks y_ticks = FittingTicks(values, bottom - top, fm, false);
  int label_width = 0;
  for (double v : y_ticks.values) {
    label_width = std::max(label_width, fm.horizontalAdvance(Text(FormatTick(v, y_ticks.step))));
  }
  const int left = area.left() + label_width + kTickLength + 8;
  const int right = area.right() - RightMargin(frequency_range, area.right() - left, fm);
  const QRect r(left, top, std::max(1, right - left), std::max(1, bottom - top));
  const Ticks x_ticks = FittingTicks(frequency_range, r.width(), fm, true);
  DrawGridAndTicks(painter, r, y_ticks, true, values, true, true);
  DrawGridAndTicks(painter, r, x_ticks, false, frequency_range, true, true);
  painter.setPen(QPen(Qt::black, 0));
  const QString unit =
      db ? QStringLiteral("f (Hz) ; niveau (dB)") : QStringLiteral("f (Hz) ; amplitude");
  painter.drawText(QPointF(r.right() - fm.horizontalAdvance(unit),
                           r.bottom() + kTickLength + 2 * fm.height() + 2),
                   unit);
  painter.save();
  painter.setClipRect(r);
  // The spectrum as a curve of its bins, min/max decimated like the time plots.
  const std::vector<double>& level = db ? s.level_db : s.amplitude;
  const Decimated d = DecimateMinMax(s.frequency, level, true, nullptr, frequency_range.lo,
                                     frequency_range.hi, r.width());
  QPolygonF line;
  auto py = [&](double v) { return ToPixel(v, values, r.bottom() + 1.0, r.top()); };
  auto px = [&](double f) { return ToPixel(f, frequency_range, r.left(), r.right() + 1.0); };
  if (d.last_index - d.first_index <= static_cast<std::size_t>(r.width() / 2)) {
    std::size_t first = 0, last = 0;
    VisibleSamples(s.frequency, frequency_range.lo, frequency_range.hi, first, last);
    for (std::size_t i = first; i < last; ++i) line << QPointF(px(s.frequency[i]), py(level[i]));
  } else {
    for (int p = 0; p < r.width(); ++p) {
      const PixelColumn& c = d.columns[static_cast<std::size_t>(p)];
      if (c.empty) continue;
      const double x = r.left() + p + 0.5;
      line << QPointF(x, py(c.first)) << QPointF(x, py(c.min)) << QPointF(x, py(c.max))
           << QPointF(x, py(c.last));
    }
  }
  painter.setPen(QPen(CurveColor(0), 0));
  painter.drawPolyline(line);
  if (std::isfinite(marker_frequency)) {
    const SpectralPeak peak = PeakNear(s, marker_frequency, 0.01 * frequency_range.Span());
    if (peak.found) {
      const double x = px(peak.frequency);
      painter.setPen(QPen(QColor(200, 0, 0), 1, Qt::DashLine));
      painter.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
      // The level against the largest line, both read between bins.
      const auto strongest = std::max_element(s.amplitude.begin(), s.amplitude.end());
      const SpectralPeak largest =
          PeakNear(s, s.frequency[static_cast<std::size_t>(strongest - s.amplitude.begin())]);
      const double reference = std::max(largest.amplitude, peak.amplitude);
      const double level_db =
          reference > 0 && peak.amplitude > 0 ? 20 * std::log10(peak.amplitude / reference) : -300;
      const QString text = QStringLiteral("%1 Hz : %2 (%3 dB)")
                               .arg(NumberText(peak.frequency), NumberText(peak.amplitude),
                                    Text(FormatTick(level_db, 0.1)));
      painter.setPen(QPen(Qt::black, 0));
      const int w = fm.horizontalAdvance(text);
      const double tx = x + 4 + w < r.right() ? x + 4 : x - 4 - w;
      painter.fillRect(QRectF(tx - 2, r.top() + 2, w + 4, fm.height()), QColor(255, 255, 255, 225));
      painter.drawText(QPointF(tx, r.top() + 2 + fm.ascent()), text);
    }
  }
  painter.restore();
  painter.setPen(QPen(Qt::black, 0));
  painter.drawRect(r.adjusted(0, 0, -1, -1));
  painter.restore();
  return r;
}

void PaintXY(QPainter& painter, const QRect& area, const Dataset& data, std::size_t x_column,
             std::size_t y_column, Range time, bool equal_scales) {
  painter.save();
  painter.fillRect(area, Qt::white);
  const QFontMetrics fm = painter.fontMetrics();
  const std::vector<double>& t = data.Time();
  const std::vector<double>& xs = data.Column(x_column);
  const std::vector<double>& ys = data.Column(y_column);
  std::size_t first = 0, last = t.size();
  if (data.time_monotone()) {
    first = static_cast<std::size_t>(std::lower_bound(t.begin(), t.end(), time.lo) - t.begin());
    last = static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), time.hi) - t.begin());
  }
  Range rx = AutoRange(xs, first, last), ry = AutoRange(ys, first, last);
  const int bottom = area.bottom() - (2 * fm.height() + kTickLength + 6);
  int label_width = fm.horizontalAdvance(QStringLiteral("-0.000"));
  Ticks y_ticks = FittingTicks(ry, bottom - area.top() - kTopMargin, fm, false);
  for (double v : y_ticks.values) {
    label_width = std::max(label_width, fm.horizontalAdvance(Text(FormatTick(v, y_ticks.step))));
  }
  QRect r(area.left() + label_width + kTickLength + 8, area.top() + kTopMargin, 1, 1);
  r.setRight(area.right() - RightMargin(rx, area.right() - r.left(), fm));
  r.setBottom(std::max(r.top() + 1, bottom));
  if (equal_scales) {
    // Same units per pixel on both axes: widen the range that has fewer.
    const double ux = rx.Span() / r.width(), uy = ry.Span() / r.height();
    if (ux > uy) {
      const double c = 0.5 * (ry.lo + ry.hi), h = 0.5 * ux * r.height();
      ry = {c - h, c + h};
    } else {
      const double c = 0.5 * (rx.lo + rx.hi), h = 0.5 * uy * r.width();
      rx = {c - h, c + h};
    }
    y_ticks = FittingTicks(ry, r.height(), fm, false);
  }
  const Ticks x_ticks = FittingTicks(rx, r.width(), fm, true);
  DrawGridAndTicks(painter, r, y_ticks, true, ry, true, true);
  DrawGridAndTicks(painter, r, x_ticks, false, rx, true, true);
  painter.setPen(QPen(Qt::black, 0));
  const QString names = Text(data.table().names[x_column]) + QStringLiteral(" → ") +
                        Text(data.table().names[y_column]) + QStringLiteral(" ↑");
  painter.drawText(QPointF(r.right() - fm.horizontalAdvance(names),
                           r.bottom() + kTickLength + 2 * fm.height() + 2),
                   names);
  painter.save();
  painter.setClipRect(r);
  painter.setPen(QPen(CurveColor(0), 0));
  // A point joins the line only when it moves to another pixel: a locus of ten million
  // samples turns into the few thousand strokes that are visible.
  QPolygonF line;
  QPointF previous(-1e9, -1e9);
  for (std::size_t i = first; i < last; ++i) {
    if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) {
      if (line.size() > 1) painter.drawPolyline(line);
      line.clear();
      continue;
    }
    const QPointF p(std::floor(ToPixel(xs[i], rx, r.left(), r.right() + 1.0)) + 0.5,
                    std::floor(ToPixel(ys[i], ry, r.bottom() + 1.0, r.top())) + 0.5);
    if (p != previous || line.isEmpty()) line << p;
    previous = p;
  }
  if (line.size() > 1) painter.drawPolyline(line);
  painter.restore();
  painter.setPen(QPen(Qt::black, 0));
  painter.drawRect(r.adjusted(0, 0, -1, -1));
  painter.restore();
}

}  // namespace mas::viewer
