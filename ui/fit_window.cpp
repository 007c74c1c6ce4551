#include "ui/fit_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <span>
#include <thread>
#include <utility>

#include "files/number_format.h"
#include "fit/fit_report.h"
#include "identification/workbench.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"

namespace mas::ui {

std::string FitEndText(const FitResult& r) {
  switch (r.end) {
    case FitEnd::kConverged:
      return "Ajustement convergé";
    case FitEnd::kIterationLimit:
      return "Ajustement arrêté au nombre d'itérations maximal";
    case FitEnd::kInterrupted:
      return "Ajustement arrêté (Stop) : meilleur point atteint";
    case FitEnd::kFailed:
      return "Ajustement impossible : " + r.message;
    case FitEnd::kRefused:
      return "Ajustement refusé : " + r.message;
  }
  return {};
}

std::array<std::optional<GeneInterval>, NGenes> IntervalsOf(const FitResult& r) {
  std::array<std::optional<GeneInterval>, NGenes> out;
  for (const FittedParameter& p : r.parameters) {
    if (p.gene < 0 || p.gene >= NGenes) continue;
    GeneInterval i;
    i.lower = p.lower95;
    i.upper = p.upper95;
    i.identifiable = p.identifiable && r.statistics;
    out[static_cast<std::size_t>(p.gene)] = i;
  }
  return out;
}

namespace {

const QColor kRecorded(150, 150, 150);
const QColor kFitted(20, 70, 170);
const QColor kResidual(190, 60, 30);

// Values of a series that can be drawn, from lowest to highest (a tenth of the span
// either side; a flat series gets a band around its value).
std::pair<double, double> SpanOf(std::span<const double> a, std::span<const double> b) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (auto series : {a, b}) {
    for (double x : series) {
      if (!std::isfinite(x)) continue;
      low = std::min(low, x);
      high = std::max(high, x);
    }
  }
  if (!(low <= high)) return {-1.0, 1.0};
  const double margin = high > low ? 0.05 * (high - low) : std::max(std::fabs(low) * 0.05, 1e-9);
  return {low - margin, high + margin};
}

// Round values 1, 2 or 5 times a power of ten apart inside [low, high], about `labels`
// of them (0 exactly when it is inside).
std::vector<double> RoundTicks(double low, double high, int labels) {
  const double rough = (high - low) / std::max(labels - 1, 1);
  if (!(rough > 0.0) || !std::isfinite(rough)) return {low, high};
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = 10.0 * power;
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= rough) {
      step = m * power;
      break;
    }
  }
  std::vector<double> ticks;
  for (double k = std::ceil(low / step); k * step <= high && ticks.size() < 12; k += 1.0) {
    ticks.push_back(std::fabs(k) < 0.5 ? 0.0 : k * step);
  }
  if (ticks.empty()) return {low, high};
  return ticks;
}

QString AxisNumber(double x) { return QString::fromStdString(FormatG(x, 4)); }

// One panel: its title above, the value axis labelled at both ends (and at 0 when it is
// inside), the time axis at both ends, and its series (the first in grey, recorded).
void DrawPanel(QPainter& p, const QWidget& w, const QRectF& box, const QString& title,
               std::span<const double> t, std::span<const double> first,
               std::span<const double> second, const QColor& first_color,
               const QColor& second_color) {
  const QFontMetrics metrics(w.font());
  const int line = metrics.height();
  const double label = metrics.horizontalAdvance(QStringLiteral("-9.999e+99")) + 6;
  const QRectF area(box.left() + label, box.top() + line + 4, box.width() - label - 8,
                    box.height() - 2 * line - 8);
  const QColor text = w.palette().color(QPalette::Text);
  p.setPen(text);
  p.drawText(QRectF(box.left(), box.top(), box.width(), line), Qt::AlignHCenter, title);
  if (area.width() < 10 || area.height() < 10) return;
  const std::pair<double, double> span = SpanOf(first, second);
  const double low = span.first;
  const double high = span.second;
  const double t0 = t.empty() ? 0.0 : t.front();
  const double t1 = t.empty() ? 1.0 : t.back();
  auto y_of = [&](double v) { return area.bottom() - area.height() * (v - low) / (high - low); };
  auto x_of = [&](double time) {
    return t1 > t0 ? area.left() + area.width() * (time - t0) / (t1 - t0) : area.center().x();
  };
  const QPen grid(QColor(215, 215, 215), 1, Qt::DotLine);
  const int labels = std::clamp(static_cast<int>(area.height() / (line + 4)), 2, 5);
  const std::vector<double> ticks = RoundTicks(low, high, labels);
  for (double v : ticks) {
    const double y = y_of(v);
    p.setPen(grid);
    p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    p.setPen(text);
    p.drawText(QRectF(box.left(), y - line / 2.0, label - 4, line),
               Qt::AlignRight | Qt::AlignVCenter, AxisNumber(v));
  }
  p.setPen(QPen(text, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(area);
  if (!t.empty()) {
    const QRectF times(area.left(), area.bottom() + 2, area.width(), line);
    p.drawText(times, Qt::AlignLeft, AxisNumber(t0) + QStringLiteral(" s"));
    p.drawText(times, Qt::AlignRight, AxisNumber(t1) + QStringLiteral(" s"));
  }
  p.save();
  p.setClipRect(area);
  auto draw = [&](std::span<const double> v, const QColor& color, double width) {
    if (v.size() != t.size() || v.empty()) return;
    std::vector<QPointF> points;
    points.reserve(v.size());
    for (std::size_t k = 0; k < v.size(); ++k) {
      if (std::isfinite(v[k])) points.emplace_back(x_of(t[k]), y_of(v[k]));
    }
    p.setPen(QPen(color, width));
    if (points.size() > 1) p.drawPolyline(points.data(), static_cast<int>(points.size()));
    if (points.size() == 1) p.drawPoint(points.front());
  };
  draw(first, first_color, 2.2);
  draw(second, second_color, 1.2);
  p.restore();
}

std::vector<double> Difference(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> d;
  if (a.size() != b.size()) return d;
  d.resize(a.size());
  for (std::size_t k = 0; k < a.size(); ++k) d[k] = a[k] - b[k];
  return d;
}

QTableWidgetItem* Cell(const std::string& text) {
  auto* item = new QTableWidgetItem(ToQString(text));
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

}  // namespace

FitCurvesPlot::FitCurvesPlot(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("FitCurvesPlot"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void FitCurvesPlot::SetCurves(FitCurves curves) {
  curves_ = std::move(curves);
  update();
}

void FitCurvesPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Base));
  p.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics metrics(font());
  const int line = metrics.height();
  if (curves_.times.empty()) {
    p.setPen(palette().color(QPalette::Text));
    p.drawText(rect(), Qt::AlignCenter,
               QStringLiteral("Les trajectoires s'affichent à la fin d'un ajustement"));
    return;
  }
  // The legend: a stroke of each colour and what it draws.
  double x = 8;
  const double y = 4 + line / 2.0;
  for (const auto& [color, name] :
       {std::pair{kRecorded, QStringLiteral("enregistré")},
        std::pair{kFitted, QStringLiteral("ajusté")},
        std::pair{kResidual, QStringLiteral("résidu (enregistré - ajusté)")}}) {
    p.setPen(QPen(color, 2.2));
    p.drawLine(QPointF(x, y), QPointF(x + 24, y));
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRectF(x + 30, 4, width(), line), Qt::AlignLeft, name);
    x += 30 + metrics.horizontalAdvance(name) + 20;
  }
  const double top = line + 10;
  const double half = width() / 2.0;
  const double curve_height = (height() - top) * 0.62;
  const double residual_height = height() - top - curve_height;
  const std::vector<double> speed_residual =
      Difference(curves_.measured_speed, curves_.fitted_speed);
  const std::vector<double> current_residual =
      Difference(curves_.measured_current, curves_.fitted_current);
  const std::span<const double> none;
  DrawPanel(p, *this, QRectF(0, top, half, curve_height),
            QStringLiteral("Vitesse mécanique (tr/mn)"), curves_.times, curves_.measured_speed,
            curves_.fitted_speed, kRecorded, kFitted);
  DrawPanel(p, *this, QRectF(half, top, half, curve_height),
            QStringLiteral("Courant de phase Ias (A)"), curves_.times, curves_.measured_current,
            curves_.fitted_current, kRecorded, kFitted);
  DrawPanel(p, *this, QRectF(0, top + curve_height, half, residual_height),
            QStringLiteral("Résidu de vitesse (tr/mn)"), curves_.times, speed_residual, none,
            kResidual, kResidual);
  DrawPanel(p, *this, QRectF(half, top + curve_height, half, residual_height),
            QStringLiteral("Résidu de courant (A)"), curves_.times, current_residual, none,
            kResidual, kResidual);
}

TFitWindow::TFitWindow(IdentificationHub& hub, std::function<Genes(Start)> best_of, QWidget* parent)
    : QMainWindow(parent, Qt::Window), hub_(hub), best_of_(std::move(best_of)) {
  setObjectName(QStringLiteral("TFitWindow"));
  setWindowTitle(QStringLiteral("Ajustement de la trajectoire - Paramètres de la MAS"));
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Départ :"), central));
  start_ = new QComboBox(central);
  start_->setObjectName(QStringLiteral("Depart"));
  start_->addItems({QStringLiteral("Meilleur de l'algorithme génétique"),
                    QStringLiteral("Meilleur global de la PSO"),
                    QStringLiteral("Machine de l'étude")});
  row->addWidget(start_);
  row->addWidget(new QLabel(QStringLiteral("Itérations max :"), central));
  iterations_ = new QLineEdit(QStringLiteral("50"), central);
  iterations_->setObjectName(QStringLiteral("Iterations"));
  iterations_->setMaximumWidth(60);
  row->addWidget(iterations_);
  fit_ = new QPushButton(QStringLiteral("Ajuster"), central);
  fit_->setObjectName(QStringLiteral("Ajuster"));
  fit_->setToolTip(QStringLiteral("Ajuste les paramètres optimisés par moindres carrés"));
  stop_ = new QPushButton(QStringLiteral("Stop"), central);
  stop_->setObjectName(QStringLiteral("Stop"));
  stop_->setToolTip(QStringLiteral("Arrête l'ajustement à l'itération en cours (Echap)"));
  apply_ = new QPushButton(QStringLiteral("Appliquer à la machine"), central);
  apply_->setObjectName(QStringLiteral("Appliquer"));
  apply_->setToolTip(QStringLiteral("Écrit les paramètres ajustés dans la machine de l'étude"));
  apply_->setEnabled(false);
  row->addWidget(fit_);
  row->addWidget(stop_);
  row->addWidget(apply_);
  row->addStretch(1);
  layout->addLayout(row);
  progress_ = new QLabel(central);
  progress_->setObjectName(QStringLiteral("Progression"));
  layout->addWidget(progress_);
  tabs_ = new QTabWidget(central);
  tabs_->setObjectName(QStringLiteral("Onglets"));
  plot_ = new TuningCostPlot(tabs_);
  plot_->SetCaptions(QStringLiteral("Coût de l'ajustement (échelle logarithmique)"),
                     QStringLiteral("itération"));
  tabs_->addTab(plot_, QStringLiteral("Coût"));

  auto* result = new QWidget(tabs_);
  auto* result_layout = new QVBoxLayout(result);
  table_ = new QTableWidget(0, 7, result);
  table_->setObjectName(QStringLiteral("Parametres"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Paramètre"), QStringLiteral("Valeur"),
                                     QStringLiteral("Écart-type"),
                                     QStringLiteral("Intervalle à 95 %"), QStringLiteral("Méthode"),
                                     QStringLiteral("Unité"), QStringLiteral("Remarque")});
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  result_layout->addWidget(table_);
  summary_ = new QLabel(result);
  summary_->setObjectName(QStringLiteral("Synthese"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* scroll = new QScrollArea(result);
  scroll->setWidget(summary_);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  result_layout->addWidget(scroll, 1);
  tabs_->addTab(result, QStringLiteral("Résultat"));

  curves_ = new FitCurvesPlot(tabs_);
  tabs_->addTab(curves_, QStringLiteral("Trajectoires"));
  layout->addWidget(tabs_, 1);
  setCentralWidget(central);
  statusBar()->setSizeGripEnabled(true);

  connect(fit_, &QPushButton::clicked, this, [this] { CmAjuster(); });
  connect(stop_, &QPushButton::clicked, this, [this] { CmStop(); });
  connect(apply_, &QPushButton::clicked, this, [this] { CmAppliquer(); });
  connect(&hub_.Host(), &TSimulWindow::busyChanged, this, [this](bool busy) { SetBusy(busy); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { CmStop(); });
  SetBusy(hub_.Host().Busy());
  resize(780, 560);
}

TFitWindow::~TFitWindow() {
  if (fit_in_use_.load()) {
    hub_.Host().StopRun();
    while (fit_in_use_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TFitWindow::ShowFrom(Start start) {
  start_->setCurrentIndex(static_cast<int>(start));
  show();
  raise();
  activateWindow();
}

QString TFitWindow::ProgressText() const { return progress_->text(); }

QString TFitWindow::SummaryText() const { return summary_->text(); }

void TFitWindow::SetBusy(bool busy) {
  fit_->setEnabled(!busy);
  start_->setEnabled(!busy);
  apply_->setEnabled(!busy && result_ && !result_->parameters.empty() &&
                     result_->end != FitEnd::kRefused && result_->end != FitEnd::kFailed);
  // "Stop" ends the work of this window (a run of the main window has its own "Arrêter").
  stop_->setEnabled(busy && job_running_);
}

bool TFitWindow::CmAjuster() {
  if (hub_.Host().Busy()) return false;
  const std::string text = ToStdString(iterations_->text());
  const std::optional<int> iterations = ParseInt(text);
  if (!iterations || *iterations < 1) {
    hub_.WindowPlatform().ShowMessage(NotAnIntegerMessage(text), "Erreur", MessageIcon::kError);
    return false;
  }
  const auto start = static_cast<Start>(start_->currentIndex());
  const Genes guess =
      start == Start::kMachine ? GenesOfMachine(hub_.Host().Settings().dq) : best_of_(start);
  FitOptions options;
  options.max_iterations = *iterations;
  costs_.clear();
  plot_->SetPoints(costs_);
  progress_->clear();
  table_->setRowCount(0);
  summary_->clear();
  curves_->SetCurves({});
  tabs_->setCurrentWidget(plot_);
  job_running_ = true;
  fit_in_use_.store(true);
  const bool started = hub_.Host().StartStudyJob(
      [this, guess, options](SimulationSettings& s, CarriedState& carried, Platform& platform) {
        // The window waits for this job before it goes, so the progress may be posted to it.
        const OptimiserRelease release{fit_in_use_};
        if (!TablesReadyForIdentification(s, platform)) return;
        const FitResult r =
            FitTrajectory(guess, s, carried, platform, options, [this](const FitProgress& p) {
              QMetaObject::invokeMethod(
                  this, [this, p] { ShowProgress(p); }, Qt::QueuedConnection);
            });
        QMetaObject::invokeMethod(
            this, [this, r] { ShowResult(r); }, Qt::QueuedConnection);
      },
      [window = QPointer<TFitWindow>(this)] {
        if (window.isNull()) return;
        window->job_running_ = false;
        window->SetBusy(false);
        emit window->jobFinished();
      });
  if (!started) {
    job_running_ = false;
    fit_in_use_.store(false);
  }
  return started;
}

void TFitWindow::CmStop() {
  if (job_running_) hub_.Host().StopRun();
}

bool TFitWindow::CmAppliquer() {
  if (hub_.Host().Busy() || !result_ || result_->parameters.empty()) return false;
  if (result_->genes[kGeneTr] == 0.0) return false;
  MapGenesOntoMachine(result_->genes, hub_.Host().MutableSettings());
  statusBar()->showMessage(QStringLiteral("Paramètres ajustés écrits dans la machine"));
  return true;
}

void TFitWindow::ShowProgress(const FitProgress& p) {
  progress_->setText(
      QStringLiteral("Départ ") + QString::number(p.start + 1) + QStringLiteral("/") +
      QString::number(p.starts) + QStringLiteral(", itération ") + QString::number(p.iteration) +
      QStringLiteral(" : coût ") + ToQString(FormatReal(p.cost, 6)) + QStringLiteral(", ") +
      QString::number(p.runs) + QStringLiteral(" simulations"));
  // The plot follows the solver's accepted points: a rejected trial says nothing of the
  // fit's progress, and its cost would show as a rise the fit never made. A new start
  // begins again from its own first point.
  if (p.iteration > 0 && !p.step_accepted) return;
  costs_.push_back({static_cast<int>(costs_.size()), p.cost});
  plot_->SetPoints(costs_);
}

void TFitWindow::ShowResult(const FitResult& r) {
  result_ = r;
  statusBar()->showMessage(ToQString(FitEndText(r)));
  if (r.end == FitEnd::kRefused || r.end == FitEnd::kFailed) return;
  ShowParameters(r);
  curves_->SetCurves(r.curves);
  tabs_->setCurrentIndex(1);
  hub_.ShowParamWindow(r.genes);
  hub_.ParamWindow()->ShowIntervals(IntervalsOf(r));
}

void TFitWindow::ShowParameters(const FitResult& r) {
  const std::string method = IntervalMethodName(r);
  table_->setRowCount(static_cast<int>(r.parameters.size()));
  for (int row = 0; row < static_cast<int>(r.parameters.size()); ++row) {
    const FittedParameter& p = r.parameters[static_cast<std::size_t>(row)];
    const bool intervals = r.statistics && std::isfinite(p.lower95) && std::isfinite(p.upper95);
    table_->setItem(row, 0, Cell(kGeneNames[static_cast<std::size_t>(p.gene)]));
    table_->setItem(row, 1, Cell(FormatG(p.value)));
    table_->setItem(row, 2, Cell(r.statistics ? FormatG(p.standard_error, 3) : "-"));
    table_->setItem(
        row, 3, Cell(intervals ? "[" + FormatG(p.lower95) + ", " + FormatG(p.upper95) + "]" : "-"));
    table_->setItem(row, 4, Cell(method));
    table_->setItem(row, 5, Cell(FitParameterUnit(p.gene)));
    std::string flags;
    for (const std::string& f : FittedParameterFlags(p)) flags += (flags.empty() ? "" : ", ") + f;
    table_->setItem(row, 6, Cell(flags));
    // A parameter the record cannot identify stands out; the reasons are below the table.
    if (!p.identifiable) {
      for (int c = 0; c < table_->columnCount(); ++c) {
        table_->item(row, c)->setForeground(QColor(190, 60, 30));
      }
    }
  }
  table_->resizeColumnsToContents();
  // Every row in sight: the table as tall as its rows (at most the eight genes).
  int height = table_->horizontalHeader()->height() + 2 * table_->frameWidth();
  for (int row = 0; row < table_->rowCount(); ++row) height += table_->rowHeight(row);
  table_->setFixedHeight(height);

  QStringList lines;
  if (r.statistics) {
    lines << QStringLiteral("Intervalles : ") + ToQString(IntervalMethodText(r));
  } else {
    lines << ToQString(NoUncertaintyText());
  }
  if (r.residual_kind == ResidualKind::kMachineState) {
    lines << QStringLiteral("Poids : ") + ToQString(FitWeightsText(r));
  }
  lines << QStringLiteral("Écart rms : ") + ToQString(FitRmsText(r));
  for (const std::string& line : IdentifiabilityLines(r)) lines << ToQString(line);
  summary_->setText(lines.join(QLatin1Char('\n')));
}

}  // namespace mas::ui
