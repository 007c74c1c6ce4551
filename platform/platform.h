#pragma once
// The one seam between the simulation core and the outside world. The core shows
// messages, status text and progress, polls the Escape key and starts the curve viewer
// only through this interface; the command line, the GUI and the tests each implement it.

#include <string>
#include <string_view>
#include <vector>

namespace mas {

enum class MessageIcon { kInformation, kError, kStop, kExclamation };

class Platform {
 public:
  virtual ~Platform() = default;
  // Modal message box: text, caption and icon.
  virtual void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
  // Text of the status line.
  virtual void SetStatusText(std::string_view text) = 0;
  // Position of the progress bar, 0..100.
  virtual void SetProgress(int position) = 0;
  // Shows the wait cursor (true) or restores the previous one (false).
  virtual void SetWaitCursor(bool waiting) = 0;
  // Asynchronous state of the Escape key: true while it is held down (or, on the
  // command line, once the user has asked to interrupt).
  virtual bool EscapePressed() = 0;
  // Starts an outside program from a command line, without waiting for it.
  virtual void StartProcess(const std::string& command_line) = 0;
};

// Passes every call to an inner platform. A front end's wrapper derives from it and
// overrides only what it changes (a message it counts, a status it keeps to itself), so
// that what it does not change reads as passed on rather than written out six times.
class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    inner_.ShowMessage(text, caption, icon);
  }
  void SetStatusText(std::string_view text) override { inner_.SetStatusText(text); }
  void SetProgress(int position) override { inner_.SetProgress(position); }
  void SetWaitCursor(bool waiting) override { inner_.SetWaitCursor(waiting); }
  bool EscapePressed() override { return inner_.EscapePressed(); }
  void StartProcess(const std::string& command_line) override { inner_.StartProcess(command_line); }

 protected:
  Platform& inner() const { return inner_; }

 private:
  Platform& inner_;
};

// A platform that shows nothing and is never interrupted: for batch runs of optimisers.
class SilentPlatform : public Platform {
 public:
  void ShowMessage(std::string_view, std::string_view, MessageIcon) override {}
  void SetStatusText(std::string_view) override {}
  void SetProgress(int) override {}
  void SetWaitCursor(bool) override {}
  bool EscapePressed() override { return false; }
  void StartProcess(const std::string&) override {}
};

// Records everything the core asked of the outside world, for tests.
class RecordingPlatform : public Platform {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon;
  };

  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    messages.push_back({std::string(text), std::string(caption), icon});
  }
  void SetStatusText(std::string_view text) override { status_texts.emplace_back(text); }
  void SetProgress(int position) override { progress.push_back(position); }
  void SetWaitCursor(bool waiting) override { wait_cursor_calls.push_back(waiting); }
  bool EscapePressed() override {
    ++escape_polls;
    return escape_after_polls >= 0 && escape_polls > escape_after_polls;
  }
  void StartProcess(const std::string& command_line) override {
    started_processes.push_back(command_line);
  }

  std::vector<Message> messages;
  std::vector<std::string> status_texts;
  std::vector<int> progress;
  std::vector<bool> wait_cursor_calls;
  std::vector<std::string> started_processes;
  int escape_polls = 0;
  // Escape reads as pressed from poll number escape_after_polls + 1 on; -1: never.
  int escape_after_polls = -1;
};

}  // namespace mas
