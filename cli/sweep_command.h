#pragma once
// `mas sweep`: one study run many times with settings changed by a sweep file, on the
// cores of this machine or over the ranks of an MPI job, into one summary table.
//
//   mas sweep SWEEP.txt [--threads T] [--summary OUT.tsv] [--tables DIR] [--resume] [--mpi]
//   mpirun -n N mas sweep SWEEP.txt --mpi ...
//
// The sweep file (sweep/sweep_file.h) names the study, the parameters and the metrics.
// Rows go to the journal "<summary>.journal" as runs finish; the summary (by default
// "<sweep file name>.tsv" in the current folder) is written sorted by run index at the
// end. --resume runs only what the journal lacks. Progress on stderr: runs done, runs per
// second, time left. With --mpi every rank runs one run at a time (--threads is not used)
// and rank 0 alone writes and speaks.

#include <optional>
#include <string>

#include "cli/commands.h"

namespace CLI {
class App;
}

namespace mas {

struct SweepRequest {
  std::string sweep_file;
  int threads = 0;  // 0: one per core
  std::optional<std::string> summary;
  std::string tables_folder;                      // empty: no tables
  TableFormat table_format = TableFormat::kText;  // of the runs' tables
  bool resume = false;
  bool mpi = false;
};

// Runs the sweep; returns the exit status.
int SweepCommand(const SweepRequest& request, CliEnvironment& env);

// The `sweep` subcommand registered on `app`.
class SweepSubcommand {
 public:
  explicit SweepSubcommand(CLI::App& app);
  bool Selected() const;
  int Run(CliEnvironment& env);

 private:
  CLI::App* sweep_ = nullptr;
  SweepRequest request_;
  std::string summary_;
};

}  // namespace mas
