#include "gui/UAbout.hpp"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "gui/Dialogs.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UMain.hpp"

namespace gui {

namespace {

constexpr int kButtonBottomGap = 345 - 286 - 25;  // the OK button's distance from the panel's foot

QFont Font(bool bold = false) {
  QFont font = QApplication::font();
  font.setPixelSize(13);
  font.setBold(bold);
  return font;
}

}  // namespace

TFAbout::TFAbout(TFMain& main) : QDialog(&main), main_(main) {
  // A caption but no title-bar buttons: OK closes the box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowIcon(ProgramIcon());
  setFont(Font());
  setWindowTitle("no matter");

  WindowPanel = new QFrame(this);
  WindowPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  WindowPanel->setLineWidth(2);
  WindowPanel->setGeometry(8, 8, 385, 345);
  Image1 = new QLabel(WindowPanel);
  Image1->setGeometry(8, 16, 41, 41);
  Image1->setPixmap(ProgramPixmap(32));
  ProductNameLabel = new QLabel(WindowPanel);
  ProductNameLabel->setFont(Font(true));
  ProductNameLabel->move(64, 24);
  CompanyNameLabel = new QLabel(WindowPanel);
  CompanyNameLabel->setCursor(Qt::PointingHandCursor);
  CompanyNameLabel->move(64, 60);
  CompanyLinkLabel = new QLabel(WindowPanel);
  CompanyLinkLabel->setCursor(Qt::PointingHandCursor);
  QPalette link = CompanyLinkLabel->palette();
  link.setColor(QPalette::WindowText, Qt::blue);
  CompanyLinkLabel->setPalette(link);
  QFont underlined = Font();
  underlined.setUnderline(true);
  CompanyLinkLabel->setFont(underlined);
  CompanyLinkLabel->move(16, 268);
  CompanyLinkLabel->installEventFilter(this);
  OKButton = new QPushButton("OK", WindowPanel);
  OKButton->setGeometry(295, 286, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &TFAbout::OKButtonClick);

  resize(400, 361);  // the design's 408 x 392 window less its frame
}

void TFAbout::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  WindowPanel->setGeometry(4, 4, width() - 8, height() - 8);
  setWindowTitle("About " + main_.ProgramTitle);
  ProductNameLabel->setText(main_.ProgramTitle + " build " + main_.ProgramVersion);
  ProductNameLabel->adjustSize();
  CompanyNameLabel->setText("Copyright \u00A9 " + main_.CompanyName);
  CompanyNameLabel->adjustSize();
  CompanyLinkLabel->setText(main_.WebSite);
  CompanyLinkLabel->adjustSize();
  // Centred on the box, placed inside the panel (4 pixels right of the centre line).
  OKButton->move((frameGeometry().width() - OKButton->width()) / 2,
                 WindowPanel->height() - kButtonBottomGap - OKButton->height());
}

void TFAbout::CompanyLinkLabelClick() {
  ShowPage(main_.dialogs(), this, main_.WebSite);
}

bool TFAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == CompanyLinkLabel && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    CompanyLinkLabelClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace gui
