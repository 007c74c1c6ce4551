#include "identification/workbench.h"

#include <algorithm>
#include <string>

namespace mas {

bool TablesReadyForIdentification(const SimulationSettings& s, Platform& platform) {
  if (s.ExpTableReady) return true;
  platform.ShowMessage(kStaleTablesMessage, kCaptionError, MessageIcon::kStop);
  return false;
}

RunMode DisplayRunMode(const SimulationSettings& s) {
  const bool shown =
      std::any_of(s.OutSelExp.begin(), s.OutSelExp.end(), [](int on) { return on != 0; });
  return shown && s.ExpTableReady ? 4 : 0;
}

RunOutcome SimulateCandidate(const Genes& g, std::string_view tr_zero_message,
                             SimulationSettings& s, CarriedState& carried, Platform& platform,
                             OutputSink* sink, bool launch_viewer) {
  if (g[kGeneTr] == 0.0) {
    platform.ShowMessage(tr_zero_message, kCaptionError, MessageIcon::kStop);
    RunOutcome refused;
    refused.status = RunStatus::kRefused;
    refused.message = std::string(tr_zero_message);
    refused.caption = kCaptionError;
    return refused;
  }
  MapGenesOntoMachine(g, s);
  // The output table is forced on for this run only, even if the run throws.
  struct RestoreOutputFlag {
    SimulationSettings& s;
    bool kept;
    ~RestoreOutputFlag() { s.CreateOutputFile = kept; }
  } restore{s, s.CreateOutputFile};
  s.CreateOutputFile = true;
  return RunSimulation(s, carried, platform, sink, launch_viewer, DisplayRunMode(s));
}

}  // namespace mas
