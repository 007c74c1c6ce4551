#include "viewer/main_window.h"

#include <QApplication>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <set>

#include "viewer/core/table_export.h"
#include "viewer/spectrum_window.h"
#include "viewer/xy_window.h"

namespace mas::viewer {

namespace {

constexpr int kColumnRole = Qt::UserRole;

QString Name(const Dataset& data, std::size_t c) {
  return QString::fromStdString(data.table().names[c]);
}

}  // namespace

QMimeData* ColumnList::mimeData(const QList<QListWidgetItem*>& items) const {
  auto* mime = new QMimeData;
  QStringList names;
  for (const QListWidgetItem* item : items) names << item->text();
  mime->setText(names.join(QLatin1Char('\n')));
  return mime;
}

MainWindow::MainWindow(const ViewerOptions& options) : watch_(options.watch) {
  data_ = std::make_unique<Dataset>();
  canvas_ = new PlotCanvas(data_.get(), &view_, this);
  setCentralWidget(canvas_);
  spectrum_ = new SpectrumWindow(this);
  xy_ = new XYWindow(this);
  BuildDocks();
  BuildMenus();
  connect(canvas_, &PlotCanvas::ViewChanged, this, &MainWindow::OnViewChanged);
  connect(canvas_, &PlotCanvas::CursorsChanged, this, [this] {
    RefreshReadout();
    UpdateToolWindows();
  });
  connect(canvas_, &PlotCanvas::PlotSelected, this, &MainWindow::SelectPlot);
  connect(canvas_, &PlotCanvas::ColumnDropped, this, [this](int plot, const QString& name) {
    const int c = data_->table().ColumnIndex(name.toStdString());
    if (c > 0) AddColumnToPlot(plot, static_cast<std::size_t>(c));
  });
  reload_timer_.setSingleShot(true);
  reload_timer_.setInterval(300);
  connect(&reload_timer_, &QTimer::timeout, this, &MainWindow::FileMayHaveChanged);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { reload_timer_.start(); });
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
          [this] { reload_timer_.start(); });
  resize(1200, 800);
  view_.plots.push_back({});
  UpdateTitle();
  if (!options.file.isEmpty() && Open(options.file, false)) {
    Session session;
    std::string message;
    const QString session_path =
        !options.session.isEmpty()
            ? options.session
            : QString::fromStdString(SessionPathFor(options.file.toStdString()).string());
    if (QFileInfo::exists(session_path)) {
      if (LoadSession(session_path.toStdString(), session, message)) {
        ApplySession(session);
      } else {
        QMessageBox::warning(this, QStringLiteral("Erreur"), QString::fromStdString(message));
      }
    }
  }
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildDocks() {
  columns_ = new ColumnList(this);
  columns_->setDragEnabled(true);
  columns_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(columns_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (current_plot_ < 0 || current_plot_ >= static_cast<int>(view_.plots.size())) return;
    const auto c = item->data(kColumnRole).value<qulonglong>();
    std::vector<std::size_t>& cols = view_.plots[static_cast<std::size_t>(current_plot_)].columns;
    const auto at = std::find(cols.begin(), cols.end(), c);
    const bool checked = item->checkState() == Qt::Checked;
    if (checked && at == cols.end()) cols.push_back(c);
    if (!checked && at != cols.end()) cols.erase(at);
    OnViewChanged(false);
  });
  auto* dock = new QDockWidget(QStringLiteral("Colonnes"), this);
  dock->setObjectName(QStringLiteral("colonnes"));
  dock->setWidget(columns_);
  addDockWidget(Qt::LeftDockWidgetArea, dock);

  auto* panel = new QWidget(this);
  readout_table_ = new QTableWidget(0, 4, panel);
  readout_table_->setHorizontalHeaderLabels({QStringLiteral("Colonne"), QStringLiteral("C1"),
                                             QStringLiteral("C2"), QStringLiteral("C2 − C1")});
  // Every value whole: the columns are as wide as their texts, never elided; the panel
  // scrolls sideways when it is narrower.
  readout_table_->setObjectName(QStringLiteral("readout"));
  readout_table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  readout_table_->horizontalHeader()->setStretchLastSection(false);
  readout_table_->setTextElideMode(Qt::ElideNone);
  readout_table_->setWordWrap(false);
  readout_table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  readout_table_->verticalHeader()->hide();
  readout_table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  differences_ = new QLabel(panel);
  differences_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  differences_->setWordWrap(true);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(differences_);
  layout->addWidget(readout_table_, 1);
  auto* readout_dock = new QDockWidget(QStringLiteral("Curseurs"), this);
  readout_dock->setObjectName(QStringLiteral("curseurs"));
  readout_dock->setWidget(panel);
  addDockWidget(Qt::LeftDockWidgetArea, readout_dock);
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Fichier"));
  file->addAction(QStringLiteral("&Ouvrir…"), QKeySequence::Open, this, [this] {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Ouvrir une table"), QFileInfo(path_).absolutePath(),
        QStringLiteral("Tables (*.dat *.txt *.cpp *.csv *.mat);;Tous les fichiers (*)"));
    if (!path.isEmpty()) Open(path, false);
  });
  file->addAction(QStringLiteral("&Recharger"), QKeySequence(Qt::Key_F5), this, [this] {
    if (!path_.isEmpty()) Open(path_, true);
  });
  file->addSeparator();
  file->addAction(QStringLiteral("Exporter l'image (PNG)…"), this,
                  [this] { ExportImage(ImageKind::kPng); });
  file->addAction(QStringLiteral("Exporter l'image (SVG)…"), this,
                  [this] { ExportImage(ImageKind::kSvg); });
  file->addAction(QStringLiteral("Exporter l'image (PDF)…"), this,
                  [this] { ExportImage(ImageKind::kPdf); });
  file->addAction(QStringLiteral("Exporter la plage visible (table)…"), this,
                  [this] { ExportTable(); });
  file->addSeparator();
  file->addAction(QStringLiteral("Ouvrir une session…"), this, [this] { OpenSession(); });
  file->addAction(QStringLiteral("&Enregistrer la session…"), QKeySequence::Save, this,
                  [this] { SaveSessionAs(); });
  file->addSeparator();
  file->addAction(QStringLiteral("&Quitter"), QKeySequence::Quit, this, [this] { close(); });

  QMenu* view = menuBar()->addMenu(QStringLiteral("&Affichage"));
  view->addAction(QStringLiteral("Ajouter un tracé"), QKeySequence(Qt::CTRL | Qt::Key_N), this,
                  [this] { AddPlot(); });
  view->addAction(QStringLiteral("Supprimer le tracé sélectionné"), this, [this] { RemovePlot(); });
  view->addSeparator();
  back_ = view->addAction(QStringLiteral("Zoom précédent"), QKeySequence(Qt::ALT | Qt::Key_Left),
                          this, [this] {
                            if (history_.CanGoBack()) Restore(history_.Back());
                          });
  forward_ = view->addAction(QStringLiteral("Zoom suivant"), QKeySequence(Qt::ALT | Qt::Key_Right),
                             this, [this] {
                               if (history_.CanGoForward()) Restore(history_.Forward());
                             });
  view->addAction(QStringLiteral("Vue d'ensemble"), QKeySequence(Qt::Key_Home), this,
                  [this] { ResetView(); });
  view->addAction(QStringLiteral("Agrandir le temps"), QKeySequence::ZoomIn, this, [this] {
    view_.time = Zoom(view_.time, 0.5 * (view_.time.lo + view_.time.hi), 0.5);
    OnViewChanged(true);
  });
  view->addAction(QStringLiteral("Réduire le temps"), QKeySequence::ZoomOut, this, [this] {
    view_.time = Zoom(view_.time, 0.5 * (view_.time.lo + view_.time.hi), 2.0);
    OnViewChanged(true);
  });
  view->addAction(QStringLiteral("Échelle automatique du tracé"), QKeySequence(Qt::Key_A), this,
                  [this] {
                    if (current_plot_ < static_cast<int>(view_.plots.size())) {
                      view_.plots[static_cast<std::size_t>(current_plot_)].auto_range = true;
                      OnViewChanged(true);
                    }
                  });
  view->addAction(QStringLiteral("Échelle fixe du tracé…"), this, [this] {
    if (current_plot_ >= static_cast<int>(view_.plots.size())) return;
    PlotView& plot = view_.plots[static_cast<std::size_t>(current_plot_)];
    const Range now =
        plot.auto_range && current_plot_ < static_cast<int>(canvas_->layout().ranges.size())
            ? canvas_->layout().ranges[static_cast<std::size_t>(current_plot_)]
            : plot.range;
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, QStringLiteral("Échelle fixe"), QStringLiteral("Minimum et maximum :"),
        QLineEdit::Normal, QString::fromStdString(FormatValue(now.lo) + " " + FormatValue(now.hi)),
        &ok);
    if (!ok) return;
    Session probe;
    std::string message;
    // The two numbers are read like a session's range: decimal point, finite, lo < hi.
    if (ParseSession("tracix-session 1\nplot " + text.toStdString() + "\n", probe, message) &&
        !probe.plots.empty() && !probe.plots[0].auto_range) {
      plot.auto_range = false;
      plot.range = probe.plots[0].range;
      OnViewChanged(true);
    } else {
      QMessageBox::warning(this, QStringLiteral("Erreur"),
                           QStringLiteral("Deux nombres croissants attendus (point décimal)"));
    }
  });
  view->addSeparator();
  grid_ = view->addAction(QStringLiteral("Grille"), this, [this](bool on) {
    view_.grid = on;
    canvas_->update();
  });
  grid_->setCheckable(true);
  grid_->setChecked(true);
  legend_ = view->addAction(QStringLiteral("Légende"), this, [this](bool on) {
    view_.legend = on;
    canvas_->update();
  });
  legend_->setCheckable(true);
  legend_->setChecked(true);
  view->addSeparator();
  nearest_ = view->addAction(QStringLiteral("Curseurs : échantillon le plus proche"), this,
                             [this](bool on) {
                               readout_ = on ? Readout::kNearest : Readout::kInterpolated;
                               RefreshReadout();
                             });
  nearest_->setCheckable(true);
  view->addAction(QStringLiteral("Effacer les curseurs"), this, [this] {
    view_.cursors.clear();
    RefreshReadout();
    UpdateToolWindows();
    canvas_->update();
  });

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Outils"));
  // The tool windows are filled as they open, from the current range and cursors.
  tools->addAction(QStringLiteral("&Spectre…"), this, [this] {
    spectrum_->show();
    spectrum_->raise();
    UpdateToolWindows();
  });
  tools->addAction(QStringLiteral("Tracé &XY…"), this, [this] {
    xy_->show();
    xy_->raise();
    UpdateToolWindows();
  });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Aide"));
  help->addAction(QStringLiteral("Souris et clavier"), this, [this] {
    QMessageBox::information(
        this, QStringLiteral("Souris et clavier"),
        QStringLiteral("Glisser (bouton gauche) : zoom sur le rectangle (plat : le temps seul)\n"
                       "Clic : curseur 1 ; Maj + clic : curseur 2 ; glisser un curseur le déplace\n"
                       "Glisser (bouton droit ou du milieu) : déplacer la vue\n"
                       "Molette : zoom du temps ; Ctrl + molette : zoom des valeurs du tracé\n"
                       "Alt + ← / → : zoom précédent / suivant ; Origine : vue d'ensemble\n"
                       "Glisser une colonne de la liste sur un tracé l'y ajoute"));
  });
}

bool MainWindow::Open(const QString& path, bool keep_view) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ReadResult read = ReadTable(path.toStdString());
  QApplication::restoreOverrideCursor();
  if (read.table.ColumnCount() == 0) {
    if (!keep_view || !watch_) {
      QMessageBox::warning(this, QStringLiteral("Erreur"), QString::fromStdString(read.message));
    } else {
      statusBar()->showMessage(QString::fromStdString(read.message));
    }
    return false;
  }
  // The view by column names, so that it survives a table whose columns moved.
  const Session kept = CurrentSession();
  const std::vector<double> cursors = view_.cursors;
  auto next = std::make_unique<Dataset>(std::move(read.table));
  canvas_->SetData(next.get());
  data_ = std::move(next);
  const bool same_file = QFileInfo(path).absoluteFilePath() == QFileInfo(path_).absoluteFilePath();
  if (!path_.isEmpty()) watcher_.removePaths(watcher_.files() + watcher_.directories());
  path_ = path;
  const QFileInfo info(path_);
  loaded_time_ = info.lastModified();
  loaded_size_ = info.size();
  watcher_.addPath(path_);
  watcher_.addPath(info.absolutePath());
  RefreshColumnList();
  if (keep_view && same_file) {
    ApplySession(kept);
    view_.cursors = cursors;
  } else {
    view_ = ViewState{};
    view_.grid = grid_->isChecked();
    view_.legend = legend_->isChecked();
    view_.time = data_->TimeRange();
    view_.plots.push_back({});
    if (data_->table().ColumnCount() > 1) view_.plots[0].columns.push_back(1);
    current_plot_ = 0;
    history_.Clear();
    Record();
  }
  const QString rows = QStringLiteral("%1 lignes, %2 colonnes")
                           .arg(data_->table().RowCount())
                           .arg(data_->table().ColumnCount());
  if (!read.complete) {
    const QString text =
        QString::fromStdString(read.message) +
        QStringLiteral("\nLes %1 lignes lues avant sont affichées.").arg(data_->table().RowCount());
    if (keep_view && watch_) {
      statusBar()->showMessage(text);
    } else {
      QMessageBox::warning(this, QStringLiteral("Erreur"), text);
    }
  } else {
    statusBar()->showMessage(rows + (data_->time_monotone()
                                         ? QString()
                                         : QStringLiteral(" ; la première colonne ne croît pas : "
                                                          "tracé point par point")));
  }
  UpdateTitle();
  RefreshColumnList();
  OnViewChanged(false);
  return true;
}

void MainWindow::UpdateTitle() {
  setWindowTitle(path_.isEmpty() ? QStringLiteral("Tracix")
                                 : QStringLiteral("Tracix — %1").arg(QFileInfo(path_).fileName()));
}

void MainWindow::RefreshColumnList() {
  QSignalBlocker block(columns_);
  columns_->clear();
  const std::vector<std::size_t>* shown = nullptr;
  if (current_plot_ >= 0 && current_plot_ < static_cast<int>(view_.plots.size())) {
    shown = &view_.plots[static_cast<std::size_t>(current_plot_)].columns;
  }
  for (std::size_t c = 1; c < data_->table().ColumnCount(); ++c) {
    auto* item = new QListWidgetItem(Name(*data_, c), columns_);
    item->setData(kColumnRole, QVariant::fromValue<qulonglong>(c));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
    const bool on = shown != nullptr && std::find(shown->begin(), shown->end(), c) != shown->end();
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
}

void MainWindow::SelectPlot(int plot) {
  if (plot < 0 || plot >= static_cast<int>(view_.plots.size())) return;
  current_plot_ = plot;
  RefreshColumnList();
  statusBar()->showMessage(
      QStringLiteral("Tracé %1 sélectionné : cochez ses colonnes").arg(plot + 1), 3000);
}

void MainWindow::AddColumnToPlot(int plot, std::size_t column) {
  if (plot < 0 || plot >= static_cast<int>(view_.plots.size())) {
    view_.plots.push_back({});
    plot = static_cast<int>(view_.plots.size()) - 1;
  }
  std::vector<std::size_t>& cols = view_.plots[static_cast<std::size_t>(plot)].columns;
  if (std::find(cols.begin(), cols.end(), column) == cols.end()) cols.push_back(column);
  current_plot_ = plot;
  RefreshColumnList();
  OnViewChanged(false);
}

void MainWindow::AddPlot() {
  view_.plots.push_back({});
  current_plot_ = static_cast<int>(view_.plots.size()) - 1;
  RefreshColumnList();
  OnViewChanged(false);
}

void MainWindow::RemovePlot() {
  if (view_.plots.size() <= 1 || current_plot_ >= static_cast<int>(view_.plots.size())) return;
  view_.plots.erase(view_.plots.begin() + current_plot_);
  current_plot_ = std::min(current_plot_, static_cast<int>(view_.plots.size()) - 1);
  history_.Clear();
  Record();
  RefreshColumnList();
  OnViewChanged(false);
}

void MainWindow::Record() {
  ViewSnapshot s;
  s.time = view_.time;
  for (const PlotView& p : view_.plots) s.plots.emplace_back(p.auto_range, p.range);
  history_.Push(s);
}

void MainWindow::Restore(const ViewSnapshot& s) {
  view_.time = s.time;
  for (std::size_t i = 0; i < view_.plots.size() && i < s.plots.size(); ++i) {
    view_.plots[i].auto_range = s.plots[i].first;
    view_.plots[i].range = s.plots[i].second;
  }
  OnViewChanged(false);
}

void MainWindow::ResetView() {
  view_.time = data_->TimeRange();
  for (PlotView& p : view_.plots) p.auto_range = true;
  OnViewChanged(true);
}

void MainWindow::OnViewChanged(bool record) {
  if (record) Record();
  back_->setEnabled(history_.CanGoBack());
  forward_->setEnabled(history_.CanGoForward());
  canvas_->update();
  RefreshReadout();
  UpdateToolWindows();
}

void MainWindow::UpdateToolWindows() {
  if (data_->table().ColumnCount() < 2) return;
  if (spectrum_->isVisible()) spectrum_->Update(data_.get(), view_.time, view_.cursors);
  if (xy_->isVisible()) xy_->Update(data_.get(), view_.time);
}

void MainWindow::RefreshReadout() {
  std::vector<std::size_t> shown;
  for (const PlotView& p : view_.plots) {
    for (std::size_t c : p.columns) {
      if (std::find(shown.begin(), shown.end(), c) == shown.end()) shown.push_back(c);
    }
  }
  readout_table_->setRowCount(static_cast<int>(shown.size()));
  const std::vector<double>* t = data_->table().ColumnCount() > 0 ? &data_->Time() : nullptr;
  const std::vector<double>& cursors = view_.cursors;
  for (std::size_t row = 0; row < shown.size(); ++row) {
    const std::size_t c = shown[row];
    auto set = [&](int column, const QString& text) {
      readout_table_->setItem(static_cast<int>(row), column, new QTableWidgetItem(text));
    };
    const QString name = Name(*data_, c);
    set(0, name);
    // About six significant digits, scientific notation where needed, the column's unit.
    const std::string column_name = name.toStdString();
    auto value_text = [&](double v) {
      return QString::fromStdString(FormatValueWithUnit(v, column_name));
    };
    CursorValue values[2];
    for (std::size_t k = 0; k < 2; ++k) {
      QString text;
      if (k < cursors.size() && t != nullptr && data_->time_monotone()) {
        values[k] = ValueAt(*t, data_->Column(c), cursors[k], readout_);
        text = values[k].valid ? value_text(values[k].value) : QStringLiteral("—");
      }
      set(static_cast<int>(k) + 1, text);
    }
    set(3, values[0].valid && values[1].valid ? value_text(values[1].value - values[0].value)
                                              : QString());
  }
  QString text;
  if (cursors.empty()) {
    text = QStringLiteral("Clic : curseur 1 ; Maj + clic : curseur 2");
  } else {
    text = QStringLiteral("C1 = %1 s").arg(NumberText(cursors[0]));
    if (cursors.size() == 2) {
      const double dt = cursors[1] - cursors[0];
      text += QStringLiteral("   C2 = %1 s\nΔt = %2 s   1/Δt = %3")
                  .arg(NumberText(cursors[1]), NumberText(dt),
                       dt == 0 ? QStringLiteral("—")
                               : NumberText(1.0 / std::abs(dt)) + QStringLiteral(" Hz"));
    }
    text += readout_ == Readout::kNearest ? QStringLiteral("\n(échantillon le plus proche)")
                                          : QStringLiteral("\n(valeurs interpolées)");
    if (!data_->time_monotone()) text += QStringLiteral("\nLa première colonne ne croît pas.");
  }
  differences_->setText(text);
  // The panel widens to show every column whole, up to a limit past which it scrolls.
  readout_table_->resizeColumnsToContents();
  int width = 2 * readout_table_->frameWidth() + 4;
  for (int c = 0; c < readout_table_->columnCount(); ++c) width += readout_table_->columnWidth(c);
  readout_table_->setMinimumWidth(std::min(width, 560));
}

Session MainWindow::CurrentSession() const {
  Session s;
  if (data_->table().ColumnCount() == 0) return s;
  s.time_column = data_->table().names[0];
  s.auto_time = false;
  s.time_range = view_.time;
  s.readout = readout_;
  s.cursors = view_.cursors;
  for (const PlotView& p : view_.plots) {
    PlotSetup setup;
    setup.auto_range = p.auto_range;
    setup.range = p.range;
    for (std::size_t c : p.columns) setup.curves.push_back(data_->table().names[c]);
    s.plots.push_back(setup);
  }
  if (xy_->isVisible())
    s.xy.emplace_back(xy_->x_column().toStdString(), xy_->y_column().toStdString());
  if (spectrum_->isVisible()) {
    s.spectrum_column = spectrum_->column().toStdString();
    s.spectrum_db = spectrum_->db();
  }
  return s;
}

void MainWindow::ApplySession(const Session& s) {
  const Table& table = data_->table();
  QStringList missing;
  view_.plots.clear();
  for (const PlotSetup& setup : s.plots) {
    PlotView plot;
    plot.auto_range = setup.auto_range;
    plot.range = setup.range;
    for (const std::string& name : setup.curves) {
      const int c = table.ColumnIndex(name);
      if (c > 0) {
        plot.columns.push_back(static_cast<std::size_t>(c));
      } else {
        missing << QString::fromStdString(name);
      }
    }
    view_.plots.push_back(plot);
  }
  if (view_.plots.empty()) view_.plots.push_back({});
  view_.time = s.auto_time ? data_->TimeRange() : s.time_range;
  view_.cursors = s.cursors;
  readout_ = s.readout;
  nearest_->setChecked(readout_ == Readout::kNearest);
  current_plot_ = 0;
  history_.Clear();
  Record();
  RefreshColumnList();
  if (!s.spectrum_column.empty()) {
    spectrum_->Update(data_.get(), view_.time, view_.cursors);
    spectrum_->Choose(QString::fromStdString(s.spectrum_column), s.spectrum_db);
    spectrum_->show();
  }
  if (!s.xy.empty()) {
    xy_->Update(data_.get(), view_.time);
    xy_->Choose(QString::fromStdString(s.xy[0].first), QString::fromStdString(s.xy[0].second));
    xy_->show();
  }
  if (!missing.isEmpty()) {
    statusBar()->showMessage(QStringLiteral("Colonnes absentes de la table : %1")
                                 .arg(missing.join(QStringLiteral(", "))));
  }
  OnViewChanged(false);
}

void MainWindow::ExportImage(ImageKind kind) {
  bool ok = false;
  const QString size_text = QInputDialog::getText(
      this, QStringLiteral("Exporter l'image"), QStringLiteral("Taille (largeur x hauteur) :"),
      QLineEdit::Normal, QStringLiteral("%1x%2").arg(canvas_->width()).arg(canvas_->height()), &ok);
  if (!ok) return;
  const QStringList wh = size_text.split(QLatin1Char('x'));
  bool ok_w = false, ok_h = false;
  const int w = wh.size() == 2 ? wh[0].trimmed().toInt(&ok_w) : 0;
  const int h = wh.size() == 2 ? wh[1].trimmed().toInt(&ok_h) : 0;
  if (!ok_w || !ok_h || w < 100 || h < 100 || w > 10000 || h > 10000) {
    QMessageBox::warning(
        this, QStringLiteral("Erreur"),
        QStringLiteral("Taille attendue : LARGEURxHAUTEUR, de 100 à 10000 pixels"));
    return;
  }
  const QString suffix = kind == ImageKind::kSvg   ? QStringLiteral(".svg")
                         : kind == ImageKind::kPdf ? QStringLiteral(".pdf")
                                                   : QStringLiteral(".png");
  const QString filter = kind == ImageKind::kSvg   ? QStringLiteral("Images SVG (*.svg)")
                         : kind == ImageKind::kPdf ? QStringLiteral("Documents PDF (*.pdf)")
                                                   : QStringLiteral("Images PNG (*.png)");
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Exporter l'image"),
                                   QFileInfo(path_).completeBaseName() + suffix, filter);
  if (path.isEmpty()) return;
  const ViewState view = view_;
  const Dataset* dataset = data_.get();
  const PicturePainter paint = [dataset, view](QPainter& p, const QRect& r) {
    PaintPlots(p, r, *dataset, view);
  };
  QString log;
  const bool written = kind == ImageKind::kSvg   ? WriteSvg(path, QSize(w, h), paint, log)
                       : kind == ImageKind::kPdf ? WritePdf(path, QSize(w, h), paint, log)
                                                 : WritePng(path, QSize(w, h), paint, log);
  if (!written) QMessageBox::warning(this, QStringLiteral("Erreur"), log.trimmed());
}

void MainWindow::ExportTable() {
  if (data_->table().ColumnCount() == 0) return;
  // The kind follows the name's extension; a name without one takes the chosen filter's.
  const QString text_filter = QStringLiteral("Tables texte (*.dat)");
  const QString csv_filter = QStringLiteral("Tables CSV (*.csv)");
  const QString mat_filter = QStringLiteral("Fichiers MATLAB (*.mat)");
  QString chosen;
  QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Exporter la plage visible"),
      QFileInfo(path_).completeBaseName() + QStringLiteral("_plage.dat"),
      text_filter + QStringLiteral(";;") + csv_filter + QStringLiteral(";;") + mat_filter +
          QStringLiteral(";;Tous les fichiers (*)"),
      &chosen);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) {
    if (chosen == csv_filter) path += QStringLiteral(".csv");
    if (chosen == mat_filter) path += QStringLiteral(".mat");
  }
  std::vector<std::size_t> shown;
  for (const PlotView& p : view_.plots) {
    for (std::size_t c : p.columns) {
      if (std::find(shown.begin(), shown.end(), c) == shown.end()) shown.push_back(c);
    }
  }
  std::string message;
  if (!ExportRange(path.toStdString(), data_->table(), 0, shown, view_.time.lo, view_.time.hi,
                   message)) {
    QMessageBox::warning(this, QStringLiteral("Erreur"), QString::fromStdString(message));
  }
}

void MainWindow::SaveSessionAs() {
  if (path_.isEmpty()) return;
  const QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Enregistrer la session"),
      QString::fromStdString(SessionPathFor(path_.toStdString()).string()),
      QStringLiteral("Sessions (*.tracix);;Tous les fichiers (*)"));
  if (path.isEmpty()) return;
  std::string message;
  if (!SaveSession(path.toStdString(), CurrentSession(), message)) {
    QMessageBox::warning(this, QStringLiteral("Erreur"), QString::fromStdString(message));
  }
}

void MainWindow::OpenSession() {
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Ouvrir une session"), QFileInfo(path_).absolutePath(),
      QStringLiteral("Sessions (*.tracix);;Tous les fichiers (*)"));
  if (path.isEmpty()) return;
  Session s;
  std::string message;
  if (!LoadSession(path.toStdString(), s, message)) {
    QMessageBox::warning(this, QStringLiteral("Erreur"), QString::fromStdString(message));
    return;
  }
  ApplySession(s);
}

// A run replaces the table by renaming a new file over it: the watch on the file is lost
// and the folder's watch tells; either way the file's date and size say whether it changed.
void MainWindow::FileMayHaveChanged() {
  if (path_.isEmpty()) return;
  const QFileInfo info(path_);
  if (!info.exists()) return;
  if (!watcher_.files().contains(path_)) watcher_.addPath(path_);
  if (info.lastModified() == loaded_time_ && info.size() == loaded_size_) return;
  if (watch_) {
    Open(path_, true);
    return;
  }
  if (asking_) return;
  asking_ = true;
  const auto answer = QMessageBox::question(
      this, QStringLiteral("Fichier modifié"),
      QStringLiteral("Le fichier « %1 » a changé sur le disque. Le recharger ?")
          .arg(QFileInfo(path_).fileName()));
  asking_ = false;
  if (answer == QMessageBox::Yes) {
    Open(path_, true);
  } else {
    // Not asked again for this version of the file.
    loaded_time_ = info.lastModified();
    loaded_size_ = info.size();
  }
}

}  // namespace mas::viewer
