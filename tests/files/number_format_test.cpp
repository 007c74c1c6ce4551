#include "files/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace mas {
namespace {

std::string Printf(const char* format, int precision, double value) {
  std::vector<char> text(1024);
  const int n = std::snprintf(text.data(), text.size(), format, precision, value);
  return std::string(text.data(), static_cast<std::size_t>(n));
}

// The command line's summaries and messages carry the bytes printf gives, whatever the
// size of the number: the largest doubles have 309 digits before the point in fixed form,
// far more than a short buffer holds.
TEST(NumberFormat, FormatGAndFormatFixedAreTheBytesOfPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {0.0,
                                      -0.0,
                                      1.0,
                                      -2.5,
                                      1e-5,
                                      0.1234567,
                                      123456.7,
                                      1e15,
                                      1e300,
                                      -1e300,
                                      1.7976931348623157e308,
                                      5e-324,
                                      inf,
                                      -inf,
                                      653000.0};
  for (double value : values) {
    for (int precision : {0, 2, 3, 5, 6, 17}) {
      EXPECT_EQ(FormatG(value, precision), Printf("%.*g", precision, value))
          << value << " %." << precision << "g";
      EXPECT_EQ(FormatFixed(value, precision), Printf("%.*f", precision, value))
          << value << " %." << precision << "f";
    }
  }
  EXPECT_EQ(FormatG(0.1), "0.1");  // six significant digits unless told otherwise
  EXPECT_EQ(FormatG(std::nan("")), "nan");
}

}  // namespace
}  // namespace mas
