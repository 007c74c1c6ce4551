#include "cli/dsvpwm_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "files/parameter_file.h"
#include "tests/cli/command_fixture.h"

namespace mas {
namespace {

namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;

class DsvpwmCommandTest : public testing::CommandTest {
 protected:
  // The line of `out_` that starts with `prefix`, without the prefix.
  std::string LineAfter(const std::string& prefix) const {
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    ADD_FAILURE() << "no line starting with \"" << prefix << "\" in\n" << out_.str();
    return {};
  }

  // The row of leg states of leg k printed by `show`.
  std::string LegRow(int k) const {
    const std::string text = out_.str();
    std::size_t at = text.find("\nÉtats des bras");
    for (int line = 0; line <= k && at != std::string::npos; ++line) at = text.find('\n', at + 1);
    if (at == std::string::npos) return {};
    const std::string row = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    EXPECT_EQ(row.rfind("K" + std::to_string(k) + "  ", 0), 0u) << row;
    return row.substr(4);
  }
};

TEST_F(DsvpwmCommandTest, ShowPrintsTheSectorInstantsAndStatesOfAHandComputedReference) {
  // Reference at 36 degrees (sector 2) with m = 0.25, E/2 = 311 V, TMLI = 100 us, computed
  // here from the modulator's description: projections onto the dual vectors, the sector-2
  // selection (P1, P2, P5, -P0) and the type-1 instants.
  ASSERT_EQ(Mas({"dsvpwm", "show", "--theta", "0.1", "--mref", "0.25", "--type", "1"}), 0)
      << err_.str();
  const double E2 = 311.0, TMLI = 1e-4, theta = 0.1 * 2 * kPi;
  const double Vdsref = 0.25 * E2 * (4 / kPi) * std::sqrt(3.0);
  const double Valphas = std::cos(theta) * Vdsref, Vbetas = std::sin(theta) * Vdsref;
  const std::array<double, 6> X = {2 - std::sqrt(3.0), std::sqrt(3.0) - 1, 1, 1,
                                   std::sqrt(3.0) - 1, 2 - std::sqrt(3.0)};
  const std::array<double, 6> Y = {
      -1, 1 - std::sqrt(3.0), std::sqrt(3.0) - 2, 2 - std::sqrt(3.0), std::sqrt(3.0) - 1, 1};
  std::array<double, 6> P{};
  for (int k = 0; k < 6; ++k) P[k] = TMLI / (2 * E2) * (Valphas * X[k] + Vbetas * Y[k]);
  const double T1 = P[1], T2 = P[2], T3 = P[5], T4 = -P[0];
  const double T0 = 2 * TMLI - (T1 + T2 + T3 + T4);
  const double z = T0 / 8, y = TMLI / 2 - T0 / 8, w = T1 / 2 + T0 / 8, v = T4 / 2 + T0 / 8;
  const std::array<double, 6> A = {y, z, z, y, z, w};
  const std::array<double, 6> B = {y, y, z, y, v, z};

  EXPECT_EQ(LineAfter("Secteur          : "), "2");
  EXPECT_EQ(LineAfter("Vdsref           : "), "171.46 V (Vqsref = 0 V)");
  const double quantum_us = TMLI / 2000 * 1e6;
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE("K" + std::to_string(k));
    std::istringstream fields(LineAfter("K" + std::to_string(k) + "    "));
    int code = -1;
    std::string word;
    double a_us = 0, b_us = 0;
    fields >> code >> word >> a_us >> b_us;
    EXPECT_EQ(code, 1);
    // Printed instants are the quantised ones: a whole number of quanta, below the exact
    // instant by less than one quantum.
    for (const auto& [printed, exact] :
         {std::pair{a_us, A[k] * 1e6}, std::pair{b_us, B[k] * 1e6}}) {
      EXPECT_NEAR(printed / quantum_us, std::round(printed / quantum_us), 1e-6);
      EXPECT_LE(printed, exact);
      EXPECT_GT(printed, exact - quantum_us);
    }
  }
  // K0 over 80 columns of 2.5 us: on until A = 31.85, off until TMLI - B = 68.15, on until
  // TMLI + B = 131.85, off until 2 TMLI - A = 168.15, then on.
  EXPECT_EQ(LegRow(0), std::string(13, '1') + std::string(15, '0') + std::string(25, '1') +
                           std::string(15, '0') + std::string(12, '1'));
  EXPECT_NE(out_.str().find("une colonne = 2.5 µs"), std::string::npos);
}

TEST_F(DsvpwmCommandTest, ShowPrintsHeldLegsAsConstantRowsAndTakesTheTiming) {
  // Discontinuous B1 in sector 1 clamps K0 high and K4 low for the whole period.
  ASSERT_EQ(Mas({"dsvpwm", "show", "--theta", "0", "--mref", "0.25", "--type", "4", "--tmli",
                 "5e-5", "--e2", "200"}),
            0)
      << err_.str();
  EXPECT_EQ(LineAfter("Secteur          : "), "1");
  EXPECT_EQ(LegRow(0), std::string(kLegRowColumns, '1'));
  EXPECT_EQ(LegRow(4), std::string(kLegRowColumns, '0'));
  EXPECT_EQ(LineAfter("K0    "), "3 haut             0           0");
  // Vdsref = m E/2 (4/pi) sqrt(3) with the E/2 given; columns of 2 TMLI/80.
  EXPECT_EQ(LineAfter("Vdsref           : "), "110.27 V (Vqsref = 0 V)");
  EXPECT_NE(out_.str().find("une colonne = 1.25 µs"), std::string::npos);
}

TEST_F(DsvpwmCommandTest, ShowPrintsAHugeVdsrefWhole) {
  // E/2 = 1e200 V keeps every instant finite; Vdsref then has 201 digits before the point.
  ASSERT_EQ(
      Mas({"dsvpwm", "show", "--theta", "0.1", "--mref", "0.5", "--type", "1", "--e2", "1e200"}), 0)
      << err_.str();
  const std::string line = LineAfter("Vdsref           : ");
  const std::size_t unit = line.find(" V (Vqsref = 0 V)");
  ASSERT_NE(unit, std::string::npos) << line;
  EXPECT_EQ(line.find_first_not_of("0123456789."), unit) << line;
  EXPECT_NEAR(std::stod(line.substr(0, unit)) / (0.5e200 * (4 / kPi) * std::sqrt(3.0)), 1.0, 1e-12);
}

TEST_F(DsvpwmCommandTest, BadArgumentsExitWithTwoAndWriteNothing) {
  const std::string table = Path("t.dat");
  const std::vector<std::vector<std::string>> cases = {
      {"dsvpwm"},
      {"dsvpwm", "show", "--mref", "0.2", "--type", "1"},
      {"dsvpwm", "show", "--theta", "1.5", "--mref", "0.2", "--type", "1"},
      {"dsvpwm", "show", "--theta", "nan", "--mref", "0.2", "--type", "1"},
      {"dsvpwm", "show", "--theta", "0.1", "--mref", "-1.01", "--type", "1"},
      {"dsvpwm", "show", "--theta", "0.1", "--mref", "0.2", "--type", "6"},
      {"dsvpwm", "show", "--theta", "0.1", "--mref", "0.2", "--type", "1.5"},
      {"dsvpwm", "show", "--theta", "0.1", "--mref", "0.2", "--type", "1", "--tmli", "0"},
      {"dsvpwm", "simulate", "--mref", "0.2", "--type", "1", "--tf", "1e-3", "-o", table},
      {"dsvpwm", "simulate", "--mref", "0.2", "--type", "1", "--dt", "abc", "--tf", "1e-3", "-o",
       table},
      {"dsvpwm", "simulate", "--mref", "0.2", "--type", "9", "--dt", "1e-5", "--tf", "1e-3", "-o",
       table},
      {"run", "--dsv-type", "6"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(Mas(args), 2);
  }
  EXPECT_EQ(out_.str(), "");
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_FALSE(fs::exists(table));
}

TEST_F(DsvpwmCommandTest, SimulateWritesTheTableAndStartsTheViewerOnRequest) {
  const std::string table = Path("t.dat");
  ASSERT_EQ(Mas({"dsvpwm", "simulate", "--mref", "0.5", "--type", "1", "--dt", "1e-5", "--tf",
                 "2e-3", "-o", table, "--viewer"}),
            0)
      << err_.str();
  ASSERT_EQ(platform_.started_processes.size(), 1u);
  EXPECT_EQ(platform_.started_processes[0], ViewerCommandLine(table));
  const std::string text = ReadAll(table);
  EXPECT_EQ(text.rfind("time(s)", 0), 0u);
  const auto lines = std::count(text.begin(), text.end(), '\n');
  EXPECT_GT(lines, 100);
  EXPECT_EQ(LineAfter("Lignes écrites   : "),
            std::to_string(lines - 1) + " (dt = 1e-05 s, tf = 0.002 s)");

  // The type reaches the modulator of the simulation; without --output the table goes to
  // the working directory under its usual name.
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  const int status =
      Mas({"dsvpwm", "simulate", "--mref", "0.5", "--type", "4", "--dt", "1e-5", "--tf", "2e-3"});
  fs::current_path(previous);
  EXPECT_EQ(status, 0);
  EXPECT_NE(ReadAll(Path(kDsvpwmDebugFileName)), text);
  EXPECT_EQ(platform_.started_processes.size(), 1u);
  EXPECT_TRUE(platform_.messages.empty());
}

TEST_F(DsvpwmCommandTest, RefusedSimulationExitsWithThreeAndTableFailureWithOne) {
  const std::string table = Path("t.dat");
  struct Case {
    std::string dt, tf, output;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"0", "1e-3", table, 3, "Pas de calcul invalide"},
      {"-1e-5", "1e-3", table, 3, "Pas de calcul invalide"},
      {"1e-300", "1", table, 3, "Pas de calcul invalide"},
      {"1e-9", "100", table, 3, "Paramètres temporels invalides : plus d'un milliard de pas"},
      {"1e-5", "1e-3", Path("missing/t.dat"), 1, "Impossible d'ouvrir le fichier "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dt + " " + c.output);
    platform_.messages.clear();
    EXPECT_EQ(Mas({"dsvpwm", "simulate", "--mref", "0.2", "--type", "1", "--dt", c.dt, "--tf", c.tf,
                   "-o", c.output, "--viewer"}),
              c.status);
    ASSERT_EQ(platform_.messages.size(), 1u);
    EXPECT_EQ(platform_.messages[0].caption, "Erreur");
    EXPECT_EQ(platform_.messages[0].text.rfind(c.message, 0), 0u) << platform_.messages[0].text;
    EXPECT_FALSE(fs::exists(c.output));
  }
  EXPECT_TRUE(platform_.started_processes.empty());
  EXPECT_EQ(out_.str(), "");
}

TEST_F(DsvpwmCommandTest, NonFiniteInstantsAreRefusedAndCtrlCKeepsThePartialTable) {
  const std::string table = Path("t.dat");
  for (const std::string command : {"show", "simulate"}) {
    SCOPED_TRACE(command);
    platform_.messages.clear();
    std::vector<std::string> args = {"dsvpwm", command, "--mref", "1",
                                     "--type", "1",     "--e2",   "1e308"};
    const std::vector<std::string> more =
        command == "show" ? std::vector<std::string>{"--theta", "0.1"}
                          : std::vector<std::string>{"--dt", "1e-6", "--tf", "1e-3", "-o", table};
    args.insert(args.end(), more.begin(), more.end());
    EXPECT_EQ(Mas(args), 2);
    ASSERT_EQ(platform_.messages.size(), 1u);
    EXPECT_NE(platform_.messages[0].text.find("donnent des instants non finis"), std::string::npos);
    EXPECT_EQ(out_.str(), "");
    EXPECT_FALSE(fs::exists(table));
  }

  // Ctrl-C at the second poll: 130, the lines written so far in place, no viewer.
  platform_.messages.clear();
  platform_.escape_after_polls = 1;
  EXPECT_EQ(Mas({"dsvpwm", "simulate", "--mref", "0.2", "--type", "1", "--dt", "1e-6", "--tf", "1",
                 "-o", table, "--viewer"}),
            130);
  std::ifstream in(table);
  const auto lines = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
  EXPECT_EQ(lines, 1 + 2 * kStandalonePollLines);
  EXPECT_NE(out_.str().find("interrompue par Ctrl-C"), std::string::npos);
  EXPECT_TRUE(platform_.started_processes.empty());
  EXPECT_EQ(platform_.progress.front(), 0);
  EXPECT_EQ(platform_.progress.back(), 100);
}

TEST_F(DsvpwmCommandTest, DsvTypeSetsTheModulatorOfTheRun) {
  // Open-loop supply through the double space-vector modulator (dsvPWM is not stored in
  // the study, so it comes with --set).
  const std::string study = WriteStudy(
      {"Rs=1.2", "Rr=1", "Ls=0.16", "Lr=0.16", "M=0.15", "p=2", "J=0.03", "tf=0.004", "dt=2e-6",
       "TMLI=1e-4", "MLI=0", "OutStep=10", "E2=180", "fs=50", "OutSel.Ias=1", "OutSel.Vas=1"});
  auto run = [&](const std::vector<std::string>& type_args, const std::string& name) {
    std::vector<std::string> args = {"run", study, "--set", "dsvPWM=1", "-o", Path(name)};
    args.insert(args.end(), type_args.begin(), type_args.end());
    EXPECT_EQ(Mas(args), 0) << err_.str();
    return ReadAll(Path(name));
  };
  const std::string carrier = run({"--dsv-type", "0"}, "t0.dat");
  const std::string b1 = run({"--dsv-type", "4"}, "t4.dat");
  const std::string b1_again = run({"--dsv-type", "4"}, "t4b.dat");
  const std::string continuous = run({"--dsv-type", "1"}, "t1.dat");
  const std::string without_option = run({}, "tdefault.dat");
  EXPECT_NE(carrier, b1);
  EXPECT_NE(continuous, b1);
  EXPECT_EQ(b1, b1_again);
  EXPECT_EQ(without_option, continuous);
}

}  // namespace
}  // namespace mas
