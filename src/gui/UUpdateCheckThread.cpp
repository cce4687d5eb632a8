#include "gui/UUpdateCheckThread.hpp"

#include "gui/UMain.hpp"
#include "update/JuInternetAccess.hpp"

namespace gui {

TUpdateCheckThread::TUpdateCheckThread(TFMain& main, std::shared_ptr<std::atomic<bool>> cancel)
    : main_(&main), cancel_(std::move(cancel)) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TUpdateCheckThread::run() {
  try {
    // Calls into the main thread wait for it; each first checks that the window still wants
    // them (it drains them when it goes).
    const auto cancel = cancel_;
    TFMain* main = main_;
    if (*cancel) return;
    QMetaObject::invokeMethod(
        main,
        [this, cancel, main] {
          if (*cancel) return;
          RequestHost = main->UpdateHost.toStdString();
          RequestPath = main->UpdatePath.toStdString();
          RequestPort = main->UpdatePort;
        },
        Qt::BlockingQueuedConnection);
    if (*cancel || RequestHost.empty()) return;
    update::HttpOptions options;
    options.port = RequestPort;
    options.cancel = cancel.get();
    const std::string body = update::HttpGet(RequestHost, RequestPath, options);
    if (body.empty() || *cancel) return;
    QMetaObject::invokeMethod(
        main,
        [cancel, main, body] {
          if (*cancel) return;
          main->UpdateAnswer = QString::fromStdString(body);
          main->UpdateAnswerReceived();
        },
        Qt::BlockingQueuedConnection);
  } catch (...) {
    // silent, as every failure of the check
  }
}

}  // namespace gui
