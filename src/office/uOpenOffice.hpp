// The program's thin object layer over the office suite's automation interface: the
// connection and its documents, and reusable sheet, cell and range cursors on the current
// document. Every office call is late-bound, by member name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/Backend.hpp"
#include "automation/Variant.hpp"

namespace office {

using automation::Variant;
using automation::VariantArray;

// Load options, combinable.
enum LoadOption : unsigned {
  loHidden = 1,
  loAsTemplate = 2,
  loReadOnly = 4,
};
using LoadOptions = unsigned;

// A file name as a file URL the office opens: absolute, "/" separated, and percent-encoded
// (blank, "%", "#", "?", every byte outside ASCII). "C:\x y" -> "file:///C:/x%20y".
std::string FileNameToUrl(const std::string& fileName);

class TOOCalcSheets;
class TOOCalcSheet;

// An office colour (0xRRGGBB, -1 without fill) in Windows form (0x00BBGGRR; -1 is white).
std::int32_t WindowsColor(std::int32_t officeColor);

// A block of cells, zero-based, edges included.
struct CellRangeAddress {
  std::int32_t StartColumn = 0, StartRow = 0, EndColumn = 0, EndRow = 0;
};

// com.sun.star.sheet.CellFlags and FormulaResult, as the queries below take them.
enum CellFlag : std::int32_t {
  cfValue = 1,  // number constants, dates included
  cfDateTime = 2,
  cfString = 4,
  cfAnnotation = 8,
  cfFormula = 16,
};
enum FormulaResultFlag : std::int32_t { frValue = 1, frString = 2, frError = 4 };

// A part of a range whose cells share one number format and one background.
struct FormatPart {
  CellRangeAddress address;
  std::int32_t numberFormat = 0;  // a key of the document's number formats
  std::int32_t backColor = 0;     // Windows form; no fill reads as white
};

// A pivot table (data pilot) of a sheet and the sheet its data come from (zero-based).
struct PivotTable {
  std::string name;
  std::int32_t sourceSheet = 0;
};

// The office's import and export filter of delimited text files.
inline constexpr const char* kTextFilter = "Text - txt - csv (StarCalc)";

// Where a store writes, with which filter and that filter's options.
struct StoreTarget {
  std::string fileName;
  std::string filter;
  std::string options;
};

// One of a document's number formats: its code, the locale it belongs to (passed back to the
// office as it came) and its kind (com.sun.star.util.NumberFormat: DATE 2, TIME 4, ...).
struct NumberFormat {
  std::string code;
  Variant locale;
  std::int32_t type = 0;
};
inline constexpr std::int32_t kDateFormat = 2;  // the DATE bit of NumberFormat::type

// A calendar day, as a document's null date: the day its date numbers count from.
struct Day {
  std::int32_t year = 1899, month = 12, day = 30;
};

// How the office is to read a file: its import filter and that filter's options. Empty: the
// office detects the type and uses its defaults.
struct ImportFilter {
  std::string name;
  std::string options;
};

// One office connection plus the documents loaded through it.
class TOpenOffice {
 public:
  explicit TOpenOffice(automation::ObjectFactory& factory);
  virtual ~TOpenOffice();
  TOpenOffice(const TOpenOffice&) = delete;
  TOpenOffice& operator=(const TOpenOffice&) = delete;

  // Never raises: a missing or broken office leaves the object not connected, and
  // ConnectError tells why.
  void Connect(bool active);
  bool IsConnected() const;
  // Whether the office still answers a call: false once it is gone (ended, killed, or ended
  // because it stopped answering) or was terminated with the last document.
  bool Answers();
  std::string ConnectError;

  // Told how far each load and store under way has come, 0..1, as the office reports it to a
  // StatusIndicator of ours handed in with the call; nothing when empty. Called on the
  // office's threads during the call and never after it; it must not block, and what it
  // raises goes no further. The office reports a load all along and an xlsx store in a few
  // steps; an ods, xls or csv store tells nothing of use.
  std::function<void(double fraction)> Progress;

  // An empty file name opens a new document of this kind. The loaded document is current.
  // A failed load (an office error, or no document) raises and changes nothing.
  virtual void LoadDocument(const std::string& fileName, LoadOptions options,
                            std::uint8_t macroMode, const ImportFilter& filter = {});
  virtual void StoreDocument(const std::string& fileName, const std::string& format) = 0;
  virtual void ExportPdf(const std::string& fileName);
  // Closes the current document; terminates the office when no office window is left, unless
  // KeepsOffice.
  void CloseDocument();
  // The owner holds the office for later loads (the program's own office, which ends with
  // the program): closing the last document leaves it running and connected.
  bool KeepsOffice = false;
  bool SelectDocument(std::int32_t index);
  std::int32_t CurrentDocumentIndex() const { return DocumentIndex; }

  std::string FactoryUrl;
  std::string FilterPrefix;
  Variant ServiceManager;
  Variant Desktop;  // set exactly while connected
  Variant Document;
  std::vector<Variant> Documents;  // load order; entries are never removed
  std::int32_t DocumentIndex = 0;

 protected:
  Variant MakePropertyValue(const std::string& name, const Variant& value);
  // "FilterName" = filter, "Overwrite" = true.
  VariantArray StoreArguments(const std::string& filter);
  // With Progress set: the StatusIndicator property added to a call's arguments, and what
  // passes its reports on until the returned watch goes, after the call.
  std::shared_ptr<void> WatchProgress(VariantArray& arguments);

 private:
  automation::ObjectFactory& factory_;
};

// The spreadsheet document kind; the only class of this layer the program creates.
class TOOCalc : public TOpenOffice {
 public:
  explicit TOOCalc(automation::ObjectFactory& factory = automation::SystemFactory());
  ~TOOCalc() override;

  // format "Calc" or "Excel97", where the file's extension may override it (see the .cpp);
  // "Xlsx" (Excel 2007-365) or "Csv" (the shown texts, UTF-8, comma, `"` where needed).
  void StoreDocument(const std::string& fileName, const std::string& format) override;
  static StoreTarget ChooseStoreTarget(const std::string& fileName, const std::string& format);
  // The one sheet collection, bound to whichever document is current now.
  TOOCalcSheets& Sheets();

  // The code of one of the current document's number formats ("@", "0.00", "General").
  std::string NumberFormatCode(std::int32_t key);
  // A number as the current document's own number formatter shows it under a format key:
  // the cell's shown text, without asking the cell.
  std::string FormatNumber(std::int32_t key, double value);
  // One of the current document's number formats, whole.
  NumberFormat NumberFormatOf(std::int32_t key);
  // The current document's key for a format code in a locale, made when it has none.
  std::int32_t NumberFormatKey(const std::string& code, const Variant& locale);
  // The day the current document's date numbers count from (1899-12-30, or 1904-01-01 for a
  // book from an old Mac).
  Day NullDate();

  // How many rows a sheet has, asked of a new empty document that goes again at once; it
  // takes no document index and leaves the current document as it was.
  std::int32_t BlankSheetRowCount();

  // Writes one sheet (zero-based) of the current document into the empty folder `folder` as
  // UTF-8 text, every cell as it is shown (the text a cell read gives), comma-separated, `"`
  // quoting fields that hold a comma, a quote or a line break, from A1 to the end of the used
  // area, hidden rows and columns included; returns the file written (the office names it
  // after the sheet). The document itself is not changed.
  std::string ExportShownTexts(std::int32_t sheet, const std::string& folder);

 private:
  const Variant& Formats();  // the current document's number formats

  std::unique_ptr<TOOCalcSheets> sheets_;
  // Bound to the document they were asked for; made again for another.
  Variant formats_, formatter_, formatsDocument_, formatterDocument_;
};

class TOOBaseCell {
 public:
  virtual ~TOOBaseCell() = default;
  std::string ReadString();
  void WriteString(const std::string& text);
  // A number constant; the cell keeps its format.
  void WriteValue(double value);
  // Windows form 0x00BBGGRR; no fill reads as white.
  std::int32_t BackColor();
  // The key of the cell's number format (of a range: of all its cells).
  std::int32_t NumberFormatKey();
  void SetNumberFormat(std::int32_t key);
  // The text an error shows ("#DIV/0!"); empty when the cell shows no error.
  std::string ErrorText();

  Variant CellObject;
};

class TOOCalcBaseCell : public TOOBaseCell {
 public:
  Variant DocumentRef;
  Variant SheetObject;
};

class TOOCalcCell : public TOOCalcBaseCell {};

class TOOCalcCellRange : public TOOCalcBaseCell {
 public:
  // One array per range row, each with one value per column: numbers as doubles, text as
  // strings, empty cells as empty strings.
  VariantArray DataArray();
  // Writes one array per range row; strings give text cells ("" an empty cell), numbers
  // number cells. Cells keep their formats.
  // Taken by value: a block of copies is moved into the call, not copied again.
  void SetDataArray(VariantArray rows);
  // One array per range row of each cell's formula ("=A1+1"), text, or number as text; empty
  // cells give "". References to other sheets name them ("=$Other.A1").
  VariantArray FormulaArray();
  // The parts of the range whose cells have any of the given contents (CellFlag).
  std::vector<CellRangeAddress> ContentCells(std::int32_t cellFlags);
  std::vector<CellRangeAddress> EmptyCells();
  // The range in parts of one number format and one background each.
  std::vector<FormatPart> FormatParts();
  // The one number format of all the range's cells; none when they differ.
  std::optional<std::int32_t> UniformNumberFormat();
  // The number formats of the range's cells, one call per distinct cell format; none when
  // there are more than `most` distinct cell formats.
  std::optional<std::vector<std::int32_t>> NumberFormatsUsed(std::int32_t most);
  // The parts of the range whose formula cells have a result of the given kinds
  // (FormulaResultFlag).
  std::vector<CellRangeAddress> FormulaCells(std::int32_t resultFlags);
};

// The wrappers below are cursors: each request re-points the one child object its parent
// owns, so a wrapper handed out is valid only until the next request of the same kind.
class TOOCalcSheet {
 public:
  TOOCalcSheet();
  ~TOOCalcSheet();

  std::string SheetName();
  // How many columns the office's sheets have (16,384 in LibreOffice 7.4).
  std::int32_t ColumnCount();
  // How many rows the office's sheets have (1,048,576 in LibreOffice 7.4).
  std::int32_t RowCount();
  void MeasureUsedArea();
  std::int32_t LastUsedColumn() const { return lastUsedColumn_; }
  std::int32_t LastUsedRow() const { return lastUsedRow_; }
  TOOCalcCell& CellAt(std::int32_t column, std::int32_t row);
  // The sheet's protection. A protected sheet refuses block writes and ignores, without an
  // error, number formats set on its locked cells. Unprotect with a wrong password raises.
  bool IsProtected();
  void Protect(const std::string& password);
  void Unprotect(const std::string& password);
  // A single cell by name ("C12"); a range name raises without any office call.
  TOOCalcCell& CellNamed(const std::string& name);
  TOOCalcCellRange& RangeAt(std::int32_t left, std::int32_t top, std::int32_t right,
                            std::int32_t bottom);
  // The cells of the array formula ({=...}) that holds the given cell.
  CellRangeAddress FormulaArrayAt(std::int32_t column, std::int32_t row);
  // The sheet's pivot tables with the sheets their data come from.
  std::vector<PivotTable> PivotTables();

  Variant SheetObject;
  Variant DocumentRef;

 private:
  template <typename Cell>
  Cell& Point(Cell& cell, Variant object);

  std::unique_ptr<TOOCalcCell> currentCell_;
  std::unique_ptr<TOOCalcCellRange> currentRange_;
  std::int32_t lastUsedColumn_ = 0;
  std::int32_t lastUsedRow_ = 0;
};

class TOOCalcSheets {
 public:
  TOOCalcSheets();
  ~TOOCalcSheets();

  std::int32_t SheetCount();
  TOOCalcSheet& SheetByIndex(std::int32_t index);
  // -1 when no sheet's name matches the active sheet's.
  std::int32_t ActiveSheetIndex();
  void ActivateSheet(std::int32_t index);
  void RemoveSheet(std::int32_t index);

  Variant DocumentRef;

 private:
  std::unique_ptr<TOOCalcSheet> currentSheet_;
};

}  // namespace office
