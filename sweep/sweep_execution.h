#pragma once
// Running the runs of a sweep on the threads of one machine, and the progress of a sweep.

#include <atomic>
#include <functional>
#include <span>

#include "sweep/sweep_runner.h"

namespace mas {

// Receives the rows as runs finish, one at a time, on the calling thread.
using RowSink = std::function<void(const SweepRow&)>;
// Asked between rows: true to stop handing out runs (Ctrl-C).
using StopRequest = std::function<bool()>;

// Runs `runs` on `threads` threads (each run on its own copy of the study; a thread
// takes the next run as soon as it is free, so long and short runs mix well). Rows reach
// `deliver` on the calling thread in the order the runs finish. When `stop_requested`
// answers true, no new run starts, the runs under way that poll Escape stop (their rows
// are marked interrupted) and the others finish. Returns true when every run was done.
bool RunOnThreads(const SweepRunner& runner, std::span<const long long> runs, int threads,
                  const RowSink& deliver, const StopRequest& stop_requested);

// Progress of a sweep on the terminal: runs done, runs per second and time left.
struct SweepProgress {
  long long done = 0;   // runs of this session done
  long long total = 0;  // runs this session has to do
  double seconds = 0.0;
};
// "Simulations : 37/200 (18 %), 12.3 par s, reste 13 s": numbers with a decimal point
// whatever the locale.
std::string FormatProgress(const SweepProgress& p);

}  // namespace mas
