#pragma once
// The table files engineers exchange beside the workbench's own white-space text: CSV
// (comma, or semicolon with a decimal comma or point) and MATLAB's MAT version 5.
//
// A table is named columns of doubles of one length. Which kind a file is follows from its
// extension only (".csv", ".mat", any case); anything else is the white-space text.
//
// The .mat files written here hold one double column vector per table column, named by
// MatlabNames (the column's name without its unit, made a valid MATLAB name), and three
// cell arrays of strings beside them, in column order:
//   variables  the MATLAB names of the column vectors;
//   colonnes   the columns' names as the text table's header gives them ("Ce(Nm)");
//   unites     their units ("Nm"; "" when the name has none).
// Values are stored as computed, at full double precision (the text table rounds them to
// eight significant digits). The file is written compressed with zlib.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_replacement.h"

namespace mas {

enum class TableFormat { kText, kCsv, kMat };

// "text", "csv" or "mat"; nothing for any other word.
std::optional<TableFormat> ParseTableFormat(std::string_view word);
const char* TableFormatWord(TableFormat format);
// The kind of a file, from its extension.
TableFormat TableFormatOfPath(const std::string& path);
// Where a table of this kind goes for a text table named `text_path`: the same name with
// the kind's extension in place of the text one's ("out.dat" gives "out.csv", "out.mat").
// The text kind keeps the name as given.
std::string TablePathFor(const std::string& text_path, TableFormat format);

// A column name split into its name and the unit between its final parentheses:
// "Ce(Nm)" gives {"Ce", "Nm"}, "Ib12" gives {"Ib12", ""}.
std::pair<std::string, std::string> SplitUnit(std::string_view column_name);

// Valid, distinct MATLAB names for these columns: the name without its unit, every
// character other than an ASCII letter, digit or underscore replaced by '_', "c_" put
// before a name that does not start with a letter, at most 63 characters, and a suffix
// "_2", "_3"... on a name already taken (the cell arrays' names included).
std::vector<std::string> MatlabNames(const std::vector<std::string>& column_names);

struct ColumnTable {
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;
  std::size_t RowCount() const { return columns.empty() ? 0 : columns.front().size(); }
  // Index of the first column of that name, or -1.
  int ColumnIndex(std::string_view name) const;
};

// A numeric variable of a .mat file that is not a column (a matrix, complex or sparse
// values, a structure...), and why; a program asking for it by name can say so.
struct SkippedVariable {
  std::string name;
  std::string reason;
};

struct TableFileRead {
  ColumnTable table;
  // Every row read when true; otherwise `message` says, in French, what is wrong and the
  // table keeps the rows read before the fault (CSV) or nothing (.mat).
  bool complete = false;
  std::string message;
  std::size_t error_line = 0;    // 1-based line of a CSV fault (0: none or not a line)
  std::size_t error_column = 0;  // 1-based column of a CSV fault
  bool has_header = true;        // false: the first CSV line held numbers (columns C1, C2...)
  std::vector<SkippedVariable> skipped;
  // A .mat file's variable name of each column (beside the name its `colonnes` gives);
  // empty for a CSV file.
  std::vector<std::string> variables;
};

// CSV text: the separator is ';' when the first non-blank line holds one, else ','. With
// ';' a number may use a decimal comma. The first non-blank line names the columns
// (names between double quotes lose them; a line of numbers instead names them C1, C2...);
// every other non-blank line holds one value per column. A leading UTF-8 byte-order mark,
// CR LF line ends, blanks around a field and double quotes around a number are accepted;
// "nan", "inf" and "-inf" read as those values. A missing or extra value, or a field that
// is not a number, stops the reading at that line.
TableFileRead ParseCsv(std::string_view text);
// The same from a file (only a regular file is read).
TableFileRead ReadCsvFile(const std::string& path);

// The column vectors of a .mat file (any real numeric class, converted to double), named
// and ordered by its `variables`/`colonnes` cell arrays when it has them (files written
// here), otherwise by the variables' names in file order. Columns of different lengths,
// no column at all, or an unreadable file are refused.
TableFileRead ReadMatFile(const std::string& path);

// The text of a CSV table: the header line of names, then one line per row, numbers as
// "%.8g" with a decimal point, separated by commas.
std::string CsvText(const ColumnTable& table);

// Writes a .mat file as described above into a new version already begun (its
// written_path), then commits it; abandons it and returns false when matio fails.
bool WriteMatTo(FileReplacement& begun, const ColumnTable& table);

// Writes a .mat file as described above, through a FileReplacement (the previous file
// stays when the writing fails). False with a French message on failure.
bool WriteMatFile(const std::string& path, const ColumnTable& table, LinkPolicy links,
                  std::string& message);

}  // namespace mas
