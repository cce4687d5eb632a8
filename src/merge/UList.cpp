#include "merge/UList.hpp"

namespace merge {

namespace {

// Ordinal: bytes as unsigned values, a prefix before the longer text (std::string's order).
int Compare(const std::string& a, const std::string& b) {
  return a.compare(b);
}

}  // namespace

TList::TList(std::int32_t count)
    : Count(count < 0 ? 0 : count), Items(static_cast<std::size_t>(Count)) {}

void TList::Exchange(std::int32_t i, std::int32_t j) {
  if (i < 0 || j < 0 || i >= Count || j >= Count) return;
  std::swap(Items[static_cast<std::size_t>(i)], Items[static_cast<std::size_t>(j)]);
}

void TList::Sort() {
  if (Count > 1) SortRange(0, Count - 1);
}

void TList::SortRange(std::int32_t left, std::int32_t right) {
  // Recurse into the smaller side only; the larger one continues in the loop, keeping the
  // stack depth logarithmic. The partitions are the same as with two recursive calls.
  while (left < right) {
    std::int32_t i = left;
    std::int32_t j = right;
    const std::string pivot = Items[static_cast<std::size_t>((left + right) / 2)].Key;
    do {
      while (Compare(Items[static_cast<std::size_t>(i)].Key, pivot) < 0) ++i;
      while (Compare(Items[static_cast<std::size_t>(j)].Key, pivot) > 0) --j;
      if (i <= j) {
        Exchange(i, j);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - left < right - i) {
      if (left < j) SortRange(left, j);
      left = i;
    } else {
      if (i < right) SortRange(i, right);
      right = j;
    }
  }
}

bool TList::Find(const std::string& key) {
  FoundIndex = 0;
  std::int32_t lo = 0;
  std::int32_t hi = Count - 1;
  while (lo <= hi) {
    const std::int32_t mid = (lo + hi) / 2;
    const int order = Compare(key, Items[static_cast<std::size_t>(mid)].Key);
    if (order == 0) {
      FoundIndex = mid;
      return true;
    }
    if (order < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return false;
}

TListItem TList::GetFound() const {
  return Items.empty() ? TListItem{} : Items[static_cast<std::size_t>(FoundIndex)];
}

}  // namespace merge
