#include "store/UClc.hpp"

#include "automation/PrivateFolder.hpp"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>

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

namespace {

// The separator of a text file (.csv, .tsv, .txt), found in its head; none for other files.
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

// 1048576 -> "1,048,576".
std::string Grouped(std::int64_t n) {
  std::string digits = std::to_string(n);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), 1, ',');
  return digits;
}

}  // namespace

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

namespace {

constexpr std::int32_t kWindowAbove = 10;  // rows kept above the requested one
constexpr std::int32_t kWindowRows = 21;

std::string WithoutFolder(const std::string& fileName) {
  const std::size_t sep = fileName.find_last_of("\\/:");
  return sep == std::string::npos ? fileName : fileName.substr(sep + 1);
}

// General decimal form: at most 15 significant digits, no trailing zeros, the locale's
// decimal separator; exponent form (1E20, 1.5E-7) beyond 15 integer digits or below 1E-5.
std::string NumberText(double value) {
  if (value == 0 || !std::isfinite(value)) return value == 0 ? "0" : std::to_string(value);
  // As printf's "%.14e" writes it, without its cost (a million copied numbers pass here).
  char buf[32];
  const auto end =
      std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14)
          .ptr;
  *end = '\0';  // d.dddddddddddddde[+-]x
  std::string digits;
  digits += buf[0];
  digits.append(buf + 2, 14);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int exponent = std::atoi(std::strchr(buf, 'e') + 1);

  const char* point = std::localeconv()->decimal_point;
  const std::string separator = point && *point ? point : ".";
  std::string text = value < 0 ? "-" : "";
  if (exponent >= 15 || std::fabs(value) < 1e-5) {
    text += digits[0];
    if (digits.size() > 1) text += separator + digits.substr(1);
    text += "E" + std::to_string(exponent);
  } else if (exponent < 0) {
    text += "0" + separator + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto integer = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integer) {
      text += digits + std::string(integer - digits.size(), '0');
    } else {
      text += digits.substr(0, integer) + separator + digits.substr(integer);
    }
  }
  return text;
}

}  // namespace

clc::clc(automation::ObjectFactory& factory)
    : Office(std::make_unique<office::TOOCalc>(factory)), factory_(factory) {
  // The office is ours for the program's life: closing the last book must not end it.
  Office->KeepsOffice = true;
  Office->Connect(true);
  Connected = Office->IsConnected();
}

clc::~clc() = default;

void clc::Reconnect() {
  Books.clear();
  CurrentBook = -1;
  rowLimit_ = 0;
  copiedFormats_.clear();
  Office = std::make_unique<office::TOOCalc>(factory_);
  Office->KeepsOffice = true;
  Office->Connect(true);
  Connected = Office->IsConnected();
}

void clc::Use(std::int32_t book) {
  if (book != CurrentBook) SelectBook(book);
}

bool clc::SelectBook(std::int32_t book) {
  const bool selected = Office->SelectDocument(book);
  CurrentBook = Office->CurrentDocumentIndex();
  return selected;
}

std::int32_t clc::OpenBook(const std::string& fileName) {
  // The office takes an empty file for an empty workbook: nothing a user meant to merge.
  LastOpenError.clear();
  LastOpenTooLong = false;
  std::error_code ec;
  if (std::filesystem::is_regular_file(fileName, ec) &&
      std::filesystem::file_size(fileName, ec) == 0) {
    LastOpenError = "the file is empty";
    return -1;
  }
  const std::optional<char> separator = TextSeparator(fileName);
  try {
    // The office loads a text file's first rows only, without a word, when it has more.
    if (separator && !FitsASheet(fileName, *separator)) return -1;
    Office->LoadDocument(fileName, office::loHidden, 0,
                         separator ? TextFilter(*separator) : office::ImportFilter{});
  } catch (const automation::ConnectionLost& e) {
    LastOpenError = e.what();
    return -1;
  } catch (const automation::Refused&) {
    return -1;  // what the office cannot read; a mistake of ours passes
  }
  const std::int32_t index = Office->CurrentDocumentIndex();
  sheets list;
  try {
    list = ReadSheets(index);
  } catch (const automation::ConnectionLost& e) {
    LastOpenError = e.what();
    return -1;  // the office is gone with the document
  }
  Books.resize(static_cast<std::size_t>(index) + 1);
  clc_file& entry = Books[static_cast<std::size_t>(index)];
  entry.Path = fileName;
  entry.ShortName = WithoutFolder(fileName);
  entry.SheetList = std::move(list);
  return index;
}

std::int32_t clc::SheetRowLimit() {
  if (rowLimit_ > 0) return rowLimit_;
  for (const clc_file& book : Books)
    for (const sheet& s : book.SheetList)
      if (s.RowLimit > 0) return rowLimit_ = s.RowLimit;
  return rowLimit_ = Office->BlankSheetRowCount();
}

bool clc::FitsASheet(const std::string& fileName, char separator) {
  std::ifstream file(fileName, std::ios::binary);
  const std::int64_t records = CountRecords(file, separator);
  const std::int32_t limit = SheetRowLimit();
  if (records <= limit) return true;
  LastOpenError = fileName + " has " + Grouped(records) + " rows; a sheet holds at most " +
                  Grouped(limit) + ": it cannot be opened whole";
  LastOpenTooLong = true;
  return false;
}

sheets clc::ReadSheets(std::int32_t book) {
  sheets list;
  try {
    Use(book);
    office::TOOCalcSheets& all = Office->Sheets();
    const std::int32_t active = all.ActiveSheetIndex();
    const std::int32_t count = all.SheetCount();
    for (std::int32_t i = 0; i < count; ++i) {
      sheet& entry = list.emplace_back();
      all.ActivateSheet(i);
      office::TOOCalcSheet& current = all.SheetByIndex(i);
      entry.Name = current.SheetName();
      current.MeasureUsedArea();
      entry.RowCount = current.LastUsedRow() + 1;
      entry.ColCount = current.LastUsedColumn() + 1;
      entry.ColumnLimit = current.ColumnCount();
      entry.RowLimit = current.RowCount();
    }
    all.ActivateSheet(active);
  } catch (const automation::Refused&) {
    return {};  // never a partly read list
  }
  return list;
}

void clc::SaveBookAs(std::int32_t book, const std::string& fileName, const std::string& format) {
  Use(book);
  Office->StoreDocument(fileName, format);
  clc_file& entry = Books.at(static_cast<std::size_t>(book));
  entry.Path = fileName;
  entry.ShortName = WithoutFolder(fileName);
  entry.Format = format;
}

void clc::SaveBook(std::int32_t book) {
  Use(book);
  const clc_file& entry = Books.at(static_cast<std::size_t>(book));
  Office->StoreDocument(entry.Path, entry.Format);
}

void clc::CloseBook(std::int32_t book) {
  Use(book);
  // A book that cannot be made current is not closed: another book's document would be.
  if (CurrentBook != book) return;
  Office->CloseDocument();
}

bool clc::InBounds(std::int32_t book, std::int32_t sheet, std::int32_t column,
                   std::int32_t row) const {
  if (book < 0 || book >= static_cast<std::int32_t>(Books.size())) return false;
  const sheets& list = Books[static_cast<std::size_t>(book)].SheetList;
  if (sheet < 0 || sheet >= static_cast<std::int32_t>(list.size())) return false;
  const struct sheet& s = list[static_cast<std::size_t>(sheet)];
  return column > 0 && column <= s.ColCount && row > 0 && row <= s.RowCount;
}

std::string clc::ColumnName(std::int32_t column) {
  std::string name;
  for (std::int64_t n = static_cast<std::int64_t>(column) + 1; n > 0; n = (n - 1) / 26)
    name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  return name;
}

std::int32_t clc::ColumnIndex(const std::string& letters) {
  if (letters.empty() || letters.size() > 7) return -1;
  std::int64_t n = 0;
  for (const char c : letters) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return -1;
    n = n * 26 + (std::toupper(static_cast<unsigned char>(c)) - 'A' + 1);
  }
  return n - 1 > INT32_MAX ? -1 : static_cast<std::int32_t>(n - 1);
}

std::string clc::CellTextByAddress(std::int32_t sheet, const std::string& address) {
  try {
    return Office->Sheets().SheetByIndex(sheet).CellNamed(address).ReadString();
  } catch (const automation::Refused&) {
    return {};
  }
}

std::string clc::CellText(std::int32_t book, std::int32_t sheet, std::int32_t column,
                          std::int32_t row) {
  if (!InBounds(book, sheet, column, row)) return {};
  Use(book);
  return CellTextByAddress(sheet, ColumnName(column - 1) + std::to_string(row));
}

cell_value clc::ReadCell(std::int32_t book, std::int32_t sheet, std::int32_t column,
                         std::int32_t row) {
  cell_value cell;
  if (!InBounds(book, sheet, column, row)) return cell;
  Use(book);
  office::TOOCalcSheet& s = Office->Sheets().SheetByIndex(sheet);
  cell.Text = s.CellAt(column - 1, row - 1).ReadString();
  cell.Background = s.CellAt(column - 1, row - 1).BackColor();
  return cell;
}

cell_value clc::CachedCell(std::int32_t book, std::int32_t sheet, std::int32_t column,
                           std::int32_t row) {
  if (!InBounds(book, sheet, column, row)) return cell_value{};
  struct sheet& s =
      Books[static_cast<std::size_t>(book)].SheetList[static_cast<std::size_t>(sheet)];
  sb_sheet& window = s.Window;
  if (row < window.FirstRow || row > window.LastRow) {
    window.FirstRow = std::max(1, row - kWindowAbove);
    window.LastRow = std::min(s.RowCount, window.FirstRow + kWindowRows - 1);
    window.Rows.assign(
        static_cast<std::size_t>(window.LastRow - window.FirstRow + 1),
        sb_record{std::vector<cell_value>(static_cast<std::size_t>(s.ColCount)), false});
  }
  sb_record& record = window.Rows[static_cast<std::size_t>(row - window.FirstRow)];
  if (!record.Loaded) {
    // Texts of a sheet of moderate size come from one export, whatever its cells hold.
    constexpr std::int64_t kShownCells = 250000;
    if (!s.ShownAsked && std::int64_t{s.RowCount} * s.ColCount <= kShownCells) {
      s.ShownAsked = true;
      try {
        s.Shown = std::make_shared<const std::vector<std::vector<std::string>>>(
            ExportedTexts(book, sheet));
      } catch (const automation::Refused&) {
        // read row by row below
      }
    }
    const std::vector<std::string> none;
    const std::vector<std::string>* shown = !s.Shown ? nullptr
                                            : static_cast<std::size_t>(row - 1) < s.Shown->size()
                                                ? &(*s.Shown)[static_cast<std::size_t>(row - 1)]
                                                : &none;
    // The whole row in a few calls; kept only when all of it could be read.
    record.Cells = BlockCells(book, sheet, 0, row - 1, s.ColCount - 1, row - 1, true, shown);
    record.Loaded = true;
  }
  return record.Cells[static_cast<std::size_t>(column - 1)];
}

std::string clc::ValueText(const automation::Variant& value) {
  switch (value.type()) {
    case automation::Variant::Type::String:
      return value.AsString();
    case automation::Variant::Type::Int32:
    case automation::Variant::Type::Byte:
    case automation::Variant::Type::Double:
      return NumberText(value.AsDouble());
    case automation::Variant::Type::Boolean:
      return value.AsBool() ? "True" : "False";
    default:
      return {};
  }
}

namespace {

// Days from 1970-01-01 to a calendar day (proleptic Gregorian).
std::int64_t DaysOf(const office::Day& d) {
  const std::int64_t y = d.year - (d.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The source columns a row copy writes: the given ones, else all of the sheet's, as far as
// the target sheet has room from targetColumn (one-based) on.
std::vector<std::int32_t> ColumnsThatFit(const std::vector<std::int32_t>* columns,
                                         std::int32_t sourceColumns, std::int32_t room) {
  std::vector<std::int32_t> fit;
  if (columns)
    fit = *columns;
  else
    for (std::int32_t c = 0; c < sourceColumns; ++c) fit.push_back(c);
  if (static_cast<std::int32_t>(fit.size()) > room)
    fit.resize(static_cast<std::size_t>(std::max(0, room)));
  return fit;
}

}  // namespace

const clc::CopiedFormat& clc::CopyFormat(std::int32_t sourceBook, std::int32_t key,
                                         std::int32_t targetBook) {
  const auto at = std::tuple(sourceBook, key, targetBook);
  if (const auto found = copiedFormats_.find(at); found != copiedFormats_.end())
    return found->second;
  // A format key belongs to its document: the code goes over, in its locale.
  Use(sourceBook);
  const office::NumberFormat format = Office->NumberFormatOf(key);
  const office::Day sourceNull = Office->NullDate();
  Use(targetBook);
  CopiedFormat copied;
  copied.key = Office->NumberFormatKey(format.code, format.locale);
  if (format.type & office::kDateFormat)
    copied.shift = static_cast<double>(DaysOf(sourceNull) - DaysOf(Office->NullDate()));
  return copiedFormats_[at] = copied;
}

CellCopy clc::AsCopy(const automation::Variant& value, std::int32_t sourceBook, std::int32_t key,
                     std::int32_t targetBook, CopyAs as) {
  if (as == CopyAs::Texts) return {ValueText(value), -1};
  const CopiedFormat& format = CopyFormat(sourceBook, key, targetBook);
  if (value.IsNumber()) return {value.AsDouble() + format.shift, format.key};
  return {value.IsString() ? value : automation::Variant(std::string()), format.key};
}

void clc::CopyRow(std::int32_t sourceBook, std::int32_t targetBook, std::int32_t sourceSheet,
                  std::int32_t targetSheet, std::int32_t sourceRow, std::int32_t targetRow,
                  std::int32_t targetColumn, const CopyPlan* plan) {
  const std::vector<std::int32_t>* columns = plan ? &plan->columns : nullptr;
  const CopyAs as = plan ? plan->as : CopyAs::Texts;
  const std::int32_t width = Books.at(static_cast<std::size_t>(sourceBook))
                                 .SheetList.at(static_cast<std::size_t>(sourceSheet))
                                 .ColCount;
  const std::int32_t limit = Books.at(static_cast<std::size_t>(targetBook))
                                 .SheetList.at(static_cast<std::size_t>(targetSheet))
                                 .ColumnLimit;
  const std::vector<std::int32_t> fit = ColumnsThatFit(columns, width, limit - (targetColumn - 1));
  if (fit.empty()) return;  // nothing fits: ask the office nothing

  Use(sourceBook);
  office::TOOCalcSheet& source = Office->Sheets().SheetByIndex(sourceSheet);
  const auto [left, right] = std::minmax_element(fit.begin(), fit.end());
  const automation::VariantArray rows =
      source.RangeAt(*left, sourceRow - 1, *right, sourceRow - 1).DataArray();
  const automation::VariantArray& values = rows.at(0).AsArray();
  std::vector<CellCopy> copies;
  for (const std::int32_t column : fit) {
    automation::Variant value = values.at(static_cast<std::size_t>(column - *left));
    std::int32_t key = 0;
    if (as == CopyAs::Values) {
      Use(sourceBook);
      office::TOOCalcCell& cell =
          Office->Sheets().SheetByIndex(sourceSheet).CellAt(column, sourceRow - 1);
      key = cell.NumberFormatKey();
      if (value.IsEmpty()) value = cell.ErrorText();  // an error reads as nothing
    }
    copies.push_back(AsCopy(value, sourceBook, key, targetBook, as));
  }

  SelectBook(targetBook);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(targetSheet);
  for (std::size_t i = 0; i < copies.size(); ++i) {
    office::TOOCalcCell& cell =
        target.CellAt(targetColumn - 1 + static_cast<std::int32_t>(i), targetRow - 1);
    if (copies[i].value.IsNumber())
      cell.WriteValue(copies[i].value.AsDouble());
    else
      cell.WriteString(copies[i].value.AsString());
    if (copies[i].format >= 0) cell.SetNumberFormat(copies[i].format);
  }
}

bool clc::LiftProtection(std::int32_t book, std::int32_t sheet) {
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  if (!target.IsProtected()) return false;
  try {
    target.Unprotect("");
  } catch (const automation::Refused&) {
    throw std::runtime_error("The sheet \"" + target.SheetName() +
                             "\" is protected with a password, so the kept values cannot have "
                             "their number formats there: remove its protection, or copy "
                             "without keeping values");
  }
  return true;
}

void clc::RestoreProtection(std::int32_t book, std::int32_t sheet) {
  Use(book);
  Office->Sheets().SheetByIndex(sheet).Protect("");
}

std::vector<std::vector<CellCopy>> clc::ReadCopies(std::int32_t book, std::int32_t sheet,
                                                   const std::vector<std::int32_t>& columns,
                                                   std::int32_t top, std::int32_t bottom,
                                                   std::int32_t targetBook, CopyAs as) {
  std::vector<std::vector<CellCopy>> rows(static_cast<std::size_t>(bottom - top + 1));
  if (columns.empty()) return rows;
  // Kept until the run ends: a row takes no more room than its cells.
  for (std::vector<CellCopy>& row : rows) row.reserve(columns.size());
  const auto [left, right] = std::minmax_element(columns.begin(), columns.end());
  Use(book);
  office::TOOCalcSheet& source = Office->Sheets().SheetByIndex(sheet);
  const automation::VariantArray values = source.RangeAt(*left, top, *right, bottom).DataArray();
  // The number format of each copied column: one call where the column has one, its parts
  // where it has several.
  std::vector<std::vector<std::int32_t>> keys(columns.size());
  if (as == CopyAs::Values)
    for (std::size_t k = 0; k < columns.size(); ++k) {
      office::TOOCalcCellRange& column = source.RangeAt(columns[k], top, columns[k], bottom);
      if (const std::optional<std::int32_t> key = column.UniformNumberFormat()) {
        keys[k].assign(rows.size(), *key);
        continue;
      }
      keys[k].assign(rows.size(), 0);
      for (const office::FormatPart& part : column.FormatParts())
        for (std::int32_t r = std::max(part.address.StartRow, top);
             r <= std::min(part.address.EndRow, bottom); ++r)
          keys[k][static_cast<std::size_t>(r - top)] = part.numberFormat;
    }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const automation::VariantArray& row = values.at(r).AsArray();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      automation::Variant value = row.at(static_cast<std::size_t>(columns[k] - *left));
      if (as == CopyAs::Values && value.IsEmpty()) {  // an error reads as nothing
        Use(book);
        value = Office->Sheets()
                    .SheetByIndex(sheet)
                    .CellAt(columns[k], top + static_cast<std::int32_t>(r))
                    .ErrorText();
      }
      rows[r].push_back(AsCopy(value, book, as == CopyAs::Values ? keys[k][r] : 0, targetBook, as));
    }
  }
  return rows;
}

void clc::WriteCopies(std::int32_t book, std::int32_t sheet, std::int32_t left, std::int32_t top,
                      std::span<const std::vector<CellCopy>* const> rows) {
  if (rows.empty() || rows.front()->empty()) return;
  automation::VariantArray values;
  values.reserve(rows.size());
  for (const auto* row : rows) {
    automation::VariantArray cells;
    cells.reserve(row->size());
    for (const CellCopy& cell : *row) cells.push_back(cell.value);
    values.emplace_back(std::move(cells));
  }
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  const auto width = static_cast<std::int32_t>(rows.front()->size());
  const auto height = static_cast<std::int32_t>(rows.size());
  target.RangeAt(left, top, left + width - 1, top + height - 1).SetDataArray(std::move(values));
  // One format write per run of rows of a column; rows without a format of their own (empty
  // rows between copied ones, whose cells are empty) join the run around them.
  const auto format = [&](std::int32_t r, std::int32_t c) {
    return (*rows[static_cast<std::size_t>(r)])[static_cast<std::size_t>(c)].format;
  };
  for (std::int32_t c = 0; c < width; ++c)
    for (std::int32_t first = 0, end = 0; first < height; first = end) {
      std::int32_t key = format(first, c);
      for (end = first + 1; end < height; ++end) {
        const std::int32_t next = format(end, c);
        if (key < 0)
          key = next;
        else if (next >= 0 && next != key)
          break;
      }
      if (key >= 0)
        target.RangeAt(left + c, top + first, left + c, top + end - 1).SetNumberFormat(key);
    }
}

namespace {

// Values, dates, texts, notes and formulas: what a block write clears.
constexpr std::int32_t kAnyContent = office::cfValue | office::cfDateTime | office::cfString |
                                     office::cfAnnotation | office::cfFormula;

// A block of cells as flags, row-major.
struct Block {
  std::int32_t left, top, right, bottom;
  std::size_t Width() const { return static_cast<std::size_t>(right - left + 1); }
  std::size_t Size() const { return Width() * static_cast<std::size_t>(bottom - top + 1); }
  // Calls `mark(index)` for each cell of the block inside the given parts.
  template <typename F>
  void Each(const std::vector<office::CellRangeAddress>& parts, F&& mark) const {
    for (const office::CellRangeAddress& a : parts) Each(a, mark);
  }
  template <typename F>
  void Each(const office::CellRangeAddress& a, F&& mark) const {
    for (std::int32_t row = std::max(a.StartRow, top); row <= std::min(a.EndRow, bottom); ++row)
      for (std::int32_t col = std::max(a.StartColumn, left); col <= std::min(a.EndColumn, right);
           ++col)
        mark(static_cast<std::size_t>(row - top) * Width() + static_cast<std::size_t>(col - left));
  }
};

}  // namespace

std::vector<cell_value> clc::BlockCells(std::int32_t book, std::int32_t sheet, std::int32_t left,
                                        std::int32_t top, std::int32_t right, std::int32_t bottom,
                                        bool backgrounds, const std::vector<std::string>* shown) {
  const Block block{left, top, right, bottom};
  std::vector<cell_value> cells(block.Size());
  std::vector<bool> plain(block.Size()), number(block.Size()), empty(block.Size()),
      shownAsIs(block.Size()), coloured(block.Size());
  std::vector<std::int32_t> formatKey(block.Size(), -1);
  automation::VariantArray values;
  bool formatted = false;  // numbers take their text from the document's formatter
  Use(book);
  office::TOOCalcSheet& s = Office->Sheets().SheetByIndex(sheet);
  try {
    office::TOOCalcCellRange& range = s.RangeAt(left, top, right, bottom);
    if (shown) {
      for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::size_t col = i % block.Width() + static_cast<std::size_t>(left);
        cells[i].Text = col < shown->size() ? (*shown)[col] : std::string();
        empty[i] = true;  // nothing more to ask for the text
      }
    } else {
      values = range.DataArray();
      block.Each(range.ContentCells(office::cfString), [&](std::size_t i) { plain[i] = true; });
      block.Each(range.ContentCells(office::cfValue), [&](std::size_t i) { number[i] = true; });
      block.Each(range.EmptyCells(), [&](std::size_t i) { empty[i] = true; });
    }
    // Equal-formatted parts: text shows as it is under the standard format (key 0) and the
    // text format "@"; each part has one background.
    for (const office::FormatPart& part : range.FormatParts()) {
      const bool asIs =
          shown || part.numberFormat == 0 || Office->NumberFormatCode(part.numberFormat) == "@";
      block.Each(part.address, [&](std::size_t i) {
        shownAsIs[i] = asIs;
        formatKey[i] = part.numberFormat;
        if (backgrounds) {
          cells[i].Background = part.backColor;
          coloured[i] = true;
        }
      });
    }
    // A number cell shows its value as the document's formatter writes it under the cell's
    // format: one call per cell instead of a cell lookup, an interface query and a read.
    formatted = true;
  } catch (const automation::Refused&) {
    // Not to be had in bulk: every cell asks for itself below (its text too, even if shown).
    values.clear();
    std::fill(empty.begin(), empty.end(), false);
    std::fill(plain.begin(), plain.end(), false);
    std::fill(number.begin(), number.end(), false);
    std::fill(coloured.begin(), coloured.end(), false);
  }
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const auto row = static_cast<std::int32_t>(i / block.Width());
    const auto col = static_cast<std::int32_t>(i % block.Width());
    const automation::Variant* value =
        static_cast<std::size_t>(row) < values.size()
            ? &values[static_cast<std::size_t>(row)].AsArray().at(static_cast<std::size_t>(col))
            : nullptr;
    if (!empty[i]) {
      if (plain[i] && shownAsIs[i] && value && value->IsString())
        cells[i].Text = value->AsString();
      else if (number[i] && formatKey[i] >= 0 && value && value->IsNumber() && formatted)
        cells[i].Text = Office->FormatNumber(formatKey[i], value->AsDouble());
      else
        cells[i].Text = s.CellAt(left + col, top + row).ReadString();
    }
    if (backgrounds && !coloured[i])
      cells[i].Background = s.CellAt(left + col, top + row).BackColor();
  }
  return cells;
}

std::vector<std::string> clc::ColumnTexts(std::int32_t book, std::int32_t sheet,
                                          std::int32_t column, std::int32_t firstRow,
                                          std::int32_t lastRow) {
  return std::move(ColumnsTexts(book, sheet, {column}, firstRow, lastRow).front());
}

namespace {

// A folder of our own for the office to write into, removed whole.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    try {
      path_ = automation::MakePrivateFolder(std::filesystem::temp_directory_path(ec).string(),
                                            "tabloom-");
    } catch (const std::runtime_error& e) {
      throw automation::Refused(e.what());  // no scratch folder: the office is asked otherwise
    }
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

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

void clc::ReadExport(std::int32_t book, std::int32_t sheet, DelimitedReader& reader) {
  Use(book);
  const ScratchFolder folder;
  const std::string file = Office->ExportShownTexts(sheet, folder.path());
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size == 0)
    throw automation::Refused("The office's text of the sheet is missing or empty");
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  std::uintmax_t read = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    reader.Feed(std::string_view(buffer.data(), got));
    read += got;
  }
  if (in.bad() || read != size)
    throw automation::Refused("The office's text of the sheet could not be read whole");
  reader.Finish();
}

std::size_t CharacterCount(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::size_t clc::LongestShownText(std::int32_t book, std::int32_t sheet) {
  std::size_t longest = 0;
  DelimitedReader reader([&](std::int32_t, std::int32_t, std::string&& text) {
    // Bytes are never fewer than characters: most texts need no count.
    if (text.size() > longest) longest = std::max(longest, CharacterCount(text));
  });
  ReadExport(book, sheet, reader);
  return longest;
}

std::vector<std::vector<std::string>> clc::ExportedTexts(std::int32_t book, std::int32_t sheet) {
  std::vector<std::vector<std::string>> rows;
  DelimitedReader reader([&](std::int32_t row, std::int32_t column, std::string&& text) {
    if (static_cast<std::size_t>(row) >= rows.size())
      rows.resize(static_cast<std::size_t>(row) + 1);
    auto& cells = rows[static_cast<std::size_t>(row)];
    if (static_cast<std::size_t>(column) >= cells.size())
      cells.resize(static_cast<std::size_t>(column) + 1);
    cells[static_cast<std::size_t>(column)] = std::move(text);
  });
  ReadExport(book, sheet, reader);
  return rows;
}

std::vector<std::vector<std::string>> clc::ColumnsTexts(std::int32_t book, std::int32_t sheet,
                                                        const std::vector<std::int32_t>& columns,
                                                        std::int32_t firstRow, std::int32_t lastRow,
                                                        std::optional<std::size_t>* longest) {
  const auto count = static_cast<std::size_t>(std::max(0, lastRow - firstRow + 1));
  std::vector<std::vector<std::string>> texts(columns.size(), std::vector<std::string>(count));
  if (count == 0 || !InBounds(book, sheet, 1, std::max(firstRow, 1))) return texts;
  // The export formats every cell of the sheet; columns of texts alone need none of that.
  if (!longest && PlainTextColumns(book, sheet, columns, firstRow, texts)) return texts;
  try {
    // Which requested columns each sheet column feeds.
    std::map<std::int32_t, std::vector<std::size_t>> wanted;
    for (std::size_t k = 0; k < columns.size(); ++k) wanted[columns[k] - 1].push_back(k);
    std::size_t longestSeen = 0;
    DelimitedReader reader([&](std::int32_t row, std::int32_t column, std::string&& text) {
      if (longest && text.size() > longestSeen)
        longestSeen = std::max(longestSeen, CharacterCount(text));
      if (row < firstRow - 1 || row > lastRow - 1) return;
      const auto it = wanted.find(column);
      if (it == wanted.end()) return;
      for (const std::size_t k : it->second)
        texts[k][static_cast<std::size_t>(row - (firstRow - 1))] = text;
    });
    ReadExport(book, sheet, reader);
    if (longest) *longest = longestSeen;
    return texts;
  } catch (const automation::Refused&) {
    // Not to be had as one export: column by column.
  }
  for (std::size_t k = 0; k < columns.size(); ++k)
    texts[k] = ColumnTextsInBlocks(book, sheet, columns[k], firstRow, lastRow);
  return texts;
}

bool clc::PlainTextColumns(std::int32_t book, std::int32_t sheet,
                           const std::vector<std::int32_t>& columns, std::int32_t firstRow,
                           std::vector<std::vector<std::string>>& texts) {
  constexpr std::int32_t kNotText = office::cfValue | office::cfDateTime | office::cfFormula;
  constexpr std::int32_t kFormats = 8;  // distinct cell formats asked before the export wins
  const std::int32_t top = std::max(firstRow, 1) - 1;
  const auto bottom = std::min(firstRow - 1 + static_cast<std::int32_t>(texts.front().size()),
                               Books[static_cast<std::size_t>(book)]
                                   .SheetList[static_cast<std::size_t>(sheet)]
                                   .RowCount) -
                      1;
  if (bottom < top) return true;  // every row past the used area: all empty, as they are
  std::vector<std::vector<std::string>> read(texts.size(), texts.front());
  try {
    for (std::size_t k = 0; k < columns.size(); ++k) {
      if (!InBounds(book, sheet, columns[k], top + 1)) continue;
      Use(book);
      office::TOOCalcCellRange& range =
          Office->Sheets().SheetByIndex(sheet).RangeAt(columns[k] - 1, top, columns[k] - 1, bottom);
      if (!range.ContentCells(kNotText).empty()) return false;
      // Text shows as it is under the standard format and "@" (the office gives a text that
      // looks like a number "@"); other formats may add to it.
      const std::optional<std::vector<std::int32_t>> formats = range.NumberFormatsUsed(kFormats);
      if (!formats) return false;
      for (const std::int32_t format : *formats)
        if (format != 0 && Office->NumberFormatCode(format) != "@") return false;
      const automation::VariantArray values = range.DataArray();
      for (std::size_t i = 0; i < values.size(); ++i)
        if (const automation::Variant& value = values[i].AsArray().at(0); value.IsString())
          read[k][static_cast<std::size_t>(top - (firstRow - 1)) + i] = value.AsString();
    }
  } catch (const automation::Refused&) {
    return false;
  }
  texts = std::move(read);
  return true;
}

std::vector<std::string> clc::ColumnTextsInBlocks(std::int32_t book, std::int32_t sheet,
                                                  std::int32_t column, std::int32_t firstRow,
                                                  std::int32_t lastRow) {
  std::vector<std::string> texts(static_cast<std::size_t>(std::max(0, lastRow - firstRow + 1)));
  if (texts.empty() || !InBounds(book, sheet, column, std::max(firstRow, 1))) return texts;
  const struct sheet& s =
      Books[static_cast<std::size_t>(book)].SheetList[static_cast<std::size_t>(sheet)];
  const std::int32_t top = std::max(firstRow, 1) - 1;
  const std::int32_t bottom = std::min(lastRow, s.RowCount) - 1;
  if (bottom < top) return texts;
  try {
    const std::vector<cell_value> cells =
        BlockCells(book, sheet, column - 1, top, column - 1, bottom, false);
    for (std::size_t i = 0; i < cells.size(); ++i)
      texts[static_cast<std::size_t>(top - (firstRow - 1)) + i] = cells[i].Text;
  } catch (const automation::Refused&) {
    // As CellText: an office error reads as the empty text, cell by cell.
    for (std::int32_t r = top; r <= bottom; ++r)
      texts[static_cast<std::size_t>(r - (firstRow - 1))] = CellText(book, sheet, column, r + 1);
  }
  return texts;
}

std::vector<bool> clc::RowsInUse(std::int32_t book, std::int32_t sheet, std::int32_t left,
                                 std::int32_t top, std::int32_t right, std::int32_t bottom) {
  const Block block{left, top, right, bottom};
  std::vector<bool> used(static_cast<std::size_t>(bottom - top + 1));
  Use(book);
  block.Each(Office->Sheets()
                 .SheetByIndex(sheet)
                 .RangeAt(left, top, right, bottom)
                 .ContentCells(kAnyContent),
             [&](std::size_t i) { used[i / block.Width()] = true; });
  return used;
}

bool clc::DeleteSheet(std::int32_t book, std::int32_t sheet, bool save) {
  try {
    Use(book);
    Office->Sheets().RemoveSheet(sheet);
    clc_file& entry = Books.at(static_cast<std::size_t>(book));
    entry.SheetList.clear();
    entry.SheetList = ReadSheets(book);
    if (save) SaveBook(book);
    return true;
  } catch (const automation::Refused&) {
    return false;
  }
}

}  // namespace store

namespace store {

namespace {

// Whether a formula's text reaches outside its sheet: a reference naming one of `sheets`
// ("$Other.A1", "$'Q1 plan'.B2") or another file ("'file:///x.ods'#$Sheet1.A1"). Quoted
// literals ("...") are skipped.
bool NamesElsewhere(const std::string& formula, const std::vector<std::string>& sheets) {
  std::string code;  // the formula without its string literals
  bool literal = false;
  for (const char c : formula) {
    if (c == '"') literal = !literal;
    if (!literal) code += c;
  }
  if (code.find("'#") != std::string::npos) return true;
  for (const std::string& name : sheets) {
    std::string quoted = "'";
    for (const char c : name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    if (code.find(name + ".") != std::string::npos || code.find(quoted + "'.") != std::string::npos)
      return true;
  }
  return false;
}

// A reference to another file stays valid when sheets go, so it is found by its text.
bool NamesAnotherFile(const std::string& formula) {
  return NamesElsewhere(formula, {});
}

using CellKey = std::uint64_t;

CellKey Key(std::int32_t column, std::int32_t row) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) |
         static_cast<std::uint32_t>(column);
}

std::int64_t Area(const office::CellRangeAddress& a) {
  return std::int64_t{a.EndColumn - a.StartColumn + 1} * (a.EndRow - a.StartRow + 1);
}

office::CellRangeAddress Union(office::CellRangeAddress a, const office::CellRangeAddress& b) {
  a.StartColumn = std::min(a.StartColumn, b.StartColumn);
  a.StartRow = std::min(a.StartRow, b.StartRow);
  a.EndColumn = std::max(a.EndColumn, b.EndColumn);
  a.EndRow = std::max(a.EndRow, b.EndRow);
  return a;
}

// The cells of some ranges of formula cells (the office lists no more than there are).
std::unordered_set<CellKey> CellsOf(const std::vector<office::CellRangeAddress>& ranges) {
  std::unordered_set<CellKey> cells;
  for (const office::CellRangeAddress& a : ranges)
    for (std::int32_t row = a.StartRow; row <= a.EndRow; ++row)
      for (std::int32_t column = a.StartColumn; column <= a.EndColumn; ++column)
        cells.insert(Key(column, row));
  return cells;
}

// A range joins the box before it while that box stays at most twice the size of the cells
// in it: few calls for ranges close together, no read of the space between far ones.
std::vector<FormulaSnapshot::Part> Parts(const std::vector<office::CellRangeAddress>& ranges) {
  std::vector<FormulaSnapshot::Part> parts;
  std::int64_t cells = 0;
  for (const office::CellRangeAddress& a : ranges) {
    if (!parts.empty()) {
      const office::CellRangeAddress box = Union(parts.back().box, a);
      if (Area(box) <= 2 * (cells + Area(a))) {
        parts.back().box = box;
        parts.back().ranges.push_back(a);
        cells += Area(a);
        continue;
      }
    }
    parts.push_back({a, {a}});
    cells = Area(a);
  }
  return parts;
}

// Calls `each(column, row, r, c)` for the part's cells in the snapshot's order; r and c are
// the cell's place in the part's box.
template <typename F>
void EachCell(const FormulaSnapshot::Part& part, F&& each) {
  for (const office::CellRangeAddress& a : part.ranges)
    for (std::int32_t row = a.StartRow; row <= a.EndRow; ++row)
      for (std::int32_t column = a.StartColumn; column <= a.EndColumn; ++column)
        each(column, row, static_cast<std::size_t>(row - part.box.StartRow),
             static_cast<std::size_t>(column - part.box.StartColumn));
}

// One value per snapshot cell, in its order: each part's box in one call of `read`.
std::vector<automation::Variant> ReadParts(
    office::TOOCalcSheet& target, const std::vector<FormulaSnapshot::Part>& parts,
    automation::VariantArray (office::TOOCalcCellRange::*read)()) {
  std::vector<automation::Variant> values;
  for (const FormulaSnapshot::Part& part : parts) {
    const office::CellRangeAddress& b = part.box;
    const automation::VariantArray rows =
        (target.RangeAt(b.StartColumn, b.StartRow, b.EndColumn, b.EndRow).*read)();
    EachCell(part, [&](std::int32_t, std::int32_t, std::size_t r, std::size_t c) {
      values.push_back(rows.at(r).AsArray().at(c));
    });
  }
  return values;
}

// The snapshot's formula cells that show an error now.
std::unordered_set<CellKey> FailingNow(office::TOOCalcSheet& target,
                                       const FormulaSnapshot& snapshot) {
  office::CellRangeAddress all = snapshot.parts.front().box;
  for (const FormulaSnapshot::Part& part : snapshot.parts) all = Union(all, part.box);
  return CellsOf(target.RangeAt(all.StartColumn, all.StartRow, all.EndColumn, all.EndRow)
                     .FormulaCells(office::frError));
}

// Whether a formula's result now is not what it showed when the snapshot was taken.
bool ShowsOtherwise(const FormulaSnapshot::Cell& was, const automation::Variant& now,
                    bool errorNow) {
  if (was.isError || errorNow) return was.isError != errorNow;
  if (was.isNumber) return !now.IsNumber() || now.AsDouble() != was.number;
  return !now.IsString() || now.AsString() != was.text;
}

// Puts back the results a snapshot's formulas showed, as values in the cells' own formats.
class Freezer {
 public:
  Freezer(office::TOOCalcSheet& target, const FormulaSnapshot& snapshot)
      : target_(target), snapshot_(snapshot), frozen_(snapshot.cells.size()) {
    for (std::size_t i = 0; i < snapshot.cells.size(); ++i)
      at_[Key(snapshot.cells[i].column, snapshot.cells[i].row)] = i;
  }

  // The given cells (indexes into the snapshot) not frozen yet; an error whose text was not
  // read stays as it is.
  void Freeze(std::vector<std::size_t> which) {
    std::erase_if(which, [&](std::size_t i) {
      const FormulaSnapshot::Cell& cell = snapshot_.cells[i];
      return frozen_[i] || (cell.isError && !cell.errorShown);
    });
    for (const std::size_t i : which)
      if (!frozen_[i] && snapshot_.cells[i].formula.rfind("{", 0) == 0) FreezeArray(i);
    std::erase_if(which, [&](std::size_t i) { return frozen_[i]; });
    FreezeRuns(std::move(which));
  }

  bool Frozen(std::size_t i) const { return frozen_[i]; }
  std::int32_t Count() const { return count_; }

 private:
  automation::Variant Result(std::size_t i) const {
    const FormulaSnapshot::Cell& cell = snapshot_.cells[i];
    return cell.isNumber && !cell.isError ? automation::Variant(cell.number)
                                          : automation::Variant(cell.text);
  }

  // An array formula ({=...}) can only be changed as a whole.
  void FreezeArray(std::size_t i) {
    const office::CellRangeAddress array =
        target_.FormulaArrayAt(snapshot_.cells[i].column, snapshot_.cells[i].row);
    automation::VariantArray rows;
    for (std::int32_t row = array.StartRow; row <= array.EndRow; ++row) {
      automation::VariantArray values;
      for (std::int32_t column = array.StartColumn; column <= array.EndColumn; ++column) {
        const auto k = at_.find(Key(column, row));
        values.push_back(k == at_.end() ? automation::Variant(std::string()) : Result(k->second));
        if (k != at_.end()) frozen_[k->second] = true;
      }
      rows.emplace_back(std::move(values));
    }
    target_.RangeAt(array.StartColumn, array.StartRow, array.EndColumn, array.EndRow)
        .SetDataArray(std::move(rows));
    count_ += static_cast<std::int32_t>(Area(array));
  }

  // A run of rows of one column per block write.
  void FreezeRuns(std::vector<std::size_t> which) {
    std::sort(which.begin(), which.end(), [&](std::size_t a, std::size_t b) {
      const FormulaSnapshot::Cell &x = snapshot_.cells[a], &y = snapshot_.cells[b];
      return std::tie(x.column, x.row) < std::tie(y.column, y.row);
    });
    for (std::size_t first = 0, end = 0; first < which.size(); first = end) {
      const FormulaSnapshot::Cell& top = snapshot_.cells[which[first]];
      for (end = first + 1;
           end < which.size() && snapshot_.cells[which[end]].column == top.column &&
           snapshot_.cells[which[end]].row == snapshot_.cells[which[end - 1]].row + 1;
           ++end) {
      }
      automation::VariantArray rows;
      for (std::size_t k = first; k < end; ++k)
        rows.emplace_back(automation::VariantArray{Result(which[k])});
      try {
        target_
            .RangeAt(top.column, top.row, top.column,
                     top.row + static_cast<std::int32_t>(end - first) - 1)
            .SetDataArray(rows);
      } catch (const automation::Refused&) {
        // Protected cells take single writes only.
        for (std::size_t k = first; k < end; ++k) WriteOne(which[k]);
      }
      for (std::size_t k = first; k < end; ++k) frozen_[which[k]] = true;
      count_ += static_cast<std::int32_t>(end - first);
    }
  }

  void WriteOne(std::size_t i) {
    const FormulaSnapshot::Cell& cell = snapshot_.cells[i];
    office::TOOCalcCell& single = target_.CellAt(cell.column, cell.row);
    if (cell.isNumber && !cell.isError)
      single.WriteValue(cell.number);
    else
      single.WriteString(cell.text);
  }

  office::TOOCalcSheet& target_;
  const FormulaSnapshot& snapshot_;
  std::unordered_map<CellKey, std::size_t> at_;
  std::vector<bool> frozen_;
  std::int32_t count_ = 0;
};

}  // namespace

FormulaSnapshot clc::ReadFormulas(std::int32_t book, std::int32_t sheet) {
  FormulaSnapshot snapshot;
  const clc_file& entry = Books.at(static_cast<std::size_t>(book));
  const struct sheet& s = entry.SheetList.at(static_cast<std::size_t>(sheet));
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  office::TOOCalcCellRange& used = target.RangeAt(0, 0, s.ColCount - 1, s.RowCount - 1);
  const std::vector<office::CellRangeAddress> formulas = used.ContentCells(office::cfFormula);
  if (formulas.empty()) return snapshot;
  const std::unordered_set<CellKey> failing = CellsOf(used.FormulaCells(office::frError));
  snapshot.parts = Parts(formulas);
  const std::vector<automation::Variant> texts =
      ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::FormulaArray);
  const std::vector<automation::Variant> values =
      ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::DataArray);
  std::vector<std::string> others;
  for (std::size_t i = 0; i < entry.SheetList.size(); ++i)
    if (static_cast<std::int32_t>(i) != sheet) others.push_back(entry.SheetList[i].Name);

  for (const FormulaSnapshot::Part& part : snapshot.parts)
    EachCell(part, [&](std::int32_t column, std::int32_t row, std::size_t, std::size_t) {
      const std::size_t i = snapshot.cells.size();
      FormulaSnapshot::Cell& cell = snapshot.cells.emplace_back();
      cell.column = column;
      cell.row = row;
      cell.formula = texts[i].AsString();
      cell.isNumber = values[i].IsNumber();
      if (cell.isNumber) cell.number = values[i].AsDouble();
      if (values[i].IsString()) cell.text = values[i].AsString();
      cell.isError = failing.contains(Key(column, row));
    });
  // The error a formula shows is to be had only one cell at a time: read it where the formula
  // may lose its meaning.
  for (FormulaSnapshot::Cell& cell : snapshot.cells)
    if (cell.isError && NamesElsewhere(cell.formula, others)) {
      cell.text = target.CellAt(cell.column, cell.row).ReadString();
      cell.errorShown = true;
    }
  return snapshot;
}

std::int32_t clc::FreezeFormulas(std::int32_t book, std::int32_t sheet,
                                 const FormulaSnapshot& snapshot) {
  if (snapshot.cells.empty()) return 0;
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  Freezer freezer(target, snapshot);

  // References to removed sheets changed the formula's text; references to files did not,
  // and would look elsewhere once the result is moved.
  const std::vector<automation::Variant> texts =
      ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::FormulaArray);
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < snapshot.cells.size(); ++i)
    if (texts[i].AsString() != snapshot.cells[i].formula ||
        NamesAnotherFile(snapshot.cells[i].formula))
      changed.push_back(i);
  freezer.Freeze(changed);

  // Whatever shows another result now: references the text does not show (a named range,
  // INDIRECT) that turned into errors, and results the office computes otherwise than the
  // program that wrote the file did (the removals made it calculate them again). A formula
  // of the sheet itself that depended on a frozen cell shows its old result again.
  for (int pass = 0; pass < 3; ++pass) {
    const std::vector<automation::Variant> now =
        ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::DataArray);
    const std::unordered_set<CellKey> failing = FailingNow(target, snapshot);
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < snapshot.cells.size(); ++i) {
      const FormulaSnapshot::Cell& cell = snapshot.cells[i];
      if (!freezer.Frozen(i) &&
          ShowsOtherwise(cell, now[i], failing.contains(Key(cell.column, cell.row))))
        differing.push_back(i);
    }
    const std::int32_t before = freezer.Count();
    freezer.Freeze(differing);
    if (freezer.Count() == before) break;  // nothing left, or only errors of unknown text
  }
  return freezer.Count();
}

std::vector<std::pair<std::string, std::string>> clc::PivotsFromElsewhere(std::int32_t book,
                                                                          std::int32_t sheet) {
  Use(book);
  const sheets& list = Books.at(static_cast<std::size_t>(book)).SheetList;
  std::vector<std::pair<std::string, std::string>> found;
  for (const office::PivotTable& pivot : Office->Sheets().SheetByIndex(sheet).PivotTables())
    if (pivot.sourceSheet != sheet)
      found.emplace_back(
          pivot.name,
          pivot.sourceSheet >= 0 && pivot.sourceSheet < static_cast<std::int32_t>(list.size())
              ? list[static_cast<std::size_t>(pivot.sourceSheet)].Name
              : std::string());
  return found;
}

}  // namespace store
