#pragma once
// The optimisation commands (identify ga|pso|fit, tune) alone or over the ranks of an MPI
// job (--mpi: mpirun -n N mas identify ga ... --mpi).
//
// Every rank runs the whole command: it reads the study and the record, seeds the same
// generator and runs the same optimiser, so every rank builds the same generations; the
// candidate evaluator shares the scoring of each batch over the ranks and gives every
// rank the same costs (identification/batch_distributor.h). Rank 0 alone speaks and
// writes: its output, messages, logs, --save-best, --report and --simulate-best are those
// of the command run alone. The other ranks keep quiet: their output and messages go
// nowhere and their logs go to a private folder removed at the end, but a stop signal
// still interrupts their runs.
//
// No rank may wait for a collective call that another rank skips. The commands therefore
// take their decisions at the same points on every rank:
//   - everything before the optimisation (usage, study, record, tables, targets) ends in
//     one agreement, Agree(): the largest status of all ranks;
//   - a stop between two generations is AnyStop(): one rank's Ctrl-C stops them all;
//   - the ends of a batch come from the shared Evaluation;
// and the command's status is rank 0's, on every rank.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "identification/batch_distributor.h"

namespace mas {

class MpiEnvironment;

class OptimisationRanks {
 public:
  // Alone: one rank, no distributor, agreements that agree with themselves.
  OptimisationRanks() = default;
  OptimisationRanks(const MpiEnvironment& mpi, BatchDistributor& distributor,
                    std::filesystem::path private_logs);

  bool root() const { return mpi_ == nullptr || distributor_->Rank() == 0; }
  int size() const { return mpi_ == nullptr ? 1 : distributor_->Ranks(); }
  // The distributor for the candidate evaluator (none when alone).
  BatchDistributor* distributor() const { return distributor_; }
  // Where the optimiser's logs go: `asked` on rank 0, the private folder elsewhere.
  std::string LogFolder(const std::string& asked) const;

  // The largest `status` of all ranks. Rank 0 says so when another rank failed alone.
  int Agree(int status, CliEnvironment& env) const;
  // Whether any rank saw a stop.
  bool AnyStop(bool stop) const;
  // Rank 0's seed on every rank (a seed from the clock may differ by a second).
  std::uint32_t SameSeed(std::uint32_t seed) const;
  // "" alone, otherwise ", N rangs MPI" for the line that announces the computation.
  std::string Description() const;

 private:
  const MpiEnvironment* mpi_ = nullptr;
  BatchDistributor* distributor_ = nullptr;
  std::filesystem::path private_logs_;
};

using RankedCommand = std::function<int(CliEnvironment&, const OptimisationRanks&)>;

// Runs `command` alone (mpi false) or on every rank of the MPI job (mpi true): rank 0 with
// `env`, the other ranks quietly. Returns the command's status, rank 0's on every rank.
int RunOptimisation(bool mpi, CliEnvironment& env, const RankedCommand& command);

}  // namespace mas
