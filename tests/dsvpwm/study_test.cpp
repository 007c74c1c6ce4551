#include "dsvpwm/study.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace mas {
namespace {

namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;

// A fresh folder per test, removed at the end.
class StudyFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("mas_study_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / kDsvpwmDebugFileName).string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string ReadAll() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::vector<double>> DataLines() const {
    std::istringstream in(ReadAll());
    std::vector<std::vector<double>> lines;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      lines.emplace_back();
      for (double x; fields >> x;) lines.back().push_back(x);
    }
    return lines;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(StudyFile, WritesTheExactTableAndAtLeastTheFirstLine) {
  DoubleSvpwm m;
  StandaloneSimulation sim;
  sim.tf = 3e-6;  // t = 0 and t = 2e-6
  const StandaloneOutcome outcome = RunStandaloneSimulation(m, sim, path_);
  ASSERT_TRUE(outcome.ok) << outcome.message;
  EXPECT_EQ(outcome.lines, 2);
  // m = 0.25 at angle 0: Vdsref = 0.25 x 311 x (4/pi) sqrt(3) = 171.46329 V, K0 reference
  // Vdsref/sqrt(3); all legs on at the start of the period, so no voltage and no current.
  const std::string line =
      "98.994375         0                 171.46329         0                 0                "
      " 0                 0                 0                 0                 0                 "
      "0                 1                 1                 \n";
  EXPECT_EQ(ReadAll(),
            "time(s)     Vasref(V)         VasMLI(V)         Valphas(V)        Vbetas(V)         "
            "Ias(A)            Ibs(A)            Ics(A)            dIas(A)           dIbs(A)    "
            "       dIcs(A)           Thetas            Sector            k[0]              \n"
            "0           " +
                line + "2e-06       " + line);
  // The table was written beside itself and renamed: nothing else is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  for (double tf : {1e-6, -1.0}) {
    sim.tf = tf;
    ASSERT_TRUE(RunStandaloneSimulation(m, sim, path_).ok);
    EXPECT_EQ(DataLines().size(), 1u) << "tf = " << tf;
  }
}

// Six R-L phases settle at |V1|/|R + j w L|. The legs switch over the whole bus, -E2 to +E2,
// as in the drive, so the phase voltages' fundamental |V1| is the phase reference itself,
// m (4/pi) E2. With all six legs equal (carrier type, m = 0) nothing flows.
TEST_F(StudyFile, CurrentsSettleAtTheFundamentalOfTheLoad) {
  const double w = 2 * kPi * 50.0;
  for (const auto& [m_index, type] : {std::pair{0.25, 0}, {0.25, 4}, {0.0, 0}}) {
    DoubleSvpwm m;
    m.type = static_cast<ModulationType>(type);
    StandaloneSimulation sim;
    sim.tf = 0.06;
    sim.m = m_index;
    ASSERT_TRUE(RunStandaloneSimulation(m, sim, path_).ok);
    double peak[6] = {};
    for (const auto& v : DataLines()) {
      ASSERT_EQ(v.size(), 14u);
      EXPECT_LE(std::fabs(v[11]), kPi + 1e-7);  // angle wrapped, printed to 8 digits
      if (v[0] < 0.04) continue;                // five time constants L/R
      for (int k = 0; k < 6; ++k) peak[k] = std::max(peak[k], std::fabs(v[5 + k]));
    }
    const double expected = m_index * 4 / kPi * 311.0 / std::hypot(2.0, w * 0.01);
    for (double p : peak) EXPECT_NEAR(p, expected, 0.04 * expected) << m_index << " " << type;
  }
}

TEST_F(StudyFile, FailuresLeaveTheModulatorAndTheOldTableAlone) {
  std::ofstream(path_) << "old table\n";
  DoubleSvpwm m;
  m.Thetas = 1.0;
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [dt, tf] : {std::pair{0.0, 0.08},
                               {-1e-6, 0.08},
                               {std::nan(""), 0.08},
                               {inf, 0.08},
                               {2e-6, inf},
                               {1e-30, 1e3}}) {
    StandaloneSimulation sim{dt, tf, 0.25};
    const StandaloneOutcome refusal = RunStandaloneSimulation(m, sim, path_);
    EXPECT_FALSE(refusal.ok) << dt << " " << tf;
    EXPECT_TRUE(refusal.refused) << dt << " " << tf;
  }
  const std::string missing = (dir_ / "no_such_folder" / kDsvpwmDebugFileName).string();
  const StandaloneOutcome outcome = RunStandaloneSimulation(m, StandaloneSimulation{}, missing);
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(outcome.refused);
  EXPECT_EQ(outcome.message, "Impossible d'ouvrir le fichier " + missing);
  EXPECT_EQ(outcome.caption, "Erreur");
  EXPECT_EQ(m.Thetas, 1.0);
  EXPECT_EQ(ReadAll(), "old table\n");
}

TEST(DsvpwmStudy, SamplesOnePeriodOfLegStates) {
  DoubleSvpwm m;
  m.type = ModulationType::kSixPhaseCarrier;
  SetStudyReference(m, 0.0, 0.0);
  const auto samples = SampleLegStates(m);
  ASSERT_GE(samples.size(), 200u);
  EXPECT_LE(samples.back().t, 2 * m.TMLI);
  for (const LegStateSample& s : samples) {
    const int expected = (s.t < m.TMLI / 2 || s.t >= 1.5 * m.TMLI) ? 1 : 0;
    for (int state : s.state) EXPECT_EQ(state, expected) << s.t;
  }
  EXPECT_EQ(WaveformX(m.TMLI, m.TMLI), 470);
  EXPECT_EQ(WaveformX(1.0, 0.0), std::numeric_limits<int>::max());
  // Steps that would never reach the end of the period give nothing; tiny ones are cut.
  for (double dt : {0.0, -1e-6, std::nan(""), 1e-40}) {
    m.dt = dt;
    EXPECT_TRUE(SampleLegStates(m).empty()) << dt;
  }
  m.dt = 1e-12;
  EXPECT_EQ(SampleLegStates(m, 1000).size(), 1000u);
}

}  // namespace
}  // namespace mas
