#include "fit/fit_report.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>
#include <vector>

#include "files/number_format.h"
#include "platform/file_replacement.h"

namespace mas {
namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

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

std::string NoiseText(double noise, double floor_reached, const char* unit) {
  return "σ = " + G(noise, 4) + " " + unit + (floor_reached ? " (plancher)" : "");
}

}  // namespace

std::string FitParameterUnit(int gene) { return Unit(gene); }

std::string IntervalMethodName(const FitResult& r) {
  if (!r.statistics) return "";
  return r.interval_method == IntervalMethod::kNeweyWest ? "Newey-West" : "bruit blanc";
}

std::string FitWeightsText(const FitResult& r) {
  return "vitesse " + NoiseText(r.speed_noise, r.speed_noise_at_floor, "tr/mn") + ", courant " +
         NoiseText(r.current_noise, r.current_noise_at_floor, "A") +
         " (niveaux de bruit estimés sur les résidus, " + std::to_string(r.reweights) +
         " repondération" + (r.reweights > 1 ? "s" : "") + ")";
}

std::string FitRmsText(const FitResult& r) {
  return "vitesse " + G(r.speed_rms, 4) + " tr/mn (" + G(100.0 * r.speed_rms / r.speed_range, 3) +
         " % de l'étendue " + G(r.speed_range, 5) + "), courant " + G(r.current_rms, 4) + " A (" +
         G(100.0 * r.current_rms / r.current_range, 3) + " % de l'étendue " +
         G(r.current_range, 5) + ")";
}

std::vector<std::string> FittedParameterFlags(const FittedParameter& p) {
  std::vector<std::string> flags;
  if (p.at_bound) flags.emplace_back("à sa borne 0");
  if (!p.identifiable) flags.emplace_back("non identifiable");
  return flags;
}

std::string NoUncertaintyText() {
  return "Incertitudes non calculées (ajustement interrompu avant le jacobien du meilleur point)";
}

std::vector<std::string> IdentifiabilityLines(const FitResult& r) {
  if (!r.statistics) return {};
  if (r.warnings.empty()) {
    return {"Identifiabilité : chaque paramètre ajusté est identifié par l'enregistrement"};
  }
  std::vector<std::string> lines{
      "Attention, paramètres que l'enregistrement ne permet pas d'identifier :"};
  for (const std::string& w : r.warnings) lines.push_back("  - " + w);
  return lines;
}

std::string IntervalMethodText(const FitResult& r) {
  if (r.interval_method == IntervalMethod::kNeweyWest) {
    return "sandwich de Newey-West (résidus corrélés, noyau de Bartlett sur " +
           std::to_string(r.hac_window) + " instants, temps d'autocorrélation intégré " +
           G(r.autocorrelation_time, 3) + " instants)";
  }
  return "bruit blanc, σ² (JᵀJ)⁻¹ (trop peu d'instants pour estimer la corrélation)";
}

std::string BootstrapMethodText(const FitResult& r) {
  const BootstrapSummary& b = r.bootstrap;
  std::string lengths;
  for (std::size_t k = 0; k < b.block_length.size(); ++k) {
    lengths += (k ? ", " : "") + std::to_string(b.block_length[k]);
  }
  std::string text = "bootstrap par blocs mobiles (" + std::to_string(b.requested) +
                     " rééchantillonnages des résidus par blocs de " + lengths +
                     " instants ajoutés à la trajectoire ajustée, chacun réajusté depuis le "
                     "meilleur point ; percentiles 2.5 et 97.5 %) : " +
                     std::to_string(b.used) + " réajustement" + (b.used > 1 ? "s" : "") +
                     " convergé" + (b.used > 1 ? "s" : "");
  if (b.diverged > 0) text += ", " + std::to_string(b.diverged) + " divergé(s) et écarté(s)";
  if (b.not_converged > 0) {
    text += ", " + std::to_string(b.not_converged) + " non convergé(s) et écarté(s)";
  }
  if (b.interrupted) text += ", interrompu par Ctrl-C";
  return text;
}

std::string BootstrapReliabilityText(const FitResult& r) {
  const BootstrapSummary& b = r.bootstrap;
  if (b.reliable) return {};
  if (b.used == 0) return "Aucun réajustement n'a convergé : pas d'intervalle bootstrap";
  return "Intervalles bootstrap peu fiables : " + std::to_string(b.used) + " réajustements sur " +
         std::to_string(b.requested) + " ont convergé (il en faut au moins 20 et 90 % des " +
         "rééchantillonnages)";
}

std::string ProfileMethodText(const FitResult& r) {
  return "vraisemblance profilée des paramètres corrélés à plus de 0.99 avec un autre (paramètre "
         "tenu, les autres réajustés ; bornes où la somme des carrés monte de 3.84 fois la "
         "variance du bruit des intervalles par défaut, encadrées puis bissectées) : " +
         std::to_string(r.profile.runs) + " simulations";
}

namespace {

std::string ProfileInterval(const ProfiledParameter& p) {
  return "[" + std::string(p.lower_open ? "< " : "") + G(p.lower95) + ", " +
         (p.upper_open ? "> " : "") + G(p.upper95) + "]";
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
  const bool state = r.residual_kind == ResidualKind::kMachineState;
  s += std::string("Résidus          : ") +
       (state ? "état de la machine (vitesse mécanique et courant de phase) aux instants de "
                "l'enregistrement (--residuals etat)"
              : "termes du coût d'identification aux pas enregistrés (--residuals cout)") +
       "\n";
  s += "Comparaison      : " + std::to_string(r.instants) + " instants de " + G(r.compared_first) +
       " à " + G(r.compared_last) + " s, " + std::to_string(r.residuals) + " résidus (vitesse" +
       (r.speed_compared ? "" : " non comparée") + ", " +
       (r.max_of_current ? "max de Ias" : "Ias") + (r.current_compared ? "" : " non comparé") +
       ")\n";
  if (state) {
    s += "Poids            : " + FitWeightsText(r) + "\n";
  }
  const int starts = static_cast<int>(r.starts.size());
  s += "Départs          : " + std::to_string(starts) + " (graine " + std::to_string(c.seed) +
       "), meilleur atteint par " + std::to_string(r.starts_reaching_best) + " départ" +
       (r.starts_reaching_best > 1 ? "s" : "") + " (départ " + std::to_string(r.best_start) + ")\n";
  s += "Calcul           : " + std::to_string(r.iterations) + " itérations, " +
       std::to_string(r.runs) + " simulations (" + std::to_string(r.diverged_trials) +
       " divergées), " + Fixed(r.seconds, 2) + " s sur " + std::to_string(c.threads) + " fil" +
       (c.threads > 1 ? "s" : "") + "\n";
  s += "Coût             : " + G(r.initial_cost) + " au départ, " + G(r.cost) +
       (state ? " à la fin (1/2 somme des carrés, chaque signal rapporté à son niveau de bruit ; "
                "le coût de départ avec les premiers poids)\n"
              : " à la fin (1/2 somme des carrés, chaque signal rapporté à son étendue mesurée)\n");
  s += "Écart rms        : " + FitRmsText(r) +
       (r.records.size() > 1 ? " sur l'ensemble des enregistrements" : "") + "\n";
  if (r.records.size() > 1) {
    // One line per record: what it compared, its errors and (machine state) its weights.
    std::size_t width = 16;
    for (const RecordFit& rec : r.records) width = std::max(width, rec.name.size() + 4);
    s += "\n" + Pad("Enregistrement", width) + Pad("Instants", 10) + Pad("Vitesse rms", 14) +
         Pad("Courant rms", 14) + (state ? Pad("σ vitesse", 14) + "σ courant" : std::string()) +
         "\n";
    for (const RecordFit& rec : r.records) {
      s += "  " + Pad(rec.name, width - 2) + Pad(std::to_string(rec.instants), 10) +
           Pad(rec.speed_compared ? G(rec.speed_rms, 4) + " tr/mn" : "-", 14) +
           Pad(rec.current_compared ? G(rec.current_rms, 4) + " A" : "-", 14);
      if (state) {
        s += Pad(G(rec.speed_noise, 4) + " tr/mn" + (rec.speed_noise_at_floor ? " (plancher)" : ""),
                 14) +
             G(rec.current_noise, 4) + " A" + (rec.current_noise_at_floor ? " (plancher)" : "");
      }
      s += "\n";
    }
  }

  if (r.statistics) s += "Intervalles      : " + IntervalMethodText(r) + "\n";
  if (r.bootstrap.requested > 0) s += "Bootstrap        : " + BootstrapMethodText(r) + "\n";
  if (r.profile.asked) s += "Profil           : " + ProfileMethodText(r) + "\n";
  s += "\n" + Pad("Paramètre", 11) + Pad("Valeur", 14) + Pad("Écart-type", 13) +
       Pad("Intervalle à 95 %", 30) + Pad("É.-t. blanc", 13) + Pad("Départ", 12) + "Unité\n";
  for (int j = 0; j < NGenes; ++j) {
    const auto ju = static_cast<std::size_t>(j);
    s += "  " + Pad(kGeneNames[ju], 9);
    const auto it = std::find_if(r.parameters.begin(), r.parameters.end(),
                                 [j](const FittedParameter& p) { return p.gene == j; });
    if (it == r.parameters.end()) {
      s += Pad(G(r.genes[ju]), 14) + Pad(r.optimised[ju] ? "(non ajusté)" : "(tenu)", 56) +
           Pad(G(r.guess[ju]), 12) + Unit(j) + "\n";
      continue;
    }
    std::string flag;
    for (const std::string& f : FittedParameterFlags(*it)) flag += "  " + f;
    s += Pad(G(it->value), 14) + Pad(G(it->standard_error, 3), 13) +
         Pad("[" + G(it->lower95) + ", " + G(it->upper95) + "]", 30) +
         Pad(G(it->white_error, 3), 13) + Pad(G(r.guess[ju]), 12) + Unit(j) + flag + "\n";
  }
  if (r.bootstrap.requested > 0) {
    const BootstrapSummary& b = r.bootstrap;
    s += "\nIntervalles bootstrap (blocs mobiles, percentiles, " + std::to_string(b.used) +
         " sur " + std::to_string(b.requested) + " réajustements)\n";
    if (!b.parameters.empty()) {
      s += Pad("Paramètre", 11) + Pad("Écart-type", 13) + Pad("Intervalle à 95 %", 30) +
           "Rapport des demi-largeurs bootstrap / défaut\n";
    }
    for (const ResampledParameter& p : b.parameters) {
      const auto it = std::find_if(r.parameters.begin(), r.parameters.end(),
                                   [&p](const FittedParameter& q) { return q.gene == p.gene; });
      const double ratio = it == r.parameters.end()
                               ? kNoValue
                               : (p.upper95 - p.lower95) / (it->upper95 - it->lower95);
      s += "  " + Pad(kGeneNames[static_cast<std::size_t>(p.gene)], 9) +
           Pad(G(p.standard_error, 3), 13) +
           Pad("[" + G(p.lower95) + ", " + G(p.upper95) + "]", 30) + G(ratio, 3) + "\n";
    }
    if (const std::string warning = BootstrapReliabilityText(r); !warning.empty()) {
      s += "Attention : " + warning + "\n";
    }
  }
  if (r.profile.asked) {
    s += "\nIntervalles de vraisemblance profilée\n";
    if (r.profile.parameters.empty()) {
      s += "  Aucun paramètre corrélé à plus de 0.99 avec un autre : pas de profil\n";
    } else {
      s += Pad("Paramètre", 11) + Pad("Intervalle à 95 %", 34) + "Réajustements\n";
    }
    for (const ProfiledParameter& p : r.profile.parameters) {
      s += "  " + Pad(kGeneNames[static_cast<std::size_t>(p.gene)], 9) +
           Pad(ProfileInterval(p), 34) + std::to_string(p.refits) +
           (p.unconverged > 0 ? " (" + std::to_string(p.unconverged) + " non convergés)" : "") +
           (p.lower_open || p.upper_open ? "  borne non atteinte" : "") + "\n";
    }
    if (r.profile.interrupted) s += "Attention : profil interrompu par Ctrl-C\n";
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
    s += "\n" + NoUncertaintyText() + "\n";
  }
  const std::vector<std::string> identifiability = IdentifiabilityLines(r);
  if (!identifiability.empty()) s += "\n";
  for (const std::string& line : identifiability) s += line + "\n";
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

namespace {

std::string JsonNumber(double x) {
  if (!std::isfinite(x)) return "null";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonBool(bool b) { return b ? "true" : "false"; }

std::string JsonStrings(const std::vector<std::string>& list) {
  std::string out = "[";
  for (std::size_t k = 0; k < list.size(); ++k) out += (k ? ", " : "") + JsonString(list[k]);
  return out + "]";
}

const char* EndKey(FitEnd end) {
  switch (end) {
    case FitEnd::kConverged:
      return "converged";
    case FitEnd::kIterationLimit:
      return "iteration_limit";
    case FitEnd::kInterrupted:
      return "interrupted";
    case FitEnd::kFailed:
      return "failed";
    case FitEnd::kRefused:
      return "refused";
  }
  return "";
}

}  // namespace

std::string FormatFitReportJson(const FitResult& r, const FitReportContext& c) {
  const bool state = r.residual_kind == ResidualKind::kMachineState;
  const bool ran = r.end != FitEnd::kRefused && r.end != FitEnd::kFailed;
  std::string s = "{\n";
  s += "  \"study\": " + JsonString(c.study) + ",\n";
  s += "  \"record\": " + JsonString(c.record) + ",\n";
  s += "  \"end\": \"" + std::string(EndKey(r.end)) + "\",\n";
  s += "  \"end_text\": " + JsonString(EndText(r.end)) + ",\n";
  s += "  \"message\": " + JsonString(r.message) + ",\n";
  s += "  \"seed\": " + std::to_string(c.seed) + ",\n";
  s += "  \"threads\": " + std::to_string(c.threads) + ",\n";
  s += std::string("  \"residuals\": \"") + (state ? "etat" : "cout") + "\",\n";
  if (ran) {
    s += "  \"instants\": " + std::to_string(r.instants) + ",\n";
    s += "  \"residual_count\": " + std::to_string(r.residuals) + ",\n";
    s += "  \"compared\": [" + JsonNumber(r.compared_first) + ", " + JsonNumber(r.compared_last) +
         "],\n";
    s += "  \"simulated_until\": " + JsonNumber(r.simulated_until) + ",\n";
    s += "  \"iterations\": " + std::to_string(r.iterations) + ",\n";
    s += "  \"simulations\": " + std::to_string(r.runs) + ",\n";
    s += "  \"seconds\": " + JsonNumber(r.seconds) + ",\n";
    s += "  \"initial_cost\": " + JsonNumber(r.initial_cost) + ",\n";
    s += "  \"cost\": " + JsonNumber(r.cost) + ",\n";
    s += "  \"rms\": {\"speed\": " + JsonNumber(r.speed_compared ? r.speed_rms : kNoValue) +
         ", \"current\": " + JsonNumber(r.current_compared ? r.current_rms : kNoValue) +
         ", \"speed_unit\": \"tr/mn\", \"current_unit\": \"A\"},\n";
    s += "  \"records\": [";
    for (std::size_t k = 0; k < r.records.size(); ++k) {
      const RecordFit& rec = r.records[k];
      s += std::string(k > 0 ? ",\n    " : "\n    ") + "{\"record\": " + JsonString(rec.name) +
           ", \"instants\": " + std::to_string(rec.instants) + ", \"compared\": [" +
           JsonNumber(rec.compared_first) + ", " + JsonNumber(rec.compared_last) + "]" +
           ", \"rms\": {\"speed\": " + JsonNumber(rec.speed_compared ? rec.speed_rms : kNoValue) +
           ", \"current\": " + JsonNumber(rec.current_compared ? rec.current_rms : kNoValue) + "}" +
           ", \"ranges\": {\"speed\": " + JsonNumber(rec.speed_range) +
           ", \"current\": " + JsonNumber(rec.current_range) + "}" + ", \"weights\": " +
           (state ? "{\"speed_noise\": " + JsonNumber(rec.speed_noise) +
                        ", \"current_noise\": " + JsonNumber(rec.current_noise) +
                        ", \"speed_at_floor\": " + JsonBool(rec.speed_noise_at_floor) +
                        ", \"current_at_floor\": " + JsonBool(rec.current_noise_at_floor) + "}"
                  : std::string("null")) +
           "}";
    }
    s += r.records.empty() ? "],\n" : "\n  ],\n";
    s += "  \"ranges\": {\"speed\": " + JsonNumber(r.speed_range) +
         ", \"current\": " + JsonNumber(r.current_range) + "},\n";
    if (state) {
      s += "  \"weights\": {\"speed_noise\": " + JsonNumber(r.speed_noise) +
           ", \"current_noise\": " + JsonNumber(r.current_noise) +
           ", \"speed_at_floor\": " + JsonBool(r.speed_noise_at_floor) +
           ", \"current_at_floor\": " + JsonBool(r.current_noise_at_floor) +
           ", \"reweights\": " + std::to_string(r.reweights) + "},\n";
    } else {
      s += "  \"weights\": null,\n";
    }
    const char* method = !r.statistics                                     ? "none"
                         : r.interval_method == IntervalMethod::kNeweyWest ? "newey-west"
                                                                           : "white";
    s += "  \"interval_method\": {\"name\": \"" + std::string(method) +
         "\", \"text\": " + JsonString(r.statistics ? IntervalMethodText(r) : "") +
         ", \"window\": " + std::to_string(r.hac_window) +
         ", \"autocorrelation_time\": " + JsonNumber(r.autocorrelation_time) + "},\n";
    s += "  \"parameters\": [";
    for (std::size_t k = 0; k < r.parameters.size(); ++k) {
      const FittedParameter& p = r.parameters[k];
      s += std::string(k ? "," : "") +
           "\n    {\"name\": " + JsonString(kGeneNames[static_cast<std::size_t>(p.gene)]) +
           ", \"unit\": " + JsonString(Unit(p.gene)) + ", \"value\": " + JsonNumber(p.value) +
           ", \"standard_error\": " + JsonNumber(p.standard_error) +
           ", \"lower95\": " + JsonNumber(p.lower95) + ", \"upper95\": " + JsonNumber(p.upper95) +
           ", \"method\": \"" + method +
           "\", \"white_standard_error\": " + JsonNumber(p.white_error) +
           ", \"start\": " + JsonNumber(r.guess[static_cast<std::size_t>(p.gene)]) +
           ", \"identifiable\": " + JsonBool(p.identifiable) +
           ", \"at_bound\": " + JsonBool(p.at_bound) + "}";
    }
    s += "\n  ],\n";
    if (r.bootstrap.requested > 0) {
      const BootstrapSummary& b = r.bootstrap;
      s += "  \"bootstrap\": {\"method\": \"moving-block\", \"text\": " +
           JsonString(BootstrapMethodText(r)) + ", \"requested\": " + std::to_string(b.requested) +
           ", \"used\": " + std::to_string(b.used) +
           ", \"diverged\": " + std::to_string(b.diverged) +
           ", \"not_converged\": " + std::to_string(b.not_converged) +
           ", \"interrupted\": " + JsonBool(b.interrupted) +
           ", \"reliable\": " + JsonBool(b.reliable) + ", \"block_length\": [";
      for (std::size_t k = 0; k < b.block_length.size(); ++k) {
        s += (k ? ", " : "") + std::to_string(b.block_length[k]);
      }
      s += "], \"simulations\": " + std::to_string(b.runs) +
           ", \"seconds\": " + JsonNumber(b.seconds) + ", \"parameters\": [";
      for (std::size_t k = 0; k < b.parameters.size(); ++k) {
        const ResampledParameter& p = b.parameters[k];
        s += std::string(k ? "," : "") +
             "\n    {\"name\": " + JsonString(kGeneNames[static_cast<std::size_t>(p.gene)]) +
             ", \"standard_error\": " + JsonNumber(p.standard_error) +
             ", \"lower95\": " + JsonNumber(p.lower95) + ", \"upper95\": " + JsonNumber(p.upper95) +
             ", \"method\": \"bootstrap\"}";
      }
      s += b.parameters.empty() ? "]},\n" : "\n  ]},\n";
    } else {
      s += "  \"bootstrap\": null,\n";
    }
    if (r.profile.asked) {
      s += "  \"profile\": {\"method\": \"profile-likelihood\", \"text\": " +
           JsonString(ProfileMethodText(r)) +
           ", \"interrupted\": " + JsonBool(r.profile.interrupted) +
           ", \"simulations\": " + std::to_string(r.profile.runs) +
           ", \"seconds\": " + JsonNumber(r.profile.seconds) + ", \"parameters\": [";
      for (std::size_t k = 0; k < r.profile.parameters.size(); ++k) {
        const ProfiledParameter& p = r.profile.parameters[k];
        s += std::string(k ? "," : "") +
             "\n    {\"name\": " + JsonString(kGeneNames[static_cast<std::size_t>(p.gene)]) +
             ", \"lower95\": " + JsonNumber(p.lower95) + ", \"upper95\": " + JsonNumber(p.upper95) +
             ", \"lower_open\": " + JsonBool(p.lower_open) +
             ", \"upper_open\": " + JsonBool(p.upper_open) +
             ", \"refits\": " + std::to_string(p.refits) +
             ", \"unconverged\": " + std::to_string(p.unconverged) + ", \"method\": \"profile\"}";
      }
      s += r.profile.parameters.empty() ? "]},\n" : "\n  ]},\n";
    } else {
      s += "  \"profile\": null,\n";
    }
    s += "  \"held\": {";
    bool first = true;
    for (int j = 0; j < NGenes; ++j) {
      if (r.optimised[static_cast<std::size_t>(j)]) continue;
      s += std::string(first ? "" : ", ") + JsonString(kGeneNames[static_cast<std::size_t>(j)]) +
           ": " + JsonNumber(r.genes[static_cast<std::size_t>(j)]);
      first = false;
    }
    s += "},\n  \"correlation\": [";
    for (std::size_t j = 0; j < r.correlation.size(); ++j) {
      s += std::string(j ? ", " : "") + "[";
      for (std::size_t k = 0; k < r.correlation[j].size(); ++k) {
        s += (k ? ", " : "") + JsonNumber(r.correlation[j][k]);
      }
      s += "]";
    }
    s += "],\n";
    s += "  \"reciprocal_condition\": " + JsonNumber(r.reciprocal_condition) + ",\n";
    const MachineValues& m = r.machine;
    s += "  \"machine\": {\"Rs\": " + JsonNumber(m.Rs) + ", \"Rr\": " + JsonNumber(m.Rr) +
         ", \"Ls\": " + JsonNumber(m.Ls) + ", \"Lr\": " + JsonNumber(m.Lr) +
         ", \"M\": " + JsonNumber(m.M) + ", \"J\": " + JsonNumber(m.J) +
         ", \"a10\": " + JsonNumber(m.a10) + ", \"a20\": " + JsonNumber(m.a20) +
         ", \"a30\": " + JsonNumber(m.a30) + "},\n";
  }
  s += "  \"warnings\": " + JsonStrings(r.warnings) + ",\n";
  s += "  \"notes\": " + JsonStrings(r.notes) + "\n";
  return s + "}\n";
}

bool IsJsonReportPath(const std::string& path) {
  if (path.size() < 5) return false;
  std::string ext = path.substr(path.size() - 5);
  for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return ext == ".json";
}

bool WriteFitReport(const std::string& path, const std::string& text) {
  return ReplaceFileContents(path, text);
}

}  // namespace mas
