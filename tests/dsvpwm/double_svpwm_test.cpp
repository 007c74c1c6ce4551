#include "dsvpwm/double_svpwm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace mas {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(DoubleSvpwm, FindsTheThirtyDegreeSectorCentredOnEachMultiple) {
  const std::pair<double, int> cases[] = {{0.0, 1},
                                          {0.2617993877991494, 2},
                                          {std::nextafter(0.2617993877991494, 0.0), 1},
                                          {-0.1, 1},
                                          {25.0, 1},
                                          {6.021385919380437, 1},
                                          {kPi, 7},
                                          {-kPi / 2, 10},
                                          {std::nextafter(6.021385919380437, 0.0), 12},
                                          {kNaN, 1},
                                          {kInf, 1},
                                          {1e6 * 2 * kPi + kPi / 6, 2}};
  DoubleSvpwm m;
  for (const auto& [thetas, sector] : cases) {
    m.Thetas = thetas;
    m.FindSector();
    EXPECT_EQ(m.Sector, sector) << "Thetas = " << thetas;
  }
  for (int k = 1; k <= 12; ++k) {
    for (double deg : {-14.9, 0.0, 14.9, 14.9 - 720}) {
      m.Thetas = ((k - 1) * 30.0 + deg) * kPi / 180;
      m.FindSector();
      EXPECT_EQ(m.Sector, k) << deg;
    }
  }
}

TEST(DoubleSvpwm, WorkedExampleOfSectorTwoWithTheFirstContinuousType) {
  DoubleSvpwm m;
  m.SetTiming(311.0, 1e-4, 1e-6);
  m.Sector = 2;
  m.P = {3e-6, 5e-6, 7e-6, 11e-6, 13e-6, 17e-6};
  m.ComputeSwitchingTimes();
  const double times[] = {m.T1, m.T2, m.T3, m.T4, m.T0, m.z, m.y, m.w, m.v};
  const double expected[] = {5, 7, 17, -3, 174, 21.75, 28.25, 24.25, 20.25};
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(times[i], expected[i] * 1e-6, 1e-15) << i;
  // Steps of 5e-8 s: z = 435, y = 565, w = 485, v = 405; A = y z z y z w, B = y y z y v z.
  EXPECT_EQ(m.A_steps, (std::array<std::int64_t, 6>{565, 435, 435, 565, 435, 485}));
  EXPECT_EQ(m.B_steps, (std::array<std::int64_t, 6>{565, 565, 435, 565, 405, 435}));
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(m.leg_code[k], LegCode::kNormal);
    EXPECT_DOUBLE_EQ(m.A[k], m.A_steps[k] * 5e-8);
  }
  // Leg K0 (A = B = y): on at both ends and around the middle, in any period.
  const std::pair<double, int> probes[] = {{0.0, 1},      {28.2e-6, 1},  {28.3e-6, 0},
                                           {71.8e-6, 1},  {128.3e-6, 0}, {171.8e-6, 1},
                                           {200.1e-6, 1}, {228.3e-6, 0}};
  for (const auto& [t, state] : probes) EXPECT_EQ(m.SwitchStatesAt(t)[0], state) << t;

  // Type B1 takes y = T4/2 = -1.505 us (P0 = 3.01 us): -30.1 steps truncate toward 0.
  m.type = ModulationType::kDiscontinuousB1;
  m.P[0] = 3.01e-6;
  m.ComputeSwitchingTimes();
  EXPECT_EQ(m.B_steps[4], -30);
}

TEST(DoubleSvpwm, HeldLegsIgnoreTheirInstants) {
  DoubleSvpwm m;
  m.type = ModulationType::kDiscontinuousA;
  m.Vdsref = 200.0;
  m.Thetas = 0.1;  // sector 1: codes 3 1 1 2 0 2
  m.Recompute();
  for (double instant : {-1.0, 5e-5, 1e300}) {
    m.A[0] = m.B[0] = m.A[4] = m.B[4] = instant;
    for (double t = 0.0; t < 4 * m.TMLI; t += 1.3e-6) {
      EXPECT_EQ(m.SwitchStatesAt(t)[0], 1);
      EXPECT_EQ(m.state[4], 0);
    }
  }
}

// Average leg voltages over one period, from the states in the middle of each quantisation
// step (every edge lies on that grid).
std::array<double, 6> AverageLegVoltages(DoubleSvpwm& m) {
  constexpr int kSamples = 4000;
  std::array<int, 6> on{};
  for (int j = 0; j < kSamples; ++j) {
    const auto& s = m.SwitchStatesAt((j + 0.5) * 2 * m.TMLI / kSamples);
    for (int k = 0; k < 6; ++k) on[k] += s[k];
  }
  std::array<double, 6> average{};
  for (int k = 0; k < 6; ++k) average[k] = m.E2 * (2.0 * on[k] / kSamples - 1);
  return average;
}

// Volt-second balance over one period, each set up to its own common-mode voltage, for
// every type and sector and references across the reachable region. The carrier type and
// types B1, B2 apply the reference on both sets. Types 1 to 3 place only three independent
// times (T0, T1, T4): the set with a phase axis on the sector's centre line (K0..K2 in odd
// sectors, K3..K5 in even ones) applies the reference, the other its projection onto that
// line. Any wrong code or letter in the sector table breaks one of these.
TEST(DoubleSvpwm, EachSetAppliesItsShareOfTheReferenceOverAPeriod) {
  DoubleSvpwm m;
  m.SetTiming(311.0, 1e-4, 1e-6);
  DoubleSvpwm projection = m;
  for (int type = 0; type <= 5; ++type) {
    m.type = static_cast<ModulationType>(type);
    for (int sector = 1; sector <= 12; ++sector) {
      const double centre = (sector - 1) * kPi / 6;
      for (double offset : {-14.0, -5.0, 0.0, 9.0, 14.0}) {
        for (double magnitude : {0.05, 0.5, 1.0, 1.5}) {
          m.Thetas = centre + offset * kPi / 180;
          m.Vdsref = magnitude * m.E2;
          m.Recompute();
          ASSERT_EQ(m.Sector, sector);
          ASSERT_TRUE(type == 0 || m.T0 >= 0.0) << "outside the reachable region";
          projection.Thetas = centre;
          projection.Vdsref = m.Vdsref * std::cos(offset * kPi / 180);
          projection.ComputeAlphaBeta();
          projection.ComputePhaseReferences();
          const std::array<double, 6> average = AverageLegVoltages(m);
          for (int set = 0; set < 2; ++set) {
            const bool full = type == 0 || type >= 4 || set == (sector - 1) % 2;
            const auto& ref = full ? m.phase_ref : projection.phase_ref;
            const int f = 3 * set;
            const double common = (average[f] + average[f + 1] + average[f + 2]) / 3;
            const double ref_common = (ref[f] + ref[f + 1] + ref[f + 2]) / 3;
            for (int k = f; k < f + 3; ++k) {
              EXPECT_NEAR(average[k] - common, ref[k] - ref_common, 0.002 * m.E2)
                  << "type " << type << " sector " << sector << " offset " << offset
                  << " magnitude " << magnitude << " leg K" << k;
            }
          }
        }
      }
    }
  }
}

// Degenerate inputs stay defined (the sanitizer build checks the conversions). With
// TMLI = 0 every instant is 0 and no interval matches, so the switching legs keep their
// states.
TEST(DoubleSvpwm, DegenerateInputsGiveDefinedStates) {
  const double cases[][5] = {// E2, TMLI, Thetas, Vdsref, t
                             {0.0, 1e-4, 0.3, 300.0, 3e-5},   {0.0, 1e-4, 0.3, 0.0, 3e-5},
                             {311.0, 0.0, 0.3, 300.0, 3e-5},  {311.0, 1e-4, kNaN, 300.0, 3e-5},
                             {311.0, 1e-4, 0.3, kInf, 3e-5},  {311.0, 1e-4, 0.3, 300.0, kNaN},
                             {311.0, 1e-4, 0.3, 300.0, kInf}, {311.0, 1e-4, 0.3, 300.0, -3e-5}};
  for (const auto& [e2, tmli, thetas, vdsref, t] : cases) {
    for (int type = 0; type <= 5; ++type) {
      DoubleSvpwm m;
      m.SetTiming(e2, tmli, 1e-6);
      m.type = static_cast<ModulationType>(type);
      m.Thetas = thetas;
      m.Vdsref = vdsref;
      m.Recompute();
      const std::array<int, 6> before = {1, 0, 1, 0, 1, 0};
      m.state = before;
      const auto& s = m.SwitchStatesAt(t);
      for (int k = 0; k < 6; ++k) {
        EXPECT_TRUE(s[k] == 0 || s[k] == 1) << type;
        const bool switching =
            m.leg_code[k] == LegCode::kNormal || m.leg_code[k] == LegCode::kInverted;
        EXPECT_TRUE(tmli != 0.0 || !switching || s[k] == before[k]) << type << k;
      }
    }
  }
}

}  // namespace
}  // namespace mas
