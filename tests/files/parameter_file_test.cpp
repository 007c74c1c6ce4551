#include "files/parameter_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/settings_fields.h"
#include "tests/file_size_limit.h"

namespace mas {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class ParameterFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("mas_pf_" + std::string(info->name()) + "_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Reads `text` as a parameter file into s (echo next to it).
  void Read(SimulationSettings& s, const std::string& text, Platform& platform) {
    s.ParamFileName = (dir_ / "in.mas").string();
    Spit(s.ParamFileName, text);
    ReadParameterFile(s, platform, Echo().string());
  }
  void Read(SimulationSettings& s, const std::string& text) {
    SilentPlatform platform;
    Read(s, text, platform);
  }
  fs::path Echo() const { return dir_ / "rd_echo.dat"; }
  // Everything the file stores, as the writer writes it.
  std::string Stored(const SimulationSettings& s) {
    WriteParameterFile(s, (dir_ / "snapshot.mas").string());
    return Slurp(dir_ / "snapshot.mas");
  }

  fs::path dir_;
};

// The study of tests/files/data/study_by_hand.mas, whose value lines were written by
// hand from the layout table.
SimulationSettings HandStudy() {
  SimulationSettings s;
  s.dq.Rs = 1.2, s.dq.Rr = 0.00012345678, s.dq.Ls = 0.1554, s.dq.Lr = 0.1568, s.dq.M = 0.15;
  s.dq.p = 2, s.dq.J = 0.05, s.dq.a10 = 0.001, s.dq.a20 = 0, s.dq.a30 = 0;
  s.t0 = 0, s.tf = 1.5, s.td0 = 0, s.dt = 0.0001, s.TMLI = 0.0002;
  s.E2 = 257.5, s.fs = 50;
  s.NTregI = 1, s.IqsrefM = 20, s.Kpq = -12.5, s.Kiq = 123456, s.VqsrefMax = 310;
  s.IqsFE = 0.1, s.IqsFdE = 0.01, s.IqsFdU = 5;
  s.IqsPI = true, s.IqsIP = false, s.IqsFlou = false;
  s.Kpd = 10.5, s.Kid = 5000, s.VdsrefMax = 300, s.IdsFE = 0.2, s.IdsFdE = 0.02, s.IdsFdU = 6;
  s.IdsPI = false, s.IdsIP = true, s.IdsFlou = false;
  s.NTregW = 10, s.KpW = 0.5, s.KiW = 2.25, s.TtW = 1, s.WFErr = 0.3, s.WFdErr = 0.03;
  s.WFdU = 0.7;
  s.WPI = false, s.WIP = true, s.WFlou = false, s.ChangeK = true;
  s.OutOpt = 0, s.OutStep = 10;
  s.mRs = 1.2, s.mRr = 1.1, s.mLs = 0.1554, s.mLr = 0.1568, s.mM = 0.15;
  s.mp = 2, s.mJ = 0.05, s.ma10 = 0.001, s.ma20 = 0, s.ma30 = -1.5;
  s.MLI = 1, s.VectCtrl = 1, s.Courant = 0, s.Statique = 0, s.Decouple = 1, s.Flux_typ = 4;
  s.DTC = 0, s.SpecialModel = true;
  s.Wmt = {0, 0.5, 1, 1.2}, s.Wmref = {1000, -1000, 1500.5, 0};
  s.Crt = {0.25, 0.75, 2, 3}, s.da1ref = {0, 0, 0, 0}, s.da2ref = {0.001, 0, 0, 0};
  s.da3ref = {5, -5, 0, 10}, s.dq.Crsgn = 1;
  s.Rrt = {0.3, 0, 0, 0}, s.Rrref = {1.5, 0, 0, 0};
  const int sel[32] = {1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1,
                       0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 1};
  for (int i = 0; i < 31; ++i) s.OutSel[i] = sel[i];
  s.OutSel[kOutFlou] = sel[31];
  s.OutSel[kOutWs] = 1;  // not stored: must not show in the file
  s.Wmlim1 = 1000, s.Wmlim2 = 1200, s.Wmlim3 = 1500;
  s.Idsref1 = 4, s.Idsref2 = 3, s.Idsref3 = 2.5;
  s.cage.SetCageParameters(0.0405, 0.11, 0.00035, 156, 28, 0.0095, 7.8e-05, 0.0078, 2.3e-06,
                           0.00023, 1.2e-08, 2.7e-07);
  s.VoltDrop = true, s.dVtf = 0.1, s.dVA = 50, s.dVB = 0.05, s.dVC = 0.01, s.VsPh = 1.5708;
  s.RbCasset = {0.5, 0.8, 100, 100}, s.Rbn = {3, 4, 0, -1}, s.RbRef = {0.01, 0.02, 0, 0};
  s.BarreInit = true, s.AnneauInit = false;
  s.Vcss = 20, s.tfss = 0.5;
  s.ReCasset = {1, 100, 100, 100}, s.Ren = {5, 0, 0, 0}, s.ReRef = {0.001, 0, 0, 0};
  s.Flag = 2, s.Kdeflux = 6260.8, s.WmBase = 700;
  return s;
}

const fs::path kHandFile = fs::path(MAS_SOURCE_DIR) / "tests/files/data/study_by_hand.mas";

TEST_F(ParameterFileTest, WritesTheDocumentedLayoutByteForByte) {
  const fs::path path = dir_ / "study.mas";
  WriteParameterFile(HandStudy(), path.string());
  const std::string written = Slurp(path);
  EXPECT_EQ(written, Slurp(kHandFile));
  // The two worked examples of the format, with their trailing spaces.
  EXPECT_THAT(written, HasSubstr("\n3  0        1.5      0        0.0001   0.0002 \n"));
  EXPECT_THAT(written, HasSubstr("\n2  2        0.05     0.001    0        0      \n"));
}

TEST_F(ParameterFileTest, ReadsTheHandWrittenStudyWithItsDependentUpdates) {
  SimulationSettings s;
  s.Vf = 1;
  s.Idst = {7, 7, 7, 7};
  s.ParamFileName = kHandFile.string();
  SilentPlatform platform;
  ReadParameterFile(s, platform, Echo().string());

  EXPECT_TRUE(s.FileLoaded);
  EXPECT_EQ(s.dq.Rr, 0.00012346);
  EXPECT_EQ(s.Kiq, 123460.0);
  // Records 26 and 27 hold the q and the d axis apart.
  EXPECT_TRUE(s.IqsPI && !s.IqsIP && !s.IqsFlou);
  EXPECT_TRUE(!s.IdsPI && s.IdsIP && !s.IdsFlou);
  EXPECT_EQ(s.OutSel[kOutangphi_s_Corr] + s.OutSel[kOutFlou], 2);
  EXPECT_EQ(s.Rbn[3], -1);
  // Models and observer follow their records; what the file does not store is kept.
  EXPECT_EQ(s.cage.Rs, 1.2);
  EXPECT_EQ(s.cage.J, 0.05);
  EXPECT_EQ(s.cage.h, 0.0001);
  EXPECT_EQ(s.observer.h, 1 * 0.0002);
  EXPECT_EQ(s.observer.RrAct, 1.1);
  EXPECT_EQ(s.observer.mp, 2);
  EXPECT_EQ(s.cage.Crsgn, 1);
  EXPECT_EQ(s.cage.Lb, 2.7e-07);
  EXPECT_EQ(s.OutSel[kOutWs], 0);
  EXPECT_EQ(s.Vf, 1);
  EXPECT_EQ(s.Idst[0], 7);
  EXPECT_TRUE(s.CageArraysAllocated);
  EXPECT_EQ(s.cage.Rb, std::vector<double>(28, 7.8e-05));
  EXPECT_EQ(s.cage.Re, std::vector<double>(28, 2.3e-06));
}

// Every stored field gets a value of its own; a write and a read give it back with reals
// rounded to five significant digits (as printf "%.5g" and strtod round them).
TEST_F(ParameterFileTest, WriteThenReadGivesEveryFieldBackWithRealsRoundedToFiveDigits) {
  SimulationSettings original;
  int k = 0;
  for (const auto& record : ParameterRecords(original)) {
    for (const auto& f : record.fields) {
      ++k;
      if (f.type == ValueType::kReal) {
        f.real() = (k % 2 ? -1 : 1) * (1 + k * 0.0123456789) * std::pow(10.0, k % 9 - 4);
      } else if (f.type == ValueType::kFlag) {
        f.flag() = k % 2 == 1;
      } else {
        f.integer() = k % 3 == 0 ? INT_MAX - k : (k % 3 == 1 ? INT_MIN + k : -k * 1000);
      }
    }
  }
  const fs::path path = dir_ / "round.mas";
  WriteParameterFile(original, path.string());
  SimulationSettings back;
  back.ParamFileName = path.string();
  SilentPlatform platform;
  ReadParameterFile(back, platform, Echo().string());

  auto want = ParameterRecords(original);
  auto got = ParameterRecords(back);
  ASSERT_EQ(want.size(), got.size());
  for (std::size_t r = 0; r < want.size(); ++r) {
    for (std::size_t i = 0; i < want[r].fields.size(); ++i) {
      const FieldRef& w = want[r].fields[i];
      const FieldRef& g = got[r].fields[i];
      SCOPED_TRACE(std::string(w.name));
      if (w.type == ValueType::kReal) {
        char text[64];
        std::snprintf(text, sizeof text, "%.5g", w.real());
        EXPECT_EQ(g.real(), std::strtod(text, nullptr));
      } else if (w.type == ValueType::kFlag) {
        EXPECT_EQ(g.flag(), w.flag());
      } else {
        EXPECT_EQ(g.integer(), w.integer());
      }
    }
  }
}

// The largest doubles round to 1.7977e+308 at five digits, beyond the range of a double,
// which the reader refuses: the writer must give them as the largest five-digit value that
// reads back, or a study holding one could be saved but never opened again.
TEST_F(ParameterFileTest, LargestFiniteRealsAreWrittenSoThatTheyReadBack) {
  const struct {
    double value;
    const char* written;
    double read;
  } cases[] = {
      {DBL_MAX, "1.7976e+308", 1.7976e308},
      {-DBL_MAX, "-1.7976e+308", -1.7976e308},
      {1.79765e308, "1.7976e+308", 1.7976e308},
      {1.79764e308, "1.7976e+308", 1.7976e308},
      {HUGE_VAL, "inf", HUGE_VAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    SimulationSettings s;
    s.dq.Rs = c.value;
    const std::string text = Stored(s);
    EXPECT_THAT(text, HasSubstr("\n1  " + std::string(c.written) + " "));
    SimulationSettings back;
    ASSERT_NO_THROW(Read(back, text));
    EXPECT_EQ(back.dq.Rs, c.read);
  }
}

TEST_F(ParameterFileTest, ReaderToleratesOrderLayoutAndRepetition) {
  struct Case {
    const char* what;
    std::string text;
    std::function<void(const SimulationSettings&)> check;
  };
  const std::vector<Case> cases = {
      {"records out of order, split over lines, two on a line, CR LF",
       "4 230\r\n 50 3 0 1.5\r\n0\r\n0.0001 0.0002\r\n8 fin\r\n",
       [](const SimulationSettings& s) {
         EXPECT_EQ(s.E2, 230);
         EXPECT_EQ(s.fs, 50);
         EXPECT_EQ(s.tf, 1.5);
         EXPECT_EQ(s.TMLI, 0.0002);
         EXPECT_EQ(s.dq.h, 0.0001);
       }},
      {"a repeated record overwrites, a missing one keeps its values", "4 1 2\n4 3 4\n",
       [](const SimulationSettings& s) {
         EXPECT_EQ(s.E2, 3);
         EXPECT_EQ(s.fs, 4);
         EXPECT_EQ(s.Kdeflux, 6260.8);
       }},
      {"the end of the file inside a record keeps the missing values and updates models",
       "1 2.5 3.5",
       [](const SimulationSettings& s) {
         EXPECT_EQ(s.dq.Rs, 2.5);
         EXPECT_EQ(s.dq.Rr, 3.5);
         EXPECT_EQ(s.dq.Ls, 0.7);
         EXPECT_EQ(s.cage.Rs, 2.5);
       }},
      {"record 5 before record 3 takes the previous TMLI", "5 2 0 0 0 0 0 0 0\n3 0 1 0 1e-5 1e-3\n",
       [](const SimulationSettings& s) {
         EXPECT_EQ(s.observer.h, 2 * 0.0004);
         EXPECT_EQ(s.TMLI, 1e-3);
       }},
      {"strtod's forms of reals, a '+' on integers, a byte-order mark",
       "\xEF\xBB\xBF"
       "1 +2 .5 5. -0 1E-05\n2 +3 inf -inf nan 0\n",
       [](const SimulationSettings& s) {
         EXPECT_EQ(s.dq.Rs, 2);
         EXPECT_EQ(s.dq.Rr, 0.5);
         EXPECT_EQ(s.dq.Ls, 5);
         EXPECT_TRUE(std::signbit(s.dq.Lr));
         EXPECT_EQ(s.dq.M, 1e-05);
         EXPECT_EQ(s.dq.p, 3);
         EXPECT_EQ(s.dq.J, INFINITY);
         EXPECT_EQ(s.dq.a10, -INFINITY);
         EXPECT_TRUE(std::isnan(s.dq.a20));
       }},
      {"comments only: empty, glued to the code, with CR LF", "8\n8abc\r\n8 fin\r\n",
       [](const SimulationSettings& s) { EXPECT_EQ(s.E2, 0); }},
      {"a comment far longer than 79 characters, then a record",
       "8" + std::string(5000, 'x') + "\n4 7 8\n",
       [](const SimulationSettings& s) { EXPECT_EQ(s.E2, 7); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimulationSettings s;
    s.TMLI = 0.0004;
    s.dq.Ls = 0.7;
    s.cage.Nr = 3;
    s.cage.RbSain = 0.1;
    s.cage.ReSain = 0.2;
    s.cage.AllocateArrays();
    s.cage.Rb[1] = 9.0;  // a bar broken by a previous run
    s.CageArraysAllocated = true;
    Read(s, c.text);
    c.check(s);
    EXPECT_TRUE(s.FileLoaded);
    EXPECT_TRUE(s.CageArraysAllocated);
    EXPECT_EQ(s.cage.Rb, std::vector<double>(3, 0.1));
    EXPECT_EQ(s.cage.Re, std::vector<double>(3, 0.2));
  }
}

TEST_F(ParameterFileTest, FailedReadLeavesTheSettingsUntouched) {
  const std::string name = (dir_ / "in.mas").string();
  const std::string plain = "Erreur de lecture !!! " + name;
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"1 9 9 9 9 9\n13 1\n", plain},
      {"1 9 9 9 9 9\n0\n", plain},
      {"39 1 2\n", plain},
      {"4 1 2 -1\n", plain},
      {"99999999999\n", plain},
      {"4 1 2\nabc\n", plain + " : ligne 2 : code d'enregistrement attendu, lu « abc »"},
      {"3x 0 1 0 1 1\n", plain + " : ligne 1 : code d'enregistrement attendu, lu « 3x »"},
      {"8 a\n2 2.5 1 1 1 1\n",
       plain + " : ligne 2, enregistrement 2, champ p : entier attendu, lu « 2.5 »"},
      {"26 1\n 2 0\n",
       plain + " : ligne 2, enregistrement 26, champ IqsIP : 0 ou 1 attendu, lu « 2 »"},
      {"10 0 3000000000\n",
       plain + " : ligne 1, enregistrement 10, champ OutStep : entier attendu, lu « 3000000000 » "
               "(hors limites)"},
      {"4 1e400 0\n", plain + " : ligne 1, enregistrement 4, champ E2 : réel attendu, lu « 1e400 » "
                              "(hors limites)"},
      {"4 1,5 0\n", plain + " : ligne 1, enregistrement 4, champ E2 : réel attendu, lu « 1,5 »"},
      {"4 0 " + std::string(100, 'z') + "\n",
       plain + " : ligne 1, enregistrement 4, champ fs : réel attendu, lu « " +
           std::string(40, 'z') + "… »"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    SimulationSettings s = HandStudy();
    s.cage.AllocateArrays();
    s.cage.Rb[0] = 5.0;
    const std::string before = Stored(s);
    try {
      Read(s, c.text);
      ADD_FAILURE() << "no error";
    } catch (const ParameterFileError& e) {
      EXPECT_EQ(e.what(), c.message);
      EXPECT_EQ(e.caption, "Erreur");
    }
    EXPECT_EQ(Stored(s), before);
    EXPECT_FALSE(s.FileLoaded);
    EXPECT_FALSE(s.CageArraysAllocated);
    EXPECT_EQ(s.cage.Rb[0], 5.0);
  }
}

TEST_F(ParameterFileTest, FilesThatCannotBeOpenedAreReported) {
  SimulationSettings s;
  SilentPlatform platform;
  s.ParamFileName = (dir_ / "missing.mas").string();
  try {
    ReadParameterFile(s, platform, Echo().string());
    ADD_FAILURE() << "no error";
  } catch (const ParameterFileError& e) {
    EXPECT_EQ(e.what(), "Impossible d'ouvrir le fichier " + s.ParamFileName);
    EXPECT_EQ(e.caption, "Erreur");
  }
  // An endless device is no study: refused after a bounded read, not when memory runs out.
  s.ParamFileName = "/dev/zero";
  try {
    ReadParameterFile(s, platform, Echo().string());
    ADD_FAILURE() << "no error";
  } catch (const ParameterFileError& e) {
    EXPECT_STREQ(e.what(), "Le fichier /dev/zero dépasse 16 Mo : ce n'est pas un fichier d'étude");
    EXPECT_EQ(e.caption, "Erreur");
  }
  EXPECT_FALSE(s.FileLoaded);
}

// The echo goes through the file replacement and never replaces the study being read, be it
// named as the echo or linked from it; an echo that cannot be written is only a warning.
TEST_F(ParameterFileTest, TheEchoNeverReplacesTheStudyAndItsFailureIsOnlyAWarning) {
  const fs::path study = dir_ / "rd_echo.dat";
  const std::string text = "8 titre\n4 230.123456 50\n";
  fs::create_symlink(study, dir_ / "link.dat");
  const struct {
    const char* what;
    fs::path echo;
    const char* warning;  // nullptr: the echo is written
  } cases[] = {
      {"echo named as the study", study, "est le fichier lu"},
      {"echo linked to the study", dir_ / "link.dat", "est le fichier lu"},
      {"echo in a missing folder", dir_ / "no/such/dir/rd_echo.dat",
       "Impossible d'écrire le fichier d'écho"},
      {"echo beside the study", dir_ / "echo.dat", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Spit(study, text);
    SimulationSettings s;
    s.ParamFileName = study.string();
    RecordingPlatform platform;
    ReadParameterFile(s, platform, c.echo.string());
    EXPECT_TRUE(s.FileLoaded);
    EXPECT_EQ(s.E2, 230.123456);
    EXPECT_EQ(Slurp(study), text);  // never cut to five digits by its echo
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.dat"));
    if (c.warning != nullptr) {
      ASSERT_EQ(platform.messages.size(), 1u);
      EXPECT_THAT(platform.messages[0].text, HasSubstr(c.warning));
      EXPECT_EQ(platform.messages[0].caption, "Attention");
    } else {
      EXPECT_TRUE(platform.messages.empty());
      EXPECT_THAT(Slurp(c.echo), HasSubstr("4  230.12"));
    }
  }

  // A link planted under the echo's name towards another file: the echo takes the link's
  // place and the other file stays as it was.
  const fs::path other = dir_ / "other.mas";
  Spit(other, "precious\n");
  fs::create_symlink(other, dir_ / "planted.dat");
  SimulationSettings s;
  s.ParamFileName = study.string();
  RecordingPlatform platform;
  ReadParameterFile(s, platform, (dir_ / "planted.dat").string());
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(Slurp(other), "precious\n");
  EXPECT_FALSE(fs::is_symlink(dir_ / "planted.dat"));
  EXPECT_THAT(Slurp(dir_ / "planted.dat"), HasSubstr("4  230.12"));
}

TEST_F(ParameterFileTest, ATimeBaseOrSupplyChangeMarksTheExperimentalTablesStale) {
  struct Case {
    const char* text;
    bool still_ready;
  };
  const Case cases[] = {
      {"3 0 1 0 1e-5 1e-4\n10 0 10\n4 230 50\n", true},  // the time base the tables fit
      {"3 0 1 0 2e-5 1e-4\n", false},                    // another step
      {"3 0 2 0 1e-5 1e-4\n", false},                    // another end time
      {"10 0 20\n", false},                              // another recording step
      {"4 230 60\n", false},                             // another supply period
      {"8 comments only\n", true},
  };
  for (const Case& c : cases) {
    SimulationSettings s;
    s.t0 = 0, s.tf = 1, s.dt = 1e-5, s.OutStep = 10, s.fs = 50;
    s.ExpTableReady = true;
    RecordingPlatform platform;
    Read(s, c.text, platform);
    EXPECT_EQ(s.ExpTableReady, c.still_ready) << c.text;
  }
}

TEST_F(ParameterFileTest, EscapeEndsTheReadingKeepingTheRecordsRead) {
  SimulationSettings s;
  RecordingPlatform platform;
  platform.escape_after_polls = 2;
  Read(s, "8 titre\n4 230 50\n3 0 1 0 1e-5 1e-4\n", platform);
  EXPECT_EQ(platform.escape_polls, 3);
  EXPECT_EQ(s.E2, 230);
  EXPECT_EQ(s.tf, 0);
  EXPECT_TRUE(s.FileLoaded);
  EXPECT_TRUE(s.CageArraysAllocated);

  RecordingPlatform never;
  Read(s, "8 titre\n4 230 50\n3 0 1 0 1e-5 1e-4\n", never);
  EXPECT_EQ(never.escape_polls, 4);  // once per record, and once more to find the end
  EXPECT_EQ(s.tf, 1);
}

TEST_F(ParameterFileTest, EchoRepeatsCommentsAndShowsTheStoredValues) {
  SimulationSettings s;
  std::string text =
      "8 titre\r\n"
      "8\n"
      "3  0 1.5 0 1e-4 +2e-4\n"
      "26 1 0 1\n"
      "28 0.0405 0.11 0.00035 156 28 0.0095 7.8e-05 0.0078 2.3e-06 0.00023 1.2e-08 2.7e-07\n"
      "38 2 6260.8 700\n"
      "23";
  for (int i = 0; i < 32; ++i) text += i % 3 ? " 0" : " 1";
  text += "\n8abc\n1 7";
  Read(s, text);
  EXPECT_EQ(
      Slurp(Echo()),
      "8 -------------------- retranscription de la lecture  ------------------\n"
      "8 titre\n"
      "8\n"
      "3  0        1.5      0        0.0001   0.0002 \n"
      "26 1        0        1      \n"
      "28 0.0405   0.11     0.00035  156      28       0.0095   7.8e-05  0.0078   "
      "2.3e-06  0.00023   1.2e-08  2.7e-07\n"
      "38 2         6260.8    700     \n"
      "23 1        0        0        1        0        0        1        0        0        "
      "1        0        0        1        0        0        1        0        0        1        "
      "0        0        1        0        0      \n"
      "1        0        0        1        0        0        1        0      \n"
      "8abc\n"
      "1  7        0        0        0        0      \n");
}

TEST_F(ParameterFileTest, EchoStopsAtTheFailingRecord) {
  SimulationSettings s;
  EXPECT_THROW(Read(s, "4 1 2\n13\n4 5 6\n"), ParameterFileError);
  EXPECT_EQ(Slurp(Echo()),
            "8 -------------------- retranscription de la lecture  ------------------\n"
            "4  1        2      \n"
            "13");
}

TEST_F(ParameterFileTest, FailedWriteKeepsThePreviousFileAndLeavesNoTemporary) {
  const SimulationSettings s = HandStudy();
  auto expect_write_error = [&](const std::string& path) {
    try {
      WriteParameterFile(s, path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const ParameterFileError& e) {
      EXPECT_EQ(e.what(), "Impossible d'ouvrir le fichier " + path);
      EXPECT_EQ(e.caption, "Erreur d'écriture");
    }
  };
  expect_write_error((dir_ / "no/such/dir/study.mas").string());

  fs::create_directory(dir_ / "folder");  // a folder cannot be replaced by the file
  expect_write_error((dir_ / "folder").string());
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));

  // A disk that fills up half-way.
  const fs::path previous = dir_ / "previous.mas";
  Spit(previous, "8 previous\n");
  {
    const testing::FileSizeLimit full_disk(1000);
    ASSERT_TRUE(full_disk.active());
    expect_write_error(previous.string());
  }
  EXPECT_EQ(Slurp(previous), "8 previous\n");

  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_)) left.push_back(e.path().filename().string());
  EXPECT_THAT(left, ::testing::UnorderedElementsAre("folder", "previous.mas"));
}

}  // namespace
}  // namespace mas
