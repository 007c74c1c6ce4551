#include "identification/machine_genes.h"

#include <cmath>

namespace mas {

void MapGenesOntoMachine(const Genes& g, SimulationSettings& s) {
  const double ls = g[kGeneRs] * g[kGeneTs];
  s.dq.SetElectricalParameters(g[kGeneRs], ls / g[kGeneTr], ls, ls,
                               ls * std::sqrt(1 - g[kGeneSigma]));
  s.dq.SetMechanicalParameters(s.dq.p, g[kGeneJ], g[kGeneA10], g[kGeneA20], g[kGeneA30]);
  s.PushElectricalParameters();
  s.PushMechanicalParameters();
}

Genes GenesOfMachine(const DqMachineModel& m) {
  return {m.Rs, m.Ls / m.Rs, m.Lr / m.Rr, 1 - m.M * m.M / (m.Ls * m.Lr), m.J, m.a10, m.a20, m.a30};
}

}  // namespace mas

namespace mas {

double InitialGeneFromDraw(int gene, int r, double j_base) {
  switch (gene) {
    case kGeneRs:
      return (r % 1000) * 0.005 + 0.01;
    case kGeneTs:
    case kGeneTr:
      return (r % 1000) * 0.001 + 0.001;
    case kGeneSigma:
      return (r % 100) * 0.001 + 0.01;
    case kGeneJ:
      return (r % 100) * 0.001 + j_base;
    case kGeneA10:
      return (r % 100) * 1e-5;
    default:  // a20, a30
      return (r % 100) * 0.001;
  }
}

}  // namespace mas
