#include "fit/trajectory_fit.h"

#include <ceres/ceres.h>
#include <glog/logging.h>

#include <Eigen/Dense>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <utility>

#include "fit/trajectory_residuals.h"
#include "identification/candidate_evaluator.h"

namespace mas {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Two-sided 95 % quantile of the normal law.
constexpr double kZ95 = 1.959963984540054;
// Room of the logarithmic parameters around their start: a factor of a million.
constexpr double kLogRoom = 13.815510557964274;
constexpr double kLogitRoom = 40.0;
constexpr double kNonNegativeMax = 1e6;
// Identifiability thresholds.
constexpr double kNoEffect = 1e-9;       // column norm relative to the largest
constexpr double kNearSingular = 1e-10;  // eigenvalue relative to the largest
constexpr double kNullComponent = 0.1;   // share of a parameter in a near-null direction
constexpr double kHighCorrelation = 0.99;
// A load coefficient this close to 0 (in units of its scale) is at its bound.
constexpr double kAtBound = 1e-9;
constexpr double kLargeRelativeError = 1.0;
// A start reached the best when its cost or its parameters are this close.
constexpr double kSameEnd = 1e-3;
// Newey-West window: this many integrated autocorrelation times of the residuals.
constexpr double kWindowPerCorrelationTime = 5.0;
// Fewest compared instants for which a window is estimated.
constexpr int kFewestInstantsForWindow = 20;
// Fewest iterations per start for which a fit that used them all is still reweighted.
constexpr int kIterationsForReweighting = 20;
// Noise levels that moved less than this (relative) end the reweighting.
constexpr double kNoiseSettled = 0.1;
// Fewest converged bootstrap refits whose percentiles are reported as reliable.
constexpr int kFewestBootstrapRefits = 20;
// 95 % quantile of the chi-square law with one degree of freedom.
constexpr double kChiSquare95 = 3.841458820694124;
// Profile: the first step when the default interval is unknown (transformed scale), the
// doublings of the step before an end is said open (a factor 1024), the bisections.
constexpr double kProfileFirstStep = 0.1;
constexpr int kProfileDoublings = 10;
constexpr int kProfileBisections = 6;
// The first trust region of the refits from the best point (the solver library's default).
constexpr double kRefitTrustRegion = 1e4;

enum class Scale { kLog, kLogit, kNonNegative };

Scale ScaleOf(int gene) {
  switch (gene) {
    case kGeneSigma:
      return Scale::kLogit;
    case kGeneA10:
    case kGeneA20:
    case kGeneA30:
      return Scale::kNonNegative;
    default:
      return Scale::kLog;
  }
}

double TypicalLoad(int gene) {
  switch (gene) {
    case kGeneA10:
      return 1e-4;  // N m per (rad/s)^2: 2.5 N m at 1500 tr/mn
    case kGeneA20:
      return 1e-2;  // N m per rad/s
    default:
      return 1.0;  // N m
  }
}

// One optimised gene: its place in the gene vector and its transform.
struct Coordinate {
  int gene = 0;
  Scale scale = Scale::kLog;
  double unit = 1.0;  // load coefficients: p = unit theta
  double lower = -kInfinity;
  double upper = kInfinity;

  double ToGene(double theta) const {
    switch (scale) {
      case Scale::kLog:
        return std::exp(theta);
      case Scale::kLogit:
        return 1.0 / (1.0 + std::exp(-theta));
      case Scale::kNonNegative:
        return unit * theta;
    }
    return theta;
  }
  double FromGene(double p) const {
    switch (scale) {
      case Scale::kLog:
        return std::log(p);
      case Scale::kLogit:
        return std::log(p / (1.0 - p));
      case Scale::kNonNegative:
        return p / unit;
    }
    return p;
  }
  // dp/dtheta
  double Slope(double theta) const {
    switch (scale) {
      case Scale::kLog:
        return std::exp(theta);
      case Scale::kLogit: {
        const double p = ToGene(theta);
        return p * (1.0 - p);
      }
      case Scale::kNonNegative:
        return unit;
    }
    return 1.0;
  }
  double Step(double theta, double relative) const {
    return scale == Scale::kNonNegative ? relative * std::max(std::fabs(theta), 1.0) : relative;
  }
};

using Theta = std::vector<double>;

// The residuals of one parameter set over every record, stacked record after record, and
// the rms of each record's raw errors.
struct JointResiduals {
  bool complete = false;
  bool diverged = false;
  bool interrupted = false;
  std::vector<double> r;
  std::vector<double> speed_rms;  // per record
  std::vector<double> current_rms;
  double Cost() const {
    double sum = 0.0;
    for (double x : r) sum += x * x;
    return 0.5 * sum;
  }
};

// The records' evaluators seen as one: every parameter set is simulated once per record,
// with that record's study and the common parameters.
class JointEvaluator {
 public:
  explicit JointEvaluator(std::vector<std::unique_ptr<ResidualEvaluator>> records)
      : records_(std::move(records)) {}
  int records() const { return static_cast<int>(records_.size()); }
  const ResidualLayout& layout(int k) const {
    return records_[static_cast<std::size_t>(k)]->layout();
  }
  int Count() const {
    int m = 0;
    for (const auto& e : records_) m += e->layout().Count();
    return m;
  }
  long long runs() const {
    long long n = 0;
    for (const auto& e : records_) n += e->runs();
    return n;
  }
  void SetNoiseLevels(const std::vector<double>& speed, const std::vector<double>& current) {
    for (std::size_t k = 0; k < records_.size(); ++k) {
      records_[k]->SetNoiseLevels(speed[k], current[k]);
    }
  }
  std::vector<JointResiduals> Evaluate(std::span<const Genes> sets, Platform& platform) {
    std::vector<JointResiduals> out(sets.size());
    for (JointResiduals& x : out) x.complete = true;
    // Every record's batch is run even after a stop, so that the processes sharing the
    // batches (MPI ranks) take part in the same number of them.
    for (const auto& e : records_) {
      std::vector<TrajectoryResiduals> part = e->Evaluate(sets, platform);
      for (std::size_t i = 0; i < sets.size(); ++i) {
        JointResiduals& x = out[i];
        const TrajectoryResiduals& p = part[i];
        x.complete = x.complete && p.complete;
        x.diverged = x.diverged || p.diverged;
        x.interrupted = x.interrupted || p.interrupted;
        x.r.insert(x.r.end(), p.r.begin(), p.r.end());
        x.speed_rms.push_back(p.speed_rms);
        x.current_rms.push_back(p.current_rms);
      }
    }
    for (JointResiduals& x : out) {
      if (!x.complete || x.r.size() != static_cast<std::size_t>(Count())) {
        x.complete = false;
        x.r.clear();
      }
    }
    return out;
  }

 private:
  std::vector<std::unique_ptr<ResidualEvaluator>> records_;
};

// What the solver's cost function and the driver share: the residual evaluator, the
// last point simulated (a Jacobian asked at the point just accepted reuses its
// residuals), the best point so far, and the interruption.
class FitProblem {
 public:
  FitProblem(JointEvaluator& evaluator, Platform& platform, std::vector<Coordinate> coords,
             const Genes& held, double relative_step)
      : evaluator_(evaluator),
        platform_(platform),
        coords_(std::move(coords)),
        held_(held),
        relative_step_(relative_step) {}

  int n() const { return static_cast<int>(coords_.size()); }
  int m() const { return evaluator_.Count(); }
  const std::vector<Coordinate>& coords() const { return coords_; }
  bool interrupted() const { return interrupted_; }
  void Interrupt() { interrupted_ = true; }
  int diverged() const { return diverged_; }
  long long runs() const { return evaluator_.runs(); }

  Genes GenesOf(const double* theta) const {
    Genes g = held_;
    for (std::size_t j = 0; j < coords_.size(); ++j) {
      g[static_cast<std::size_t>(coords_[j].gene)] = coords_[j].ToGene(theta[j]);
    }
    return g;
  }

  // Residuals at theta; false when the run diverged or was interrupted.
  bool Residuals(const double* theta, double* r) {
    if (interrupted_) return false;
    const Theta point(theta, theta + n());
    if (!(has_last_ && point == last_theta_)) {
      const Genes g = GenesOf(theta);
      std::vector<JointResiduals> out = evaluator_.Evaluate({&g, 1}, platform_);
      Shift(out[0]);
      Remember(point, std::move(out[0]));
    } else {
      NoteBest();
    }
    if (!last_.complete) return false;
    std::copy(last_.r.begin(), last_.r.end(), r);
    return true;
  }

  // Residuals and Jacobian (m x n, row-major) at theta.
  bool Jacobian(const double* theta, double* r, double* jacobian) {
    if (interrupted_) return false;
    const Theta point(theta, theta + n());
    const bool need_center = !(has_last_ && point == last_theta_);
    if (!need_center && last_.complete && HasJacobianAt(point)) {
      NoteBest();
      std::copy(last_.r.begin(), last_.r.end(), r);
      std::copy(jacobian_.begin(), jacobian_.end(), jacobian);
      return true;
    }
    // The difference points: two per coordinate.
    std::vector<Genes> sets;
    if (need_center) sets.push_back(GenesOf(theta));
    struct Pair {
      bool forward = false;  // one-sided towards +
      bool backward = false;
      double h = 0.0;
    };
    std::vector<Pair> pairs(coords_.size());
    for (std::size_t j = 0; j < coords_.size(); ++j) {
      if (static_cast<int>(j) == fixed_) continue;  // held: no difference, a zero column
      const Coordinate& c = coords_[j];
      const double step = c.Step(theta[j], relative_step_);
      Pair& p = pairs[j];
      if (theta[j] - step < c.lower) {
        p.forward = true;
      } else if (theta[j] + step > c.upper) {
        p.backward = true;
      }
      const double sign = p.backward ? -1.0 : 1.0;
      Theta a = point;
      Theta b = point;
      a[j] = theta[j] + sign * step;
      // The step actually represented by the doubles.
      p.h = (a[j] - theta[j]) * sign;
      b[j] = p.forward || p.backward ? theta[j] + 2.0 * sign * p.h : theta[j] - p.h;
      sets.push_back(GenesOf(a.data()));
      sets.push_back(GenesOf(b.data()));
    }
    std::vector<JointResiduals> out = evaluator_.Evaluate(sets, platform_);
    for (JointResiduals& x : out) {
      if (x.interrupted) interrupted_ = true;
      if (x.diverged) ++diverged_;
      Shift(x);
    }
    if (interrupted_) return false;
    if (need_center) {
      Remember(point, std::move(out[0]));
    } else {
      NoteBest();
    }
    if (!last_.complete) return false;
    const std::size_t offset = need_center ? 1 : 0;
    const auto rows = static_cast<std::size_t>(m());
    const auto cols = coords_.size();
    const std::vector<double>& r0 = last_.r;
    std::size_t next = offset;
    for (std::size_t j = 0; j < cols; ++j) {
      if (static_cast<int>(j) == fixed_) {
        for (std::size_t i = 0; i < rows; ++i) jacobian[i * cols + j] = 0.0;
        continue;
      }
      const Pair& p = pairs[j];
      const JointResiduals& a = out[next];
      const JointResiduals& b = out[next + 1];
      next += 2;
      for (std::size_t i = 0; i < rows; ++i) {
        double d = 0.0;
        if (p.forward || p.backward) {
          // Second order one-sided: (-3 r0 + 4 r(h) - r(2h)) / 2h, signed by the side.
          const double sign = p.backward ? -1.0 : 1.0;
          if (a.complete && b.complete) {
            d = sign * (-3.0 * r0[i] + 4.0 * a.r[i] - b.r[i]) / (2.0 * p.h);
          } else if (a.complete) {
            d = sign * (a.r[i] - r0[i]) / p.h;
          }
        } else if (a.complete && b.complete) {
          d = (a.r[i] - b.r[i]) / (2.0 * p.h);
        } else if (a.complete) {
          d = (a.r[i] - r0[i]) / p.h;
        } else if (b.complete) {
          d = (r0[i] - b.r[i]) / p.h;
        }
        jacobian[i * cols + j] = d;
      }
    }
    std::copy(r0.begin(), r0.end(), r);
    jacobian_theta_ = point;
    jacobian_.assign(jacobian, jacobian + rows * cols);
    return true;
  }

  bool HasJacobianAt(const Theta& theta) const {
    return !jacobian_.empty() && jacobian_theta_ == theta;
  }
  const std::vector<double>& jacobian() const { return jacobian_; }

  // The best complete point simulated since the last reset.
  void ResetBest() {
    best_cost_ = kInfinity;
    best_theta_.clear();
  }
  bool HasBest() const { return !best_theta_.empty(); }
  double best_cost() const { return best_cost_; }
  const Theta& best_theta() const { return best_theta_; }
  const JointResiduals& best_residuals() const { return best_; }

  // New noise levels (per record): every residual simulated so far is stale.
  void SetNoiseLevels(const std::vector<double>& speed, const std::vector<double>& current) {
    evaluator_.SetNoiseLevels(speed, current);
    Forget();
  }

  // A constant added to every residual from now on (a bootstrap resample in residual
  // space; empty: none), with the point `theta` whose unshifted residuals `r` and
  // Jacobian `jacobian` are known (the shift leaves the Jacobian as it is), so that a
  // refit from there starts without simulating.
  void SetShift(std::vector<double> shift, const Theta& theta, const std::vector<double>& r,
                const std::vector<double>& jacobian) {
    shift_ = std::move(shift);
    Forget();
    last_theta_ = theta;
    last_ = JointResiduals{};
    last_.complete = true;
    last_.r = r;
    Shift(last_);
    has_last_ = true;
    jacobian_theta_ = theta;
    jacobian_ = jacobian;
  }

  // The coordinate held where it is by later refits (-1: none); its Jacobian column is
  // zero and costs no simulation.
  void Hold(int coordinate) {
    if (coordinate == fixed_) return;
    fixed_ = coordinate;
    jacobian_.clear();
    jacobian_theta_.clear();
  }

 private:
  void Forget() {
    has_last_ = false;
    jacobian_.clear();
    jacobian_theta_.clear();
    ResetBest();
  }
  void Shift(JointResiduals& x) const {
    if (shift_.empty() || !x.complete || x.r.size() != shift_.size()) return;
    for (std::size_t i = 0; i < x.r.size(); ++i) x.r[i] += shift_[i];
  }
  void Remember(const Theta& point, JointResiduals x) {
    if (x.interrupted) interrupted_ = true;
    if (x.diverged) ++diverged_;
    last_theta_ = point;
    last_ = std::move(x);
    has_last_ = true;
    NoteBest();
  }
  // The last point simulated, if it is the best since the last reset.
  void NoteBest() {
    if (!has_last_ || !last_.complete) return;
    const double cost = last_.Cost();
    if (cost < best_cost_) {
      best_cost_ = cost;
      best_theta_ = last_theta_;
      best_ = last_;
    }
  }

  JointEvaluator& evaluator_;
  Platform& platform_;
  std::vector<Coordinate> coords_;
  Genes held_;
  double relative_step_;
  bool interrupted_ = false;
  int diverged_ = 0;
  std::vector<double> shift_;
  int fixed_ = -1;
  bool has_last_ = false;
  Theta last_theta_;
  JointResiduals last_;
  Theta jacobian_theta_;
  std::vector<double> jacobian_;
  double best_cost_ = kInfinity;
  Theta best_theta_;
  JointResiduals best_;
};

// The solver's view of the problem: residuals, and the Jacobian this fit computes
// itself (so that it decides how the simulations are spread over the cores).
class TrajectoryCost final : public ceres::CostFunction {
 public:
  explicit TrajectoryCost(FitProblem& problem) : problem_(problem) {
    set_num_residuals(problem.m());
    mutable_parameter_block_sizes()->push_back(problem.n());
  }
  bool Evaluate(double const* const* parameters, double* residuals,
                double** jacobians) const override {
    if (jacobians != nullptr && jacobians[0] != nullptr) {
      return problem_.Jacobian(parameters[0], residuals, jacobians[0]);
    }
    return problem_.Residuals(parameters[0], residuals);
  }

 private:
  FitProblem& problem_;
};

class ProgressCallback final : public ceres::IterationCallback {
 public:
  // `theta` is the solver's current point, updated before each call.
  ProgressCallback(FitProblem& problem, Platform& platform, BatchDistributor* distributor,
                   const FitProgressFunction& progress, FitProgress base,
                   std::chrono::steady_clock::time_point begin, const double* theta)
      : problem_(problem),
        platform_(platform),
        distributor_(distributor),
        progress_(progress),
        base_(base),
        begin_(begin),
        theta_(theta) {}

  ceres::CallbackReturnType operator()(const ceres::IterationSummary& summary) override {
    if (progress_) {
      FitProgress p = base_;
      p.iteration = summary.iteration;
      p.cost = summary.cost;
      p.step_norm = summary.step_norm;
      p.step_accepted = summary.step_is_successful;
      p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
      p.runs = problem_.runs();
      p.genes = problem_.GenesOf(theta_);
      progress_(p);
    }
    bool stop = platform_.EscapePressed();
    // A stop seen by one process of a shared fit stops every process at this iteration.
    if (distributor_ != nullptr) stop = distributor_->AnyOf(stop);
    if (stop) problem_.Interrupt();
    return problem_.interrupted() ? ceres::SOLVER_TERMINATE_SUCCESSFULLY : ceres::SOLVER_CONTINUE;
  }

 private:
  FitProblem& problem_;
  Platform& platform_;
  BatchDistributor* distributor_;
  const FitProgressFunction& progress_;
  FitProgress base_;
  std::chrono::steady_clock::time_point begin_;
  const double* theta_;
};

std::string Number(double x) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

// Why a guess cannot be fitted, or nothing.
std::string GuessProblem(const Genes& g, const std::array<bool, NGenes>& optimised) {
  for (int j = 0; j < NGenes; ++j) {
    const double x = g[static_cast<std::size_t>(j)];
    const std::string name = kGeneNames[static_cast<std::size_t>(j)];
    if (!std::isfinite(x)) return name + " = " + Number(x) + " : valeur non finie";
    const bool fitted = optimised[static_cast<std::size_t>(j)];
    switch (ScaleOf(j)) {
      case Scale::kLog:
        if (fitted && !(x > 0.0)) {
          return name + " = " + Number(x) + " : doit être strictement positif pour être ajusté";
        }
        if (j == kGeneTr && x == 0.0) return "Problème sur la constante Tr=0";
        break;
      case Scale::kLogit:
        if (fitted && !(x > 0.0 && x < 1.0)) {
          return "sigma = " + Number(x) + " : doit être compris strictement entre 0 et 1";
        }
        if (!fitted && !(x < 1.0)) return "sigma = " + Number(x) + " : doit être inférieur à 1";
        break;
      case Scale::kNonNegative:
        if (fitted && x < 0.0) {
          return name + " = " + Number(x) + " : un coefficient de charge ajusté est positif ou nul";
        }
        break;
    }
  }
  return {};
}

struct Statistics {
  std::vector<FittedParameter> parameters;
  std::vector<std::vector<double>> correlation;
  double reciprocal_condition = 0.0;
  std::vector<std::string> warnings;
  IntervalMethod method = IntervalMethod::kWhite;
  int window = 0;
  double autocorrelation_time = 1.0;
  std::vector<int> windows;  // per record (0: too few instants for a window)
  // Per parameter: the standard error on the transformed scale, and the noise variance
  // its interval stands for (sigma^2 times the ratio of its variance to the white one).
  std::vector<double> theta_error;
  std::vector<double> variance_scale;
};

using RowMajorMap =
    Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>;

// Integrated autocorrelation time of a series, in samples: 1 + 2 sum rho_k, summed until
// k reaches five times the running value (the usual self-consistent window), at most
// over half the series. The products are not centred: a systematic residual is
// correlated from one instant to the next, and counts so.
double IntegratedAutocorrelationTime(const double* x, Eigen::Index count) {
  double g0 = 0.0;
  for (Eigen::Index t = 0; t < count; ++t) g0 += x[t] * x[t];
  if (!(g0 > 0.0)) return 1.0;
  double tau = 1.0;
  for (Eigen::Index k = 1; k < count / 2; ++k) {
    double gk = 0.0;
    for (Eigen::Index t = k; t < count; ++t) gk += x[t] * x[t - k];
    tau += 2.0 * gk / g0;
    if (static_cast<double>(k) >= kWindowPerCorrelationTime * tau) break;
  }
  return std::max(tau, 1.0);
}

// One record's residuals in the stacked vector: from row `offset`, `signals` series of
// `instants` each (speed first, then current).
struct RecordBlock {
  Eigen::Index offset = 0;
  Eigen::Index instants = 0;
  Eigen::Index signals = 0;
};

// Within one record laid out signal by signal, each over the same instants: the scores
// g_t = sum over the signals at instant t of J_i^T r_i, and the long-run covariance of
// the scores by the Bartlett kernel over `window` instants either way.
Eigen::MatrixXd LongRunScoreCovariance(const RowMajorMap& J, const std::vector<double>& r,
                                       const RecordBlock& block, Eigen::Index window) {
  const Eigen::Index n = J.cols();
  const Eigen::Index instants = block.instants;
  Eigen::MatrixXd G = Eigen::MatrixXd::Zero(instants, n);
  for (Eigen::Index b = 0; b < block.signals; ++b) {
    for (Eigen::Index t = 0; t < instants; ++t) {
      const Eigen::Index i = block.offset + b * instants + t;
      G.row(t) += J.row(i) * r[static_cast<std::size_t>(i)];
    }
  }
  Eigen::MatrixXd S = G.transpose() * G;
  for (Eigen::Index l = 1; l <= window && l < instants; ++l) {
    const double w = 1.0 - static_cast<double>(l) / static_cast<double>(window + 1);
    const Eigen::MatrixXd gamma = G.bottomRows(instants - l).transpose() * G.topRows(instants - l);
    S += w * (gamma + gamma.transpose());
  }
  return S;
}

// Standard errors, intervals, correlations and identifiability at theta, from the
// residuals r (m) and the Jacobian J (m x n, row-major) there; the residuals are stacked
// record after record (`blocks`). The records are independent: the long-run covariance
// of the scores is the sum of each record's, each with its own window.
Statistics ComputeStatistics(const std::vector<Coordinate>& coords, const Theta& theta,
                             const std::vector<double>& r, const std::vector<double>& jacobian,
                             const std::vector<RecordBlock>& blocks) {
  const auto n = static_cast<Eigen::Index>(coords.size());
  const auto m = static_cast<Eigen::Index>(r.size());
  Statistics st;
  const RowMajorMap J(jacobian.data(), m, n);
  double sum_sq = 0.0;
  for (double x : r) sum_sq += x * x;
  const double s2 = sum_sq / static_cast<double>(std::max<Eigen::Index>(m - n, 1));

  // Columns scaled to unit norm: the conditioning then speaks of the parameters' mutual
  // dependence, not of their units.
  Eigen::VectorXd norms = J.colwise().norm().transpose();
  const double largest = norms.size() > 0 ? norms.maxCoeff() : 0.0;
  std::vector<bool> no_effect(coords.size(), false);
  Eigen::VectorXd inv(n);
  for (Eigen::Index j = 0; j < n; ++j) {
    no_effect[static_cast<std::size_t>(j)] = !(norms(j) > kNoEffect * largest) || !(largest > 0);
    inv(j) = no_effect[static_cast<std::size_t>(j)] ? 0.0 : 1.0 / norms(j);
  }
  const Eigen::MatrixXd A = inv.asDiagonal() * (J.transpose() * J) * inv.asDiagonal();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(A);
  const Eigen::VectorXd& lambda = eig.eigenvalues();
  const Eigen::MatrixXd& V = eig.eigenvectors();
  const double lmax = lambda.size() > 0 ? std::max(lambda.maxCoeff(), 0.0) : 0.0;
  // Pseudo-inverse over the well-determined directions; the others mark their parameters.
  Eigen::MatrixXd C = Eigen::MatrixXd::Zero(n, n);
  std::vector<bool> in_null(coords.size(), false);
  double lmin_kept = lmax;
  bool any_null = false;
  for (Eigen::Index k = 0; k < n; ++k) {
    const Eigen::VectorXd v = V.col(k);
    // Directions of the no-effect columns are exactly zero: not a dependence.
    bool only_no_effect = true;
    for (Eigen::Index j = 0; j < n; ++j) {
      if (!no_effect[static_cast<std::size_t>(j)] && std::fabs(v(j)) > kNullComponent) {
        only_no_effect = false;
      }
    }
    if (lmax > 0.0 && lambda(k) > kNearSingular * lmax) {
      C += v * v.transpose() / lambda(k);
      lmin_kept = std::min(lmin_kept, lambda(k));
      continue;
    }
    if (only_no_effect) continue;
    any_null = true;
    for (Eigen::Index j = 0; j < n; ++j) {
      if (std::fabs(v(j)) > kNullComponent) in_null[static_cast<std::size_t>(j)] = true;
    }
  }
  st.reciprocal_condition = lmax > 0.0 ? std::max(lambda.minCoeff(), 0.0) / lmax : 0.0;
  const Eigen::MatrixXd pinv = inv.asDiagonal() * C * inv.asDiagonal();
  const Eigen::MatrixXd white = s2 * pinv;
  Eigen::MatrixXd cov = white;
  const bool windows =
      !blocks.empty() && std::all_of(blocks.begin(), blocks.end(), [](const RecordBlock& b) {
        return b.instants >= kFewestInstantsForWindow;
      });
  if (windows) {
    Eigen::MatrixXd S = Eigen::MatrixXd::Zero(n, n);
    double tau_max = 1.0;
    Eigen::Index window_max = 0;
    for (const RecordBlock& block : blocks) {
      double tau = 1.0;
      for (Eigen::Index b = 0; b < block.signals; ++b) {
        tau = std::max(tau, IntegratedAutocorrelationTime(
                                r.data() + block.offset + b * block.instants, block.instants));
      }
      const auto window = static_cast<Eigen::Index>(std::min(
          std::ceil(kWindowPerCorrelationTime * tau), static_cast<double>(block.instants - 1)));
      S += LongRunScoreCovariance(J, r, block, window);
      st.windows.push_back(static_cast<int>(window));
      tau_max = std::max(tau_max, tau);
      window_max = std::max(window_max, window);
    }
    const double small_sample =
        static_cast<double>(m) / static_cast<double>(std::max<Eigen::Index>(m - n, 1));
    cov = small_sample * (pinv * S * pinv);
    st.method = IntervalMethod::kNeweyWest;
    st.window = static_cast<int>(window_max);
    st.autocorrelation_time = tau_max;
  }

  for (Eigen::Index j = 0; j < n; ++j) {
    const Coordinate& c = coords[static_cast<std::size_t>(j)];
    const auto ju = static_cast<std::size_t>(j);
    FittedParameter p;
    p.gene = c.gene;
    p.value = c.ToGene(theta[ju]);
    p.at_bound = c.scale == Scale::kNonNegative && theta[ju] <= c.lower + kAtBound;
    const bool unknown = no_effect[ju] || in_null[ju];
    const double se_theta = unknown ? kInfinity : std::sqrt(std::max(cov(j, j), 0.0));
    p.standard_error = unknown ? kInfinity : std::fabs(c.Slope(theta[ju])) * se_theta;
    p.white_error =
        unknown ? kInfinity : std::fabs(c.Slope(theta[ju])) * std::sqrt(std::max(white(j, j), 0.0));
    if (unknown) {
      p.lower95 = c.scale == Scale::kNonNegative ? 0.0 : c.ToGene(-kInfinity);
      p.upper95 = c.scale == Scale::kLogit ? 1.0 : kInfinity;
    } else {
      p.lower95 = c.ToGene(std::max(theta[ju] - kZ95 * se_theta, c.lower));
      p.upper95 = c.ToGene(theta[ju] + kZ95 * se_theta);
    }
    p.identifiable = !unknown;
    st.parameters.push_back(p);
    st.theta_error.push_back(se_theta);
    st.variance_scale.push_back(
        white(j, j) > 0.0 && std::isfinite(cov(j, j)) ? s2 * cov(j, j) / white(j, j) : s2);
  }
  st.correlation.assign(coords.size(), std::vector<double>(coords.size(), kNaN));
  for (Eigen::Index j = 0; j < n; ++j) {
    for (Eigen::Index k = 0; k < n; ++k) {
      const double d = cov(j, j) * cov(k, k);
      if (d > 0.0 && std::isfinite(d)) {
        st.correlation[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)] =
            std::clamp(cov(j, k) / std::sqrt(d), -1.0, 1.0);
      }
    }
  }

  auto name = [&](Eigen::Index j) {
    return std::string(
        kGeneNames[static_cast<std::size_t>(coords[static_cast<std::size_t>(j)].gene)]);
  };
  for (Eigen::Index j = 0; j < n; ++j) {
    if (no_effect[static_cast<std::size_t>(j)]) {
      st.warnings.push_back(name(j) + " : sans effet sur les résidus, non identifiable");
    }
  }
  if (any_null) {
    std::string names;
    for (Eigen::Index j = 0; j < n; ++j) {
      if (in_null[static_cast<std::size_t>(j)]) names += (names.empty() ? "" : ", ") + name(j);
    }
    st.warnings.push_back("JᵀJ quasi singulière (conditionnement inverse " +
                          Number(st.reciprocal_condition) + ") : l'enregistrement ne sépare pas " +
                          names);
  }
  for (Eigen::Index j = 0; j < n; ++j) {
    for (Eigen::Index k = j + 1; k < n; ++k) {
      const double c = st.correlation[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)];
      if (std::fabs(c) > kHighCorrelation) {
        st.parameters[static_cast<std::size_t>(j)].identifiable = false;
        st.parameters[static_cast<std::size_t>(k)].identifiable = false;
        st.warnings.push_back(name(j) + " et " + name(k) + " corrélés à " + Number(c) +
                              " : l'enregistrement ne les distingue pas");
      }
    }
  }
  for (Eigen::Index j = 0; j < n; ++j) {
    FittedParameter& p = st.parameters[static_cast<std::size_t>(j)];
    if (!std::isfinite(p.standard_error) || p.at_bound) continue;
    if (p.standard_error > kLargeRelativeError * std::fabs(p.value)) {
      p.identifiable = false;
      st.warnings.push_back(name(j) + " : incertitude relative " +
                            Number(100.0 * p.standard_error / std::fabs(p.value)) +
                            " % (> 100 %), mal identifié par l'enregistrement");
    }
  }
  return st;
}

// The starts: the guess, then `extra` drawn around it on the transformed scales.
std::vector<Theta> DrawStarts(const std::vector<Coordinate>& coords, const Theta& guess,
                              const FitOptions& options) {
  std::vector<Theta> starts{guess};
  for (const Genes& g : options.extra_starts) {
    Theta t(coords.size());
    bool inside = true;
    for (std::size_t j = 0; j < coords.size(); ++j) {
      t[j] = coords[j].FromGene(g[static_cast<std::size_t>(coords[j].gene)]);
      inside = inside && t[j] >= coords[j].lower && t[j] <= coords[j].upper;
    }
    if (inside) starts.push_back(std::move(t));
  }
  std::mt19937 engine(options.seed);
  auto uniform = [&engine] {
    return (static_cast<double>(engine()) + 0.5) * 0x1.0p-32;  // (0, 1)
  };
  const double spread = std::log(std::max(options.start_spread, 1.0));
  for (int s = 0; s < options.starts; ++s) {
    Theta t = guess;
    for (std::size_t j = 0; j < coords.size(); ++j) {
      const Coordinate& c = coords[j];
      const double u = (2.0 * uniform() - 1.0) * spread;
      if (c.scale == Scale::kNonNegative) {
        t[j] = guess[j] > 0.0 ? guess[j] * std::exp(u) : uniform();
      } else {
        t[j] = guess[j] + u;
      }
      t[j] = std::clamp(t[j], c.lower, c.upper);
    }
    starts.push_back(std::move(t));
  }
  return starts;
}

// A moving-block resample of the residuals r, record by record: the residuals of each
// signal centred on their mean, cut into blocks of `lengths[k]` consecutive instants
// (every signal of an instant together) drawn with replacement until the record's
// instants are filled. The draws come from (seed, resample) alone.
std::vector<double> BlockResample(const std::vector<double>& r,
                                  const std::vector<RecordBlock>& blocks,
                                  const std::vector<int>& lengths, std::uint32_t seed,
                                  int resample) {
  std::seed_seq sequence{seed, static_cast<std::uint32_t>(resample), 0x626c6f63u};
  std::mt19937_64 engine(sequence);
  std::vector<double> e(r.size(), 0.0);
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const RecordBlock& b = blocks[k];
    const Eigen::Index instants = b.instants;
    const Eigen::Index length = std::clamp<Eigen::Index>(lengths[k], 1, instants);
    const auto places = static_cast<std::uint64_t>(instants - length + 1);
    std::vector<double> mean(static_cast<std::size_t>(b.signals), 0.0);
    for (Eigen::Index sig = 0; sig < b.signals; ++sig) {
      double sum = 0.0;
      for (Eigen::Index t = 0; t < instants; ++t) {
        sum += r[static_cast<std::size_t>(b.offset + sig * instants + t)];
      }
      mean[static_cast<std::size_t>(sig)] = sum / static_cast<double>(instants);
    }
    Eigen::Index t = 0;
    while (t < instants) {
      // The modulo's bias is below 1e-15 for any record: the same draws on every platform.
      const auto start = static_cast<Eigen::Index>(engine() % places);
      for (Eigen::Index u = 0; u < length && t < instants; ++u, ++t) {
        for (Eigen::Index sig = 0; sig < b.signals; ++sig) {
          const Eigen::Index row = b.offset + sig * instants;
          e[static_cast<std::size_t>(row + t)] =
              r[static_cast<std::size_t>(row + start + u)] - mean[static_cast<std::size_t>(sig)];
        }
      }
    }
  }
  return e;
}

// The q-quantile of v, interpolated between order statistics.
double Percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double at = q * static_cast<double>(v.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(at));
  const std::size_t above = std::min(below + 1, v.size() - 1);
  return v[below] + (at - static_cast<double>(below)) * (v[above] - v[below]);
}

bool SameEnd(const std::vector<Coordinate>& coords, const Theta& a, const Theta& b) {
  for (std::size_t j = 0; j < coords.size(); ++j) {
    const double scale =
        coords[j].scale == Scale::kNonNegative ? std::max(std::fabs(b[j]), 1.0) : 1.0;
    if (std::fabs(a[j] - b[j]) > kSameEnd * scale) return false;
  }
  return true;
}

// The solver reports through its summary, which the fit turns into its own words; its
// log lines (written to stderr by the logging library it uses) would only interleave with
// the progress display. Only a fatal error of the library itself is still written.
void QuietSolverLog() {
  static std::once_flag once;
  std::call_once(once, [] { FLAGS_minloglevel = google::GLOG_FATAL; });
}

// The noise levels dividing the residuals of the layout's signals (speed, current).
std::array<double, 2> NoiseOf(const ResidualLayout& layout) {
  return {layout.speed_noise, layout.current_noise};
}

// The simulated signals at the compared instants, recovered from machine-state residuals
// r = (measured - simulated) / noise computed with the noise levels `noise`.
FitCurves CurvesOf(const ResidualLayout& layout, const std::vector<double>& r,
                   const std::array<double, 2>& noise) {
  FitCurves c;
  const auto n = static_cast<std::size_t>(layout.Instants());
  if (r.size() != static_cast<std::size_t>(layout.Count()) || layout.measured_speed.size() != n ||
      layout.measured_current.size() != n) {
    return c;
  }
  c.times = layout.times;
  c.measured_speed = layout.measured_speed;
  c.measured_current = layout.measured_current;
  std::size_t offset = 0;
  if (layout.speed_compared) {
    c.fitted_speed.resize(n);
    for (std::size_t k = 0; k < n; ++k) c.fitted_speed[k] = c.measured_speed[k] - r[k] * noise[0];
    offset = n;
  }
  if (layout.current_compared) {
    c.fitted_current.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
      c.fitted_current[k] = c.measured_current[k] - r[offset + k] * noise[1];
    }
  }
  return c;
}

}  // namespace

MachineValues MachineValuesOf(const Genes& g, const SimulationSettings& s) {
  SimulationSettings copy = s;
  MapGenesOntoMachine(g, copy);
  const DqMachineModel& m = copy.dq;
  return {m.Rs, m.Rr, m.Ls, m.Lr, m.M, m.J, m.a10, m.a20, m.a30};
}

FitResult FitTrajectory(const Genes& guess, const SimulationSettings& s,
                        const CarriedState& carried, Platform& platform, const FitOptions& options,
                        const FitProgressFunction& progress) {
  const FitRecord record{&s, &carried, {}};
  return FitTrajectories(guess, {&record, 1}, platform, options, progress);
}

FitResult FitTrajectories(const Genes& guess, std::span<const FitRecord> records,
                          Platform& platform, const FitOptions& options,
                          const FitProgressFunction& progress) {
  const auto begin = std::chrono::steady_clock::now();
  FitResult result;
  result.guess = guess;
  result.genes = guess;
  if (records.empty()) {
    result.message = "Aucun enregistrement à ajuster";
    return result;
  }
  const SimulationSettings& s = *records.front().study;
  for (int j = 0; j < NGenes; ++j) {
    result.optimised[static_cast<std::size_t>(j)] = s.GenX[static_cast<std::size_t>(j)];
  }
  auto refuse = [&](std::string message) {
    result.end = FitEnd::kRefused;
    result.message = std::move(message);
    return result;
  };

  // The coordinates of the optimised genes.
  std::vector<Coordinate> coords;
  for (int j = 0; j < NGenes; ++j) {
    if (!result.optimised[static_cast<std::size_t>(j)]) continue;
    Coordinate c;
    c.gene = j;
    c.scale = ScaleOf(j);
    coords.push_back(c);
  }
  if (coords.empty()) return refuse("Aucun paramètre à ajuster : tous les GenX sont à 0");
  if (std::string problem = GuessProblem(guess, result.optimised); !problem.empty()) {
    return refuse("Jeu de départ impossible à ajuster : " + problem);
  }
  if (!(options.relative_step > 0.0 && options.relative_step < 0.1)) {
    return refuse("Pas relatif des différences finies hors de ]0, 0.1[");
  }
  if (options.bootstrap < 0 || options.bootstrap > kMostBootstrapResamples) {
    return refuse("Bootstrap : " + std::to_string(options.bootstrap) +
                  " rééchantillonnages demandés, 1 à " + std::to_string(kMostBootstrapResamples) +
                  " attendus");
  }
  Theta theta0(coords.size());
  for (std::size_t j = 0; j < coords.size(); ++j) {
    Coordinate& c = coords[j];
    const double p = guess[static_cast<std::size_t>(c.gene)];
    if (c.scale == Scale::kNonNegative) c.unit = std::max(std::fabs(p), TypicalLoad(c.gene));
    theta0[j] = c.FromGene(p);
    switch (c.scale) {
      case Scale::kLog:
        c.lower = theta0[j] - kLogRoom;
        c.upper = theta0[j] + kLogRoom;
        break;
      case Scale::kLogit:
        c.lower = std::min(-kLogitRoom, theta0[j]);
        c.upper = std::max(kLogitRoom, theta0[j]);
        break;
      case Scale::kNonNegative:
        c.lower = 0.0;
        c.upper = std::max(kNonNegativeMax, theta0[j]);
        break;
    }
  }

  const int n = static_cast<int>(coords.size());
  const bool joint = records.size() > 1;
  // Each record's compared instants; a record that cannot be used names itself.
  std::vector<ResidualLayout> layouts;
  for (const FitRecord& rec : records) {
    LayoutResult layout =
        MakeResidualLayout(guess, *rec.study, *rec.carried, joint ? 1 : n, options.residuals);
    if (layout.status != LayoutStatus::kReady) {
      return refuse(joint ? "Enregistrement " + rec.name + " : " + layout.message : layout.message);
    }
    layouts.push_back(std::move(layout.layout));
  }
  const ResidualLayout& lay = layouts.front();
  result.residual_kind = lay.kind;
  result.instants = 0;
  result.residuals = 0;
  for (const ResidualLayout& l : layouts) {
    result.instants += l.Instants();
    result.residuals += l.Count();
  }
  if (result.residuals < n) {
    return refuse("Trop peu de résidus (" + std::to_string(result.residuals) + ") pour " +
                  std::to_string(n) + " paramètres");
  }
  result.speed_compared = lay.speed_compared;
  result.current_compared = lay.current_compared;
  result.max_of_current = lay.kind == ResidualKind::kCost && lay.mode == 6;
  result.speed_range = lay.speed_range;
  result.current_range = lay.current_range;
  result.record_first = lay.record_first;
  result.record_last = lay.record_last;
  result.compared_first = lay.times.front();
  result.compared_last = lay.times.back();
  result.simulated_until = 0.0;
  std::vector<RecordBlock> blocks;
  Eigen::Index offset = 0;
  for (std::size_t k = 0; k < records.size(); ++k) {
    const ResidualLayout& l = layouts[k];
    const SimulationSettings& sk = *records[k].study;
    const std::string prefix = joint ? records[k].name + " : " : std::string();
    RecordFit rf;
    rf.name = records[k].name;
    rf.instants = l.Instants();
    rf.residuals = l.Count();
    rf.speed_compared = l.speed_compared;
    rf.current_compared = l.current_compared;
    rf.speed_range = l.speed_range;
    rf.current_range = l.current_range;
    rf.compared_first = l.times.front();
    rf.compared_last = l.times.back();
    result.records.push_back(rf);
    blocks.push_back(
        {offset, l.Instants(),
         static_cast<Eigen::Index>((l.speed_compared ? 1 : 0) + (l.current_compared ? 1 : 0))});
    offset += l.Count();
    const double until = l.kind == ResidualKind::kMachineState ? l.times.back() : sk.tf;
    result.simulated_until = std::max(result.simulated_until, until);
    if (l.kind == ResidualKind::kCost && l.Instants() < l.instants_in_tables) {
      result.notes.push_back(prefix +
                             "Enregistrement plus court que l'étude : comparaison limitée à " +
                             Number(rf.compared_first) + " .. " + Number(rf.compared_last) +
                             " s (" + std::to_string(l.Instants()) + " instants sur " +
                             std::to_string(l.instants_in_tables) + ")");
    }
    if (l.kind == ResidualKind::kMachineState) {
      if (l.Instants() < l.instants_in_tables) {
        result.notes.push_back(prefix + "Enregistrement comparé sur " + Number(rf.compared_first) +
                               " .. " + Number(rf.compared_last) + " s (" +
                               std::to_string(l.Instants()) + " lignes de l'enregistrement sur " +
                               std::to_string(l.instants_in_tables) +
                               ", les autres hors de [t0, tf])");
      }
      if (rf.compared_last < sk.tf - sk.dt) {
        result.notes.push_back(prefix + "Simulations arrêtées au dernier instant comparé, " +
                               Number(rf.compared_last) + " s (tf = " + Number(sk.tf) + " s)");
      }
    }
  }

  QuietSolverLog();
  const int threads = options.threads > 0 ? options.threads : MachineThreads();
  std::vector<std::unique_ptr<ResidualEvaluator>> evaluators;
  for (std::size_t k = 0; k < records.size(); ++k) {
    evaluators.push_back(std::make_unique<ResidualEvaluator>(
        *records[k].study, *records[k].carried, layouts[k], threads, options.distributor));
  }
  JointEvaluator evaluator(std::move(evaluators));
  FitProblem problem(evaluator, platform, coords, guess, options.relative_step);

  // A guess whose residuals or Jacobian are not finite numbers cannot start a fit: every
  // step from it would be measured against nothing.
  {
    std::vector<double> jac(static_cast<std::size_t>(problem.m()) * coords.size());
    std::vector<double> res(static_cast<std::size_t>(problem.m()));
    const bool ran = problem.Jacobian(theta0.data(), res.data(), jac.data());
    if (problem.interrupted()) {
      result.end = FitEnd::kInterrupted;
      result.runs = problem.runs();
      result.seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
      return result;
    }
    const bool finite =
        ran && std::all_of(jac.begin(), jac.end(), [](double x) { return std::isfinite(x); });
    const bool moves =
        ran && std::any_of(jac.begin(), jac.end(), [](double x) { return x != 0.0; });
    if (!finite || !moves) {
      result.runs = problem.runs();
      return refuse(std::string("Jeu de départ absurde : ") +
                    (!ran      ? "sa simulation n'est pas finie (elle diverge dès le départ)"
                     : !finite ? "son jacobien n'est pas fini"
                               : "aucun paramètre ne change les résidus autour de lui") +
                    " ; donner un jeu proche de la machine (--init)");
    }
  }

  const std::vector<Theta> starts = DrawStarts(coords, theta0, options);
  const std::size_t given = options.extra_starts.size();
  const std::size_t kept = starts.size() - 1 - static_cast<std::size_t>(options.starts);
  if (kept < given) {
    result.notes.push_back(std::to_string(given - kept) +
                           " départ(s) donné(s) hors du domaine des paramètres, ignoré(s)");
  }

  // One solver run from `theta` (updated to the solver's end); the best point it
  // simulated is then in `problem`.
  auto solve = [&](Theta& theta, const FitProgress& base, int held = -1,
                   double trust_region = 0.0) {
    problem.ResetBest();
    problem.Hold(held);
    ceres::Problem ceres_problem;
    ceres_problem.AddResidualBlock(new TrajectoryCost(problem), nullptr, theta.data());
    if (held >= 0) ceres_problem.SetManifold(theta.data(), new ceres::SubsetManifold(n, {held}));
    for (int j = 0; j < n; ++j) {
      ceres_problem.SetParameterLowerBound(theta.data(), j,
                                           coords[static_cast<std::size_t>(j)].lower);
      ceres_problem.SetParameterUpperBound(theta.data(), j,
                                           coords[static_cast<std::size_t>(j)].upper);
    }
    ceres::Solver::Options so;
    so.minimizer_type = ceres::TRUST_REGION;
    so.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
    so.linear_solver_type = ceres::DENSE_QR;
    so.num_threads = 1;
    so.max_num_iterations = std::max(options.max_iterations, 0);
    so.function_tolerance = options.function_tolerance;
    so.parameter_tolerance = options.parameter_tolerance;
    so.gradient_tolerance = 1e-16;
    so.max_num_consecutive_invalid_steps = 20;
    // A start-up's residuals are far from linear in the parameters: the first steps are
    // kept short (a damped start) so that a guess 30 % off does not leap into another
    // valley; the region grows as the steps succeed.
    // A refit from the best point (bootstrap, profile) starts where the problem is nearly
    // linear: an undamped first step, or its steps along the correlated directions would
    // be so short that the parameter tolerance ends it before it has moved.
    so.initial_trust_region_radius =
        trust_region > 0.0 ? trust_region : options.initial_trust_region;
    // A step that crosses a bound is projected onto it and tried as it is: the projected
    // line search would ask a Jacobian (2n simulations) per trial.
    so.max_num_line_search_step_size_iterations = 0;
    so.logging_type = ceres::SILENT;
    so.minimizer_progress_to_stdout = false;
    so.update_state_every_iteration = true;
    ProgressCallback callback(problem, platform, options.distributor, progress, base, begin,
                              theta.data());
    so.callbacks.push_back(&callback);
    ceres::Solver::Summary ceres_summary;
    ceres::Solve(so, &ceres_problem, &ceres_summary);
    return ceres_summary;
  };

  Theta best_theta;
  double best_cost = kInfinity;
  JointResiduals best_residuals;
  std::array<double, 2> best_noise = NoiseOf(evaluator.layout(0));
  ceres::TerminationType best_termination = ceres::FAILURE;
  std::vector<Theta> ends;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    if (problem.interrupted()) break;
    StartSummary summary;
    summary.start = problem.GenesOf(starts[k].data());
    Theta theta = starts[k];
    FitProgress base;
    base.start = static_cast<int>(k);
    base.starts = static_cast<int>(starts.size());
    const ceres::Solver::Summary ceres_summary = solve(theta, base);

    summary.iterations = std::max(static_cast<int>(ceres_summary.iterations.size()) - 1, 0);
    result.iterations += summary.iterations;
    summary.solver_message = ceres_summary.message;
    summary.initial_cost = ceres_summary.iterations.empty() ? kNaN : ceres_summary.initial_cost;
    if (k == 0) result.initial_cost = summary.initial_cost;
    summary.usable = problem.HasBest();
    if (summary.usable) {
      summary.end = problem.GenesOf(problem.best_theta().data());
      summary.cost = problem.best_cost();
      ends.push_back(problem.best_theta());
      if (problem.best_cost() < best_cost) {
        best_cost = problem.best_cost();
        best_theta = problem.best_theta();
        best_residuals = problem.best_residuals();
        best_noise = NoiseOf(evaluator.layout(0));
        best_termination = ceres_summary.termination_type;
        result.best_start = static_cast<int>(k);
        result.message = ceres_summary.message;
      }
    } else {
      summary.end = summary.start;
      summary.cost = kNaN;
      ends.emplace_back();
    }
    result.starts.push_back(std::move(summary));
  }
  result.runs = problem.runs();
  result.diverged_trials = problem.diverged();

  if (best_theta.empty()) {
    result.end = problem.interrupted() ? FitEnd::kInterrupted : FitEnd::kFailed;
    if (!problem.interrupted()) {
      result.message = "Aucun départ n'a pu être ajusté : la simulation diverge à chaque départ";
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return result;
  }
  for (std::size_t k = 0; k < result.starts.size(); ++k) {
    StartSummary& st = result.starts[k];
    st.reached_best = st.usable && (st.cost <= best_cost * (1.0 + kSameEnd) ||
                                    SameEnd(coords, ends[k], best_theta));
    if (st.reached_best) ++result.starts_reaching_best;
  }

  // Noise weights: each signal divided by the rms of its own residuals at the best point,
  // then the fit resumed from there, until the levels settle. A fit given a short
  // budget of iterations that it used up keeps its first weights (the sandwich intervals
  // hold for any weights), so that its iterations are those asked for.
  auto converged = [&best_termination, &options] {
    return best_termination == ceres::CONVERGENCE || best_termination == ceres::USER_SUCCESS ||
           (best_termination == ceres::NO_CONVERGENCE &&
            options.max_iterations >= kIterationsForReweighting);
  };
  const auto record_count = records.size();
  if (lay.kind == ResidualKind::kMachineState) {
    for (int pass = 1; pass <= options.reweights && !problem.interrupted() && converged(); ++pass) {
      std::vector<double> speed(record_count);
      std::vector<double> current(record_count);
      bool settled = true;
      for (std::size_t k = 0; k < record_count; ++k) {
        const ResidualLayout& now = evaluator.layout(static_cast<int>(k));
        speed[k] = std::max(best_residuals.speed_rms[k], now.speed_floor);
        current[k] = std::max(best_residuals.current_rms[k], now.current_floor);
        settled =
            settled &&
            (!now.speed_compared || std::fabs(speed[k] / now.speed_noise - 1.0) < kNoiseSettled) &&
            (!now.current_compared ||
             std::fabs(current[k] / now.current_noise - 1.0) < kNoiseSettled);
      }
      if (settled) break;
      problem.SetNoiseLevels(speed, current);
      Theta theta = best_theta;
      FitProgress base;
      base.start = result.best_start;
      base.starts = static_cast<int>(starts.size());
      base.reweight = pass;
      const ceres::Solver::Summary ceres_summary = solve(theta, base);
      result.iterations += std::max(static_cast<int>(ceres_summary.iterations.size()) - 1, 0);
      ++result.reweights;
      if (!problem.HasBest()) break;
      best_theta = problem.best_theta();
      best_cost = problem.best_cost();
      best_residuals = problem.best_residuals();
      best_noise = NoiseOf(evaluator.layout(0));
      if (!problem.interrupted()) {
        best_termination = ceres_summary.termination_type;
        result.message = ceres_summary.message;
      }
    }
    for (std::size_t k = 0; k < record_count; ++k) {
      const ResidualLayout& l = evaluator.layout(static_cast<int>(k));
      RecordFit& rf = result.records[k];
      rf.speed_noise = l.speed_noise;
      rf.current_noise = l.current_noise;
      rf.speed_noise_at_floor = l.speed_noise <= l.speed_floor;
      rf.current_noise_at_floor = l.current_noise <= l.current_floor;
    }
    result.speed_noise = result.records.front().speed_noise;
    result.current_noise = result.records.front().current_noise;
    result.speed_noise_at_floor = result.records.front().speed_noise_at_floor;
    result.current_noise_at_floor = result.records.front().current_noise_at_floor;
  }

  result.genes = problem.GenesOf(best_theta.data());
  result.machine = MachineValuesOf(result.genes, s);
  result.cost = best_cost;
  // The rms over every record, each record's squares weighted by its instants.
  double speed_sq = 0.0;
  double current_sq = 0.0;
  for (std::size_t k = 0; k < record_count && k < best_residuals.speed_rms.size(); ++k) {
    RecordFit& rf = result.records[k];
    rf.speed_rms = best_residuals.speed_rms[k];
    rf.current_rms = best_residuals.current_rms[k];
    speed_sq += rf.instants * rf.speed_rms * rf.speed_rms;
    current_sq += rf.instants * rf.current_rms * rf.current_rms;
  }
  if (record_count == 1 && !best_residuals.speed_rms.empty()) {
    result.speed_rms = best_residuals.speed_rms.front();
    result.current_rms = best_residuals.current_rms.front();
  } else {
    result.speed_rms = std::sqrt(speed_sq / std::max(result.instants, 1));
    result.current_rms = std::sqrt(current_sq / std::max(result.instants, 1));
  }
  if (lay.kind == ResidualKind::kMachineState) {
    // The curves are the first record's: its residuals come first in the stacked vector.
    const ResidualLayout& first = evaluator.layout(0);
    const auto count = static_cast<std::size_t>(first.Count());
    if (best_residuals.r.size() >= count) {
      const std::vector<double> own(best_residuals.r.begin(),
                                    best_residuals.r.begin() + static_cast<std::ptrdiff_t>(count));
      result.curves = CurvesOf(first, own, best_noise);
    }
  }
  if (problem.interrupted()) {
    result.end = FitEnd::kInterrupted;
  } else if (best_termination == ceres::CONVERGENCE || best_termination == ceres::USER_SUCCESS) {
    result.end = FitEnd::kConverged;
  } else if (best_termination == ceres::NO_CONVERGENCE) {
    result.end = FitEnd::kIterationLimit;
  } else {
    // The solver stopped on a failure after having improved the start: the best point
    // is kept, and its uncertainty below tells how far to trust it.
    result.end = FitEnd::kConverged;
    result.notes.push_back("Le solveur s'est arrêté : " + result.message);
  }

  // The Jacobian at the best point (a further batch unless the solver's last one was
  // there); after an interruption only an existing one is used.
  std::vector<double> r = best_residuals.r;
  if (!problem.HasJacobianAt(best_theta) && !problem.interrupted()) {
    std::vector<double> jac(static_cast<std::size_t>(problem.m()) * coords.size());
    std::vector<double> res(static_cast<std::size_t>(problem.m()));
    if (problem.Jacobian(best_theta.data(), res.data(), jac.data())) r = res;
  }
  Statistics st;
  std::vector<double> best_jacobian;
  if (problem.HasJacobianAt(best_theta)) {
    best_jacobian = problem.jacobian();
    st = ComputeStatistics(coords, best_theta, r, best_jacobian, blocks);
    result.statistics = true;
    result.parameters = st.parameters;
    result.correlation = st.correlation;
    result.reciprocal_condition = st.reciprocal_condition;
    result.warnings = st.warnings;
    result.interval_method = st.method;
    result.hac_window = st.window;
    result.autocorrelation_time = st.autocorrelation_time;
  } else {
    for (const Coordinate& c : coords) {
      FittedParameter p;
      p.gene = c.gene;
      p.value = result.genes[static_cast<std::size_t>(c.gene)];
      p.standard_error = kNaN;
      p.white_error = kNaN;
      p.lower95 = p.upper95 = kNaN;
      result.parameters.push_back(p);
    }
  }
  result.runs = problem.runs();
  result.diverged_trials = problem.diverged();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (!result.statistics || problem.interrupted()) return result;

  double best_sum = 0.0;
  for (double x : r) best_sum += x * x;
  // The bootstrap: each resample's refit from the best point, on residual blocks drawn
  // from (seed, resample) alone.
  if (options.bootstrap > 0) {
    const auto since = std::chrono::steady_clock::now();
    const long long runs_before = problem.runs();
    BootstrapSummary& b = result.bootstrap;
    b.requested = options.bootstrap;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      const int window = k < st.windows.size() ? st.windows[k] : 1;
      b.block_length.push_back(
          std::clamp(window, 1, std::max(static_cast<int>(blocks[k].instants / 2), 1)));
    }
    std::vector<Theta> refits;
    for (int k = 1; k <= options.bootstrap && !problem.interrupted(); ++k) {
      std::vector<double> shift = BlockResample(r, blocks, b.block_length, options.seed, k);
      for (std::size_t i = 0; i < shift.size(); ++i) shift[i] -= r[i];
      problem.SetShift(std::move(shift), best_theta, r, best_jacobian);
      Theta theta = best_theta;
      FitProgress base;
      base.start = result.best_start;
      base.starts = static_cast<int>(starts.size());
      base.resample = k;
      base.resamples = options.bootstrap;
      const int diverged_before = problem.diverged();
      const ceres::Solver::Summary summary = solve(theta, base, -1, kRefitTrustRegion);
      if (problem.interrupted()) break;
      if ((summary.termination_type == ceres::CONVERGENCE ||
           summary.termination_type == ceres::USER_SUCCESS) &&
          problem.HasBest()) {
        refits.push_back(problem.best_theta());
      } else if (problem.diverged() > diverged_before) {
        ++b.diverged;
      } else {
        ++b.not_converged;
      }
    }
    b.interrupted = problem.interrupted();
    problem.SetShift({}, best_theta, r, best_jacobian);
    b.used = static_cast<int>(refits.size());
    b.reliable = !b.interrupted && b.used >= kFewestBootstrapRefits &&
                 (b.diverged + b.not_converged) * 10 <= b.requested;
    for (std::size_t j = 0; j < coords.size() && !refits.empty(); ++j) {
      std::vector<double> thetas;
      double mean = 0.0;
      for (const Theta& t : refits) {
        thetas.push_back(t[j]);
        mean += coords[j].ToGene(t[j]);
      }
      mean /= static_cast<double>(refits.size());
      double var = 0.0;
      for (const Theta& t : refits) var += std::pow(coords[j].ToGene(t[j]) - mean, 2);
      ResampledParameter p;
      p.gene = coords[j].gene;
      p.lower95 = coords[j].ToGene(Percentile(thetas, 0.025));
      p.upper95 = coords[j].ToGene(Percentile(thetas, 0.975));
      p.standard_error =
          refits.size() > 1 ? std::sqrt(var / static_cast<double>(refits.size() - 1)) : kNaN;
      b.parameters.push_back(p);
    }
    b.runs = problem.runs() - runs_before;
    b.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  }

  // The profiles of the parameters correlated above 0.99 with another.
  if (options.profile && !problem.interrupted()) {
    const auto since = std::chrono::steady_clock::now();
    const long long runs_before = problem.runs();
    ProfileSummary& pr = result.profile;
    pr.asked = true;
    for (std::size_t j = 0; j < coords.size() && !problem.interrupted(); ++j) {
      bool correlated = false;
      for (std::size_t k = 0; k < coords.size(); ++k) {
        correlated =
            correlated || (k != j && std::fabs(result.correlation[j][k]) > kHighCorrelation);
      }
      if (!correlated) continue;
      ProfiledParameter pp;
      pp.gene = coords[j].gene;
      const double threshold = kChiSquare95 * st.variance_scale[j];
      const double first = std::isfinite(st.theta_error[j]) && st.theta_error[j] > 0.0
                               ? kZ95 * st.theta_error[j]
                               : kProfileFirstStep;
      for (const double side : {-1.0, 1.0}) {
        // The rise of the sum of squares with the parameter held at best + side delta,
        // the others refitted from `from` (updated to where they went); NaN when no
        // point of the refit could be simulated.
        auto rise = [&](double delta, Theta& from) {
          Theta theta = from;
          theta[j] = best_theta[j] + side * delta;
          FitProgress base;
          base.start = result.best_start;
          base.starts = static_cast<int>(starts.size());
          base.profiled = coords[j].gene;
          const ceres::Solver::Summary summary =
              solve(theta, base, static_cast<int>(j), kRefitTrustRegion);
          ++pp.refits;
          if (!problem.HasBest()) return kNaN;
          if (summary.termination_type == ceres::NO_CONVERGENCE) ++pp.unconverged;
          from = problem.best_theta();
          return 2.0 * problem.best_cost() - best_sum;
        };
        const double room =
            side < 0.0 ? best_theta[j] - coords[j].lower : coords[j].upper - best_theta[j];
        double lo = 0.0;
        double hi = kNaN;
        Theta lo_theta = best_theta;
        double delta = std::min(first, room);
        for (int d = 0; d <= kProfileDoublings && delta > 0.0; ++d) {
          Theta from = lo_theta;
          const double x = rise(delta, from);
          if (problem.interrupted() || std::isnan(x)) break;
          if (x >= threshold) {
            hi = delta;
            break;
          }
          lo = delta;
          lo_theta = from;
          if (delta >= room) break;
          delta = std::min(2.0 * delta, room);
        }
        // A load coefficient whose profile stays low down to 0 ends at its bound 0.
        const bool at_zero =
            std::isnan(hi) && coords[j].scale == Scale::kNonNegative && side < 0.0 && lo >= room;
        const bool open = std::isnan(hi) && !at_zero;
        for (int k = 0; k < kProfileBisections && !std::isnan(hi) && !problem.interrupted(); ++k) {
          const double mid = 0.5 * (lo + hi);
          Theta from = lo_theta;
          const double x = rise(mid, from);
          if (std::isnan(x) || x >= threshold) {
            hi = mid;
          } else {
            lo = mid;
            lo_theta = from;
          }
        }
        const double end = best_theta[j] + side * (open || at_zero ? lo : 0.5 * (lo + hi));
        (side < 0.0 ? pp.lower95 : pp.upper95) = coords[j].ToGene(end);
        (side < 0.0 ? pp.lower_open : pp.upper_open) = open;
      }
      pr.parameters.push_back(pp);
    }
    pr.interrupted = problem.interrupted();
    pr.runs = problem.runs() - runs_before;
    pr.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  }
  if (problem.interrupted()) result.end = FitEnd::kInterrupted;
  return result;
}

}  // namespace mas
