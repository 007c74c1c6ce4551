#include "ui/pso_dem_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <optional>

#include "identification/workbench.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/particle_plane.h"

namespace mas::ui {
namespace {

constexpr int kFieldWidth = 70;

QLineEdit* Edit(const QString& name, const QString& text, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(name);
  edit->setMaximumWidth(kFieldWidth);
  return edit;
}

}  // namespace

TPsoDemWindow::TPsoDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder,
                             QWidget* parent)
    : IdentificationWorkbench(
          hub, QStringLiteral("Arrête l'époque en cours (Echap)"),
          QStringLiteral("Met toutes les particules à un même jeu de paramètres"), parent),
      pso_(std::make_unique<ParticleSwarmIdentification>(SharedRandom(), log_folder)) {
  setObjectName(QStringLiteral("TPsoDemWindow"));
  setWindowTitle(QStringLiteral("Particle Swarm Optimisation - Paramètres de la MAS"));
  QWidget* central = centralWidget();
  // "RunT"'s count as wide as the swarm's fields below it.
  TimesEdit()->setMaximumWidth(kFieldWidth);

  auto* swarm = new QHBoxLayout;
  auto field = [&](const QString& name, const QString& value) {
    swarm->addWidget(new QLabel(name, central));
    QLineEdit* edit = Edit(name, value, central);
    swarm->addWidget(edit);
    return edit;
  };
  field(QStringLiteral("N1"), QStringLiteral("10"));
  field(QStringLiteral("N2"), QStringLiteral("10"));
  QPushButton* maj_n =
      Button(QStringLiteral("MàJ"),
             QStringLiteral("Nouvel essaim de N1 affineurs et N2 explorateurs"), central);
  swarm->addWidget(maj_n);
  swarm->addSpacing(12);
  // The user's decimal separator; the fields take a point or a comma.
  field(QStringLiteral("pincrement"), LocalNumberText("0.01"));
  field(QStringLiteral("gincrement"), LocalNumberText("0.01"));
  field(QStringLiteral("w1"), LocalNumberText("0.98"));
  field(QStringLiteral("w2"), LocalNumberText("1.01"));
  QPushButton* maj_w =
      Button(QStringLiteral("MAJ"), QStringLiteral("Nouvelles attractions et inerties"), central);
  swarm->addWidget(maj_w);
  QPushButton* clear =
      Button(QStringLiteral("Clear"), QStringLiteral("Efface les trajectoires dessinées"), central);
  swarm->addWidget(clear);
  swarm->addStretch(1);
  Layout()->addLayout(swarm);
  AddCommand(maj_n);
  AddCommand(maj_w);

  auto* labels = new QHBoxLayout;
  auto label = [&](const QString& caption, const QString& name) {
    labels->addWidget(new QLabel(caption, central));
    auto* value = new QLabel(central);
    value->setObjectName(name);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    labels->addWidget(value);
    labels->addSpacing(16);
    return value;
  };
  epoch_ = label(QStringLiteral("Epoch :"), QStringLiteral("Epoch"));
  gbesti_ = label(QStringLiteral("gbesti :"), QStringLiteral("gbesti"));
  gbest_ = label(QStringLiteral("gbest :"), QStringLiteral("gbest"));
  labels->addStretch(1);
  labels->addWidget(new QLabel(QStringLiteral("Plan :"), central));
  plane_x_ = new QComboBox(central);
  plane_y_ = new QComboBox(central);
  plane_x_->setObjectName(QStringLiteral("PlanX"));
  plane_y_->setObjectName(QStringLiteral("PlanY"));
  for (const char* name : kGeneNames) {
    plane_x_->addItem(QString::fromUtf8(name));
    plane_y_->addItem(QString::fromUtf8(name));
  }
  plane_x_->setCurrentIndex(kGeneRs);
  plane_y_->setCurrentIndex(kGeneTs);
  labels->addWidget(plane_x_);
  labels->addWidget(plane_y_);
  labels->addSpacing(16);
  AddParamCheck(labels);
  Layout()->addLayout(labels);

  auto* split = new QSplitter(Qt::Vertical, central);
  auto* top = new QSplitter(Qt::Horizontal, split);
  plane_ = new ParticlePlane(top);
  top->addWidget(Plot());
  Plot()->SetCaptions(QStringLiteral("Meilleur global gbest (échelle logarithmique)"),
                      QStringLiteral("époque"));
  top->setStretchFactor(0, 3);
  top->setStretchFactor(1, 2);
  grid_ = new QTableWidget(split);
  grid_->setObjectName(QStringLiteral("Grid"));
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->setVisible(false);
  grid_->setWordWrap(false);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  Layout()->addWidget(split, 1);
  BuildMenu();

  connect(maj_n, &QPushButton::clicked, this, [this] { CmMaJ(); });
  connect(maj_w, &QPushButton::clicked, this, [this] { CmMAJ(); });
  connect(clear, &QPushButton::clicked, this, [this] { CmClear(); });
  auto plane_changed = [this] {
    plane_->SetDimensions(plane_x_->currentIndex(), plane_y_->currentIndex());
  };
  connect(plane_x_, &QComboBox::currentIndexChanged, this, plane_changed);
  connect(plane_y_, &QComboBox::currentIndexChanged, this, plane_changed);

  // The swarm of the default fields, with its logs.
  pso_->UpdateWeights(0.01, 0.01, 0.98, 1.01);
  pso_->Allocate(10, 10, hub.Host().Settings().GenX, seed_source(), hub.WindowPlatform());
  SetBusy(hub.Host().Busy());
  ShowState();
  resize(900, 640);
}

TPsoDemWindow::~TPsoDemWindow() {
  // Epochs of this window still under way on the worker use the swarm.
  WaitForJob();
}

void TPsoDemWindow::BuildMenu() {
  AddComparisonEntries(QStringLiteral("Fichier de &démarrage"),
                       QStringLiteral("Ouvrir E&xpérimental"));
  AddMenuEntry(QStringLiteral("&Randomize"), QStringLiteral("Essaim tiré au hasard"),
               [this] { CmRandomize(false); });
  AddMenuEntry(QStringLiteral("Randomize mais garde le global best"),
               QStringLiteral("Essaim tiré au hasard, le meilleur global gardé"),
               [this] { CmRandomize(true); });
  AddInitialiseAndFitEntries();
  AddMenuEntry(QStringLiteral("&temps de calcul d'une optimisation"),
               QStringLiteral("Mesure la durée d'une époque"), [this] { CmTempsDeCalcul(); });
}

QLineEdit* TPsoDemWindow::Field(const QString& name) const {
  return centralWidget()->findChild<QLineEdit*>(name);
}
QString TPsoDemWindow::EpochText() const { return epoch_->text(); }
QString TPsoDemWindow::GbestiText() const { return gbesti_->text(); }
QString TPsoDemWindow::GbestText() const { return gbest_->text(); }

void TPsoDemWindow::FillGrid(const std::vector<Genes>& X, const std::vector<Genes>& V,
                             const std::vector<double>& eval, const std::vector<double>& pbest_val,
                             const std::vector<Genes>& pbest) {
  const auto& GenX = Hub().Host().Settings().GenX;
  const std::vector<std::string> header = SwarmGridHeader(GenX);
  grid_->setColumnCount(static_cast<int>(header.size()));
  QStringList labels;
  for (const auto& h : header) labels << ToQString(h);
  grid_->setHorizontalHeaderLabels(labels);
  const std::size_t n = std::min({X.size(), V.size(), eval.size(), pbest_val.size(), pbest.size()});
  grid_->setRowCount(static_cast<int>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const std::vector<std::string> row =
        SwarmGridRow(static_cast<int>(i), X[i], V[i], eval[i], pbest_val[i], pbest[i], GenX);
    for (std::size_t c = 0; c < row.size(); ++c) {
      auto* item = grid_->item(static_cast<int>(i), static_cast<int>(c));
      if (item == nullptr) {
        item = new QTableWidgetItem;
        grid_->setItem(static_cast<int>(i), static_cast<int>(c), item);
      }
      // A real shows 6 significant digits, so that a column fits its values; the whole
      // value, as the swarm's logs write it, stays in the cell's tooltip.
      const std::optional<double> value = ParseReal(row[c]);
      const bool shortened = value && std::isfinite(*value);
      item->setText(ToQString(shortened ? FormatReal(*value, 6) : row[c]));
      item->setToolTip(shortened ? ToQString(row[c]) : QString());
    }
  }
  grid_->resizeColumnsToContents();
}

void TPsoDemWindow::ShowState() {
  epoch_->setText(QString::number(pso_->Epoch));
  gbesti_->setText(QString::number(pso_->gbesti));
  gbest_->setText(ToQString(ExponentText(pso_->gbest(), 8)));
  const bool has_best = pso_->gbesti >= 0 && pso_->gbesti < pso_->Particles();
  ShowBest(has_best ? pso_->pbest[static_cast<std::size_t>(pso_->gbesti)] : Best());
  FillGrid(pso_->X, pso_->V, pso_->Eval, pso_->pbestVal, pso_->pbest);
}

void TPsoDemWindow::ShowEpoch(const EpochShown& shown) {
  epoch_->setText(QString::number(shown.epoch));
  gbesti_->setText(QString::number(shown.gbesti));
  gbest_->setText(ToQString(ExponentText(shown.gbest, 8)));
  const bool has_best =
      shown.gbesti >= 0 && static_cast<std::size_t>(shown.gbesti) < shown.pbest.size();
  ShowBest(has_best ? shown.pbest[static_cast<std::size_t>(shown.gbesti)] : Best());
  plane_->AddMoves(shown.X, shown.V);
  FillGrid(shown.X, shown.V, shown.Eval, shown.pbestVal, shown.pbest);
  // A swarm in which no particle has a best yet has nothing to plot.
  if (shown.gbest < kGlobalBestSearchStart) AddCost({shown.epoch, shown.gbest});
  QString status = QStringLiteral("Epoch ") + QString::number(shown.epoch);
  if (shown.stopped) status += QStringLiteral(" arrêtée (Stop)");
  ShowStatus(status, shown.diverged);
}

void TPsoDemWindow::RebuildHeaderAndLogs() {
  pso_->CreateLogs(Hub().Host().Settings().GenX, Hub().WindowPlatform());
  ShowState();
}

bool TPsoDemWindow::StartEpochs(int mode) {
  return StartSteps(mode == 1, [this, mode](SimulationSettings& s, CarriedState& carried,
                                            DivergenceCountingPlatform& counting) {
    EpochShown shown;
    shown.X = pso_->X;
    shown.V = pso_->V;
    if (mode == 2) {
      pso_->TimeEpoch(s, carried, counting, Evaluator());
    } else {
      shown.complete =
          pso_->RunEpoch(s, carried, counting, Evaluator()).end == EvaluationEnd::kComplete;
    }
    shown.pbest = pso_->pbest;
    shown.Eval = pso_->Eval;
    shown.pbestVal = pso_->pbestVal;
    shown.gbesti = pso_->gbesti;
    shown.epoch = pso_->Epoch;
    shown.gbest = pso_->gbest();
    shown.diverged = counting.TakeDiverged();
    shown.stopped = counting.Stopped();
    QMetaObject::invokeMethod(
        this, [this, shown = std::move(shown)] { ShowEpoch(shown); }, Qt::QueuedConnection);
  });
}

bool TPsoDemWindow::CmRun() { return StartEpochs(0); }
bool TPsoDemWindow::CmRunT() { return StartEpochs(1); }
bool TPsoDemWindow::CmTempsDeCalcul() { return StartEpochs(2); }

bool TPsoDemWindow::CmSimule() {
  if (pso_->gbesti < 0 || pso_->gbesti >= pso_->Particles()) return false;
  return SimulateBest(pso_->pbest[static_cast<std::size_t>(pso_->gbesti)], kTrZeroSwarmSimulation);
}

bool TPsoDemWindow::CmInitialise() {
  if (Hub().Host().Busy()) return false;
  const std::optional<GeneVectorEntry> entry =
      AskGeneVector(GeneVectorDialog::Kind::kSwarm, pso_->Epoch, Best());
  if (!entry) return false;
  if (!pso_->InitialiseSwarm(entry->counter, entry->genes, entry->keep_personal_best,
                             Hub().Host().MutableSettings(), Hub().WindowPlatform())) {
    return false;
  }
  ClearCosts();
  ShowState();
  return true;
}

bool TPsoDemWindow::CmRandomize(bool keep_gbest) {
  if (Hub().Host().Busy()) return false;
  pso_->RandomizeSwarm(keep_gbest, Hub().Host().Settings().GenX, seed_source());
  ClearCosts();
  ShowState();
  return true;
}

bool TPsoDemWindow::CmMaJ() {
  if (Hub().Host().Busy()) return false;
  std::array<int, 2> n{};
  const std::array<QString, 2> names = {QStringLiteral("N1"), QStringLiteral("N2")};
  for (std::size_t k = 0; k < n.size(); ++k) {
    const std::string text = ToStdString(Field(names[k])->text());
    const std::optional<int> value = ParseInt(text);
    if (!value) {
      Hub().WindowPlatform().ShowMessage(NotAnIntegerMessage(text), "Erreur", MessageIcon::kError);
      return false;
    }
    n[k] = *value;
  }
  statusBar()->showMessage(QStringLiteral("N modifiés, réallocation de la mémoire"));
  if (!pso_->Allocate(n[0], n[1], Hub().Host().Settings().GenX, seed_source(),
                      Hub().WindowPlatform())) {
    return false;
  }
  ClearCosts();
  plane_->Clear();
  ShowState();
  return true;
}

bool TPsoDemWindow::CmMAJ() {
  if (Hub().Host().Busy()) return false;
  std::array<double, 4> w{};
  const std::array<QString, 4> names = {QStringLiteral("pincrement"), QStringLiteral("gincrement"),
                                        QStringLiteral("w1"), QStringLiteral("w2")};
  for (std::size_t k = 0; k < w.size(); ++k) {
    const std::string text = ToStdString(Field(names[k])->text());
    const std::optional<double> value = ParseReal(text);
    // An infinite or undefined weight would carry every particle off to no position.
    if (!value || !std::isfinite(*value)) {
      Hub().WindowPlatform().ShowMessage(NotARealMessage(text), "Erreur", MessageIcon::kError);
      return false;
    }
    w[k] = *value;
  }
  pso_->UpdateWeights(w[0], w[1], w[2], w[3]);
  statusBar()->showMessage(QStringLiteral("MAJ des incrément particle ou general"));
  return true;
}

void TPsoDemWindow::CmClear() { plane_->Clear(); }

bool TPsoDemWindow::CmParametresAOptimiser() {
  if (!IdentificationWorkbench::CmParametresAOptimiser()) return false;
  RebuildHeaderAndLogs();
  return true;
}

bool TPsoDemWindow::CmOuvrirExperimental() {
  return StartJob([this](std::function<void()> done) {
    return Hub().ReadExperimental([window = QPointer<TPsoDemWindow>(this), done = std::move(done)] {
      // Every gene is now optimised: the grid and the logs name them all.
      if (!window.isNull()) window->RebuildHeaderAndLogs();
      done();
    });
  });
}

}  // namespace mas::ui
