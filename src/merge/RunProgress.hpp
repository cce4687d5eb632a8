// How far a whole run has come, for a bar that moves steadily from start to end: each phase
// has a share of the bar by its measured cost (100,000 rows: the stores and the copies take
// most of the time, the key reads little), and the row walks move within theirs.
#pragma once

#include <cstdint>

#include "merge/MergeRun.hpp"

namespace merge {

class RunProgress {
 public:
  static constexpr int kScale = 1000;

  // `addRows`: the rows the run indexes before it walks the main rows; `reload`: the main
  // table is loaded again at the end; `exact`: the cell-by-cell reference, which stores the
  // target first.
  RunProgress(std::int32_t addRows, bool reload, bool exact);

  void Enter(Phase phase);
  // The run's own report: `position` of `maximum` rows (add rows first, then main rows).
  void Rows(std::int32_t position, std::int32_t maximum);
  // 0..kScale; never goes back.
  int Value() const { return value_; }

 private:
  void Show(Phase phase, double fraction);

  std::int32_t addRows_;
  int start_[kPhaseCount] = {};
  int share_[kPhaseCount] = {};
  Phase phase_ = Phase::ReadingAddKeys;
  int value_ = 0;
};

}  // namespace merge
