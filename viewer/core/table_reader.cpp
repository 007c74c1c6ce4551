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
#include <new>
#include <system_error>
#include <thread>

#include "tables/table_file.h"
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

// The header of a table: the first non-blank line.
struct Header {
  bool found = false;
  std::vector<std::string> names;
  bool has_header = true;
  std::size_t data_offset = 0;  // bytes before the first data line
  std::size_t data_line = 1;    // its 1-based number
};

// Looks for the header in the first bytes of a file; `at_end` says that they are the
// whole file (otherwise a header line not ended within them is not found yet).
Header FindHeader(std::string_view text, bool at_end) {
  Header h;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* p = begin;
  std::size_t line = 1;
  const char* header_end = end;
  for (; p < end; ++line) {
    header_end = LineEnd(p, end);
    if (header_end == end && !at_end) return h;
    if (SkipBlanks(p, header_end) < header_end) break;
    p = header_end + 1;
  }
  if (p >= end) return h;
  h.found = true;
  bool all_numbers = true;
  for (const char* q = SkipBlanks(p, header_end); q < header_end; q = SkipBlanks(q, header_end)) {
    const char* token_end = TokenEnd(q, header_end);
    h.names.emplace_back(q, token_end);
    double value = 0;
    if (ParseNumber(q, token_end, value) != NumberStatus::kOk) all_numbers = false;
    q = token_end;
  }
  h.data_offset = static_cast<std::size_t>(header_end - begin) + (header_end < end ? 1 : 0);
  h.data_line = line + 1;
  // A table without a header (the bar snapshot "Ib.dat"): its columns are named C1, C2...
  if (all_numbers) {
    h.has_header = false;
    for (std::size_t c = 0; c < h.names.size(); ++c) h.names[c] = "C" + std::to_string(c + 1);
    h.data_offset = static_cast<std::size_t>(p - begin);
    h.data_line = line;
  }
  return h;
}

// Where a parse stopped.
struct Fault {
  bool failed = false;
  std::size_t line = 0, column = 0;
  std::string message;
};

// Parses whole lines [text) (numbered from `first_line`) in parallel chunks into the
// columns from row `first_row`. Returns the rows parsed before the first fault. The
// columns hold `capacity` rows: a text with more rows than that (a file that grew
// between the counting and the parse) stops at the capacity with a fault.
std::size_t ParseLines(std::string_view text, std::size_t first_line, std::size_t first_row,
                       int threads, std::size_t min_chunk_bytes,
                       const std::vector<std::string>& names,
                       std::vector<std::vector<double>>& columns, std::size_t& lines,
                       Fault& fault) {
  const char* data = text.data();
  const char* end = data + text.size();
  const std::size_t bytes = text.size();
  std::vector<Chunk> chunks(static_cast<std::size_t>(ThreadCount(threads, bytes, min_chunk_bytes)));
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
  const std::size_t capacity = names.empty() ? 0 : columns.front().size();
  std::size_t row = first_row;
  std::size_t line = first_line;
  std::size_t usable = chunks.size();
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    chunks[i].first_line = line;
    chunks[i].first_row = row;
    if (row + chunks[i].rows > capacity) {
      usable = i;
      break;
    }
    line += chunks[i].lines;
    row += chunks[i].rows;
  }
  lines = line - first_line;
  ForEachInParallel(usable, [&](std::size_t i) { ParseChunk(chunks[i], names, columns); });
  for (std::size_t i = 0; i < usable; ++i) {
    if (chunks[i].failed) {
      fault.failed = true;
      fault.line = chunks[i].error_line;
      fault.column = chunks[i].error_column;
      fault.message = chunks[i].message;
      return chunks[i].first_row + chunks[i].rows_parsed - first_row;
    }
  }
  if (usable < chunks.size()) {
    fault.failed = true;
    fault.line = chunks[usable].first_line;
    fault.message =
        "Ligne " + std::to_string(fault.line) + " : le fichier a changé pendant la lecture";
  }
  return row - first_row;
}

// The result of a parse: rows kept up to the first fault.
ReadResult Finish(Header header, std::vector<std::vector<double>> columns, std::size_t kept,
                  const Fault& fault) {
  ReadResult result;
  result.has_header = header.has_header;
  result.table.names = std::move(header.names);
  result.table.columns = std::move(columns);
  for (std::vector<double>& column : result.table.columns) {
    if (column.size() != kept) {
      column.resize(kept);
      column.shrink_to_fit();
    }
  }
  if (fault.failed) {
    result.message = fault.message;
    result.error_line = fault.line;
    result.error_column = fault.column;
  }
  result.complete = !fault.failed;
  return result;
}

ReadResult EmptyFile() {
  ReadResult result;
  result.error_line = 1;
  result.error_column = 1;
  result.message = "Ligne 1 : fichier vide, aucune ligne d'en-tête";
  return result;
}

// Reads a file block by block, each block ending at a line end (the part of a line cut
// by the block's end goes with the next block), so that a large table never sits whole
// in memory beside its numbers.
class BlockReader {
 public:
  BlockReader(int fd, std::size_t offset, std::size_t block) : fd_(fd), offset_(offset) {
    buffer_.resize(block);
  }
  // The next block of whole lines; false at the end of the file or on a read error.
  bool Next(std::string_view& lines) {
    if (kept_ > 0 && used_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + used_, kept_);
    }
    used_ = 0;
    if (at_end_) {
      if (kept_ == 0) return false;
      lines = std::string_view(buffer_.data(), kept_);
      used_ = kept_;
      kept_ = 0;
      return true;
    }
    while (true) {
      if (kept_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a very long line
      const ssize_t n =
          ::pread(fd_, buffer_.data() + kept_, buffer_.size() - kept_, static_cast<off_t>(offset_));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failed_ = true;
        return false;
      }
      offset_ += static_cast<std::size_t>(n);
      const std::size_t filled = kept_ + static_cast<std::size_t>(n);
      if (n == 0) {
        at_end_ = true;
        if (filled == 0) return false;
        lines = std::string_view(buffer_.data(), filled);
        used_ = filled;
        kept_ = 0;
        return true;
      }
      const void* last_nl = memrchr(buffer_.data(), '\n', filled);
      if (last_nl == nullptr) {
        kept_ = filled;
        continue;
      }
      used_ = static_cast<std::size_t>(static_cast<const char*>(last_nl) - buffer_.data()) + 1;
      kept_ = filled - used_;
      lines = std::string_view(buffer_.data(), used_);
      return true;
    }
  }
  bool failed() const { return failed_; }

 private:
  int fd_;
  std::size_t offset_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;  // bytes of the buffer handed out
  std::size_t kept_ = 0;  // bytes after them (a cut line)
  bool at_end_ = false;
  bool failed_ = false;
};

// Blocks of 16 MB: a few percent of a large table's numbers, and enough for every
// thread to get megabytes of lines.
constexpr std::size_t kBlockBytes = std::size_t{16} << 20;

}  // namespace

ReadResult ParseTable(std::string_view text, int threads, std::size_t min_chunk_bytes) {
  Header header = FindHeader(text, true);
  if (!header.found) return EmptyFile();
  const std::string_view data = text.substr(header.data_offset);
  // Rows first (cheap), so that the numbers go straight into columns of the final size.
  Chunk all;
  all.begin = data.data();
  all.end = data.data() + data.size();
  CountRows(all);
  std::vector<std::vector<double>> columns(header.names.size(), std::vector<double>(all.rows));
  Fault fault;
  std::size_t lines = 0;
  const std::size_t kept = ParseLines(data, header.data_line, 0, threads, min_chunk_bytes,
                                      header.names, columns, lines, fault);
  return Finish(std::move(header), std::move(columns), kept, fault);
}

namespace {

// A CSV or .mat table, read by tables/table_file.h, as the viewer's table.
ReadResult FromTableFile(TableFileRead read) {
  ReadResult result;
  result.table.names = std::move(read.table.names);
  result.table.columns = std::move(read.table.columns);
  result.complete = read.complete;
  result.message = std::move(read.message);
  result.error_line = read.error_line;
  result.error_column = read.error_column;
  result.has_header = read.has_header;
  return result;
}

}  // namespace

ReadResult ReadTable(const std::filesystem::path& path, int threads) {
  switch (TableFormatOfPath(path.string())) {
    case TableFormat::kCsv:
      return FromTableFile(ReadCsvFile(path.string()));
    case TableFormat::kMat:
      return FromTableFile(ReadMatFile(path.string()));
    case TableFormat::kText:
      break;
  }
  ReadResult failed;
  failed.message = "Impossible d'ouvrir le fichier " + path.string();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return failed;
  failed.message = "Erreur de lecture du fichier " + path.string();

  // The header, from the first block (grown until the header line ends).
  std::string head;
  std::size_t read_bytes = 0;
  Header header;
  for (std::size_t want = 1 << 16;; want *= 2) {
    head.resize(want);
    while (read_bytes < want) {
      const ssize_t n =
          ::pread(fd, head.data() + read_bytes, want - read_bytes, static_cast<off_t>(read_bytes));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return failed;
      if (n == 0) break;
      read_bytes += static_cast<std::size_t>(n);
    }
    const bool at_end = read_bytes < want;
    header = FindHeader(std::string_view(head.data(), read_bytes), at_end);
    if (header.found || at_end) break;
  }
  if (!header.found) return EmptyFile();
  head = std::string();

  // Pass 1: count the rows; pass 2: parse them into columns of that size.
  std::size_t rows = 0;
  {
    BlockReader reader(fd, header.data_offset, kBlockBytes);
    std::string_view block;
    while (reader.Next(block)) {
      Chunk chunk;
      chunk.begin = block.data();
      chunk.end = block.data() + block.size();
      CountRows(chunk);
      rows += chunk.rows;
    }
    if (reader.failed()) return failed;
  }
  std::vector<std::vector<double>> columns;
  try {
    columns.assign(header.names.size(), std::vector<double>(rows));
  } catch (const std::bad_alloc&) {
    failed.message = "Mémoire insuffisante pour lire le fichier " + path.string();
    return failed;
  }
  BlockReader reader(fd, header.data_offset, kBlockBytes);
  std::string_view block;
  std::size_t kept = 0;
  std::size_t line = header.data_line;
  Fault fault;
  while (!fault.failed && reader.Next(block)) {
    std::size_t lines = 0;
    kept +=
        ParseLines(block, line, kept, threads, kMinChunkBytes, header.names, columns, lines, fault);
    line += lines;
  }
  if (reader.failed() && !fault.failed) {
    fault.failed = true;
    fault.line = line;
    fault.message = failed.message;
  }
  // A file that shrank between the passes ends early: the rows read are kept.
  return Finish(std::move(header), std::move(columns), kept, fault);
}

}  // namespace mas::viewer
