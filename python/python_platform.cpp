#include "python/python_platform.h"

namespace py = pybind11;

namespace mas::python {

PythonPlatform::PythonPlatform(py::object progress, py::object report)
    : progress_(std::move(progress)), report_(std::move(report)) {}

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
  if (stop_) return true;
  py::gil_scoped_acquire hold;
  if (PyErr_CheckSignals() != 0) KeepPythonError();
  return stop_;
}

bool PythonPlatform::EscapePressed() { return InterruptPending(); }

void PythonPlatform::RaisePending() {
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
