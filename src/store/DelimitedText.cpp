#include "store/DelimitedText.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <istream>
#include <optional>
#include <vector>

#include "store/StoreInternal.hpp"

namespace store {

char DetectSeparator(const std::string& head, char fallback) {
  constexpr char kCandidates[] = {'\t', ';', ','};
  constexpr int kLines = 20;
  // Counts per line outside quotes; a quoted field may run over lines.
  std::vector<std::array<int, 3>> lines(1, std::array<int, 3>{});
  bool quoted = false;
  for (std::size_t i = 0; i < head.size() && lines.size() <= kLines; ++i) {
    const char c = head[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == '\n' || c == '\r')) {
      if (c == '\r' && i + 1 < head.size() && head[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else if (!quoted) {
      for (std::size_t k = 0; k < 3; ++k)
        if (c == kCandidates[k]) ++lines.back()[k];
    }
  }
  // The last line may be cut off by the end of the head; empty lines say nothing.
  if (lines.size() > 1) lines.pop_back();
  std::erase_if(lines, [](const std::array<int, 3>& n) { return n[0] + n[1] + n[2] == 0; });
  char best = fallback;
  int bestLines = 0, bestCount = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    // The lines on which it splits the same way as on the first, and its count there.
    if (lines.empty() || lines.front()[k] == 0) continue;
    const int count = lines.front()[k];
    const int even = static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::array<int, 3>& n) { return n[k] == count; }));
    if (even > bestLines || (even == bestLines && count > bestCount)) {
      best = kCandidates[k];
      bestLines = even;
      bestCount = count;
    } else if (even == bestLines && count == bestCount) {
      best = fallback;  // a tie
    }
  }
  return best;
}

std::optional<char> TextSeparator(const std::string& fileName) {
  std::string extension = std::filesystem::path(fileName).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".csv" && extension != ".tsv" && extension != ".txt") return std::nullopt;
  std::string head(64 * 1024, '\0');
  std::ifstream file(fileName, std::ios::binary);
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  return DetectSeparator(head, extension == ".tsv" ? '\t' : ',');
}

office::ImportFilter TextFilter(char separator) {
  // Separator, quote, character set (76: UTF-8), first line; the rest are the office's defaults.
  return {office::kTextFilter, std::to_string(static_cast<int>(separator)) + ",34,76,1"};
}

office::ImportFilter TextImportFilter(const std::string& fileName) {
  const std::optional<char> separator = TextSeparator(fileName);
  return separator ? TextFilter(*separator) : office::ImportFilter{};
}

std::int64_t CountRecords(std::istream& text, char separator) {
  std::int64_t records = 0;
  DelimitedReader reader([&](std::int32_t row, std::int32_t, std::string&&) { records = row + 1; },
                         separator);
  std::vector<char> buffer(1 << 16);
  while (text.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || text.gcount() > 0)
    reader.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(text.gcount())));
  reader.Finish();
  return records;
}

void DelimitedReader::Feed(std::string_view piece) {
  static constexpr char kMark[] = "\xEF\xBB\xBF";  // UTF-8's byte order mark
  std::size_t i = 0;
  while (!started_ && i < piece.size()) {
    if (piece[i] == kMark[bomSeen_]) {
      ++i;
      if (++bomSeen_ == 3) started_ = true;
      continue;
    }
    started_ = true;
    // Not the mark after all: what matched of it is text.
    if (const std::size_t matched = std::exchange(bomSeen_, 0); matched > 0)
      Feed(std::string_view(kMark, matched));
  }
  while (i < piece.size()) {
    // Runs of ordinary characters in bulk.
    if (state_ == State::Quoted || state_ == State::Plain) {
      const std::size_t end =
          std::min(state_ == State::Quoted ? piece.find('"', i) : piece.find_first_of(ends_, i),
                   piece.size());
      value_.append(piece.substr(i, end - i));
      i = end;
      if (i == piece.size()) break;
    }
    Take(piece[i++]);
  }
}

void DelimitedReader::Take(char c) {
  if (state_ == State::AfterCR) {
    state_ = State::FieldStart;
    if (c == '\n') return;  // CRLF: one line break
  }
  if (state_ == State::Quoted) {
    if (c == '"')
      state_ = State::QuoteInQuoted;
    else
      value_ += c;
    return;
  }
  if (state_ == State::QuoteInQuoted) {
    state_ = State::Plain;
    if (c == '"') {  // a doubled quote
      value_ += c;
      state_ = State::Quoted;
      return;
    }
  }
  if (c == '\n' || c == '\r') {
    Emit();
    ++row_;
    column_ = 0;
    rowStarted_ = false;
    state_ = c == '\r' ? State::AfterCR : State::FieldStart;
    return;
  }
  rowStarted_ = true;
  if (c == ends_[0]) {
    Emit();
    ++column_;
    state_ = State::FieldStart;
  } else if (c == '"' && state_ == State::FieldStart) {
    state_ = State::Quoted;
  } else {
    value_ += c;
    state_ = State::Plain;
  }
}

void DelimitedReader::Finish() {
  if (rowStarted_) Emit();  // an unterminated quote runs to the end
  rowStarted_ = false;
}

void DelimitedReader::Emit() {
  field_(row_, column_, std::move(value_));
  value_.clear();
}

void ReadDelimited(std::string_view text, const DelimitedReader::Field& field) {
  DelimitedReader reader(field);
  reader.Feed(text);
  reader.Finish();
}

}  // namespace store
