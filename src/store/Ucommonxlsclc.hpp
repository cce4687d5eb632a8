// The workbook model: the program's picture of every spreadsheet file opened through the
// office. Cell contents stay in the office's documents; the model holds where a book came
// from, each sheet's name and used-area size, and a small window of cached rows per sheet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace store {

// A colour in Windows form: 0x00BBGGRR.
using Color = std::int32_t;
constexpr Color kWhite = 0x00FFFFFF;
constexpr Color kBlack = 0;

// Carried for completeness; cells are drawn with the preview grid's own font.
struct font_attr {
  std::int32_t Size = 0;
  Color FontColor = kBlack;
  std::string FontName;
  std::int32_t Style = 0;
  bool FontFlag = false;
};

// One cell as the model holds it. A default-constructed value is the default cell: empty
// text on white.
struct cell_value {
  std::string Text;  // what the cell shows: numbers and dates formatted
  font_attr Font;
  Color Background = kWhite;
};

// One cached row: exactly ColCount cells once created.
struct sb_record {
  std::vector<cell_value> Cells;
  bool Loaded = false;  // all cells read from the office
};

// A sheet's window of up to 21 cached rows; FirstRow/LastRow are one-based, -1 when empty.
struct sb_sheet {
  std::vector<sb_record> Rows;
  std::int32_t FirstRow = -1;
  std::int32_t LastRow = -1;
};

struct sheet {
  std::string Name;
  std::int32_t RowCount = 0;     // rows of the used area, counted from row 1
  std::int32_t ColCount = 0;     // columns of the used area, counted from column A
  std::int32_t ColumnLimit = 0;  // columns the sheet can hold, as the office says
  std::int32_t RowLimit = 0;     // rows the sheet can hold, as the office says
  sb_sheet Window;
  // Every cell's shown text, row by row, from one export of a sheet small enough to hold;
  // made on the first window read, null when too large or refused.
  std::shared_ptr<const std::vector<std::vector<std::string>>> Shown;
  bool ShownAsked = false;
};

using sheets = std::vector<sheet>;

// One book: one document loaded through the store.
struct clc_file {
  std::string Path;             // as opened, or as last stored with SaveBookAs
  std::string ShortName;        // Path without its folder
  std::string Format = "Calc";  // the store's format it was last stored in
  sheets SheetList;
};

}  // namespace store
