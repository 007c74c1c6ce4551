#include "identification/experimental_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

namespace mas {
namespace {

constexpr const char* kCaption = "Erreur de lecture";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Names of the header, separated by spaces and tabs.
int CountHeaderNames(std::string_view header) {
  int count = 0;
  bool in_name = false;
  for (char c : header) {
    const bool separator = c == ' ' || c == '\t';
    if (!separator && !in_name) ++count;
    in_name = !separator;
  }
  return count;
}

// A whole word as a finite number with a point as decimal separator; false otherwise.
bool ParseNumber(std::string_view word, double& value) {
  if (word.size() > 1 && word[0] == '+' && word[1] != '-' && word[1] != '+') {
    word.remove_prefix(1);
  }
  const char* first = word.data();
  const char* last = first + word.size();
  const auto r = std::from_chars(first, last, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == last && std::isfinite(value);
}

int LineOf(std::string_view text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// Counts the lines of `text` from `begin` to `end` (whole lines, numbered from
// `first_line`) that hold some words but not `columns` of them.
void CountRaggedLines(std::string_view text, std::size_t begin, std::size_t end, int first_line,
                      int columns, ExperimentalReadResult& result) {
  int line = first_line;
  while (begin < end) {
    const std::size_t line_end = std::min(text.find('\n', begin), end);
    int words = 0;
    bool in_word = false;
    for (std::size_t i = begin; i < line_end; ++i) {
      const bool space = IsSpace(text[i]);
      if (!space && !in_word) ++words;
      in_word = !space;
    }
    if (words != 0 && words != columns) {
      if (result.ragged_lines++ == 0) {
        result.first_ragged_line = line;
        result.first_ragged_count = words;
      }
    }
    begin = line_end + 1;
    ++line;
  }
}

}  // namespace

ExperimentalReadResult ReadExperimentalFile(SimulationSettings& s, ExperimentalData& d,
                                            Platform& platform) {
  s.GenX.fill(true);
  d.ExpTime.clear();
  d.ExpWm.clear();
  d.ExpIas.clear();

  ExperimentalReadResult result;
  auto fail = [&](ExperimentalReadStatus status, std::string message) {
    result.status = status;
    result.message = std::move(message);
    platform.ShowMessage(result.message, kCaption, MessageIcon::kStop);
    return result;
  };

  std::ifstream in(s.ExpNom, std::ios::binary);
  if (!in) {
    return fail(ExperimentalReadStatus::kNotFound, "Fichier : " + s.ExpNom + " introuvable");
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string_view all(text);

  const std::size_t header_end = std::min(all.find('\n'), all.size());
  std::string_view header = all.substr(0, header_end);
  if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
  if (header.empty() || header.size() > static_cast<std::size_t>(kExperimentalHeaderMax)) {
    return fail(ExperimentalReadStatus::kHeaderRejected, "Ligne d'entete trop longue");
  }
  const int columns = CountHeaderNames(header);
  result.columns = columns;
  // A negative index would silently leave its column empty: it is refused as well.
  if (!(columns > s.ExpWmCol && columns > s.ExpIasCol && s.ExpWmCol >= 0 && s.ExpIasCol >= 0)) {
    return fail(ExperimentalReadStatus::kBadColumns, "Probleme de n° de colones");
  }

  // The numbers, one word at a time; position in the row = count modulo the columns.
  std::size_t pos = std::min(header_end + 1, all.size());
  long long count = 0;
  int complete_rows = 0;
  std::size_t stop = all.size();  // where the reading ended
  result.status = ExperimentalReadStatus::kRead;
  while (true) {
    while (pos < all.size() && IsSpace(all[pos])) ++pos;
    if (pos >= all.size()) break;
    std::size_t end = pos;
    while (end < all.size() && !IsSpace(all[end])) ++end;
    // A number that runs into the end of the file is not kept.
    if (end >= all.size()) break;
    const std::string_view word = all.substr(pos, end - pos);
    double value = 0.0;
    if (!ParseNumber(word, value)) {
      stop = pos;
      // Only complete rows are kept: drop what the cut row had stored.
      const auto rows = static_cast<std::size_t>(complete_rows);
      for (auto* a : {&d.ExpTime, &d.ExpWm, &d.ExpIas}) {
        if (a->size() > rows) a->resize(rows);
      }
      result.status = ExperimentalReadStatus::kStoppedAtBadValue;
      constexpr std::size_t kShown = 40;
      const std::string shown(word.substr(0, kShown));
      result.message = "Valeur non numérique « " + shown + (word.size() > kShown ? "…" : "") +
                       " » ligne " + std::to_string(LineOf(all, pos)) + " de " + s.ExpNom +
                       " : lecture arrêtée, " + std::to_string(complete_rows) +
                       " lignes complètes gardées";
      platform.ShowMessage(result.message, kCaption, MessageIcon::kExclamation);
      break;
    }
    const int i = static_cast<int>(count % columns);
    // Independent tests: a column index 0 also feeds the time.
    if (i == 0) d.ExpTime.push_back(value);
    if (i == s.ExpWmCol) d.ExpWm.push_back(value);
    if (i == s.ExpIasCol) d.ExpIas.push_back(value);
    if (i == columns - 1) ++complete_rows;
    ++count;
    pos = end;
  }
  result.complete_rows = complete_rows;

  // The numbers are read in sequence whatever the lines, so one stray or missing value
  // shifts every later one into the wrong column without a word: the lines read whose
  // count differs from the header's are pointed out (the line a bad word cut is not).
  const std::size_t first = std::min(header_end + 1, all.size());
  const std::size_t stop_line = stop == all.size() ? stop : all.rfind('\n', stop) + 1;
  CountRaggedLines(all, first, std::max(first, stop_line), 2, columns, result);
  if (result.ragged_lines > 0) {
    platform.ShowMessage(
        "Lignes irrégulières dans " + s.ExpNom + " : la ligne " +
            std::to_string(result.first_ragged_line) + " a " +
            std::to_string(result.first_ragged_count) + " nombres au lieu de " +
            std::to_string(columns) + " (" + std::to_string(result.ragged_lines) +
            (result.ragged_lines > 1 ? " lignes" : " ligne") +
            " de ce genre) ; les nombres sont lus à la suite, les colonnes peuvent être "
            "décalées",
        "Attention", MessageIcon::kExclamation);
  }
  return result;
}

}  // namespace mas
