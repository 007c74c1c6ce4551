#pragma once
// The machine of the examples, shared by the tests and the benchmarks: a 4 kW, 400 V,
// 50 Hz, 4-pole induction machine, its controller's copy matched to it, fed from
// E/2 = 326.6 V at 50 Hz.

#include "engine/settings.h"

namespace mas::testing {

inline void SetExampleMachine(SimulationSettings& s) {
  s.dq.SetElectricalParameters(1.405, 1.395, 0.178039, 0.178039, 0.1722);
  s.dq.SetMechanicalParameters(2, 0.0131, 0.0, 0.0, 0.0);
  s.PushElectricalParameters();
  s.PushMechanicalParameters();
  s.mRs = 1.405;
  s.mRr = 1.395;
  s.mLs = s.mLr = 0.178039;
  s.mM = 0.1722;
  s.mp = 2;
  s.mJ = 0.0131;
  s.PushObserverParameters();
  s.E2 = 326.6;
  s.fs = 50.0;
}

// A loaded study of the example machine: time base t0 = 0 .. tf with the step dt, PWM
// period 1e-4 s, no output table, no progress display.
inline SimulationSettings ExampleStudy(double tf, double dt) {
  SimulationSettings s;
  SetExampleMachine(s);
  s.t0 = 0.0;
  s.tf = tf;
  s.dt = dt;
  s.PushStep();
  s.TMLI = 1e-4;
  s.OutStep = 1;
  s.CreateOutputFile = false;
  s.DisplayProgressBar = false;
  s.FileLoaded = true;
  return s;
}

}  // namespace mas::testing
