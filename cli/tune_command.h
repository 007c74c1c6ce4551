#pragma once
// `mas tune`: genetic tuning of the study's IP or fuzzy speed regulator on its own
// scenario, without a window.
//
//   mas tune ip|fuzzy STUDY.mas [--set NAME=VALUE]... [--generations N] [--seed S]
//                     [--recover] [--threads T] [--save-best OUT.mas] [--logs DIR] [--mpi]
//
// The study must select the tuned regulator (WIP or WFlou) in a mode with a speed loop.
// The population starts at random from the seed, or around the study's current settings
// with --recover; each generation prints its number, the best fitness and the best three
// genes; the logs ("debgen.cpp", and "HistorF.cpp" for the fuzzy regulator) go to the
// current folder or --logs. --save-best writes the study with the best genes in the speed
// regulator's settings.
// With --mpi (mpirun -n N mas tune ... --mpi) the individuals of each generation are
// spread over the ranks, --threads threads per rank, with the logs and the saved study of
// the command run alone with the same seed (cli/optimisation_ranks.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "tuning/speed_regulator_tuning.h"

namespace CLI {
class App;
}

namespace mas {

struct TuneRequest {
  TunedRegulator kind = TunedRegulator::kIP;
  std::string study;
  std::vector<std::string> overrides;
  int generations = 10;
  std::optional<std::uint32_t> seed;  // none: the calendar time, as "&Randomize"
  bool recover = false;               // "&Récupérer": around the current settings
  int threads = 0;                    // 0: one per core
  std::optional<std::string> save_best;
  std::string log_folder = ".";
  bool mpi = false;  // spread the individuals of each generation over the ranks of an MPI job
};

// Runs the tuning; returns the exit status.
int TuneCommand(const TuneRequest& request, CliEnvironment& env);

// The `tune` subcommand registered on `app`.
class TuneSubcommand {
 public:
  explicit TuneSubcommand(CLI::App& app);
  bool Selected() const;
  int Run(CliEnvironment& env);

 private:
  CLI::App* tune_ = nullptr;
  CLI::App* ip_ = nullptr;
  CLI::App* fuzzy_ = nullptr;
  TuneRequest ip_request_;
  TuneRequest fuzzy_request_;
  long long ip_seed_ = -1, fuzzy_seed_ = -1;
  std::string ip_save_, fuzzy_save_;
};

}  // namespace mas
