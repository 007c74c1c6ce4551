#include "dsvpwm/double_svpwm.h"

#include <cmath>

#include "dsvpwm/truncate.h"

namespace mas {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kSqrt3 = 1.7320508075688772;
constexpr double kC1 = 0.57735026918961817;  // 1/sqrt(3)
constexpr double kC2 = 0.28867513459480909;  // 1/(2 sqrt(3))

// Sector 1 spans [23 pi/12, 2 pi) and [0, pi/12); sector i + 1 (i = 1..11) starts at
// i pi/6 - pi/12 and ends where the next one starts, so that every reduced angle falls in
// exactly one sector whatever the rounding of the boundaries.
constexpr double kPiOver12 = 0.2617993877991494;
constexpr double kSector1Start = 6.021385919380437;  // 23 pi/12
constexpr std::array<double, 13> kSectorStart = [] {
  std::array<double, 13> start{};
  for (int i = 1; i <= 11; ++i) start[i] = i * kPi / 6 - kPi / 12;
  start[12] = kSector1Start;
  return start;
}();

// Leg codes and the letters of A(K0..K5) and B(K0..K5) for sectors 1..6 of types 1..5;
// '0' is the instant 0. Sectors 7..12 take the row of sector s - 6 with every code
// complemented: their selected times are the negated ones, so the same letters describe
// the complementary pattern.
struct SectorRow {
  const char* codes;
  const char* a;
  const char* b;
};

constexpr SectorRow kSectorTable[5][6] = {
    {// Type 1: continuous, zero time in eighths.
     {"111111", "yzwyzy", "yvzyzz"},
     {"111111", "yzzyzw", "yyzyvz"},
     {"222222", "zwyzyy", "vzyzzy"},
     {"222222", "zzyzwy", "yzyvzy"},
     {"111111", "wyzyyz", "zyvzyz"},
     {"111111", "zyzwyz", "zyyzyv"}},
    {// Type 2: continuous, zero time in sixths and twelfths.
     {"111222", "yzwzyz", "yvzzyy"},
     {"111111", "yzzyzw", "yyzyvz"},
     {"222111", "zwyyzz", "vzyyyz"},
     {"222222", "zzyzwy", "yzyvzy"},
     {"111222", "wyzzzy", "zyvyzy"},
     {"111111", "zyzwyz", "zyyzyv"}},
    {// Type 3: discontinuous A.
     {"311202", "0zwz0z", "0vzz0y"},
     {"311311", "0zz0zw", "0yz0vz"},
     {"220311", "zw00zz", "vz00yz"},
     {"220220", "zz0zw0", "yz0vz0"},
     {"131220", "w0zzz0", "z0vyz0"},
     {"131131", "z0zw0z", "z0yz0v"}},
    {// Type 4: discontinuous B1.
     {"311202", "0zwz0z", "0y000v"},
     {"311311", "0zz0zw", "0v00y0"},
     {"220311", "zw00zz", "y000v0"},
     {"220220", "zz0zw0", "v00y00"},
     {"131220", "w0zzz0", "00yv00"},
     {"131131", "z0zw0z", "00v00y"}},
    {// Type 5: discontinuous B2.
     {"311311", "00y00w", "0vz0zz"},
     {"220311", "0w000y", "zz00vz"},
     {"220220", "0y00w0", "vz0zz0"},
     {"131220", "w000y0", "z0zvz0"},
     {"131131", "y00w00", "z0vz0z"},
     {"022131", "00wy00", "0zzz0v"}},
};

// Quantises an instant to whole steps of 1/scale, truncating toward zero.
std::int64_t Quantise(double instant, double scale) {
  return TruncToInt64Saturating(instant * scale);
}

}  // namespace

void DoubleSvpwm::SetTiming(double e2, double tmli, double step) {
  E2 = e2;
  TMLI = tmli;
  dt = step;
  scale = kQuantisationSteps / tmli;
}

void DoubleSvpwm::FindSector() {
  // fmod is exact, so the reduced angle keeps the boundaries where they are.
  double b = std::fmod(Thetas, kTwoPi);
  if (b < 0.0) b += kTwoPi;
  // Sector 1 straddles the origin; an angle that is not finite (reduced to NaN) is given
  // sector 1 as well.
  if (!(b >= kPiOver12 && b < kSector1Start)) {
    Sector = 1;
    return;
  }
  int i = 1;
  while (i < 11 && b >= kSectorStart[i + 1]) ++i;
  Sector = i + 1;
}

void DoubleSvpwm::ComputeAlphaBeta() {
  const double c = std::cos(Thetas);
  const double s = std::sin(Thetas);
  Valphas = c * Vdsref - s * Vqsref;
  Vbetas = s * Vdsref + c * Vqsref;
}

void DoubleSvpwm::ComputePhaseReferences() {
  // First set at 0, 120, 240 degrees; second set at 30, 150, 270 degrees.
  phase_ref[0] = kC1 * Valphas;
  phase_ref[1] = kC2 * (kSqrt3 * Vbetas - Valphas);
  phase_ref[2] = -kC2 * (Valphas + kSqrt3 * Vbetas);
  phase_ref[3] = kC2 * (Vbetas + kSqrt3 * Valphas);
  phase_ref[4] = kC2 * (Vbetas - kSqrt3 * Valphas);
  phase_ref[5] = -kC1 * Vbetas;
}

void DoubleSvpwm::ComputeProjections() {
  if (type == ModulationType::kSixPhaseCarrier) {
    // Carrier comparison: the leg is on for Pk at each end of the period, so that its
    // average over the period is the phase reference.
    for (int k = 0; k < kLegCount; ++k) P[k] = (phase_ref[k] / E2 + 1) * TMLI / 2;
    return;
  }
  const double factor = TMLI / (2 * E2);
  for (int k = 0; k < kLegCount; ++k) P[k] = factor * (Valphas * kDualX[k] + Vbetas * kDualY[k]);
}

void DoubleSvpwm::ComputeSwitchingTimes() {
  if (type == ModulationType::kSixPhaseCarrier) {
    leg_code.fill(LegCode::kNormal);
    return;
  }
  // A sector left out of range by a caller is treated as sector 1.
  const int s = (Sector >= 1 && Sector <= 12) ? Sector : 1;
  // Projections extended antiperiodically, P(k + 6) = -P(k).
  auto projection = [this](int k) {
    k %= 12;
    return k < 6 ? P[k] : -P[k - 6];
  };
  T1 = projection(s - 1);
  T2 = projection(s);
  T3 = projection(s + 3);
  T4 = projection(s + 4);
  T0 = 2 * TMLI - (T1 + T2 + T3 + T4);

  int type_index = static_cast<int>(type);
  if (type_index < 1 || type_index > 5) type_index = 1;  // unknown types behave as type 1
  switch (type_index) {
    case 1:
      z = T0 / 8;
      y = TMLI / 2 - T0 / 8;
      w = T1 / 2 + T0 / 8;
      v = T4 / 2 + T0 / 8;
      break;
    case 2:
      z = T0 / 6;
      y = TMLI / 2 - T0 / 12;
      w = T1 / 2 + T0 / 6;
      v = T4 / 2 + T0 / 6;
      break;
    case 3:
      z = T0 / 4;
      y = TMLI / 2;
      w = T1 / 2 + T0 / 4;
      v = T4 / 2 + T0 / 4;
      break;
    case 4:
      z = T0 / 2;
      y = T4 / 2;
      w = (T1 + T0) / 2;
      v = (T3 + T4) / 2;
      break;
    default:
      z = T0 / 2;
      y = T1 / 2;
      w = (T1 + T2) / 2;
      v = (T4 + T0) / 2;
      break;
  }

  const SectorRow& row = kSectorTable[type_index - 1][(s - 1) % 6];
  const bool complement = s > 6;
  auto letter = [this](char c) {
    switch (c) {
      case 'z':
        return z;
      case 'y':
        return y;
      case 'w':
        return w;
      case 'v':
        return v;
      default:
        return 0.0;
    }
  };
  for (int k = 0; k < kLegCount; ++k) {
    const int code = row.codes[k] - '0';
    leg_code[k] = static_cast<LegCode>(complement ? 3 - code : code);
    A_steps[k] = Quantise(letter(row.a[k]), scale);
    B_steps[k] = Quantise(letter(row.b[k]), scale);
    A[k] = static_cast<double>(A_steps[k]) / scale;
    B[k] = static_cast<double>(B_steps[k]) / scale;
  }
}

void DoubleSvpwm::Recompute() {
  FindSector();
  ComputeAlphaBeta();
  ComputePhaseReferences();
  ComputeProjections();
  ComputeSwitchingTimes();
}

const std::array<int, kLegCount>& DoubleSvpwm::SwitchStatesAt(double t, int legs) {
  const double period = 2 * TMLI;
  const double d = t - static_cast<double>(TruncToInt64Saturating(t / period)) * period;
  const bool carrier = type == ModulationType::kSixPhaseCarrier;
  const int count = legs < kLegCount ? legs : kLegCount;
  for (int k = 0; k < count; ++k) {
    const int pol = leg_code[k] == LegCode::kInverted ? 1 : 0;
    int s = state[k];
    if (carrier) {
      const double pk = P[k];
      if (0 <= d && d < pk) s = 1 - pol;
      if (pk <= d && d < period - pk) s = pol;
      if (period - pk <= d && d < period) s = 1 - pol;
    } else {
      const double a = A[k];
      const double b = B[k];
      if (0 <= d && d < a) s = 1 - pol;
      if (a <= d && d < TMLI - b) s = pol;
      if (TMLI - b <= d && d < TMLI + b) s = 1 - pol;
      if (TMLI + b <= d && d < period - a) s = pol;
      if (period - a <= d && d < period) s = 1 - pol;
    }
    if (leg_code[k] == LegCode::kHeldLow) s = 0;
    if (leg_code[k] == LegCode::kHeldHigh) s = 1;
    state[k] = s;
  }
  return state;
}

}  // namespace mas
