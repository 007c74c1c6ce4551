#pragma once
// The genetic tuning of the speed regulator in the workbench: the menu commands of
// "O&ptimisation" → "&Genetic Algo" → "Régulateur &IP de vitesse" and "Régulateur &Flou
// de vitesse", the two populations (created with the main window, living as long as it),
// and the IP variant's result window "Résultats de l'Algorithme Génétique".
//
// Generations run on the main window's worker (TSimulWindow::StartStudyJob) on a copy of
// the study, with the candidates scored on all cores; the window stays responsive and the
// result window's plot and labels, or the status bar for the fuzzy regulator, follow each
// generation. The populations, logs ("debgen.cpp", "HistorF.cpp") and generator draws are
// those of `mas tune` for the same seed.
//
// Choices of this workbench:
//  - "Arrêter" or Escape (main window or result window) ends the generation under way as
//    an interrupted run does (no sorting, breeding or logging) and ends the series of
//    generations: a user who stops a "100 fois" wants it stopped, not its next generation
//    started. The stop was asked for, so it is reported by a status line (main window and
//    result window) rather than by the error box "Une erreur s'est produite\n Arret
//    d'optimisation.", which this window cannot otherwise reach: its runs are interrupted
//    only by the user.
//  - After the generations the speed regulator's settings hold the best set of the last
//    complete generation (the best, kept by elitism as individual 0), not the genes of
//    the last candidate scored: a "Run" then simulates the tuned regulator. A series
//    stopped before its first complete generation leaves the settings as they were.
//  - The fuzzy regulator's generations show in a result window of their own, like the
//    IP one's (its gains WFErr, WFdErr, WFdU, its fitness and cost curve), opened when its
//    optimisation starts; each generation is also summed up in the main window's status
//    bar.
//  - The generations are refused, with a message, before "&Randomize" or "&Récupérer" has
//    given the population its first individuals (all at 0 otherwise), and when the study
//    would not use the genes (TuningRefusal).
//  - Closing the result window by its frame gives the menu back its closed state
//    ("&Ouvrir la fenêtre d'optimisation" enabled), so that it can be opened again.
//  - "&N fois": a count that is not an integer shows the conversion message and runs
//    nothing; a negative count is refused with a message of its own; 0 runs nothing.

#include <QObject>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "identification/candidate_evaluator.h"
#include "tuning/speed_regulator_tuning.h"
#include "ui/tuning_cost_plot.h"
#include "ui/tuning_window.h"

namespace mas::ui {

class TSimulWindow;
class TuningResultWindow;

class TuningWorkbench : public QObject {
  Q_OBJECT

 public:
  // The populations write their logs in `log_folder` (the current folder for the
  // workbench), and the commands are registered on `window`'s menu.
  explicit TuningWorkbench(TSimulWindow& window, std::filesystem::path log_folder = ".");
  ~TuningWorkbench() override;

  // Menu commands.
  void OpenResultWindow();   // CmOpenFenetreOptimisationW1
  void CloseResultWindow();  // CmCloseFenetreOptimisationW1
  void Randomize(TunedRegulator kind);
  void Recover(TunedRegulator kind);
  // Runs `generations` generations one after the other on the worker; false when nothing
  // was started (busy, refused, none asked).
  bool Optimise(TunedRegulator kind, int generations);
  // "&N fois": asks for the count, then optimises.
  bool OptimiseAskedCount(TunedRegulator kind);

  const SpeedRegulatorTuning& Tuning(TunedRegulator kind) const;
  const std::vector<CostPoint>& Costs(TunedRegulator kind) const;
  TuningResultWindow* ResultWindow() const { return result_window_; }
  // The fuzzy regulator's result window, once an optimisation of it has started.
  TuningResultWindow* FuzzyResultWindow() const { return fuzzy_window_; }

  // Seams for the tests; each defaults to the ordinary behaviour.
  // The input box: caption, prompt, initial text; nothing when cancelled.
  std::function<std::optional<QString>(const QString&, const QString&, const QString&)> text_asker;
  // The seed of "&Randomize" (the calendar time in seconds).
  std::function<std::uint32_t()> seed_source;

 signals:
  // A generation was shown (its plot point and labels are up to date).
  void generationShown(int generation);
  // A series of generations has ended and the study is back in the main window.
  void seriesFinished();

 private:
  struct Variant;
  struct Series;

  Variant& VariantOf(TunedRegulator kind);
  const Variant& VariantOf(TunedRegulator kind) const;
  void RegisterCommands();
  void SyncMenu();
  void ShowGeneration(TunedRegulator kind, const TuningDisplay& shown);
  void RefreshResultWindow();
  void FinishSeries();
  void Say(const QString& text, const QString& caption, MessageIcon icon);
  void Status(const QString& text);

  TSimulWindow& window_;
  CandidateEvaluator evaluator_;
  std::unique_ptr<Variant> ip_;
  std::unique_ptr<Variant> fuzzy_;
  std::unique_ptr<Series> series_;  // the series under way; only its job touches it
  TuningResultWindow* result_window_ = nullptr;
  TuningResultWindow* fuzzy_window_ = nullptr;
  void OpenFuzzyWindow();
  TuningResultWindow* WindowOf(TunedRegulator kind) const {
    return kind == TunedRegulator::kIP ? result_window_ : fuzzy_window_;
  }
};

}  // namespace mas::ui
