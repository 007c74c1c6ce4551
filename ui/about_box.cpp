#include "ui/about_box.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace mas::ui {
namespace {

// Small emblems of the four parts: the simulator, the dq model, the curve viewer and the
// cage model, drawn rather than loaded so that nothing can be missing.
QPixmap Emblem(int kind, qreal ratio) {
  const int side = 40;
  QPixmap pixmap(QSize(side, side) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 50, 110), 1.5));
  p.setBrush(QColor(230, 236, 250));
  p.drawRoundedRect(QRectF(1, 1, side - 2, side - 2), 6, 6);
  p.setBrush(Qt::NoBrush);
  QFont f = p.font();
  f.setPixelSize(12);
  f.setBold(true);
  p.setFont(f);
  switch (kind) {
    case 0:  // simulator: a machine with its shaft
      p.drawEllipse(QRectF(9, 9, 22, 22));
      p.drawLine(QPointF(31, 20), QPointF(37, 20));
      break;
    case 1:
      p.drawText(QRectF(0, 0, side, side), Qt::AlignCenter, QStringLiteral("dq"));
      break;
    case 2: {  // curve viewer: axes and a curve
      p.drawLine(QPointF(8, 32), QPointF(34, 32));
      p.drawLine(QPointF(8, 32), QPointF(8, 7));
      QPainterPath wave;
      wave.moveTo(8, 30);
      wave.cubicTo(16, 0, 22, 40, 33, 12);
      p.drawPath(wave);
      break;
    }
    default:  // cage: bars between two rings
      p.drawEllipse(QRectF(8, 8, 8, 24));
      p.drawEllipse(QRectF(24, 8, 8, 24));
      for (int k = 0; k < 3; ++k) p.drawLine(QPointF(12, 10 + 10 * k), QPointF(28, 10 + 10 * k));
      break;
  }
  return pixmap;
}

}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("A propos du logiciel de simulation"));
  setObjectName(QStringLiteral("AboutBox"));
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);
  setMinimumSize(388, 266);

  auto* layout = new QVBoxLayout(this);
  layout->addStretch();
  for (const char* line : {"Logiciel de simulation de", "Commande Vectorielle d'un MAS"}) {
    auto* label = new QLabel(QString::fromUtf8(line), this);
    label->setAlignment(Qt::AlignCenter);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    label->setFont(f);
    layout->addWidget(label);
  }
  layout->addStretch();
  auto* icons = new QHBoxLayout;
  icons->addStretch();
  for (int k = 0; k < 4; ++k) {
    auto* icon = new QLabel(this);
    icon->setPixmap(Emblem(k, devicePixelRatioF()));
    icons->addWidget(icon);
    icons->addStretch();
  }
  layout->addLayout(icons);
  layout->addStretch();
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addStretch();
  layout->addLayout(buttons);
}

}  // namespace mas::ui
