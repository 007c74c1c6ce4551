#include "engine/cage_machine_model.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dq_machine_model.h"
#include "engine/numeric.h"

#ifndef MAS_SANITIZED
// Heap allocations of this process, to show that a step costs none (weak, so that another
// test file of the same program may count them its own way).
long long g_cage_test_allocations = 0;
#endif

namespace mas {
namespace {

std::string TempPath(const std::string& name) { return ::testing::TempDir() + name; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The 4 kW, 400 V, 50 Hz, 4-pole machine of the examples as a cage of 28 bars.
// Rotor radius 5 cm, stack 12 cm and air gap 0.35 mm are usual for this frame size. The
// air-gap inductance of one mesh is then Lrp - Mrr = mu0 2 pi R L/(Nr e) = 4.834 uH, and
// Ns = 130 effective turns give a stator magnetising inductance (3/pi) mu0 Ns^2 2 R L/
// (e p^2) = 0.1738 H, of which 0.1709 H links the 28 discrete bars (see EquivalentDq).
// The leakages Lsl = 2.9 mH, Lb = 0.82 uH, Le = 20 nH and the resistances Rb = 164 uohm
// (an aluminium bar of about 25 mm2 over 12 cm) and Re = 3.5 uohm (about 1 cm2 of ring
// over the 1 cm of arc between two bars) reproduce the two-axis machine of the examples:
// Ls = Lr = 0.1767 H, M = 0.1709 H, Rr = 1.396 ohm (there 0.1780, 0.1780, 0.1722, 1.395).
// A broken bar or ring portion is taken as 100 times its healthy resistance.
CageMachineModel ExampleCage(int nr = 28, double dt = 1e-4) {
  CageMachineModel m;
  m.SetElectricalParameters(1.405);
  m.SetMechanicalParameters(2, 0.0131, 0.0, 0.0, 0.0);
  m.SetStep(dt);
  m.SetCageParameters(0.05, 0.12, 0.35e-3, 130, nr, 2.9e-3, 1.64e-4, 1.64e-2, 3.5e-6, 3.5e-4, 2e-8,
                      8.2e-7);
  m.AllocateArrays();
  m.ResetBars();
  m.ResetRings();
  m.SetDumpPath("");  // the one test that reads the dump names its own file
  return m;
}

// Two-axis machine equivalent to a healthy cage. A sinusoidally wound stator links only
// the fundamental pattern of the mesh currents, Ir(k) = Re(ir exp(-j k alpha)) with the
// rotor current vector ir = (2/Nr) sum Ir(k) exp(j k alpha). The cage matrices are
// circulant, so on that pattern they act as plain numbers,
//   inductance  lL = Lrp - Mrr + 2 Lb (1 - cos alpha) + 2 Le/Nr,
//   resistance  lR = 2 Rb (1 - cos alpha) + 2 Re,
// and the ring current stays zero (the mesh currents sum to zero). In the rotor frame:
//   psi_s = Lsc is - (Nr/2) Msr ir,  psi_r = -1.5 Msr is + lL ir,  dpsi_r/dt = -lR ir.
// Referred to the stator with the air-gap mesh inductance Lg = Lrp - Mrr
// (ir' = -(Nr Msr/(2 M)) ir) these are the two-axis equations with
//   Ls = Lsc,  M = (3 Nr/4) Msr^2/Lg,  Lr = M lL/Lg,  Rr = M lR/Lg.
// M is the stator magnetising inductance Lsc - Lsl times the square of the bar pitch
// factor sin(pi p/Nr)/(pi p/Nr); the rest of it is the cage's harmonic leakage.
DqMachineModel EquivalentDq(const CageMachineModel& c) {
  const double lg = c.Lrp - c.Mrr;
  const double m = 0.75 * c.Nr * c.Msr * c.Msr / lg;
  const double ll = lg + 2 * c.Lb * (1 - std::cos(c.alpha)) + 2 * c.Le / c.Nr;
  const double lr = 2 * c.RbSain * (1 - std::cos(c.alpha)) + 2 * c.ReSain;
  DqMachineModel dq;
  dq.SetElectricalParameters(c.Rs, m * lr / lg, c.Lsc, m * ll / lg, m);
  dq.SetMechanicalParameters(c.p, c.J, c.a10, c.a20, c.a30);
  dq.SetStep(c.h);
  dq.ResetForRun();
  return dq;
}

// Balanced 400 V, 50 Hz supply (phase amplitude 326.6 V) at step i.
struct Supply {
  double a, b, c;
};
Supply Mains(int i, double dt) {
  const double th = 2 * kPi * 50 * i * dt;
  return {326.6 * std::cos(th), 326.6 * std::cos(th - 2 * kPi / 3),
          326.6 * std::cos(th + 2 * kPi / 3)};
}

std::string Printf(const char* format, double value) {
  char text[400];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Entry (i, j) of ML times its inverse.
double Product(const CageMachineModel& m, int i, int j) {
  double sum = 0.0;
  for (int k = 0; k < m.MatrixSize(); ++k) sum += m.ML(i, k) * m.InvML(k, j);
  return sum;
}

TEST(CageMachineModel, FormatsNumbersAsPrintfDoes) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const double v : {0.0, -0.0, 1e-5, 9.999995e-5, -2.5e-7, -1e100, 5e-324, DBL_MAX,
                         1234567.0000005, inf, -inf, nan, -nan}) {
    char text[kFixed6Chars];
    EXPECT_EQ(std::string(text, FormatExp5(text, v)), Printf("%12.5e", v)) << v;
    EXPECT_EQ(std::string(text, FormatFixed6(text, v)), Printf("%f", v)) << v;
  }
}

TEST(CageMachineModel, GaussEliminationSwapsInTheFirstUsableRowOnly) {
  struct Case {
    int n;
    std::vector<double> a;
    bool invertible;
    std::vector<double> triangular, inverse;
  };
  const double s = 1.0 / 6, t = 1.0 / 3;
  const Case cases[] = {
      // Zero first pivot: row 1 comes up, not row 2 with the larger entry.
      {3,
       {0, 2, 1, 1, 1, 0, 4, 0, 1},
       true,
       {1, 1, 0, 0, 2, 1, 0, 0, 3},
       {-s, t, s, s, 2 * t, -s, 2 * t, -4 * t, t}},
      // A pivot that becomes zero during the elimination.
      {3,
       {1, 1, 0, 1, 1, 1, 0, 1, 1},
       true,
       {1, 1, 0, 0, 1, 1, 0, 0, 1},
       {0, 1, -1, 1, -1, 1, -1, 1, 0}},
      // No usable pivot in the first column.
      {2, {0, 1, 0, 1}, false, {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<double> a = c.a, inverse;
    ASSERT_EQ(GaussInvert(a, inverse, c.n), c.invertible);
    if (!c.invertible) continue;
    EXPECT_EQ(a, c.triangular);
    for (int i = 0; i < c.n * c.n; ++i) EXPECT_NEAR(inverse[i], c.inverse[i], 1e-15) << i;
  }
}

TEST(CageMachineModel, InductanceMatrixOfAHealthyCage) {
  for (const int nr : {3, 4, 28}) {
    SCOPED_TRACE(nr);
    CageMachineModel m = ExampleCage(nr);
    m.ResetForRun();
    ASSERT_EQ(m.MatrixSize(), nr + 3);
    // The four inductance formulas agree with one another: the stator magnetising
    // inductance seen through the cage is reduced by the square of the bar pitch factor.
    const double x = kPi * m.p / nr;
    EXPECT_NEAR(0.75 * nr * m.Msr * m.Msr / (m.Lrp - m.Mrr),
                (m.Lsc - m.Lsl) * std::pow(std::sin(x) / x, 2), 1e-12);
    for (int k = 0; k < nr; ++k) {
      // Bar positions exactly as std::cos and std::sin of k alpha give them.
      EXPECT_EQ(m.ML(0, k + 2), -std::cos(k * m.alpha) * m.Msr);
      EXPECT_EQ(m.ML(1, k + 2), -std::sin(k * m.alpha) * m.Msr);
      EXPECT_EQ(m.ML(k + 2, 0), 1.5 * m.ML(0, k + 2));
      EXPECT_EQ(m.ML(k + 2, k + 2), m.ML(2, 2));
      for (int j = 0; j < nr; ++j) EXPECT_EQ(m.ML(k + 2, j + 2), m.ML(j + 2, k + 2));
    }
    EXPECT_EQ(m.ML(2, nr + 1), m.Mrr - m.Lb);
    EXPECT_EQ(m.ML(nr + 1, 2), m.Mrr - m.Lb);
    // The identity, to the rounding of entries that span 1e-8..1.
    for (int i = 0; i < nr + 3; ++i) {
      for (int j = 0; j < nr + 3; ++j) EXPECT_NEAR(Product(m, i, j), i == j, 1e-9);
    }
  }
}

TEST(CageMachineModel, RefusesCagesItCannotRunWithoutTouchingMemoryOutside) {
  using Kind = CageModelError::Kind;
  const std::string too_few = "Le modèle à cage demande au moins 3 barres rotoriques (Nr = ";
  auto bars = [](int nr, int allocated_for) {
    return [=](CageMachineModel& m) {
      m.Nr = allocated_for;
      m.AllocateArrays();
      m.Nr = nr;
    };
  };
  const struct {
    std::function<void(CageMachineModel&)> spoil;
    Kind kind;
    std::string message, caption;
  } cases[] = {
      {bars(-5, -5), Kind::kInvalidCage, too_few + "-5)", "Erreur"},
      {bars(2, 2), Kind::kInvalidCage, too_few + "2)", "Erreur"},
      {bars(INT_MAX, INT_MAX), Kind::kAllocation,
       "Le modèle à cage accepte au plus 1000 barres rotoriques (Nr = 2147483647)",
       "Erreur d'allocation"},
      {bars(CageMachineModel::kMaxBars + 1, CageMachineModel::kMaxBars + 1), Kind::kAllocation,
       "Le modèle à cage accepte au plus 1000 barres rotoriques (Nr = 1001)",
       "Erreur d'allocation"},
      {bars(28, 20), Kind::kInvalidCage,
       "Les résistances des barres et de l'anneau ne sont pas allouées pour Nr = 28 barres : "
       "rechargez le fichier de paramètres ou validez les paramètres de la machine à cage",
       "Erreur"},
      // Without turns nor leakage the stator couples to nothing: no pivot in its column.
      {[](CageMachineModel& m) { m.Ns = 0, m.Lsl = 0.0; }, Kind::kSingularMatrix,
       "Triangularisation impossible : tous les pivots sont nuls", "Erreur de calcul"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    CageMachineModel m = ExampleCage(5);
    m.ResetForRun();  // a prepared run before, which the refusal must forget
    c.spoil(m);
    try {
      m.ResetForRun();
      FAIL() << "run accepted";
    } catch (const CageModelError& e) {
      EXPECT_EQ(e.kind, c.kind);
      EXPECT_EQ(e.what(), c.message);
      EXPECT_EQ(e.caption, c.caption);
    }
    EXPECT_EQ(m.RunBars(), 0);
    EXPECT_EQ(m.ML(0, 0), 0.0);
    EXPECT_EQ(m.Ib(0), 0.0);
    EXPECT_THROW(m.StepStar(1, 2, 3), CageModelError);
  }

  // Arrays re-sized for another cage between the preparation and a step.
  CageMachineModel m = ExampleCage(5);
  m.ResetForRun();
  bars(4, 4)(m);
  EXPECT_THROW(m.StepDelta(1, 2, 3), CageModelError);
}

TEST(CageMachineModel, WritesTheMatrixDumpExactly) {
  CageMachineModel m = ExampleCage(3);
  m.SetDumpPath(TempPath("cage_debinv.cpp"));
  m.ResetForRun();
  ASSERT_FALSE(m.DumpFailed());
  const int n = m.MatrixSize();
  std::vector<double> triangular(n * n), inverse;
  for (int i = 0; i < n * n; ++i) triangular[i] = m.ML(i / n, i % n);
  ASSERT_TRUE(GaussInvert(triangular, inverse, n));
  auto matrix = [n](auto element) {
    std::string text;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) text += Printf("%12.5e ", element(i, j));
      text += "\n";
    }
    return text;
  };
  const std::string expected = "-----  Matrice de ML Triangularisee --------\n\n" +
                               matrix([&](int i, int j) { return triangular[i * n + j]; }) +
                               "\n\n------------------------------------------------\n\n" +
                               "\n\n-----  Matrice ML  --------\n\n" +
                               matrix([&](int i, int j) { return m.ML(i, j); }) +
                               "\n\n-----  Matrice Inverse de ML  --------\n\n" +
                               matrix([&](int i, int j) { return m.InvML(i, j); }) +
                               "\n\n-----  Matrice Identite  --------\n\n" +
                               matrix([&](int i, int j) { return Product(m, i, j); });
  EXPECT_EQ(ReadFile(m.DumpPath()), expected);

  // A dump that cannot be written is reported and changes nothing in the run.
  CageMachineModel lost = ExampleCage(3);
  lost.SetDumpPath(TempPath("no_such_folder/debinv.cpp"));
  lost.ResetForRun();
  EXPECT_TRUE(lost.DumpFailed());
  for (int i = 0; i < 50; ++i) {
    const Supply v = Mains(i, 1e-4);
    ASSERT_EQ(m.StepStar(v.a, v.b, v.c).ia, lost.StepStar(v.a, v.b, v.c).ia);
  }
}

TEST(CageMachineModel, BarCurrentsSnapshotAndRingCurrents) {
  CageMachineModel m = ExampleCage(5);
  m.ResetForRun();
  m.Rb[1] = m.RbCasse;  // an asymmetric cage, so that every bar carries its own current
  m.Re[3] = m.ReCasse;
  for (int i = 0; i < 300; ++i) {
    const Supply v = Mains(i, 1e-4);
    m.StepStar(v.a, v.b, v.c);
  }
  std::string expected;
  for (int k = 0; k < 5; ++k) {
    char line[400];
    std::snprintf(line, sizeof line, "%d  %f\n", k, m.Ir(k) - m.Ir((k + 1) % 5));
    expected += line;
  }
  const std::string path = TempPath("cage_Ib.dat");
  ASSERT_TRUE(m.WriteBarCurrents(path));
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(m.Ib(4), m.Ir(4) - m.Ir(0));
  EXPECT_NE(m.Ib(4), 0.0);
  EXPECT_EQ(m.Ian(3), m.Ir(3) - m.Ie());
  EXPECT_EQ(m.Ir(5), 0.0);
  EXPECT_EQ(m.Ib(-1), 0.0);
  EXPECT_FALSE(m.WriteBarCurrents(TempPath("no_such_folder/Ib.dat")));
}

TEST(CageMachineModel, DeltaWindingSeesTheLineToLineVoltages) {
  CageMachineModel delta = ExampleCage(7), star = ExampleCage(7);
  delta.ResetForRun();
  star.ResetForRun();
  PhaseCurrents out{};
  for (int i = 0; i < 500; ++i) {
    const Supply v = Mains(i, 1e-4);
    out = delta.StepDelta(v.a, v.b, v.c);
    star.StepStar(v.a - v.b, v.b - v.c, v.c - v.a);
  }
  EXPECT_NEAR(delta.w(), star.w(), 1e-9 * star.w());
  // Winding currents i1 (a to b) and i2 (b to c) give the line currents 2 i1 + i2, i2 - i1.
  const double i1 = star.Ialphas, i2 = (kSqrt3 * star.Ibetas - star.Ialphas) / 2;
  EXPECT_NEAR(out.ia, 2 * i1 + i2, 1e-9 * std::fabs(i1));
  EXPECT_NEAR(out.ib, i2 - i1, 1e-9 * std::fabs(i1));
}

// Direct start-up on the mains with a 20 N m load, the healthy cage against the
// two-axis machine of EquivalentDq, both fed with the same voltages held over each step.
// They integrate the same fundamental-wave equations (a sinusoidal stator excites no
// other pattern of the mesh currents, and the ring current stays zero); the one
// difference is the frame in which the voltage is held: the cage holds its rotor-frame
// value over the step while the rotor turns by w dt, i.e. it applies the supply with a
// phase lead of w dt/2. A phase of the supply does not move the steady state, so the
// loaded speeds agree to the integration error; during the start-up the trajectories
// differ in proportion to dt, and halving the step halves the gap.
TEST(CageMachineModel, HealthyCageStartsUpLikeTheEquivalentTwoAxisMachine) {
  // Largest speed gap over the start-up, and the two loaded speeds at its end.
  auto start_up = [](int nr, double dt, double& cage_speed, double& dq_speed) {
    CageMachineModel cage = ExampleCage(nr, dt);
    cage.a30 = 20.0;
    cage.ResetForRun();
    DqMachineModel dq = EquivalentDq(cage);
    double worst = 0.0, largest_theta = 0.0;
    for (int i = 0; i < TruncToInt(0.8 / dt); ++i) {
      const Supply v = Mains(i, dt);
      const PhaseCurrents c = cage.StepStar(v.a, v.b, v.c);
      const PhaseCurrents d = dq.StepStar(v.a, v.b, v.c);
      largest_theta = std::max(largest_theta, std::fabs(cage.theta()));
      worst = std::max(worst, std::fabs(c.omega - d.omega));
    }
    EXPECT_LE(largest_theta, kPi);
    EXPECT_NEAR(cage.Ce(), 20.0, 0.01);
    EXPECT_NEAR(cage.Ie(), 0.0, 1e-9);
    cage_speed = cage.w() / cage.p;
    dq_speed = dq.w() / dq.p;
    return worst;
  };
  for (const int nr : {28, 27}) {
    SCOPED_TRACE(nr);
    double cage_speed = 0, dq_speed = 0;
    const double gap = start_up(nr, 1e-4, cage_speed, dq_speed);
    EXPECT_NEAR(cage_speed, dq_speed, 2e-3);  // rad/s, of 152.2 rad/s (1453 tr/mn)
    EXPECT_LT(gap, 0.01 * 50 * kPi);          // within 1 % of synchronism all along
    if (nr == 28) {                           // halving the step halves the gap
      EXPECT_NEAR(start_up(nr, 2e-4, cage_speed, dq_speed) / gap, 2.0, 0.2);
    }
  }
}

// A broken bar makes the rotor field pulsate: its backward component at slip frequency
// in the rotor, beating with the forward field, gives a torque and speed ripple at twice
// the slip frequency, 2 s f. A healthy twin run alongside shows none.
TEST(CageMachineModel, BrokenBarMakesTheTorqueRippleAtTwiceTheSlipFrequency) {
  const double dt = 1e-4;
  CageMachineModel healthy = ExampleCage(28, dt);
  healthy.a30 = 26.0;  // rated load
  healthy.ResetForRun();
  CageMachineModel broken = healthy;
  std::vector<double> t, healthy_ce, broken_ce;
  double mean_speed = 0.0, broken_bar = 0.0, healthy_bar = 0.0;
  for (int i = 0; i < TruncToInt(2.0 / dt); ++i) {
    if (i * dt >= 0.6) broken.Rb[0] = broken.RbCasse;  // the fault event of the run loop
    const Supply v = Mains(i, dt);
    healthy.StepStar(v.a, v.b, v.c);
    broken.StepStar(v.a, v.b, v.c);
    if (i * dt >= 0.9 && i % 10 == 0) {
      t.push_back(i * dt);
      healthy_ce.push_back(healthy.Ce());
      broken_ce.push_back(broken.Ce());
      mean_speed += broken.w() / broken.p;
      broken_bar = std::max(broken_bar, std::fabs(broken.Ib(0)));
      healthy_bar = std::max(healthy_bar, std::fabs(broken.Ib(14)));
    }
  }
  mean_speed /= t.size();
  // Largest excursion of the torque from its mean over the window, and the instants
  // where it crosses the mean.
  auto ripple = [&t](const std::vector<double>& ce, std::vector<double>* crossings) {
    double mean = 0.0;
    for (const double v : ce) mean += v / ce.size();
    double amplitude = 0.0;
    for (std::size_t k = 1; k < ce.size(); ++k) {
      amplitude = std::max(amplitude, std::fabs(ce[k] - mean));
      if ((ce[k - 1] < mean) != (ce[k] < mean) && crossings) crossings->push_back(t[k]);
    }
    return amplitude;
  };
  // Bar 0, between meshes 0 and 1, carries almost nothing once broken.
  EXPECT_LT(broken_bar, 0.05 * healthy_bar);
  std::vector<double> x;
  EXPECT_GT(ripple(broken_ce, &x), 1000 * ripple(healthy_ce, nullptr));
  ASSERT_GE(x.size(), 6u);
  const double frequency = (x.size() - 1) / (2 * (x.back() - x.front()));
  const double slip = 1 - mean_speed * broken.p / (2 * kPi * 50);
  EXPECT_NEAR(frequency, 2 * slip * 50, 0.05 * 2 * slip * 50);
}

#ifndef MAS_SANITIZED
TEST(CageMachineModel, StepsDoNotAllocate) {
  CageMachineModel m = ExampleCage(28);
  m.ResetForRun();
  const long long probe = g_cage_test_allocations;
  void* volatile block = ::operator new(8);  // not elided: shows the counter works
  ::operator delete(block);
  if (g_cage_test_allocations == probe) GTEST_SKIP() << "allocation counter not installed";
  const long long before = g_cage_test_allocations;
  for (int i = 0; i < 2000; ++i) {
    const Supply v = Mains(i, 1e-4);
    m.StepStar(v.a, v.b, v.c);
    m.StepDelta(v.a, v.b, v.c);
    m.Rb[3] = m.RbCasse;
  }
  EXPECT_EQ(g_cage_test_allocations, before);
}
#endif

}  // namespace
}  // namespace mas

#ifndef MAS_SANITIZED
__attribute__((weak)) void* operator new(std::size_t size) {
  ++g_cage_test_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The compiler cannot see that these pair with the operator new above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
__attribute__((weak)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((weak)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
#endif
