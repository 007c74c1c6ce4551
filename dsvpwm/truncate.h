#pragma once
// Truncation toward zero into a 64-bit integer that is defined for every double: NaN gives
// 0 and values beyond the range (infinities included) saturate at the nearest bound. The
// modulator sits below the simulation core, so it keeps its own copy of this helper.

#include <cmath>
#include <cstdint>
#include <limits>

namespace mas {

inline std::int64_t TruncToInt64Saturating(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (x <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(x);
}

}  // namespace mas
