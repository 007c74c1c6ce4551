#include "cli/table_format_option.h"

#include <string>

namespace mas {

CLI::Option* AddTableFormatOption(CLI::App& app, TableFormat& format) {
  const CLI::Validator known(
      [](std::string& input) -> std::string {
        if (!ParseTableFormat(input)) return "text, csv ou mat attendu, lu « " + input + " »";
        return {};
      },
      "");
  return app
      .add_option_function<std::string>(
          "--table-format",
          [&format](const std::string& word) { format = *ParseTableFormat(word); },
          "Format des tables écrites : text (défaut, colonnes alignées), csv (virgules, point "
          "décimal) ou mat (MATLAB version 5) ; une table csv ou mat prend le nom de la table "
          "texte avec sa propre extension (sortie.csv, sortie.mat pour sortie.dat)")
      ->type_name("text|csv|mat")
      ->check(known);
}

}  // namespace mas
