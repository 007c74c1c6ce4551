#include "cli/settings_command.h"

#include <CLI/CLI.hpp>

#include "files/settings_description.h"

namespace mas {

SettingsSubcommand::SettingsSubcommand(CLI::App& app) {
  settings_ = app.add_subcommand(
      "settings",
      "Liste les paramètres que --set accepte : nom, unité (- sans unité), valeurs admises, "
      "valeur par défaut (étude sans fichier), groupe (enregistrement du fichier d'étude ou "
      "thème) et signification.");
  settings_
      ->add_option("pattern", pattern_,
                   "Ne liste que les noms choisis : motif du shell avec * ou ? (« OutSel.* »), "
                   "sinon les noms qui contiennent le texte, sans distinguer la casse")
      ->type_name("MOTIF");
  settings_->footer(
      "Codes de sortie :\n"
      "  0    au moins un nom listé\n"
      "  2    aucun nom ne correspond au motif\n");
}

bool SettingsSubcommand::Selected() const { return settings_->parsed(); }

int SettingsSubcommand::Run(CliEnvironment& env) const {
  const auto settings = DescribeSettings(pattern_);
  if (settings.empty()) {
    env.err << "Erreur: aucun paramètre ne correspond à « " << pattern_ << " »\n";
    return kExitUsage;
  }
  env.out << FormatSettings(settings);
  return kExitSuccess;
}

}  // namespace mas
