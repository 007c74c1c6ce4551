#include "ui/identification_commands.h"

#include "ui/fit_window.h"
#include "ui/gen_dem_window.h"
#include "ui/identification_hub.h"
#include "ui/main_window.h"
#include "ui/pso_dem_window.h"

namespace mas::ui {
namespace {

void ShowWorkbench(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

IdentificationWorkbenches::IdentificationWorkbenches(TSimulWindow& window,
                                                     const std::filesystem::path& log_folder)
    : QObject(&window),
      hub_(new IdentificationHub(window)),
      genetic_(new TGenDemWindow(*hub_, log_folder, &window)),
      swarm_(new TPsoDemWindow(*hub_, log_folder, &window)) {
  fit_ = new TFitWindow(
      *hub_,
      [this](TFitWindow::Start start) {
        if (start == TFitWindow::Start::kGenetic) return genetic_->Optimiser().XOld[0];
        const auto& pso = swarm_->Optimiser();
        return pso.gbesti >= 0 && pso.gbesti < pso.Particles()
                   ? pso.pbest[static_cast<std::size_t>(pso.gbesti)]
                   : Genes{};
      },
      &window);
  connect(genetic_, &TGenDemWindow::fitRequested, fit_,
          [this] { fit_->ShowFrom(TFitWindow::Start::kGenetic); });
  connect(swarm_, &TPsoDemWindow::fitRequested, fit_,
          [this] { fit_->ShowFrom(TFitWindow::Start::kSwarm); });
  window.RegisterWorkbenchCommand("FentreprincipaledeloptimisationGenClick",
                                  [this] { ShowWorkbench(*genetic_); });
  window.RegisterWorkbenchCommand("CmFenetreprincipaleoptPSO", [this] { ShowWorkbench(*swarm_); });
}

}  // namespace mas::ui
