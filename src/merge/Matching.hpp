// How main rows find their add rows: by equal keys, several add rows of one key taken by the
// run's rule; and, for a main row no add key equals, the add key it nearly was, taken when the
// run matches near keys. Beside the pairs it tells what a report and the lists need: the rows
// that found nothing with their nearest keys, the near matches, the add rows nobody took, the
// keys of several add rows.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "merge/Lists.hpp"
#include "merge/Parameters.hpp"
#include "merge/UList.hpp"

namespace merge {

// A main row (zero-based) and the add row it receives.
using RowPair = std::pair<std::int32_t, std::int32_t>;

// One table's link cells' texts as read, one vector per link (every vector of one length).
using KeyColumns = std::vector<std::vector<std::string>>;

// What the matching found.
struct Matches {
  std::vector<RowPair> pairs;  // ascending main rows
  std::int32_t walked = 0, matched = 0, near = 0;
  // All of them, or the first few where the parameters ask for no lists.
  std::vector<UnmatchedRow> unmatched;
  std::vector<NearMatchRow> nearMatches;
  std::vector<UnusedRow> unused;         // when asked for
  std::vector<DuplicateKey> duplicates;  // when asked for: every key of several add rows
  std::string matchesCsv;                // when asked for: every walked main row's outcome
};

class Matching {
 public:
  // The add table's key texts (every add row) and its key list, sorted.
  Matching(const Parameters& p, KeyColumns addTexts, TList& keyList);

  // The main rows from `firstRow` on, their key texts and digests. Raises, naming up to three
  // keys, where duplicates are refused and a main row's key has several add rows.
  Matches Match(const KeyColumns& mainTexts, const std::vector<std::string>& mainDigests,
                std::int32_t firstRow);

  // The keys of several add rows: how many, and the first few as they stand, by their first
  // rows in the add table.
  std::pair<std::int32_t, std::vector<DuplicateKey>> DuplicateKeys(std::size_t examples) const;

 private:
  enum class Outcome : char { None, Exact, Near };
  // What each main row takes: the outcome and the add row, and the nearest keys of those no
  // add key equals.
  struct Decisions {
    std::vector<Outcome> outcome;
    std::vector<std::int32_t> addRow;
    std::unordered_map<std::size_t, NearestKey> hints;
  };
  Decisions Decide(const KeyColumns& mainTexts, const std::vector<std::string>& mainDigests);
  Matches Collect(const KeyColumns& mainTexts, std::int32_t firstRow, const Decisions& d) const;

  struct Group {  // the add rows of one key, a run of the sorted key list
    std::int32_t begin = 0, end = 0;
    std::int32_t firstRow = 0, lastRow = 0;
  };
  // The add row a key's group gives by the run's rule; the list entry met decides as described.
  std::int32_t RowOf(std::int32_t group, std::int32_t met) const;
  std::int32_t RowOfGroup(std::int32_t group);
  std::vector<std::string> AddKey(std::int32_t row) const;
  std::vector<std::string> Parts(const KeyColumns& texts, std::size_t row) const;
  // The nearest add key of each unmatched main key, one search for all.
  void FindNearest(const KeyColumns& mainTexts, const std::vector<std::size_t>& unmatched,
                   std::vector<NearestKey>& nearest, std::vector<std::int32_t>& groups,
                   std::vector<bool>& takeable);
  void Refuse(std::vector<std::int32_t> groups) const;

  const Parameters& p_;
  KeyColumns addTexts_;
  TList& keyList_;
  std::vector<Group> groups_;
  std::vector<std::int32_t> groupOf_;  // of each key list entry
  std::vector<std::string> columns_;   // the main link columns' letters
};

// The warnings of what the matching found: "3 main rows found no add row: row 12 ("C-042"):
// nearest add key "C-42" in add row 7 — leading zeros, ..." and "2 main rows matched a near
// key: row 12 ("C-042") took add row 7 ("C-42") — leading zeros, ...", the first three of
// each; empty where there is nothing to say.
std::string UnmatchedWarning(const Matches& matches);
std::string NearWarning(const Matches& matches);
// "2 keys occur in more than one add row ("C-17", "A-3"): a main row with such a key
// receives one of them"; the last words name the run's rule.
std::string DuplicatesWarning(std::int32_t count, const std::vector<DuplicateKey>& examples,
                              Duplicates rule);

// A text inside a one-line warning: line breaks, tabs and other control characters escaped.
std::string OneLine(const std::string& text);

}  // namespace merge
