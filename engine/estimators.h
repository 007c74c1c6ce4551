#pragma once
// The vector controller's coordinate system and estimates: Park angle of each source,
// slip and stator angular frequency, the direct flux estimator, the corrected stator
// flux, the indirect stator-flux model with its direct/indirect blend, and the MRAS
// speed estimator. Plain functions on the settings and the run state, called by the run
// loop at the instants it defines.

#include "engine/run_state.h"
#include "engine/settings.h"

namespace mas {

// Model-copy constants from mRs, mRr, mLs, mLr, mM, and the current-sample period.
ModelCopyConstants ComputeModelCopyConstants(const SimulationSettings& s);

// Park angle used by the transforms for the settings' Flux_typ.
double ParkAngle(const SimulationSettings& s, const RunState& st);

// Clarke transform of the measured currents (the filtered ones when IFiltOn) into
// IalphaMeas, IbetaMeas, then Park transform with `theta` into Ids, Iqs (and IdsF, IqsF
// when the filter is on).
void MeasuredCurrentsToPark(const SimulationSettings& s, RunState& st, double theta);

// Inverse Park of (Vdsref, Vqsref) with `theta` into VdsrefAlpha/Beta and inverse Clarke
// into the phase references VasRef, VbsRef, VcsRef.
void VoltageReferencesToPhases(const SimulationSettings& s, RunState& st, double theta);

// Five-sample moving average of the model speed into WmMeas (when UseSpeedFilter), then
// the slip frequency and the integrated angle of the selected source.
void SpeedFilterSlipAndAngle(const SimulationSettings& s, RunState& st);

// Direct flux estimator, one fourth-order Runge-Kutta step of dt, fed with the dq model's
// back-EMF and the last sampled Ids; then the rotor flux derived from it.
void DirectFluxEstimatorStep(const SimulationSettings& s, RunState& st);

// Corrected stator flux (last step of a current sample).
void CorrectedStatorFluxStep(const SimulationSettings& s, RunState& st);

// Direct angle and speed of the observer's stator flux, and the indirect stator-flux
// model (Flux_typ 5, 9, 10, after the inverse transforms).
void StatorFluxEstimatorsStep(const SimulationSettings& s, RunState& st);

// Direct/indirect blend factor (Flux_typ 9, 10, at each speed sample).
void BlendFactorStep(RunState& st);

// One period TEst of the MRAS speed estimator with the stator phase voltages (va, vb, vc)
// applied at this instant.
void MrasSpeedEstimatorStep(const SimulationSettings& s, RunState& st, double va, double vb,
                            double vc);

}  // namespace mas
