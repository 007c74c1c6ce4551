#pragma once
// `mas identify`: identification of the machine's eight parameters from a measured
// start-up, by the genetic algorithm or the particle swarm, without a window.
//
//   mas identify ga STUDY.mas [--set NAME=VALUE]... [--exp FILE] [--generations N] [--seed S]
//                  [--init Rs,Ts,Tr,sigma,J,a10,a20,a30] [--threads T] [--save-best OUT.mas]
//                  [--simulate-best] [--logs DIR] [--mpi]
//   mas identify pso STUDY.mas [--set NAME=VALUE]... [--exp FILE] [--epochs N] [--n1 N1] [--n2 N2]
//                  [--pincrement X] [--gincrement X] [--w1 X] [--w2 X] [--seed S]
//                  [--init Rs,Ts,Tr,sigma,J,a10,a20,a30] [--threads T] [--save-best OUT.mas]
//                  [--simulate-best] [--logs DIR] [--mpi]
//
// The command reads the study, applies the --set overrides (the cost weights gWmF, gIasF,
// gA, gt0 and CostFunction, like every dialog-only setting, are not stored in a study),
// reads the experimental record (ExpNom, looked for beside the study first, or --exp, taken
// as named, which also replaces ExpNom in a saved study) and builds the experimental tables on the
// study's time base. Reading the record marks every gene as optimised: --set GenX... is applied
// again after it, so that genes can be held. It then initialises the optimiser (a random population
// or swarm from the seed; with --init, the GA's whole population at that set, or the swarm's global
// best at that set), runs the generations or epochs printing one line each, and writes the
// optimiser's logs in the current folder (or --logs). --save-best writes the study with
// the best parameters in the machine fields; --simulate-best runs the study once with
// them, writing its output table.
//
// With --mpi (mpirun -n N mas identify ... --mpi) the candidates of each generation or
// epoch are spread over the ranks, --threads threads per rank, with the results, logs and
// saved study of the command run alone with the same seed (cli/optimisation_ranks.h).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "identification/experimental_file.h"

namespace CLI {
class App;
}

namespace mas {

// What every identification method does first: reads the study with its --set overrides
// (checked before anything is read), the measured record (ExpNom, or `experiment`, which
// replaces it) with the genes held on the command line kept held, and builds the
// experimental tables on the study's time base (unless `build_tables` is off: the fit on
// the machine's state reads the record itself), printing what was read. Returns the exit
// status of a failure, after its message; nothing when the study and record are ready.
std::optional<int> PrepareIdentification(const std::string& study,
                                         const std::vector<std::string>& override_texts,
                                         const std::optional<std::string>& experiment,
                                         SimulationSettings& s, CarriedState& carried,
                                         CliEnvironment& env, bool build_tables = true,
                                         const RecordColumnNames& columns = {});

// Builds the experimental tables of the study read (without an output table: the
// candidates are scored against them), the run's messages going to `platform`, and prints
// their size on `out`. Returns the exit status of a failure; nothing when they are ready.
std::optional<int> BuildAnnouncedTables(SimulationSettings& s, CarriedState& carried,
                                        Platform& platform, std::ostream& out);

struct IdentifyRequest {
  enum class Method { kGenetic, kSwarm };
  Method method = Method::kGenetic;
  std::string study;
  std::vector<std::string> overrides;             // "NAME=VALUE", applied in order after the study
  std::optional<std::string> experiment;          // replaces ExpNom
  RecordColumnNames columns;                      // the record's columns named (--columns)
  TableFormat table_format = TableFormat::kText;  // of the --simulate-best table
  int iterations = 10;                            // generations or epochs
  std::optional<std::uint32_t> seed;              // none: the calendar time, as "Randomize"
  // GA: every individual from this vector. PSO: this vector scored as the global best of a
  // swarm then drawn again at random (seed + 1) keeping it.
  std::optional<std::array<double, 8>> init;
  int threads = 0;  // 0: one per core
  std::optional<std::string> save_best;
  bool simulate_best = false;
  std::string log_folder = ".";
  bool mpi = false;  // spread the candidates of each batch over the ranks of an MPI job
  // Particle swarm.
  int n1 = 10;
  int n2 = 10;
  double pincrement = 0.01;
  double gincrement = 0.01;
  double w1 = 0.98;
  double w2 = 1.01;
};

// Runs the identification; returns the exit status (see kIdentifyExitHelp).
int IdentifyCommand(const IdentifyRequest& request, CliEnvironment& env);

// Parses "Rs,Ts,Tr,sigma,J,a10,a20,a30": eight finite reals, a point as decimal separator.
std::optional<std::array<double, 8>> ParseGeneVector(const std::string& text);

// The `identify` subcommand registered on `app`, and the request its options fill.
class IdentifySubcommand {
 public:
  explicit IdentifySubcommand(CLI::App& app);
  // Whether the command line chose `identify` (after parsing).
  bool Selected() const;
  int Run(CliEnvironment& env);

 private:
  CLI::App* identify_ = nullptr;
  CLI::App* ga_ = nullptr;
  CLI::App* pso_ = nullptr;
  IdentifyRequest ga_request_;
  IdentifyRequest pso_request_;
  std::string ga_init_, pso_init_;
  std::string ga_experiment_, pso_experiment_;
  std::string ga_save_, pso_save_;
  long long ga_seed_ = 0, pso_seed_ = 0;
};

}  // namespace mas
