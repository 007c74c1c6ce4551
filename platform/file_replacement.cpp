#include "platform/file_replacement.h"

#include <system_error>

namespace mas {

namespace fs = std::filesystem;

bool FileReplacement::Begin(const std::string& path) {
  Abandon();
  std::error_code ec;
  target_ = path;
  // An empty name, or one that ends with a separator, names no file.
  if (!target_.has_filename()) return false;
  if (fs::is_symlink(target_, ec)) {
    const fs::path resolved = fs::weakly_canonical(target_, ec);
    if (!ec) target_ = resolved;
  }
  const fs::file_status status = fs::status(target_, ec);
  if (!ec && fs::exists(status) && !fs::is_regular_file(status)) {
    if (fs::is_directory(status)) return false;
    temp_.clear();
    file_ = std::fopen(target_.c_str(), "wb");
    return file_ != nullptr;
  }

  fs::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  const std::string stem = "." + target_.filename().string() + ".tmp";
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path temp = folder / (stem + std::to_string(attempt));
    // "x": a new file only, never one that another writer is filling.
    file_ = std::fopen(temp.c_str(), "wbx");
    if (file_ != nullptr) {
      temp_ = std::move(temp);
      return true;
    }
    if (!fs::exists(temp, ec)) return false;  // the folder cannot be written
  }
  return false;
}

bool FileReplacement::Commit() {
  if (file_ == nullptr) return false;
  const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (temp_.empty()) return flushed && closed;

  std::error_code ec;
  bool ok = flushed && closed;
  if (ok) {
    // A replaced file keeps its access rights, as a file overwritten in place would.
    const fs::file_status status = fs::status(target_, ec);
    if (!ec && fs::exists(status)) fs::permissions(temp_, status.permissions(), ec);
    fs::rename(temp_, target_, ec);
    ok = !ec;
  }
  if (!ok) fs::remove(temp_, ec);
  temp_.clear();
  return ok;
}

void FileReplacement::Abandon() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
  }
}

bool ReplaceFileContents(const std::string& path, std::string_view text) {
  FileReplacement replacement;
  if (!replacement.Begin(path)) return false;
  const bool written =
      text.empty() || std::fwrite(text.data(), 1, text.size(), replacement.file()) == text.size();
  if (!written) return false;  // the destructor removes the temporary file
  return replacement.Commit();
}

}  // namespace mas
