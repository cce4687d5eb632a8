// The batch command's answer to SIGINT, SIGTERM and SIGHUP: the run is asked to stop at its
// next safe point; if the program has not got to one within a second (it waits for a long
// office call), the office is ended, which makes that call return at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "automation/Variant.hpp"

namespace cli {

class Interruption {
 public:
  // Installs the handlers and starts the watcher. One at a time.
  explicit Interruption(automation::ObjectFactory& office,
                        std::chrono::milliseconds grace = std::chrono::seconds(1));
  ~Interruption();  // puts the previous handlers back
  Interruption(const Interruption&) = delete;
  Interruption& operator=(const Interruption&) = delete;

  // Tells `stop` (on the watcher's thread) when a signal comes, until the hook goes.
  class Hook {
   public:
    explicit Hook(Interruption& owner) : owner_(owner) {}
    ~Hook();
    Hook(const Hook&) = delete;
    Hook& operator=(const Hook&) = delete;

   private:
    Interruption& owner_;
  };
  [[nodiscard]] Hook OnSignal(std::function<void()> stop);

  // The main thread is at a safe point, or done with the office: no need to end it.
  void ReachedSafePoint();

  int Signal() const;  // the first signal that came, 0 while none did
  // "Interrupted by SIGINT: the merge was stopped and nothing was written."
  std::string Message() const;

 private:
  void Watch();

  automation::ObjectFactory& office_;
  std::chrono::milliseconds grace_;
  std::mutex mutex_;
  std::condition_variable safePoint_;
  bool safe_ = false;
  std::function<void()> stop_;
  std::thread watcher_;
};

}  // namespace cli
