// The About box.
#include "gui/UAbout.hpp"

#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "gui/GuiTesting.hpp"
#include "gui/UMain.hpp"
#include "support/FakeOffice.hpp"

namespace {

using gui::TFAbout;

class AboutBox : public testing::Test {
 protected:
  fake::FakeOffice office;
  gui_testing::FakeDialogs dialogs;
  gui::TFMain main{office, dialogs};
};

TEST_F(AboutBox, ShowsTitleVersionMakerAndSite) {
  TFAbout about(main);
  about.show();
  EXPECT_EQ(about.windowTitle(), "About Tabloom");
  EXPECT_EQ(about.ProductNameLabel->text(), "Tabloom build 1.0.7");
  EXPECT_TRUE(about.CompanyNameLabel->text().endsWith("Quernby Software"));
  EXPECT_EQ(about.CompanyLinkLabel->text(), main.WebSite);
  EXPECT_EQ(about.OKButton->text(), "OK");
  EXPECT_FALSE(about.Image1->pixmap().isNull());
  EXPECT_EQ(about.Image1->pixmap().size(), QSize(32, 32));
  const Qt::WindowFlags flags = about.windowFlags();
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
}

TEST_F(AboutBox, ResizingKeepsTheMarginAndCentresOk) {
  TFAbout about(main);
  about.show();
  about.resize(600, 500);
  EXPECT_EQ(about.WindowPanel->geometry(), QRect(4, 4, 592, 492));
  EXPECT_EQ(about.OKButton->x(), (about.frameGeometry().width() - 75) / 2);
  EXPECT_EQ(about.WindowPanel->height() - about.OKButton->geometry().bottom() - 1, 34);
}

TEST_F(AboutBox, TheLinkOpensTheSiteAndTheBoxStays) {
  TFAbout about(main);
  about.show();
  QTest::mouseClick(about.CompanyNameLabel, Qt::LeftButton);
  EXPECT_TRUE(dialogs.urls.empty());
  QTest::mouseClick(about.CompanyLinkLabel, Qt::LeftButton);
  ASSERT_EQ(dialogs.urls.size(), 1u);
  EXPECT_EQ(dialogs.urls[0], main.WebSite);
  EXPECT_TRUE(about.isVisible());
}

TEST_F(AboutBox, TheAboutButtonShowsItModallyAndOkClosesIt) {
  QString title;
  gui_testing::WhenModal([&](QWidget* modal) {
    title = modal->windowTitle();
    auto* about = qobject_cast<TFAbout*>(modal);
    ASSERT_NE(about, nullptr);
    QTest::mouseClick(about->OKButton, Qt::LeftButton);
  });
  QTest::mouseClick(main.AboutButton, Qt::LeftButton);
  EXPECT_EQ(title, "About Tabloom");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
