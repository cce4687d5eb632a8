// The update check through the main window, against a loopback server.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "gui/GuiTesting.hpp"
#include "gui/UMain.hpp"
#include "gui/UUpdate.hpp"
#include "gui/UUpdateCheckThread.hpp"
#include "support/FakeOffice.hpp"
#include "support/LoopbackHttpServer.hpp"

namespace {

using testing_http::LoopbackHttpServer;

// Points the check at a port of this machine for the window created in its scope.
class UpdateHost {
 public:
  explicit UpdateHost(int port) : saved_(qgetenv("TABLOOM_UPDATE_HOST")) {
    qputenv("TABLOOM_UPDATE_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
  }
  ~UpdateHost() { qputenv("TABLOOM_UPDATE_HOST", saved_); }

 private:
  QByteArray saved_;
};

std::string Answer(const std::string& version) {
  const std::string body =
      "\r\n<?xml version=\"1.0\"?><check><version val=\"" + version + "\"/></check>\r\n";
  return LoopbackHttpServer::Response(
      "200 OK", "Content-Length: " + std::to_string(body.size()) + "\r\n", body);
}

class UpdateCheck : public testing::Test {
 protected:
  fake::FakeOffice office;
  gui_testing::FakeDialogs dialogs;
};

TEST_F(UpdateCheck, ADifferentVersionIsOfferedAndYesOpensTheDownloadPage) {
  LoopbackHttpServer server(Answer("2.0"));
  UpdateHost host(server.port());
  QString caption, first, second;
  bool shown = false;
  gui_testing::WhenModal([&](QWidget* modal) {
    auto* offer = qobject_cast<gui::TFUpdate*>(modal);
    ASSERT_NE(offer, nullptr);
    caption = offer->windowTitle();
    first = offer->Label1->text();
    second = offer->Label2->text();
    EXPECT_EQ(offer->yes_button->text(), "Yes");
    EXPECT_EQ(offer->no_button->text(), "No");
    QTest::mouseClick(offer->yes_button, Qt::LeftButton);
    shown = true;
  });
  gui::TFMain window(office, dialogs);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown; }, 10000));
  EXPECT_EQ(caption, "Tabloom new update");
  EXPECT_EQ(first, "A new update is available");
  EXPECT_EQ(second, "Would You like to download it now ?");
  ASSERT_EQ(dialogs.urls.size(), 1u);
  EXPECT_EQ(dialogs.urls[0], window.DownloadPage);
  EXPECT_TRUE(window.UpdateAnswer.startsWith("<?xml"));  // kept in its cut form
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /version_check.php?id=3 ", 0), 0u);
}

TEST_F(UpdateCheck, NoOnlyCloses) {
  LoopbackHttpServer server(Answer("1.0.6"));
  UpdateHost host(server.port());
  bool shown = false;
  gui_testing::WhenModal([&](QWidget* modal) {
    QTest::mouseClick(static_cast<gui::TFUpdate*>(modal)->no_button, Qt::LeftButton);
    shown = true;
  });
  gui::TFMain window(office, dialogs);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown; }, 10000));
  EXPECT_TRUE(dialogs.urls.empty());
}

TEST_F(UpdateCheck, TheSameVersionShowsNothing) {
  LoopbackHttpServer server(Answer("1.0.7"));
  UpdateHost host(server.port());
  gui::TFMain window(office, dialogs);
  QPointer<gui::TUpdateCheckThread> thread = window.UpdateThread;
  ASSERT_TRUE(QTest::qWaitFor([&] { return thread.isNull(); }, 10000));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(window.UpdateAnswer.toStdString().find("1.0.7"), 42u);
}

TEST_F(UpdateCheck, AnUnreachableSiteLeavesTheWindowUsableAndShowsNothing) {
  UpdateHost host(LoopbackHttpServer::RefusedPort());
  gui::TFMain window(office, dialogs);
  EXPECT_TRUE(window.FilesButton->isEnabled());  // at once, without waiting for the check
  QPointer<gui::TUpdateCheckThread> thread = window.UpdateThread;
  ASSERT_TRUE(QTest::qWaitFor([&] { return thread.isNull(); }, 10000));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(window.UpdateAnswer.isEmpty());
}

TEST_F(UpdateCheck, QuittingWhileTheSiteStallsEndsPromptly) {
  LoopbackHttpServer stalling("");
  UpdateHost host(stalling.port());
  auto window = std::make_unique<gui::TFMain>(office, dialogs);
  QPointer<gui::TUpdateCheckThread> thread = window->UpdateThread;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !stalling.Requests().empty(); }, 10000));
  QElapsedTimer clock;
  clock.start();
  window.reset();
  EXPECT_LT(clock.elapsed(), 5000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return thread.isNull(); }, 10000));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
