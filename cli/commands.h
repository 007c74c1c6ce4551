#pragma once
// The subcommands of `mas`, as functions of their arguments and of where they write, so
// that the executable is a few lines of main() and the tests call the same code.
//
//   mas run [STUDY.mas] [--set NAME=VALUE]... [--output PATH] [--table-format text|csv|mat]
//           [--viewer] [--dsv-type 0..5]
//   mas save STUDY.mas OUT.mas [--set NAME=VALUE]...
//   mas dsvpwm show|simulate ...   (cli/dsvpwm_command.h)
//
// Messages of the workbench (the run's and the parameter file's) go through the Platform;
// usage errors and the --set diagnostics to `err`; the run's summary to `out`.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_simulation.h"
#include "platform/platform.h"
#include "tables/table_file.h"

namespace mas {

// Exit statuses of `mas`, listed in `mas --help`.
enum ExitStatus : int {
  kExitSuccess = 0,        // the run reached tf; the study was saved
  kExitParameterFile = 1,  // the parameter file could not be read or written; the cage
                           // model could not be prepared (singular matrix, memory); a
                           // write-protected output or one naming the study; a log or
                           // table that could not be written
  kExitUsage = 2,          // bad option or argument, unknown or malformed --set
  kExitRefused = 3,        // no study, output file not opened, no mode or several modes
  kExitDiverged = 4,       // the run diverged
  kExitInterrupted = 130,  // Ctrl-C, SIGTERM or SIGHUP: the run stopped, its partial
                           // output is kept
};

// Exit status of a run that ended with `status`.
int ExitStatusFor(RunStatus status);

// Why the file `target` may not be written, or empty when it may: a write-protected file
// (renaming over it would not ask), or the study being read (`study`, when given: a table
// would replace it). The commands check it before anything runs and end with
// kExitParameterFile after the message, so that nothing is lost and no run is wasted.
std::string WriteRefusal(const std::string& target, const std::string& study = {});

// Passes everything to `inner` and counts the write failures among the messages (caption
// "Erreur d'écriture"): an optimiser reports a log it could not write and goes on, and the
// command then ends with kExitParameterFile once its work is done, its results kept.
class WriteFailureWatch final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    if (caption == "Erreur d'écriture") ++write_failures_;
    ForwardingPlatform::ShowMessage(text, caption, icon);
  }
  int write_failures() const { return write_failures_; }
  // `status` unless it is a success and a write failed.
  int StatusAfter(int status) const {
    return status == kExitSuccess && write_failures_ > 0 ? kExitParameterFile : status;
  }

 private:
  int write_failures_ = 0;
};

// Shows a WriteRefusal (caption "Erreur") and returns kExitParameterFile; nothing when
// `target` may be written.
std::optional<int> RefuseProtectedTarget(const std::string& target, Platform& platform,
                                         const std::string& study = {});

// Where a subcommand reads and writes.
struct CliEnvironment {
  std::ostream& out;
  std::ostream& err;
  Platform& platform;
  // Echo of every parameter-file read; the workbench writes it in the working directory.
  std::string echo_path = "rd_echo.dat";
};

struct RunRequest {
  std::string study;                   // empty: no study (the run is refused)
  std::vector<std::string> overrides;  // "NAME=VALUE", applied in order
  std::optional<std::string> output;   // replaces OutFileName, after the overrides
  bool viewer = false;                 // start the curve viewer at the end
  // Kind of the output table; a CSV or .mat table takes the output name with its own
  // extension (out.csv, out.mat for out.dat).
  TableFormat table_format = TableFormat::kText;
  // Modulation type of the double space-vector modulator the run's inverter uses.
  ModulationType dsv_type = ModulationType::kContinuous1;
};

struct SaveRequest {
  std::string study;
  std::string target;
  std::vector<std::string> overrides;
};

// Reads the study, applies the overrides and --output, runs one simulation (RunMode 0)
// and prints its summary. Returns the exit status.
int RunStudyCommand(const RunRequest& request, CliEnvironment& env);

// Reads the study named on the command line (none: the settings keep their defaults) and
// applies the --set overrides, all checked before anything is read. Returns the exit
// status of a failure (usage, or the study file's), after its message; nothing when the
// study is ready.
std::optional<int> LoadStudy(const std::string& study, const std::vector<std::string>& overrides,
                             SimulationSettings& settings, CliEnvironment& env);

// Reads the study, applies the overrides and writes the settings to request.target.
int SaveStudyCommand(const SaveRequest& request, CliEnvironment& env);

// What the summary of a run reports.
struct RunSummary {
  std::string study;
  RunStatus status = RunStatus::kReachedEnd;
  double t0 = 0.0;
  double dt = 0.0;
  long long steps = 0;
  double wall_seconds = 0.0;
  std::optional<double> speed_rpm;  // none when the pole-pair count is 0
  double torque = 0.0;              // N m
  std::string output;               // empty: no output file
};

// The summary block printed after a run, one "Label : value" line per item.
std::string FormatRunSummary(const RunSummary& summary);

// The whole command line without the program name: parses `args` and runs the
// subcommand. `mas --help` prints the usage on `out` and returns 0.
int MasMain(const std::vector<std::string>& args, CliEnvironment& env);

}  // namespace mas
