#include "tuning/speed_regulator_tuning.h"

#include <algorithm>
#include <utility>

#include "engine/run_simulation.h"
#include "identification/genetic_operators.h"

namespace mas {
namespace {

// The table of a variant.
struct Variant {
  int population;
  int elite;           // individuals [0, elite) are copies of the best ones
  int group1_parents;  // [elite, 10): mutations of one of these best
  bool immigrants;     // [35, population): new random individuals, else the best with
                       // one gene mutated
  std::array<double, 3> random_step;  // gene = (r mod 1000) step + offset
  std::array<double, 3> random_offset;
};

constexpr Variant kIpVariant{45, 5, 5, true, {0.01, 0.001, 0.001}, {0.0001, 0.0001, 1.0}};
constexpr Variant kFuzzyVariant{55, 1, 10, false, {0.001, 0.001, 0.01}, {0.0001, 0.0001, 0.0001}};

constexpr int kBound2 = 10;
constexpr int kBound3 = 15;
constexpr int kBound4 = 25;
constexpr int kBound5 = 35;
constexpr double kAmp1 = 0.001;
constexpr double kAmp2 = 0.1;
constexpr double kAmp3 = 0.5;
constexpr double kAmp4 = 0.01;
constexpr double kRecoverAmp = 0.5;

const Variant& VariantOf(TunedRegulator kind) {
  return kind == TunedRegulator::kIP ? kIpVariant : kFuzzyVariant;
}

constexpr const char* kInterrupted = "Une erreur s'est produite\n Arret d'optimisation.";
constexpr const char* kHistoryHeader = "Gen°  Fitness  \tbest \tWeF \tWdeF \tWdUF\n";

// A mutated gene that is not positive takes the parent's value back.
double KeepPositive(double mutated, double parent) { return mutated > 0 ? mutated : parent; }

}  // namespace

void WriteRegulatorGenes(TunedRegulator kind, const RegulatorGenes& g, SimulationSettings& s) {
  if (kind == TunedRegulator::kIP) {
    s.KpW = g[0];
    s.KiW = g[1];
    s.TtW = g[2];
  } else {
    s.WFErr = g[0];
    s.WFdErr = g[1];
    s.WFdU = g[2];
  }
}

RegulatorGenes RegulatorGenesOf(TunedRegulator kind, const SimulationSettings& s) {
  if (kind == TunedRegulator::kIP) return {s.KpW, s.KiW, s.TtW};
  return {s.WFErr, s.WFdErr, s.WFdU};
}

std::string TuningRefusal(TunedRegulator kind, const SimulationSettings& s) {
  const bool speed_loop_mode =
      (s.VectCtrl != 0) + (s.DTC != 0) + (s.Vf != 0) == 1 && s.Courant == 0 && s.Statique == 0;
  if (!speed_loop_mode) {
    return "L'étude n'a pas de boucle de vitesse : choisissez le contrôle vectoriel, la DTC "
           "ou la commande V/f";
  }
  if (s.NTregI <= 0 || s.NTregW <= 0) {
    return "La boucle de vitesse de l'étude n'est jamais échantillonnée (NTregI et NTregW "
           "doivent être au moins 1)";
  }
  const bool ip = kind == TunedRegulator::kIP;
  const bool selected = ip ? s.WIP : s.WFlou;
  const bool overridden = s.WNN || s.W2DNFC || (ip && s.WFlou);
  if (!selected || overridden) {
    return ip ? "Le régulateur de vitesse de l'étude n'est pas le régulateur IP : "
                "sélectionnez-le (WIP) avant de l'ajuster"
              : "Le régulateur de vitesse de l'étude n'est pas le régulateur flou : "
                "sélectionnez-le (WFlou) avant de l'ajuster";
  }
  return {};
}

CandidateScore TuningScore(SimulationSettings& s, CarriedState& carried, Platform& platform) {
  // Candidate runs write no output table (see SimulationScore).
  carried.CostReg = 0.0;
  const RunOutcome outcome = RunSimulation(s, carried, platform, nullptr, false, 2);
  return ScoreOfRun(outcome, carried.CostReg);
}

SpeedRegulatorTuning::SpeedRegulatorTuning(TunedRegulator kind, LcgRandom& rng,
                                           const std::filesystem::path& log_folder)
    : kind_(kind),
      rng_(rng),
      history_(log_folder / kTuningHistoryFileName),
      population_(log_folder / kTuningPopulationFileName) {
  const int n = VariantOf(kind).population;
  XOld.assign(n, RegulatorGenes{});
  XNew.assign(n, RegulatorGenes{});
  Fitness.assign(n, 0.0);
  iOld.resize(n);
  for (int i = 0; i < n; ++i) iOld[i] = i;
}

RegulatorGenes SpeedRegulatorTuning::RandomIndividual() {
  const Variant& v = VariantOf(kind_);
  RegulatorGenes g{};
  for (int j = 0; j < 3; ++j) g[j] = (rng_.Next() % 1000) * v.random_step[j] + v.random_offset[j];
  return g;
}

void SpeedRegulatorTuning::Randomize(std::uint32_t seed, Platform& platform) {
  rng_.Randomize(seed);
  Gen = 0;
  BestFitness = 0.0;
  WorstFitness = 0.0;
  std::fill(Fitness.begin(), Fitness.end(), 0.0);
  if (kind_ == TunedRegulator::kFuzzy) {
    history_.Replace(kHistoryHeader, platform);
    for (int i = 0; i < NPop(); ++i) iOld[i] = i;
  }
  for (RegulatorGenes& g : XOld) g = RandomIndividual();
}

void SpeedRegulatorTuning::Recover(const SimulationSettings& s) {
  const RegulatorGenes current = RegulatorGenesOf(kind_, s);
  for (RegulatorGenes& g : XOld) {
    for (int j = 0; j < 3; ++j) {
      g[j] = KeepPositive(MutationFactor(rng_.Next(), kRecoverAmp) * current[j], current[j]);
    }
  }
}

TuningReport SpeedRegulatorTuning::RunGeneration(SimulationSettings& s, CarriedState& carried,
                                                 Platform& platform,
                                                 const CandidateEvaluator& evaluator) {
  ++Gen;
  TuningReport report;
  CandidateBatch batch;
  batch.count = NPop();
  batch.runnable = NPop();
  batch.apply = [this](int i, SimulationSettings& study) {
    WriteRegulatorGenes(kind_, XOld[static_cast<std::size_t>(i)], study);
  };
  const Evaluation ev = evaluator.Evaluate(batch, s, carried, platform);
  report.parallel = ev.parallel;
  report.end = ev.end;
  report.evaluated = ev.end == EvaluationEnd::kComplete ? NPop() : ev.stop_index;
  for (int i = 0; i < report.evaluated; ++i) Fitness[i] = FitnessOfCost(ev.costs[i]);
  if (ev.end == EvaluationEnd::kInterrupted) {
    platform.ShowMessage(kInterrupted, "Erreur", MessageIcon::kStop);
  }
  if (ev.end != EvaluationEnd::kComplete) return report;

  StableSortBestFirst(Fitness, [this](int i) {
    std::swap(XOld[i], XOld[i + 1]);
    std::swap(iOld[i], iOld[i + 1]);
  });
  BestFitness = Fitness.front();
  WorstFitness = Fitness.back();
  if (kind_ == TunedRegulator::kFuzzy) history_.Append(HistoryLine(), platform);
  BuildNextGeneration();
  const std::string population = PopulationLog();
  XOld = XNew;
  if (kind_ == TunedRegulator::kFuzzy) {
    for (int i = 0; i < NPop(); ++i) iOld[i] = i;
  }
  population_.Replace(population, platform);
  return report;
}

void SpeedRegulatorTuning::BuildNextGeneration() {
  const Variant& v = VariantOf(kind_);
  auto mutate = [this](int i, int parent, double amp) {
    for (int j = 0; j < 3; ++j) {
      const double p = XOld[parent][j];
      XNew[i][j] = KeepPositive(MutationFactor(rng_.Next(), amp) * p, p);
    }
  };
  for (int i = 0; i < v.elite; ++i) XNew[i] = XOld[i];
  for (int i = v.elite; i < kBound2; ++i) mutate(i, rng_.Next() % v.group1_parents, kAmp1);
  for (int i = kBound2; i < kBound3; ++i) mutate(i, rng_.Next() % kBound2, kAmp2);
  for (int i = kBound3; i < kBound4; ++i) {
    const int a = rng_.Next() % kBound3;
    const int b = rng_.Next() % kBound3;
    for (int j = 0; j < 3; ++j) XNew[i][j] = 0.5 * XOld[a][j] + 0.5 * XOld[b][j];
  }
  for (int i = kBound4; i < kBound5; ++i) mutate(i, rng_.Next() % kBound4, kAmp3);
  for (int i = kBound5; i < NPop(); ++i) {
    if (v.immigrants) {
      XNew[i] = RandomIndividual();
    } else {
      XNew[i] = XOld[0];
      const int k = rng_.Next() % 3;
      const double p = XOld[0][k];
      XNew[i][k] = KeepPositive(MutationFactor(rng_.Next(), kAmp4) * p, p);
    }
  }
}

std::string SpeedRegulatorTuning::HistoryLine() const {
  return GeneticHistoryLine(Gen, Fitness[0], iOld[0], XOld[0]);
}

std::string SpeedRegulatorTuning::PopulationLog() const {
  // "Gen° %d\n", the column captions, then
  // "%3d %12.5e \t%f \t%f \t\t%f \t%f \t\t%f \t%f\n" for each individual.
  std::string log = "Gen° ";
  AppendInt(log, Gen);
  log +=
      "\n  i  Fitness     \tXOld[0]    \tXNew[0]    \t\tXOld[1]    \tXNew[1]    \t\tXOld[2]    "
      "\tXNew[2]\n";
  for (int i = 0; i < NPop(); ++i) {
    AppendInt(log, i, 3);
    log += ' ';
    AppendExp(log, Fitness[i], 5, 12);
    for (int j = 0; j < 3; ++j) {
      log += j == 0 ? " \t" : " \t\t";
      AppendFixed(log, XOld[i][j]);
      log += " \t";
      AppendFixed(log, XNew[i][j]);
    }
    log += '\n';
  }
  return log;
}

}  // namespace mas
