#pragma once
// The examples' three-phase supply (326.6 V peak, 50 Hz) sampled every dt over one
// period of the supply, precomputed so that a benchmark times only the model's step.

#include <cmath>
#include <vector>

#include "engine/numeric.h"

namespace mas::bench {

struct SupplySamples {
  std::vector<double> va, vb, vc;
  int size() const { return static_cast<int>(va.size()); }
};

inline SupplySamples OnePeriodOfSupply(int samples, double dt) {
  SupplySamples v;
  v.va.resize(static_cast<std::size_t>(samples));
  v.vb.resize(v.va.size());
  v.vc.resize(v.va.size());
  for (std::size_t i = 0; i < v.va.size(); ++i) {
    const double th = 2 * kPi * 50 * static_cast<double>(i) * dt;
    v.va[i] = 326.6 * std::cos(th);
    v.vb[i] = 326.6 * std::cos(th - 2 * kPi / 3);
    v.vc[i] = 326.6 * std::cos(th + 2 * kPi / 3);
  }
  return v;
}

}  // namespace mas::bench
