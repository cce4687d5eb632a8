#include "merge/UList.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "merge/Umd5.hpp"

namespace {

using merge::TList;

// The quicksort step by step as the run's matching depends on it: middle pivot, both scans
// stop on equal keys, recurse left then right.
void ReferenceSort(std::vector<merge::TListItem>& items, int left, int right) {
  int i = left, j = right;
  const std::string pivot = items[static_cast<std::size_t>((left + right) / 2)].Key;
  do {
    while (items[static_cast<std::size_t>(i)].Key < pivot) ++i;
    while (items[static_cast<std::size_t>(j)].Key > pivot) --j;
    if (i <= j)
      std::swap(items[static_cast<std::size_t>(i++)], items[static_cast<std::size_t>(j--)]);
  } while (i <= j);
  if (left < j) ReferenceSort(items, left, j);
  if (i < right) ReferenceSort(items, i, right);
}

TList Filled(const std::vector<std::string>& keys) {
  TList list(static_cast<std::int32_t>(keys.size()));
  for (std::size_t i = 0; i < keys.size(); ++i)
    list.Items[i] = {static_cast<std::int32_t>(i), keys[i]};
  return list;
}

TEST(TList, CreatesEntriesOfRowZeroAndEmptyKey) {
  TList list(3);
  EXPECT_EQ(list.Count, 3);
  EXPECT_EQ(list.FoundIndex, 0);
  ASSERT_EQ(list.Items.size(), 3u);
  EXPECT_EQ(list.Items[2].Row, 0);
  EXPECT_TRUE(list.Items[2].Key.empty());
}

TEST(TList, OneEntry) {
  TList list = Filled({merge::KeyDigest("x")});
  list.Sort();
  EXPECT_TRUE(list.Find(merge::KeyDigest("x")));
  EXPECT_EQ(list.FoundIndex, 0);
  EXPECT_FALSE(list.Find(merge::KeyDigest("y")));
  EXPECT_EQ(list.FoundIndex, 0);
}

TEST(TList, EmptyListFindsNothing) {
  TList list(0);
  list.Sort();
  EXPECT_FALSE(list.Find(merge::KeyDigest("x")));
  EXPECT_EQ(list.GetFound().Key, "");
}

TEST(TList, AllEqualDigestsAreFoundAtTheMiddle) {
  for (int count : {1, 2, 3, 10, 101}) {
    TList list =
        Filled(std::vector<std::string>(static_cast<std::size_t>(count), merge::KeyDigest("same")));
    list.Sort();
    ASSERT_TRUE(list.Find(merge::KeyDigest("same")));
    EXPECT_EQ(list.FoundIndex, (count - 1) / 2) << count;
  }
}

TEST(TList, ExchangeIgnoresIndexesOutOfRange) {
  TList list = Filled({"A", "B"});
  list.Exchange(0, 2);
  list.Exchange(-1, 1);
  EXPECT_EQ(list.Items[0].Key, "A");
  list.Exchange(1, 0);
  EXPECT_EQ(list.Items[0].Key, "B");
  EXPECT_EQ(list.Items[0].Row, 1);
}

TEST(TList, SortOrdersKeepsEntriesAndMatchesTheReferenceWithDuplicates) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    const int count = static_cast<int>(random() % 300);
    const int distinct = 1 + static_cast<int>(random() % 40);  // many duplicates
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i)
      keys.push_back(merge::KeyDigest(std::to_string(random() % distinct)));
    TList list = Filled(keys);
    std::vector<merge::TListItem> reference = list.Items;
    list.Sort();
    if (count > 1) ReferenceSort(reference, 0, count - 1);

    for (int i = 1; i < count; ++i) ASSERT_LE(list.Items[i - 1].Key, list.Items[i].Key);
    std::vector<std::pair<std::int32_t, std::string>> before, after;
    for (int i = 0; i < count; ++i) {
      before.emplace_back(i, keys[static_cast<std::size_t>(i)]);
      after.emplace_back(list.Items[static_cast<std::size_t>(i)].Row,
                         list.Items[static_cast<std::size_t>(i)].Key);
    }
    std::sort(after.begin(), after.end());
    ASSERT_EQ(before, after);
    for (int i = 0; i < count; ++i)
      ASSERT_EQ(list.Items[i].Row, reference[i].Row) << "round " << round;

    for (const std::string& key : keys) {
      ASSERT_TRUE(list.Find(key));
      EXPECT_EQ(list.GetFound().Key, key);
    }
    EXPECT_FALSE(list.Find(merge::KeyDigest("absent")));
  }
}

}  // namespace
