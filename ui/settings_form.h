#pragma once
// The one generic settings dialog: it draws any dialog description (ui/dialog_model.h)
// with its groups, labels, edits, check boxes and radio buttons, fills the controls from
// the settings, and on "OK" stores the controls the user changed. Controls are named
// "IDC_" plus the setting they edit.
//
// "OK" closes the form only when every changed text converts: otherwise the form stays
// open with every edit as typed, the refused field is highlighted and focused, and a line
// above the buttons names it, gives the conversion's message and what it expects.
// Number fields show the user's decimal separator (a comma in French) and take either
// separator; the dialog rules and the files see the point.

#include <QDialog>
#include <vector>

#include "ui/dialog_model.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace mas::ui {

class SettingsForm : public QDialog {
  Q_OBJECT

 public:
  SettingsForm(const DialogDescription& description, QWidget* parent = nullptr);

  const DialogDescription& description() const { return description_; }

  // Copies the settings into the controls.
  void Load(const SimulationSettings& s);
  // Copies the changed controls back, with their conversions and follow-ups.
  StoreResult Store(SimulationSettings& s) const;

  // What the controls show now, in the description's control order.
  std::vector<ControlState> State() const;
  void SetState(const std::vector<ControlState>& state);

  // The widget of control `index` (a QLineEdit or a QAbstractButton).
  QWidget* Control(std::size_t index) const { return widgets_[index]; }
  // The widget editing `field` (first column), or nullptr.
  QWidget* ControlFor(const std::string& field) const;

  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  // The line naming a refused field (hidden when none is).
  QLabel* ProblemLabel() const { return problem_; }
  // The control refused by the last "OK", or -1.
  int RefusedControl() const { return refused_; }

  // "OK": closes only when every changed text converts.
  void accept() override;

 private:
  const DialogDescription& description_;
  std::vector<ControlRef> controls_;
  std::vector<QWidget*> widgets_;
  std::vector<ControlState> loaded_;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QLabel* problem_ = nullptr;
  int refused_ = -1;
  int bars_ = -1;  // the study's bar count, which bar numbers are checked against

  void MarkRefused(int control);
  bool IsNumberEdit(std::size_t index) const;
};

}  // namespace mas::ui
