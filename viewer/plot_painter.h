#pragma once
// Painting of the viewer's plots with QPainter, in one place for the window, the PNG and
// SVG exports and the headless mode. The geometry comes from viewer/core; this file only
// turns it into strokes and text.

#include <QColor>
#include <QPainter>
#include <QRect>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "viewer/core/cursor.h"
#include "viewer/core/decimation.h"
#include "viewer/core/plot_geometry.h"
#include "viewer/core/spectrum.h"
#include "viewer/core/table.h"

namespace mas::viewer {

// A table with what drawing needs beside it: whether its first column (the time) never
// decreases, and the block summaries of every column (built when first drawn).
class Dataset {
 public:
  Dataset() = default;
  explicit Dataset(Table table);
  const Table& table() const { return table_; }
  std::size_t time_column() const { return 0; }
  bool time_monotone() const { return time_monotone_; }
  const std::vector<double>& Column(std::size_t c) const { return table_.columns[c]; }
  // The time column (empty for a table without columns).
  const std::vector<double>& Time() const;
  const MinMaxIndex& Index(std::size_t c) const;
  // Range of the time column (its first and last values for a time column).
  Range TimeRange() const;

 private:
  Table table_;
  bool time_monotone_ = true;
  mutable std::vector<std::unique_ptr<MinMaxIndex>> indices_;
};

struct PlotView {
  std::vector<std::size_t> columns;  // table columns drawn in this plot
  bool auto_range = true;
  Range range;  // used when auto_range is off
};

struct ViewState {
  Range time;
  std::vector<PlotView> plots;
  bool grid = true;
  bool legend = true;
  std::vector<double> cursors;  // zero, one or two times
};

// Where each plot was drawn, for the mouse.
struct PlotLayout {
  QRect area;                 // the whole painted area
  std::vector<QRect> plots;   // drawing area of each plot
  std::vector<Range> ranges;  // value range of each plot as drawn
  int left = 0, right = 0;    // pixels of the time axis (shared by every plot)
};

QColor CurveColor(std::size_t index);

// Range of the values of the plot's columns in the time range (every sample, min/max
// summaries for long columns).
Range AutoPlotRange(const Dataset& data, const PlotView& plot, Range time);

// Paints the stacked plots of `view` into `area`.
PlotLayout PaintPlots(QPainter& painter, const QRect& area, const Dataset& data,
                      const ViewState& view);

// Paints a spectrum: levels in dB relative to the largest line, or amplitudes; an optional
// marker at `marker_frequency` (NaN: none) with the peak found there. Returns the
// drawing area of the plot (for the mouse).
QRect PaintSpectrum(QPainter& painter, const QRect& area, const Spectrum& spectrum, bool db,
                    const QString& title, double marker_frequency, Range frequency_range);

// Paints y against x over the samples in the time range (the loci of the fluxes, the
// polar bar currents), with equal scales on both axes when `equal_scales`.
void PaintXY(QPainter& painter, const QRect& area, const Dataset& data, std::size_t x_column,
             std::size_t y_column, Range time, bool equal_scales);

// The text of a number shown on screen: decimal point whatever the locale.
QString NumberText(double value);

}  // namespace mas::viewer
