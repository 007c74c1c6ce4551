#pragma once
// Runs the registered benchmarks and prints, after the usual table, the ratio of the
// times of named pairs measured side by side in the same run: CPU time by default, so
// that other work on the machine does not skew the ratio; wall-clock time for work spread
// over threads, whose CPU time is not the main thread's.

#include <benchmark/benchmark.h>

#include <cstdio>
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
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        times_[run.benchmark_name()] =
            clock_ == Clock::kCpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  Clock clock_;
  std::map<std::string, double> times_;
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

}  // namespace mas::bench
