#pragma once
// The sweep file: one study run many times with some of its settings changed, and the
// numbers kept of each run. Plain text, one directive per line, "#" starts a comment
// (outside double quotes), blank lines are ignored:
//
//   study   = cage_start.mas        the study, relative to the sweep file's folder
//   set     tf=0.3                  a fixed change for every run, exactly as --set takes it
//   RbRef1  = 1e-3, 0.01, 0.1       a parameter: a list of values (double quotes keep a
//   Cr      = 0:5:20                comma inside a value: BarreSel = "0,3", "1,4"), a range
//   mRr     = normal(1.2, 0.05)     start:step:stop (stop included when the steps land on
//   mLr     = uniform(0.1, 0.12)    it), or a distribution drawn `samples` times
//   samples = 100                   draws of every distribution
//   seed    = 7                     seed of the draws (default 1)
//   combine = grid                  grid (every combination, default) or zip (side by side)
//   window  = 0.5, 1.0              time window of the metrics that follow (all: the run)
//   metric  = mean(Vitesse(tr/mn))  mean, rms, min, max, final of an output column, or
//   metric  = band(Ias(A), 40, 60)  the largest spectral line between two frequencies
//
// Names are those of --set (files/settings_override.h) and every value goes through its
// parser, so a value that --set would refuse is refused here, with the line. Changes are
// applied to the study in file order, each parameter's value of the run at its line.
//
// Combining. Grid: the runs are every combination of the parameters' values, the first
// parameter varying slowest; the distributions are drawn together, `samples` draws, and
// count as one parameter placed at the first of them. Zip: the parameters go side by
// side; lists of one value apply to every run, the others (and `samples`) must have the
// same length.
//
// Draws. Each distribution has its own stream, seeded by the seed and the parameter's
// name (not its place in the file): adding a parameter leaves the others' draws as they
// were. Uniform: a + (b - a) u, u in [0, 1) from 53 bits of a 64-bit Mersenne twister;
// normal: m + s sqrt(-2 ln(1 - u1)) cos(2 pi u2) (Box-Muller, one value per pair). The
// drawn values are written with the shortest text that reads back to the same double.
//
// Metrics read the column by its header name as the output table writes it
// ("Vitesse(tr/mn)", "Ias(A)", "Ib3", "time(s)"), over the recorded steps whose time
// (the table's time column) lies in the window, ends included.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mas {

// A sweep file that cannot be used; what() is the whole message, "FILE, ligne L : ...".
class SweepFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class MetricKind { kMean, kRms, kMin, kMax, kFinal, kBand };

struct MetricSpec {
  MetricKind kind = MetricKind::kMean;
  std::string column;  // header name of the output column
  double f1 = 0.0;     // band: lowest and highest frequency (Hz)
  double f2 = 0.0;
  bool windowed = false;  // false: every recorded step
  double t1 = 0.0;        // window on the table's time column (s)
  double t2 = 0.0;
  // Summary column names: the metric as written, the window appended; a band has a
  // second column, its frequency ("freq(...)").
  std::string label;
  std::string frequency_label;
  int line = 0;
};

struct SweepParameter {
  enum class Kind { kList, kUniform, kNormal };
  std::string name;
  Kind kind = Kind::kList;
  std::vector<std::string> values;  // a list (a range written out), each value's text
  double a = 0.0;                   // uniform(a, b), normal(a = mean, b = deviation)
  double b = 0.0;
  int line = 0;
};

// One change of the study, in file order: a fixed `set` or a parameter.
struct SweepChange {
  std::string fixed;   // "NAME=VALUE" of a set line; empty for a parameter
  int parameter = -1;  // index into SweepFile::parameters
  int line = 0;
};

struct SweepFile {
  std::string file_name;  // as given, for messages
  std::string study;      // path of the study, resolved against the sweep file's folder
  std::vector<SweepChange> changes;
  std::vector<SweepParameter> parameters;
  bool zip = false;
  long long samples = 0;  // 0: not given
  std::uint64_t seed = 1;
  std::vector<MetricSpec> metrics;
};

// Parses the text of a sweep file named `file_name` (for messages; its folder resolves
// the study). Throws SweepFileError naming the line and what was expected.
SweepFile ParseSweepFile(std::string_view text, const std::string& file_name);

// Reads and parses the file. Throws SweepFileError ("Impossible d'ouvrir le fichier X").
SweepFile ReadSweepFile(const std::string& path);

// The runs of a sweep: which value every parameter takes in run i (0 .. size() - 1).
class SweepPlan {
 public:
  // Draws the distributions and checks the sizes (zip lengths, samples). Throws
  // SweepFileError.
  explicit SweepPlan(const SweepFile& file);

  long long size() const { return size_; }
  // Text of the value of parameter p in run i.
  std::string Value(long long run, int parameter) const;
  // The changes of run i in file order, "NAME=VALUE" as --set takes them.
  std::vector<std::string> Changes(long long run) const;

  // Most runs one sweep may hold (a hundred million: the list of runs still to do stays
  // below a gigabyte, and run indices travel as 32-bit integers under MPI).
  static constexpr long long kMaxRuns = 100000000;

 private:
  // Index of run `run` along each axis.
  long long Position(long long run, int parameter) const;

  SweepFile file_;
  bool zip_ = false;
  // Axis of every parameter and the stride of every axis (grid); the draws.
  std::vector<int> axis_of_;
  std::vector<long long> axis_length_;
  std::vector<long long> axis_stride_;
  std::vector<std::vector<double>> draws_;  // per parameter; empty for lists
  long long size_ = 0;
};

// Shortest text that reads back to the same double ("0.1", "1e-05", "nan").
std::string ShortestText(double value);

}  // namespace mas
