#pragma once
// The Python module's side of the platform seam. A run or an optimisation goes on with the
// interpreter released (other Python threads go on meanwhile); this platform takes the
// interpreter back only for a moment when the core polls Escape or advances its progress
// (at most about a hundred times a run):
//  - Ctrl-C: while the work goes on in the interpreter's main thread (the only one Python
//    hands Ctrl-C to), SIGINT is caught by a handler of our own that only sets a flag,
//    which the core polls as Escape without taking the interpreter; the interpreter's
//    handler is put back at the end and the interruption raised as KeyboardInterrupt.
//    (Taking the interpreter at every poll would make a run wait for any other Python
//    thread that holds it.)
//  - the progress callback, if any, is called with the position 0..100; returning a false
//    value (False, 0, ...; None goes on) ends the run as Escape does (the run ends "interrupted");
//    an exception it raises ends the run the same way and is raised once the run has ended.
//  - messages are collected in order (caption, text) for the result; nothing is printed.

#include <pybind11/pybind11.h>

#include <csignal>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace mas::python {

class PythonPlatform final : public Platform {
 public:
  struct Message {
    std::string caption;
    std::string text;
  };

  // `progress`: None or a callable taking a run's position 0..100; `report`: None or the
  // optimisers' callable taking what Report passes. Built and destroyed with the
  // interpreter held.
  explicit PythonPlatform(pybind11::object progress = pybind11::none(),
                          pybind11::object report = pybind11::none());
  // Puts the interpreter's SIGINT handler back. With the interpreter held.
  ~PythonPlatform() override;
  PythonPlatform(const PythonPlatform&) = delete;
  PythonPlatform& operator=(const PythonPlatform&) = delete;

  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  void SetStatusText(std::string_view) override {}
  void SetProgress(int position) override;
  void SetWaitCursor(bool) override {}
  bool EscapePressed() override;
  void StartProcess(const std::string&) override {}

  // Calls the report callback with these arguments (converted to Python once the
  // interpreter is held); false when it asked to stop or raised. Takes the interpreter.
  template <class... Args>
  bool Report(const Args&... arguments) {
    return Call(report_, arguments...);
  }

  // Whether Ctrl-C (or the callback) asked to stop; the optimisers poll it between
  // generations. Does not take the interpreter.
  bool InterruptPending();

  // With the interpreter held: raises the KeyboardInterrupt or the callback's exception
  // that ended the work, if any.
  void RaisePending();
  const std::vector<Message>& messages() const { return messages_; }
  std::vector<Message>& mutable_messages() { return messages_; }
  // The messages as a Python list of (caption, text).
  pybind11::list MessageList() const;

 private:
  template <class... Args>
  bool Call(const pybind11::object& callback, const Args&... arguments) {
    if (stop_) return false;
    if (callback.is_none()) return true;
    pybind11::gil_scoped_acquire hold;
    try {
      const pybind11::object answer = callback(arguments...);
      // Any false answer stops (False, 0, an empty text...); a callback that returns
      // nothing (None) lets the work go on. An answer without a truth value is an error.
      if (!answer.is_none()) {
        const int truth = PyObject_IsTrue(answer.ptr());
        if (truth < 0) throw pybind11::error_already_set();
        if (truth == 0) stop_ = true;
      }
    } catch (pybind11::error_already_set& e) {
      e.restore();
      KeepPythonError();
    }
    return !stop_;
  }
  // With the interpreter held: the Python error just set becomes the pending one.
  void KeepPythonError();

  pybind11::object progress_;
  pybind11::object report_;
  bool catching_interrupt_ = false;
  struct sigaction previous_interrupt_ {};
  std::optional<pybind11::error_already_set> pending_;
  bool stop_ = false;
  std::vector<Message> messages_;
};

}  // namespace mas::python
