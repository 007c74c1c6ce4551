#include "identification/genetic_algorithm.h"

#include <utility>

#include "identification/genetic_operators.h"
#include "identification/workbench.h"

namespace mas {
namespace {

constexpr const char* kHistoryHeader =
    "Gen°  Fitness  \tbest \tRs \tTs \tTr \tsigma \tJ \ta10 \ta20 \ta30\n";

// A mutated gene that is not positive, or a leakage coefficient of 1 or more, is not kept.
double KeepUsable(int gene, double mutated, double parent) {
  if (!(mutated > 0)) return parent;
  if (gene == kGeneSigma && mutated >= 1) return parent;
  return mutated;
}

}  // namespace

GeneticIdentification::GeneticIdentification(LcgRandom& rng,
                                             const std::filesystem::path& log_folder)
    : rng_(rng),
      history_(log_folder / kHistoryFileName),
      population_(log_folder / kPopulationFileName) {}

void GeneticIdentification::Randomize(const std::array<bool, NGenes>& GenX, std::uint32_t seed,
                                      Platform& platform) {
  rng_.Randomize(seed);
  Gen = 0;
  RestartHistory(platform);
  for (int i = 0; i < NPop; ++i) {
    iOld[i] = i;
    for (int j = 0; j < NGenes; ++j) {
      if (GenX[j]) XOld[i][j] = InitialGeneFromDraw(j, rng_.Next(), 0.01);
    }
  }
}

void GeneticIdentification::RestartHistory(Platform& platform) {
  history_.Replace(kHistoryHeader, platform);
}

bool GeneticIdentification::Initialise(int gen, const Genes& genes, SimulationSettings& s,
                                       Platform& platform) {
  // Ls / Tr gives no rotor resistance for Tr = 0.
  if (genes[kGeneTr] == 0.0) {
    platform.ShowMessage(kTrZeroGenetic, kCaptionError, MessageIcon::kStop);
    return false;
  }
  Gen = gen;
  for (int i = 0; i < NPop; ++i) {
    XOld[i] = genes;
    iOld[i] = i;
  }
  MapGenesOntoMachine(genes, s);
  return true;
}

GenerationReport GeneticIdentification::RunGeneration(SimulationSettings& s, CarriedState& carried,
                                                      Platform& platform,
                                                      const CandidateEvaluator& evaluator) {
  ++Gen;
  GenerationReport report;
  const Evaluation ev = evaluator.Evaluate(XOld, s, carried, platform);
  report.end = ev.end;
  report.parallel = ev.parallel;
  // The interrupted or refused individual has no fitness.
  const bool last_has_cost = ev.end == EvaluationEnd::kComplete || ev.end == EvaluationEnd::kTrZero;
  report.evaluated = static_cast<int>(ev.costs.size()) - (last_has_cost ? 0 : 1);
  for (int i = 0; i < report.evaluated; ++i) Fitness[i] = FitnessOfCost(ev.costs[i]);
  if (ev.end == EvaluationEnd::kTrZero) {
    platform.ShowMessage(kTrZeroGenetic, kCaptionError, MessageIcon::kStop);
    return report;
  }
  if (ev.end != EvaluationEnd::kComplete) {
    platform.ShowMessage(kRunErrorMessage, kCaptionError, MessageIcon::kStop);
    return report;
  }

  SortBestFirst();
  WorstFitness = Fitness[NPop - 1];
  BestFitness = Fitness[0];
  history_.Append(HistoryLine(), platform);
  BuildNextGeneration();
  const std::string population = PopulationLog(s.GenX);
  for (int i = 0; i < NPop; ++i) {
    iOld[i] = i;
    for (int j = 0; j < NGenes; ++j) {
      if (s.GenX[j]) XOld[i][j] = XNew[i][j];
    }
  }
  population_.Replace(population, platform);
  return report;
}

RunOutcome GeneticIdentification::SimulateBest(SimulationSettings& s, CarriedState& carried,
                                               Platform& platform, OutputSink* sink,
                                               bool launch_viewer) {
  return SimulateCandidate(XOld[0], kTrZeroGeneticSimulation, s, carried, platform, sink,
                           launch_viewer);
}

void GeneticIdentification::SortBestFirst() {
  StableSortBestFirst(Fitness, [this](int i) {
    std::swap(XOld[i], XOld[i + 1]);
    std::swap(iOld[i], iOld[i + 1]);
  });
}

void GeneticIdentification::BuildNextGeneration() {
  auto mutate = [this](int i, int parent, double amp) {
    for (int j = 0; j < NGenes; ++j) {
      const double p = XOld[parent][j];
      XNew[i][j] = KeepUsable(j, MutationFactor(rng_.Next(), amp) * p, p);
    }
  };
  XNew[0] = XOld[0];
  for (int i = Bound1; i < Bound2; ++i) mutate(i, rng_.Next() % Bound2, Amp1);
  for (int i = Bound2; i < Bound3; ++i) mutate(i, rng_.Next() % Bound2, Amp2);
  for (int i = Bound3; i < Bound4; ++i) {
    const int a = rng_.Next() % Bound3;
    const int b = rng_.Next() % Bound3;
    for (int j = 0; j < NGenes; ++j) XNew[i][j] = CrossW * XOld[a][j] + (1 - CrossW) * XOld[b][j];
  }
  for (int i = Bound4; i < Bound5; ++i) mutate(i, rng_.Next() % Bound4, Amp3);
  for (int i = Bound5; i < NPop; ++i) {
    XNew[i] = XOld[0];
    const int k = rng_.Next() % NGenes;
    const double p = XOld[0][k];
    XNew[i][k] = KeepUsable(k, MutationFactor(rng_.Next(), Amp4) * p, p);
  }
}

std::string GeneticIdentification::HistoryLine() const {
  return GeneticHistoryLine(Gen, Fitness[0], iOld[0], XOld[0]);
}

std::string GeneticIdentification::PopulationLog(const std::array<bool, NGenes>& GenX) const {
  std::string text = "Gen° ";
  AppendInt(text, Gen);
  text += "\n  i  Fitness     \t iOld ";
  for (int j = 0; j < NGenes; ++j) {
    text += "XOld[";
    AppendInt(text, j);
    text += "]    \tXNew[";
    AppendInt(text, j);
    text += "]    \t\t";
  }
  text += '\n';
  for (int i = 0; i < NPop; ++i) {
    // "%3d %12.5e \t%3d  " then "%f \t%f \t\t" for each optimised gene.
    AppendInt(text, i, 3);
    text += ' ';
    AppendExp(text, Fitness[i], 5, 12);
    text += " \t";
    AppendInt(text, iOld[i], 3);
    text += "  ";
    for (int j = 0; j < NGenes; ++j) {
      if (!GenX[j]) continue;
      AppendFixed(text, XOld[i][j]);
      text += " \t";
      AppendFixed(text, XNew[i][j]);
      text += " \t\t";
    }
    text += '\n';
  }
  return text;
}

}  // namespace mas
