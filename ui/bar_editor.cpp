#include "ui/bar_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/number_text.h"
#include "ui/qt_platform.h"

namespace mas::ui {

BarEditor::BarEditor(int bar_count, double healthy, double broken, std::vector<double>& resistances,
                     QWidget* parent)
    : QDialog(parent), healthy_(healthy), broken_(broken), resistances_(resistances) {
  setWindowTitle(QStringLiteral("Barres cassées"));
  setObjectName(QStringLiteral("TDIALOG_BARRE"));
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);

  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  bars_ = new QComboBox(this);
  bars_->setToolTip(QStringLiteral("Numéro de la barre"));
  bars_->setStatusTip(bars_->toolTip());
  edit_ = new QLineEdit(this);
  edit_->setToolTip(QStringLiteral("Résistance actuelle"));
  edit_->setStatusTip(edit_->toolTip());
  edit_->setMinimumWidth(110);
  update_ = new QPushButton(QStringLiteral("Mise à jour"), this);
  update_->setAutoDefault(false);
  broken_box_ = new QCheckBox(QStringLiteral("Cassée"), this);
  broken_box_->setToolTip(
      QStringLiteral("Mettre la valeur de la résistance à la valeur défectueuse"));
  broken_box_->setStatusTip(broken_box_->toolTip());
  default_ = new QPushButton(QStringLiteral("Par défaut"), this);
  default_->setAutoDefault(false);

  auto* bar_label = new QLabel(QStringLiteral("Barre n° :"), this);
  bar_label->setBuddy(bars_);
  auto* rb_label = new QLabel(QStringLiteral("Rb (Ohm)"), this);
  rb_label->setBuddy(edit_);
  grid->addWidget(bar_label, 0, 0);
  grid->addWidget(bars_, 0, 1);
  grid->addWidget(rb_label, 1, 0);
  grid->addWidget(edit_, 1, 1);
  grid->addWidget(update_, 1, 2);
  grid->addWidget(broken_box_, 2, 1);
  grid->addWidget(default_, 2, 2);
  layout->addLayout(grid);

  auto* box = new QDialogButtonBox(this);
  auto* ok = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  box->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(box);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  const int count = std::clamp(bar_count, 0, static_cast<int>(resistances_.size()));
  for (int i = 0; i < count; ++i) bars_->addItem(QString::number(i));
  connect(bars_, &QComboBox::currentIndexChanged, this, [this](int) { ShowSelected(); });
  connect(update_, &QPushButton::clicked, this, [this] { UpdateFromEdit(); });
  connect(default_, &QPushButton::clicked, this, [this] { AllHealthy(); });
  connect(broken_box_, &QCheckBox::toggled, this, [this](bool on) { BrokenToggled(on); });
  if (count > 0) {
    bars_->setCurrentIndex(0);
    ShowSelected();
  }
}

int BarEditor::Selected() const {
  const int i = bars_->currentIndex();
  return i >= 0 && i < static_cast<int>(resistances_.size()) ? i : -1;
}

void BarEditor::SetBrokenQuietly(bool broken) {
  if (broken_box_->isChecked() != broken) suppress_toggle_ = true;
  broken_box_->setChecked(broken);
}

void BarEditor::ShowSelected() {
  const int i = Selected();
  if (i < 0) return;
  const double r = resistances_[static_cast<std::size_t>(i)];
  edit_->setText(LocalNumberText(FormatReal(r, 15)));
  SetBrokenQuietly(r != healthy_);
}

void BarEditor::UpdateFromEdit() {
  const int i = Selected();
  if (i < 0) return;
  const std::string text = ToStdString(edit_->text());
  const auto value = ParseReal(text);
  if (!value) {
    last_error_ = ToQString(NotARealMessage(text));
    emit conversionRefused(last_error_);
    return;
  }
  resistances_[static_cast<std::size_t>(i)] = *value;
  SetBrokenQuietly(*value != healthy_);
}

void BarEditor::AllHealthy() {
  std::fill(resistances_.begin(), resistances_.end(), healthy_);
  ShowSelected();
}

void BarEditor::BrokenToggled(bool checked) {
  if (suppress_toggle_) {
    suppress_toggle_ = false;
    return;
  }
  const int i = Selected();
  if (i < 0) return;
  auto& r = resistances_[static_cast<std::size_t>(i)];
  r = checked ? broken_ : healthy_;
  edit_->setText(LocalNumberText(FormatReal(r, 15)));
}

}  // namespace mas::ui
