// Any bytes as a table for the curve viewer. The reader never crashes; cut into any
// number of chunks it gives exactly the one-pass result (rows, message, line, column);
// every column has the same length; a table read in part says where it stopped; and the
// min/max decimation of what was read keeps, in every pixel column, the min and max of
// its samples, with and without the block summaries. The same bytes as a CSV table never
// crash its reader either, and give columns of one length.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "tables/table_file.h"
#include "viewer/core/decimation.h"
#include "viewer/core/table.h"

namespace {

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "FINDING: %s\n", what);
  std::abort();
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace mas::viewer;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const mas::TableFileRead csv = mas::ParseCsv(text);
  for (const auto& column : csv.table.columns) {
    if (column.size() != csv.table.RowCount()) Finding("CSV columns of different lengths");
  }
  if (csv.table.names.size() != csv.table.columns.size()) Finding("CSV names and columns differ");
  if (!csv.complete && csv.message.empty()) Finding("CSV read in part without a message");
  const ReadResult one = ParseTable(text, 1);
  // The first byte chooses how many chunks (1 byte at least each) the second pass uses.
  const int threads = size > 0 ? 2 + data[0] % 7 : 2;
  const ReadResult many = ParseTable(text, threads, 1);
  if (one.table.names != many.table.names) Finding("chunks changed the column names");
  if (one.table.columns.size() != many.table.columns.size()) Finding("chunks changed the columns");
  for (std::size_t c = 0; c < one.table.columns.size(); ++c) {
    if (!SameBits(one.table.columns[c], many.table.columns[c])) Finding("chunks changed a value");
  }
  if (one.message != many.message || one.error_line != many.error_line ||
      one.error_column != many.error_column) {
    Finding("chunks changed the fault reported");
  }
  const Table& t = one.table;
  if (t.columns.size() != t.names.size()) Finding("a column without a name");
  for (const auto& column : t.columns) {
    if (column.size() != t.RowCount()) Finding("columns of different lengths");
  }
  if (one.complete != one.message.empty()) Finding("complete and message disagree");
  if (!one.complete && one.error_line == 0) Finding("a fault without its line");

  // Decimation of the second column against the first.
  if (t.columns.size() >= 2 && t.RowCount() > 0) {
    const std::vector<double>& x = t.columns[0];
    const std::vector<double>& y = t.columns[1];
    const bool monotone = IsNonDecreasing(x);
    double x0 = x.front(), x1 = x.back();
    if (!monotone || !(x0 < x1)) {
      x0 = -1e300;
      x1 = 1e300;
    }
    const MinMaxIndex index(y);
    const int width = 1 + (size > 1 ? data[1] % 40 : 7);
    const Decimated fast =
        DecimateMinMax(x, y, monotone, monotone ? &index : nullptr, x0, x1, width);
    const Decimated slow = DecimateMinMax(x, y, false, nullptr, x0, x1, width);
    for (std::size_t p = 0; p < fast.columns.size(); ++p) {
      const PixelColumn& a = fast.columns[p];
      const PixelColumn& b = slow.columns[p];
      if (a.empty != b.empty || a.count != b.count) Finding("decimation lost samples");
      if (a.empty) continue;
      if (!(a.min == b.min || (std::isnan(a.min) && std::isnan(b.min))) ||
          !(a.max == b.max || (std::isnan(a.max) && std::isnan(b.max)))) {
        Finding("decimation changed a min or max");
      }
    }
  }
  return 0;
}
