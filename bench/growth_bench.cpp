// How the cage step's cost grows with the number of bars. Each step of an Nr-bar cage
// evaluates the derivative four times, each dominated by one dense product of the
// (Nr + 3) x (Nr + 3) inverse inductance matrix; the floor is therefore four bare products
// of that size in the model's own form (MultiplyByColumns). The ratio of the two, per cage
// size, says whether the rest of the step grows faster than the products do.

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/example_cage.h"
#include "bench/supply.h"
#include "engine/cage_machine_model.h"
#include "engine/numeric.h"

namespace {

constexpr int kSteps = 20000;
constexpr double kDt = 1e-4;
constexpr int kBars[] = {16, 28, 40, 64};

void BM_CageStepBars(benchmark::State& state) {
  const int nr = static_cast<int>(state.range(0));
  const mas::bench::SupplySamples v = mas::bench::OnePeriodOfSupply(200, kDt);
  const int period = v.size();
  mas::CageMachineModel m = mas::bench::ExampleCage(nr, kDt);
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0, k = 0; i < kSteps; ++i) {
      sum += m.StepStar(v.va[k], v.vb[k], v.vc[k]).ia;
      if (++k == period) k = 0;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kSteps);
}

// Four products per step of the cage's own inverse inductance matrix, stored by columns
// padded to a multiple of four rows as the model stores it.
void BM_FourColumnProductsBars(benchmark::State& state) {
  const int nr = static_cast<int>(state.range(0));
  const int n = nr + 3;
  const int rows = (n + 3) / 4 * 4;
  const mas::CageMachineModel m = mas::bench::ExampleCage(nr, kDt);
  std::vector<double> columns(static_cast<std::size_t>(rows) * n, 0.0), x(n), y(rows);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) columns[j * rows + i] = m.InvML(i, j);
    x[j] = std::sin(0.1 * j);
  }
  for (auto _ : state) {
    for (int s = 0; s < 4 * kSteps; ++s) {
      mas::MultiplyByColumns(columns.data(), rows, n, x.data(), y.data());
      benchmark::DoNotOptimize(y.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * kSteps);
}

void Register() {
  for (int nr : kBars) {
    benchmark::RegisterBenchmark("BM_CageStepBars", BM_CageStepBars)
        ->Arg(nr)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_FourColumnProductsBars", BM_FourColumnProductsBars)
        ->Arg(nr)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

// Per cage size: the step's time, the four products' time, their ratio, and both per
// matrix element (time over (Nr + 3)^2), which stays flat when cost grows like the work.
int main(int argc, char** argv) {
  Register();
  std::vector<std::string> storage;
  std::vector<char*> args = mas::bench::WithInterleavedRepetitions(argc, argv, 5, storage);
  int count = static_cast<int>(args.size()) - 1;
  benchmark::Initialize(&count, args.data());
  mas::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nFastest repetition, per cage step:\n");
  std::printf("  %4s %12s %14s %7s %16s %16s\n", "Nr", "step (us)", "4 products (us)", "ratio",
              "step/elem (ns)", "prod/elem (ns)");
  for (int nr : kBars) {
    const std::string arg = "/" + std::to_string(nr);
    const double step = reporter.Time("BM_CageStepBars" + arg) * 1e3 / kSteps;  // ms -> us
    const double prod = reporter.Time("BM_FourColumnProductsBars" + arg) * 1e3 / kSteps;
    if (step <= 0 || prod <= 0) continue;
    const double elements = static_cast<double>(nr + 3) * (nr + 3);
    std::printf("  %4d %12.2f %14.2f %7.3f %16.3f %16.3f\n", nr, step, prod, step / prod,
                step * 1e3 / elements, prod * 1e3 / elements);
  }
  benchmark::Shutdown();
  return 0;
}
