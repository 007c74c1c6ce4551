#include "viewer/plot_canvas.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace mas::viewer {

namespace {
constexpr int kClickSlack = 4;  // pixels a click may move and stay a click
constexpr int kCursorGrab = 4;  // pixels from a cursor line that grab it
constexpr double kWheelStep = 0.8;
}  // namespace

PlotCanvas::PlotCanvas(const Dataset* dataset, ViewState* view, QWidget* parent)
    : QWidget(parent), data_(dataset), view_(view) {
  setAcceptDrops(true);
  setMouseTracking(false);
  setMinimumSize(320, 200);
  setFocusPolicy(Qt::StrongFocus);
}

int PlotCanvas::PlotAt(const QPoint& point) const {
  for (std::size_t i = 0; i < layout_.plots.size(); ++i) {
    // The band of a plot reaches to the left edge of the widget (its value labels).
    const QRect& r = layout_.plots[i];
    if (point.y() >= r.top() && point.y() <= r.bottom() && point.x() <= r.right()) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

double PlotCanvas::TimeAt(double x) const {
  return FromPixel(x, view_->time, layout_.left, layout_.right);
}

// Plots drawn with automatic ranges keep the range they were drawn with once the user
// zooms or pans their values.
void PlotCanvas::FreezeRanges() {
  for (std::size_t i = 0; i < view_->plots.size() && i < layout_.ranges.size(); ++i) {
    if (view_->plots[i].auto_range) {
      view_->plots[i].auto_range = false;
      view_->plots[i].range = layout_.ranges[i];
    }
  }
}

void PlotCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  layout_ = PaintPlots(painter, rect(), *data_, *view_);
  if (drag_ == Drag::kBox) {
    QRect box = QRect(press_, current_).normalized();
    if (press_plot_ >= 0 && std::abs(current_.y() - press_.y()) < kClickSlack) {
      const QRect& r = layout_.plots[static_cast<std::size_t>(press_plot_)];
      box.setTop(r.top());
      box.setBottom(r.bottom());
    }
    painter.setPen(QPen(QColor(0, 90, 200), 1, Qt::DashLine));
    painter.setBrush(QColor(0, 90, 200, 30));
    painter.drawRect(box);
  }
}

void PlotCanvas::mousePressEvent(QMouseEvent* event) {
  press_ = current_ = event->position().toPoint();
  press_plot_ = PlotAt(press_);
  if (press_plot_ >= 0) emit PlotSelected(press_plot_);
  if (event->button() == Qt::LeftButton) {
    drag_ = Drag::kBox;
    for (std::size_t k = 0; k < view_->cursors.size(); ++k) {
      const double x = ToPixel(view_->cursors[k], view_->time, layout_.left, layout_.right);
      if (std::abs(x - press_.x()) <= kCursorGrab) {
        drag_ = Drag::kCursor;
        cursor_index_ = static_cast<int>(k);
      }
    }
  } else if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    drag_ = Drag::kPan;
    pan_time_ = view_->time;
    if (press_plot_ >= 0) {
      FreezeRanges();
      pan_values_ = view_->plots[static_cast<std::size_t>(press_plot_)].range;
    }
  }
}

void PlotCanvas::mouseMoveEvent(QMouseEvent* event) {
  current_ = event->position().toPoint();
  if (drag_ == Drag::kCursor) {
    view_->cursors[static_cast<std::size_t>(cursor_index_)] = TimeAt(current_.x());
    emit CursorsChanged();
    update();
  } else if (drag_ == Drag::kPan) {
    const double width = std::max(1, layout_.right - layout_.left);
    view_->time = Pan(pan_time_, -(current_.x() - press_.x()) / width);
    if (press_plot_ >= 0) {
      const QRect& r = layout_.plots[static_cast<std::size_t>(press_plot_)];
      view_->plots[static_cast<std::size_t>(press_plot_)].range =
          Pan(pan_values_, (current_.y() - press_.y()) / std::max(1.0, 1.0 * r.height()));
    }
    emit ViewChanged(false);
    update();
  } else if (drag_ == Drag::kBox) {
    update();
  }
}

void PlotCanvas::mouseReleaseEvent(QMouseEvent* event) {
  const Drag drag = drag_;
  drag_ = Drag::kNone;
  current_ = event->position().toPoint();
  const QPoint moved = current_ - press_;
  if (drag == Drag::kPan) {
    emit ViewChanged(true);
  } else if (drag == Drag::kCursor) {
    emit CursorsChanged();
  } else if (drag == Drag::kBox && std::abs(moved.x()) < kClickSlack &&
             std::abs(moved.y()) < kClickSlack) {
    // A click: a cursor at that time.
    const double t = TimeAt(press_.x());
    const bool second = (event->modifiers() & Qt::ShiftModifier) != 0;
    if (second) {
      if (view_->cursors.empty()) view_->cursors.push_back(t);
      if (view_->cursors.size() < 2) view_->cursors.push_back(t);
      view_->cursors[1] = t;
    } else {
      if (view_->cursors.empty()) view_->cursors.push_back(t);
      view_->cursors[0] = t;
    }
    emit CursorsChanged();
  } else if (drag == Drag::kBox && std::abs(moved.x()) >= kClickSlack) {
    const double a = TimeAt(press_.x()), b = TimeAt(current_.x());
    const Range time{std::min(a, b), std::max(a, b)};
    if (IsViewable(time)) view_->time = time;
    if (press_plot_ >= 0 && std::abs(moved.y()) >= kClickSlack) {
      FreezeRanges();
      const QRect& r = layout_.plots[static_cast<std::size_t>(press_plot_)];
      PlotView& plot = view_->plots[static_cast<std::size_t>(press_plot_)];
      const double y0 = FromPixel(press_.y(), plot.range, r.bottom() + 1.0, r.top());
      const double y1 = FromPixel(current_.y(), plot.range, r.bottom() + 1.0, r.top());
      const Range values{std::min(y0, y1), std::max(y0, y1)};
      if (IsViewable(values)) plot.range = values;
    }
    emit ViewChanged(true);
  }
  update();
}

void PlotCanvas::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) return;
  const double factor = std::pow(kWheelStep, steps);
  const QPoint at = event->position().toPoint();
  if ((event->modifiers() & Qt::ControlModifier) != 0) {
    const int plot = PlotAt(at);
    if (plot < 0) return;
    FreezeRanges();
    const QRect& r = layout_.plots[static_cast<std::size_t>(plot)];
    PlotView& p = view_->plots[static_cast<std::size_t>(plot)];
    p.range = Zoom(p.range, FromPixel(at.y(), p.range, r.bottom() + 1.0, r.top()), factor);
  } else {
    view_->time = Zoom(view_->time, TimeAt(at.x()), factor);
  }
  emit ViewChanged(true);
  update();
}

void PlotCanvas::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasText()) event->acceptProposedAction();
}

void PlotCanvas::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasText()) event->acceptProposedAction();
}

void PlotCanvas::dropEvent(QDropEvent* event) {
  const int plot = PlotAt(event->position().toPoint());
  for (const QString& name :
       event->mimeData()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    emit ColumnDropped(plot, name);
  }
  event->acceptProposedAction();
}

}  // namespace mas::viewer
