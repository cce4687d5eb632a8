// What a run found beside its matches, row by row, and the lists it writes of them beside its
// result, as csv: data for other programs, UTF-8, comma, `"` where a field needs it. Every
// text is kept as it is, one that begins with "=", "+", "-" or "@" too; a spreadsheet that
// opens such a file may read those as formulas. Rows are zero-based here, numbered as the
// office shows them in the lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace merge {

// An add key that a main key nearly was: its add row and its link cells' texts, and what
// separates the two ("leading zeros"). No row: none is near.
struct NearestKey {
  std::int32_t addRow = -1;
  std::vector<std::string> addKey;
  std::string why;
  bool Found() const { return addRow >= 0; }
};

// A main row that found no add row: its number and its link cells' texts as the main table
// shows them, in the links' order, and the add key it nearly was.
struct UnmatchedRow {
  std::int32_t row = 0;
  std::vector<std::string> key;
  NearestKey nearest{};
};

// A main row that took the add row of a near key.
struct NearMatchRow {
  std::int32_t row = 0;
  std::vector<std::string> key;
  NearestKey took;
};

// An add row no main row took, with its link cells' texts.
struct UnusedRow {
  std::int32_t row = 0;
  std::vector<std::string> key;
};

// A key of several add rows, as it stands in the first of them, and those rows.
struct DuplicateKey {
  std::vector<std::string> key;
  std::vector<std::int32_t> addRows;
};

// One record: fields quoted where they hold a comma, a quote or a line break.
std::string CsvRecord(const std::vector<std::string>& fields);

// A key's texts as one: parts joined by " | ".
std::string KeyText(const std::vector<std::string>& key);

// "row", the main link columns' letters, "nearest" and "why", then a record per row.
std::string UnmatchedCsv(const std::vector<std::int32_t>& mainLinkColumns,
                         const std::vector<UnmatchedRow>& rows);
// "row" and the add link columns' letters, then a record per row.
std::string UnusedCsv(const std::vector<std::int32_t>& addLinkColumns,
                      const std::vector<UnusedRow>& rows);
// The header of the matches list: "row", the main link columns' letters, "outcome",
// "add row", "add " and each add link column's letter, "why"; and one main row's record:
// outcome "exact", "near" or "none".
std::string MatchesHeader(const std::vector<std::int32_t>& mainLinkColumns,
                          const std::vector<std::int32_t>& addLinkColumns);
std::string MatchesRecord(std::int32_t row, const std::vector<std::string>& key,
                          const char* outcome, const NearestKey& add);

}  // namespace merge
