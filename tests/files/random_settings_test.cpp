// Property tests over randomly drawn settings. Each draw starts from one of the example
// studies and replaces some settings, or nearly all of them, with values of every kind a
// file or the command line can give: zeros, negative zeros, NaN, infinities, huge and
// subnormal values, every combination of the mode flags, Park-angle sources outside
// 0..10, cages of 0 to 40 bars (arrays sized for Nr or left as they were), fault events
// on bars that do not exist, OutStep, TMLI, NTregI and NTregW at 0 or huge, every hook of
// the optimisers with and without an experimental record. Every run must end with one of
// its outcomes, within the step count its time base gives, without a sanitizer report;
// the same draw run twice gives the same result; and any drawn study written to a file
// reads back with every real rounded to five significant digits.
//
// The time base is shortened so that no run takes more than a few hundred steps (the
// point is the variety of settings, not long runs); the generators are seeded, so a
// failure names the draw that shows it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/run_simulation.h"
#include "engine/settings_fields.h"
#include "files/number_format.h"
#include "files/output_recorder.h"
#include "files/parameter_file.h"

#if defined(MAS_SANITIZED)
#include <sanitizer/common_interface_defs.h>
#endif

namespace mas {
namespace {

namespace fs = std::filesystem;
using Limits = std::numeric_limits<double>;

constexpr int kMaxRunSteps = 600;
constexpr int kMaxCageBars = 40;
constexpr int kRunsPerShard = 5000;

// The draw being run, printed if a sanitizer stops the process.
std::string g_current_draw;

[[maybe_unused]] void PrintCurrentDraw() {
  std::fprintf(stderr, "\nTirage en cours : %s\n", g_current_draw.c_str());
}

struct ScratchFolder {
  ScratchFolder() {
    path = fs::temp_directory_path() /
           ("mas_random_settings_" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(path);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string File(const char* name) const { return (path / name).string(); }
  fs::path path;
};

// The example studies, read once.
const std::vector<std::pair<std::string, SimulationSettings>>& ExampleStudies() {
  static const auto studies = [] {
    std::vector<std::pair<std::string, SimulationSettings>> out;
    const fs::path folder = fs::path(MAS_SOURCE_DIR) / "examples";
    const fs::path echo = fs::temp_directory_path() / "mas_random_settings_echo.dat";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() == ".mas") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      SimulationSettings s;
      s.ParamFileName = file.string();
      SilentPlatform platform;
      ReadParameterFile(s, platform, echo.string());
      out.emplace_back(file.filename().string(), std::move(s));
    }
    std::error_code ec;
    fs::remove(echo, ec);
    return out;
  }();
  return studies;
}

const SimulationSettings& CageExample() {
  for (const auto& [name, s] : ExampleStudies()) {
    if (name == "cage_start.mas") return s;
  }
  throw std::runtime_error("examples/cage_start.mas missing");
}

class SettingsDraw {
 public:
  explicit SettingsDraw(std::uint64_t seed) : rng_(seed) {}

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

  double Real(double current) {
    const double sign = Chance(0.5) ? 1.0 : -1.0;
    switch (Uniform(0, 13)) {
      case 0:
        return 0.0;
      case 1:
        return -0.0;
      case 2:
        return Limits::quiet_NaN();
      case 3:
        return Limits::infinity();
      case 4:
        return -Limits::infinity();
      case 5:
        return sign * 1e300;
      case 6:
        return sign * Limits::max();
      case 7:
        return sign * 1e-310;  // subnormal
      case 8:
        return sign * 1e-30;
      case 9:
        return sign * Limits::min();
      case 10:
        return std::uniform_real_distribution<double>(-1000.0, 1000.0)(rng_);
      default: {
        // Around the study's own value, a factor 1e-3 to 1e3 away, sometimes of the other
        // sign: near-plausible values that reach deeper into the controllers.
        const double factor = std::pow(10.0, std::uniform_real_distribution<double>(-3, 3)(rng_));
        const double base = current != 0.0 && std::isfinite(current) ? current : 1.0;
        return (Chance(0.2) ? -1.0 : 1.0) * base * factor;
      }
    }
  }

  int Integer() {
    switch (Uniform(0, 7)) {
      case 0:
        return 0;
      case 1:
        return 1;
      case 2:
        return -1;
      case 3:
        return std::numeric_limits<int>::min();
      case 4:
        return std::numeric_limits<int>::max();
      case 5:
        return Uniform(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
      default:
        return Uniform(-10, 100);
    }
  }

  int ZeroOne() { return Chance(0.9) ? Uniform(0, 1) : Integer(); }

  // Replaces each settable field with probability p, applying its dependent updates as
  // the command line does. The names changed go to `changed`.
  void Perturb(SimulationSettings& s, double p, std::ostringstream& changed) {
    for (const auto& field : SettableFields(s)) {
      if (!Chance(p)) continue;
      const FieldRef& f = field.ref;
      switch (f.type) {
        case ValueType::kReal:
          f.real() = Real(f.real());
          changed << ' ' << f.name << '=' << f.real();
          break;
        case ValueType::kInt:
          f.integer() = Integer();
          changed << ' ' << f.name << '=' << f.integer();
          break;
        case ValueType::kIntFlag:
          f.integer() = ZeroOne();
          changed << ' ' << f.name << '=' << f.integer();
          break;
        case ValueType::kFlag:
          f.flag() = Chance(0.5);
          changed << ' ' << f.name << '=' << f.flag();
          break;
        case ValueType::kText:
          continue;  // file names stay those of the test
      }
      ApplyFieldUpdate(s, field);
    }
  }

  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
};

// A study drawn for one run, with what the test needs to judge its outcome.
struct Draw {
  std::string description;
  SimulationSettings s;
  RunMode mode = 0;
  bool experiment = false;  // an experimental record is loaded
  int escape_after_polls = -1;
  bool with_sink = true;
  double planned_steps = 0;  // floor((tf - t0)/dt) + 1 when the time base is usable
};

Draw DrawStudy(SettingsDraw& g, int index, std::uint64_t seed) {
  const auto& studies = ExampleStudies();
  const auto& [name, study] =
      studies[static_cast<std::size_t>(g.Uniform(0, static_cast<int>(studies.size()) - 1))];
  Draw d;
  d.s = study;
  SimulationSettings& s = d.s;
  std::ostringstream changed;
  changed.precision(17);
  changed << "graine " << seed << ", tirage " << index << ", " << name << " :";

  // Mild, strong or wild: a few settings, a tenth of them, or half of them.
  const int intensity = g.Uniform(0, 9);
  const double p = intensity < 6 ? 0.01 : (intensity < 9 ? 0.08 : 0.5);
  g.Perturb(s, p, changed);

  // Every combination of the five mode flags, mostly one mode or none.
  if (g.Chance(0.5)) {
    const int mask = g.Chance(0.8) ? (1 << g.Uniform(0, 5)) >> 1 : g.Uniform(0, 31);
    int* flags[] = {&s.VectCtrl, &s.Courant, &s.Statique, &s.DTC, &s.Vf};
    for (int i = 0; i < 5; ++i) *flags[i] = (mask >> i) & 1;
    s.Flux_typ = g.Chance(0.9) ? g.Uniform(0, 10) : g.Uniform(-2, 12);
    s.MLI = g.Uniform(0, 1);
    s.dsvPWM = g.Chance(0.3);
    s.Triangle = g.Chance(0.3);
    changed << " modes=" << mask << " Flux_typ=" << s.Flux_typ << " MLI=" << s.MLI
            << " dsvPWM=" << s.dsvPWM << " Triangle=" << s.Triangle;
  }

  // The cage of the examples with 0 to kMaxCageBars bars, its arrays sized for Nr as a
  // file read sizes them, or left at another size as an override of Nr leaves them.
  if (g.Chance(0.3)) {
    const CageMachineModel& c = CageExample().cage;
    s.cage.SetCageParameters(c.Rayon, c.Long, c.efer, c.Ns, c.Nr, c.Lsl, c.RbSain, c.RbCasse,
                             c.ReSain, c.ReCasse, c.Le, c.Lb);
    g.Perturb(s, p, changed);  // the cage's own values too, now that there is a cage
    s.SpecialModel = true;
    const int choice = g.Uniform(0, 15);
    s.cage.Nr = choice < 4 ? choice : (choice < 8 ? g.Uniform(4, kMaxCageBars) : c.Nr);
    changed << " SpecialModel=1 Nr=" << s.cage.Nr;
  }
  if (s.cage.Nr > kMaxCageBars || s.cage.Nr < -1) s.cage.Nr = g.Uniform(-1, kMaxCageBars);
  if (g.Chance(0.9)) {
    s.cage.AllocateArrays();
    s.cage.ResetBars();
    s.cage.ResetRings();
  } else {
    changed << " (barres allouées " << s.cage.AllocatedBars() << ")";
  }
  s.cage.SetDumpPath("");

  // Sampling periods and counts at their edges: 0 (never samples), huge, negative.
  if (g.Chance(0.3)) {
    const int counts[] = {
        0, 1, 2, 5, -1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()};
    auto count = [&] { return counts[g.Uniform(0, 6)]; };
    s.OutStep = count();
    s.NTregI = count();
    s.NTregW = count();
    const double periods[] = {0.0, 1e-6, 1e-4, 1e-2, -1e-4, 1e300, Limits::quiet_NaN()};
    s.TMLI = periods[g.Uniform(0, 6)];
    s.TEst = periods[g.Uniform(0, 6)];
    s.PushObserverStep();
    changed << " OutStep=" << s.OutStep << " NTregI=" << s.NTregI << " NTregW=" << s.NTregW
            << " TMLI=" << s.TMLI << " TEst=" << s.TEst;
  }
  // Fault events on bars and ring portions inside, at the edge of and outside the cage,
  // due from the start or a little later, with residual resistances of every sign.
  if (g.Chance(0.3)) {
    for (int i = 0; i < 4; ++i) {
      const int indices[] = {0,
                             1,
                             s.cage.Nr - 1,
                             s.cage.Nr,
                             -1,
                             std::numeric_limits<int>::max(),
                             std::numeric_limits<int>::min()};
      s.Rbn[i] = indices[g.Uniform(0, 6)];
      s.Ren[i] = indices[g.Uniform(0, 6)];
      s.RbCasset[i] = g.Chance(0.5) ? 0.0 : g.Real(1e-3);
      s.ReCasset[i] = g.Chance(0.5) ? 0.0 : g.Real(1e-3);
      s.RbRef[i] = g.Real(1e-2);
      s.ReRef[i] = g.Real(1e-4);
      changed << " Rbn" << i + 1 << '=' << s.Rbn[i] << " Ren" << i + 1 << '=' << s.Ren[i]
              << " RbRef" << i + 1 << '=' << s.RbRef[i] << " ReRef" << i + 1 << '=' << s.ReRef[i];
    }
  }

  // The time base: mostly a usable step between 0.1 us and 0.1 ms, then kept when short
  // and otherwise cut to a few hundred steps.
  if (g.Chance(0.9) && !(std::isfinite(s.dt) && s.dt > 0)) {
    s.dt = std::pow(10.0, std::uniform_real_distribution<double>(-7, -4)(g.rng()));
    s.PushStep();
  }
  const int cap = g.Uniform(1, kMaxRunSteps);
  if (std::isfinite(s.dt) && s.dt > 0 && std::isfinite(s.t0) && std::isfinite(s.tf) &&
      !((s.tf - s.t0) / s.dt <= cap)) {
    s.tf = s.t0 + cap * s.dt;
  }
  d.planned_steps = std::floor((s.tf - s.t0) / s.dt) + 1;
  changed << " t0=" << s.t0 << " tf=" << s.tf << " dt=" << s.dt;

  s.FileLoaded = g.Chance(0.97);
  s.CreateOutputFile = g.Chance(0.8);
  s.DisplayProgressBar = g.Chance(0.5);
  s.OutFileName = "/dev/null";
  d.with_sink = g.Chance(0.8);
  d.escape_after_polls = g.Chance(0.8) ? -1 : g.Uniform(0, 3);
  d.mode = g.Chance(0.75) ? 0 : (g.Chance(0.9) ? g.Uniform(1, 6) : (g.Chance(0.5) ? -1 : 7));
  d.experiment = g.Chance(0.5);
  changed << " FileLoaded=" << s.FileLoaded << " CreateOutputFile=" << s.CreateOutputFile
          << " DisplayProgressBar=" << s.DisplayProgressBar << " sink=" << d.with_sink
          << " escape=" << d.escape_after_polls << " RunMode=" << d.mode
          << " record=" << d.experiment;
  d.description = changed.str();
  return d;
}

// A measured-like start-up: 200 rows over 1 s.
void LoadRecord(ExperimentalData& e) {
  for (int i = 0; i < 200; ++i) {
    const double t = i * 0.005;
    e.ExpTime.push_back(t);
    e.ExpWm.push_back(1500 * (1 - std::exp(-t / 0.1)));
    e.ExpIas.push_back(30 * std::exp(-t / 0.05) * std::sin(314.16 * t));
  }
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A real as the file gives it back: its five-significant-digit text, read; the largest
// doubles, which would round beyond the range of a double, as 1.7976e308.
double WrittenThenRead(double x) {
  if (std::isfinite(x) && std::fabs(x) > 1.7976e308) return std::copysign(1.7976e308, x);
  const std::string text = FormatLeftG(x, 5, 0);
  return std::strtod(text.c_str(), nullptr);
}

struct RunResult {
  RunOutcome outcome;
  RecordingPlatform platform;
  double Ce = 0, Wm = 0, CostIdent = 0, CostReg = 0;
};

RunResult RunDraw(const Draw& d, const std::string& snapshot) {
  RunResult r;
  SimulationSettings s = d.s;
  CarriedState carried;
  if (d.experiment) LoadRecord(carried.experiment);
  r.platform.escape_after_polls = d.escape_after_polls;
  OutputRecorder recorder(1 << 14);
  recorder.SetSnapshotPath(snapshot);
  OutputSink* sink = d.with_sink ? &recorder : nullptr;
  // The identification hooks compare with tables that a table-building run makes first.
  if ((d.mode == 1 || d.mode == 6) && d.experiment) {
    SilentPlatform silent;
    BuildExperimentalTables(s, carried, silent, nullptr);
  }
  r.outcome = RunSimulation(s, carried, r.platform, sink, false, d.mode);
  r.Ce = s.SpecialModel ? s.cage.Ce() : s.dq.Ce();
  r.Wm = s.SpecialModel ? s.cage.w() : s.dq.w();
  r.CostIdent = carried.CostIdent;
  r.CostReg = carried.CostReg;
  return r;
}

int ModesSelected(const SimulationSettings& s) {
  return (s.VectCtrl != 0) + (s.Courant != 0) + (s.Statique != 0) + (s.DTC != 0) + (s.Vf != 0);
}

// What every outcome must satisfy; empty when it does.
std::string CheckOutcome(const Draw& d, const RunResult& r) {
  const RunOutcome& out = r.outcome;
  const SimulationSettings& s = d.s;
  const bool refused = out.status == RunStatus::kRefused || out.status == RunStatus::kModelError;
  if (refused) {
    if (out.steps != 0) return "une exécution refusée a fait des pas";
    if (out.message.empty() || r.platform.messages.empty()) return "refus sans message";
    return {};
  }
  if (!s.FileLoaded) return "exécution sans fichier chargé";
  if (out.steps < 1) return "aucun pas";
  if (ModesSelected(s) > 1 && out.status != RunStatus::kNoMode) {
    return "plusieurs modes sans le message qui le dit";
  }
  if (d.planned_steps >= 1 && out.steps > d.planned_steps + 1) {
    return "plus de pas que la base de temps n'en donne : " + std::to_string(out.steps);
  }
  switch (out.status) {
    case RunStatus::kReachedEnd:
      if (!(out.t_end > s.tf)) return "fin atteinte avant tf";
      if (ModesSelected(s) > 1) return "plusieurs modes et pourtant fin atteinte";
      break;
    case RunStatus::kNoMode:
      if (ModesSelected(s) < 2 || out.steps != 1) return "kNoMode mal placé";
      break;
    case RunStatus::kInterrupted:
      if (d.escape_after_polls < 0) return "interruption sans Échap";
      if (r.CostIdent != -1.0 || r.CostReg != -1.0) return "coûts d'une interruption";
      break;
    case RunStatus::kDiverged:
      if (r.CostIdent != 1e50 || r.CostReg != 1e50) return "coûts d'une divergence";
      break;
    default:
      return "statut inconnu " + std::to_string(static_cast<int>(out.status));
  }
  return {};
}

void RunShard(std::uint64_t seed) {
  ScratchFolder scratch;
  const std::string snapshot = scratch.File("Ib.dat");
  SettingsDraw g(seed);
  std::array<int, 6> by_status{};
  long long steps = 0;
  for (int i = 0; i < kRunsPerShard; ++i) {
    const Draw d = DrawStudy(g, i, seed);
    g_current_draw = d.description;
    const RunResult r = RunDraw(d, snapshot);
    ++by_status[static_cast<std::size_t>(r.outcome.status)];
    steps += r.outcome.steps;
    const std::string problem = CheckOutcome(d, r);
    ASSERT_TRUE(problem.empty()) << problem << "\n" << d.description;
    // Every eighth draw runs again: a run is a function of its settings and carried state.
    if (i % 8 == 0) {
      const RunResult again = RunDraw(d, snapshot);
      ASSERT_EQ(again.outcome.status, r.outcome.status) << d.description;
      ASSERT_EQ(again.outcome.steps, r.outcome.steps) << d.description;
      ASSERT_TRUE(SameBits(again.Ce, r.Ce) && SameBits(again.Wm, r.Wm) &&
                  SameBits(again.CostIdent, r.CostIdent) && SameBits(again.CostReg, r.CostReg))
          << "deux exécutions du même tirage diffèrent\n"
          << d.description;
    }
  }
  ::testing::Test::RecordProperty("steps", std::to_string(steps));
  for (int k = 0; k < 6; ++k) {
    ::testing::Test::RecordProperty("status" + std::to_string(k), by_status[k]);
  }
  // The draws reach every common way a run can end (a cage that cannot be prepared is
  // rarer: a few draws in all the shards).
  for (RunStatus status : {RunStatus::kReachedEnd, RunStatus::kInterrupted, RunStatus::kDiverged,
                           RunStatus::kNoMode, RunStatus::kRefused}) {
    EXPECT_GT(by_status[static_cast<std::size_t>(status)], 0)
        << "statut " << static_cast<int>(status);
  }
}

class RandomSettings : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(MAS_SANITIZED)
    __sanitizer_set_death_callback(PrintCurrentDraw);
#endif
  }
};

// Four shards of kRunsPerShard draws, so that ctest spreads them over the cores.
TEST_F(RandomSettings, EveryRunEndsWithAnOutcomeWithinItsStepsShard1) { RunShard(1); }
TEST_F(RandomSettings, EveryRunEndsWithAnOutcomeWithinItsStepsShard2) { RunShard(2); }
TEST_F(RandomSettings, EveryRunEndsWithAnOutcomeWithinItsStepsShard3) { RunShard(3); }
TEST_F(RandomSettings, EveryRunEndsWithAnOutcomeWithinItsStepsShard4) { RunShard(4); }

// Any drawn study, however wild, is written as a file that reads back to the same
// settings with every real rounded to five significant digits, and writes the same file
// again.
TEST_F(RandomSettings, AnyStudyWrittenReadsBackRoundedToFiveDigits) {
  ScratchFolder scratch;
  const std::string path = scratch.File("drawn.mas");
  const std::string again_path = scratch.File("again.mas");
  SettingsDraw g(5);
  for (int i = 0; i < 1000; ++i) {
    const Draw d = DrawStudy(g, i, 5);
    SimulationSettings written = d.s;
    WriteParameterFile(written, path);
    SimulationSettings read;
    read.ParamFileName = path;
    SilentPlatform platform;
    ASSERT_NO_THROW(ReadParameterFile(read, platform, scratch.File("echo.dat"))) << d.description;
    const auto a = SettableFields(written);
    const auto b = SettableFields(read);
    for (std::size_t k = 0; k < a.size(); ++k) {
      if (a[k].record == 0) continue;  // not stored in the file
      const FieldRef& x = a[k].ref;
      const FieldRef& y = b[k].ref;
      switch (x.type) {
        case ValueType::kReal: {
          const double expected = WrittenThenRead(x.real());
          ASSERT_TRUE(SameBits(y.real(), expected) ||
                      (std::isnan(expected) && std::isnan(y.real()) &&
                       std::signbit(expected) == std::signbit(y.real())))
              << x.name << " écrit " << x.real() << " relu " << y.real() << "\n"
              << d.description;
          break;
        }
        case ValueType::kInt:
        case ValueType::kIntFlag:
          ASSERT_EQ(x.integer(), y.integer()) << x.name << "\n" << d.description;
          break;
        case ValueType::kFlag:
          ASSERT_EQ(x.flag(), y.flag()) << x.name << "\n" << d.description;
          break;
        case ValueType::kText:
          break;
      }
    }
    WriteParameterFile(read, again_path);
    std::ifstream f1(path), f2(again_path);
    const std::string t1((std::istreambuf_iterator<char>(f1)), {});
    const std::string t2((std::istreambuf_iterator<char>(f2)), {});
    ASSERT_EQ(t1, t2) << d.description;
  }
}

// Findings of the draws, kept as named cases --------------------------------------------

// A DC test at 0 V on the examples' machine: nothing in it can diverge, so only the time
// base decides how the run ends.
SimulationSettings QuietStudy(double t0, double tf, double dt) {
  SimulationSettings s = ExampleStudies().front().second;
  s.Statique = 1;
  s.Vcss = 0.0;
  s.SpecialModel = false;
  s.t0 = t0;
  s.tf = tf;
  s.dt = dt;
  s.PushStep();
  s.CreateOutputFile = false;
  s.DisplayProgressBar = true;
  return s;
}

RunOutcome RunQuiet(SimulationSettings s, int escape_after_polls = -1) {
  CarriedState carried;
  RecordingPlatform platform;
  platform.escape_after_polls = escape_after_polls;
  return RunSimulation(s, carried, platform, nullptr, false, 0);
}

// At t = 2^52 the doubles are 1 apart. A step of 0.5 moves tf = 2^52 + 1 (odd) up to
// 2^52 + 2, but leaves t0 = 2^52 (even) where it is: the run would never end, and with no
// progress it would never poll Escape either.
TEST(RunTimeBase, StepThatRoundsBackToTheSameTimeIsRefused) {
  const double two52 = 4503599627370496.0;
  const RunOutcome stalled = RunQuiet(QuietStudy(two52, two52 + 1, 0.5));
  EXPECT_EQ(stalled.status, RunStatus::kRefused);
  EXPECT_THAT(stalled.message, ::testing::HasSubstr("Paramètres temporels invalides"));
  EXPECT_EQ(stalled.steps, 0);
  // A step of the spacing itself moves every t: the run ends after its five steps, and so
  // does one with negative times, whose spacing shrinks as t nears 0.
  const RunOutcome spaced = RunQuiet(QuietStudy(two52, two52 + 4, 1.0));
  EXPECT_EQ(spaced.status, RunStatus::kReachedEnd);
  EXPECT_EQ(spaced.steps, 5);
  const RunOutcome negative = RunQuiet(QuietStudy(-two52, -two52 + 4, 1.0));
  EXPECT_EQ(negative.status, RunStatus::kReachedEnd);
  EXPECT_EQ(negative.steps, 5);
}

// The run's counters are 32-bit: a time base of more than a billion steps (which would
// also take hours) is refused before the first step, while one of exactly a billion runs
// (here stopped by Escape at its first poll, kInterruptPollSteps steps in).
TEST(RunTimeBase, MoreThanABillionStepsAreRefused) {
  const RunOutcome too_long = RunQuiet(QuietStudy(0.0, 2000.0, 1e-6));
  EXPECT_EQ(too_long.status, RunStatus::kRefused);
  EXPECT_THAT(too_long.message, ::testing::HasSubstr("milliard de pas"));
  EXPECT_EQ(RunQuiet(QuietStudy(1e9, 2e9 + 1, 1.0)).status, RunStatus::kRefused);
  const RunOutcome billion = RunQuiet(QuietStudy(1e9, 2e9, 1.0), 0);
  EXPECT_EQ(billion.status, RunStatus::kInterrupted);
  EXPECT_EQ(billion.steps, kInterruptPollSteps);
}

}  // namespace
}  // namespace mas
