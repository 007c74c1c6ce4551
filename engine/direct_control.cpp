#include "engine/direct_control.h"

#include <array>
#include <cmath>

#include "engine/numeric.h"
#include "engine/transforms.h"

namespace mas {
namespace {

// Pole states (a, b, c) of the six active vectors: +1 is +E2, -1 is -E2.
constexpr std::array<std::array<int, 3>, 6> kVectors = {
    {{+1, -1, -1}, {+1, +1, -1}, {-1, +1, -1}, {-1, +1, +1}, {-1, -1, +1}, {+1, -1, +1}}};

// Vector chosen for sector k (columns) by flux and torque demands:
// rows (FluxUp, TorqueUp) = (1,1), (1,0), (0,1), (0,0).
constexpr std::array<std::array<int, 6>, 4> kSwitchingTable = {
    {{2, 3, 4, 5, 6, 1}, {6, 1, 2, 3, 4, 5}, {3, 4, 5, 6, 1, 2}, {5, 6, 1, 2, 3, 4}}};

}  // namespace

int DtcSectorOf(double alpha, double beta) {
  const double h = std::sqrt(alpha * alpha + beta * beta) / 2;
  if (alpha > 0) return beta > h ? 2 : (beta < -h ? 6 : 1);
  if (alpha == 0) return beta > 0 ? 2 : (beta == 0 ? 1 : 5);
  if (alpha < 0) return beta > h ? 3 : (beta < -h ? 5 : 4);
  return 1;  // NaN components: any sector, the run will stop as diverged
}

int DtcVector(int flux_up, int torque_up, int sector) {
  const int row = (flux_up != 0 ? 0 : 2) + (torque_up != 0 ? 0 : 1);
  return kSwitchingTable[row][sector - 1];
}

void DtcStep(SimulationSettings& s, RunState& st) {
  DirectControlState& dc = st.dc;
  EstimatorState& e = st.est;
  s.observer.Step(e.VdsrefAlpha, e.VdsrefBeta, s.mp * st.WmMeas);
  dc.PhiRef = 1.0;
  st.reg.FieldStep = 1;
  const AlphaBeta i = ClarkeCurrents(st.IasMeas, st.IbsMeas, false);
  e.IalphaMeas = i.alpha;
  e.IbetaMeas = i.beta;
  dc.PhisMag = std::sqrt(e.Phi_alpha_s * e.Phi_alpha_s + e.Phi_beta_s * e.Phi_beta_s);
  dc.CeEst = (e.Phi_alpha_s * e.IbetaMeas - e.Phi_beta_s * e.IalphaMeas) * s.mp;
  dc.DtcSector = DtcSectorOf(e.Phi_alpha_s, e.Phi_beta_s);
  dc.TorqueUp = dc.CeRef >= dc.CeEst;
  dc.FluxUp = dc.PhiRef >= dc.PhisMag;
  const auto& states = kVectors[DtcVector(dc.FluxUp, dc.TorqueUp, dc.DtcSector) - 1];
  st.Vas = s.E2 * states[0];
  st.Vbs = s.E2 * states[1];
  st.Vcs = s.E2 * states[2];
  const AlphaBeta v = PhaseToStationary(st.Vas, st.Vbs, st.Vcs);
  e.VdsrefAlpha = v.alpha;
  e.VdsrefBeta = v.beta;
}

void VfStep(const SimulationSettings& s, RunState& st) {
  DirectControlState& dc = st.dc;
  EstimatorState& e = st.est;
  const double ws = 10 * st.Iqsref;
  // Voltage proportional to the frequency with a boost V0 at low speed, and the nominal
  // voltage from the nominal frequency on.
  const int ws_whole = TruncToInt(ws);
  dc.VfAmp = (ws_whole >= s.VfWn || -static_cast<double>(ws_whole) >= s.VfWn)
                 ? s.VfVn
                 : s.VfVn / s.VfWn * ws + s.VfV0;
  e.Ws = ws;
  e.thetas = WrapOnce(e.thetas + ws * s.TMLI * s.NTregI);
  const double c = std::cos(e.thetas);
  st.VasRef = dc.VfAmp * c;
  st.VbsRef = dc.VfAmp * std::cos(e.thetas - 2.0943951023931953);
  st.VcsRef = dc.VfAmp * std::cos(e.thetas + 2.0943951023931953);
}

}  // namespace mas
