#include "ui/dsvpwm_geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "dsvpwm/study.h"
#include "ui/number_text.h"

namespace mas::ui {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180;

bool Finite(const std::array<double, 2>& p) { return std::isfinite(p[0]) && std::isfinite(p[1]); }

void AddSegment(Drawing& d, std::array<double, 2> a, std::array<double, 2> b, Pen pen) {
  if (!Finite(a) || !Finite(b)) return;
  d.segments.push_back({a[0], a[1], b[0], b[1], pen});
}

// Point at `radius` pixels from the hexagons' centre, at `angle` (rad) counter-clockwise
// from the alpha axis.
std::array<double, 2> Polar(double radius, double angle) {
  return {kHexCentreX + radius * std::cos(angle), kHexCentreY - radius * std::sin(angle)};
}

// An arrow from the centre to `tip`: the shaft and two barbs of 9 pixels at 25 degrees.
void AddArrow(Drawing& d, std::array<double, 2> tip, Pen pen) {
  const std::array<double, 2> centre = {kHexCentreX, kHexCentreY};
  if (!Finite(tip)) return;
  const double dx = tip[0] - centre[0], dy = tip[1] - centre[1];
  const double length = std::hypot(dx, dy);
  if (!(length > 1.0)) return;
  AddSegment(d, centre, tip, pen);
  const double back = std::atan2(-dy, -dx);
  Pen barb = pen;
  barb.dashed = false;
  for (double side : {-1.0, 1.0}) {
    const double a = back + side * 25 * kDegree;
    AddSegment(d, tip, {tip[0] + 9 * std::cos(a), tip[1] + 9 * std::sin(a)}, barb);
  }
}

Colour Lighter(Colour c) { return {(c.r + 3 * 255) / 4, (c.g + 3 * 255) / 4, (c.b + 3 * 255) / 4}; }

// Leg states of the set's vector n (inverse of SetVectorNumber).
constexpr std::array<std::array<int, 3>, 8> kVectorStates = {
    {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}}};

std::string VectorCode(int n) {
  const auto& s = kVectorStates[static_cast<std::size_t>(n)];
  return {static_cast<char>('0' + s[0]), static_cast<char>('0' + s[1]),
          static_cast<char>('0' + s[2])};
}

}  // namespace

Canvas LegDiagramCanvas() { return {240, 20, 460, 210}; }

Drawing LegStateDiagram(DoubleSvpwm& modulator) {
  Drawing d;
  const Pen thin{kBlack, 1.0};
  const Pen red_tick{kRed, 1.0};
  for (int i = 0; i < kLegCount; ++i) {
    const double y = kLegY0 + kLegSpacing * i;
    d.labels.push_back({250, y - 10, "K" + std::to_string(i)});
    d.segments.push_back({kLegX0, y, kLegX0 + kLegWidth, y, thin});
    for (int x : {kLegX0, kLegX0 + kLegWidth / 2, kLegX0 + kLegWidth}) {
      d.segments.push_back({double(x), y, double(x), y - 15, thin});
    }
    for (int x : {kLegX0 + kLegWidth / 4, kLegX0 + 3 * kLegWidth / 4}) {
      d.segments.push_back({double(x), y, double(x), y - 15, red_tick});
    }
  }
  d.labels.push_back({464, 205, "Ts"});
  d.labels.push_back({664, 205, "2Ts"});

  const Pen wave{kBlue, kWaveformPenWidth};
  const std::vector<LegStateSample> samples = SampleLegStates(modulator);
  for (int i = 0; i < kLegCount; ++i) {
    bool open = false;
    double run_y = 0, run_begin = 0, run_end = 0;
    for (const LegStateSample& s : samples) {
      const double x = WaveformX(s.t, modulator.TMLI);
      const double y = kLegY0 + kLegSpacing * i - kStateHeight * s.state[i];
      if (open && y == run_y && x >= run_begin && x <= run_end) {
        run_end = std::max(run_end, x + kDashLength);
        continue;
      }
      if (open) d.segments.push_back({run_begin, run_y, run_end, run_y, wave});
      open = true;
      run_y = y;
      run_begin = x;
      run_end = x + kDashLength;
    }
    if (open) d.segments.push_back({run_begin, run_y, run_end, run_y, wave});
  }
  return d;
}

int SetVectorNumber(int a, int b, int c) {
  // Index a + 2 b + 4 c of the states to the vector's number around the hexagon.
  constexpr std::array<int, 8> kNumber = {0, 1, 3, 2, 5, 6, 4, 7};
  return kNumber[static_cast<std::size_t>((a != 0) + 2 * (b != 0) + 4 * (c != 0))];
}

std::vector<AppliedInterval> AppliedSequence(DoubleSvpwm& modulator) {
  std::vector<AppliedInterval> sequence;
  const double TMLI = modulator.TMLI;
  const double period = 2 * TMLI;
  if (!std::isfinite(period) || !(TMLI > 0)) return sequence;
  // Every instant at which a leg may switch: the interval ends SwitchStatesAt tests.
  std::vector<double> cuts = {0.0, period};
  for (int k = 0; k < kLegCount; ++k) {
    if (modulator.type == ModulationType::kSixPhaseCarrier) {
      cuts.insert(cuts.end(), {modulator.P[k], period - modulator.P[k]});
    } else {
      const double a = modulator.A[k], b = modulator.B[k];
      cuts.insert(cuts.end(), {a, TMLI - b, TMLI + b, period - a});
    }
  }
  std::erase_if(cuts, [&](double c) { return !(c >= 0.0 && c <= period); });
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const double mid = cuts[i] + (cuts[i + 1] - cuts[i]) / 2;
    if (!(mid > cuts[i] && mid < cuts[i + 1])) continue;  // below the resolution of t
    const auto& s = modulator.SwitchStatesAt(mid);
    if (!sequence.empty() && sequence.back().state == s) {
      sequence.back().t_end = cuts[i + 1];
      continue;
    }
    AppliedInterval interval;
    interval.t_begin = cuts[i];
    interval.t_end = cuts[i + 1];
    interval.state = s;
    interval.vector_set1 = SetVectorNumber(s[0], s[1], s[2]);
    interval.vector_set2 = SetVectorNumber(s[3], s[4], s[5]);
    sequence.push_back(interval);
  }
  return sequence;
}

PlaneVector SetVoltageVector(int set, int a, int b, int c, double E2) {
  const std::array<int, 3> s = {a != 0, b != 0, c != 0};
  PlaneVector v;
  for (int j = 0; j < 3; ++j) {
    const double phase = 2 * E2 / 3 * (2 * s[j] - s[(j + 1) % 3] - s[(j + 2) % 3]);
    const double axis = (set * 30 + j * 120) * kDegree;
    v.alpha += 2.0 / 3 * phase * std::cos(axis);
    v.beta += 2.0 / 3 * phase * std::sin(axis);
  }
  return v;
}

PlaneVector ReferenceVector(const DoubleSvpwm& modulator) {
  PlaneVector v;
  for (int j = 0; j < 3; ++j) {
    const double axis = j * 120 * kDegree;
    v.alpha += 2.0 / 3 * modulator.phase_ref[j] * std::cos(axis);
    v.beta += 2.0 / 3 * modulator.phase_ref[j] * std::sin(axis);
  }
  return v;
}

PlaneVector MeanSetVector(const std::vector<AppliedInterval>& sequence, int set, double E2) {
  PlaneVector sum;
  double duration = 0;
  for (const AppliedInterval& interval : sequence) {
    const double dt = interval.t_end - interval.t_begin;
    const int first = 3 * set;
    const PlaneVector v = SetVoltageVector(set, interval.state[first], interval.state[first + 1],
                                           interval.state[first + 2], E2);
    sum.alpha += v.alpha * dt;
    sum.beta += v.beta * dt;
    duration += dt;
  }
  if (duration > 0) {
    sum.alpha /= duration;
    sum.beta /= duration;
  }
  return sum;
}

Canvas VectorDiagramCanvas() { return {0, 0, 340, 400}; }

std::array<double, 2> VectorDiagramPoint(PlaneVector v, double E2) {
  const double pixels_per_volt = kHexRadius / (4 * E2 / 3);
  return {kHexCentreX + v.alpha * pixels_per_volt, kHexCentreY - v.beta * pixels_per_volt};
}

Drawing VectorDiagram(DoubleSvpwm& modulator) {
  Drawing d;
  const double E2 = modulator.E2;
  const double sector_radius = kHexRadius + 25;
  const std::array<Colour, 2> set_colour = {kSet1Colour, kSet2Colour};

  // The current sector, filled: sector k spans (k - 1) x 30 degrees +- 15 degrees.
  if (modulator.Sector >= 1 && modulator.Sector <= 12) {
    const double centre = (modulator.Sector - 1) * 30 * kDegree;
    Polygon wedge;
    wedge.points.push_back({kHexCentreX, kHexCentreY});
    for (int step = -3; step <= 3; ++step) {
      wedge.points.push_back(Polar(sector_radius, centre + step * 5 * kDegree));
    }
    wedge.fill = kSectorFill;
    d.polygons.push_back(wedge);
  }
  // Sector borders and numbers.
  for (int k = 0; k < 12; ++k) {
    const double border = (15 + 30 * k) * kDegree;
    AddSegment(d, {kHexCentreX, kHexCentreY}, Polar(sector_radius, border), {kGrey, 1.0, true});
    const auto at = Polar(0.72 * kHexRadius, k * 30 * kDegree);
    d.labels.push_back({at[0], at[1], std::to_string(k + 1),
                        k + 1 == modulator.Sector ? kBlack : kGrey, true, true});
  }

  // The hexagons of the two sets: active vectors 1..6 and their leg states.
  for (int set = 0; set < 2; ++set) {
    for (int n = 1; n <= 6; ++n) {
      const auto& s = kVectorStates[static_cast<std::size_t>(n)];
      const auto& t = kVectorStates[static_cast<std::size_t>(n % 6 + 1)];
      const auto here = VectorDiagramPoint(SetVoltageVector(set, s[0], s[1], s[2], E2), E2);
      const auto next = VectorDiagramPoint(SetVoltageVector(set, t[0], t[1], t[2], E2), E2);
      AddSegment(d, here, next, {set_colour[set], 1.5});
      const auto label = Polar(kHexRadius + 15, ((n - 1) * 60 + set * 30) * kDegree);
      d.labels.push_back({label[0], label[1], VectorCode(n), set_colour[set], true, true});
    }
  }

  // The path of each set through its vectors in the order the period applies them, and
  // the time strips of that sequence.
  const std::vector<AppliedInterval> sequence = AppliedSequence(modulator);
  const double period = 2 * modulator.TMLI;
  for (int set = 0; set < 2; ++set) {
    const Pen path{set_colour[set], 2.5};
    int previous = -1;
    for (const AppliedInterval& interval : sequence) {
      const int n = set == 0 ? interval.vector_set1 : interval.vector_set2;
      if (previous >= 0 && n != previous) {
        const auto& a = kVectorStates[static_cast<std::size_t>(previous)];
        const auto& b = kVectorStates[static_cast<std::size_t>(n)];
        AddSegment(d, VectorDiagramPoint(SetVoltageVector(set, a[0], a[1], a[2], E2), E2),
                   VectorDiagramPoint(SetVoltageVector(set, b[0], b[1], b[2], E2), E2), path);
      }
      previous = n;

      const double top = kStripTop + set * kStripRowHeight;
      const double x1 = kStripX + interval.t_begin / period * kStripWidth;
      const double x2 = kStripX + interval.t_end / period * kStripWidth;
      Polygon cell;
      cell.points = {
          {x1, top}, {x2, top}, {x2, top + kStripRowHeight}, {x1, top + kStripRowHeight}};
      cell.fill = n == 0 || n == 7 ? Colour{235, 235, 235} : Lighter(set_colour[set]);
      cell.pen = {set_colour[set], 1.0};
      d.polygons.push_back(cell);
      if (x2 - x1 >= 10) {
        d.labels.push_back(
            {(x1 + x2) / 2, top + kStripRowHeight / 2, std::to_string(n), kBlack, true, true});
      }
    }
    d.labels.push_back({4, kStripTop + set * kStripRowHeight + 2, set == 0 ? "K0-K2" : "K3-K5",
                        set_colour[set], false, true});
  }
  const double axis_y = kStripTop + 2 * kStripRowHeight + 10;
  d.labels.push_back({kStripX, axis_y, "0", kBlack, true, true});
  d.labels.push_back({kStripX + kStripWidth / 2, axis_y, "Ts", kBlack, true, true});
  d.labels.push_back({kStripX + kStripWidth, axis_y, "2Ts", kBlack, true, true});

  // The reference and the mean vector each set applies over the period.
  AddArrow(d, VectorDiagramPoint(ReferenceVector(modulator), E2), {kRed, 2.0});
  for (int set = 0; set < 2; ++set) {
    AddArrow(d, VectorDiagramPoint(MeanSetVector(sequence, set, E2), E2),
             {set_colour[set], 1.5, true});
  }
  d.labels.push_back({4, 4, "Vref", kRed, false, true});
  d.labels.push_back({4, 18, "K0-K2", kSet1Colour, false, true});
  d.labels.push_back({4, 32, "K3-K5", kSet2Colour, false, true});
  return d;
}

std::string ThetaLabel(double Thetas) {
  return "Th=" + FormatReal(Thetas * 180 / kPi, 15) + " (\xc2\xb0)";
}

std::string SectorLabel(int sector) { return "Sector=" + std::to_string(sector); }

std::string VrefLabel(double Vdsref) {
  if (!(std::abs(Vdsref) < 1e7)) return "Vdsref=" + FormatReal(Vdsref, 7);
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, Vdsref, std::chars_format::fixed, 2);
  return "Vdsref=" + std::string(buf, end.ptr);
}

}  // namespace mas::ui
