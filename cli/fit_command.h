#pragma once
// `mas identify fit`: identification of the machine's parameters by a least-squares fit
// of the simulated start-up to the measured one (fit/trajectory_fit.h).
//
//   mas identify fit STUDY.mas [--set NAME=VALUE]... [--exp [STUDY2.mas:]FILE]...
//                  [--init Rs,Ts,Tr,sigma,J,a10,a20,a30] [--starts N] [--seed S]
//                  [--threads T] [--max-iterations N] [--step H] [--save-best OUT.mas]
//                  [--residuals etat|cout] [--report FILE] [--bootstrap N] [--profile]
//                  [--mpi]
//
// As `identify ga`: the study is read, the --set overrides applied (cost weights gWmF,
// gIasF, gA, gt0 and CostFunction included), the record read (ExpNom or --exp), the GenX
// overrides applied again after it (the reading marks every gene as optimised) and the
// tables built on the study's time base. The guess is --init, or else the parameter set
// of the study's machine. One line per solver iteration goes to stderr (start,
// iteration, cost, step, time); the summary goes to stdout, and with --report to a file.
// With several --exp the records are fitted jointly with one parameter set: each is read
// and simulated with its own study (the main one for a plain FILE), the --set overrides
// and the main study's GenX applied to every one.
// Ctrl-C ends the fit at the best point reached, whose summary is printed and whose
// --save-best and --report are written; the exit status is then 130.
// --bootstrap N adds moving-block bootstrap intervals (N refits, 1..10000; 0 is refused:
// leave the option out for none) and --profile profile-likelihood intervals of the
// parameters correlated above 0.99 with another, each table under its own heading.
// With --mpi (mpirun -n N mas identify fit ... --mpi) the simulations of each Jacobian
// are spread over the ranks, --threads threads per rank, with the fit of the command run
// alone (cli/optimisation_ranks.h); rank 0 prints and writes.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace CLI {
class App;
}

namespace mas {

struct FitRequest {
  std::string study;
  std::vector<std::string> overrides;  // "NAME=VALUE", applied in order after the study
  // The records, in order: "RECORD" (read with the main study, replacing its ExpNom) or
  // "STUDY.mas:RECORD" (read and simulated with that study). None: the main study's ExpNom.
  std::vector<std::string> experiments;
  std::optional<std::array<double, 8>> init;
  int starts = 0;                     // extra starts beside the guess
  std::optional<std::uint32_t> seed;  // none: the calendar time
  int threads = 0;                    // 0: one per core
  int max_iterations = 50;            // per start
  double step = 1e-4;                 // relative finite-difference step
  bool cost_residuals = false;        // --residuals cout: the identification cost's terms
  std::optional<std::string> save_best;
  std::optional<std::string> report;
  bool mpi = false;      // spread the simulations of each Jacobian over the ranks of an MPI job
  int bootstrap = 0;     // moving-block bootstrap resamples (0: none)
  bool profile = false;  // profile-likelihood intervals of the strongly correlated parameters
};

// Runs the fit; returns the exit status (see `mas identify fit --help`).
int FitCommand(const FitRequest& request, CliEnvironment& env);

// The `fit` subcommand of `identify`, and the request its options fill.
class FitSubcommand {
 public:
  explicit FitSubcommand(CLI::App& identify);
  bool Selected() const;
  int Run(CliEnvironment& env);

 private:
  CLI::App* fit_ = nullptr;
  FitRequest request_;
  std::vector<std::string> experiments_;
  std::string init_, save_, report_, residuals_ = "etat";
  long long seed_ = 0;
};

}  // namespace mas
