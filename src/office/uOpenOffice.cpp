#include "office/uOpenOffice.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <mutex>

#include "automation/FileUrl.hpp"

namespace office {

namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// ".ods" of "x/result.ods", empty when the last path part has no dot.
std::string Extension(const std::string& fileName) {
  const std::size_t dot = fileName.rfind('.');
  const std::size_t sep = fileName.find_last_of("\\/:");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return {};
  return fileName.substr(dot);
}

// The office's progress of one load or store, for TOpenOffice::Progress: the members of a
// com.sun.star.task.XStatusIndicator by name. The office keeps the indicator with the
// document and may call it again later; once closed, it tells nothing more.
class ProgressSink : public automation::Object {
 public:
  explicit ProgressSink(std::function<void(double)> told) : told_(std::move(told)) {}

  Variant Call(std::string_view name, const VariantArray& args) override {
    try {
      Take(UpperAscii(std::string(name)), args);
    } catch (...) {
      // ours alone: the office's work goes on
    }
    return {};
  }
  Variant Get(std::string_view name) override {
    throw automation::UnknownMemberError(std::string(name) + " is no property of an indicator");
  }
  void Set(std::string_view name, const Variant&) override {
    throw automation::UnknownMemberError(std::string(name) + " is no property of an indicator");
  }

  // No report is under way once this returns, and none comes after.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }

 private:
  void Take(const std::string& member, const VariantArray& args) {
    if (member == "START") range_ = args.at(1).AsInt();
    if (member != "SETVALUE") return;
    const std::int32_t range = range_.load();
    if (range <= 0) return;
    const double fraction = std::clamp(static_cast<double>(args.at(0).AsInt()) / range, 0.0, 1.0);
    // Never waited for: a report that meets another under way is left out.
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock && !closed_) told_(fraction);
  }

  const std::function<void(double)> told_;
  std::atomic<std::int32_t> range_{0};
  std::mutex mutex_;
  bool closed_ = false;
};

bool IsWindowsDrivePath(const std::string& name) {
  return name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
         (name[2] == '\\' || name[2] == '/');
}

}  // namespace

std::string FileNameToUrl(const std::string& fileName) {
  std::string path;
  if (IsWindowsDrivePath(fileName)) {
    path = "/" + fileName;
    for (char& c : path)
      if (c == '\\') c = '/';
  } else {
    path = std::filesystem::absolute(fileName).lexically_normal().string();
  }
  return automation::FileUrl(path);
}

// --- TOpenOffice ---------------------------------------------------------------------------

TOpenOffice::TOpenOffice(automation::ObjectFactory& factory) : factory_(factory) {}

TOpenOffice::~TOpenOffice() = default;

void TOpenOffice::Connect(bool active) {
  if (!active) {
    Document = {};
    Desktop = {};
    ServiceManager = {};
    return;
  }
  ConnectError.clear();
  try {
    ServiceManager = factory_.CreateObject("com.sun.star.ServiceManager");
    if (ServiceManager.IsObject())
      Desktop = ServiceManager.Call("CreateInstance", "com.sun.star.frame.Desktop");
  } catch (const std::exception& e) {
    ConnectError = e.what();
  } catch (...) {
    ConnectError = "An unknown failure";
  }
  if (!Desktop.IsObject()) {
    if (ConnectError.empty()) ConnectError = "The office gave no desktop";
    Desktop = {};
    ServiceManager = {};
  }
}

bool TOpenOffice::IsConnected() const {
  return Desktop.IsObject();
}

bool TOpenOffice::Answers() {
  if (!Desktop.IsObject()) return false;
  try {
    Desktop.Get("Frames").Get("Count");
    return true;
  } catch (const automation::ConnectionLost&) {
    return false;
  } catch (const automation::Refused&) {
    return true;  // it answered, if not as asked
  }
}

Variant TOpenOffice::MakePropertyValue(const std::string& name, const Variant& value) {
  Variant property = ServiceManager.Call("Bridge_GetStruct", "com.sun.star.beans.PropertyValue");
  property.Set("Name", name);
  property.Set("Value", value);
  return property;
}

VariantArray TOpenOffice::StoreArguments(const std::string& filter) {
  return {MakePropertyValue("FilterName", filter), MakePropertyValue("Overwrite", true)};
}

std::shared_ptr<void> TOpenOffice::WatchProgress(VariantArray& arguments) {
  if (!Progress) return nullptr;
  auto sink = std::make_shared<ProgressSink>(Progress);
  arguments.push_back(MakePropertyValue(
      "StatusIndicator",
      ServiceManager.Call("Bridge_StatusIndicator", automation::ObjectRef(sink))));
  struct Closing {
    explicit Closing(std::shared_ptr<ProgressSink> s) : sink(std::move(s)) {}
    Closing(const Closing&) = delete;
    ~Closing() { sink->Close(); }
    std::shared_ptr<ProgressSink> sink;
  };
  return std::make_shared<Closing>(std::move(sink));
}

void TOpenOffice::LoadDocument(const std::string& fileName, LoadOptions options,
                               std::uint8_t macroMode, const ImportFilter& filter) {
  const std::string url = fileName.empty() ? FactoryUrl : FileNameToUrl(fileName);
  VariantArray args;
  if (options & loHidden) args.push_back(MakePropertyValue("Hidden", true));
  if (options & loAsTemplate) args.push_back(MakePropertyValue("AsTemplate", true));
  if (options & loReadOnly) args.push_back(MakePropertyValue("ReadOnly", true));
  args.push_back(MakePropertyValue("MacroExecutionMode", macroMode));
  if (!filter.name.empty()) args.push_back(MakePropertyValue("FilterName", filter.name));
  if (!filter.options.empty()) args.push_back(MakePropertyValue("FilterOptions", filter.options));
  const std::shared_ptr<void> watch = WatchProgress(args);

  Variant loaded = Desktop.Call("LoadComponentFromURL", url, "_blank", std::int32_t{0}, args);
  // The office answers a file it cannot read (random bytes, a broken zip) with no document
  // rather than an error: that is a failed load too, and takes no index.
  if (!loaded.IsObject()) throw automation::Refused("The office could not load " + fileName);
  Document = std::move(loaded);
  Documents.push_back(Document);
  DocumentIndex = static_cast<std::int32_t>(Documents.size()) - 1;
}

void TOpenOffice::ExportPdf(const std::string& fileName) {
  const std::string filter = FilterPrefix + "_pdf_Export";
  std::string name = fileName;
  if (UpperAscii(Extension(fileName)) != ".PDF") name += ".pdf";
  Document.Call("StoreToURL", FileNameToUrl(name), StoreArguments(filter));
}

void TOpenOffice::CloseDocument() {
  Document.Call("Close", true);
  Document = {};
  if (!KeepsOffice && Desktop.Get("Frames").Get("Count").AsInt() == 0) {
    Desktop.Call("Terminate");
    Connect(false);
  }
}

bool TOpenOffice::SelectDocument(std::int32_t index) {
  if (index < 0 || index >= static_cast<std::int32_t>(Documents.size())) return false;
  DocumentIndex = index;
  Document = Documents[static_cast<std::size_t>(index)];
  return true;
}

// --- TOOCalc -------------------------------------------------------------------------------

TOOCalc::TOOCalc(automation::ObjectFactory& factory)
    : TOpenOffice(factory), sheets_(std::make_unique<TOOCalcSheets>()) {
  FactoryUrl = "private:factory/scalc";
  FilterPrefix = "calc";
}

TOOCalc::~TOOCalc() {
  sheets_.reset();
  Connect(false);
}

// Filter and extension: "calc8"/".ods" unless the format is "Excel97" or the name ends in
// ".xls" ("MS Excel 97"/".xls"); "Calc" or a name ending in ".ods" always wins. The chosen
// extension is appended unless the name already has it (result.xls as "Calc" is
// result.xls.ods). "Xlsx" and "Csv" are what they say, whatever the name.
StoreTarget TOOCalc::ChooseStoreTarget(const std::string& fileName, const std::string& format) {
  std::string filter = "calc8";
  std::string extension = ".ods";
  std::string options;
  const std::string present = UpperAscii(Extension(fileName));
  if (format == "Xlsx") {
    filter = "Calc MS Excel 2007 XML";
    extension = ".xlsx";
  } else if (format == "Csv") {
    // Comma, quote, UTF-8, line 1, no column formats, default language, quote only where
    // needed, (import only), cells as shown.
    filter = kTextFilter;
    extension = ".csv";
    options = "44,34,76,1,,0,false,false,true,false,false";
  } else {
    if (format == "Excel97" || present == ".XLS") {
      filter = "MS Excel 97";
      extension = ".xls";
    }
    if (format == "Calc" || present == ".ODS") {
      filter = "calc8";
      extension = ".ods";
    }
  }
  return {present == UpperAscii(extension) ? fileName : fileName + extension, filter, options};
}

void TOOCalc::StoreDocument(const std::string& fileName, const std::string& format) {
  const StoreTarget target = ChooseStoreTarget(fileName, format);
  VariantArray arguments = StoreArguments(target.filter);
  if (!target.options.empty())
    arguments.push_back(MakePropertyValue("FilterOptions", target.options));
  // An ods store tells nearly its whole range before its work begins, and nothing more until
  // it is done: no report at all says more.
  const std::shared_ptr<void> watch = target.filter == "calc8" ? nullptr : WatchProgress(arguments);
  Document.Call("StoreAsURL", FileNameToUrl(target.fileName), arguments);
}

TOOCalcSheets& TOOCalc::Sheets() {
  sheets_->DocumentRef = Document;
  return *sheets_;
}

const Variant& TOOCalc::Formats() {
  if (!(formatsDocument_ == Document)) {
    formats_ = Document.Call("getNumberFormats");
    formatsDocument_ = Document;
  }
  return formats_;
}

std::string TOOCalc::NumberFormatCode(std::int32_t key) {
  return Formats().Call("getByKey", key).Get("FormatString").AsString();
}

std::string TOOCalc::FormatNumber(std::int32_t key, double value) {
  if (!(formatterDocument_ == Document)) {
    formatter_ = ServiceManager.Call("createInstance", "com.sun.star.util.NumberFormatter");
    formatter_.Call("attachNumberFormatsSupplier", Document);
    formatterDocument_ = Document;
  }
  return formatter_.Call("convertNumberToString", key, value).AsString();
}

NumberFormat TOOCalc::NumberFormatOf(std::int32_t key) {
  const Variant format = Formats().Call("getByKey", key);
  return {format.Get("FormatString").AsString(), format.Get("Locale"), format.Get("Type").AsInt()};
}

std::int32_t TOOCalc::NumberFormatKey(const std::string& code, const Variant& locale) {
  const std::int32_t key = Formats().Call("queryKey", code, locale, false).AsInt();
  return key >= 0 ? key : Formats().Call("addNew", code, locale).AsInt();
}

Day TOOCalc::NullDate() {
  const Variant date = Document.Get("NullDate");
  return {date.Get("Year").AsInt(), date.Get("Month").AsInt(), date.Get("Day").AsInt()};
}

std::int32_t TOOCalc::BlankSheetRowCount() {
  const Variant blank = Desktop.Call("LoadComponentFromURL", FactoryUrl, "_blank", std::int32_t{0},
                                     VariantArray{MakePropertyValue("Hidden", true)});
  if (!blank.IsObject()) throw automation::Refused("The office made no new document");
  // Closed whatever the answer was; an office that is gone takes the document with it.
  struct Close {
    const Variant& document;
    ~Close() {
      try {
        document.Call("close", true);
      } catch (const automation::Error&) {
        // refused or gone: nothing else holds it
      }
    }
  } close{blank};
  return blank.Call("getSheets")
      .Call("getByIndex", std::int32_t{0})
      .Call("getRows")
      .Call("getCount")
      .AsInt();
}

std::string TOOCalc::ExportShownTexts(std::int32_t sheet, const std::string& folder) {
  // Comma, quote, UTF-8, line 1, no column formats, default language, quote only where needed,
  // (import only), cells as shown, no formulas, (import only), this sheet (one-based).
  const std::string options =
      "44,34,76,1,,0,false,false,true,false,false," + std::to_string(sheet + 1);
  Document.Call("StoreToURL", FileNameToUrl(folder + "/shown.csv"),
                VariantArray{MakePropertyValue("FilterName", std::string(kTextFilter)),
                             MakePropertyValue("FilterOptions", options)});
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec)) return entry.path().string();
  throw automation::Refused("The office wrote no text of the sheet into " + folder);
}

// --- Sheets --------------------------------------------------------------------------------

TOOCalcSheets::TOOCalcSheets() : currentSheet_(std::make_unique<TOOCalcSheet>()) {}

TOOCalcSheets::~TOOCalcSheets() = default;

std::int32_t TOOCalcSheets::SheetCount() {
  return DocumentRef.Call("GetSheets").Call("GetCount").AsInt();
}

TOOCalcSheet& TOOCalcSheets::SheetByIndex(std::int32_t index) {
  currentSheet_->SheetObject = DocumentRef.Call("GetSheets").Call("GetByIndex", index);
  currentSheet_->DocumentRef = DocumentRef;
  return *currentSheet_;
}

std::int32_t TOOCalcSheets::ActiveSheetIndex() {
  const std::int32_t count = SheetCount();
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string name =
        DocumentRef.Call("GetSheets").Call("GetByIndex", i).Call("GetName").AsString();
    const std::string active =
        DocumentRef.Call("GetCurrentController").Call("GetActiveSheet").Call("GetName").AsString();
    if (name == active) return i;
  }
  return -1;
}

void TOOCalcSheets::ActivateSheet(std::int32_t index) {
  const Variant sheet = DocumentRef.Call("GetSheets").Call("GetByIndex", index);
  DocumentRef.Call("GetCurrentController").Call("SetActiveSheet", sheet);
}

void TOOCalcSheets::RemoveSheet(std::int32_t index) {
  const std::string name =
      DocumentRef.Call("GetSheets").Call("GetByIndex", index).Call("GetName").AsString();
  DocumentRef.Call("GetSheets").Call("RemoveByName", name);
}

// --- Sheet ---------------------------------------------------------------------------------

TOOCalcSheet::TOOCalcSheet()
    : currentCell_(std::make_unique<TOOCalcCell>()),
      currentRange_(std::make_unique<TOOCalcCellRange>()) {}

TOOCalcSheet::~TOOCalcSheet() = default;

std::string TOOCalcSheet::SheetName() {
  return SheetObject.Get("Name").AsString();
}

std::int32_t TOOCalcSheet::ColumnCount() {
  return SheetObject.Call("getColumns").Call("getCount").AsInt();
}

bool TOOCalcSheet::IsProtected() {
  return SheetObject.Call("isProtected").AsBool();
}

void TOOCalcSheet::Protect(const std::string& password) {
  SheetObject.Call("protect", password);
}

void TOOCalcSheet::Unprotect(const std::string& password) {
  SheetObject.Call("unprotect", password);
}

std::int32_t TOOCalcSheet::RowCount() {
  return SheetObject.Call("getRows").Call("getCount").AsInt();
}

void TOOCalcSheet::MeasureUsedArea() {
  const Variant a1 = SheetObject.Call("getCellByPosition", std::int32_t{0}, std::int32_t{0});
  const Variant cursor = SheetObject.Call("createCursorByRange", a1);
  cursor.Call("GotoEndOfUsedArea", true);
  const Variant address = cursor.Get("RangeAddress");
  lastUsedRow_ = address.Get("EndRow").AsInt();
  lastUsedColumn_ = address.Get("EndColumn").AsInt();
}

template <typename Cell>
Cell& TOOCalcSheet::Point(Cell& cell, Variant object) {
  cell.CellObject = std::move(object);
  cell.SheetObject = SheetObject;
  cell.DocumentRef = DocumentRef;
  return cell;
}

TOOCalcCell& TOOCalcSheet::CellAt(std::int32_t column, std::int32_t row) {
  return Point(*currentCell_, SheetObject.Call("GetCellByPosition", column, row));
}

TOOCalcCell& TOOCalcSheet::CellNamed(const std::string& name) {
  if (name.find(':') != std::string::npos)
    throw automation::Refused("Try to return CellRange, expect Cell.");
  return Point(*currentCell_, SheetObject.Call("GetCellRangeByName", name));
}

TOOCalcCellRange& TOOCalcSheet::RangeAt(std::int32_t left, std::int32_t top, std::int32_t right,
                                        std::int32_t bottom) {
  return Point(*currentRange_,
               SheetObject.Call("GetCellRangeByPosition", left, top, right, bottom));
}

CellRangeAddress TOOCalcSheet::FormulaArrayAt(std::int32_t column, std::int32_t row) {
  const Variant cursor =
      SheetObject.Call("createCursorByRange", SheetObject.Call("getCellByPosition", column, row));
  cursor.Call("collapseToCurrentArray");
  const Variant a = cursor.Get("RangeAddress");
  return {a.Get("StartColumn").AsInt(), a.Get("StartRow").AsInt(), a.Get("EndColumn").AsInt(),
          a.Get("EndRow").AsInt()};
}

std::vector<PivotTable> TOOCalcSheet::PivotTables() {
  const Variant tables = SheetObject.Call("getDataPilotTables");
  std::vector<PivotTable> out;
  for (const Variant& name : tables.Call("getElementNames").AsArray())
    out.push_back({name.AsString(),
                   tables.Call("getByName", name).Call("getSourceRange").Get("Sheet").AsInt()});
  return out;
}

// --- Cells ---------------------------------------------------------------------------------

std::string TOOBaseCell::ReadString() {
  return CellObject.Call("GetString").AsString();
}

void TOOBaseCell::WriteString(const std::string& text) {
  CellObject.Call("SetString", text);
}

void TOOBaseCell::WriteValue(double value) {
  CellObject.Call("setValue", value);
}

std::int32_t WindowsColor(std::int32_t officeColor) {
  const auto v = static_cast<std::uint32_t>(officeColor);
  return static_cast<std::int32_t>(((v >> 16) & 0xFF) | (((v >> 8) & 0xFF) << 8) |
                                   ((v & 0xFF) << 16));
}

std::int32_t TOOBaseCell::BackColor() {
  return WindowsColor(CellObject.Get("CellBackColor").AsInt());
}

std::int32_t TOOBaseCell::NumberFormatKey() {
  return CellObject.Get("NumberFormat").AsInt();
}

void TOOBaseCell::SetNumberFormat(std::int32_t key) {
  CellObject.Set("NumberFormat", key);
}

std::string TOOBaseCell::ErrorText() {
  return CellObject.Call("getError").AsInt() != 0 ? ReadString() : std::string();
}

void TOOCalcCellRange::SetDataArray(VariantArray rows) {
  CellObject.Call("SetDataArray", std::move(rows));
}

VariantArray TOOCalcCellRange::DataArray() {
  return CellObject.Call("GetDataArray").AsArray();
}

VariantArray TOOCalcCellRange::FormulaArray() {
  return CellObject.Call("getFormulaArray").AsArray();
}

namespace {

std::vector<CellRangeAddress> Addresses(const Variant& ranges) {
  std::vector<CellRangeAddress> out;
  for (const Variant& a : ranges.Call("getRangeAddresses").AsArray())
    out.push_back({a.Get("StartColumn").AsInt(), a.Get("StartRow").AsInt(),
                   a.Get("EndColumn").AsInt(), a.Get("EndRow").AsInt()});
  return out;
}

}  // namespace

std::vector<CellRangeAddress> TOOCalcCellRange::ContentCells(std::int32_t cellFlags) {
  return Addresses(CellObject.Call("queryContentCells", cellFlags));
}

std::vector<CellRangeAddress> TOOCalcCellRange::FormulaCells(std::int32_t resultFlags) {
  return Addresses(CellObject.Call("queryFormulaCells", resultFlags));
}

std::vector<CellRangeAddress> TOOCalcCellRange::EmptyCells() {
  return Addresses(CellObject.Call("queryEmptyCells"));
}

std::optional<std::int32_t> TOOCalcCellRange::UniformNumberFormat() {
  constexpr std::int32_t kAmbiguous = 2;  // com.sun.star.beans.PropertyState AMBIGUOUS_VALUE
  if (CellObject.Call("getPropertyState", "NumberFormat").AsInt() == kAmbiguous)
    return std::nullopt;
  return CellObject.Get("NumberFormat").AsInt();
}

std::optional<std::vector<std::int32_t>> TOOCalcCellRange::NumberFormatsUsed(std::int32_t most) {
  const Variant formats = CellObject.Call("getUniqueCellFormatRanges");
  const std::int32_t n = formats.Call("getCount").AsInt();
  if (n > most) return std::nullopt;
  std::vector<std::int32_t> keys;
  for (std::int32_t i = 0; i < n; ++i)
    keys.push_back(formats.Call("getByIndex", i).Get("NumberFormat").AsInt());
  return keys;
}

std::vector<FormatPart> TOOCalcCellRange::FormatParts() {
  const Variant parts = CellObject.Call("getCellFormatRanges");
  std::vector<FormatPart> out;
  const std::int32_t n = parts.Call("getCount").AsInt();
  for (std::int32_t i = 0; i < n; ++i) {
    const Variant part = parts.Call("getByIndex", i);
    const Variant a = part.Get("RangeAddress");
    out.push_back({{a.Get("StartColumn").AsInt(), a.Get("StartRow").AsInt(),
                    a.Get("EndColumn").AsInt(), a.Get("EndRow").AsInt()},
                   part.Get("NumberFormat").AsInt(),
                   WindowsColor(part.Get("CellBackColor").AsInt())});
  }
  return out;
}

}  // namespace office
