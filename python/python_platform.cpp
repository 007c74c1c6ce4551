#include "python/python_platform.h"

#include <atomic>

namespace py = pybind11;

namespace mas::python {
namespace {

// Set by the SIGINT handler: a lock-free atomic is safe to store there.
std::atomic<bool> interrupt_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { interrupt_requested.store(true); }

bool OnMainThread() {
  const py::object main = py::module_::import("threading").attr("main_thread")();
  return main.attr("ident").cast<unsigned long>() == PyThread_get_thread_ident();
}

}  // namespace

PythonPlatform::PythonPlatform(py::object progress, py::object report)
    : progress_(std::move(progress)), report_(std::move(report)) {
  if (!OnMainThread()) return;
  interrupt_requested.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  catching_interrupt_ = sigaction(SIGINT, &action, &previous_interrupt_) == 0;
  // A process that ignores Ctrl-C keeps ignoring it.
  if (catching_interrupt_ && previous_interrupt_.sa_handler == SIG_IGN) {
    sigaction(SIGINT, &previous_interrupt_, nullptr);
    catching_interrupt_ = false;
  }
}

PythonPlatform::~PythonPlatform() {
  if (catching_interrupt_) sigaction(SIGINT, &previous_interrupt_, nullptr);
}

void PythonPlatform::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
  messages_.push_back({std::string(caption), std::string(text)});
}

void PythonPlatform::KeepPythonError() {
  if (!pending_)
    pending_.emplace();  // fetches the error now set
  else
    PyErr_Clear();
  stop_ = true;
}

void PythonPlatform::SetProgress(int position) { Call(progress_, position); }

bool PythonPlatform::InterruptPending() {
  return stop_ || (catching_interrupt_ && interrupt_requested.load());
}

bool PythonPlatform::EscapePressed() { return InterruptPending(); }

void PythonPlatform::RaisePending() {
  if (catching_interrupt_) {
    sigaction(SIGINT, &previous_interrupt_, nullptr);
    catching_interrupt_ = false;
    if (interrupt_requested.exchange(false) && !pending_) {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      KeepPythonError();
    }
  }
  if (!pending_) return;
  py::error_already_set error = std::move(*pending_);
  pending_.reset();
  throw error;
}

py::list PythonPlatform::MessageList() const {
  py::list out;
  for (const Message& m : messages_) out.append(py::make_tuple(m.caption, m.text));
  return out;
}

}  // namespace mas::python
