#pragma once
// The fit's result as an engineer reads it: how the record was compared, how the fit
// ended, each parameter with its standard error and 95 % interval, the machine values
// they map to, the residual's rms per signal, the correlation matrix and what the record
// cannot identify. The same text is printed after a fit and written by --report.

#include <cstdint>
#include <string>
#include <vector>

#include "fit/trajectory_fit.h"

namespace mas {

struct FitReportContext {
  std::string study;   // study file
  std::string record;  // experimental record
  int threads = 1;
  std::uint32_t seed = 0;
};

// How the default intervals were computed, in a few words.
std::string IntervalMethodText(const FitResult& result);

// The method of the default intervals in a word or two ("Newey-West", "bruit blanc"); empty
// when no interval was computed.
std::string IntervalMethodName(const FitResult& result);

// How the bootstrap intervals were computed and what became of the refits.
std::string BootstrapMethodText(const FitResult& result);

// Why the bootstrap intervals are not to be trusted; empty when they are.
std::string BootstrapReliabilityText(const FitResult& result);

// How the profile-likelihood intervals were computed.
std::string ProfileMethodText(const FitResult& result);

// The unit of a gene's value ("Ω", "s", ...).
std::string FitParameterUnit(int gene);

// The noise levels that weighted the machine-state residuals, and the refits made with them.
std::string FitWeightsText(const FitResult& result);

// The rms of the residuals of each signal, and its share of the signal's measured range.
std::string FitRmsText(const FitResult& result);

// What the parameter table says of a fitted parameter beside its values: "à sa borne 0",
// "non identifiable".
std::vector<std::string> FittedParameterFlags(const FittedParameter& p);

// Why a result has no standard errors, intervals nor correlations.
std::string NoUncertaintyText();

// What the record cannot identify: a heading and one line per reason (or one line saying
// every fitted parameter is identified); empty when no statistics were computed.
std::vector<std::string> IdentifiabilityLines(const FitResult& result);

// The summary, in lines of text; numbers with a decimal point whatever the locale. The
// bootstrap and profile intervals, when asked, follow the parameter table under their own
// headings.
std::string FormatFitReport(const FitResult& result, const FitReportContext& context);

// The same result as a JSON object, for programs: the study and record, how the fit
// ended, the residuals compared, each fitted parameter (value, standard error, 95 %
// interval and its method, white-noise standard error, identifiable), the held ones, the
// correlation matrix, the residual rms per signal, the weights, the warnings and notes;
// "bootstrap" and "profile" (null when not asked) with their intervals and method.
// Numbers are written to round-trip exactly; what is not a number is null.
std::string FormatFitReportJson(const FitResult& result, const FitReportContext& context);

// True when `path` names a JSON report (its extension is ".json", in any case).
bool IsJsonReportPath(const std::string& path);

// Writes `text` as the report file (through a file replacement: a failed write leaves
// the previous report). False when it could not be written.
bool WriteFitReport(const std::string& path, const std::string& text);

}  // namespace mas
