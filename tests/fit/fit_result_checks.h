#pragma once
// What the fit's tests ask of a result: a fitted parameter by gene, whether a warning
// names a parameter, and fit options on a given number of threads.

#include <gtest/gtest.h>

#include <string>

#include "fit/trajectory_fit.h"

namespace mas::testing {

inline FitOptions Threads(int threads) {
  FitOptions o;
  o.threads = threads;
  return o;
}

inline const FittedParameter& Param(const FitResult& r, int gene) {
  for (const FittedParameter& p : r.parameters) {
    if (p.gene == gene) return p;
  }
  ADD_FAILURE() << "gene " << gene << " not fitted";
  return r.parameters.front();
}

inline bool Warned(const FitResult& r, const std::string& name) {
  for (const std::string& w : r.warnings) {
    if (w.find(name) != std::string::npos) return true;
  }
  return false;
}

}  // namespace mas::testing
