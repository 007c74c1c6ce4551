#pragma once
// The eight machine parameters that the identification searches, and how one such
// parameter set becomes the simulated (physical) machine of a study.

#include <array>

#include "engine/dq_machine_model.h"
#include "engine/settings.h"

namespace mas {

inline constexpr int NGenes = 8;
using Genes = std::array<double, NGenes>;

// Gene order: stator resistance (ohm), stator time constant Ls/Rs (s), rotor time constant
// Lr/Rr (s), leakage coefficient 1 - M^2/(Ls Lr), inertia (kg m^2) and the three load
// coefficients of the machine model.
enum GeneIndex : int {
  kGeneRs,
  kGeneTs,
  kGeneTr,
  kGeneSigma,
  kGeneJ,
  kGeneA10,
  kGeneA20,
  kGeneA30
};
inline constexpr std::array<const char*, NGenes> kGeneNames = {"Rs", "Ts",  "Tr",  "sigma",
                                                               "J",  "a10", "a20", "a30"};

// Writes a parameter set into the physical machine of the study (both machine models):
//   Rs = g0, Ls = Lr = g0 g1, Rr = Ls/g2, M = Ls sqrt(1 - g3), J = g4, a10..a30 = g5..g7.
// The stator and rotor are taken with equal inductances, so the leakage coefficient alone
// fixes the magnetising inductance. The controller's copy of the machine is not touched.
// A rotor time constant of 0 has no machine: callers refuse it before mapping.
void MapGenesOntoMachine(const Genes& g, SimulationSettings& s);

// The parameter set of a machine (the inverse of the mapping when Ls = Lr):
// Rs, Ls/Rs, Lr/Rr, 1 - M^2/(Ls Lr), J, a10, a20, a30.
Genes GenesOfMachine(const DqMachineModel& machine);

}  // namespace mas

namespace mas {

// Initial value of a gene from one draw r (0 .. 32767) of the random initialisation:
// Rs 0.01 .. 5 ohm, Ts and Tr 0.001 .. 1 s, sigma 0.01 .. 0.109, J j_base .. j_base +
// 0.099 kg m^2, a10 0 .. 0.00099, a20 and a30 0 .. 0.099.
double InitialGeneFromDraw(int gene, int r, double j_base);

}  // namespace mas
