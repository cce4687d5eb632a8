#include "automation/uno/CallWatch.hpp"

namespace tabloom_uno {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

CallWatch::CallWatch(std::function<void()> expire)
    : expire_(std::move(expire)), thread_([this] { Run(); }) {}

CallWatch::~CallWatch() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void CallWatch::Begin(std::chrono::milliseconds limit) {
  if (depth_++ > 0) return;
  limitMs_.store(limit.count());
  deadline_.store(Now() + std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count());
}

void CallWatch::End() {
  if (--depth_ == 0) deadline_.store(0);
}

void CallWatch::Run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kPoll);
    const std::int64_t deadline = deadline_.load();
    ++rounds_;
    if (stopping_ || deadline == 0 || Now() < deadline || Expired()) continue;
    expiredLimitMs_.store(limitMs_.load());
    expire_();
  }
}

}  // namespace tabloom_uno
