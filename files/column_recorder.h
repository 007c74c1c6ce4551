#pragma once
// The run's recorded columns kept in memory as numbers, for a front end that hands them
// to a program instead of a file (the Python module): the time first, then the selected
// columns in table order, each value as computed (the table rounds them to eight
// significant digits; integer columns are exact in a double). The steps recorded are the
// table's: every OutStep steps from td0 on, the time counted from td0 when it is set.
// With a table recorder, the same run also writes its table (and the bar snapshot) as
// `mas run` does; without one, no file is touched.

#include <string>
#include <vector>

#include "files/output_recorder.h"

namespace mas {

// Names of the columns a run of these settings records, in table order, the time
// ("time(s)") first, without the header's padding.
std::vector<std::string> RecordedColumnNames(const SimulationSettings& settings,
                                             const ExperimentalData& experiment = {});

class ColumnRecorder : public OutputSink {
 public:
  struct Series {
    std::string name;
    std::vector<double> values;
  };

  explicit ColumnRecorder(OutputRecorder* table = nullptr) : table_(table) {}

  // Keeps only the columns of these names (the time is always kept); names that the run
  // does not record are ignored, so a front end checks them first against
  // RecordedColumnNames. Empty: every column.
  void KeepOnly(std::vector<std::string> names) { wanted_ = std::move(names); }

  bool Open(const std::string& file_name) override;
  // Fixes the kept columns and reserves room for the steps the run will record.
  void WriteHeader(const RunView& view) override;
  // Appends one value to every kept column; allocates only when a column outgrows the
  // room reserved at the header.
  void WriteLine(const RunView& view) override;
  void Close() override;
  // A run refused after its first step: the table, if any, is dropped (the previous one
  // stays); the columns stay for the caller to look at.
  void Discard() override;

  // The columns of the last run, time first (empty before its header). The caller may
  // move the values out.
  std::vector<Series>& series() { return series_; }

 private:
  OutputRecorder* table_;
  std::vector<std::string> wanted_;
  std::vector<OutputRecorder::Column> columns_;  // the kept columns but the time
  std::vector<Series> series_;
};

}  // namespace mas
