// Any bytes as a measured start-up record. The reader either takes the rows it can or
// refuses the file with its message, never crashes; the three raw arrays never differ in
// length by more than one; every value taken is finite, the times from zero on and strictly
// increasing; and whatever was taken can be interpolated without reading outside the
// record.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "identification/experimental_file.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace mas;
  static const std::string input = fuzz::ScratchPath("record.dat");
  fuzz::WriteBytes(input, data, size);

  SimulationSettings s;
  s.ExpNom = input;
  // Column indices from the first byte, so that narrow and wide headers both get read
  // (the recorded file's columns 3 and 4 when the byte says nothing).
  if (size > 0 && data[0] < 0x10) {
    s.ExpWmCol = data[0] & 3;
    s.ExpIasCol = (data[0] >> 2) & 3;
  }
  ExperimentalData d;
  RecordingPlatform platform;
  const ExperimentalReadResult r = ReadExperimentalFile(s, d, platform);

  for (bool gene : s.GenX) {
    if (!gene) fuzz::Finding("a gene was left unselected");
  }
  if (!r.usable()) {
    if (!d.ExpTime.empty() || !d.ExpWm.empty() || !d.ExpIas.empty()) {
      fuzz::Finding("a refused record kept rows");
    }
    if (platform.messages.size() != 1) fuzz::Finding("a refusal is said once");
    return 0;
  }
  const std::size_t lo = std::min({d.ExpTime.size(), d.ExpWm.size(), d.ExpIas.size()});
  const std::size_t hi = std::max({d.ExpTime.size(), d.ExpWm.size(), d.ExpIas.size()});
  if (hi - lo > 1) fuzz::Finding("raw arrays differ by more than one row");
  // A row cut by the end of the file counts in all three arrays only when the three
  // columns read lie before the cut.
  const auto complete = static_cast<std::size_t>(r.complete_rows);
  if (lo != complete && lo != complete + 1) fuzz::Finding("complete rows miscounted");
  for (const auto* column : {&d.ExpTime, &d.ExpWm, &d.ExpIas}) {
    for (double v : *column) {
      if (!std::isfinite(v)) fuzz::Finding("a value taken is not finite");
    }
  }
  for (std::size_t i = 0; i < d.ExpTime.size(); ++i) {
    if (d.ExpTime[i] < 0.0) fuzz::Finding("a negative time was taken");
    if (i > 0 && !(d.ExpTime[i] > d.ExpTime[i - 1])) fuzz::Finding("times taken do not increase");
  }
  // Interpolation at the record's own instants and between them.
  for (std::size_t i = 0; i < lo && i < 64; ++i) {
    Interpolate(d, d.ExpTime[i]);
    Interpolate(d, d.ExpTime[i] * 0.5);
    if (d.ExpCursor < 0 || (lo >= 2 && d.ExpCursor > static_cast<int>(lo) - 2)) {
      fuzz::Finding("interpolation cursor outside the record");
    }
  }
  return 0;
}
