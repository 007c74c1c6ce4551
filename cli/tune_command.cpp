#include "cli/tune_command.h"

#include <CLI/CLI.hpp>
#include <filesystem>

#include "cli/optimisation_ranks.h"
#include "files/number_format.h"
#include "files/parameter_file.h"
#include "identification/genetic_operators.h"

namespace mas {
namespace {

constexpr const char* kTuneExitHelp =
    "Codes de sortie :\n"
    "  0    les générations demandées ont été faites\n"
    "  1    l'étude ne peut être lue, l'étude ajustée ne peut être écrite ou est protégée\n"
    "       en écriture, ou un journal n'a pu être écrit (après le message ; les\n"
    "       résultats sont gardés)\n"
    "  2    erreur d'utilisation (option, --set, --save-best avec --generations 0)\n"
    "  3    étude refusée : pas de boucle de vitesse, régulateur d'un autre type, ou une\n"
    "       simulation refusée\n"
    "  130  interrompue par Ctrl-C\n"
    "Avec --mpi, seul le rang 0 écrit et affiche, et chaque rang finit avec le code du\n"
    "rang 0.\n";

std::string GenesText(const RegulatorGenes& g) {
  std::string text;
  for (double v : g) text += ' ' + FormatLeftG(v, 6, 0);
  return text;
}

}  // namespace

namespace {

// The checks of the request and the study, before the generations. The status of a
// failure, after its message.
std::optional<int> PrepareTuning(const TuneRequest& r, SimulationSettings& s, CliEnvironment& env,
                                 const OptimisationRanks& ranks) {
  // Without a generation nothing is scored: the "best" setting would be a random draw.
  if (r.save_best && r.generations == 0) {
    env.err << "Erreur d'utilisation : --save-best avec --generations 0 enregistrerait un "
               "réglage jamais simulé : demander au moins une génération\n";
    return kExitUsage;
  }
  // The target is rank 0's to write.
  if (r.save_best && ranks.root()) {
    if (const auto refused = RefuseProtectedTarget(*r.save_best, env.platform)) return *refused;
  }
  if (const auto failed = LoadStudy(r.study, r.overrides, s, env)) return failed;
  if (const std::string refusal = TuningRefusal(r.kind, s); !refusal.empty()) {
    env.platform.ShowMessage(refusal, "Erreur", MessageIcon::kStop);
    return kExitRefused;
  }
  return std::nullopt;
}

int TuneOnRanks(const TuneRequest& r, CliEnvironment& env, const OptimisationRanks& ranks) {
  SimulationSettings s;
  const std::optional<int> failed = PrepareTuning(r, s, env, ranks);
  if (const int status = ranks.Agree(failed.value_or(kExitSuccess), env); status != kExitSuccess) {
    return status;
  }

  const int threads = r.threads > 0 ? r.threads : MachineThreads();
  const CandidateEvaluator evaluator(threads, TuningScore, ranks.distributor());
  LcgRandom& rng = SharedRandom();
  SpeedRegulatorTuning tuning(r.kind, rng, ranks.LogFolder(r.log_folder));
  const std::uint32_t seed = ranks.SameSeed(r.seed ? *r.seed : CalendarSeconds());
  // A log that could not be written does not stop the tuning, but the command does not
  // report success: 1 once the results are printed and saved.
  WriteFailureWatch watch(env.platform);
  if (r.recover) {
    rng.Randomize(seed);
    tuning.Recover(s);
  } else {
    tuning.Randomize(seed, watch);
  }
  env.out << "Graine " << seed << ", " << threads << " fil" << (threads > 1 ? "s" : "")
          << (ranks.size() > 1 ? " par rang" : "") << ranks.Description() << ", " << tuning.NPop()
          << " individus" << (r.recover ? " autour des réglages de l'étude" : " tirés au hasard")
          << "\n"
          << std::flush;

  CarriedState carried;
  const bool ip = r.kind == TunedRegulator::kIP;
  env.out << "Gén.  Fitness max   " << (ip ? "KpW KiW TtW" : "WFErr WFdErr WFdU") << "\n";
  for (int g = 0; g < r.generations; ++g) {
    const TuningReport report = tuning.RunGeneration(s, carried, watch, evaluator);
    if (report.end == EvaluationEnd::kInterrupted) return kExitInterrupted;
    if (report.end != EvaluationEnd::kComplete) return kExitRefused;
    // The new individual 0 is the best of the generation, kept by elitism.
    env.out << tuning.Gen << "  " << FormatLeftG(tuning.BestFitness, 6, 12)
            << GenesText(tuning.XOld[0]) << "\n"
            << std::flush;
  }
  // Only rank 0 writes: the other ranks hold the same best setting.
  if (r.save_best && ranks.root()) {
    WriteRegulatorGenes(r.kind, tuning.XOld[0], s);
    try {
      WriteParameterFile(s, *r.save_best);
    } catch (const ParameterFileError& e) {
      env.platform.ShowMessage(e.what(), e.caption, MessageIcon::kStop);
      return kExitParameterFile;
    }
    env.out << "Étude ajustée : " << *r.save_best << "\n";
  }
  return watch.StatusAfter(kExitSuccess);
}

}  // namespace

int TuneCommand(const TuneRequest& r, CliEnvironment& env) {
  return RunOptimisation(r.mpi, env, [&r](CliEnvironment& e, const OptimisationRanks& ranks) {
    return TuneOnRanks(r, e, ranks);
  });
}

TuneSubcommand::TuneSubcommand(CLI::App& app) {
  tune_ = app.add_subcommand("tune",
                             "Ajuste par algorithme génétique le régulateur de vitesse IP (ip) ou "
                             "flou (fuzzy) de l'étude sur son propre scénario.");
  tune_->require_subcommand(1);
  tune_->footer(kTuneExitHelp);
  auto common = [](CLI::App* sub, TuneRequest& r, long long& seed, std::string& save) {
    sub->add_option("study", r.study, "Fichier d'étude (*.mas)")
        ->type_name("ETUDE.mas")
        ->required();
    sub->add_option("--set", r.overrides,
                    "Change un paramètre après la lecture de l'étude (répétable) : gWmF=1, "
                    "gIasF=5, Vf=1...")
        ->type_name("NOM=VALEUR")
        ->allow_extra_args(false);
    sub->add_option("--generations", r.generations, "Nombre de générations (défaut 10)")
        ->type_name("N")
        ->check(CLI::Range(0, 1000000));
    sub->add_option("--seed", seed, "Graine du générateur (défaut : l'heure, comme « Randomize »)")
        ->type_name("S")
        ->check(CLI::Range(0LL, 4294967295LL));
    sub->add_flag("--recover", r.recover,
                  "Population autour des réglages actuels de l'étude (« Récupérer »)");
    sub->add_option("--threads", r.threads, "Fils de calcul (défaut : un par cœur)")
        ->type_name("T")
        ->check(CLI::Range(1, 1024));
    sub->add_option("--save-best", save,
                    "Enregistre l'étude avec le meilleur réglage du régulateur de vitesse")
        ->type_name("SORTIE.mas");
    sub->add_option("--logs", r.log_folder, "Dossier des journaux (défaut : dossier courant)")
        ->type_name("DOSSIER");
    sub->add_flag("--mpi", r.mpi,
                  "Répartit les individus de chaque génération sur les rangs MPI "
                  "(mpirun -n N mas tune ... --mpi ; --threads : fils par rang)");
    sub->footer(kTuneExitHelp);
  };
  ip_ = tune_->add_subcommand("ip", "Régulateur IP : KpW, KiW, TtW (45 individus)");
  ip_request_.kind = TunedRegulator::kIP;
  common(ip_, ip_request_, ip_seed_, ip_save_);
  fuzzy_ = tune_->add_subcommand("fuzzy", "Régulateur flou : WFErr, WFdErr, WFdU (55 individus)");
  fuzzy_request_.kind = TunedRegulator::kFuzzy;
  common(fuzzy_, fuzzy_request_, fuzzy_seed_, fuzzy_save_);
}

bool TuneSubcommand::Selected() const { return tune_ != nullptr && tune_->parsed(); }

int TuneSubcommand::Run(CliEnvironment& env) {
  const bool ip = ip_->parsed();
  TuneRequest r = ip ? ip_request_ : fuzzy_request_;
  const long long seed = ip ? ip_seed_ : fuzzy_seed_;
  if (seed >= 0) r.seed = static_cast<std::uint32_t>(seed);
  const std::string& save = ip ? ip_save_ : fuzzy_save_;
  if (!save.empty()) r.save_best = save;
  return TuneCommand(r, env);
}

}  // namespace mas
