#pragma once
// Genetic tuning of the speed regulator on the study's own scenario (its speed and load
// events): one small real-coded genetic algorithm searches the IP regulator's KpW, KiW,
// TtW, another the fuzzy regulator's scalings WFErr, WFdErr, WFdU. A candidate is scored
// by one complete simulation in the tuning mode of the run loop, whose cost adds at every
// recorded step gWmF (Wmref - WmMeas)^2 + gIasF (Iqsref - IqsrefPrev)^2: the speed error
// and the movement of the torque-current reference. Its fitness is the inverse of that cost.
//
// The two variants share the generator, the mutation factor, the stable sort and the
// parallel scoring of the machine identification; they differ by their tables:
//
//                          IP                        fuzzy
//   population             45                        55
//   elite, unchanged       the 5 best                the best
//   [elite, 10)            mutations (0.001) of one of the 5 best / 10 best
//   [10, 15)               mutations (0.1) of one of the 10 best
//   [15, 25)               half-and-half blends of two of the 15 best
//   [25, 35)               mutations (0.5) of one of the 25 best
//   [35, end)              10 new random individuals  the best with one gene mutated (0.01)
//   random genes           KpW  (r mod 1000) 0.01 + 1e-4    WFErr  (r mod 1000) 0.001 + 1e-4
//                          KiW  (r mod 1000) 0.001 + 1e-4   WFdErr (r mod 1000) 0.001 + 1e-4
//                          TtW  (r mod 1000) 0.001 + 1      WFdU   (r mod 1000) 0.01 + 1e-4
//   history                none                      "HistorF.cpp"
//
// A mutated gene that is not positive takes the parent's value back. Every generation
// rewrites "debgen.cpp" with the whole population, old and new.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "engine/settings.h"
#include "identification/candidate_evaluator.h"
#include "identification/log_format.h"
#include "identification/random.h"
#include "platform/platform.h"

namespace mas {

enum class TunedRegulator { kIP, kFuzzy };

using RegulatorGenes = std::array<double, 3>;

inline constexpr const char* kTuningHistoryFileName = "HistorF.cpp";
inline constexpr const char* kTuningPopulationFileName = "debgen.cpp";

// The three genes of a variant in the study's speed-regulator settings.
void WriteRegulatorGenes(TunedRegulator kind, const RegulatorGenes& g, SimulationSettings& s);
RegulatorGenes RegulatorGenesOf(TunedRegulator kind, const SimulationSettings& s);

// Why the study cannot be tuned for this regulator, or "" when it can: the genes must
// reach the speed loop, so the study runs a mode with a speed loop (vector control, DTC or
// V/f) that samples it, and its speed regulator is of the tuned type, with no form after
// it in the order PI, IP, fuzzy, NN, 2D NFC (the last selected form sets Iqsref).
std::string TuningRefusal(TunedRegulator kind, const SimulationSettings& s);

// The tuning cost of the regulator settings now in the study: CostReg = 0, one run without
// output table in the tuning mode, and the CostReg it accumulated (1e50 diverged, -1
// interrupted).
CandidateScore TuningScore(SimulationSettings& s, CarriedState& carried, Platform& platform);

struct TuningReport {
  EvaluationEnd end = EvaluationEnd::kComplete;
  int evaluated = 0;  // individuals that received a fitness in this generation
  bool parallel = false;
};

class SpeedRegulatorTuning {
 public:
  SpeedRegulatorTuning(TunedRegulator kind, LcgRandom& rng,
                       const std::filesystem::path& log_folder);

  TunedRegulator kind() const { return kind_; }
  int NPop() const { return static_cast<int>(XOld.size()); }

  // "&Randomize": the generator seeded with `seed`, generation 0, every individual drawn
  // from the random ranges (three draws, in gene order), no fitness yet (the fitnesses,
  // best and worst back to 0). The fuzzy variant first restarts its history file.
  void Randomize(std::uint32_t seed, Platform& platform);
  // "&Récupérer": every gene ((0.5 - (r mod 5000) 0.0002) 0.5 + 1) times the study's
  // current setting, a result not positive replaced by the setting: a population spread by
  // about +-25 % around the present regulator.
  void Recover(const SimulationSettings& s);
  // One generation: score, sort best first, log, breed. An interrupted run ("Une erreur
  // s'est produite") or a refused one ends it after the individuals already scored,
  // without sorting, logging or breeding.
  TuningReport RunGeneration(SimulationSettings& s, CarriedState& carried, Platform& platform,
                             const CandidateEvaluator& evaluator);

  int Gen = 0;
  std::vector<RegulatorGenes> XOld;
  std::vector<RegulatorGenes> XNew;
  std::vector<double> Fitness;
  std::vector<int> iOld;
  double BestFitness = 0.0;
  double WorstFitness = 0.0;

 private:
  RegulatorGenes RandomIndividual();
  void BuildNextGeneration();
  std::string PopulationLog() const;
  std::string HistoryLine() const;

  TunedRegulator kind_;
  LcgRandom& rng_;
  LogFile history_;
  LogFile population_;
};

}  // namespace mas
