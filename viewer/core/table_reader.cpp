// Reading of white-space tables: the header line names the columns, every other non-blank
// line holds one number per column. Numbers are parsed with std::from_chars (never the
// locale, never a stream), in parallel chunks of whole lines written straight into the
// final columns: a first pass counts the rows of every chunk, which gives each chunk the
// row where its numbers go, and a second pass parses.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "viewer/core/table.h"

namespace mas::viewer {

int Table::ColumnIndex(std::string_view name) const {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && IsBlank(*p)) ++p;
  return p;
}

const char* TokenEnd(const char* p, const char* end) {
  while (p < end && !IsBlank(*p)) ++p;
  return p;
}

const char* LineEnd(const char* p, const char* end) {
  const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
  return nl == nullptr ? end : static_cast<const char*>(nl);
}

// A token as it appears in a message: at most 40 characters, control bytes shown as '?'.
std::string Quote(const char* p, const char* end) {
  std::string text(p, std::min<std::size_t>(static_cast<std::size_t>(end - p), 40));
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  if (end - p > 40) text += "…";
  return "« " + text + " »";
}

enum class NumberStatus { kOk, kNotANumber, kOutOfRange };

// Parses the token [p, end) as a whole number: a leading '+' is accepted; "nan", "-nan",
// "inf" and "-inf" are the workbench's own texts of the special values. A magnitude
// below the smallest double reads as a signed zero; one above the largest is refused.
NumberStatus ParseNumber(const char* p, const char* end, double& value) {
  if (p < end && *p == '+') {
    ++p;
    if (p < end && *p == '-') return NumberStatus::kNotANumber;
  }
  const auto [ptr, ec] = std::from_chars(p, end, value);
  if (ptr != end) return NumberStatus::kNotANumber;
  if (ec == std::errc::result_out_of_range) {
    // from_chars says "out of range" for both ends; a negative exponent means underflow.
    const char* e = std::find_if(p, end, [](char c) { return c == 'e' || c == 'E'; });
    if (e + 1 < end && e[1] == '-') {
      value = *p == '-' ? -0.0 : 0.0;
      return NumberStatus::kOk;
    }
    return NumberStatus::kOutOfRange;
  }
  return ec == std::errc() ? NumberStatus::kOk : NumberStatus::kNotANumber;
}

struct Chunk {
  const char* begin = nullptr;
  const char* end = nullptr;
  std::size_t first_line = 0;  // 1-based number of the chunk's first line
  std::size_t lines = 0;       // lines in the chunk
  std::size_t rows = 0;        // non-blank lines
  std::size_t first_row = 0;   // index of the chunk's first row in the columns
  // Result of the parse.
  std::size_t rows_parsed = 0;
  bool failed = false;
  std::size_t error_line = 0;
  std::size_t error_column = 0;
  std::string message;
};

void CountRows(Chunk& chunk) {
  const char* p = chunk.begin;
  while (p < chunk.end) {
    const char* eol = LineEnd(p, chunk.end);
    ++chunk.lines;
    if (SkipBlanks(p, eol) < eol) ++chunk.rows;
    p = eol + 1;
  }
}

std::string ColumnLabel(const std::vector<std::string>& names, std::size_t column) {
  std::string label = "colonne " + std::to_string(column + 1);
  if (column < names.size()) label += " (« " + names[column] + " »)";
  return label;
}

void ParseChunk(Chunk& chunk, const std::vector<std::string>& names,
                std::vector<std::vector<double>>& columns) {
  const std::size_t n = names.size();
  std::vector<double*> out(n);
  for (std::size_t c = 0; c < n; ++c) out[c] = columns[c].data() + chunk.first_row;
  std::size_t line = chunk.first_line;
  std::size_t row = 0;
  const char* p = chunk.begin;
  auto fail = [&](std::size_t column, std::string what) {
    chunk.failed = true;
    chunk.error_line = line;
    chunk.error_column = column + 1;
    chunk.message = "Ligne " + std::to_string(line) + ", " + ColumnLabel(names, column) + " : " +
                    std::move(what);
  };
  for (; p < chunk.end; ++line) {
    const char* eol = LineEnd(p, chunk.end);
    const char* q = SkipBlanks(p, eol);
    if (q == eol) {
      p = eol + 1;
      continue;
    }
    for (std::size_t c = 0; c < n; ++c) {
      q = SkipBlanks(q, eol);
      if (q == eol) {
        fail(c, "valeur manquante (la ligne a " + std::to_string(c) + " valeurs au lieu de " +
                    std::to_string(n) + ")");
        chunk.rows_parsed = row;
        return;
      }
      const char* token_end = TokenEnd(q, eol);
      double value = 0;
      const NumberStatus status = ParseNumber(q, token_end, value);
      if (status != NumberStatus::kOk) {
        fail(c, (status == NumberStatus::kOutOfRange ? "nombre hors de la portée d'un double, lu "
                                                     : "nombre attendu, lu ") +
                    Quote(q, token_end));
        chunk.rows_parsed = row;
        return;
      }
      out[c][row] = value;
      q = token_end;
    }
    q = SkipBlanks(q, eol);
    if (q != eol) {
      fail(n, "valeur en trop, lu " + Quote(q, TokenEnd(q, eol)) + " (l'en-tête nomme " +
                  std::to_string(n) + " colonnes)");
      chunk.rows_parsed = row;
      return;
    }
    ++row;
    p = eol + 1;
  }
  chunk.rows_parsed = row;
}

int ThreadCount(int requested, std::size_t bytes, std::size_t min_chunk_bytes) {
  int threads = requested > 0 ? requested : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::clamp(threads, 1, 64);
  const std::size_t useful =
      std::max<std::size_t>(1, bytes / std::max<std::size_t>(1, min_chunk_bytes));
  return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), useful));
}

// Runs work(i) for i in [0, count) on `count` threads (the last one on the caller's).
template <class Work>
void ForEachInParallel(std::size_t count, Work&& work) {
  std::vector<std::thread> threads;
  threads.reserve(count);
  for (std::size_t i = 0; i + 1 < count; ++i) threads.emplace_back([&work, i] { work(i); });
  if (count > 0) work(count - 1);
  for (std::thread& t : threads) t.join();
}

}  // namespace

ReadResult ParseTable(std::string_view text, int threads, std::size_t min_chunk_bytes) {
  ReadResult result;
  const char* p = text.data();
  const char* end = text.data() + text.size();
  // The header is the first non-blank line.
  std::size_t line = 1;
  const char* header_end = end;
  for (; p < end; ++line) {
    header_end = LineEnd(p, end);
    if (SkipBlanks(p, header_end) < header_end) break;
    p = header_end + 1;
  }
  if (p >= end) {
    result.error_line = 1;
    result.error_column = 1;
    result.message = "Ligne 1 : fichier vide, aucune ligne d'en-tête";
    return result;
  }
  Table& table = result.table;
  bool all_numbers = true;
  for (const char* q = SkipBlanks(p, header_end); q < header_end; q = SkipBlanks(q, header_end)) {
    const char* token_end = TokenEnd(q, header_end);
    table.names.emplace_back(q, token_end);
    double value = 0;
    if (ParseNumber(q, token_end, value) != NumberStatus::kOk) all_numbers = false;
    q = token_end;
  }
  // A table without a header (the bar snapshot "Ib.dat"): its columns are named C1, C2...
  const char* data = header_end + (header_end < end ? 1 : 0);
  std::size_t data_line = line + 1;
  if (all_numbers) {
    result.has_header = false;
    for (std::size_t c = 0; c < table.names.size(); ++c) {
      table.names[c] = "C" + std::to_string(c + 1);
    }
    data = p;
    data_line = line;
  }

  // Chunks of whole lines.
  const std::size_t bytes = static_cast<std::size_t>(end - data);
  const int count = ThreadCount(threads, bytes, min_chunk_bytes);
  std::vector<Chunk> chunks(static_cast<std::size_t>(count));
  const char* start = data;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const char* stop = end;
    if (i + 1 < chunks.size()) {
      stop = std::max(start, data + bytes * (i + 1) / chunks.size());
      stop = stop < end ? LineEnd(stop, end) : end;
      if (stop < end) ++stop;  // the line end belongs to the chunk
    }
    chunks[i].begin = start;
    chunks[i].end = stop;
    start = stop;
  }
  ForEachInParallel(chunks.size(), [&](std::size_t i) { CountRows(chunks[i]); });
  std::size_t rows = 0;
  for (Chunk& chunk : chunks) {
    chunk.first_line = data_line;
    chunk.first_row = rows;
    data_line += chunk.lines;
    rows += chunk.rows;
  }
  table.columns.assign(table.names.size(), std::vector<double>(rows));
  ForEachInParallel(chunks.size(),
                    [&](std::size_t i) { ParseChunk(chunks[i], table.names, table.columns); });

  // Rows are kept up to the first bad line.
  std::size_t kept = rows;
  for (const Chunk& chunk : chunks) {
    if (chunk.failed) {
      kept = chunk.first_row + chunk.rows_parsed;
      result.message = chunk.message;
      result.error_line = chunk.error_line;
      result.error_column = chunk.error_column;
      break;
    }
  }
  if (kept < rows) {
    for (std::vector<double>& column : table.columns) {
      column.resize(kept);
      column.shrink_to_fit();
    }
  }
  result.complete = result.message.empty();
  return result;
}

ReadResult ReadTable(const std::filesystem::path& path, int threads) {
  ReadResult failed;
  failed.message = "Impossible d'ouvrir le fichier " + path.string();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return failed;
  }
  // The whole file in one buffer, released as soon as the numbers are parsed; a file that
  // grows while it is read is read up to where it ended when reading stopped.
  std::size_t capacity = static_cast<std::size_t>(info.st_size) + 1;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]);
  if (!buffer) {
    ::close(fd);
    failed.message = "Mémoire insuffisante pour lire le fichier " + path.string();
    return failed;
  }
  std::size_t size = 0;
  while (size < capacity) {
    const ssize_t n = ::read(fd, buffer.get() + size, capacity - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      failed.message = "Erreur de lecture du fichier " + path.string();
      return failed;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ParseTable(std::string_view(buffer.get(), size), threads);
}

}  // namespace mas::viewer
