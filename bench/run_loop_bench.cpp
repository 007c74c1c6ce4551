// Cost of the run loop around the machine model: the bare dq model stepped 1e6 times
// against full simulations of 1e6 steps without output (open loop on an ideal source, through
// the two inverters, under vector control), each reported against the bare step.

#include <cmath>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/supply.h"
#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "examples/example_machine.h"

namespace {

constexpr int kSteps = 1000000;
constexpr double kDt = 1e-6;

mas::SimulationSettings Study() {
  mas::SimulationSettings s = mas::example::ExampleStudy((kSteps - 0.5) * kDt, kDt);
  s.dq.a30 = 10.0;
  s.PushMechanicalParameters();
  s.OutStep = 100;
  return s;
}

void BM_BareDqModelStep(benchmark::State& state) {
  const mas::bench::SupplySamples v = mas::bench::OnePeriodOfSupply(20000, kDt);
  const int period = v.size();
  mas::SimulationSettings s = Study();
  for (auto _ : state) {
    s.dq.ResetForRun();
    double sum = 0;
    for (int i = 0, k = 0; i < kSteps; ++i) {
      sum += s.dq.StepStar(v.va[k], v.vb[k], v.vc[k]).ia;
      if (++k == period) k = 0;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kSteps);
}
BENCHMARK(BM_BareDqModelStep)->Unit(benchmark::kMillisecond);

// Times complete runs of a study of kSteps steps without output.
void TimeRuns(benchmark::State& state, mas::SimulationSettings s) {
  mas::CarriedState carried;
  mas::SilentPlatform platform;
  long long steps = 0;
  for (auto _ : state) {
    steps = mas::RunSimulation(s, carried, platform, nullptr, false, 0).steps;
    benchmark::DoNotOptimize(s.dq.w());
  }
  if (steps != kSteps) state.SkipWithError("unexpected number of steps");
  state.SetItemsProcessed(state.iterations() * kSteps);
}

void BM_OpenLoopRunSimulation(benchmark::State& state) { TimeRuns(state, Study()); }
BENCHMARK(BM_OpenLoopRunSimulation)->Unit(benchmark::kMillisecond);

// The same open-loop run through the sine-triangle PWM inverter (TMLI 1e-4 s) and through
// the inverter driven by the double space-vector modulator.
void OpenLoopThroughInverter(benchmark::State& state, int mli, bool dsv) {
  mas::SimulationSettings s = Study();
  s.MLI = mli;
  s.dsvPWM = dsv;
  TimeRuns(state, s);
}
void BM_OpenLoopSineTrianglePwm(benchmark::State& state) {
  OpenLoopThroughInverter(state, 1, false);
}
BENCHMARK(BM_OpenLoopSineTrianglePwm)->Unit(benchmark::kMillisecond);
void BM_OpenLoopDoubleSvpwm(benchmark::State& state) { OpenLoopThroughInverter(state, 0, true); }
BENCHMARK(BM_OpenLoopDoubleSvpwm)->Unit(benchmark::kMillisecond);

// Field-oriented control with indirect rotor-flux orientation and PI regulators, current
// loop every PWM period of 1e-4 s, speed loop every 10 current samples, no output.
void BM_VectorControlRunSimulation(benchmark::State& state) {
  mas::SimulationSettings s = Study();
  mas::example::SetExampleVectorControl(s);
  s.Wmt = {0.0, 100.0, 100.0, 100.0};
  s.Wmref = {1000.0, 0.0, 0.0, 0.0};
  TimeRuns(state, s);
}
BENCHMARK(BM_VectorControlRunSimulation)->Unit(benchmark::kMillisecond);

}  // namespace

// Every case against the bare dq step, from the fastest of 7 interleaved repetitions of
// each (--benchmark_repetitions=N to change it), with the steps per second of each.
int main(int argc, char** argv) {
  return mas::bench::RunAgainstBaseline(
      argc, argv, "BM_BareDqModelStep",
      {{"BM_OpenLoopRunSimulation", "open-loop run", 1.20},
       {"BM_VectorControlRunSimulation", "vector-control run", 0},
       {"BM_OpenLoopSineTrianglePwm", "sine-triangle PWM open-loop run", 1.40},
       {"BM_OpenLoopDoubleSvpwm", "double SVPWM open-loop run", 0}},
      "steps");
}
