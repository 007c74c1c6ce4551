#include "ui/dialog_model.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <cmath>
#include <optional>

#include "engine/settings_fields.h"
#include "study_fixture.h"
#include "ui/number_text.h"
#include "ui/settings_form.h"

namespace mas::ui {
namespace {

using testing::ReadExample;

TEST(NumberText, ParsesWithAPointWhateverTheLocaleAndRefusesTheRest) {
  struct Case {
    const char* text;
    std::optional<double> real;
    std::optional<int> integer;
  };
  const Case cases[] = {
      {"1.5", 1.5, std::nullopt},
      {" 2 ", 2.0, 2},
      {"+3", 3.0, 3},
      {"-0.5", -0.5, std::nullopt},
      {"1e-5", 1e-5, std::nullopt},
      {".5", 0.5, std::nullopt},
      {"5.", 5.0, std::nullopt},
      {"-7", -7.0, -7},
      {"1,5", std::nullopt, std::nullopt},
      {"abc", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"   ", std::nullopt, std::nullopt},
      {"1e400", std::nullopt, std::nullopt},
      {"+-1", std::nullopt, std::nullopt},
      {"2.5", 2.5, std::nullopt},
      {"99999999999", 99999999999.0, std::nullopt},
      {"1.5x", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseReal(c.text), c.real);
    EXPECT_EQ(ParseInt(c.text), c.integer);
  }
  EXPECT_TRUE(std::isinf(*ParseReal("inf")));
  EXPECT_TRUE(std::isnan(*ParseReal("nan")));
  EXPECT_EQ(FormatReal(1e-5, 15), "1e-05");
  EXPECT_EQ(FormatReal(2200, 15), "2200");
  EXPECT_EQ(FormatReal(0.1, 15), "0.1");
  EXPECT_EQ(FormatReal(0.123456789, 6), "0.123457");
  EXPECT_EQ(NotARealMessage("1,5"), "'1,5' n'est pas une valeur en virgule flottante correcte");
  EXPECT_EQ(NotAnIntegerMessage("2.5"), "'2.5' n'est pas une valeur entière correcte");
}

// Every real setting nudged off the values a file or six digits can hold, so that any
// rounding on the way through a dialog shows.
SimulationSettings AwkwardStudy() {
  SimulationSettings s = ReadExample("vector_control_pi.mas");
  for (const auto& f : SettableFields(s)) {
    if (f.ref.type == ValueType::kReal) {
      const double v = f.ref.real();
      f.ref.real() = v == 0.0 ? 1.0 / 3.0 : v * (1.0 + 3.0 * std::ldexp(1.0, -50));
    }
  }
  s.MLI = 2;  // a mode flag read as 2 from a file is neither checked nor 0
  s.PushElectricalParameters();
  s.PushMechanicalParameters();
  s.PushStep();
  s.PushObserverParameters();
  s.PushObserverStep();
  s.UpdateNeuroFuzzyWeights();
  return s;
}

TEST(SettingsDialogs, EveryDialogLoadedAndStoredUnchangedLeavesTheStudyBitIdentical) {
  const SimulationSettings original = AwkwardStudy();
  for (const DialogDescription& d : AllDialogs()) {
    SCOPED_TRACE(d.id);
    SimulationSettings s = original;
    SettingsForm form(d);
    form.Load(s);
    const StoreResult result = form.Store(s);
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.stored.empty());
    EXPECT_EQ(SettingsFingerprint(s), SettingsFingerprint(original));
    EXPECT_EQ(s.dq.Ls, original.dq.Ls);
    EXPECT_EQ(s.dq.h, original.dq.h);
    EXPECT_EQ(s.observer.h, original.observer.h);
    EXPECT_EQ(s.cage.Rb, original.cage.Rb);
    EXPECT_EQ(s.ExpTableReady, original.ExpTableReady);
  }
}

TEST(SettingsDialogs, EveryControlNamesASettableFieldAndEveryCaptionIsSet) {
  SimulationSettings s;
  std::vector<std::string> names;
  for (const auto& f : SettableFields(s)) names.emplace_back(f.ref.name);
  for (const DialogDescription& d : AllDialogs()) {
    SCOPED_TRACE(d.id);
    EXPECT_FALSE(d.caption.empty());
    for (const ControlRef& c : Controls(d)) {
      if (c.field.empty() || c.field == "Ts" || c.field == "Tr" || c.field == "sigma") continue;
      EXPECT_NE(std::find(names.begin(), names.end(), c.field), names.end()) << c.field;
    }
  }
  // The forty output columns, in OutSel order, with their captions.
  const auto controls = Controls(DialogById("TDIALOG_AFFICHAGE"));
  ASSERT_EQ(controls.size(), 40u);
  EXPECT_EQ(controls[1].field, "OutSel.Wm");
  EXPECT_EQ(OutSelCaptions()[1], "Vitesse");
  EXPECT_EQ(controls[39].field, "OutSel.Flou");
  EXPECT_EQ(OutSelCaptions()[30], "Angle Phi_s Corr");
}

// Types `text` into the edit of `field` of the form.
void Type(SettingsForm& form, const std::string& field, const char* text) {
  auto* edit = qobject_cast<QLineEdit*>(form.ControlFor(field));
  ASSERT_NE(edit, nullptr) << field;
  edit->setText(QString::fromUtf8(text));
}

struct Edit {
  const char* field;
  const char* text;
};

StoreResult StoreEdits(const char* dialog, SimulationSettings& s, std::vector<Edit> edits) {
  SettingsForm form(DialogById(dialog));
  form.Load(s);
  for (const Edit& e : edits) Type(form, e.field, e.text);
  return form.Store(s);
}

TEST(SettingsDialogs, ConversionRules) {
  struct Case {
    const char* dialog;
    std::vector<Edit> edits;
    const char* field;
    double expected;
    const char* error;
  };
  const Case cases[] = {
      {"TDIALOG_TIMESIMUL", {{"OutStep", "0"}}, "OutStep", 1, ""},
      {"TDIALOG_TIMESIMUL", {{"OutStep", "-4"}}, "OutStep", 1, ""},
      {"TDIALOG_TIMESIMUL", {{"OutStep", "2.9"}}, "OutStep", 2, ""},
      {"TDIALOG_TIMESIMUL", {{"OutStep", "1e300"}}, "OutStep", 2147483647, ""},
      {"TDIALOG_REG_IQS", {{"NTregI", "2.5"}}, "NTregI", 2, ""},
      {"TDIALOG_REG_IDS",
       {{"NTregI", "2.5"}},
       "NTregI",
       1,
       "'2.5' n'est pas une valeur entière correcte"},
      {"TDIALOG_RbCasse", {{"Rbn2", "3.7"}}, "Rbn2", 3, ""},
      {"TDIALOG_AnneauCassee", {{"Ren1", "-1.5"}}, "Ren1", -1, ""},
      {"TDIALOG_ONDULEUR",
       {{"E2", "1,5"}},
       "E2",
       326.6,
       "'1,5' n'est pas une valeur en virgule flottante correcte"},
      {"TDIALOG_ONDULEUR", {{"E2", " 300.25 "}}, "E2", 300.25, ""},
      // Stopped at the faulty field: the fields before it keep their new values.
      {"TDIALOG_TIMESIMUL",
       {{"tf", "2"}, {"td0", "abc"}, {"dt", "2e-5"}},
       "tf",
       2,
       "'abc' n'est pas une valeur en virgule flottante correcte"},
      {"TDIALOG_TIMESIMUL",
       {{"tf", "2"}, {"td0", "abc"}, {"dt", "2e-5"}},
       "dt",
       1e-5,
       "'abc' n'est pas une valeur en virgule flottante correcte"},
      // The machine dialogs check everything first and then change nothing.
      {"TDIALOG_MACHINE",
       {{"Rs", "2"}, {"p", "x"}},
       "Rs",
       1.405,
       "'x' n'est pas une valeur entière correcte"},
      {"TDIALOG_MACHINESPE",
       {{"Nr", "30"}, {"Lb", "?"}},
       "Nr",
       28,
       "'?' n'est pas une valeur en virgule flottante correcte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.dialog) + " " + c.field);
    SimulationSettings s = ReadExample("vector_control_pi.mas");
    s.cage.Nr = 28;
    const StoreResult r = StoreEdits(c.dialog, s, c.edits);
    EXPECT_EQ(r.error, c.error);
    for (const auto& f : SettableFields(s)) {
      if (f.ref.name != c.field) continue;
      const double v = f.ref.type == ValueType::kReal ? f.ref.real() : f.ref.integer();
      EXPECT_EQ(v, c.expected);
    }
  }
}

TEST(SettingsDialogs, EventValuesAreShownWithSixDigitsAndKeptExactWhenUntouched) {
  SimulationSettings s = ReadExample("vector_control_pi.mas");
  s.Idst[0] = 0.123456789;
  s.Iqst[0] = 0.5;
  SettingsForm form(DialogById("TDIALOG_Idqsref"));
  form.Load(s);
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("Idst1"))->text(), "0.123457");
  Type(form, "Iqst1", "0.25");
  EXPECT_EQ(form.Store(s).stored, std::vector<std::string>{"Iqst1"});
  EXPECT_EQ(s.Idst[0], 0.123456789);
  EXPECT_EQ(s.Iqst[0], 0.25);
  Type(form, "Idst1", "0.123457 ");  // retyped: the shown value is taken
  form.Store(s);
  EXPECT_EQ(s.Idst[0], 0.123457);
}

TEST(SettingsDialogs, FollowUpsOfTheStoredFields) {
  SimulationSettings s = ReadExample("vector_control_pi.mas");
  s.ExpTableReady = true;
  StoreEdits("TDIALOG_TIMESIMUL", s, {{"dt", "2e-5"}});
  EXPECT_EQ(s.dq.h, 2e-5);
  EXPECT_EQ(s.cage.h, 2e-5);
  EXPECT_FALSE(s.ExpTableReady);

  StoreEdits("TDIALOG_ONDULEUR", s, {{"TMLI", "0.0002"}});
  EXPECT_EQ(s.observer.h, s.NTregI * 0.0002);

  StoreEdits("TDIALOG_MODELE", s, {{"mRs", "1.5"}, {"mp", "3"}});
  EXPECT_EQ(s.observer.mRs, 1.5);
  EXPECT_EQ(s.observer.mp, 3);

  StoreEdits("TDIALOG_MACHINE", s, {{"Rs", "1.7"}, {"p", "3"}});
  EXPECT_EQ(s.cage.Rs, 1.7);
  EXPECT_EQ(s.cage.p, 3);

  StoreEdits("TDIALOG_NFC2D", s, {{"w12", "0.25"}, {"w11", "-0.5"}});
  EXPECT_EQ(s.w32, -0.25);
  EXPECT_EQ(s.w23, -0.25);
  EXPECT_EQ(s.w33, 0.5);

  SettingsForm crref(DialogById("TDIALOG_CRREF"));
  crref.Load(s);
  qobject_cast<QCheckBox*>(crref.ControlFor("Crsgn"))->setChecked(s.dq.Crsgn != 1);
  const int wanted = s.dq.Crsgn != 1 ? 1 : 0;
  crref.Store(s);
  EXPECT_EQ(s.dq.Crsgn, wanted);
  EXPECT_EQ(s.cage.Crsgn, wanted);
}

TEST(SettingsDialogs, CageDialogWithANewBarCountReallocatesHealthyBars) {
  SimulationSettings s = ReadExample("broken_bar.mas");
  ASSERT_GT(s.cage.AllocatedBars(), 3);
  s.cage.Rb[3] = s.cage.RbCasse;
  const int bars = s.cage.Nr + 2;
  StoreEdits("TDIALOG_MACHINESPE", s, {{"Nr", std::to_string(bars).c_str()}});
  EXPECT_EQ(s.cage.Nr, bars);
  ASSERT_EQ(s.cage.AllocatedBars(), bars);
  for (double r : s.cage.Rb) EXPECT_EQ(r, s.cage.RbSain);
  for (double r : s.cage.Re) EXPECT_EQ(r, s.cage.ReSain);
}

TEST(SettingsDialogs, TimeConstantDialogRebuildsTheInductances) {
  SimulationSettings s = ReadExample("vector_control_pi.mas");
  const double ts = s.dq.Ls / s.dq.Rs;
  StoreEdits("TDIALOG_MachineAlternate", s, {{"sigma", "0"}, {"Tr", "0.2"}});
  EXPECT_EQ(s.dq.Ls, s.dq.Rs * ts);
  EXPECT_EQ(s.dq.Lr, s.dq.Ls);
  EXPECT_EQ(s.dq.M, s.dq.Ls);
  EXPECT_EQ(s.dq.Rr, s.dq.Ls / 0.2);

  // Nothing stored when a value is refused.
  const SimulationSettings before = s;
  const StoreResult r = StoreEdits("TDIALOG_MachineAlternate", s, {{"Rs", "3"}, {"sigma", "x"}});
  EXPECT_FALSE(r.error.empty());
  EXPECT_EQ(SettingsFingerprint(s), SettingsFingerprint(before));
}

TEST(SettingsDialogs, RadioGroupsStoreTheirCodesAndFlags) {
  SimulationSettings s = ReadExample("vector_control_pi.mas");
  SettingsForm sim(DialogById("TDIALOG_SIMULATION"));
  sim.Load(s);
  sim.findChild<QRadioButton*>("IDC_Flux_typ_5")->click();
  sim.findChild<QRadioButton*>("IDC_Triangle_1")->click();
  sim.findChild<QCheckBox*>("IDC_dsvPWM")->setChecked(true);
  sim.Store(s);
  EXPECT_EQ(s.Flux_typ, 5);
  EXPECT_TRUE(s.Triangle);
  EXPECT_TRUE(s.dsvPWM);

  SettingsForm speed(DialogById("TDIALOG_REG_VITESSE"));
  speed.Load(s);
  speed.findChild<QRadioButton*>("IDC_WIP")->click();
  speed.Store(s);
  EXPECT_TRUE(s.WIP);
  EXPECT_FALSE(s.WPI);

  SettingsForm text(DialogById("TDIALOG_OptionsFichier"));
  text.Load(s);
  Type(text, "OutFileName", " essai 1.dat");
  text.Store(s);
  EXPECT_EQ(s.OutFileName, " essai 1.dat");
}

}  // namespace
}  // namespace mas::ui
