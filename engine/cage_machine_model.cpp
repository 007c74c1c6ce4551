#include "engine/cage_machine_model.h"

#include <algorithm>

namespace mas {

void CageMachineModel::AllocateArrays() {
  const std::size_t n = (Nr >= 1 && Nr <= kMaxBars) ? static_cast<std::size_t>(Nr) : 0;
  Rb.assign(n, 0.0);
  Re.assign(n, 0.0);
  BarreSel.assign(n, 0);
  LoopSel.assign(n, 0);
  AnneauSel.assign(n, 0);
}

void CageMachineModel::FreeArrays() {
  Rb.clear();
  Re.clear();
  BarreSel.clear();
  LoopSel.clear();
  AnneauSel.clear();
}

void CageMachineModel::ResetBars() { std::fill(Rb.begin(), Rb.end(), RbSain); }

void CageMachineModel::ResetRings() { std::fill(Re.begin(), Re.end(), ReSain); }

}  // namespace mas
