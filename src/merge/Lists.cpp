#include "merge/Lists.hpp"

#include "store/UClc.hpp"

namespace merge {

std::string CsvRecord(const std::vector<std::string>& fields) {
  std::string record;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) record += ',';
    const std::string& text = fields[i];
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
      record += text;
      continue;
    }
    record += '"';
    for (const char c : text) record += c == '"' ? std::string("\"\"") : std::string(1, c);
    record += '"';
  }
  return record + "\n";
}

std::string UnmatchedCsv(const std::vector<std::int32_t>& mainLinkColumns,
                         const std::vector<UnmatchedRow>& rows) {
  std::vector<std::string> header = {"row"};
  for (const std::int32_t column : mainLinkColumns)
    header.push_back(store::clc::ColumnName(column));
  std::string text = CsvRecord(header);
  for (const UnmatchedRow& row : rows) {
    std::vector<std::string> fields = {std::to_string(row.row + 1)};
    fields.insert(fields.end(), row.key.begin(), row.key.end());
    text += CsvRecord(fields);
  }
  return text;
}

}  // namespace merge
