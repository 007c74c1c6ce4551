#pragma once
// "A propos du logiciel de simulation".

#include <QDialog>

namespace mas::ui {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace mas::ui
