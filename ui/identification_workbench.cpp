#include "ui/identification_workbench.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "identification/workbench.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"

namespace mas::ui {

IdentificationWorkbench::IdentificationWorkbench(IdentificationHub& hub, const QString& stop_hint,
                                                 const QString& initialise_hint, QWidget* parent)
    : QMainWindow(parent, Qt::Window), hub_(hub), initialise_hint_(initialise_hint) {
  auto* central = new QWidget(this);
  layout_ = new QVBoxLayout(central);

  auto* buttons = new QHBoxLayout;
  auto* options = new QToolButton(central);
  options->setObjectName(QStringLiteral("Options"));
  options->setText(QStringLiteral("Options"));
  options->setPopupMode(QToolButton::InstantPopup);
  options_ = new QMenu(options);
  options->setMenu(options_);
  QPushButton* run =
      Button(QStringLiteral("Run"), QStringLiteral("Optimise une seule fois"), central);
  QPushButton* runt =
      Button(QStringLiteral("RunT"), QStringLiteral("Optimise plusieurs fois"), central);
  times_ = new QLineEdit(QStringLiteral("10"), central);
  times_->setObjectName(QStringLiteral("times"));
  times_->setMaximumWidth(60);
  stop_ = Button(QStringLiteral("Stop"), stop_hint, central);
  QPushButton* simule =
      Button(QStringLiteral("Simule"),
             QStringLiteral("Simule avec le \"gloabal best\" des paramètres"), central);
  QPushButton* init = Button(QStringLiteral("Initialise"), initialise_hint, central);
  QPushButton* genx = Button(QStringLiteral("Paramètres à Optimiser"),
                             QStringLiteral("Choix des param. à optimiser (Gen. et PSO)"), central);
  for (QWidget* w :
       std::initializer_list<QWidget*>{options, run, runt, times_, stop_, simule, init, genx}) {
    buttons->addWidget(w);
  }
  buttons->addStretch(1);
  layout_->addLayout(buttons);
  commands_ = {options, run, runt, simule, init, genx};

  plot_ = new TuningCostPlot(central);
  setCentralWidget(central);
  statusBar()->setSizeGripEnabled(true);

  connect(run, &QPushButton::clicked, this, [this] { CmRun(); });
  connect(runt, &QPushButton::clicked, this, [this] { CmRunT(); });
  connect(stop_, &QPushButton::clicked, this, [this] { CmStop(); });
  connect(simule, &QPushButton::clicked, this, [this] { CmSimule(); });
  connect(init, &QPushButton::clicked, this, [this] { CmInitialise(); });
  connect(genx, &QPushButton::clicked, this, [this] { CmParametresAOptimiser(); });
  connect(times_, &QLineEdit::textChanged, this, [this](const QString& text) {
    const std::optional<int> n = ParseInt(ToStdString(text));
    repetitions_.store(n ? *n : -1);
  });
  connect(&hub_, &IdentificationHub::paramWindowChanged, this, [this] { SyncParamCheck(); });
  connect(&hub_.Host(), &TSimulWindow::busyChanged, this, [this](bool busy) { SetBusy(busy); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { CmStop(); });
}

IdentificationWorkbench::~IdentificationWorkbench() = default;

QPushButton* IdentificationWorkbench::Button(const QString& text, const QString& hint,
                                             QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(text);
  button->setToolTip(hint);
  button->setStatusTip(hint);
  return button;
}

void IdentificationWorkbench::WaitForJob() {
  if (optimiser_in_use_.load()) {
    hub_.Host().StopRun();
    while (optimiser_in_use_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void IdentificationWorkbench::AddParamCheck(QBoxLayout* row) {
  param_check_ =
      new QCheckBox(QStringLiteral("Affiche la fenêtre des paramètres"), centralWidget());
  param_check_->setObjectName(QStringLiteral("AfficheParam"));
  row->addWidget(param_check_);
  connect(param_check_, &QCheckBox::clicked, this, [this](bool checked) {
    if (checked) {
      hub_.ShowParamWindow(best_);
    } else {
      hub_.DestroyParamWindow();
    }
  });
}

void IdentificationWorkbench::AddCommand(QWidget* command) { commands_.push_back(command); }

void IdentificationWorkbench::AddMenuEntry(const QString& caption, const QString& hint,
                                           std::function<void()> command) {
  QAction* action = options_->addAction(caption);
  action->setStatusTip(hint);
  connect(action, &QAction::triggered, this, std::move(command));
  menu_commands_.push_back(action);
}

void IdentificationWorkbench::AddComparisonEntries(const QString& start_file_caption,
                                                   const QString& experimental_caption) {
  AddMenuEntry(start_file_caption, QStringLiteral("Paramètres de l'optimisation sur un démarrage"),
               [this] { CmFichierDemarrage(); });
  AddMenuEntry(QStringLiteral("&Fonction Coût"), QStringLiteral("Choix de la fonction coût"),
               [this] { CmFonctionCout(); });
  AddMenuEntry(experimental_caption, QStringLiteral("Ouvrir le fichier expérimental"),
               [this] { CmOuvrirExperimental(); });
  AddMenuEntry(QStringLiteral("&Créer table expérimentale"),
               QStringLiteral("Rééchantillonne le démarrage mesuré sur les pas enregistrés"),
               [this] { CmCreerTable(); });
  options_->addSeparator();
}

void IdentificationWorkbench::AddInitialiseAndFitEntries() {
  AddMenuEntry(QStringLiteral("&Initialiser"), initialise_hint_, [this] { CmInitialise(); });
  AddMenuEntry(QStringLiteral("Paramètres à Optimiser"),
               QStringLiteral("Choix des param. à optimiser (Gen. et PSO)"),
               [this] { CmParametresAOptimiser(); });
  options_->addSeparator();
  AddMenuEntry(QStringLiteral("&Ajustement (moindres carrés)"),
               QStringLiteral("Ajuste la trajectoire simulée à la mesure à partir du meilleur jeu"),
               [this] { emit fitRequested(); });
}

void IdentificationWorkbench::SetBusy(bool busy) {
  for (QWidget* w : commands_) w->setEnabled(!busy);
  for (QAction* a : menu_commands_) a->setEnabled(!busy);
  // "Stop" ends the work of this window (a run of the main window has its own "Arrêter").
  stop_->setEnabled(busy && job_running_);
}

void IdentificationWorkbench::SyncParamCheck() {
  if (param_check_ == nullptr) return;
  const QSignalBlocker block(param_check_);
  param_check_->setChecked(hub_.ParamWindowShown());
}

void IdentificationWorkbench::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  SyncParamCheck();
}

void IdentificationWorkbench::ShowBest(const Genes& best) {
  best_ = best;
  hub_.UpdateParamWindow(best_);
}

void IdentificationWorkbench::AddCost(CostPoint point) {
  costs_.push_back(point);
  plot_->SetPoints(costs_);
}

void IdentificationWorkbench::ClearCosts() {
  costs_.clear();
  plot_->SetPoints(costs_);
}

void IdentificationWorkbench::ShowStatus(QString status, int diverged) {
  if (diverged > 0) status += QStringLiteral(" : ") + ToQString(DivergedNote(diverged));
  statusBar()->showMessage(status);
}

bool IdentificationWorkbench::StartJob(const std::function<bool(std::function<void()>)>& start) {
  if (hub_.Host().Busy()) return false;
  job_running_ = true;
  const bool started = start([window = QPointer<IdentificationWorkbench>(this)] {
    if (window.isNull()) return;
    window->job_running_ = false;
    window->JobEnded();
    emit window->jobFinished();
  });
  if (!started) job_running_ = false;
  return started;
}

bool IdentificationWorkbench::StartSteps(bool repeat, Step step) {
  if (repeat && repetitions_.load() < 0) {
    hub_.WindowPlatform().ShowMessage(NotAnIntegerMessage(ToStdString(times_->text())), "Erreur",
                                      MessageIcon::kError);
    return false;
  }
  // Refused before the optimiser is claimed: while a job of this window runs, the claim is
  // that job's, and only its end may release it.
  if (hub_.Host().Busy()) return false;
  optimiser_in_use_.store(true);
  const bool started = StartJob([this, repeat, &step](std::function<void()> done) {
    return hub_.Host().StartStudyJob(
        [this, repeat, step = std::move(step)](SimulationSettings& s, CarriedState& carried,
                                               Platform& platform) {
          const OptimiserRelease release{optimiser_in_use_};
          DivergenceCountingPlatform counting(platform);
          for (int n = 0; n < (repeat ? repetitions_.load() : 1); ++n) {
            if (!TablesReadyForIdentification(s, counting)) return;
            step(s, carried, counting);
            // "Stop" ends the repetitions too.
            if (platform.EscapePressed()) return;
          }
        },
        std::move(done));
  });
  if (!started) optimiser_in_use_.store(false);
  return started;
}

void IdentificationWorkbench::CmStop() {
  if (job_running_) hub_.Host().StopRun();
}

bool IdentificationWorkbench::SimulateBest(const Genes& best, std::string tr_zero_message) {
  return StartJob([this, &best, &tr_zero_message](std::function<void()> done) {
    return hub_.Simulate(best, std::move(tr_zero_message), std::move(done));
  });
}

std::optional<GeneVectorEntry> IdentificationWorkbench::AskGeneVector(GeneVectorDialog::Kind kind,
                                                                      int counter,
                                                                      const Genes& genes) {
  GeneVectorDialog dialog(kind, counter, genes, this);
  if (hub_.RunDialog(dialog) != QDialog::Accepted) return std::nullopt;
  const GeneVectorParse parsed = dialog.Entry();
  if (!parsed.entry) {
    hub_.WindowPlatform().ShowMessage(parsed.error, "Erreur", MessageIcon::kError);
  }
  return parsed.entry;
}

bool IdentificationWorkbench::CmParametresAOptimiser() {
  return hub_.RunSettingsDialog("TDIALOG_OptX");
}
bool IdentificationWorkbench::CmFichierDemarrage() {
  return hub_.RunSettingsDialog("TDIALOG_FichierDem");
}
bool IdentificationWorkbench::CmFonctionCout() {
  return hub_.RunSettingsDialog("TDIALOG_FonctionCout");
}

bool IdentificationWorkbench::CmOuvrirExperimental() {
  return StartJob(
      [this](std::function<void()> done) { return hub_.ReadExperimental(std::move(done)); });
}

bool IdentificationWorkbench::CmCreerTable() {
  return StartJob([this](std::function<void()> done) { return hub_.BuildTables(std::move(done)); });
}

}  // namespace mas::ui
