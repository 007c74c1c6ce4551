#include "files/output_recorder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "examples/example_machine.h"
#include "platform/platform.h"
#include "tests/file_size_limit.h"

namespace mas {
namespace {

// Heap allocations made by this process, counted where the sanitizers do not own the
// allocator, to show that a data line costs none.
#ifndef MAS_SANITIZED
long long g_allocations = 0;
#endif

// A file name of this test alone: the tests run in parallel processes, and several builds
// may run the suite at the same time.
std::string TempPath(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "mas_" + test->test_suite_name() + "_" + test->name() + "_" +
         std::to_string(::getpid()) + "_" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

template <class T>
std::string Printf(const char* format, T value) {
  char cell[128];
  std::snprintf(cell, sizeof cell, format, value);
  return cell;
}

std::string HeaderOf(const std::vector<std::string>& names) {
  std::string header = "time(s)     ";
  for (const std::string& name : names) header += Printf("%-16s  ", name.c_str());
  return header + "\n";
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A run's quantities built by hand, and the table the recorder writes for them.
struct Table {
  SimulationSettings settings;
  RunState state;
  ExperimentalData experiment;

  RunView View() const {
    return {settings, state, settings.dq, settings.cage, settings.observer, experiment, 0};
  }

  // Header and one line per time; returns the file's bytes.
  std::string Write(const std::vector<double>& times, std::size_t buffer = 1 << 20) {
    const std::string path = TempPath("recorder_table.dat");
    OutputRecorder recorder(buffer);
    EXPECT_TRUE(recorder.Open(path));
    recorder.WriteHeader(View());
    for (double t : times) {
      state.t = t;
      recorder.WriteLine(View());
    }
    recorder.Close();
    EXPECT_FALSE(recorder.WriteFailed());
    const std::string text = ReadFile(path);
    std::remove(path.c_str());
    return text;
  }
};

TEST(OutputRecorder, WritesOnlyTheTimeWhenNoColumnIsSelected) {
  for (double td0 : {0.0, 0.2}) {
    Table table;
    table.settings.td0 = td0;
    const std::vector<double> times = {0.0, 1e-5, 0.25, 12345.678901, -2.5};
    std::string expected = "time(s)     \n";
    for (double t : times) expected += Printf("%-10.8g  ", td0 != 0 ? t - td0 : t) + "\n";
    EXPECT_EQ(table.Write(times), expected) << "td0 = " << td0;
  }
}

TEST(OutputRecorder, SelectionsGiveTheirColumnsInTableOrder) {
  struct Case {
    const char* what;
    std::function<void(SimulationSettings&)> select;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"Es alpha writes the raw and the filtered EMF",
       [](SimulationSettings& s) { s.OutSel[kOutEsalpha] = 1; },
       {"Esalpha(V)", "EasF(V)"}},
      {"Flou writes the six regulator inputs",
       [](SimulationSettings& s) { s.OutSel[kOutFlou] = 1; },
       {"WErr(rd/s)", "WdErr(rd/s2)", "IdsErr(A)", "IdsdErr(A/s)", "IqsErr(A)", "IqsdErr(A/s)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Table table;
    c.select(table.settings);
    EXPECT_EQ(OutputHeaderText(table.settings), HeaderOf(c.names));
    const std::string file = table.Write({0.0});
    EXPECT_EQ(file.substr(0, file.find('\n') + 1), HeaderOf(c.names));
    EXPECT_EQ(Words(file.substr(file.find('\n'))).size(), c.names.size() + 1);
  }
}

// Every column at once, each fed by its own quantity, so that a column reading the wrong
// quantity or standing at the wrong place shows.
TEST(OutputRecorder, WritesEveryColumnOfTheTable) {
  Table table;
  SimulationSettings& s = table.settings;
  s.OutSel.fill(1);
  s.OutSelStator.fill(1);
  s.OutSensor = 1;
  s.mp = 2, s.mM = 0.15, s.mLr = 0.16;
  s.dq.SetElectricalParameters(1.2, 0.9, 0.16, 0.16, 0.15);
  s.dq.SetMechanicalParameters(2, 0.02, 0.001, 0.002, 1.5);
  s.dq.SetStep(1e-4);
  s.dq.ResetForRun();
  s.dq.StepStar(300.0, -150.0, -150.0);
  FluxObserver& obs = s.observer;
  obs.mRs = 1.1, obs.mp = 2;
  obs.IalphasObs = 4.1, obs.IbetasObs = -4.2, obs.PhialphasObs = 0.43, obs.PhibetasObs = 0.44;
  obs.Valpha = 45.0, obs.Vbeta = -46.0;
  RunState& r = table.state;
  r.WmMeas = 100.0, r.IasMeas = 3.01, r.Vas = 1234.56789, r.Idsref = 5.01, r.Iqsref = 7.01;
  r.Vdsref = 9.01, r.Vqsref = 10.01;
  EstimatorState& e = r.est;
  e.Ids = 3.5, e.Iqs = -7.25, e.EsalphaF = 13.01, e.EsbetaF = 14.01, e.thetas = 19.01;
  e.Phi_alpha_s = 0.8, e.Phi_beta_s = -0.6, e.Phi_alpha_r = -0.7, e.Phi_beta_r = 0.3;
  e.Phidr = 26.01, e.Phi1s = 0.0, e.Phi2s = 0.9, e.IasF = 29.01, e.IbsF = 30.01;
  e.IdsF = 31.01, e.IqsF = 32.01, e.Ws = 34.01;
  r.reg.WErr = 56.01, r.reg.WdErr = 57.01, r.reg.IdsErr = 58.01, r.reg.IdsdErr = 59.01;
  r.reg.IqsErr = 60.01, r.reg.IqsdErr = 61.01;
  e.PhisEst = 62.01, e.PhisObsMag = 63.01, e.IdsCorr = 64.01, e.WslS = 65.01;
  e.WslSF = 66.01, e.ThetaDir = 67.01, e.ThetaInd = 68.01, e.WsDir = 69.01;
  e.WmEst = 70.01, e.StatorMode = -3, e.StatorModeFN = 72.01;
  r.sensor = {.EtatCapteur = 5, .InhibFlag = 1, .Imes = {81.01, 82.01, 83.01}};

  const DqMachineModel& dq = s.dq;
  struct Cell {
    const char* name;
    double value;
    bool integer = false;
  };
  // clang-format off
  const std::vector<Cell> cells = {
      {"Ce(Nm)", 1.5 * 2 * 0.15 * 0.15 / 0.16 * 3.5 * -7.25},
      {"Vitesse(tr/mn)", 100.0 * 30.0 / kPi}, {"Ias(A)", 3.01}, {"Vas(V)", 1234.56789},
      {"Idsref(A)", 5.01}, {"Ids(A)", 3.5}, {"Iqsref(A)", 7.01}, {"Iqs(A)", -7.25},
      {"Vdsref(V)", 9.01}, {"Vqsref(V)", 10.01},
      {"Esalpha(V)", dq.Valphas - 1.2 * dq.isAlpha()}, {"Esbeta(V)", dq.Vbetas - 1.2 * dq.isBeta()},
      {"EasF(V)", 13.01}, {"EbsF(V)", 14.01},
      {"IdsMAS(A)", dq.isAlpha()}, {"IqsMAS(A)", dq.isBeta()}, {"CeMAS(Nm)", dq.Ce()},
      {"CrMAS(Nm)", dq.Cr()}, {"theta_s(rd)", 19.01},
      {"ang_phi_s(rd)", std::atan(-0.6 / 0.8)}, {"ang_phi_r(rd)", std::atan(0.3 / -0.7) + kPi},
      {"Phi_alpha_s(Wb)", 0.8}, {"Phi_beta_s(Wb)", -0.6}, {"Phi_alpha_r(Wb)", -0.7},
      {"Phi_beta_r(Wb)", 0.3}, {"Phidr(Wb)", 26.01}, {"Phi1s(Wb)", 0.0}, {"Phi2s(Wb)", 0.9},
      {"IasF(A)", 29.01}, {"IbsF(A)", 30.01}, {"IdsF(A)", 31.01}, {"IqsF(A)", 32.01},
      {"ang_s_corr(rd)", 0.0}, {"Ws(rd/s)", 34.01},
      {"IalphasObs(A)", 4.1}, {"IbetasObs(A)", -4.2}, {"PhiasObs(Wb)", 0.43},
      {"PhibsObs(Wb)", 0.44}, {"EalphasObs(V)", 45.0 - 1.1 * 4.1},
      {"EbetasObs(V)", -46.0 - 1.1 * -4.2}, {"CeObs(V)", 1.5 * 2 * (0.43 * -4.2 - 4.1 * 0.44)},
      {"WErr(rd/s)", 56.01}, {"WdErr(rd/s2)", 57.01}, {"IdsErr(A)", 58.01},
      {"IdsdErr(A/s)", 59.01}, {"IqsErr(A)", 60.01}, {"IqsdErr(A/s)", 61.01},
      {"Phids", 62.01}, {"PhisM", 63.01}, {"Idqs", 64.01}, {"Wsl_Stator", 65.01},
      {"Wsl_StatorFiltre", 66.01}, {"PhisTheta", 67.01}, {"thInd", 68.01}, {"PhisWs", 69.01},
      {"WmEst", 70.01 * 30.0 / kPi}, {"StatorMode", -3, true}, {"StatorModeFN", 72.01},
      {"EtatCapteur", 5, true}, {"InhibFlag", 1, true},
      {"Imes0", 81.01}, {"Imes1", 82.01}, {"Imes2", 83.01}};
  // clang-format on

  std::vector<std::string> names;
  std::string line = Printf("%-10.8g  ", 0.125);
  for (const Cell& cell : cells) {
    names.push_back(cell.name);
    line +=
        cell.integer ? Printf("%-16d  ", TruncToInt(cell.value)) : Printf("%-16.8g  ", cell.value);
  }
  // A buffer smaller than the header makes the recorder hand text over in pieces.
  for (std::size_t buffer : {std::size_t{256}, OutputFileBuffer::kDefaultCapacity}) {
    SCOPED_TRACE(buffer);
    const std::string file = table.Write({0.125}, buffer);
    const std::string header = file.substr(0, file.find('\n') + 1);
    std::vector<std::string> words = {"time(s)"};
    words.insert(words.end(), names.begin(), names.end());
    EXPECT_EQ(Words(header), words);
    EXPECT_EQ(header, HeaderOf(names));
    EXPECT_EQ(file.substr(header.size()), line + "\n");
  }
  EXPECT_NE(line.find("1234.5679         "), std::string::npos);
}

// The cells of the file against printf on the same values, through a buffer small enough
// to be handed to the file many times.
TEST(OutputRecorder, CageColumnsExpandOverTheSelectedBars) {
  Table table;
  CageMachineModel& cage = table.settings.cage;
  cage.SetMechanicalParameters(2, 0.0131, 0, 0, 0);
  cage.SetCageParameters(0.05, 0.12, 0.35e-3, 130, 12, 2.9e-3, 1.64e-4, 1.64e-2, 3.5e-6, 3.5e-4,
                         2e-8, 8.2e-7);
  cage.SetStep(1e-5);
  cage.AllocateArrays();
  cage.ResetBars();
  cage.ResetRings();
  cage.SetDumpPath("");
  cage.ResetForRun();
  for (int i = 0; i < 50; ++i) cage.StepStar(300, -150, -150);
  table.settings.OutSelCage[kCageIe] = 1;
  table.settings.OutSelCage[kCagePolaireLoop] = 1;
  cage.BarreSel[0] = cage.BarreSel[11] = 1;
  cage.LoopSel[1] = 1;
  cage.AnneauSel[2] = 1;
  // Fixed columns first, then the passes in row order: bars, rings, then the polar loops.
  auto bar = [](const char* prefix, int i) { return prefix + Printf("%-14d", i) + "  "; };
  const std::string expected_header = "time(s)     " + Printf("%-16s  ", "Ie_") + bar("Ib", 0) +
                                      bar("Ib", 11) + bar("Ian", 2) + bar("Ilalpha", 1) +
                                      bar("Ilbeta", 1) + "\n";
  EXPECT_EQ(OutputHeaderText(table.settings), expected_header);
  const std::string file = table.Write({0.0});
  ASSERT_EQ(file.substr(0, expected_header.size()), expected_header);
  const double angle = 1 * cage.alpha;
  const std::string line = Printf("%-10.8g  ", 0.0) + Printf("%-16.8g  ", cage.Ie()) +
                           Printf("%-16.8g  ", cage.Ib(0)) + Printf("%-16.8g  ", cage.Ib(11)) +
                           Printf("%-16.8g  ", cage.Ian(2)) +
                           Printf("%-16.8g  ", cage.Ir(1) * std::cos(angle)) +
                           Printf("%-16.8g  ", cage.Ir(1) * std::sin(angle)) + "\n";
  EXPECT_EQ(file.substr(expected_header.size()), line);
  // The last bar closes the cage: mesh 11 against mesh 0.
  EXPECT_EQ(cage.Ib(11), cage.Ir(11) - cage.Ir(0));
}

TEST(OutputRecorder, BarSnapshotIsTakenOnceFromSevenTenthsOfASecond) {
  Table table;
  CageMachineModel& cage = table.settings.cage;
  cage.SetMechanicalParameters(2, 0.0131, 0, 0, 0);
  cage.SetCageParameters(0.05, 0.12, 0.35e-3, 130, 3, 2.9e-3, 1.64e-4, 1.64e-2, 3.5e-6, 3.5e-4,
                         2e-8, 8.2e-7);
  cage.AllocateArrays();
  cage.ResetBars();
  cage.ResetRings();
  cage.SetDumpPath("");
  cage.ResetForRun();
  table.settings.OutSelCage[kCageCapt] = 1;
  table.settings.SpecialModel = true;
  const std::string snapshot = TempPath("Ib.dat");
  std::remove(snapshot.c_str());
  OutputRecorder recorder;
  recorder.SetSnapshotPath(snapshot);
  ASSERT_TRUE(recorder.Open(TempPath("snapshot_table.dat")));
  recorder.WriteHeader(table.View());
  table.state.t = 0.69;
  recorder.WriteLine(table.View());
  EXPECT_FALSE(std::ifstream(snapshot).good());
  table.state.t = 0.7;
  recorder.WriteLine(table.View());
  EXPECT_EQ(ReadFile(snapshot), "0  0.000000\n1  0.000000\n2  0.000000\n");
  std::remove(snapshot.c_str());
  table.state.t = 0.8;
  recorder.WriteLine(table.View());
  EXPECT_FALSE(std::ifstream(snapshot).good());  // at most once a run
  recorder.Close();

  // Without the cage model there are no bars: no snapshot, not even an empty file.
  table.settings.SpecialModel = false;
  ASSERT_TRUE(recorder.Open(TempPath("snapshot_table.dat")));
  recorder.WriteHeader(table.View());
  recorder.WriteLine(table.View());
  recorder.Close();
  EXPECT_FALSE(std::ifstream(snapshot).good());
}

TEST(OutputFileBuffer, CellsAreTheBytesOfPrintf) {
  using Limits = std::numeric_limits<double>;
  std::vector<double> values = {0.0,
                                -0.0,
                                Limits::quiet_NaN(),
                                -Limits::quiet_NaN(),
                                Limits::infinity(),
                                -Limits::infinity(),
                                Limits::max(),
                                Limits::lowest(),
                                Limits::denorm_min(),
                                Limits::min(),
                                1234.56789,
                                99999999.5,
                                0.000099999999,
                                2.5e-7};
  // Around every decade boundary the text switches length or form.
  for (int x = -7; x <= 10; ++x) {
    double edge = std::pow(10.0, x);
    for (double v : {edge, edge * (1 - 5e-9), edge * (1 - 4e-9), edge * (1 - 6e-9)}) {
      double below = v, above = v;
      for (int ulp = 0; ulp < 3; ++ulp) {
        below = std::nextafter(below, 0.0);
        above = std::nextafter(above, 1e300);
        values.insert(values.end(), {v, below, above, -v});
      }
    }
  }
  std::mt19937_64 random(7);
  std::uniform_int_distribution<long long> eight_digits(10000000, 99999999);
  std::uniform_int_distribution<int> decade(-30, 30);
  std::uniform_int_distribution<int> shift(-2, 12);
  std::uniform_real_distribution<double> exponent(-320.0, 308.0);
  std::uniform_real_distribution<double> drive_exponent(-6.0, 9.0);
  for (int i = 0; i < 30000; ++i) {
    // Any bit pattern; magnitudes spread over every decade, and over those of a drive;
    // decimal halves at the ninth digit: exact ties for the integers, the doubles nearest
    // to a tie and their neighbours once scaled.
    std::uint64_t bits = random();
    double any;
    std::memcpy(&any, &bits, sizeof any);
    values.push_back(any);
    values.push_back((i % 2 ? -1 : 1) * std::pow(10.0, exponent(random)));
    values.push_back((i % 2 ? -1 : 1) * std::pow(10.0, drive_exponent(random)));
    const long long tie_digits = eight_digits(random) * 10 + 5;
    values.push_back(static_cast<double>(tie_digits));
    values.push_back(static_cast<double>(tie_digits) * std::pow(10.0, decade(random)));
    const double near_tie = static_cast<double>(tie_digits) / std::pow(10.0, shift(random));
    values.insert(values.end(),
                  {near_tie, std::nextafter(near_tie, 0.0), std::nextafter(near_tie, 1e300)});
  }
  std::vector<long long> integers = {0, -1, 2147483647, -2147483648LL, 123456789012345LL};
  for (int i = 0; i < 1000; ++i) integers.push_back(static_cast<int>(random()));

  const std::string path = TempPath("recorder_cells.dat");
  std::string expected;
  OutputFileBuffer file(200);
  ASSERT_TRUE(file.Open(path));
  for (double v : values) {
    file.AppendReal(v);
    file.AppendTime(v);
    expected += Printf("%-16.8g  ", v) + Printf("%-10.8g  ", v);
  }
  for (long long n : integers) {
    file.AppendInteger(n);
    expected += Printf("%-16lld  ", n);
  }
  file.EndLine();
  file.Close();
  EXPECT_FALSE(file.WriteFailed());
  const std::string written = ReadFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(written.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(written[i], expected[i])
        << "at byte " << i << ", expected \"" << expected.substr(i < 20 ? 0 : i - 20, 60)
        << "\"\n got \"" << written.substr(i < 20 ? 0 : i - 20, 60) << '"';
  }
}

TEST(OutputRecorder, OpenCreatesTruncatesOrRefuses) {
  Table table;
  table.settings.OutSel[kOutFlou] = 1;
  table.Write({0.0, 1.0, 2.0, 3.0});
  table.settings.OutSel[kOutFlou] = 0;
  EXPECT_EQ(table.Write({0.0}), "time(s)     \n" + Printf("%-10.8g  ", 0.0) + "\n");

  OutputRecorder recorder;
  EXPECT_FALSE(recorder.Open(TempPath("no_such_folder/out.dat")));
  EXPECT_FALSE(recorder.IsOpen());
  recorder.WriteHeader(table.View());
  recorder.WriteLine(table.View());
  recorder.Close();
  recorder.Close();
  EXPECT_FALSE(recorder.WriteFailed());
}

// The table of a run replaces the previous one only when it was written whole: a disk
// that fills up during the run (here the file-size limit, which stops even the
// super-user) leaves the previous table as it was, and no temporary file behind.
TEST(OutputRecorder, ATableThatCannotBeWrittenWholeKeepsThePreviousOne) {
  const std::string path = TempPath("previous_table.dat");
  std::ofstream(path, std::ios::binary) << "previous table\n";
  Table table;
  table.settings.OutSel.fill(1);
  OutputRecorder recorder(256);

  constexpr std::size_t kLimit = 4000;
  {
    const testing::FileSizeLimit full_disk(kLimit);
    ASSERT_TRUE(full_disk.active());
    ASSERT_TRUE(recorder.Open(path));
    recorder.WriteHeader(table.View());
    for (int i = 0; i < 100; ++i) recorder.WriteLine(table.View());
    recorder.Close();
  }
  EXPECT_TRUE(recorder.WriteFailed());
  EXPECT_EQ(ReadFile(path), "previous table\n");

  // Without the limit the same table takes the previous one's place at Close only.
  ASSERT_TRUE(recorder.Open(path));
  recorder.WriteHeader(table.View());
  for (int i = 0; i < 100; ++i) recorder.WriteLine(table.View());
  EXPECT_EQ(ReadFile(path), "previous table\n");
  recorder.Close();
  EXPECT_FALSE(recorder.WriteFailed());
  const std::string written = ReadFile(path);
  EXPECT_EQ(written.rfind(OutputHeaderText(table.settings), 0), 0u);
  EXPECT_GT(written.size(), 10 * kLimit);  // well beyond the limit of the failed run
  const std::filesystem::path file(path);
  const std::string temporary = "." + file.filename().string() + ".tmp";
  for (const auto& e : std::filesystem::directory_iterator(file.parent_path())) {
    EXPECT_NE(e.path().filename().string().rfind(temporary, 0), 0u) << e.path();
  }
  std::remove(path.c_str());
}

TEST(OutputRecorder, RemembersAFailedWriteAndGoesOn) {
  if (!std::ifstream("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Table table;
  table.settings.OutSel.fill(1);
  OutputRecorder recorder(256);
  ASSERT_TRUE(recorder.Open("/dev/full"));
  recorder.WriteHeader(table.View());
  for (int i = 0; i < 100; ++i) recorder.WriteLine(table.View());
  EXPECT_TRUE(recorder.WriteFailed());
  recorder.Close();
  EXPECT_TRUE(recorder.WriteFailed());
  // The next run starts with a clean record.
  const std::string path = TempPath("after_full.dat");
  ASSERT_TRUE(recorder.Open(path));
  EXPECT_FALSE(recorder.WriteFailed());
  recorder.Close();
  std::remove(path.c_str());
}

#ifndef MAS_SANITIZED
TEST(OutputRecorder, DataLinesDoNotAllocate) {
  Table table;
  table.settings.OutSel.fill(1);
  table.settings.OutSelStator.fill(1);
  table.settings.OutSensor = 1;
  // The CSV cells go through the same buffer; the .mat values into room reserved for the
  // run's rows at the header.
  table.settings.tf = 5.0;
  table.settings.dt = 1e-4;
  table.settings.OutStep = 1;
  for (TableFormat format : {TableFormat::kText, TableFormat::kCsv, TableFormat::kMat}) {
    SCOPED_TRACE(TableFormatWord(format));
    OutputRecorder recorder;
    recorder.SetFormat(format);
    ASSERT_TRUE(recorder.Open(format == TableFormat::kMat ? TempPath("t.mat") : "/dev/null"));
    recorder.WriteHeader(table.View());
    const long long before = g_allocations;
    for (int i = 0; i < 50000; ++i) {
      table.state.t = i * 1e-4;
      recorder.WriteLine(table.View());
    }
    EXPECT_EQ(g_allocations, before);
    recorder.Discard();
  }
}
#endif

}  // namespace
}  // namespace mas

#ifndef MAS_SANITIZED
void* operator new(std::size_t size) {
  ++mas::g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The compiler cannot see that these pair with the operator new above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
#endif

namespace mas {
namespace {

// The cells of a table by column name.
std::map<std::string, std::vector<std::string>> ColumnsOf(const std::string& table) {
  std::istringstream in(table);
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> names = Words(line);
  std::map<std::string, std::vector<std::string>> columns;
  while (std::getline(in, line)) {
    const std::vector<std::string> cells = Words(line);
    EXPECT_EQ(cells.size(), names.size());
    for (std::size_t i = 0; i < names.size() && i < cells.size(); ++i) {
      columns[names[i]].push_back(cells[i]);
    }
  }
  return columns;
}

// An open-loop run computes the flux estimates and the filters only for a table that shows
// them, so every column must tell the table whether it reads them: each column selected
// alone holds the same cells as in the table of every column, where they are all computed.
// A column reading one without saying so would show its starting value instead.
TEST(OutputRecorder, EachColumnAloneHoldsTheCellsOfTheFullTable) {
  const std::string path = TempPath("column.dat");
  auto table = [&](const std::function<void(SimulationSettings&)>& select) {
    SimulationSettings s = example::ExampleStudy(0.02, 1e-5);
    s.CreateOutputFile = true;
    s.OutStep = 13;
    s.IFiltOn = true;
    select(s);
    CarriedState carried;
    SilentPlatform platform;
    OutputRecorder recorder;
    s.OutFileName = path;
    EXPECT_EQ(RunSimulation(s, carried, platform, &recorder, false, 0).status,
              RunStatus::kReachedEnd);
    recorder.Close();
    const std::string text = ReadFile(path);
    std::remove(path.c_str());
    return ColumnsOf(text);
  };
  const auto all = table([](SimulationSettings& s) { s.OutSel.fill(1); });
  ASSERT_GT(all.size(), 40u);
  for (int flag = 0; flag < kOutSelCount; ++flag) {
    SCOPED_TRACE(kOutSelNames[flag]);
    const auto alone = table([flag](SimulationSettings& s) { s.OutSel[flag] = 1; });
    for (const auto& [name, cells] : alone) {
      ASSERT_EQ(all.count(name), 1u) << name;
      EXPECT_EQ(cells, all.at(name)) << name;
    }
  }
}

}  // namespace
}  // namespace mas
