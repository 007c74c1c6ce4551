#include "ui/gen_dem_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QStatusBar>
#include <QVBoxLayout>

#include "identification/workbench.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"

namespace mas::ui {

TGenDemWindow::TGenDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder,
                             QWidget* parent)
    : IdentificationWorkbench(hub, QStringLiteral("Arrête la génération en cours (Echap)"),
                              QStringLiteral("Met toute la population à un même jeu de paramètres"),
                              parent),
      ga_(std::make_unique<GeneticIdentification>(SharedRandom(), log_folder)) {
  setObjectName(QStringLiteral("TGenDemWindow"));
  setWindowTitle(QStringLiteral("Genetic Algorithms Optimisation - Paramètres de la MAS"));
  QWidget* central = centralWidget();

  auto* labels = new QHBoxLayout;
  generation_ = new QLabel(central);
  generation_->setObjectName(QStringLiteral("Generation"));
  fitness_ = new QLabel(central);
  fitness_->setObjectName(QStringLiteral("FitnessMax"));
  labels->addWidget(new QLabel(QStringLiteral("Génération :"), central));
  labels->addWidget(generation_);
  labels->addSpacing(20);
  labels->addWidget(new QLabel(QStringLiteral("Fitness Max :"), central));
  labels->addWidget(fitness_);
  labels->addStretch(1);
  AddParamCheck(labels);
  Layout()->addLayout(labels);
  Layout()->addWidget(Plot(), 1);
  BuildMenu();

  SetBusy(hub.Host().Busy());
  shown_generation_ = ga_->Gen;
  ShowState();
  resize(720, 360);
}

TGenDemWindow::~TGenDemWindow() {
  // Generations of this window still under way on the worker use the population.
  WaitForJob();
}

void TGenDemWindow::BuildMenu() {
  AddComparisonEntries(QStringLiteral("Fichier de démarrage"),
                       QStringLiteral("Ouvrir Expérimental"));
  AddMenuEntry(QStringLiteral("&Randomize"), QStringLiteral("Population initiale tirée au hasard"),
               [this] { CmRandomize(); });
  AddInitialiseAndFitEntries();
}

QString TGenDemWindow::GenerationText() const { return generation_->text(); }
QString TGenDemWindow::FitnessText() const { return fitness_->text(); }

void TGenDemWindow::ShowState() {
  generation_->setText(QString::number(shown_generation_));
  fitness_->setText(ToQString(FormatReal(ga_->BestFitness, 6)));
  ShowBest(ga_->XOld[0]);
}

void TGenDemWindow::ShowGeneration(const GenerationShown& shown) {
  // The label names the last generation whose results are shown and logged: a stopped
  // generation counts in the algorithm but left no data.
  if (shown.complete) shown_generation_ = shown.gen;
  generation_->setText(QString::number(shown_generation_));
  if (shown.stopped) {
    statusBar()->showMessage(QStringLiteral("Génération ") + QString::number(shown.gen) +
                             QStringLiteral(" arrêtée (Stop)"));
  }
  if (!shown.complete) return;
  fitness_->setText(ToQString(FormatReal(shown.best_fitness, 6)));
  ShowBest(shown.best);
  // Fitness is the inverse of the cost (1e20 for a cost of 0).
  AddCost({shown.gen, shown.best_fitness > 0.0 ? 1.0 / shown.best_fitness : 0.0});
  ShowStatus(QStringLiteral("Génération ") + QString::number(shown.gen), shown.diverged);
}

void TGenDemWindow::showEvent(QShowEvent* event) {
  IdentificationWorkbench::showEvent(event);
  if (!JobRunning()) ShowState();
}

void TGenDemWindow::JobEnded() { ShowState(); }

bool TGenDemWindow::StartGenerations(bool repeat) {
  return StartSteps(repeat, [this](SimulationSettings& s, CarriedState& carried,
                                   DivergenceCountingPlatform& counting) {
    const GenerationReport report = ga_->RunGeneration(s, carried, counting, Evaluator());
    const GenerationShown shown{ga_->Gen,
                                ga_->BestFitness,
                                ga_->XOld[0],
                                report.end == EvaluationEnd::kComplete,
                                counting.TakeDiverged(),
                                counting.Stopped()};
    QMetaObject::invokeMethod(
        this, [this, shown] { ShowGeneration(shown); }, Qt::QueuedConnection);
  });
}

bool TGenDemWindow::CmRun() { return StartGenerations(false); }
bool TGenDemWindow::CmRunT() { return StartGenerations(true); }

bool TGenDemWindow::CmSimule() { return SimulateBest(ga_->XOld[0], kTrZeroGeneticSimulation); }

bool TGenDemWindow::CmInitialise() {
  if (Hub().Host().Busy()) return false;
  const std::optional<GeneVectorEntry> entry =
      AskGeneVector(GeneVectorDialog::Kind::kGenetic, ga_->Gen, ga_->XOld[0]);
  if (!entry) return false;
  if (!ga_->Initialise(entry->counter, entry->genes, Hub().Host().MutableSettings(),
                       Hub().WindowPlatform())) {
    return false;
  }
  shown_generation_ = ga_->Gen;
  ClearCosts();
  ShowState();
  return true;
}

bool TGenDemWindow::CmRandomize() {
  if (Hub().Host().Busy()) return false;
  ga_->Randomize(Hub().Host().Settings().GenX, seed_source(), Hub().WindowPlatform());
  shown_generation_ = ga_->Gen;
  ClearCosts();
  ShowState();
  return true;
}

}  // namespace mas::ui
