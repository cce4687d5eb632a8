// Delimited text as the office reads and writes it: the separator of a text file, the import
// filter that opens one, its record count, and a reader that splits it into fields.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

#include "office/uOpenOffice.hpp"

namespace store {

// How a text file (.csv, .tsv, .txt, any letter case) is to be read: UTF-8 (a byte order mark
// skipped), `"` as the quote, and the separator found in the first lines: tab, semicolon or
// comma, whichever splits them most evenly (a tie, or nothing found: tab for .tsv, else
// comma). Empty for any other file: the office detects it.
office::ImportFilter TextImportFilter(const std::string& fileName);

// The separator TextImportFilter finds in the head of a file; `fallback` when none.
char DetectSeparator(const std::string& head, char fallback);

// The records of delimited text as the office's import makes rows of them: a line break
// (LF, CRLF or CR) ends one unless it is inside a quoted field; a last line without a break
// is one too.
std::int64_t CountRecords(std::istream& text, char separator);

// Splits delimited text as the office writes and reads it, fed in pieces of any size: a field
// holding the separator, a quote or a line break is quoted with `"` (a quote inside doubled);
// rows end with LF, CRLF or CR outside quotes; a UTF-8 byte order mark at the start is
// skipped. Calls `field(row, column, text)` for every field, zero-based.
class DelimitedReader {
 public:
  using Field = std::function<void(std::int32_t, std::int32_t, std::string&&)>;
  explicit DelimitedReader(Field field, char separator = ',')
      : field_(std::move(field)), ends_{separator, '\r', '\n'} {}
  void Feed(std::string_view piece);
  void Finish();  // the end of the text: a last field without a line break

 private:
  void Take(char c);
  void Emit();
  enum class State { FieldStart, Plain, Quoted, QuoteInQuoted, AfterCR };
  Field field_;
  const std::string ends_;  // the separator, then the line breaks
  State state_ = State::FieldStart;
  std::string value_;
  std::int32_t row_ = 0, column_ = 0;
  bool rowStarted_ = false;  // something of the current row was read
  std::size_t bomSeen_ = 0;  // bytes of a byte order mark matched at the start
  bool started_ = false;
};

// All of `text` through a DelimitedReader.
void ReadDelimited(std::string_view text, const DelimitedReader::Field& field);

}  // namespace store
