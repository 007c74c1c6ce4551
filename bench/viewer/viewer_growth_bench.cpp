// How opening a table in the viewer grows with its size: ReadTable on output tables of
// 10 columns and 10^5, 10^6 (and with --large 10^7) rows, that is 10^6, 10^7 (10^8) samples.
// Each size is read in a child process of its own, so that its peak resident memory
// (getrusage's ru_maxrss) is its own; the time is the fastest of three reads, on all cores
// and on one. Per sample, time and memory stay flat when cost grows like the work.
//
//   viewer_growth_bench [--large]   (the tables are written once into $TMPDIR)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "viewer/core/table.h"

namespace {

namespace fs = std::filesystem;
constexpr int kColumns = 10;

// An output table as the recorder writes it: "%-10.8g  " for the time, "%-16.8g  " cells.
fs::path Table(long rows) {
  const char* tmp = std::getenv("TMPDIR");
  fs::path p = fs::path(tmp != nullptr ? tmp : "/tmp") /
               ("mas_viewer_growth_" + std::to_string(rows) + ".dat");
  if (fs::exists(p) && fs::file_size(p) > static_cast<std::uintmax_t>(rows) * 100) return p;
  std::FILE* f = std::fopen(p.c_str(), "w");
  if (f == nullptr) std::abort();
  std::string line = "time(s)     ";
  for (int c = 1; c < kColumns; ++c) {
    std::string name = "Col" + std::to_string(c) + "(A)";
    name.resize(16, ' ');
    line += name + "  ";
  }
  line += '\n';
  std::fputs(line.c_str(), f);
  char cell[64];
  for (long i = 0; i < rows; ++i) {
    line.clear();
    const double t = 1e-5 * static_cast<double>(i);
    for (int c = 0; c < kColumns; ++c) {
      const double v = c == 0 ? t : 100 * std::sin(2 * M_PI * 50 * t + c) * std::exp(-c * t);
      char* end = std::to_chars(cell, cell + 40, v, std::chars_format::general, 8).ptr;
      const int width = c == 0 ? 10 : 16;
      while (end - cell < width) *end++ = ' ';
      line.append(cell, end);
      line += "  ";
    }
    line += '\n';
    std::fputs(line.c_str(), f);
  }
  std::fclose(f);
  return p;
}

struct Figures {
  double all_cores_s = 0;
  double one_core_s = 0;
  double peak_mb = 0;  // peak resident memory of the child over its start
  bool complete = false;
};

double PeakMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;  // kB on Linux
}

// Reads the table three times per thread count; the fastest read is kept.
Figures Measure(const fs::path& path, long rows) {
  Figures f;
  const double start = PeakMb();
  f.complete = true;
  for (int threads : {0, 1}) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      mas::viewer::ReadResult r = mas::viewer::ReadTable(path, threads);
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (!r.complete || static_cast<long>(r.table.RowCount()) != rows) f.complete = false;
      best = std::min(best, s);
    }
    (threads == 0 ? f.all_cores_s : f.one_core_s) = best;
  }
  f.peak_mb = PeakMb() - start;
  return f;
}

// Measures in a child process and hands the figures back through a pipe.
bool MeasureInChild(const fs::path& path, long rows, Figures& out) {
  int fd[2];
  if (pipe(fd) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fd[0]);
    const Figures f = Measure(path, rows);
    const bool sent = write(fd[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
    _exit(sent ? 0 : 1);
  }
  close(fd[1]);
  const bool read_all = read(fd[0], &out, sizeof out) == static_cast<ssize_t>(sizeof out);
  close(fd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return read_all && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> rows = {100'000, 1'000'000};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--large") == 0) rows.push_back(10'000'000);
  }
  std::printf("%10s %9s %12s %12s %10s %14s %14s\n", "samples", "file MB", "all cores s",
              "one core s", "peak MB", "ns/sample (1)", "bytes/sample");
  for (long r : rows) {
    const fs::path path = Table(r);
    Figures f;
    if (!MeasureInChild(path, r, f) || !f.complete) {
      std::printf("%10ld  not read\n", r * kColumns);
      continue;
    }
    const double samples = static_cast<double>(r) * kColumns;
    std::printf("%10.0e %9.1f %12.3f %12.3f %10.1f %14.2f %14.2f\n", samples,
                static_cast<double>(fs::file_size(path)) / 1048576, f.all_cores_s, f.one_core_s,
                f.peak_mb, f.one_core_s * 1e9 / samples, f.peak_mb * 1048576 / samples);
  }
  return 0;
}
