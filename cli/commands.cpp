#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <exception>
#include <numbers>
#include <utility>

#include "cli/dsvpwm_command.h"
#include "cli/fit_command.h"
#include "cli/identify_command.h"
#include "cli/settings_command.h"
#include "cli/sweep_command.h"
#include "cli/table_format_option.h"
#include "cli/tune_command.h"
#include "engine/settings.h"
#include "files/number_format.h"
#include "files/output_recorder.h"
#include "files/parameter_file.h"
#include "files/settings_override.h"
#include "platform/file_replacement.h"
#include "platform/version.h"

namespace mas {
namespace {

constexpr const char* kExitStatusHelp =
    "Codes de sortie :\n"
    "  0    la simulation a atteint tf (run) ; l'étude a été enregistrée (save)\n"
    "  1    le fichier de paramètres ne peut être lu ou écrit (après le message) ; la\n"
    "       table de sortie n'a pu être écrite entière (la précédente est conservée) ;\n"
    "       le modèle à cage ne peut être préparé (matrice singulière, mémoire) ; le\n"
    "       fichier de sortie est protégé en écriture ou est l'étude lue (rien n'est lancé)\n"
    "  2    erreur d'utilisation : option ou argument invalide, --set inconnu ou mal formé\n"
    "       (rien n'est lancé ni écrit)\n"
    "  3    simulation refusée : aucune étude chargée, fichier de sortie impossible à\n"
    "       ouvrir, paramètres temporels invalides, cage de moins de 3 barres, aucun\n"
    "       mode ou plusieurs modes sélectionnés\n"
    "  4    la simulation a divergé\n"
    "  130  interrompue par Ctrl-C, SIGTERM ou SIGHUP (la sortie partielle est conservée)\n";

constexpr const char* kSetHelp =
    "Change un paramètre après la lecture de l'étude (répétable, dans l'ordre) : "
    "dt=1e-5, p=2, Triangle=1, OutSel.Wm=1, OutSel=all, BarreSel=0,3";

// 653000 -> "653 000": a rate is read at a glance, not copied.
std::string GroupThousands(long long value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

std::string EndText(RunStatus status) {
  switch (status) {
    case RunStatus::kReachedEnd:
      return "tf atteint";
    case RunStatus::kInterrupted:
      return "interrompue par Ctrl-C";
    case RunStatus::kDiverged:
      return "divergence";
    case RunStatus::kNoMode:
      return "aucun mode ou plusieurs modes sélectionnés";
    case RunStatus::kRefused:
      return "refusée";
    case RunStatus::kModelError:
      return "modèle à cage impossible à préparer";
  }
  return "";
}

void ReportOverrideError(const OverrideError& e, CliEnvironment& env) {
  env.err << "Erreur: " << e.what() << '\n';
}

// Parses every --set before anything is read, so that a typing error writes nothing.
std::optional<std::vector<Override>> ParseOrReport(const std::vector<std::string>& texts,
                                                   CliEnvironment& env) {
  try {
    return ParseOverrides(texts);
  } catch (const OverrideError& e) {
    ReportOverrideError(e, env);
    return std::nullopt;
  }
}

// Reads the study named on the command line, as the workbench reads a file given at its
// start. False after the message when the file cannot be read.
bool ReadStudy(const std::string& study, SimulationSettings& settings, CliEnvironment& env) {
  settings.ParamFileName = study;
  try {
    ReadParameterFile(settings, env.platform, env.echo_path);
  } catch (const ParameterFileError& e) {
    env.platform.ShowMessage(e.what(), e.caption, MessageIcon::kStop);
    return false;
  }
  return true;
}

bool ApplyOrReport(SimulationSettings& settings, const std::vector<Override>& overrides,
                   CliEnvironment& env) {
  try {
    ApplyOverrides(settings, overrides);
  } catch (const OverrideError& e) {
    ReportOverrideError(e, env);
    return false;
  }
  return true;
}

}  // namespace

std::optional<int> LoadStudy(const std::string& study, const std::vector<std::string>& texts,
                             SimulationSettings& settings, CliEnvironment& env) {
  const auto overrides = ParseOrReport(texts, env);
  if (!overrides) return kExitUsage;
  // Without a study the settings keep their defaults and FileLoaded stays off: a run then
  // refuses exactly as the workbench's Run command does.
  if (!study.empty() && !ReadStudy(study, settings, env)) return kExitParameterFile;
  if (!ApplyOrReport(settings, *overrides, env)) return kExitUsage;
  return std::nullopt;
}

int ExitStatusFor(RunStatus status) {
  switch (status) {
    case RunStatus::kReachedEnd:
      return kExitSuccess;
    case RunStatus::kInterrupted:
      return kExitInterrupted;
    case RunStatus::kDiverged:
      return kExitDiverged;
    case RunStatus::kNoMode:
    case RunStatus::kRefused:
      return kExitRefused;
    case RunStatus::kModelError:
      return kExitParameterFile;
  }
  return kExitRefused;
}

std::string WriteRefusal(const std::string& target, const std::string& study) {
  const CommandInput inputs[] = {{study, "l'étude lue", true}};
  return RefuseOutput(target, inputs).message;
}

std::optional<int> RefuseProtectedTarget(const std::string& target, Platform& platform,
                                         const std::string& study) {
  const std::string refusal = WriteRefusal(target, study);
  if (refusal.empty()) return std::nullopt;
  platform.ShowMessage(refusal, "Erreur", MessageIcon::kStop);
  return kExitParameterFile;
}

std::string FormatRunSummary(const RunSummary& r) {
  std::string s;
  s += "Étude            : " + (r.study.empty() ? std::string("(aucune)") : r.study) + "\n";
  // Time of the last step computed: the loop runs from t0 in steps of dt.
  const double t_last = r.steps > 0 ? r.t0 + static_cast<double>(r.steps - 1) * r.dt : r.t0;
  s += "Temps simulé     : " + FormatG(r.t0, 6) + " → " + FormatG(t_last, 6) + " s (" +
       std::to_string(r.steps) + " pas de " + FormatG(r.dt, 6) + " s)\n";
  // Milliseconds for ordinary runs, three significant digits for very short ones.
  s += "Durée de calcul  : " +
       (r.wall_seconds >= 0.01 ? FormatFixed(r.wall_seconds, 3) : FormatG(r.wall_seconds, 3)) +
       " s";
  if (r.wall_seconds > 0.0) {
    const double rate = static_cast<double>(r.steps) / r.wall_seconds;
    s += " (" + GroupThousands(std::llround(rate)) + " pas/s)";
  }
  s += "\n";
  s += "Vitesse finale   : " +
       (r.speed_rpm ? FormatG(*r.speed_rpm, 5) + " tr/mn" : std::string("- (p = 0)")) + "\n";
  s += "Couple final     : " + FormatG(r.torque, 5) + " N m\n";
  s += "Fin              : " + EndText(r.status) + "\n";
  s += "Sortie           : " + (r.output.empty() ? std::string("aucune") : r.output) + "\n";
  return s;
}

int RunStudyCommand(const RunRequest& request, CliEnvironment& env) {
  SimulationSettings settings;
  if (const auto failed = LoadStudy(request.study, request.overrides, settings, env)) {
    return *failed;
  }
  if (request.output) settings.OutFileName = *request.output;
  settings.OutFileName = TablePathFor(settings.OutFileName, request.table_format);
  // Checked before the run: a protected table, or the study itself, is never replaced.
  if (settings.FileLoaded && settings.CreateOutputFile) {
    if (const auto refused =
            RefuseProtectedTarget(settings.OutFileName, env.platform, request.study)) {
      return *refused;
    }
  }

  CarriedState carried;
  carried.dsvpwm.type = request.dsv_type;
  OutputRecorder recorder;
  recorder.SetFormat(request.table_format);
  const auto start = std::chrono::steady_clock::now();
  const RunOutcome outcome =
      RunSimulation(settings, carried, env.platform, &recorder, request.viewer, 0);
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;

  if (recorder.WriteFailed()) {
    env.platform.ShowMessage("l'écriture du fichier " + settings.OutFileName +
                                 " a échoué : le fichier précédent est conservé",
                             "Attention", MessageIcon::kExclamation);
  }
  if (outcome.status == RunStatus::kRefused || outcome.status == RunStatus::kNoMode ||
      outcome.status == RunStatus::kModelError) {
    return ExitStatusFor(outcome.status);
  }

  RunSummary summary;
  summary.study = request.study;
  summary.status = outcome.status;
  summary.t0 = settings.t0;
  summary.dt = settings.dt;
  summary.steps = outcome.steps;
  summary.wall_seconds = wall.count();
  // Final state of the machine model the run stepped: its electrical speed w over the
  // pole pairs is the mechanical speed.
  const bool cage = settings.SpecialModel;
  const int pole_pairs = cage ? settings.cage.p : settings.dq.p;
  const double w = cage ? settings.cage.w() : settings.dq.w();
  if (pole_pairs != 0) summary.speed_rpm = w / pole_pairs * (30.0 / std::numbers::pi);
  summary.torque = cage ? settings.cage.Ce() : settings.dq.Ce();
  if (settings.CreateOutputFile && !recorder.WriteFailed()) summary.output = settings.OutFileName;
  env.out << FormatRunSummary(summary) << std::flush;
  // A run that reached its end but whose table could not be written is no success for a
  // script waiting for the table; a divergence or Ctrl-C keeps its own status.
  const int status = ExitStatusFor(outcome.status);
  return status == kExitSuccess && recorder.WriteFailed() ? kExitParameterFile : status;
}

int SaveStudyCommand(const SaveRequest& request, CliEnvironment& env) {
  if (request.study.empty()) return kExitUsage;
  SimulationSettings settings;
  if (const auto failed = LoadStudy(request.study, request.overrides, settings, env)) {
    return *failed;
  }
  if (const auto refused = RefuseProtectedTarget(request.target, env.platform)) return *refused;
  try {
    WriteParameterFile(settings, request.target);
  } catch (const ParameterFileError& e) {
    env.platform.ShowMessage(e.what(), e.caption, MessageIcon::kStop);
    return kExitParameterFile;
  }
  return kExitSuccess;
}

int MasMain(const std::vector<std::string>& args, CliEnvironment& env) {
  CLI::App app{"Simulation de la commande vectorielle d'une machine asynchrone (MAS).", "mas"};
  app.set_help_flag("-h,--help", "Affiche cette aide");
  app.set_version_flag("--version", std::string("mas ") + kVersion, "Affiche la version et quitte");
  app.footer(kExitStatusHelp);
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("Erreur d'utilisation : ") + e.what() + "\nVoir « mas --help ».\n";
  });

  RunRequest run_request;
  std::string output;
  CLI::App* run = app.add_subcommand(
      "run",
      "Lit une étude, applique les --set et lance une simulation, puis en affiche le bilan.");
  run->add_option("study", run_request.study,
                  "Fichier d'étude (*.mas) ; sans lui, la simulation est refusée")
      ->type_name("ETUDE.mas");
  run->add_option("--set", run_request.overrides, kSetHelp)
      ->type_name("NOM=VALEUR")
      ->allow_extra_args(false);
  CLI::Option* output_option =
      run->add_option("-o,--output", output, "Fichier de sortie (remplace OutFileName)")
          ->type_name("CHEMIN");
  AddTableFormatOption(*run, run_request.table_format);
  run->add_flag("--viewer", run_request.viewer,
                "Lance le visualiseur de courbes sur le fichier de sortie à la fin");
  AddModulationTypeOption(
      *run, "--dsv-type", run_request.dsv_type,
      "Type de MLI du modulateur double SVPWM (avec dsvPWM=1 et MLI=0), défaut 1");

  SaveRequest save_request;
  CLI::App* save = app.add_subcommand(
      "save", "Lit une étude, applique les --set et l'enregistre dans un autre fichier.");
  save->add_option("study", save_request.study, "Fichier d'étude lu (*.mas)")
      ->type_name("ETUDE.mas")
      ->required();
  save->add_option("target", save_request.target, "Fichier d'étude écrit")
      ->type_name("SORTIE.mas")
      ->required();
  save->add_option("--set", save_request.overrides, kSetHelp)
      ->type_name("NOM=VALEUR")
      ->allow_extra_args(false);

  DsvpwmCommand dsvpwm(app);

  IdentifySubcommand identify(app);
  FitSubcommand fit(*app.get_subcommand("identify"));
  TuneSubcommand tune(app);
  SweepSubcommand sweep(app);
  SettingsSubcommand settings(app);

  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, env.out, env.err);
    return code == 0 ? kExitSuccess : kExitUsage;
  }

  try {
    if (*run) {
      if (*output_option) run_request.output = output;
      return RunStudyCommand(run_request, env);
    }
    if (*save) return SaveStudyCommand(save_request, env);
    if (fit.Selected()) return fit.Run(env);
    if (identify.Selected()) return identify.Run(env);
    if (tune.Selected()) return tune.Run(env);
    if (sweep.Selected()) return sweep.Run(env);
    if (dsvpwm.Selected()) return dsvpwm.Run(env);
    if (settings.Selected()) return settings.Run(env);
  } catch (const std::exception& e) {
    // A failure the run cannot continue from (the cage model's, for instance) ends the
    // command as a parameter-file failure does: message, then status 1.
    env.platform.ShowMessage(e.what(), "Erreur", MessageIcon::kStop);
    return kExitParameterFile;
  }
  return kExitUsage;
}

}  // namespace mas
