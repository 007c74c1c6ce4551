// Any bytes as a study file, and a short run of every study the reader takes: whatever
// the file holds (zeros, NaN, infinities, huge or negative values, any mode flags, fault
// events on any bar), the run ends with one of its outcomes, and the output table is
// written through the real recorder. The time base is shortened to a few hundred steps
// so that each input stays cheap; the cage is limited to 64 bars for the same reason.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/run_simulation.h"
#include "files/output_recorder.h"
#include "files/parameter_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr double kMaxSteps = 300;
constexpr int kMaxFuzzBars = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace mas;
  static const std::string input = fuzz::ScratchPath("study.mas");
  fuzz::WriteBytes(input, data, size);

  SilentPlatform platform;
  SimulationSettings s;
  s.ParamFileName = input;
  try {
    ReadParameterFile(s, platform, fuzz::ScratchPath("echo.dat"));
  } catch (const ParameterFileError&) {
    return 0;
  }
  if (s.SpecialModel && s.cage.Nr > kMaxFuzzBars) return 0;

  // A time base the run accepts is cut to kMaxSteps steps.
  if (std::isfinite(s.dt) && s.dt > 0 && std::isfinite(s.t0) && std::isfinite(s.tf) &&
      !((s.tf - s.t0) / s.dt <= kMaxSteps)) {
    s.tf = s.t0 + kMaxSteps * s.dt;
  }
  // Each step advances t by dt rounded to the doubles near t, which is at least dt/2 once
  // the run accepts dt: at most 2 (tf - t0)/dt + 1 steps.
  const double most_steps = 2 * std::floor((s.tf - s.t0) / s.dt) + 2;

  s.OutFileName = "/dev/null";
  s.cage.SetDumpPath("");
  OutputRecorder recorder(1 << 12);
  recorder.SetSnapshotPath(fuzz::ScratchPath("Ib.dat"));
  CarriedState carried;
  const RunOutcome out = RunSimulation(s, carried, platform, &recorder, false, 0);

  switch (out.status) {
    case RunStatus::kReachedEnd:
      if (!(out.t_end > s.tf)) fuzz::Finding("a run that reached its end stopped before tf");
      [[fallthrough]];
    case RunStatus::kDiverged:
      if (out.steps < 1 || (most_steps >= 1 && out.steps > most_steps)) {
        fuzz::Finding("step count out of its bounds");
      }
      break;
    case RunStatus::kNoMode:
      if (out.steps != 1) fuzz::Finding("several modes ran more than one step");
      break;
    case RunStatus::kRefused:
    case RunStatus::kModelError:
      if (out.steps != 0 || out.message.empty()) fuzz::Finding("a refused run stepped");
      break;
    case RunStatus::kInterrupted:
      fuzz::Finding("interrupted without Escape");
  }
  return 0;
}
