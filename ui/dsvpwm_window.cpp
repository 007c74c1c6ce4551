#include "ui/dsvpwm_window.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "dsvpwm/truncate.h"
#include "ui/number_text.h"

#ifdef MAS_HAVE_VIEWER_LAUNCHER
#include "viewer/launcher.h"
#endif

namespace mas::ui {

// ---- DrawingView.

DrawingView::DrawingView(Canvas canvas, QWidget* parent) : QWidget(parent), canvas_(canvas) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void DrawingView::SetDrawing(Drawing drawing) {
  drawing_ = std::move(drawing);
  update();
}

QSize DrawingView::sizeHint() const {
  return QSize(static_cast<int>(canvas_.width), static_cast<int>(canvas_.height));
}

QSize DrawingView::minimumSizeHint() const {
  return QSize(static_cast<int>(canvas_.width * 0.6), static_cast<int>(canvas_.height * 0.6));
}

void DrawingView::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // The canvas scaled to the widget with its proportions kept, centred.
  const double scale = std::min(width() / canvas_.width, height() / canvas_.height);
  p.translate((width() - canvas_.width * scale) / 2, (height() - canvas_.height * scale) / 2);
  p.scale(scale, scale);
  p.translate(-canvas_.left, -canvas_.top);

  auto qcolour = [](Colour c) { return QColor(c.r, c.g, c.b); };
  auto qpen = [&](const Pen& pen) {
    if (pen.width <= 0) return QPen(Qt::NoPen);
    QPen q(qcolour(pen.colour), pen.width, pen.dashed ? Qt::DashLine : Qt::SolidLine, Qt::FlatCap);
    return q;
  };
  for (const Polygon& polygon : drawing_.polygons) {
    QPolygonF points;
    for (const auto& pt : polygon.points) points << QPointF(pt[0], pt[1]);
    p.setPen(qpen(polygon.pen));
    p.setBrush(qcolour(polygon.fill));
    p.drawPolygon(points);
  }
  p.setBrush(Qt::NoBrush);
  for (const Segment& s : drawing_.segments) {
    p.setPen(qpen(s.pen));
    p.drawLine(QPointF(s.x1, s.y1), QPointF(s.x2, s.y2));
  }
  QFont normal = font();
  normal.setPixelSize(12);
  QFont small = font();
  small.setPixelSize(10);
  for (const Label& label : drawing_.labels) {
    p.setFont(label.small ? small : normal);
    p.setPen(qcolour(label.colour));
    const QString text = ToQString(label.text);
    if (label.centred) {
      p.drawText(QRectF(label.x - 50, label.y - 10, 100, 20), Qt::AlignCenter, text);
    } else {
      p.drawText(QRectF(label.x, label.y, 200, 20), Qt::AlignLeft | Qt::AlignTop, text);
    }
  }
}

// ---- TFormdSVPWM.

// A stand-alone simulation on its way: the modulator copy it works on and its outcome.
struct TFormdSVPWM::Job {
  DoubleSvpwm modulator;
  StandaloneSimulation sim;
  std::string path;
  StandaloneOutcome outcome;
};

namespace {

QString Text(double value) { return LocalNumberText(FormatReal(value, 15)); }

// Scroll-bar position of an edit value, saturated into the bar's range (the value is
// already checked to lie in it).
int Position(double value) {
  return static_cast<int>(std::clamp<std::int64_t>(TruncToInt64Saturating(value), 0, 100));
}

}  // namespace

TFormdSVPWM::TFormdSVPWM(DoubleSvpwm& modulator, QWidget* parent)
    : QWidget(parent, Qt::Window), modulator_(modulator), platform_(this) {
  setObjectName(QStringLiteral("TFormdSVPWM"));
  setWindowTitle(QStringLiteral("Double Space Vector PWM"));

  auto* controls = new QVBoxLayout;

  auto* angle_box = new QGroupBox(QStringLiteral("Angle Thetas (tour)"), this);
  auto* angle = new QVBoxLayout(angle_box);
  EditThetas = new QLineEdit(QStringLiteral("0"), angle_box);
  EditThetas->setObjectName(QStringLiteral("EditThetas"));
  SBThetas = new QScrollBar(Qt::Horizontal, angle_box);
  SBThetas->setObjectName(QStringLiteral("SBThetas"));
  SBThetas->setRange(0, 100);
  SBThetas->setValue(0);
  LabelThetas = new QLabel(QStringLiteral("0 (°)"), angle_box);
  LabelThetas->setObjectName(QStringLiteral("LabelThetas"));
  angle->addWidget(EditThetas);
  angle->addWidget(SBThetas);
  angle->addWidget(LabelThetas);
  controls->addWidget(angle_box);

  auto* index_box = new QGroupBox(QStringLiteral("Indice de modulation m"), this);
  auto* index = new QVBoxLayout(index_box);
  Editmref = new QLineEdit(Text(0.25), index_box);
  Editmref->setObjectName(QStringLiteral("Editmref"));
  SBmref = new QScrollBar(Qt::Horizontal, index_box);
  SBmref->setObjectName(QStringLiteral("SBmref"));
  SBmref->setRange(0, 100);
  SBmref->setValue(Position((m_ + 1) * 50));
  LabelVref = new QLabel(QStringLiteral("Vdsref(V)"), index_box);
  LabelVref->setObjectName(QStringLiteral("LabelVref"));
  index->addWidget(Editmref);
  index->addWidget(SBmref);
  index->addWidget(LabelVref);
  controls->addWidget(index_box);

  LabelSector = new QLabel(QStringLiteral("0"), this);
  LabelSector->setObjectName(QStringLiteral("LabelSector"));
  controls->addWidget(LabelSector);

  auto* type_box = new QGroupBox(QStringLiteral("PWM type"), this);
  type_box->setObjectName(QStringLiteral("RG"));
  auto* types = new QVBoxLayout(type_box);
  RG = new QButtonGroup(this);
  for (int i = 0; i < kModulationTypeCount; ++i) {
    auto* button = new QRadioButton(QString::fromUtf8(kModulationTypeCaptions[i]), type_box);
    RG->addButton(button, i);
    types->addWidget(button);
  }
  RG->button(static_cast<int>(ModulationType::kContinuous1))->setChecked(true);
  controls->addWidget(type_box);

  ButtonDraw = new QPushButton(QStringLiteral("Redessine"), this);
  ButtonDraw->setObjectName(QStringLiteral("ButtonDraw"));
  controls->addWidget(ButtonDraw);

  auto* panel = new QGroupBox(this);
  auto* panel_layout = new QVBoxLayout(panel);
  auto* times = new QFormLayout;
  Editdt = new QLineEdit(LocalNumberText("2.0e-6"), panel);
  Editdt->setObjectName(QStringLiteral("Editdt"));
  Edittf = new QLineEdit(Text(0.08), panel);
  Edittf->setObjectName(QStringLiteral("Edittf"));
  times->addRow(QStringLiteral("dt (s)"), Editdt);
  times->addRow(QStringLiteral("tf (s)"), Edittf);
  panel_layout->addLayout(times);
  auto* buttons = new QHBoxLayout;
  ButtonSimule = new QPushButton(QStringLiteral("Simule"), panel);
  ButtonSimule->setObjectName(QStringLiteral("ButtonSimule"));
  ButtonStop = new QPushButton(QStringLiteral("Stop"), panel);
  ButtonStop->setObjectName(QStringLiteral("ButtonStop"));
  ButtonStop->setToolTip(QStringLiteral("Arrête la simulation en cours (Echap)"));
  ButtonStop->setShortcut(QKeySequence(Qt::Key_Escape));
  ButtonStop->setEnabled(false);
  buttons->addWidget(ButtonSimule);
  buttons->addWidget(ButtonStop);
  panel_layout->addLayout(buttons);
  Progress = new QProgressBar(panel);
  Progress->setObjectName(QStringLiteral("Progress"));
  Progress->setRange(0, 100);
  Progress->setValue(0);
  Progress->setTextVisible(false);
  Progress->setMaximumHeight(14);
  panel_layout->addWidget(Progress);
  LabelStatus = new QLabel(panel);
  LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
  panel_layout->addWidget(LabelStatus);
  controls->addWidget(panel);
  controls->addStretch(1);

  leg_view_ = new DrawingView(LegDiagramCanvas(), this);
  leg_view_->setObjectName(QStringLiteral("LegStates"));
  vector_view_ = new DrawingView(VectorDiagramCanvas(), this);
  vector_view_->setObjectName(QStringLiteral("Vectors"));

  auto* layout = new QHBoxLayout(this);
  auto* control_column = new QWidget(this);
  control_column->setLayout(controls);
  control_column->setFixedWidth(control_column->sizeHint().width() + 10);
  layout->addWidget(control_column);
  // The leg states above the vector diagram, each keeping the proportions of its canvas.
  auto* drawings = new QVBoxLayout;
  drawings->addWidget(leg_view_, static_cast<int>(LegDiagramCanvas().height));
  drawings->addWidget(vector_view_, static_cast<int>(VectorDiagramCanvas().height));
  layout->addLayout(drawings, 1);

  connect(SBThetas, &QScrollBar::valueChanged, this, [this] { SBThetasChange(); });
  connect(SBmref, &QScrollBar::valueChanged, this, [this] { SBmrefChange(); });
  for (QLineEdit* edit : {EditThetas, Editdt, Edittf}) {
    connect(edit, &QLineEdit::returnPressed, this, [this] { EditThetasKeyDown(); });
  }
  connect(Editmref, &QLineEdit::returnPressed, this, [this] { EditmrefKeyDown(); });
  connect(RG, &QButtonGroup::idClicked, this, [this] { RGClick(); });
  connect(ButtonDraw, &QPushButton::clicked, this, [this] { ButtonDrawClick(); });
  connect(ButtonSimule, &QPushButton::clicked, this, [this] { ButtonSimuleClick(); });
  connect(ButtonStop, &QPushButton::clicked, this, [this] { StopSimulation(); });

  connect(&platform_, &QtPlatform::progressChanged, Progress, &QProgressBar::setValue);
  connect(&platform_, &QtPlatform::statusTextChanged, LabelStatus, &QLabel::setText);
  connect(&platform_, &QtPlatform::messageRequested, this,
          [this](const QString& text, const QString& caption, int icon) {
            ShowMessage(text, caption, static_cast<MessageIcon>(icon));
          });
  resize(sizeHint());
}

TFormdSVPWM::~TFormdSVPWM() {
  // The simulation works on its own copy: stop it and wait; its result is dropped.
  platform_.RequestStop();
  if (thread_.joinable()) thread_.join();
}

void TFormdSVPWM::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Shown again: the drawing follows the modulator's timing as the last run left it.
  Redraw();
  emit visibilityChanged(true);
}

void TFormdSVPWM::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  emit visibilityChanged(isVisible());
}

void TFormdSVPWM::ShowMessage(const QString& text, const QString& caption, MessageIcon icon) {
  if (message_presenter) {
    message_presenter(text, caption, icon);
    return;
  }
  QMessageBox::Icon qicon = QMessageBox::Information;
  if (icon == MessageIcon::kError || icon == MessageIcon::kStop) qicon = QMessageBox::Critical;
  if (icon == MessageIcon::kExclamation) qicon = QMessageBox::Warning;
  QMessageBox box(qicon, caption, text, QMessageBox::Ok, this);
  box.exec();
}

void TFormdSVPWM::StartViewer(const QString& data_file) {
  if (viewer_starter) {
    viewer_starter(data_file);
    return;
  }
#ifdef MAS_HAVE_VIEWER_LAUNCHER
  const viewer::LaunchResult launched = viewer::LaunchViewer(ToStdString(data_file));
  if (launched.started) return;
  ShowMessage(ToQString(launched.message), QStringLiteral("Affichage"), MessageIcon::kExclamation);
#else
  ShowMessage(QStringLiteral("Aucun visualiseur de courbes dans cette installation : le fichier ") +
                  data_file + QStringLiteral(" n'est pas affiché."),
              QStringLiteral("Affichage"), MessageIcon::kExclamation);
#endif
}

std::optional<double> TFormdSVPWM::ReadEdit(QLineEdit* edit) {
  const std::string text = ToStdString(edit->text());
  const std::optional<double> value = ParseReal(text);
  if (!value) {
    ShowMessage(ToQString(NotARealMessage(text)), QStringLiteral("Erreur"), MessageIcon::kError);
  }
  return value;
}

bool TFormdSVPWM::AcceptTheta() {
  const std::optional<double> value = ReadEdit(EditThetas);
  if (!value) return false;
  if (!(*value >= 0.0 && *value <= 1.0)) {
    // Outside one turn: the edit goes back to the scroll bar's angle.
    theta_turns_ = SBThetas->value() * 0.01;
    EditThetas->setText(Text(theta_turns_));
  } else {
    theta_turns_ = *value;
    const QSignalBlocker quiet(SBThetas);
    SBThetas->setValue(Position(*value * 100));
  }
  return true;
}

bool TFormdSVPWM::AcceptModulationIndex() {
  const std::optional<double> value = ReadEdit(Editmref);
  if (!value) return false;
  const QSignalBlocker quiet(SBmref);
  if (!(std::abs(*value) <= 1.0)) {
    m_ = 1.0;
    Editmref->setText(QStringLiteral("1"));
    SBmref->setValue(100);
  } else {
    m_ = *value;
    SBmref->setValue(Position((*value + 1) * 50));
  }
  return true;
}

void TFormdSVPWM::SBThetasChange() {
  theta_turns_ = SBThetas->value() * 0.01;
  EditThetas->setText(Text(theta_turns_));
  Redraw();
}

void TFormdSVPWM::EditThetasKeyDown() {
  if (AcceptTheta()) Redraw();
}

void TFormdSVPWM::SBmrefChange() {
  m_ = SBmref->value() * 0.02 - 1;
  Editmref->setText(Text(m_));
  Redraw();
}

void TFormdSVPWM::EditmrefKeyDown() {
  if (AcceptModulationIndex()) Redraw();
}

void TFormdSVPWM::RGClick() { Redraw(); }

void TFormdSVPWM::ButtonDrawClick() {
  // Both edits are checked before either is taken: a bad one changes nothing.
  if (!ReadEdit(EditThetas) || !ReadEdit(Editmref)) return;
  AcceptTheta();
  AcceptModulationIndex();
  Redraw();
}

void TFormdSVPWM::Redraw() {
  // The drawing samples the period with the window's own step, whatever step the main
  // window's last run gave the modulator; a "dt (s)" that is no positive number keeps the
  // last one taken.
  if (const std::optional<double> dt = ParseReal(ToStdString(Editdt->text()));
      dt && std::isfinite(*dt) && *dt > 0) {
    dt_ = *dt;
  }
  modulator_.dt = dt_;
  const int type = RG->checkedId();
  modulator_.type = static_cast<ModulationType>(type >= 0 ? type : 1);
  SetStudyReference(modulator_, theta_turns_, m_);
  LabelThetas->setText(ToQString(ThetaLabel(modulator_.Thetas)));
  LabelSector->setText(ToQString(SectorLabel(modulator_.Sector)));
  LabelVref->setText(ToQString(VrefLabel(modulator_.Vdsref)));
  leg_view_->SetDrawing(LegStateDiagram(modulator_));
  vector_view_->SetDrawing(VectorDiagram(modulator_));
}

void TFormdSVPWM::ButtonSimuleClick() {
  if (Simulating()) return;
  const std::optional<double> dt = ReadEdit(Editdt);
  if (!dt) return;
  const std::optional<double> tf = ReadEdit(Edittf);
  if (!tf) return;
  if (!AcceptModulationIndex()) return;
  Redraw();
  // An E/2 or TMLI carried from the study's settings can make the instants of the first
  // period infinite or NaN: the simulation is refused as `mas dsvpwm simulate` refuses it.
  if (const std::optional<std::string> refusal = NonFiniteSimulationMessage(modulator_, m_)) {
    ShowMessage(ToQString(*refusal), QStringLiteral("Erreur"), MessageIcon::kStop);
    return;
  }

  auto job = std::make_unique<Job>();
  job->modulator = modulator_;
  job->sim.dt = *dt;
  job->sim.tf = *tf;
  job->sim.m = m_;
  job->path = debug_file_name;
  job_ = std::move(job);

  platform_.ClearStopRequest();
  Progress->setValue(0);
  LabelStatus->clear();
  ButtonSimule->setEnabled(false);
  Editdt->setEnabled(false);
  Edittf->setEnabled(false);
  ButtonStop->setEnabled(true);
  Job* work = job_.get();
  thread_ = std::thread([this, work] {
    try {
      work->outcome = RunStandaloneSimulation(work->modulator, work->sim, work->path, &platform_);
    } catch (const std::exception& e) {
      work->outcome = {};
      work->outcome.message = e.what();
      work->outcome.caption = "Erreur";
    }
    QMetaObject::invokeMethod(
        this, [this] { SimulationDone(); }, Qt::QueuedConnection);
  });
}

void TFormdSVPWM::StopSimulation() {
  if (Simulating()) platform_.RequestStop();
}

void TFormdSVPWM::SimulationDone() {
  if (thread_.joinable()) thread_.join();
  const std::unique_ptr<Job> job = std::move(job_);
  ButtonSimule->setEnabled(true);
  Editdt->setEnabled(true);
  Edittf->setEnabled(true);
  ButtonStop->setEnabled(false);
  const StandaloneOutcome& outcome = job->outcome;
  if (!outcome.ok) {
    LabelStatus->clear();
    ShowMessage(ToQString(outcome.message), ToQString(outcome.caption), MessageIcon::kStop);
    emit simulationFinished();
    return;
  }
  // The study shares its step with the drawing: the simulation's dt stays in force.
  dt_ = job->sim.dt;
  Redraw();
  if (outcome.interrupted) {
    LabelStatus->setText(QStringLiteral("Simulation interrompue"));
  } else {
    LabelStatus->setText(QStringLiteral("Fin de la simulation"));
    StartViewer(ToQString(job->path));
  }
  emit simulationFinished();
}

}  // namespace mas::ui
