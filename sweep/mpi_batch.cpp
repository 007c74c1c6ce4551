#include "sweep/mpi_batch.h"

#include <mpi.h>

#include <climits>
#include <cstddef>
#include <stdexcept>

namespace mas {

std::vector<std::string> MpiBatchDistributor::AllGather(std::string_view mine) {
  // MPI counts are ints: a rank's share of a batch (costs, messages, residuals) stays far
  // below 2 GB, and the total is checked before the exchange.
  if (mine.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("Résultats trop volumineux pour l'échange entre rangs MPI");
  }
  const int size = mpi_.size();
  int length = static_cast<int>(mine.size());
  std::vector<int> lengths(static_cast<std::size_t>(size));
  MPI_Allgather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, MPI_COMM_WORLD);
  std::vector<int> offsets(static_cast<std::size_t>(size));
  long long total = 0;
  for (int r = 0; r < size; ++r) {
    offsets[static_cast<std::size_t>(r)] = static_cast<int>(total);
    total += lengths[static_cast<std::size_t>(r)];
    if (total > INT_MAX) {
      throw std::length_error("Résultats trop volumineux pour l'échange entre rangs MPI");
    }
  }
  std::string all(static_cast<std::size_t>(total), '\0');
  MPI_Allgatherv(mine.data(), length, MPI_CHAR, all.data(), lengths.data(), offsets.data(),
                 MPI_CHAR, MPI_COMM_WORLD);
  std::vector<std::string> parts;
  parts.reserve(static_cast<std::size_t>(size));
  for (int r = 0; r < size; ++r) {
    parts.push_back(all.substr(static_cast<std::size_t>(offsets[static_cast<std::size_t>(r)]),
                               static_cast<std::size_t>(lengths[static_cast<std::size_t>(r)])));
  }
  return parts;
}

}  // namespace mas
