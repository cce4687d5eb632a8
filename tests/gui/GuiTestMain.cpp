// The window tests run in one QApplication, offscreen unless told otherwise.
#include <gtest/gtest.h>

#include <QApplication>

#include "support/LoopbackHttpServer.hpp"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The update check of every window goes to a port of this machine that refuses at once;
  // the update tests point it at their own servers.
  qputenv("TABLOOM_UPDATE_HOST",
          "127.0.0.1:" + QByteArray::number(testing_http::LoopbackHttpServer::RefusedPort()));
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
