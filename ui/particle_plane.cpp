#include "ui/particle_plane.h"

#include <QPainter>
#include <QResizeEvent>
#include <charconv>
#include <cmath>

#include "ui/param_window.h"

namespace mas::ui {
namespace {

constexpr double kPixelsPerUnit = 20.0;
constexpr double kFarthestPixel = 1e6;

// Truncation towards zero of a pixel coordinate, or nothing when it has no value.
bool ToPixel(double v, int& out) {
  if (!std::isfinite(v) || std::fabs(v) > kFarthestPixel) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

QColor ParticleColour(int i) {
  const auto value = static_cast<std::uint32_t>(static_cast<long long>(i) * 10000 % 0x1000000);
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

std::vector<ParticleSegment> ParticleMoves(const std::vector<Genes>& X, const std::vector<Genes>& V,
                                           int width, int height, int dx, int dy) {
  std::vector<ParticleSegment> out;
  if (dx < 0 || dx >= NGenes || dy < 0 || dy >= NGenes) return out;
  const double cx = width / 2;
  const double cy = height / 4;
  const auto x = static_cast<std::size_t>(dx);
  const auto y = static_cast<std::size_t>(dy);
  for (std::size_t i = 0; i < X.size() && i < V.size(); ++i) {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    if (!ToPixel(cx + kPixelsPerUnit * X[i][x], x1) ||
        !ToPixel(cy - kPixelsPerUnit * X[i][y], y1) ||
        !ToPixel(cx + kPixelsPerUnit * (X[i][x] + V[i][x]), x2) ||
        !ToPixel(cy - kPixelsPerUnit * (X[i][y] + V[i][y]), y2)) {
      continue;
    }
    out.push_back({QLine(x1, y1, x2, y2), ParticleColour(static_cast<int>(i))});
  }
  return out;
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
}

void ParticlePlane::AddMoves(const std::vector<Genes>& X, const std::vector<Genes>& V) {
  if (canvas_.size() != size()) resizeEvent(nullptr);
  QPainter p(&canvas_);
  for (const ParticleSegment& s : ParticleMoves(X, V, width(), height(), dx_, dy_)) {
    p.setPen(QPen(s.colour, 1));
    p.drawLine(s.line);
  }
  update();
}

void ParticlePlane::Clear() {
  canvas_.fill(Qt::white);
  update();
}

void ParticlePlane::SetDimensions(int dx, int dy) {
  if (dx < 0 || dx >= NGenes || dy < 0 || dy >= NGenes) return;
  dx_ = dx;
  dy_ = dy;
  Clear();
}

void ParticlePlane::resizeEvent(QResizeEvent*) {
  // The moves drawn stay where they were; a larger canvas is white beyond them.
  QImage grown(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  grown.fill(Qt::white);
  if (!canvas_.isNull()) {
    QPainter p(&grown);
    p.drawImage(0, 0, canvas_);
  }
  canvas_ = std::move(grown);
}

void ParticlePlane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, canvas_);
  p.setPen(Qt::darkGray);
  p.drawText(
      rect().adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignBottom,
      QString::fromUtf8(kGeneNames[static_cast<std::size_t>(dx_)]) + QStringLiteral(" → , ") +
          QString::fromUtf8(kGeneNames[static_cast<std::size_t>(dy_)]) + QStringLiteral(" ↑"));
}

}  // namespace mas::ui
