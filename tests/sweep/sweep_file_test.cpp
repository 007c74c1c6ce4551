// The sweep file's grammar, the runs it describes and the metrics of a run.

#include "sweep/sweep_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "sweep/metrics.h"

namespace mas {
namespace {

std::string ErrorOf(const std::string& text) {
  try {
    SweepPlan plan(ParseSweepFile(text, "b.txt"));
  } catch (const SweepFileError& e) {
    return e.what();
  }
  return "";
}

TEST(SweepFile, RefusesABadLineNamingItAndWhatWasExpected) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"study = a.mas\n\nRs = 1, abc\n", "b.txt, ligne 3 : Rs=abc : valeur invalide pour Rs"},
      {"study = a.mas\nRsx = 1\n", "ligne 2 : Rsx=1"},
      {"study = a.mas\nRs = 1:0:3\n", "ligne 2 : pas de l'intervalle non nul attendu"},
      {"study = a.mas\nRs = 1:1:0\n", "ligne 2 : intervalle vide"},
      {"study = a.mas\nRs = 1:x:3\n", "ligne 2 : pas de l'intervalle : réel attendu, lu « x »"},
      {"study = a.mas\np = 1:0.5:3\n", "ligne 2 : p=1.5 : valeur invalide pour p (entier attendu)"},
      {"study = a.mas\np = uniform(1, 2)\nsamples = 3\n", "ligne 2 : uniform tire des réels"},
      {"study = a.mas\nRs = normal(1, -1)\nsamples = 3\n", "écart type S >= 0"},
      {"study = a.mas\nRs = 1\nRs = 2\n", "ligne 3 : le paramètre Rs est déjà donné"},
      {"study = a.mas\nstudy = b.mas\n", "ligne 2 : study est déjà donné"},
      {"study = a.mas\nsamples = 0\n", "samples : entier >= 1 attendu, lu « 0 »"},
      {"study = a.mas\ncombine = cross\n", "grid ou zip attendu, lu « cross »"},
      {"study = a.mas\nwindow = 2, 1\n", "T1 <= T2"},
      {"study = a.mas\nmetric = avg(Ias(A))\n", "métrique inconnue « avg »"},
      {"study = a.mas\nmetric = mean(Ias(A), 3)\n", "mean(COLONNE) attendu"},
      {"study = a.mas\nmetric = band(Ias(A), 60, 40)\n", "0 <= F1 < F2"},
      {"study = a.mas\nmetric = mean(Ias(A))\nmetric = mean(Ias(A))\n", "ligne 3 : métrique déjà"},
      {"study = a.mas\nBarreSel = \"0,3\n", "guillemet fermant attendu"},
      {"study = a.mas\nRs = 1,,2\n", "valeur vide"},
      {"study = a.mas\nset Rs 3\n", "set NOM=VALEUR attendu"},
      {"study = a.mas\njust words\n", "ligne 2 : NOM = valeurs"},
      {"Rs = 1\n", "study = ETUDE.mas est attendue"},
      {"study = a.mas\nRs = 1, 2\nLs = 1, 2, 3\ncombine = zip\n", "même longueur"},
      {"study = a.mas\nRs = uniform(1, 2)\n", "samples = N est attendu"},
      {"study = a.mas\nsamples = 4\n", "sans aucune distribution"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(ErrorOf(c.text).find(c.expected), std::string::npos)
        << c.text << "\n gave: " << ErrorOf(c.text);
  }
}

TEST(SweepFile, ReadsEveryDirective) {
  const SweepFile f = ParseSweepFile(
      "# a comment\n"
      "study = ../studies/a.mas   # the study\n"
      "set OutSel.Wm=1\n"
      "Rs = 1, 2.5   \n"
      "BarreSel = \"0,3\", none\n"
      "a10 = 0:0.1:0.3\n"
      "combine = zip\n"
      "window = 0.5, 1\n"
      "metric = band(Ias(A), 40, 60)\n"
      "window = all\n"
      "metric = final(Vitesse(tr/mn))\n",
      "sweeps/s.txt");
  EXPECT_EQ(f.study, "sweeps/../studies/a.mas");
  ASSERT_EQ(f.parameters.size(), 3u);
  EXPECT_EQ(f.parameters[0].values, (std::vector<std::string>{"1", "2.5"}));
  EXPECT_EQ(f.parameters[1].values, (std::vector<std::string>{"0,3", "none"}));
  // The range's values are computed from the start, the stop itself last.
  EXPECT_EQ(f.parameters[2].values, (std::vector<std::string>{"0", "0.1", "0.2", "0.3"}));
  ASSERT_EQ(f.changes.size(), 4u);
  EXPECT_EQ(f.changes[0].fixed, "OutSel.Wm=1");
  EXPECT_TRUE(f.zip);
  ASSERT_EQ(f.metrics.size(), 2u);
  EXPECT_EQ(f.metrics[0].column, "Ias(A)");
  EXPECT_EQ(f.metrics[0].label, "band(Ias(A), 40, 60) [0.5, 1]");
  EXPECT_EQ(f.metrics[0].frequency_label, "freq(Ias(A), 40, 60) [0.5, 1]");
  EXPECT_TRUE(f.metrics[0].windowed);
  EXPECT_EQ(f.metrics[1].label, "final(Vitesse(tr/mn))");
  EXPECT_FALSE(f.metrics[1].windowed);
}

TEST(SweepPlan, GridCrossesAndZipPairs) {
  const struct {
    const char* body;
    long long size;
    long long run;
    const char* changes;  // of run `run`, joined by spaces
  } cases[] = {
      // Grid: the first parameter varies slowest; a set line stays at its place.
      {"Rs = 1, 2, 3\nset tf=1\nRr = 4, 5\n", 6, 3, "Rs=2 tf=1 Rr=5"},
      {"Rs = 1, 2, 3\nRr = 7\n", 3, 2, "Rs=3 Rr=7"},
      // Zip: side by side, a single value everywhere.
      {"combine = zip\nRs = 1, 2, 3\nRr = 4, 5, 6\nLs = 9\n", 3, 1, "Rs=2 Rr=5 Ls=9"},
      // No parameter: one run of the study.
      {"set tf=1\n", 1, 0, "tf=1"},
  };
  for (const auto& c : cases) {
    const SweepPlan plan(ParseSweepFile(std::string("study = a.mas\n") + c.body, "s.txt"));
    EXPECT_EQ(plan.size(), c.size) << c.body;
    std::string joined;
    for (const std::string& change : plan.Changes(c.run))
      joined += (joined.empty() ? "" : " ") + change;
    EXPECT_EQ(joined, c.changes) << c.body;
  }
}

TEST(SweepPlan, DistributionsAreOneAxisOfSeededDraws) {
  const std::string head = "study = a.mas\nsamples = 4\nseed = 11\n";
  const SweepPlan grid(
      ParseSweepFile(head + "Rs = 1, 2, 3\nRr = uniform(1, 2)\nLs = normal(0.2, 0.01)\n", "s.txt"));
  ASSERT_EQ(grid.size(), 12);  // 3 list values x 4 draws
  // The draws axis varies fastest here and is shared by both distributions.
  EXPECT_EQ(grid.Value(0, 0), grid.Value(3, 0));
  EXPECT_NE(grid.Value(0, 1), grid.Value(1, 1));
  EXPECT_EQ(grid.Value(1, 1), grid.Value(5, 1));

  // The same seed draws the same values; a parameter added before another leaves its
  // draws alone; another seed draws others.
  const SweepPlan again(ParseSweepFile(head + "Rr = uniform(1, 2)\n", "s.txt"));
  const SweepPlan with_more(
      ParseSweepFile(head + "Lr = uniform(5, 6)\nRr = uniform(1, 2)\n", "s.txt"));
  const SweepPlan other_seed(
      ParseSweepFile("study = a.mas\nsamples = 4\nseed = 12\nRr = uniform(1, 2)\n", "s.txt"));
  for (long long i = 0; i < 4; ++i) {
    EXPECT_EQ(again.Value(i, 0), grid.Value(i, 1));
    EXPECT_EQ(with_more.Value(i, 1), grid.Value(i, 1));
    EXPECT_NE(other_seed.Value(i, 0), grid.Value(i, 1));
  }

  // The draws follow their law: uniform within [a, b), normal with its mean and spread.
  const SweepPlan many(ParseSweepFile(
      "study = a.mas\nsamples = 4000\nRr = uniform(1, 2)\nLs = normal(3, 0.5)\ncombine = zip\n",
      "s.txt"));
  double sum = 0.0, squares = 0.0;
  for (long long i = 0; i < many.size(); ++i) {
    const double u = std::stod(many.Value(i, 0));
    EXPECT_TRUE(u >= 1.0 && u < 2.0) << u;
    const double n = std::stod(many.Value(i, 1));
    sum += n;
    squares += (n - 3.0) * (n - 3.0);
  }
  EXPECT_NEAR(sum / 4000, 3.0, 0.05);
  EXPECT_NEAR(std::sqrt(squares / 4000), 0.5, 0.05);
  // The texts read back to the values drawn.
  EXPECT_EQ(ShortestText(std::stod(many.Value(7, 1))), many.Value(7, 1));
}

TEST(Metrics, ReadTheWindowOfTheRecordedSteps) {
  const std::vector<double> t{0.0, 0.1, 0.2, 0.3, 0.4};
  const std::vector<double> v{5.0, -3.0, 4.0, 0.0, 1.0};
  auto metric = [](MetricKind kind, bool windowed) {
    MetricSpec m;
    m.kind = kind;
    m.windowed = windowed;
    m.t1 = 0.1;
    m.t2 = 0.3;  // ends included: -3, 4, 0
    return m;
  };
  const struct {
    MetricKind kind;
    bool windowed;
    double expected;
  } cases[] = {
      {MetricKind::kMean, false, 7.0 / 5},
      {MetricKind::kMean, true, 1.0 / 3},
      {MetricKind::kRms, true, 5.0 / std::sqrt(3.0)},
      {MetricKind::kMin, true, -3.0},
      {MetricKind::kMax, false, 5.0},
      {MetricKind::kFinal, true, 0.0},
      {MetricKind::kFinal, false, 1.0},
  };
  for (const auto& c : cases) {
    const std::vector<double> got = ComputeMetric(metric(c.kind, c.windowed), t, v);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_DOUBLE_EQ(got[0], c.expected) << static_cast<int>(c.kind) << " " << c.windowed;
  }
  MetricSpec empty = metric(MetricKind::kMean, true);
  empty.t1 = 0.31;
  empty.t2 = 0.39;
  EXPECT_TRUE(std::isnan(ComputeMetric(empty, t, v)[0]));
}

TEST(Metrics, BandFindsTheLargestLineAndItsFrequency) {
  // 1 s at 1 kHz: 3 A at 50 Hz, 0.2 A at 44 Hz, 0.5 A at 80 Hz and an offset.
  std::vector<double> t, v;
  for (int n = 0; n < 1000; ++n) {
    const double time = n * 1e-3;
    t.push_back(time);
    v.push_back(1.0 + 3.0 * std::sin(2 * std::numbers::pi * 50 * time) +
                0.2 * std::cos(2 * std::numbers::pi * 44 * time) +
                0.5 * std::sin(2 * std::numbers::pi * 80 * time + 0.3));
  }
  const struct {
    double f1, f2, amplitude, frequency;
  } cases[] = {
      {40, 60, 3.0, 50},  // the supply line
      {40, 47, 0.2, 44},  // a sideband next to it: the window keeps the leakage out
      {70, 90, 0.5, 80},
      {0, 0.5, 1.0, 0},  // the mean, not doubled
  };
  for (const auto& c : cases) {
    MetricSpec m;
    m.kind = MetricKind::kBand;
    m.f1 = c.f1;
    m.f2 = c.f2;
    const std::vector<double> got = ComputeMetric(m, t, v);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NEAR(got[0], c.amplitude, 0.03 * c.amplitude) << c.f1;
    EXPECT_NEAR(got[1], c.frequency, 0.05) << c.f1;
  }
  MetricSpec beyond;
  beyond.kind = MetricKind::kBand;
  beyond.f1 = 600;  // above half the sampling frequency: no line
  beyond.f2 = 700;
  EXPECT_TRUE(std::isnan(ComputeMetric(beyond, t, v)[0]));
}

// A line between the lines of a short window (0.5 s: 2 Hz apart, as a broken bar's
// sideband moving with the load) is read at its own frequency, not at the nearest line.
TEST(Metrics, BandReadsALineBetweenTheWindowsLines) {
  for (const double f : {44.3, 45.7, 46.9, 47.5}) {
    std::vector<double> t, v;
    for (int n = 0; n < 20000; ++n) {  // 2 s at 10 kHz, the window the last 0.5 s
      const double time = n * 1e-4;
      t.push_back(time);
      v.push_back(0.7 * std::sin(2 * std::numbers::pi * f * time + 0.4));
    }
    MetricSpec m;
    m.kind = MetricKind::kBand;
    m.f1 = 40;
    m.f2 = 50;
    m.windowed = true;
    m.t1 = 1.5;
    m.t2 = 2.0;
    const std::vector<double> got = ComputeMetric(m, t, v);
    EXPECT_NEAR(got[1], f, 0.1) << f;
    EXPECT_NEAR(got[0], 0.7, 0.03) << f;
  }
}

}  // namespace
}  // namespace mas
