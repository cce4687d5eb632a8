#include "gui/GuiTesting.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/UMain.hpp"

namespace gui_testing {

void WhenModal(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer(qApp);
  auto* clock = new QElapsedTimer;
  clock->start();
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, clock, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal && clock->elapsed() < 10000) return;
    poll->stop();
    poll->deleteLater();
    delete clock;
    if (modal)
      act(modal);
    else
      ADD_FAILURE() << "no modal window appeared";
  });
  poll->start();
}

bool StartAndWait(gui::TFMain& window) {
  QTest::mouseClick(window.StartButton, Qt::LeftButton);
  return QTest::qWaitFor([&] { return !window.Running(); }, 60000);
}

}  // namespace gui_testing
