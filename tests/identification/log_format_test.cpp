#include "identification/log_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "identification_fixture.h"

namespace mas {
namespace {

TEST(LogFormat, ConversionsAreThoseOfPrintf) {
  std::vector<double> values = {0.0,      -0.0,      1e20,      1e-50,    0.125,    2.5,
                                1.234565, 1.2345750, 0.0000005, 999999.5, 9.999995, DBL_MAX,
                                DBL_MIN,  4.9e-324,  INFINITY,  -INFINITY};
  for (int i = -60; i <= 60; ++i) values.push_back(std::pow(-7.0, i / 5.0) * 1.2345678901);
  char buf[600];
  for (double v : values) {
    std::string e12, e8, f;
    AppendExp(e12, v, 5, 12);
    AppendExp(e8, v, 6, 8);
    AppendFixed(f, v);
    std::snprintf(buf, sizeof buf, "%12.5e|%8e|%f", v, v, v);
    EXPECT_EQ(e12 + "|" + e8 + "|" + f, buf) << v;
  }
  for (long long n : {0LL, -7LL, 54LL, 1234LL, 2147483647LL}) {
    std::string d;
    AppendInt(d, n, 3);
    std::snprintf(buf, sizeof buf, "%3lld", n);
    EXPECT_EQ(d, buf) << n;
  }
}

TEST(LogFormat, ALogIsReplacedWholeAndAFailingLogIsReportedOnce) {
  testing::ScratchFolder folder;
  const auto log = folder.path() / "debgen.cpp";
  ASSERT_TRUE(ReplaceFileContents(log, "first\n"));
  ASSERT_TRUE(ReplaceFileContents(log, "second\n"));
  ASSERT_TRUE(AppendToFile(log, "third\n"));
  EXPECT_EQ(testing::ReadFile(log), "second\nthird\n");
  // The temporary file of each replacement was renamed over the log.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            1);

  RecordingPlatform platform;
  const auto absent = folder.path() / "absent";
  LogFile missing(absent / "Histor.cpp");
  EXPECT_FALSE(missing.Replace("header\n", platform));
  EXPECT_FALSE(missing.Append("line\n", platform));
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text,
            "Impossible d'écrire le fichier " + (absent / "Histor.cpp").string());
  EXPECT_EQ(platform.messages[0].caption, "Erreur d'écriture");
  // After a write that succeeds, a new failure is reported again.
  std::filesystem::create_directories(absent);
  EXPECT_TRUE(missing.Append("line\n", platform));
  std::filesystem::remove_all(absent);
  EXPECT_FALSE(missing.Append("line\n", platform));
  EXPECT_EQ(platform.messages.size(), 2u);
}

}  // namespace
}  // namespace mas
