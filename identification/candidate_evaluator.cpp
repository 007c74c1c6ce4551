#include "identification/candidate_evaluator.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "engine/run_simulation.h"

namespace mas {
namespace {

// The platform a worker's runs see. Messages are kept per candidate and shown by the
// caller's thread in candidate order once the batch is over; Escape reads the flag that
// the caller's thread sets when it sees the real key; status and progress of individual
// runs are not shown (the caller shows the batch's progress instead).
class WorkerPlatform final : public Platform {
 public:
  using Messages = std::vector<RecordingPlatform::Message>;
  explicit WorkerPlatform(const std::atomic<bool>& escape) : escape_(escape) {}

  void CollectInto(Messages* messages) { messages_ = messages; }
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    if (messages_ != nullptr) messages_->push_back({std::string(text), std::string(caption), icon});
  }
  void SetStatusText(std::string_view) override {}
  void SetProgress(int) override {}
  void SetWaitCursor(bool) override {}
  bool EscapePressed() override { return escape_.load(std::memory_order_relaxed); }
  // Candidate runs never start the viewer.
  void StartProcess(const std::string&) override {}

 private:
  const std::atomic<bool>& escape_;
  Messages* messages_ = nullptr;
};

// The experimental record and tables: large, read-only during a batch, and the only
// members of the carried state that a snapshot leaves out.
template <class Visit>
void ForEachRecordArray(ExperimentalData& d, Visit&& visit) {
  visit(d.ExpTime);
  visit(d.ExpWm);
  visit(d.ExpIas);
  visit(d.ExpWmTable);
  visit(d.ExpIasTable);
  visit(d.ExpMaxIasTable);
}

// Everything of `c` but the record and tables (whatever else the carried state holds
// now or later is copied along).
CarriedState SnapshotWithoutRecord(CarriedState& c) {
  std::vector<std::vector<double>> arrays;
  arrays.reserve(6);
  ForEachRecordArray(c.experiment, [&](std::vector<double>& a) { arrays.push_back(std::move(a)); });
  CarriedState copy = c;
  std::size_t k = 0;
  ForEachRecordArray(c.experiment, [&](std::vector<double>& a) { a = std::move(arrays[k++]); });
  return copy;
}

// Replaces `c` by the snapshot, keeping c's own record and tables.
void RestoreWithoutRecord(CarriedState& c, CarriedState snapshot) {
  std::vector<std::vector<double>> arrays;
  arrays.reserve(6);
  ForEachRecordArray(c.experiment, [&](std::vector<double>& a) { arrays.push_back(std::move(a)); });
  c = std::move(snapshot);
  std::size_t k = 0;
  ForEachRecordArray(c.experiment, [&](std::vector<double>& a) { a = std::move(arrays[k++]); });
}

// Values that a candidate run writes on some runs only and never reads: the
// regulator-tuning cost (set to 1e50 by a diverged run and to -1 by an interrupted one)
// and, with "Vqsref Max libre", the q voltage limit (recomputed before each use). After
// one-by-one runs they hold what the last run that wrote them wrote, which a worker's own
// history cannot tell: each worker marks them before a run to see whether the run wrote
// them, and the batch folds the writes in candidate order.
class SometimesWritten {
 public:
  static constexpr std::uint64_t kUnwrittenBits = 0x7FF8DEADBEEF0001ULL;  // a quiet NaN

  void MarkBeforeRun(SimulationSettings& s, CarriedState& c) {
    c.CostReg = std::bit_cast<double>(kUnwrittenBits);
    if (s.VqsrefMaxFree) s.VqsrefMax = std::bit_cast<double>(kUnwrittenBits);
  }
  void ReadAfterRun(const SimulationSettings& s, const CarriedState& c) {
    cost_reg_ = Written(c.CostReg);
    vqsref_max_ = Written(s.VqsrefMax);
  }
  // Applies this candidate's writes over the values the runs before it left.
  void FoldInto(SimulationSettings& s, CarriedState& c) const {
    if (cost_reg_) c.CostReg = *cost_reg_;
    if (vqsref_max_) s.VqsrefMax = *vqsref_max_;
  }

 private:
  static std::optional<double> Written(double value) {
    if (std::bit_cast<std::uint64_t>(value) == kUnwrittenBits) return std::nullopt;
    return value;
  }
  std::optional<double> cost_reg_;
  std::optional<double> vqsref_max_;
};

bool EndsBatch(const CandidateScore& score) {
  return score.refused || score.cost == kInterruptedCost;
}

}  // namespace

CandidateScore SimulationScore(SimulationSettings& s, CarriedState& carried, Platform& platform) {
  // As EvaluateCost, but the run's outcome tells a refused run from a scored one. Candidate
  // runs write no output table: a table written by several workers at once would be
  // garbage, and a candidate's table says nothing the best candidate's run does not.
  carried.CostIdent = 0.0;
  const RunOutcome outcome =
      RunSimulation(s, carried, platform, nullptr, false, s.CostFunction == 0 ? 1 : 6);
  return ScoreOfRun(outcome, carried.CostIdent);
}

CandidateScore ScoreOfRun(const RunOutcome& outcome, double cost) {
  CandidateScore score;
  score.cost = cost;
  score.refused = outcome.status != RunStatus::kReachedEnd &&
                  outcome.status != RunStatus::kInterrupted &&
                  outcome.status != RunStatus::kDiverged;
  return score;
}

bool RunsDependOnPreviousRun(const SimulationSettings& s) {
  const int flux = s.Flux_typ;
  if (s.VectCtrl != 0 && (flux == static_cast<int>(FluxType::kIndirectStator) ||
                          flux == static_cast<int>(FluxType::kDirIndStator) ||
                          flux == static_cast<int>(FluxType::kSensorlessDirIndStator))) {
    return true;
  }
  if (s.SpecialModel) {
    // A fault event due within the run changes a resistance that the next run starts
    // from, unless the run resets them.
    auto any_due = [&](const Events4& times, const Indices4& index) {
      for (int i = 0; i < 4; ++i) {
        if (times[i] <= s.tf && index[i] >= 0 && index[i] < s.cage.Nr) return true;
      }
      return false;
    };
    if (!s.BarreInit && any_due(s.RbCasset, s.Rbn)) return true;
    if (!s.AnneauInit && any_due(s.ReCasset, s.Ren)) return true;
  }
  // The modulator keeps its last switching instants from one run to the next.
  return s.dsvPWM;
}

int MachineThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 1024u));
}

CandidateEvaluator::CandidateEvaluator(int threads, ScoreFunction score)
    : threads_(std::max(threads, 1)), score_(std::move(score)) {}

Evaluation CandidateEvaluator::Evaluate(std::span<const Genes> candidates, SimulationSettings& s,
                                        CarriedState& carried, Platform& platform) const {
  // Candidates from the first Tr = 0 on are never run.
  CandidateBatch batch;
  batch.count = static_cast<int>(candidates.size());
  batch.runnable = 0;
  while (batch.runnable < batch.count &&
         candidates[static_cast<std::size_t>(batch.runnable)][kGeneTr] != 0.0) {
    ++batch.runnable;
  }
  batch.apply = [candidates](int i, SimulationSettings& study) {
    MapGenesOntoMachine(candidates[static_cast<std::size_t>(i)], study);
  };
  return Evaluate(batch, s, carried, platform);
}

Evaluation CandidateEvaluator::Evaluate(const CandidateBatch& batch, SimulationSettings& s,
                                        CarriedState& carried, Platform& platform) const {
  const int runnable = std::clamp(batch.runnable, 0, batch.count);
  if (threads_ <= 1 || runnable <= 1 || RunsDependOnPreviousRun(s)) {
    return EvaluateOneByOne(batch, runnable, s, carried, platform);
  }
  return EvaluateInParallel(batch, runnable, s, carried, platform);
}

Evaluation CandidateEvaluator::EvaluateOneByOne(const CandidateBatch& batch, int runnable,
                                                SimulationSettings& s, CarriedState& carried,
                                                Platform& platform) const {
  Evaluation ev;
  for (int i = 0; i < batch.count; ++i) {
    if (i >= runnable) {
      ev.end = EvaluationEnd::kTrZero;
      ev.stop_index = i;
      return ev;
    }
    batch.apply(i, s);
    const CandidateScore score = score_(s, carried, platform);
    ev.costs.push_back(score.cost);
    if (EndsBatch(score)) {
      ev.end = score.refused ? EvaluationEnd::kRefused : EvaluationEnd::kInterrupted;
      ev.stop_index = i;
      return ev;
    }
  }
  return ev;
}

Evaluation CandidateEvaluator::EvaluateInParallel(const CandidateBatch& batch, int runnable,
                                                  SimulationSettings& s, CarriedState& carried,
                                                  Platform& platform) const {
  struct Slot {
    CandidateScore score;
    WorkerPlatform::Messages messages;
    std::exception_ptr error;
    // The study and carried state right after this candidate's run, kept for the
    // candidates that may be the last one the one-by-one order runs.
    std::optional<SimulationSettings> settings_after;
    std::optional<CarriedState> carried_after;
    SometimesWritten written;
  };
  std::vector<Slot> slots(static_cast<std::size_t>(runnable));
  std::atomic<int> next{0};
  std::atomic<int> stop_at{runnable};  // lowest candidate found to end the batch
  std::atomic<bool> escape{false};
  std::mutex mutex;
  std::condition_variable wake;
  int done = 0;      // candidates finished (guarded by mutex)
  int finished = 0;  // workers finished (guarded by mutex)
  std::exception_ptr setup_error;

  // A run polls Escape whatever its progress display (engine/run_simulation.h), so the
  // batch does too, and stops where the one-by-one order would.
  if (platform.EscapePressed()) escape.store(true);
  if (s.DisplayProgressBar) {
    platform.SetStatusText("Simulation en cours");
    platform.SetProgress(0);
  }

  auto lower_stop_to = [&stop_at](int i) {
    int current = stop_at.load();
    while (i < current && !stop_at.compare_exchange_weak(current, i)) {
    }
  };

  auto work = [&]() {
    try {
      // Each worker owns its study and carried state: nothing of a run is shared.
      SimulationSettings own = s;
      // Workers write no cage matrix dump: several runs would write the one file at once.
      own.cage.SetDumpPath("");
      CarriedState own_carried = carried;
      WorkerPlatform own_platform(escape);
      while (true) {
        const int i = next.fetch_add(1);
        if (i >= runnable || i > stop_at.load()) break;
        Slot& slot = slots[static_cast<std::size_t>(i)];
        own_platform.CollectInto(&slot.messages);
        bool ends = false;
        try {
          batch.apply(i, own);
          slot.written.MarkBeforeRun(own, own_carried);
          slot.score = score_(own, own_carried, own_platform);
          slot.written.ReadAfterRun(own, own_carried);
          ends = EndsBatch(slot.score);
        } catch (...) {
          slot.error = std::current_exception();
          ends = true;
        }
        own_platform.CollectInto(nullptr);
        if (ends || i == runnable - 1) {
          slot.settings_after = own;
          slot.carried_after = SnapshotWithoutRecord(own_carried);
        }
        if (ends) lower_stop_to(i);
        {
          std::lock_guard lock(mutex);
          ++done;
        }
        wake.notify_one();
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!setup_error) setup_error = std::current_exception();
      stop_at.store(-1);
    }
    {
      std::lock_guard lock(mutex);
      ++finished;
    }
    wake.notify_one();
  };

  const int workers = std::min(threads_, runnable);
  {
    std::vector<std::jthread> pool;
    pool.reserve(static_cast<std::size_t>(workers));
    for (int w = 0; w < workers; ++w) pool.emplace_back(work);

    int shown = 0;
    std::unique_lock lock(mutex);
    while (finished < workers) {
      wake.wait_for(lock, std::chrono::milliseconds(20));
      const int progress = done * 100 / runnable;
      lock.unlock();
      if (!escape.load() && platform.EscapePressed()) escape.store(true);
      if (s.DisplayProgressBar && progress > shown) {
        shown = progress;
        platform.SetProgress(progress);
      }
      lock.lock();
    }
  }  // the workers are joined here

  if (setup_error) std::rethrow_exception(setup_error);

  // The batch as the one-by-one order sees it: up to the first candidate that ends it.
  int last = runnable - 1;
  Evaluation ev;
  ev.parallel = true;
  for (int i = 0; i < runnable; ++i) {
    const Slot& slot = slots[static_cast<std::size_t>(i)];
    if (slot.error || EndsBatch(slot.score)) {
      last = i;
      break;
    }
  }
  for (int i = 0; i <= last; ++i) {
    for (const auto& m : slots[static_cast<std::size_t>(i)].messages) {
      platform.ShowMessage(m.text, m.caption, m.icon);
    }
  }
  Slot& final_slot = slots[static_cast<std::size_t>(last)];
  if (final_slot.error) std::rethrow_exception(final_slot.error);
  for (int i = 0; i <= last; ++i) ev.costs.push_back(slots[static_cast<std::size_t>(i)].score.cost);
  const double vqsref_max = s.VqsrefMax;
  const double cost_reg = carried.CostReg;
  std::string dump_path = s.cage.DumpPath();
  s = std::move(*final_slot.settings_after);
  s.cage.SetDumpPath(std::move(dump_path));
  RestoreWithoutRecord(carried, std::move(*final_slot.carried_after));
  s.VqsrefMax = vqsref_max;
  carried.CostReg = cost_reg;
  for (int i = 0; i <= last; ++i) slots[static_cast<std::size_t>(i)].written.FoldInto(s, carried);

  if (EndsBatch(final_slot.score)) {
    ev.end = final_slot.score.refused ? EvaluationEnd::kRefused : EvaluationEnd::kInterrupted;
    ev.stop_index = last;
  } else if (runnable < batch.count) {
    ev.end = EvaluationEnd::kTrZero;
    ev.stop_index = runnable;
  }
  if (s.DisplayProgressBar) {
    platform.SetStatusText("Fin de la simulation");
    platform.SetProgress(100);
  }
  return ev;
}

}  // namespace mas
