#include "identification/log_format.h"

#include <charconv>
#include <cstdio>
#include <memory>
#include <system_error>

namespace mas {
namespace {

// Longest fixed-form double: 309 integer digits, the point, 6 decimals, the sign; the
// precision of the logs stays far below the rest of the margin.
constexpr int kNumberBuffer = 512;

void AppendPadded(std::string& out, const char* first, const char* last, int width) {
  const long long length = last - first;
  if (width > length) out.append(static_cast<std::size_t>(width - length), ' ');
  out.append(first, last);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool WriteAll(std::FILE* f, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
}

}  // namespace

void AppendExp(std::string& out, double value, int precision, int width) {
  char buf[kNumberBuffer];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision);
  AppendPadded(out, buf, r.ptr, width);
}

void AppendFixed(std::string& out, double value, int precision, int width) {
  char buf[kNumberBuffer];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
  AppendPadded(out, buf, r.ptr, width);
}

void AppendInt(std::string& out, long long value, int width) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  AppendPadded(out, buf, r.ptr, width);
}

std::string GeneticHistoryLine(int generation, double best_fitness, int best_index,
                               std::span<const double> genes) {
  std::string line;
  AppendInt(line, generation);
  line += "   ";
  AppendExp(line, best_fitness, 5, 12);
  line += "  \t";
  AppendInt(line, best_index, 3);
  line += " \t";
  for (double g : genes) {
    AppendFixed(line, g);
    line += " \t";
  }
  line += '\n';
  return line;
}

bool AppendToFile(const std::filesystem::path& path, std::string_view text) {
  FilePtr f(std::fopen(path.string().c_str(), "ab"));
  if (!f) return false;
  const bool written = WriteAll(f.get(), text);
  return std::fclose(f.release()) == 0 && written;
}

bool LogFile::Replace(std::string_view text, Platform& platform) {
  return Report(ReplaceFileContents(path_.string(), text), platform);
}

bool LogFile::Append(std::string_view text, Platform& platform) {
  return Report(AppendToFile(path_, text), platform);
}

bool LogFile::Report(bool written, Platform& platform) {
  if (!written && !failing_) {
    platform.ShowMessage("Impossible d'écrire le fichier " + path_.string(), "Erreur d'écriture",
                         MessageIcon::kExclamation);
  }
  failing_ = !written;
  return written;
}

}  // namespace mas
