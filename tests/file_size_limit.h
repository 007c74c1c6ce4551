#pragma once
// A disk that fills up, for the tests of what a failed write leaves behind: while a
// FileSizeLimit lives, no file of the process can grow past the given size, and a write
// beyond it fails (SIGXFSZ is ignored meanwhile). Unlike a read-only folder, the limit
// stops the super-user too, so the tests hold when they run as root.

#include <sys/resource.h>

#include <csignal>

namespace mas::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    if (getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    if (active_) setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // False when the limit could not be set (the test then proves nothing).
  bool active() const { return active_; }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = SIG_DFL;
  bool active_ = false;
};

}  // namespace mas::testing
