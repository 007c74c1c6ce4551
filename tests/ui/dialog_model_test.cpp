#include "ui/dialog_model.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>

#include "engine/settings_fields.h"
#include "files/parameter_file.h"
#include "study_fixture.h"
#include "ui/number_text.h"
#include "ui/settings_form.h"

namespace mas::ui {
namespace {

using testing::ReadExample;

TEST(NumberText, ParsesAPointOrACommaWhateverTheLocaleAndRefusesTheRest) {
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
      {"1,5", 1.5, std::nullopt},
      {" -2,5e-3 ", -2.5e-3, std::nullopt},
      {"1,5,2", std::nullopt, std::nullopt},
      {"1.5,2", std::nullopt, std::nullopt},
      {",", std::nullopt, std::nullopt},
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
      if (c.conversion == Conversion::kBarList) continue;  // the cage's per-bar selections
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
      {"TDIALOG_ONDULEUR", {{"E2", "1,5"}}, "E2", 1.5, ""},
      {"TDIALOG_ONDULEUR",
       {{"E2", "1;5"}},
       "E2",
       326.6,
       "'1;5' n'est pas une valeur en virgule flottante correcte"},
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
  // The tests run in a French locale: the field shows a decimal comma.
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("Idst1"))->text(), "0,123457");
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

// Every real field of every dialog shows about six significant digits, so that it fits
// its edit, whatever digits the study holds.
TEST(SettingsDialogs, RealsFitTheirFieldsWithSixDigits) {
  const SimulationSettings s = AwkwardStudy();
  for (const DialogDescription& d : AllDialogs()) {
    SCOPED_TRACE(d.id);
    const auto controls = Controls(d);
    const auto shown = LoadDialog(d, s);
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (controls[i].field.empty() || controls[i].kind != ControlKind::kEdit ||
          controls[i].conversion != Conversion::kReal) {
        continue;
      }
      SCOPED_TRACE(controls[i].field);
      EXPECT_LE(shown[i].text.size(), 12u) << shown[i].text;
      const auto value = ParseReal(shown[i].text);
      ASSERT_TRUE(value);
      EXPECT_EQ(FormatReal(*value, 6), shown[i].text);
    }
  }
  const auto& alternate = DialogById("TDIALOG_MachineAlternate");
  const auto shown = LoadDialog(alternate, s);
  const auto controls = Controls(alternate);
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].field == "Ts") {
      EXPECT_EQ(shown[i].text, FormatReal(s.dq.Ls / s.dq.Rs, 6));
    }
  }
}

// What the form says of a refused field: its name, the conversion's message and what it
// expects, with the unit its label names.
TEST(SettingsDialogs, ARefusalNamesTheFieldAndWhatItExpects) {
  struct Case {
    const char* dialog;
    const char* field;
    const char* text;
    const char* caption;
    const char* expected;
  };
  const Case cases[] = {
      {"TDIALOG_MACHINE", "Rs", "x", "Rs (Ohm)",
       "Attendu : un nombre décimal (par exemple 1.5 ou "
       "2.5e-3), en Ohm"},
      {"TDIALOG_MACHINE", "p", "2.5", "p",
       "Attendu : un nombre entier, de -2147483648 à "
       "2147483647"},
      {"TDIALOG_TIMESIMUL", "dt", "1e", "Pas de calcul dt(s)",
       "Attendu : un nombre décimal "
       "(par exemple 1.5 ou 2.5e-3), "
       "en s"},
      {"TDIALOG_TIMESIMUL", "OutStep", "?", "Période d'enregistrement N*dt",
       "Attendu : un nombre entier, 1 au moins"},
      {"TDIALOG_DEFLUXAGE", "Idsref2", "a", "Ids ref (A) (Zone 2)",
       "Attendu : un nombre décimal (par exemple 1.5 ou 2.5e-3), en A"},
      {"TDIALOG_OptGenFlouReg", "gIasF", "b", "(Iqsref - IqsrefOld)2",
       "Attendu : un nombre décimal (par exemple 1.5 ou 2.5e-3)"},
      {"TDIALOG_FichierDem", "ExpWmCol", "c", "Vitesse ( Wm ) (Colonne à traiter)",
       "Attendu : un nombre entier, de -2147483648 à 2147483647"},
  };
  const SimulationSettings s = ReadExample("vector_control_pi.mas");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.dialog) + " " + c.field);
    const DialogDescription& d = DialogById(c.dialog);
    const auto loaded = LoadDialog(d, s);
    auto current = loaded;
    const auto controls = Controls(d);
    std::size_t index = 0;
    while (index < controls.size() && controls[index].field != c.field) ++index;
    ASSERT_LT(index, controls.size());
    current[index].text = c.text;
    // A changed field that converts before the refused one is no refusal.
    for (std::size_t j = 0; j < index; ++j) {
      if (controls[j].kind == ControlKind::kEdit && controls[j].conversion == Conversion::kReal) {
        current[j].text = "7";
        break;
      }
    }
    const Refusal r = CheckDialog(d, loaded, current);
    EXPECT_EQ(r.control, static_cast<int>(index));
    EXPECT_EQ(r.caption, c.caption);
    EXPECT_EQ(r.expected, c.expected);
    EXPECT_FALSE(r.message.empty());
    SimulationSettings stored = s;
    EXPECT_EQ(StoreDialog(d, loaded, current, stored).refused_control, static_cast<int>(index));
    current[index] = loaded[index];
    EXPECT_EQ(CheckDialog(d, loaded, current).control, -1);
  }
  EXPECT_EQ(ExpectedText(DialogById("TDIALOG_ONDULEUR"),
                         Controls(DialogById("TDIALOG_ONDULEUR"))[0], ','),
            "Attendu : un nombre décimal (par exemple 1,5 ou 2,5e-3), en V");
}

// "OK" on a refused value: the form stays open with every edit as typed, highlights and
// focuses the field and says what it expects; corrected, it closes and stores everything.
TEST(SettingsForms, StayOpenOnARefusedValueAndKeepEveryEdit) {
  SimulationSettings s = ReadExample("vector_control_pi.mas");
  SettingsForm form(DialogById("TDIALOG_MACHINE"));
  form.Load(s);
  form.show();
  Type(form, "Rs", "2");
  Type(form, "p", "x");
  Type(form, "J", "0.5");
  form.OkButton()->click();
  QApplication::processEvents();
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(form.result(), QDialog::Accepted);
  auto* p = qobject_cast<QLineEdit*>(form.ControlFor("p"));
  EXPECT_TRUE(p->property("refused").toBool());
  EXPECT_FALSE(form.ControlFor("Rs")->property("refused").toBool());
  EXPECT_TRUE(p->hasFocus() || !form.isActiveWindow());
  EXPECT_TRUE(form.ProblemLabel()->isVisible());
  EXPECT_EQ(form.ProblemLabel()->text().toStdString(),
            "p : 'x' n'est pas une valeur entière correcte\n"
            "Attendu : un nombre entier, de -2147483648 à 2147483647");
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("Rs"))->text(), "2");
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("J"))->text(), "0.5");
  EXPECT_EQ(s.dq.Rs, 1.405);  // nothing stored yet
  EXPECT_TRUE(form.grab().save(testing::ScreenshotDir() + "/TDIALOG_MACHINE_refused.png"));

  // Typing in the field clears its mark; "OK" then closes.
  p->selectAll();
  QTest::keyClicks(p, "3");
  EXPECT_FALSE(p->property("refused").toBool());
  EXPECT_FALSE(form.ProblemLabel()->isVisible());
  form.OkButton()->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.Store(s).error, "");
  EXPECT_EQ(s.dq.Rs, 2.0);
  EXPECT_EQ(s.dq.p, 3);
  EXPECT_EQ(s.dq.J, 0.5);
}

// In a French locale the number fields show a decimal comma and take "1,5" as 1.5; the
// study file keeps the point.
TEST(SettingsForms, FieldsShowAndTakeTheUsersDecimalComma) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  SimulationSettings s = ReadExample("vector_control_pi.mas");
  {
    SettingsForm form(DialogById("TDIALOG_ONDULEUR"));
    form.Load(s);
    EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("E2"))->text(), "326,6");
    Type(form, "E2", "1,5");
    const StoreResult r = form.Store(s);
    EXPECT_EQ(r.stored, std::vector<std::string>{"E2"});  // the others shown with a comma
    EXPECT_EQ(s.E2, 1.5);
    form.Load(s);
    Type(form, "E2", "2.25");  // a point is taken too
    form.Store(s);
    EXPECT_EQ(s.E2, 2.25);
    SettingsForm names(DialogById("TDIALOG_OptionsFichier"));
    names.Load(s);
    Type(names, "OutFileName", "a,b.dat");  // texts are taken as typed
    names.Store(s);
    EXPECT_EQ(s.OutFileName, "a,b.dat");
  }
  QLocale::setDefault(before);
  const auto dir = testing::ScratchDir("comma");
  WriteParameterFile(s, (dir / "comma.mas").string());
  std::ifstream in(dir / "comma.mas");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("2.25"), std::string::npos);
  EXPECT_EQ(text.find("2,25"), std::string::npos);
}

// The cage display dialog's bar, loop and ring fields: the numbers shown and stored into
// the per-bar selections, "all" and "none", and numbers outside the cage refused.
TEST(SettingsDialogs, CageDisplayDialogSelectsBarsLoopsAndRingPortions) {
  SimulationSettings s = ReadExample("broken_bar.mas");
  const int bars = s.cage.AllocatedBars();
  ASSERT_GT(bars, 4);
  ASSERT_EQ(static_cast<int>(s.cage.BarreSel.size()), bars);
  s.cage.LoopSel[2] = 1;
  SettingsForm form(DialogById("TDIALOG_AffCage"));
  form.Load(s);
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("BarreSel"))->text(), "");
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("LoopSel"))->text(), "2");
  Type(form, "BarreSel", "0, 3");
  Type(form, "LoopSel", "none");
  Type(form, "AnneauSel", "all");
  const StoreResult r = form.Store(s);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.stored, (std::vector<std::string>{"BarreSel", "LoopSel", "AnneauSel"}));
  for (int i = 0; i < bars; ++i) {
    const auto k = static_cast<std::size_t>(i);
    EXPECT_EQ(s.cage.BarreSel[k], i == 0 || i == 3 ? 1 : 0) << i;
    EXPECT_EQ(s.cage.LoopSel[k], 0) << i;
    EXPECT_EQ(s.cage.AnneauSel[k], 1) << i;
  }
  form.Load(s);
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("BarreSel"))->text(), "0,3");
  EXPECT_EQ(qobject_cast<QLineEdit*>(form.ControlFor("AnneauSel"))->text(), "all");

  // A number beyond the cage keeps the form open on that field; nothing is stored.
  const auto before = s.cage.BarreSel;
  Type(form, "BarreSel", std::to_string(bars).c_str());
  form.show();
  form.OkButton()->click();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.ControlFor("BarreSel")->property("refused").toBool());
  EXPECT_TRUE(form.ProblemLabel()->text().contains(QStringLiteral("numéro hors de 0 .. ") +
                                                   QString::number(bars - 1)))
      << form.ProblemLabel()->text().toStdString();
  EXPECT_FALSE(form.Store(s).error.empty());
  EXPECT_EQ(s.cage.BarreSel, before);
  Type(form, "BarreSel", "1;x");
  EXPECT_EQ(form.Store(s).error, "'1;x' n'est pas une liste de numéros correcte");
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
