#include "engine/settings.h"

namespace mas {

void SimulationSettings::PushElectricalParameters() { cage.SetElectricalParameters(dq.Rs); }

void SimulationSettings::PushMechanicalParameters() {
  cage.SetMechanicalParameters(dq.p, dq.J, dq.a10, dq.a20, dq.a30);
}

void SimulationSettings::PushStep() {
  dq.SetStep(dt);
  cage.SetStep(dt);
}

void SimulationSettings::SetCrsgn(int value) {
  dq.Crsgn = value;
  cage.Crsgn = value;
}

void SimulationSettings::PushObserverParameters() {
  observer.SetParameters(mRs, mRr, mLs, mLr, mM);
  observer.mp = mp;
}

void SimulationSettings::PushObserverStep() { observer.h = NTregI * TMLI; }

void SimulationSettings::UpdateNeuroFuzzyWeights() {
  w32 = -w12;
  w23 = -w12;
  w33 = -w11;
}

}  // namespace mas
