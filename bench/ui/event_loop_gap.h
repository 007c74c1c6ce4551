#pragma once
// What the window benchmarks share: wall time between two instants, and how long a
// window's event loop once went without answering while work went on behind it. A 10 ms
// timer ticks on the window's thread; the largest time between two ticks is that gap.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace mas::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

class EventLoopGap {
 public:
  EventLoopGap() {
    ticker_.setInterval(10);
    QObject::connect(&ticker_, &QTimer::timeout, [this] {
      largest_ms_ = std::max(largest_ms_, static_cast<double>(since_tick_.nsecsElapsed()) / 1e6);
      since_tick_.restart();
    });
  }

  void Start() {
    largest_ms_ = 0.0;
    since_tick_.start();
    ticker_.start();
  }
  void Stop() { ticker_.stop(); }
  // The largest time between two ticks since Start, in milliseconds.
  double LargestMs() const { return largest_ms_; }

 private:
  QElapsedTimer since_tick_;
  QTimer ticker_;
  double largest_ms_ = 0.0;
};

}  // namespace mas::bench
