#pragma once
// Scoring the candidates of one generation or epoch: every candidate is one complete
// simulation of the start-up with its parameters in the machine, and the candidates of
// one batch do not depend on one another, so they are simulated on all cores at once.
//
// The batch gives exactly what scoring the candidates one by one in index order gives,
// bit for bit: the same costs, the same messages in the same order, the same end (the
// first candidate with Tr = 0, the first interrupted run and the first refused run end the
// batch there; candidates after it that other threads may already have simulated are
// discarded, as the one-by-one order would never have run them), and the same study left
// behind: the machine fields, models and carried run state (CostIdent, current window,
// flux angle...) of the last candidate the one-by-one order would have simulated.
//
// How: each worker thread owns a copy of the study and of the carried state (the
// experimental record and tables included, copied once per worker and batch), takes the
// next candidate index in increasing order, maps it onto its own machine and runs it.
// A run is a function of the study and the carried state; the few runs that also depend
// on the run before them (see RunsDependOnPreviousRun) are scored one by one on the
// caller's thread instead.
//
// Over the processes of a job (a BatchDistributor: the ranks of an MPI job) every process
// scores its share of the batch on its own threads, and the processes exchange what each
// candidate gave (cost, end, messages, the values a run writes on some runs only, and the
// batch's own per-candidate results), so that every process ends the batch with the same
// Evaluation, shows the same messages and keeps the same study as one-by-one scoring.
// The share is a static interleave: candidate i goes to process i mod P, and the last
// runnable candidate is scored by every process besides its owner, so that every process
// holds the study that candidate leaves without a further run. A static split suits these
// batches: every candidate simulates the same interval with the same step and models, so
// the runs are equal in length but for the diverged ones, which end early and which the
// interleave spreads over the processes; it costs one exchange per batch and no process
// waits for another to hand out work. A dynamic queue from one process would only pay for
// itself with runs of very unequal length.

#include <functional>
#include <span>
#include <vector>

#include "engine/run_simulation.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "identification/batch_distributor.h"
#include "identification/machine_genes.h"
#include "platform/platform.h"

namespace mas {

// Cost of a diverged run and of an interrupted one.
inline constexpr double kDivergedCost = 1e50;
inline constexpr double kInterruptedCost = -1.0;

struct CandidateScore {
  double cost = 0.0;     // kInterruptedCost when the run was interrupted (Escape)
  bool refused = false;  // the run could not start or ran no mode: it showed why
};

// Scores the machine parameters that are in the study's machine fields. It may run on a
// worker thread, with that worker's own study, carried state and platform.
using ScoreFunction = std::function<CandidateScore(SimulationSettings&, CarriedState&, Platform&)>;

// The score of a candidate whose run ended with `outcome` having accumulated `cost`. A run
// refused, with no mode, or whose model could not be prepared says nothing about the
// candidate: the score is marked refused.
CandidateScore ScoreOfRun(const RunOutcome& outcome, double cost);

// The identification cost: one simulation of the study without output table, in RunMode 1
// ("Ias") or 6 ("Max de Ias") after CostIdent = 0, and the CostIdent it accumulated.
CandidateScore SimulationScore(SimulationSettings& s, CarriedState& carried, Platform& platform);

// Whether a run of this study depends on the run before it, beyond the candidate's own
// parameters: the direct stator-flux angle and speed carried from run to run by the
// stator-flux orientations (Flux_typ 5, 9, 10 in vector control), the cage's bar and ring
// resistances changed by fault events and not reset at the start of a run, and the
// double space-vector modulator's switching instants.
bool RunsDependOnPreviousRun(const SimulationSettings& s);

// Threads of the machine (at least 1).
int MachineThreads();

enum class EvaluationEnd {
  kComplete,     // every candidate was scored
  kTrZero,       // the candidate at stop_index cannot run (for machine genes: Tr = 0): it
                 // was neither written into the study nor run
  kInterrupted,  // the run of the candidate at stop_index was interrupted (cost -1)
  kRefused,      // the run of the candidate at stop_index was refused
};

struct Evaluation {
  // Costs of the candidates run, in index order (the interrupted or refused one last).
  std::vector<double> costs;
  EvaluationEnd end = EvaluationEnd::kComplete;
  int stop_index = -1;  // the candidate where the batch ended, -1 when complete
  bool parallel = false;
};

// A batch of candidates of any optimiser: how many, how many from the first can run
// (candidates from `runnable` on are never run: the batch ends there), and how candidate i
// is written into a study (the machine fields for the identification, the speed
// regulator's settings for its tuning). `apply` is called from worker threads, each with
// its own study: it must only read the candidates.
struct CandidateBatch {
  int count = 0;
  int runnable = 0;
  std::function<void(int, SimulationSettings&)> apply;
  // Results of candidate i beyond its cost (the trajectory fit's residuals), carried
  // between the processes of a distributed batch: `save_result` is called on the process
  // that scored i once its share is scored, `load_result` on every other process for the
  // candidates the batch keeps. Both empty when the batch has none.
  std::function<std::vector<double>(int)> save_result;
  std::function<void(int, std::span<const double>)> load_result;
};

class CandidateEvaluator {
 public:
  // threads: worker threads for a batch (1 scores one by one on the caller's thread).
  // distributor: the processes that share every batch (none: this process alone); every
  // process must then evaluate the same batches in the same order.
  explicit CandidateEvaluator(int threads = MachineThreads(), ScoreFunction score = SimulationScore,
                              BatchDistributor* distributor = nullptr);

  int threads() const { return threads_; }
  BatchDistributor* distributor() const { return distributor_; }

  // Scores the candidates in index order: maps each onto s, scores it, and ends at the
  // first candidate with Tr = 0, the first interrupted run or the first refused run.
  // Messages of the candidate runs reach `platform` in index order. During a parallel
  // batch `platform` shows the batch's progress and, when the study displays progress
  // (DisplayProgressBar, the only case in which a run polls Escape), its Escape key is
  // polled and interrupts the runs under way.
  Evaluation Evaluate(std::span<const Genes> candidates, SimulationSettings& s,
                      CarriedState& carried, Platform& platform) const;
  // The same for any batch of candidates.
  Evaluation Evaluate(const CandidateBatch& batch, SimulationSettings& s, CarriedState& carried,
                      Platform& platform) const;

 private:
  Evaluation EvaluateOneByOne(const CandidateBatch& batch, int runnable, SimulationSettings& s,
                              CarriedState& carried, Platform& platform) const;
  Evaluation EvaluateInParallel(const CandidateBatch& batch, int runnable, SimulationSettings& s,
                                CarriedState& carried, Platform& platform) const;
  Evaluation EvaluateOverRanks(const CandidateBatch& batch, int runnable, SimulationSettings& s,
                               CarriedState& carried, Platform& platform) const;
  // Every process scored the whole batch itself: where it ended may differ only by an
  // interruption seen by some processes; all take the earliest end.
  Evaluation AgreeOverRanks(const Evaluation& ev) const;

  int threads_;
  ScoreFunction score_;
  BatchDistributor* distributor_;
};

}  // namespace mas
