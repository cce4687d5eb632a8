// Keys that nearly match: for each key that found no equal, the other key that is the nearest,
// if one is near and no other is as near, and what separates the two in plain words. Keys are
// compared as the run compares them (trimmed parts, upper-cased when the run ignores case,
// joined). Near, from the closest: the same apart from letter case; Unicode form (composed
// and decomposed letters, full-width digits); spaces; punctuation and dashes; leading zeros
// of a run of digits; and one or two edits (a typo) for keys long enough to tell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace merge {

// How near two keys are, closest first; each level forgives what the ones before it do.
enum class Nearness : std::int32_t {
  Case = 1,
  Form = 2,
  Spaces = 3,
  Punctuation = 4,
  Zeros = 5,
  Typo = 6,
};

struct NearKey {
  std::int32_t key = -1;  // an index into the candidate keys; -1: none is near
  Nearness level = Nearness::Case;
  std::int32_t edits = 0;  // for a typo: 1 or 2
  bool Found() const { return key >= 0; }
};

// The keys one may miss by a typo: at least 5 characters for one edit, 9 for two.
inline constexpr std::int32_t kOneEditLength = 5;
inline constexpr std::int32_t kTwoEditsLength = 9;

// For each of `keys`, the nearest of the distinct `candidates`. A key equal to a candidate is
// not looked for; where two candidates are equally near, neither is named. Each candidate is
// read once for every level together; the typo search goes through deletion neighbourhoods of
// the keys left, so no key is compared with every candidate.
std::vector<NearKey> FindNearKeys(const std::vector<std::string>& keys,
                                  const std::vector<std::string>& candidates);

// What separates two near keys, in plain words: "leading zeros", "letter case and spaces",
// "one edit". Empty when they are not near by `level`.
std::string NearReason(const std::string& a, const std::string& b, const NearKey& near);

// The same for keys of several parts (each as the run compares it), naming the parts that
// differ by their columns ("B: leading zeros; C: letter case"); one part: the reason alone.
std::string NearReason(const std::vector<std::string>& a, const std::vector<std::string>& b,
                       const std::vector<std::string>& columns, const NearKey& near);

}  // namespace merge
