// The trajectory fit against records made another way than its own simulations, on the
// example identification study (examples/identification.mas: a direct start-up on the
// network, dt = 5e-5 s):
//   - accuracy: a clean record integrated ten times finer (dt = 5e-6 s) and taken every
//     0.2 ms, fitted from 30 % above and 30 % below every parameter (one start, the
//     default settings): the error on Rs, Ts, Tr, sigma and J, the wall time, and the
//     residual at the true parameters beside the record's own accuracy (its difference
//     from the same start-up integrated a hundred times finer) and beside the cost's
//     comparison (--residuals cout);
//   - coverage: noisy copies of a record integrated a hundred times finer, with the
//     example record's sensor levels (1.5 tr/mn, 0.08 A rms) and twice them, white or
//     coloured (AR(1), time constant 5 ms), on two machines (the example machine and one
//     with twice its resistances and half its inertia), SEEDS records each: how often the
//     95 % interval holds the truth, per parameter and noise kind, and the median relative
//     half-width of the intervals.
//
//   fit_coverage_bench [SEEDS]    (default 4: 64 fits of a few seconds each)

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "files/parameter_file.h"
#include "fit/trajectory_fit.h"
#include "fit/trajectory_residuals.h"
#include "tests/record_sink.h"

namespace mas {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::array<int, 5> kMachineGenes = {kGeneRs, kGeneTs, kGeneTr, kGeneSigma, kGeneJ};

SimulationSettings ExampleStudy() {
  SimulationSettings s;
  SilentPlatform quiet;
  s.ParamFileName = std::string(MAS_SOURCE_DIR) + "/examples/identification.mas";
  ReadParameterFile(s, quiet,
                    (std::filesystem::temp_directory_path() / "fit_coverage_echo.dat").string());
  s.DisplayProgressBar = false;
  s.GenX.fill(true);
  // The example load is constant: its quadratic and linear terms are held at 0.
  s.GenX[kGeneA10] = false;
  s.GenX[kGeneA20] = false;
  return s;
}

// The study's start-up with the machine `truth`, integrated `finer` times finer and
// recorded every 0.2 ms a little past tf.
ExperimentalData Record(const SimulationSettings& study, const Genes& truth, int finer) {
  SimulationSettings s = study;
  MapGenesOntoMachine(truth, s);
  s.tf = study.tf + 2e-3;
  s.dt = study.dt / finer;
  s.PushStep();
  s.OutStep = static_cast<int>(std::lround(2e-4 / s.dt));
  s.CreateOutputFile = true;
  s.td0 = s.t0;
  CarriedState carried;
  testing::RecordSink sink(carried.experiment);
  SilentPlatform quiet;
  RunSimulation(s, carried, quiet, &sink, false, 0);
  return carried.experiment;
}

void AddNoise(ExperimentalData& d, double speed, double current, double time_constant,
              std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::normal_distribution<double> normal;
  double nw = 0.0;
  double ni = 0.0;
  for (std::size_t i = 0; i < d.ExpTime.size(); ++i) {
    const double gap = i > 0 ? d.ExpTime[i] - d.ExpTime[i - 1] : 0.0;
    const double phi = time_constant > 0.0 && i > 0 ? std::exp(-gap / time_constant) : 0.0;
    const double fresh = std::sqrt(1.0 - phi * phi);
    nw = phi * nw + fresh * normal(engine);
    ni = phi * ni + fresh * normal(engine);
    d.ExpWm[i] += speed * nw;
    d.ExpIas[i] += current * ni;
  }
}

Genes Scaled(const Genes& g, double factor) {
  Genes out = g;
  for (int j : kMachineGenes) out[static_cast<std::size_t>(j)] *= factor;
  out[kGeneA30] *= factor;
  return out;
}

// Rms of the current and speed residuals at `g` (machine state or cost).
TrajectoryResiduals ResidualsAt(const SimulationSettings& s, const CarriedState& carried,
                                const Genes& g, ResidualKind kind) {
  RecordingPlatform quiet;
  const LayoutResult layout = MakeResidualLayout(g, s, carried, 6, kind);
  if (layout.status != LayoutStatus::kReady) {
    std::fprintf(stderr, "fit_coverage_bench: %s\n", layout.message.c_str());
    std::exit(1);
  }
  ResidualEvaluator evaluator(s, carried, layout.layout, 1);
  return evaluator.Evaluate({&g, 1}, quiet)[0];
}

double Median(std::vector<double> v) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Accuracy(const SimulationSettings& study, const Genes& truth) {
  CarriedState carried;
  carried.experiment = Record(study, truth, 10);
  SimulationSettings s = study;
  SilentPlatform quiet;
  BuildExperimentalTables(s, carried, quiet, nullptr);  // for the cost's comparison
  std::printf("Accuracy: clean record of the example machine integrated 10 times finer\n");
  for (double factor : {1.3, 0.7}) {
    FitOptions o;
    RecordingPlatform platform;
    const auto begin = Clock::now();
    const FitResult r = FitTrajectory(Scaled(truth, factor), s, carried, platform, o);
    const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
    std::printf("  from x%.1f: end %d, %d iterations, %lld simulations, %.2f s wall (%d threads)\n",
                factor, static_cast<int>(r.end), r.iterations, r.runs, wall, MachineThreads());
    double worst = 0.0;
    for (int j : kMachineGenes) {
      const auto ju = static_cast<std::size_t>(j);
      const double e = 100.0 * (r.genes[ju] / truth[ju] - 1.0);
      worst = std::max(worst, std::fabs(e));
      std::printf("    %-6s %+.4f %%\n", kGeneNames[ju], e);
    }
    std::printf("    a30    %+.4f %%\n", 100.0 * (r.genes[kGeneA30] / truth[kGeneA30] - 1.0));
    std::printf("    worst of Rs, Ts, Tr, sigma, J: %.4f %% (target 0.2 %% in <= 10 s)\n", worst);
  }
  // The residual at the truth, and the record's own accuracy: its difference from the
  // same start-up integrated a hundred times finer, at the same instants.
  const ExperimentalData reference = Record(study, truth, 100);
  double dw = 0.0;
  double di = 0.0;
  const std::size_t n = std::min(reference.ExpTime.size(), carried.experiment.ExpTime.size());
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (carried.experiment.ExpTime[i] > s.tf) break;
    dw += std::pow(carried.experiment.ExpWm[i] - reference.ExpWm[i], 2);
    di += std::pow(carried.experiment.ExpIas[i] - reference.ExpIas[i], 2);
    ++count;
  }
  const double c = static_cast<double>(std::max<std::size_t>(count, 1));
  const TrajectoryResiduals state = ResidualsAt(s, carried, truth, ResidualKind::kMachineState);
  SimulationSettings cost_study = s;
  cost_study.CostFunction = 0;
  CarriedState cost_carried = carried;
  BuildExperimentalTables(cost_study, cost_carried, quiet, nullptr);
  const TrajectoryResiduals cost =
      ResidualsAt(cost_study, cost_carried, truth, ResidualKind::kCost);
  std::printf("  at the truth: residual rms speed %.4g tr/mn, current %.4g A (machine state)\n",
              state.speed_rms, state.current_rms);
  std::printf("                 the cost's comparison (CostFunction=0): %.4g tr/mn, %.4g A\n",
              cost.speed_rms, cost.current_rms);
  std::printf(
      "                 the record's own accuracy (vs 100 times finer): %.4g tr/mn, "
      "%.4g A\n",
      std::sqrt(dw / c), std::sqrt(di / c));
}

struct Tally {
  std::array<int, NGenes> inside{};
  std::array<std::vector<double>, NGenes> half_width;
  std::array<std::vector<double>, NGenes> white_ratio;
  int fits = 0;
  int failed = 0;
};

void Coverage(const SimulationSettings& study, const Genes& example, int seeds) {
  Genes second = example;
  second[kGeneRs] *= 2.0;  // twice both resistances: Ts and Tr halved
  second[kGeneTs] *= 0.5;
  second[kGeneTr] *= 0.5;
  second[kGeneJ] *= 0.5;
  const std::array<Genes, 2> machines = {example, second};
  struct Noise {
    const char* name;
    double level;
    double time_constant;
  };
  const std::array<Noise, 4> noises = {Noise{"blanc x1", 1.0, 0.0}, Noise{"blanc x2", 2.0, 0.0},
                                       Noise{"AR(1) 5 ms x1", 1.0, 5e-3},
                                       Noise{"AR(1) 5 ms x2", 2.0, 5e-3}};
  std::printf("\nCoverage: %d records per machine and noise, records 100 times finer\n", seeds);
  const auto begin = Clock::now();
  for (const Noise& noise : noises) {
    Tally t;
    for (std::size_t m = 0; m < machines.size(); ++m) {
      const ExperimentalData clean = Record(study, machines[m], 100);
      for (int seed = 0; seed < seeds; ++seed) {
        CarriedState carried;
        carried.experiment = clean;
        AddNoise(carried.experiment, 1.5 * noise.level, 0.08 * noise.level, noise.time_constant,
                 1000 * m + static_cast<std::uint64_t>(seed) + 1);
        RecordingPlatform platform;
        const FitResult r =
            FitTrajectory(Scaled(machines[m], 1.1), study, carried, platform, FitOptions{});
        ++t.fits;
        if (!r.statistics) {
          ++t.failed;
          continue;
        }
        for (const FittedParameter& p : r.parameters) {
          const auto j = static_cast<std::size_t>(p.gene);
          const double x = machines[m][j];
          t.inside[j] += p.lower95 <= x && x <= p.upper95 ? 1 : 0;
          t.half_width[j].push_back(0.5 * (p.upper95 - p.lower95) / x);
          t.white_ratio[j].push_back(p.standard_error / p.white_error);
        }
      }
    }
    std::printf("  %-14s", noise.name);
    for (int j : {kGeneRs, kGeneTs, kGeneTr, kGeneSigma, kGeneJ, kGeneA30}) {
      const auto ju = static_cast<std::size_t>(j);
      std::printf("  %s %3.0f %% (±%.3g %%, x%.2f)", kGeneNames[ju],
                  100.0 * t.inside[ju] / std::max(t.fits - t.failed, 1),
                  100.0 * Median(t.half_width[ju]), Median(t.white_ratio[ju]));
    }
    std::printf("%s\n", t.failed > 0 ? "  (some fits without intervals)" : "");
  }
  std::printf(
      "  (per parameter: share of 95 %% intervals holding the truth, median relative "
      "half-width, median ratio of the Newey-West to the white-noise standard error)\n");
  std::printf("  %.1f s wall\n", std::chrono::duration<double>(Clock::now() - begin).count());
}

}  // namespace
}  // namespace mas

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 4;
  const mas::SimulationSettings study = mas::ExampleStudy();
  const mas::Genes truth = mas::GenesOfMachine(study.dq);
  mas::Accuracy(study, truth);
  mas::Coverage(study, truth, seeds);
  return 0;
}
