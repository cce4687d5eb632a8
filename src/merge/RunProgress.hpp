// How far a whole run has come, for a bar that moves steadily from start to end: each phase
// has a share of the bar by its usual cost (the stores and the copies take most of the time,
// the key reads little), and the phases move within theirs by what they
// report (rows read, rows copied, the office's own progress of a load or a store). Between
// reports the bar creeps on at the pace of the run so far, ever slower, so that it never
// stands still for long and never reaches a phase's end before the phase does.
// Reports may come from any thread (the office's among them).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "merge/MergeRun.hpp"

namespace merge {

class RunProgress {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kScale = 1000;

  // `addRows`: the rows the run indexes before it walks the main rows; `reload`: the main
  // table is loaded again at the end; `exact`: the cell-by-cell reference, which stores the
  // target first. The run starts at `start`.
  RunProgress(std::int32_t addRows, bool reload, bool exact,
              Clock::time_point start = Clock::now());

  void Enter(Phase phase, Clock::time_point now = Clock::now());
  // The run's own report: `position` of `maximum` rows (add rows first, then main rows).
  void Rows(std::int32_t position, std::int32_t maximum, Clock::time_point now = Clock::now());
  // How far the current phase has come, 0..1, where it can tell.
  void Within(double fraction, Clock::time_point now = Clock::now());
  // Moves the bar on by the time gone since the phase's last report; returns Value().
  int Creep(Clock::time_point now = Clock::now());
  // 0..kScale; never goes back.
  int Value() const { return value_.load(); }

 private:
  void Report(double fraction, Clock::time_point now);
  void Show(double fraction);

  const Clock::time_point start_;
  std::int32_t addRows_;
  int begin_[kPhaseCount] = {};
  int share_[kPhaseCount] = {};

  std::mutex mutex_;  // the phase and its last report
  Phase phase_ = Phase::ReadingAddKeys;
  Clock::duration expected_{};  // the phase's share at the pace so far; zero: no pace yet
  Clock::time_point reportedAt_;
  double reported_ = 0;
  std::atomic<int> value_{0};
};

}  // namespace merge
