#include "cli/terminal_platform.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>

extern char** environ;

namespace mas {
namespace {

// Set from the signal handler: a lock-free atomic is safe to store there.
std::atomic<bool> interrupt_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { interrupt_requested.store(true); }

constexpr int kBarWidth = 30;

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // One-shot: the second signal finds the default action again and ends the process.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  // Ctrl-C, a polite kill (timeout, a batch system) and a closed terminal all end a run
  // the same way: at its next poll, its partial table committed and no temporary left.
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    sigaction(signal_number, &action, &previous);
    // A job started with the signal ignored (a background job of a script, nohup) keeps
    // ignoring it.
    if (previous.sa_handler == SIG_IGN) sigaction(signal_number, &previous, nullptr);
  }
  // Beyond a file-size limit the write fails (EFBIG) instead of killing the process, so
  // that the failure is reported and the temporary file removed.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

bool InterruptRequested() { return interrupt_requested.load(); }

void ClearInterruptRequest() { interrupt_requested.store(false); }

TerminalPlatform::TerminalPlatform(std::ostream& err, bool interactive)
    : err_(err), interactive_(interactive) {}

TerminalPlatform::~TerminalPlatform() { FinishLine(); }

bool TerminalPlatform::StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void TerminalPlatform::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
  FinishLine();
  if (!caption.empty()) err_ << caption << ": ";
  err_ << text << '\n' << std::flush;
}

void TerminalPlatform::SetStatusText(std::string_view text) {
  status_ = std::string(text);
  if (interactive_ && line_open_) Draw();
}

void TerminalPlatform::SetProgress(int position) {
  if (!interactive_) return;
  position_ = std::clamp(position, 0, 100);
  Draw();
  if (position_ == 100) FinishLine();
}

void TerminalPlatform::Draw() {
  const int filled = position_ * kBarWidth / 100;
  std::string line = "\r";
  if (!status_.empty()) line += status_ + " ";
  line += '[';
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  line += "] ";
  const std::string percent = std::to_string(position_);
  line.append(3 - std::min<std::size_t>(3, percent.size()), ' ');
  line += percent + " %\x1b[K";  // erase what a longer status text left behind
  err_ << line << std::flush;
  line_open_ = true;
}

void TerminalPlatform::FinishLine() {
  if (!line_open_) return;
  err_ << '\n' << std::flush;
  line_open_ = false;
}

void TerminalPlatform::StartProcess(const std::string& command_line) {
  FinishLine();
  // The command line is a program name and, after the first space, one argument (the data
  // file). Both go to the shell as positional parameters, never as shell text, so a file
  // name with spaces or shell characters is passed as it is and never run as a command.
  // The shell puts the program in the background and exits at once; waiting for the shell
  // only reaps it. The program's output goes to stderr, never into the summary on stdout.
  const std::size_t space = command_line.find(' ');
  std::string program = command_line.substr(0, space);
  std::string argument =
      space == std::string::npos ? std::string() : command_line.substr(space + 1);
  std::string sh = "sh", dash_c = "-c";
  std::string body =
      space == std::string::npos ? "\"$0\" </dev/null >&2 &" : "\"$0\" \"$1\" </dev/null >&2 &";
  char* argv[] = {sh.data(),
                  dash_c.data(),
                  body.data(),
                  program.data(),
                  space == std::string::npos ? nullptr : argument.data(),
                  nullptr};
  pid_t pid = 0;
  const int spawn_error = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ);
  int status = 0;
  bool started = spawn_error == 0;
  if (started) {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) break;
    }
    started = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  if (!started) err_ << "Note: impossible de lancer « " << command_line << " »\n" << std::flush;
}

}  // namespace mas
