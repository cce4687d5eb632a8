// The update check: once per start, in the background, ask the maker's site for the current
// version and hand the answer to the main window. Every failure is silent.
#pragma once

#include <QThread>
#include <atomic>
#include <memory>
#include <string>

namespace gui {

class TFMain;

class TUpdateCheckThread : public QThread {
  Q_OBJECT

 public:
  // Frees itself when it ends. `cancel` set by the main window makes it end soon, quietly.
  TUpdateCheckThread(TFMain& main, std::shared_ptr<std::atomic<bool>> cancel);

  std::string RequestHost;
  std::string RequestPath;
  int RequestPort = 80;

 protected:
  void run() override;  // Execute

 private:
  TFMain* main_;
  std::shared_ptr<std::atomic<bool>> cancel_;
};

}  // namespace gui
