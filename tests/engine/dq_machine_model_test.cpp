#include "engine/dq_machine_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "engine/numeric.h"

namespace mas {
namespace {

// The 4 kW, 400 V, 50 Hz, 4-pole machine of the examples.
DqMachineModel ExampleMachine(double dt = 1e-5) {
  DqMachineModel m;
  m.SetElectricalParameters(1.405, 1.395, 0.178039, 0.178039, 0.1722);
  m.SetMechanicalParameters(2, 0.0131, 0.0, 0.0, 0.0);
  m.SetStep(dt);
  m.ResetForRun();
  return m;
}

// Steady-state torque of the machine fed with a balanced voltage of amplitude v and
// angular frequency we, at the electrical rotor speed w, from the equivalent circuit in
// the synchronous frame:
//   Vs = Rs Is + j we (Ls Is + M Ir),  0 = Rr Ir + j (we - w)(Lr Ir + M Is).
double SteadyTorque(const DqMachineModel& m, double v, double we, double w) {
  using C = std::complex<double>;
  const C j(0, 1);
  const double sw = we - w;
  const C k = -j * sw * m.M / (m.Rr + j * sw * m.Lr);  // Ir = k Is
  const C is = v / (m.Rs + j * we * m.Ls + j * we * m.M * k);
  const C psi_s = m.Ls * is + m.M * k * is;
  return 1.5 * m.p * std::imag(std::conj(psi_s) * is);
}

TEST(DqMachineModel, StaysExactlyAtRestWithoutVoltageOrLoad) {
  DqMachineModel m = ExampleMachine();
  for (int i = 0; i < 1000; ++i) {
    const PhaseCurrents out = m.StepStar(0.0, 0.0, 0.0);
    ASSERT_EQ(out.ia, 0.0);
    ASSERT_EQ(out.ib, 0.0);
    ASSERT_EQ(out.omega, 0.0);
  }
  // Equal phase voltages are a pure zero-sequence: no current either.
  for (int i = 0; i < 100; ++i) m.StepStar(100.0, 100.0, 100.0);
  EXPECT_EQ(m.Valphas, 0.0);
  EXPECT_EQ(m.Vbetas, 0.0);
  EXPECT_EQ(m.isAlpha(), 0.0);
  EXPECT_EQ(m.w(), 0.0);
}

TEST(DqMachineModel, LoadTorqueFollowsSpeedSignAndIncrementsReplaceEachOther) {
  DqMachineModel m = ExampleMachine();
  m.a30 = 4.0;
  m.Crsgn = 1;
  m.ResetForRun();
  EXPECT_DOUBLE_EQ(m.LoadTorque(0.0), 0.0);
  EXPECT_DOUBLE_EQ(m.LoadTorque(0.05), 2.0);  // 10 x 0.05 x a3
  EXPECT_DOUBLE_EQ(m.LoadTorque(-0.2), -4.0);
  EXPECT_DOUBLE_EQ(m.LoadTorque(100.0), 4.0);
  m.Crsgn = 0;
  EXPECT_DOUBLE_EQ(m.LoadTorque(-0.2), 4.0);

  // The squared term keeps its sign for negative speeds; speeds enter as w/p.
  m.a10 = 0.01;
  m.a20 = 0.1;
  m.a30 = 0.0;
  m.ResetForRun();
  EXPECT_DOUBLE_EQ(m.LoadTorque(-20.0), 0.01 * 100.0 - 0.1 * 10.0);

  m.SetLoadIncrement1(1.0);
  m.SetLoadIncrement1(2.0);
  EXPECT_DOUBLE_EQ(m.a1Act, 0.01 + 2.0);
}

TEST(DqMachineModel, RotorResistanceEventsChangeTheMachineAndResetRestoresIt) {
  DqMachineModel m = ExampleMachine();
  const double tr = m.Tr;
  m.SetRotorResistance(0.0);  // the stored "no event" value is ignored
  m.SetRotorResistance(-1.0);
  EXPECT_EQ(m.RrAct, 1.395);
  EXPECT_EQ(m.Tr, tr);
  m.SetRotorResistance(2.79);
  EXPECT_EQ(m.RrAct, 2.79);
  EXPECT_DOUBLE_EQ(m.Tr, tr / 2);
  EXPECT_DOUBLE_EQ(m.invTsTr, m.invTs + 1 / m.Tr);
  m.ResetForRun();
  EXPECT_EQ(m.RrAct, 1.395);
  EXPECT_DOUBLE_EQ(m.Tr, tr);
}

TEST(DqMachineModel, StarAndDeltaTransformsOfTheSupply) {
  // Star: a balanced set gives Valphas equal to phase a and Vbetas lagging by 90 degrees.
  DqMachineModel m = ExampleMachine();
  const double angle = 0.3;
  m.StepStar(100 * std::cos(angle), 100 * std::cos(angle - 2 * kPi / 3),
             100 * std::cos(angle + 2 * kPi / 3));
  EXPECT_NEAR(m.Valphas, 100 * std::cos(angle), 1e-12);
  EXPECT_NEAR(m.Vbetas, 100 * std::sin(angle), 1e-12);

  // Delta: the winding voltages are the line-to-line voltages, sqrt(3) larger and
  // leading by 30 degrees; the line currents sum to zero and ia = 2 i1 + i2.
  DqMachineModel d = ExampleMachine();
  PhaseCurrents out{};
  for (int i = 0; i < 2000; ++i) {
    const double th = 2 * kPi * 50 * i * 1e-5;
    out = d.StepDelta(100 * std::cos(th), 100 * std::cos(th - 2 * kPi / 3),
                      100 * std::cos(th + 2 * kPi / 3));
  }
  const double th = 2 * kPi * 50 * 1999 * 1e-5;
  EXPECT_NEAR(d.Valphas, kSqrt3 * 100 * std::cos(th + kPi / 6), 1e-9);
  EXPECT_NEAR(d.Vbetas, kSqrt3 * 100 * std::sin(th + kPi / 6), 1e-9);
  const double i1 = d.isAlpha();
  const double i2 = (kSqrt3 * d.isBeta() - d.isAlpha()) / 2;
  EXPECT_DOUBLE_EQ(out.ia, 2 * i1 + i2);
  EXPECT_DOUBLE_EQ(out.ib, i2 - i1);
}

TEST(DqMachineModel, SettlesAtEquivalentCircuitSpeedUnderLoad) {
  const double e2 = 326.6;
  const double we = 2 * kPi * 50;
  for (const double load : {0.0, 10.0, 26.0}) {
    DqMachineModel m = ExampleMachine(1e-5);
    m.a30 = load;
    m.ResetForRun();
    double t = 0.0;
    for (int i = 0; i < 150000; ++i, t += 1e-5) {
      const double th = we * t;
      m.StepStar(e2 * std::cos(th), e2 * std::cos(th - 2 * kPi / 3),
                 e2 * std::cos(th + 2 * kPi / 3));
    }
    // Speed at which the equivalent circuit's torque balances the load (bisection
    // between standstill-side slip and synchronism).
    double lo = 0.8 * we, hi = we;
    for (int k = 0; k < 200; ++k) {
      const double mid = 0.5 * (lo + hi);
      (SteadyTorque(m, e2, we, mid) > load ? lo : hi) = mid;
    }
    const double expected_speed = 0.5 * (lo + hi) / m.p;
    EXPECT_NEAR(m.w() / m.p, expected_speed, 0.02) << "load " << load;
    EXPECT_NEAR(m.Ce(), load, 0.05) << "load " << load;
  }
}

TEST(DqMachineModel, StartUpEnergyBalance) {
  // Electrical input = copper losses + change of magnetic energy + mechanical work,
  // integrated over a direct start-up with a load (trapezoidal sums over the steps).
  const double dt = 1e-5;
  DqMachineModel m = ExampleMachine(dt);
  m.a30 = 10.0;
  m.a20 = 0.01;
  m.ResetForRun();
  auto rotor_current = [&](double psi_s, double i_s) { return (psi_s - m.Ls * i_s) / m.M; };
  auto magnetic_energy = [&]() {
    const double ira = rotor_current(m.PhisAlpha(), m.isAlpha());
    const double irb = rotor_current(m.PhisBeta(), m.isBeta());
    const double psi_ra = m.Lr * ira + m.M * m.isAlpha();
    const double psi_rb = m.Lr * irb + m.M * m.isBeta();
    return 1.5 * 0.5 *
           (m.PhisAlpha() * m.isAlpha() + m.PhisBeta() * m.isBeta() + psi_ra * ira + psi_rb * irb);
  };
  auto losses = [&]() {
    const double ira = rotor_current(m.PhisAlpha(), m.isAlpha());
    const double irb = rotor_current(m.PhisBeta(), m.isBeta());
    return 1.5 * (m.Rs * (m.isAlpha() * m.isAlpha() + m.isBeta() * m.isBeta()) +
                  m.Rr * (ira * ira + irb * irb));
  };
  auto air_gap_power = [&]() { return m.Ce() * m.w() / m.p; };

  double input = 0, copper = 0, mechanical = 0;
  const double w0 = magnetic_energy();
  for (int i = 0; i < 40000; ++i) {
    const double th = 2 * kPi * 50 * i * dt;
    const double ia0 = m.isAlpha(), ib0 = m.isBeta();
    const double loss0 = losses(), mech0 = air_gap_power();
    m.StepStar(326.6 * std::cos(th), 326.6 * std::cos(th - 2 * kPi / 3),
               326.6 * std::cos(th + 2 * kPi / 3));
    // Voltages held over the step; currents averaged over it.
    input +=
        1.5 * dt * (m.Valphas * 0.5 * (ia0 + m.isAlpha()) + m.Vbetas * 0.5 * (ib0 + m.isBeta()));
    copper += 0.5 * dt * (loss0 + losses());
    mechanical += 0.5 * dt * (mech0 + air_gap_power());
  }
  const double stored = magnetic_energy() - w0;
  ASSERT_GT(input, 1000.0);  // a real start-up, not a trivial one
  EXPECT_NEAR(input, copper + stored + mechanical, 1e-4 * input);
}

}  // namespace
}  // namespace mas
