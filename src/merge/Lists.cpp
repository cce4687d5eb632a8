#include "merge/Lists.hpp"

#include "store/UClc.hpp"

namespace merge {

namespace {

std::vector<std::string> Letters(const std::vector<std::int32_t>& columns,
                                 const std::string& before = {}) {
  std::vector<std::string> letters;
  for (const std::int32_t column : columns)
    letters.push_back(before + store::clc::ColumnName(column));
  return letters;
}

std::vector<std::string> Record(std::int32_t row, const std::vector<std::string>& key) {
  std::vector<std::string> fields = {std::to_string(row + 1)};
  fields.insert(fields.end(), key.begin(), key.end());
  return fields;
}

}  // namespace

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

std::string KeyText(const std::vector<std::string>& key) {
  std::string text;
  for (std::size_t k = 0; k < key.size(); ++k) text += (k == 0 ? "" : " | ") + key[k];
  return text;
}

std::string UnmatchedCsv(const std::vector<std::int32_t>& mainLinkColumns,
                         const std::vector<UnmatchedRow>& rows) {
  std::vector<std::string> header = {"row"};
  for (const std::string& letters : Letters(mainLinkColumns)) header.push_back(letters);
  header.insert(header.end(), {"nearest", "why"});
  std::string text = CsvRecord(header);
  for (const UnmatchedRow& row : rows) {
    std::vector<std::string> fields = Record(row.row, row.key);
    fields.push_back(row.nearest.Found() ? KeyText(row.nearest.addKey) : std::string());
    fields.push_back(row.nearest.why);
    text += CsvRecord(fields);
  }
  return text;
}

std::string UnusedCsv(const std::vector<std::int32_t>& addLinkColumns,
                      const std::vector<UnusedRow>& rows) {
  std::vector<std::string> header = {"row"};
  for (const std::string& letters : Letters(addLinkColumns)) header.push_back(letters);
  std::string text = CsvRecord(header);
  for (const UnusedRow& row : rows) text += CsvRecord(Record(row.row, row.key));
  return text;
}

std::string MatchesHeader(const std::vector<std::int32_t>& mainLinkColumns,
                          const std::vector<std::int32_t>& addLinkColumns) {
  std::vector<std::string> header = {"row"};
  for (const std::string& letters : Letters(mainLinkColumns)) header.push_back(letters);
  header.insert(header.end(), {"outcome", "add row"});
  for (const std::string& letters : Letters(addLinkColumns, "add ")) header.push_back(letters);
  header.push_back("why");
  return CsvRecord(header);
}

std::string MatchesRecord(std::int32_t row, const std::vector<std::string>& key,
                          const char* outcome, const NearestKey& add) {
  std::vector<std::string> fields = Record(row, key);
  fields.push_back(outcome);
  fields.push_back(add.Found() ? std::to_string(add.addRow + 1) : std::string());
  if (add.Found())
    fields.insert(fields.end(), add.addKey.begin(), add.addKey.end());
  else
    fields.insert(fields.end(), key.size(), std::string());
  fields.push_back(add.why);
  return CsvRecord(fields);
}

}  // namespace merge
