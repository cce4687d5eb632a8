#include "merge/RunProgress.hpp"

#include <algorithm>
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

RunProgress::RunProgress(std::int32_t addRows, bool reload, bool exact)
    : addRows_(std::max(addRows, 0)) {
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
    start_[Index(s.phase)] = at;
    share_[Index(s.phase)] = share;
    at += share;
  }
}

void RunProgress::Enter(Phase phase) {
  phase_ = phase;
  Show(phase, 0);
}

void RunProgress::Rows(std::int32_t position, std::int32_t maximum) {
  if (phase_ == Phase::ReadingAddKeys && addRows_ > 0) {
    Show(phase_, static_cast<double>(position) / addRows_);
  } else if (phase_ == Phase::ReadingMainKeys) {
    const std::int32_t mainRows = maximum - addRows_;
    if (mainRows > 0) Show(phase_, static_cast<double>(position - addRows_) / mainRows);
  }
}

void RunProgress::Show(Phase phase, double fraction) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  value_ =
      std::max(value_, start_[Index(phase)] + static_cast<int>(share_[Index(phase)] * fraction));
}

}  // namespace merge
