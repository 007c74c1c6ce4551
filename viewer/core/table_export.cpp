#include "viewer/core/table_export.h"

#include <algorithm>

#include "files/number_format.h"
#include "platform/file_replacement.h"

namespace mas::viewer {

namespace {
constexpr int kWidth = 16;
constexpr int kPrecision = 8;
}  // namespace

std::string ExportRangeText(const Table& table, std::size_t time_column,
                            const std::vector<std::size_t>& columns, double t0, double t1) {
  std::vector<std::size_t> order{time_column};
  for (std::size_t c : columns) {
    if (c != time_column && c < table.ColumnCount()) order.push_back(c);
  }
  std::string out;
  for (std::size_t c : order) {
    std::string name = table.names[c];
    name.resize(std::max<std::size_t>(name.size(), kWidth), ' ');
    out += name + "  ";
  }
  out += '\n';
  if (time_column >= table.columns.size()) return out;
  const std::vector<double>& t = table.columns[time_column];
  char cell[kMaxNumberChars + kWidth + 4];
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!(t[i] >= t0 && t[i] <= t1)) continue;
    for (std::size_t c : order) {
      char* end = AppendLeftG(cell, table.columns[c][i], kPrecision, kWidth);
      *end++ = ' ';
      *end++ = ' ';
      out.append(cell, end);
    }
    out += '\n';
  }
  return out;
}

ColumnTable ExportRangeColumns(const Table& table, std::size_t time_column,
                               const std::vector<std::size_t>& columns, double t0, double t1) {
  ColumnTable out;
  if (time_column >= table.columns.size()) return out;
  std::vector<std::size_t> order{time_column};
  for (std::size_t c : columns) {
    if (c != time_column && c < table.ColumnCount()) order.push_back(c);
  }
  const std::vector<double>& t = table.columns[time_column];
  for (std::size_t c : order) {
    out.names.push_back(table.names[c]);
    std::vector<double> values;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (t[i] >= t0 && t[i] <= t1) values.push_back(table.columns[c][i]);
    }
    out.columns.push_back(std::move(values));
  }
  return out;
}

bool ExportRange(const std::filesystem::path& path, const Table& table, std::size_t time_column,
                 const std::vector<std::size_t>& columns, double t0, double t1,
                 std::string& message) {
  bool written = false;
  switch (TableFormatOfPath(path.string())) {
    case TableFormat::kCsv:
      written = ReplaceFileContents(
          path.string(), CsvText(ExportRangeColumns(table, time_column, columns, t0, t1)));
      break;
    case TableFormat::kMat:
      written = WriteMatFile(path.string(), ExportRangeColumns(table, time_column, columns, t0, t1),
                             LinkPolicy::kFollow, message);
      break;
    case TableFormat::kText:
      written =
          ReplaceFileContents(path.string(), ExportRangeText(table, time_column, columns, t0, t1));
      break;
  }
  if (written) return true;
  message = "Impossible d'écrire le fichier " + path.string();
  return false;
}

}  // namespace mas::viewer
