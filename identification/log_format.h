#pragma once
// The optimisers' log files: printf's numeric conversions reproduced byte for byte with
// std::to_chars (never dependent on the locale, whatever a GUI has set), and the two ways
// a log is written: replaced whole, or appended line by line.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_replacement.h"
#include "platform/platform.h"

namespace mas {

// "%<width>.<precision>e": exponent form, right-justified.
void AppendExp(std::string& out, double value, int precision, int width = 0);
// "%<width>.<precision>f": fixed form (printf's "%f" is precision 6), right-justified.
void AppendFixed(std::string& out, double value, int precision = 6, int width = 0);
// "%<width>d": right-justified decimal integer.
void AppendInt(std::string& out, long long value, int width = 0);

// One line of a genetic history log ("Histor.cpp", "HistorF.cpp"): the generation, the
// best fitness, the best individual's former index and its genes,
// "%d   %12.5e  \t%3d \t" then "%f \t" for each gene, then "\n".
std::string GeneticHistoryLine(int generation, double best_fitness, int best_index,
                               std::span<const double> genes);

// Appends `text` to `path` (created when absent). False when it could not be written
// completely.
bool AppendToFile(const std::filesystem::path& path, std::string_view text);

// One log file of an optimiser. A write that fails is reported on the platform
// ("Impossible d'écrire le fichier <path>", caption "Erreur d'écriture") once, not at every
// generation, until a write of that log succeeds again; the optimisation goes on.
class LogFile {
 public:
  explicit LogFile(std::filesystem::path path) : path_(std::move(path)) {}
  const std::filesystem::path& path() const { return path_; }
  // ReplaceFileContents (platform/file_replacement.h) / AppendToFile, reported. True
  // when written.
  bool Replace(std::string_view text, Platform& platform);
  bool Append(std::string_view text, Platform& platform);
  bool failing() const { return failing_; }

 private:
  bool Report(bool written, Platform& platform);

  std::filesystem::path path_;
  bool failing_ = false;
};

}  // namespace mas
