#pragma once
// The curve viewer's table: named columns of doubles read from any white-space table
// with a header line of column names, as the workbench writes them (the output table,
// the measured start-up record, the modulator's debug series, the optimisers' logs).

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace mas::viewer {

// Columns of equal length, stored column by column (a column is what a plot draws).
struct Table {
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;

  std::size_t RowCount() const { return columns.empty() ? 0 : columns.front().size(); }
  std::size_t ColumnCount() const { return names.size(); }
  // Index of the first column of that name, or -1.
  int ColumnIndex(std::string_view name) const;
};

// What a read gives: every row read up to the first bad one, and when the file could not
// be read whole, a message naming the line and the column where reading stopped.
struct ReadResult {
  Table table;
  bool complete = false;         // every line of the file was read
  std::string message;           // empty when complete
  std::size_t error_line = 0;    // 1-based line of the fault (0: none or the whole file)
  std::size_t error_column = 0;  // 1-based column of the fault (0: none or the whole line)
  bool has_header = true;  // false: the first line held numbers, the columns are named C1, C2...
};

// Reads a table file: a ".csv" or ".mat" file as tables/table_file.h reads it, any other
// as the white-space text. The text file is mapped, not copied, and its lines are parsed in
// `threads` parallel chunks (0: one per core) straight into the final columns, so the
// memory left after the read is the numbers as doubles.
ReadResult ReadTable(const std::filesystem::path& path, int threads = 0);

// Below this many bytes of numbers a chunk is not worth a thread.
inline constexpr std::size_t kMinChunkBytes = std::size_t{1} << 20;

// The same on text in memory (tests, the fuzz target, a pipe). `min_chunk_bytes` lets
// tests cut short texts into many chunks.
ReadResult ParseTable(std::string_view text, int threads = 0,
                      std::size_t min_chunk_bytes = kMinChunkBytes);

}  // namespace mas::viewer
