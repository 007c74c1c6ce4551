#include "cli/fit_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/identify_command.h"
#include "cli/optimisation_ranks.h"
#include "engine/run_simulation.h"
#include "files/number_format.h"
#include "files/parameter_file.h"
#include "files/settings_override.h"
#include "fit/fit_report.h"
#include "fit/trajectory_fit.h"
#include "identification/candidate_evaluator.h"
#include "identification/experimental_file.h"
#include "identification/random.h"
#include "identification/workbench.h"
#include "platform/file_replacement.h"

namespace mas {
namespace {

constexpr const char* kFitExitHelp =
    "Codes de sortie :\n"
    "  0    l'ajustement a convergé ou atteint --max-iterations ; --save-best et --report\n"
    "       ont été écrits\n"
    "  1    l'étude ou le fichier expérimental ne peut être lu, ou --save-best ou --report\n"
    "       ne peut être écrit (après le message) ; --save-best ou --report nomme l'étude,\n"
    "       le fichier expérimental ou l'autre sortie, ou un fichier protégé en écriture\n"
    "       (rien n'est lancé ni écrit)\n"
    "  2    erreur d'utilisation : option ou argument invalide (rien n'est lancé ni écrit)\n"
    "  3    refus : enregistrement inutilisable (temps non croissants, valeur non finie ou\n"
    "       aberrante), tables expérimentales impossibles à créer, jeu de départ hors\n"
    "       domaine (Rs, Ts, Tr, J > 0 ; 0 < sigma < 1 ; a10, a20, a30 >= 0) ou absurde (sa\n"
    "       simulation ou son jacobien n'est pas fini), aucun GenX, trop peu d'instants\n"
    "       comparés\n"
    "  4    la simulation qui crée les tables, ou celle de chaque départ supplémentaire,\n"
    "       a divergé\n"
    "  130  interrompu par Ctrl-C : le meilleur point atteint est résumé, --save-best et\n"
    "       --report sont écrits\n"
    "Les poids du coût (gWmF, gIasF, gA, gt0, CostFunction) se donnent par --set ; un gène\n"
    "est tenu par --set GenX.<nom>=0. Le fichier expérimental ExpNom est cherché à côté de\n"
    "l'étude, puis depuis le dossier courant ; --exp est pris depuis le dossier courant.\n"
    "Plusieurs --exp : les enregistrements sont ajustés ensemble (résidus empilés, un seul\n"
    "jeu de paramètres, poids de bruit par signal et par enregistrement, Newey-West par\n"
    "enregistrement, sommé). --exp ETUDE.mas:FICHIER simule cet enregistrement avec sa\n"
    "propre étude (pas, commande, charge, t0, tf) et la machine ajustée ; les --set et les\n"
    "GenX de l'étude principale valent pour toutes. Le bilan donne l'écart rms par\n"
    "signal et par enregistrement.\n"
    "Avec --mpi, seul le rang 0 écrit et affiche, et chaque rang finit avec le code du\n"
    "rang 0.\n";

std::string ProgressLine(const FitProgress& p) {
  std::string line;
  if (p.starts > 1)
    line += "départ " + std::to_string(p.start) + "/" + std::to_string(p.starts) + "  ";
  if (p.reweight > 0) line += "repondération " + std::to_string(p.reweight) + "  ";
  if (p.resample > 0) {
    line += "bootstrap " + std::to_string(p.resample) + "/" + std::to_string(p.resamples) + "  ";
  }
  if (p.profiled >= 0) {
    line += std::string("profil ") + kGeneNames[static_cast<std::size_t>(p.profiled)] + "  ";
  }
  line += "itération " + std::to_string(p.iteration) + "  coût " + FormatG(p.cost, 6);
  if (p.iteration > 0) {
    line += "  pas " + FormatG(p.step_norm, 3) + (p.step_accepted ? " accepté" : " refusé");
  }
  line += "  " + FormatFixed(p.seconds, 2) + " s  (" + std::to_string(p.runs) + " simulations)";
  return line;
}

// The report and the saved study are checked before the fit: neither may be a study or a
// record read, nor the other one, nor a write-protected file. Status after the message.
std::optional<int> RefuseFitOutputs(const FitRequest& r, const std::vector<CommandInput>& read,
                                    CliEnvironment& env) {
  const CommandInput report{r.report.value_or(""), "le rapport (--report)", false};
  const CommandInput save{r.save_best.value_or(""), "l'étude enregistrée (--save-best)", true};
  for (const auto& [output, other] : {std::pair{report, save}, std::pair{save, report}}) {
    if (output.path.empty()) continue;
    std::vector<CommandInput> inputs = read;
    inputs.push_back(other);
    const OutputRefusal refusal = RefuseOutput(output.path, inputs);
    if (refusal) {
      env.platform.ShowMessage(refusal.message, "Erreur", MessageIcon::kStop);
      return kExitParameterFile;
    }
  }
  return std::nullopt;
}

// One --exp: "STUDY.mas:RECORD" names the record's own study; anything else is a record
// read with the main study. The study's name ends in ".mas" (any case) so that a colon
// elsewhere (a drive, a folder) is not taken for the separator.
struct RecordSource {
  std::string study;
  std::optional<std::string> record;  // none: the study's ExpNom
};

std::optional<RecordSource> ParseRecordSource(const std::string& text, const std::string& main) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t at = lower.find(".mas:");
  if (at == std::string::npos) return RecordSource{main, text};
  RecordSource source{text.substr(0, at + 4), text.substr(at + 5)};
  if (source.study.size() <= 4 || source.record->empty()) return std::nullopt;
  return source;
}

}  // namespace

namespace {

// The platform of the table build for the fit on the cost's terms: a record shorter than
// the study is no reason to stop (the fit compares the record's own span and says so),
// so the run's messages are kept and shown only when the tables could not be built.
class TableBuildPlatform final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    held_.push_back({std::string(text), std::string(caption), icon});
  }
  void Release() {
    for (const auto& m : held_) inner().ShowMessage(m.text, m.caption, m.icon);
  }

 private:
  std::vector<RecordingPlatform::Message> held_;
};

std::optional<int> PrepareFit(const FitRequest& r, const RecordSource& source,
                              SimulationSettings& s, CarriedState& carried, CliEnvironment& env) {
  if (auto failed =
          PrepareIdentification(source.study, r.overrides, source.record, s, carried, env, false)) {
    return failed;
  }
  if (!r.cost_residuals) return std::nullopt;
  TableBuildPlatform quiet(env.platform);
  const std::optional<int> failed = BuildAnnouncedTables(s, carried, quiet, env.out);
  if (failed) quiet.Release();
  return failed;
}

int FitOnRanks(const FitRequest& r, CliEnvironment& env, const OptimisationRanks& ranks) {
  std::vector<RecordSource> sources;
  for (const std::string& text : r.experiments) {
    // Checked when the command line was read.
    if (auto source = ParseRecordSource(text, r.study)) sources.push_back(std::move(*source));
  }
  if (sources.empty()) sources.push_back({r.study, std::nullopt});
  // Every record with its study; the main study gives the fitted genes, the guess and
  // --save-best (read on its own when no plain record names it).
  std::vector<SimulationSettings> studies(sources.size());
  std::vector<CarriedState> carried(sources.size());
  std::vector<std::string> record_paths;
  std::vector<CommandInput> read{{r.study, "l'étude lue", true}};
  const bool main_first = sources.front().study == r.study;
  SimulationSettings main_study;
  std::optional<int> failed;
  if (!main_first) failed = LoadStudy(r.study, r.overrides, main_study, env);
  for (std::size_t k = 0; k < sources.size() && !failed; ++k) {
    failed = PrepareFit(r, sources[k], studies[k], carried[k], env);
    if (failed) break;
    record_paths.push_back(ExperimentalFilePath(
        studies[k], sources[k].record ? RecordLookup::kAsNamed : RecordLookup::kBesideStudyFirst));
    if (sources[k].study != r.study) read.push_back({sources[k].study, "l'étude lue", true});
    read.push_back({record_paths.back(), "le fichier expérimental lu", false});
  }
  if (!failed) failed = RefuseFitOutputs(r, read, env);
  if (const int status = ranks.Agree(failed.value_or(kExitSuccess), env); status != kExitSuccess) {
    return status;
  }
  if (main_first) {
    main_study = studies.front();
  } else {
    // The genes fitted are chosen as for a record read with the main study.
    main_study.GenX = studies.front().GenX;
  }
  SimulationSettings& s = main_study;
  std::vector<FitRecord> records;
  for (std::size_t k = 0; k < sources.size(); ++k) {
    studies[k].GenX = s.GenX;
    records.push_back({&studies[k], &carried[k], record_paths[k]});
  }

  FitOptions options;
  options.threads = r.threads > 0 ? r.threads : MachineThreads();
  options.distributor = ranks.distributor();
  options.starts = r.starts;
  options.seed = ranks.SameSeed(r.seed ? *r.seed : CalendarSeconds());
  options.max_iterations = r.max_iterations;
  options.relative_step = r.step;
  options.residuals = r.cost_residuals ? ResidualKind::kCost : ResidualKind::kMachineState;
  options.bootstrap = r.bootstrap;
  options.profile = r.profile;
  const Genes guess = r.init ? Genes(*r.init) : GenesOfMachine(s.dq);
  env.out << "Graine " << options.seed << ", " << options.threads << " fil"
          << (options.threads > 1 ? "s" : "") << (ranks.size() > 1 ? " par rang" : "")
          << ranks.Description() << ", " << r.starts + 1 << " départ" << (r.starts > 0 ? "s" : "")
          << "\n"
          << std::flush;

  const FitResult result =
      FitTrajectories(guess, records, env.platform, options, [&env](const FitProgress& p) {
        env.err << ProgressLine(p) << "\n" << std::flush;
      });
  FitReportContext context;
  context.study = r.study;
  for (const std::string& path : record_paths) {
    context.record += (context.record.empty() ? "" : ", ") + path;
  }
  context.threads = options.threads * ranks.size();
  context.seed = options.seed;
  const std::string report = FormatFitReport(result, context);
  // The report file: JSON for a name ending in ".json", the printed summary otherwise.
  auto report_file_text = [&] {
    return r.report && IsJsonReportPath(*r.report) ? FormatFitReportJson(result, context) : report;
  };

  switch (result.end) {
    case FitEnd::kRefused:
      env.platform.ShowMessage(result.message + "\n Arret d'optimisation.", kCaptionError,
                               MessageIcon::kStop);
      return kExitRefused;
    case FitEnd::kFailed:
      env.platform.ShowMessage(result.message + "\n Arret d'optimisation.", kCaptionError,
                               MessageIcon::kStop);
      env.out << report << std::flush;
      return kExitDiverged;
    case FitEnd::kInterrupted:  // the summary and --report even before the first point
    case FitEnd::kConverged:
    case FitEnd::kIterationLimit:
      break;
  }
  env.out << "\n" << report << std::flush;
  int status = result.end == FitEnd::kInterrupted ? kExitInterrupted : kExitSuccess;
  // Only rank 0 writes: the other ranks hold the same result.
  if (!ranks.root()) return status;
  if (r.report) {
    if (WriteFitReport(*r.report, report_file_text())) {
      env.out << "Rapport enregistré : " << *r.report << "\n";
    } else {
      env.platform.ShowMessage(
          "Impossible d'écrire le rapport " + *r.report + " : le fichier précédent est conservé",
          "Erreur d'écriture", MessageIcon::kStop);
      if (status == kExitSuccess) status = kExitParameterFile;
    }
  }
  if (result.best_start < 0) {
    // Stopped before the first point was simulated: no fitted set to save.
    if (r.save_best)
      env.out << "Interrompu avant le premier point simulé : étude non enregistrée\n";
  } else if (r.save_best) {
    SimulationSettings saved = s;
    MapGenesOntoMachine(result.genes, saved);
    try {
      WriteParameterFile(saved, *r.save_best);
      env.out << "Étude enregistrée : " << *r.save_best << "\n";
    } catch (const ParameterFileError& e) {
      env.platform.ShowMessage(e.what(), e.caption, MessageIcon::kStop);
      if (status == kExitSuccess) status = kExitParameterFile;
    }
  }
  env.out << std::flush;
  return status;
}

}  // namespace

int FitCommand(const FitRequest& r, CliEnvironment& env) {
  return RunOptimisation(r.mpi, env, [&r](CliEnvironment& e, const OptimisationRanks& ranks) {
    return FitOnRanks(r, e, ranks);
  });
}

FitSubcommand::FitSubcommand(CLI::App& identify) {
  fit_ = identify.add_subcommand(
      "fit",
      "Ajustement par moindres carrés (Levenberg-Marquardt) de la trajectoire du démarrage, "
      "avec écarts-types, intervalles à 95 %, corrélations et paramètres non identifiables.");
  fit_->footer(kFitExitHelp);
  fit_->add_option("study", request_.study, "Fichier d'étude (*.mas)")
      ->type_name("ETUDE.mas")
      ->required();
  fit_->add_option("--set", request_.overrides,
                   "Change un paramètre après la lecture de l'étude (répétable) : gA=200, "
                   "gt0=0.03, CostFunction=0, GenX.a10=0 (gène tenu)...")
      ->type_name("NOM=VALEUR")
      ->allow_extra_args(false);
  fit_->add_option("--exp", experiments_,
                   "Fichier expérimental (remplace ExpNom). Répétable : les enregistrements sont "
                   "ajustés ensemble avec un seul jeu de paramètres ; ETUDE.mas:FICHIER lit et "
                   "simule l'enregistrement avec sa propre étude (FICHIER seul : l'étude "
                   "principale), par exemple --exp demarrage.dat --exp charge.mas:echelon.dat")
      ->type_name("[ETUDE.mas:]FICHIER")
      ->allow_extra_args(false);
  fit_->add_option("--init", init_, "Jeu de départ (défaut : la machine de l'étude)")
      ->type_name("Rs,Ts,Tr,sigma,J,a10,a20,a30");
  fit_->add_option("--starts", request_.starts,
                   "Départs supplémentaires tirés autour du jeu de départ (défaut 0)")
      ->type_name("N")
      ->check(CLI::Range(0, 10000));
  fit_->add_option("--seed", seed_, "Graine des départs supplémentaires (défaut : l'heure)")
      ->type_name("S")
      ->check(CLI::Range(0LL, 4294967295LL));
  fit_->add_option("--threads", request_.threads, "Fils de calcul (défaut : un par cœur)")
      ->type_name("T")
      ->check(CLI::Range(1, 1024));
  fit_->add_option("--max-iterations", request_.max_iterations,
                   "Itérations du solveur par départ (défaut 50)")
      ->type_name("N")
      ->check(CLI::Range(0, 100000));
  fit_->add_option("--step", request_.step,
                   "Pas relatif des différences finies centrées (défaut 1e-4)")
      ->type_name("H")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            double x = 0.0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), x);
            if (ec != std::errc() || end != text.data() + text.size() || !(x >= 1e-12 && x < 0.1)) {
              return "--step " + text +
                     " : pas relatif attendu entre 1e-12 et 0.1 (exclu), par exemple 1e-4";
            }
            return {};
          },
          "H", ""));
  fit_->add_option("--residuals", residuals_,
                   "Résidus comparés : etat (défaut : vitesse et courant de la machine aux "
                   "instants de l'enregistrement, pondérés par leur bruit) ou cout (termes du "
                   "coût d'identification, comme l'AG)")
      ->type_name("etat|cout")
      ->check(CLI::IsMember({"etat", "cout", "cost"}));
  fit_->add_option("--save-best", save_,
                   "Enregistre l'étude avec le jeu ajusté dans les paramètres de la machine")
      ->type_name("SORTIE.mas");
  fit_->add_option("--report", report_, "Écrit le bilan de l'ajustement dans ce fichier")
      ->type_name("FICHIER");
  fit_->add_option("--bootstrap", request_.bootstrap,
                   "Intervalles par bootstrap à blocs mobiles : N réajustements sur des résidus "
                   "rééchantillonnés par blocs, ajoutés à la trajectoire ajustée (1 à 10000 ; "
                   "sans l'option : pas de bootstrap)")
      ->type_name("N")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            int x = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), x);
            if (ec != std::errc() || end != text.data() + text.size() || x < 1 ||
                x > kMostBootstrapResamples) {
              return "--bootstrap " + text + " : nombre de réajustements attendu entre 1 et " +
                     std::to_string(kMostBootstrapResamples) +
                     " (sans --bootstrap, pas de bootstrap)";
            }
            return {};
          },
          "N", ""));
  fit_->add_flag("--profile", request_.profile,
                 "Intervalles de vraisemblance profilée des paramètres corrélés à plus de 0.99 "
                 "avec un autre (des centaines de simulations)");
  fit_->add_flag("--mpi", request_.mpi,
                 "Répartit les simulations de chaque jacobienne sur les rangs MPI "
                 "(mpirun -n N mas identify fit ... --mpi ; --threads : fils par rang)");
}

bool FitSubcommand::Selected() const { return fit_ != nullptr && fit_->parsed(); }

int FitSubcommand::Run(CliEnvironment& env) {
  FitRequest r = request_;
  r.experiments = experiments_;
  for (const std::string& text : r.experiments) {
    if (!ParseRecordSource(text, r.study)) {
      env.err << "Erreur d'utilisation : --exp " << text
              << " : ETUDE.mas:FICHIER attendu (une étude et un enregistrement non vides)\n"
                 "Voir « mas identify fit --help ».\n";
      return kExitUsage;
    }
  }
  if (fit_->count("--save-best") > 0) r.save_best = save_;
  if (fit_->count("--report") > 0) r.report = report_;
  r.cost_residuals = residuals_ != "etat";
  if (fit_->count("--seed") > 0) r.seed = static_cast<std::uint32_t>(seed_);
  if (fit_->count("--init") > 0) {
    r.init = ParseGeneVector(init_);
    if (!r.init) {
      env.err << "Erreur d'utilisation : --init " << init_
              << " : huit réels attendus, séparés par des virgules "
                 "(Rs,Ts,Tr,sigma,J,a10,a20,a30)\nVoir « mas identify fit --help ».\n";
      return kExitUsage;
    }
  }
  if (!std::isfinite(r.step)) {
    env.err << "Erreur d'utilisation : --step doit être un réel fini\n";
    return kExitUsage;
  }
  return FitCommand(r, env);
}

}  // namespace mas
