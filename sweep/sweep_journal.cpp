#include "sweep/sweep_journal.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/file_replacement.h"

namespace mas {

SweepJournal::SweepJournal(const SweepRunner& runner, std::string summary_path, bool resume)
    : runner_(runner),
      summary_path_(std::move(summary_path)),
      journal_path_(summary_path_ + ".journal") {
  std::error_code ec;
  if (resume) {
    if (std::filesystem::exists(journal_path_, ec)) {
      ReadRows(journal_path_, true);
    } else if (std::filesystem::exists(summary_path_, ec)) {
      ReadRows(summary_path_, true);
    }
    resumed_ = static_cast<long long>(rows_.size());
  }
  // The journal starts again from the rows kept, so that a cut line does not stay in the
  // middle of it; then the new rows are appended.
  std::string text = runner_.header();
  for (const auto& [index, line] : rows_) text += line;
  if (!ReplaceFileContents(journal_path_, text)) {
    throw std::runtime_error("Impossible d'ouvrir le fichier " + journal_path_);
  }
  file_ = std::fopen(journal_path_.c_str(), "ab");
  if (file_ == nullptr) throw std::runtime_error("Impossible d'ouvrir le fichier " + journal_path_);
}

SweepJournal::~SweepJournal() {
  if (file_ != nullptr) std::fclose(file_);
}

void SweepJournal::ReadRows(const std::string& path, bool must_match) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Impossible d'ouvrir le fichier " + path);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  const std::string& header = runner_.header();
  if (text.compare(0, header.size(), header) != 0) {
    if (!must_match) return;
    throw std::runtime_error("le fichier " + path +
                             " n'est pas le journal de ce balayage (en-tête différent) : "
                             "relancez sans --resume");
  }
  std::size_t pos = header.size();
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;  // a line cut by the kill
    const std::string_view line(text.data() + pos, end - pos);
    const long long index = runner_.RowIndex(line);
    if (index >= 0) rows_.emplace(index, std::string(line) + "\n");
    pos = end + 1;
  }
}

std::vector<long long> SweepJournal::Pending() const {
  std::vector<long long> pending;
  for (long long i = 0; i < runner_.size(); ++i) {
    if (!rows_.contains(i)) pending.push_back(i);
  }
  return pending;
}

bool SweepJournal::Add(const SweepRow& row) {
  if (row.interrupted || rows_.contains(row.index)) return true;
  rows_.emplace(row.index, row.line);
  if (file_ == nullptr) return false;
  // One write per row, handed to the system at once: a kill keeps every row written.
  const bool written = std::fwrite(row.line.data(), 1, row.line.size(), file_) == row.line.size();
  return std::fflush(file_) == 0 && written;
}

bool SweepJournal::Finish() {
  std::string text = runner_.header();
  for (const auto& [index, line] : rows_) text += line;
  if (!ReplaceFileContents(summary_path_, text)) return false;
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  std::error_code ec;
  std::filesystem::remove(journal_path_, ec);
  return true;
}

}  // namespace mas
