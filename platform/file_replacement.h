#pragma once
// Writing a file without ever losing the previous one: the new version is written into a
// new file of the same folder and renamed over the old one only once it is complete, so
// a full disk, a read-only folder or an interrupted program leaves either the previous
// file or the new one, never half of each. Used by the study file, the output table, the
// optimisers' logs and the diagnostic files.

#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace mas {

// What a new version does with a target that is a symbolic link.
enum class LinkPolicy {
  // The link's target is replaced and the link stays: for the files the user names.
  kFollow,
  // The link itself is replaced by the new file and its target is never written: for the
  // files the program names on its own (an echo, a table in a folder), where a link
  // planted under that name must not lead the program to overwrite another file.
  kReplaceLink,
};

// One new version of a file under way: Begin, write through file(), then Commit (or
// Abandon, also done by the destructor when Commit was not reached).
//
// The temporary file is ".<name>.tmp" followed by eight random letters and digits,
// beside the target, created only if absent (exclusive creation) so that two writers
// never share one; a name already taken is drawn again, so temporaries left behind by a
// killed program never use the names up. A symbolic link is followed (LinkPolicy::kFollow:
// its target is replaced and the link stays) or replaced itself (kReplaceLink). The new
// file takes the access rights of the file it replaces. A write-protected target
// (IsWriteProtected) is never replaced: renaming over it would not ask. A target that
// exists and is not a regular file (a device such as /dev/null, a pipe, a terminal) is
// never replaced: it is written in place, and a folder or a socket is refused.
class FileReplacement {
 public:
  FileReplacement() = default;
  ~FileReplacement() { Abandon(); }
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Starts a new version of `path` (any version under way is abandoned first); false
  // when no file can be created for it (an empty name or one ending with a separator,
  // a missing or read-only folder, a folder in place of the file, a write-protected
  // file).
  bool Begin(const std::string& path, LinkPolicy links = LinkPolicy::kFollow);
  // The open file, or nullptr before Begin and after Commit/Abandon.
  std::FILE* file() const { return file_; }
  // The file the new version is written to, for a writer that opens files by name (the
  // temporary file, or the target itself when it is written in place). Valid between
  // Begin and Commit; such a writer leaves file() untouched.
  const std::filesystem::path& written_path() const { return temp_.empty() ? target_ : temp_; }
  // Closes the new version and puts it in place of the target. False, with the target
  // left as it was and the temporary file removed, when a write, the close or the
  // rename failed.
  bool Commit();
  // Closes and removes the new version; the target stays as it was.
  void Abandon();

 private:
  std::FILE* file_ = nullptr;
  std::filesystem::path target_;
  std::filesystem::path temp_;  // empty when the target is written directly
};

// Length of the random part of a temporary file's name.
inline constexpr int kTemporaryRandomChars = 8;

// Whether `path` names an existing regular file (a symbolic link is followed) whose owner
// may not write it ("chmod a-w"): the program refuses to replace it, even when the folder
// would let a rename do so.
bool IsWriteProtected(const std::string& path);

// Whether `a` and `b` name the same existing file (through links and different spellings
// of the path). False when either does not exist.
bool SameFile(const std::string& a, const std::string& b);

// Writes `text` as the whole new content of `path` through a FileReplacement. False when
// it could not be written; the previous file is then unchanged.
bool ReplaceFileContents(const std::string& path, std::string_view text,
                         LinkPolicy links = LinkPolicy::kFollow);

// The rule every command applies to the files it writes, checked before anything is
// written: an output is never one of the command's own inputs (the same file, compared by
// device and inode once links are resolved, so a link or another spelling of the path
// does not hide it; or, for a file not written yet, the same resolved path), nor a
// write-protected file. Devices and other files that are not
// regular are never replaced (FileReplacement writes them in place).

// One file a command reads (or another file it writes), and what it is in a message.
struct CommandInput {
  std::string path;
  std::string role;       // "l'étude lue", "le fichier de balayage lu"...
  bool feminine = false;  // the role's gender, for the pronoun of the message
};

enum class OutputRefusalKind {
  kNone,            // the output may be written
  kIsInput,         // it is one of the inputs (`input` says which)
  kWriteProtected,  // a write-protected file
};

struct OutputRefusal {
  OutputRefusalKind kind = OutputRefusalKind::kNone;
  int input = -1;       // index of the input it is, for kIsInput
  std::string message;  // the user's message, empty for kNone
  explicit operator bool() const { return kind != OutputRefusalKind::kNone; }
};

// Why the command may not write `output`, or kNone when it may.
OutputRefusal RefuseOutput(const std::string& output, std::span<const CommandInput> inputs);

}  // namespace mas
