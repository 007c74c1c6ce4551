#pragma once
// The block diagram of the field-oriented drive, drawn as vectors so that it stays sharp
// at any size: it scales with the widget, and so do its ten clickable regions. Hovering
// a region tints it (the drawing colour masked out of the diagram, as a mask-not-pen
// raster operation does), the machine is filled solid; a click runs the regions'
// commands.

#include <QWidget>
#include <array>

#include "ui/diagram_geometry.h"

namespace mas::ui {

class DiagramWidget : public QWidget {
  Q_OBJECT

 public:
  explicit DiagramWidget(QWidget* parent = nullptr);

  QSize sizeHint() const override { return {kDiagramWidth, kDiagramHeight}; }
  QSize minimumSizeHint() const override { return {kDiagramWidth / 2, kDiagramHeight / 2}; }

  // Scale from the nominal drawing to the widget.
  double Scale() const;
  // Client coordinates (diagram starting at kDiagramTop) of a widget point.
  QPointF ToClient(QPointF widget_point) const;
  // Widget point of client coordinates.
  QPointF FromClient(QPointF client_point) const;

  const std::array<bool, kRegionCount>& Hover() const { return hover_; }

 signals:
  // A click ran over region `index` (0-based); emitted for every region group it hits.
  void regionClicked(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void Invalidate(const std::vector<int>& regions);

  std::array<bool, kRegionCount> hover_{};
};

}  // namespace mas::ui
