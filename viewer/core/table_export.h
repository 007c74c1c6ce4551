#pragma once
// Export of the visible time range as a table of the same kind the workbench writes: a
// header line of names, then one line per sample, every cell left-justified in 16
// characters followed by two spaces, numbers with 8 significant digits and a decimal point;
// or as a CSV or .mat file (tables/table_file.h).

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "tables/table_file.h"
#include "viewer/core/table.h"

namespace mas::viewer {

// Text of the rows whose time (column `time_column`) lies in [t0, t1], with the time
// column first and then `columns` (indices into the table; the time column is not
// repeated).
std::string ExportRangeText(const Table& table, std::size_t time_column,
                            const std::vector<std::size_t>& columns, double t0, double t1);

// The same rows and columns as a table in memory.
ColumnTable ExportRangeColumns(const Table& table, std::size_t time_column,
                               const std::vector<std::size_t>& columns, double t0, double t1);

// Writes it to `path` (the previous file is kept when writing fails), in the kind its
// extension names: ".csv" (commas, a decimal point, eight significant digits), ".mat"
// (MATLAB version 5, the values at full precision), anything else the text above.
bool ExportRange(const std::filesystem::path& path, const Table& table, std::size_t time_column,
                 const std::vector<std::size_t>& columns, double t0, double t1,
                 std::string& message);

}  // namespace mas::viewer
