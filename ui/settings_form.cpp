#include "ui/settings_form.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <map>

#include "ui/qt_platform.h"

namespace mas::ui {
namespace {

QString ObjectName(const std::string& field) { return QStringLiteral("IDC_") + ToQString(field); }

// The decimal separator of the user's locale, as the number fields show it.
QChar DecimalPoint() {
  const QString point = QLocale().decimalPoint();
  return point.size() == 1 ? point[0] : QChar('.');
}

const char* const kRefusedStyle = "QLineEdit { background: #ffe0e0; border: 2px solid #c00000; }";

}  // namespace

SettingsForm::SettingsForm(const DialogDescription& description, QWidget* parent)
    : QDialog(parent), description_(description), controls_(Controls(description)) {
  setWindowTitle(ToQString(description.caption));
  setObjectName(ToQString(description.id));
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);

  auto* layout = new QVBoxLayout(this);
  std::size_t next = 0;  // index of the next control of controls_
  std::map<std::string, QButtonGroup*> radio_groups;
  for (std::size_t g = 0; g < description.groups.size(); ++g) {
    const Group& group = description.groups[g];
    QWidget* box = nullptr;
    if (group.title.empty()) {
      box = new QWidget(this);
    } else {
      // A frame's title is one line: a line break of the description would clip it.
      auto* frame = new QGroupBox(ToQString(group.title).replace(QChar('\n'), QChar(' ')), this);
      box = frame;
    }
    box->setEnabled(!group.disabled);
    auto* grid = new QGridLayout(box);
    if (group.title.empty()) grid->setContentsMargins(0, 0, 0, 0);
    int grid_row = 0;
    if (!group.columns.empty()) {
      for (std::size_t c = 0; c < group.columns.size(); ++c) {
        auto* header = new QLabel(ToQString(group.columns[c]), box);
        header->setAlignment(Qt::AlignCenter);
        grid->addWidget(header, 0, static_cast<int>(c) + 1);
      }
      grid_row = 1;
    }
    // Check boxes and radio buttons flow over check_columns columns; labelled rows take
    // a label column and one column per edit.
    int flow = 0;
    // One exclusive button group per group of the description (radio buttons of one
    // field, or the flag buttons of a regulator choice).
    QButtonGroup* buttons = nullptr;
    for (std::size_t r = 0; r < group.rows.size(); ++r) {
      const Row& row = group.rows[r];
      const QString label = ToQString(row.label);
      switch (row.kind) {
        case ControlKind::kEdit:
        case ControlKind::kInertEdit: {
          auto* text = new QLabel(label, box);
          grid->addWidget(text, grid_row, 0);
          const std::size_t columns = row.kind == ControlKind::kEdit ? row.fields.size() : 1;
          for (std::size_t c = 0; c < columns; ++c) {
            auto* edit = new QLineEdit(box);
            edit->setMinimumWidth(110);
            if (row.kind == ControlKind::kEdit) {
              edit->setObjectName(ObjectName(row.fields[c]));
              const int index = static_cast<int>(widgets_.size());
              // Typing in the refused field clears its mark.
              connect(edit, &QLineEdit::textEdited, this, [this, index] {
                if (index == refused_) MarkRefused(-1);
              });
            } else {
              edit->setEnabled(false);
            }
            if (c == 0) text->setBuddy(edit);
            grid->addWidget(edit, grid_row, static_cast<int>(c) + 1);
            widgets_.push_back(edit);
            ++next;
          }
          ++grid_row;
          break;
        }
        case ControlKind::kNote: {
          grid->addWidget(new QLabel(label, box), grid_row, 0);
          grid->addWidget(new QLabel(ToQString(row.text), box), grid_row, 1);
          ++grid_row;
          break;
        }
        case ControlKind::kCheck:
        case ControlKind::kRadio:
        case ControlKind::kRadioFlag:
        case ControlKind::kInertRadio: {
          QAbstractButton* button = nullptr;
          if (row.kind == ControlKind::kCheck) {
            button = new QCheckBox(label, box);
          } else {
            button = new QRadioButton(label, box);
            if (buttons == nullptr) {
              buttons = new QButtonGroup(box);
              const std::string key = row.fields.empty() ? std::string() : row.fields[0];
              radio_groups[key] = buttons;
            }
            buttons->addButton(button);
            if (row.kind == ControlKind::kInertRadio) button->setEnabled(false);
          }
          if (!row.fields.empty()) {
            button->setObjectName(ObjectName(row.fields[0]) +
                                  (row.kind == ControlKind::kRadio
                                       ? QStringLiteral("_") + QString::number(row.code)
                                       : QString()));
          }
          const int cols = std::max(group.check_columns, 1);
          grid->addWidget(button, grid_row + flow / cols, flow % cols);
          ++flow;
          widgets_.push_back(button);
          ++next;
          // A labelled row after buttons starts below them.
          const bool last_button = r + 1 == group.rows.size() ||
                                   group.rows[r + 1].kind == ControlKind::kEdit ||
                                   group.rows[r + 1].kind == ControlKind::kNote ||
                                   group.rows[r + 1].kind == ControlKind::kInertEdit;
          if (last_button) {
            grid_row += (flow + cols - 1) / cols;
            flow = 0;
          }
          break;
        }
      }
    }
    layout->addWidget(box);
  }
  (void)next;

  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("Probleme"));
  problem_->setStyleSheet(QStringLiteral("color: #b00000;"));
  problem_->setWordWrap(false);
  problem_->hide();
  layout->addWidget(problem_);

  auto* box = new QDialogButtonBox(this);
  ok_ = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  cancel_ = box->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
  ok_->setDefault(true);
  ok_->setObjectName(QStringLiteral("OK"));
  cancel_->setObjectName(QStringLiteral("Annuler"));
  connect(box, &QDialogButtonBox::accepted, this, &SettingsForm::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(box);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  if (description.cancel_has_focus) cancel_->setFocus();
}

bool SettingsForm::IsNumberEdit(std::size_t index) const {
  return index < controls_.size() && controls_[index].kind == ControlKind::kEdit &&
         !controls_[index].field.empty() && controls_[index].conversion != Conversion::kText &&
         controls_[index].conversion != Conversion::kBarList;
}

void SettingsForm::accept() {
  const Refusal refusal = CheckDialog(description_, loaded_, State(), bars_);
  if (refusal.control < 0) {
    MarkRefused(-1);
    QDialog::accept();
    return;
  }
  MarkRefused(refusal.control);
  const char point = DecimalPoint() == QChar(',') ? ',' : '.';
  problem_->setText(
      ToQString(refusal.caption) + QStringLiteral(" : ") + ToQString(refusal.message) +
      QStringLiteral("\n") +
      ToQString(
          ExpectedText(description_, controls_[static_cast<std::size_t>(refusal.control)], point)));
  problem_->show();
  if (auto* edit = qobject_cast<QLineEdit*>(widgets_[static_cast<std::size_t>(refusal.control)])) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}

void SettingsForm::MarkRefused(int control) {
  if (refused_ >= 0) {
    QWidget* w = widgets_[static_cast<std::size_t>(refused_)];
    w->setStyleSheet(QString());
    w->setProperty("refused", false);
  }
  refused_ = control;
  if (control < 0) {
    problem_->hide();
    return;
  }
  QWidget* w = widgets_[static_cast<std::size_t>(control)];
  w->setStyleSheet(QString::fromUtf8(kRefusedStyle));
  w->setProperty("refused", true);
}

std::vector<ControlState> SettingsForm::State() const {
  std::vector<ControlState> out;
  out.reserve(widgets_.size());
  const QChar point = DecimalPoint();
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    QWidget* w = widgets_[i];
    ControlState s;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      // The dialog rules read the point form; a user's point is kept as typed.
      QString text = edit->text();
      if (IsNumberEdit(i) && point != QChar('.')) text.replace(point, QChar('.'));
      s.text = ToStdString(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      s.checked = button->isChecked();
    }
    out.push_back(std::move(s));
  }
  return out;
}

void SettingsForm::SetState(const std::vector<ControlState>& state) {
  // Settings may hold several flags of an exclusive choice at once (read from a file):
  // they are shown as they are, and the choice becomes exclusive again when the user
  // clicks one of its buttons.
  std::vector<QButtonGroup*> groups;
  for (QWidget* w : widgets_) {
    if (auto* button = qobject_cast<QAbstractButton*>(w); button && button->group()) {
      if (button->group()->exclusive()) groups.push_back(button->group());
      button->group()->setExclusive(false);
    }
  }
  for (std::size_t i = 0; i < widgets_.size() && i < state.size(); ++i) {
    if (auto* edit = qobject_cast<QLineEdit*>(widgets_[i])) {
      edit->setText(IsNumberEdit(i) ? LocalNumberText(state[i].text) : ToQString(state[i].text));
      edit->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widgets_[i])) {
      button->setChecked(state[i].checked);
    }
  }
  for (QButtonGroup* g : groups) g->setExclusive(true);
}

void SettingsForm::Load(const SimulationSettings& s) {
  loaded_ = LoadDialog(description_, s);
  bars_ = static_cast<int>(s.cage.BarreSel.size());
  SetState(loaded_);
}

StoreResult SettingsForm::Store(SimulationSettings& s) const {
  return StoreDialog(description_, loaded_, State(), s);
}

QWidget* SettingsForm::ControlFor(const std::string& field) const {
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    if (controls_[i].field == field) return widgets_[i];
  }
  return nullptr;
}

}  // namespace mas::ui
