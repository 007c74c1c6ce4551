#include "fit/trajectory_residuals.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <mutex>
#include <utility>

#include "engine/experiment.h"
#include "engine/numeric.h"
#include "engine/run_simulation.h"

namespace mas {
namespace {

constexpr const char* kDivergedText = "La simulation a divergée";
// Record values beyond these are no measurement of a machine (tr/mn, A).
constexpr double kAberrantSpeed = 1e6;
constexpr double kAberrantCurrent = 1e6;
// First noise level of each signal, as a share of its measured range: the first pass
// leans on the speed (1 % against 3 % for the current), whose error is a smoother
// function of the parameters than the current's (from 30 % below every parameter, equal
// shares draw the fit into another valley); the reweighting then gives each signal its
// own noise level.
constexpr double kFirstNoiseShare = 0.01;
constexpr double kFirstCurrentShare = 0.03;
// Smallest noise level, as a share of the range, when the record shows no resolution.
constexpr double kNoiseFloorShare = 1e-6;

std::string Seconds(double t) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, t, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

// The run's own output hook: the run writes a "table line" at every recorded step, right
// after the identification cost has compared that step with the tables, and the sink
// reads the comparison there. ExpIndex counts the entries compared so far, so a step at
// which it did not move compared nothing (the run went past the end of the tables).
class ComparisonSink : public OutputSink {
 public:
  bool Open(const std::string&) override { return true; }
  void WriteHeader(const RunView&) override {}
  void WriteLine(const RunView& v) override {
    const int index = v.state.ExpIndex;
    if (index == last_index_) return;
    last_index_ = index;
    Compared(v, index - 1);
  }
  void Close() override {}
  // The comparison reads the measured speed and current and the tables only.
  bool ReadsEstimates(const SimulationSettings&) const override { return false; }

 protected:
  virtual void Compared(const RunView& v, int k) = 0;

 private:
  int last_index_ = 0;
};

// Records which table entry each comparison used and when.
class LayoutSink final : public ComparisonSink {
 public:
  std::vector<int> entries;
  std::vector<double> times;

 protected:
  void Compared(const RunView& v, int k) override {
    entries.push_back(k);
    times.push_back(v.state.t);
  }
};

// Writes the residuals of the compared instants of the layout.
class ResidualSink final : public ComparisonSink {
 public:
  ResidualSink(const ResidualLayout& layout, const std::vector<int>& slot_of_entry,
               TrajectoryResiduals& out)
      : layout_(layout), slot_of_entry_(slot_of_entry), out_(out) {
    out_.r.assign(static_cast<std::size_t>(layout.Count()), 0.0);
    current_offset_ = layout.speed_compared ? layout.Instants() : 0;
  }

  // Completes the residuals once the run is over.
  void Finish(const RunOutcome& outcome) {
    out_.diverged = outcome.status == RunStatus::kDiverged;
    out_.interrupted = outcome.status == RunStatus::kInterrupted;
    const bool finite =
        std::all_of(out_.r.begin(), out_.r.end(), [](double x) { return std::isfinite(x); });
    out_.complete = outcome.status == RunStatus::kReachedEnd && filled_ == layout_.Instants() &&
                    finite && std::isfinite(sum_w_) && std::isfinite(sum_i_);
    if (!out_.complete) {
      out_.r.clear();
      return;
    }
    const double n = std::max(layout_.Instants(), 1);
    out_.speed_rms = std::sqrt(sum_w_ / n);
    out_.current_rms = std::sqrt(sum_i_ / n);
  }

 protected:
  void Compared(const RunView& v, int k) override {
    if (k < 0 || k >= static_cast<int>(slot_of_entry_.size())) return;
    const int slot = slot_of_entry_[static_cast<std::size_t>(k)];
    if (slot < 0) return;
    const auto i = static_cast<std::size_t>(slot);
    const ExperimentalData& d = v.experiment;
    const auto kk = static_cast<std::size_t>(k);
    // The errors exactly as the cost forms them.
    const double ew = d.ExpWmTable[kk] - v.state.WmMeas * kRadSToRpm;
    const double ei =
        layout_.mode == 1 ? d.ExpIasTable[kk] - v.state.IasMeas : d.ExpMaxIasTable[kk] - d.MaxIas;
    if (layout_.speed_compared) out_.r[i] = layout_.speed_root[i] * ew;
    if (layout_.current_compared) {
      out_.r[static_cast<std::size_t>(current_offset_) + i] = layout_.current_root[i] * ei;
    }
    sum_w_ += ew * ew;
    sum_i_ += ei * ei;
    ++filled_;
  }

 private:
  const ResidualLayout& layout_;
  const std::vector<int>& slot_of_entry_;
  TrajectoryResiduals& out_;
  int current_offset_ = 0;
  int filled_ = 0;
  double sum_w_ = 0.0;
  double sum_i_ = 0.0;
};

// A run with a sink on every recorded step: the output table switched on from the first
// step for this run only (the sink writes no file), then the study's own settings back.
RunOutcome RunWithSink(SimulationSettings& s, CarriedState& carried, Platform& platform,
                       OutputSink& sink, RunMode mode) {
  struct Restore {
    SimulationSettings& s;
    bool create;
    double td0;
    ~Restore() {
      s.CreateOutputFile = create;
      s.td0 = td0;
    }
  } restore{s, s.CreateOutputFile, s.td0};
  s.CreateOutputFile = true;
  s.td0 = -std::numeric_limits<double>::infinity();
  carried.CostIdent = 0.0;
  return RunSimulation(s, carried, platform, &sink, false, mode);
}

// Range of a measured signal over the compared instants: max - min; a flat signal is
// measured by its magnitude, and a signal that is 0 throughout by 1.
double RangeOf(const std::vector<double>& table, const std::vector<int>& entries) {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  double magnitude = 0.0;
  for (int k : entries) {
    const double x = table[static_cast<std::size_t>(k)];
    lo = std::min(lo, x);
    hi = std::max(hi, x);
    magnitude = std::max(magnitude, std::fabs(x));
  }
  const double range = hi - lo;
  if (range > 0.0 && std::isfinite(range)) return range;
  return magnitude > 0.0 && std::isfinite(magnitude) ? magnitude : 1.0;
}

// Which study a candidate is being written into: the evaluator writes candidate i into
// a worker's study and then scores that same study, so the study's address names the
// candidate for the score.
class CandidateRegistry {
 public:
  void Assign(const SimulationSettings* s, int i) {
    std::lock_guard lock(mutex_);
    for (auto& [study, index] : current_) {
      if (study == s) {
        index = i;
        return;
      }
    }
    current_.emplace_back(s, i);
  }
  int Of(const SimulationSettings* s) const {
    std::lock_guard lock(mutex_);
    for (const auto& [study, index] : current_) {
      if (study == s) return index;
    }
    return -1;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<const SimulationSettings*, int>> current_;
};

// The front end's platform during a batch: a diverged trial is an ordinary outcome of the
// fit (a rejected step), not a message; the progress of individual runs is not shown
// (the fit reports per iteration); Escape and every other message go through.
class BatchPlatform final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    if (text != kDivergedText) ForwardingPlatform::ShowMessage(text, caption, icon);
  }
  void SetStatusText(std::string_view) override {}
  void SetProgress(int) override {}
  void SetWaitCursor(bool) override {}
  void StartProcess(const std::string&) override {}
};

// The resolution of a recorded signal: the smallest step between two of its distinct
// values (a quantised converter shows its quantum, a text file its last digit); 0 when
// the signal is constant.
double Resolution(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  double step = 0.0;
  for (std::size_t k = 1; k < values.size(); ++k) {
    const double d = values[k] - values[k - 1];
    if (d > 0.0 && (step == 0.0 || d < step)) step = d;
  }
  return step;
}

double NoiseFloor(const std::vector<double>& values, double range) {
  return std::max(Resolution(values) / std::sqrt(12.0), kNoiseFloorShare * range);
}

std::string RowText(std::size_t row) { return "ligne de données " + std::to_string(row + 1); }

LayoutResult MakeStateLayout(const SimulationSettings& s, const ExperimentalData& d,
                             int min_residuals) {
  LayoutResult result;
  ResidualLayout& layout = result.layout;
  layout.kind = ResidualKind::kMachineState;
  const auto rows = static_cast<std::size_t>(std::max(d.Rows(), 0));
  if (rows < 2) {
    result.status = LayoutStatus::kTablesNotReady;
    result.message = "Enregistrement vide ou d'une seule ligne : rien à comparer";
    return result;
  }
  for (std::size_t k = 0; k < rows; ++k) {
    const double t = d.ExpTime[k];
    const double w = d.ExpWm[k];
    const double i = d.ExpIas[k];
    std::string problem;
    if (!std::isfinite(t) || !std::isfinite(w) || !std::isfinite(i)) {
      problem = "valeur non finie (t = " + Seconds(t) + " s, vitesse " + Seconds(w) +
                " tr/mn, courant " + Seconds(i) + " A)";
    } else if (k > 0 && !(t > d.ExpTime[k - 1])) {
      problem = "temps " + Seconds(t) + " s non croissant (précédent " + Seconds(d.ExpTime[k - 1]) +
                " s)";
    } else if (std::fabs(w) > kAberrantSpeed || std::fabs(i) > kAberrantCurrent) {
      problem = "valeur aberrante (vitesse " + Seconds(w) + " tr/mn, courant " + Seconds(i) + " A)";
    }
    if (!problem.empty()) {
      result.status = LayoutStatus::kBadRecord;
      result.message = "Enregistrement inutilisable, " + RowText(k) + " : " + problem;
      return result;
    }
  }
  layout.record_first = d.ExpTime.front();
  layout.record_last = d.ExpTime[rows - 1];
  layout.speed_compared = s.gWmF > 0.0 && std::isfinite(s.gWmF);
  layout.current_compared = s.gIasF > 0.0 && std::isfinite(s.gIasF);
  for (std::size_t k = 0; k < rows; ++k) {
    const double t = d.ExpTime[k];
    if (t < s.t0 || t > s.tf) continue;
    layout.times.push_back(t);
    layout.measured_speed.push_back(d.ExpWm[k]);
    layout.measured_current.push_back(d.ExpIas[k]);
  }
  layout.instants_in_tables = static_cast<int>(rows);
  if (!layout.times.empty()) {
    std::vector<int> all(layout.times.size());
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = static_cast<int>(k);
    layout.speed_range = RangeOf(layout.measured_speed, all);
    layout.current_range = RangeOf(layout.measured_current, all);
    layout.speed_floor = NoiseFloor(layout.measured_speed, layout.speed_range);
    layout.current_floor = NoiseFloor(layout.measured_current, layout.current_range);
  }
  SetNoiseLevels(layout, kFirstNoiseShare * layout.speed_range,
                 kFirstCurrentShare * layout.current_range);
  if (layout.Count() <= min_residuals) {
    result.status = LayoutStatus::kTooFewInstants;
    result.message = "Trop peu d'instants comparés (" + std::to_string(layout.Count()) +
                     " résidus) pour ajuster " + std::to_string(min_residuals) +
                     " paramètres : enregistrement hors de [t0, tf], trop court, ou poids gWmF "
                     "et gIasF nuls";
    return result;
  }
  result.status = LayoutStatus::kReady;
  return result;
}

// The residuals of one run traced at the layout's instants.
void StateResiduals(const ResidualLayout& layout, const MachineTrace& trace,
                    const RunOutcome& outcome, TrajectoryResiduals& out) {
  out.diverged = outcome.status == RunStatus::kDiverged;
  out.interrupted = outcome.status == RunStatus::kInterrupted;
  out.complete = outcome.status == RunStatus::kReachedEnd && trace.Complete();
  if (!out.complete) return;
  const auto n = static_cast<std::size_t>(layout.Instants());
  out.r.assign(static_cast<std::size_t>(layout.Count()), 0.0);
  const std::size_t current_offset = layout.speed_compared ? n : 0;
  double sum_w = 0.0;
  double sum_i = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const double ew = layout.measured_speed[k] - trace.speed[k] * kRadSToRpm;
    const double ei = layout.measured_current[k] - trace.current[k];
    if (layout.speed_compared) out.r[k] = layout.speed_root[k] * ew;
    if (layout.current_compared) out.r[current_offset + k] = layout.current_root[k] * ei;
    sum_w += ew * ew;
    sum_i += ei * ei;
  }
  const bool finite =
      std::all_of(out.r.begin(), out.r.end(), [](double x) { return std::isfinite(x); });
  if (!finite || !std::isfinite(sum_w) || !std::isfinite(sum_i)) {
    out.complete = false;
    out.r.clear();
    return;
  }
  out.speed_rms = std::sqrt(sum_w / static_cast<double>(std::max<std::size_t>(n, 1)));
  out.current_rms = std::sqrt(sum_i / static_cast<double>(std::max<std::size_t>(n, 1)));
}

}  // namespace

void SetNoiseLevels(ResidualLayout& layout, double speed_noise, double current_noise) {
  layout.speed_noise = std::max(speed_noise, layout.speed_floor);
  layout.current_noise = std::max(current_noise, layout.current_floor);
  if (!(layout.speed_noise > 0.0) || !std::isfinite(layout.speed_noise)) layout.speed_noise = 1.0;
  if (!(layout.current_noise > 0.0) || !std::isfinite(layout.current_noise)) {
    layout.current_noise = 1.0;
  }
  const std::size_t n = layout.times.size();
  layout.speed_root.assign(n, layout.speed_compared ? 1.0 / layout.speed_noise : 0.0);
  layout.current_root.assign(n, layout.current_compared ? 1.0 / layout.current_noise : 0.0);
}

double TrajectoryResiduals::Cost() const {
  double sum = 0.0;
  for (double x : r) sum += x * x;
  return 0.5 * sum;
}

LayoutResult MakeResidualLayout(const Genes& g, const SimulationSettings& study,
                                const CarriedState& carried_in, int min_residuals,
                                ResidualKind kind) {
  if (kind == ResidualKind::kMachineState) {
    if (g[kGeneTr] == 0.0) {
      LayoutResult result;
      result.message = "Problème sur la constante Tr=0 : le jeu de départ n'a pas de machine";
      return result;
    }
    return MakeStateLayout(study, carried_in.experiment, min_residuals);
  }
  LayoutResult result;
  result.layout.kind = ResidualKind::kCost;
  ResidualLayout& layout = result.layout;
  const ExperimentalData& d0 = carried_in.experiment;
  if (!study.ExpTableReady || d0.ExpWmTable.empty() || d0.Rows() < 2) {
    result.status = LayoutStatus::kTablesNotReady;
    result.message = "Les tables expérimentales n'ont pas été créées pour ces paramètres temporels";
    return result;
  }
  if (g[kGeneTr] == 0.0) {
    result.message = "Problème sur la constante Tr=0 : le jeu de départ n'a pas de machine";
    return result;
  }
  SimulationSettings s = study;
  CarriedState carried = carried_in;
  s.DisplayProgressBar = false;
  MapGenesOntoMachine(g, s);
  layout.mode = s.CostFunction == 0 ? 1 : 6;
  LayoutSink sink;
  RecordingPlatform quiet;
  const RunOutcome outcome = RunWithSink(s, carried, quiet, sink, layout.mode);
  if (outcome.status != RunStatus::kReachedEnd) {
    result.message = outcome.status == RunStatus::kDiverged
                         ? "La simulation diverge avec le jeu de départ"
                         : "La simulation du jeu de départ n'a pas pu tourner : " +
                               (outcome.message.empty() ? std::string("refusée") : outcome.message);
    return result;
  }

  const ExperimentalData& d = carried.experiment;
  const auto rows = static_cast<std::size_t>(d.Rows());
  layout.record_first = d.ExpTime.front();
  layout.record_last = d.ExpTime[rows - 1];
  layout.instants_in_tables = static_cast<int>(d.ExpWmTable.size());
  const std::vector<double>& current_table = layout.mode == 1 ? d.ExpIasTable : d.ExpMaxIasTable;
  for (std::size_t i = 0; i < sink.entries.size(); ++i) {
    const double t = sink.times[i];
    const int k = sink.entries[i];
    // Inside the record (interpolation works on [first, last)) and inside both tables.
    if (t >= layout.record_first && t < layout.record_last && k >= 0 &&
        k < static_cast<int>(d.ExpWmTable.size()) && k < static_cast<int>(current_table.size())) {
      layout.table_index.push_back(k);
      layout.times.push_back(t);
    }
  }
  for (std::size_t i = 0; i < layout.table_index.size(); ++i) {
    const auto k = static_cast<std::size_t>(layout.table_index[i]);
    if (!std::isfinite(d.ExpWmTable[k]) || !std::isfinite(current_table[k])) {
      result.status = LayoutStatus::kTablesNotReady;
      result.message =
          "Valeur non finie dans les tables expérimentales à t = " + Seconds(layout.times[i]) +
          " s : recréez la table expérimentale";
      return result;
    }
  }
  layout.speed_compared = s.gWmF > 0.0 && std::isfinite(s.gWmF);
  layout.current_compared = s.gIasF > 0.0 && std::isfinite(s.gIasF);
  if (!layout.table_index.empty()) {
    layout.speed_range = RangeOf(d.ExpWmTable, layout.table_index);
    layout.current_range = RangeOf(current_table, layout.table_index);
  }
  for (double t : layout.times) {
    const double w = CostTimeWeight(s.gA, s.gt0, t);
    layout.speed_root.push_back(layout.speed_compared ? std::sqrt(s.gWmF * w) / layout.speed_range
                                                      : 0.0);
    layout.current_root.push_back(
        layout.current_compared ? std::sqrt(s.gIasF * w) / layout.current_range : 0.0);
  }
  if (layout.Count() <= min_residuals) {
    result.status = LayoutStatus::kTooFewInstants;
    result.message = "Trop peu d'instants comparés (" + std::to_string(layout.Count()) +
                     " résidus) pour ajuster " + std::to_string(min_residuals) +
                     " paramètres : enregistrement trop court, ou poids gWmF et gIasF nuls";
    return result;
  }
  result.status = LayoutStatus::kReady;
  return result;
}

ResidualEvaluator::ResidualEvaluator(const SimulationSettings& s, const CarriedState& carried,
                                     ResidualLayout layout, int threads,
                                     BatchDistributor* distributor)
    : study_(s),
      carried_(carried),
      layout_(std::move(layout)),
      threads_(std::max(threads, 1)),
      distributor_(distributor) {
  // The runs poll Escape (a run polls it only while it displays progress); the batch's
  // platform keeps the progress of each run off the screen.
  study_.DisplayProgressBar = true;
}

std::vector<TrajectoryResiduals> ResidualEvaluator::Evaluate(std::span<const Genes> sets,
                                                             Platform& platform) {
  std::vector<TrajectoryResiduals> results(sets.size());
  if (sets.empty()) return results;
  std::vector<int> slot_of_entry(layout_.kind == ResidualKind::kCost
                                     ? static_cast<std::size_t>(layout_.instants_in_tables)
                                     : 0,
                                 -1);
  for (int i = 0; layout_.kind == ResidualKind::kCost && i < layout_.Instants(); ++i) {
    const int k = layout_.table_index[static_cast<std::size_t>(i)];
    if (k >= 0 && k < layout_.instants_in_tables) slot_of_entry[static_cast<std::size_t>(k)] = i;
  }

  CandidateRegistry registry;
  CandidateBatch batch;
  batch.count = static_cast<int>(sets.size());
  batch.runnable = 0;
  while (batch.runnable < batch.count &&
         sets[static_cast<std::size_t>(batch.runnable)][kGeneTr] != 0.0) {
    ++batch.runnable;
  }
  batch.apply = [&](int i, SimulationSettings& s) {
    registry.Assign(&s, i);
    MapGenesOntoMachine(sets[static_cast<std::size_t>(i)], s);
  };
  const RunMode mode = layout_.mode;
  auto score = [&](SimulationSettings& s, CarriedState& c, Platform& p) {
    const int i = registry.Of(&s);
    if (i < 0) return CandidateScore{0.0, true};  // never: every scored study was assigned
    TrajectoryResiduals& out = results[static_cast<std::size_t>(i)];
    if (layout_.kind == ResidualKind::kMachineState) {
      MachineTrace trace;
      trace.instants = layout_.times;
      trace.Prepare();
      const RunOutcome outcome = RunSimulation(s, c, p, 0, trace);
      StateResiduals(layout_, trace, outcome, out);
      // The score of the batch: whether the set ran, and -1 for a stopped one as the
      // identification cost marks it (the residuals say the rest).
      return ScoreOfRun(outcome, outcome.status == RunStatus::kInterrupted ? -1.0
                                 : out.complete                            ? out.Cost()
                                                                           : 0.0);
    }
    ResidualSink sink(layout_, slot_of_entry, out);
    const RunOutcome outcome = RunWithSink(s, c, p, sink, mode);
    sink.Finish(outcome);
    return ScoreOfRun(outcome, c.CostIdent);
  };
  // Over several processes the residuals of a set travel from the process that ran it:
  // the flags, the two rms and the residuals.
  batch.save_result = [&results](int i) {
    const TrajectoryResiduals& x = results[static_cast<std::size_t>(i)];
    std::vector<double> v = {x.complete ? 1.0 : 0.0, x.diverged ? 1.0 : 0.0,
                             x.interrupted ? 1.0 : 0.0, x.speed_rms, x.current_rms};
    v.insert(v.end(), x.r.begin(), x.r.end());
    return v;
  };
  batch.load_result = [&results](int i, std::span<const double> v) {
    TrajectoryResiduals& x = results[static_cast<std::size_t>(i)];
    x = TrajectoryResiduals{};
    if (v.size() < 5) return;
    x.complete = v[0] != 0.0;
    x.diverged = v[1] != 0.0;
    x.interrupted = v[2] != 0.0;
    x.speed_rms = v[3];
    x.current_rms = v[4];
    x.r.assign(v.begin() + 5, v.end());
  };
  const CandidateEvaluator evaluator(threads_, score, distributor_);
  SimulationSettings s = study_;
  CarriedState carried = carried_;
  BatchPlatform batch_platform(platform);
  const Evaluation ev = evaluator.Evaluate(batch, s, carried, batch_platform);
  runs_ += static_cast<long long>(ev.costs.size());
  // Sets after the end of the batch were never run, or their runs are discarded.
  if (ev.end != EvaluationEnd::kComplete) {
    for (std::size_t i = static_cast<std::size_t>(std::max(ev.stop_index, 0)) + 1;
         i < results.size(); ++i) {
      results[i] = TrajectoryResiduals{};
    }
    if (ev.end == EvaluationEnd::kTrZero && ev.stop_index >= 0) {
      results[static_cast<std::size_t>(ev.stop_index)] = TrajectoryResiduals{};
    }
    // The set where the batch was interrupted is interrupted, whatever its run saw (over
    // several processes the stop may have reached some of them only).
    if (ev.end == EvaluationEnd::kInterrupted && ev.stop_index >= 0) {
      TrajectoryResiduals& x = results[static_cast<std::size_t>(ev.stop_index)];
      x = TrajectoryResiduals{};
      x.interrupted = true;
    }
  }
  return results;
}

}  // namespace mas
