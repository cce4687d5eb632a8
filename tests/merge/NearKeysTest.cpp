// Near keys: each reason found and named, refused where another key is as near, the closest
// reason winning, and typos only for keys long enough.
#include "merge/NearKeys.hpp"

#include <gtest/gtest.h>

namespace {

using merge::FindNearKeys;
using merge::NearReason;

struct Case {
  std::string key;
  std::vector<std::string> candidates;
  std::int32_t expected;  // the candidate named, -1 none
  std::string reason;
};

TEST(NearKeys, EachReasonIsFoundNamedAndRefusedWhenAnotherIsAsNear) {
  const Case cases[] = {
      {"acme ltd", {"ACME LTD", "Zeta"}, 0, "letter case"},
      {"Mu\xCC\x88ller", {"M\xC3\xBCller"}, 0, "Unicode form"},  // u + combining diaeresis
      {"\xEF\xBC\x94\xEF\xBC\x92", {"42"}, 0, "Unicode form"},   // full-width digits
      {"ACME  Ltd", {"ACME Ltd"}, 0, "spaces"},
      {"ACME\xC2\xA0Ltd", {"ACMELtd"}, 0, "spaces"},  // a non-breaking space, a missing one
      {"C-42", {"C42"}, 0, "punctuation"},
      {"C\xE2\x80\x93"
       "42",
       {"C.42"},
       0,
       "punctuation"},  // an en dash
      {"C-042", {"C-42"}, 0, "leading zeros"},
      {"0815", {"815"}, 0, "leading zeros"},
      {"c-042", {"C-42"}, 0, "letter case and leading zeros"},
      {"Schmidt", {"Schmitd"}, 0, "one edit"},       // two letters swapped
      {"Hamburger", {"Hamborgar"}, 0, "two edits"},  // nine characters: two edits
      {"Muster", {"Mustre", "Musetr"}, -1, ""},      // two equally near
      {"C-42", {"C42", "C.42"}, -1, ""},             // equally near by punctuation
      {"c-42", {"C-42", "C42"}, 0, "letter case"},   // the closer reason wins
      {"C-42", {"c-42", "C42"}, 0, "letter case"},   // closer, whichever comes first
      {"Hamburg", {"Hamborgar"}, -1, ""},            // two edits, but too short for two
      {"Anna", {"Anne"}, -1, ""},                    // too short for any
      {"1000", {"100"}, -1, ""},                     // zeros inside a number are no padding
  };
  for (const Case& c : cases) {
    const auto found = FindNearKeys({c.key}, c.candidates);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].key, c.expected) << c.key;
    if (c.expected < 0) continue;
    EXPECT_EQ(NearReason(c.key, c.candidates[static_cast<std::size_t>(c.expected)], found[0]),
              c.reason)
        << c.key;
  }
}

// Several keys at once, each with its own nearest; a key of several parts names the parts
// that differ.
TEST(NearKeys, ManyKeysAndKeysOfSeveralParts) {
  std::vector<std::string> candidates;
  for (int i = 0; i < 2000; ++i) candidates.push_back("K-" + std::to_string(100000 + i));
  const auto found =
      FindNearKeys({"k-100007", "K100012", "K-0100013", "K-1O0014", "K-999999"}, candidates);
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].key, 7);
  EXPECT_EQ(found[1].key, 12);
  EXPECT_EQ(found[2].key, 13);
  EXPECT_EQ(found[3].key, 14);  // a letter O for a zero
  EXPECT_EQ(found[3].level, merge::Nearness::Typo);
  EXPECT_FALSE(found[4].Found());  // one edit from many: none is named

  const std::vector<std::string> columns = {"B", "C"};
  const merge::NearKey near = FindNearKeys({"ACME"
                                            "C-042"},
                                           {"ACMEC-42"})[0];
  ASSERT_TRUE(near.Found());
  EXPECT_EQ(NearReason({"ACME", "C-042"}, {"ACME", "C-42"}, columns, near), "C: leading zeros");
  const merge::NearKey both = FindNearKeys({"acmeC-042"}, {"ACMEC-42"})[0];
  EXPECT_EQ(NearReason({"acme", "C-042"}, {"ACME", "C-42"}, columns, both),
            "B: letter case; C: leading zeros");
}

}  // namespace
