#include "python/table_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <system_error>

namespace mas::python {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string WholeFile(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) throw TableReadError("Impossible d'ouvrir le fichier " + path);
  std::string text;
  char block[1 << 16];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, file.get())) > 0;) {
    text.append(block, n);
  }
  if (std::ferror(file.get()) != 0) throw TableReadError("Impossible de lire le fichier " + path);
  return text;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

TextTable ReadTextTable(const std::string& path) {
  const std::string text = WholeFile(path);
  const char* p = text.data();
  const char* const end = p + text.size();
  // A UTF-8 byte-order mark written by an editor.
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) p += 3;

  TextTable table;
  while (p < end && *p != '\n') {
    while (p < end && *p != '\n' && IsSpace(*p)) ++p;
    const char* word = p;
    while (p < end && !IsSpace(*p)) ++p;
    if (p > word) table.names.emplace_back(word, p);
  }
  if (table.names.empty()) {
    throw TableReadError("Erreur de lecture !!! " + path + " : ligne d'en-tête vide");
  }
  const std::size_t width = table.names.size();
  table.columns.resize(width);
  // Room for one row a line, the layout every writer of these tables uses.
  const std::size_t lines = static_cast<std::size_t>(std::count(p, end, '\n')) + 1;
  for (auto& column : table.columns) column.reserve(lines);

  long long line = 1;
  const char* line_start = p;
  std::size_t column = 0;
  while (p < end) {
    if (*p == '\n') {
      ++line;
      line_start = ++p;
      continue;
    }
    if (IsSpace(*p)) {
      ++p;
      continue;
    }
    const char* word = p;
    while (p < end && !IsSpace(*p)) ++p;
    const char* first = word;
    if (p - first > 1 && *first == '+' && first[1] != '-' && first[1] != '+') ++first;
    double value = 0.0;
    const auto [stop, ec] = std::from_chars(first, p, value);
    if (ec != std::errc() || stop != p) {
      throw TableReadError("Erreur de lecture !!! " + path + " : ligne " + std::to_string(line) +
                           ", colonne " + std::to_string(word - line_start + 1) +
                           " : nombre attendu, lu « " + std::string(word, p) + " »");
    }
    table.columns[column].push_back(value);
    if (++column == width) column = 0;
  }
  if (column != 0) {
    table.dropped_values = static_cast<long long>(column);
    for (std::size_t c = 0; c < column; ++c) table.columns[c].pop_back();
  }
  return table;
}

}  // namespace mas::python
