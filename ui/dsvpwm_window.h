#pragma once
// The study window of the double space-vector modulator, "Double Space Vector PWM": the
// reference angle (a fraction of a turn) and the modulation index, each an edit with its
// scroll bar, the modulation type ("PWM type"), the leg states of one switching period
// beside the vector diagram of the two three-phase sets (ui/dsvpwm_geometry.h), and the
// stand-alone simulation of six R-L phases fed by the modulator ("Simule"), whose table
// "mydspwm_debug.dat" is then shown with the curve viewer.
//
// The window edits the one modulator of the workbench (the main window's, which its
// inverter also uses); it does not own it. Its E/2 and TMLI are the study's (the main
// window sets them when the study is read or changed, and each run resets them); its step
// is the window's own "dt (s)", which every redraw gives the modulator back, so that a
// main run with a coarser step does not shrink the waveforms to dots.
//
// Choices of this window:
//  - The drawing uses the last accepted angle and index. An edit's text is taken with
//    Enter (or "Redessine", which takes both): text that is no number shows the
//    conversion message and changes nothing; an angle outside [0, 1] turn is replaced by
//    the scroll bar's value; an index of magnitude above 1 (or not finite) is replaced by
//    "1". A value taken from an edit stays as typed: its scroll bar follows it without
//    rewriting the edit with its own coarser step.
//  - The index scroll bar starts at the position of the index shown, 0.25 (position 62),
//    so that the first move of the bar continues from the value drawn.
//  - "Simule" runs on a worker thread on a copy of the modulator, so the drawing stays
//    usable while it runs; a progress bar follows it and "Stop" (or Escape) ends it with
//    the lines written so far. When it ends without failure the copy, as the simulation
//    left it (its step dt, its last reference), becomes the workbench's modulator again
//    and the drawing is remade from the window's angle, index and type. The curve viewer
//    is started on a complete table, not on an interrupted one.
//  - Text that is no number in "dt (s)", "tf (s)" or the index stops "Simule" with the
//    conversion message before anything is written; so does a modulator whose E/2 or
//    TMLI makes the first period's instants non-finite, with the message of
//    `mas dsvpwm simulate`.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "dsvpwm/double_svpwm.h"
#include "dsvpwm/study.h"
#include "ui/dsvpwm_geometry.h"
#include "ui/qt_platform.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;

namespace mas::ui {

// Paints one Drawing scaled into its rectangle, keeping the proportions of its canvas.
class DrawingView : public QWidget {
  Q_OBJECT

 public:
  explicit DrawingView(Canvas canvas, QWidget* parent = nullptr);
  void SetDrawing(Drawing drawing);
  const Drawing& CurrentDrawing() const { return drawing_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Canvas canvas_;
  Drawing drawing_;
};

class TFormdSVPWM : public QWidget {
  Q_OBJECT

 public:
  explicit TFormdSVPWM(DoubleSvpwm& modulator, QWidget* parent = nullptr);
  ~TFormdSVPWM() override;

  // Handlers.
  void SBThetasChange();
  void EditThetasKeyDown();  // Enter in EditThetas, Editdt or Edittf
  void SBmrefChange();
  void EditmrefKeyDown();
  void RGClick();
  void ButtonDrawClick();
  void ButtonSimuleClick();
  void StopSimulation();

  // Sets the modulator's reference and type from the window's values, recomputes and
  // remakes both drawings and the labels.
  void Redraw();

  bool Simulating() const { return job_ != nullptr; }
  const DoubleSvpwm& Modulator() const { return modulator_; }
  double ThetaTurns() const { return theta_turns_; }
  double ModulationIndex() const { return m_; }
  const Drawing& LegDrawing() const { return leg_view_->CurrentDrawing(); }
  const Drawing& VectorDrawing() const { return vector_view_->CurrentDrawing(); }

  // The table "Simule" writes (the working folder's "mydspwm_debug.dat" unless changed).
  std::string debug_file_name = kDsvpwmDebugFileName;

  // Seams for the tests and the main window; each defaults to the ordinary Qt box or the
  // workbench's launcher of the curve viewer.
  std::function<void(const QString& text, const QString& caption, MessageIcon icon)>
      message_presenter;
  std::function<void(const QString& data_file)> viewer_starter;

 signals:
  void visibilityChanged(bool visible);
  void simulationFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct Job;

  void ShowMessage(const QString& text, const QString& caption, MessageIcon icon);
  void StartViewer(const QString& data_file);
  void SimulationDone();
  // The edit's text as a number, or the conversion message and nothing.
  std::optional<double> ReadEdit(QLineEdit* edit);
  bool AcceptTheta();
  bool AcceptModulationIndex();

  DoubleSvpwm& modulator_;
  double dt_ = 2.0e-6;  // the window's step, "dt (s)"
  double theta_turns_ = 0.0;
  double m_ = 0.25;

  QLineEdit* EditThetas = nullptr;
  QScrollBar* SBThetas = nullptr;
  QLineEdit* Editmref = nullptr;
  QScrollBar* SBmref = nullptr;
  QButtonGroup* RG = nullptr;
  QPushButton* ButtonDraw = nullptr;
  QLineEdit* Editdt = nullptr;
  QLineEdit* Edittf = nullptr;
  QPushButton* ButtonSimule = nullptr;
  QPushButton* ButtonStop = nullptr;
  QProgressBar* Progress = nullptr;
  QLabel* LabelThetas = nullptr;
  QLabel* LabelSector = nullptr;
  QLabel* LabelVref = nullptr;
  QLabel* LabelStatus = nullptr;
  DrawingView* leg_view_ = nullptr;
  DrawingView* vector_view_ = nullptr;

  QtPlatform platform_;
  std::unique_ptr<Job> job_;
  std::thread thread_;
};

}  // namespace mas::ui
