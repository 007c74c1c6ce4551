#include "files/number_format.h"

#include <cstddef>
#include <system_error>

namespace mas {
namespace {

// The text of `value` in `format` with `precision`, in a short buffer first and, when it
// does not fit there (large numbers in fixed form, long precisions), in one that holds the
// longest possible text: a sign, the 309 digits of the largest double, the point, the
// digits asked for and an exponent.
std::string FormatWhole(double value, std::chars_format format, int precision) {
  char buf[64];
  const auto short_result = std::to_chars(buf, buf + sizeof buf, value, format, precision);
  if (short_result.ec == std::errc{}) return std::string(buf, short_result.ptr);
  std::string text(std::size_t{320} + static_cast<std::size_t>(precision > 0 ? precision : 0),
                   '\0');
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, format, precision);
  text.resize(static_cast<std::size_t>(result.ptr - text.data()));
  return text;
}

}  // namespace

std::string FormatG(double value, int precision) {
  return FormatWhole(value, std::chars_format::general, precision);
}

std::string FormatFixed(double value, int decimals) {
  return FormatWhole(value, std::chars_format::fixed, decimals);
}

}  // namespace mas
