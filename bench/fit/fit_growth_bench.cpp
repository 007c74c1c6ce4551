// How the trajectory fit's wall time grows with the record's length and with threads: the
// example identification study (examples/identification.mas, gA = 200, gt0 = 0.03) fitted
// on a clean record made by the study itself, 1x, 2x and 4x its final time long, from the
// guess 30 % above every parameter, for a fixed number of solver iterations without
// refits (so that every case does the same iterations), on 1 and 2 threads. Each case is
// run REPEATS times (3 by default) in turn with the others, and the fastest is kept.
// Per simulated second of record, the time stays flat when cost grows like the work.
//
//   fit_growth_bench [ITERATIONS [REPEATS]]   (10 and 3 by default)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "files/parameter_file.h"
#include "fit/trajectory_fit.h"
#include "identification/candidate_evaluator.h"
#include "identification/experimental_file.h"
#include "tests/record_sink.h"

namespace mas {
namespace {

struct Study {
  SimulationSettings s;
  CarriedState carried;
};

// The example study over `length` times its final time, and its own record over that span.
Study CleanStudy(int length) {
  Study st;
  const std::string folder = std::string(MAS_SOURCE_DIR) + "/examples/";
  SilentPlatform quiet;
  st.s.ParamFileName = folder + "identification.mas";
  ReadParameterFile(st.s, quiet,
                    (std::filesystem::temp_directory_path() / "fit_growth_echo.dat").string());
  st.s.gA = 200.0;
  st.s.gt0 = 0.03;
  st.s.DisplayProgressBar = false;
  st.s.tf = st.s.t0 + (st.s.tf - st.s.t0) * length;
  SimulationSettings measuring = st.s;
  measuring.tf = st.s.tf + 10 * st.s.dt * st.s.OutStep;
  measuring.CreateOutputFile = true;
  measuring.td0 = measuring.t0;
  testing::RecordSink sink(st.carried.experiment);
  RunSimulation(measuring, st.carried, quiet, &sink, false, 0);
  st.s.GenX.fill(true);
  BuildExperimentalTables(st.s, st.carried, quiet, nullptr);
  if (!st.s.ExpTableReady) {
    std::fprintf(stderr, "fit_growth_bench: tables not built\n");
    std::exit(1);
  }
  return st;
}

struct Timing {
  double wall = 1e300;
  long long runs = 0;
  int iterations = 0;
};

void Fit(const Study& st, int threads, int iterations, Timing& best) {
  Genes guess = GenesOfMachine(st.s.dq);
  for (double& x : guess) x *= 1.3;
  FitOptions o;
  o.threads = threads;
  o.max_iterations = iterations;
  o.reweights = 0;
  o.function_tolerance = 0;
  o.parameter_tolerance = 0;
  SilentPlatform quiet;
  const auto t0 = std::chrono::steady_clock::now();
  const FitResult r = FitTrajectory(guess, st.s, st.carried, quiet, o, nullptr);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (wall < best.wall) best = {wall, r.runs, r.iterations};
}

}  // namespace
}  // namespace mas

int main(int argc, char** argv) {
  using namespace mas;
  const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::vector<int> lengths = {1, 2, 4};
  const std::vector<int> threads = {1, 2};
  std::vector<Study> studies;
  studies.reserve(lengths.size());
  for (int k : lengths) studies.push_back(CleanStudy(k));
  std::vector<Timing> best(lengths.size() * threads.size());
  for (int r = 0; r < repeats; ++r) {
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      for (std::size_t j = 0; j < threads.size(); ++j) {
        Fit(studies[i], threads[j], iterations, best[i * threads.size() + j]);
      }
    }
  }
  std::printf(
      "Fit of examples/identification.mas on its own record, %d iterations, fastest of %d\n",
      iterations, repeats);
  std::printf("%7s %10s %8s %6s %6s %10s %12s %14s\n", "length", "record (s)", "threads", "runs",
              "iter", "wall (s)", "ms per run", "s per rec. s");
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    const double record = studies[i].s.tf - studies[i].s.t0;
    for (std::size_t j = 0; j < threads.size(); ++j) {
      const Timing& t = best[i * threads.size() + j];
      std::printf("%6dx %10.2f %8d %6lld %6d %10.3f %12.2f %14.3f\n", lengths[i], record,
                  threads[j], t.runs, t.iterations, t.wall,
                  t.runs > 0 ? 1e3 * t.wall / static_cast<double>(t.runs) : 0.0, t.wall / record);
    }
  }
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    const Timing& one = best[i * threads.size()];
    const Timing& two = best[i * threads.size() + 1];
    std::printf("%dx record: 1 thread / 2 threads %.2f\n", lengths[i], one.wall / two.wall);
  }
  return 0;
}
