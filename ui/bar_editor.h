#pragma once
// The broken-bar editor ("Barres cassées"): it edits the cage model's bar resistances in
// place, one bar at a time. "OK" and "Annuler" both only close it: every change made
// while it is open is kept, as each button acts at once.

#include <QDialog>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace mas::ui {

class BarEditor : public QDialog {
  Q_OBJECT

 public:
  // `resistances` is the cage model's array of bar resistances, edited in place; only
  // its first min(bar_count, size) bars are listed.
  BarEditor(int bar_count, double healthy, double broken, std::vector<double>& resistances,
            QWidget* parent = nullptr);

  QComboBox* BarList() const { return bars_; }
  QLineEdit* ResistanceEdit() const { return edit_; }
  QPushButton* UpdateButton() const { return update_; }
  QCheckBox* BrokenBox() const { return broken_box_; }
  QPushButton* DefaultButton() const { return default_; }

  // The message of the last refused "Mise à jour" (empty when none).
  const QString& LastError() const { return last_error_; }

 signals:
  void conversionRefused(const QString& message);

 private:
  int Selected() const;
  // Shows the selected bar's resistance and whether it differs from the healthy value.
  void ShowSelected();
  // Sets "Cassée" from code, without acting as a click.
  void SetBrokenQuietly(bool broken);
  void UpdateFromEdit();
  void AllHealthy();
  void BrokenToggled(bool checked);

  double healthy_;
  double broken_;
  std::vector<double>& resistances_;
  QComboBox* bars_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QPushButton* update_ = nullptr;
  QCheckBox* broken_box_ = nullptr;
  QPushButton* default_ = nullptr;
  bool suppress_toggle_ = false;  // one-shot: the next toggle was made by the editor
  QString last_error_;
};

}  // namespace mas::ui
