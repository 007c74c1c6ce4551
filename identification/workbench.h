#pragma once
// What the two identification workbenches share beyond the optimisers: their messages,
// the guard against stale experimental tables, the run of the main window's Run command
// and the simulation of a best candidate.

#include <string_view>

#include "engine/run_simulation.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "identification/machine_genes.h"
#include "platform/platform.h"

namespace mas {

inline constexpr const char* kCaptionError = "Erreur";
inline constexpr const char* kTrZeroGenetic =
    "Problème sur la constante Tr=0 dans l'algo Gen, relancer l'opération\n Arret d'optimisation.";
inline constexpr const char* kTrZeroSwarm =
    "Problème sur la constante Tr=0 dans l'algo PSO, relancer l'opération\n Arret d'optimisation.";
inline constexpr const char* kTrZeroGeneticSimulation =
    "Problème sur la constante Tr=0 dans l'algo Gen, relancer l'opération\n Simulation impossible.";
inline constexpr const char* kTrZeroSwarmSimulation =
    "Problème sur la constante Tr=0 dans l'algo PSO, relancer l'opération\n Simulation impossible.";
inline constexpr const char* kRunErrorMessage = "Une erreur s'est produite\n Arret d'optimisation.";
inline constexpr const char* kStaleTablesMessage =
    "Les paramètrese de simulation ont changés\n Recréez la table expérimentale";

// Guard of "Run" and "RunT": the tables must have been built on the current time base.
// False, after the message (caption "Erreur", stop icon), when they are not.
bool TablesReadyForIdentification(const SimulationSettings& s, Platform& platform);

// RunMode of the main window's Run command: 4 (experimental values beside the simulated
// ones) when an experimental output column is selected and the tables are ready, else 0.
RunMode DisplayRunMode(const SimulationSettings& s);

// "Simule": writes the parameter set into the machine and runs the Run command with the
// output table forced on (CreateOutputFile is restored afterwards). A Tr of 0 is refused
// with `tr_zero_message` (caption "Erreur", stop icon): nothing is changed and the outcome
// is kRefused with that message.
RunOutcome SimulateCandidate(const Genes& g, std::string_view tr_zero_message,
                             SimulationSettings& s, CarriedState& carried, Platform& platform,
                             OutputSink* sink, bool launch_viewer);

}  // namespace mas
