// The curve viewer against the plain ways:
//   reading a 10^6-row x 10-column output table (about 170 MB): ReadTable (from_chars in
//     parallel chunks, and on one thread) against a std::ifstream >> double loop;
//   redrawing a plot of 10^7 points (offscreen, 1000 x 400 pixels) with min/max
//     decimation, whole and zoomed, against drawing every point with QPainter;
//   memory: the resident memory a read table keeps, and the peak of the read, against
//     the bytes of its numbers as doubles (printed before the benchmarks).
//
//   viewer_bench [--benchmark_filter=...]   (the table is written once into $TMPDIR)

#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "viewer/core/table.h"
#include "viewer/plot_painter.h"

namespace {

namespace fs = std::filesystem;
using namespace mas::viewer;

constexpr int kRows = 1'000'000;
constexpr int kColumns = 10;

// An output table as the recorder writes it: "%-10.8g  " for the time, "%-16.8g  " cells.
const fs::path& TablePath() {
  static const fs::path path = [] {
    const char* tmp = std::getenv("TMPDIR");
    fs::path p = fs::path(tmp != nullptr ? tmp : "/tmp") / "mas_viewer_bench_table.dat";
    if (fs::exists(p) && fs::file_size(p) > 100'000'000) return p;
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
    for (int i = 0; i < kRows; ++i) {
      line.clear();
      const double t = 1e-5 * i;
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
  }();
  return path;
}

void BM_ReadTable(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    ReadResult r = ReadTable(TablePath(), threads);
    if (!r.complete || r.table.RowCount() != kRows) state.SkipWithError("table not read");
    benchmark::DoNotOptimize(r.table.columns.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(TablePath())));
}
BENCHMARK(BM_ReadTable)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_IfstreamDouble(benchmark::State& state) {
  for (auto _ : state) {
    std::ifstream in(TablePath());
    std::string name;
    for (int c = 0; c < kColumns; ++c) in >> name;
    std::vector<std::vector<double>> columns(kColumns);
    double v = 0;
    for (int c = 0; in >> v; c = (c + 1) % kColumns)
      columns[static_cast<std::size_t>(c)].push_back(v);
    if (columns[0].size() != kRows) state.SkipWithError("table not read");
    benchmark::DoNotOptimize(columns.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(TablePath())));
}
BENCHMARK(BM_IfstreamDouble)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Ten million samples of a current with one spike.
const Dataset& LongColumn() {
  static const Dataset data = [] {
    const std::size_t n = 10'000'000;
    Table t;
    t.names = {"time(s)", "Ias(A)"};
    t.columns.assign(2, std::vector<double>(n));
    for (std::size_t i = 0; i < n; ++i) {
      const double time = 1e-6 * static_cast<double>(i);
      t.columns[0][i] = time;
      t.columns[1][i] = 10 * std::sin(2 * M_PI * 50 * time) + 0.5 * std::sin(2 * M_PI * 5e3 * time);
    }
    t.columns[1][n / 3] = 40;
    Dataset d(std::move(t));
    d.Index(1);  // the block summaries are built once, when the column is first drawn
    return d;
  }();
  return data;
}

void Redraw(benchmark::State& state, Range time) {
  const Dataset& data = LongColumn();
  QImage image(1000, 400, QImage::Format_ARGB32_Premultiplied);
  ViewState view;
  view.time = time;
  view.plots = {{{1}, true, {}}};
  for (auto _ : state) {
    QPainter painter(&image);
    PaintPlots(painter, image.rect(), data, view);
  }
}

void BM_RedrawDecimatedWhole(benchmark::State& state) { Redraw(state, {0, 10}); }
void BM_RedrawDecimatedZoom(benchmark::State& state) { Redraw(state, {3.3, 3.31}); }
BENCHMARK(BM_RedrawDecimatedWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawDecimatedZoom)->Unit(benchmark::kMillisecond);

// Every point through QPainter: map to pixels and draw one polyline.
void BM_RedrawEveryPoint(benchmark::State& state) {
  const Dataset& data = LongColumn();
  QImage image(1000, 400, QImage::Format_ARGB32_Premultiplied);
  const std::vector<double>& t = data.Time();
  const std::vector<double>& y = data.Column(1);
  std::vector<QPointF> points(t.size());
  for (auto _ : state) {
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::blue, 0));
    for (std::size_t i = 0; i < t.size(); ++i) {
      points[i] = QPointF(40 + t[i] / 10 * 940, 200 - y[i] * 4);
    }
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
  }
}
BENCHMARK(BM_RedrawEveryPoint)->Unit(benchmark::kMillisecond)->Iterations(2);

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  }
  return -1;
}

// Resident memory kept by a read table and the peak during the read, against its
// numbers as doubles.
void PrintMemory() {
  TablePath();
  std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak (VmHWM)
  const long before = StatusKb("VmRSS:");
  ReadResult r = ReadTable(TablePath());
  const long after = StatusKb("VmRSS:");
  const long peak = StatusKb("VmHWM:");
  const double doubles_kb =
      static_cast<double>(r.table.RowCount() * r.table.ColumnCount()) * 8 / 1024;
  std::printf(
      "Mémoire : table lue %.1f Mo de doubles ; résident gardé %.1f Mo (%.2f x) ; "
      "pointe pendant la lecture %.1f Mo (%.2f x, le fichier de %.1f Mo compris)\n",
      doubles_kb / 1024, (after - before) / 1024.0, (after - before) / doubles_kb,
      (peak - before) / 1024.0, (peak - before) / doubles_kb,
      static_cast<double>(fs::file_size(TablePath())) / 1048576);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrintMemory();
  benchmark::Initialize(&argc, argv);
  mas::bench::RatioReporter reporter(mas::bench::Clock::kWall);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* label, const char* a, const char* b) {
    const double x = reporter.Time(a), y = reporter.Time(b);
    if (x > 0 && y > 0) std::printf("%s: %.3f\n", label, x / y);
  };
  std::printf("\n");
  ratio("ifstream >> double / ReadTable (tous les coeurs)",
        "BM_IfstreamDouble/iterations:1/real_time", "BM_ReadTable/0/iterations:3/real_time");
  ratio("ReadTable un coeur / tous les coeurs", "BM_ReadTable/1/iterations:3/real_time",
        "BM_ReadTable/0/iterations:3/real_time");
  ratio("tous les points / décimé (vue entière)", "BM_RedrawEveryPoint/iterations:2",
        "BM_RedrawDecimatedWhole");
  ratio("tous les points / décimé (zoom 1/1000)", "BM_RedrawEveryPoint/iterations:2",
        "BM_RedrawDecimatedZoom");
  benchmark::Shutdown();
  return 0;
}
