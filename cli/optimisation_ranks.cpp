#include "cli/optimisation_ranks.h"

#include <unistd.h>

#include <cstring>
#include <sstream>
#include <system_error>

#include "cli/terminal_platform.h"
#include "sweep/mpi_batch.h"
#include "sweep/mpi_sweep.h"

namespace mas {
namespace {

// The platform of a rank other than 0: shows nothing, but its runs see a stop signal.
class QuietRankPlatform final : public SilentPlatform {
 public:
  bool EscapePressed() override { return InterruptRequested(); }
};

// A folder of this process alone for the logs of a quiet rank, removed at the end (none
// for rank 0, whose logs go where they were asked).
class PrivateFolder {
 public:
  explicit PrivateFolder(int rank) {
    if (rank == 0) return;
    std::error_code ec;
    path_ = std::filesystem::temp_directory_path(ec) /
            ("mas_rank" + std::to_string(rank) + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path_, ec);
  }
  ~PrivateFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

OptimisationRanks::OptimisationRanks(const MpiEnvironment& mpi, BatchDistributor& distributor,
                                     std::filesystem::path private_logs)
    : mpi_(&mpi), distributor_(&distributor), private_logs_(std::move(private_logs)) {}

std::string OptimisationRanks::LogFolder(const std::string& asked) const {
  return root() ? asked : private_logs_.string();
}

int OptimisationRanks::Agree(int status, CliEnvironment& env) const {
  if (mpi_ == nullptr) return status;
  const int agreed = mpi_->MaxOverRanks(status);
  if (agreed != kExitSuccess && status == kExitSuccess && root()) {
    env.err << "Erreur: un autre rang n'a pu lire l'étude ou le fichier expérimental, ou "
               "préparer les tables\n"
            << std::flush;
  }
  return agreed;
}

bool OptimisationRanks::AnyStop(bool stop) const {
  return mpi_ == nullptr ? stop : mpi_->MaxOverRanks(stop ? 1 : 0) != 0;
}

std::uint32_t OptimisationRanks::SameSeed(std::uint32_t seed) const {
  if (mpi_ == nullptr) return seed;
  const std::string mine(reinterpret_cast<const char*>(&seed), sizeof seed);
  const std::string root_seed = distributor_->AllGather(mine).front();
  std::uint32_t agreed = seed;
  if (root_seed.size() == sizeof agreed) std::memcpy(&agreed, root_seed.data(), sizeof agreed);
  return agreed;
}

std::string OptimisationRanks::Description() const {
  if (mpi_ == nullptr) return "";
  return ", " + std::to_string(size()) + " rang" + (size() > 1 ? "s" : "") + " MPI";
}

int RunOptimisation(bool mpi, CliEnvironment& env, const RankedCommand& command) {
  if (!mpi) return command(env, OptimisationRanks());
  const MpiEnvironment environment;
  MpiBatchDistributor distributor(environment);
  const bool root = environment.rank() == 0;
  std::ostringstream quiet;
  QuietRankPlatform quiet_platform;
  CliEnvironment quiet_env{quiet, quiet, quiet_platform, "/dev/null"};
  const PrivateFolder logs(environment.rank());
  const OptimisationRanks ranks(environment, distributor, logs.path());
  const int status = command(root ? env : quiet_env, ranks);
  // Rank 0's status on every rank: the others wrote nothing that could fail the command.
  return environment.MaxOverRanks(root ? status : 0);
}

}  // namespace mas
