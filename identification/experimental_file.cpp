#include "identification/experimental_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "tables/table_file.h"

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

// The names of the header, separated by spaces and tabs.
std::vector<std::string_view> HeaderNames(std::string_view header) {
  std::vector<std::string_view> names;
  std::size_t pos = 0;
  while (pos < header.size()) {
    while (pos < header.size() && (header[pos] == ' ' || header[pos] == '\t')) ++pos;
    const std::size_t begin = pos;
    while (pos < header.size() && header[pos] != ' ' && header[pos] != '\t') ++pos;
    if (pos > begin) names.push_back(header.substr(begin, pos - begin));
  }
  return names;
}

// At most `kShown` characters of a word read from the file, for a message.
std::string Shown(std::string_view word) {
  constexpr std::size_t kShown = 40;
  return std::string(word.substr(0, kShown)) + (word.size() > kShown ? "…" : "");
}

// What a record must hold, closing every refusal.
std::string Expected(const SimulationSettings& s) {
  return "Un fichier expérimental a une ligne d'entête (les noms des colonnes), puis des "
         "nombres séparés par des blancs, une ligne par instant : le temps (s) en colonne 0, "
         "croissant, la vitesse (tr/mn) en colonne ExpWmCol = " +
         std::to_string(s.ExpWmCol) +
         " et le courant (A) en colonne ExpIasCol = " + std::to_string(s.ExpIasCol) +
         " (colonnes comptées depuis 0).";
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

enum class WholeRecord { kRead, kUnreadable, kNotRegular, kTooLarge };

// The whole content of `path`, refused before any reading when it is not a regular file or
// is larger than kExperimentalFileMaxBytes. The file is opened without blocking, so that
// a pipe put in place of the file after the check still cannot stop the program.
WholeRecord ReadWholeRecord(const std::string& path, std::string& text) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return WholeRecord::kUnreadable;
  if (!std::filesystem::is_regular_file(status)) return WholeRecord::kNotRegular;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return WholeRecord::kUnreadable;
  // fdopen fails only for want of memory (the descriptor is then lost with the process).
  const std::unique_ptr<std::FILE, FileCloser> file(::fdopen(fd, "rb"));
  if (!file) return WholeRecord::kUnreadable;
  struct stat info {};
  if (::fstat(fd, &info) != 0) return WholeRecord::kUnreadable;
  if (!S_ISREG(info.st_mode)) return WholeRecord::kNotRegular;
  if (info.st_size > kExperimentalFileMaxBytes) return WholeRecord::kTooLarge;
  // The size told by fstat, then whatever the file grew by meanwhile, up to the limit.
  text.resize(static_cast<std::size_t>(info.st_size));
  std::size_t got = std::fread(text.data(), 1, text.size(), file.get());
  text.resize(got);
  char buf[65536];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, file.get())) > 0) {
    got += n;
    if (got > static_cast<std::size_t>(kExperimentalFileMaxBytes)) return WholeRecord::kTooLarge;
    text.append(buf, n);
  }
  return std::ferror(file.get()) == 0 ? WholeRecord::kRead : WholeRecord::kUnreadable;
}

// A .mat record is read by matio from its name: the same checks as a text record's
// before it is opened.
WholeRecord CheckMatRecord(const std::string& path) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return WholeRecord::kUnreadable;
  if (!std::filesystem::is_regular_file(status)) return WholeRecord::kNotRegular;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return WholeRecord::kUnreadable;
  if (size > static_cast<std::uintmax_t>(kExperimentalFileMaxBytes)) return WholeRecord::kTooLarge;
  return WholeRecord::kRead;
}

// What a CSV or .mat record must hold, closing its refusals.
std::string ExpectedTable(const SimulationSettings& s) {
  return "Un fichier expérimental CSV a une ligne d'entête (les noms des colonnes, séparés par "
         "des virgules, ou des points-virgules avec la virgule décimale), puis une ligne de "
         "nombres par instant ; un fichier .mat a un vecteur de nombres par colonne, de même "
         "longueur. Le temps (s), croissant, est la colonne 0, la vitesse (tr/mn) la colonne "
         "ExpWmCol = " +
         std::to_string(s.ExpWmCol) +
         " et le courant (A) la colonne ExpIasCol = " + std::to_string(s.ExpIasCol) +
         " (colonnes comptées depuis 0), à moins de les nommer (--columns "
         "t=NOM,wm=NOM,ias=NOM).";
}

// The names of a table, for a message.
std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < 20; ++i) {
    list += (i == 0 ? "« " : ", « ") + Shown(names[i]) + " »";
  }
  if (names.size() > 20) list += "…";
  return list.empty() ? "aucune" : list;
}

}  // namespace

std::optional<RecordColumnNames> ParseRecordColumnNames(const std::string& text,
                                                        std::string& error) {
  RecordColumnNames names;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    const std::size_t end = std::min(text.find(',', begin), text.size());
    const std::string item = text.substr(begin, end - begin);
    const std::size_t equal = item.find('=');
    const std::string key = item.substr(0, std::min(equal, item.size()));
    std::string* slot = key == "t"     ? &names.time
                        : key == "wm"  ? &names.speed
                        : key == "ias" ? &names.current
                                       : nullptr;
    if (equal == std::string::npos || slot == nullptr || equal + 1 == item.size()) {
      error = "colonnes attendues sous la forme t=NOM,wm=NOM,ias=NOM, lu « " + item + " »";
      return std::nullopt;
    }
    if (!slot->empty()) {
      error = "la colonne « " + key + " » est nommée deux fois";
      return std::nullopt;
    }
    *slot = item.substr(equal + 1);
    begin = end + 1;
  }
  return names;
}

std::string ExperimentalFilePath(const SimulationSettings& s, RecordLookup lookup) {
  const std::filesystem::path record(s.ExpNom);
  if (lookup == RecordLookup::kAsNamed || s.ExpNom.empty() || record.is_absolute()) {
    return s.ExpNom;
  }
  const std::filesystem::path folder = std::filesystem::path(s.ParamFileName).parent_path();
  if (folder.empty()) return s.ExpNom;
  const std::filesystem::path beside = folder / record;
  std::error_code ec;
  return std::filesystem::exists(beside, ec) ? beside.string() : s.ExpNom;
}

namespace {

// Resolves a named column against the record's names: its index, or -1 after refusing.
// A .mat file's columns answer to their variable names (`variables`) too.
template <class Fail>
int NamedColumn(const std::string& name, int given, const std::vector<std::string>& names,
                const std::vector<SkippedVariable>& skipped, const std::string& path, Fail&& fail,
                const std::vector<std::string>& variables = {}) {
  if (name.empty()) return given;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  for (std::size_t i = 0; i < variables.size(); ++i) {
    if (variables[i] == name) return static_cast<int>(i);
  }
  std::string why = "Colonnes du fichier : " + NameList(names) + ".";
  for (const SkippedVariable& v : skipped) {
    if (v.name == name) why = "La variable « " + Shown(name) + " » est " + v.reason + ".";
  }
  fail(ExperimentalReadStatus::kBadColumns, "Colonne « " + Shown(name) + " » absente de " + path,
       why);
  return -1;
}

// A CSV or .mat record (`text` holds a CSV file's content) into the raw record.
template <class Fail>
ExperimentalReadResult ReadTableRecord(SimulationSettings& s, ExperimentalData& d,
                                       const RecordColumnNames& wanted, TableFormat kind,
                                       const std::string& text, ExperimentalReadResult& result,
                                       Fail&& fail) {
  const std::string& path = result.path;
  const TableFileRead read = kind == TableFormat::kCsv ? ParseCsv(text) : ReadMatFile(path);
  if (!read.complete) {
    result.bad_line = static_cast<int>(read.error_line);
    result.bad_column = read.error_column > 0 ? static_cast<int>(read.error_column) - 1 : 0;
    const std::string where = kind == TableFormat::kCsv ? path + " : " : "";
    return fail(ExperimentalReadStatus::kBadTable, "Fichier expérimental illisible",
                where + read.message + "\n" + ExpectedTable(s));
  }
  const ColumnTable& table = read.table;
  const int columns = static_cast<int>(table.names.size());
  result.columns = columns;
  bool refused = false;
  auto refuse = [&](ExperimentalReadStatus status, const std::string& first,
                    const std::string& detail) {
    refused = true;
    fail(status, first, detail + "\n" + ExpectedTable(s));
  };
  const std::vector<std::string>& variables = read.variables;
  const int time = NamedColumn(wanted.time, 0, table.names, read.skipped, path, refuse, variables);
  if (refused) return result;
  const int wm =
      NamedColumn(wanted.speed, s.ExpWmCol, table.names, read.skipped, path, refuse, variables);
  if (refused) return result;
  const int ias =
      NamedColumn(wanted.current, s.ExpIasCol, table.names, read.skipped, path, refuse, variables);
  if (refused) return result;
  s.ExpWmCol = wm;
  s.ExpIasCol = ias;
  if (!(columns > wm && columns > ias && wm >= 0 && ias >= 0 && columns > time)) {
    return fail(ExperimentalReadStatus::kBadColumns, "Probleme de n° de colones",
                "Fichier expérimental " + path + " : " + std::to_string(columns) +
                    (columns > 1 ? " colonnes" : " colonne") + ", numérotées de 0 à " +
                    std::to_string(columns - 1) + ", mais ExpWmCol = " + std::to_string(wm) +
                    " et ExpIasCol = " + std::to_string(ias) + ".\n" + ExpectedTable(s));
  }
  // Where a value is, for a message: its row of data (CSV) or its place in its variable.
  auto place = [&](std::size_t row, std::size_t column) {
    return (kind == TableFormat::kCsv ? "rangée de données " + std::to_string(row + 1)
                                      : "valeur " + std::to_string(row + 1)) +
           ", colonne " + std::to_string(column) + " « " + Shown(table.names[column]) + " »";
  };
  const std::size_t rows = table.RowCount();
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    for (std::size_t r = 0; r < rows; ++r) {
      if (!std::isfinite(table.columns[c][r])) {
        result.bad_line = static_cast<int>(r);
        result.bad_column = static_cast<int>(c);
        return fail(ExperimentalReadStatus::kBadValue,
                    "Nombre fini attendu, " + place(r, c) + " de " + path,
                    "Le fichier expérimental est refusé : il ne serait lu que jusque-là.\n" +
                        ExpectedTable(s));
      }
    }
  }
  const std::vector<double>& t = table.columns[static_cast<std::size_t>(time)];
  for (std::size_t r = 0; r < rows; ++r) {
    if (t[r] < 0.0 || (r > 0 && !(t[r] > t[r - 1]))) {
      result.bad_line = static_cast<int>(r);
      result.bad_column = time;
      const bool negative = t[r] < 0.0;
      return fail(ExperimentalReadStatus::kTimeNotIncreasing,
                  std::string(negative ? "Temps négatif" : "Temps non croissant") + ", " +
                      place(r, static_cast<std::size_t>(time)) + " de " + path,
                  "Les temps partent de 0 ou plus et croissent strictement d'un instant au "
                  "suivant.\n" +
                      ExpectedTable(s));
    }
  }
  d.ExpTime = t;
  d.ExpWm = table.columns[static_cast<std::size_t>(wm)];
  d.ExpIas = table.columns[static_cast<std::size_t>(ias)];
  result.complete_rows = static_cast<int>(rows);
  result.status = ExperimentalReadStatus::kRead;
  return result;
}

}  // namespace

ExperimentalReadResult ReadExperimentalFile(SimulationSettings& s, ExperimentalData& d,
                                            Platform& platform, RecordLookup lookup,
                                            const RecordColumnNames& named) {
  s.GenX.fill(true);
  d.ExpTime.clear();
  d.ExpWm.clear();
  d.ExpIas.clear();

  ExperimentalReadResult result;
  result.path = ExperimentalFilePath(s, lookup);
  const std::string& path = result.path;
  // Every refusal: its first line, then what is known of the file, then what a record
  // holds. Nothing read is kept.
  auto fail = [&](ExperimentalReadStatus status, const std::string& first,
                  const std::string& detail) {
    for (auto* a : {&d.ExpTime, &d.ExpWm, &d.ExpIas}) a->clear();
    result.status = status;
    result.message = first + "\n" + detail + "\n" + Expected(s);
    platform.ShowMessage(result.message, kCaption, MessageIcon::kStop);
    return result;
  };

  std::string text;
  const TableFormat kind = TableFormatOfPath(path);
  switch (kind == TableFormat::kMat ? CheckMatRecord(path) : ReadWholeRecord(path, text)) {
    case WholeRecord::kRead:
      break;
    case WholeRecord::kUnreadable: {
      const std::filesystem::path folder = std::filesystem::path(s.ParamFileName).parent_path();
      const bool looked_beside = lookup == RecordLookup::kBesideStudyFirst && !s.ExpNom.empty() &&
                                 !std::filesystem::path(s.ExpNom).is_absolute() && !folder.empty();
      return fail(ExperimentalReadStatus::kNotFound, "Fichier : " + s.ExpNom + " introuvable",
                  "Fichier expérimental " + path + " absent ou illisible" +
                      (looked_beside ? " (cherché à côté de l'étude, dans " + folder.string() +
                                           ", puis depuis le dossier courant)."
                                     : "."));
    }
    case WholeRecord::kNotRegular:
      return fail(ExperimentalReadStatus::kNotRegularFile,
                  "Fichier : " + path + " n'est pas un fichier ordinaire",
                  "Un tube, un périphérique ou un dossier n'est pas lu comme fichier "
                  "expérimental.");
    case WholeRecord::kTooLarge:
      return fail(ExperimentalReadStatus::kTooLarge,
                  "Le fichier " + path + " dépasse " +
                      std::to_string(kExperimentalFileMaxBytes >> 30) +
                      " Go : ce n'est pas un fichier expérimental",
                  "Fichier expérimental " + path + " refusé sans être lu.");
  }
  if (kind != TableFormat::kText) {
    // The messages of a table record carry their own description of a record.
    auto fail_table = [&](ExperimentalReadStatus status, const std::string& first,
                          const std::string& detail) {
      for (auto* a : {&d.ExpTime, &d.ExpWm, &d.ExpIas}) a->clear();
      result.status = status;
      result.message = first + "\n" + detail;
      platform.ShowMessage(result.message, kCaption, MessageIcon::kStop);
      return result;
    };
    return ReadTableRecord(s, d, named, kind, text, result, fail_table);
  }
  const std::string_view all(text);

  const std::size_t header_end = std::min(all.find('\n'), all.size());
  std::string_view header = all.substr(0, header_end);
  if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
  if (header.empty() || header.size() > static_cast<std::size_t>(kExperimentalHeaderMax)) {
    return fail(
        ExperimentalReadStatus::kHeaderRejected, "Ligne d'entete trop longue",
        "Fichier expérimental " + path + " : la première ligne doit nommer les colonnes en " +
            std::to_string(kExperimentalHeaderMax) + " caractères au plus, lu " +
            (header.empty() ? std::string("une ligne vide")
                            : "une ligne de " + std::to_string(header.size()) + " caractères") +
            ".");
  }
  const int columns = CountHeaderNames(header);
  result.columns = columns;
  if (!named.empty()) {
    std::vector<std::string> header_names;
    for (std::string_view name : HeaderNames(header)) header_names.emplace_back(name);
    bool refused = false;
    auto refuse = [&](ExperimentalReadStatus status, const std::string& first,
                      const std::string& detail) {
      refused = true;
      fail(status, first, detail);
    };
    const int time = NamedColumn(named.time, 0, header_names, {}, path, refuse);
    if (!refused && time != 0) {
      return fail(ExperimentalReadStatus::kBadColumns,
                  "Colonne « " + Shown(named.time) +
                      " » : le temps d'un fichier texte est sa "
                      "colonne 0",
                  "Fichier expérimental " + path + " : la colonne 0 est « " +
                      Shown(header_names.front()) + " ».");
    }
    const int wm =
        refused ? -1 : NamedColumn(named.speed, s.ExpWmCol, header_names, {}, path, refuse);
    const int ias =
        refused ? -1 : NamedColumn(named.current, s.ExpIasCol, header_names, {}, path, refuse);
    if (refused) return result;
    s.ExpWmCol = wm;
    s.ExpIasCol = ias;
  }
  // A negative index would silently leave its column empty: it is refused as well.
  if (!(columns > s.ExpWmCol && columns > s.ExpIasCol && s.ExpWmCol >= 0 && s.ExpIasCol >= 0)) {
    return fail(ExperimentalReadStatus::kBadColumns, "Probleme de n° de colones",
                "Fichier expérimental " + path + " : l'entête nomme " + std::to_string(columns) +
                    (columns > 1 ? " colonnes" : " colonne") + ", numérotées de 0 à " +
                    std::to_string(columns - 1) +
                    ", mais ExpWmCol = " + std::to_string(s.ExpWmCol) +
                    " et ExpIasCol = " + std::to_string(s.ExpIasCol) + ".");
  }
  auto column_name = [&](int i) {
    const std::vector<std::string_view> names = HeaderNames(header);
    return i < static_cast<int>(names.size()) ? Shown(names[static_cast<std::size_t>(i)])
                                              : std::string();
  };

  // A stray or missing number before a refused word shifts the columns: the first line
  // read whose count differs from the header's is named with the refusal.
  const std::size_t data_begin = std::min(header_end + 1, all.size());
  auto shifted = [&](std::size_t at) {
    const std::size_t line_begin = all.rfind('\n', at) + 1;
    CountRaggedLines(all, data_begin, std::max(data_begin, line_begin), 2, columns, result);
    if (result.ragged_lines == 0) return std::string();
    return " La ligne " + std::to_string(result.first_ragged_line) + " a " +
           std::to_string(result.first_ragged_count) + " nombres au lieu de " +
           std::to_string(columns) + " : les colonnes qui la suivent sont décalées.";
  };

  // The numbers, one word at a time; position in the row = count modulo the columns.
  std::size_t pos = data_begin;
  long long count = 0;
  int complete_rows = 0;
  std::size_t previous_time_at = 0;  // where the previous row's time was read
  result.status = ExperimentalReadStatus::kRead;
  while (true) {
    while (pos < all.size() && IsSpace(all[pos])) ++pos;
    if (pos >= all.size()) break;
    std::size_t end = pos;
    while (end < all.size() && !IsSpace(all[end])) ++end;
    // A number that runs into the end of the file is not kept.
    if (end >= all.size()) break;
    const std::string_view word = all.substr(pos, end - pos);
    const int i = static_cast<int>(count % columns);
    double value = 0.0;
    if (!ParseNumber(word, value)) {
      result.bad_line = LineOf(all, pos);
      result.bad_column = i;
      return fail(
          ExperimentalReadStatus::kBadValue,
          "Nombre fini attendu, lu « " + Shown(word) + " » ligne " +
              std::to_string(result.bad_line) + ", colonne " + std::to_string(i) + " « " +
              column_name(i) + " » de " + path,
          "Le fichier expérimental est refusé : il ne serait lu que jusque-là." + shifted(pos));
    }
    if (i == 0) {
      // Times from zero on, each above the previous one.
      if (value < 0.0 || (!d.ExpTime.empty() && !(value > d.ExpTime.back()))) {
        result.bad_line = LineOf(all, pos);
        result.bad_column = 0;
        const bool negative = value < 0.0;
        return fail(ExperimentalReadStatus::kTimeNotIncreasing,
                    std::string(negative ? "Temps négatif" : "Temps non croissant") + " ligne " +
                        std::to_string(result.bad_line) + " de " + path,
                    "Colonne 0 « " + column_name(0) + " » : le temps " + Shown(word) + " s " +
                        (negative ? "est négatif"
                                  : "ne dépasse pas celui de la ligne " +
                                        std::to_string(LineOf(all, previous_time_at))) +
                        " ; les temps partent de 0 ou plus et croissent strictement d'une "
                        "ligne à la suivante." +
                        shifted(pos));
      }
      previous_time_at = pos;
    }
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
  // count differs from the header's are pointed out.
  CountRaggedLines(all, data_begin, all.size(), 2, columns, result);
  if (result.ragged_lines > 0) {
    platform.ShowMessage(
        "Lignes irrégulières dans " + path + " : la ligne " +
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
