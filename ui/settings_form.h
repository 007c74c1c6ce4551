#pragma once
// The one generic settings dialog: it draws any dialog description (ui/dialog_model.h)
// with its groups, labels, edits, check boxes and radio buttons, fills the controls from
// the settings, and on "OK" stores the controls the user changed. Controls are named
// "IDC_" plus the setting they edit.

#include <QDialog>
#include <vector>

#include "ui/dialog_model.h"

class QAbstractButton;
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

 private:
  const DialogDescription& description_;
  std::vector<ControlRef> controls_;
  std::vector<QWidget*> widgets_;
  std::vector<ControlState> loaded_;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace mas::ui
