// The trajectory fit on the example identification study (examples/identification.mas,
// its cost weights gA = 200 and gt0 = 0.03 as in examples/README.md), from the guess 30 %
// above every parameter, on the example record examples/dem1.dat and on a clean record
// of the study's machine integrated ten times finer than the study:
//   - the wall time until every parameter of the clean record is within 0.5 % of the
//     machine that made it, with one thread and with one per core, and their ratio;
//   - the genetic algorithm (same study, same guess as its whole first population, one
//     per core) given the same wall time as the fit on all cores, beside it.
// A parameter whose true value is 0 (the quadratic and linear load terms of the example
// machine) counts as reached when the torque it adds at the top speed of the record is
// within 0.5 % of the constant load.
//
//   fit_bench [SECONDS_CAP]    (each fit stops at its own convergence; the cap, 60 s by
//                               default, bounds a fit that would not converge)

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "files/parameter_file.h"
#include "fit/trajectory_fit.h"
#include "identification/candidate_evaluator.h"
#include "identification/experimental_file.h"
#include "identification/genetic_algorithm.h"
#include "identification/random.h"
#include "tests/record_sink.h"

namespace mas {
namespace {

using Clock = std::chrono::steady_clock;

using testing::RecordSink;

struct Study {
  SimulationSettings s;
  CarriedState carried;
};

Study ExampleStudy(bool clean) {
  Study st;
  const std::string folder = std::string(MAS_SOURCE_DIR) + "/examples/";
  SilentPlatform quiet;
  st.s.ParamFileName = folder + "identification.mas";
  ReadParameterFile(st.s, quiet,
                    (std::filesystem::temp_directory_path() / "fit_bench_echo.dat").string());
  st.s.gA = 200.0;
  st.s.gt0 = 0.03;
  st.s.DisplayProgressBar = false;
  if (clean) {
    // The study's start-up integrated ten times finer, recorded at the study's recorded
    // instants a little past tf.
    SimulationSettings measuring = st.s;
    measuring.tf = st.s.tf + 10 * st.s.dt * st.s.OutStep;
    measuring.dt = st.s.dt / 10;
    measuring.PushStep();
    measuring.OutStep = st.s.OutStep * 10;
    measuring.CreateOutputFile = true;
    measuring.td0 = measuring.t0;
    RecordSink sink(st.carried.experiment);
    RunSimulation(measuring, st.carried, quiet, &sink, false, 0);
  } else {
    st.s.ExpNom = folder + "dem1.dat";
    ReadExperimentalFile(st.s, st.carried.experiment, quiet);
  }
  st.s.GenX.fill(true);
  BuildExperimentalTables(st.s, st.carried, quiet, nullptr);
  if (!st.s.ExpTableReady) {
    std::fprintf(stderr, "fit_bench: tables not built\n");
    std::exit(1);
  }
  return st;
}

// Largest error over the parameters (the first `genes` of them), in %, by the rule of
// the header.
double WorstError(const Genes& g, const Genes& truth, double top_speed, int genes = NGenes) {
  double worst = 0.0;
  for (int j = 0; j < genes; ++j) {
    const auto ju = static_cast<std::size_t>(j);
    double e = 0.0;
    if (truth[ju] != 0.0) {
      e = std::fabs(g[ju] / truth[ju] - 1.0);
    } else if (j == kGeneA10) {
      e = std::fabs(g[ju]) * top_speed * top_speed / truth[kGeneA30];
    } else if (j == kGeneA20) {
      e = std::fabs(g[ju]) * top_speed / truth[kGeneA30];
    }
    worst = std::max(worst, e);
  }
  return 100.0 * worst;
}

struct FitRun {
  double reached = -1.0;  // wall seconds when every parameter was within 0.5 %
  double seconds = 0.0;
  double worst = 0.0;          // % at the end
  double worst_machine = 0.0;  // the same over Rs, Ts, Tr, sigma and J
  Genes genes{};
  int iterations = 0;
  long long runs = 0;
};

FitRun Fit(const Study& st, const Genes& guess, const Genes& truth, double top, int threads,
           double cap) {
  FitOptions o;
  o.threads = threads;
  o.max_iterations = 200;
  // Interrupts a fit that would run past the cap.
  class Cap final : public SilentPlatform {
   public:
    explicit Cap(double s)
        : end_(Clock::now() +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s))) {}
    bool EscapePressed() override { return Clock::now() > end_; }

   private:
    Clock::time_point end_;
  } cap_platform(cap);
  FitRun out;
  const FitResult r =
      FitTrajectory(guess, st.s, st.carried, cap_platform, o, [&](const FitProgress& p) {
        if (out.reached < 0 && WorstError(p.genes, truth, top) <= 0.5) out.reached = p.seconds;
      });
  out.seconds = r.seconds;
  out.worst = WorstError(r.genes, truth, top);
  out.worst_machine = WorstError(r.genes, truth, top, kGeneA10);
  out.genes = r.genes;
  out.iterations = r.iterations;
  out.runs = r.runs;
  return out;
}

// The identification cost of a parameter set, as the genetic algorithm scores it.
double IdentificationCost(const Study& st, const Genes& g) {
  SimulationSettings s = st.s;
  CarriedState c = st.carried;
  SilentPlatform quiet;
  MapGenesOntoMachine(g, s);
  return EvaluateCost(s, c, quiet, nullptr);
}

struct GaRun {
  int generations = 0;
  double seconds = 0.0;
  Genes best{};
};

GaRun Genetic(const Study& st, const Genes& guess, double budget) {
  SimulationSettings s = st.s;
  CarriedState c = st.carried;
  SilentPlatform quiet;
  const std::filesystem::path logs = std::filesystem::temp_directory_path() / "fit_bench_ga";
  std::filesystem::create_directories(logs);
  LcgRandom rng;
  rng.Randomize(7);
  GeneticIdentification ga(rng, logs);
  ga.RestartHistory(quiet);
  ga.Initialise(0, guess, s, quiet);
  const CandidateEvaluator evaluator(MachineThreads());
  GaRun out;
  const auto begin = Clock::now();
  while (std::chrono::duration<double>(Clock::now() - begin).count() < budget) {
    ga.RunGeneration(s, c, quiet, evaluator);
    ++out.generations;
  }
  out.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  out.best = ga.XOld[0];
  std::filesystem::remove_all(logs);
  return out;
}

}  // namespace
}  // namespace mas

int main(int argc, char** argv) {
  using namespace mas;
  const double cap = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int cores = MachineThreads();
  const Study clean = ExampleStudy(true);
  const Study noisy = ExampleStudy(false);
  const Genes truth = GenesOfMachine(clean.s.dq);
  Genes guess = truth;
  for (double& x : guess) x *= 1.3;
  // Top speed of the record: where the quadratic and linear load terms weigh most.
  double top = 0.0;
  for (double w : clean.carried.experiment.ExpWm) top = std::max(top, std::fabs(w) * kRpmToRadS);

  std::printf(
      "Study examples/identification.mas (gA 200, gt0 0.03), guess 30 %% above the "
      "machine, %d cores\n\n",
      cores);
  // Columns: wall time until every parameter was within 0.5 % (-1: never), wall and
  // process CPU time of the whole run, simulations, solver iterations, worst parameter
  // error at the end over all eight and over Rs, Ts, Tr, sigma, J, and the identification
  // cost (the genetic algorithm's own score) at the end.
  std::printf("%-33s %8s %8s %8s %7s %5s %10s %10s %11s\n", "", "to 0.5 %", "wall (s)", "cpu (s)",
              "runs", "iter", "worst (%)", "Rs..J (%)", "ident. cost");
  auto row = [&](const char* label, const Study& st, double reached, double wall, double cpu,
                 long long runs, int iterations, const Genes& g) {
    std::printf("%-33s %8.2f %8.2f %8.2f %7lld %5d %10.4g %10.4g %11.4g\n", label, reached, wall,
                cpu, runs, iterations, WorstError(g, truth, top),
                WorstError(g, truth, top, kGeneA10), IdentificationCost(st, g));
  };
  row("guess, clean record", clean, 0, 0, 0, 0, 0, guess);
  row("machine, clean record", clean, 0, 0, 0, 0, 0, truth);
  row("machine, dem1.dat", noisy, 0, 0, 0, 0, 0, truth);
  auto fit = [&](const char* label, const Study& st, int threads) {
    const std::clock_t c0 = std::clock();
    const FitRun f = Fit(st, guess, truth, top, threads, cap);
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    row(label, st, f.reached, f.seconds, cpu, f.runs, f.iterations, f.genes);
    return f;
  };
  const FitRun one = fit("fit, clean record, 1 thread", clean, 1);
  const FitRun all = fit("fit, clean record, all cores", clean, cores);
  const FitRun exp = fit("fit, dem1.dat, all cores", noisy, cores);
  // The genetic algorithm, from the guess as its whole population, given the whole wall
  // time the fit took on all cores.
  auto genetic = [&](const char* label, const Study& st, double budget) {
    const std::clock_t c0 = std::clock();
    const GaRun ga = Genetic(st, guess, budget);
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    row(label, st, -1, ga.seconds, cpu, static_cast<long long>(ga.generations) * NPop,
        ga.generations, ga.best);
  };
  genetic("GA, clean record, same wall time", clean, all.seconds);
  genetic("GA, dem1.dat, same wall time", noisy, exp.seconds);
  if (one.reached > 0 && all.reached > 0) {
    std::printf("\ntime to 0.5 %%, 1 thread / all cores: %.3f\n", one.reached / all.reached);
  }
  return 0;
}
