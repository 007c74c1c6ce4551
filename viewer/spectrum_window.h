#pragma once
// The spectrum window: the FFT (Hann window) of a chosen column over the visible time
// range, or between the two cursors, in dB relative to the largest line or in amplitude;
// a click reads the frequency and level of the nearest line, the wheel zooms the
// frequency axis and a double click shows the band of its lines.

#include <QWidget>

#include "viewer/core/spectrum.h"
#include "viewer/plot_painter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;

namespace mas::viewer {

class SpectrumCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit SpectrumCanvas(QWidget* parent = nullptr);
  void SetSpectrum(Spectrum spectrum, QString title);
  void SetDb(bool db);
  Range frequency_range() const { return frequencies_; }
  QImage Render(QSize size) const;

 signals:
  void MarkerChanged(double frequency);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  Range FullRange() const;
  double FrequencyAt(double x) const;

  Spectrum spectrum_;
  QString title_;
  bool db_ = true;
  double marker_ = NAN;
  Range frequencies_{0, 1};
  QRect plot_{0, 0, 1, 1};
};

class SpectrumWindow : public QWidget {
  Q_OBJECT
 public:
  explicit SpectrumWindow(QWidget* parent = nullptr);
  // New data or new range: recomputes. `cursors` bound the range when asked to.
  void Update(const Dataset* dataset, Range visible, const std::vector<double>& cursors);
  // Chooses the column and the scale (from a session or the command line).
  void Choose(const QString& column, bool db);
  QString column() const;
  bool db() const;

 private:
  void Recompute();

  const Dataset* data_ = nullptr;
  Range visible_;
  std::vector<double> cursors_;
  QComboBox* column_;
  QRadioButton* db_;
  QRadioButton* linear_;
  QCheckBox* between_cursors_;
  QLabel* info_;
  SpectrumCanvas* canvas_;
};

}  // namespace mas::viewer
