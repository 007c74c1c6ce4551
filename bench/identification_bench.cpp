// One generation of the genetic identification (55 candidate start-ups of the example
// identification study) scored on one thread and on every core, side by side, with the
// speed-up in wall-clock time and a check that both give the same generation bit for bit;
// then the reading of a measured record of a million rows.
//   build/.../bench/identification_bench [--benchmark_min_time=2]

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "bench/bench_ratio.h"
#include "files/parameter_file.h"
#include "identification/candidate_evaluator.h"
#include "identification/experimental_file.h"
#include "identification/genetic_algorithm.h"

namespace {

// The example study and record as `mas identify ga` reads them, tables built, and a GA
// population started from one guess and bred for a few generations, so that the benchmark
// scores a population as varied as a real run's.
struct Example {
  mas::SimulationSettings s;
  mas::CarriedState carried;
  mas::LcgRandom rng;
  std::filesystem::path logs = std::filesystem::temp_directory_path() / "mas_identification_bench";
  mas::GeneticIdentification ga{rng, logs};

  Example() {
    std::filesystem::create_directories(logs);
    mas::SilentPlatform quiet;
    s.ParamFileName = std::string(MAS_SOURCE_DIR) + "/examples/identification.mas";
    mas::ReadParameterFile(s, quiet, (logs / "rd_echo.dat").string());
    s.gA = 200.0;
    s.gt0 = 0.03;
    s.ExpNom = std::string(MAS_SOURCE_DIR) + "/examples/dem1.dat";
    mas::ReadExperimentalFile(s, carried.experiment, quiet);
    mas::BuildExperimentalTables(s, carried, quiet, nullptr);
    rng.Randomize(7);
    ga.Initialise(0, {1.2, 0.14, 0.115, 0.07, 0.015, 0.0, 0.0, 1.6}, s, quiet);
    const mas::CandidateEvaluator evaluator(mas::MachineThreads());
    for (int n = 0; n < 5; ++n) ga.RunGeneration(s, carried, quiet, evaluator);
  }
};

Example& Shared() {
  static Example example;
  return example;
}

void Generation(benchmark::State& state, int threads) {
  Example& e = Shared();
  const mas::CandidateEvaluator evaluator(threads);
  mas::SilentPlatform quiet;
  const mas::GeneticIdentification start = e.ga;
  const std::uint32_t seed = e.rng.state();
  for (auto _ : state) {
    mas::GeneticIdentification ga = start;
    e.rng.Seed(seed);
    mas::SimulationSettings s = e.s;
    const mas::GenerationReport report = ga.RunGeneration(s, e.carried, quiet, evaluator);
    benchmark::DoNotOptimize(report.evaluated);
  }
  state.counters["candidates/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * mas::NPop), benchmark::Counter::kIsRate);
  state.counters["threads"] = threads;
}

void BM_GenerationOneThread(benchmark::State& state) { Generation(state, 1); }
void BM_GenerationAllCores(benchmark::State& state) { Generation(state, mas::MachineThreads()); }
BENCHMARK(BM_GenerationOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GenerationAllCores)->Unit(benchmark::kMillisecond)->UseRealTime();

// A measured record of a million rows (time, two unused columns, speed, current) read as
// the identification commands read it, with its bytes per second: the 2 GiB cap on records
// leaves room for ten million such rows.
void BM_ReadMillionRowRecord(benchmark::State& state) {
  const std::filesystem::path path = Shared().logs / "million_rows.dat";
  if (!std::filesystem::exists(path)) {
    std::ofstream out(path, std::ios::binary);
    out << "t Vas Ibs N Ias\n";
    char row[96];
    for (int i = 0; i < 1000000; ++i) {
      const int n =
          std::snprintf(row, sizeof row, "%.7f 0 0 %.3f %.4f\n", i * 1e-5,
                        1500.0 * (1 - 1.0 / (1 + i * 1e-4)), 20.0 * ((i % 200) - 100) / 100);
      out.write(row, n);
    }
  }
  mas::SilentPlatform quiet;
  mas::SimulationSettings s;
  s.ExpNom = path.string();
  mas::ExperimentalData d;
  for (auto _ : state) {
    const mas::ExperimentalReadResult r = mas::ReadExperimentalFile(s, d, quiet);
    if (r.status != mas::ExperimentalReadStatus::kRead) state.SkipWithError("record refused");
    benchmark::DoNotOptimize(d.ExpTime.data());
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
  state.counters["rows"] = static_cast<double>(d.ExpTime.size());
}
BENCHMARK(BM_ReadMillionRowRecord)->Unit(benchmark::kMillisecond);

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// One generation from the same population on one thread and on every core.
bool SameGeneration() {
  Example& e = Shared();
  mas::SilentPlatform quiet;
  const std::uint32_t seed = e.rng.state();
  auto run = [&](int threads) {
    mas::GeneticIdentification ga = e.ga;
    e.rng.Seed(seed);
    mas::SimulationSettings s = e.s;
    mas::CarriedState carried = e.carried;
    ga.RunGeneration(s, carried, quiet, mas::CandidateEvaluator(threads));
    return std::tuple(ga.XOld, ga.Fitness, ga.iOld, e.rng.state(), s.dq.Rs, carried.CostIdent);
  };
  const auto one = run(1);
  const auto all = run(mas::MachineThreads());
  return std::memcmp(&std::get<0>(one), &std::get<0>(all), sizeof(std::get<0>(one))) == 0 &&
         std::memcmp(&std::get<1>(one), &std::get<1>(all), sizeof(std::get<1>(one))) == 0 &&
         std::get<2>(one) == std::get<2>(all) && std::get<3>(one) == std::get<3>(all) &&
         std::bit_cast<std::uint64_t>(std::get<4>(one)) ==
             std::bit_cast<std::uint64_t>(std::get<4>(all)) &&
         std::bit_cast<std::uint64_t>(std::get<5>(one)) ==
             std::bit_cast<std::uint64_t>(std::get<5>(all));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Shared();
  std::printf("Charge moyenne avant : %s (%d cœurs)\n", LoadAverage().c_str(),
              mas::MachineThreads());
  // Wall-clock times: the workers' CPU time is not the main thread's.
  mas::bench::RatioReporter reporter(mas::bench::Clock::kWall);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double one = reporter.Time("BM_GenerationOneThread/real_time");
  const double all = reporter.Time("BM_GenerationAllCores/real_time");
  std::printf("\nCharge moyenne après : %s\n", LoadAverage().c_str());
  if (one > 0 && all > 0) {
    std::printf("Accélération (temps réel, un fil / tous les cœurs) : %.3f\n", one / all);
  }
  std::printf("Génération identique sur un fil et sur tous les cœurs : %s\n",
              SameGeneration() ? "oui" : "NON");
  benchmark::Shutdown();
  std::filesystem::remove_all(Shared().logs);
  return 0;
}
