#pragma once
// The machine of the examples, shared by the maker of the example record, the tests and
// the benchmarks: a 4 kW, 400 V, 50 Hz, 4-pole induction machine, its controller's copy
// matched to it, fed from E/2 = 326.6 V at 50 Hz.

#include "engine/settings.h"

namespace mas::example {

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

// The examples' field-oriented controller: PI current loops every PWM period (Kp 17 V/A,
// Ki 0.4 per sample), speed loop every 10 current samples (PI, Kp 0.4 A/(rad/s), Ki 0.008
// per sample, Iq limited to 20 A), indirect rotor-flux orientation with 5.5 A of flux
// current and no field weakening.
inline void SetExampleVectorControl(SimulationSettings& s) {
  s.NTregI = 1;
  s.NTregW = 10;
  s.PushObserverStep();
  s.VectCtrl = 1;
  s.IdsPI = s.IqsPI = s.WPI = true;
  s.Kpd = s.Kpq = 17.0;
  s.Kid = s.Kiq = 0.4;
  s.VdsrefMax = 200.0;
  s.VqsrefMax = 326.6;
  s.KpW = 0.4;
  s.KiW = 0.008;
  s.IqsrefM = 20.0;
  s.Flag = 0;
  s.Idsref1 = 5.5;
}

}  // namespace mas::example
