#include "ui/diagram_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace mas::ui {
namespace {

// Drawing coordinates: the diagram's own, x as the window's, y from the diagram's top.
QRectF RegionRect(int index) {
  const Region& r = DiagramRegions()[static_cast<std::size_t>(index)];
  return QRectF(r.left, r.top - kDiagramTop, r.right - r.left, r.bottom - r.top);
}

QColor RegionColour(int index) {
  const std::uint32_t rgb = DiagramRegions()[static_cast<std::size_t>(index)].rgb;
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// A line from a to b ending in an arrow head.
void Arrow(QPainter& p, QPointF a, QPointF b) {
  p.drawLine(a, b);
  const double angle = std::atan2(b.y() - a.y(), b.x() - a.x());
  constexpr double kHead = 5.0, kSpread = 0.45;
  QPolygonF head;
  head << b
       << QPointF(b.x() - kHead * std::cos(angle - kSpread),
                  b.y() - kHead * std::sin(angle - kSpread))
       << QPointF(b.x() - kHead * std::cos(angle + kSpread),
                  b.y() - kHead * std::sin(angle + kSpread));
  p.save();
  p.setBrush(p.pen().color());
  p.drawPolygon(head);
  p.restore();
}

// Summing junction with the reference entering from the left and the measure, labelled,
// entering from below with a minus sign.
void Junction(QPainter& p, QPointF centre, const QString& feedback) {
  constexpr double r = 6.5;
  p.drawEllipse(centre, r, r);
  p.drawLine(centre + QPointF(-r * 0.7, -r * 0.7), centre + QPointF(r * 0.7, r * 0.7));
  p.drawLine(centre + QPointF(-r * 0.7, r * 0.7), centre + QPointF(r * 0.7, -r * 0.7));
  Arrow(p, centre + QPointF(0, 24), centre + QPointF(0, r));
  p.drawText(QRectF(centre.x() + 2, centre.y() + 8, 12, 10), Qt::AlignCenter, QStringLiteral("−"));
  p.drawText(QRectF(centre.x() - 20, centre.y() + 24, 40, 11), Qt::AlignHCenter | Qt::AlignTop,
             feedback);
}

void Block(QPainter& p, const QRectF& r, const QString& text) {
  p.setBrush(Qt::white);
  p.drawRect(r);
  p.drawText(r, Qt::AlignCenter, text);
}

// A limiter: a block holding a saturation characteristic.
void Limiter(QPainter& p, const QRectF& r) {
  p.setBrush(Qt::white);
  p.drawRect(r);
  const QPointF c = r.center();
  const double w = r.width() * 0.32, h = r.height() * 0.28;
  p.drawLine(QPointF(c.x() - w * 1.2, c.y()), QPointF(c.x() + w * 1.2, c.y()));
  p.drawLine(QPointF(c.x(), c.y() - h * 1.3), QPointF(c.x(), c.y() + h * 1.3));
  QPolygonF z;
  z << QPointF(c.x() - w * 1.1, c.y() + h) << QPointF(c.x() - w * 0.45, c.y() + h)
    << QPointF(c.x() + w * 0.45, c.y() - h) << QPointF(c.x() + w * 1.1, c.y() - h);
  QPen thick = p.pen();
  thick.setWidthF(1.6);
  p.save();
  p.setPen(thick);
  p.drawPolyline(z);
  p.restore();
}

void Label(QPainter& p, QPointF at, const QString& text, Qt::Alignment align = Qt::AlignCenter) {
  p.drawText(QRectF(at.x() - 40, at.y() - 7, 80, 14), align, text);
}

void DrawDiagram(QPainter& p) {
  p.fillRect(QRectF(0, 0, kDiagramWidth, kDiagramHeight), Qt::white);
  QPen pen(Qt::black, 1.0);
  pen.setJoinStyle(Qt::MiterJoin);
  p.setPen(pen);
  QFont font = p.font();
  font.setFamily(QStringLiteral("Sans Serif"));
  font.setPixelSize(10);
  p.setFont(font);
  QFont small = font;
  small.setPixelSize(9);
  QFont title = font;
  title.setBold(true);

  const QRectF speed_reg = RegionRect(0), speed_lim = RegionRect(1);
  const QRectF q_reg = RegionRect(2), q_lim = RegionRect(3);
  const QRectF d_reg = RegionRect(4), d_lim = RegionRect(5);
  const QRectF inverter = RegionRect(6), machine = RegionRect(7);
  const QRectF slip = RegionRect(8), logos = RegionRect(9);
  const double yq = speed_reg.center().y();  // q axis and speed loop
  const double yd = d_reg.center().y();      // d axis

  // Titles of the loops.
  p.setFont(title);
  p.drawText(QRectF(60, 4, 150, 14), Qt::AlignCenter, QStringLiteral("Régulation de vitesse"));
  p.drawText(QRectF(280, 4, 140, 14), Qt::AlignCenter, QStringLiteral("Courant Iqs"));
  p.drawText(QRectF(270, d_lim.bottom() + 26, 120, 14), Qt::AlignCenter,
             QStringLiteral("Courant Ids"));
  p.setFont(font);

  // Speed loop: reference, junction, regulator, limiter, q current reference.
  Label(p, QPointF(28, yq - 10), QStringLiteral("Ω ref"));
  const QPointF speed_sum(78, yq);
  Arrow(p, QPointF(8, yq), speed_sum - QPointF(6.5, 0));
  Junction(p, speed_sum, QStringLiteral("Ω"));
  Arrow(p, speed_sum + QPointF(6.5, 0), QPointF(speed_reg.left(), yq));
  Block(p, speed_reg, QStringLiteral("PI"));
  Arrow(p, QPointF(speed_reg.right(), yq), QPointF(speed_lim.left(), yq));
  Limiter(p, speed_lim);
  const QPointF q_sum(292, yq);
  Arrow(p, QPointF(speed_lim.right(), yq), q_sum - QPointF(6.5, 0));
  Label(p, QPointF(238, yq - 10), QStringLiteral("Iqs ref"));
  Junction(p, q_sum, QStringLiteral("Iqs"));
  Arrow(p, q_sum + QPointF(6.5, 0), QPointF(q_reg.left(), yq));
  Block(p, q_reg, QStringLiteral("PI"));
  Arrow(p, QPointF(q_reg.right(), yq), QPointF(q_lim.left(), yq));
  Limiter(p, q_lim);

  // Flux path: field weakening from the speed gives the d current reference.
  const QRectF weakening(150, yd - 14, 80, 28);
  Label(p, QPointF(40, yd - 10), QStringLiteral("Ω"));
  Arrow(p, QPointF(20, yd), QPointF(weakening.left(), yd));
  Block(p, weakening, QStringLiteral("Défluxage"));
  const QPointF d_sum(292, yd);
  Arrow(p, QPointF(weakening.right(), yd), d_sum - QPointF(6.5, 0));
  Label(p, QPointF(258, yd - 10), QStringLiteral("Ids ref"));
  Junction(p, d_sum, QStringLiteral("Ids"));
  Arrow(p, d_sum + QPointF(6.5, 0), QPointF(d_reg.left(), yd));
  Block(p, d_reg, QStringLiteral("PI"));
  Arrow(p, QPointF(d_reg.right(), yd), QPointF(d_lim.left(), yd));
  Limiter(p, d_lim);

  // Inverse Park transform, inverter, machine.
  const QRectF park_inv(418, inverter.top() + 8, 38, inverter.height() - 16);
  Arrow(p, QPointF(q_lim.right(), yq), QPointF(park_inv.left(), yq));
  Arrow(p, QPointF(d_lim.right(), yd), QPointF(park_inv.left(), yd));
  p.setFont(small);
  Label(p, QPointF(408, yq - 10), QStringLiteral("Vqs"));
  Label(p, QPointF(408, yd - 10), QStringLiteral("Vds"));
  p.setFont(font);
  Block(p, park_inv, QStringLiteral("P⁻¹"));
  const double ym = machine.center().y();
  for (int k = -1; k <= 1; ++k) {
    Arrow(p, QPointF(park_inv.right(), inverter.center().y() + 18 * k),
          QPointF(inverter.left(), inverter.center().y() + 18 * k));
  }
  p.setBrush(Qt::white);
  p.drawRect(inverter);
  p.setFont(title);
  p.drawText(inverter, Qt::AlignCenter, QStringLiteral("Ond\nMLI"));
  p.setFont(small);
  p.drawText(QRectF(inverter.left() - 8, inverter.top() - 14, inverter.width() + 16, 12),
             Qt::AlignCenter, QStringLiteral("E/2"));
  p.setFont(font);
  const double r_machine = machine.width() / 2.0;
  for (int k = -1; k <= 1; ++k) {
    const double y = ym + 14 * k;
    const double x_edge =
        machine.center().x() - std::sqrt(r_machine * r_machine - (y - ym) * (y - ym));
    Arrow(p, QPointF(inverter.right(), y), QPointF(x_edge, y));
  }
  p.setBrush(Qt::white);
  p.drawEllipse(machine);
  p.setFont(title);
  p.drawText(machine, Qt::AlignCenter, QStringLiteral("MAS"));
  p.setFont(font);

  // Measurements: phase currents into the Park transform, the speed from the shaft.
  const QRectF park(414, 243, 46, 36);
  const double x_meas = 520;
  p.setBrush(Qt::black);
  p.drawEllipse(QPointF(x_meas, ym + 14), 1.8, 1.8);
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(x_meas, ym + 14), QPointF(x_meas, park.center().y()));
  Arrow(p, QPointF(x_meas, park.center().y()), QPointF(park.right(), park.center().y()));
  p.setFont(small);
  Label(p, QPointF(x_meas + 22, 200), QStringLiteral("Ias, Ibs"));
  p.setFont(font);
  Block(p, park, QStringLiteral("P(θs)"));
  Arrow(p, QPointF(park.left(), park.center().y()), QPointF(park.left() - 40, park.center().y()));
  p.setFont(small);
  p.drawText(QRectF(park.left() - 70, park.center().y() - 14, 66, 12), Qt::AlignRight,
             QStringLiteral("Ids, Iqs"));
  p.setFont(font);
  const double y_speed = 294;
  p.drawLine(QPointF(machine.center().x(), machine.bottom()),
             QPointF(machine.center().x(), y_speed));
  Arrow(p, QPointF(machine.center().x(), y_speed), QPointF(slip.right(), y_speed));
  Label(p, QPointF(500, y_speed - 9), QStringLiteral("Ω mesurée"));

  // Slip and angle computation, feeding the angle to both Park transforms.
  p.setBrush(Qt::white);
  p.drawRect(slip);
  p.setFont(title);
  p.drawText(QRectF(slip.left(), slip.top() + 4, slip.width(), 14), Qt::AlignCenter,
             QStringLiteral("Glissement et angle"));
  p.setFont(font);
  p.drawText(QRectF(slip.left(), slip.top() + 24, slip.width(), 14), Qt::AlignCenter,
             QStringLiteral("ωsl = M Iqs / (Tr Φr)"));
  p.drawText(QRectF(slip.left(), slip.top() + 42, slip.width(), 14), Qt::AlignCenter,
             QStringLiteral("ωs = p Ω + ωsl"));
  p.drawText(QRectF(slip.left(), slip.top() + 60, slip.width(), 14), Qt::AlignCenter,
             QStringLiteral("θs = ∫ ωs dt"));
  const double y_theta = slip.top() + 16;
  const double x_branch = 405;
  p.drawLine(QPointF(slip.right(), y_theta), QPointF(park.center().x(), y_theta));
  Arrow(p, QPointF(park.center().x(), y_theta), QPointF(park.center().x(), park.top()));
  p.setBrush(Qt::black);
  p.drawEllipse(QPointF(x_branch, y_theta), 1.8, 1.8);
  p.setBrush(Qt::NoBrush);
  const double y_up = park_inv.bottom() + 14;
  p.drawLine(QPointF(x_branch, y_theta), QPointF(x_branch, y_up));
  p.drawLine(QPointF(x_branch, y_up), QPointF(park_inv.center().x(), y_up));
  Arrow(p, QPointF(park_inv.center().x(), y_up), QPointF(park_inv.center().x(), park_inv.bottom()));
  Label(p, QPointF(350, y_theta - 9), QStringLiteral("θs"));

  // Three logos: the simulator, the dq model, the curve viewer.
  const double side = 20, gap = (logos.width() - 3 * side) / 4;
  for (int k = 0; k < 3; ++k) {
    const QRectF box(logos.left() + gap + k * (side + gap), logos.center().y() - side / 2, side,
                     side);
    p.setBrush(QColor(235, 240, 250));
    p.drawRoundedRect(box, 3, 3);
    p.setBrush(Qt::NoBrush);
    if (k == 0) {
      p.drawEllipse(box.adjusted(4, 4, -4, -4));
      p.drawLine(QPointF(box.center().x(), box.top() + 2),
                 QPointF(box.center().x(), box.bottom() - 2));
    } else if (k == 1) {
      p.setFont(small);
      p.drawText(box, Qt::AlignCenter, QStringLiteral("dq"));
      p.setFont(font);
    } else {
      QPainterPath wave;
      wave.moveTo(box.left() + 2, box.center().y());
      for (int i = 1; i <= 16; ++i) {
        const double x = box.left() + 2 + i * (side - 4) / 16.0;
        wave.lineTo(x, box.center().y() - 6 * std::sin(i * 3.14159265358979 / 8));
      }
      p.drawPath(wave);
    }
  }
}

}  // namespace

DiagramWidget::DiagramWidget(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

double DiagramWidget::Scale() const {
  return std::max(0.05,
                  std::min(width() / double(kDiagramWidth), height() / double(kDiagramHeight)));
}

QPointF DiagramWidget::ToClient(QPointF widget_point) const {
  const double s = Scale();
  return {widget_point.x() / s, widget_point.y() / s + kDiagramTop};
}

QPointF DiagramWidget::FromClient(QPointF client_point) const {
  const double s = Scale();
  return {client_point.x() * s, (client_point.y() - kDiagramTop) * s};
}

void DiagramWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(Scale(), Scale());
  DrawDiagram(p);
  // Lit regions: the region's colour masked out of the drawing under it (the result is
  // the old pixel AND NOT the colour); the machine is filled solid instead.
  for (int i = 0; i < kRegionCount; ++i) {
    if (!hover_[static_cast<std::size_t>(i)]) continue;
    const QRectF r = RegionRect(i);
    p.save();
    if (DiagramRegions()[static_cast<std::size_t>(i)].solid) {
      p.setPen(QPen(Qt::black, 1.0));
      p.setBrush(RegionColour(i));
      p.drawEllipse(r);
      QFont f = p.font();
      f.setBold(true);
      f.setPixelSize(10);
      p.setFont(f);
      p.drawText(r, Qt::AlignCenter, QStringLiteral("MAS"));
    } else {
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setCompositionMode(QPainter::RasterOp_NotSourceAndDestination);
      p.setPen(QPen(Qt::black, 1.0));
      p.setBrush(RegionColour(i));
      p.drawRect(r);
    }
    p.restore();
  }
}

void DiagramWidget::Invalidate(const std::vector<int>& regions) {
  const double s = Scale();
  for (int i : regions) {
    const QRectF r = RegionRect(i);
    update(QRectF(r.left() * s, r.top() * s, r.width() * s, r.height() * s)
               .toAlignedRect()
               .adjusted(-2, -2, 2, 2));
  }
}

void DiagramWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPointF c = ToClient(event->position());
  Invalidate(UpdateHover(hover_, c.x(), c.y()));
}

void DiagramWidget::mousePressEvent(QMouseEvent* event) {
  const QPointF c = ToClient(event->position());
  for (int region : ClickedRegions(c.x(), c.y())) emit regionClicked(region);
}

void DiagramWidget::leaveEvent(QEvent*) { Invalidate(ClearHover(hover_)); }

}  // namespace mas::ui
