// A watch over the office call in flight, kept from a thread of its own: the office bridge has
// no time-out, so a call to an office that stopped answering would otherwise wait for ever.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tabloom_uno {

class CallWatch {
 public:
  // `expire` runs on the watch's thread, at most once, when a call outlives its limit; it is
  // meant to end the office, which makes the call return with an error.
  explicit CallWatch(std::function<void()> expire);
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // Around each call, on the calling thread. Nested calls count as the outermost one.
  void Begin(std::chrono::milliseconds limit);
  void End();

  // Begin for the life of the scope.
  class Scope {
   public:
    Scope(CallWatch& watch, std::chrono::milliseconds limit) : watch_(watch) {
      watch_.Begin(limit);
    }
    ~Scope() { watch_.End(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    CallWatch& watch_;
  };

  bool Expired() const { return expiredLimitMs_.load() >= 0; }
  // The limit of the call that expired.
  std::chrono::milliseconds ExpiredLimit() const {
    return std::chrono::milliseconds(expiredLimitMs_.load());
  }
  // How often the watch has looked at the call in flight: a test knows it looked again.
  std::uint64_t Rounds() const { return rounds_.load(); }

 private:
  void Run();

  std::function<void()> expire_;
  std::atomic<std::int64_t> deadline_{0};  // steady-clock nanoseconds; 0 while no call runs
  std::atomic<std::int64_t> limitMs_{0};
  std::atomic<std::int64_t> expiredLimitMs_{-1};
  std::atomic<std::uint64_t> rounds_{0};
  int depth_ = 0;  // calling thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tabloom_uno
