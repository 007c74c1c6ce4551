#pragma once
// Reading the measured start-up ("dem1.dat" by default): a header line of column names,
// then white-space separated numbers, as many per row as the header has names. Column 0
// is the time (s); the columns ExpWmCol and ExpIasCol hold the speed (tr/mn) and the
// phase current (A).
//
// Rules of the reading:
//  - Every gene is marked as optimised (GenX all on) before anything else, whatever the
//    outcome, and the raw record is emptied; the resampled tables and ExpTableReady are
//    left as they are (they belong to the table build).
//  - A record named by the study (ExpNom relative, the study read from another folder) is
//    looked for beside the study first, then from the current folder, as a sweep's study
//    is looked for beside the sweep file. A record named on the command line is taken as
//    named.
//  - Only a regular file is read (a link to one is followed): a pipe, a device or a folder
//    is refused before it is opened for reading, so that a pipe without a writer never
//    blocks and /dev/zero never fills the memory. A record is also refused above
//    kExperimentalFileMaxBytes.
//  - The header is the first line, without its line end (LF or CR LF). It must hold 1 to
//    kExperimentalHeaderMax characters: an empty header, and a longer one, are refused
//    with "Ligne d'entete trop longue". (The workbench has always read the header into a
//    line of 894 characters; a longer header would be cut there and leave nothing
//    readable after it, so refusing it says what is wrong instead of giving an empty
//    record.)
//  - The column count is the number of space- or tab-separated names of the header. Both
//    column indices must lie in 0 .. count-1, otherwise "Probleme de n° de colones".
//  - The numbers follow in any layout: line ends carry no meaning, so a row may be spread
//    over several lines or several rows share one. A number is kept only when white space
//    follows it: the very last number of a file that does not end with a line end is
//    lost (records have always been read so, and the tables built from them must not
//    change). A row cut short by the end of the file keeps the values read before the
//    end, so the three arrays may then differ in length by one; interpolation uses only
//    the rows present in all three.
//  - Numbers are read with a point as decimal separator whatever the locale, in decimal
//    or exponent form, with an optional sign. A word that is not such a finite number
//    (text, "1,5", "1.5x", "nan", "inf", 1e400) refuses the whole record, naming its line
//    and its column: a record cut there would be fitted on a fraction of itself.
//  - The times (column 0) must be positive or zero and strictly increase from row to row:
//    the first row that breaks this refuses the record, naming its line. The interpolation
//    walks the record in time order and would otherwise compare a few scattered instants.
//  - Every refusal keeps its caption ("Erreur de lecture") and its first line, then names
//    the file read and what a record must hold.
//  - Since the numbers are read in sequence, one stray or missing value shifts every later
//    value into the wrong column. The reading stays as it is, but the lines read whose
//    count of numbers is neither 0 nor the header's are counted, and the user is warned
//    (caption "Attention"), naming the first of them and how many there are. A record
//    that spreads its rows over several lines is warned about too.

#include <optional>
#include <string>

#include "engine/experiment.h"
#include "engine/settings.h"
#include "platform/platform.h"

namespace mas {

// Longest header line accepted (characters, line end excluded).
inline constexpr int kExperimentalHeaderMax = 894;

// Largest record read (bytes): a record of ten million rows of five numbers fits with room
// to spare; anything larger is not a measured start-up.
inline constexpr long long kExperimentalFileMaxBytes = 2LL << 30;

enum class ExperimentalReadStatus {
  kRead,               // the whole file was read
  kNotFound,           // "Fichier : <name> introuvable" (missing or unreadable)
  kNotRegularFile,     // a pipe, a device or a folder: never opened for reading
  kTooLarge,           // above kExperimentalFileMaxBytes
  kHeaderRejected,     // "Ligne d'entete trop longue"
  kBadColumns,         // "Probleme de n° de colones"
  kBadValue,           // a word that is not a finite number
  kTimeNotIncreasing,  // a negative time, or one not above the previous row's
  kBadTable,           // a CSV or .mat record that cannot be read as a table
};

// Records may also be CSV or MATLAB files, chosen by extension (tables/table_file.h):
// "dem1.csv" (comma, or semicolon with a decimal comma), "dem1.mat" (one vector per
// column). They hold the same columns, counted in the file's order (a .mat file's
// variables in file order); every value must be a finite number and a refused value names
// its line (CSV) or its variable (.mat). The rules on the times, the file kinds and the
// size are the text's.
//
// The columns may also be named instead of counted (RecordColumnNames; a .mat file's
// columns by their names or their variable names, "Vitesse(tr/mn)" or "Vitesse"): a name given
// replaces ExpWmCol or ExpIasCol by the index of the column of that name, and a named time
// column replaces column 0 (a text record keeps its time in column 0).

// Where a record named by the study is looked for.
enum class RecordLookup {
  kBesideStudyFirst,  // beside s.ParamFileName, then from the current folder
  kAsNamed,           // from the current folder only (a name given on the command line)
};

// Columns of a record named by their header names (or .mat variable names); an empty
// name keeps the column given by the settings.
struct RecordColumnNames {
  std::string time;
  std::string speed;
  std::string current;
  bool empty() const { return time.empty() && speed.empty() && current.empty(); }
};

// Parses "t=NAME,wm=NAME,ias=NAME" (any of the three, in any order); nothing, with a
// French message in `error`, for another text.
std::optional<RecordColumnNames> ParseRecordColumnNames(const std::string& text,
                                                        std::string& error);

struct ExperimentalReadResult {
  ExperimentalReadStatus status = ExperimentalReadStatus::kNotFound;
  std::string path;       // the file read (or looked for)
  int columns = 0;        // names in the header
  int complete_rows = 0;  // rows with all their columns
  // The refused value's place: line in the file and column in the row (from 0).
  int bad_line = 0;
  int bad_column = 0;
  // Lines whose count of numbers differs from the header's (empty lines aside), the
  // first of them (line number in the file) and its count.
  int ragged_lines = 0;
  int first_ragged_line = 0;
  int first_ragged_count = 0;
  std::string message;  // the message shown, empty when the file was read whole
  bool usable() const { return status == ExperimentalReadStatus::kRead; }
};

// The file a reading of s.ExpNom opens: with kBesideStudyFirst, a relative name found
// beside the study s.ParamFileName, otherwise s.ExpNom as it is.
std::string ExperimentalFilePath(const SimulationSettings& s, RecordLookup lookup);

// Reads s.ExpNom (looked for as `lookup` says) into the raw record of `d` (ExpTime,
// ExpWm, ExpIas) with the columns s.ExpWmCol and s.ExpIasCol, and sets every GenX flag of
// `s`. Failures are shown on `platform` with the caption "Erreur de lecture" and leave
// the raw record empty. s.ExpNom itself is left as named.
// Named columns (`names`) set s.ExpWmCol and s.ExpIasCol to the columns found.
ExperimentalReadResult ReadExperimentalFile(SimulationSettings& s, ExperimentalData& d,
                                            Platform& platform,
                                            RecordLookup lookup = RecordLookup::kBesideStudyFirst,
                                            const RecordColumnNames& names = {});

}  // namespace mas
