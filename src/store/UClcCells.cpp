// The store's cells: texts and backgrounds, one at a time, through a sheet's row window, in
// blocks and by columns; column letters.
#include "store/UClc.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace store {

namespace {

constexpr std::int32_t kWindowAbove = 10;  // rows kept above the requested one
constexpr std::int32_t kWindowRows = 21;

// Values, dates, texts, notes and formulas: what a block write clears.
constexpr std::int32_t kAnyContent = office::cfValue | office::cfDateTime | office::cfString |
                                     office::cfAnnotation | office::cfFormula;

// A block of cells, zero-based edges included; its cells are indexed row by row.
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

// What the bulk reads of a block tell of one of its cells.
struct CellFacts {
  bool textKnown = false;  // empty, or its text taken from the shown texts: nothing to ask
  bool text = false;       // a text constant
  bool number = false;     // a number constant
  bool shownAsIs = false;  // under a format that shows text as it is
  bool coloured = false;   // its background came with its format part
  std::int32_t formatKey = -1;
};

// Reads the block in bulk: with `shown`, the cells' texts from there, else the block's values
// and which cells are empty, texts or numbers; then each cell's format and, when asked, its
// background. Office errors pass to the caller.
void ReadInBulk(office::TOOCalc& calc, office::TOOCalcCellRange& range, const Block& block,
                bool backgrounds, const std::vector<std::string>* shown,
                std::vector<cell_value>& cells, std::vector<CellFacts>& facts,
                automation::VariantArray& values) {
  if (shown) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const std::size_t col = i % block.Width() + static_cast<std::size_t>(block.left);
      cells[i].Text = col < shown->size() ? (*shown)[col] : std::string();
      facts[i].textKnown = true;
    }
  } else {
    values = range.DataArray();
    block.Each(range.ContentCells(office::cfString), [&](std::size_t i) { facts[i].text = true; });
    block.Each(range.ContentCells(office::cfValue), [&](std::size_t i) { facts[i].number = true; });
    block.Each(range.EmptyCells(), [&](std::size_t i) { facts[i].textKnown = true; });
  }
  // Equal-formatted parts: text shows as it is under the standard format (key 0) and the
  // text format "@"; each part has one background.
  for (const office::FormatPart& part : range.FormatParts()) {
    const bool asIs =
        shown || part.numberFormat == 0 || calc.NumberFormatCode(part.numberFormat) == "@";
    block.Each(part.address, [&](std::size_t i) {
      facts[i].shownAsIs = asIs;
      facts[i].formatKey = part.numberFormat;
      if (backgrounds) {
        cells[i].Background = part.backColor;
        facts[i].coloured = true;
      }
    });
  }
}

}  // namespace

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

std::vector<cell_value> clc::BlockCells(std::int32_t book, std::int32_t sheet, std::int32_t left,
                                        std::int32_t top, std::int32_t right, std::int32_t bottom,
                                        bool backgrounds, const std::vector<std::string>* shown) {
  const Block block{left, top, right, bottom};
  std::vector<cell_value> cells(block.Size());
  std::vector<CellFacts> facts(block.Size());
  automation::VariantArray values;
  Use(book);
  office::TOOCalcSheet& s = Office->Sheets().SheetByIndex(sheet);
  try {
    ReadInBulk(*Office, s.RangeAt(left, top, right, bottom), block, backgrounds, shown, cells,
               facts, values);
  } catch (const automation::Refused&) {
    // Not to be had in bulk: every cell asks for itself below (its text too, even if shown).
    values.clear();
    std::fill(facts.begin(), facts.end(), CellFacts{});
  }
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const auto row = static_cast<std::int32_t>(i / block.Width());
    const auto col = static_cast<std::int32_t>(i % block.Width());
    const CellFacts& cell = facts[i];
    const automation::Variant* value =
        static_cast<std::size_t>(row) < values.size()
            ? &values[static_cast<std::size_t>(row)].AsArray().at(static_cast<std::size_t>(col))
            : nullptr;
    // A text shown as it is needs no call; a number's text is the document's formatter's under
    // the cell's format, one call instead of a cell lookup, an interface query and a read.
    if (!cell.textKnown) {
      if (cell.text && cell.shownAsIs && value && value->IsString())
        cells[i].Text = value->AsString();
      else if (cell.number && cell.formatKey >= 0 && value && value->IsNumber())
        cells[i].Text = Office->FormatNumber(cell.formatKey, value->AsDouble());
      else
        cells[i].Text = s.CellAt(left + col, top + row).ReadString();
    }
    if (backgrounds && !cell.coloured)
      cells[i].Background = s.CellAt(left + col, top + row).BackColor();
  }
  return cells;
}

std::vector<std::string> clc::ColumnTexts(std::int32_t book, std::int32_t sheet,
                                          std::int32_t column, std::int32_t firstRow,
                                          std::int32_t lastRow) {
  return std::move(ColumnsTexts(book, sheet, {column}, firstRow, lastRow).front());
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

}  // namespace store
