#include "identification/candidate_evaluator.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "files/parameter_file.h"
#include "identification/genetic_algorithm.h"
#include "identification/particle_swarm.h"
#include "identification/workbench.h"
#include "identification_fixture.h"

namespace mas {
namespace {

using testing::Bits;
using testing::ReadFile;
using testing::ScratchFolder;

// Everything of the study and carried state that candidate runs change, as bits.
std::vector<std::uint64_t> Fingerprint(const SimulationSettings& s, const CarriedState& c) {
  const DqMachineModel& m = s.dq;
  const ExperimentalData& d = c.experiment;
  std::vector<double> v = {m.Rs, m.Rr, m.Ls, m.Lr, m.M, m.J, m.a10, m.a20, m.a30, m.sigma};
  v.insert(v.end(), {m.Ts, m.Tr, m.RrAct, m.a1Act, m.a3Act, m.isAlpha(), m.isBeta(), m.w()});
  v.insert(v.end(), {m.PhisAlpha(), m.PhisBeta(), m.Valphas, m.Vbetas, s.cage.Rs, s.cage.J});
  v.insert(v.end(), {s.VqsrefMax, c.CostIdent, c.CostReg, c.ThetaDir, c.WsDir, d.MaxIas});
  v.insert(v.end(), {d.ExpWmInterp, d.ExpIasInterp, static_cast<double>(d.ExpCursor)});
  v.insert(v.end(), c.experiment.MaxIasWindow.begin(), c.experiment.MaxIasWindow.end());
  std::vector<std::uint64_t> bits;
  for (double x : v) bits.push_back(Bits(x));
  return bits;
}

// Everything a GA session leaves behind: population, fitnesses, generator, logs, the
// study and carried state, the messages and how each generation ended.
struct GaResult {
  std::vector<std::uint64_t> numbers;
  std::string history, population, study_file;
  std::vector<std::string> messages;
  std::vector<std::pair<EvaluationEnd, int>> ends;
  bool parallel = false;
};

using Tweak = std::function<void(GeneticIdentification&)>;

GaResult RunGa(const SimulationSettings& study, const CarriedState& carried_in, int threads,
               int generations, const ScoreFunction& score = SimulationScore,
               const Tweak& tweak = {}, int escape_after_polls = -1,
               BatchDistributor* distributor = nullptr) {
  ScratchFolder logs(distributor ? "_rank" + std::to_string(distributor->Rank()) : "");
  SimulationSettings s = study;
  CarriedState carried = carried_in;
  RecordingPlatform platform;
  platform.escape_after_polls = escape_after_polls;
  LcgRandom rng;
  GeneticIdentification ga(rng, logs.path());
  ga.Randomize(s.GenX, 2024, platform);
  if (tweak) tweak(ga);
  const CandidateEvaluator evaluator(threads, score, distributor);
  GaResult r;
  for (int n = 0; n < generations; ++n) {
    const GenerationReport report = ga.RunGeneration(s, carried, platform, evaluator);
    r.ends.emplace_back(report.end, report.evaluated);
    r.parallel = report.parallel;
  }
  for (const auto* population : {&ga.XOld, &ga.XNew}) {
    for (const Genes& g : *population) {
      for (double x : g) r.numbers.push_back(Bits(x));
    }
  }
  for (double f : ga.Fitness) r.numbers.push_back(Bits(f));
  r.numbers.insert(r.numbers.end(), ga.iOld.begin(), ga.iOld.end());
  r.numbers.insert(r.numbers.end(), {static_cast<std::uint64_t>(ga.Gen), rng.state()});
  const std::vector<std::uint64_t> left = Fingerprint(s, carried);
  r.numbers.insert(r.numbers.end(), left.begin(), left.end());
  r.history = ReadFile(logs.path() / "Histor.cpp");
  r.population = ReadFile(logs.path() / "debgen.cpp");
  WriteParameterFile(s, (logs.path() / "left.mas").string());
  r.study_file = ReadFile(logs.path() / "left.mas");
  for (const auto& m : platform.messages) r.messages.push_back(m.caption + ": " + m.text);
  return r;
}

void ExpectSame(const GaResult& one_by_one, const GaResult& parallel, const std::string& what) {
  EXPECT_EQ(one_by_one.numbers, parallel.numbers) << what;
  EXPECT_EQ(one_by_one.history, parallel.history) << what;
  EXPECT_EQ(one_by_one.population, parallel.population) << what;
  EXPECT_EQ(one_by_one.study_file, parallel.study_file) << what;
  EXPECT_EQ(one_by_one.messages, parallel.messages) << what;
  EXPECT_EQ(one_by_one.ends, parallel.ends) << what;
}

struct Study {
  std::string what;
  SimulationSettings s;
  CarriedState carried;
  bool parallel = true;  // runs independent of one another
};

std::vector<Study> Studies() {
  std::vector<Study> studies;
  {
    Study a{"open-loop start-up, Max de Ias", testing::StartUpStudy(0.06, 1e-4, 5), {}};
    // With the progress display, diverging candidates show their message.
    a.s.DisplayProgressBar = true;
    testing::MeasureAndBuildTables(a.s, a.carried);
    studies.push_back(a);
    Study b = a;
    b.what = "open-loop start-up, Ias";
    b.s.CostFunction = 0;
    studies.push_back(b);
    Study c = a;
    c.what = "runs longer than the tables";
    c.s.tf = 0.08;  // every candidate says once that it passed the tables' end
    studies.push_back(c);
  }
  // Vector control with PI loops: the machine the controller believes in is not the
  // candidate's.
  for (int flux : {0, 5}) {
    Study v{
        flux == 0 ? "vector control, indirect rotor flux" : "vector control, indirect stator flux",
        {},
        {}};
    v.s.ParamFileName = std::string(MAS_SOURCE_DIR) + "/examples/vector_control_pi.mas";
    RecordingPlatform quiet;
    ScratchFolder echo;
    ReadParameterFile(v.s, quiet, echo.File("rd_echo.dat"));
    v.s.tf = 0.05;
    v.s.dt = 5e-5;
    v.s.PushStep();
    v.s.OutStep = 10;
    v.s.Flux_typ = flux;
    v.s.GenX.fill(true);
    v.s.CreateOutputFile = false;
    v.s.DisplayProgressBar = false;
    testing::MeasureAndBuildTables(v.s, v.carried);
    v.parallel = flux == 0;
    studies.push_back(v);
    if (flux == 0) {
      // The q voltage limit recomputed at each step is left as the last run left it.
      Study free = v;
      free.what = "vector control, free q voltage limit";
      free.s.VqsrefMaxFree = true;
      studies.push_back(free);
    }
  }
  return studies;
}

// A few candidates with electrical time constants far below the step: their runs diverge.
const Tweak kStiff = [](GeneticIdentification& ga) {
  for (int i : {7, 8, 40, 54}) {
    ga.XOld[i][kGeneTs] = 0.0003;
    ga.XOld[i][kGeneSigma] = 0.01;
  }
};

TEST(CandidateEvaluator, ParallelGenerationsGiveExactlyTheOneByOneResults) {
  for (const Study& study : Studies()) {
    ASSERT_TRUE(study.s.ExpTableReady) << study.what;
    EXPECT_EQ(RunsDependOnPreviousRun(study.s), !study.parallel) << study.what;
    const GaResult reference = RunGa(study.s, study.carried, 1, 2, SimulationScore, kStiff);
    EXPECT_EQ(reference.ends[0].first, EvaluationEnd::kComplete) << study.what;
    // The stiff candidates diverge, and say so when the study displays progress.
    EXPECT_EQ(reference.messages.empty(), !study.s.DisplayProgressBar) << study.what;
    for (int threads : {2, 3}) {
      const GaResult parallel = RunGa(study.s, study.carried, threads, 2, SimulationScore, kStiff);
      EXPECT_EQ(parallel.parallel, study.parallel) << study.what;
      ExpectSame(reference, parallel, study.what + ", " + std::to_string(threads) + " threads");
    }
  }
}

TEST(CandidateEvaluator, TheFirstCandidateThatEndsTheBatchEndsItAsOneByOne) {
  const Study study = Studies()[0];
  // A marker candidate (its stator resistance) is interrupted or refused by the cost.
  const double marker = 0.7777;
  auto ending = [marker](bool refuse) {
    return [marker, refuse](SimulationSettings& s, CarriedState& c, Platform& p) {
      CandidateScore score = SimulationScore(s, c, p);
      if (s.dq.Rs == marker) {
        p.ShowMessage("fin du lot", "test", MessageIcon::kInformation);
        if (refuse) {
          score.refused = true;
        } else {
          score.cost = kInterruptedCost;
        }
      }
      return score;
    };
  };
  struct Case {
    const char* what;
    int index;
    bool tr_zero;
    bool refuse;
    EvaluationEnd end;
  };
  const Case cases[] = {
      {"Tr = 0 in the middle", 20, true, false, EvaluationEnd::kTrZero},
      {"Tr = 0 first", 0, true, false, EvaluationEnd::kTrZero},
      {"interrupted in the middle", 31, false, false, EvaluationEnd::kInterrupted},
      {"refused near the end", 53, false, true, EvaluationEnd::kRefused},
      {"interrupted last", 54, false, false, EvaluationEnd::kInterrupted},
  };
  for (const Case& c : cases) {
    const Tweak tweak = [&c, marker](GeneticIdentification& ga) {
      if (c.tr_zero) {
        ga.XOld[c.index][kGeneTr] = 0.0;
      } else {
        ga.XOld[c.index][kGeneRs] = marker;
      }
    };
    const ScoreFunction score = ending(c.refuse);
    const GaResult reference = RunGa(study.s, study.carried, 1, 1, score, tweak);
    EXPECT_EQ(reference.ends[0].first, c.end) << c.what;
    for (int threads : {2, 3}) {
      ExpectSame(reference, RunGa(study.s, study.carried, threads, 1, score, tweak),
                 std::string(c.what) + ", " + std::to_string(threads) + " threads");
    }
  }
}

TEST(CandidateEvaluator, EscapeInterruptsTheBatchAtItsFirstCandidate) {
  const Study study = Studies()[0];
  // Escape is already down when the generation starts: the first run stops at its first
  // poll, one by one or on every thread.
  const GaResult reference = RunGa(study.s, study.carried, 1, 1, SimulationScore, {}, 0);
  ASSERT_EQ(reference.ends[0], std::pair(EvaluationEnd::kInterrupted, 0));
  EXPECT_EQ(reference.messages.back(), std::string("Erreur: ") + kRunErrorMessage);
  ExpectSame(reference, RunGa(study.s, study.carried, 3, 1, SimulationScore, {}, 0), "escape");

  // Without the progress display a run still polls Escape, and so does the batch.
  SimulationSettings silent = study.s;
  silent.DisplayProgressBar = false;
  const GaResult silent_one = RunGa(silent, study.carried, 1, 1, SimulationScore, {}, 0);
  EXPECT_EQ(silent_one.ends[0], std::pair(EvaluationEnd::kInterrupted, 0));
  ExpectSame(silent_one, RunGa(silent, study.carried, 3, 1, SimulationScore, {}, 0), "silent");
}

TEST(CandidateEvaluator, ParallelEpochsGiveExactlyTheOneByOneSwarm) {
  const Study study = Studies()[0];
  auto run = [&](int threads) {
    ScratchFolder logs;
    SimulationSettings s = study.s;
    CarriedState carried = study.carried;
    RecordingPlatform platform;
    LcgRandom rng;
    ParticleSwarmIdentification pso(rng, logs.path());
    EXPECT_TRUE(pso.Allocate(7, 6, s.GenX, 77, platform));
    pso.UpdateWeights(0.5, 1.5, 0.7, 0.9);
    const CandidateEvaluator evaluator(threads);
    for (int n = 0; n < 3; ++n) pso.RunEpoch(s, carried, platform, evaluator);
    std::vector<std::uint64_t> bits;
    for (const auto* a : {&pso.X, &pso.V, &pso.pbest}) {
      for (const Genes& g : *a) {
        for (double x : g) bits.push_back(Bits(x));
      }
    }
    for (const auto* a : {&pso.Eval, &pso.pbestVal}) {
      for (double x : *a) bits.push_back(Bits(x));
    }
    bits.push_back(static_cast<std::uint64_t>(pso.gbesti));
    bits.push_back(rng.state());
    const std::vector<std::uint64_t> left = Fingerprint(s, carried);
    bits.insert(bits.end(), left.begin(), left.end());
    return std::tuple(bits, ReadFile(logs.path() / "outbest.dat"),
                      ReadFile(logs.path() / "outTracix.dat"), platform.messages.size());
  };
  const auto reference = run(1);
  EXPECT_EQ(run(2), reference);
  EXPECT_EQ(run(3), reference);
}

// The processes of a job played by threads of this process: AllGather meets at a
// barrier and hands every member the bytes of all.
class ThreadJob {
 public:
  explicit ThreadJob(int ranks) : pending_(static_cast<std::size_t>(ranks)) {
    for (int r = 0; r < ranks; ++r) members_.emplace_back(*this, r);
  }
  BatchDistributor& member(int rank) { return members_[static_cast<std::size_t>(rank)]; }
  int gathers() const { return rounds_; }

  // Runs `work(rank, distributor)` on one thread per rank and waits for all.
  template <class Work>
  void Run(Work work) {
    std::vector<std::jthread> ranks;
    for (int r = 0; r < static_cast<int>(members_.size()); ++r) {
      ranks.emplace_back([&work, this, r] { work(r, member(r)); });
    }
  }

 private:
  class Member final : public BatchDistributor {
   public:
    Member(ThreadJob& job, int rank) : job_(job), rank_(rank) {}
    int Rank() const override { return rank_; }
    int Ranks() const override { return static_cast<int>(job_.members_.size()); }
    std::vector<std::string> AllGather(std::string_view mine) override {
      return job_.Gather(rank_, mine);
    }

   private:
    ThreadJob& job_;
    int rank_;
  };

  std::vector<std::string> Gather(int rank, std::string_view mine) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return readers_ == 0; });  // the last round was read by all
    pending_[static_cast<std::size_t>(rank)] = std::string(mine);
    const int round = rounds_;
    if (++arrived_ == static_cast<int>(members_.size())) {
      gathered_ = pending_;
      arrived_ = 0;
      readers_ = static_cast<int>(members_.size());
      ++rounds_;
      wake_.notify_all();
    } else {
      wake_.wait(lock, [this, round] { return rounds_ != round; });
    }
    std::vector<std::string> all = gathered_;
    if (--readers_ == 0) wake_.notify_all();
    return all;
  }

  std::vector<Member> members_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> pending_, gathered_;
  int arrived_ = 0, readers_ = 0, rounds_ = 0;
};

// Every rank of a job runs the same GA; each must end as the one-by-one GA alone.
std::vector<GaResult> RunGaOnRanks(int ranks, const Study& study, int threads, int generations,
                                   const ScoreFunction& score, const Tweak& tweak,
                                   const std::vector<int>& escape_after_polls = {}) {
  ThreadJob job(ranks);
  std::vector<GaResult> results(static_cast<std::size_t>(ranks));
  job.Run([&](int rank, BatchDistributor& distributor) {
    const int escape =
        escape_after_polls.empty() ? -1 : escape_after_polls[static_cast<std::size_t>(rank)];
    results[static_cast<std::size_t>(rank)] =
        RunGa(study.s, study.carried, threads, generations, score, tweak, escape, &distributor);
  });
  return results;
}

TEST(CandidateEvaluator, GenerationsSharedByRanksGiveEveryRankTheOneByOneResults) {
  for (const Study& study : Studies()) {
    const GaResult reference = RunGa(study.s, study.carried, 1, 2, SimulationScore, kStiff);
    for (const auto& [ranks, threads] : {std::pair(2, 2), std::pair(3, 1)}) {
      const std::vector<GaResult> shared =
          RunGaOnRanks(ranks, study, threads, 2, SimulationScore, kStiff);
      for (int r = 0; r < ranks; ++r) {
        EXPECT_EQ(shared[static_cast<std::size_t>(r)].parallel, study.parallel) << study.what;
        ExpectSame(reference, shared[static_cast<std::size_t>(r)],
                   study.what + ", rank " + std::to_string(r) + " of " + std::to_string(ranks));
      }
    }
  }
}

TEST(CandidateEvaluator, TheCandidateThatEndsASharedBatchEndsItOnEveryRank) {
  const Study study = Studies()[0];
  const double marker = 0.7777;
  struct Case {
    const char* what;
    int index;
    bool tr_zero, refuse;
  };
  // Candidates owned by rank 0, 1 or 2 of three, the last runnable one (scored by every
  // rank) and one on a rank whose share ends later than the batch.
  const Case cases[] = {
      {"Tr = 0 in the middle", 20, true, false},   {"Tr = 0 first", 0, true, false},
      {"interrupted on rank 1", 31, false, false}, {"refused on rank 2", 53, false, true},
      {"interrupted last", 54, false, false},      {"refused first", 0, false, true},
  };
  for (const Case& c : cases) {
    const Tweak tweak = [&c, marker](GeneticIdentification& ga) {
      ga.XOld[c.index][c.tr_zero ? kGeneTr : kGeneRs] = c.tr_zero ? 0.0 : marker;
    };
    const ScoreFunction score = [&c, marker](SimulationSettings& s, CarriedState& carried,
                                             Platform& p) {
      CandidateScore result = SimulationScore(s, carried, p);
      if (s.dq.Rs == marker) {
        p.ShowMessage("fin du lot", "test", MessageIcon::kInformation);
        if (c.refuse) {
          result.refused = true;
        } else {
          result.cost = kInterruptedCost;
        }
      }
      return result;
    };
    const GaResult reference = RunGa(study.s, study.carried, 1, 1, score, tweak);
    for (int ranks : {2, 3}) {
      const std::vector<GaResult> shared = RunGaOnRanks(ranks, study, 2, 1, score, tweak);
      for (int r = 0; r < ranks; ++r) {
        ExpectSame(
            reference, shared[static_cast<std::size_t>(r)],
            std::string(c.what) + ", rank " + std::to_string(r) + " of " + std::to_string(ranks));
      }
    }
  }
}

TEST(CandidateEvaluator, AStopSeenByOneRankEndsTheBatchAtTheSameCandidateOnEveryRank) {
  const std::vector<Study> studies = Studies();
  struct Case {
    const char* what;
    std::size_t study;        // studies[5]: runs that depend on the run before them, so
                              // every rank scores every candidate
    std::vector<int> escape;  // per rank: polls before Escape reads as pressed, -1 never
  };
  const Case cases[] = {{"shared batch, stop on rank 1", 0, {-1, 0, -1}},
                        {"shared batch, stop on every rank", 0, {0, 0, 0}},
                        {"batch scored by every rank, stop on rank 2", 5, {-1, -1, 0}}};
  for (const Case& c : cases) {
    const Study& study = studies[c.study];
    ASSERT_EQ(study.parallel, c.study == 0) << c.what;
    const std::vector<GaResult> shared =
        RunGaOnRanks(3, study, 1, 2, SimulationScore, {}, c.escape);
    ASSERT_EQ(shared[0].ends.size(), 2u) << c.what;
    EXPECT_EQ(shared[0].ends[0].first, EvaluationEnd::kInterrupted) << c.what;
    for (int r = 1; r < 3; ++r) {
      EXPECT_EQ(shared[static_cast<std::size_t>(r)].ends, shared[0].ends) << c.what;
      EXPECT_EQ(shared[static_cast<std::size_t>(r)].messages, shared[0].messages) << c.what;
    }
  }
}

TEST(CandidateEvaluator, RunsThatCarryStateToTheNextRunAreRecognised) {
  struct Case {
    int vect, flux;          // VectCtrl, Flux_typ
    bool cage, bars, rings;  // SpecialModel, BarreInit, AnneauInit
    double bar_at, ring_at;  // times of a bar and of a ring fault (the run ends at 0.1 s)
    bool dsv, depends;
  };
  const Case cases[] = {
      {0, 0, false, false, false, 0.02, 0.02, false, false},  // open loop, dq model
      {1, 0, false, false, false, 100, 100, false, false},
      {0, 5, false, false, false, 100, 100, false, false},  // stator flux outside vector control
      {1, 4, false, false, false, 100, 100, false, false},
      {1, 5, false, false, false, 100, 100, false, true},
      {1, 9, false, false, false, 100, 100, false, true},
      {1, 10, false, false, false, 100, 100, false, true},
      {0, 0, true, true, true, 0.02, 0.02, false, false},  // faults reset at each run
      {0, 0, true, false, true, 0.02, 100, false, true},   // a broken bar kept
      {0, 0, true, true, false, 100, 0.02, false, true},   // a broken ring portion kept
      {0, 0, true, false, false, 5.0, 5.0, false, false},  // faults after the end of the run
      {0, 0, false, false, false, 100, 100, true, true},   // double SVPWM
  };
  for (const Case& c : cases) {
    SimulationSettings s = testing::StartUpStudy(0.1, 1e-4, 10);
    s.VectCtrl = c.vect;
    s.Flux_typ = c.flux;
    s.SpecialModel = c.cage;
    s.BarreInit = c.bars;
    s.AnneauInit = c.rings;
    s.cage.Nr = 28;
    s.RbCasset.fill(100.0);
    s.ReCasset.fill(100.0);
    s.RbCasset[1] = c.bar_at;
    s.ReCasset[2] = c.ring_at;
    s.dsvPWM = c.dsv;
    EXPECT_EQ(RunsDependOnPreviousRun(s), c.depends) << &c - cases;
  }
}

}  // namespace
}  // namespace mas
