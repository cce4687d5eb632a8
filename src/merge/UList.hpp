// The row key list of a merge run: one entry per add row (its row and key digest), sorted by
// digest once, then searched by binary search once per main row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace merge {

struct TListItem {
  std::int32_t Row = 0;  // zero-based add row
  std::string Key;       // digest: 32 upper-case hex digits
};

class TList {
 public:
  // `count` entries, each row 0 with an empty key; the size never changes.
  explicit TList(std::int32_t count);

  // Quicksort by key with the middle entry as pivot. The exact steps decide which of several
  // equal keys Find meets first, and so which add row a main row receives.
  void Sort();
  // Swaps two whole entries; ignores indexes at or beyond Count.
  void Exchange(std::int32_t i, std::int32_t j);
  // Binary search; on success FoundIndex names the entry met.
  bool Find(const std::string& key);
  // The entry at FoundIndex (meaningful right after a successful Find).
  TListItem GetFound() const;

  std::int32_t Count = 0;
  std::int32_t FoundIndex = 0;
  std::vector<TListItem> Items;

 private:
  void SortRange(std::int32_t left, std::int32_t right);
};

}  // namespace merge
