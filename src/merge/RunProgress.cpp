#include "merge/RunProgress.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace merge {

namespace {

// Shares of the bar in the order phases come, from the phase timings of a 100,000-row run.
struct Share {
  Phase phase;
  int weight;
};
constexpr Share kShares[] = {
    {Phase::ReadingAddKeys, 60}, {Phase::ReadingMainKeys, 60}, {Phase::StoringTarget, 150},
    {Phase::RemovingSheets, 40}, {Phase::Copying, 330},        {Phase::StoringResult, 300},
    {Phase::Closing, 40},        {Phase::ReloadingMain, 170},
};
static_assert(std::size(kShares) == kPhaseCount, "a share for every phase");

int Index(Phase phase) {
  return static_cast<int>(phase);
}

}  // namespace

RunProgress::RunProgress(std::int32_t addRows, bool reload, bool exact, Clock::time_point start)
    : start_(start), addRows_(std::max(addRows, 0)), reportedAt_(start) {
  int total = 0;
  for (const Share& s : kShares) {
    const bool taken =
        (s.phase != Phase::StoringTarget || exact) && (s.phase != Phase::ReloadingMain || reload);
    share_[Index(s.phase)] = taken ? s.weight : 0;
    total += share_[Index(s.phase)];
  }
  int at = 0;
  for (const Share& s : kShares) {
    const int share = share_[Index(s.phase)] * kScale / total;
    begin_[Index(s.phase)] = at;
    share_[Index(s.phase)] = share;
    at += share;
  }
}

void RunProgress::Enter(Phase phase, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  phase_ = phase;
  // The time the bar took per unit so far, spent on this phase's share.
  const int begin = begin_[Index(phase)];
  expected_ = begin > 0 ? (now - start_) * share_[Index(phase)] / begin : Clock::duration::zero();
  reportedAt_ = now;
  reported_ = 0;
  Show(0);
}

void RunProgress::Rows(std::int32_t position, std::int32_t maximum, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (phase_ == Phase::ReadingAddKeys && addRows_ > 0) {
    Report(static_cast<double>(position) / addRows_, now);
  } else if (phase_ == Phase::ReadingMainKeys) {
    const std::int32_t mainRows = maximum - addRows_;
    if (mainRows > 0) Report(static_cast<double>(position - addRows_) / mainRows, now);
  }
}

void RunProgress::Within(double fraction, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Report(fraction, now);
}

int RunProgress::Creep(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (expected_ <= Clock::duration::zero() || now <= reportedAt_) return Value();
  // What is left of the phase after its last report, as though it took the time the pace
  // gives for it; approached, never reached.
  const double left = 1 - reported_;
  if (left <= 0) return Value();
  const double expected = std::chrono::duration<double>(expected_).count() * left;
  const double gone = std::chrono::duration<double>(now - reportedAt_).count();
  // Never the phase's end itself: only the phase tells that it is done.
  Show(std::min(1 - left * std::exp(-gone / expected), 0.999));
  return Value();
}

void RunProgress::Report(double fraction, Clock::time_point now) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  // A report behind the bar leaves the creep as it goes: started again from behind, it would
  // hold the bar still until it caught up.
  const int before = Value();
  Show(fraction);
  if (Value() > before) {
    reported_ = fraction;
    reportedAt_ = now;
  }
}

void RunProgress::Show(double fraction) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int value = begin_[Index(phase_)] + static_cast<int>(share_[Index(phase_)] * fraction);
  int shown = value_.load();
  while (shown < value && !value_.compare_exchange_weak(shown, value)) {
  }
}

}  // namespace merge
