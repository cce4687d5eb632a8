#include "gui/UUpdate.hpp"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "gui/Dialogs.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UMain.hpp"

namespace gui {

TFUpdate::TFUpdate(TFMain& main) : QDialog(&main), main_(main) {
  setWindowTitle("New Update");
  setWindowIcon(ProgramIcon());
  QFont bold = QApplication::font();
  bold.setPixelSize(11);
  bold.setBold(true);
  setFont(bold);
  Label1 = new QLabel("A new update is available", this);
  Label1->move(68, 52);
  Label2 = new QLabel("Would You like to download it now ?", this);
  Label2->move(68, 76);
  yes_button = new QPushButton("Yes", this);
  yes_button->setGeometry(76, 132, 75, 25);
  yes_button->setDefault(true);
  no_button = new QPushButton("No", this);
  no_button->setGeometry(184, 132, 75, 25);
  setTabOrder(yes_button, no_button);
  connect(yes_button, &QPushButton::clicked, this, &TFUpdate::yes_buttonClick);
  connect(no_button, &QPushButton::clicked, this, &TFUpdate::no_buttonClick);
  resize(329, 196);  // the design's 337 x 227 window less its frame
}

void TFUpdate::showEvent(QShowEvent* event) {
  setWindowTitle(main_.ProgramTitle + " new update");
  QDialog::showEvent(event);
}

void TFUpdate::yes_buttonClick() {
  ShowPage(main_.dialogs(), this, main_.DownloadPage);
  accept();
}

}  // namespace gui
