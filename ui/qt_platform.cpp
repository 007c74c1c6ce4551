#include "ui/qt_platform.h"

#include <QLocale>

namespace mas::ui {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStdString(const QString& text) { return text.toUtf8().toStdString(); }

QString LocalNumberText(std::string_view point_text) {
  QString text = ToQString(point_text);
  const QString point = QLocale().decimalPoint();
  if (point.size() == 1 && point[0] != QChar('.')) text.replace(QChar('.'), point[0]);
  return text;
}

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
