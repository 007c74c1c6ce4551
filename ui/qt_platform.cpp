#include "ui/qt_platform.h"

namespace mas::ui {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStdString(const QString& text) { return text.toUtf8().toStdString(); }

void QtPlatform::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
  emit messageRequested(ToQString(text), ToQString(caption), static_cast<int>(icon));
}

void QtPlatform::SetStatusText(std::string_view text) { emit statusTextChanged(ToQString(text)); }

void QtPlatform::SetProgress(int position) { emit progressChanged(position); }

void QtPlatform::SetWaitCursor(bool waiting) { emit waitCursorChanged(waiting); }

void QtPlatform::StartProcess(const std::string& command_line) {
  emit processRequested(ToQString(command_line));
}

}  // namespace mas::ui
