#include "sweep/sweep_runner.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <limits>

#include "engine/run_simulation.h"
#include "engine/run_state.h"
#include "files/column_recorder.h"
#include "files/number_format.h"
#include "files/output_recorder.h"
#include "files/settings_override.h"
#include "sweep/metrics.h"

namespace mas {
namespace {

// The platform a sweep's run sees: it keeps the first message for the row, shows nothing
// else, and reads Escape from the sweep's stop flag.
class RunPlatform final : public Platform {
 public:
  explicit RunPlatform(const std::atomic<bool>* stop) : stop_(stop) {}
  void ShowMessage(std::string_view text, std::string_view, MessageIcon) override {
    if (first_.empty()) first_ = text;
  }
  void SetStatusText(std::string_view) override {}
  void SetProgress(int) override {}
  void SetWaitCursor(bool) override {}
  bool EscapePressed() override { return stop_ != nullptr && stop_->load(); }
  void StartProcess(const std::string&) override {}
  const std::string& first_message() const { return first_; }

 private:
  const std::atomic<bool>* stop_;
  std::string first_;
};

std::string StatusWord(RunStatus status) {
  switch (status) {
    case RunStatus::kReachedEnd:
      return "tf_atteint";
    case RunStatus::kInterrupted:
      return "interrompue";
    case RunStatus::kDiverged:
      return "divergence";
    case RunStatus::kNoMode:
      return "aucun_mode";
    case RunStatus::kRefused:
      return "refusee";
    case RunStatus::kModelError:
      return "erreur_modele";
  }
  return "erreur";
}

// A cell holds no tab and no line end.
std::string Cell(std::string_view text) {
  std::string cell(text);
  std::replace_if(
      cell.begin(), cell.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return cell;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? line.npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::string Padded(long long index, long long count) {
  std::string digits = std::to_string(index);
  const std::size_t width = std::to_string(std::max(count - 1, 0LL)).size();
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

[[noreturn]] void FailAt(const SweepFile& f, int line, std::string_view detail) {
  if (detail.starts_with("--set ")) detail.remove_prefix(6);
  throw SweepFileError(f.file_name + ", ligne " + std::to_string(line) + " : " +
                       std::string(detail));
}

}  // namespace

SweepRunner::SweepRunner(const SweepFile& file, SimulationSettings study, std::string tables_folder,
                         TableFormat tables_format)
    : file_(file),
      plan_(file_),
      study_(std::move(study)),
      tables_folder_(std::move(tables_folder)),
      tables_format_(tables_format) {
  study_.cage.SetDumpPath("");
  // The first run's settings: every change must apply to the study (bar indices).
  SimulationSettings first = study_;
  const std::vector<std::string> changes = plan_.Changes(0);
  for (std::size_t c = 0; c < file_.changes.size(); ++c) {
    const int line = file_.changes[c].line;
    try {
      ApplyOverride(first, ParseOverride(changes[c]));
    } catch (const OverrideError& e) {
      FailAt(file_, line, e.what());
    }
  }
  // Every other value of a list that depends on the study (the bar lists, checked
  // against the bars allocated), on the first run's settings; a single field's value was
  // checked whole by the parser.
  for (const SweepParameter& p : file_.parameters) {
    for (const std::string& value : p.values) {
      try {
        const Override o = ParseOverride(p.name + "=" + value);
        if (o.kind == Override::Kind::kField) continue;
        SimulationSettings trial = first;
        ApplyOverrides(trial, {o});
      } catch (const OverrideError& e) {
        FailAt(file_, p.line, e.what());
      }
    }
  }
  const std::vector<std::string> names = RecordedColumnNames(first);
  for (const MetricSpec& m : file_.metrics) {
    if (std::find(names.begin(), names.end(), m.column) == names.end()) {
      std::string list;
      for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
      FailAt(file_, m.line,
             "la colonne « " + m.column + " » n'est pas dans la table de l'étude (colonnes : " +
                 list + ") ; choisissez-la par set, par exemple set OutSel.Wm=1");
    }
    if (std::find(metric_columns_.begin(), metric_columns_.end(), m.column) ==
        metric_columns_.end()) {
      metric_columns_.push_back(m.column);
    }
  }
  if (metric_columns_.empty()) metric_columns_.emplace_back("time(s)");
  CheckMetricWindows(first);

  header_ = "index";
  for (const SweepParameter& p : file_.parameters) header_ += "\t" + p.name;
  header_ += "\tstatus\tsteps";
  for (const MetricSpec& m : file_.metrics) {
    header_ += "\t" + m.label;
    if (m.kind == MetricKind::kBand) header_ += "\t" + m.frequency_label;
  }
  header_ += "\tmessage\n";
  fields_ = SplitTabs(std::string_view(header_).substr(0, header_.size() - 1)).size();
}

void SweepRunner::CheckMetricWindows(const SimulationSettings& first) {
  for (const MetricSpec& m : file_.metrics) {
    const std::string where =
        "Attention : " + file_.file_name + ", ligne " + std::to_string(m.line);
    const double start = m.windowed ? std::max(m.t1, first.t0) : first.t0;
    const double stop = m.windowed ? std::min(m.t2, first.tf) : first.tf;
    if (!(start < stop)) {
      warnings_.push_back(where + " : la fenêtre de " + m.label +
                          " est hors de la simulation (de " + FormatG(first.t0, 6) + " à " +
                          FormatG(first.tf, 6) + " s) : la métrique vaudra nan");
      continue;
    }
    if (m.kind != MetricKind::kBand) continue;
    const double length = stop - start;
    const double spacing = 1.0 / length;
    const std::string lines = "raies espacées de " + FormatG(spacing, 4) + " Hz (fenêtre de " +
                              FormatG(length, 6) + " s)";
    resolutions_.push_back(m.label + " : " + lines + ", fréquence interpolée entre elles");
    if ((m.f2 - m.f1) / spacing < kFewBandLines) {
      std::string warning = where;
      warning += " : la bande de " + FormatG(m.f2 - m.f1, 6) + " Hz de " + m.label;
      warning += " couvre moins de " + FormatG(kFewBandLines, 3) + " " + lines;
      warning += " : allongez la fenêtre ou élargissez la bande";
      warnings_.push_back(std::move(warning));
    }
  }
}

SweepRow SweepRunner::Run(long long index, const std::atomic<bool>* stop) const {
  SweepRow row;
  row.index = index;
  std::string status;
  std::string message;
  long long steps = 0;
  std::vector<double> metrics;
  const bool record = !file_.metrics.empty() || !tables_folder_.empty();
  OutputRecorder table;
  ColumnRecorder columns(tables_folder_.empty() ? nullptr : &table);
  columns.KeepOnly(metric_columns_);
  try {
    SimulationSettings s = study_;
    ApplyOverrides(s, ParseOverrides(plan_.Changes(index)));
    if (record) s.CreateOutputFile = true;
    if (!tables_folder_.empty()) {
      const std::filesystem::path folder(tables_folder_);
      const std::string name = Padded(index, plan_.size());
      s.OutFileName = TablePathFor((folder / ("run_" + name + ".dat")).string(), tables_format_);
      table.SetFormat(tables_format_);
      table.SetSnapshotPath((folder / ("Ib_" + name + ".dat")).string());
      // The sweep names these files itself: a link found under one of their names is
      // replaced, never followed into the file it points to.
      table.SetLinkPolicy(LinkPolicy::kReplaceLink);
    }
    CarriedState carried;
    RunPlatform platform(stop);
    const RunOutcome outcome =
        RunSimulation(s, carried, platform, record ? &columns : nullptr, false, 0);
    row.interrupted = outcome.status == RunStatus::kInterrupted && stop != nullptr && stop->load();
    status = StatusWord(outcome.status);
    steps = outcome.steps;
    message = platform.first_message();
    const bool ran =
        outcome.status != RunStatus::kRefused && outcome.status != RunStatus::kModelError;
    for (const MetricSpec& m : file_.metrics) {
      const auto& series = columns.series();
      const auto found =
          std::find_if(series.begin(), series.end(),
                       [&](const ColumnRecorder::Series& c) { return c.name == m.column; });
      std::vector<double> values;
      if (ran && !series.empty() && found != series.end()) {
        values = ComputeMetric(m, series.front().values, found->values);
      } else {
        values.assign(m.kind == MetricKind::kBand ? 2 : 1,
                      std::numeric_limits<double>::quiet_NaN());
      }
      metrics.insert(metrics.end(), values.begin(), values.end());
    }
  } catch (const std::exception& e) {
    status = "erreur";
    message = e.what();
    metrics.clear();
    for (const MetricSpec& m : file_.metrics) {
      metrics.insert(metrics.end(), m.kind == MetricKind::kBand ? 2 : 1,
                     std::numeric_limits<double>::quiet_NaN());
    }
  }

  std::string& line = row.line;
  line = std::to_string(index);
  for (std::size_t p = 0; p < file_.parameters.size(); ++p) {
    line += '\t';
    line += Cell(plan_.Value(index, static_cast<int>(p)));
  }
  line += '\t' + status + '\t' + std::to_string(steps);
  for (double v : metrics) line += '\t' + ShortestText(v);
  line += '\t' + Cell(message) + '\n';
  return row;
}

long long SweepRunner::RowIndex(std::string_view line) const {
  const std::vector<std::string_view> fields = SplitTabs(line);
  if (fields.size() != fields_) return -1;
  long long index = -1;
  const std::string_view first = fields[0];
  const auto [end, ec] = std::from_chars(first.data(), first.data() + first.size(), index);
  if (ec != std::errc{} || end != first.data() + first.size() || index < 0 ||
      index >= plan_.size() || std::to_string(index) != first) {
    return -1;
  }
  for (std::size_t p = 0; p < file_.parameters.size(); ++p) {
    if (fields[p + 1] != Cell(plan_.Value(index, static_cast<int>(p)))) return -1;
  }
  return index;
}

}  // namespace mas
