#include "files/column_recorder.h"

#include <algorithm>

namespace mas {
namespace {

constexpr const char* kTimeName = "time(s)";

// Most values a run reserves room for at its start (256 MiB of doubles); a longer
// recording grows as it goes.
constexpr double kMaxReservedValues = double{1 << 25};

}  // namespace

std::vector<std::string> RecordedColumnNames(const SimulationSettings& settings,
                                             const ExperimentalData& experiment) {
  std::vector<std::string> names{kTimeName};
  for (RecordedColumn& c : RecordedColumns(settings, experiment))
    names.push_back(std::move(c.name));
  return names;
}

bool ColumnRecorder::Open(const std::string& file_name) {
  series_.clear();
  columns_.clear();
  return table_ == nullptr || table_->Open(file_name);
}

void ColumnRecorder::WriteHeader(const RunView& view) {
  if (table_ != nullptr) table_->WriteHeader(view);
  series_.clear();
  columns_.clear();
  series_.push_back({kTimeName, {}});
  for (RecordedColumn& c : RecordedColumns(view.settings, view.experiment)) {
    if (!wanted_.empty() && std::find(wanted_.begin(), wanted_.end(), c.name) == wanted_.end()) {
      continue;
    }
    series_.push_back({std::move(c.name), {}});
    columns_.push_back(c.column);
  }
  // Recorded steps: one every OutStep steps from max(t0, td0) to tf, and one more for a
  // step that lands on tf.
  const SimulationSettings& s = view.settings;
  const double rows = ((s.tf - std::max(s.t0, s.td0)) / s.dt + 1) / std::max(s.OutStep, 1) + 2;
  const double values = rows * static_cast<double>(series_.size());
  if (rows > 0 && values <= kMaxReservedValues) {
    for (Series& series : series_) series.values.reserve(static_cast<std::size_t>(rows));
  }
}

void ColumnRecorder::WriteLine(const RunView& view) {
  if (table_ != nullptr) table_->WriteLine(view);
  if (series_.empty()) return;
  const double t = view.state.t;
  const double td0 = view.settings.td0;
  series_[0].values.push_back(td0 != 0.0 ? t - td0 : t);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    series_[i + 1].values.push_back(ReadColumn(columns_[i], view));
  }
}

void ColumnRecorder::Close() {
  if (table_ != nullptr) table_->Close();
}

void ColumnRecorder::Discard() {
  if (table_ != nullptr) table_->Discard();
}

}  // namespace mas
