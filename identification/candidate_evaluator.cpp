#include "identification/candidate_evaluator.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
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
  // What the run wrote (nothing: not written), as carried between processes.
  const std::optional<double>& cost_reg() const { return cost_reg_; }
  const std::optional<double>& vqsref_max() const { return vqsref_max_; }
  void Set(std::optional<double> cost_reg, std::optional<double> vqsref_max) {
    cost_reg_ = cost_reg;
    vqsref_max_ = vqsref_max;
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

// The bytes that carry a batch's results between processes: fixed-size numbers in this
// machine's representation (every process of a job runs the same program on the same
// kind of machine) and length-prefixed strings. A reader that runs past the end throws.
class ByteWriter {
 public:
  template <class T>
  void Put(T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* p = reinterpret_cast<const char*>(&value);
    bytes_.append(p, sizeof value);
  }
  void PutText(std::string_view text) {
    Put<std::uint64_t>(text.size());
    bytes_.append(text);
  }
  void PutOptional(const std::optional<double>& value) {
    Put<std::uint8_t>(value ? 1 : 0);
    Put<double>(value.value_or(0.0));
  }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}
  template <class T>
  T Get() {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, Take(sizeof value).data(), sizeof value);
    return value;
  }
  std::string GetText() { return std::string(Take(Get<std::uint64_t>())); }
  std::optional<double> GetOptional() {
    const bool present = Get<std::uint8_t>() != 0;
    const double value = Get<double>();
    return present ? std::optional<double>(value) : std::nullopt;
  }
  bool AtEnd() const { return bytes_.empty(); }

 private:
  std::string_view Take(std::uint64_t n) {
    if (n > bytes_.size())
      throw std::runtime_error("Échange illisible entre les processus du calcul");
    const std::string_view part = bytes_.substr(0, static_cast<std::size_t>(n));
    bytes_.remove_prefix(static_cast<std::size_t>(n));
    return part;
  }
  std::string_view bytes_;
};

// The caller's platform for a run whose messages were already shown: it only passes
// Escape on.
class MutedPlatform final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void ShowMessage(std::string_view, std::string_view, MessageIcon) override {}
  void SetStatusText(std::string_view) override {}
  void SetProgress(int) override {}
  void SetWaitCursor(bool) override {}
  void StartProcess(const std::string&) override {}
};

// What one candidate gave on the process that scored it, as every process receives it.
struct CandidateRecord {
  CandidateScore score;
  bool failed = false;  // the scoring threw: `failure` says why
  std::string failure;
  SometimesWritten written;
  WorkerPlatform::Messages messages;
  std::vector<double> result;  // CandidateBatch::save_result
};

void PutRecord(ByteWriter& w, int index, const CandidateRecord& r) {
  w.Put<std::int32_t>(index);
  w.Put<double>(r.score.cost);
  w.Put<std::uint8_t>(r.score.refused ? 1 : 0);
  w.Put<std::uint8_t>(r.failed ? 1 : 0);
  w.PutText(r.failure);
  w.PutOptional(r.written.cost_reg());
  w.PutOptional(r.written.vqsref_max());
  w.Put<std::uint64_t>(r.messages.size());
  for (const auto& m : r.messages) {
    w.PutText(m.text);
    w.PutText(m.caption);
    w.Put<std::int32_t>(static_cast<std::int32_t>(m.icon));
  }
  w.Put<std::uint64_t>(r.result.size());
  for (double x : r.result) w.Put<double>(x);
}

CandidateRecord GetRecord(ByteReader& r) {
  CandidateRecord c;
  c.score.cost = r.Get<double>();
  c.score.refused = r.Get<std::uint8_t>() != 0;
  c.failed = r.Get<std::uint8_t>() != 0;
  c.failure = r.GetText();
  const std::optional<double> cost_reg = r.GetOptional();
  const std::optional<double> vqsref_max = r.GetOptional();
  c.written.Set(cost_reg, vqsref_max);
  const auto messages = r.Get<std::uint64_t>();
  for (std::uint64_t k = 0; k < messages; ++k) {
    std::string text = r.GetText();
    std::string caption = r.GetText();
    const auto icon = r.Get<std::int32_t>();
    if (icon < 0 || icon > static_cast<std::int32_t>(MessageIcon::kExclamation)) {
      throw std::runtime_error("Échange illisible entre les processus du calcul");
    }
    c.messages.push_back({std::move(text), std::move(caption), static_cast<MessageIcon>(icon)});
  }
  const auto values = r.Get<std::uint64_t>();
  for (std::uint64_t k = 0; k < values; ++k) c.result.push_back(r.Get<double>());
  return c;
}

std::string FailureText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Erreur inconnue pendant l'évaluation d'un candidat";
  }
}

// What scoring one candidate of a batch gave on this process.
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

// Scores candidates 0 .. runnable - 1 of `batch` on `threads` worker threads, each with
// its own copy of the study, and returns what each gave; candidates after the first one
// that ends the batch may be left unscored. The study and carried state right after the
// run are kept for the last candidate and for a candidate that ends the batch.
std::vector<Slot> ScoreSlots(const CandidateBatch& batch, int runnable, int threads,
                             const ScoreFunction& score, const SimulationSettings& s,
                             const CarriedState& carried, Platform& platform) {
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
          slot.score = score(own, own_carried, own_platform);
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

  const int workers = std::min(threads, runnable);
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
  return slots;
}

// The study and carried state that `slot`'s run left, the cage dump path and the record
// and tables of `s` and `carried` kept.
void TakeStateAfter(Slot& slot, SimulationSettings& s, CarriedState& carried) {
  std::string dump_path = s.cage.DumpPath();
  s = std::move(*slot.settings_after);
  s.cage.SetDumpPath(std::move(dump_path));
  RestoreWithoutRecord(carried, std::move(*slot.carried_after));
}

void FinishProgress(const SimulationSettings& s, Platform& platform) {
  if (s.DisplayProgressBar) {
    platform.SetStatusText("Fin de la simulation");
    platform.SetProgress(100);
  }
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

CandidateEvaluator::CandidateEvaluator(int threads, ScoreFunction score,
                                       BatchDistributor* distributor)
    : threads_(std::max(threads, 1)), score_(std::move(score)), distributor_(distributor) {}

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
  if (distributor_ != nullptr && distributor_->Ranks() > 1) {
    return EvaluateOverRanks(batch, runnable, s, carried, platform);
  }
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
  std::vector<Slot> slots = ScoreSlots(batch, runnable, threads_, score_, s, carried, platform);

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
  TakeStateAfter(final_slot, s, carried);
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
  FinishProgress(s, platform);
  return ev;
}

Evaluation CandidateEvaluator::EvaluateOverRanks(const CandidateBatch& batch, int runnable,
                                                 SimulationSettings& s, CarriedState& carried,
                                                 Platform& platform) const {
  BatchDistributor& ranks = *distributor_;
  if (runnable <= 1 || RunsDependOnPreviousRun(s)) {
    // Nothing to share: every process scores the batch itself, as alone.
    Evaluation ev;
    std::string failure;
    try {
      ev = EvaluateOneByOne(batch, runnable, s, carried, platform);
    } catch (...) {
      failure = FailureText(std::current_exception());
      if (failure.empty()) failure = "Erreur pendant l'évaluation d'un candidat";
    }
    // A failure on one process ends the batch on all, rather than leaving them waiting.
    ByteWriter w;
    w.PutText(failure);
    for (const std::string& bytes : ranks.AllGather(w.Take())) {
      ByteReader r(bytes);
      if (const std::string text = r.GetText(); !text.empty()) throw std::runtime_error(text);
    }
    return AgreeOverRanks(ev);
  }

  const int rank = ranks.Rank();
  const int size = ranks.Ranks();
  // This process's share: the candidates i with i mod P = rank, and the last runnable one.
  std::vector<int> share;
  for (int i = rank; i < runnable; i += size) share.push_back(i);
  if (share.empty() || share.back() != runnable - 1) share.push_back(runnable - 1);
  CandidateBatch mine;
  mine.count = static_cast<int>(share.size());
  mine.runnable = mine.count;
  mine.apply = [&](int k, SimulationSettings& study) {
    batch.apply(share[static_cast<std::size_t>(k)], study);
  };
  std::vector<Slot> slots;
  std::string setup_failure;
  try {
    slots = ScoreSlots(mine, mine.count, threads_, score_, s, carried, platform);
  } catch (...) {
    setup_failure = FailureText(std::current_exception());
    if (setup_failure.empty()) setup_failure = "Erreur pendant l'évaluation d'un candidat";
  }

  // Sent: the candidates of this process's own interleave up to the first that ends its
  // share (the others of its share are never needed: the batch ends there or before).
  ByteWriter w;
  w.PutText(setup_failure);
  std::vector<std::pair<int, CandidateRecord>> sent;
  for (std::size_t k = 0; k < slots.size(); ++k) {
    const int i = share[k];
    Slot& slot = slots[k];
    const bool ends = slot.error || EndsBatch(slot.score);
    if (i % size == rank) {
      CandidateRecord record;
      record.score = slot.score;
      record.failed = slot.error != nullptr;
      if (record.failed) record.failure = FailureText(slot.error);
      record.written = slot.written;
      record.messages = slot.messages;
      if (batch.save_result && !record.failed) record.result = batch.save_result(i);
      sent.emplace_back(i, std::move(record));
    }
    if (ends) break;
  }
  w.Put<std::uint64_t>(sent.size());
  for (const auto& [i, record] : sent) PutRecord(w, i, record);

  std::vector<std::optional<CandidateRecord>> records(static_cast<std::size_t>(runnable));
  for (const std::string& bytes : ranks.AllGather(w.Take())) {
    ByteReader r(bytes);
    if (const std::string failure = r.GetText(); !failure.empty()) {
      throw std::runtime_error(failure);
    }
    const auto count = r.Get<std::uint64_t>();
    for (std::uint64_t k = 0; k < count; ++k) {
      const auto i = r.Get<std::int32_t>();
      CandidateRecord record = GetRecord(r);
      if (i < 0 || i >= runnable) {
        throw std::runtime_error("Échange illisible entre les processus du calcul");
      }
      records[static_cast<std::size_t>(i)] = std::move(record);
    }
  }

  // The batch as the one-by-one order sees it: up to the first candidate that ends it.
  // Every candidate before it was scored by its owner, whose share ends there or later.
  int last = runnable - 1;
  for (int i = 0; i < runnable; ++i) {
    const std::optional<CandidateRecord>& record = records[static_cast<std::size_t>(i)];
    if (!record) throw std::logic_error("candidate missing from a distributed batch");
    if (record->failed || EndsBatch(record->score)) {
      last = i;
      break;
    }
  }
  const CandidateRecord& final_record = *records[static_cast<std::size_t>(last)];
  const auto local = std::find(share.begin(), share.end(), last);
  Slot* final_slot = nullptr;
  if (local != share.end()) {
    Slot& slot = slots[static_cast<std::size_t>(local - share.begin())];
    if (slot.settings_after && slot.carried_after) final_slot = &slot;
  }
  for (int i = 0; i <= last; ++i) {
    for (const auto& m : records[static_cast<std::size_t>(i)]->messages) {
      platform.ShowMessage(m.text, m.caption, m.icon);
    }
  }
  if (final_record.failed) {
    if (final_slot != nullptr && final_slot->error) std::rethrow_exception(final_slot->error);
    throw std::runtime_error(final_record.failure);
  }
  Evaluation ev;
  ev.parallel = true;
  for (int i = 0; i <= last; ++i) {
    ev.costs.push_back(records[static_cast<std::size_t>(i)]->score.cost);
  }

  // The study the one-by-one order leaves: the one after `last`, which every process
  // holds when `last` is the last runnable candidate or its own. Otherwise `last` ended
  // the batch on another process, refused or interrupted, and it is run again here with
  // its messages (already shown) muted: runs do not depend on one another, so a refused
  // run is refused the same way; an interrupted run stops where this process's stop
  // finds it (its state depends on when the stop came, alone as well).
  const double vqsref_max = s.VqsrefMax;
  const double cost_reg = carried.CostReg;
  if (final_slot != nullptr) {
    TakeStateAfter(*final_slot, s, carried);
  } else {
    std::string dump_path = s.cage.DumpPath();
    s.cage.SetDumpPath("");
    MutedPlatform muted(platform);
    batch.apply(last, s);
    score_(s, carried, muted);
    s.cage.SetDumpPath(std::move(dump_path));
  }
  s.VqsrefMax = vqsref_max;
  carried.CostReg = cost_reg;
  for (int i = 0; i <= last; ++i) {
    records[static_cast<std::size_t>(i)]->written.FoldInto(s, carried);
  }
  if (batch.load_result) {
    for (int i = 0; i <= last; ++i) {
      if (i % size != rank) batch.load_result(i, records[static_cast<std::size_t>(i)]->result);
    }
  }

  if (EndsBatch(final_record.score)) {
    ev.end = final_record.score.refused ? EvaluationEnd::kRefused : EvaluationEnd::kInterrupted;
    ev.stop_index = last;
  } else if (runnable < batch.count) {
    ev.end = EvaluationEnd::kTrZero;
    ev.stop_index = runnable;
  }
  FinishProgress(s, platform);
  return ev;
}

Evaluation CandidateEvaluator::AgreeOverRanks(const Evaluation& ev) const {
  ByteWriter w;
  w.Put<std::int32_t>(static_cast<std::int32_t>(ev.end));
  w.Put<std::int32_t>(ev.stop_index);
  w.Put<std::uint8_t>(ev.parallel ? 1 : 0);
  w.Put<std::uint64_t>(ev.costs.size());
  for (double c : ev.costs) w.Put<double>(c);
  // The earliest end wins (a complete batch ends after every candidate); ties go to the
  // lowest rank, so every process picks the same one.
  auto key = [](const Evaluation& e) {
    return e.end == EvaluationEnd::kComplete ? std::numeric_limits<int>::max() : e.stop_index;
  };
  std::optional<Evaluation> earliest;
  for (const std::string& bytes : distributor_->AllGather(w.Take())) {
    ByteReader r(bytes);
    Evaluation e;
    const auto end = r.Get<std::int32_t>();
    if (end < 0 || end > static_cast<std::int32_t>(EvaluationEnd::kRefused)) {
      throw std::runtime_error("Échange illisible entre les processus du calcul");
    }
    e.end = static_cast<EvaluationEnd>(end);
    e.stop_index = r.Get<std::int32_t>();
    e.parallel = r.Get<std::uint8_t>() != 0;
    const auto count = r.Get<std::uint64_t>();
    for (std::uint64_t k = 0; k < count; ++k) e.costs.push_back(r.Get<double>());
    if (!earliest || key(e) < key(*earliest)) earliest = std::move(e);
  }
  if (!earliest) return ev;
  return std::move(*earliest);
}

}  // namespace mas
