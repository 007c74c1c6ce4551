#include "sweep/sweep_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_replacement.h"

namespace mas {
namespace {

constexpr std::string_view kFingerprintTag = "# empreinte";

std::string Hex(std::uint64_t value) {
  char text[16];
  for (int i = 15; i >= 0; --i) {
    text[i] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  }
  return {text, 16};
}

// The whole content of an open file, read from its start.
bool ReadFd(int fd, std::string& text) {
  text.clear();
  char buffer[1 << 16];
  off_t at = 0;
  while (true) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
}

bool ReadPath(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return !in.bad();
}

std::string NoJournal(const std::string& summary) {
  const std::filesystem::path folder = std::filesystem::path(summary).parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
    return "Impossible d'écrire le résumé " + summary + " : le dossier " + folder.string() +
           " n'existe pas";
  }
  return "Impossible d'écrire le résumé " + summary + " (ni son journal " + summary + ".journal)";
}

}  // namespace

namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;

// FNV-1a taken eight bytes at a time (then byte by byte for the rest): one multiply per
// word, so that the program's tens of megabytes hash in a few tens of milliseconds.
std::uint64_t Fnv1aOn(std::uint64_t hash, std::string_view bytes) {
  constexpr std::uint64_t kPrime = 0x100000001b3ULL;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    hash = (hash ^ word) * kPrime;
  }
  for (; i < bytes.size(); ++i) hash = (hash ^ static_cast<unsigned char>(bytes[i])) * kPrime;
  return hash;
}

// The hash of a file's bytes, read in blocks (the program itself is tens of megabytes).
bool HashFile(const std::string& path, std::uint64_t& hash) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Whole blocks (a multiple of eight bytes) whatever the reads return, so that the words
  // hashed do not depend on how the system cut the reads.
  std::vector<char> block(std::size_t{1} << 20);
  hash = kFnvOffset;
  bool ok = true;
  bool end = false;
  while (ok && !end) {
    std::size_t filled = 0;
    while (filled < block.size()) {
      const ssize_t n = ::read(fd, block.data() + filled, block.size() - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        end = true;
        break;
      }
      filled += static_cast<std::size_t>(n);
    }
    hash = Fnv1aOn(hash, std::string_view(block.data(), filled));
  }
  ::close(fd);
  return ok;
}

}  // namespace

std::uint64_t Fnv1a(std::string_view bytes) { return Fnv1aOn(kFnvOffset, bytes); }

std::string SweepFingerprint::Line() const {
  return std::string(kFingerprintTag) + "\tbalayage=" + Hex(sweep) + "\tétude=" + Hex(study) +
         "\tprogramme=" + Hex(program) + "\n";
}

bool SweepFingerprint::Parse(std::string_view line, SweepFingerprint& out) {
  SweepFingerprint f;
  const std::string_view names[] = {"\tbalayage=", "\tétude=", "\tprogramme="};
  std::uint64_t* values[] = {&f.sweep, &f.study, &f.program};
  if (!line.starts_with(kFingerprintTag)) return false;
  line.remove_prefix(kFingerprintTag.size());
  for (int i = 0; i < 3; ++i) {
    if (!line.starts_with(names[i]) || line.size() < names[i].size() + 16) return false;
    const char* first = line.data() + names[i].size();
    const auto [end, ec] = std::from_chars(first, first + 16, *values[i], 16);
    if (ec != std::errc{} || end != first + 16) return false;
    line.remove_prefix(names[i].size() + 16);
  }
  if (!line.empty()) return false;
  out = f;
  return true;
}

SweepFingerprint FingerprintOf(const std::string& sweep_file, const std::string& study,
                               const std::string& program) {
  SweepFingerprint f;
  const std::pair<const std::string*, std::uint64_t*> parts[] = {
      {&sweep_file, &f.sweep}, {&study, &f.study}, {&program, &f.program}};
  const std::string self = "/proc/self/exe";
  for (const auto& [path, hash] : parts) {
    const std::string& name = path->empty() ? self : *path;
    if (!HashFile(name, *hash)) throw std::runtime_error("Impossible de lire le fichier " + name);
  }
  return f;
}

SweepJournal::SweepJournal(const SweepRunner& runner, std::string summary_path, bool resume,
                           const SweepFingerprint& fingerprint)
    : runner_(runner),
      summary_path_(std::move(summary_path)),
      journal_path_(summary_path_ + ".journal"),
      fingerprint_(fingerprint) {
  struct stat before {};
  const bool existed = ::lstat(journal_path_.c_str(), &before) == 0;
  Lock();
  try {
    std::string text;
    if (!ReadFd(fd_, text)) throw std::runtime_error(NoJournal(summary_path_));
    if (resume && !text.empty()) {
      // The rows go on after the journal's last whole line: a line cut by the kill is
      // dropped, and no row already there is ever rewritten.
      const std::size_t whole = ReadRows(text, journal_path_);
      if (::ftruncate(fd_, static_cast<off_t>(whole)) != 0) {
        throw std::runtime_error(NoJournal(summary_path_));
      }
    } else {
      std::string summary;
      std::error_code ec;
      if (resume && std::filesystem::exists(summary_path_, ec)) {
        if (!ReadPath(summary_path_, summary)) {
          throw std::runtime_error("Impossible d'ouvrir le fichier " + summary_path_);
        }
        ReadRows(summary, summary_path_);
      }
      std::string start = fingerprint_.Line() + runner_.header();
      for (const auto& [index, line] : rows_) start += line;
      if (::ftruncate(fd_, 0) != 0 || !WriteAll(start)) {
        throw std::runtime_error(NoJournal(summary_path_));
      }
    }
    // Rows go after what is kept.
    if (::lseek(fd_, 0, SEEK_END) < 0) throw std::runtime_error(NoJournal(summary_path_));
  } catch (...) {
    // A journal made here for nothing goes; one found here stays as it was.
    if (!existed) ::unlink(journal_path_.c_str());
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  resumed_ = static_cast<long long>(rows_.size());
}

SweepJournal::~SweepJournal() {
  if (fd_ >= 0) ::close(fd_);
}

void SweepJournal::Lock() {
  // The lock is on the journal's inode: a journal removed (by a sweep that finished) and
  // made again between the open and the lock is opened again, so that two sweeps never
  // hold locks on two different journals of one summary.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(journal_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) throw std::runtime_error(NoJournal(summary_path_));
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      ::close(fd);
      throw std::runtime_error(NoJournal(summary_path_));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) {
        throw SweepBusyError("Le résumé " + summary_path_ +
                             " est déjà en cours d'écriture par un autre balayage (son journal " +
                             journal_path_ +
                             " est verrouillé) : attendez sa fin ou choisissez un autre --summary");
      }
      throw std::runtime_error(NoJournal(summary_path_));
    }
    struct stat named {};
    if (::stat(journal_path_.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino) {
      fd_ = fd;
      return;
    }
    ::close(fd);
  }
  throw std::runtime_error(NoJournal(summary_path_));
}

std::size_t SweepJournal::ReadRows(std::string_view text, const std::string& path) {
  const std::size_t first_end = text.find('\n');
  SweepFingerprint found;
  if (first_end == std::string_view::npos ||
      !SweepFingerprint::Parse(text.substr(0, first_end), found)) {
    throw std::runtime_error("le fichier " + path +
                             " n'est pas le journal de ce balayage (il n'a pas d'empreinte) : "
                             "relancez sans --resume");
  }
  if (found != fingerprint_) {
    std::string changed;
    auto note = [&changed](bool differs, const char* what) {
      if (differs) changed += (changed.empty() ? "" : ", ") + std::string(what);
    };
    note(found.sweep != fingerprint_.sweep, "le fichier de balayage");
    note(found.study != fingerprint_.study, "l'étude");
    note(found.program != fingerprint_.program, "le programme");
    throw std::runtime_error("le fichier " + path +
                             " n'est pas le journal de ce balayage : ont changé depuis " + changed +
                             " ; relancez sans --resume");
  }
  text.remove_prefix(first_end + 1);
  const std::string& header = runner_.header();
  if (!text.starts_with(header)) {
    throw std::runtime_error("le fichier " + path +
                             " n'est pas le journal de ce balayage (en-tête différent) : "
                             "relancez sans --resume");
  }
  std::size_t pos = header.size();
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;  // a line cut by the kill
    const std::string_view line = text.substr(pos, end - pos);
    const long long index = runner_.RowIndex(line);
    if (index >= 0) rows_.emplace(index, std::string(line) + "\n");
    pos = end + 1;
  }
  return first_end + 1 + pos;
}

bool SweepJournal::WriteAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
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
  if (fd_ < 0) return false;
  // One write per row, straight to the system: a kill keeps every row written.
  return WriteAll(row.line);
}

bool SweepJournal::Finish() {
  std::string text = fingerprint_.Line() + runner_.header();
  for (const auto& [index, line] : rows_) text += line;
  if (!ReplaceFileContents(summary_path_, text)) return false;
  // Removed while still locked, then released: a sweep waiting for this summary finds no
  // journal, or a new one of its own.
  ::unlink(journal_path_.c_str());
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  return true;
}

}  // namespace mas
