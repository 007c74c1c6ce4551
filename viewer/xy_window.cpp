#include "viewer/xy_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace mas::viewer {

XYCanvas::XYCanvas(QWidget* parent) : QWidget(parent) { setMinimumSize(300, 300); }

void XYCanvas::Set(const Dataset* dataset, std::size_t x, std::size_t y, Range time, bool equal) {
  data_ = dataset;
  x_ = x;
  y_ = y;
  time_ = time;
  equal_ = equal;
  update();
}

void XYCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (data_ == nullptr || x_ >= data_->table().ColumnCount() ||
      y_ >= data_->table().ColumnCount()) {
    painter.fillRect(rect(), Qt::white);
    return;
  }
  PaintXY(painter, rect(), *data_, x_, y_, time_, equal_);
}

XYWindow::XYWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Tracé XY"));
  x_ = new QComboBox(this);
  y_ = new QComboBox(this);
  equal_ = new QCheckBox(QStringLiteral("Échelles égales"), this);
  equal_->setChecked(true);
  canvas_ = new XYCanvas(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("X :"), this));
  top->addWidget(x_, 1);
  top->addWidget(new QLabel(QStringLiteral("Y :"), this));
  top->addWidget(y_, 1);
  top->addWidget(equal_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(canvas_, 1);
  connect(x_, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });
  connect(y_, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });
  connect(equal_, &QCheckBox::toggled, this, [this] { Redraw(); });
  resize(600, 600);
}

void XYWindow::Update(const Dataset* dataset, Range time) {
  if (dataset != data_ || x_->count() != static_cast<int>(dataset->table().ColumnCount())) {
    const QString x = x_->currentText(), y = y_->currentText();
    QSignalBlocker bx(x_), by(y_);
    x_->clear();
    y_->clear();
    for (const std::string& name : dataset->table().names) {
      x_->addItem(QString::fromStdString(name));
      y_->addItem(QString::fromStdString(name));
    }
    x_->setCurrentIndex(std::max(0, x_->findText(x)));
    y_->setCurrentIndex(y_->findText(y) >= 0 ? y_->findText(y) : std::min(1, y_->count() - 1));
  }
  data_ = dataset;
  time_ = time;
  Redraw();
}

void XYWindow::Choose(const QString& x, const QString& y) {
  if (x_->findText(x) >= 0) x_->setCurrentIndex(x_->findText(x));
  if (y_->findText(y) >= 0) y_->setCurrentIndex(y_->findText(y));
}

QString XYWindow::x_column() const { return x_->currentText(); }
QString XYWindow::y_column() const { return y_->currentText(); }

void XYWindow::Redraw() {
  if (data_ == nullptr || x_->currentIndex() < 0 || y_->currentIndex() < 0) return;
  canvas_->Set(data_, static_cast<std::size_t>(x_->currentIndex()),
               static_cast<std::size_t>(y_->currentIndex()), time_, equal_->isChecked());
}

}  // namespace mas::viewer
