// The bar over a whole run: it moves through every phase by its share, and never back.
#include "merge/RunProgress.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
