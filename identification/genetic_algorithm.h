#pragma once
// Real-coded genetic algorithm that identifies the eight machine parameters from a
// measured start-up. An individual is one parameter set (machine_genes.h); its fitness is
// the inverse of the identification cost, one complete simulation of the start-up with
// the individual in the machine. It runs one generation at a time, logging each
// generation to "Histor.cpp" (one line per generation since the last Randomize) and the
// whole last population to "debgen.cpp".
//
// One generation: score the population, sort it best first (stable), then build the next
// one from the sorted parents in five groups after the elite copy of the best:
//   [1, 10)   small mutations (amplitude Amp1) of one of the 10 best,
//   [10, 15)  larger mutations (Amp2) of one of the 10 best,
//   [15, 25)  half-and-half blends of two of the 15 best,
//   [25, 35)  large mutations (Amp3) of one of the 25 best,
//   [35, 55)  the best with one gene mutated (Amp4).
// A mutation multiplies a gene by (0.5 - (r mod 5000) 0.0002) Amp + 1, r one draw per
// gene in gene order, a factor in [1 - 0.4998 Amp, 1 + 0.5 Amp]. A mutated gene that is
// not positive takes the parent's value back, and so does a leakage coefficient of 1 or
// more (no machine has it). Only the genes marked in GenX change from one generation to
// the next.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/run_simulation.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "identification/candidate_evaluator.h"
#include "identification/genetic_operators.h"
#include "identification/log_format.h"
#include "identification/machine_genes.h"
#include "identification/random.h"
#include "platform/platform.h"

namespace mas {

inline constexpr int NPop = 55;
inline constexpr int Bound1 = 1;
inline constexpr int Bound2 = 10;
inline constexpr int Bound3 = 15;
inline constexpr int Bound4 = 25;
inline constexpr int Bound5 = 35;
inline constexpr double Amp1 = 0.001;
inline constexpr double Amp2 = 0.1;
inline constexpr double Amp3 = 0.5;
inline constexpr double Amp4 = 0.01;
inline constexpr double CrossW = 0.5;

inline constexpr const char* kHistoryFileName = "Histor.cpp";
inline constexpr const char* kPopulationFileName = "debgen.cpp";

struct GenerationReport {
  EvaluationEnd end = EvaluationEnd::kComplete;
  int evaluated = 0;      // individuals that received a fitness in this generation
  bool parallel = false;  // scored on several threads
};

class GeneticIdentification {
 public:
  // The logs are written in `log_folder` (the current folder for the workbench).
  explicit GeneticIdentification(LcgRandom& rng = SharedRandom(),
                                 const std::filesystem::path& log_folder = ".");

  // "Randomize": seeds the generator (LcgRandom::Randomize), Gen = 0, restarts
  // "Histor.cpp" with its header, and draws every marked gene of every individual in
  // gene order; unmarked genes keep their values.
  void Randomize(const std::array<bool, NGenes>& GenX, std::uint32_t seed, Platform& platform);

  // Restarts "Histor.cpp" with its header line alone.
  void RestartHistory(Platform& platform);

  // "Initialise": Gen and every individual take the entered values and the machine takes
  // them too. A Tr of 0 is refused (message of the generation) and changes nothing.
  bool Initialise(int gen, const Genes& genes, SimulationSettings& s, Platform& platform);

  // "Run": one generation. Needs the experimental tables (TablesReadyForIdentification is
  // the workbench's guard). An individual with Tr = 0, an interrupted run or a refused
  // run ends the generation there with its message: the individuals scored so far keep
  // their new fitness, nothing is sorted, logged or bred, and Gen stays incremented.
  // The machine fields are left with the last individual simulated, not the best.
  GenerationReport RunGeneration(SimulationSettings& s, CarriedState& carried, Platform& platform,
                                 const CandidateEvaluator& evaluator);

  // "Simule": the best individual (index 0) in the machine, and a run of the Run command
  // with the output table.
  RunOutcome SimulateBest(SimulationSettings& s, CarriedState& carried, Platform& platform,
                          OutputSink* sink, bool launch_viewer);

  // Population, best first after each generation.
  std::array<Genes, NPop> XOld{};
  std::array<Genes, NPop> XNew{};
  std::array<double, NPop> Fitness{};
  std::array<int, NPop> iOld{};  // position of each individual before the last sort
  int Gen = 0;
  double BestFitness = 0.0;
  double WorstFitness = 0.0;

  const LogFile& history_log() const { return history_; }
  const LogFile& population_log() const { return population_; }

 private:
  void SortBestFirst();
  void BuildNextGeneration();
  std::string HistoryLine() const;
  std::string PopulationLog(const std::array<bool, NGenes>& GenX) const;

  LcgRandom& rng_;
  LogFile history_;
  LogFile population_;
};

}  // namespace mas
