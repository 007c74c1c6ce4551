#include "viewer/spectrum_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

namespace mas::viewer {

SpectrumCanvas::SpectrumCanvas(QWidget* parent) : QWidget(parent) { setMinimumSize(400, 250); }

void SpectrumCanvas::SetSpectrum(Spectrum spectrum, QString title) {
  const bool same_base = spectrum.frequency.size() == spectrum_.frequency.size() &&
                         !spectrum.frequency.empty() &&
                         spectrum.frequency.back() == spectrum_.frequency.back();
  spectrum_ = std::move(spectrum);
  title_ = std::move(title);
  if (!same_base) frequencies_ = FullRange();
  update();
}

void SpectrumCanvas::SetDb(bool db) {
  db_ = db;
  update();
}

Range SpectrumCanvas::FullRange() const { return AutoFrequencyRange(spectrum_); }

double SpectrumCanvas::FrequencyAt(double x) const {
  return FromPixel(x, frequencies_, plot_.left(), plot_.right() + 1.0);
}

QImage SpectrumCanvas::Render(QSize size) const {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);
  PaintSpectrum(painter, QRect(QPoint(0, 0), size), spectrum_, db_, title_, marker_, frequencies_);
  return image;
}

void SpectrumCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  plot_ = PaintSpectrum(painter, rect(), spectrum_, db_, title_, marker_, frequencies_);
}

void SpectrumCanvas::mousePressEvent(QMouseEvent* event) {
  marker_ = FrequencyAt(event->position().x());
  emit MarkerChanged(marker_);
  update();
}

void SpectrumCanvas::mouseDoubleClickEvent(QMouseEvent*) {
  frequencies_ = FullRange();
  update();
}

void SpectrumCanvas::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) return;
  const Range zoomed = Zoom(frequencies_, FrequencyAt(event->position().x()), std::pow(0.8, steps));
  // Within the whole band, up to half the sampling frequency.
  const double nyquist = spectrum_.frequency.empty() ? 1.0 : spectrum_.frequency.back();
  frequencies_ = {std::max(0.0, zoomed.lo), std::min(nyquist, zoomed.hi)};
  if (!(frequencies_.hi > frequencies_.lo)) frequencies_ = FullRange();
  update();
}

SpectrumWindow::SpectrumWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Spectre"));
  column_ = new QComboBox(this);
  db_ = new QRadioButton(QStringLiteral("dB (raie la plus forte = 0 dB)"), this);
  linear_ = new QRadioButton(QStringLiteral("Linéaire"), this);
  db_->setChecked(true);
  between_cursors_ = new QCheckBox(QStringLiteral("Entre les curseurs"), this);
  info_ = new QLabel(this);
  info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  canvas_ = new SpectrumCanvas(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Colonne :"), this));
  top->addWidget(column_, 1);
  top->addWidget(db_);
  top->addWidget(linear_);
  top->addWidget(between_cursors_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(canvas_, 1);
  layout->addWidget(info_);
  connect(column_, &QComboBox::currentIndexChanged, this, [this] { Recompute(); });
  connect(db_, &QRadioButton::toggled, this, [this](bool on) { canvas_->SetDb(on); });
  connect(between_cursors_, &QCheckBox::toggled, this, [this] { Recompute(); });
  resize(800, 450);
}

void SpectrumWindow::Update(const Dataset* dataset, Range visible,
                            const std::vector<double>& cursors) {
  const QString previous = column_->currentText();
  if (dataset != data_ ||
      column_->count() + 1 != static_cast<int>(dataset->table().ColumnCount())) {
    QSignalBlocker block(column_);
    column_->clear();
    for (std::size_t c = 1; c < dataset->table().ColumnCount(); ++c) {
      column_->addItem(QString::fromStdString(dataset->table().names[c]));
    }
    const int keep = column_->findText(previous);
    if (keep >= 0) column_->setCurrentIndex(keep);
  }
  data_ = dataset;
  visible_ = visible;
  cursors_ = cursors;
  between_cursors_->setEnabled(cursors.size() == 2);
  Recompute();
}

void SpectrumWindow::Choose(const QString& column, bool db) {
  const int index = column_->findText(column);
  if (index >= 0) column_->setCurrentIndex(index);
  (db ? db_ : linear_)->setChecked(true);
}

QString SpectrumWindow::column() const { return column_->currentText(); }
bool SpectrumWindow::db() const { return db_->isChecked(); }

void SpectrumWindow::Recompute() {
  if (data_ == nullptr || column_->currentIndex() < 0) return;
  const std::size_t c = static_cast<std::size_t>(column_->currentIndex()) + 1;
  Range range = visible_;
  if (between_cursors_->isChecked() && cursors_.size() == 2) {
    range = {std::min(cursors_[0], cursors_[1]), std::max(cursors_[0], cursors_[1])};
  }
  Spectrum s = ComputeSpectrum(data_->Time(), data_->Column(c), range.lo, range.hi);
  QString info;
  if (s.message.empty()) {
    info = QStringLiteral("%1 points de %2 à %3 s, dt = %4 s, Δf = %5 Hz, fenêtre de Hann")
               .arg(s.samples)
               .arg(NumberText(range.lo), NumberText(range.hi), NumberText(s.sample_time),
                    NumberText(s.frequency.size() > 1 ? s.frequency[1] : 0));
    if (s.resampled) {
      info += QStringLiteral(" ; temps non uniformes : rééchantillonné linéairement");
    }
  } else {
    info = QString::fromStdString(s.message);
  }
  info_->setText(info);
  canvas_->SetSpectrum(std::move(s), QStringLiteral("Spectre de %1").arg(column_->currentText()));
  canvas_->SetDb(db_->isChecked());
}

}  // namespace mas::viewer
