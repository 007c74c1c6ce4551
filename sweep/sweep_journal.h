#pragma once
// The journal of a sweep and its summary table.
//
// While a sweep runs, each row is appended to the journal "<summary>.journal" as soon as
// its run is over and handed to the system at once, so a sweep killed at any moment
// keeps every finished run. At the end the summary is written sorted by run index
// (through platform/file_replacement.h: the previous summary stays until the new one is
// complete) and the journal is removed.
//
// Resuming keeps the journal's rows that are rows of this sweep (same header, the run's
// parameter values); a last line cut by the kill, a row of another sweep or a repeated
// run is dropped. Without a journal, a finished summary of this sweep is read instead, so
// resuming a finished sweep runs nothing and writes the same summary again.

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sweep/sweep_runner.h"

namespace mas {

class SweepJournal {
 public:
  // Starts the journal: with `resume`, after the rows already done. Throws
  // std::runtime_error with the user's message when the journal cannot be written, or
  // when the file to resume belongs to another sweep (its header differs).
  SweepJournal(const SweepRunner& runner, std::string summary_path, bool resume);
  ~SweepJournal();
  SweepJournal(const SweepJournal&) = delete;
  SweepJournal& operator=(const SweepJournal&) = delete;

  // The runs still to do, in increasing order.
  std::vector<long long> Pending() const;
  long long done() const { return static_cast<long long>(rows_.size()); }
  long long resumed() const { return resumed_; }
  const std::string& journal_path() const { return journal_path_; }

  // Appends a finished run's row. False when the journal could not be written.
  bool Add(const SweepRow& row);
  // Writes the summary sorted by run index and removes the journal. False when the
  // summary could not be written (the journal is then kept).
  bool Finish();

 private:
  void ReadRows(const std::string& path, bool must_match);

  const SweepRunner& runner_;
  std::string summary_path_;
  std::string journal_path_;
  std::FILE* file_ = nullptr;
  std::map<long long, std::string> rows_;
  long long resumed_ = 0;
};

}  // namespace mas
