// The lists a run writes beside its result, as csv: data for other programs, UTF-8, comma,
// `"` where a field needs it. Every text is kept as it is, one that begins with "=", "+", "-"
// or "@" too; a spreadsheet that opens such a file may read those as formulas.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace merge {

// A main row that found no add row: its number (zero-based) and its link cells' texts as the
// main table shows them, in the links' order.
struct UnmatchedRow {
  std::int32_t row = 0;
  std::vector<std::string> key;
};

// One record: fields quoted where they hold a comma, a quote or a line break.
std::string CsvRecord(const std::vector<std::string>& fields);

// "row" and the main link columns' letters, then a record per row: its number as the office
// shows it and its key texts.
std::string UnmatchedCsv(const std::vector<std::int32_t>& mainLinkColumns,
                         const std::vector<UnmatchedRow>& rows);

}  // namespace merge
