#pragma once
// The output table of a run ("out.dat" by default): one header line naming the recorded
// columns, then one line per recorded step, the time first and then every selected
// quantity in the fixed column order of the display dialogs.
//
// Cell layout (the curve viewer and the identification split lines on white space, but
// users compare files byte for byte, so the layout is exact):
//   header: "time(s)     ", then each column name left-justified in 16 characters + "  "
//   line:   time as "%-10.8g  ", each real column as "%-16.8g  ", each integer column as
//           "%-16d  ", then "\n".
// Numbers are formatted with std::to_chars (files/number_format.h): the bytes of printf's
// %g, whatever the locale of the process, at a fraction of its cost. Lines go into a
// large buffer that is handed to the file in big blocks.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_simulation.h"
#include "engine/transforms.h"
#include "platform/file_replacement.h"
#include "tables/table_file.h"

namespace mas {

// Stator currents (alpha, beta axes of the stator frame), torque and load torque of the
// machine model that the run advances, as the "MAS" columns show them.
struct MachineReadout {
  double IdsMAS = 0.0;
  double IqsMAS = 0.0;
  double CeMAS = 0.0;
  double CrMAS = 0.0;
};

// The machine model in use: the cage model (stator currents in its rotor frame) when
// SpecialModel is set, else the dq model (stator frame).
MachineReadout ModelInUseReadout(const RunView& view);

// The complete header line of the table for these selections, "\n" included.
// Experimental table columns appear only when their table exists.
std::string OutputHeaderText(const SimulationSettings& settings,
                             const ExperimentalData& experiment = {});

// A text file written through one large buffer: cells are formatted straight into the
// buffer and the buffer goes to the file in whole blocks. The text goes into a new file
// beside the target that takes its place at Close (platform/file_replacement.h), so a
// table that cannot be written completely never replaces the previous one. A failed
// write is remembered (WriteFailed) and otherwise ignored, so that a full disk never
// stops a simulation; the previous table is then kept.
class OutputFileBuffer {
 public:
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

  explicit OutputFileBuffer(std::size_t capacity = kDefaultCapacity);
  ~OutputFileBuffer();
  OutputFileBuffer(const OutputFileBuffer&) = delete;
  OutputFileBuffer& operator=(const OutputFileBuffer&) = delete;

  // Begins a new version of the file; false when it cannot be created. An open file is
  // closed first. Clears the write-failure mark.
  bool Open(const std::string& file_name, LinkPolicy links = LinkPolicy::kFollow);
  bool IsOpen() const { return file_ != nullptr; }
  // Hands the buffer to the file, closes it and puts it in place of the previous one;
  // after a failed write the new version is dropped and the previous file stays.
  // Nothing happens when already closed.
  void Close();
  // Drops the new version: the previous file stays as it was. Nothing happens when
  // already closed.
  void Abandon();
  // Hands the buffered text to the file without closing it.
  void Flush();
  // True once any write or the close of the current file has failed.
  bool WriteFailed() const { return write_failed_; }

  // "%-16.8g  "
  void AppendReal(double value);
  // "%-16d  "
  void AppendInteger(long long value);
  // "%-10.8g  " (the time column)
  void AppendTime(double value);
  // A CSV cell: "%.8g" (or "%d"), then `after` (the separator, or the line end).
  void AppendCsvReal(double value, char after);
  void AppendCsvInteger(long long value, char after);
  void AppendText(std::string_view text);
  void EndLine();

 private:
  // Longest cell: a number of at most kMaxNumberChars characters (never less than the
  // field width) and the two separator spaces.
  static constexpr std::size_t kMaxCellBytes = 42;

  void MakeRoom(std::size_t bytes) {
    if (static_cast<std::size_t>(end_ - cursor_) < bytes) Flush();
  }
  void WriteToFile(const char* data, std::size_t size);

  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
  FileReplacement replacement_;
  std::FILE* file_ = nullptr;  // replacement_.file() while open
  bool write_failed_ = false;
};

// The run's output table, written as the run loop asks: Open at the start of a run,
// WriteHeader once its state is initialised, WriteLine at every recorded step, Close at
// the end (also safe a second time, and done by the destructor).
//
// The table is the white-space text above by default. SetFormat chooses instead:
//  - CSV: the same rows and numbers (eight significant digits, a decimal point), the
//    header's names without padding ("time(s),Ce(Nm),..."), separated by commas;
//  - MAT version 5 (tables/table_file.h): the values are kept in memory as computed,
//    8 bytes per value, (columns + 1) x recorded rows in all (room for the expected rows
//    is reserved at the header, so the step loop does not allocate), and the file is
//    written at Close.
// The file name is used as given; the front ends choose its extension (TablePathFor).
class OutputRecorder : public OutputSink {
 public:
  explicit OutputRecorder(std::size_t buffer_capacity = OutputFileBuffer::kDefaultCapacity);
  ~OutputRecorder() override;

  bool Open(const std::string& file_name) override;
  // Writes the header and fixes the list of recorded columns for the data lines.
  void WriteHeader(const RunView& view) override;
  // Writes one data line: the time and the columns fixed by WriteHeader. Does not
  // allocate. Does nothing when no file is open.
  void WriteLine(const RunView& view) override;
  void Close() override;
  // A run refused after its first step: the new table is dropped, the previous one kept.
  void Discard() override;
  // True when a column of the flux estimator or of the filtered back-EMF or currents is
  // selected.
  bool ReadsEstimates(const SimulationSettings& settings) const override;

  // A write to the table failed during the run (for instance a full disk); the front end
  // may warn the user, the run itself went on.
  bool WriteFailed() const { return file_.WriteFailed() || mat_failed_; }
  // The bar-current snapshot "Ib.dat" (cage option "Capt") could not be written.
  bool SnapshotFailed() const { return snapshot_failed_; }
  // Where the bar-current snapshot goes ("Ib.dat" in the current directory by default).
  void SetSnapshotPath(std::string path) { snapshot_path_ = std::move(path); }
  // How the table and the snapshot treat a link found under their names: followed (the
  // table the user names), or replaced (the tables a sweep names in its folder).
  void SetLinkPolicy(LinkPolicy links) { links_ = links; }
  bool IsOpen() const { return file_.IsOpen() || mat_.file() != nullptr; }
  // The kind of table written from the next Open on.
  void SetFormat(TableFormat format) { format_ = format; }
  TableFormat format() const { return format_; }

  // Value of one recorded column; exactly one of the getters is set. Per-bar columns
  // (cage bars, meshes and ring portions) read their quantity at `index`.
  using RealGetter = double (*)(const RunView&);
  using IntegerGetter = int (*)(const RunView&);
  using IndexedGetter = double (*)(const RunView&, int);
  struct Column {
    RealGetter real = nullptr;
    IntegerGetter integer = nullptr;
    IndexedGetter indexed = nullptr;
    int index = 0;
  };

 private:
  void WriteTextLine(const RunView& view, double t);
  void WriteCsvLine(const RunView& view, double t);
  void KeepMatLine(const RunView& view, double t);

  OutputFileBuffer file_;
  TableFormat format_ = TableFormat::kText;
  // The .mat table: its new version under way and the values kept until Close.
  FileReplacement mat_;
  ColumnTable mat_table_;
  bool mat_failed_ = false;
  std::vector<Column> columns_;
  bool snapshot_wanted_ = false;
  bool snapshot_done_ = false;
  bool snapshot_failed_ = false;
  std::string snapshot_path_ = "Ib.dat";
  LinkPolicy links_ = LinkPolicy::kFollow;
};

// One column of the table as a program reads it: its header name without the padding
// ("Ib0", not "Ib0" and 13 spaces) and how to read its value at a recorded step.
struct RecordedColumn {
  std::string name;
  OutputRecorder::Column column;
};

// The columns a run of these settings records, in table order, the time excluded: what
// the header lists, for the front ends that keep the columns in memory
// (files/column_recorder.h).
std::vector<RecordedColumn> RecordedColumns(const SimulationSettings& settings,
                                            const ExperimentalData& experiment = {});

// Value of a recorded column at this step; an integer column's value is exact.
double ReadColumn(const OutputRecorder::Column& column, const RunView& view);

}  // namespace mas
