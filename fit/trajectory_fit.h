#pragma once
// Identification of the machine parameters by a nonlinear least-squares fit of the
// simulated start-up to the measured one (Levenberg-Marquardt, Ceres Solver), beside the
// genetic algorithm and the particle swarm: the same eight genes, the same GenX flags
// (a gene whose flag is off is held at its value) and the same mapping onto the machine.
//
// The residuals are those of fit/trajectory_residuals.h. The solver works on transformed
// parameters that keep every parameter in its physical domain whatever the step:
//   Rs, Ts, Tr, J      theta = ln p          (p > 0; a step is a relative change)
//   sigma              theta = ln(p/(1-p))   (0 < sigma < 1)
//   a10, a20, a30      theta = p / scale     (p >= 0, a bound of the solver; 0 is a
//                                             legitimate value: no such load term)
// with scale = max(|guess|, a typical value: 1e-4, 1e-2, 1). A load coefficient fitted
// to 0 sits at its bound and is said so.
//
// Derivatives: central differences theta_j +- h, with h = relative_step for the
// logarithmic parameters and relative_step max(|theta_j|, 1) for the load coefficients,
// so that the step is relative to each parameter. Next to a bound the difference is taken
// one-sided with second order (theta, theta + h, theta + 2h). The 2n simulations of one
// Jacobian are independent and are scored on all cores by the candidate evaluator; the
// result is the same bits whatever the thread count.
//
// A trial whose simulation diverges is a rejected step: the solver shortens its step.
// A difference whose one side diverges falls back on a one-sided difference.
//
// Multi-start: `starts` extra starts drawn from the seed around the guess (each
// parameter within a factor `start_spread` either way, on its transformed scale); the
// best end is kept, and the summary says how many starts reached it (final cost within
// 0.1 % of the best, or every parameter within 0.1 % of the best's).
//
// Noise weights (machine-state residuals): after the starts, the noise level of each
// signal is estimated as the rms of its raw residuals at the best point (never below its
// floor) and the fit is resumed from there with the new weights, until the levels move by
// less than 10 % or `reweights` refits were made. A fit stopped by Escape, or given
// fewer than 20 iterations per start and using them all, keeps its first weights.
//
// At the best point: the covariance of the transformed parameters by the Newey-West
// sandwich (heteroscedasticity- and autocorrelation-consistent):
//   cov = (J^T J)^-1 S (J^T J)^-1 m/(m - n),
//   S = sum_{|l| <= L} (1 - |l|/(L + 1)) sum_t g_t g_{t-l}^T,  g_t = sum_rows at t J_i^T r_i
// (Bartlett kernel over the compared instants t; the window L is five integrated
// autocorrelation times of the residuals, so that noise correlated over many instants
// widens the intervals as it should). The white-noise covariance sigma^2 (J^T J)^-1,
// sigma^2 = sum r^2 / (m - n), is given beside it. Standard errors are carried to the
// parameters by the derivative of the transform; 95 % intervals theta +- 1.96 se mapped
// back (so they stay in the physical domain and are not symmetric for the logarithmic
// parameters); the correlation matrix; and the parameters the record cannot identify:
// no effect on the residuals, in a near-null direction of J^T J (reciprocal condition
// number of the column-scaled matrix below 1e-10), a correlation above 0.99 with
// another, or a relative standard error above 100 %.
//
// Moving-block bootstrap (`bootstrap` resamples, optional): the residuals at the best
// point, centred per signal, are cut into blocks of consecutive compared instants (every
// signal of an instant together; the block length is the Newey-West window of the record,
// at most half its instants) and drawn with replacement into a new residual series e* of
// the same length per record. The resampled record is the fitted trajectory plus e*; in
// residual space its residuals are r*(theta) = r(theta) - r(best) + e*, which is what each
// refit minimises, from the best point, with the final noise weights held. Resample k
// draws its blocks from a generator seeded by (seed, k) only, and the refits run one
// after the other, each Jacobian on all cores and ranks: the intervals are the same bits
// for any thread or rank count. A refit that does not converge (its trials diverge, or
// it runs out of iterations) is counted and left out; when more than a tenth of the
// resamples or fewer than 20 remain, the bootstrap intervals are said unreliable. The
// 95 % intervals are the 2.5 % and 97.5 % percentiles of the refitted transformed
// parameters, mapped back.
//
// Profile likelihood (optional): for every parameter correlated above 0.99 with
// another, the parameter is fixed at values on each side of its best value and the
// others refitted; the interval ends where the sum of the squared residuals has risen by
// the 95 % chi-square(1) quantile (3.84) times the noise variance of the default
// intervals for that parameter (sigma^2 scaled by the ratio of its Newey-West to its
// white-noise variance, so that in the linear case the profile interval is the default
// one). Each end is bracketed by doubling the step from the default half-width, then
// located by bisection on the transformed scale. An end not reached within a factor of
// a thousand, or beyond which the simulation diverges, is said open.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "engine/settings.h"
#include "fit/trajectory_residuals.h"
#include "identification/batch_distributor.h"
#include "identification/machine_genes.h"
#include "platform/platform.h"

namespace mas {

// Most bootstrap resamples a fit accepts.
inline constexpr int kMostBootstrapResamples = 10000;

struct FitOptions {
  int max_iterations = 50;  // solver iterations per start (and per refit)
  int starts = 0;           // extra starts drawn around the guess
  // Further starts given explicitly, tried after the guess and before the drawn ones (a
  // start outside the parameters' domain is skipped and said so).
  std::vector<Genes> extra_starts;
  std::uint32_t seed = 1;
  double start_spread = 2.0;    // extra starts: factor around the guess, > 1
  double relative_step = 1e-4;  // finite-difference step relative to each parameter
  int threads = 0;              // 0: one per core
  // The processes that share the simulations of every Jacobian (the ranks of an MPI job);
  // every process runs the same fit and stops where the others stop. None: alone.
  BatchDistributor* distributor = nullptr;
  double function_tolerance = 1e-8;
  double parameter_tolerance = 1e-6;
  ResidualKind residuals = ResidualKind::kMachineState;
  int reweights = 4;                  // most refits with re-estimated noise levels (machine state)
  double initial_trust_region = 1.0;  // the solver's first trust region (1/damping)
  int bootstrap = 0;                  // moving-block bootstrap resamples (0: none; at most 10000)
  bool profile = false;  // profile-likelihood intervals of the strongly correlated parameters
};

// One solver iteration, for the progress display.
struct FitProgress {
  int start = 0;           // 0: the guess
  int starts = 1;          // starts in all
  int reweight = 0;        // refit with re-estimated noise levels (0: the starts)
  int resample = 0;        // bootstrap refit, from 1 (0: not the bootstrap)
  int resamples = 0;       // bootstrap resamples in all
  int profiled = -1;       // profile: the gene held (-1: not the profile)
  int iteration = 0;       // 0: the start point
  double cost = 0.0;       // 1/2 sum r^2 at the current point
  double step_norm = 0.0;  // norm of the step tried (transformed parameters)
  bool step_accepted = false;
  double seconds = 0.0;  // wall time since the fit began
  long long runs = 0;    // simulations so far
  Genes genes{};         // the current point (held genes as given)
};
using FitProgressFunction = std::function<void(const FitProgress&)>;

enum class FitEnd {
  kConverged,       // the solver met its tolerances
  kIterationLimit,  // max_iterations reached before that
  kInterrupted,     // Escape (Ctrl-C): the best point so far
  kFailed,          // no start could be fitted (every start diverged, or the solver failed)
  kRefused,         // nothing ran: the guess, the flags or the record cannot be fitted
};

struct FittedParameter {
  int gene = 0;
  double value = 0.0;
  double standard_error = 0.0;  // infinity when not identifiable
  double white_error = 0.0;     // the white-noise standard error, for comparison
  double lower95 = 0.0;
  double upper95 = 0.0;
  bool at_bound = false;  // a load coefficient fitted to 0
  bool identifiable = true;
};

// The physical machine a gene vector maps to.
struct MachineValues {
  double Rs = 0.0, Rr = 0.0, Ls = 0.0, Lr = 0.0, M = 0.0, J = 0.0;
  double a10 = 0.0, a20 = 0.0, a30 = 0.0;
};
MachineValues MachineValuesOf(const Genes& g, const SimulationSettings& s);

struct StartSummary {
  Genes start{};
  Genes end{};
  double initial_cost = 0.0;  // NaN when the start could not be simulated
  double cost = 0.0;          // NaN likewise
  int iterations = 0;
  bool usable = false;
  bool reached_best = false;
  std::string solver_message;
};

// How the default intervals were computed.
enum class IntervalMethod {
  kNeweyWest,  // sandwich with the Bartlett kernel
  kWhite,      // sigma^2 (J^T J)^-1 (too few instants for a window)
};

// The record and the fitted machine at each compared instant (the best point), for
// drawing the fit over the record. Machine-state residuals only (empty for the cost's):
// a signal that is not compared has no fitted values. In a joint fit, the first record's.
struct FitCurves {
  std::vector<double> times;           // s
  std::vector<double> measured_speed;  // tr/mn
  std::vector<double> fitted_speed;
  std::vector<double> measured_current;  // A
  std::vector<double> fitted_current;
};

// One record of a joint fit: its study (time base, control, cost weights; the machine
// takes the fitted parameters) and its experimental tables.
struct FitRecord {
  const SimulationSettings* study = nullptr;
  const CarriedState* carried = nullptr;
  std::string name;  // the record's file, for the messages and the report
};

// What the fit made of one record.
struct RecordFit {
  std::string name;
  int instants = 0;
  int residuals = 0;
  bool speed_compared = true;
  bool current_compared = true;
  double speed_rms = 0.0;  // tr/mn, at the best point
  double current_rms = 0.0;
  double speed_range = 0.0;
  double current_range = 0.0;
  double speed_noise = 0.0;  // machine state: the final weights' noise levels
  double current_noise = 0.0;
  bool speed_noise_at_floor = false;
  bool current_noise_at_floor = false;
  double compared_first = 0.0;  // s
  double compared_last = 0.0;
};

// A percentile interval of the bootstrap.
struct ResampledParameter {
  int gene = 0;
  double lower95 = 0.0;
  double upper95 = 0.0;
  double standard_error = 0.0;  // standard deviation of the refitted values
};

struct BootstrapSummary {
  int requested = 0;      // 0: no bootstrap
  int used = 0;           // refits that converged
  int diverged = 0;       // refits left out: every trial step around them diverged
  int not_converged = 0;  // refits left out: out of iterations or stopped by the solver
  bool interrupted = false;
  bool reliable = false;          // enough refits converged for the percentiles to mean something
  std::vector<int> block_length;  // per record, in compared instants
  long long runs = 0;             // simulations of the refits
  double seconds = 0.0;
  std::vector<ResampledParameter> parameters;  // empty unless `used` > 0
};

// One profile-likelihood interval.
struct ProfiledParameter {
  int gene = 0;
  double lower95 = 0.0;  // open: the farthest value tried
  double upper95 = 0.0;
  bool lower_open = false;  // the end was not reached
  bool upper_open = false;
  int refits = 0;
  int unconverged = 0;  // refits that ran out of iterations (their cost is kept)
};

struct ProfileSummary {
  bool asked = false;
  bool interrupted = false;
  long long runs = 0;
  double seconds = 0.0;
  std::vector<ProfiledParameter> parameters;  // the parameters correlated above 0.99
};

struct FitResult {
  FitEnd end = FitEnd::kRefused;
  std::string message;  // why it was refused or failed; the solver's word otherwise
  Genes guess{};
  Genes genes{};  // the best parameters (held genes as given)
  std::array<bool, NGenes> optimised{};
  MachineValues machine;
  double initial_cost = 0.0;  // of the guess
  double cost = 0.0;          // 1/2 sum r^2 at the best point
  int residuals = 0;
  int instants = 0;
  bool speed_compared = true;
  bool current_compared = true;
  bool max_of_current = false;  // the current compared is its maximum over a period
  ResidualKind residual_kind = ResidualKind::kMachineState;
  // Machine state: the noise levels of the final weights, whether they sit at their
  // floor, and the refits made with re-estimated levels.
  double speed_noise = 0.0;  // tr/mn
  double current_noise = 0.0;
  bool speed_noise_at_floor = false;
  bool current_noise_at_floor = false;
  int reweights = 0;
  double simulated_until = 0.0;  // s: the last simulated instant the fit needed
  double speed_rms = 0.0;        // tr/mn (over every record)
  double current_rms = 0.0;      // A
  double speed_range = 0.0;
  double current_range = 0.0;
  double record_first = 0.0;  // s
  double record_last = 0.0;
  double compared_first = 0.0;
  double compared_last = 0.0;
  bool statistics = false;  // standard errors, intervals and correlations were computed
  std::vector<FittedParameter> parameters;       // optimised genes, in gene order
  std::vector<std::vector<double>> correlation;  // between them
  double reciprocal_condition = 0.0;             // of the column-scaled J^T J
  IntervalMethod interval_method = IntervalMethod::kWhite;
  int hac_window = 0;                 // L, in compared instants
  double autocorrelation_time = 1.0;  // integrated, in compared instants
  std::vector<std::string> warnings;  // what the record cannot identify
  std::vector<std::string> notes;     // how the data were used
  FitCurves curves;
  std::vector<StartSummary> starts;
  // Per record, in the order given (one for a single record). The fields above that
  // describe a record (noise levels, ranges, record and compared spans) are the first
  // record's; counts and rms are over all of them.
  std::vector<RecordFit> records;
  int best_start = -1;
  int starts_reaching_best = 0;
  int iterations = 0;  // over all starts
  long long runs = 0;  // simulations over all starts
  int diverged_trials = 0;
  double seconds = 0.0;
  BootstrapSummary bootstrap;
  ProfileSummary profile;
};

// Fits the optimised genes (s.GenX) from `guess` to the experimental tables of
// `carried` (built on the time base of `s`). `s` and `carried` are not changed.
// Messages of the runs reach `platform`, whose Escape key interrupts the fit.
FitResult FitTrajectory(const Genes& guess, const SimulationSettings& s,
                        const CarriedState& carried, Platform& platform, const FitOptions& options,
                        const FitProgressFunction& progress = {});

// Several records fitted jointly with one set of parameters: the residuals of every
// record (each simulated with its own study and the common parameters) are stacked; the
// fitted genes and the guess's domain are those of the first record's study (its GenX).
// The noise levels are estimated per signal and per record; the Newey-West long-run
// covariance is the sum of the records' (each record's window from its own residuals),
// the records being independent of each other.
FitResult FitTrajectories(const Genes& guess, std::span<const FitRecord> records,
                          Platform& platform, const FitOptions& options,
                          const FitProgressFunction& progress = {});

}  // namespace mas
