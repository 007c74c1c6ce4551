#pragma once
// Direct torque control (a voltage vector from a switching table, chosen by comparing the
// estimated stator flux and torque with their references) and the scalar V/f law.

#include "engine/run_state.h"
#include "engine/settings.h"

namespace mas {

// Sector 1..6 of a stator-flux vector (alpha, beta), 60-degree sectors centred on the
// six active vectors.
int DtcSectorOf(double alpha, double beta);

// Active vector 1..6 chosen by the switching table.
int DtcVector(int flux_up, int torque_up, int sector);

// One DTC sample: observer step, flux and torque estimates, sector, vector; sets the
// pole voltages Vas, Vbs, Vcs directly.
void DtcStep(SimulationSettings& s, RunState& st);

// One V/f sample: the speed regulator's output 10 Iqsref read as the stator angular
// frequency, a voltage proportional to it plus a boost, and the phase references.
void VfStep(const SimulationSettings& s, RunState& st);

}  // namespace mas
