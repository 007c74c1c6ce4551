#pragma once
// The plotting area of the viewer's window: paints the stacked plots and turns the mouse
// into view changes.
//   left drag          zoom box (the time range, and the values of the plot dragged in;
//                      a flat box zooms the time only)
//   click              places cursor 1 (with Shift: cursor 2); a cursor can be dragged
//   right/middle drag  pans the time axis and the values of the plot under the mouse
//   wheel              zooms the time around the mouse; with Ctrl, the values of the plot
//                      under the mouse
//   drop of a column   adds it to the plot it is dropped on

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <optional>

#include "viewer/plot_painter.h"

namespace mas::viewer {

class PlotCanvas : public QWidget {
  Q_OBJECT

 public:
  PlotCanvas(const Dataset* dataset, ViewState* view, QWidget* parent = nullptr);
  const PlotLayout& layout() const { return layout_; }
  void SetData(const Dataset* dataset) {
    data_ = dataset;
    update();
  }
  // Index of the plot at a point of the widget, or -1.
  int PlotAt(const QPoint& point) const;

 signals:
  // The view was changed by the mouse; `record` marks a change for the zoom history.
  void ViewChanged(bool record);
  void CursorsChanged();
  void PlotSelected(int plot);
  void ColumnDropped(int plot, const QString& name);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  double TimeAt(double x) const;
  void FreezeRanges();

  const Dataset* data_;
  ViewState* view_;
  PlotLayout layout_;
  enum class Drag { kNone, kBox, kPan, kCursor } drag_ = Drag::kNone;
  QPoint press_;
  QPoint current_;
  int press_plot_ = -1;
  int cursor_index_ = 0;
  Range pan_time_;
  Range pan_values_;
};

}  // namespace mas::viewer
