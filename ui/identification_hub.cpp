#include "ui/identification_hub.h"

#include <QDialog>
#include <QMessageBox>
#include <QStatusBar>
#include <algorithm>

#include "engine/run_simulation.h"
#include "files/output_recorder.h"
#include "identification/experimental_file.h"
#include "identification/workbench.h"
#include "ui/dialog_model.h"
#include "ui/main_window.h"
#include "ui/settings_form.h"

namespace mas::ui {
namespace {

constexpr std::string_view kDivergedText = "La simulation a divergée";

}  // namespace

void HostPlatform::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
  if (host_.message_presenter) {
    host_.message_presenter(ToQString(text), ToQString(caption), icon);
    return;
  }
  const QMessageBox::Icon qicon = icon == MessageIcon::kInformation   ? QMessageBox::Information
                                  : icon == MessageIcon::kExclamation ? QMessageBox::Warning
                                                                      : QMessageBox::Critical;
  QMessageBox box(qicon, ToQString(caption), ToQString(text), QMessageBox::Ok, &host_);
  box.exec();
}

void HostPlatform::SetStatusText(std::string_view text) {
  host_.statusBar()->showMessage(ToQString(text));
}

void DivergenceCountingPlatform::ShowMessage(std::string_view text, std::string_view caption,
                                             MessageIcon icon) {
  if (text == kDivergedText) {
    ++diverged_;
    return;
  }
  if (text == kRunErrorMessage && EscapePressed()) {
    stopped_ = true;
    return;
  }
  ForwardingPlatform::ShowMessage(text, caption, icon);
}

int DivergenceCountingPlatform::TakeDiverged() { return std::exchange(diverged_, 0); }

std::string DivergedNote(int diverged) {
  if (diverged <= 0) return {};
  return std::to_string(diverged) + (diverged > 1 ? " candidats divergés" : " candidat divergé");
}

IdentificationHub::IdentificationHub(TSimulWindow& host)
    : QObject(&host), host_(host), platform_(host) {}

IdentificationHub::~IdentificationHub() { DestroyParamWindow(); }

int IdentificationHub::RunDialog(QDialog& dialog) {
  if (host_.dialog_runner) return host_.dialog_runner(dialog);
  return dialog.exec();
}

bool IdentificationHub::RunSettingsDialog(const std::string& dialog_id) {
  if (host_.Busy()) return false;
  SettingsForm form(DialogById(dialog_id), &host_);
  form.Load(host_.Settings());
  if (RunDialog(form) != QDialog::Accepted) return false;
  const StoreResult result = form.Store(host_.MutableSettings());
  if (!result.error.empty()) {
    platform_.ShowMessage(result.error, "Erreur", MessageIcon::kError);
  }
  return true;
}

bool IdentificationHub::ReadExperimental(std::function<void()> done) {
  return host_.StartStudyJob(
      [](SimulationSettings& s, CarriedState& carried, Platform& platform) {
        const ExperimentalReadResult read = ReadExperimentalFile(s, carried.experiment, platform);
        if (read.usable()) {
          platform.SetStatusText("Fichier expérimental : " + s.ExpNom + " (" +
                                 std::to_string(read.complete_rows) + " lignes)");
        }
      },
      std::move(done));
}

bool IdentificationHub::BuildTables(std::function<void()> done) {
  return host_.StartStudyJob(
      [](SimulationSettings& s, CarriedState& carried, Platform& platform) {
        const RunOutcome outcome = BuildExperimentalTables(s, carried, platform, nullptr);
        if (s.ExpTableReady) {
          platform.SetStatusText(
              "Table expérimentale : " + std::to_string(carried.experiment.ExpWmTable.size()) +
              " pas enregistrés");
        } else if (outcome.status == RunStatus::kInterrupted) {
          platform.SetStatusText("Création de la table expérimentale interrompue");
        }
      },
      std::move(done));
}

bool IdentificationHub::Simulate(const Genes& genes, std::string tr_zero_message,
                                 std::function<void()> done) {
  return host_.StartStudyJob(
      [genes, message = std::move(tr_zero_message)](SimulationSettings& s, CarriedState& carried,
                                                    Platform& platform) {
        const auto kept = s.OutSelExp;
        const bool none = std::none_of(kept.begin(), kept.end(), [](int on) { return on != 0; });
        if (none && s.ExpTableReady) {
          s.OutSelExp[kExpWmint] = 1;
          s.OutSelExp[kExpIasint] = 1;
        }
        OutputRecorder recorder;
        try {
          SimulateCandidate(genes, message, s, carried, platform, &recorder, true);
        } catch (...) {
          s.OutSelExp = kept;
          throw;
        }
        s.OutSelExp = kept;
        if (recorder.WriteFailed()) {
          platform.ShowMessage("l'écriture du fichier " + s.OutFileName +
                                   " a échoué : le fichier précédent est conservé",
                               "Attention", MessageIcon::kExclamation);
        }
      },
      std::move(done));
}

void IdentificationHub::ShowParamWindow(const Genes& best) {
  if (param_window_.isNull()) {
    param_window_ = new TParamWindow(&host_);
    connect(param_window_.data(), &TParamWindow::closedByFrame, this, [this] {
      param_shown_ = false;
      emit paramWindowChanged();
    });
  }
  param_shown_ = true;
  param_window_->ClearIntervals();
  param_window_->ShowGenes(best);
  param_window_->show();
  param_window_->raise();
  emit paramWindowChanged();
}

void IdentificationHub::UpdateParamWindow(const Genes& best) {
  if (param_window_.isNull()) return;
  param_window_->ClearIntervals();
  param_window_->ShowGenes(best);
}

void IdentificationHub::DestroyParamWindow() {
  if (param_window_.isNull()) return;
  delete param_window_.data();
  param_window_.clear();
  param_shown_ = false;
  emit paramWindowChanged();
}

}  // namespace mas::ui
