#pragma once
// The particles' moves drawn in a parameter plane of the swarm, and the grid of the
// particles. The geometry and the grid's texts are plain functions; the widget only
// accumulates the moves of successive epochs on its canvas until "Clear".
//
// Each particle i is drawn as a line from its position to its position plus the velocity
// that brought it there, in the plane of two dimensions (by default Rs horizontally and
// Ts vertically), 20 pixels per unit, from the origin at half the width and a quarter of
// the height (y upwards):
//   (cx + 20 X[i][dx], cy - 20 X[i][dy]) -> (cx + 20 (X[i][dx] + V[i][dx]),
//                                            cy - 20 (X[i][dy] + V[i][dy])),
// coordinates truncated towards zero, in the colour i 10000 read as a 24-bit colour
// value with red in the low byte (so particle 1 is 0x002710: red 0x10, green 0x27).

#include <QColor>
#include <QImage>
#include <QLine>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "identification/machine_genes.h"

namespace mas::ui {

struct ParticleSegment {
  QLine line;
  QColor colour;
};

// Colour of particle i: (i 10000) modulo 2^24 as 0x00BBGGRR.
QColor ParticleColour(int i);

// The lines of the particles' last moves in the plane (dx, dy) of a canvas of the given
// size. A particle whose coordinates are not finite, or lie beyond a million pixels, has
// no line (its conversion to pixels would have no value).
std::vector<ParticleSegment> ParticleMoves(const std::vector<Genes>& X, const std::vector<Genes>& V,
                                           int width, int height, int dx = kGeneRs,
                                           int dy = kGeneTs);

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

  // Draws one epoch's moves on the canvas (they stay until Clear).
  void AddMoves(const std::vector<Genes>& X, const std::vector<Genes>& V);
  // "Clear": erases the moves drawn.
  void Clear();
  void SetDimensions(int dx, int dy);
  int DimensionX() const { return dx_; }
  int DimensionY() const { return dy_; }
  const QImage& Canvas() const { return canvas_; }

  QSize sizeHint() const override { return {420, 300}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QImage canvas_;
  int dx_ = kGeneRs;
  int dy_ = kGeneTs;
};

}  // namespace mas::ui
