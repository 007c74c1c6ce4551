#pragma once
// The cage of the examples (the geometry of the model's tests) with `nr` bars at rated
// load, ready to step every dt.

#include "engine/cage_machine_model.h"

namespace mas::bench {

inline CageMachineModel ExampleCage(int nr, double dt) {
  CageMachineModel m;
  m.SetElectricalParameters(1.405);
  m.SetMechanicalParameters(2, 0.0131, 0.0, 0.0, 26.0);
  m.SetStep(dt);
  m.SetCageParameters(0.05, 0.12, 0.35e-3, 130, nr, 2.9e-3, 1.64e-4, 1.64e-2, 3.5e-6, 3.5e-4, 2e-8,
                      8.2e-7);
  m.AllocateArrays();
  m.ResetBars();
  m.ResetRings();
  m.SetDumpPath("");
  m.ResetForRun();
  return m;
}

}  // namespace mas::bench
