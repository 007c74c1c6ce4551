#pragma once
// A run's own start-up taken as a measured record, for the tests of the identification
// cost: the speed (tr/mn) and phase-a current at every recorded step, in the raw columns
// of an experimental record.

#include <string>

#include "engine/numeric.h"
#include "engine/run_simulation.h"

namespace mas::testing {

class RecordSink : public OutputSink {
 public:
  explicit RecordSink(ExperimentalData& d) : d_(d) {}
  bool Open(const std::string&) override { return true; }
  void WriteHeader(const RunView&) override {}
  void WriteLine(const RunView& v) override {
    d_.ExpTime.push_back(v.state.t);
    d_.ExpWm.push_back(v.state.WmMeas * kRadSToRpm);
    d_.ExpIas.push_back(v.state.IasMeas);
  }
  void Close() override {}

 private:
  ExperimentalData& d_;
};

}  // namespace mas::testing
