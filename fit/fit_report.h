#pragma once
// The fit's result as an engineer reads it: how the record was compared, how the fit
// ended, each parameter with its standard error and 95 % interval, the machine values
// they map to, the residual's rms per signal, the correlation matrix and what the record
// cannot identify. The same text is printed after a fit and written by --report.

#include <cstdint>
#include <string>

#include "fit/trajectory_fit.h"

namespace mas {

struct FitReportContext {
  std::string study;   // study file
  std::string record;  // experimental record
  int threads = 1;
  std::uint32_t seed = 0;
};

// The summary, in lines of text; numbers with a decimal point whatever the locale.
std::string FormatFitReport(const FitResult& result, const FitReportContext& context);

// Writes `text` as the report file (through a file replacement: a failed write leaves
// the previous report). False when it could not be written.
bool WriteFitReport(const std::string& path, const std::string& text);

}  // namespace mas
