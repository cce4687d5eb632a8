// The workbook store: opens books through the office layer, reads their sheet lists, gives
// cell texts (directly or through each sheet's row window), copies rows, deletes sheets and
// saves. Book and sheet indexes are zero-based; rows and columns one-based, column first.
// The class is defined by concern in UClc*.cpp: books, cells, copies, the export, sheet
// removal, pivots.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "automation/Backend.hpp"
#include "office/uOpenOffice.hpp"
#include "store/DelimitedText.hpp"
#include "store/Ucommonxlsclc.hpp"

namespace store {

// A sheet's formula cells as they were before other sheets were removed: what FreezeFormulas
// needs to put back the results they showed.
struct FormulaSnapshot {
  struct Cell {
    std::int32_t column = 0, row = 0;  // zero-based
    std::string formula;
    bool isNumber = false;  // the result: a number, else `text`
    double number = 0;
    std::string text;
    bool isError = false;
    bool errorShown = false;  // `text` holds the error as shown ("#N/A")
  };
  // The formula cells as the office lists them, gathered into boxes that are each read in one
  // call; a box is at most twice the size of the formula cells in it, so the cost follows the
  // formula cells, not the rectangle around them all.
  struct Part {
    office::CellRangeAddress box;
    std::vector<office::CellRangeAddress> ranges;
  };
  std::vector<Part> parts;
  std::vector<Cell> cells;  // part by part, range by range, row by row
};

// A cell as a copy writes it: a text, a number, or the empty text for an empty cell; and, for
// copies that keep values, the key of its number format in the target book (-1: the target
// cell keeps its format).
struct CellCopy {
  automation::Variant value;
  std::int32_t format = -1;
};

// The characters of a UTF-8 text.
std::size_t CharacterCount(const std::string& text);

// How cells are copied: numbers and dates as texts (the default), or as values with their
// number formats.
enum class CopyAs { Texts, Values };

// Which source columns a copy writes, in their order, and as what: decided once per run and
// read by every way of copying.
struct CopyPlan {
  std::vector<std::int32_t> columns;  // zero-based, side by side from the first target column
  CopyAs as = CopyAs::Texts;
};

class clc {
 public:
  // Connects to the office; `Connected` tells whether that worked. Never raises.
  explicit clc(automation::ObjectFactory& factory = automation::SystemFactory());
  // Closes nothing; the office the program started ends with the connection.
  ~clc();
  // A new office connection after the old office was ended: every book is gone (reopen them;
  // indexes start again at 0). `Connected` tells whether it worked.
  void Reconnect();
  clc(const clc&) = delete;
  clc& operator=(const clc&) = delete;

  // The book's index (never reused), or -1 when the file cannot be loaded (an empty file
  // cannot, nor a text file with more records than a sheet has rows); then nothing changes.
  // Text files are read as TextImportFilter says.
  std::int32_t OpenBook(const std::string& fileName);
  // Why the last OpenBook gave -1, where more can be said than that: an empty file, a lost
  // office. Empty otherwise.
  std::string LastOpenError;
  // The last OpenBook refused a text file longer than a sheet: LastOpenError is then a whole
  // sentence that names the file ("F has N rows; a sheet holds at most ...").
  bool LastOpenTooLong = false;
  // How many rows a sheet of the office has; asked once per connection.
  std::int32_t SheetRowLimit();
  // A fresh sheet list of the book, or an empty one when any step fails.
  sheets ReadSheets(std::int32_t book);
  bool SelectBook(std::int32_t book);
  // Stores in the office's own format (".ods" appended unless present), or in the given one
  // ("Xlsx", "Csv"); Path keeps the name as given. Office errors pass to the caller.
  void SaveBookAs(std::int32_t book, const std::string& fileName,
                  const std::string& format = "Calc");
  // Stores under Path, in the format it was last stored in.
  void SaveBook(std::int32_t book);
  void CloseBook(std::int32_t book);

  // The cell's text; empty out of bounds or on any office error. Asks the office each time.
  std::string CellText(std::int32_t book, std::int32_t sheet, std::int32_t column,
                       std::int32_t row);
  // Text and background straight from the office; the default cell out of bounds.
  cell_value ReadCell(std::int32_t book, std::int32_t sheet, std::int32_t column, std::int32_t row);
  // Through the sheet's 21-row window: a row is read whole on its first request.
  cell_value CachedCell(std::int32_t book, std::int32_t sheet, std::int32_t column,
                        std::int32_t row);
  // Zero-based column index to letters: A..Z, AA..ZZ, AAA...
  static std::string ColumnName(std::int32_t column);
  // Letters in any case to a zero-based index; -1 when they are no column.
  static std::int32_t ColumnIndex(const std::string& letters);
  // Copies the values of a source row as text into the target row from targetColumn on,
  // never past the target sheet's last column. Given a plan, its columns only, side by side,
  // as it says. One office call per cell written, as the copies were described.
  void CopyRow(std::int32_t sourceBook, std::int32_t targetBook, std::int32_t sourceSheet,
               std::int32_t targetSheet, std::int32_t sourceRow, std::int32_t targetRow,
               std::int32_t targetColumn, const CopyPlan* plan = nullptr);
  // Rows top..bottom (zero-based) of the given source columns as copies into `targetBook`
  // write them, one vector per row, in bulk: texts as CopyRow writes them, or values whose
  // formats are the target book's keys for the same codes; a date moves by the books' null
  // dates so that it shows the same day; an error gives the text it shows.
  std::vector<std::vector<CellCopy>> ReadCopies(std::int32_t book, std::int32_t sheet,
                                                const std::vector<std::int32_t>& columns,
                                                std::int32_t top, std::int32_t bottom,
                                                std::int32_t targetBook, CopyAs as);
  // Writes copies from (left, top), zero-based, one vector per row, all of one width, in one
  // block write and, where they have formats, one format write per run of rows of a column;
  // a row without formats (an empty row between copied ones) takes its run's format.
  void WriteCopies(std::int32_t book, std::int32_t sheet, std::int32_t left, std::int32_t top,
                   std::span<const std::vector<CellCopy>* const> rows);
  // CellText of rows firstRow..lastRow (one-based) of one column, in a few calls: text cells
  // under a format that shows text as it is, and empty cells, come from one block read; number
  // and date constants from the document's number formatter under their own format, one call
  // each; every other cell (formulas, text formats with literals) asks for its text.
  std::vector<std::string> ColumnTexts(std::int32_t book, std::int32_t sheet, std::int32_t column,
                                       std::int32_t firstRow, std::int32_t lastRow);
  // CellText of rows firstRow..lastRow (one-based) of several columns (one-based), one vector
  // per column: all from one export of the sheet as shown, whatever the cells hold (numbers
  // under any format, dates, formulas, errors). Where the office refuses the export, each
  // column as ColumnTexts reads it without it. Given `longest`, the length in characters of
  // the longest text the whole sheet shows, when it came from the export.
  // Columns of texts alone (no numbers, dates or formulas) under the standard format or "@" are
  // read in one call each instead: their texts are their contents.
  std::vector<std::vector<std::string>> ColumnsTexts(std::int32_t book, std::int32_t sheet,
                                                     const std::vector<std::int32_t>& columns,
                                                     std::int32_t firstRow, std::int32_t lastRow,
                                                     std::optional<std::size_t>* longest = nullptr);

  // Which rows of a block (zero-based, edges included) hold anything inside it: a value, text,
  // formula or note. Indexed from `top`; office errors pass to the caller.
  std::vector<bool> RowsInUse(std::int32_t book, std::int32_t sheet, std::int32_t left,
                              std::int32_t top, std::int32_t right, std::int32_t bottom);
  // The formula cells of a sheet with their results, before other sheets are removed. Errors
  // are read as shown only where the formula names another sheet or file.
  FormulaSnapshot ReadFormulas(std::int32_t book, std::int32_t sheet);
  // After other sheets were removed: every formula of the snapshot that referred to one of them
  // (its text changed, or it turned into an error) or to another file becomes the result it
  // showed, in the cell's own format; formulas of the sheet itself stay. Returns how many.
  std::int32_t FreezeFormulas(std::int32_t book, std::int32_t sheet,
                              const FormulaSnapshot& snapshot);

  // A protected sheet refuses block writes and silently ignores number formats set on its
  // locked cells. Lifts a protection without a password and returns true, false for a sheet
  // without one; raises std::runtime_error naming the sheet when a password guards it.
  bool LiftProtection(std::int32_t book, std::int32_t sheet);
  // Protects the sheet again, without a password, as LiftProtection found it.
  void RestoreProtection(std::int32_t book, std::int32_t sheet);

  // The length in characters of the longest text the sheet's cells show, from one export.
  std::size_t LongestShownText(std::int32_t book, std::int32_t sheet);

  // The sheet's pivot tables whose data come from another sheet: (name, that sheet's name).
  std::vector<std::pair<std::string, std::string>> PivotsFromElsewhere(std::int32_t book,
                                                                       std::int32_t sheet);

  // Removes the sheet, re-reads the sheet list and stores the book (unless `save` is false,
  // for a caller that stores it later anyway); false on any failure but a lost office,
  // which passes.
  bool DeleteSheet(std::int32_t book, std::int32_t sheet, bool save = true);
  // The text of a cell of the current document by address ("C12"); empty on any error.
  std::string CellTextByAddress(std::int32_t sheet, const std::string& address);

  // A value as CopyRow writes it: text unchanged, a number in general decimal form.
  static std::string ValueText(const automation::Variant& value);

  std::int32_t CurrentBook = -1;
  std::unique_ptr<office::TOOCalc> Office;
  bool Connected = false;
  std::vector<clc_file> Books;

 private:
  automation::ObjectFactory& factory_;
  std::int32_t rowLimit_ = 0;  // 0: not asked yet
  // Fills `texts` (one vector per column, rows from firstRow, one-based) when every column
  // holds texts alone under a format that shows them as they are; false, `texts` untouched,
  // when one does not or the office refuses.
  bool PlainTextColumns(std::int32_t book, std::int32_t sheet,
                        const std::vector<std::int32_t>& columns, std::int32_t firstRow,
                        std::vector<std::vector<std::string>>& texts);
  // ColumnTexts without the export: a block read, the document's formatter, single reads.
  std::vector<std::string> ColumnTextsInBlocks(std::int32_t book, std::int32_t sheet,
                                               std::int32_t column, std::int32_t firstRow,
                                               std::int32_t lastRow);
  // Cells (text as shown, background when asked) of a block, zero-based edges included,
  // row-major: in bulk where that provably gives the same cells as ReadCell, cell by cell
  // elsewhere. Office errors of the cell-by-cell reads pass to the caller.
  // With `shown` (the block's texts, one row), the texts are taken from there.
  std::vector<cell_value> BlockCells(std::int32_t book, std::int32_t sheet, std::int32_t left,
                                     std::int32_t top, std::int32_t right, std::int32_t bottom,
                                     bool backgrounds,
                                     const std::vector<std::string>* shown = nullptr);
  // One export of the sheet as shown, fed to `reader` as it is read, whole or not at all: a
  // file that is missing, empty or not read to its end is a refusal. Its scratch folder goes.
  void ReadExport(std::int32_t book, std::int32_t sheet, DelimitedReader& reader);
  // Refuses a text file with more records than a sheet has rows, saying so in LastOpenError.
  bool FitsASheet(const std::string& fileName, char separator);
  // A value read from a source book as a copy into targetBook writes it.
  CellCopy AsCopy(const automation::Variant& value, std::int32_t sourceBook, std::int32_t key,
                  std::int32_t targetBook, CopyAs as);
  // How a number format of a source book is copied: the target book's key for its code, and
  // the days a date moves between the books' null dates. Asked once per format and run.
  struct CopiedFormat {
    std::int32_t key = 0;
    double shift = 0;  // added to a date's number
  };
  const CopiedFormat& CopyFormat(std::int32_t sourceBook, std::int32_t key,
                                 std::int32_t targetBook);
  std::map<std::tuple<std::int32_t, std::int32_t, std::int32_t>, CopiedFormat> copiedFormats_;
  // The whole sheet's shown texts from one export; rows past the used area absent.
  std::vector<std::vector<std::string>> ExportedTexts(std::int32_t book, std::int32_t sheet);
  void Use(std::int32_t book);  // select the book unless it is current
  bool InBounds(std::int32_t book, std::int32_t sheet, std::int32_t column, std::int32_t row) const;
};

}  // namespace store
