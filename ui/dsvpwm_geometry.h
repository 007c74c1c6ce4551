#pragma once
// What the double SVPWM study window draws, as plain geometry: every line, polygon and
// text with its pen and position, computed from the modulator's own state. The window
// only paints these lists (ui/dsvpwm_window.cpp), so the tests check the drawing here.
//
// Two drawings:
//  - The leg-state diagram: the six leg axes K0..K5 of one switching period 2 TMLI and the
//    leg states sampled with the modulator's step, in the coordinates of the study's
//    drawing (period axis from x = 270 to 670, leg i at y = 50 + 30 i, state 1 drawn
//    10 pixels above the axis).
//  - The vector diagram: the voltage vectors of the two three-phase sets (K0..K2 and
//    K3..K5, the second hexagon turned by 30 degrees), the twelve 30-degree sectors with
//    the modulator's current sector filled, the reference vector, the mean vector each set
//    applies over the period, and the sequence of vectors applied along the period as two
//    time strips under the hexagons.
//
// Both drawings use a fixed logical canvas (LegDiagramCanvas, VectorDiagramCanvas) that the
// window scales to the room it has, keeping the proportions.

#include <array>
#include <string>
#include <vector>

#include "dsvpwm/double_svpwm.h"

namespace mas::ui {

struct Colour {
  int r = 0, g = 0, b = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kRed{255, 0, 0};
inline constexpr Colour kBlue{0, 0, 255};
inline constexpr Colour kGrey{160, 160, 160};
inline constexpr Colour kSet1Colour{0, 90, 200};  // vectors of legs K0..K2
inline constexpr Colour kSet2Colour{0, 150, 60};  // vectors of legs K3..K5
inline constexpr Colour kSectorFill{255, 236, 150};

struct Pen {
  Colour colour = kBlack;
  double width = 1.0;
  bool dashed = false;
  friend bool operator==(const Pen&, const Pen&) = default;
};

struct Segment {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  Pen pen;
};

// A closed polygon filled with `fill` and outlined with `pen` (no outline when its width
// is 0).
struct Polygon {
  std::vector<std::array<double, 2>> points;
  Colour fill = kBlack;
  Pen pen{kBlack, 0.0};
};

// Text placed by its top-left corner, or centred on (x, y) when `centred`.
struct Label {
  double x = 0, y = 0;
  std::string text;
  Colour colour = kBlack;
  bool centred = false;
  bool small = false;  // the smaller font of the vector diagram's annotations
};

struct Drawing {
  std::vector<Polygon> polygons;  // painted first
  std::vector<Segment> segments;
  std::vector<Label> labels;  // painted last
};

// The logical canvas a drawing is laid out on.
struct Canvas {
  double left = 0, top = 0, width = 0, height = 0;
};

// ---- Leg-state diagram.
inline constexpr int kLegX0 = 270;       // start of the period axis
inline constexpr int kLegY0 = 50;        // axis of leg K0
inline constexpr int kLegWidth = 400;    // length of the period axis
inline constexpr int kLegSpacing = 30;   // between two leg axes
inline constexpr int kStateHeight = 10;  // height of state 1 above the axis
inline constexpr double kWaveformPenWidth = 3.0;
inline constexpr int kDashLength = 2;

Canvas LegDiagramCanvas();

// Axes, ticks and labels of the six legs, then the waveforms: the leg states at t = 0, dt,
// 2 dt ... while t <= 2 TMLI (SampleLegStates, the modulator's own step), each a 2-pixel
// blue dash at x = WaveformX(t), y = 50 + 30 i - 10 state. Dashes of one leg that touch or
// overlap at the same height are merged into one segment (the same pixels, far fewer
// lines when the step is small). Samples the leg states, so the modulator's `state`
// changes.
Drawing LegStateDiagram(DoubleSvpwm& modulator);

// ---- Sequence of vectors applied in one period.

// Number of the voltage vector a three-phase set applies with leg states (a, b, c):
// 0 = 000, 1 = 100, 2 = 110, 3 = 010, 4 = 011, 5 = 001, 6 = 101, 7 = 111; active vector
// n (1..6) points at (n - 1) x 60 degrees from the set's first phase axis.
int SetVectorNumber(int a, int b, int c);

// An interval of the period during which every leg keeps its state.
struct AppliedInterval {
  double t_begin = 0, t_end = 0;  // s, within [0, 2 TMLI]
  std::array<int, kLegCount> state{};
  int vector_set1 = 0;  // SetVectorNumber of K0, K1, K2
  int vector_set2 = 0;  // SetVectorNumber of K3, K4, K5
};

// The intervals of one period 2 TMLI in order, cut at every switching instant of every leg
// that falls inside the period, the states taken from SwitchStatesAt in the middle of each
// interval; neighbours with the same states are merged. Empty when TMLI is not a positive
// finite time. Changes the modulator's `state`.
std::vector<AppliedInterval> AppliedSequence(DoubleSvpwm& modulator);

// A point of the stator plane, in the units of the phase voltages (V): the amplitude-
// preserving Clarke transform of the three phase voltages of one set, each phase at its
// own axis angle.
struct PlaneVector {
  double alpha = 0, beta = 0;
};

// Voltage vector of a set from its leg states, with legs at +E2 (state 1) or -E2: phase
// voltage of leg j = 2 E2/3 (2 Sj - Sk - Sl). Set 0 has its phase axes at 0, 120 and 240
// degrees, set 1 at 30, 150 and 270 degrees.
PlaneVector SetVoltageVector(int set, int a, int b, int c, double E2);

// The reference as phase voltages see it: the Clarke transform of the phase references
// K0..K2 (the same as that of K3..K5), i.e. (Valphas, Vbetas)/sqrt(3).
PlaneVector ReferenceVector(const DoubleSvpwm& modulator);

// Mean voltage vector the set applies over the intervals, weighted by their durations.
PlaneVector MeanSetVector(const std::vector<AppliedInterval>& sequence, int set, double E2);

// ---- Vector diagram.
inline constexpr double kHexCentreX = 170;
inline constexpr double kHexCentreY = 165;
inline constexpr double kHexRadius = 115;  // pixels for an active vector, 4 E2/3
inline constexpr double kStripX = 55;      // time strips of the sequence
inline constexpr double kStripWidth = 270;
inline constexpr double kStripTop = 345;
inline constexpr double kStripRowHeight = 18;

Canvas VectorDiagramCanvas();

// Pixel position of a plane vector (alpha to the right, beta up) for half bus voltage E2.
std::array<double, 2> VectorDiagramPoint(PlaneVector v, double E2);

// The vector diagram of the modulator's current state (the sequence from AppliedSequence).
Drawing VectorDiagram(DoubleSvpwm& modulator);

// ---- Texts of the window's labels.

// "Th=" + the angle in degrees + " (°)", the degrees with up to 15 significant digits.
std::string ThetaLabel(double Thetas);
// "Sector=" + the sector.
std::string SectorLabel(int sector);
// "Vdsref=" + the value with 2 decimals (up to 7 significant digits; larger magnitudes in
// exponent form).
std::string VrefLabel(double Vdsref);

}  // namespace mas::ui
