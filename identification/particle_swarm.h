#pragma once
// Particle swarm that identifies the same eight machine parameters as the genetic
// algorithm, with the same cost and the same mapping onto the machine. The swarm has two
// groups that differ by their inertia only: N1 refiners ("affineurs", indices 0 .. N1-1,
// inertia w1 < 1, so their velocities die out) and N2 explorers ("explorateurs", the next
// N2, inertia w2 > 1, so their velocities grow). Each epoch is logged to "outbest.dat"
// (the global best) and "outTracix.dat" (every particle's position), created anew with
// their header lines when the swarm is allocated.
//
// One epoch: score every particle; a particle's best moves to its position when the cost
// is strictly lower; the global best is the lowest personal best, the lowest index
// winning ties (a personal best of 1e50, "none yet", never wins: the search starts from
// 1e30). Then, for each particle and each optimised dimension, with three draws in this
// order r1 = rand() mod 100, r2 = rand() mod 1000, r3 = rand() mod 1000:
//   V = (r1 0.002 - 0.1 + w) V + r2 0.001 pincrement (pbest - X)
//                              + r3 0.001 gincrement (pbest[gbesti] - X),
//   X += V,
// the inertia thus varying at random in [w - 0.1, w + 0.098]. A position that leaves its
// bounds is put back on the bound and its velocity stopped: Rs, Ts, Tr, sigma and J at
// 0.001 at least, the load coefficients at 0 at least, and, when it is optimised, sigma
// within [0.005, 0.2].

#include <array>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/run_simulation.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "identification/candidate_evaluator.h"
#include "identification/log_format.h"
#include "identification/machine_genes.h"
#include "identification/random.h"
#include "platform/platform.h"

namespace mas {

// Personal best of a particle that has none yet.
inline constexpr double kNoBestCost = 1e50;
// Start of the search for the global best: a particle without a best never wins.
inline constexpr double kGlobalBestSearchStart = 1e30;

inline constexpr const char* kBestLogName = "outbest.dat";
inline constexpr const char* kTrajectoryLogName = "outTracix.dat";

struct EpochReport {
  EvaluationEnd end = EvaluationEnd::kComplete;
  int evaluated = 0;  // particles whose cost was compared with their best
  bool parallel = false;
};

class ParticleSwarmIdentification {
 public:
  // The logs are written in `log_folder` (the current folder for the workbench).
  explicit ParticleSwarmIdentification(LcgRandom& rng = SharedRandom(),
                                       const std::filesystem::path& log_folder = ".");

  // "MàJ" (and the window's creation): n1 refiners and n2 explorers, arrays created anew
  // (all zero), a random swarm (RandomizeSwarm without keeping the best) and both logs
  // due: they are created with their headers when the next epoch starts (CreateLogs), so
  // that a workbench opened without optimising leaves no empty log behind. Refused, changing
  // nothing, when a count is negative, the swarm would have no particle or more than kMaxParticles
  // (each particle is a start-up simulation per epoch; the bound keeps a mistyped count from asking
  // for gigabytes): false after the message.
  static constexpr long long kMaxParticles = 200000;
  bool Allocate(int n1, int n2, const std::array<bool, NGenes>& GenX, std::uint32_t seed,
                Platform& platform);

  // "MAJ": the pulls and inertias.
  void UpdateWeights(double p_increment, double g_increment, double w_refiners, double w_explorers);

  // "Randomize" (keep_gbest off) and "Randomize mais garde le global best" (on): seeds the
  // generator, draws every optimised dimension of every particle in order, stops every
  // particle, forgets every personal best, and Epoch = 0. With keep_gbest the particle
  // holding the global best keeps its best cost together with its best position (its
  // current position is drawn anew like the others'); otherwise gbesti = 0 and that
  // particle's best position becomes its new position (its cost stays "none").
  void RandomizeSwarm(bool keep_gbest, const std::array<bool, NGenes>& GenX, std::uint32_t seed);

  // "Initialise": Epoch and every particle's position take the entered values, the
  // machine takes them too, and unless keep_pbest every personal best is forgotten. A Tr
  // of 0 is refused (message of the epoch) and changes nothing.
  bool InitialiseSwarm(int epoch, const Genes& genes, bool keep_pbest, SimulationSettings& s,
                       Platform& platform);

  // "Run": one epoch. Needs the experimental tables (TablesReadyForIdentification is the
  // workbench's guard). A particle with Tr = 0, an interrupted run or a refused run ends
  // the scoring there with its message; the epoch then goes on over all particles (logs,
  // velocities, positions, Epoch + 1), the particles not scored keeping Eval = 0.
  EpochReport RunEpoch(SimulationSettings& s, CarriedState& carried, Platform& platform,
                       const CandidateEvaluator& evaluator);

  // "temps de calcul d'une optimisation": one epoch, timed with a steady clock; the
  // elapsed seconds are shown ("1.23456e+00 s", caption "Temps de calcul") and returned.
  double TimeEpoch(SimulationSettings& s, CarriedState& carried, Platform& platform,
                   const CandidateEvaluator& evaluator);

  // "Simule": pbest[gbesti] in the machine and a run of the Run command with the output
  // table.
  RunOutcome SimulateGlobalBest(SimulationSettings& s, CarriedState& carried, Platform& platform,
                                OutputSink* sink, bool launch_viewer);

  // Creates both logs anew with their header lines (the selected dimensions' names), now.
  void CreateLogs(const std::array<bool, NGenes>& GenX, Platform& platform);
  // Whether the logs are still to be created by the next epoch (after Allocate).
  bool LogsDue() const { return logs_due_; }

  int Particles() const { return static_cast<int>(X.size()); }
  // Cost of the global best (kNoBestCost before the swarm is allocated).
  double gbest() const {
    return gbesti >= 0 && gbesti < Particles() ? pbestVal[static_cast<std::size_t>(gbesti)]
                                               : kNoBestCost;
  }

  int N1 = 10;
  int N2 = 10;
  double pincrement = 0.01;
  double gincrement = 0.01;
  double w1 = 0.98;
  double w2 = 1.01;

  std::vector<Genes> X;      // positions
  std::vector<Genes> V;      // velocities
  std::vector<Genes> pbest;  // best position of each particle
  std::vector<double> Eval;  // cost of the current position (0 until scored in an epoch)
  std::vector<double> pbestVal;
  int gbesti = -1;
  int Epoch = 0;

  const LogFile& best_log() const { return best_log_; }
  const LogFile& trajectory_log() const { return trajectory_log_; }

 private:
  void LogEpoch(const std::array<bool, NGenes>& GenX, Platform& platform);
  void MoveParticles(const std::array<bool, NGenes>& GenX);

  LcgRandom& rng_;
  LogFile best_log_;
  LogFile trajectory_log_;
  bool logs_due_ = false;
};

}  // namespace mas
