#pragma once
// The batches of an optimiser shared over the ranks of an MPI job (mas identify ... --mpi,
// mas tune ... --mpi): the BatchDistributor of the candidate evaluator on MPI_COMM_WORLD.
// Every rank runs the same optimiser; the evaluator gives each its share of a batch and
// exchanges the results with one MPI_Allgatherv per batch (identification/batch_distributor.h).

#include <string>
#include <string_view>
#include <vector>

#include "identification/batch_distributor.h"
#include "sweep/mpi_sweep.h"

namespace mas {

class MpiBatchDistributor final : public BatchDistributor {
 public:
  // `mpi` must outlive the distributor; only the thread that started MPI may call it.
  explicit MpiBatchDistributor(const MpiEnvironment& mpi) : mpi_(mpi) {}

  int Rank() const override { return mpi_.rank(); }
  int Ranks() const override { return mpi_.size(); }
  std::vector<std::string> AllGather(std::string_view mine) override;

 private:
  const MpiEnvironment& mpi_;
};

}  // namespace mas
