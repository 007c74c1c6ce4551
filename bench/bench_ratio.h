#pragma once
// Runs the registered benchmarks and prints, after the usual table, the ratio of the
// times of named pairs measured side by side in the same run: CPU time by default, so
// that other work on the machine does not skew the ratio; wall-clock time for work spread
// over threads, whose CPU time is not the main thread's.
//
// With repetitions, every case keeps the minimum over its repetitions: other work on the
// machine only ever adds time, so the fastest repetition is the closest to the code's own
// cost, and ratios of minima drift far less than ratios of single runs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace mas::bench {

enum class Clock { kCpu, kWall };

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(Clock clock = Clock::kCpu) : clock_(clock) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
        const double t =
            clock_ == Clock::kCpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
        const std::string name = run.benchmark_name();
        auto [it, fresh] = times_.try_emplace(name, t);
        if (!fresh) it->second = std::min(it->second, t);
        auto items = run.counters.find("items_per_second");
        if (items != run.counters.end()) {
          auto [rit, rfresh] = rates_.try_emplace(name, items->second.value);
          if (!rfresh) rit->second = std::max(rit->second, items->second.value);
        }
        ++repetitions_[name];
      }
    }
    // With repetitions, the table shows their mean, median and spread rather than each one.
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate) shown.push_back(run);
    }
    if (shown.empty()) {
      ConsoleReporter::ReportRuns(runs);
    } else {
      ConsoleReporter::ReportRuns(shown);
    }
  }
  // Fastest time of one iteration of the case, in the case's unit; 0 if it never ran.
  double Time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }
  // Items per second of the fastest repetition; 0 if the case counts none.
  double Rate(const std::string& name) const {
    auto it = rates_.find(name);
    return it == rates_.end() ? 0.0 : it->second;
  }
  int Repetitions(const std::string& name) const {
    auto it = repetitions_.find(name);
    return it == repetitions_.end() ? 0 : it->second;
  }

 private:
  Clock clock_;
  std::map<std::string, double> times_;
  std::map<std::string, double> rates_;
  std::map<std::string, int> repetitions_;
};

// Runs every benchmark and prints "label: numerator / denominator = ratio" for each pair.
inline int RunWithRatios(int argc, char** argv,
                         const std::vector<std::pair<std::string, std::string>>& pairs,
                         const std::vector<std::string>& labels) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const double a = reporter.Time(pairs[i].first);
    const double b = reporter.Time(pairs[i].second);
    if (a > 0 && b > 0) std::printf("%s: %.3f\n", labels[i].c_str(), a / b);
  }
  benchmark::Shutdown();
  return 0;
}

// The command line with repeated, interleaved runs added unless it already says how
// many repetitions to make: each repetition of every case runs in a shuffled order, so
// that a burst of load on the machine falls on all the cases alike.
inline std::vector<char*> WithInterleavedRepetitions(int argc, char** argv, int repetitions,
                                                     std::vector<std::string>& storage) {
  bool given = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) given = true;
  }
  std::vector<char*> args(argv, argv + argc);
  if (!given) {
    storage = {"--benchmark_repetitions=" + std::to_string(repetitions),
               "--benchmark_enable_random_interleaving=true"};
    for (std::string& s : storage) args.push_back(s.data());
  }
  args.push_back(nullptr);
  return args;
}

// One case and its target against the baseline (0: no target).
struct BaselineCase {
  std::string name;
  std::string label;
  double target = 0;
};

// Runs every benchmark repeatedly and interleaved, then prints, for the baseline and every
// case, the items per second of its fastest repetition and the ratio of its fastest time to
// the baseline's fastest time. Returns 0; the ratios are figures, not a pass or fail.
inline int RunAgainstBaseline(int argc, char** argv, const std::string& baseline,
                              const std::vector<BaselineCase>& cases, const char* items = "items",
                              int repetitions = 7) {
  std::vector<std::string> storage;
  std::vector<char*> args = WithInterleavedRepetitions(argc, argv, repetitions, storage);
  int count = static_cast<int>(args.size()) - 1;
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double base = reporter.Time(baseline);
  std::printf("\nFastest of %d repetitions, against %s:\n", reporter.Repetitions(baseline),
              baseline.c_str());
  auto line = [&](const std::string& name, const std::string& label, double ratio, double target) {
    std::printf("  %-44s %8.2f M %s/s", label.c_str(), reporter.Rate(name) / 1e6, items);
    if (ratio > 0) std::printf("  %6.3f x", ratio);
    if (target > 0) std::printf("  (target <= %.2f)", target);
    std::printf("\n");
  };
  if (base > 0) line(baseline, baseline, 1.0, 0);
  for (const BaselineCase& c : cases) {
    const double t = reporter.Time(c.name);
    if (t > 0 && base > 0) line(c.name, c.label, t / base, c.target);
  }
  benchmark::Shutdown();
  return 0;
}

}  // namespace mas::bench
