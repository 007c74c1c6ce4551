// Cost of the output table's cells: the recorder's formatting (to_chars into one large
// buffer, written in blocks) against fprintf(f, "%-16.8g  ", v) on the same values.
//
// First a plain timing of 1e6 values written to a file each way (best of several rounds,
// the bytes of both files must be identical or the program aborts), with the ratio; then
// the Google Benchmark cases, including one data line with every column selected.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/output_recorder.h"

namespace {

constexpr int kValueCount = 1000000;

// Quantities of a drive simulation: signed, from microvolts to kilo-rpm, some exact zeros.
std::vector<double> DriveLikeValues(int count) {
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> decade(-6.0, 4.0);
  std::vector<double> values(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double magnitude = std::pow(10.0, decade(random));
    values[static_cast<std::size_t>(i)] = i % 97 == 0 ? 0.0 : (i % 2 ? -magnitude : magnitude);
  }
  return values;
}

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteWithFprintf(const std::string& path, const std::vector<double>& values) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  for (double v : values) std::fprintf(f, "%-16.8g  ", v);
  std::fclose(f);
}

void WriteWithRecorderFormat(const std::string& path, const std::vector<double>& values) {
  mas::OutputFileBuffer file;
  if (!file.Open(path)) std::abort();
  for (double v : values) file.AppendReal(v);
  file.Close();
}

template <class Write>
double BestSeconds(Write&& write, int rounds) {
  double best = 1e300;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    write();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() < best) best = elapsed.count();
  }
  return best;
}

void CompareMillionValues() {
  const std::vector<double> values = DriveLikeValues(kValueCount);
  const std::string printf_path = TempFile("mas_bench_fprintf.dat");
  const std::string recorder_path = TempFile("mas_bench_recorder.dat");
  const int rounds = 5;
  const double printf_s = BestSeconds([&] { WriteWithFprintf(printf_path, values); }, rounds);
  const double recorder_s =
      BestSeconds([&] { WriteWithRecorderFormat(recorder_path, values); }, rounds);
  const std::string printf_bytes = ReadFile(printf_path);
  const std::string recorder_bytes = ReadFile(recorder_path);
  std::filesystem::remove(printf_path);
  std::filesystem::remove(recorder_path);
  if (printf_bytes != recorder_bytes || printf_bytes.empty()) {
    std::fprintf(stderr, "output_format_bench: the recorder's bytes differ from fprintf's\n");
    std::abort();
  }
  std::printf("%d values \"%%-16.8g  \" to a file, best of %d rounds (%zu bytes, identical):\n",
              kValueCount, rounds, printf_bytes.size());
  std::printf("  fprintf          %8.2f ms  (%.1f ns/value)\n", printf_s * 1e3,
              printf_s * 1e9 / kValueCount);
  std::printf("  recorder format  %8.2f ms  (%.1f ns/value)\n", recorder_s * 1e3,
              recorder_s * 1e9 / kValueCount);
  std::printf("  fprintf / recorder = %.2f\n\n", printf_s / recorder_s);
  std::fflush(stdout);
}

void BM_FprintfCell(benchmark::State& state) {
  const std::vector<double> values = DriveLikeValues(4096);
  std::FILE* f = std::fopen("/dev/null", "wb");
  std::size_t i = 0;
  for (auto _ : state) {
    std::fprintf(f, "%-16.8g  ", values[i++ & 4095]);
  }
  std::fclose(f);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FprintfCell);

void BM_RecorderCell(benchmark::State& state) {
  const std::vector<double> values = DriveLikeValues(4096);
  mas::OutputFileBuffer file;
  if (!file.Open("/dev/null")) std::abort();
  std::size_t i = 0;
  for (auto _ : state) {
    file.AppendReal(values[i++ & 4095]);
  }
  file.Close();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecorderCell);

// One data line with every column built so far selected (63 columns and the time).
void BM_RecorderLineAllColumns(benchmark::State& state) {
  mas::SimulationSettings settings;
  settings.OutSel.fill(1);
  settings.OutSelStator.fill(1);
  settings.OutSensor = 1;
  settings.mp = 2, settings.mM = 0.15, settings.mLr = 0.16;
  mas::RunState run;
  run.est.Phi_alpha_s = 0.81, run.est.Phi_beta_s = -0.62, run.WmMeas = 151.3;
  run.IasMeas = 3.25, run.est.Ids = 4.2, run.est.Iqs = -1.7;
  const mas::ExperimentalData experiment;
  const mas::RunView view{settings,   run, settings.dq, settings.cage, settings.observer,
                          experiment, 0};
  mas::OutputRecorder recorder;
  if (!recorder.Open("/dev/null")) std::abort();
  recorder.WriteHeader(view);
  for (auto _ : state) {
    run.t += 1e-4;
    recorder.WriteLine(view);
  }
  recorder.Close();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecorderLineAllColumns);

}  // namespace

int main(int argc, char** argv) {
  CompareMillionValues();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
