#include "cli/identify_command.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <exception>
#include <string_view>
#include <system_error>

#include "cli/optimisation_ranks.h"
#include "cli/table_format_option.h"
#include "engine/run_simulation.h"
#include "files/number_format.h"
#include "files/output_recorder.h"
#include "files/parameter_file.h"
#include "files/settings_override.h"
#include "identification/candidate_evaluator.h"
#include "identification/experimental_file.h"
#include "identification/genetic_algorithm.h"
#include "identification/particle_swarm.h"
#include "identification/random.h"
#include "identification/workbench.h"

namespace mas {
namespace {

constexpr const char* kIdentifyExitHelp =
    "Codes de sortie :\n"
    "  0    les générations (époques) demandées ont tourné ; --save-best a été écrit\n"
    "  1    l'étude ou le fichier expérimental ne peut être lu, l'étude de --save-best\n"
    "       ne peut être écrite ou est protégée en écriture, ou un journal n'a pu être\n"
    "       écrit (après le message ; les résultats sont gardés)\n"
    "  2    erreur d'utilisation : option ou argument invalide, --save-best avec 0\n"
    "       génération (époque) (rien n'est lancé ni écrit)\n"
    "  3    refus : tables expérimentales impossibles à créer sur cette base de temps,\n"
    "       --init avec Tr = 0, simulation d'un candidat refusée, candidat avec Tr = 0\n"
    "  4    la simulation qui crée les tables expérimentales a divergé\n"
    "  130  interrompue par Ctrl-C : l'optimisation s'arrête à la génération (époque) en\n"
    "       cours, les journaux sont gardés et --save-best enregistre le meilleur jeu trouvé\n"
    "Les journaux (Histor.cpp et debgen.cpp, ou outbest.dat et outTracix.dat) sont écrits\n"
    "dans le dossier courant (ou --logs) : créés au départ, puis Histor.cpp, outbest.dat\n"
    "et outTracix.dat sont complétés sur place à chaque génération (époque) et debgen.cpp\n"
    "est remplacé entier. Le fichier expérimental ExpNom est cherché à côté de l'étude,\n"
    "puis depuis le dossier courant ; --exp est pris depuis le dossier courant.\n"
    "Avec --mpi, seul le rang 0 écrit et affiche, et chaque rang finit avec le code du\n"
    "rang 0.\n"
    "Relevé de démarrage mesuré (ExpNom ou --exp) : un texte dont la première ligne nomme\n"
    "les colonnes (noms séparés par des espaces ou des tabulations, 894 caractères au\n"
    "plus), suivie des nombres séparés par des blancs, point décimal, forme décimale ou\n"
    "exponentielle, autant par ligne que de noms. La colonne 0 est le temps (s), positif\n"
    "ou nul et strictement croissant ; les colonnes ExpWmCol et ExpIasCol (comptées depuis\n"
    "0) sont la vitesse (tr/mn) et le courant d'une phase (A). Un mot qui n'est pas un\n"
    "nombre fini (« 1,5 », « nan ») refuse le relevé en nommant sa ligne et sa colonne ;\n"
    "2 Gio au plus. Exemple : examples/dem1.dat\n"
    "  t(s) Vas(V) Ibs(A) N(tr/mn) Ias(A)\n"
    "  0.0000 327.2 0.03125 0.12 -0.06250\n"
    "  0.0002 322.0 -2.81250 -0.57 5.56250\n"
    "Un relevé .csv (virgules ; ou points-virgules, avec la virgule décimale) ou .mat\n"
    "(MATLAB, un vecteur par colonne) est lu aussi, choisi par l'extension ; --columns\n"
    "nomme ses colonnes. Exemple : examples/dem1_logger.csv\n";

constexpr const char* kDivergedText = "La simulation a divergée";

std::string GenesText(const Genes& g) {
  std::string s;
  for (int j = 0; j < NGenes; ++j) {
    s += "  ";
    s += kGeneNames[j];
    s += ' ';
    s += FormatG(g[j]);
  }
  return s;
}

// The front end's view of the candidates' messages: a diverged candidate is an ordinary
// (very bad) score, so its message is counted and shown in the generation's line rather
// than once per candidate; everything else goes through.
class CountingPlatform final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    if (text == kDivergedText) {
      ++diverged_;
      return;
    }
    ForwardingPlatform::ShowMessage(text, caption, icon);
  }
  int TakeDiverged() { return std::exchange(diverged_, 0); }

 private:
  int diverged_ = 0;
};

std::string DivergedNote(int diverged) {
  return diverged > 0
             ? "  (" + std::to_string(diverged) + " divergé" + (diverged > 1 ? "s" : "") + ")"
             : "";
}

int StatusOfEnd(EvaluationEnd end) {
  switch (end) {
    case EvaluationEnd::kComplete:
      return kExitSuccess;
    case EvaluationEnd::kInterrupted:
      return kExitInterrupted;
    case EvaluationEnd::kTrZero:
    case EvaluationEnd::kRefused:
      return kExitRefused;
  }
  return kExitRefused;
}

std::optional<int> Prepare(const IdentifyRequest& r, SimulationSettings& s, CarriedState& carried,
                           CliEnvironment& env) {
  return PrepareIdentification(r.study, r.overrides, r.experiment, s, carried, env, true,
                               r.columns);
}

// --save-best and --simulate-best with the best parameter set.
int Finish(const IdentifyRequest& r, const Genes& best, int status, SimulationSettings& s,
           CarriedState& carried, CliEnvironment& env, const OptimisationRanks& ranks) {
  env.out << "Meilleur jeu :" << GenesText(best) << "\n" << std::flush;
  // Only rank 0 writes: the other ranks hold the same best set.
  if (!ranks.root()) return status;
  const char* tr_zero = r.method == IdentifyRequest::Method::kGenetic ? kTrZeroGeneticSimulation
                                                                      : kTrZeroSwarmSimulation;
  if (r.save_best) {
    if (best[kGeneTr] == 0.0) {
      env.platform.ShowMessage(tr_zero, kCaptionError, MessageIcon::kStop);
      return kExitRefused;
    }
    SimulationSettings saved = s;
    MapGenesOntoMachine(best, saved);
    try {
      WriteParameterFile(saved, *r.save_best);
    } catch (const ParameterFileError& e) {
      env.platform.ShowMessage(e.what(), e.caption, MessageIcon::kStop);
      return kExitParameterFile;
    }
    env.out << "Étude enregistrée : " << *r.save_best << "\n";
  }
  if (r.simulate_best && status == kExitSuccess) {
    OutputRecorder recorder;
    recorder.SetFormat(r.table_format);
    s.OutFileName = TablePathFor(s.OutFileName, r.table_format);
    const RunOutcome run =
        SimulateCandidate(best, tr_zero, s, carried, env.platform, &recorder, false);
    if (run.status != RunStatus::kReachedEnd) return ExitStatusFor(run.status);
    env.out << "Simulation du meilleur jeu : " << s.OutFileName << "\n";
  }
  return status;
}

int RunGenetic(const IdentifyRequest& r, SimulationSettings& s, CarriedState& carried,
               const CandidateEvaluator& evaluator, std::uint32_t seed, CountingPlatform& platform,
               CliEnvironment& env, const OptimisationRanks& ranks) {
  GeneticIdentification ga(SharedRandom(), ranks.LogFolder(r.log_folder));
  if (r.init) {
    // The population from one vector; the generator is seeded as "Randomize" would.
    SharedRandom().Randomize(seed);
    ga.RestartHistory(platform);
    if (!ga.Initialise(0, *r.init, s, platform)) return kExitRefused;
  } else {
    ga.Randomize(s.GenX, seed, platform);
  }
  int status = kExitSuccess;
  for (int n = 0; n < r.iterations; ++n) {
    if (!TablesReadyForIdentification(s, platform)) return kExitRefused;
    const GenerationReport report = ga.RunGeneration(s, carried, platform, evaluator);
    const int diverged = platform.TakeDiverged();
    if (report.end != EvaluationEnd::kComplete) {
      status = StatusOfEnd(report.end);
      break;
    }
    env.out << "génération " << ga.Gen << "  fitness " << FormatG(ga.BestFitness) << "  coût "
            << FormatG(1 / ga.BestFitness) << GenesText(ga.XOld[0]) << DivergedNote(diverged)
            << "\n"
            << std::flush;
    // Ctrl-C also stops between two generations, whether or not the runs poll it (on
    // every rank when one of them saw it).
    if (ranks.AnyStop(platform.EscapePressed())) {
      status = kExitInterrupted;
      break;
    }
  }
  return Finish(r, ga.XOld[0], status, s, carried, env, ranks);
}

int RunSwarm(const IdentifyRequest& r, SimulationSettings& s, CarriedState& carried,
             const CandidateEvaluator& evaluator, std::uint32_t seed, CountingPlatform& platform,
             CliEnvironment& env, const OptimisationRanks& ranks) {
  ParticleSwarmIdentification pso(SharedRandom(), ranks.LogFolder(r.log_folder));
  pso.UpdateWeights(r.pincrement, r.gincrement, r.w1, r.w2);
  if (!pso.Allocate(r.n1, r.n2, s.GenX, seed, platform)) return kExitUsage;
  if (r.init) {
    // The guess as the swarm's global best: every particle scores it once, then the swarm
    // is drawn again over the whole search range keeping that best (position and cost),
    // so that the particles fly towards it from everywhere. The logs start after it.
    if (!pso.InitialiseSwarm(0, *r.init, false, s, platform)) return kExitRefused;
    const EpochReport report = pso.RunEpoch(s, carried, platform, evaluator);
    platform.TakeDiverged();
    env.out << "départ  gbest " << FormatG(pso.gbest()) << GenesText(*r.init) << "\n" << std::flush;
    if (report.end != EvaluationEnd::kComplete) {
      return Finish(r, pso.pbest[static_cast<std::size_t>(pso.gbesti)], StatusOfEnd(report.end), s,
                    carried, env, ranks);
    }
    pso.RandomizeSwarm(true, s.GenX, seed + 1);
    pso.CreateLogs(s.GenX, platform);
  }
  int status = kExitSuccess;
  for (int n = 0; n < r.iterations; ++n) {
    if (!TablesReadyForIdentification(s, platform)) return kExitRefused;
    const int epoch = pso.Epoch;
    const EpochReport report = pso.RunEpoch(s, carried, platform, evaluator);
    const int diverged = platform.TakeDiverged();
    env.out << "époque " << epoch << "  gbest " << FormatG(pso.gbest()) << " (particule "
            << pso.gbesti << ")" << GenesText(pso.pbest[static_cast<std::size_t>(pso.gbesti)])
            << DivergedNote(diverged) << "\n"
            << std::flush;
    if (report.end != EvaluationEnd::kComplete) {
      status = StatusOfEnd(report.end);
      break;
    }
    if (ranks.AnyStop(platform.EscapePressed())) {
      status = kExitInterrupted;
      break;
    }
  }
  return Finish(r, pso.pbest[static_cast<std::size_t>(pso.gbesti)], status, s, carried, env, ranks);
}

}  // namespace

std::optional<int> PrepareIdentification(const std::string& study,
                                         const std::vector<std::string>& override_texts,
                                         const std::optional<std::string>& experiment,
                                         SimulationSettings& s, CarriedState& carried,
                                         CliEnvironment& env, bool build_tables,
                                         const RecordColumnNames& columns) {
  // Every --set is checked before anything is read, so that a typing error costs nothing.
  if (const auto failed = LoadStudy(study, override_texts, s, env)) return failed;
  const std::vector<Override> overrides = ParseOverrides(override_texts);  // already checked
  if (experiment) s.ExpNom = *experiment;
  const ExperimentalReadResult read = ReadExperimentalFile(
      s, carried.experiment, env.platform,
      experiment ? RecordLookup::kAsNamed : RecordLookup::kBesideStudyFirst, columns);
  if (!read.usable()) return kExitParameterFile;
  // The reading marks every gene as optimised; the genes held on the command line stay held.
  std::vector<Override> genes;
  for (const Override& o : overrides) {
    if (o.name.rfind("GenX", 0) == 0) genes.push_back(o);
  }
  ApplyOverrides(s, genes);
  env.out << "Fichier expérimental : " << read.path << " (" << read.complete_rows << " lignes)\n";
  if (!build_tables) return std::nullopt;
  return BuildAnnouncedTables(s, carried, env.platform, env.out);
}

std::optional<int> BuildAnnouncedTables(SimulationSettings& s, CarriedState& carried,
                                        Platform& platform, std::ostream& out) {
  const RunOutcome tables = BuildExperimentalTables(s, carried, platform, nullptr);
  if (!s.ExpTableReady) {
    if (tables.status == RunStatus::kDiverged) return kExitDiverged;
    if (tables.status == RunStatus::kInterrupted) return kExitInterrupted;
    return kExitRefused;
  }
  out << "Tables expérimentales : " << carried.experiment.ExpWmTable.size()
      << " pas enregistrés de " << s.tf - s.t0 << " s\n"
      << std::flush;
  return std::nullopt;
}

std::optional<std::array<double, 8>> ParseGeneVector(const std::string& text) {
  std::array<double, 8> genes{};
  std::string_view rest(text);
  for (int j = 0; j < 8; ++j) {
    const std::size_t comma = rest.find(',');
    if ((comma == std::string_view::npos) != (j == 7)) return std::nullopt;
    std::string_view word = rest.substr(0, comma);
    if (word.size() > 1 && word[0] == '+') word.remove_prefix(1);
    const char* last = word.data() + word.size();
    const auto res = std::from_chars(word.data(), last, genes[static_cast<std::size_t>(j)]);
    if (word.empty() || res.ec != std::errc() || res.ptr != last ||
        !std::isfinite(genes[static_cast<std::size_t>(j)])) {
      return std::nullopt;
    }
    if (comma != std::string_view::npos) rest.remove_prefix(comma + 1);
  }
  return genes;
}

namespace {

// What comes before the generations: the checks of the request, then the study, the
// record and the tables. The status of a failure, after its message.
std::optional<int> PrepareRun(const IdentifyRequest& r, SimulationSettings& s,
                              CarriedState& carried, CliEnvironment& env,
                              const OptimisationRanks& ranks) {
  const bool genetic = r.method == IdentifyRequest::Method::kGenetic;
  // Without a generation nothing is scored: the "best" set would be a random draw.
  if (r.save_best && r.iterations == 0) {
    env.err << "Erreur d'utilisation : --save-best avec "
            << (genetic ? "--generations" : "--epochs")
            << " 0 enregistrerait un jeu jamais simulé : demander au moins une "
            << (genetic ? "génération" : "époque") << "\n";
    return kExitUsage;
  }
  // The target is rank 0's to write.
  if (r.save_best && ranks.root()) {
    if (const auto refused = RefuseProtectedTarget(*r.save_best, env.platform)) return *refused;
  }
  if (const auto failed = Prepare(r, s, carried, env)) return failed;
  // The best set's table never replaces the study or the record it was identified on.
  if (r.simulate_best && ranks.root() && s.CreateOutputFile) {
    const CommandInput inputs[] = {
        {r.study, "l'étude lue", true},
        {ExperimentalFilePath(
             s, r.experiment ? RecordLookup::kAsNamed : RecordLookup::kBesideStudyFirst),
         "le fichier expérimental lu", false}};
    const OutputRefusal refusal = RefuseOutput(TablePathFor(s.OutFileName, r.table_format), inputs);
    if (refusal) {
      env.platform.ShowMessage(refusal.message, "Erreur", MessageIcon::kStop);
      return kExitParameterFile;
    }
  }
  return std::nullopt;
}

int IdentifyOnRanks(const IdentifyRequest& r, CliEnvironment& env, const OptimisationRanks& ranks) {
  SimulationSettings s;
  CarriedState carried;
  const std::optional<int> failed = PrepareRun(r, s, carried, env, ranks);
  if (const int status = ranks.Agree(failed.value_or(kExitSuccess), env); status != kExitSuccess) {
    return status;
  }

  const int threads = r.threads > 0 ? r.threads : MachineThreads();
  const CandidateEvaluator evaluator(threads, SimulationScore, ranks.distributor());
  const std::uint32_t seed = ranks.SameSeed(r.seed ? *r.seed : CalendarSeconds());
  env.out << "Graine " << seed << ", " << threads << " fil" << (threads > 1 ? "s" : "")
          << (ranks.size() > 1 ? " par rang" : "") << ranks.Description()
          << ((threads > 1 || ranks.size() > 1) && RunsDependOnPreviousRun(s)
                  ? " (chaque simulation dépend de la précédente : candidats évalués un par un)"
                  : "")
          << "\n"
          << std::flush;
  // A log that could not be written does not stop the optimisation, but the command does
  // not report success: 1 once the results are printed and saved.
  WriteFailureWatch watch(env.platform);
  CountingPlatform platform(watch);
  const int status = r.method == IdentifyRequest::Method::kGenetic
                         ? RunGenetic(r, s, carried, evaluator, seed, platform, env, ranks)
                         : RunSwarm(r, s, carried, evaluator, seed, platform, env, ranks);
  return watch.StatusAfter(status);
}

}  // namespace

int IdentifyCommand(const IdentifyRequest& r, CliEnvironment& env) {
  return RunOptimisation(r.mpi, env, [&r](CliEnvironment& e, const OptimisationRanks& ranks) {
    return IdentifyOnRanks(r, e, ranks);
  });
}

IdentifySubcommand::IdentifySubcommand(CLI::App& app) {
  identify_ = app.add_subcommand(
      "identify",
      "Identifie les huit paramètres de la machine (Rs, Ts, Tr, sigma, J, a10, a20, a30) sur "
      "un démarrage mesuré, par algorithme génétique (ga), essaim particulaire (pso) ou "
      "ajustement de la trajectoire par moindres carrés (fit ; ses codes de sortie : "
      "mas identify fit --help).");
  identify_->require_subcommand(1);
  identify_->footer(kIdentifyExitHelp);

  auto common = [](CLI::App* sub, IdentifyRequest& r, std::string& experiment, std::string& save,
                   long long& seed) {
    sub->add_option("study", r.study, "Fichier d'étude (*.mas)")
        ->type_name("ETUDE.mas")
        ->required();
    sub->add_option("--set", r.overrides,
                    "Change un paramètre après la lecture de l'étude (répétable) : gA=200, "
                    "gt0=0.03, CostFunction=0, GenX.a10=0 (gène tenu)...")
        ->type_name("NOM=VALEUR")
        ->allow_extra_args(false);
    sub->add_option("--exp", experiment,
                    "Fichier expérimental (remplace ExpNom) : texte, .csv ou .mat, choisi par "
                    "l'extension")
        ->type_name("FICHIER");
    sub->add_option_function<std::string>(
           "--columns",
           [&r](const std::string& text) {
             std::string error;
             r.columns = ParseRecordColumnNames(text, error).value_or(RecordColumnNames{});
           },
           "Colonnes du fichier expérimental nommées par l'entête (ou les variables d'un "
           ".mat) : t=temps, wm=vitesse (tr/mn), ias=courant (A), par exemple "
           "t=temps,wm=vitesse,ias=courant ; remplace ExpWmCol et ExpIasCol")
        ->type_name("t=NOM,wm=NOM,ias=NOM")
        ->check(CLI::Validator(
            [](std::string& input) -> std::string {
              std::string error;
              return ParseRecordColumnNames(input, error) ? std::string() : error;
            },
            ""));
    AddTableFormatOption(*sub, r.table_format);
    sub->add_option("--seed", seed, "Graine du générateur (défaut : l'heure, comme « Randomize »)")
        ->type_name("S")
        ->check(CLI::Range(0LL, 4294967295LL));
    sub->add_option("--threads", r.threads, "Fils de calcul (défaut : un par cœur)")
        ->type_name("T")
        ->check(CLI::Range(1, 1024));
    sub->add_option("--save-best", save,
                    "Enregistre l'étude avec le meilleur jeu dans les paramètres de la machine")
        ->type_name("SORTIE.mas");
    sub->add_flag("--simulate-best", r.simulate_best,
                  "Simule l'étude avec le meilleur jeu et écrit sa table de sortie");
    sub->add_option("--logs", r.log_folder, "Dossier des journaux (défaut : dossier courant)")
        ->type_name("DOSSIER");
    sub->add_flag("--mpi", r.mpi,
                  "Répartit les candidats de chaque génération (époque) sur les rangs MPI "
                  "(mpirun -n N mas identify ... --mpi ; --threads : fils par rang)");
    sub->footer(kIdentifyExitHelp);
  };

  ga_ = identify_->add_subcommand("ga", "Algorithme génétique (55 individus par génération)");
  ga_request_.method = IdentifyRequest::Method::kGenetic;
  common(ga_, ga_request_, ga_experiment_, ga_save_, ga_seed_);
  ga_->add_option("--generations", ga_request_.iterations, "Nombre de générations (défaut 10)")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber);
  ga_->add_option("--init", ga_init_,
                  "Population initiale : tous les individus à ce jeu (au lieu d'un tirage)")
      ->type_name("Rs,Ts,Tr,sigma,J,a10,a20,a30");

  pso_ = identify_->add_subcommand("pso", "Essaim particulaire (affineurs et explorateurs)");
  pso_request_.method = IdentifyRequest::Method::kSwarm;
  common(pso_, pso_request_, pso_experiment_, pso_save_, pso_seed_);
  pso_->add_option("--epochs", pso_request_.iterations, "Nombre d'époques (défaut 10)")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber);
  pso_->add_option("--n1", pso_request_.n1, "Affineurs (défaut 10)")
      ->type_name("N1")
      ->check(CLI::Range(0, 100000));
  pso_->add_option("--n2", pso_request_.n2, "Explorateurs (défaut 10)")
      ->type_name("N2")
      ->check(CLI::Range(0, 100000));
  pso_->add_option("--pincrement", pso_request_.pincrement,
                   "Attraction vers le meilleur de la particule (défaut 0.01)")
      ->type_name("X");
  pso_->add_option("--gincrement", pso_request_.gincrement,
                   "Attraction vers le meilleur global (défaut 0.01)")
      ->type_name("X");
  pso_->add_option("--w1", pso_request_.w1, "Inertie des affineurs (défaut 0.98)")->type_name("X");
  pso_->add_option("--w2", pso_request_.w2, "Inertie des explorateurs (défaut 1.01)")
      ->type_name("X");
  pso_->add_option("--init", pso_init_,
                   "Meilleur global de départ : ce jeu est évalué, puis l'essaim est tiré à "
                   "nouveau (graine S+1) en le gardant comme meilleur global")
      ->type_name("Rs,Ts,Tr,sigma,J,a10,a20,a30");
}

bool IdentifySubcommand::Selected() const { return identify_ != nullptr && identify_->parsed(); }

int IdentifySubcommand::Run(CliEnvironment& env) {
  const bool genetic = ga_->parsed();
  IdentifyRequest r = genetic ? ga_request_ : pso_request_;
  CLI::App* sub = genetic ? ga_ : pso_;
  if (sub->count("--exp") > 0) r.experiment = genetic ? ga_experiment_ : pso_experiment_;
  if (sub->count("--save-best") > 0) r.save_best = genetic ? ga_save_ : pso_save_;
  if (sub->count("--seed") > 0) r.seed = static_cast<std::uint32_t>(genetic ? ga_seed_ : pso_seed_);
  if (sub->count("--init") > 0) {
    const std::string& text = genetic ? ga_init_ : pso_init_;
    r.init = ParseGeneVector(text);
    if (!r.init) {
      env.err << "Erreur d'utilisation : --init " << text
              << " : huit réels attendus, séparés par des virgules "
                 "(Rs,Ts,Tr,sigma,J,a10,a20,a30)\nVoir « mas identify "
              << (genetic ? "ga" : "pso") << " --help ».\n";
      return kExitUsage;
    }
  }
  for (double x : {r.pincrement, r.gincrement, r.w1, r.w2}) {
    if (!std::isfinite(x)) {
      env.err << "Erreur d'utilisation : les poids de l'essaim doivent être finis\n";
      return kExitUsage;
    }
  }
  return IdentifyCommand(r, env);
}

}  // namespace mas
