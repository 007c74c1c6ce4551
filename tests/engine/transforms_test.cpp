#include "engine/transforms.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/direct_control.h"
#include "engine/dq_machine_model.h"

namespace mas {
namespace {

TEST(Transforms, ParkRoundTripsGiveTheReferencesBackInStarAndDelta) {
  // d/q references -> phases -> (what the machine model sees) -> alpha/beta -> d/q.
  for (bool delta : {false, true}) {
    for (double theta : {0.0, 0.4, 2.0, -2.9}) {
      const double vd = 120.0, vq = -45.0;
      const ThreePhase ph =
          InverseClarke(InversePark(vd, vq, std::cos(theta), std::sin(theta)), delta);
      // The winding voltages the dq model computes from the three legs.
      DqMachineModel m;
      m.SetElectricalParameters(1, 1, 0.1, 0.1, 0.09);
      m.SetMechanicalParameters(2, 1, 0, 0, 0);
      m.SetStep(1e-9);
      m.ResetForRun();
      if (delta) {
        m.StepDelta(ph.a, ph.b, ph.c);
      } else {
        m.StepStar(ph.a, ph.b, ph.c);
      }
      double d, q;
      Park({m.Valphas, m.Vbetas}, std::cos(theta), std::sin(theta), d, q);
      EXPECT_NEAR(d, vd, 1e-9) << "delta " << delta << " theta " << theta;
      EXPECT_NEAR(q, vq, 1e-9) << "delta " << delta << " theta " << theta;
    }
  }
}

TEST(Transforms, ClarkeOfLineCurrentsRecoversTheWindingCurrents) {
  // A balanced set of winding currents i1, i2, i3 of a delta winding and its line
  // currents ia = i1 - i3, ib = i2 - i1.
  const double i1 = 10 * std::cos(0.3), i2 = 10 * std::cos(0.3 - 2 * kPi / 3);
  const double i3 = -i1 - i2;
  const AlphaBeta star = ClarkeCurrents(i1, i2, false);
  const AlphaBeta delta = ClarkeCurrents(i1 - i3, i2 - i1, true);
  EXPECT_NEAR(delta.alpha, star.alpha, 1e-12);
  EXPECT_NEAR(delta.beta, star.beta, 1e-12);
  EXPECT_NEAR(star.alpha, 10 * std::cos(0.3), 1e-12);
  EXPECT_NEAR(star.beta, 10 * std::sin(0.3), 1e-12);
}

TEST(Transforms, FluxAngleQuadrantRule) {
  struct Case {
    double x, y, angle;
  };
  const Case cases[] = {
      {0.0, 5.0, 0.0},          {0.0, -5.0, 0.0},           {1.0, 1.0, kPi / 4},
      {-1.0, 1.0, 3 * kPi / 4}, {-1.0, -1.0, -3 * kPi / 4}, {1.0, -1.0, -kPi / 4},
      {-1.0, 0.0, kPi},
  };
  for (const Case& c : cases) EXPECT_NEAR(FluxAngle(c.x, c.y), c.angle, 1e-12) << c.x << "," << c.y;
  for (double a = -3.1; a < 3.15; a += 0.05) {
    const double angle = FluxAngle(std::cos(a), std::sin(a));
    EXPECT_GT(angle, -kPi);
    EXPECT_LE(angle, kPi);
  }
  EXPECT_EQ(WrapOnce(kPi + 0.5), kPi + 0.5 - 2 * kPi);
  EXPECT_EQ(WrapOnce(-kPi - 0.5), -kPi - 0.5 + 2 * kPi);
}

TEST(DirectTorqueControl, SectorsAndSwitchingTable) {
  EXPECT_EQ(DtcSectorOf(0.0, 0.0), 1);
  EXPECT_EQ(DtcSectorOf(0.0, 1.0), 2);
  EXPECT_EQ(DtcSectorOf(0.0, -1.0), 5);
  // Sector k is centred on the direction of active vector k, every 60 degrees.
  for (int k = 1; k <= 6; ++k) {
    const double a = (k - 1) * kPi / 3;
    EXPECT_EQ(DtcSectorOf(std::cos(a), std::sin(a)), k) << k;
  }
  // With both demands up, the chosen vector leads the flux by about 60 degrees; with
  // the flux down and the torque up, by about 120 degrees.
  for (int k = 1; k <= 6; ++k) {
    EXPECT_EQ(DtcVector(1, 1, k), k % 6 + 1);
    EXPECT_EQ(DtcVector(0, 1, k), (k + 1) % 6 + 1);
    EXPECT_EQ(DtcVector(1, 0, k), (k + 4) % 6 + 1);
    EXPECT_EQ(DtcVector(0, 0, k), (k + 3) % 6 + 1);
  }
}

TEST(VfLaw, AmplitudeIsLinearBelowNominalFrequencyAndConstantAbove) {
  SimulationSettings s;
  s.TMLI = 1e-4;
  s.NTregI = 1;
  struct Case {
    double iqsref, amplitude;
  };
  const Case cases[] = {
      {0.0, 10.0},                             // boost only
      {31.45, 310.2 / 314.16 * 314.5 + 10.0},  // 314.5 truncates to 314 < Wn
      {31.5, 310.2},                           // 315 from here on
      {-31.5, 310.2},
      {-20.0, 310.2 / 314.16 * -200.0 + 10.0},  // negative frequency, signed law
  };
  for (const Case& c : cases) {
    RunState st;
    st.Iqsref = c.iqsref;
    VfStep(s, st);
    EXPECT_NEAR(st.dc.VfAmp, c.amplitude, 1e-9) << c.iqsref;
    EXPECT_NEAR(st.VasRef, c.amplitude * std::cos(st.est.thetas), 1e-9);
  }
}

}  // namespace
}  // namespace mas
