#include "engine/regulators.h"

#include <gtest/gtest.h>

#include <cmath>

namespace mas {
namespace {

TEST(Regulators, PiFreezesItsIntegralBeyondTheLimitAndResumesInside) {
  // Kp = 2, Ki = 1, limit 10: u = 2 e + Integ, then Integ += e only if |u| <= 10.
  struct Row {
    double e, u, integ;
  } rows[] = {{3, 6, 3}, {3, 9, 6}, {3, 12, 6}, {3, 12, 6}, {1, 8, 7}, {1.5, 10, 8.5}};
  double integ = 0.0;
  for (const Row& r : rows) {
    EXPECT_DOUBLE_EQ(PiStep(r.e, 2.0, 1.0, 10.0, integ), r.u);
    EXPECT_DOUBLE_EQ(integ, r.integ);
  }
}

TEST(Regulators, IpWithUnitTrackingConstantRemovesLastSamplesOverflow) {
  // Kp = 2, Ki = 1, Tt = 1, limit 5: Integ += 0.5 (ref - meas - (U - Usat)), U = 2 (Integ - meas).
  struct Row {
    double meas, u, u_sat, integ;
  } rows[] = {{0, 4, 4, 2},   {0, 8, 5, 4}, {0, 9, 5, 4.5},
              {0, 9, 5, 4.5}, {3, 0, 0, 3}, {3, 1, 1, 3.5}};
  double integ = 0.0, u = 0.0, u_sat = 0.0;
  for (const Row& r : rows) {
    EXPECT_DOUBLE_EQ(IpStep(4.0, r.meas, 2.0, 1.0, 1.0, 5.0, integ, u, u_sat), r.u);
    EXPECT_DOUBLE_EQ(u_sat, r.u_sat);
    EXPECT_DOUBLE_EQ(integ, r.integ);
  }
}

TEST(Regulators, FuzzyRuleBaseAtCornersAndInside) {
  struct Row {
    double x, y, du;
  } rows[] = {{0, 0, 0},         {1, 1, 1},      {5, 7, 1},       {-1, -1, -1},
              {1, -1, 0},        {-1, 1, 0},     {0.5, 0, 0.5},   {0.5, 0.5, 0.5},
              {-0.25, 0, -0.25}, {1, -0.5, 0.5}, {0, -0.5, -0.5}, {0, 0.5, 0.5}};
  for (const Row& r : rows) EXPECT_DOUBLE_EQ(FuzzyIncrement(r.x, r.y), r.du) << r.x << ", " << r.y;
  // GE = GdE = 0.25, GdU = 4: e = 2 after 2 is (0.5, 0), after 0 is (0.5, 0.5).
  double err_prev = 2.0;
  EXPECT_DOUBLE_EQ(FuzzyStep(2.0, 0.25, 0.25, 4.0, 10.0, err_prev), 12.0);
  err_prev = 0.0;
  EXPECT_DOUBLE_EQ(FuzzyStep(2.0, 0.25, 0.25, 4.0, 10.0, err_prev), 12.0);
  EXPECT_EQ(err_prev, 2.0);
}

TEST(Regulators, NeuralAndNeuroFuzzySpeedFormsAreOddAndSaturate) {
  double prev = 0.0;
  EXPECT_NEAR(NeuralNetStep(0.0, 0.0, prev), 0.0, 1e-9);
  prev = 0.0;
  const double up = NeuralNetStep(1.0, 0.0, prev);
  prev = 0.0;
  EXPECT_NEAR(NeuralNetStep(-1.0, 0.0, prev), -up, 1e-9);
  EXPECT_GT(up, 0.0);
  prev = 0.0;
  EXPECT_NEAR(NeuralNetStep(1e6, 0.0, prev), 3.51997818083439 + 2 * 3.4768744920, 1e-6);

  SimulationSettings s;  // default rule weights; Fe 0.05, Fde 1, FdU 1.5
  prev = 0.0;
  EXPECT_NEAR(NeuroFuzzy2DStep(s, 0.0, 3.0, prev), 3.0, 1e-15);
  // e = 100 and 1000 both clip to x = y = 1: E3 = R3 = 0, E2 = R2 = a, E1 = R1 = 4a.
  const double a = 1.0 / 0.81;
  const double sum =
      -0.9 * std::exp(-4 * a) - 1.4 * std::exp(-2.5 * a) + 1.4 * std::exp(-a / 2) + 0.9;
  for (double e : {100.0, 1000.0}) {
    prev = 0.0;
    EXPECT_NEAR(NeuroFuzzy2DStep(s, e, 0.0, prev), 1.5 * sum, 1e-14);
  }
}

TEST(Regulators, DegenerateSettingsGiveFiniteOutputs) {
  double integ = 0.0, u = 7.0, u_sat = 5.0;  // saturated at the last sample
  EXPECT_EQ(IpStep(3.0, 1.0, 0.0, 2.0, 1.0, 5.0, integ, u, u_sat), 0.0);  // Kp = 0
  EXPECT_EQ(integ, 0.0);
  u = 7.0;
  EXPECT_DOUBLE_EQ(IpStep(3.0, 1.0, 2.0, 2.0, 0.0, 5.0, integ, u, u_sat), 2.0);  // Tt = 0
  SimulationSettings s;
  s.sE2 = s.sR2 = 0.0;  // singleton sets, hit exactly at e = 0
  for (double e : {0.0, 1.0}) {
    double prev = 0.0;
    EXPECT_TRUE(std::isfinite(NeuroFuzzy2DStep(s, e, 0.0, prev))) << e;
  }
}

// Vector control with no regulator form selected and no field weakening.
SimulationSettings Plain() {
  SimulationSettings s;
  s.Flag = 0;
  s.VdsrefMax = s.VqsrefMax = 1000.0;
  s.IqsrefM = 20.0;
  return s;
}

TEST(Regulators, FormsRunInOrderAndWithoutFormTheOutputKeepsGettingDecoupled) {
  SimulationSettings s = Plain();
  s.Idsref1 = 3.0;  // e = 3 with Ids = 0
  s.IdsPI = s.IdsFlou = true;
  s.Kpd = 2.0, s.Kid = 1.0, s.IdsFE = s.IdsFdE = 1.0, s.IdsFdU = 0.5;  // x = y = 3: du = 1
  RunState st;
  DAxisRegulatorStep(s, st);
  EXPECT_DOUBLE_EQ(st.Vdsref, 6.5);  // the fuzzy increment adds to the PI output
  EXPECT_EQ(st.reg.IntegD, 3.0);
  EXPECT_EQ(st.reg.IdsErr, 3.0);
  EXPECT_EQ(st.reg.IdsdErr, 3.0);

  s = Plain();
  s.Decouple = 1;
  s.mLs = 0.5, s.mM = 0.2, s.mLr = 0.4;
  st = RunState{};
  st.mc.sigma = 0.1;
  st.est.Ws = 10.0, st.est.Iqs = 2.0, st.est.Ids = 4.0, st.est.Phidr = 0.2;
  st.Vdsref = 10.0;
  for (double vd : {9.0, 8.0, 7.0}) {
    DAxisRegulatorStep(s, st);  // -= 0.1 x 0.5 x 10 x 2
    QAxisRegulatorStep(s, st);  // += 0.1 x 0.5 x 10 x 4 + 10 x 0.5 x 0.2
    SpeedRegulatorStep(s, st);
    EXPECT_DOUBLE_EQ(st.Vdsref, vd);
    EXPECT_DOUBLE_EQ(st.Vqsref, 3.0 * (10.0 - vd));
    EXPECT_EQ(st.Iqsref, 0.0);
  }
}

TEST(Regulators, FieldWeakeningStepsHoldInTheHysteresisBandsAndContinuousIsStrict) {
  SimulationSettings s = Plain();
  s.Flag = 1;
  s.Wmlim1 = 1000.0, s.Wmlim2 = 2000.0;
  s.Idsref1 = 5.0, s.Idsref2 = 4.0, s.Idsref3 = 3.0;
  struct Row {
    int step_before;
    double rpm;
    int step;
    double idsref;  // 9: the Idsref from before stays
  } rows[] = {{2, 0, 1, 5},    {2, 900, 1, 5},  {1, 950, 1, 9},  {2, 950, 2, 9},  {1, 1000, 2, 4},
              {3, 1900, 2, 4}, {2, 1950, 2, 9}, {3, 1950, 3, 9}, {2, 2000, 3, 3}, {1, -1000, 2, 4}};
  for (const Row& r : rows) {
    RunState st;
    st.reg.FieldStep = r.step_before;
    st.reg.IdsrefBase = 9.0;
    st.WmMeas = r.rpm * kRpmToRadS;
    ASSERT_EQ(std::fabs(st.WmMeas * kRadSToRpm), std::fabs(r.rpm));  // thresholds hit exactly
    DAxisRegulatorStep(s, st);
    EXPECT_EQ(st.reg.FieldStep, r.step) << r.rpm;
    EXPECT_EQ(st.Idsref, r.idsref) << r.rpm;
  }

  s.Flag = 2;
  RunState st;
  st.WmMeas = -100.0;
  const double n = 100.0 * kRadSToRpm;
  s.WmBase = n;
  DAxisRegulatorStep(s, st);
  EXPECT_EQ(st.Idsref, 5.0);
  s.WmBase = n - 1.0;
  DAxisRegulatorStep(s, st);
  EXPECT_DOUBLE_EQ(st.Idsref, s.Kdeflux / n);
  s.WmBase = -1.0;  // standstill below a negative base speed: no division by zero
  st.WmMeas = 0.0;
  s.Flux_typ = 9;  // blended stator orientation adds its d-current correction
  st.est.IdsCorr = 0.25;
  DAxisRegulatorStep(s, st);
  EXPECT_EQ(st.Idsref, 5.25);

  // Inside a hysteresis band the correction is added to the step's reference, not piled
  // up on the corrected value of the previous sample.
  s.Flag = 1;
  RunState band;
  band.reg.FieldStep = 1;
  band.reg.IdsrefBase = 5.0;
  band.WmMeas = 950 * kRpmToRadS;
  band.est.IdsCorr = 0.25;
  for (int i = 0; i < 3; ++i) {
    DAxisRegulatorStep(s, band);
    EXPECT_EQ(band.Idsref, 5.25);
  }
}

TEST(Regulators, SpeedGainsFollowTheFieldWeakeningStep) {
  struct Row {
    bool change_k;
    int step;
    double i2, i3, kp;
  } rows[] = {{false, 3, 3, 1.5, 2},
              {true, 2, 3, 1.5, 4},
              {true, 3, 3, 1.5, 4},
              {true, 2, 0, 1.5, 2},
              {true, 3, 3, 0, 2}};
  for (const Row& r : rows) {
    SimulationSettings s = Plain();
    s.WPI = true;
    s.KpW = 2.0, s.KiW = 0.5, s.ChangeK = r.change_k;
    s.Idsref1 = 6.0, s.Idsref2 = r.i2, s.Idsref3 = r.i3;
    RunState st;
    st.reg.FieldStep = r.step;
    st.Iqsref = 1.0;
    st.Wmref = 1.0;  // PI on e = 1: Iqsref = Kp, IntegW = Ki = Kp/4
    SpeedRegulatorStep(s, st);
    EXPECT_DOUBLE_EQ(st.Iqsref, r.kp) << r.step;
    EXPECT_DOUBLE_EQ(st.reg.IntegW, r.kp / 4) << r.step;
    EXPECT_EQ(st.reg.IqsrefPrev, 1.0);
    st.Wmref = 100.0;
    SpeedRegulatorStep(s, st);
    EXPECT_EQ(st.Iqsref, 20.0);
  }
}

TEST(Regulators, FreeQAxisLimitIsTheVoltageTheDAxisLeaves) {
  EXPECT_EQ(FreeVqsrefMax(300.0, -180.0), 240.0);
  EXPECT_EQ(FreeVqsrefMax(300.0, 350.0), 0.0);  // d axis beyond the bus: nothing left
  SimulationSettings s = Plain();
  s.VqsrefMaxFree = s.IqsPI = true;
  s.E2 = 300.0, s.Kpq = 1000.0;
  RunState st;
  st.Vdsref = 180.0;
  st.Iqsref = 10.0;
  QAxisRegulatorStep(s, st);
  EXPECT_EQ(s.VqsrefMax, 240.0);  // the setting itself is overwritten
  EXPECT_EQ(st.Vqsref, 240.0);
}

}  // namespace
}  // namespace mas
