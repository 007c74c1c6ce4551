#include "sweep/sweep_execution.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace mas {

bool RunOnThreads(const SweepRunner& runner, std::span<const long long> runs, int threads,
                  const RowSink& deliver, const StopRequest& stop_requested) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<SweepRow> finished;  // guarded by mutex
  int workers_left = 0;           // guarded by mutex
  std::exception_ptr error;       // guarded by mutex

  auto work = [&]() {
    try {
      while (!stop.load()) {
        const std::size_t k = next.fetch_add(1);
        if (k >= runs.size()) break;
        SweepRow row = runner.Run(runs[k], &stop);
        std::lock_guard lock(mutex);
        finished.push_back(std::move(row));
        wake.notify_one();
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!error) error = std::current_exception();
      stop.store(true);
    }
    std::lock_guard lock(mutex);
    --workers_left;
    wake.notify_one();
  };

  const int count = static_cast<int>(std::min<std::size_t>(
      static_cast<std::size_t>(std::max(threads, 1)), std::max<std::size_t>(runs.size(), 1)));
  bool complete = true;
  {
    workers_left = count;
    std::vector<std::jthread> pool;
    pool.reserve(static_cast<std::size_t>(count));
    for (int w = 0; w < count; ++w) pool.emplace_back(work);
    std::unique_lock lock(mutex);
    while (true) {
      wake.wait_for(lock, std::chrono::milliseconds(50),
                    [&] { return !finished.empty() || workers_left == 0; });
      while (!finished.empty()) {
        SweepRow row = std::move(finished.front());
        finished.pop_front();
        lock.unlock();
        if (row.interrupted) complete = false;
        deliver(row);
        lock.lock();
      }
      if (workers_left == 0) break;
      lock.unlock();
      if (!stop.load() && stop_requested && stop_requested()) stop.store(true);
      lock.lock();
    }
  }  // the workers are joined here
  if (error) std::rethrow_exception(error);
  return complete && next.load() >= runs.size() && !stop.load();
}

namespace {

std::string Fixed(double value, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

std::string Duration(double seconds) {
  const long long s = std::llround(std::min(seconds, 1e9));
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

}  // namespace

std::string FormatProgress(const SweepProgress& p) {
  std::string text = "Simulations : " + std::to_string(p.done) + "/" + std::to_string(p.total);
  if (p.total > 0) text += " (" + std::to_string(p.done * 100 / p.total) + " %)";
  if (p.seconds > 0.0 && p.done > 0) {
    const double rate = static_cast<double>(p.done) / p.seconds;
    text += ", " + Fixed(rate, rate < 10.0 ? 2 : 1) + " par s";
    if (p.done < p.total) {
      text += ", reste " + Duration(static_cast<double>(p.total - p.done) / rate);
    }
  }
  return text;
}

}  // namespace mas
