#pragma once
// The particles' moves drawn in a parameter plane of the swarm, and the grid of the
// particles. The geometry and the grid's texts are plain functions; the widget only
// accumulates the moves of successive epochs until "Clear".
//
// Each particle i is drawn as a line from its position to its position plus the velocity
// that brought it there, in the plane of two dimensions (by default Rs horizontally and
// Ts vertically, y upwards), in the colour i 10000 read as a 24-bit colour value with red
// in the low byte (so particle 1 is 0x002710: red 0x10, green 0x27). The plane is scaled
// to the moves drawn since "Clear", on round graduations, with its two axes named and
// graduated.

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "identification/machine_genes.h"

namespace mas::ui {

// One particle's move in the plane, in the values of its two dimensions.
struct PlaneMove {
  QPointF from, to;
  QColor colour;
};

// Colour of particle i: (i 10000) modulo 2^24 as 0x00BBGGRR.
QColor ParticleColour(int i);

// The particles' last moves in the plane (dx, dy). A particle whose coordinates in the
// plane are not finite has no move.
std::vector<PlaneMove> ParticleMoves(const std::vector<Genes>& X, const std::vector<Genes>& V,
                                     int dx = kGeneRs, int dy = kGeneTs);

// One axis of the plane: the range shown, widened to round graduations around the values,
// and those graduations.
struct PlaneAxis {
  double low = -1.0;
  double high = 1.0;
  std::vector<double> ticks;
};
// The axis of values (the non-finite ones left out); -1 .. 1 when there is none, a unit
// either side of a single value.
PlaneAxis ScaleAxis(const std::vector<double>& values, int max_ticks = 6);

// The pixel of a point of the plane in `area` (x to the right, y upwards).
QPointF ToArea(QPointF value, const PlaneAxis& x, const PlaneAxis& y, const QRectF& area);

// The grid: "particle", the selected dimensions' names, "V_" + each, "Eval", "pbest",
// "pbest_" + each (3 S + 3 columns for S selected dimensions).
std::vector<std::string> SwarmGridHeader(const std::array<bool, NGenes>& GenX);
// One particle's row: its index, X and V in the shortest general form, Eval and its
// best cost in exponent form with 4 significant digits, its best position.
std::vector<std::string> SwarmGridRow(int i, const Genes& X, const Genes& V, double eval,
                                      double pbest_val, const Genes& pbest,
                                      const std::array<bool, NGenes>& GenX);

// "%.<significant-1>e" with a decimal point whatever the locale.
std::string ExponentText(double value, int significant);

class ParticlePlane : public QWidget {
  Q_OBJECT

 public:
  explicit ParticlePlane(QWidget* parent = nullptr);

  // Adds one epoch's moves (they stay until Clear); the plane is rescaled to them all.
  void AddMoves(const std::vector<Genes>& X, const std::vector<Genes>& V);
  // "Clear": erases the moves drawn.
  void Clear();
  void SetDimensions(int dx, int dy);
  int DimensionX() const { return dx_; }
  int DimensionY() const { return dy_; }
  const std::vector<PlaneMove>& Moves() const { return moves_; }
  // The axes as drawn now, and the plotting area inside the widget.
  PlaneAxis AxisX() const;
  PlaneAxis AxisY() const;
  QRectF PlotArea() const;

  QSize sizeHint() const override { return {420, 300}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<PlaneMove> moves_;
  int dx_ = kGeneRs;
  int dy_ = kGeneTs;
};

}  // namespace mas::ui
