#include "identification/particle_swarm.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>

#include "identification/workbench.h"

namespace mas {
namespace {

// Lower bounds of the positions: 0.001 for Rs, Ts, Tr, sigma, J; 0 for the loads.
constexpr double kLowerBoundMachine = 0.001;
constexpr double kSigmaMin = 0.005;
constexpr double kSigmaMax = 0.2;

}  // namespace

ParticleSwarmIdentification::ParticleSwarmIdentification(LcgRandom& rng,
                                                         const std::filesystem::path& log_folder)
    : rng_(rng),
      best_log_(log_folder / kBestLogName),
      trajectory_log_(log_folder / kTrajectoryLogName) {}

bool ParticleSwarmIdentification::Allocate(int n1, int n2, const std::array<bool, NGenes>& GenX,
                                           std::uint32_t seed, Platform& platform) {
  const long long total = static_cast<long long>(n1) + n2;
  if (n1 < 0 || n2 < 0 || total < 1 || total > kMaxParticles) {
    platform.ShowMessage(
        "Nombres de particules invalides : N1 et N2 doivent être positifs ou "
        "nuls, et N1 + N2 entre 1 et " +
            std::to_string(kMaxParticles),
        kCaptionError, MessageIcon::kStop);
    return false;
  }
  N1 = n1;
  N2 = n2;
  const auto p = static_cast<std::size_t>(total);
  X.assign(p, Genes{});
  V.assign(p, Genes{});
  pbest.assign(p, Genes{});
  Eval.assign(p, 0.0);
  pbestVal.assign(p, kNoBestCost);
  gbesti = -1;
  RandomizeSwarm(false, GenX, seed);
  logs_due_ = true;
  return true;
}

void ParticleSwarmIdentification::UpdateWeights(double p_increment, double g_increment,
                                                double w_refiners, double w_explorers) {
  pincrement = p_increment;
  gincrement = g_increment;
  w1 = w_refiners;
  w2 = w_explorers;
}

void ParticleSwarmIdentification::RandomizeSwarm(bool keep_gbest,
                                                 const std::array<bool, NGenes>& GenX,
                                                 std::uint32_t seed) {
  rng_.Randomize(seed);
  const int particles = Particles();
  if (particles == 0) return;
  const bool kept = keep_gbest && gbesti >= 0 && gbesti < particles;
  for (int i = 0; i < particles; ++i) {
    for (int d = 0; d < NGenes; ++d) {
      if (GenX[d]) X[i][d] = InitialGeneFromDraw(d, rng_.Next(), 0.005);
    }
    V[i].fill(0.0);
    if (!(kept && i == gbesti)) pbestVal[i] = kNoBestCost;
  }
  Epoch = 0;
  if (!keep_gbest || gbesti < 0 || gbesti >= particles) gbesti = 0;
  // The kept best keeps the position that earned its cost.
  if (!kept) pbest[gbesti] = X[gbesti];
}

bool ParticleSwarmIdentification::InitialiseSwarm(int epoch, const Genes& genes, bool keep_pbest,
                                                  SimulationSettings& s, Platform& platform) {
  if (genes[kGeneTr] == 0.0) {
    platform.ShowMessage(kTrZeroSwarm, kCaptionError, MessageIcon::kStop);
    return false;
  }
  Epoch = epoch;
  for (Genes& x : X) x = genes;
  if (!keep_pbest) std::fill(pbestVal.begin(), pbestVal.end(), kNoBestCost);
  MapGenesOntoMachine(genes, s);
  return true;
}

EpochReport ParticleSwarmIdentification::RunEpoch(SimulationSettings& s, CarriedState& carried,
                                                  Platform& platform,
                                                  const CandidateEvaluator& evaluator) {
  EpochReport report;
  if (Particles() == 0) return report;
  // The logs of a new swarm start with its first epoch.
  if (logs_due_) CreateLogs(s.GenX, platform);
  std::fill(Eval.begin(), Eval.end(), 0.0);
  const Evaluation ev = evaluator.Evaluate(X, s, carried, platform);
  report.end = ev.end;
  report.parallel = ev.parallel;
  double best = kGlobalBestSearchStart;
  for (std::size_t i = 0; i < ev.costs.size(); ++i) {
    Eval[i] = ev.costs[i];
    // The interrupted or refused particle keeps its best.
    if (static_cast<int>(i) == ev.stop_index) break;
    ++report.evaluated;
    if (Eval[i] < pbestVal[i]) {
      pbestVal[i] = Eval[i];
      pbest[i] = X[i];
    }
    if (pbestVal[i] < best) {
      best = pbestVal[i];
      gbesti = static_cast<int>(i);
    }
  }
  if (ev.end == EvaluationEnd::kTrZero) {
    platform.ShowMessage(kTrZeroSwarm, kCaptionError, MessageIcon::kStop);
  } else if (ev.end != EvaluationEnd::kComplete) {
    platform.ShowMessage(kRunErrorMessage, kCaptionError, MessageIcon::kStop);
  }
  LogEpoch(s.GenX, platform);
  MoveParticles(s.GenX);
  ++Epoch;
  return report;
}

void ParticleSwarmIdentification::MoveParticles(const std::array<bool, NGenes>& GenX) {
  const int particles = Particles();
  const Genes& global = pbest[static_cast<std::size_t>(gbesti)];
  // Velocities, refiners first then explorers.
  for (int i = 0; i < particles; ++i) {
    const double w = i < N1 ? w1 : w2;
    for (int k = 0; k < NGenes; ++k) {
      if (!GenX[k]) continue;
      const int r1 = rng_.Next() % 100;
      const int r2 = rng_.Next() % 1000;
      const int r3 = rng_.Next() % 1000;
      V[i][k] = (r1 * 0.002 - 0.1 + w) * V[i][k] +
                r2 * 0.001 * pincrement * (pbest[i][k] - X[i][k]) +
                r3 * 0.001 * gincrement * (global[k] - X[i][k]);
    }
  }
  // Positions and their bounds. The lower bounds hold for every dimension; the band of
  // sigma only when sigma is optimised.
  for (int i = 0; i < particles; ++i) {
    Genes& x = X[i];
    Genes& v = V[i];
    for (int j = 0; j < NGenes; ++j) {
      if (GenX[j]) x[j] += v[j];
    }
    for (int j = kGeneRs; j <= kGeneJ; ++j) {
      if (x[j] < kLowerBoundMachine) {
        x[j] = kLowerBoundMachine;
        v[j] = 0.0;
      }
    }
    for (int j = kGeneA10; j <= kGeneA30; ++j) {
      if (x[j] < 0.0) {
        x[j] = 0.0;
        v[j] = 0.0;
      }
    }
    if (GenX[kGeneSigma]) {
      if (x[kGeneSigma] < kSigmaMin) {
        x[kGeneSigma] = kSigmaMin;
        v[kGeneSigma] = 0.0;
      }
      if (x[kGeneSigma] > kSigmaMax) {
        x[kGeneSigma] = kSigmaMax;
        v[kGeneSigma] = 0.0;
      }
    }
  }
}

double ParticleSwarmIdentification::TimeEpoch(SimulationSettings& s, CarriedState& carried,
                                              Platform& platform,
                                              const CandidateEvaluator& evaluator) {
  const auto start = std::chrono::steady_clock::now();
  RunEpoch(s, carried, platform, evaluator);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  char buf[64];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, elapsed.count(), std::chars_format::scientific, 5);
  platform.ShowMessage(std::string(buf, r.ptr) + " s", "Temps de calcul",
                       MessageIcon::kInformation);
  return elapsed.count();
}

RunOutcome ParticleSwarmIdentification::SimulateGlobalBest(SimulationSettings& s,
                                                           CarriedState& carried,
                                                           Platform& platform, OutputSink* sink,
                                                           bool launch_viewer) {
  if (gbesti < 0 || gbesti >= Particles()) {
    RunOutcome none;
    none.message = "Aucun essaim : rien à simuler";
    none.caption = kCaptionError;
    platform.ShowMessage(none.message, none.caption, MessageIcon::kStop);
    return none;
  }
  return SimulateCandidate(pbest[static_cast<std::size_t>(gbesti)], kTrZeroSwarmSimulation, s,
                           carried, platform, sink, launch_viewer);
}

void ParticleSwarmIdentification::CreateLogs(const std::array<bool, NGenes>& GenX,
                                             Platform& platform) {
  std::string best = "Epoch \tEval \tgbest \t";
  for (int d = 0; d < NGenes; ++d) {
    if (GenX[d]) best += std::string(kGeneNames[d]) + " \t";
  }
  best += '\n';
  std::string trajectory = "Epoch \tEval \tgbest \t";
  for (int i = 0; i < Particles(); ++i) {
    for (int d = 0; d < NGenes; ++d) {
      if (!GenX[d]) continue;
      trajectory += "X[";
      AppendInt(trajectory, i);
      trajectory += "][" + std::string(kGeneNames[d]) + "] \t";
    }
    trajectory += '\t';
  }
  trajectory += '\n';
  best_log_.Replace(best, platform);
  trajectory_log_.Replace(trajectory, platform);
  logs_due_ = false;
}

void ParticleSwarmIdentification::LogEpoch(const std::array<bool, NGenes>& GenX,
                                           Platform& platform) {
  // "%d \t" Epoch, "%8e \t" gbest, "%d \t" gbesti, then "%f \t" per selected dimension.
  std::string head;
  AppendInt(head, Epoch);
  head += " \t";
  AppendExp(head, gbest(), 6, 8);
  head += " \t";
  AppendInt(head, gbesti);
  head += " \t";

  std::string best = head;
  for (int d = 0; d < NGenes; ++d) {
    if (!GenX[d]) continue;
    AppendFixed(best, pbest[static_cast<std::size_t>(gbesti)][d]);
    best += " \t";
  }
  best += '\n';
  std::string trajectory = head;
  for (const Genes& x : X) {
    for (int d = 0; d < NGenes; ++d) {
      if (!GenX[d]) continue;
      AppendFixed(trajectory, x[d]);
      trajectory += " \t";
    }
    trajectory += " \t";
  }
  trajectory += '\n';
  best_log_.Append(best, platform);
  trajectory_log_.Append(trajectory, platform);
}

}  // namespace mas
