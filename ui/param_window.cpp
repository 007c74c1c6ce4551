#include "ui/param_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <cmath>

#include "ui/number_text.h"
#include "ui/qt_platform.h"

namespace mas::ui {
namespace {

constexpr std::array<const char*, 5> kMachineNames = {"Rs (Ohm)", "Rr (Ohm)", "Ls (H)", "Lr (H)",
                                                      "M (H)"};

std::optional<double> Finite(double v) {
  return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

QLineEdit* ReadOnlyEdit(QWidget* parent, const QString& name) {
  auto* edit = new QLineEdit(parent);
  edit->setReadOnly(true);
  edit->setObjectName(name);
  edit->setMinimumWidth(150);
  return edit;
}

}  // namespace

MachineOfGenes MachineFromGenes(const Genes& g) {
  MachineOfGenes m;
  m.Rs = Finite(g[kGeneRs]);
  const double ls = g[kGeneRs] * g[kGeneTs];
  m.Ls = Finite(ls);
  m.Lr = m.Ls;
  if (g[kGeneTr] != 0.0) m.Rr = Finite(ls / g[kGeneTr]);
  if (g[kGeneSigma] <= 1.0) m.M = Finite(ls * std::sqrt(1.0 - g[kGeneSigma]));
  return m;
}

std::string ShortestText(double value) { return FormatReal(value, 15); }

TParamWindow::TParamWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("TParamWindow"));
  setWindowTitle(QStringLiteral("Résultats de l'optimisation des paramètres"));
  auto* layout = new QHBoxLayout(this);

  auto* genes = new QGroupBox(QStringLiteral("Paramètres optimisés"), this);
  auto* grid = new QGridLayout(genes);
  interval_header_ = new QLabel(QStringLiteral("Intervalle à 95 %"), genes);
  interval_header_->setVisible(false);
  grid->addWidget(interval_header_, 0, 2);
  for (int j = 0; j < NGenes; ++j) {
    const QString name = QString::fromUtf8(kGeneNames[static_cast<std::size_t>(j)]);
    grid->addWidget(new QLabel(name, genes), j + 1, 0);
    values_[static_cast<std::size_t>(j)] = ReadOnlyEdit(genes, QStringLiteral("IDC_") + name);
    grid->addWidget(values_[static_cast<std::size_t>(j)], j + 1, 1);
    auto* interval = new QLabel(genes);
    interval->setObjectName(QStringLiteral("IC_") + name);
    interval->setVisible(false);
    intervals_[static_cast<std::size_t>(j)] = interval;
    grid->addWidget(interval, j + 1, 2);
  }
  layout->addWidget(genes);

  auto* machine = new QGroupBox(QStringLiteral("Machine correspondante"), this);
  auto* mgrid = new QGridLayout(machine);
  for (std::size_t k = 0; k < kMachineNames.size(); ++k) {
    const QString name = QString::fromUtf8(kMachineNames[k]);
    mgrid->addWidget(new QLabel(name, machine), static_cast<int>(k), 0);
    machine_[k] = ReadOnlyEdit(machine, QStringLiteral("Machine_") + name.section(' ', 0, 0));
    mgrid->addWidget(machine_[k], static_cast<int>(k), 1);
  }
  mgrid->setRowStretch(static_cast<int>(kMachineNames.size()), 1);
  layout->addWidget(machine, 0, Qt::AlignTop);
}

namespace {

// A value as its field shows it: six significant digits, so that it fits; the whole value
// in the field's tooltip.
void ShowValue(QLineEdit* edit, std::optional<double> value) {
  edit->setText(value ? ToQString(FormatReal(*value, 6)) : QStringLiteral("—"));
  edit->setToolTip(value ? ToQString(ShortestText(*value)) : QString());
  edit->setCursorPosition(0);
}

}  // namespace

void TParamWindow::ShowGenes(const Genes& g) {
  for (int j = 0; j < NGenes; ++j) {
    ShowValue(values_[static_cast<std::size_t>(j)], g[static_cast<std::size_t>(j)]);
  }
  const MachineOfGenes m = MachineFromGenes(g);
  const std::array<std::optional<double>, 5> values = {m.Rs, m.Rr, m.Ls, m.Lr, m.M};
  for (std::size_t k = 0; k < values.size(); ++k) ShowValue(machine_[k], values[k]);
}

void TParamWindow::ShowIntervals(const std::array<std::optional<GeneInterval>, NGenes>& intervals) {
  interval_header_->setVisible(true);
  for (std::size_t j = 0; j < intervals.size(); ++j) {
    QLabel* label = intervals_[j];
    if (!intervals[j]) {
      label->setText(QStringLiteral("tenu"));
    } else {
      const GeneInterval& i = *intervals[j];
      label->setText(QStringLiteral("[") + ToQString(FormatReal(i.lower, 4)) +
                     QStringLiteral(" ; ") + ToQString(FormatReal(i.upper, 4)) +
                     QStringLiteral("]") +
                     (i.identifiable ? QString() : QStringLiteral("  non identifiable")));
    }
    label->setVisible(true);
  }
  adjustSize();
}

void TParamWindow::ClearIntervals() {
  interval_header_->setVisible(false);
  for (QLabel* label : intervals_) {
    label->clear();
    label->setVisible(false);
  }
}

QString TParamWindow::ValueText(int gene) const {
  return gene >= 0 && gene < NGenes ? values_[static_cast<std::size_t>(gene)]->text() : QString();
}

QString TParamWindow::IntervalText(int gene) const {
  return gene >= 0 && gene < NGenes ? intervals_[static_cast<std::size_t>(gene)]->text()
                                    : QString();
}

QString TParamWindow::MachineText(int row) const {
  return row >= 0 && row < 5 ? machine_[static_cast<std::size_t>(row)]->text() : QString();
}

void TParamWindow::closeEvent(QCloseEvent* event) {
  // Closing by the frame hides the window and keeps it for the next showing.
  event->accept();
  emit closedByFrame();
}

}  // namespace mas::ui
