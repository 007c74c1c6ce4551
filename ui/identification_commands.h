#pragma once
// The identification of the machine's parameters in the workbench: the genetic and the
// particle-swarm windows, created with the main window and living as long as it, shown by
// "O&ptimisation" → "&Genetic Algo" → "&Paramètres de la machine" and "&Particle Swarm" →
// "&Paramètres de la machine", the trajectory fit "Ajustement" reached from both, and
// the result window they share.

#include <QObject>
#include <filesystem>

namespace mas::ui {

class IdentificationHub;
class TFitWindow;
class TGenDemWindow;
class TPsoDemWindow;
class TSimulWindow;

class IdentificationWorkbenches : public QObject {
  Q_OBJECT

 public:
  // The windows write their logs in `log_folder` (the current folder for the workbench);
  // their menu commands are registered on `window`.
  explicit IdentificationWorkbenches(TSimulWindow& window,
                                     const std::filesystem::path& log_folder = ".");

  IdentificationHub& Hub() const { return *hub_; }
  TGenDemWindow& Genetic() const { return *genetic_; }
  TPsoDemWindow& Swarm() const { return *swarm_; }
  TFitWindow& Fit() const { return *fit_; }

 private:
  IdentificationHub* hub_ = nullptr;
  TGenDemWindow* genetic_ = nullptr;
  TPsoDemWindow* swarm_ = nullptr;
  TFitWindow* fit_ = nullptr;
};

}  // namespace mas::ui
