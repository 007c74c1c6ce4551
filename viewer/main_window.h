#pragma once
// The viewer's window: the stacked plots on one time axis, the list of the table's
// columns (check boxes for the selected plot, drag and drop onto any plot), the cursor
// readout, the spectrum and XY windows, exports, sessions, and the reload of a table
// that a new run rewrote.

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QListWidget>
#include <QMainWindow>
#include <QTimer>
#include <memory>

#include "viewer/core/session.h"
#include "viewer/headless.h"
#include "viewer/plot_canvas.h"

class QLabel;
class QTableWidget;
class QAction;

namespace mas::viewer {

class SpectrumWindow;
class XYWindow;

// The column list: its items drag out as the columns' names (plain text).
class ColumnList : public QListWidget {
  Q_OBJECT
 public:
  using QListWidget::QListWidget;

 protected:
  QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;
};

// What the zoom history remembers: the time range and each plot's value range.
struct ViewSnapshot {
  Range time;
  std::vector<std::pair<bool, Range>> plots;  // (automatic, range)
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(const ViewerOptions& options);
  ~MainWindow() override;

  // Reads a table; with `keep_view` the plots keep their columns (by name), ranges and
  // cursors. False when nothing could be read.
  bool Open(const QString& path, bool keep_view);
  const ViewState& view() const { return view_; }
  const Dataset* dataset() const { return data_.get(); }
  Session CurrentSession() const;
  void ApplySession(const Session& session);

 private:
  void BuildMenus();
  void BuildDocks();
  void RefreshColumnList();
  void RefreshReadout();
  void OnViewChanged(bool record);
  void Record();
  void Restore(const ViewSnapshot& snapshot);
  void ResetView();
  void AddPlot();
  void RemovePlot();
  void AddColumnToPlot(int plot, std::size_t column);
  void SelectPlot(int plot);
  enum class ImageKind { kPng, kSvg, kPdf };
  void ExportImage(ImageKind kind);
  void ExportTable();
  void SaveSessionAs();
  void OpenSession();
  void FileMayHaveChanged();
  void UpdateTitle();
  void UpdateToolWindows();

  std::unique_ptr<Dataset> data_;
  ViewState view_;
  int current_plot_ = 0;
  Readout readout_ = Readout::kInterpolated;
  ZoomHistory<ViewSnapshot> history_;
  QString path_;
  bool watch_ = false;
  QFileSystemWatcher watcher_;
  QTimer reload_timer_;
  QDateTime loaded_time_;
  qint64 loaded_size_ = -1;
  bool asking_ = false;

  PlotCanvas* canvas_ = nullptr;
  ColumnList* columns_ = nullptr;
  QTableWidget* readout_table_ = nullptr;
  QLabel* differences_ = nullptr;
  SpectrumWindow* spectrum_ = nullptr;
  XYWindow* xy_ = nullptr;
  QAction* back_ = nullptr;
  QAction* forward_ = nullptr;
  QAction* grid_ = nullptr;
  QAction* legend_ = nullptr;
  QAction* nearest_ = nullptr;
};

}  // namespace mas::viewer
