#pragma once
// The command line's side of the platform seam: messages on stderr, a one-line progress
// bar when stderr is a terminal, Ctrl-C standing for the Escape key, and the curve viewer
// started in the background.

#include <ostream>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace mas {

// Catches the first Ctrl-C (SIGINT), SIGTERM or SIGHUP and remembers it; the run loop sees
// it as Escape at its next poll (every few thousand steps), ends the run and keeps the
// partial output. The handler of each signal is removed as it fires, so a second one ends
// the process the usual way. A process started with one of them ignored (a background job
// of a script, nohup) keeps ignoring it. SIGXFSZ is ignored: a write beyond a file-size
// limit then fails and is reported like a full disk instead of killing the process.
void InstallInterruptHandler();
// A stop signal has arrived since the handler was installed (or the request was cleared).
bool InterruptRequested();
void ClearInterruptRequest();

class TerminalPlatform : public Platform {
 public:
  // `err` receives everything; `interactive` says whether it is a terminal, in which case
  // status text and progress are drawn on one line that redraws itself. Otherwise only
  // messages are written, so that scripts read a clean stderr.
  TerminalPlatform(std::ostream& err, bool interactive);
  ~TerminalPlatform() override;
  TerminalPlatform(const TerminalPlatform&) = delete;
  TerminalPlatform& operator=(const TerminalPlatform&) = delete;

  // Whether the process's stderr is a terminal.
  static bool StderrIsTerminal();

  // "Caption: text" and a line end (only the text when there is no caption).
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  void SetStatusText(std::string_view text) override;
  // Draws "status [#####-----]  50 %"; 100 completes the line.
  void SetProgress(int position) override;
  void SetWaitCursor(bool) override {}
  bool EscapePressed() override { return InterruptRequested(); }
  // Starts the program of the command line (the curve viewer `tracix` for "Tracix.exe
  // FILE", viewer/launcher.h) without a shell, its input detached and its output on
  // stderr, and returns at once. A failure to start is noted on stderr only.
  void StartProcess(const std::string& command_line) override;

  // Ends a progress line left open (a run that stopped below 100 %).
  void FinishLine();

 private:
  void Draw();

  std::ostream& err_;
  bool interactive_;
  std::string status_;
  int position_ = 0;
  bool line_open_ = false;
};

}  // namespace mas
