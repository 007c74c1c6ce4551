#include "platform/file_replacement.h"

#include <cerrno>
#include <random>
#include <system_error>

namespace mas {

namespace fs = std::filesystem;

namespace {

// The random part of a temporary file's name. Each thread draws from its own generator,
// seeded once from the system's entropy source, so that two processes (or two threads)
// writing beside the same target draw different names.
std::string RandomSuffix() {
  static constexpr std::string_view kChars = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  std::uniform_int_distribution<std::size_t> pick(0, kChars.size() - 1);
  std::string suffix(kTemporaryRandomChars, ' ');
  for (char& c : suffix) c = kChars[pick(generator)];
  return suffix;
}

}  // namespace

bool IsWriteProtected(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  return !ec && fs::is_regular_file(status) &&
         (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

bool FileReplacement::Begin(const std::string& path, LinkPolicy links) {
  Abandon();
  std::error_code ec;
  target_ = path;
  // An empty name, or one that ends with a separator, names no file.
  if (!target_.has_filename()) return false;
  const bool follow = links == LinkPolicy::kFollow;
  if (follow && fs::is_symlink(target_, ec)) {
    const fs::path resolved = fs::weakly_canonical(target_, ec);
    if (!ec) target_ = resolved;
  }
  // Replacing a link: the link is looked at, not its target, and the rename below puts
  // the new file in place of the link.
  const fs::file_status status = follow ? fs::status(target_, ec) : fs::symlink_status(target_, ec);
  if (!ec && fs::is_regular_file(status) &&
      (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
    return false;  // write-protected: replacing it would silently undo the protection
  }
  if (!ec && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_symlink(status)) {
    if (fs::is_directory(status) || fs::is_socket(status)) return false;
    // Written in place: a device stays the device it is, a pipe the pipe.
    temp_.clear();
    file_ = std::fopen(target_.c_str(), "wb");
    return file_ != nullptr;
  }

  fs::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  const std::string stem = "." + target_.filename().string() + ".tmp";
  // A name already taken (by another writer, or left by a killed program) is drawn again;
  // with 36^8 names, a hundred draws all taken means something else is wrong.
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path temp = folder / (stem + RandomSuffix());
    // "x": a new file only, never one that another writer is filling.
    errno = 0;
    file_ = std::fopen(temp.c_str(), "wbx");
    if (file_ != nullptr) {
      temp_ = std::move(temp);
      return true;
    }
    if (errno != EEXIST) return false;  // the folder cannot be written
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
    // A replaced file keeps its access rights, as a file overwritten in place would (a
    // replaced link has none of its own: the new file keeps the rights it was made with).
    const fs::file_status status = fs::symlink_status(target_, ec);
    if (!ec && fs::is_regular_file(status)) fs::permissions(temp_, status.permissions(), ec);
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

bool ReplaceFileContents(const std::string& path, std::string_view text, LinkPolicy links) {
  FileReplacement replacement;
  if (!replacement.Begin(path, links)) return false;
  const bool written =
      text.empty() || std::fwrite(text.data(), 1, text.size(), replacement.file()) == text.size();
  if (!written) return false;  // the destructor removes the temporary file
  return replacement.Commit();
}

namespace {

// Whether two paths name one place once resolved, the file existing or not (two outputs
// of one command named alike, before either is written).
bool SamePath(const std::string& a, const std::string& b) {
  std::error_code ec_a, ec_b;
  const fs::path resolved_a = fs::weakly_canonical(a, ec_a);
  const fs::path resolved_b = fs::weakly_canonical(b, ec_b);
  return !ec_a && !ec_b && resolved_a == resolved_b;
}

}  // namespace

OutputRefusal RefuseOutput(const std::string& output, std::span<const CommandInput> inputs) {
  OutputRefusal refusal;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const CommandInput& input = inputs[i];
    if (input.path.empty() || !(SameFile(output, input.path) || SamePath(output, input.path))) {
      continue;
    }
    refusal.kind = OutputRefusalKind::kIsInput;
    refusal.input = static_cast<int>(i);
    refusal.message = "Le fichier de sortie " + output + " est " + input.role +
                      (input.feminine ? " : elle n'est pas remplacée" : " : il n'est pas remplacé");
    return refusal;
  }
  if (IsWriteProtected(output)) {
    refusal.kind = OutputRefusalKind::kWriteProtected;
    refusal.message = "Le fichier " + output + " est protégé en écriture : il n'est pas remplacé";
  }
  return refusal;
}

}  // namespace mas
