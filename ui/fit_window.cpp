#include "ui/fit_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

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
  plot_ = new TuningCostPlot(central);
  plot_->SetCaptions(QStringLiteral("Coût de l'ajustement (échelle logarithmique)"),
                     QStringLiteral("itération"));
  layout->addWidget(plot_, 1);
  setCentralWidget(central);
  statusBar()->setSizeGripEnabled(true);

  connect(fit_, &QPushButton::clicked, this, [this] { CmAjuster(); });
  connect(stop_, &QPushButton::clicked, this, [this] { CmStop(); });
  connect(apply_, &QPushButton::clicked, this, [this] { CmAppliquer(); });
  connect(&hub_.Host(), &TSimulWindow::busyChanged, this, [this](bool busy) { SetBusy(busy); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { CmStop(); });
  SetBusy(hub_.Host().Busy());
  resize(720, 380);
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
  hub_.ShowParamWindow(r.genes);
  hub_.ParamWindow()->ShowIntervals(IntervalsOf(r));
}

}  // namespace mas::ui
