#pragma once
// Start-ups for the fit's tests: a short, coarse direct start-up of the example machine
// whose "measured" record is the study's own simulation with known parameters, clean or
// with sensor noise added at every recorded instant.

#include <cmath>
#include <cstdint>
#include <random>

#include "engine/run_simulation.h"
#include "tests/identification/identification_fixture.h"

namespace mas::testing {

// The example machine with a load that has all three terms (quadratic, linear and
// constant), so that every gene has something to fit.
inline Genes LoadedMachineGenes() {
  Genes g = ExampleMachineGenes();
  g[kGeneA10] = 3e-5;  // 0.74 N m at 1500 tr/mn
  g[kGeneA20] = 4e-3;  // 0.63 N m at 1500 tr/mn
  g[kGeneA30] = 1.0;
  return g;
}

// Every gene `factor` times the truth (sigma too).
inline Genes Scaled(const Genes& g, double factor) {
  Genes out = g;
  for (double& x : out) x *= factor;
  return out;
}

// How much finer than the study the records are integrated.
inline constexpr int kRecordFiner = 10;

struct FitStudy {
  SimulationSettings s;
  CarriedState carried;
};

// A direct start-up over tf with the step dt, recorded every out_step steps, compared on
// the phase current itself (CostFunction 0), with the record made from `truth` another
// way: integrated ten times finer and taken at the study's recorded instants, as a
// measurement of the real machine would be. With noise, white Gaussian noise of the
// given rms (tr/mn, A) is added to every row of the record from `seed`. `record_every`
// (fine steps) samples the record at another period than the study's recorded steps.
// `noise_time` > 0 colours the noise: AR(1) with that time constant (s), of the same rms.
// `finer`: how much finer than the study the record is integrated (its own network sine,
// held over each of its steps, lags half of its step: a hundred times finer makes that
// lag negligible beside the noise).
inline FitStudy MakeFitStudy(const Genes& truth, double tf = 0.25, double dt = 1e-4,
                             int out_step = 5, double speed_noise = 0.0, double current_noise = 0.0,
                             std::uint32_t seed = 1, int record_every = 0, double noise_time = 0.0,
                             int finer = kRecordFiner) {
  FitStudy f;
  f.s = StartUpStudy(tf, dt, out_step);
  f.s.CostFunction = 0;
  f.s.gA = 200.0;
  f.s.gt0 = 0.01;
  MapGenesOntoMachine(truth, f.s);
  SimulationSettings measuring = f.s;
  measuring.tf = f.s.tf + 10 * f.s.dt * f.s.OutStep;
  measuring.dt = f.s.dt / finer;
  measuring.PushStep();
  measuring.OutStep = record_every > 0 ? record_every : f.s.OutStep * finer;
  measuring.CreateOutputFile = true;
  RecordSink sink(f.carried.experiment);
  SilentPlatform quiet;
  RunSimulation(measuring, f.carried, quiet, &sink, false, 0);
  if (speed_noise > 0.0 || current_noise > 0.0) {
    std::mt19937_64 engine(seed);
    std::normal_distribution<double> normal;
    ExperimentalData& d = f.carried.experiment;
    double nw = 0.0;
    double ni = 0.0;
    for (std::size_t i = 0; i < d.ExpTime.size(); ++i) {
      const double gap = i > 0 ? d.ExpTime[i] - d.ExpTime[i - 1] : 0.0;
      const double phi = noise_time > 0.0 && i > 0 ? std::exp(-gap / noise_time) : 0.0;
      const double fresh = std::sqrt(1.0 - phi * phi);
      nw = phi * nw + fresh * normal(engine);
      ni = phi * ni + fresh * normal(engine);
      d.ExpWm[i] += speed_noise * nw;
      d.ExpIas[i] += current_noise * ni;
    }
  }
  BuildExperimentalTables(f.s, f.carried, quiet, nullptr);
  return f;
}

// The same machine at speed taking a load step: a start-up over tf with a constant load
// `step_load` (N m) added at `step_time`, recorded clean ten times finer as above, so
// that a second record shows the machine under load beside the start-up.
inline FitStudy MakeLoadStepStudy(const Genes& truth, double tf, double step_time, double step_load,
                                  double dt = 1e-4, int out_step = 5) {
  FitStudy f;
  f.s = StartUpStudy(tf, dt, out_step);
  f.s.CostFunction = 0;
  f.s.Crt[0] = step_time;
  f.s.da3ref[0] = step_load;
  MapGenesOntoMachine(truth, f.s);
  SimulationSettings measuring = f.s;
  measuring.tf = f.s.tf + 10 * f.s.dt * f.s.OutStep;
  measuring.dt = f.s.dt / kRecordFiner;
  measuring.PushStep();
  measuring.OutStep = f.s.OutStep * kRecordFiner;
  measuring.CreateOutputFile = true;
  RecordSink sink(f.carried.experiment);
  SilentPlatform quiet;
  RunSimulation(measuring, f.carried, quiet, &sink, false, 0);
  BuildExperimentalTables(f.s, f.carried, quiet, nullptr);
  return f;
}

}  // namespace mas::testing
