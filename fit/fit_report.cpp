#include "fit/fit_report.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "files/number_format.h"
#include "platform/file_replacement.h"

namespace mas {
namespace {

std::string G(double x, int precision = 6) { return std::isnan(x) ? "-" : FormatG(x, precision); }

// Whole for any value: a correlation or a time far beyond the usual prints all its digits.
std::string Fixed(double x, int decimals) {
  return std::isfinite(x) ? FormatFixed(x, decimals) : G(x);
}

// Left-aligned in a column of `width` characters (counting UTF-8 characters).
std::string Pad(const std::string& s, std::size_t width) {
  std::size_t chars = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++chars;
  }
  return chars >= width ? s + " " : s + std::string(width - chars, ' ');
}

std::string EndText(FitEnd end) {
  switch (end) {
    case FitEnd::kConverged:
      return "convergence";
    case FitEnd::kIterationLimit:
      return "nombre maximal d'itérations atteint";
    case FitEnd::kInterrupted:
      return "interrompu par Ctrl-C (meilleur point atteint)";
    case FitEnd::kFailed:
      return "échec";
    case FitEnd::kRefused:
      return "refusé";
  }
  return "";
}

const char* Unit(int gene) {
  switch (gene) {
    case kGeneRs:
      return "Ω";
    case kGeneTs:
    case kGeneTr:
      return "s";
    case kGeneJ:
      return "kg m²";
    case kGeneA10:
      return "N m/(rad/s)²";
    case kGeneA20:
      return "N m/(rad/s)";
    case kGeneA30:
      return "N m";
    default:
      return "";
  }
}

}  // namespace

std::string FormatFitReport(const FitResult& r, const FitReportContext& c) {
  std::string s;
  s += "Ajustement de la trajectoire du démarrage (moindres carrés, Levenberg-Marquardt)\n";
  s += "Étude            : " + c.study + "\n";
  s += "Enregistrement   : " + c.record + "\n";
  s += "Fin              : " + EndText(r.end) + "\n";
  if (r.end == FitEnd::kRefused || r.end == FitEnd::kFailed) {
    s += "Motif            : " + r.message + "\n";
    return s;
  }
  s += "Comparaison      : " + std::to_string(r.instants) + " instants de " + G(r.compared_first) +
       " à " + G(r.compared_last) + " s, " + std::to_string(r.residuals) + " résidus (vitesse" +
       (r.speed_compared ? "" : " non comparée") + ", " +
       (r.max_of_current ? "max de Ias" : "Ias") + (r.current_compared ? "" : " non comparé") +
       ")\n";
  const int starts = static_cast<int>(r.starts.size());
  s += "Départs          : " + std::to_string(starts) + " (graine " + std::to_string(c.seed) +
       "), meilleur atteint par " + std::to_string(r.starts_reaching_best) + " départ" +
       (r.starts_reaching_best > 1 ? "s" : "") + " (départ " + std::to_string(r.best_start) + ")\n";
  s += "Calcul           : " + std::to_string(r.iterations) + " itérations, " +
       std::to_string(r.runs) + " simulations (" + std::to_string(r.diverged_trials) +
       " divergées), " + Fixed(r.seconds, 2) + " s sur " + std::to_string(c.threads) + " fil" +
       (c.threads > 1 ? "s" : "") + "\n";
  s += "Coût             : " + G(r.initial_cost) + " au départ, " + G(r.cost) +
       " à la fin (1/2 somme des carrés, chaque signal rapporté à son étendue mesurée)\n";
  s += "Écart rms        : vitesse " + G(r.speed_rms, 4) + " tr/mn (" +
       G(100.0 * r.speed_rms / r.speed_range, 3) + " % de l'étendue " + G(r.speed_range, 5) +
       "), courant " + G(r.current_rms, 4) + " A (" +
       G(100.0 * r.current_rms / r.current_range, 3) + " % de l'étendue " + G(r.current_range, 5) +
       ")\n";

  s += "\n" + Pad("Paramètre", 11) + Pad("Valeur", 14) + Pad("Écart-type", 13) +
       Pad("Intervalle à 95 %", 30) + Pad("Départ", 12) + "Unité\n";
  for (int j = 0; j < NGenes; ++j) {
    const auto ju = static_cast<std::size_t>(j);
    s += "  " + Pad(kGeneNames[ju], 9);
    const auto it = std::find_if(r.parameters.begin(), r.parameters.end(),
                                 [j](const FittedParameter& p) { return p.gene == j; });
    if (it == r.parameters.end()) {
      s += Pad(G(r.genes[ju]), 14) + Pad("(tenu)", 43) + Pad(G(r.guess[ju]), 12) + Unit(j) + "\n";
      continue;
    }
    std::string flag;
    if (it->at_bound) flag = "  à sa borne 0";
    if (!it->identifiable) flag += "  non identifiable";
    s += Pad(G(it->value), 14) + Pad(G(it->standard_error, 3), 13) +
         Pad("[" + G(it->lower95) + ", " + G(it->upper95) + "]", 30) + Pad(G(r.guess[ju]), 12) +
         Unit(j) + flag + "\n";
  }
  const MachineValues& m = r.machine;
  s += "\nMachine          : Rs " + G(m.Rs) + " Ω, Rr " + G(m.Rr) + " Ω, Ls " + G(m.Ls) +
       " H, Lr " + G(m.Lr) + " H, M " + G(m.M) + " H, J " + G(m.J) + " kg m², a10 " + G(m.a10) +
       ", a20 " + G(m.a20) + ", a30 " + G(m.a30) + "\n";

  if (r.statistics && !r.correlation.empty()) {
    s += "\nCorrélations\n" + std::string(11, ' ');
    for (const FittedParameter& p : r.parameters) {
      s += Pad(kGeneNames[static_cast<std::size_t>(p.gene)], 8);
    }
    s += "\n";
    for (std::size_t j = 0; j < r.parameters.size(); ++j) {
      s += "  " + Pad(kGeneNames[static_cast<std::size_t>(r.parameters[j].gene)], 9);
      for (std::size_t k = 0; k < r.parameters.size(); ++k) {
        s += Pad(Fixed(r.correlation[j][k], 3), 8);
      }
      s += "\n";
    }
    s += "Conditionnement inverse de JᵀJ (colonnes normées) : " + G(r.reciprocal_condition, 3) +
         "\n";
  } else {
    s += "\nIncertitudes non calculées (ajustement interrompu avant le jacobien du meilleur "
         "point)\n";
  }
  if (r.statistics) {
    if (r.warnings.empty()) {
      s += "\nIdentifiabilité : chaque paramètre ajusté est identifié par l'enregistrement\n";
    } else {
      s += "\nAttention, paramètres que l'enregistrement ne permet pas d'identifier :\n";
      for (const std::string& w : r.warnings) s += "  - " + w + "\n";
    }
  }
  if (!r.notes.empty()) {
    s += "\nNotes\n";
    for (const std::string& n : r.notes) s += "  - " + n + "\n";
  }
  if (starts > 1) {
    s += "\nDéparts\n";
    for (int k = 0; k < starts; ++k) {
      const StartSummary& st = r.starts[static_cast<std::size_t>(k)];
      s += "  " + std::to_string(k) + "  coût " + G(st.initial_cost) + " -> " + G(st.cost) + "  " +
           std::to_string(st.iterations) + " itérations" + (st.reached_best ? "  meilleur" : "") +
           (st.usable ? "" : "  (départ divergent)") + "\n";
    }
  }
  return s;
}

bool WriteFitReport(const std::string& path, const std::string& text) {
  return ReplaceFileContents(path, text);
}

}  // namespace mas
