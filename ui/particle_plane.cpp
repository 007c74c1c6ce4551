#include "ui/particle_plane.h"

#include <QPainter>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "ui/param_window.h"

namespace mas::ui {
namespace {

// A round step (1, 2 or 5 times a power of ten) of at least `rough`.
double RoundStep(double rough) {
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= rough) return m * power;
  }
  return 10 * power;
}

QString TickText(double value, double step) {
  // A graduation within a millionth of a step of zero is "0"; the digits are the step's.
  if (std::abs(value) < step * 1e-6) return QStringLiteral("0");
  const double magnitude = std::abs(value);
  if (magnitude >= 1e6 || magnitude < 1e-4) return QString::number(value, 'g', 4);
  const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 12);
  return QString::number(value, 'f', decimals);
}

}  // namespace

QColor ParticleColour(int i) {
  const auto value = static_cast<std::uint32_t>(static_cast<long long>(i) * 10000 % 0x1000000);
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

std::vector<PlaneMove> ParticleMoves(const std::vector<Genes>& X, const std::vector<Genes>& V,
                                     int dx, int dy) {
  std::vector<PlaneMove> out;
  if (dx < 0 || dx >= NGenes || dy < 0 || dy >= NGenes) return out;
  const auto x = static_cast<std::size_t>(dx);
  const auto y = static_cast<std::size_t>(dy);
  for (std::size_t i = 0; i < X.size() && i < V.size(); ++i) {
    const QPointF from(X[i][x], X[i][y]);
    const QPointF to(X[i][x] + V[i][x], X[i][y] + V[i][y]);
    if (!std::isfinite(from.x() + from.y() + to.x() + to.y())) continue;
    out.push_back({from, to, ParticleColour(static_cast<int>(i))});
  }
  return out;
}

PlaneAxis ScaleAxis(const std::vector<double>& values, int max_ticks) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  PlaneAxis axis;
  if (!(low <= high)) low = -1.0, high = 1.0;
  if (high - low < 1e-12 * std::max(1.0, std::abs(high))) {
    low -= 1.0;
    high += 1.0;
  }
  const double step = RoundStep((high - low) / std::max(2, max_ticks - 1));
  if (!std::isfinite(step) || !(step > 0)) return axis;
  axis.low = std::floor(low / step) * step;
  axis.high = std::ceil(high / step) * step;
  for (double k = std::round(axis.low / step); k * step <= axis.high + step * 1e-9; k += 1) {
    axis.ticks.push_back(k * step);
  }
  return axis;
}

QPointF ToArea(QPointF value, const PlaneAxis& x, const PlaneAxis& y, const QRectF& area) {
  return {area.left() + area.width() * (value.x() - x.low) / (x.high - x.low),
          area.bottom() - area.height() * (value.y() - y.low) / (y.high - y.low)};
}

std::string ExponentText(double value, int significant) {
  char buf[64];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, significant - 1);
  return std::string(buf, r.ptr);
}

std::vector<std::string> SwarmGridHeader(const std::array<bool, NGenes>& GenX) {
  std::vector<std::string> names;
  for (int d = 0; d < NGenes; ++d) {
    if (GenX[static_cast<std::size_t>(d)])
      names.emplace_back(kGeneNames[static_cast<std::size_t>(d)]);
  }
  std::vector<std::string> header = {"particle"};
  header.insert(header.end(), names.begin(), names.end());
  for (const auto& n : names) header.push_back("V_" + n);
  header.emplace_back("Eval");
  header.emplace_back("pbest");
  for (const auto& n : names) header.push_back("pbest_" + n);
  return header;
}

std::vector<std::string> SwarmGridRow(int i, const Genes& X, const Genes& V, double eval,
                                      double pbest_val, const Genes& pbest,
                                      const std::array<bool, NGenes>& GenX) {
  std::vector<std::string> row = {std::to_string(i)};
  auto each = [&](const Genes& g) {
    for (std::size_t d = 0; d < g.size(); ++d) {
      if (GenX[d]) row.push_back(ShortestText(g[d]));
    }
  };
  each(X);
  each(V);
  row.push_back(ExponentText(eval, 4));
  row.push_back(ExponentText(pbest_val, 4));
  each(pbest);
  return row;
}

ParticlePlane::ParticlePlane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ParticlePlane"));
  setMinimumSize(200, 150);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ParticlePlane::AddMoves(const std::vector<Genes>& X, const std::vector<Genes>& V) {
  const std::vector<PlaneMove> moves = ParticleMoves(X, V, dx_, dy_);
  moves_.insert(moves_.end(), moves.begin(), moves.end());
  update();
}

void ParticlePlane::Clear() {
  moves_.clear();
  update();
}

void ParticlePlane::SetDimensions(int dx, int dy) {
  if (dx < 0 || dx >= NGenes || dy < 0 || dy >= NGenes) return;
  dx_ = dx;
  dy_ = dy;
  Clear();
}

PlaneAxis ParticlePlane::AxisX() const {
  std::vector<double> values;
  values.reserve(2 * moves_.size());
  for (const PlaneMove& m : moves_) values.insert(values.end(), {m.from.x(), m.to.x()});
  return ScaleAxis(values);
}

PlaneAxis ParticlePlane::AxisY() const {
  std::vector<double> values;
  values.reserve(2 * moves_.size());
  for (const PlaneMove& m : moves_) values.insert(values.end(), {m.from.y(), m.to.y()});
  return ScaleAxis(values, 5);
}

QRectF ParticlePlane::PlotArea() const {
  const QFontMetrics fm(font());
  const double left = fm.horizontalAdvance(QStringLiteral("-0.00000")) + 10;
  return QRectF(left, fm.height() + 6, std::max(10.0, width() - left - 12),
                std::max(10.0, height() - 3.0 * fm.height() - 12));
}

void ParticlePlane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const QFontMetrics fm(font());
  const QRectF area = PlotArea();
  const PlaneAxis x = AxisX();
  const PlaneAxis y = AxisY();
  const double x_step = x.ticks.size() > 1 ? x.ticks[1] - x.ticks[0] : 1.0;
  const double y_step = y.ticks.size() > 1 ? y.ticks[1] - y.ticks[0] : 1.0;

  const QPen grid(QColor(225, 225, 225), 1, Qt::DotLine);
  const QPen text(Qt::black);
  for (double t : x.ticks) {
    const double px = ToArea({t, y.low}, x, y, area).x();
    p.setPen(grid);
    p.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
    p.setPen(text);
    p.drawLine(QPointF(px, area.bottom()), QPointF(px, area.bottom() + 4));
    p.drawText(QRectF(px - 40, area.bottom() + 5, 80, fm.height()), Qt::AlignHCenter,
               TickText(t, x_step));
  }
  for (double t : y.ticks) {
    const double py = ToArea({x.low, t}, x, y, area).y();
    p.setPen(grid);
    p.drawLine(QPointF(area.left(), py), QPointF(area.right(), py));
    p.setPen(text);
    p.drawLine(QPointF(area.left() - 4, py), QPointF(area.left(), py));
    p.drawText(QRectF(0, py - fm.height() / 2.0, area.left() - 6, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, TickText(t, y_step));
  }
  p.setPen(text);
  p.drawRect(area);
  // The axes' names: the horizontal one under its graduations, the vertical one above.
  p.drawText(QRectF(area.left(), area.bottom() + 5 + fm.height(), area.width(), fm.height()),
             Qt::AlignHCenter, QString::fromUtf8(kGeneNames[static_cast<std::size_t>(dx_)]));
  p.drawText(QRectF(0, 2, area.left() + 40, fm.height()), Qt::AlignLeft,
             QString::fromUtf8(kGeneNames[static_cast<std::size_t>(dy_)]));

  p.setClipRect(area.adjusted(-1, -1, 1, 1));
  p.setRenderHint(QPainter::Antialiasing);
  for (const PlaneMove& m : moves_) {
    p.setPen(QPen(m.colour, 1.2));
    p.drawLine(ToArea(m.from, x, y, area), ToArea(m.to, x, y, area));
  }
}

}  // namespace mas::ui
