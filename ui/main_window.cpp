#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include "ui/diagram_widget.h"
#include "ui/dialog_model.h"
#include "ui/dsvpwm_window.h"
#include "ui/identification_commands.h"
#include "ui/tuning_commands.h"

namespace mas::ui {
namespace {

constexpr const char* kCaption = "Commande vectorielle de MAS";

QString JoinPath(const std::vector<std::string>& path, std::size_t count) {
  QString key;
  for (std::size_t i = 0; i < count; ++i) key += ToQString(path[i]) + QChar('\x1f');
  return key;
}

// The time-parameters button's picture: a clock, drawn so that it is sharp at any scale.
QIcon ClockIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(side / 24.0, side / 24.0);
    p.setPen(QPen(QColor(30, 50, 110), 1.6));
    p.setBrush(QColor(240, 244, 255));
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    p.drawLine(QPointF(12, 12), QPointF(12, 6));
    p.drawLine(QPointF(12, 12), QPointF(16.5, 14));
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

TSimulWindow::TSimulWindow(QWidget* parent)
    : QMainWindow(parent), platform_(this), worker_(platform_, this) {
  setObjectName(QStringLiteral("TSimulWindow"));
  // A fresh study: every setting at its default, no file, no tables.
  settings_.ParamFileName.clear();
  settings_.OutFileName = "out.dat";
  saved_fingerprint_ = SettingsFingerprint(settings_);
  ApplyCaptionRule();

  diagram_ = new DiagramWidget(this);
  diagram_->installEventFilter(this);
  setCentralWidget(diagram_);
  connect(diagram_, &DiagramWidget::regionClicked, this, [this](int index) {
    if (Running()) return;
    const Region& region = DiagramRegions()[static_cast<std::size_t>(index)];
    RunCommand(MenuItemByHandler(region.opens));
  });

  BuildMenus();
  BuildToolBar();
  statusBar()->setSizeGripEnabled(true);

  connect(&platform_, &QtPlatform::messageRequested, this,
          [this](const QString& text, const QString& caption, int icon) {
            ShowMessage(text, caption, static_cast<MessageIcon>(icon));
          });
  connect(&platform_, &QtPlatform::statusTextChanged, this,
          [this](const QString& text) { statusBar()->showMessage(text); });
  connect(&platform_, &QtPlatform::progressChanged, progress_, &QProgressBar::setValue);
  connect(&platform_, &QtPlatform::waitCursorChanged, this, [this](bool waiting) {
    // The window stays usable during a run: the cursor says "busy", not "wait".
    if (waiting) {
      setCursor(Qt::BusyCursor);
    } else {
      unsetCursor();
    }
  });
  connect(&platform_, &QtPlatform::processRequested, this,
          [this](const QString& command_line) { StartProcess(command_line); });
  connect(&worker_, &RunWorker::finished, this, [this] { RunFinished(); });
  // The speed-regulator tuning: its populations live as long as the window, its commands
  // are registered on the menu (a child object, destroyed with the window).
  new TuningWorkbench(*this);
  // The identification workbenches and their result window, likewise.
  new IdentificationWorkbenches(*this);

  // The study of the double space-vector modulator edits the modulator the runs carry.
  dsvpwm_window_ = new TFormdSVPWM(carried_.dsvpwm, this);
  dsvpwm_window_->viewer_starter = [this](const QString& data_file) { StartViewer(data_file); };
  UpdateModifiedMark();
  if (QAction* action = ActionFor("Menu_dsvpwmClick")) {
    connect(dsvpwm_window_, &TFormdSVPWM::visibilityChanged, action, &QAction::setChecked);
  }

  resize(640, 500);
}

TSimulWindow::~TSimulWindow() {
  // The study window refers to carried_.dsvpwm: it goes before the members do.
  delete dsvpwm_window_;
  platform_.RequestStop();
  worker_.Wait();
}

void TSimulWindow::BuildMenus() {
  std::map<QString, QMenu*> menus;
  auto menu_for = [&](const std::vector<std::string>& path) {
    QMenu* parent = nullptr;
    for (std::size_t depth = 1; depth <= path.size(); ++depth) {
      const QString key = JoinPath(path, depth);
      auto it = menus.find(key);
      if (it == menus.end()) {
        const QString title = ToQString(path[depth - 1]);
        QMenu* menu = parent == nullptr ? menuBar()->addMenu(title) : parent->addMenu(title);
        menu->setObjectName(title);
        it = menus.emplace(key, menu).first;
      }
      parent = it->second;
    }
    return parent;
  };
  for (const MenuItem& item : MenuItems()) {
    QMenu* menu = menu_for(item.path);
    if (item.caption.empty()) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(ToQString(item.caption));
    action->setStatusTip(ToQString(item.hint));
    if (!item.shortcut.empty()) action->setShortcut(QKeySequence(ToQString(item.shortcut)));
    const bool has_action = item.command != Command::kNone;
    action->setEnabled(has_action && !item.starts_disabled);
    if (item.command == Command::kDsvpwmWindow) action->setCheckable(true);
    if (has_action) {
      connect(action, &QAction::triggered, this, [this, &item] { RunCommand(item); });
      if (!item.handler.empty() && actions_.find(item.handler) == actions_.end()) {
        actions_[item.handler] = action;
      }
      switch (item.command) {
        case Command::kFileOpen:
        case Command::kRun:
        case Command::kSettingsDialog:
        case Command::kBarEditor:
        case Command::kWorkbenchWindow:
          if (action->isEnabled()) study_actions_.push_back(action);
          break;
        default:
          break;
      }
    }
  }
  for (const MenuHint& hint : MenuHints()) {
    auto it = menus.find(JoinPath(hint.path, hint.path.size()));
    if (it != menus.end()) it->second->menuAction()->setStatusTip(ToQString(hint.hint));
  }
}

void TSimulWindow::BuildToolBar() {
  QToolBar* bar = addToolBar(QStringLiteral("Outils"));
  bar->setObjectName(QStringLiteral("ToolBar"));
  bar->setMovable(false);
  bar->setIconSize(QSize(20, 20));
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto add = [&](const QString& text, const QString& hint, const std::string& handler,
                 const QIcon& icon = QIcon()) {
    QAction* action = bar->addAction(icon, text);
    action->setStatusTip(hint);
    action->setToolTip(hint);
    connect(action, &QAction::triggered, this,
            [this, handler] { RunCommand(MenuItemByHandler(handler)); });
    if (!icon.isNull()) {
      if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action))) {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
      }
    }
    QFont bold = bar->widgetForAction(action)->font();
    bold.setBold(true);
    bar->widgetForAction(action)->setFont(bold);
    return action;
  };
  QAction* open = add(QStringLiteral("Ouvrir"),
                      QStringLiteral("Ouvre un fichier de machine asynchrone ( *.mas ) existant"),
                      "CmFileOpen", style()->standardIcon(QStyle::SP_DialogOpenButton));
  QAction* run = add(QStringLiteral("Run"), QStringLiteral("Lance la simulation"), "CmRun");
  bar->addSeparator();
  add(QStringLiteral("Affichage"), QStringLiteral("Simulation Affichage des courbes"),
      "CmAffichage");
  QAction* time = add(QStringLiteral("Temps"),
                      QStringLiteral("Change les paramètres temporels de la simulation"),
                      "CmOptionsTimeSimul", ClockIcon());
  bar->addSeparator();
  QAction* columns = add(QStringLiteral("Options Affichage"),
                         QStringLiteral("Choisit les grandeurs à sortir sur le fichier de sortie"),
                         "CmOptionsAffiche");
  study_actions_.insert(study_actions_.end(), {open, run, time, columns});

  // Stops the run in progress; Escape does the same from anywhere in the window.
  stop_action_ = bar->addAction(QStringLiteral("Arrêter"));
  stop_action_->setObjectName(QStringLiteral("Arreter"));
  stop_action_->setStatusTip(QStringLiteral("Arrête la simulation en cours (Echap)"));
  stop_action_->setToolTip(stop_action_->statusTip());
  stop_action_->setShortcut(QKeySequence(Qt::Key_Escape));
  stop_action_->setShortcutContext(Qt::WindowShortcut);
  stop_action_->setEnabled(false);
  connect(stop_action_, &QAction::triggered, this, [this] { StopRun(); });
  QFont bold = bar->widgetForAction(stop_action_)->font();
  bold.setBold(true);
  bar->widgetForAction(stop_action_)->setFont(bold);

  auto* spacer = new QWidget(bar);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  bar->addWidget(spacer);
  progress_ = new QProgressBar(bar);
  progress_->setObjectName(QStringLiteral("ProgressBar"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progress_->setFixedSize(185, 16);
  progress_->setStatusTip(QStringLiteral("Progression de la simulation"));
  progress_->setToolTip(progress_->statusTip());
  bar->addWidget(progress_);
}

QAction* TSimulWindow::ActionFor(const std::string& handler) const {
  auto it = actions_.find(handler);
  return it == actions_.end() ? nullptr : it->second;
}

void TSimulWindow::ApplyCaptionRule() {
  // "[*]" is where the title bar shows the mark of unsaved changes.
  const QString name = ToQString(settings_.ParamFileName);
  setWindowTitle(name.isEmpty() ? QString::fromUtf8(kCaption) + QStringLiteral("[*]")
                                : QString::fromUtf8(kCaption) + QStringLiteral(" - ") +
                                      QFileInfo(name).fileName() + QStringLiteral("[*]"));
  UpdateModifiedMark();
}

void TSimulWindow::UpdateModifiedMark() {
  setWindowModified(StudyChanged());
  // The modulator study shows the study's DC bus and switching period from the start,
  // not only after a run has reset the modulator.
  DoubleSvpwm& m = carried_.dsvpwm;
  if (m.E2 != settings_.E2 || m.TMLI != settings_.TMLI) {
    m.SetTiming(settings_.E2, settings_.TMLI, m.dt);
    if (dsvpwm_window_ != nullptr && dsvpwm_window_->isVisible()) dsvpwm_window_->Redraw();
  }
}

void TSimulWindow::SetRunning(bool running) {
  for (QAction* action : study_actions_) action->setEnabled(!running);
  stop_action_->setEnabled(running);
  emit busyChanged(running);
}

bool TSimulWindow::StudyChanged() const {
  return SettingsFingerprint(settings_) != saved_fingerprint_;
}

void TSimulWindow::MarkSaved() {
  saved_fingerprint_ = SettingsFingerprint(settings_);
  UpdateModifiedMark();
}

void TSimulWindow::ShowMessage(const QString& text, const QString& caption, MessageIcon icon) {
  if (message_presenter) {
    message_presenter(text, caption, icon);
    return;
  }
  QMessageBox::Icon qicon = QMessageBox::Information;
  switch (icon) {
    case MessageIcon::kInformation:
      qicon = QMessageBox::Information;
      break;
    case MessageIcon::kError:
    case MessageIcon::kStop:
      qicon = QMessageBox::Critical;
      break;
    case MessageIcon::kExclamation:
      qicon = QMessageBox::Warning;
      break;
  }
  QMessageBox box(qicon, caption, text, QMessageBox::Ok, this);
  box.exec();
}

int TSimulWindow::RunDialog(QDialog& dialog) {
  if (dialog_runner) return dialog_runner(dialog);
  return dialog.exec();
}

bool TSimulWindow::MayDropStudy() {
  UpdateModifiedMark();
  if (!StudyChanged()) return true;
  QMessageBox::StandardButton answer = QMessageBox::Cancel;
  if (save_question) {
    answer = save_question();
  } else {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kCaption),
                    QStringLiteral("Les paramètres ont été modifiés depuis la dernière "
                                   "lecture ou le dernier enregistrement.\n"
                                   "Voulez-vous les enregistrer ?"),
                    QMessageBox::NoButton, this);
    QPushButton* save = box.addButton(QStringLiteral("Enregistrer"), QMessageBox::AcceptRole);
    QPushButton* discard =
        box.addButton(QStringLiteral("Ne pas enregistrer"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Annuler"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save) answer = QMessageBox::Save;
    if (box.clickedButton() == discard) answer = QMessageBox::Discard;
    if (box.clickedButton() == cancel) answer = QMessageBox::Cancel;
  }
  if (answer == QMessageBox::Cancel) return false;
  return answer != QMessageBox::Save || CmFileSave();
}

void TSimulWindow::closeEvent(QCloseEvent* event) {
  if (!MayDropStudy()) {
    event->ignore();
    return;
  }
  if (Running()) {
    platform_.RequestStop();
    worker_.Wait();
  }
  event->accept();
}

bool TSimulWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == diagram_ && event->type() == QEvent::Paint && !first_paint_seen_) {
    first_paint_seen_ = true;
    QMetaObject::invokeMethod(
        this, [this] { emit firstPainted(); }, Qt::QueuedConnection);
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace mas::ui
