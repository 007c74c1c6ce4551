// The trajectory fit against records made another way than its own simulations:
//   - accuracy: on the example identification study (examples/identification.mas: a
//     direct start-up on the network, dt = 5e-5 s), a clean record integrated ten times
//     finer (dt = 5e-6 s) and taken every 0.2 ms, fitted from 30 % above and 30 % below
//     every parameter (one start, the default settings): the error on Rs, Ts, Tr, sigma
//     and J, the wall time, and the residual at the true parameters beside the record's
//     own accuracy (its difference from the same start-up integrated a hundred times
//     finer) and beside the cost's comparison (--residuals cout);
//   - coverage: noisy copies of records integrated a hundred times finer and taken every
//     0.2 ms, in two control modes (the direct start-up above, and the vector-controlled
//     start of examples/vector_control_pi.mas to 1000 tr/mn with its 20 N m load step at
//     0.5 s, over 0.7 s at its own dt = 1e-5 s), on two machines (the example machine and one with
//     twice its resistances and half its inertia; the vector controller keeps its model
//     of the first), with the example record's sensor levels (1.5 tr/mn, 0.08 A rms) and
//     twice them, white or coloured (AR(1), time constant 5 ms), SEEDS records each: per
//     parameter, noise kind and control mode, how often the 95 % interval holds the
//     truth, the median relative half-width, the median ratio of the Newey-West to the
//     white-noise standard error, and, on the first BOOT_SEEDS records of each, the
//     moving-block bootstrap (RESAMPLES refits): how often its interval holds the truth
//     and the median ratio of its half-width to the default one.
//
//   fit_coverage_bench [SEEDS [BOOT_SEEDS [RESAMPLES [VECTOR_DT [MODES]]]]]
//     default 3 1 30 1e-5 dv: 48 records, 16 of them bootstrapped; VECTOR_DT the step of
//     the vector-controlled study; MODES d (direct start-up, with the accuracy part), v
//     (vector-controlled start) or dv (both).

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
constexpr std::array<int, 6> kCoverageGenes = {kGeneRs,    kGeneTs, kGeneTr,
                                               kGeneSigma, kGeneJ,  kGeneA30};

// An example study (`tf` > 0 replaces its end, `dt` > 0 its step), every gene fitted but
// the quadratic and linear load terms (the examples' loads are constant).
SimulationSettings StudyOf(const char* file, double tf, double dt) {
  SimulationSettings s;
  SilentPlatform quiet;
  s.ParamFileName = std::string(MAS_SOURCE_DIR) + "/examples/" + file;
  ReadParameterFile(s, quiet,
                    (std::filesystem::temp_directory_path() / "fit_coverage_echo.dat").string());
  s.DisplayProgressBar = false;
  if (tf > 0.0) s.tf = tf;
  if (dt > 0.0) s.dt = dt;
  s.PushStep();
  s.GenX.fill(true);
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
  std::array<int, NGenes> counted{};
  std::array<std::vector<double>, NGenes> half_width;
  std::array<std::vector<double>, NGenes> white_ratio;
  std::array<int, NGenes> boot_inside{};
  std::array<int, NGenes> boot_counted{};
  std::array<std::vector<double>, NGenes> boot_ratio;
  int fits = 0;
  int failed = 0;
  int boot_fits = 0;
  int boot_unreliable = 0;

  void Add(const FitResult& r, const Genes& truth) {
    ++fits;
    if (!r.statistics) {
      ++failed;
      return;
    }
    for (const FittedParameter& p : r.parameters) {
      const auto j = static_cast<std::size_t>(p.gene);
      const double x = truth[j];
      ++counted[j];
      inside[j] += p.lower95 <= x && x <= p.upper95 ? 1 : 0;
      if (x != 0.0) half_width[j].push_back(0.5 * (p.upper95 - p.lower95) / std::fabs(x));
      white_ratio[j].push_back(p.standard_error / p.white_error);
    }
    if (r.bootstrap.requested == 0) return;
    ++boot_fits;
    if (!r.bootstrap.reliable) ++boot_unreliable;
    for (const ResampledParameter& b : r.bootstrap.parameters) {
      const auto j = static_cast<std::size_t>(b.gene);
      const double x = truth[j];
      ++boot_counted[j];
      boot_inside[j] += b.lower95 <= x && x <= b.upper95 ? 1 : 0;
      for (const FittedParameter& p : r.parameters) {
        if (p.gene == b.gene)
          boot_ratio[j].push_back((b.upper95 - b.lower95) / (p.upper95 - p.lower95));
      }
    }
  }

  void Print(const char* name) const {
    std::printf("  %-26s", name);
    for (int j : kCoverageGenes) {
      const auto ju = static_cast<std::size_t>(j);
      std::printf("  %s %3.0f %% ±%.3g %% x%.2f", kGeneNames[ju],
                  100.0 * inside[ju] / std::max(counted[ju], 1), 100.0 * Median(half_width[ju]),
                  Median(white_ratio[ju]));
    }
    std::printf("  (%d fits%s)\n", fits, failed > 0 ? ", some without intervals" : "");
    if (boot_fits == 0) return;
    std::printf("  %-26s", "  bootstrap");
    for (int j : kCoverageGenes) {
      const auto ju = static_cast<std::size_t>(j);
      std::printf("  %s %3.0f %% x%.2f        ", kGeneNames[ju],
                  100.0 * boot_inside[ju] / std::max(boot_counted[ju], 1), Median(boot_ratio[ju]));
    }
    std::printf("  (%d fits, %d unreliable)\n", boot_fits, boot_unreliable);
  }
};

struct Mode {
  const char* name;
  SimulationSettings study;
};

void Coverage(const std::vector<Mode>& modes, const Genes& example, int seeds, int boot_seeds,
              int resamples) {
  Genes second = example;
  second[kGeneRs] *= 2.0;  // twice both resistances: Ts and Tr halved
  second[kGeneTs] *= 0.5;
  second[kGeneTr] *= 0.5;
  second[kGeneJ] *= 0.5;
  struct Noise {
    const char* name;
    double level;
    double time_constant;
  };
  const std::array<Noise, 4> noises = {Noise{"blanc x1", 1.0, 0.0}, Noise{"blanc x2", 2.0, 0.0},
                                       Noise{"AR(1) 5 ms x1", 1.0, 5e-3},
                                       Noise{"AR(1) 5 ms x2", 2.0, 5e-3}};
  std::printf(
      "\nCoverage: %d records per control mode, machine and noise, records 100 times finer; "
      "bootstrap (%d refits) on the first %d of each\n",
      seeds, resamples, boot_seeds);
  const auto begin = Clock::now();
  std::vector<std::array<Tally, 4>> tallies(modes.size());  // [mode][noise]
  for (std::size_t k = 0; k < modes.size(); ++k) {
    for (int m = 0; m < 2; ++m) {
      const Genes truth = m == 0 ? example : second;
      const ExperimentalData clean = Record(modes[k].study, truth, 100);
      {
        // The clean record's own mismatch with the study's simulation of the same machine:
        // what the fit cannot tell from noise.
        CarriedState carried;
        carried.experiment = clean;
        const TrajectoryResiduals at =
            ResidualsAt(modes[k].study, carried, truth, ResidualKind::kMachineState);
        std::printf(
            "  %s, machine %d: clean record vs the study at the truth: %.4g tr/mn, %.4g A rms\n",
            modes[k].name, m + 1, at.speed_rms, at.current_rms);
      }
      for (std::size_t n = 0; n < noises.size(); ++n) {
        const Noise& noise = noises[n];
        for (int seed = 0; seed < seeds; ++seed) {
          CarriedState carried;
          carried.experiment = clean;
          AddNoise(carried.experiment, 1.5 * noise.level, 0.08 * noise.level, noise.time_constant,
                   100000 * k + 1000 * static_cast<std::uint64_t>(m) + 100 * n +
                       static_cast<std::uint64_t>(seed) + 1);
          FitOptions o;
          o.seed = static_cast<std::uint32_t>(seed + 1);
          if (seed < boot_seeds) o.bootstrap = resamples;
          RecordingPlatform platform;
          const auto t = Clock::now();
          const FitResult r =
              FitTrajectory(Scaled(truth, 1.1), modes[k].study, carried, platform, o);
          tallies[k][n].Add(r, truth);
          std::fprintf(stderr, "%s, machine %d, %s, seed %d: end %d, %.1f s (bootstrap %.1f s)\n",
                       modes[k].name, m + 1, noise.name, seed, static_cast<int>(r.end),
                       std::chrono::duration<double>(Clock::now() - t).count(),
                       r.bootstrap.seconds);
        }
      }
    }
  }
  std::printf(
      "  per parameter: share of the 95 %% intervals holding the truth, median relative "
      "half-width, median ratio of the Newey-West to the white-noise standard error;\n"
      "  bootstrap: share of its intervals holding the truth, median ratio of its "
      "half-width to the default one\n");
  for (std::size_t n = 0; n < noises.size(); ++n) {
    for (std::size_t k = 0; k < modes.size(); ++k) {
      const std::string name = std::string(noises[n].name) + ", " + modes[k].name;
      tallies[k][n].Print(name.c_str());
    }
  }
  std::printf("  %.1f s wall\n", std::chrono::duration<double>(Clock::now() - begin).count());
}

}  // namespace
}  // namespace mas

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line as it comes: the run is long
  const int seeds = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 3;
  const int boot_seeds = argc > 2 ? std::max(std::atoi(argv[2]), 0) : 1;
  const int resamples = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 10000) : 30;
  const double vector_dt = argc > 4 ? std::atof(argv[4]) : 1e-5;
  const std::string which = argc > 5 ? argv[5] : "dv";
  const mas::SimulationSettings study = mas::StudyOf("identification.mas", 0.0, 0.0);
  std::vector<mas::Mode> modes;
  if (which.find('d') != std::string::npos) {
    mas::Accuracy(study, mas::GenesOfMachine(study.dq));
    modes.push_back({"démarrage direct", study});
  }
  if (which.find('v') != std::string::npos) {
    modes.push_back({"vectoriel", mas::StudyOf("vector_control_pi.mas", 0.7, vector_dt)});
  }
  // The example machine and its 2 N m load, in every mode.
  mas::Coverage(modes, mas::GenesOfMachine(study.dq), seeds, boot_seeds, resamples);
  return 0;
}
