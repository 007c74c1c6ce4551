#pragma once
// What the two identification workbenches ("Genetic Algorithms Optimisation" and
// "Particle Swarm Optimisation") share: the main window that holds the study, the
// dialogs that set the comparison (experimental file, optimised genes, cost function),
// reading the measured record, building its tables, simulating a best candidate, and the
// one result window TParamWindow.
//
// Long work (reading the record, building the tables, a generation, an epoch, "Simule")
// goes through the main window's StartStudyJob: it runs on the worker thread on a copy of
// the study, and the window takes the copy back when it ends. The optimisers' objects
// live in the workbenches; while a job runs only the job touches them.

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "identification/machine_genes.h"
#include "platform/platform.h"
#include "ui/param_window.h"

class QDialog;

namespace mas::ui {

class TSimulWindow;

// The platform of the work done on the window's own thread (a refused initial vector, a
// refused swarm size): messages go where the main window shows its own.
class HostPlatform : public Platform {
 public:
  explicit HostPlatform(TSimulWindow& host) : host_(host) {}
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  void SetStatusText(std::string_view text) override;
  void SetProgress(int) override {}
  void SetWaitCursor(bool) override {}
  bool EscapePressed() override { return false; }
  void StartProcess(const std::string&) override {}

 private:
  TSimulWindow& host_;
};

// The candidates' messages as a workbench shows them: a diverged candidate is an
// ordinary (very bad) score, so its message is counted and shown once per generation or
// epoch in the status line, not as one message box per candidate. A run interrupted
// because the user pressed "Stop" (or Escape) was asked for: its "Une erreur s'est
// produite" is said in the status line too, as the regulator tuning does, not as an error
// box. Everything else goes through.
class DivergenceCountingPlatform final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  // Diverged candidates since the last call.
  int TakeDiverged();
  // A run was interrupted at the user's request.
  bool Stopped() const { return stopped_; }

 private:
  int diverged_ = 0;
  bool stopped_ = false;
};

// Marks the end of a job's use of a workbench's optimiser, however the job ends.
struct OptimiserRelease {
  std::atomic<bool>& in_use;
  ~OptimiserRelease() { in_use.store(false); }
};

// "n candidats divergés" for a status line; empty when none.
std::string DivergedNote(int diverged);

class IdentificationHub : public QObject {
  Q_OBJECT

 public:
  explicit IdentificationHub(TSimulWindow& host);
  ~IdentificationHub() override;

  TSimulWindow& Host() const { return host_; }
  Platform& WindowPlatform() { return platform_; }

  // Shows a dialog modally (through the main window's dialog seam when it has one).
  int RunDialog(QDialog& dialog);
  // Load, show and, on "OK", store one settings dialog of the study; a conversion error
  // is shown. True when "OK" was pressed. Refused while the study is busy.
  bool RunSettingsDialog(const std::string& dialog_id);

  // "Ouvrir Expérimental": reads ExpNom into the study's measured record (which marks every
  // gene as optimised). `done` runs on the window's thread when the reading has ended.
  bool ReadExperimental(std::function<void()> done);
  // "Créer table expérimentale": resamples the record onto the recorded steps of the
  // study's time base (one simulation).
  bool BuildTables(std::function<void()> done);
  // "Simule": the parameter set in the machine, and a run of the Run command with the
  // output table and the curve viewer. When the tables are ready and no experimental
  // column is chosen for the output, the measured speed and current are written beside
  // the simulated ones for this run (the choice of columns is restored after it), so that
  // the viewer shows the comparison the identification is about.
  bool Simulate(const Genes& genes, std::string tr_zero_message, std::function<void()> done);

  // The result window: at most one, created on demand.
  bool ParamWindowExists() const { return !param_window_.isNull(); }
  // It exists and was not closed by its frame since it was last shown: what the check
  // boxes "Affiche la fenêtre des paramètres" show.
  bool ParamWindowShown() const { return ParamWindowExists() && param_shown_; }
  TParamWindow* ParamWindow() const { return param_window_.data(); }
  // Creates it when absent, fills it with an optimiser's best (no intervals) and shows it.
  void ShowParamWindow(const Genes& best);
  // Fills it when it exists (whether shown or hidden by its frame).
  void UpdateParamWindow(const Genes& best);
  // Closes and destroys it (the check box unticked).
  void DestroyParamWindow();

 signals:
  // The parameter window was created, destroyed, or closed by its frame.
  void paramWindowChanged();

 private:
  TSimulWindow& host_;
  HostPlatform platform_;
  QPointer<TParamWindow> param_window_;
  bool param_shown_ = false;
};

}  // namespace mas::ui
