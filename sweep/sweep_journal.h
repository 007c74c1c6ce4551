#pragma once
// The journal of a sweep and its summary table.
//
// While a sweep runs, each row is appended to the journal "<summary>.journal" as soon as
// its run is over and handed to the system at once, so a sweep killed at any moment
// keeps every finished run. At the end the summary is written sorted by run index
// (through platform/file_replacement.h: the previous summary stays until the new one is
// complete) and the journal is removed.
//
// The journal and the summary begin with the sweep's fingerprint (SweepFingerprint), then
// the header. Resuming refuses a journal or summary whose fingerprint differs, saying
// what changed, then keeps the journal's rows that are rows of this sweep (same header,
// the run's parameter values); a last line cut by the kill, a row of another sweep or a
// repeated run is dropped. Without a journal, a finished summary of this sweep is read
// instead, so resuming a finished sweep runs nothing and writes the same summary again.
//
// One sweep at a time writes a summary: the journal is locked (flock) for the sweep's
// life, from before anything is read or written to after the summary is in place and
// the journal removed, and a second sweep on the same summary is refused.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/sweep_runner.h"

namespace mas {

// What every row of a sweep depends on besides its parameters: the sweep file's bytes
// (the fixed changes, the values, the metrics), the study's bytes and the program that
// computes the rows. Each is a 64-bit FNV-1a hash of the bytes (Fnv1a).
struct SweepFingerprint {
  std::uint64_t sweep = 0;
  std::uint64_t study = 0;
  std::uint64_t program = 0;

  // "# empreinte\tbalayage=<16 hex>\tétude=<16 hex>\tprogramme=<16 hex>\n"
  std::string Line() const;
  // The fingerprint of a line written by Line() (without "\n"); false when it is none.
  static bool Parse(std::string_view line, SweepFingerprint& out);
  bool operator==(const SweepFingerprint&) const = default;
};

// 64-bit FNV-1a hash of `bytes`, taken eight bytes at a time (one multiply per word),
// the last bytes one by one.
std::uint64_t Fnv1a(std::string_view bytes);

// The fingerprint of the sweep file, the study and the program at these paths ("" for the
// program: the running executable). Throws std::runtime_error when one cannot be read.
SweepFingerprint FingerprintOf(const std::string& sweep_file, const std::string& study,
                               const std::string& program = {});

// The summary is being written by another sweep (its journal is locked).
class SweepBusyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SweepJournal {
 public:
  // Locks and starts the journal: with `resume`, after the rows already done. Throws
  // SweepBusyError when another sweep holds the journal, std::runtime_error with the
  // user's message when the journal cannot be written, or when the file to resume
  // belongs to another sweep (its header or its fingerprint differs). Nothing is changed
  // on disk when it throws.
  SweepJournal(const SweepRunner& runner, std::string summary_path, bool resume,
               const SweepFingerprint& fingerprint = {});
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
  void Lock();
  // The rows of `text` (a journal or a summary named `path`); throws when its fingerprint
  // or header is not this sweep's. Returns the length of its whole lines.
  std::size_t ReadRows(std::string_view text, const std::string& path);
  bool WriteAll(std::string_view text);

  const SweepRunner& runner_;
  std::string summary_path_;
  std::string journal_path_;
  SweepFingerprint fingerprint_;
  int fd_ = -1;  // the locked journal
  std::map<long long, std::string> rows_;
  long long resumed_ = 0;
};

}  // namespace mas
