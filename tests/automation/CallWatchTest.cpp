// The watch over office calls: a call that outlives its limit is ended once; calls that
// return in time, and nested calls, are left alone.
#include "automation/uno/CallWatch.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;
using tabloom_uno::CallWatch;

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(CallWatch, ACallPastItsLimitIsEndedOnce) {
  std::atomic<int> expired{0};
  CallWatch watch([&] { ++expired; });
  watch.Begin(20ms);
  watch.Begin(1h);  // a nested call keeps the outer limit
  ASSERT_TRUE(WaitFor([&] { return expired.load() == 1; }));
  EXPECT_TRUE(watch.Expired());
  EXPECT_EQ(watch.ExpiredLimit(), 20ms);
  watch.End();
  watch.End();
  EXPECT_EQ(expired.load(), 1);
}

// A call that returned takes its deadline with it: with a limit short enough to pass while the
// watch looks again, a deadline left behind would end the office.
TEST(CallWatch, CallsThatReturnInTimeAreLeftAlone) {
  std::atomic<int> expired{0};
  {
    CallWatch watch([&] { ++expired; });
    for (int i = 0; i < 1000; ++i) {
      watch.Begin(5ms);
      watch.Begin(5ms);  // nested
      watch.End();
      watch.End();
    }
    const auto returned = std::chrono::steady_clock::now();
    const std::uint64_t rounds = watch.Rounds();
    // Two more looks after the limit passed, the last a whole round later.
    ASSERT_TRUE(WaitFor([&] {
      return watch.Rounds() >= rounds + 2 && std::chrono::steady_clock::now() - returned > 5ms;
    }));
    EXPECT_FALSE(watch.Expired());
    watch.Begin(1h);  // still in flight when the watch ends: no expiry on the way out
  }
  EXPECT_EQ(expired.load(), 0);
}

}  // namespace
