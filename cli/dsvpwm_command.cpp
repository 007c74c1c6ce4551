#include "cli/dsvpwm_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cmath>

#include "engine/run_simulation.h"
#include "files/number_format.h"

namespace mas {
namespace {

constexpr const char* kSimulateExitStatusHelp =
    "Codes de sortie :\n"
    "  0    la table a été écrite (le visualiseur est lancé avec --viewer)\n"
    "  1    la table ne peut être créée, écrite ou mise en place (après le message)\n"
    "  2    erreur d'utilisation : option manquante ou valeur invalide (rien n'est écrit)\n"
    "  2    les valeurs de --e2, --tmli et --mref donnent des instants non finis\n"
    "  3    simulation refusée : dt n'est pas un pas positif et fini qui atteint tf, ou\n"
    "       plus d'un milliard de pas de 0 à tf (rien n'est écrit)\n"
    "  130  interrompue par Ctrl-C (la table partielle est conservée)\n";

constexpr const char* kShowExitStatusHelp =
    "Codes de sortie :\n"
    "  0    l'étude a été affichée\n"
    "  2    erreur d'utilisation : option manquante ou valeur invalide, ou valeurs qui\n"
    "       donnent des instants non finis\n";

// Times are shown in microseconds: the instants are multiples of TMLI/2000, 0.05 µs at the
// usual 100 µs.
std::string Microseconds(double seconds) { return FormatG(seconds * 1e6); }

// `text` left-aligned in `width` columns (counted in bytes: only ASCII is padded).
std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string PadLeft(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

const char* LegCodeText(LegCode code) {
  switch (code) {
    case LegCode::kHeldLow:
      return "0 bas";
    case LegCode::kNormal:
      return "1 normal";
    case LegCode::kInverted:
      return "2 inversé";
    case LegCode::kHeldHigh:
      return "3 haut";
  }
  return "?";
}

std::string TypeText(ModulationType type) {
  const int index = static_cast<int>(type);
  return std::to_string(index) + " (" + kModulationTypeCaptions[index] + ")";
}

void ApplyTiming(DoubleSvpwm& modulator, const DsvpwmTiming& timing) {
  modulator.SetTiming(timing.E2.value_or(modulator.E2), timing.TMLI.value_or(modulator.TMLI),
                      modulator.dt);
}

// A finite number in [low, high]; NaN and infinities are refused too.
CLI::Validator FiniteIn(double low, double high) {
  return CLI::Validator(
      [low, high](std::string& input) -> std::string {
        double value = 0.0;
        if (!CLI::detail::lexical_cast(input, value) || !std::isfinite(value)) {
          return "nombre fini attendu, lu « " + input + " »";
        }
        if (value < low || value > high) {
          return "valeur entre " + FormatG(low) + " et " + FormatG(high) + " attendue, lu " + input;
        }
        return {};
      },
      "");
}

CLI::Validator PositiveFinite() {
  return CLI::Validator(
      [](std::string& input) -> std::string {
        double value = 0.0;
        if (!CLI::detail::lexical_cast(input, value) || !std::isfinite(value) || !(value > 0)) {
          return "nombre positif et fini attendu, lu « " + input + " »";
        }
        return {};
      },
      "");
}

// Refuses inputs whose results are not finite, after the message; nothing when they are.
std::optional<int> RefuseNonFinite(const std::optional<std::string>& message, CliEnvironment& env) {
  if (!message) return std::nullopt;
  env.platform.ShowMessage(*message, "Erreur", MessageIcon::kStop);
  return kExitUsage;
}

}  // namespace

std::string FormatDsvpwmStudy(DoubleSvpwm& modulator, double turn_fraction, double m) {
  const bool carrier = modulator.type == ModulationType::kSixPhaseCarrier;
  const double period = 2 * modulator.TMLI;
  std::string s;
  s += "Type de MLI      : " + TypeText(modulator.type) + "\n";
  s += "Angle            : " + FormatG(turn_fraction) +
       " tour, Th=" + FormatG(turn_fraction * 360) + " (°)\n";
  s += "Indice m         : " + FormatG(m) + "\n";
  s += "Secteur          : " + std::to_string(modulator.Sector) + "\n";
  s += "Vdsref           : " + FormatFixed(modulator.Vdsref, 2) + " V (Vqsref = 0 V)\n";
  s += "E/2              : " + FormatG(modulator.E2) + " V\n";
  s += "TMLI             : " + Microseconds(modulator.TMLI) +
       " µs (période de commutation 2 TMLI = " + Microseconds(period) + " µs)\n";
  if (!carrier) {
    s += "Temps T0 T1..T4  : " + Microseconds(modulator.T0) + "  " + Microseconds(modulator.T1) +
         "  " + Microseconds(modulator.T2) + "  " + Microseconds(modulator.T3) + "  " +
         Microseconds(modulator.T4) + " µs\n";
    s += "Instants z y w v : " + Microseconds(modulator.z) + "  " + Microseconds(modulator.y) +
         "  " + Microseconds(modulator.w) + "  " + Microseconds(modulator.v) +
         " µs (avant quantification au pas de " + Microseconds(1 / modulator.scale) + " µs)\n";
  }

  // Per leg: its code and its instants. With the carrier every leg is on for P at each
  // end of the period; otherwise on for A at each end and for B on either side of TMLI
  // (inverted by code 2, overridden by codes 0 and 3).
  s += "\n";
  s += carrier ? "Bras  Code          P (µs)\n" : "Bras  Code          A (µs)      B (µs)\n";
  for (int k = 0; k < kLegCount; ++k) {
    std::string line = "K" + std::to_string(k) + "    ";
    // "inversé" has one two-byte letter: pad it one byte further to keep the columns.
    const std::string code = LegCodeText(modulator.leg_code[k]);
    line += Pad(code, modulator.leg_code[k] == LegCode::kInverted ? 11 : 10);
    if (carrier) {
      line += PadLeft(Microseconds(modulator.P[k]), 10);
    } else {
      line += PadLeft(Microseconds(modulator.A[k]), 10) + "  " +
              PadLeft(Microseconds(modulator.B[k]), 10);
    }
    s += line + "\n";
  }

  // Leg states of one period, one column per slice of 2 TMLI/kLegRowColumns, sampled at
  // the start of the slice, then a ruler with ticks at 0, TMLI/2, TMLI, 3 TMLI/2, 2 TMLI.
  s += "\nÉtats des bras sur une période 2 TMLI, une colonne = " +
       Microseconds(period / kLegRowColumns) + " µs (1 = haut, 0 = bas) :\n";
  std::array<std::string, kLegCount> rows;
  for (int c = 0; c < kLegRowColumns; ++c) {
    const double t = period * c / kLegRowColumns;
    const auto& state = modulator.SwitchStatesAt(t);
    for (int k = 0; k < kLegCount; ++k) rows[k] += state[k] == 1 ? '1' : '0';
  }
  for (int k = 0; k < kLegCount; ++k) s += "K" + std::to_string(k) + "  " + rows[k] + "\n";
  std::string ruler(kLegRowColumns + 1, ' ');
  for (int c = 0; c <= kLegRowColumns; c += kLegRowColumns / 4) {
    ruler[c] = c % (kLegRowColumns / 2) == 0 ? '|' : '\'';
  }
  std::string labels(kLegRowColumns + 1, ' ');
  labels.replace(0, 1, "0");
  labels.replace(kLegRowColumns / 2, 4, "TMLI");
  labels.replace(kLegRowColumns, 1, "2 TMLI");
  s += "    " + ruler + "\n";
  s += "    " + labels + "\n";
  return s;
}

int DsvpwmShowCommand(const DsvpwmShowRequest& request, CliEnvironment& env) {
  DoubleSvpwm modulator;
  ApplyTiming(modulator, request.timing);
  modulator.type = request.type;
  SetStudyReference(modulator, request.theta, request.mref);
  if (const auto refused =
          RefuseNonFinite(NonFiniteInstantsMessage(modulator, request.mref), env)) {
    return *refused;
  }
  env.out << FormatDsvpwmStudy(modulator, request.theta, request.mref) << std::flush;
  return kExitSuccess;
}

int DsvpwmSimulateCommand(const DsvpwmSimulateRequest& request, CliEnvironment& env) {
  DoubleSvpwm modulator;
  ApplyTiming(modulator, request.timing);
  modulator.type = request.type;
  // The reference of the simulation's first period, checked before anything is written.
  if (const auto refused =
          RefuseNonFinite(NonFiniteSimulationMessage(modulator, request.sim.m), env)) {
    return *refused;
  }
  if (const auto refused = RefuseProtectedTarget(request.output, env.platform)) return *refused;
  const StandaloneOutcome outcome =
      RunStandaloneSimulation(modulator, request.sim, request.output, &env.platform);
  if (!outcome.ok) {
    env.platform.ShowMessage(outcome.message, outcome.caption, MessageIcon::kStop);
    // A refused step ran nothing; every other failure is one of the table.
    return outcome.refused ? kExitRefused : kExitParameterFile;
  }
  env.out << "Type de MLI      : " << TypeText(request.type) << "\n"
          << "Indice m         : " << FormatG(request.sim.m) << "\n"
          << "Lignes écrites   : " << outcome.lines << " (dt = " << FormatG(request.sim.dt)
          << " s, tf = " << FormatG(request.sim.tf) << " s)\n"
          << "Sortie           : " << request.output << "\n"
          << (outcome.interrupted ? "Fin              : interrompue par Ctrl-C\n" : "")
          << std::flush;
  if (outcome.interrupted) return kExitInterrupted;
  if (request.viewer) env.platform.StartProcess(ViewerCommandLine(request.output));
  return kExitSuccess;
}

CLI::Option* AddModulationTypeOption(CLI::App& app, const std::string& name, ModulationType& type,
                                     const std::string& what) {
  std::string help = what + " :";
  for (int i = 0; i < kModulationTypeCount; ++i) {
    help += std::string(i == 0 ? " " : ", ") + std::to_string(i) + " " + kModulationTypeCaptions[i];
  }
  const CLI::Validator in_range(
      [](std::string& input) -> std::string {
        int value = -1;
        if (!CLI::detail::integral_conversion(input, value) || value < 0 ||
            value >= kModulationTypeCount) {
          return "type de MLI 0 à 5 attendu, lu « " + input + " »";
        }
        return {};
      },
      "");
  return app.add_option(name, type, help)->type_name("0..5")->check(in_range);
}

DsvpwmCommand::DsvpwmCommand(CLI::App& app) {
  const DoubleSvpwm defaults;
  command_ = app.add_subcommand(
      "dsvpwm",
      "Étude du modulateur double SVPWM hexaphasé : une période pour une référence (show), "
      "simulation autonome de six phases R-L (simulate).");
  command_->require_subcommand(1);
  command_->footer(kSimulateExitStatusHelp);

  const std::string mref_help =
      "Indice de modulation m, de -1 à 1 : Vdsref = m E/2 (4/pi) sqrt(3), Vqsref = 0";
  const std::string e2_help =
      "Demi-tension du bus continu E/2 en V (défaut " + FormatG(defaults.E2) + ")";
  const std::string tmli_help =
      "Demi-période de commutation TMLI en s (défaut " + FormatG(defaults.TMLI) + ")";

  show_ = command_->add_subcommand(
      "show",
      "Calcule le modulateur pour une référence et affiche le secteur, Vdsref, les codes et "
      "les instants de commutation des six bras et leurs états sur une période.");
  show_->footer(kShowExitStatusHelp);
  show_
      ->add_option("--theta", show_request_.theta,
                   "Angle de la référence en fraction de tour (0 à 1)")
      ->type_name("FRACTION")
      ->required()
      ->check(FiniteIn(0.0, 1.0));
  show_->add_option("--mref", show_request_.mref, mref_help)
      ->type_name("M")
      ->required()
      ->check(FiniteIn(-1.0, 1.0));
  AddModulationTypeOption(*show_, "--type", show_request_.type, "Type de MLI")->required();
  show_e2_ = show_->add_option("--e2", e2_, e2_help)->type_name("V")->check(PositiveFinite());
  show_tmli_ =
      show_->add_option("--tmli", tmli_, tmli_help)->type_name("S")->check(PositiveFinite());

  DsvpwmSimulateRequest& sim = simulate_request_;
  simulate_ = command_->add_subcommand(
      "simulate",
      "Simulation autonome : six phases R = 2 ohm, L = 0.01 H alimentées par le modulateur, "
      "référence à 50 Hz ; écrit la table " +
          std::string(kDsvpwmDebugFileName) + " (ou --output).");
  simulate_->footer(kSimulateExitStatusHelp);
  simulate_->add_option("--mref", sim.sim.m, mref_help)
      ->type_name("M")
      ->required()
      ->check(FiniteIn(-1.0, 1.0));
  AddModulationTypeOption(*simulate_, "--type", sim.type, "Type de MLI")->required();
  simulate_->add_option("--dt", sim.sim.dt, "Pas de calcul en s")->type_name("S")->required();
  simulate_->add_option("--tf", sim.sim.tf, "Temps final en s")->type_name("S")->required();
  simulate_e2_ =
      simulate_->add_option("--e2", e2_, e2_help)->type_name("V")->check(PositiveFinite());
  simulate_tmli_ =
      simulate_->add_option("--tmli", tmli_, tmli_help)->type_name("S")->check(PositiveFinite());
  simulate_
      ->add_option(
          "-o,--output", sim.output,
          "Table écrite (défaut " + std::string(kDsvpwmDebugFileName) + " dans le dossier courant)")
      ->type_name("CHEMIN");
  simulate_->add_flag("--viewer", sim.viewer,
                      "Lance le visualiseur de courbes sur la table à la fin");
}

bool DsvpwmCommand::Selected() const { return command_->parsed(); }

int DsvpwmCommand::Run(CliEnvironment& env) {
  if (show_->parsed()) {
    if (*show_e2_) show_request_.timing.E2 = e2_;
    if (*show_tmli_) show_request_.timing.TMLI = tmli_;
    return DsvpwmShowCommand(show_request_, env);
  }
  if (simulate_->parsed()) {
    if (*simulate_e2_) simulate_request_.timing.E2 = e2_;
    if (*simulate_tmli_) simulate_request_.timing.TMLI = tmli_;
    return DsvpwmSimulateCommand(simulate_request_, env);
  }
  return kExitUsage;
}

}  // namespace mas
