#include "cli/terminal_platform.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <string>

#include "viewer/launcher.h"

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
  // "Tracix.exe FILE" starts the curve viewer `tracix` (beside this program, else on the
  // PATH); another program is started as named. Either way without a shell and without
  // waiting, the data file as one argument, the program's output on stderr.
  const viewer::LaunchResult result = viewer::StartViewerCommandLine(command_line);
  if (!result.started) {
    err_ << "Note: impossible de lancer « " << command_line << " » : " << result.message << '\n'
         << std::flush;
  }
}

}  // namespace mas
