#pragma once
// Number formatting for the files of the workbench: the exact bytes of printf's
// conversions, never dependent on the locale, and fast. std::to_chars in general format
// with a precision gives the bytes of "%.Pg" (infinities as "inf"/"-inf", NaN as "nan"
// or "-nan"), and the padding below adds the field widths of "%-W.Pg" and "%-Wd".

#include <charconv>
#include <string>

namespace mas {

// Longest text of a double in %g form, or of a 32-bit integer, plus margin.
inline constexpr int kMaxNumberChars = 40;

// Writes value as "%.<precision>g" at out; returns the end of the text.
inline char* AppendG(char* out, double value, int precision) {
  return std::to_chars(out, out + kMaxNumberChars, value, std::chars_format::general, precision)
      .ptr;
}

// Writes value as "%-<width>.<precision>g": left-justified, padded on the right with
// spaces to at least `width` characters (a longer text is not cut).
inline char* AppendLeftG(char* out, double value, int precision, int width) {
  char* end = AppendG(out, value, precision);
  while (end - out < width) *end++ = ' ';
  return end;
}

// Writes value as "%-<width>d".
inline char* AppendLeftInt(char* out, long long value, int width) {
  char* end = std::to_chars(out, out + kMaxNumberChars, value).ptr;
  while (end - out < width) *end++ = ' ';
  return end;
}

// Convenience forms returning a std::string (for tests and rare writes).
inline std::string FormatLeftG(double value, int precision, int width) {
  char buf[kMaxNumberChars + 64];
  const int w = width < 64 ? width : 64;
  return std::string(buf, AppendLeftG(buf, value, precision, w));
}

inline std::string FormatLeftInt(long long value, int width) {
  char buf[kMaxNumberChars + 64];
  const int w = width < 64 ? width : 64;
  return std::string(buf, AppendLeftInt(buf, value, w));
}

// "%.<precision>g" and "%.<decimals>f" as strings, for the summaries and messages of the
// command line. The text is whole for every double: 1e300 in fixed form has 301 digits
// before the point.
std::string FormatG(double value, int precision = 6);
std::string FormatFixed(double value, int decimals);

}  // namespace mas
