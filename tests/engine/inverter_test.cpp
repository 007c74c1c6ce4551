#include "engine/inverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/numeric.h"

namespace mas {
namespace {

constexpr double kT = 1e-4;
constexpr double kE2 = 300.0;

SimulationSettings InverterSettings(int mli, bool dsvpwm) {
  SimulationSettings s;
  s.MLI = mli;
  s.dsvPWM = dsvpwm;
  s.TMLI = kT;
  s.E2 = kE2;
  s.dt = 1e-5;
  s.fs = 50.0;
  return s;
}

// Edge cases of the sine-triangle PWM, probed on both sides of every edge, in the first
// period, in a later one and before t = 0.
TEST(Inverter, SineTrianglePulseIsCentredAndBounded) {
  struct Case {
    double ref;
    double high_from, high_to;  // +E2 for high_from <= tau <= high_to
  };
  const Case cases[] = {{0.0, kT / 4, 3 * kT / 4},
                        {kE2, 1e-6, kT - 1e-6},  // 1 us notches remain at the ends
                        {5 * kE2, 1e-6, kT - 1e-6},
                        {-2 * kE2, kT / 2 - 1e-6, kT / 2 + 1e-6},  // 2 us pulse remains
                        {kE2 / 2, kT / 8, 7 * kT / 8}};
  constexpr double kEps = 1e-10;
  for (const Case& c : cases) {
    for (double tau : {0.0, c.high_from - kEps, c.high_from + kEps, kT / 2, c.high_to - kEps,
                       c.high_to + kEps, kT - kEps}) {
      const bool high = tau >= c.high_from && tau <= c.high_to;
      for (double t : {tau, 7 * kT + tau, -3 * kT + tau}) {
        EXPECT_EQ(SineTrianglePoleVoltages(t, kT, kE2, c.ref, 0, 0).Vas, high ? kE2 : -kE2)
            << "ref " << c.ref << " t = " << t;
      }
    }
  }
  EXPECT_EQ(SineTrianglePoleVoltages(kT / 4, kT, kE2, 0, 0, 0).Vas, kE2);  // edges are high
}

TEST(Inverter, SineTriangleAverageIsTheReferenceInsideTheBus) {
  constexpr int kSamples = 200000;
  for (double ref : {-0.95 * kE2, -0.6 * kE2, 0.0, 0.25 * kE2, 0.95 * kE2}) {
    double average = 0.0;
    for (int j = 0; j < kSamples; ++j) {
      const double t = 5 * kT + (j + 0.5) * kT / kSamples;
      average += SineTrianglePoleVoltages(t, kT, kE2, ref, 0, 0).Vas / kSamples;
    }
    EXPECT_NEAR(average, ref, 1e-3 * kE2);
  }
}

TEST(Inverter, MliWinsOverDsvpwmAndTheIdealSourceIsBitExact) {
  DoubleSvpwm modulator;
  Inverter inverter;
  inverter.ResetForRun(InverterSettings(1, true), modulator);
  EXPECT_EQ(inverter.mode(), InverterMode::kSineTriangle);
  for (double t : {0.0, 1e-5, 3e-5, 5.5e-5, 9.9e-5}) {
    EXPECT_EQ(inverter.ModulateVoltages(t, 100.0, 0, 0).Vas,
              SineTrianglePoleVoltages(t, kT, kE2, 100.0, 0, 0).Vas);
  }

  inverter.ResetForRun(InverterSettings(0, false), modulator);
  EXPECT_EQ(inverter.mode(), InverterMode::kIdeal);
  const double refs[][3] = {{230.5, -115.25, -115.25},
                            {-0.0, 1e-310, -1e300},
                            {std::nan("0x5a5a"), std::numeric_limits<double>::infinity(), 0}};
  for (const auto& r : refs) {
    const PoleVoltages v = inverter.ModulateVoltages(1.234e-3, r[0], r[1], r[2]);
    const double out[3] = {v.Vas, v.Vbs, v.Vcs};
    EXPECT_EQ(std::memcmp(out, r, sizeof out), 0);
  }
}

TEST(Inverter, OpenLoopDoubleSvpwmStartsAtFullVoltageAndStepsEachPeriod) {
  DoubleSvpwm modulator;
  modulator.Thetas = 2.0;  // left there by the study
  Inverter inverter;
  const SimulationSettings s = InverterSettings(0, true);
  inverter.ResetForRun(s, modulator);
  EXPECT_TRUE(modulator.E2 == kE2 && modulator.TMLI == kT && modulator.dt == s.dt);
  EXPECT_DOUBLE_EQ(modulator.scale, 2000 / kT);
  EXPECT_DOUBLE_EQ(modulator.Vdsref, std::sqrt(3.0) * kE2);
  EXPECT_TRUE(modulator.Vqsref == 0.0 && modulator.Thetas == 0.0 && modulator.Sector == 1);

  // Steps of 1e-5 s from t0 = 0: the first new period comes at the first t >= 2e-4.
  double thetas = 0.0;
  long long mli_count = 0;
  double t = 0.0;
  double first_period_at = -1.0;
  for (int step = 0; step < 100; ++step, t += s.dt) {
    if (inverter.OpenLoopPeriodStep(t, mli_count, thetas)) {
      if (first_period_at < 0) first_period_at = t;
      ++mli_count;
      EXPECT_EQ(modulator.Thetas, thetas);
    }
    const PoleVoltages v = inverter.ModulateVoltages(t, 0.0, 0.0, 0.0);
    EXPECT_EQ(v.Vas, modulator.state[0] == 1 ? kE2 : -kE2);
    EXPECT_EQ(v.Vcs, modulator.state[2] == 1 ? kE2 : -kE2);
  }
  EXPECT_TRUE(first_period_at >= 2e-4 && first_period_at - s.dt < 2e-4) << first_period_at;
  EXPECT_EQ(mli_count, 4);  // t up to 9.9e-4 s
  EXPECT_NEAR(thetas, 4 * 2 * kPi * 50.0 * 2 * kT, 1e-12);

  // When the legs do not come from the modulator (ideal, or MLI winning over dsvPWM) the
  // angle belongs to the supply: the period step recomputes the modulator but leaves it.
  for (int mli : {0, 1}) {
    inverter.ResetForRun(InverterSettings(mli, mli == 1), modulator);
    double angle = 0.75;
    EXPECT_TRUE(inverter.OpenLoopPeriodStep(2e-4, 0, angle));
    EXPECT_FALSE(inverter.OpenLoopPeriodStep(2e-4, 1, angle));
    EXPECT_TRUE(angle == 0.75 && modulator.Thetas == 0.75);
  }
}

// Under a control mode the modulator follows the phase references the control hands to
// the inverter, sampled at the first step of each switching period: averaged over the
// period the legs apply them up to a common-mode voltage. (Types 1 to 3 do so on K0..K2
// only in odd sectors; the modulator's tests cover them.)
TEST(Inverter, DoubleSvpwmUnderAControlModeAppliesTheControlReferences) {
  const double a1 = 1.1, a2 = -2.5, third = 2 * kPi / 3;
  const double cases[][3] = {
      {150 * std::cos(a1), 150 * std::cos(a1 - third), 150 * std::cos(a1 + third)},
      {200 * std::cos(a2) + 40, 200 * std::cos(a2 - third) + 40, 200 * std::cos(a2 + third) + 40},
      {120.0, -120.0, -120.0},  // static test
      {0.0, 0.0, 0.0}};
  constexpr int kSamples = 4000;  // the modulator's quantisation grid
  for (const auto& ref : cases) {
    for (int type : {0, 4, 5}) {
      SimulationSettings s = InverterSettings(0, true);
      s.VectCtrl = 1;
      DoubleSvpwm modulator;
      modulator.type = static_cast<ModulationType>(type);
      Inverter inverter;
      inverter.ResetForRun(s, modulator);
      double sum[3] = {};
      for (int j = 0; j < kSamples; ++j) {
        const double drift = j == 0 ? 0.0 : 50.0;  // later references of the period are ignored
        const PoleVoltages v = inverter.ModulateVoltages((j + 0.5) * 2 * kT / kSamples,
                                                         ref[0] + drift, ref[1] - drift, ref[2]);
        sum[0] += v.Vas / kSamples;
        sum[1] += v.Vbs / kSamples;
        sum[2] += v.Vcs / kSamples;
      }
      const double common = (sum[0] + sum[1] + sum[2]) / 3;
      const double ref_common = (ref[0] + ref[1] + ref[2]) / 3;
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(sum[k] - common, ref[k] - ref_common, 0.005 * kE2) << type << " " << k;
      }
      inverter.ModulateVoltages(2 * kT + 1e-8, 0.0, 0.0, 0.0);  // the next period
      EXPECT_EQ(modulator.Vdsref, 0.0);
    }
  }
}

// Degenerate settings and inputs stay defined (the sanitizer build checks the
// conversions); every PWM output is a bus level.
TEST(Inverter, DegenerateInputsGiveBusLevels) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double cases[][4] = {// E2, TMLI, t, reference
                             {0.0, kT, 3e-5, 100.0}, {0.0, kT, 3e-5, 0.0}, {kE2, 0.0, 3e-5, 1.0},
                             {kE2, 0.0, 0.0, 1.0},   {kE2, kT, nan, 1.0},  {kE2, kT, inf, 1.0},
                             {kE2, kT, 1e300, 1.0},  {kE2, kT, 3e-5, nan}, {kE2, kT, 3e-5, inf},
                             {kE2, -kT, 3e-5, 1.0},  {kE2, nan, 3e-5, 1.0}};
  for (const auto& [e2, tmli, t, ref] : cases) {
    for (int mode = 0; mode < 2; ++mode) {
      for (int control : {0, 1}) {
        SimulationSettings s = InverterSettings(mode == 0 ? 1 : 0, mode == 1);
        s.E2 = e2;
        s.TMLI = tmli;
        s.Courant = control;
        DoubleSvpwm modulator;
        Inverter inverter;
        inverter.ResetForRun(s, modulator);
        double thetas = 0.0;
        inverter.OpenLoopPeriodStep(t, 0, thetas);
        const PoleVoltages v = inverter.ModulateVoltages(t, ref, -ref, 0.0);
        EXPECT_TRUE(std::fabs(v.Vas) == e2 && std::fabs(v.Vbs) == e2)
            << "mode " << mode << " E2 " << e2 << " TMLI " << tmli << " t " << t;
      }
    }
  }
}

}  // namespace
}  // namespace mas
