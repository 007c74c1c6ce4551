#pragma once
// The window's side of the platform seam. A run goes on a worker thread; whatever it
// asks of the outside world (a message, the status line, the progress bar, the wait
// cursor, the curve viewer) becomes a signal queued to the window's thread, so the run
// never touches a widget. Escape and the "Arrêter" button set a stop request that the run
// loop reads at its next poll.

#include <QObject>
#include <QString>
#include <atomic>

#include "platform/platform.h"

namespace mas::ui {

class QtPlatform : public QObject, public Platform {
  Q_OBJECT

 public:
  explicit QtPlatform(QObject* parent = nullptr) : QObject(parent) {}

  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  void SetStatusText(std::string_view text) override;
  void SetProgress(int position) override;
  void SetWaitCursor(bool waiting) override;
  bool EscapePressed() override { return stop_requested_.load(std::memory_order_relaxed); }
  void StartProcess(const std::string& command_line) override;

  // Asks the run in progress to stop at its next poll (Escape, "Arrêter").
  void RequestStop() { stop_requested_.store(true, std::memory_order_relaxed); }
  void ClearStopRequest() { stop_requested_.store(false, std::memory_order_relaxed); }
  bool StopRequested() const { return stop_requested_.load(std::memory_order_relaxed); }

 signals:
  void messageRequested(const QString& text, const QString& caption, int icon);
  void statusTextChanged(const QString& text);
  void progressChanged(int position);
  void waitCursorChanged(bool waiting);
  void processRequested(const QString& command_line);

 private:
  std::atomic<bool> stop_requested_{false};
};

QString ToQString(std::string_view text);
std::string ToStdString(const QString& text);

// A number's text ("0.25", "2e-06") as an edit shows it to the user: with the decimal
// separator of the user's locale (a comma in French). The readers (ParseReal) take either.
QString LocalNumberText(std::string_view point_text);

}  // namespace mas::ui
