#include "identification/random.h"

#include <ctime>

namespace mas {

LcgRandom& SharedRandom() {
  static LcgRandom generator;
  return generator;
}

std::uint32_t CalendarSeconds() {
  const std::time_t now = std::time(nullptr);
  // Conversion to an unsigned type keeps the low 32 bits.
  return static_cast<std::uint32_t>(static_cast<unsigned long long>(now));
}

}  // namespace mas
