#pragma once
// Reading a table of curves: the output tables of the runs and the measured start-up
// records. The first line names the columns (white-space separated); the numbers follow
// in rows of that many, separated by spaces, tabs or line ends (a row may be spread over
// several lines), written with a decimal point whatever the locale, in decimal or
// exponent form, with an optional sign; "inf" and "nan" are read as such.
//
// A word that is no number ends the reading with an error naming its line and column. A
// last row cut short (a record whose writer stopped mid-row) is left out and counted,
// so that every column has the same length.

#include <stdexcept>
#include <string>
#include <vector>

namespace mas::python {

struct TableReadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TextTable {
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;  // one per name, all of one length
  long long dropped_values = 0;              // values of an incomplete last row
};

// Throws TableReadError: "Impossible d'ouvrir le fichier NAME", a file without header
// ("Erreur de lecture !!! NAME : ligne d'en-tête vide") or a word that is no number
// ("Erreur de lecture !!! NAME : ligne L, colonne C : nombre attendu, lu « w »").
TextTable ReadTextTable(const std::string& path);

}  // namespace mas::python
