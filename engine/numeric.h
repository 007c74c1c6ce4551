#pragma once
// Small numerical helpers shared by the whole core.

#include <cmath>
#include <cstdint>
#include <limits>

namespace mas {

inline constexpr double kPi = 3.14159265358979323846;
// Conversion between tr/mn and rad/s.
inline constexpr double kRpmToRadS = 0.10471975511965977;  // pi/30
inline constexpr double kRadSToRpm = 30.0 / kPi;
inline const double kSqrt3 = std::sqrt(3.0);

// Truncation toward zero into a 32-bit integer, defined for every double: NaN gives 0,
// values beyond the int range (infinities included) saturate at the nearest bound.
inline int TruncToInt(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return std::numeric_limits<int>::max();
  if (x <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(x);
}

// Truncation toward zero into a 64-bit integer, with the same guarantees.
inline std::int64_t TruncToInt64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (x <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(x);
}

// Sign of the constant load torque: +1 above 0.1, -1 below -0.1 and a linear ramp
// 10 x in between, so that the load does not chatter around standstill.
inline double SignSat(double x) {
  if (x >= 0.1) return 1.0;
  if (x <= -0.1) return -1.0;
  return 10.0 * x;
}

}  // namespace mas
