#pragma once
// The residuals of the trajectory fit, of one of two kinds.
//
// The machine's state (the default): at the instant of every row of the record inside
// the study's time base, the recorded speed and phase current against the simulated
// machine's own mechanical speed and phase current at that very instant (interpolated
// between the two steps around it, engine/machine_trace.h), each divided by the noise
// level of its signal:
//   r_w(t_k) = (ExpWm(t_k) - Wm(t_k)) / sigma_w
//   r_i(t_k) = (ExpIas(t_k) - Ias(t_k)) / sigma_i
// The noise levels are estimated from the residuals themselves by the fit (iteratively
// reweighted); they start at 1 % of the speed's measured range and 3 % of the current's
// (the first pass leans on the speed, smoother in the parameters) and never fall
// below a floor: the record's resolution over sqrt(12), or a millionth of the range. The
// cost weights gWmF and gIasF only say whether a signal is compared (0: not compared);
// neither they nor the selectivity sigmoid scale these residuals. The simulation stops
// at the last compared instant.
//
// The identification cost ("cost"): at every recorded step where the identification
// cost compares the simulated start-up with the measured one, the speed error and the
// current error (the phase current, or its maximum over one supply period with "Max de
// Ias"), each weighted as the cost weights it and divided by the measured range of its
// signal:
//   r_w(t_k) = sqrt(gWmF w(t_k)) (ExpWm(t_k) - Wm(t_k)) / range(ExpWm)
//   r_i(t_k) = sqrt(gIasF w(t_k)) (ExpIas(t_k) - Ias(t_k)) / range(ExpIas)
// with w(t) = 1/(1 + exp(gA (gt0 - t))) the selectivity sigmoid, so that the sum of the
// squares is the identification cost with each signal measured in its own range.
//
// Only the instants inside the record are compared: a record that starts after t0 or
// ends before tf leaves the tables holding its first or last values there, which are no
// measurement. A signal whose weight is 0 gives no residual.
//
// Many parameter sets are scored at once on all cores by the candidate evaluator; the
// residuals of each are those one-by-one scoring gives, bit for bit, whatever the
// thread count.

#include <span>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "engine/settings.h"
#include "identification/candidate_evaluator.h"
#include "identification/machine_genes.h"
#include "platform/platform.h"

namespace mas {

enum class ResidualKind {
  kMachineState,  // the machine's speed and current at the record's instants
  kCost,          // the terms of the identification cost at the recorded steps
};

// Which instants are compared and how each signal is scaled.
struct ResidualLayout {
  ResidualKind kind = ResidualKind::kMachineState;
  RunMode mode = 1;                      // cost: 1 phase current, 6 its maximum over a period
  std::vector<int> table_index;          // cost: table entry of each compared instant
  std::vector<double> measured_speed;    // machine state: the record's values (tr/mn)
  std::vector<double> measured_current;  // (A)
  std::vector<double> times;             // s
  std::vector<double> speed_root;        // sqrt(gWmF w(t)) / speed range, per instant
  std::vector<double> current_root;
  double speed_range = 1.0;    // tr/mn
  double current_range = 1.0;  // A
  bool speed_compared = true;
  bool current_compared = true;
  int instants_in_tables = 0;  // recorded steps the tables hold
  double record_first = 0.0;   // times of the record's first and last rows (s)
  double record_last = 0.0;
  // Machine state: the noise levels dividing each signal, and their floors.
  double speed_noise = 1.0;  // tr/mn
  double current_noise = 1.0;
  double speed_floor = 0.0;
  double current_floor = 0.0;

  int Instants() const { return static_cast<int>(times.size()); }
  // Residual count: speed residuals first, then current residuals.
  int Count() const { return Instants() * ((speed_compared ? 1 : 0) + (current_compared ? 1 : 0)); }
};

// The residuals of one simulated parameter set.
struct TrajectoryResiduals {
  bool complete = false;  // the run reached tf and every instant was compared
  bool diverged = false;  // the run diverged
  bool interrupted = false;
  std::vector<double> r;     // layout order; empty unless complete
  double speed_rms = 0.0;    // rms of the raw speed error over the compared instants (tr/mn)
  double current_rms = 0.0;  // the same for the current (A)
  double Cost() const;       // 1/2 sum r^2
};

enum class LayoutStatus { kReady, kTablesNotReady, kRunFailed, kTooFewInstants, kBadRecord };

struct LayoutResult {
  LayoutStatus status = LayoutStatus::kRunFailed;
  ResidualLayout layout;
  std::string message;  // French, shown to the user when the status is not kReady
};

// Finds the compared instants and the ranges of the measured signals over them. Machine
// state: the record's rows inside [t0, tf], read from the raw record (the tables are not
// needed); a record whose times do not increase or whose values are not finite or
// aberrant is refused. Cost: one run of the study with the parameter set `g` (the
// instants do not depend on the machine, but a run is the one place that says which
// recorded steps the cost compares). At least `min_instants` instants must remain.
LayoutResult MakeResidualLayout(const Genes& g, const SimulationSettings& s,
                                const CarriedState& carried, int min_instants,
                                ResidualKind kind = ResidualKind::kMachineState);

// Machine state: divides the speed and current residuals by these noise levels.
void SetNoiseLevels(ResidualLayout& layout, double speed_noise, double current_noise);

// Scores parameter sets on the cores of a candidate evaluator and returns their
// residuals. A set that cannot run (Tr = 0, a refused run) ends the batch as it ends one
// of the genetic algorithm's: the sets after it are not run (their residuals stay
// incomplete).
class ResidualEvaluator {
 public:
  // distributor: the processes that share every batch (none: this process alone).
  ResidualEvaluator(const SimulationSettings& s, const CarriedState& carried, ResidualLayout layout,
                    int threads, BatchDistributor* distributor = nullptr);

  const ResidualLayout& layout() const { return layout_; }
  // New noise levels for the residuals of later batches (machine state).
  void SetNoiseLevels(double speed_noise, double current_noise) {
    mas::SetNoiseLevels(layout_, speed_noise, current_noise);
  }
  int threads() const { return threads_; }
  // Simulations run so far.
  long long runs() const { return runs_; }

  // `platform` receives the messages of the runs (in candidate order) and is polled for
  // Escape; a run stopped by Escape marks its residuals interrupted.
  std::vector<TrajectoryResiduals> Evaluate(std::span<const Genes> sets, Platform& platform);

 private:
  SimulationSettings study_;
  CarriedState carried_;
  ResidualLayout layout_;
  int threads_;
  BatchDistributor* distributor_;
  long long runs_ = 0;
};

}  // namespace mas
