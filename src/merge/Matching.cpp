#include "merge/Matching.hpp"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "merge/CopyPath.hpp"
#include "merge/NearKeys.hpp"
#include "store/UClc.hpp"

namespace merge {

namespace {

constexpr std::size_t kExamples = 3;

std::string Quoted(const std::vector<std::string>& key) {
  return "\"" + OneLine(KeyText(key)) + "\"";
}

// "4", "4 and 9", "4, 9 and 12", as the office numbers rows; a long list is cut.
std::string RowList(const std::vector<std::int32_t>& rows) {
  constexpr std::size_t kShown = 5;
  std::string text;
  const std::size_t shown = std::min(rows.size(), kShown);
  for (std::size_t i = 0; i < shown; ++i)
    text += (i == 0 ? "" : i + 1 == rows.size() ? " and " : ", ") + std::to_string(rows[i] + 1);
  if (rows.size() > shown) text += ", ... (" + std::to_string(rows.size()) + " rows)";
  return text;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) joined += part;
  return joined;
}

}  // namespace

std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      static const char hex[] = "0123456789ABCDEF";
      line += std::string("\\x") + hex[u >> 4] + hex[u & 15];
    } else {
      line += c;
    }
  }
  return line;
}

Matching::Matching(const Parameters& p, KeyColumns addTexts, TList& keyList)
    : p_(p), addTexts_(std::move(addTexts)), keyList_(keyList) {
  const std::vector<TListItem>& items = keyList_.Items;
  groupOf_.resize(items.size());
  for (std::size_t i = 0; i < items.size();) {
    std::size_t end = i + 1;
    while (end < items.size() && items[end].Key == items[i].Key) ++end;
    Group group{static_cast<std::int32_t>(i), static_cast<std::int32_t>(end), items[i].Row,
                items[i].Row};
    for (std::size_t j = i; j < end; ++j) {
      group.firstRow = std::min(group.firstRow, items[j].Row);
      group.lastRow = std::max(group.lastRow, items[j].Row);
      groupOf_[j] = static_cast<std::int32_t>(groups_.size());
    }
    groups_.push_back(group);
    i = end;
  }
  for (const TLink& link : p_.LiveLinks()) columns_.push_back(store::clc::ColumnName(link.MainCol));
}

std::int32_t Matching::RowOf(std::int32_t group, std::int32_t met) const {
  const Group& g = groups_[static_cast<std::size_t>(group)];
  switch (p_.DuplicateRule) {
    case Duplicates::First:
      return g.firstRow;
    case Duplicates::Last:
      return g.lastRow;
    case Duplicates::AsFound:
    case Duplicates::Refuse:
      break;
  }
  return keyList_.Items[static_cast<std::size_t>(met)].Row;
}

std::int32_t Matching::RowOfGroup(std::int32_t group) {
  // The entry the search meets for the key, as for an equal key.
  const std::string& key =
      keyList_.Items[static_cast<std::size_t>(groups_[static_cast<std::size_t>(group)].begin)].Key;
  keyList_.Find(key);
  return RowOf(group, keyList_.FoundIndex);
}

std::vector<std::string> Matching::AddKey(std::int32_t row) const {
  std::vector<std::string> key;
  for (const std::vector<std::string>& column : addTexts_)
    key.push_back(column[static_cast<std::size_t>(row)]);
  return key;
}

std::vector<std::string> Matching::Parts(const KeyColumns& texts, std::size_t row) const {
  std::vector<std::string> parts;
  for (const std::vector<std::string>& column : texts)
    parts.push_back(KeyPart(column[row], p_.CaseSensitive));
  return parts;
}

void Matching::FindNearest(const KeyColumns& mainTexts, const std::vector<std::size_t>& unmatched,
                           std::vector<NearestKey>& nearest, std::vector<std::int32_t>& groups,
                           std::vector<bool>& takeable) {
  // Each distinct key once, on either side.
  std::unordered_map<std::string, std::size_t> distinct;
  std::vector<std::string> keys;
  std::vector<std::size_t> keyOf;
  for (const std::size_t i : unmatched) {
    const auto [at, added] = distinct.try_emplace(Joined(Parts(mainTexts, i)), keys.size());
    if (added) keys.push_back(at->first);
    keyOf.push_back(at->second);
  }
  std::vector<std::string> candidates;
  candidates.reserve(groups_.size());
  for (const Group& group : groups_)
    candidates.push_back(Joined(Parts(addTexts_, static_cast<std::size_t>(group.firstRow))));
  const std::vector<NearKey> found = FindNearKeys(keys, candidates);
  nearest.assign(unmatched.size(), {});
  groups.assign(unmatched.size(), -1);
  takeable.assign(unmatched.size(), false);
  for (std::size_t j = 0; j < unmatched.size(); ++j) {
    const NearKey& near = found[keyOf[j]];
    if (!near.Found()) continue;
    const std::int32_t row = RowOfGroup(near.key);
    const std::vector<std::string> addParts = Parts(addTexts_, static_cast<std::size_t>(row));
    nearest[j] = {row, AddKey(row),
                  NearReason(Parts(mainTexts, unmatched[j]), addParts, columns_, near)};
    groups[j] = near.key;
    takeable[j] = p_.Near == NearMatch::Typos ||
                  (p_.Near == NearMatch::Forms && near.level != Nearness::Typo);
  }
}

void Matching::Refuse(std::vector<std::int32_t> groups) const {
  std::sort(groups.begin(), groups.end(), [this](std::int32_t a, std::int32_t b) {
    return groups_[static_cast<std::size_t>(a)].firstRow <
           groups_[static_cast<std::size_t>(b)].firstRow;
  });
  groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
  std::string examples;
  for (std::size_t i = 0; i < std::min(groups.size(), kExamples); ++i) {
    const Group& g = groups_[static_cast<std::size_t>(groups[i])];
    std::vector<std::int32_t> rows;
    for (std::int32_t e = g.begin; e < g.end; ++e)
      rows.push_back(keyList_.Items[static_cast<std::size_t>(e)].Row);
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> key;
    for (const std::string& part : AddKey(g.firstRow)) key.push_back(KeyPart(part, true));
    examples += (i == 0 ? "" : ", ") + Quoted(key) + " (add rows " + RowList(rows) + ")";
  }
  const std::size_t n = groups.size();
  throw std::runtime_error("Several add rows with one key are refused, and " + std::to_string(n) +
                           (n == 1 ? " key" : " keys") + " the main table looks for " +
                           (n == 1 ? "occurs" : "occur") +
                           " in more than one add row: " + examples);
}

Matches Matching::Match(const KeyColumns& mainTexts, const std::vector<std::string>& mainDigests,
                        std::int32_t firstRow) {
  return Collect(mainTexts, firstRow, Decide(mainTexts, mainDigests));
}

Matching::Decisions Matching::Decide(const KeyColumns& mainTexts,
                                     const std::vector<std::string>& mainDigests) {
  const std::size_t rows = mainDigests.size();
  Decisions d{std::vector<Outcome>(rows, Outcome::None), std::vector<std::int32_t>(rows, -1), {}};
  std::vector<std::int32_t> refused;  // groups of several rows that main rows took
  std::vector<std::size_t> unmatched;
  const auto take = [&](std::size_t i, Outcome outcome, std::int32_t row, std::int32_t group) {
    d.outcome[i] = outcome;
    d.addRow[i] = row;
    const Group& g = groups_[static_cast<std::size_t>(group)];
    if (p_.DuplicateRule == Duplicates::Refuse && g.end - g.begin > 1) refused.push_back(group);
  };
  for (std::size_t i = 0; i < rows; ++i) {
    if (keyList_.Find(mainDigests[i]))
      take(i, Outcome::Exact,
           RowOf(groupOf_[static_cast<std::size_t>(keyList_.FoundIndex)], keyList_.FoundIndex),
           groupOf_[static_cast<std::size_t>(keyList_.FoundIndex)]);
    else
      unmatched.push_back(i);
  }
  if (!unmatched.empty()) {
    std::vector<NearestKey> nearest;
    std::vector<std::int32_t> groups;
    std::vector<bool> takeable;
    FindNearest(mainTexts, unmatched, nearest, groups, takeable);
    for (std::size_t j = 0; j < unmatched.size(); ++j) {
      if (takeable[j]) take(unmatched[j], Outcome::Near, nearest[j].addRow, groups[j]);
      if (nearest[j].Found()) d.hints.emplace(unmatched[j], std::move(nearest[j]));
    }
  }
  if (!refused.empty()) Refuse(refused);
  return d;
}

Matches Matching::Collect(const KeyColumns& mainTexts, std::int32_t firstRow,
                          const Decisions& d) const {
  Matches m;
  const bool all = p_.ListDetails, listMatches = !p_.MatchesFile.empty();
  if (listMatches) {
    std::vector<std::int32_t> mainColumns, addColumns;
    for (const TLink& link : p_.LiveLinks()) {
      mainColumns.push_back(link.MainCol);
      addColumns.push_back(link.AddCol);
    }
    m.matchesCsv = MatchesHeader(mainColumns, addColumns);
  }
  const std::size_t addRows = addTexts_.empty() ? 0 : addTexts_.front().size();
  std::vector<bool> taken(addRows, false);
  const NearestKey none;
  for (std::size_t i = 0; i < d.outcome.size(); ++i) {
    const auto row = firstRow + static_cast<std::int32_t>(i);
    const Outcome outcome = d.outcome[i];
    ++m.walked;
    if (outcome != Outcome::None) {
      ++m.matched;
      m.pairs.emplace_back(row, d.addRow[i]);
      taken[static_cast<std::size_t>(d.addRow[i])] = true;
    }
    m.near += outcome == Outcome::Near ? 1 : 0;
    const bool listed = outcome == Outcome::Near
                            ? all || m.nearMatches.size() < kExamples
                            : outcome == Outcome::None && (all || !p_.UnmatchedFile.empty() ||
                                                           m.unmatched.size() < kExamples);
    if (!listed && !listMatches) continue;
    std::vector<std::string> key;
    for (const std::vector<std::string>& column : mainTexts) key.push_back(column[i]);
    const auto hint = d.hints.find(i);
    const NearestKey& nearest = hint == d.hints.end() ? none : hint->second;
    if (listMatches)
      m.matchesCsv +=
          MatchesRecord(row, key,
                        outcome == Outcome::Exact  ? "exact"
                        : outcome == Outcome::Near ? "near"
                                                   : "none",
                        outcome == Outcome::Exact ? NearestKey{d.addRow[i], AddKey(d.addRow[i]), {}}
                        : outcome == Outcome::Near ? nearest
                                                   : none);
    if (listed && outcome == Outcome::Near) m.nearMatches.push_back({row, std::move(key), nearest});
    if (listed && outcome == Outcome::None) m.unmatched.push_back({row, std::move(key), nearest});
  }
  if (all || !p_.UnusedFile.empty())
    for (std::size_t r = 0; r < addRows; ++r)
      if (!taken[r] && static_cast<std::int32_t>(r) != p_.AddTitleRow)
        m.unused.push_back({static_cast<std::int32_t>(r), AddKey(static_cast<std::int32_t>(r))});
  if (all) m.duplicates = DuplicateKeys(groups_.size()).second;
  return m;
}

std::pair<std::int32_t, std::vector<DuplicateKey>> Matching::DuplicateKeys(
    std::size_t examples) const {
  std::vector<const Group*> several;
  for (const Group& g : groups_)
    if (g.end - g.begin > 1) several.push_back(&g);
  // The examples the user meets first in the add table.
  std::sort(several.begin(), several.end(),
            [](const Group* a, const Group* b) { return a->firstRow < b->firstRow; });
  std::vector<DuplicateKey> keys;
  for (std::size_t i = 0; i < std::min(several.size(), examples); ++i) {
    DuplicateKey& d = keys.emplace_back();
    for (const std::string& part : AddKey(several[i]->firstRow))
      d.key.push_back(KeyPart(part, true));
    for (std::int32_t e = several[i]->begin; e < several[i]->end; ++e)
      d.addRows.push_back(keyList_.Items[static_cast<std::size_t>(e)].Row);
    std::sort(d.addRows.begin(), d.addRows.end());
  }
  return {static_cast<std::int32_t>(several.size()), std::move(keys)};
}

std::string UnmatchedWarning(const Matches& m) {
  const std::int32_t count = m.walked - m.matched;
  if (count == 0) return {};
  bool hints = false;
  for (std::size_t i = 0; i < std::min(m.unmatched.size(), kExamples); ++i)
    hints = hints || m.unmatched[i].nearest.Found();
  std::string examples;
  for (std::size_t i = 0; i < std::min(m.unmatched.size(), kExamples); ++i) {
    const UnmatchedRow& u = m.unmatched[i];
    examples += std::string(i == 0  ? ""
                            : hints ? "; "
                                    : ", ") +
                "row " + std::to_string(u.row + 1) + " (" + Quoted(u.key) + ")";
    if (u.nearest.Found())
      examples += ": nearest add key " + Quoted(u.nearest.addKey) + " in add row " +
                  std::to_string(u.nearest.addRow + 1) + " — " + u.nearest.why;
  }
  return std::to_string(count) +
         (count == 1 ? " main row found no add row: " : " main rows found no add row: ") + examples;
}

std::string NearWarning(const Matches& m) {
  if (m.near == 0) return {};
  std::string pairs;
  for (std::size_t i = 0; i < std::min(m.nearMatches.size(), kExamples); ++i) {
    const NearMatchRow& n = m.nearMatches[i];
    pairs += std::string(i == 0 ? "" : ", ") + "row " + std::to_string(n.row + 1) + " (" +
             Quoted(n.key) + ") took add row " + std::to_string(n.took.addRow + 1) + " (" +
             Quoted(n.took.addKey) + ") — " + n.took.why;
  }
  if (m.near > static_cast<std::int32_t>(kExamples)) pairs += ", …";
  return std::to_string(m.near) +
         (m.near == 1 ? " main row matched a near key: " : " main rows matched a near key: ") +
         pairs;
}

std::string DuplicatesWarning(std::int32_t count, const std::vector<DuplicateKey>& examples,
                              Duplicates rule) {
  if (count == 0) return {};
  std::string listed;
  for (const DuplicateKey& d : examples) listed += (listed.empty() ? "" : ", ") + Quoted(d.key);
  const char* receives = rule == Duplicates::First  ? "receives the first of them"
                         : rule == Duplicates::Last ? "receives the last of them"
                                                    : "receives one of them";
  return std::to_string(count) + (count == 1 ? " key occurs" : " keys occur") +
         " in more than one add row (" + listed + "): a main row with such a key " + receives;
}

}  // namespace merge
