#include "ui/gen_dem_window.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
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

#include "identification/random.h"
#include "identification/workbench.h"
#include "ui/gene_vector_dialog.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/param_window.h"

namespace mas::ui {
namespace {

QPushButton* Button(const QString& text, const QString& hint, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(text);
  button->setToolTip(hint);
  button->setStatusTip(hint);
  return button;
}

}  // namespace

TGenDemWindow::TGenDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder,
                             QWidget* parent)
    : QMainWindow(parent, Qt::Window),
      hub_(hub),
      ga_(std::make_unique<GeneticIdentification>(SharedRandom(), log_folder)) {
  setObjectName(QStringLiteral("TGenDemWindow"));
  setWindowTitle(QStringLiteral("Genetic Algorithms Optimisation - Paramètres de la MAS"));
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* buttons = new QHBoxLayout;
  auto* options = new QToolButton(central);
  options->setObjectName(QStringLiteral("Options"));
  options->setText(QStringLiteral("Options"));
  options->setPopupMode(QToolButton::InstantPopup);
  options_ = new QMenu(options);
  options->setMenu(options_);
  buttons->addWidget(options);
  QPushButton* run =
      Button(QStringLiteral("Run"), QStringLiteral("Optimise une seule fois"), central);
  QPushButton* runt =
      Button(QStringLiteral("RunT"), QStringLiteral("Optimise plusieurs fois"), central);
  times_ = new QLineEdit(QStringLiteral("10"), central);
  times_->setObjectName(QStringLiteral("times"));
  times_->setMaximumWidth(60);
  stop_ = Button(QStringLiteral("Stop"), QStringLiteral("Arrête la génération en cours (Echap)"),
                 central);
  QPushButton* simule =
      Button(QStringLiteral("Simule"),
             QStringLiteral("Simule avec le \"gloabal best\" des paramètres"), central);
  QPushButton* init =
      Button(QStringLiteral("Initialise"),
             QStringLiteral("Met toute la population à un même jeu de paramètres"), central);
  QPushButton* genx = Button(QStringLiteral("Paramètres à Optimiser"),
                             QStringLiteral("Choix des param. à optimiser (Gen. et PSO)"), central);
  for (QWidget* w :
       {static_cast<QWidget*>(run), static_cast<QWidget*>(runt), static_cast<QWidget*>(times_),
        static_cast<QWidget*>(stop_), static_cast<QWidget*>(simule), static_cast<QWidget*>(init),
        static_cast<QWidget*>(genx)}) {
    buttons->addWidget(w);
  }
  buttons->addStretch(1);
  layout->addLayout(buttons);
  commands_ = {options, run, runt, simule, init, genx};

  auto* labels = new QHBoxLayout;
  generation_ = new QLabel(central);
  generation_->setObjectName(QStringLiteral("Generation"));
  fitness_ = new QLabel(central);
  fitness_->setObjectName(QStringLiteral("FitnessMax"));
  param_check_ = new QCheckBox(QStringLiteral("Affiche la fenêtre des paramètres"), central);
  param_check_->setObjectName(QStringLiteral("AfficheParam"));
  labels->addWidget(new QLabel(QStringLiteral("Génération :"), central));
  labels->addWidget(generation_);
  labels->addSpacing(20);
  labels->addWidget(new QLabel(QStringLiteral("Fitness Max :"), central));
  labels->addWidget(fitness_);
  labels->addStretch(1);
  labels->addWidget(param_check_);
  layout->addLayout(labels);

  plot_ = new TuningCostPlot(central);
  layout->addWidget(plot_, 1);
  setCentralWidget(central);
  statusBar()->setSizeGripEnabled(true);
  BuildMenu();

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
  connect(param_check_, &QCheckBox::clicked, this, [this](bool checked) {
    if (checked) {
      hub_.ShowParamWindow(best_);
    } else {
      hub_.DestroyParamWindow();
    }
  });
  connect(&hub_, &IdentificationHub::paramWindowChanged, this, [this] { SyncParamCheck(); });
  connect(&hub_.Host(), &TSimulWindow::busyChanged, this, [this](bool busy) { SetBusy(busy); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { CmStop(); });

  SetBusy(hub_.Host().Busy());
  ShowState();
  resize(720, 360);
}

TGenDemWindow::~TGenDemWindow() {
  // Generations of this window still under way on the worker use the population: they
  // are stopped and waited for (within one candidate's run).
  if (optimiser_in_use_.load()) {
    hub_.Host().StopRun();
    while (optimiser_in_use_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TGenDemWindow::BuildMenu() {
  auto add = [this](const QString& caption, const QString& hint, auto command) {
    QAction* action = options_->addAction(caption);
    action->setStatusTip(hint);
    connect(action, &QAction::triggered, this, command);
    menu_commands_.push_back(action);
    return action;
  };
  add(QStringLiteral("Fichier de démarrage"),
      QStringLiteral("Paramètres de l'optimisation sur un démarrage"),
      [this] { CmFichierDemarrage(); });
  add(QStringLiteral("&Fonction Coût"), QStringLiteral("Choix de la fonction coût"),
      [this] { CmFonctionCout(); });
  add(QStringLiteral("Ouvrir Expériemtal"), QStringLiteral("Ouvrir le fichier expérimental"),
      [this] { CmOuvrirExperimental(); });
  add(QStringLiteral("&Créer table expérimentale"),
      QStringLiteral("Rééchantillonne le démarrage mesuré sur les pas enregistrés"),
      [this] { CmCreerTable(); });
  options_->addSeparator();
  add(QStringLiteral("&Randomize"), QStringLiteral("Population initiale tirée au hasard"),
      [this] { CmRandomize(); });
  add(QStringLiteral("&Initialiser"),
      QStringLiteral("Met toute la population à un même jeu de paramètres"),
      [this] { CmInitialise(); });
  add(QStringLiteral("Paramètres à Optimiser"),
      QStringLiteral("Choix des param. à optimiser (Gen. et PSO)"),
      [this] { CmParametresAOptimiser(); });
  options_->addSeparator();
  add(QStringLiteral("&Ajustement (moindres carrés)"),
      QStringLiteral("Ajuste la trajectoire simulée à la mesure à partir du meilleur jeu"),
      [this] { emit fitRequested(); });
}

QString TGenDemWindow::GenerationText() const { return generation_->text(); }
QString TGenDemWindow::FitnessText() const { return fitness_->text(); }

void TGenDemWindow::ShowState() {
  generation_->setText(QString::number(ga_->Gen));
  fitness_->setText(ToQString(FormatReal(ga_->BestFitness, 6)));
  best_ = ga_->XOld[0];
  hub_.UpdateParamWindow(best_);
}

void TGenDemWindow::ShowGeneration(const GenerationShown& shown) {
  generation_->setText(QString::number(shown.gen));
  if (shown.stopped) {
    statusBar()->showMessage(QStringLiteral("Génération ") + QString::number(shown.gen) +
                             QStringLiteral(" arrêtée (Stop)"));
  }
  if (!shown.complete) return;
  fitness_->setText(ToQString(FormatReal(shown.best_fitness, 6)));
  best_ = shown.best;
  hub_.UpdateParamWindow(best_);
  // Fitness is the inverse of the cost (1e20 for a cost of 0).
  costs_.push_back({shown.gen, shown.best_fitness > 0.0 ? 1.0 / shown.best_fitness : 0.0});
  plot_->SetPoints(costs_);
  QString status = QStringLiteral("Génération ") + QString::number(shown.gen);
  if (shown.diverged > 0) status += QStringLiteral(" : ") + ToQString(DivergedNote(shown.diverged));
  statusBar()->showMessage(status);
}

void TGenDemWindow::SetBusy(bool busy) {
  for (QWidget* w : commands_) w->setEnabled(!busy);
  for (QAction* a : menu_commands_) a->setEnabled(!busy);
  // "Stop" ends the work of this window (a run of the main window has its own "Arrêter").
  stop_->setEnabled(busy && job_running_);
}

void TGenDemWindow::SyncParamCheck() {
  const QSignalBlocker block(param_check_);
  param_check_->setChecked(hub_.ParamWindowShown());
}

void TGenDemWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  SyncParamCheck();
  if (!job_running_) ShowState();
}

bool TGenDemWindow::StartJob(const std::function<bool(std::function<void()>)>& start) {
  if (hub_.Host().Busy()) return false;
  job_running_ = true;
  const bool started = start([window = QPointer<TGenDemWindow>(this)] {
    if (window.isNull()) return;
    window->job_running_ = false;
    window->ShowState();
    emit window->jobFinished();
  });
  if (!started) job_running_ = false;
  return started;
}

bool TGenDemWindow::StartGenerations(bool repeat) {
  if (repeat && repetitions_.load() < 0) {
    hub_.WindowPlatform().ShowMessage(NotAnIntegerMessage(ToStdString(times_->text())), "Erreur",
                                      MessageIcon::kError);
    return false;
  }
  optimiser_in_use_.store(true);
  const bool started = StartJob([this, repeat](std::function<void()> done) {
    return hub_.Host().StartStudyJob(
        [this, repeat](SimulationSettings& s, CarriedState& carried, Platform& platform) {
          const OptimiserRelease release{optimiser_in_use_};
          DivergenceCountingPlatform counting(platform);
          for (int n = 0; n < (repeat ? repetitions_.load() : 1); ++n) {
            if (!TablesReadyForIdentification(s, counting)) return;
            const GenerationReport report = ga_->RunGeneration(s, carried, counting, evaluator_);
            const GenerationShown shown{ga_->Gen,
                                        ga_->BestFitness,
                                        ga_->XOld[0],
                                        report.end == EvaluationEnd::kComplete,
                                        counting.TakeDiverged(),
                                        counting.Stopped()};
            QMetaObject::invokeMethod(
                this, [this, shown] { ShowGeneration(shown); }, Qt::QueuedConnection);
            // "Stop" ends the repetitions too.
            if (platform.EscapePressed()) return;
          }
        },
        std::move(done));
  });
  if (!started) optimiser_in_use_.store(false);
  return started;
}

bool TGenDemWindow::CmRun() { return StartGenerations(false); }
bool TGenDemWindow::CmRunT() { return StartGenerations(true); }

void TGenDemWindow::CmStop() {
  if (job_running_) hub_.Host().StopRun();
}

bool TGenDemWindow::CmSimule() {
  const Genes best = ga_->XOld[0];
  return StartJob([this, best](std::function<void()> done) {
    return hub_.Simulate(best, kTrZeroGeneticSimulation, std::move(done));
  });
}

bool TGenDemWindow::CmInitialise() {
  if (hub_.Host().Busy()) return false;
  GeneVectorDialog dialog(GeneVectorDialog::Kind::kGenetic, ga_->Gen, ga_->XOld[0], this);
  if (hub_.RunDialog(dialog) != QDialog::Accepted) return false;
  const GeneVectorParse parsed = dialog.Entry();
  if (!parsed.entry) {
    hub_.WindowPlatform().ShowMessage(parsed.error, "Erreur", MessageIcon::kError);
    return false;
  }
  if (!ga_->Initialise(parsed.entry->counter, parsed.entry->genes, hub_.Host().MutableSettings(),
                       hub_.WindowPlatform())) {
    return false;
  }
  costs_.clear();
  plot_->SetPoints(costs_);
  ShowState();
  return true;
}

bool TGenDemWindow::CmRandomize() {
  if (hub_.Host().Busy()) return false;
  ga_->Randomize(hub_.Host().Settings().GenX, seed_source(), hub_.WindowPlatform());
  costs_.clear();
  plot_->SetPoints(costs_);
  ShowState();
  return true;
}

bool TGenDemWindow::CmParametresAOptimiser() { return hub_.RunSettingsDialog("TDIALOG_OptX"); }
bool TGenDemWindow::CmFichierDemarrage() { return hub_.RunSettingsDialog("TDIALOG_FichierDem"); }
bool TGenDemWindow::CmFonctionCout() { return hub_.RunSettingsDialog("TDIALOG_FonctionCout"); }

bool TGenDemWindow::CmOuvrirExperimental() {
  return StartJob(
      [this](std::function<void()> done) { return hub_.ReadExperimental(std::move(done)); });
}

bool TGenDemWindow::CmCreerTable() {
  return StartJob([this](std::function<void()> done) { return hub_.BuildTables(std::move(done)); });
}

}  // namespace mas::ui
