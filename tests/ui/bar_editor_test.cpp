#include "ui/bar_editor.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace mas::ui {
namespace {

constexpr double kHealthy = 0.000164, kBroken = 0.0164;

TEST(BarEditor, EditsTheBarsInPlaceAndAnnulerKeepsTheChanges) {
  std::vector<double> rb(6, kHealthy);
  rb[2] = 0.5;  // neither healthy nor the broken value: shown as broken
  BarEditor editor(6, kHealthy, kBroken, rb);
  QComboBox* list = editor.BarList();
  ASSERT_EQ(list->count(), 6);
  EXPECT_EQ(list->itemText(0), "0");
  EXPECT_EQ(list->itemText(5), "5");
  EXPECT_EQ(list->currentIndex(), 0);
  EXPECT_FALSE(editor.BrokenBox()->isChecked());
  EXPECT_EQ(editor.ResistanceEdit()->text(), "0,000164");

  // Selecting a bar shows it without changing it (the check box follows quietly).
  list->setCurrentIndex(2);
  EXPECT_TRUE(editor.BrokenBox()->isChecked());
  EXPECT_EQ(editor.ResistanceEdit()->text(), "0,5");
  EXPECT_EQ(rb[2], 0.5);
  list->setCurrentIndex(1);
  EXPECT_FALSE(editor.BrokenBox()->isChecked());
  EXPECT_EQ(rb[2], 0.5);

  // Clicking "Cassée" breaks the bar, clicking again mends it.
  list->setCurrentIndex(3);
  editor.BrokenBox()->click();
  EXPECT_EQ(rb[3], kBroken);
  EXPECT_EQ(editor.ResistanceEdit()->text(), "0,0164");
  editor.BrokenBox()->click();
  EXPECT_EQ(rb[3], kHealthy);
  editor.BrokenBox()->click();

  // "Mise à jour" takes the typed value; a healthy value unchecks the box quietly.
  list->setCurrentIndex(4);
  editor.ResistanceEdit()->setText("0.002");
  editor.UpdateButton()->click();
  EXPECT_EQ(rb[4], 0.002);
  EXPECT_TRUE(editor.BrokenBox()->isChecked());
  editor.ResistanceEdit()->setText("0.000164");
  editor.UpdateButton()->click();
  EXPECT_EQ(rb[4], kHealthy);
  EXPECT_FALSE(editor.BrokenBox()->isChecked());
  editor.ResistanceEdit()->setText("1;5");
  editor.UpdateButton()->click();
  EXPECT_EQ(rb[4], kHealthy);
  EXPECT_EQ(editor.LastError(), "'1;5' n'est pas une valeur en virgule flottante correcte");

  editor.reject();  // "Annuler" keeps what was done
  EXPECT_EQ(rb[3], kBroken);
  EXPECT_EQ(rb[2], 0.5);

  // "Par défaut" mends every bar and refreshes the selected one.
  list->setCurrentIndex(3);
  EXPECT_TRUE(editor.BrokenBox()->isChecked());
  editor.DefaultButton()->click();
  EXPECT_EQ(rb, std::vector<double>(6, kHealthy));
  EXPECT_FALSE(editor.BrokenBox()->isChecked());
  EXPECT_EQ(editor.ResistanceEdit()->text(), "0,000164");
}

TEST(BarEditor, WithoutBarsNothingHappens) {
  std::vector<double> none;
  BarEditor editor(28, kHealthy, kBroken, none);  // arrays not allocated yet
  EXPECT_EQ(editor.BarList()->count(), 0);
  editor.BrokenBox()->click();
  editor.UpdateButton()->click();
  editor.DefaultButton()->click();
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace mas::ui
