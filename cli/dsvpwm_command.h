#pragma once
// `mas dsvpwm`: the study of the six-phase double space-vector modulator on the command
// line, and the modulation type of the modulator that `mas run` uses.
//
//   mas dsvpwm show --theta FRACTION --mref M --type 0..5 [--e2 V] [--tmli S]
//   mas dsvpwm simulate --mref M --type 0..5 --dt S --tf S [--e2 V] [--tmli S]
//                       [--output PATH] [--viewer]
//   mas run ... --dsv-type 0..5
//
// `show` prints what the study draws for one reference: sector, reference, leg codes,
// switching instants and the leg states of one switching period. `simulate` runs the
// stand-alone simulation of six R-L phases and writes its debug table. Each command works
// on a modulator of its own with the modulator's defaults (E/2 = 311 V, TMLI = 100 µs)
// unless --e2 or --tmli say otherwise.

#include <optional>
#include <string>

#include "cli/commands.h"
#include "dsvpwm/double_svpwm.h"
#include "dsvpwm/study.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace mas {

// Timing given on the command line; what is not given keeps the modulator's value.
struct DsvpwmTiming {
  std::optional<double> E2;    // half DC-bus voltage (V)
  std::optional<double> TMLI;  // half switching period (s)
};

struct DsvpwmShowRequest {
  double theta = 0.0;  // reference angle, fraction of a turn (0..1)
  double mref = 0.25;  // modulation index (-1..1)
  ModulationType type = ModulationType::kContinuous1;
  DsvpwmTiming timing;
};

struct DsvpwmSimulateRequest {
  StandaloneSimulation sim;  // dt, tf and the modulation index m
  ModulationType type = ModulationType::kContinuous1;
  DsvpwmTiming timing;
  std::string output = kDsvpwmDebugFileName;
  bool viewer = false;  // start the curve viewer on the table at the end
};

// Width of the leg-state rows `show` prints: one switching period 2 TMLI, each column
// the state at the start of its 2 TMLI/80 slice.
inline constexpr int kLegRowColumns = 80;

// What `show` prints for a modulator whose reference was set from `turn_fraction` and `m`
// and recomputed. Samples the leg states, so the modulator's `state` changes.
std::string FormatDsvpwmStudy(DoubleSvpwm& modulator, double turn_fraction, double m);

// Sets the reference as the study does, recomputes and prints. Returns the exit status:
// kExitUsage, after the message, when the inputs give instants that are not finite.
int DsvpwmShowCommand(const DsvpwmShowRequest& request, CliEnvironment& env);

// Runs the stand-alone simulation (progress and Ctrl-C as a run) and, on request, starts
// the viewer on its table. Returns 0, kExitUsage when E/2, TMLI and m give instants that
// are not finite, kExitRefused when dt cannot reach tf or asks for more than a billion
// lines, kExitParameterFile when the table cannot be written or is write-protected (after
// the message, "Caption: text"), or kExitInterrupted after Ctrl-C (the partial table is
// kept, the viewer is not started).
int DsvpwmSimulateCommand(const DsvpwmSimulateRequest& request, CliEnvironment& env);

// Adds to `app` the option `name` holding a modulation type 0..5; its help lists the
// types. Any other value is a usage error.
CLI::Option* AddModulationTypeOption(CLI::App& app, const std::string& name, ModulationType& type,
                                     const std::string& what);

// The `dsvpwm` subcommand of `mas` with its `show` and `simulate` subcommands. CLI11
// writes the parsed values into this object, so it stays where it was built.
class DsvpwmCommand {
 public:
  explicit DsvpwmCommand(CLI::App& app);
  DsvpwmCommand(const DsvpwmCommand&) = delete;
  DsvpwmCommand& operator=(const DsvpwmCommand&) = delete;

  // Whether the parsed command line chose `dsvpwm`.
  bool Selected() const;
  // Runs the chosen subcommand; returns the exit status.
  int Run(CliEnvironment& env);

 private:
  CLI::App* command_ = nullptr;
  CLI::App* show_ = nullptr;
  CLI::App* simulate_ = nullptr;
  DsvpwmShowRequest show_request_;
  DsvpwmSimulateRequest simulate_request_;
  double e2_ = 0.0, tmli_ = 0.0;  // parsed --e2, --tmli (shared by both subcommands)
  CLI::Option* show_e2_ = nullptr;
  CLI::Option* show_tmli_ = nullptr;
  CLI::Option* simulate_e2_ = nullptr;
  CLI::Option* simulate_tmli_ = nullptr;
};

}  // namespace mas
