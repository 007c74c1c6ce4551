#pragma once
// The identification of the machine's parameters and the tuning of the speed regulator
// from Python: mas.identify and mas.tune.

#include <pybind11/pybind11.h>

namespace mas::python {

void AddOptimisers(pybind11::module_& m);

}  // namespace mas::python
