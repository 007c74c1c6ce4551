#pragma once
// What the window benchmarks share besides the event-loop gap: the application on Qt's
// offscreen platform, the count of repeats from the command line, the timing of work a
// window hands to its worker thread, the best of the repeats of the window against the
// command line, and numbers printed with a decimal point whatever the locale Qt has set
// (QApplication takes the environment's locale, so printf could write a decimal comma).

#include <QApplication>
#include <QEventLoop>
#include <QObject>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "bench/ui/event_loop_gap.h"

namespace mas::bench {

// Qt's offscreen platform unless another one is asked for; call it before the
// application is made.
inline void UseOffscreenPlatformUnlessAsked() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The repeats asked as the first argument: `fallback` without one, at least 1, and
// `fallback` for text that is no integer.
inline int Repeats(int argc, char** argv, int fallback = 3) {
  int n = fallback;
  if (argc > 1) {
    const char* text = argv[1];
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, n);
    if (ec != std::errc{} || ptr != end) n = fallback;
  }
  return std::max(1, n);
}

// Fixed-point text with a decimal point whatever the locale.
inline std::string Fixed(double value, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

// Processor time of the calling thread, in seconds.
inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Work a window handed to its worker thread: its wall time, the largest gap between two
// ticks of the window's event loop meanwhile, and the processor time of the window's own
// thread.
struct WindowTiming {
  double seconds = 0.0;
  double largest_gap_ms = 0.0;
  double window_thread_seconds = 0.0;
};

// Starts the work with `start`, which says whether it is still going, and runs the event
// loop until `sender` emits `finished`.
template <class Sender, class Signal, class Start>
WindowTiming TimeWindowWork(const Sender* sender, Signal finished, Start start) {
  QEventLoop loop;
  QObject::connect(sender, finished, &loop, &QEventLoop::quit);
  EventLoopGap gap;
  WindowTiming timing;
  const double cpu_start = ThreadCpuSeconds();
  const auto start_time = Clock::now();
  gap.Start();
  if (start()) loop.exec();
  timing.seconds = Seconds(start_time, Clock::now());
  gap.Stop();
  timing.largest_gap_ms = gap.LargestMs();
  timing.window_thread_seconds = ThreadCpuSeconds() - cpu_start;
  return timing;
}

// The best wall times of the command line and of the window over the repeats, the
// largest event-loop gap and the most processor time of the window's thread.
struct SideBySide {
  double best_cli = std::numeric_limits<double>::infinity();
  double best_window = std::numeric_limits<double>::infinity();
  double largest_gap_ms = 0.0;
  double window_thread_seconds = 0.0;
};

// `cli` (returning its seconds) and `window` (returning its WindowTiming) `repeats` times
// each, each side first in turn so that neither always runs on a warmer machine.
template <class Cli, class Window>
SideBySide BestOfRepeats(int repeats, Cli cli, Window window) {
  SideBySide best;
  for (int i = 0; i < repeats; ++i) {
    WindowTiming w;
    if (i % 2 == 0) {
      best.best_cli = std::min(best.best_cli, cli());
      w = window();
    } else {
      w = window();
      best.best_cli = std::min(best.best_cli, cli());
    }
    best.best_window = std::min(best.best_window, w.seconds);
    best.largest_gap_ms = std::max(best.largest_gap_ms, w.largest_gap_ms);
    best.window_thread_seconds = std::max(best.window_thread_seconds, w.window_thread_seconds);
  }
  return best;
}

}  // namespace mas::bench
