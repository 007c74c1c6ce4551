#pragma once
// A sweep spread over the ranks of an MPI job (mpirun -n N mas sweep ... --mpi).
//
// Rank 0 hands out the runs one at a time from a work queue: a rank that finishes a run
// sends its row and gets the next run at once, so long and short runs mix without a
// fixed split. Rank 0 also runs runs itself on a thread of its own (its MPI side only
// answers requests), gathers the rows and keeps the journal and the summary. Every rank
// reads the sweep file and the study itself and builds the same list of runs, so only
// run indices and rows travel; a row is a function of its run alone, so the summary is
// the one the local run writes, byte for byte.

#include <span>

#include "sweep/sweep_execution.h"

namespace mas {

// MPI for the life of the object: MPI_Init_thread (funneled: only the thread that
// created it calls MPI) unless MPI is already up, MPI_Finalize at the end.
class MpiEnvironment {
 public:
  MpiEnvironment();
  ~MpiEnvironment();
  MpiEnvironment(const MpiEnvironment&) = delete;
  MpiEnvironment& operator=(const MpiEnvironment&) = delete;

  int rank() const { return rank_; }
  int size() const { return size_; }
  // The largest of every rank's `value` (an exit status, 0 when all went well).
  int MaxOverRanks(int value) const;

 private:
  bool finalize_ = false;
  int rank_ = 0;
  int size_ = 1;
};

// Rank 0: runs `runs` over every rank (itself included) and hands the rows to `deliver`
// in the order they arrive; `stop_requested` stops the handing out (the runs under way
// finish). Returns true when every run was done. Other ranks: run the runs rank 0 sends
// (their `runs`, `deliver` and `stop_requested` are not used) and return true.
bool RunOverMpi(const MpiEnvironment& mpi, const SweepRunner& runner,
                std::span<const long long> runs, const RowSink& deliver,
                const StopRequest& stop_requested);

}  // namespace mas
