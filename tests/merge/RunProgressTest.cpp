// The bar over a whole run: it moves through every phase by its share, and never back.
#include "merge/RunProgress.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using merge::Phase;
using merge::RunProgress;

TEST(RunProgress, MovesThroughEveryPhaseAndNeverBack) {
  RunProgress bar(1000, true, false);  // 1,000 add rows, then 500 main rows
  std::vector<int> seen;
  const auto enter = [&](Phase phase) {
    bar.Enter(phase);
    seen.push_back(bar.Value());
  };
  enter(Phase::ReadingAddKeys);
  EXPECT_EQ(bar.Value(), 0);
  bar.Rows(500, 1500);  // half the add rows
  const int halfAdd = bar.Value();
  EXPECT_GT(halfAdd, 0);
  enter(Phase::ReadingMainKeys);
  const int mainKeys = bar.Value();
  EXPECT_GT(mainKeys, halfAdd);
  bar.Rows(1250, 1500);  // half the main rows
  const int halfMain = bar.Value();
  EXPECT_GT(halfMain, mainKeys);
  enter(Phase::RemovingSheets);
  EXPECT_GT(bar.Value(), halfMain);
  enter(Phase::Copying);
  enter(Phase::StoringResult);
  enter(Phase::Closing);
  enter(Phase::ReloadingMain);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_LT(bar.Value(), RunProgress::kScale);
  EXPECT_GT(bar.Value(), RunProgress::kScale * 3 / 4);
  bar.Rows(0, 1500);  // a late report never moves it back
  EXPECT_EQ(bar.Value(), seen.back());

  // The stores are a large share: storing starts well before the end.
  RunProgress batch(10, false, false);
  batch.Enter(Phase::StoringResult);
  const int storing = batch.Value();
  batch.Enter(Phase::Closing);
  EXPECT_GT(batch.Value() - storing, RunProgress::kScale / 5);
}

// A phase's own report moves the bar inside the phase's share; between reports it creeps on,
// ever slower, toward the phase's end without reaching it, and a report ahead of it moves it.
TEST(RunProgress, MovesWithinAPhaseByItsReportsAndCreepsBetweenThem) {
  using namespace std::chrono_literals;
  const RunProgress::Clock::time_point t0{};
  RunProgress closing(1000, true, false, t0);
  closing.Enter(Phase::Closing, t0);
  const int end = closing.Value();  // of the store's share

  RunProgress bar(1000, true, false, t0);
  bar.Enter(Phase::ReadingAddKeys, t0);
  EXPECT_EQ(bar.Creep(t0 + 10s), 0);          // no pace yet: nothing to creep by
  bar.Enter(Phase::StoringResult, t0 + 10s);  // 10 s for half the bar: 6 s for this share
  std::vector<int> seen = {bar.Value()};
  for (const auto at : {11s, 13s, 16s}) seen.push_back(bar.Creep(t0 + at));
  bar.Within(0.1, t0 + 16s);  // behind the bar: it creeps on all the same
  for (const auto at : {16500ms, 30000ms, 300000ms}) seen.push_back(bar.Creep(t0 + at));
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]) << i;
  EXPECT_NEAR(seen[3], seen[0] + (end - seen[0]) * 0.63, 5);  // at the pace: 1 - 1/e
  EXPECT_LT(seen.back(), end);
  bar.Within(0.999, t0 + 301s);
  EXPECT_GE(bar.Value(), end - 1);
  EXPECT_LT(bar.Creep(t0 + 10000s), end);
}

}  // namespace
