#pragma once
// One run of a sweep and its row of the summary table.
//
// Every run is the study plus the run's changes, applied as --set applies them, and run
// as `mas run` runs it (RunMode 0, a fresh carried state, no viewer): its numbers are the
// same. What a sweep changes besides: the run records its columns in memory for the
// metrics (whatever CreateOutputFile says; a table only with --tables, in the tables
// folder as "run_<index>.dat", the bar snapshot as "Ib_<index>.dat"), and it writes no
// cage matrix dump (runs on other threads would write the one file at once).
//
// Summary table: tab-separated, a header line, then one line per run:
//   index  <one column per parameter: its value as written>  status  steps
//   <one column per metric; a band has two, amplitude and frequency>  message
// status: tf_atteint, divergence, interrompue, aucun_mode, refusee, erreur_modele, erreur
// (the run could not be set up); numbers with the shortest text that reads back to the
// same double, "nan" for a metric with no sample; message: the first message the run
// showed (tabs and line ends as spaces), empty when none. A row is a function of the
// run alone: whatever ran it (threads, ranks, a resumed sweep) writes the same bytes.

#include <atomic>
#include <string>
#include <string_view>

#include "engine/settings.h"
#include "sweep/sweep_file.h"
#include "tables/table_file.h"

namespace mas {

struct SweepRow {
  long long index = 0;
  std::string line;          // the row, "\n" included
  bool interrupted = false;  // stopped by the user: no row, the run is to do again
};

class SweepRunner {
 public:
  // `study`: the study as read (FileLoaded set). Checks every value of every parameter
  // against the study (bar indices) and the metrics' columns against the first run's
  // table; throws SweepFileError naming the line.
  // `tables_format`: the kind of the runs' tables in `tables_folder` (run_<index>.dat,
  // .csv or .mat); the bar snapshots stay text.
  SweepRunner(const SweepFile& file, SimulationSettings study, std::string tables_folder = {},
              TableFormat tables_format = TableFormat::kText);

  const SweepFile& file() const { return file_; }
  const SweepPlan& plan() const { return plan_; }
  long long size() const { return plan_.size(); }
  // Header line of the summary, "\n" included.
  const std::string& header() const { return header_; }

  // Runs run `index` and returns its row. Safe to call from several threads at once.
  // `stop` (may be null) stands for the Escape key of runs that poll it.
  SweepRow Run(long long index, const std::atomic<bool>* stop = nullptr) const;

  // The index of the run whose row `line` (without "\n") is, or -1 when the line is no
  // complete row of this sweep (field count, index range, the parameters' values).
  long long RowIndex(std::string_view line) const;

  // What the metrics will give, told against the first run's time base [t0, tf]: a
  // window outside the run (the metric will be nan), a band spanning fewer than
  // kFewBandLines lines of its window. Each begins with "Attention : " and names the line.
  const std::vector<std::string>& warnings() const { return warnings_; }
  // One line per band metric: the spacing of its spectrum's lines (1 / the window's
  // length) and the window, for the summary.
  const std::vector<std::string>& resolutions() const { return resolutions_; }

 private:
  void CheckMetricWindows(const SimulationSettings& first);

  SweepFile file_;
  SweepPlan plan_;
  SimulationSettings study_;
  std::string tables_folder_;
  TableFormat tables_format_ = TableFormat::kText;
  std::vector<std::string> metric_columns_;
  std::string header_;
  std::size_t fields_ = 0;
  std::vector<std::string> warnings_;
  std::vector<std::string> resolutions_;
};

}  // namespace mas
