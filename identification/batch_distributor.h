#pragma once
// Sharing the scoring of a batch of candidates among the processes of a job (the ranks
// of an MPI job: mas identify ... --mpi, mas tune ... --mpi).
//
// Every process runs the same deterministic optimiser on the same study with the same
// seed, so every process builds the same batches in the same order; only the scoring of
// a batch is shared. The candidate evaluator (candidate_evaluator.h) gives each process
// its share of the batch, scores it on the process's own threads, and hands the costs,
// messages and per-candidate results to every other process through AllGather, so that
// every process ends the batch with the same Evaluation and the same study left behind
// as one-by-one scoring. This interface is the only thing the evaluator needs to know of
// the processes: the MPI implementation lives with the other MPI code (sweep/mpi_batch.h).

#include <string>
#include <string_view>
#include <vector>

namespace mas {

class BatchDistributor {
 public:
  virtual ~BatchDistributor() = default;

  // This process, 0 .. Ranks() - 1; process 0 is the one that speaks and writes.
  virtual int Rank() const = 0;
  virtual int Ranks() const = 0;

  // Collective: every process passes its bytes and receives those of every process, in
  // rank order (its own included). Every process must call it the same number of times.
  virtual std::vector<std::string> AllGather(std::string_view mine) = 0;

  // Collective: whether any process passes true (a stop seen by one process stops all).
  bool AnyOf(bool mine) {
    for (const std::string& bytes : AllGather(mine ? "1" : "0")) {
      if (bytes == "1") return true;
    }
    return false;
  }
};

}  // namespace mas
