// Cost of the cage model's step against its irreducible part. Each step of a 28-bar cage
// evaluates the derivative four times, and each evaluation is dominated by one dense
// product of the 31 x 31 inverse inductance matrix with the right-hand side. The
// benchmarks below run 1e5 cage steps, and 1e5 times four bare 31 x 31 products in two
// forms: the model's own product (sums of scaled columns, MultiplyByColumns) and plain
// row dot products.

#include <cmath>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/example_cage.h"
#include "bench/supply.h"
#include "engine/cage_machine_model.h"
#include "engine/numeric.h"

namespace {

constexpr int kSteps = 100000;
constexpr double kDt = 1e-4;
constexpr int kNr = 28;
constexpr int kN = kNr + 3;

void BM_CageStep(benchmark::State& state) {
  const mas::bench::SupplySamples v = mas::bench::OnePeriodOfSupply(200, kDt);
  const int period = v.size();
  mas::CageMachineModel m = mas::bench::ExampleCage(kNr, kDt);
  m.Rb[0] = m.RbCasse;
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
BENCHMARK(BM_CageStep)->Unit(benchmark::kMillisecond);

// The cage's inverse inductance matrix and a right-hand side of the size of a run's.
struct Product {
  Product() : a(kN * kN), x(kN), y(kN + 1) {
    const mas::CageMachineModel m = mas::bench::ExampleCage(kNr, kDt);
    for (int i = 0; i < kN; ++i) {
      for (int j = 0; j < kN; ++j) a[i * kN + j] = m.InvML(i, j);
      x[i] = std::sin(0.1 * i);
    }
  }
  std::vector<double> a, x, y;
};

void BM_FourRowProducts(benchmark::State& state) {
  Product p;
  for (auto _ : state) {
    for (int s = 0; s < 4 * kSteps; ++s) {
      for (int i = 0; i < kN; ++i) {
        double sum = 0.0;
        const double* row = p.a.data() + i * kN;
        for (int j = 0; j < kN; ++j) sum += row[j] * p.x[j];
        p.y[i] = sum;
      }
      benchmark::DoNotOptimize(p.y.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * kSteps);
}
BENCHMARK(BM_FourRowProducts)->Unit(benchmark::kMillisecond);

void BM_FourColumnProducts(benchmark::State& state) {
  // The model's own product: columns padded to 32 rows, MultiplyByColumns.
  Product p;
  const int rows = 32;
  std::vector<double> columns(rows * kN, 0.0), y(rows);
  for (int i = 0; i < kN; ++i) {
    for (int j = 0; j < kN; ++j) columns[j * rows + i] = p.a[i * kN + j];
  }
  for (auto _ : state) {
    for (int s = 0; s < 4 * kSteps; ++s) {
      mas::MultiplyByColumns(columns.data(), rows, kN, p.x.data(), y.data());
      benchmark::DoNotOptimize(y.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * kSteps);
}
BENCHMARK(BM_FourColumnProducts)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return mas::bench::RunWithRatios(
      argc, argv, {{"BM_CageStep", "BM_FourColumnProducts"}, {"BM_CageStep", "BM_FourRowProducts"}},
      {"cage step / four bare column-sum products (target <= 1.5)",
       "cage step / four bare row-dot products"});
}
