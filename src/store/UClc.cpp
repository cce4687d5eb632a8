#include "store/UClc.hpp"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

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

office::ImportFilter TextImportFilter(const std::string& fileName) {
  std::string extension = std::filesystem::path(fileName).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".csv" && extension != ".tsv" && extension != ".txt") return {};
  std::string head(64 * 1024, '\0');
  std::ifstream file(fileName, std::ios::binary);
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  const char separator = DetectSeparator(head, extension == ".tsv" ? '\t' : ',');
  // Separator, quote, character set (76: UTF-8), first line; the rest are the office's defaults.
  return {office::kTextFilter, std::to_string(static_cast<int>(separator)) + ",34,76,1"};
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
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));  // d.dddddddddddddde[+-]x
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
  Connected = true;
  Office->Connect(true);
  try {
    Connected = Office->IsConnected();
  } catch (...) {
    Connected = false;
  }
  CurrentBook = -1;
}

clc::~clc() = default;

void clc::Reconnect() {
  Books.clear();
  CurrentBook = -1;
  Office = std::make_unique<office::TOOCalc>(factory_);
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
  std::error_code ec;
  if (std::filesystem::is_regular_file(fileName, ec) &&
      std::filesystem::file_size(fileName, ec) == 0) {
    LastOpenError = "the file is empty";
    return -1;
  }
  try {
    Office->LoadDocument(fileName, office::loHidden, 0, TextImportFilter(fileName));
  } catch (const automation::ConnectionLost& e) {
    LastOpenError = e.what();
    return -1;
  } catch (...) {
    return -1;
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
    }
    all.ActivateSheet(active);
  } catch (const automation::Refused&) {
    return {};  // never a partly read list
  }
  return list;
}

void clc::SaveBookAs(std::int32_t book, const std::string& fileName) {
  Use(book);
  Office->StoreDocument(fileName, "Calc");
  clc_file& entry = Books.at(static_cast<std::size_t>(book));
  entry.Path = fileName;
  entry.ShortName = WithoutFolder(fileName);
}

void clc::SaveBook(std::int32_t book) {
  Use(book);
  Office->StoreDocument(Books.at(static_cast<std::size_t>(book)).Path, "Calc");
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

void clc::CopyRow(std::int32_t sourceBook, std::int32_t targetBook, std::int32_t sourceSheet,
                  std::int32_t targetSheet, std::int32_t sourceRow, std::int32_t targetRow,
                  std::int32_t targetColumn) {
  std::int32_t n = Books.at(static_cast<std::size_t>(sourceBook))
                       .SheetList.at(static_cast<std::size_t>(sourceSheet))
                       .ColCount;
  const std::int32_t limit = Books.at(static_cast<std::size_t>(targetBook))
                                 .SheetList.at(static_cast<std::size_t>(targetSheet))
                                 .ColumnLimit;
  if (targetColumn - 1 + n > limit) n = limit - (targetColumn - 1);
  if (n <= 0) return;  // nothing fits: ask the office nothing

  Use(sourceBook);
  const automation::VariantArray rows = Office->Sheets()
                                            .SheetByIndex(sourceSheet)
                                            .RangeAt(0, sourceRow - 1, n - 1, sourceRow - 1)
                                            .DataArray();
  const automation::VariantArray& values = rows.at(0).AsArray();

  SelectBook(targetBook);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(targetSheet);
  for (std::int32_t i = 0; i < n; ++i)
    target.CellAt(targetColumn - 1 + i, targetRow - 1)
        .WriteString(ValueText(values.at(static_cast<std::size_t>(i))));
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
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "tabloom-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
      throw automation::Refused("Cannot make a scratch folder: " +
                                std::string(std::strerror(errno)));
    path_ = pattern;
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

void ReadDelimited(std::string_view text,
                   const std::function<void(std::int32_t, std::int32_t, std::string&&)>& field) {
  std::int32_t row = 0, column = 0;
  std::string value;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '"') {  // a quoted field: up to the quote that is not doubled
      for (++i; i < text.size(); ++i) {
        if (text[i] != '"') {
          value += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
          value += '"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
    }
    const std::size_t end = text.find_first_of(",\r\n", i);
    value.append(text.substr(i, (end == std::string_view::npos ? text.size() : end) - i));
    i = end == std::string_view::npos ? text.size() : end;
    field(row, column, std::move(value));
    value.clear();
    if (i >= text.size()) break;
    if (text[i] == ',') {
      ++column;
      ++i;
      if (i == text.size()) field(row, column, std::string());  // an empty last field
      continue;
    }
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    ++i;
    ++row;
    column = 0;
  }
}

std::string clc::ExportedContent(std::int32_t book, std::int32_t sheet) {
  Use(book);
  const ScratchFolder folder;
  std::ifstream in(Office->ExportShownTexts(sheet, folder.path()), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::vector<std::string>> clc::ExportedTexts(std::int32_t book, std::int32_t sheet) {
  std::vector<std::vector<std::string>> rows;
  ReadDelimited(ExportedContent(book, sheet),
                [&](std::int32_t row, std::int32_t column, std::string&& text) {
                  if (static_cast<std::size_t>(row) >= rows.size())
                    rows.resize(static_cast<std::size_t>(row) + 1);
                  auto& cells = rows[static_cast<std::size_t>(row)];
                  if (static_cast<std::size_t>(column) >= cells.size())
                    cells.resize(static_cast<std::size_t>(column) + 1);
                  cells[static_cast<std::size_t>(column)] = std::move(text);
                });
  return rows;
}

std::vector<std::vector<std::string>> clc::ColumnsTexts(std::int32_t book, std::int32_t sheet,
                                                        const std::vector<std::int32_t>& columns,
                                                        std::int32_t firstRow,
                                                        std::int32_t lastRow) {
  const auto count = static_cast<std::size_t>(std::max(0, lastRow - firstRow + 1));
  std::vector<std::vector<std::string>> texts(columns.size(), std::vector<std::string>(count));
  if (count == 0 || !InBounds(book, sheet, 1, std::max(firstRow, 1))) return texts;
  try {
    const std::string content = ExportedContent(book, sheet);
    // Which requested columns each sheet column feeds.
    std::map<std::int32_t, std::vector<std::size_t>> wanted;
    for (std::size_t k = 0; k < columns.size(); ++k) wanted[columns[k] - 1].push_back(k);
    ReadDelimited(content, [&](std::int32_t row, std::int32_t column, std::string&& text) {
      if (row < firstRow - 1 || row > lastRow - 1) return;
      const auto it = wanted.find(column);
      if (it == wanted.end()) return;
      for (const std::size_t k : it->second)
        texts[k][static_cast<std::size_t>(row - (firstRow - 1))] = text;
    });
    return texts;
  } catch (const automation::Refused&) {
    // Not to be had as one export: column by column.
  }
  for (std::size_t k = 0; k < columns.size(); ++k)
    texts[k] = ColumnTextsInBlocks(book, sheet, columns[k], firstRow, lastRow);
  return texts;
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

std::vector<std::vector<std::string>> clc::ReadTexts(std::int32_t book, std::int32_t sheet,
                                                     std::int32_t left, std::int32_t top,
                                                     std::int32_t right, std::int32_t bottom) {
  Use(book);
  const automation::VariantArray values =
      Office->Sheets().SheetByIndex(sheet).RangeAt(left, top, right, bottom).DataArray();
  std::vector<std::vector<std::string>> rows;
  rows.reserve(values.size());
  for (const automation::Variant& row : values) {
    std::vector<std::string>& texts = rows.emplace_back();
    for (const automation::Variant& value : row.AsArray()) texts.push_back(ValueText(value));
  }
  return rows;
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

void clc::WriteTextBlock(std::int32_t book, std::int32_t sheet, std::int32_t left, std::int32_t top,
                         const std::vector<std::vector<std::string>>& rows) {
  if (rows.empty() || rows.front().empty()) return;
  automation::VariantArray values;
  values.reserve(rows.size());
  for (const auto& row : rows) {
    automation::VariantArray cells(row.begin(), row.end());
    values.emplace_back(std::move(cells));
  }
  Use(book);
  const auto width = static_cast<std::int32_t>(rows.front().size());
  const auto height = static_cast<std::int32_t>(rows.size());
  Office->Sheets()
      .SheetByIndex(sheet)
      .RangeAt(left, top, left + width - 1, top + height - 1)
      .SetDataArray(values);
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

// Which cells of `box` lie in any of `parts`, row-major.
std::vector<bool> Marked(const office::CellRangeAddress& box,
                         const std::vector<office::CellRangeAddress>& parts) {
  const Block block{box.StartColumn, box.StartRow, box.EndColumn, box.EndRow};
  std::vector<bool> marked(block.Size());
  block.Each(parts, [&](std::size_t i) { marked[i] = true; });
  return marked;
}

std::size_t Offset(const office::CellRangeAddress& box, std::int32_t column, std::int32_t row) {
  return static_cast<std::size_t>(row - box.StartRow) *
             static_cast<std::size_t>(box.EndColumn - box.StartColumn + 1) +
         static_cast<std::size_t>(column - box.StartColumn);
}

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
  const std::vector<office::CellRangeAddress> errors = used.FormulaCells(office::frError);

  office::CellRangeAddress& box = snapshot.box;
  box = formulas.front();
  for (const office::CellRangeAddress& a : formulas) {
    box.StartColumn = std::min(box.StartColumn, a.StartColumn);
    box.StartRow = std::min(box.StartRow, a.StartRow);
    box.EndColumn = std::max(box.EndColumn, a.EndColumn);
    box.EndRow = std::max(box.EndRow, a.EndRow);
  }
  office::TOOCalcCellRange& block =
      target.RangeAt(box.StartColumn, box.StartRow, box.EndColumn, box.EndRow);
  const automation::VariantArray texts = block.FormulaArray();
  const automation::VariantArray values = block.DataArray();
  const std::vector<bool> failing = Marked(box, errors);
  std::vector<std::string> others;
  for (std::size_t i = 0; i < entry.SheetList.size(); ++i)
    if (static_cast<std::int32_t>(i) != sheet) others.push_back(entry.SheetList[i].Name);

  for (const office::CellRangeAddress& a : formulas)
    for (std::int32_t row = a.StartRow; row <= a.EndRow; ++row)
      for (std::int32_t column = a.StartColumn; column <= a.EndColumn; ++column) {
        const auto r = static_cast<std::size_t>(row - box.StartRow);
        const auto c = static_cast<std::size_t>(column - box.StartColumn);
        FormulaSnapshot::Cell& cell = snapshot.cells.emplace_back();
        cell.column = column;
        cell.row = row;
        cell.formula = texts.at(r).AsArray().at(c).AsString();
        const automation::Variant& value = values.at(r).AsArray().at(c);
        cell.isNumber = value.IsNumber();
        if (cell.isNumber) cell.number = value.AsDouble();
        if (value.IsString()) cell.text = value.AsString();
        cell.isError = failing[Offset(box, column, row)];
        // The error a formula shows is to be had only one cell at a time: read it where the
        // formula may lose its meaning.
        if (cell.isError && NamesElsewhere(cell.formula, others)) {
          cell.text = target.CellAt(column, row).ReadString();
          cell.errorShown = true;
        }
      }
  return snapshot;
}

std::int32_t clc::FreezeFormulas(std::int32_t book, std::int32_t sheet,
                                 const FormulaSnapshot& snapshot) {
  if (snapshot.cells.empty()) return 0;
  const office::CellRangeAddress& box = snapshot.box;
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  const auto block = [&]() -> office::TOOCalcCellRange& {
    return target.RangeAt(box.StartColumn, box.StartRow, box.EndColumn, box.EndRow);
  };
  std::vector<bool> frozen(snapshot.cells.size());
  std::int32_t count = 0;

  std::vector<std::int64_t> at(static_cast<std::size_t>(box.EndColumn - box.StartColumn + 1) *
                                   static_cast<std::size_t>(box.EndRow - box.StartRow + 1),
                               -1);  // snapshot index by cell
  for (std::size_t i = 0; i < snapshot.cells.size(); ++i)
    at[Offset(box, snapshot.cells[i].column, snapshot.cells[i].row)] = static_cast<std::int64_t>(i);
  const auto result = [&](std::size_t i) {
    const FormulaSnapshot::Cell& cell = snapshot.cells[i];
    return cell.isNumber && !cell.isError ? automation::Variant(cell.number)
                                          : automation::Variant(cell.text);
  };

  // Puts back the results of the given cells (indexes into the snapshot): an array formula
  // ({=...}) as a whole, the rest a run of rows of one column per block write.
  const auto freeze = [&](std::vector<std::size_t> which) {
    std::erase_if(which, [&](std::size_t i) {
      const FormulaSnapshot::Cell& cell = snapshot.cells[i];
      return frozen[i] || (cell.isError && !cell.errorShown);  // an error of unknown text
    });
    for (const std::size_t i : which) {
      if (frozen[i] || snapshot.cells[i].formula.rfind("{", 0) != 0) continue;
      // Only the whole array can be changed; its cells all referred to the same sheets.
      const office::CellRangeAddress array =
          target.FormulaArrayAt(snapshot.cells[i].column, snapshot.cells[i].row);
      automation::VariantArray rows;
      for (std::int32_t row = array.StartRow; row <= array.EndRow; ++row) {
        automation::VariantArray values;
        for (std::int32_t column = array.StartColumn; column <= array.EndColumn; ++column) {
          const std::int64_t k = at.at(Offset(box, column, row));
          values.push_back(k < 0 ? automation::Variant(std::string())
                                 : result(static_cast<std::size_t>(k)));
          if (k >= 0) frozen[static_cast<std::size_t>(k)] = true;
        }
        rows.emplace_back(std::move(values));
      }
      target.RangeAt(array.StartColumn, array.StartRow, array.EndColumn, array.EndRow)
          .SetDataArray(rows);
      count += static_cast<std::int32_t>((array.EndColumn - array.StartColumn + 1) *
                                         (array.EndRow - array.StartRow + 1));
    }
    std::erase_if(which, [&](std::size_t i) { return frozen[i]; });
    std::sort(which.begin(), which.end(), [&](std::size_t a, std::size_t b) {
      const FormulaSnapshot::Cell &x = snapshot.cells[a], &y = snapshot.cells[b];
      return std::tie(x.column, x.row) < std::tie(y.column, y.row);
    });
    std::size_t first = 0;
    while (first < which.size()) {
      const FormulaSnapshot::Cell& top = snapshot.cells[which[first]];
      std::size_t end = first + 1;
      while (end < which.size() && snapshot.cells[which[end]].column == top.column &&
             snapshot.cells[which[end]].row == snapshot.cells[which[end - 1]].row + 1)
        ++end;
      automation::VariantArray rows;
      for (std::size_t k = first; k < end; ++k)
        rows.emplace_back(automation::VariantArray{result(which[k])});
      try {
        target
            .RangeAt(top.column, top.row, top.column,
                     top.row + static_cast<std::int32_t>(end - first) - 1)
            .SetDataArray(rows);
      } catch (const automation::Refused&) {
        // Protected cells take single writes only.
        for (std::size_t k = first; k < end; ++k) {
          const FormulaSnapshot::Cell& cell = snapshot.cells[which[k]];
          office::TOOCalcCell& single = target.CellAt(cell.column, cell.row);
          if (cell.isNumber && !cell.isError)
            single.WriteValue(cell.number);
          else
            single.WriteString(cell.text);
        }
      }
      for (std::size_t k = first; k < end; ++k) frozen[which[k]] = true;
      count += static_cast<std::int32_t>(end - first);
      first = end;
    }
  };

  // References to removed sheets changed the formula's text; references to files did not.
  const automation::VariantArray now = block().FormulaArray();
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < snapshot.cells.size(); ++i) {
    const FormulaSnapshot::Cell& cell = snapshot.cells[i];
    const std::string& text = now.at(static_cast<std::size_t>(cell.row - box.StartRow))
                                  .AsArray()
                                  .at(static_cast<std::size_t>(cell.column - box.StartColumn))
                                  .AsString();
    if (text != cell.formula || NamesAnotherFile(cell.formula)) changed.push_back(i);
  }
  freeze(changed);

  // References the text does not show (a named range, INDIRECT) turn into errors instead;
  // a formula of the sheet itself that depended on a frozen cell recovers once that is done.
  for (int pass = 0; pass < 4; ++pass) {
    const std::vector<bool> failing = Marked(box, block().FormulaCells(office::frError));
    std::vector<std::size_t> broken;
    for (std::size_t i = 0; i < snapshot.cells.size(); ++i) {
      const FormulaSnapshot::Cell& cell = snapshot.cells[i];
      if (!frozen[i] && !cell.isError && failing[Offset(box, cell.column, cell.row)])
        broken.push_back(i);
    }
    if (broken.empty()) break;
    freeze(broken);
  }
  return count;
}

}  // namespace store
