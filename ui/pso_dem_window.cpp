#include "ui/pso_dem_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <thread>

#include "identification/workbench.h"
#include "ui/gene_vector_dialog.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/param_window.h"
#include "ui/particle_plane.h"

namespace mas::ui {
namespace {

QPushButton* Button(const QString& text, const QString& hint, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(text);
  button->setToolTip(hint);
  button->setStatusTip(hint);
  return button;
}

QLineEdit* Edit(const QString& name, const QString& text, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(name);
  edit->setMaximumWidth(70);
  return edit;
}

}  // namespace

TPsoDemWindow::TPsoDemWindow(IdentificationHub& hub, const std::filesystem::path& log_folder,
                             QWidget* parent)
    : QMainWindow(parent, Qt::Window),
      hub_(hub),
      pso_(std::make_unique<ParticleSwarmIdentification>(SharedRandom(), log_folder)) {
  setObjectName(QStringLiteral("TPsoDemWindow"));
  setWindowTitle(QStringLiteral("Particle Swarm Optimisation - Paramètres de la MAS"));
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

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
  QLineEdit* times = Edit(QStringLiteral("times"), QStringLiteral("10"), central);
  stop_ =
      Button(QStringLiteral("Stop"), QStringLiteral("Arrête l'époque en cours (Echap)"), central);
  QPushButton* simule =
      Button(QStringLiteral("Simule"),
             QStringLiteral("Simule avec le \"gloabal best\" des paramètres"), central);
  QPushButton* init =
      Button(QStringLiteral("Initialise"),
             QStringLiteral("Met toutes les particules à un même jeu de paramètres"), central);
  QPushButton* genx = Button(QStringLiteral("Paramètres à Optimiser"),
                             QStringLiteral("Choix des param. à optimiser (Gen. et PSO)"), central);
  for (QWidget* w :
       std::initializer_list<QWidget*>{options, run, runt, times, stop_, simule, init, genx}) {
    buttons->addWidget(w);
  }
  buttons->addStretch(1);
  layout->addLayout(buttons);

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
  field(QStringLiteral("pincrement"), QStringLiteral("0.01"));
  field(QStringLiteral("gincrement"), QStringLiteral("0.01"));
  field(QStringLiteral("w1"), QStringLiteral("0.98"));
  field(QStringLiteral("w2"), QStringLiteral("1.01"));
  QPushButton* maj_w =
      Button(QStringLiteral("MAJ"), QStringLiteral("Nouvelles attractions et inerties"), central);
  swarm->addWidget(maj_w);
  QPushButton* clear =
      Button(QStringLiteral("Clear"), QStringLiteral("Efface les trajectoires dessinées"), central);
  swarm->addWidget(clear);
  swarm->addStretch(1);
  layout->addLayout(swarm);
  commands_ = {options, run, runt, simule, init, genx, maj_n, maj_w};

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
  param_check_ = new QCheckBox(QStringLiteral("Affiche la fenêtre des paramètres"), central);
  param_check_->setObjectName(QStringLiteral("AfficheParam"));
  labels->addWidget(param_check_);
  layout->addLayout(labels);

  auto* split = new QSplitter(Qt::Vertical, central);
  auto* top = new QSplitter(Qt::Horizontal, split);
  plane_ = new ParticlePlane(top);
  plot_ = new TuningCostPlot(top);
  plot_->SetCaptions(QStringLiteral("Meilleur global gbest (échelle logarithmique)"),
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
  layout->addWidget(split, 1);
  setCentralWidget(central);
  statusBar()->setSizeGripEnabled(true);
  BuildMenu();

  connect(run, &QPushButton::clicked, this, [this] { CmRun(); });
  connect(runt, &QPushButton::clicked, this, [this] { CmRunT(); });
  connect(stop_, &QPushButton::clicked, this, [this] { CmStop(); });
  connect(simule, &QPushButton::clicked, this, [this] { CmSimule(); });
  connect(init, &QPushButton::clicked, this, [this] { CmInitialise(); });
  connect(genx, &QPushButton::clicked, this, [this] { CmParametresAOptimiser(); });
  connect(maj_n, &QPushButton::clicked, this, [this] { CmMaJ(); });
  connect(maj_w, &QPushButton::clicked, this, [this] { CmMAJ(); });
  connect(clear, &QPushButton::clicked, this, [this] { CmClear(); });
  connect(times, &QLineEdit::textChanged, this, [this](const QString& text) {
    const std::optional<int> n = ParseInt(ToStdString(text));
    repetitions_.store(n ? *n : -1);
  });
  auto plane_changed = [this] {
    plane_->SetDimensions(plane_x_->currentIndex(), plane_y_->currentIndex());
  };
  connect(plane_x_, &QComboBox::currentIndexChanged, this, plane_changed);
  connect(plane_y_, &QComboBox::currentIndexChanged, this, plane_changed);
  connect(param_check_, &QCheckBox::clicked, this, [this](bool checked) {
    if (checked) {
      hub_.ShowParamWindow(Best());
    } else {
      hub_.DestroyParamWindow();
    }
  });
  connect(&hub_, &IdentificationHub::paramWindowChanged, this, [this] { SyncParamCheck(); });
  connect(&hub_.Host(), &TSimulWindow::busyChanged, this, [this](bool busy) { SetBusy(busy); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { CmStop(); });

  // The swarm of the default fields, with its logs.
  pso_->UpdateWeights(0.01, 0.01, 0.98, 1.01);
  pso_->Allocate(10, 10, hub_.Host().Settings().GenX, seed_source(), hub_.WindowPlatform());
  SetBusy(hub_.Host().Busy());
  ShowState();
  resize(900, 640);
}

TPsoDemWindow::~TPsoDemWindow() {
  if (optimiser_in_use_.load()) {
    hub_.Host().StopRun();
    while (optimiser_in_use_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TPsoDemWindow::BuildMenu() {
  auto add = [this](const QString& caption, const QString& hint, auto command) {
    QAction* action = options_->addAction(caption);
    action->setStatusTip(hint);
    connect(action, &QAction::triggered, this, command);
    menu_commands_.push_back(action);
    return action;
  };
  add(QStringLiteral("Fichier de &démarrage"),
      QStringLiteral("Paramètres de l'optimisation sur un démarrage"),
      [this] { CmFichierDemarrage(); });
  add(QStringLiteral("&Fonction Coût"), QStringLiteral("Choix de la fonction coût"),
      [this] { CmFonctionCout(); });
  add(QStringLiteral("Ouvrir E&xpériemtal"), QStringLiteral("Ouvrir le fichier expérimental"),
      [this] { CmOuvrirExperimental(); });
  add(QStringLiteral("&Créer table expérimentale"),
      QStringLiteral("Rééchantillonne le démarrage mesuré sur les pas enregistrés"),
      [this] { CmCreerTable(); });
  options_->addSeparator();
  add(QStringLiteral("&Randomize"), QStringLiteral("Essaim tiré au hasard"),
      [this] { CmRandomize(false); });
  add(QStringLiteral("Randomize mais garde le global best"),
      QStringLiteral("Essaim tiré au hasard, le meilleur global gardé"),
      [this] { CmRandomize(true); });
  add(QStringLiteral("&Initialiser"),
      QStringLiteral("Met toutes les particules à un même jeu de paramètres"),
      [this] { CmInitialise(); });
  add(QStringLiteral("Paramètres à Optimiser"),
      QStringLiteral("Choix des param. à optimiser (Gen. et PSO)"),
      [this] { CmParametresAOptimiser(); });
  options_->addSeparator();
  add(QStringLiteral("&Ajustement (moindres carrés)"),
      QStringLiteral("Ajuste la trajectoire simulée à la mesure à partir du meilleur jeu"),
      [this] { emit fitRequested(); });
  add(QStringLiteral("&temps de calcul d'une optimisation"),
      QStringLiteral("Mesure la durée d'une époque"), [this] { CmTempsDeCalcul(); });
}

QLineEdit* TPsoDemWindow::Field(const QString& name) const {
  return centralWidget()->findChild<QLineEdit*>(name);
}
QString TPsoDemWindow::EpochText() const { return epoch_->text(); }
QString TPsoDemWindow::GbestiText() const { return gbesti_->text(); }
QString TPsoDemWindow::GbestText() const { return gbest_->text(); }

Genes TPsoDemWindow::Best() const { return best_; }

void TPsoDemWindow::FillGrid(const std::vector<Genes>& X, const std::vector<Genes>& V,
                             const std::vector<double>& eval, const std::vector<double>& pbest_val,
                             const std::vector<Genes>& pbest) {
  const auto& GenX = hub_.Host().Settings().GenX;
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
      item->setText(ToQString(row[c]));
    }
  }
  grid_->resizeColumnsToContents();
}

void TPsoDemWindow::ShowState() {
  epoch_->setText(QString::number(pso_->Epoch));
  gbesti_->setText(QString::number(pso_->gbesti));
  gbest_->setText(ToQString(ExponentText(pso_->gbest(), 8)));
  if (pso_->gbesti >= 0 && pso_->gbesti < pso_->Particles()) {
    best_ = pso_->pbest[static_cast<std::size_t>(pso_->gbesti)];
  }
  hub_.UpdateParamWindow(best_);
  FillGrid(pso_->X, pso_->V, pso_->Eval, pso_->pbestVal, pso_->pbest);
}

void TPsoDemWindow::ShowEpoch(const EpochShown& shown) {
  epoch_->setText(QString::number(shown.epoch));
  gbesti_->setText(QString::number(shown.gbesti));
  gbest_->setText(ToQString(ExponentText(shown.gbest, 8)));
  if (shown.gbesti >= 0 && static_cast<std::size_t>(shown.gbesti) < shown.pbest.size()) {
    best_ = shown.pbest[static_cast<std::size_t>(shown.gbesti)];
  }
  hub_.UpdateParamWindow(best_);
  plane_->AddMoves(shown.X, shown.V);
  FillGrid(shown.X, shown.V, shown.Eval, shown.pbestVal, shown.pbest);
  // A swarm in which no particle has a best yet has nothing to plot.
  if (shown.gbest < kGlobalBestSearchStart) {
    costs_.push_back({shown.epoch, shown.gbest});
    plot_->SetPoints(costs_);
  }
  QString status = QStringLiteral("Epoch ") + QString::number(shown.epoch);
  if (shown.stopped) status += QStringLiteral(" arrêtée (Stop)");
  if (shown.diverged > 0) status += QStringLiteral(" : ") + ToQString(DivergedNote(shown.diverged));
  statusBar()->showMessage(status);
}

void TPsoDemWindow::RebuildHeaderAndLogs() {
  pso_->CreateLogs(hub_.Host().Settings().GenX, hub_.WindowPlatform());
  ShowState();
}

void TPsoDemWindow::SetBusy(bool busy) {
  for (QWidget* w : commands_) w->setEnabled(!busy);
  for (QAction* a : menu_commands_) a->setEnabled(!busy);
  // "Stop" ends the work of this window (a run of the main window has its own "Arrêter").
  stop_->setEnabled(busy && job_running_);
}

void TPsoDemWindow::SyncParamCheck() {
  const QSignalBlocker block(param_check_);
  param_check_->setChecked(hub_.ParamWindowShown());
}

void TPsoDemWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  SyncParamCheck();
}

bool TPsoDemWindow::StartJob(const std::function<bool(std::function<void()>)>& start) {
  if (hub_.Host().Busy()) return false;
  job_running_ = true;
  const bool started = start([window = QPointer<TPsoDemWindow>(this)] {
    if (window.isNull()) return;
    window->job_running_ = false;
    emit window->jobFinished();
  });
  if (!started) job_running_ = false;
  return started;
}

bool TPsoDemWindow::StartEpochs(int mode) {
  if (mode == 1 && repetitions_.load() < 0) {
    hub_.WindowPlatform().ShowMessage(NotAnIntegerMessage(ToStdString(Field("times")->text())),
                                      "Erreur", MessageIcon::kError);
    return false;
  }
  if (hub_.Host().Busy()) return false;
  optimiser_in_use_.store(true);
  const bool started = StartJob([this, mode](std::function<void()> done) {
    return hub_.Host().StartStudyJob(
        [this, mode](SimulationSettings& s, CarriedState& carried, Platform& platform) {
          const OptimiserRelease release{optimiser_in_use_};
          DivergenceCountingPlatform counting(platform);
          for (int n = 0; n < (mode == 1 ? repetitions_.load() : 1); ++n) {
            if (!TablesReadyForIdentification(s, counting)) return;
            EpochShown shown;
            shown.X = pso_->X;
            shown.V = pso_->V;
            if (mode == 2) {
              pso_->TimeEpoch(s, carried, counting, evaluator_);
            } else {
              shown.complete =
                  pso_->RunEpoch(s, carried, counting, evaluator_).end == EvaluationEnd::kComplete;
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
            if (platform.EscapePressed()) return;
          }
        },
        std::move(done));
  });
  if (!started) optimiser_in_use_.store(false);
  return started;
}

bool TPsoDemWindow::CmRun() { return StartEpochs(0); }
bool TPsoDemWindow::CmRunT() { return StartEpochs(1); }
bool TPsoDemWindow::CmTempsDeCalcul() { return StartEpochs(2); }

void TPsoDemWindow::CmStop() {
  if (job_running_) hub_.Host().StopRun();
}

bool TPsoDemWindow::CmSimule() {
  if (pso_->Particles() == 0) return false;
  const Genes best = pso_->pbest[static_cast<std::size_t>(pso_->gbesti)];
  return StartJob([this, best](std::function<void()> done) {
    return hub_.Simulate(best, kTrZeroSwarmSimulation, std::move(done));
  });
}

bool TPsoDemWindow::CmInitialise() {
  if (hub_.Host().Busy()) return false;
  GeneVectorDialog dialog(GeneVectorDialog::Kind::kSwarm, pso_->Epoch, best_, this);
  if (hub_.RunDialog(dialog) != QDialog::Accepted) return false;
  const GeneVectorParse parsed = dialog.Entry();
  if (!parsed.entry) {
    hub_.WindowPlatform().ShowMessage(parsed.error, "Erreur", MessageIcon::kError);
    return false;
  }
  if (!pso_->InitialiseSwarm(parsed.entry->counter, parsed.entry->genes,
                             parsed.entry->keep_personal_best, hub_.Host().MutableSettings(),
                             hub_.WindowPlatform())) {
    return false;
  }
  costs_.clear();
  plot_->SetPoints(costs_);
  ShowState();
  return true;
}

bool TPsoDemWindow::CmRandomize(bool keep_gbest) {
  if (hub_.Host().Busy()) return false;
  pso_->RandomizeSwarm(keep_gbest, hub_.Host().Settings().GenX, seed_source());
  costs_.clear();
  plot_->SetPoints(costs_);
  ShowState();
  return true;
}

bool TPsoDemWindow::CmMaJ() {
  if (hub_.Host().Busy()) return false;
  std::array<int, 2> n{};
  const std::array<QString, 2> names = {QStringLiteral("N1"), QStringLiteral("N2")};
  for (std::size_t k = 0; k < n.size(); ++k) {
    const std::string text = ToStdString(Field(names[k])->text());
    const std::optional<int> value = ParseInt(text);
    if (!value) {
      hub_.WindowPlatform().ShowMessage(NotAnIntegerMessage(text), "Erreur", MessageIcon::kError);
      return false;
    }
    n[k] = *value;
  }
  statusBar()->showMessage(QStringLiteral("N modifiés, réallocation de la mémoire"));
  if (!pso_->Allocate(n[0], n[1], hub_.Host().Settings().GenX, seed_source(),
                      hub_.WindowPlatform())) {
    return false;
  }
  costs_.clear();
  plot_->SetPoints(costs_);
  plane_->Clear();
  ShowState();
  return true;
}

bool TPsoDemWindow::CmMAJ() {
  if (hub_.Host().Busy()) return false;
  std::array<double, 4> w{};
  const std::array<QString, 4> names = {QStringLiteral("pincrement"), QStringLiteral("gincrement"),
                                        QStringLiteral("w1"), QStringLiteral("w2")};
  for (std::size_t k = 0; k < w.size(); ++k) {
    const std::string text = ToStdString(Field(names[k])->text());
    const std::optional<double> value = ParseReal(text);
    // An infinite or undefined weight would carry every particle off to no position.
    if (!value || !std::isfinite(*value)) {
      hub_.WindowPlatform().ShowMessage(NotARealMessage(text), "Erreur", MessageIcon::kError);
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
  if (!hub_.RunSettingsDialog("TDIALOG_OptX")) return false;
  RebuildHeaderAndLogs();
  return true;
}

bool TPsoDemWindow::CmFichierDemarrage() { return hub_.RunSettingsDialog("TDIALOG_FichierDem"); }
bool TPsoDemWindow::CmFonctionCout() { return hub_.RunSettingsDialog("TDIALOG_FonctionCout"); }

bool TPsoDemWindow::CmOuvrirExperimental() {
  return StartJob([this](std::function<void()> done) {
    return hub_.ReadExperimental([window = QPointer<TPsoDemWindow>(this), done = std::move(done)] {
      // Every gene is now optimised: the grid and the logs name them all.
      if (!window.isNull()) window->RebuildHeaderAndLogs();
      done();
    });
  });
}

bool TPsoDemWindow::CmCreerTable() {
  return StartJob([this](std::function<void()> done) { return hub_.BuildTables(std::move(done)); });
}

}  // namespace mas::ui
