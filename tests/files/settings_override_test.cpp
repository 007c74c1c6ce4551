#include "files/settings_override.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace mas {
namespace {

SimulationSettings Applied(const std::vector<std::string>& texts, SimulationSettings s = {}) {
  ApplyOverrides(s, ParseOverrides(texts));
  return s;
}

// The message of the error an override raises, or "" when it is accepted.
std::string ErrorOf(const std::vector<std::string>& texts, SimulationSettings s = {}) {
  try {
    ApplyOverrides(s, ParseOverrides(texts));
  } catch (const OverrideError& e) {
    return e.what();
  }
  return "";
}

TEST(SetOverride, StoresEachValueFormOfItsFieldType) {
  struct Case {
    const char* text;
    std::function<double(const SimulationSettings&)> read;
    double expected;
  };
  const std::vector<Case> cases = {
      {"dt=1e-5", [](const auto& s) { return s.dt; }, 1e-5},
      {"E2=-2.5E2", [](const auto& s) { return s.E2; }, -250.0},
      {"tf=+3", [](const auto& s) { return s.tf; }, 3.0},
      {"Wmt1=.5", [](const auto& s) { return s.Wmt[0]; }, 0.5},
      {"Idst4=5.", [](const auto& s) { return s.Idst[3]; }, 5.0},
      {"p=2", [](const auto& s) { return s.dq.p; }, 2},
      {"NTregI=7", [](const auto& s) { return s.NTregI; }, 7},
      {"Flux_typ=10", [](const auto& s) { return s.Flux_typ; }, 10},
      {"ExpWmCol=0", [](const auto& s) { return s.ExpWmCol; }, 0},
      {"Rbn3=2147483647", [](const auto& s) { return s.Rbn[2]; }, 2147483647.0},
      {"Triangle=1", [](const auto& s) { return s.Triangle; }, 1},
      {"CheckOverflow=0", [](const auto& s) { return s.CheckOverflow; }, 0},
      {"Vf=1", [](const auto& s) { return s.Vf; }, 1},
      {"OutSel.Wm=1", [](const auto& s) { return s.OutSel[kOutWm]; }, 1},
      {"OutSel.Flou=1", [](const auto& s) { return s.OutSel[kOutFlou]; }, 1},
      {"OutSelExp.MaxIas=1", [](const auto& s) { return s.OutSelExp[kMaxIas]; }, 1},
      {"OutSelCage.Thetar=1", [](const auto& s) { return s.OutSelCage[kCageThetar]; }, 1},
      {"OutSelStator.WmEst=1", [](const auto& s) { return s.OutSelStator[kStatWmEst]; }, 1},
      {"OutSensor=1", [](const auto& s) { return s.OutSensor; }, 1},
      {"GenX.sigma=1", [](const auto& s) { return s.GenX[3]; }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.read(Applied({c.text})), c.expected);
  }
  // Text is taken as is: spaces and '=' included, and may be emptied.
  EXPECT_EQ(Applied({"OutFileName=run 1=a.dat"}).OutFileName, "run 1=a.dat");
  EXPECT_EQ(Applied({"ExpNom="}).ExpNom, "");
}

TEST(SetOverride, RefusesBadInputNamingTheFieldAndWhatWasExpected) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"dt=abc", "--set dt=abc : valeur invalide pour dt (réel attendu)"},
      {"dt=", "valeur invalide pour dt (réel attendu)"},
      {"dt=1e-5x", "valeur invalide pour dt (réel attendu)"},
      {"dt= 1", "valeur invalide pour dt"},
      {"dt=0x10", "valeur invalide pour dt"},
      {"dt=1,5", "(réel attendu, avec un point décimal)"},
      {"dt=inf", "(réel fini attendu)"},
      {"dt=nan", "(réel fini attendu)"},
      {"dt=1e999", "valeur hors limites pour dt"},
      {"tf=+-1", "valeur invalide pour tf"},
      {"p=2.5", "valeur invalide pour p (entier attendu)"},
      {"p=1e3", "valeur invalide pour p (entier attendu)"},
      {"p=3000000000", "valeur hors limites pour p (entier de 32 bits attendu)"},
      {"Triangle=2", "valeur invalide pour Triangle (0 ou 1 attendu)"},
      {"Triangle=true", "(0 ou 1 attendu)"},
      {"VectCtrl=01", "(0 ou 1 attendu)"},
      {"OutSel=1", "valeur invalide pour OutSel (all ou none attendu)"},
      {"BarreSel=0,,3", "élément vide dans la liste de BarreSel"},
      {"BarreSel=0,x", "indice de barre invalide « x » pour BarreSel"},
      {"LoopSel=-1", "indice de barre invalide « -1 »"},
      {"Foo=1", "--set Foo=1 : paramètre inconnu « Foo »"},
      {"rs=1", "paramètre inconnu « rs »"},
      {"OutSel.Nope=1", "paramètre inconnu « OutSel.Nope »"},
      {"dt", "--set dt : forme NOM=VALEUR attendue"},
      {"=1", "forme NOM=VALEUR attendue"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    const std::string error = ErrorOf({text});
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(SetOverride, RefusesValuesNoRunCanUseWithTheRunsOwnMessage) {
  double step = 0.0;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"dt=0", "--set dt=0 : " + std::string(kStepMessage)},
      {"dt=-1", std::string(kStepMessage)},
      {"dt=-4.9e-324", std::string(kStepMessage)},
      {"Nr=2", "Le modèle à cage demande au moins 3 barres rotoriques (Nr = 2)"},
      {"Nr=1001", "Le modèle à cage accepte au plus 1000 barres rotoriques (Nr = 1001)"},
      {"NTregI=0", "valeur invalide pour NTregI (entier >= 1 attendu)"},
      {"NTregW=-3", "valeur invalide pour NTregW"},
      {"p=0", "valeur invalide pour p"},
      {"mp=-2", "valeur invalide pour mp"},
      {"ExpIasCol=-1", "valeur invalide pour ExpIasCol (numéro de colonne >= 0 attendu)"},
      {"Flux_typ=11", "valeur invalide pour Flux_typ (0 à 10 attendu)"},
      {"Flux_typ=-1", "(0 à 10 attendu)"},
      {"CostFunction=2", "valeur invalide pour CostFunction (0 à 1 attendu)"},
      {"Flag=3", "valeur invalide pour Flag (0 à 2 attendu)"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    EXPECT_NE(ErrorOf({text}).find(message), std::string::npos) << ErrorOf({text});
  }
  // The smallest positive step and the edges of each range are stored.
  EXPECT_EQ(ErrorOf({"dt=4.9e-324", "Nr=3", "NTregI=1", "Flag=0", "CostFunction=1"}), "");
  EXPECT_EQ(ErrorOf({"Nr=1000", "Flux_typ=0", "Flag=2"}), "");
  // The rule itself, asked of any number: beyond int and NaN are refused too.
  int bars = 28;
  const FieldRef nr = Int("Nr", bars).Limited(FieldRule::kBarCount);
  EXPECT_NE(FieldValueProblem(nr, 1e12).find("au plus 1000"), std::string::npos);
  EXPECT_NE(FieldValueProblem(nr, std::nan("")), "");
  EXPECT_NE(FieldValueProblem(Real("dt", step).Limited(FieldRule::kStep), std::nan("")), "");
}

TEST(SetOverride, UnknownNameSuggestsCloseNamesOnly) {
  EXPECT_NE(ErrorOf({"mrs=1"}).find("vouliez-vous dire « mRs »"), std::string::npos);
  EXPECT_NE(ErrorOf({"OutSel.wm=1"}).find("« OutSel.Wm »"), std::string::npos);
  EXPECT_EQ(ErrorOf({"Foo=1"}).find("vouliez"), std::string::npos);
}

TEST(SetOverride, StoresWithTheDependentUpdatesOfRecordOrDialog) {
  SimulationSettings s = Applied({"TMLI=1e-4", "NTregI=3", "Rs=1.5", "p=2", "J=0.04", "dt=2e-5",
                                  "mRs=1.4", "mRr=0.9", "mp=3", "Crsgn=1", "w11=-0.6", "w12=-0.4"});
  EXPECT_EQ(s.cage.Rs, 1.5);
  EXPECT_EQ(s.cage.p, 2);
  EXPECT_EQ(s.cage.J, 0.04);
  EXPECT_EQ(s.dq.h, 2e-5);
  EXPECT_EQ(s.cage.h, 2e-5);
  EXPECT_EQ(s.observer.mRs, 1.4);
  EXPECT_EQ(s.observer.RrAct, 0.9);
  EXPECT_EQ(s.observer.mp, 3);
  EXPECT_DOUBLE_EQ(s.observer.h, 3e-4);
  EXPECT_EQ(s.cage.Crsgn, 1);
  EXPECT_EQ(s.w33, 0.6);
  EXPECT_EQ(s.w32, 0.4);
  EXPECT_EQ(s.w23, 0.4);
}

TEST(SetOverride, GroupSetsEveryFlagOfItsGroupOnlyAndLaterOverridesWin) {
  SimulationSettings s = Applied({"OutSel=all", "OutSel.Wm=0", "GenX=all"});
  for (int i = 0; i < kOutSelCount; ++i) EXPECT_EQ(s.OutSel[i], i == kOutWm ? 0 : 1) << i;
  for (int v : s.OutSelExp) EXPECT_EQ(v, 0);
  for (bool g : s.GenX) EXPECT_TRUE(g);
  s = Applied({"OutSel=none", "OutSelCage=all"}, s);
  for (int v : s.OutSel) EXPECT_EQ(v, 0);
  for (int v : s.OutSelCage) EXPECT_EQ(v, 1);
}

TEST(SetOverride, BarListReplacesTheSelectionWithinTheAllocatedBars) {
  SimulationSettings s;
  s.cage.Nr = 5;
  s.cage.AllocateArrays();
  using Bytes = std::vector<std::uint8_t>;
  s = Applied({"BarreSel=1,3"}, s);
  EXPECT_EQ(s.cage.BarreSel, (Bytes{0, 1, 0, 1, 0}));
  s = Applied({"BarreSel=4, 0", "LoopSel=all", "AnneauSel=2"}, s);
  EXPECT_EQ(s.cage.BarreSel, (Bytes{1, 0, 0, 0, 1}));
  EXPECT_EQ(s.cage.LoopSel, (Bytes{1, 1, 1, 1, 1}));
  EXPECT_EQ(s.cage.AnneauSel, (Bytes{0, 0, 1, 0, 0}));
  s = Applied({"LoopSel=none", "BarreSel="}, s);
  EXPECT_EQ(s.cage.LoopSel, Bytes(5, 0));
  EXPECT_EQ(s.cage.BarreSel, Bytes(5, 0));

  EXPECT_NE(ErrorOf({"BarreSel=0,5"}, s).find("barre 5 hors de 0..4 pour BarreSel"),
            std::string::npos);
  EXPECT_NE(ErrorOf({"AnneauSel=0"}).find("aucune barre allouée"), std::string::npos);
  EXPECT_EQ(ErrorOf({"AnneauSel=none"}), "");
}

TEST(SetOverride, FailedOverrideLeavesTheSettingsUntouched) {
  SimulationSettings s;
  s.cage.Nr = 2;
  s.cage.AllocateArrays();
  const auto overrides = ParseOverrides({"dt=1e-4", "Rs=2", "BarreSel=0", "BarreSel=7"});
  EXPECT_THROW(ApplyOverrides(s, overrides), OverrideError);
  EXPECT_EQ(s.dt, 0.0);
  EXPECT_EQ(s.cage.Rs, 0.0);
  EXPECT_EQ(s.cage.BarreSel, (std::vector<std::uint8_t>{0, 0}));
}

}  // namespace
}  // namespace mas
