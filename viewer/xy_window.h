#pragma once
// XY plots: one column against another over the visible time range (the flux loci, the
// cage's polar columns, the modulator's vectors), with equal scales on request.

#include <QWidget>

#include "viewer/plot_painter.h"

class QCheckBox;
class QComboBox;

namespace mas::viewer {

class XYCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit XYCanvas(QWidget* parent = nullptr);
  void Set(const Dataset* dataset, std::size_t x, std::size_t y, Range time, bool equal);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const Dataset* data_ = nullptr;
  std::size_t x_ = 0, y_ = 0;
  Range time_;
  bool equal_ = true;
};

class XYWindow : public QWidget {
  Q_OBJECT
 public:
  explicit XYWindow(QWidget* parent = nullptr);
  void Update(const Dataset* dataset, Range time);
  void Choose(const QString& x, const QString& y);
  QString x_column() const;
  QString y_column() const;

 private:
  void Redraw();

  const Dataset* data_ = nullptr;
  Range time_;
  QComboBox* x_;
  QComboBox* y_;
  QCheckBox* equal_;
  XYCanvas* canvas_;
};

}  // namespace mas::viewer
