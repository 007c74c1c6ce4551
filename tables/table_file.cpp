#include "tables/table_file.h"

#include <matio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>

#include "files/number_format.h"

namespace mas {

namespace {

// Names of the cell arrays a .mat file of the workbench holds beside its columns.
constexpr const char* kVariablesName = "variables";
constexpr const char* kColumnsName = "colonnes";
constexpr const char* kUnitsName = "unites";
constexpr std::size_t kMatlabNameMax = 63;
// Largest column read from a .mat file (values): a column of a few hundred million
// samples is no table of a run or of a logger.
constexpr std::size_t kMaxMatValues = std::size_t{1} << 29;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// matio reports its faults on stderr by default; the reader gives its own message instead.
void QuietMatio() {
  static std::once_flag once;
  std::call_once(once, [] { Mat_LogInitFunc("mas", [](int, char*) {}); });
}

}  // namespace

std::optional<TableFormat> ParseTableFormat(std::string_view word) {
  if (word == "text") return TableFormat::kText;
  if (word == "csv") return TableFormat::kCsv;
  if (word == "mat") return TableFormat::kMat;
  return std::nullopt;
}

const char* TableFormatWord(TableFormat format) {
  switch (format) {
    case TableFormat::kCsv:
      return "csv";
    case TableFormat::kMat:
      return "mat";
    case TableFormat::kText:
      break;
  }
  return "text";
}

TableFormat TableFormatOfPath(const std::string& path) {
  const std::string extension = Lower(std::filesystem::path(path).extension().string());
  if (extension == ".csv") return TableFormat::kCsv;
  if (extension == ".mat") return TableFormat::kMat;
  return TableFormat::kText;
}

std::string TablePathFor(const std::string& text_path, TableFormat format) {
  if (format == TableFormat::kText) return text_path;
  std::filesystem::path path(text_path);
  path.replace_extension(format == TableFormat::kCsv ? ".csv" : ".mat");
  return path.string();
}

std::pair<std::string, std::string> SplitUnit(std::string_view column_name) {
  if (column_name.size() > 2 && column_name.back() == ')') {
    const std::size_t open = column_name.rfind('(');
    if (open != std::string_view::npos && open > 0) {
      return {std::string(column_name.substr(0, open)),
              std::string(column_name.substr(open + 1, column_name.size() - open - 2))};
    }
  }
  return {std::string(column_name), std::string()};
}

std::vector<std::string> MatlabNames(const std::vector<std::string>& column_names) {
  std::vector<std::string> taken{kVariablesName, kColumnsName, kUnitsName};
  std::vector<std::string> out;
  out.reserve(column_names.size());
  for (const std::string& column : column_names) {
    const std::string bare = SplitUnit(column).first;
    std::string name;
    bool replaced = false;  // a run of other characters gives one '_'
    for (char c : bare) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x80 && (std::isalnum(u) != 0 || c == '_')) {
        name += c;
        replaced = false;
      } else if (!replaced) {
        name += '_';
        replaced = true;
      }
    }
    if (name.empty() || std::isalpha(static_cast<unsigned char>(name[0])) == 0) {
      name.insert(0, "c_");
    }
    if (name.size() > kMatlabNameMax) name.resize(kMatlabNameMax);
    std::string unique = name;
    for (int k = 2; std::find(taken.begin(), taken.end(), unique) != taken.end(); ++k) {
      const std::string suffix = "_" + std::to_string(k);
      unique = name.substr(0, kMatlabNameMax - suffix.size()) + suffix;
    }
    taken.push_back(unique);
    out.push_back(unique);
  }
  return out;
}

int ColumnTable::ColumnIndex(std::string_view name) const {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// ---------------------------------------------------------------------------------------
// CSV

namespace {

std::string_view Trim(std::string_view field) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\t' || field.back() == '\r')) {
    field.remove_suffix(1);
  }
  return field;
}

std::string_view Unquote(std::string_view field) {
  field = Trim(field);
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
    field = Trim(field.substr(1, field.size() - 2));
  }
  return field;
}

// Splits `line` at every separator into `fields` (cleared first; its room is reused).
void SplitFields(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = line.find(separator, begin);
    fields.push_back(line.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

bool IsBlankLine(std::string_view line) { return Trim(line).empty(); }

// A field as a number: decimal or exponent form with an optional sign, the decimal
// separator a point (or a comma when `decimal_comma`), or "nan"/"inf" in any case.
bool ParseField(std::string_view field, bool decimal_comma, double& value) {
  field = Unquote(field);
  if (field.empty() || field.size() > 64) return false;
  char text[64];
  std::size_t n = 0;
  for (char c : field) text[n++] = decimal_comma && c == ',' ? '.' : c;
  const char* first = text;
  const char* last = text + n;
  if (*first == '+') {
    ++first;
    if (first < last && (*first == '-' || *first == '+')) return false;
  }
  const auto r = std::from_chars(first, last, value, std::chars_format::general);
  if (r.ptr == last && r.ec == std::errc()) return true;
  if (r.ptr == last && r.ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is no number of a table.
    const char* e = std::find_if(first, last, [](char c) { return c == 'e' || c == 'E'; });
    if (e + 1 < last && e[1] == '-') {
      value = *first == '-' ? -0.0 : 0.0;
      return true;
    }
    return false;
  }
  // The special values, in any case.
  const bool negative = *first == '-';
  const std::string body =
      Lower(std::string_view(first, static_cast<std::size_t>(last - first)).substr(negative));
  if (body == "nan") {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (body == "inf" || body == "infinity") {
    value = negative ? -std::numeric_limits<double>::infinity()
                     : std::numeric_limits<double>::infinity();
    return true;
  }
  return false;
}

std::string Shown(std::string_view field) {
  std::string text(field.substr(0, 40));
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return "« " + text + (field.size() > 40 ? "…" : "") + " »";
}

}  // namespace

TableFileRead ParseCsv(std::string_view text) {
  TableFileRead result;
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t pos = 0;
  std::size_t line = 0;
  auto next_line = [&](std::string_view& out) {
    if (pos >= text.size()) return false;
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    out = text.substr(pos, end - pos);
    pos = end + 1;
    ++line;
    return true;
  };
  std::string_view header;
  bool found = false;
  while (next_line(header)) {
    if (!IsBlankLine(header)) {
      found = true;
      break;
    }
  }
  if (!found) {
    result.message = "Fichier CSV vide : aucune ligne d'en-tête";
    result.error_line = 1;
    return result;
  }
  const char separator = header.find(';') != std::string_view::npos ? ';' : ',';
  const bool decimal_comma = separator == ';';
  std::vector<std::string_view> header_fields;
  SplitFields(header, separator, header_fields);
  const std::size_t n = header_fields.size();
  std::vector<double> first_values(n);
  bool numeric = true;
  for (std::size_t c = 0; c < n && numeric; ++c) {
    numeric = ParseField(header_fields[c], decimal_comma, first_values[c]);
  }
  result.table.columns.assign(n, {});
  if (numeric) {
    result.has_header = false;
    for (std::size_t c = 0; c < n; ++c) {
      result.table.names.push_back("C" + std::to_string(c + 1));
      result.table.columns[c].push_back(first_values[c]);
    }
  } else {
    for (std::string_view field : header_fields) {
      std::string_view name = Unquote(field);
      result.table.names.emplace_back(
          name.empty() ? "C" + std::to_string(result.table.names.size() + 1) : std::string(name));
    }
  }
  auto label = [&](std::size_t c) {
    return "colonne " + std::to_string(c + 1) +
           (c < n ? " (« " + result.table.names[c] + " »)" : std::string());
  };
  auto fail = [&](std::size_t c, const std::string& what) {
    // The row under way is dropped: the columns keep the complete rows.
    const std::size_t rows = result.table.columns.back().size();
    for (auto& column : result.table.columns) column.resize(rows);
    result.error_line = line;
    result.error_column = c + 1;
    result.message = "Ligne " + std::to_string(line) + ", " + label(c) + " : " + what;
    return result;
  };
  std::string_view row;
  std::vector<std::string_view> fields;
  while (next_line(row)) {
    if (IsBlankLine(row)) continue;
    SplitFields(row, separator, fields);
    if (fields.size() != n) {
      const std::size_t c = std::min(fields.size(), n);
      return fail(c, std::string(fields.size() < n ? "valeur manquante" : "valeur en trop") +
                         " (la ligne a " + std::to_string(fields.size()) + " valeurs au lieu de " +
                         std::to_string(n) + ")");
    }
    for (std::size_t c = 0; c < n; ++c) {
      double value = 0.0;
      if (!ParseField(fields[c], decimal_comma, value)) {
        return fail(c, "nombre attendu, lu " + Shown(Trim(fields[c])));
      }
      result.table.columns[c].push_back(value);
    }
  }
  result.complete = true;
  return result;
}

TableFileRead ReadCsvFile(const std::string& path) {
  TableFileRead failed;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    failed.message = "Impossible d'ouvrir le fichier " + path + " : absent ou pas un fichier";
    return failed;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    failed.message = "Impossible d'ouvrir le fichier " + path;
    return failed;
  }
  // The size told by the system, then whatever the file grew by meanwhile.
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  std::string text(ec ? 0 : static_cast<std::size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  char more[65536];
  while (in.read(more, sizeof more) || in.gcount() > 0) {
    text.append(more, static_cast<std::size_t>(in.gcount()));
  }
  TableFileRead result = ParseCsv(text);
  if (!result.complete) result.message = path + " : " + result.message;
  return result;
}

std::string CsvText(const ColumnTable& table) {
  std::string out;
  for (std::size_t c = 0; c < table.names.size(); ++c) {
    if (c > 0) out += ',';
    out += table.names[c];
  }
  out += '\n';
  char cell[kMaxNumberChars + 2];
  for (std::size_t r = 0; r < table.RowCount(); ++r) {
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      char* end = AppendG(cell, table.columns[c][r], 8);
      *end++ = c + 1 < table.columns.size() ? ',' : '\n';
      out.append(cell, end);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// MAT version 5

namespace {

struct MatCloser {
  void operator()(mat_t* mat) const { Mat_Close(mat); }
};
struct VarFreer {
  void operator()(matvar_t* var) const { Mat_VarFree(var); }
};
using MatFile = std::unique_ptr<mat_t, MatCloser>;
using MatVar = std::unique_ptr<matvar_t, VarFreer>;

// A cell array of strings, one row per text.
MatVar StringCells(const char* name, const std::vector<std::string>& texts) {
  std::size_t dims[2] = {texts.size(), 1};
  MatVar cell(Mat_VarCreate(name, MAT_C_CELL, MAT_T_CELL, 2, dims, nullptr, 0));
  if (!cell) return cell;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::size_t text_dims[2] = {1, texts[i].size()};
    matvar_t* text = Mat_VarCreate(nullptr, MAT_C_CHAR, MAT_T_UINT8, 2, text_dims,
                                   const_cast<char*>(texts[i].data()), 0);
    if (text == nullptr) return nullptr;
    Mat_VarSetCell(cell.get(), static_cast<int>(i), text);
  }
  return cell;
}

// The texts of a cell array of 8- or 16-bit character rows; nothing when it is not one.
std::optional<std::vector<std::string>> CellTexts(matvar_t* var) {
  if (var == nullptr || var->class_type != MAT_C_CELL || var->data == nullptr) return std::nullopt;
  std::size_t count = 1;
  for (int d = 0; d < var->rank; ++d) count *= var->dims[d];
  std::vector<std::string> texts;
  auto** cells = static_cast<matvar_t**>(var->data);
  for (std::size_t i = 0; i < count; ++i) {
    matvar_t* text = cells[i];
    if (text == nullptr || text->class_type != MAT_C_CHAR) return std::nullopt;
    std::size_t length = 1;
    for (int d = 0; d < text->rank; ++d) length *= text->dims[d];
    std::string s;
    if (length > 0 && text->data == nullptr) return std::nullopt;
    for (std::size_t k = 0; k < length; ++k) {
      unsigned value = 0;
      if (text->data_type == MAT_T_UINT16 || text->data_type == MAT_T_UTF16) {
        value = static_cast<const std::uint16_t*>(text->data)[k];
      } else if (text->data_type == MAT_T_UINT8 || text->data_type == MAT_T_UTF8 ||
                 text->data_type == MAT_T_INT8) {
        value = static_cast<const unsigned char*>(text->data)[k];
      } else {
        return std::nullopt;
      }
      if (value < 0x80) {
        s += static_cast<char>(value);
      } else if (value < 0x800) {
        s += static_cast<char>(0xC0 | (value >> 6));
        s += static_cast<char>(0x80 | (value & 0x3F));
      } else {
        s += static_cast<char>(0xE0 | (value >> 12));
        s += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (value & 0x3F));
      }
    }
    texts.push_back(std::move(s));
  }
  return texts;
}

template <class T>
void CopyValues(const void* data, std::size_t count, std::vector<double>& out) {
  const T* values = static_cast<const T*>(data);
  out.assign(count, 0.0);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<double>(values[i]);
}

// The values of a real numeric variable as doubles; false for another class.
bool NumericValues(const matvar_t* var, std::size_t count, std::vector<double>& out) {
  const void* d = var->data;
  if (d == nullptr && count > 0) return false;
  switch (var->class_type) {
    case MAT_C_DOUBLE:
      CopyValues<double>(d, count, out);
      return true;
    case MAT_C_SINGLE:
      CopyValues<float>(d, count, out);
      return true;
    case MAT_C_INT8:
      CopyValues<std::int8_t>(d, count, out);
      return true;
    case MAT_C_UINT8:
      CopyValues<std::uint8_t>(d, count, out);
      return true;
    case MAT_C_INT16:
      CopyValues<std::int16_t>(d, count, out);
      return true;
    case MAT_C_UINT16:
      CopyValues<std::uint16_t>(d, count, out);
      return true;
    case MAT_C_INT32:
      CopyValues<std::int32_t>(d, count, out);
      return true;
    case MAT_C_UINT32:
      CopyValues<std::uint32_t>(d, count, out);
      return true;
    case MAT_C_INT64:
      CopyValues<std::int64_t>(d, count, out);
      return true;
    case MAT_C_UINT64:
      CopyValues<std::uint64_t>(d, count, out);
      return true;
    default:
      return false;
  }
}

bool IsNumericClass(matio_classes c) {
  return c == MAT_C_DOUBLE || c == MAT_C_SINGLE || c == MAT_C_INT8 || c == MAT_C_UINT8 ||
         c == MAT_C_INT16 || c == MAT_C_UINT16 || c == MAT_C_INT32 || c == MAT_C_UINT32 ||
         c == MAT_C_INT64 || c == MAT_C_UINT64;
}

}  // namespace

bool WriteMatTo(FileReplacement& begun, const ColumnTable& table) {
  QuietMatio();
  // matio writes by name: into the new version that FileReplacement has created.
  const std::string written = begun.written_path().string();
  auto write = [&] {
    MatFile mat(
        Mat_CreateVer(written.c_str(), "Table de la commande vectorielle (MAS)", MAT_FT_MAT5));
    if (!mat) return false;
    const std::vector<std::string> names = MatlabNames(table.names);
    std::vector<std::string> units;
    units.reserve(table.names.size());
    for (const std::string& name : table.names) units.push_back(SplitUnit(name).second);
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      std::size_t dims[2] = {table.columns[c].size(), 1};
      MatVar var(Mat_VarCreate(names[c].c_str(), MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims,
                               const_cast<double*>(table.columns[c].data()), MAT_F_DONT_COPY_DATA));
      if (!var || Mat_VarWrite(mat.get(), var.get(), MAT_COMPRESSION_ZLIB) != 0) return false;
    }
    const std::pair<const char*, const std::vector<std::string>*> cells[] = {
        {kVariablesName, &names}, {kColumnsName, &table.names}, {kUnitsName, &units}};
    for (const auto& [name, texts] : cells) {
      // Uncompressed: matio reads some compressed cell arrays back with empty cells.
      MatVar var = StringCells(name, *texts);
      if (!var || Mat_VarWrite(mat.get(), var.get(), MAT_COMPRESSION_NONE) != 0) return false;
    }
    return Mat_Close(mat.release()) == 0;
  };
  if (!write()) {
    begun.Abandon();
    return false;
  }
  return begun.Commit();
}

bool WriteMatFile(const std::string& path, const ColumnTable& table, LinkPolicy links,
                  std::string& message) {
  FileReplacement replacement;
  if (!replacement.Begin(path, links) || !WriteMatTo(replacement, table)) {
    message = "Impossible d'écrire le fichier " + path;
    return false;
  }
  message.clear();
  return true;
}

TableFileRead ReadMatFile(const std::string& path) {
  QuietMatio();
  TableFileRead result;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    result.message = "Impossible d'ouvrir le fichier " + path + " : absent ou pas un fichier";
    return result;
  }
  MatFile mat(Mat_Open(path.c_str(), MAT_ACC_RDONLY));
  if (!mat) {
    result.message = path + " n'est pas un fichier MATLAB (.mat) lisible";
    return result;
  }
  // First the variables' descriptions, then the data of the columns only.
  struct Found {
    std::string name;
    std::size_t count;
  };
  std::vector<Found> vectors;
  std::optional<std::vector<std::string>> variables;
  std::optional<std::vector<std::string>> columns;
  while (true) {
    MatVar info(Mat_VarReadNextInfo(mat.get()));
    if (!info) break;
    const std::string name = info->name != nullptr ? info->name : "";
    std::size_t count = 1;
    for (int d = 0; d < info->rank; ++d) count *= info->dims[d];
    if (info->class_type == MAT_C_CELL) {
      if (name != kUnitsName && name != kVariablesName && name != kColumnsName) {
        result.skipped.push_back({name, "un tableau de cellules, pas un vecteur de nombres"});
      }
      continue;
    }
    if (!IsNumericClass(info->class_type)) {
      result.skipped.push_back(
          {name, info->class_type == MAT_C_CHAR
                     ? "du texte, pas un vecteur de nombres"
                     : "une structure ou un objet, pas un vecteur de nombres"});
      continue;
    }
    if (info->isComplex != 0) {
      result.skipped.push_back({name, "un vecteur de nombres complexes"});
      continue;
    }
    if (info->class_type == MAT_C_SPARSE || info->rank != 2 ||
        (info->dims[0] != 1 && info->dims[1] != 1)) {
      result.skipped.push_back({name, "une matrice, pas un vecteur"});
      continue;
    }
    if (count > kMaxMatValues) {
      result.skipped.push_back(
          {name, "un vecteur trop long (" + std::to_string(count) + " valeurs)"});
      continue;
    }
    vectors.push_back({name, count});
  }
  // The files written here give the order and the original names (read once the
  // descriptions are all known: a read in their midst loses matio's place).
  for (const char* name : {kVariablesName, kColumnsName}) {
    MatVar cell(Mat_VarRead(mat.get(), name));
    auto texts = CellTexts(cell.get());
    if (texts) (name == kVariablesName ? variables : columns) = std::move(texts);
  }
  // The files written here give the order and the original names.
  std::vector<std::string> order;
  std::vector<std::string> shown;
  if (variables && columns && variables->size() == columns->size() &&
      std::all_of(variables->begin(), variables->end(), [&](const std::string& v) {
        return std::any_of(vectors.begin(), vectors.end(),
                           [&](const Found& f) { return f.name == v; });
      })) {
    order = *variables;
    shown = *columns;
  } else {
    for (const Found& f : vectors) {
      order.push_back(f.name);
      shown.push_back(f.name);
    }
  }
  if (order.empty()) {
    result.message = path + " : aucune variable n'est un vecteur de nombres réels";
    if (!result.skipped.empty()) {
      result.message +=
          " (" + result.skipped.front().name + " est " + result.skipped.front().reason + ")";
    }
    return result;
  }
  for (std::size_t i = 0; i < order.size(); ++i) {
    MatVar var(Mat_VarRead(mat.get(), order[i].c_str()));
    std::vector<double> values;
    std::size_t count = 0;
    if (var) {
      count = 1;
      for (int d = 0; d < var->rank; ++d) count *= var->dims[d];
    }
    if (!var || !NumericValues(var.get(), count, values)) {
      result.table = {};
      result.message = path + " : la variable « " + order[i] + " » ne peut pas être lue";
      return result;
    }
    if (!result.table.columns.empty() && values.size() != result.table.RowCount()) {
      const std::size_t first = result.table.RowCount();
      result.message = path + " : la variable « " + order[i] + " » a " +
                       std::to_string(values.size()) + " valeurs, « " + order[0] + " » en a " +
                       std::to_string(first) + " ; les colonnes d'une table ont la même longueur";
      result.table = {};
      return result;
    }
    result.table.names.push_back(shown[i]);
    result.table.columns.push_back(std::move(values));
    result.variables.push_back(order[i]);
  }
  result.complete = true;
  return result;
}

}  // namespace mas
