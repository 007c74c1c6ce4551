#include "identification/log_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "identification_fixture.h"

namespace mas {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;

std::string Printf(const char* format, double value) {
  char buf[600];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

TEST(LogFormat, ConversionsAreThoseOfPrintf) {
  std::vector<double> values = {0.0,
                                -0.0,
                                1.0,
                                -1.0,
                                0.5,
                                1e-5,
                                1e20,
                                1e-50,
                                1e50,
                                123.456,
                                -9.87654321e-7,
                                0.125,
                                2.5,
                                0.0000005,
                                0.0000015,
                                999999.5,
                                9.999995,
                                1.2345650,
                                1.2345750,
                                DBL_MAX,
                                DBL_MIN,
                                4.9e-324,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
  // Values of the logs' own ranges: genes, fitnesses, costs.
  for (int i = -60; i <= 60; ++i) {
    values.push_back(std::pow(10.0, i / 3.0) * 1.2345678901);
    values.push_back(-std::pow(7.0, i / 5.0));
  }
  for (double v : values) {
    std::string e12;
    AppendExp(e12, v, 5, 12);
    EXPECT_EQ(e12, Printf("%12.5e", v)) << v;
    std::string e8;
    AppendExp(e8, v, 6, 8);
    EXPECT_EQ(e8, Printf("%8e", v)) << v;
    std::string f;
    AppendFixed(f, v);
    EXPECT_EQ(f, Printf("%f", v)) << v;
  }
  for (long long n : {0LL, 7LL, -7LL, 54LL, 123LL, 1234LL, -1234LL, 2147483647LL}) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%3lld", n);
    std::string d3;
    AppendInt(d3, n, 3);
    EXPECT_EQ(d3, buf) << n;
    std::snprintf(buf, sizeof buf, "%lld", n);
    std::string d;
    AppendInt(d, n);
    EXPECT_EQ(d, buf) << n;
  }
}

TEST(LogFormat, ReplacingALogNeverLeavesItHalfWrittenAndFailuresAreReportedOnce) {
  ScratchFolder folder;
  const auto log = folder.path() / "debgen.cpp";
  ASSERT_TRUE(ReplaceFileContents(log, "first\n"));
  ASSERT_TRUE(ReplaceFileContents(log, "second\n"));
  EXPECT_EQ(ReadFile(log), "second\n");
  ASSERT_TRUE(AppendToFile(log, "third\n"));
  EXPECT_EQ(ReadFile(log), "second\nthird\n");
  // Only the log remains: the temporary files are renamed over it.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    ++files;
  }
  EXPECT_EQ(files, 1);

  // A folder that does not exist: every write fails, the user is told once.
  RecordingPlatform platform;
  LogFile missing(folder.path() / "absent" / "Histor.cpp");
  EXPECT_FALSE(missing.Replace("header\n", platform));
  EXPECT_FALSE(missing.Append("line\n", platform));
  EXPECT_FALSE(missing.Append("line\n", platform));
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text,
            "Impossible d'écrire le fichier " + (folder.path() / "absent" / "Histor.cpp").string());
  EXPECT_EQ(platform.messages[0].caption, "Erreur d'écriture");
  // Once it can be written again, a later failure is reported again.
  std::filesystem::create_directories(folder.path() / "absent");
  EXPECT_TRUE(missing.Append("line\n", platform));
  std::filesystem::remove_all(folder.path() / "absent");
  EXPECT_FALSE(missing.Append("line\n", platform));
  EXPECT_EQ(platform.messages.size(), 2u);
}

}  // namespace
}  // namespace mas
