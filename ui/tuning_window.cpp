#include "ui/tuning_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

#include "ui/number_text.h"
#include "ui/qt_platform.h"

namespace mas::ui {
namespace {

QString Number(double value) { return ToQString(FormatReal(value, 6)); }

}  // namespace

TuningResultWindow::TuningResultWindow(QWidget* parent, TunedRegulator kind)
    : QWidget(parent, Qt::Window) {
  const bool ip = kind == TunedRegulator::kIP;
  setObjectName(ip ? QStringLiteral("TuningResultWindow")
                   : QStringLiteral("TuningResultWindowFlou"));
  setWindowTitle(ip ? QStringLiteral("Résultats de l'Algorithme Génétique")
                    : QStringLiteral("Résultats de l'Algorithme Génétique (régulateur flou)"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* values = new QGridLayout;
  values->setHorizontalSpacing(12);
  const std::array<QString, 3> gains =
      ip ? std::array<QString, 3>{QStringLiteral("KpW"), QStringLiteral("KiW"),
                                  QStringLiteral("Tt")}
         : std::array<QString, 3>{QStringLiteral("WFErr"), QStringLiteral("WFdErr"),
                                  QStringLiteral("WFdU")};
  generation_ = AddRow(values, 0, QStringLiteral("Génération :"), QStringLiteral("Gen"));
  kpw_ = AddRow(values, 1, gains[0] + QStringLiteral(" :"), gains[0]);
  kiw_ = AddRow(values, 2, gains[1] + QStringLiteral(" :"), gains[1]);
  tt_ = AddRow(values, 3, gains[2] + QStringLiteral(" :"), gains[2]);
  fitness_ = AddRow(values, 4, QStringLiteral("Erreur :"), QStringLiteral("Erreur"));
  values->setColumnStretch(2, 1);

  plot_ = new TuningCostPlot(this);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("Status"));
  status_->setWordWrap(true);
  stop_ = new QPushButton(QStringLiteral("Arrêter"), this);
  stop_->setObjectName(QStringLiteral("Arreter"));
  stop_->setToolTip(QStringLiteral("Arrête l'optimisation en cours (Echap)"));
  stop_->setEnabled(false);
  connect(stop_, &QPushButton::clicked, this, &TuningResultWindow::stopRequested);
  // Escape stops the optimisation from this window too, as it does from the main window.
  auto* escape = new QAction(this);
  escape->setShortcut(QKeySequence(Qt::Key_Escape));
  escape->setShortcutContext(Qt::WindowShortcut);
  connect(escape, &QAction::triggered, this, &TuningResultWindow::stopRequested);
  addAction(escape);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(stop_, 0, Qt::AlignRight | Qt::AlignVCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(values);
  layout->addWidget(plot_, 1);
  layout->addLayout(buttons);
  resize(460, 430);
}

QLabel* TuningResultWindow::AddRow(QGridLayout* grid, int row, const QString& caption,
                                   const QString& name) {
  grid->addWidget(new QLabel(caption, this), row, 0);
  auto* value = new QLabel(this);
  value->setObjectName(name);
  value->setTextInteractionFlags(Qt::TextSelectableByMouse);
  value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-0.000000e+000")));
  grid->addWidget(value, row, 1);
  return value;
}

void TuningResultWindow::Show(const TuningDisplay& display) {
  generation_->setText(QString::number(display.generation));
  kpw_->setText(Number(display.best[0]));
  kiw_->setText(Number(display.best[1]));
  tt_->setText(Number(display.best[2]));
  fitness_->setText(Number(display.best_fitness));
  update();
}

void TuningResultWindow::SetCosts(std::vector<CostPoint> costs) {
  plot_->SetPoints(std::move(costs));
}

void TuningResultWindow::SetStatus(const QString& text) { status_->setText(text); }

void TuningResultWindow::SetBusy(bool busy) { stop_->setEnabled(busy); }

void TuningResultWindow::closeEvent(QCloseEvent* event) {
  emit closing();
  QWidget::closeEvent(event);
}

QString TuningResultWindow::ValueText(const QString& name) const {
  const auto* label = findChild<QLabel*>(name);
  return label == nullptr ? QString() : label->text();
}

}  // namespace mas::ui
