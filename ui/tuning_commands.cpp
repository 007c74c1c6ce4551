#include "ui/tuning_commands.h"

#include <QAction>
#include <QInputDialog>
#include <QMessageBox>
#include <QStatusBar>
#include <exception>

#include "identification/random.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/qt_platform.h"

namespace mas::ui {
namespace {

constexpr const char* kOpenHandler = "CmOpenFenetreOptimisationW1";
constexpr const char* kCloseHandler = "CmCloseFenetreOptimisationW1";
constexpr std::string_view kInterruptedMessage =
    "Une erreur s'est produite\n Arret d'optimisation.";

// The platform of a series' job: everything reaches the window, except the error box of
// a generation that the user stopped, which the series reports by a status line, and the
// candidate runs' own status texts ("Simulation en cours" for each of the 45 or 55): the
// status line says which generation is under way and the best found so far instead.
class SeriesPlatform final : public ForwardingPlatform {
 public:
  explicit SeriesPlatform(Platform& window) : ForwardingPlatform(window) {}

  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    if (text == kInterruptedMessage && EscapePressed()) return;
    ForwardingPlatform::ShowMessage(text, caption, icon);
  }
  void SetStatusText(std::string_view) override {}
  void SetSeriesStatus(const QString& text) { inner().SetStatusText(ToStdString(text)); }
};

// Messages of the commands run on the window's thread (a log that cannot be written).
class CommandPlatform final : public SilentPlatform {
 public:
  explicit CommandPlatform(std::function<void(std::string_view, std::string_view, MessageIcon)> say)
      : say_(std::move(say)) {}
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    say_(text, caption, icon);
  }

 private:
  std::function<void(std::string_view, std::string_view, MessageIcon)> say_;
};

QString Number(double value) { return ToQString(FormatReal(value, 6)); }

QString VariantName(TunedRegulator kind) {
  return kind == TunedRegulator::kIP ? QStringLiteral("Régulateur IP")
                                     : QStringLiteral("Régulateur flou");
}

QString GenesText(TunedRegulator kind, const RegulatorGenes& g) {
  const bool ip = kind == TunedRegulator::kIP;
  return (ip ? QStringLiteral("KpW ") : QStringLiteral("WFErr ")) + Number(g[0]) +
         (ip ? QStringLiteral(", KiW ") : QStringLiteral(", WFdErr ")) + Number(g[1]) +
         (ip ? QStringLiteral(", TtW ") : QStringLiteral(", WFdU ")) + Number(g[2]);
}

// "Régulateur IP, génération 3 : fitness max 0.0123 (KpW 1.2, KiW 0.05, TtW 1.3)".
QString GenerationText(TunedRegulator kind, const TuningDisplay& shown) {
  return VariantName(kind) + QStringLiteral(", génération ") + QString::number(shown.generation) +
         QStringLiteral(" : fitness max ") + Number(shown.best_fitness) + QStringLiteral(" (") +
         GenesText(kind, shown.best) + QStringLiteral(")");
}

// "Régulateur IP : génération 4 en cours (2 sur 5) — meilleur : fitness max 0.0123 (...)".
QString RunningText(TunedRegulator kind, int generation, int index, int count,
                    const std::optional<TuningDisplay>& best) {
  QString text = VariantName(kind) + QStringLiteral(" : génération ") +
                 QString::number(generation) + QStringLiteral(" en cours (") +
                 QString::number(index) + QStringLiteral(" sur ") + QString::number(count) +
                 QStringLiteral(")");
  if (best) {
    text += QStringLiteral(" — meilleur : fitness max ") + Number(best->best_fitness) +
            QStringLiteral(" (") + GenesText(kind, best->best) + QStringLiteral(")");
  }
  return text;
}

}  // namespace

struct TuningWorkbench::Variant {
  Variant(TunedRegulator kind, const std::filesystem::path& logs)
      : tuning(kind, SharedRandom(), logs) {}
  SpeedRegulatorTuning tuning;
  std::vector<CostPoint> costs;  // best cost per generation since "&Randomize"
  bool populated = false;        // "&Randomize" or "&Récupérer" has filled the population
  TuningDisplay last_shown;
};

// A series of generations; its job fills it on the worker, FinishSeries reads it after.
struct TuningWorkbench::Series {
  TunedRegulator kind = TunedRegulator::kIP;
  int asked = 0;
  int completed = 0;
  bool stopped = false;  // the user asked to stop
  EvaluationEnd end = EvaluationEnd::kComplete;
  int evaluated = 0;  // individuals scored in the generation that ended the series
  std::string error;  // a failure no candidate run could report
};

TuningWorkbench::TuningWorkbench(TSimulWindow& window, std::filesystem::path log_folder)
    : QObject(&window),
      window_(window),
      evaluator_(MachineThreads(), TuningScore),
      ip_(std::make_unique<Variant>(TunedRegulator::kIP, log_folder)),
      fuzzy_(std::make_unique<Variant>(TunedRegulator::kFuzzy, log_folder)) {
  RegisterCommands();
  SyncMenu();
  // The main window enables its study commands again when a job ends; the open and close
  // entries follow the result window instead, which may be opened during a series.
  connect(
      &window_, &TSimulWindow::busyChanged, this, [this] { SyncMenu(); }, Qt::QueuedConnection);
}

TuningWorkbench::~TuningWorkbench() = default;

TuningWorkbench::Variant& TuningWorkbench::VariantOf(TunedRegulator kind) {
  return kind == TunedRegulator::kIP ? *ip_ : *fuzzy_;
}

const TuningWorkbench::Variant& TuningWorkbench::VariantOf(TunedRegulator kind) const {
  return kind == TunedRegulator::kIP ? *ip_ : *fuzzy_;
}

const SpeedRegulatorTuning& TuningWorkbench::Tuning(TunedRegulator kind) const {
  return VariantOf(kind).tuning;
}

const std::vector<CostPoint>& TuningWorkbench::Costs(TunedRegulator kind) const {
  return VariantOf(kind).costs;
}

void TuningWorkbench::RegisterCommands() {
  auto add = [this](const char* handler, std::function<void()> command) {
    window_.RegisterWorkbenchCommand(handler, std::move(command));
  };
  add(kOpenHandler, [this] { OpenResultWindow(); });
  add(kCloseHandler, [this] { CloseResultWindow(); });
  struct Commands {
    TunedRegulator kind;
    const char* randomize;
    const char* recover;
    const char* asked;
    std::vector<std::pair<const char*, int>> repeats;
  };
  const Commands variants[] = {
      {TunedRegulator::kIP,
       "CmInitRandomizeW1",
       "CmRequestW1",
       "CmNfoisW1",
       {{"Cm1foisW1", 1}, {"Cm5foisW1", 5}, {"Cm10foisW1", 10}, {"Cm100foisW1", 100}}},
      {TunedRegulator::kFuzzy,
       "CmInitRandomizeWFlou",
       "CmRequestWFlou",
       "CmNfoisWFlou",
       {{"Cm1foisWFlou", 1}, {"Cm5foisWFlou", 5}, {"Cm10foisWFlou", 10}}},
  };
  for (const Commands& c : variants) {
    const TunedRegulator kind = c.kind;
    add(c.randomize, [this, kind] { Randomize(kind); });
    add(c.recover, [this, kind] { Recover(kind); });
    add(c.asked, [this, kind] { OptimiseAskedCount(kind); });
    for (const auto& [handler, count] : c.repeats) {
      add(handler, [this, kind, n = count] { Optimise(kind, n); });
    }
  }
}

void TuningWorkbench::SyncMenu() {
  // The entry that can be used carries no check mark; the disabled one does.
  const bool shown = result_window_ != nullptr;
  if (QAction* open = window_.ActionFor(kOpenHandler)) {
    open->setCheckable(true);
    open->setEnabled(!shown);
    open->setChecked(shown);
  }
  if (QAction* close = window_.ActionFor(kCloseHandler)) {
    close->setCheckable(true);
    close->setEnabled(shown);
    close->setChecked(!shown);
  }
}

void TuningWorkbench::Say(const QString& text, const QString& caption, MessageIcon icon) {
  if (window_.message_presenter) {
    window_.message_presenter(text, caption, icon);
    return;
  }
  const QMessageBox::Icon qicon = icon == MessageIcon::kInformation   ? QMessageBox::Information
                                  : icon == MessageIcon::kExclamation ? QMessageBox::Warning
                                                                      : QMessageBox::Critical;
  QMessageBox box(qicon, caption, text, QMessageBox::Ok, &window_);
  box.exec();
}

void TuningWorkbench::Status(const QString& text) { window_.statusBar()->showMessage(text); }

void TuningWorkbench::OpenResultWindow() {
  if (result_window_ == nullptr) {
    result_window_ = new TuningResultWindow(&window_);
    connect(result_window_, &TuningResultWindow::stopRequested, &window_, &TSimulWindow::StopRun);
    connect(result_window_, &TuningResultWindow::closing, this, [this] {
      result_window_ = nullptr;
      SyncMenu();
    });
    result_window_->SetBusy(series_ != nullptr && series_->kind == TunedRegulator::kIP);
    RefreshResultWindow();
  }
  result_window_->show();
  result_window_->raise();
  result_window_->activateWindow();
  SyncMenu();
}

void TuningWorkbench::OpenFuzzyWindow() {
  if (fuzzy_window_ == nullptr) {
    fuzzy_window_ = new TuningResultWindow(&window_, TunedRegulator::kFuzzy);
    connect(fuzzy_window_, &TuningResultWindow::stopRequested, &window_, &TSimulWindow::StopRun);
    connect(fuzzy_window_, &TuningResultWindow::closing, this, [this] { fuzzy_window_ = nullptr; });
    fuzzy_window_->Show(fuzzy_->last_shown);
    fuzzy_window_->SetCosts(fuzzy_->costs);
  }
  fuzzy_window_->show();
  fuzzy_window_->raise();
}

void TuningWorkbench::CloseResultWindow() {
  // Closing destroys the window (it deletes itself on close) and restores the entries.
  if (result_window_ != nullptr) result_window_->close();
  SyncMenu();
}

void TuningWorkbench::RefreshResultWindow() {
  if (result_window_ == nullptr) return;
  // Individual 0 and the best fitness, as they are now: the population is only read here
  // while no series goes (a series shows its own copies of them).
  if (series_ == nullptr) {
    const SpeedRegulatorTuning& t = ip_->tuning;
    // A population just drawn ("&Randomize", generation 0) has no fitness yet.
    ip_->last_shown = {t.Gen, t.XOld.front(), t.Gen > 0 ? t.BestFitness : 0.0};
  }
  result_window_->Show(ip_->last_shown);
  result_window_->SetCosts(ip_->costs);
}

void TuningWorkbench::Randomize(TunedRegulator kind) {
  if (window_.Busy()) return;
  Variant& v = VariantOf(kind);
  const std::uint32_t seed = seed_source ? seed_source() : CalendarSeconds();
  CommandPlatform platform(
      [this](std::string_view text, std::string_view caption, MessageIcon icon) {
        Say(ToQString(text), ToQString(caption), icon);
      });
  v.tuning.Randomize(seed, platform);
  v.populated = true;
  v.costs.clear();
  Status(VariantName(kind) + QStringLiteral(" : population tirée au hasard (graine ") +
         QString::number(seed) + QStringLiteral(")"));
  if (kind == TunedRegulator::kIP) RefreshResultWindow();
}

void TuningWorkbench::Recover(TunedRegulator kind) {
  if (window_.Busy()) return;
  Variant& v = VariantOf(kind);
  v.tuning.Recover(window_.Settings());
  v.populated = true;
  Status(VariantName(kind) + QStringLiteral(" : population autour des réglages actuels (") +
         GenesText(kind, RegulatorGenesOf(kind, window_.Settings())) + QStringLiteral(")"));
  if (kind == TunedRegulator::kIP) RefreshResultWindow();
}

bool TuningWorkbench::OptimiseAskedCount(TunedRegulator kind) {
  if (window_.Busy()) return false;
  const QString caption = QStringLiteral("Paramètre d'optimisation");
  const QString prompt = QStringLiteral("Nombre de génération ");
  const QString initial = QStringLiteral("50");
  std::optional<QString> text;
  if (text_asker) {
    text = text_asker(caption, prompt, initial);
  } else {
    bool ok = false;
    const QString typed =
        QInputDialog::getText(&window_, caption, prompt, QLineEdit::Normal, initial, &ok);
    if (ok) text = typed;
  }
  if (!text) return false;
  const std::optional<int> count = ParseInt(ToStdString(*text));
  if (!count) {
    Say(ToQString(NotAnIntegerMessage(ToStdString(*text))), QStringLiteral("Erreur"),
        MessageIcon::kError);
    return false;
  }
  if (*count < 0) {
    Say(QStringLiteral("Le nombre de générations doit être positif ou nul : ") +
            QString::number(*count),
        QStringLiteral("Erreur"), MessageIcon::kError);
    return false;
  }
  return Optimise(kind, *count);
}

bool TuningWorkbench::Optimise(TunedRegulator kind, int generations) {
  if (generations <= 0 || window_.Busy()) return false;
  if (const std::string refusal = TuningRefusal(kind, window_.Settings()); !refusal.empty()) {
    Say(ToQString(refusal), QStringLiteral("Erreur"), MessageIcon::kStop);
    return false;
  }
  Variant& v = VariantOf(kind);
  if (!v.populated) {
    Say(QStringLiteral("La population du ") + VariantName(kind).toLower() +
            QStringLiteral(" n'a pas encore d'individus : utilisez d'abord « Randomize » ou "
                           "« Récupérer »."),
        QStringLiteral("Information"), MessageIcon::kInformation);
    return false;
  }
  series_ = std::make_unique<Series>();
  series_->kind = kind;
  series_->asked = generations;

  // On the worker: the population and the series belong to the job until `done`.
  auto job = [this, kind, generations](SimulationSettings& s, CarriedState& carried,
                                       Platform& window_platform) {
    Series& series = *series_;
    SpeedRegulatorTuning& tuning = VariantOf(kind).tuning;
    SeriesPlatform platform(window_platform);
    const RegulatorGenes before = RegulatorGenesOf(kind, s);
    RegulatorGenes best = before;
    std::optional<TuningDisplay> last;
    try {
      for (int g = 0; g < generations; ++g) {
        if (platform.EscapePressed()) {
          series.stopped = true;
          break;
        }
        platform.SetSeriesStatus(RunningText(kind, tuning.Gen + 1, g + 1, generations, last));
        const TuningReport report = tuning.RunGeneration(s, carried, platform, evaluator_);
        if (report.end != EvaluationEnd::kComplete) {
          series.end = report.end;
          series.evaluated = report.evaluated;
          series.stopped = report.end == EvaluationEnd::kInterrupted;
          break;
        }
        ++series.completed;
        best = tuning.XOld.front();
        const TuningDisplay shown{tuning.Gen, best, tuning.BestFitness};
        last = shown;
        QMetaObject::invokeMethod(
            this, [this, kind, shown] { ShowGeneration(kind, shown); }, Qt::QueuedConnection);
      }
    } catch (const std::exception& e) {
      series.error = e.what();
    }
    WriteRegulatorGenes(kind, best, s);
  };
  if (!window_.StartStudyJob(job, [this] { FinishSeries(); })) {
    series_.reset();
    return false;
  }
  if (kind == TunedRegulator::kFuzzy) OpenFuzzyWindow();
  if (TuningResultWindow* shown = WindowOf(kind)) {
    shown->SetBusy(true);
    shown->SetStatus(
        QStringLiteral("Optimisation en cours : ") + QString::number(generations) +
        (generations > 1 ? QStringLiteral(" générations") : QStringLiteral(" génération")));
  }
  return true;
}

void TuningWorkbench::ShowGeneration(TunedRegulator kind, const TuningDisplay& shown) {
  Variant& v = VariantOf(kind);
  // The cost of the best is the inverse of its fitness (an infinite one, from a fitness
  // of 0, is not plotted).
  v.costs.push_back({shown.generation, 1.0 / shown.best_fitness});
  v.last_shown = shown;
  if (TuningResultWindow* w = WindowOf(kind)) {
    w->Show(shown);
    w->SetCosts(v.costs);
    w->SetStatus(GenerationText(kind, shown));
  }
  Status(GenerationText(kind, shown));
  emit generationShown(shown.generation);
}

void TuningWorkbench::FinishSeries() {
  if (series_ == nullptr) return;
  const Series series = *series_;
  series_.reset();
  Variant& v = VariantOf(series.kind);
  QString text;
  if (series.completed > 0) text = GenerationText(series.kind, v.last_shown);
  if (series.stopped) {
    const int population = v.tuning.NPop();
    QString how = series.end == EvaluationEnd::kInterrupted
                      ? QStringLiteral("génération ") + QString::number(v.tuning.Gen) +
                            QStringLiteral(" interrompue après ") +
                            QString::number(series.evaluated) + QStringLiteral(" individus sur ") +
                            QString::number(population)
                      : QStringLiteral("après ") + QString::number(series.completed) +
                            (series.completed > 1 ? QStringLiteral(" générations sur ")
                                                  : QStringLiteral(" génération sur ")) +
                            QString::number(series.asked);
    text = (text.isEmpty() ? VariantName(series.kind) : text) +
           QStringLiteral(" — optimisation arrêtée : ") + how;
  } else if (series.end != EvaluationEnd::kComplete || !series.error.empty()) {
    text = (text.isEmpty() ? VariantName(series.kind) : text) +
           QStringLiteral(" — optimisation abandonnée");
  }
  if (!text.isEmpty()) Status(text);
  if (result_window_ != nullptr) result_window_->SetBusy(false);
  if (TuningResultWindow* w = WindowOf(series.kind)) {
    w->SetBusy(false);
    if (!text.isEmpty()) w->SetStatus(text);
  }
  if (!series.error.empty()) {
    Say(ToQString(series.error), QStringLiteral("Erreur"), MessageIcon::kStop);
  }
  SyncMenu();
  emit seriesFinished();
}

}  // namespace mas::ui
