#include "ui/dsvpwm_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/commands.h"
#include "cli/dsvpwm_command.h"
#include "study_fixture.h"
#include "ui/main_window.h"

namespace mas::ui {
namespace {

using testing::ScratchDir;

constexpr double kPi = 3.14159265358979323846;

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

DoubleSvpwm Study(int type, double turns, double m) {
  DoubleSvpwm modulator;
  modulator.type = static_cast<ModulationType>(type);
  SetStudyReference(modulator, turns, m);
  return modulator;
}

bool IsWave(const Segment& s) { return s.pen == Pen{kBlue, kWaveformPenWidth}; }

TEST(DsvpwmGeometry, LegWaveformsFollowTheSampledStatesAndTheInstants) {
  for (int type = 0; type < kModulationTypeCount; ++type) {
    for (double turns : {0.02, 0.1, 0.37, 0.71, 0.93}) {
      SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(turns) + " turn");
      DoubleSvpwm drawn = Study(type, turns, 0.6);
      DoubleSvpwm sampled = drawn;
      const Drawing d = LegStateDiagram(drawn);
      const std::vector<LegStateSample> samples = SampleLegStates(sampled);
      ASSERT_EQ(samples.size(), 201u);  // 0, 1 us, ... 200 us
      for (int leg = 0; leg < kLegCount; ++leg) {
        const double axis = kLegY0 + kLegSpacing * leg;
        std::vector<Segment> wave;
        for (const Segment& s : d.segments) {
          if (IsWave(s) && s.y1 <= axis && s.y1 >= axis - kStateHeight) wave.push_back(s);
        }
        // Every sample's dash lies on a segment at its state's height, and no segment of
        // the other height covers it.
        for (const LegStateSample& sample : samples) {
          const double x = WaveformX(sample.t, drawn.TMLI);
          const double y = axis - kStateHeight * sample.state[leg];
          int on = 0, off = 0;
          for (const Segment& s : wave) {
            if (s.x1 <= x && s.x2 >= x + kDashLength) ++(s.y1 == y ? on : off);
          }
          EXPECT_EQ(on, 1) << "leg " << leg << " t " << sample.t;
          EXPECT_EQ(off, 0) << "leg " << leg << " t " << sample.t;
        }
        // The first run ends where the leg first switches: at A (at P for the carrier),
        // within one step of 2 pixels.
        const double first_edge = type == 0 ? drawn.P[leg] : drawn.A[leg];
        const bool switches =
            drawn.leg_code[leg] == LegCode::kNormal || drawn.leg_code[leg] == LegCode::kInverted;
        if (switches && first_edge > 2e-6 && first_edge < drawn.TMLI / 2) {
          const double edge_x = kLegX0 + first_edge / (2 * drawn.TMLI) * kLegWidth;
          EXPECT_NEAR(wave.front().x2, edge_x, 3.0) << "leg " << leg;
        }
      }
    }
  }
  // The axes: six black lines 270..670, black ticks at 270/470/670, red ones at 370/570.
  DoubleSvpwm m = Study(1, 0.1, 0.25);
  const Drawing d = LegStateDiagram(m);
  int axes = 0, black_ticks = 0, red_ticks = 0;
  for (const Segment& s : d.segments) {
    if (s.pen == Pen{kBlack, 1.0} && s.y1 == s.y2 && s.x1 == 270 && s.x2 == 670) ++axes;
    if (s.x1 == s.x2 && s.y2 == s.y1 - 15) ++(s.pen.colour == kRed ? red_ticks : black_ticks);
  }
  EXPECT_EQ(axes, 6);
  EXPECT_EQ(black_ticks, 18);
  EXPECT_EQ(red_ticks, 12);
  ASSERT_EQ(d.labels.size(), 8u);
  EXPECT_EQ(d.labels[5].text, "K5");
  EXPECT_EQ(d.labels[5].x, 250);
  EXPECT_EQ(d.labels[5].y, 190);
  EXPECT_EQ(d.labels[7].text, "2Ts");
  EXPECT_EQ(d.labels[7].x, 664);
  EXPECT_EQ(d.labels[7].y, 205);
}

TEST(DsvpwmGeometry, SetVectorsAndReferenceInThePhaseVoltagePlane) {
  const double E2 = 311.0;
  // Active vector n of a set points at (n - 1) 60 degrees from the set's first axis (30
  // degrees for K3..K5) with the length 4 E2/3 of a bus of 2 E2.
  for (int set = 0; set < 2; ++set) {
    for (auto [a, b, c, n] : {std::array{1, 0, 0, 1}, {1, 1, 0, 2}, {0, 1, 1, 4}, {1, 0, 1, 6}}) {
      EXPECT_EQ(SetVectorNumber(a, b, c), n);
      const PlaneVector v = SetVoltageVector(set, a, b, c, E2);
      const double angle = ((n - 1) * 60 + set * 30) * kPi / 180;
      EXPECT_NEAR(v.alpha, 4 * E2 / 3 * std::cos(angle), 1e-9) << set << n;
      EXPECT_NEAR(v.beta, 4 * E2 / 3 * std::sin(angle), 1e-9) << set << n;
    }
    EXPECT_NEAR(std::hypot(SetVoltageVector(set, 1, 1, 1, E2).alpha,
                           SetVoltageVector(set, 1, 1, 1, E2).beta),
                0.0, 1e-12);
  }
  const DoubleSvpwm m = Study(1, 0.3, 0.7);
  EXPECT_NEAR(ReferenceVector(m).alpha, m.Valphas / std::sqrt(3.0), 1e-9);
  EXPECT_NEAR(ReferenceVector(m).beta, m.Vbetas / std::sqrt(3.0), 1e-9);
}

TEST(DsvpwmGeometry, SequenceOfThePeriodMatchesTheLegStatesAndAppliesTheReference) {
  for (int type = 0; type < kModulationTypeCount; ++type) {
    for (int step = 0; step < 24; ++step) {
      const double turns = (step + 0.37) / 24;  // every sector, off its centre
      SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(turns) + " turn");
      DoubleSvpwm m = Study(type, turns, 0.5);
      const std::vector<AppliedInterval> sequence = AppliedSequence(m);
      ASSERT_FALSE(sequence.empty());
      EXPECT_EQ(sequence.front().t_begin, 0.0);
      EXPECT_EQ(sequence.back().t_end, 2 * m.TMLI);
      for (std::size_t i = 0; i < sequence.size(); ++i) {
        const AppliedInterval& interval = sequence[i];
        if (i > 0) {
          EXPECT_EQ(interval.t_begin, sequence[i - 1].t_end);
          EXPECT_NE(interval.state, sequence[i - 1].state);
        }
        EXPECT_EQ(interval.vector_set1,
                  SetVectorNumber(interval.state[0], interval.state[1], interval.state[2]));
        EXPECT_EQ(interval.vector_set2,
                  SetVectorNumber(interval.state[3], interval.state[4], interval.state[5]));
      }
      // The sampled states inside each interval are the interval's.
      DoubleSvpwm sampled = m;
      for (const LegStateSample& s : SampleLegStates(sampled)) {
        for (const AppliedInterval& interval : sequence) {
          if (s.t > interval.t_begin && s.t < interval.t_end) {
            EXPECT_EQ(s.state, interval.state) << "t " << s.t;
          }
        }
      }
      // What each set applies on average: the carrier and the types B1 and B2 give the
      // reference with both sets; the types 1 to 3 with the set whose phase axis lies on
      // the sector's centre line (K0..K2 in the odd sectors). The instants are quantised
      // to TMLI/2000, hence the tolerance of a few tenths of a volt.
      const PlaneVector ref = ReferenceVector(m);
      for (int set = 0; set < 2; ++set) {
        const bool exact = type == 0 || type >= 4 || (m.Sector % 2 == 1) == (set == 0);
        if (!exact) continue;
        const PlaneVector mean = MeanSetVector(sequence, set, m.E2);
        EXPECT_NEAR(mean.alpha, ref.alpha, 0.5) << "set " << set << " sector " << m.Sector;
        EXPECT_NEAR(mean.beta, ref.beta, 0.5) << "set " << set << " sector " << m.Sector;
      }

      // The filled wedge is the modulator's sector and holds the reference's angle.
      const Drawing d = VectorDiagram(m);
      ASSERT_FALSE(d.polygons.empty());
      const auto& wedge = d.polygons.front().points;
      ASSERT_EQ(d.polygons.front().fill, kSectorFill);
      auto angle_of = [](const std::array<double, 2>& p) {
        return std::atan2(kHexCentreY - p[1], p[0] - kHexCentreX);
      };
      const double first = angle_of(wedge[1]), last = angle_of(wedge.back());
      const double centre = (m.Sector - 1) * kPi / 6;
      EXPECT_NEAR(std::remainder(first - (centre - kPi / 12), 2 * kPi), 0.0, 1e-9);
      EXPECT_NEAR(std::remainder(last - (centre + kPi / 12), 2 * kPi), 0.0, 1e-9);
      EXPECT_LE(std::abs(std::remainder(m.Thetas - centre, 2 * kPi)), kPi / 12 + 1e-12);
    }
  }
}

TEST(DsvpwmGeometry, DegenerateTimingDrawsWithoutNonFiniteCoordinates) {
  for (double tmli : {0.0, -1e-4, std::nan("")}) {
    DoubleSvpwm m;
    m.SetTiming(311.0, tmli, 1e-6);
    SetStudyReference(m, 0.2, 0.5);
    EXPECT_TRUE(AppliedSequence(m).empty());
    const Drawing d = VectorDiagram(m);
    for (const Segment& s : d.segments) {
      EXPECT_TRUE(std::isfinite(s.x1 + s.y1 + s.x2 + s.y2));
    }
    LegStateDiagram(m);
  }
  DoubleSvpwm zero_bus;
  zero_bus.E2 = 0.0;
  SetStudyReference(zero_bus, 0.2, 0.5);
  for (const Segment& s : VectorDiagram(zero_bus).segments) {
    EXPECT_TRUE(std::isfinite(s.x1 + s.y1 + s.x2 + s.y2));
  }
}

struct Shown {
  QString text, caption;
  MessageIcon icon;
};

// A study window on a modulator of its own, its messages and viewer recorded.
struct WindowFixture {
  DoubleSvpwm modulator;
  TFormdSVPWM window{modulator};
  std::vector<Shown> messages;
  std::vector<QString> viewers;

  WindowFixture() {
    window.message_presenter = [this](const QString& t, const QString& c, MessageIcon i) {
      messages.push_back({t, c, i});
    };
    window.viewer_starter = [this](const QString& f) { viewers.push_back(f); };
    window.show();
  }
  template <class T>
  T* Child(const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QString LabelText(const char* name) { return Child<QLabel>(name)->text(); }
  void Type(const char* edit, const QString& text) { Child<QLineEdit>(edit)->setText(text); }
  void Enter(const char* edit, const QString& text) {
    Type(edit, text);
    QTest::keyClick(Child<QLineEdit>(edit), Qt::Key_Return);
  }
  bool SimulateAndWait(int timeout_ms = 60000) {
    QSignalSpy finished(&window, &TFormdSVPWM::simulationFinished);
    Child<QPushButton>("ButtonSimule")->click();
    return finished.count() > 0 || finished.wait(timeout_ms);
  }
};

TEST(DsvpwmWindow, EditsAndScrollBarsFollowTheirRules) {
  WindowFixture f;
  auto* sb_theta = f.Child<QScrollBar>("SBThetas");
  auto* sb_m = f.Child<QScrollBar>("SBmref");
  // Initial drawing: 0 turn, m = 0.25, type 1, the bar at the index shown.
  EXPECT_EQ(f.LabelText("LabelThetas"), "Th=0 (°)");
  EXPECT_EQ(f.LabelText("LabelSector"), "Sector=1");
  EXPECT_EQ(f.LabelText("LabelVref"),
            QString::fromStdString(VrefLabel(VdsrefFromModulationIndex(0.25, 311.0))));
  EXPECT_EQ(sb_m->value(), 62);

  // The angle's bar writes position x 0.01 and redraws: 0.4 turn is 144 degrees, sector 6.
  sb_theta->setValue(40);
  EXPECT_EQ(f.Child<QLineEdit>("EditThetas")->text(), "0,4");  // the tests run in French
  EXPECT_EQ(f.LabelText("LabelThetas"), "Th=144 (°)");
  EXPECT_EQ(f.LabelText("LabelSector"), "Sector=6");
  EXPECT_EQ(f.modulator.Sector, 6);
  // A typed angle stays as typed; its bar follows.
  f.Enter("EditThetas", "0.255");
  EXPECT_EQ(f.Child<QLineEdit>("EditThetas")->text(), "0.255");
  EXPECT_EQ(sb_theta->value(), 25);
  EXPECT_DOUBLE_EQ(f.window.ThetaTurns(), 0.255);
  // Outside [0, 1]: the bar's value comes back.
  f.Enter("EditThetas", "1,5");  // a decimal comma is taken
  EXPECT_EQ(f.Child<QLineEdit>("EditThetas")->text(), "0,25");
  EXPECT_DOUBLE_EQ(f.window.ThetaTurns(), 0.25);
  // Enter in dt or tf validates the angle too.
  f.Type("EditThetas", "0.1");
  f.Enter("Editdt", "2.0e-6");
  EXPECT_EQ(f.LabelText("LabelThetas"), "Th=36 (°)");

  // The index: magnitude above 1 gives "1"; its bar writes position x 0.02 - 1.
  f.Enter("Editmref", "-3");
  EXPECT_EQ(f.Child<QLineEdit>("Editmref")->text(), "1");
  EXPECT_EQ(sb_m->value(), 100);
  EXPECT_DOUBLE_EQ(f.window.ModulationIndex(), 1.0);
  f.Enter("Editmref", "nan");
  EXPECT_EQ(f.Child<QLineEdit>("Editmref")->text(), "1");
  f.Enter("Editmref", "-0.5");
  EXPECT_EQ(sb_m->value(), 25);
  EXPECT_EQ(f.LabelText("LabelVref"),
            QString::fromStdString(VrefLabel(VdsrefFromModulationIndex(-0.5, 311.0))));
  sb_m->setValue(80);
  EXPECT_EQ(f.Child<QLineEdit>("Editmref")->text(), "0,6");
  EXPECT_DOUBLE_EQ(f.modulator.Vdsref, VdsrefFromModulationIndex(0.6, 311.0));
  EXPECT_TRUE(f.messages.empty());

  // Text that is no number: the conversion message, and nothing changes.
  const DoubleSvpwm before = f.modulator;
  f.Enter("EditThetas", "1;5");
  // "Redessine" takes both edits, or neither when one is no number.
  f.Type("EditThetas", "0.3");
  f.Type("Editmref", "abc");
  f.Child<QPushButton>("ButtonDraw")->click();
  ASSERT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(f.messages[0].text, "'1;5' n'est pas une valeur en virgule flottante correcte");
  EXPECT_EQ(f.messages[0].caption, "Erreur");
  EXPECT_EQ(f.messages[1].text, "'abc' n'est pas une valeur en virgule flottante correcte");
  EXPECT_EQ(sb_theta->value(), 10);
  EXPECT_DOUBLE_EQ(f.window.ThetaTurns(), 0.1);
  EXPECT_DOUBLE_EQ(f.window.ModulationIndex(), 0.6);
  EXPECT_EQ(f.modulator.Thetas, before.Thetas);
  EXPECT_EQ(f.modulator.Vdsref, before.Vdsref);

  // The type follows the radio group; the drawing is the modulator's.
  f.window.findChild<QButtonGroup*>()->button(3)->click();
  EXPECT_EQ(f.modulator.type, ModulationType::kDiscontinuousA);
  DoubleSvpwm copy = f.modulator;
  EXPECT_EQ(f.window.LegDrawing().segments.size(), LegStateDiagram(copy).segments.size());
}

TEST(DsvpwmWindow, SimuleWritesTheTableOfMasDsvpwmSimulateAndShowsIt) {
  const auto dir = ScratchDir("dsvpwm_simule");
  WindowFixture f;
  f.window.debug_file_name = (dir / "window.dat").string();
  f.window.findChild<QButtonGroup*>()->button(4)->click();
  f.Type("Editmref", "0.5");
  f.Type("Editdt", "1e-5");
  f.Type("Edittf", "2e-3");
  ASSERT_TRUE(f.SimulateAndWait());
  EXPECT_TRUE(f.messages.empty());
  ASSERT_EQ(f.viewers.size(), 1u);
  EXPECT_EQ(f.viewers[0].toStdString(), f.window.debug_file_name);
  EXPECT_EQ(f.LabelText("LabelStatus"), "Fin de la simulation");
  // The simulation's step stays the modulator's.
  EXPECT_EQ(f.modulator.dt, 1e-5);

  std::ostringstream out, err;
  RecordingPlatform platform;
  CliEnvironment env{out, err, platform};
  ASSERT_EQ(MasMain({"dsvpwm", "simulate", "--mref", "0.5", "--type", "4", "--dt", "1e-5", "--tf",
                     "2e-3", "-o", (dir / "cli.dat").string()},
                    env),
            0)
      << err.str();
  const std::string table = FileText(dir / "window.dat");
  EXPECT_GE(std::count(table.begin(), table.end(), '\n'), 1 + 200);  // t = 0 .. 2e-3
  EXPECT_EQ(table, FileText(dir / "cli.dat"));
}

TEST(DsvpwmWindow, StopEndsTheSimulationWithAPartialTableAndTheDrawingStaysLive) {
  const auto dir = ScratchDir("dsvpwm_stop");
  WindowFixture f;
  f.window.debug_file_name = (dir / "stopped.dat").string();
  f.Type("Editdt", "1e-7");
  f.Type("Edittf", "10");  // 1e8 lines: far longer than the test
  QSignalSpy finished(&f.window, &TFormdSVPWM::simulationFinished);
  f.Child<QPushButton>("ButtonSimule")->click();
  ASSERT_TRUE(f.window.Simulating());
  EXPECT_FALSE(f.Child<QPushButton>("ButtonSimule")->isEnabled());
  // The window answers while the simulation runs: the drawing moves with the bar.
  f.Child<QScrollBar>("SBThetas")->setValue(50);
  EXPECT_EQ(f.LabelText("LabelThetas"), "Th=180 (°)");
  // Stopped once lines are being written (the table is written beside its final name).
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (const auto& e : std::filesystem::directory_iterator(dir)) {
          if (e.is_regular_file() && e.file_size() > 0) return true;
        }
        return false;
      },
      60000));
  ASSERT_TRUE(f.Child<QPushButton>("ButtonStop")->isEnabled());
  // Escape is the Stop button's shortcut, which answers in the active window only.
  f.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
  QTest::keyClick(&f.window, Qt::Key_Escape);
  ASSERT_TRUE(finished.count() > 0 || finished.wait(60000));
  EXPECT_TRUE(f.messages.empty());
  EXPECT_TRUE(f.viewers.empty());
  EXPECT_EQ(f.LabelText("LabelStatus"), "Simulation interrompue");
  EXPECT_TRUE(f.Child<QPushButton>("ButtonSimule")->isEnabled());
  const std::string table = FileText(dir / "stopped.dat");
  const auto lines = std::count(table.begin(), table.end(), '\n');
  EXPECT_GT(lines, 1);
  EXPECT_LT(lines, 100000000);
  EXPECT_EQ(table.back(), '\n');
  EXPECT_EQ(f.window.Modulator().Thetas, 0.5 * 2 * kPi);
}

TEST(DsvpwmWindow, FailuresShowTheirMessageAndTheWindowStaysUsable) {
  const auto dir = ScratchDir("dsvpwm_failures");
  WindowFixture f;
  // Bad text in dt: the conversion message, nothing written.
  f.window.debug_file_name = (dir / "table.dat").string();
  f.Type("Editdt", "2e-6s");
  f.Child<QPushButton>("ButtonSimule")->click();
  EXPECT_FALSE(f.window.Simulating());
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].text, "'2e-6s' n'est pas une valeur en virgule flottante correcte");
  EXPECT_FALSE(std::filesystem::exists(dir / "table.dat"));

  // A table that cannot be created.
  f.Type("Editdt", "1e-5");
  f.Type("Edittf", "1e-3");
  f.window.debug_file_name = (dir / "missing" / "table.dat").string();
  ASSERT_TRUE(f.SimulateAndWait());
  ASSERT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(f.messages[1].text.toStdString(),
            "Impossible d'ouvrir le fichier " + f.window.debug_file_name);
  EXPECT_EQ(f.messages[1].caption, "Erreur");
  EXPECT_EQ(f.messages[1].icon, MessageIcon::kStop);
  EXPECT_TRUE(f.viewers.empty());
  EXPECT_EQ(f.modulator.dt, 1e-5);  // the window's step, as typed

  // Usable afterwards.
  f.window.debug_file_name = (dir / "table.dat").string();
  ASSERT_TRUE(f.SimulateAndWait());
  EXPECT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(f.viewers.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(dir / "table.dat"));
}

TEST(DsvpwmWindow, RefusesNonFiniteInstantsAsTheCommandLineDoesBeforeWriting) {
  const auto dir = ScratchDir("dsvpwm_non_finite");
  WindowFixture f;
  f.modulator.E2 = 1e308;  // as a study's settings may carry it: the reference overflows
  f.window.debug_file_name = (dir / "window.dat").string();
  f.Type("Editdt", "1e-5");
  f.Type("Edittf", "1e-3");
  f.Type("Editmref", "1");
  f.Child<QPushButton>("ButtonSimule")->click();
  EXPECT_FALSE(f.window.Simulating());
  EXPECT_FALSE(std::filesystem::exists(f.window.debug_file_name));
  EXPECT_TRUE(f.viewers.empty());

  std::ostringstream out, err;
  RecordingPlatform cli_platform;
  CliEnvironment env{out, err, cli_platform, (dir / "echo.dat").string()};
  DsvpwmSimulateRequest request;
  request.sim = {1e-5, 1e-3, 1.0};
  request.type = f.modulator.type;
  request.timing.E2 = 1e308;
  request.output = (dir / "cli.dat").string();
  EXPECT_EQ(DsvpwmSimulateCommand(request, env), kExitUsage);
  ASSERT_EQ(cli_platform.messages.size(), 1u);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].text.toStdString(), cli_platform.messages[0].text);
  EXPECT_EQ(f.messages[0].caption.toStdString(), cli_platform.messages[0].caption);
  EXPECT_EQ(f.messages[0].icon, cli_platform.messages[0].icon);
  EXPECT_EQ(f.modulator.E2, 1e308);  // the study's value, left for the user to change
}

TEST(DsvpwmWindow, MenuItemShowsAndHidesTheWindowWithItsCheckMark) {
  TSimulWindow main;
  std::vector<QString> viewers;
  main.viewer_starter = [&](const QString& f) { viewers.push_back(f); };
  QAction* item = main.ActionFor("Menu_dsvpwmClick");
  ASSERT_NE(item, nullptr);
  TFormdSVPWM* study = main.DsvpwmWindow();
  ASSERT_NE(study, nullptr);
  EXPECT_FALSE(study->isVisible());
  EXPECT_FALSE(item->isChecked());
  item->trigger();
  EXPECT_TRUE(study->isVisible());
  EXPECT_TRUE(item->isChecked());
  // The window edits the modulator the main window's runs carry, and redraws with the
  // timing a run gives it (E/2 = 326.6 V in this study).
  study->findChild<QScrollBar*>(QStringLiteral("SBThetas"))->setValue(20);
  EXPECT_EQ(main.Carried().dsvpwm.Sector, 3);
  main.ReadStartupStudy(QString::fromStdString(testing::ExamplePath("vector_control_pi.mas")));
  main.MutableSettings().tf = 0.01;
  main.MutableSettings().OutFileName = (ScratchDir("dsvpwm_menu") / "out.dat").string();
  QSignalSpy ran(&main, &TSimulWindow::runFinished);
  main.CmRun();
  ASSERT_TRUE(ran.count() > 0 || ran.wait(60000));
  EXPECT_EQ(study->findChild<QLabel*>(QStringLiteral("LabelVref"))->text().toStdString(),
            VrefLabel(VdsrefFromModulationIndex(0.25, 326.6)));
  EXPECT_EQ(main.Carried().dsvpwm.Sector, 3);
  // Closed by its frame: the check mark follows.
  study->close();
  EXPECT_FALSE(study->isVisible());
  EXPECT_FALSE(item->isChecked());
  item->trigger();
  EXPECT_TRUE(study->isVisible());
  EXPECT_TRUE(item->isChecked());
  item->trigger();
  EXPECT_FALSE(study->isVisible());
  EXPECT_FALSE(item->isChecked());
  // Its viewer is the main window's.
  viewers.clear();
  study->viewer_starter("x.dat");
  EXPECT_EQ(viewers, std::vector<QString>{"x.dat"});
}

// The window draws with its own step and the study's E/2 from the moment it opens: a
// main run with a coarser step (5e-5 s in this study) changes neither the waveforms nor
// the reference shown.
TEST(DsvpwmWindow, KeepsItsOwnStepAndTheStudysBusVoltageWhateverTheMainRun) {
  TSimulWindow main;
  main.viewer_starter = [](const QString&) {};
  main.ReadStartupStudy(QString::fromStdString(testing::ExamplePath("tuning_fuzzy.mas")));
  const double e2 = main.Settings().E2;
  ASSERT_NE(e2, DoubleSvpwm{}.E2);
  ASSERT_GT(main.Settings().dt, 1e-5);
  main.Menu_dsvpwmClick();
  TFormdSVPWM* study = main.DsvpwmWindow();
  const QString vref = study->findChild<QLabel*>(QStringLiteral("LabelVref"))->text();
  EXPECT_EQ(vref.toStdString(), VrefLabel(VdsrefFromModulationIndex(0.25, e2)));
  const Drawing legs = study->LegDrawing();
  EXPECT_EQ(study->Modulator().dt, 2e-6);

  main.MutableSettings().tf = main.Settings().t0 + 0.005;
  main.MutableSettings().OutFileName = (ScratchDir("dsvpwm_own_step") / "out.dat").string();
  QSignalSpy ran(&main, &TSimulWindow::runFinished);
  main.CmRun();
  ASSERT_TRUE(ran.count() > 0 || ran.wait(60000));
  EXPECT_EQ(study->findChild<QLabel*>(QStringLiteral("LabelVref"))->text(), vref);
  EXPECT_EQ(study->Modulator().dt, 2e-6);
  ASSERT_EQ(study->LegDrawing().segments.size(), legs.segments.size());
  for (std::size_t i = 0; i < legs.segments.size(); ++i) {
    EXPECT_EQ(study->LegDrawing().segments[i].x2, legs.segments[i].x2) << i;
  }
  // A changed bus voltage shows at once, run or not.
  main.MutableSettings().E2 = 250.0;
  main.UpdateModifiedMark();
  EXPECT_EQ(study->findChild<QLabel*>(QStringLiteral("LabelVref"))->text().toStdString(),
            VrefLabel(VdsrefFromModulationIndex(0.25, 250.0)));
}

// Pixels of the leg-state drawing painted in the waveforms' blue.
int WaveformPixels(const QImage& legs) {
  int n = 0;
  for (int y = 0; y < legs.height(); ++y) {
    for (int x = 0; x < legs.width(); ++x) {
      const QColor c = legs.pixelColor(x, y);
      n += c.blue() > 150 && c.red() < 120 && c.green() < 120;
    }
  }
  return n;
}

// The screenshots show the window as drawn for their settings: waveforms on every leg,
// another sequence for another type and angle, the drawings grown with the window.
TEST(Screenshots, OfTheDoubleSvpwmWindow) {
  const QString dir = testing::ScreenshotDir();
  WindowFixture f;
  auto* legs = f.window.findChild<DrawingView*>(QStringLiteral("LegStates"));
  ASSERT_NE(legs, nullptr);
  f.Enter("EditThetas", "0.1");
  QApplication::processEvents();
  EXPECT_TRUE(f.window.grab().save(dir + "/TFormdSVPWM_type1.png"));
  const QImage type1 = legs->grab().toImage();
  EXPECT_GT(WaveformPixels(type1), 6 * 100);  // six legs, each a waveform across the period
  EXPECT_EQ(f.LabelText("LabelThetas"), "Th=36 (°)");
  f.window.findChild<QButtonGroup*>()->button(3)->click();
  f.Enter("EditThetas", "0.37");
  f.Enter("Editmref", "0.8");
  QApplication::processEvents();
  EXPECT_TRUE(f.window.grab().save(dir + "/TFormdSVPWM_type3.png"));
  const QImage type3 = legs->grab().toImage();
  EXPECT_GT(WaveformPixels(type3), 6 * 100);
  EXPECT_NE(type1, type3);
  f.window.findChild<QButtonGroup*>()->button(0)->click();
  const QSize before = legs->size();
  f.window.resize(1500, 700);
  QApplication::processEvents();
  EXPECT_TRUE(f.window.grab().save(dir + "/TFormdSVPWM_carrier_large.png"));
  EXPECT_GT(legs->width(), before.width());
  EXPECT_GT(WaveformPixels(legs->grab().toImage()), WaveformPixels(type3));
}

}  // namespace
}  // namespace mas::ui
