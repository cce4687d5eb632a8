#include "support/FakeOffice.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <exception>
#include <fstream>
#include <set>
#include <thread>

namespace fake {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

[[noreturn]] void OfficeError(const std::string& message) {
  throw automation::Refused(message);
}

std::string NumberText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

// "B2" -> (1, 1); raises for anything that is not one cell address.
std::pair<std::int32_t, std::int32_t> ParseAddress(const std::string& name) {
  std::size_t i = 0;
  std::int32_t column = 0;
  while (i < name.size() && std::isalpha(static_cast<unsigned char>(name[i])))
    column = column * 26 + (std::toupper(static_cast<unsigned char>(name[i++])) - 'A' + 1);
  std::int32_t row = 0;
  const std::size_t digits = i;
  while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])))
    row = row * 10 + (name[i++] - '0');
  if (column == 0 || i == digits || i != name.size() || row == 0)
    OfficeError("Invalid cell address " + name + " (com.sun.star.uno.RuntimeException)");
  return {column - 1, row - 1};
}

}  // namespace

// --- model ---------------------------------------------------------------------------------

namespace {

// Code and kind (com.sun.star.util.NumberFormat) of the office's formats; formats a document
// makes for itself follow from key 100 on.
struct KnownFormat {
  std::string code;
  std::int32_t type;
};
const std::map<std::int32_t, KnownFormat> kFormatCodes = {{kStandard, {"General", 16}},
                                                          {kTwoDecimals, {"0.00", 16}},
                                                          {kText, {"@", 256}},
                                                          {kUnits, {"@\" kg\"", 256}},
                                                          {kDate, {"YYYY-MM-DD", 2}}};

std::string NumberShown(std::int32_t format, double value) {
  if (format == kDate) return "day " + NumberText(value);
  if (format != kTwoDecimals) return NumberText(value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  return buf;
}

}  // namespace

std::string Cell::Shown() const {
  if (number && text.empty()) return NumberShown(format, *number);
  return format == kUnits && !text.empty() ? text + " kg" : text;
}

const Cell* Sheet::Find(std::int32_t column, std::int32_t row) const {
  const auto it = cells.find({row, column});
  return it == cells.end() ? nullptr : &it->second;
}

std::int32_t Sheet::EndRow() const {
  std::int32_t end = 0;
  for (const auto& [pos, cell] : cells)
    if (cell.HasContent()) end = std::max(end, pos.first);
  return end;
}

std::int32_t Sheet::EndColumn() const {
  std::int32_t end = 0;
  for (const auto& [pos, cell] : cells)
    if (cell.HasContent()) end = std::max(end, pos.second);
  return end;
}

Workbook Workbook::WithSheets(std::vector<std::string> names) {
  Workbook book;
  for (auto& name : names)
    book.sheets.push_back(std::make_shared<Sheet>(Sheet{std::move(name), {}, std::nullopt}));
  return book;
}

Workbook Workbook::Clone() const {
  Workbook copy;
  copy.activeSheet = activeSheet;
  copy.nullYear = nullYear;
  copy.nullMonth = nullMonth;
  copy.nullDay = nullDay;
  for (const auto& sheet : sheets) copy.sheets.push_back(std::make_shared<Sheet>(*sheet));
  return copy;
}

// --- objects -------------------------------------------------------------------------------

struct Doc {
  std::shared_ptr<Workbook> book;
  std::string url;
  bool closed = false;
};

struct FakeOffice::State {
  FakeOffice* office = nullptr;
  struct Failure {
    int after = 0;  // calls still to succeed
    int times = 0;  // then calls to fail
  };
  std::map<std::string, Failure> failures;  // by lower-case member
  std::string loseOn;                       // lower-case member; empty: none
  std::vector<std::string> forgotten;       // lower-case members
  int loseAfter = 0;
  std::atomic<bool> lost{false};
  std::vector<std::shared_ptr<Doc>> loaded;
  std::shared_ptr<automation::Object> desktop;
  std::map<std::int32_t, std::pair<std::string, std::int32_t>> formats;  // code and kind by key
};

namespace {

using State = FakeOffice::State;
using StateRef = std::shared_ptr<State>;

// An object with a table of methods and properties, looked up without regard to case.
class FakeObject : public automation::Object {
 public:
  using MethodFn = std::function<Variant(const VariantArray&)>;
  using Getter = std::function<Variant()>;
  using Setter = std::function<void(const Variant&)>;

  FakeObject(StateRef state, std::string kind) : state_(std::move(state)), kind_(std::move(kind)) {}

  void Method(const std::string& name, MethodFn fn) { methods_[Lower(name)] = std::move(fn); }
  void Property(const std::string& name, Getter get, Setter set = nullptr) {
    properties_[Lower(name)] = {std::move(get), std::move(set)};
  }

  Variant Call(std::string_view name, const VariantArray& args) override {
    const auto it = methods_.find(Lower(name));
    const auto& forgotten = state_->forgotten;
    if (it == methods_.end() ||
        std::find(forgotten.begin(), forgotten.end(), Lower(name)) != forgotten.end())
      throw automation::UnknownMemberError(std::string(name) + " is no method of " + kind_);
    Enter(name, args);
    return it->second(args);
  }

  Variant Get(std::string_view name) override {
    const auto it = properties_.find(Lower(name));
    if (it == properties_.end())
      throw automation::UnknownMemberError(std::string(name) + " is no property of " + kind_);
    Enter(name, {});
    return it->second.first();
  }

  void Set(std::string_view name, const Variant& value) override {
    const auto it = properties_.find(Lower(name));
    if (it == properties_.end() || !it->second.second)
      throw automation::UnknownMemberError(std::string(name) + " is no settable property of " +
                                           kind_);
    Enter(name, {value});
    it->second.second(value);
  }

  const std::string& kind() const { return kind_; }

 protected:
  const StateRef& state() const { return state_; }
  FakeOffice& office() const {
    if (!state_->office) OfficeError("The office is gone (com.sun.star.lang.DisposedException)");
    return *state_->office;
  }

 private:
  void Enter(std::string_view name, const VariantArray& args) {
    if (state_->lost) throw automation::ConnectionLost("The office ended unexpectedly");
    if (state_->office && state_->office->beforeCall) state_->office->beforeCall(name);
    if (state_->lost) throw automation::ConnectionLost("The office was ended");
    office().calls.push_back({kind_, std::string(name), args});
    if (!state_->loseOn.empty() && Lower(name) == state_->loseOn && state_->loseAfter-- == 0) {
      state_->lost = true;
      throw automation::ConnectionLost("The office ended unexpectedly");
    }
    const auto fail = state_->failures.find(Lower(name));
    if (fail == state_->failures.end()) return;
    if (fail->second.after > 0) {
      --fail->second.after;
    } else if (fail->second.times > 0) {
      --fail->second.times;
      OfficeError("Injected failure of " + std::string(name));
    }
  }

  StateRef state_;
  std::string kind_;
  std::map<std::string, MethodFn> methods_;
  std::map<std::string, std::pair<Getter, Setter>> properties_;
};

template <typename T, typename... Args>
Variant Make(Args&&... args) {
  return Variant(ObjectRef(std::make_shared<T>(std::forward<Args>(args)...)));
}

// A struct value: named fields, read and written as properties.
class FakeStruct : public FakeObject {
 public:
  FakeStruct(StateRef state, std::string kind, std::vector<std::string> fieldNames)
      : FakeObject(std::move(state), std::move(kind)) {
    for (const auto& name : fieldNames)
      Property(
          name, [this, name] { return fields[name]; },
          [this, name](const Variant& v) { fields[name] = v; });
  }
  std::map<std::string, Variant> fields;
};

Variant AddressStruct(const StateRef& state, std::int32_t sheet, std::int32_t left,
                      std::int32_t top, std::int32_t right, std::int32_t bottom) {
  auto address = std::make_shared<FakeStruct>(
      state, "CellRangeAddress",
      std::vector<std::string>{"Sheet", "StartColumn", "StartRow", "EndColumn", "EndRow"});
  address->fields = {{"Sheet", sheet},
                     {"StartColumn", left},
                     {"StartRow", top},
                     {"EndColumn", right},
                     {"EndRow", bottom}};
  return ObjectRef(address);
}

class DocBound : public FakeObject {
 public:
  DocBound(StateRef state, std::string kind, std::shared_ptr<Doc> doc)
      : FakeObject(std::move(state), std::move(kind)), doc_(std::move(doc)) {}

 protected:
  Workbook& book() const {
    if (doc_->closed) OfficeError("The document is closed (com.sun.star.lang.DisposedException)");
    return *doc_->book;
  }
  const std::shared_ptr<Doc>& doc() const { return doc_; }

 private:
  std::shared_ptr<Doc> doc_;
};

class CellObject : public DocBound {
 public:
  CellObject(StateRef state, std::shared_ptr<Doc> doc, std::shared_ptr<Sheet> sheet,
             std::int32_t column, std::int32_t row)
      : DocBound(std::move(state), "Cell", std::move(doc)),
        sheet_(std::move(sheet)),
        column_(column),
        row_(row) {
    Method("getString", [this, column, row](const VariantArray&) -> Variant {
      book();
      const Cell* cell = sheet_->Find(column, row);
      return cell ? cell->Shown() : std::string();
    });
    Method("setString", [this, column, row](const VariantArray& a) -> Variant {
      book();
      Cell& cell = sheet_->At(column, row);  // its fill and format stay
      cell.text = a.at(0).AsString();
      cell.number.reset();
      return {};
    });
    Method("setValue", [this, column, row](const VariantArray& a) -> Variant {
      book();
      Cell& cell = sheet_->At(column, row);
      cell.text.clear();
      cell.number = a.at(0).AsDouble();
      return {};
    });
    Method("getError", [this](const VariantArray&) -> Variant {
      book();
      return std::int32_t{0};  // no formulas here, so no errors
    });
    Property(
        "NumberFormat",
        [this, column, row]() -> Variant {
          book();
          const Cell* cell = sheet_->Find(column, row);
          return cell ? cell->format : std::int32_t{kStandard};
        },
        [this, column, row](const Variant& v) {
          if (!sheet_->protection) sheet_->At(column, row).format = v.AsInt();
        });
    Property(
        "CellBackColor",
        [this, column, row]() -> Variant {
          book();
          const Cell* cell = sheet_->Find(column, row);
          return cell ? cell->backColor : -1;
        },
        [this, column, row](const Variant& v) { sheet_->At(column, row).backColor = v.AsInt(); });
  }

  std::int32_t column() const { return column_; }
  std::int32_t row() const { return row_; }

 private:
  std::shared_ptr<Sheet> sheet_;
  std::int32_t column_, row_;
};

class RangeObject : public DocBound {
 public:
  // A SheetCellRanges object of the given addresses.
  // A list read by count and index.
  Variant IndexList(std::string kind, std::vector<Variant> items) {
    auto list = std::make_shared<FakeObject>(this->state(), std::move(kind));
    list->Method("getCount", [items](const VariantArray&) -> Variant {
      return static_cast<std::int32_t>(items.size());
    });
    list->Method("getByIndex", [items](const VariantArray& a) -> Variant {
      return items.at(static_cast<std::size_t>(a.at(0).AsInt()));
    });
    return ObjectRef(list);
  }

  Variant Ranges(const VariantArray& addresses) {
    auto ranges = std::make_shared<FakeObject>(this->state(), "SheetCellRanges");
    ranges->Method("getRangeAddresses",
                   [addresses](const VariantArray&) -> Variant { return addresses; });
    return ObjectRef(ranges);
  }

  RangeObject(StateRef state, std::shared_ptr<Doc> doc, std::shared_ptr<Sheet> sheet,
              std::int32_t sheetIndex, std::int32_t left, std::int32_t top, std::int32_t right,
              std::int32_t bottom, std::string kind = "Range")
      : DocBound(std::move(state), std::move(kind), std::move(doc)),
        sheet_(std::move(sheet)),
        sheetIndex_(sheetIndex),
        left_(left),
        top_(top),
        right_(right),
        bottom_(bottom) {
    Method("getDataArray", [this](const VariantArray&) -> Variant {
      book();
      VariantArray rows;
      for (std::int32_t r = top_; r <= bottom_; ++r) {
        VariantArray values;
        for (std::int32_t c = left_; c <= right_; ++c) {
          const Cell* cell = sheet_->Find(c, r);
          if (cell && cell->number)
            values.emplace_back(*cell->number);
          else
            values.emplace_back(cell ? cell->text : std::string());
        }
        rows.emplace_back(std::move(values));
      }
      return rows;
    });
    Method("setDataArray", [this](const VariantArray& a) -> Variant {
      book();
      if (sheet_->protection)
        OfficeError("The sheet is protected (com.sun.star.uno.RuntimeException)");
      const VariantArray& rows = a.at(0).AsArray();
      for (std::size_t r = 0; r < rows.size(); ++r) {
        const VariantArray& values = rows[r].AsArray();
        for (std::size_t c = 0; c < values.size(); ++c) {
          Cell& cell =
              sheet_->At(left_ + static_cast<std::int32_t>(c), top_ + static_cast<std::int32_t>(r));
          if (values[c].IsNumber()) {
            cell.number = values[c].AsDouble();
            cell.text.clear();
          } else {
            cell.number.reset();
            cell.text = values[c].IsString() ? values[c].AsString() : std::string();
          }
        }
      }
      return {};
    });
    Property("RangeAddress", [this] {
      return AddressStruct(this->state(), sheetIndex_, left_, top_, right_, bottom_);
    });
    // The first cell's format; written to every cell.
    Property(
        "NumberFormat",
        [this]() -> Variant {
          book();
          const Cell* cell = sheet_->Find(left_, top_);
          return cell ? cell->format : std::int32_t{kStandard};
        },
        [this](const Variant& v) {
          book();
          if (sheet_->protection) return;  // ignored, without an error
          for (std::int32_t row = top_; row <= bottom_; ++row)
            for (std::int32_t column = left_; column <= right_; ++column)
              sheet_->At(column, row).format = v.AsInt();
        });
    // DIRECT_VALUE (0) while all cells have one number format, else AMBIGUOUS_VALUE (2).
    Method("getPropertyState", [this](const VariantArray& a) -> Variant {
      book();
      if (a.at(0).AsString() != "NumberFormat") OfficeError("Only NumberFormat is known here");
      std::optional<std::int32_t> seen;
      for (std::int32_t row = top_; row <= bottom_; ++row)
        for (std::int32_t column = left_; column <= right_; ++column) {
          const Cell* cell = sheet_->Find(column, row);
          const std::int32_t format = cell ? cell->format : std::int32_t{kStandard};
          if (seen && *seen != format) return std::int32_t{2};
          seen = format;
        }
      return std::int32_t{0};
    });
    // Numbers answer the value flag (1), texts the string flag (4); one address per cell.
    Method("queryContentCells", [this](const VariantArray& a) -> Variant {
      book();
      const std::int32_t flags = a.at(0).AsInt();
      VariantArray addresses;
      for (const auto& [at, cell] : sheet_->cells) {
        const auto [row, column] = at;
        if (row < top_ || row > bottom_ || column < left_ || column > right_) continue;
        if ((cell.number && (flags & 1)) || (!cell.number && !cell.text.empty() && (flags & 4)))
          addresses.push_back(AddressStruct(this->state(), sheetIndex_, column, row, column, row));
      }
      return Ranges(addresses);
    });
    Method("queryEmptyCells", [this](const VariantArray&) -> Variant {
      book();
      VariantArray addresses;
      for (std::int32_t row = top_; row <= bottom_; ++row)
        for (std::int32_t column = left_; column <= right_; ++column) {
          const Cell* cell = sheet_->Find(column, row);
          if (!cell || !cell->HasContent())
            addresses.push_back(
                AddressStruct(this->state(), sheetIndex_, column, row, column, row));
        }
      return Ranges(addresses);
    });
    // One part per cell: the office merges equal neighbours, which changes nothing read here.
    Method("getCellFormatRanges", [this](const VariantArray&) -> Variant {
      book();
      std::vector<Variant> parts;
      for (std::int32_t row = top_; row <= bottom_; ++row)
        for (std::int32_t column = left_; column <= right_; ++column) {
          const Cell* cell = sheet_->Find(column, row);
          auto part = std::make_shared<FakeStruct>(
              this->state(), "FormatPart",
              std::vector<std::string>{"RangeAddress", "NumberFormat", "CellBackColor"});
          part->fields = {
              {"RangeAddress", AddressStruct(this->state(), sheetIndex_, column, row, column, row)},
              {"NumberFormat", cell ? cell->format : kStandard},
              {"CellBackColor", cell ? cell->backColor : -1}};
          parts.push_back(ObjectRef(part));
        }
      return IndexList("FormatRanges", std::move(parts));
    });
    // One entry per distinct number format and background, each telling its number format.
    Method("getUniqueCellFormatRanges", [this](const VariantArray&) -> Variant {
      book();
      std::set<std::pair<std::int32_t, std::int32_t>> seen;
      std::vector<Variant> formats;
      for (std::int32_t row = top_; row <= bottom_; ++row)
        for (std::int32_t column = left_; column <= right_; ++column) {
          const Cell* cell = sheet_->Find(column, row);
          const std::int32_t format = cell ? cell->format : kStandard;
          if (!seen.insert({format, cell ? cell->backColor : -1}).second) continue;
          auto entry = std::make_shared<FakeStruct>(this->state(), "UniqueFormat",
                                                    std::vector<std::string>{"NumberFormat"});
          entry->fields = {{"NumberFormat", format}};
          formats.push_back(ObjectRef(entry));
        }
      return IndexList("UniqueFormatRanges", std::move(formats));
    });
    Method("gotoEndOfUsedArea", [this](const VariantArray& a) -> Variant {
      book();
      if (a.at(0).AsBool()) {
        right_ = std::max(left_, sheet_->EndColumn());
        bottom_ = std::max(top_, sheet_->EndRow());
      }
      return {};
    });
  }

 private:
  std::shared_ptr<Sheet> sheet_;
  std::int32_t sheetIndex_;
  std::int32_t left_, top_, right_, bottom_;
};

class SheetObject : public DocBound {
 public:
  SheetObject(StateRef state, std::shared_ptr<Doc> doc, std::shared_ptr<Sheet> sheet)
      : DocBound(std::move(state), "Sheet", std::move(doc)), sheet_(std::move(sheet)) {
    Property(
        "Name", [this]() -> Variant { return Alive().name; },
        [this](const Variant& v) { Alive().name = v.AsString(); });
    Method("getName", [this](const VariantArray&) -> Variant { return Alive().name; });
    Method("isProtected",
           [this](const VariantArray&) -> Variant { return Alive().protection.has_value(); });
    Method("protect", [this](const VariantArray& a) -> Variant {
      if (!Alive().protection) sheet_->protection = a.at(0).AsString();
      return {};
    });
    Method("unprotect", [this](const VariantArray& a) -> Variant {
      if (Alive().protection && *sheet_->protection != a.at(0).AsString())
        OfficeError("Wrong password (com.sun.star.lang.IllegalArgumentException)");
      sheet_->protection.reset();
      return {};
    });
    Method("getColumns", [this](const VariantArray&) -> Variant {
      Alive();
      auto columns = std::make_shared<FakeObject>(this->state(), "TableColumns");
      columns->Method("getCount",
                      [this](const VariantArray&) -> Variant { return office().columnLimit; });
      return ObjectRef(columns);
    });
    Method("getRows", [this](const VariantArray&) -> Variant {
      Alive();
      auto rows = std::make_shared<FakeObject>(this->state(), "TableRows");
      rows->Method("getCount",
                   [this](const VariantArray&) -> Variant { return office().rowLimit; });
      return ObjectRef(rows);
    });
    // No pivot tables here.
    Method("getDataPilotTables", [this](const VariantArray&) -> Variant {
      Alive();
      auto tables = std::make_shared<FakeObject>(this->state(), "DataPilotTables");
      tables->Method("getElementNames",
                     [](const VariantArray&) -> Variant { return VariantArray{}; });
      return ObjectRef(tables);
    });
    Method("getCellByPosition", [this](const VariantArray& a) -> Variant {
      return CellAt(a.at(0).AsInt(), a.at(1).AsInt());
    });
    Method("getCellRangeByName", [this](const VariantArray& a) -> Variant {
      const std::string name = a.at(0).AsString();
      const std::size_t colon = name.find(':');
      if (colon == std::string::npos) {
        const auto [column, row] = ParseAddress(name);
        return CellAt(column, row);
      }
      const auto [left, top] = ParseAddress(name.substr(0, colon));
      const auto [right, bottom] = ParseAddress(name.substr(colon + 1));
      return RangeAt(left, top, right, bottom);
    });
    Method("getCellRangeByPosition", [this](const VariantArray& a) -> Variant {
      return RangeAt(a.at(0).AsInt(), a.at(1).AsInt(), a.at(2).AsInt(), a.at(3).AsInt());
    });
    Method("createCursorByRange", [this](const VariantArray& a) -> Variant {
      Alive();
      auto* cell = dynamic_cast<CellObject*>(a.at(0).AsObject().get());
      if (!cell) OfficeError("createCursorByRange needs a cell of this sheet");
      return Make<RangeObject>(this->state(), this->doc(), sheet_, Index(), cell->column(),
                               cell->row(), cell->column(), cell->row(), "Cursor");
    });
  }

  const std::shared_ptr<Sheet>& sheet() const { return sheet_; }

 private:
  Sheet& Alive() const {
    if (Index() < 0) OfficeError("The sheet was removed (com.sun.star.lang.DisposedException)");
    return *sheet_;
  }
  std::int32_t Index() const {
    const auto& sheets = book().sheets;
    const auto it = std::find(sheets.begin(), sheets.end(), sheet_);
    return it == sheets.end() ? -1 : static_cast<std::int32_t>(it - sheets.begin());
  }
  static void CheckPosition(std::int32_t column, std::int32_t row) {
    if (column < 0 || row < 0 || column > 16383 || row > 1048575)
      OfficeError("Position out of bounds (com.sun.star.lang.IndexOutOfBoundsException)");
  }
  Variant CellAt(std::int32_t column, std::int32_t row) {
    Alive();
    CheckPosition(column, row);
    return Make<CellObject>(state(), doc(), sheet_, column, row);
  }
  Variant RangeAt(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    Alive();
    CheckPosition(left, top);
    CheckPosition(right, bottom);
    if (right < left || bottom < top)
      OfficeError("Invalid range (com.sun.star.lang.IndexOutOfBoundsException)");
    return Make<RangeObject>(state(), doc(), sheet_, Index(), left, top, right, bottom);
  }

  std::shared_ptr<Sheet> sheet_;
};

class SheetsObject : public DocBound {
 public:
  SheetsObject(StateRef state, std::shared_ptr<Doc> doc)
      : DocBound(std::move(state), "Sheets", std::move(doc)) {
    Method("getCount", [this](const VariantArray&) -> Variant {
      return static_cast<std::int32_t>(book().sheets.size());
    });
    Method("getByIndex", [this](const VariantArray& a) -> Variant {
      const std::int32_t i = a.at(0).AsInt();
      auto& sheets = book().sheets;
      if (i < 0 || i >= static_cast<std::int32_t>(sheets.size()))
        OfficeError("Sheet index out of bounds (com.sun.star.lang.IndexOutOfBoundsException)");
      return Make<SheetObject>(this->state(), this->doc(), sheets[static_cast<std::size_t>(i)]);
    });
    Method("getByName", [this](const VariantArray& a) -> Variant {
      return Make<SheetObject>(this->state(), this->doc(), book().sheets[Find(a.at(0).AsString())]);
    });
    Method("hasByName", [this](const VariantArray& a) -> Variant {
      const auto& sheets = book().sheets;
      return std::any_of(sheets.begin(), sheets.end(),
                         [&](const auto& s) { return s->name == a.at(0).AsString(); });
    });
    Method("removeByName", [this](const VariantArray& a) -> Variant {
      Workbook& wb = book();
      const std::size_t i = Find(a.at(0).AsString());
      wb.sheets.erase(wb.sheets.begin() + static_cast<std::ptrdiff_t>(i));
      if (wb.activeSheet >= static_cast<std::int32_t>(wb.sheets.size()))
        wb.activeSheet = static_cast<std::int32_t>(wb.sheets.size()) - 1;
      return {};
    });
  }

 private:
  std::size_t Find(const std::string& name) const {
    const auto& sheets = book().sheets;
    for (std::size_t i = 0; i < sheets.size(); ++i)
      if (sheets[i]->name == name) return i;
    OfficeError("No sheet " + name + " (com.sun.star.container.NoSuchElementException)");
  }
};

class ControllerObject : public DocBound {
 public:
  ControllerObject(StateRef state, std::shared_ptr<Doc> doc)
      : DocBound(std::move(state), "Controller", std::move(doc)) {
    Method("getActiveSheet", [this](const VariantArray&) -> Variant {
      Workbook& wb = book();
      return Make<SheetObject>(this->state(), this->doc(),
                               wb.sheets.at(static_cast<std::size_t>(wb.activeSheet)));
    });
    Method("setActiveSheet", [this](const VariantArray& a) -> Variant {
      Workbook& wb = book();
      auto* sheet = dynamic_cast<SheetObject*>(a.at(0).AsObject().get());
      const auto it =
          sheet ? std::find(wb.sheets.begin(), wb.sheets.end(), sheet->sheet()) : wb.sheets.end();
      if (it == wb.sheets.end()) OfficeError("Not a sheet of this document");
      wb.activeSheet = static_cast<std::int32_t>(it - wb.sheets.begin());
      return {};
    });
  }
};

// Name and value of a PropertyValue list by name.
std::map<std::string, Variant> Properties(const Variant& list) {
  std::map<std::string, Variant> out;
  for (const Variant& item : list.AsArray())
    out[FakeOffice::PropertyName(item)] = FakeOffice::PropertyValue(item);
  return out;
}

// As the office tells the StatusIndicator handed in with a load or a store how far it has
// come: from a thread of its own while the caller waits.
void TellProgress(FakeOffice& office, const std::map<std::string, Variant>& properties) {
  const auto indicator = properties.find("StatusIndicator");
  if (indicator == properties.end()) return;
  office.lastIndicator = indicator->second;
  std::exception_ptr failed;
  std::thread teller([&] {
    try {
      const Variant& told = indicator->second;
      told.Call("start", "", FakeOffice::kProgressRange);
      for (const std::int32_t value : office.progressValues) told.Call("setValue", value);
      told.Call("end");
    } catch (...) {
      failed = std::current_exception();
    }
  });
  teller.join();
  if (failed) OfficeError("The status indicator raised (com.sun.star.uno.RuntimeException)");
}

class DocumentObject : public DocBound {
 public:
  DocumentObject(StateRef state, std::shared_ptr<Doc> doc)
      : DocBound(std::move(state), "Document", std::move(doc)) {
    Method("getSheets", [this](const VariantArray&) -> Variant {
      book();
      return Make<SheetsObject>(this->state(), this->doc());
    });
    Method("getCurrentController", [this](const VariantArray&) -> Variant {
      book();
      return Make<ControllerObject>(this->state(), this->doc());
    });
    Method("storeAsURL", [this](const VariantArray& a) -> Variant {
      Store(a, true);
      return {};
    });
    Method("storeToURL", [this](const VariantArray& a) -> Variant {
      Store(a, false);
      return {};
    });
    Method("close", [this](const VariantArray&) -> Variant {
      book();
      this->doc()->closed = true;
      return {};
    });
    Method("getNumberFormats", [this](const VariantArray&) -> Variant {
      book();
      auto formats = std::make_shared<FakeObject>(this->state(), "NumberFormats");
      formats->Method("getByKey", [this](const VariantArray& a) -> Variant {
        const auto& known = this->state()->formats;
        const auto code = known.find(a.at(0).AsInt());
        if (code == known.end())
          OfficeError("No number format " + a.at(0).Describe() +
                      " (com.sun.star.lang.IllegalArgumentException)");
        auto format = std::make_shared<FakeStruct>(
            this->state(), "NumberFormat",
            std::vector<std::string>{"FormatString", "Locale", "Type"});
        format->fields["FormatString"] = code->second.first;
        format->fields["Locale"] = ObjectRef(std::make_shared<FakeStruct>(
            this->state(), "Locale", std::vector<std::string>{"Language", "Country"}));
        format->fields["Type"] = code->second.second;
        return ObjectRef(format);
      });
      formats->Method("queryKey", [this](const VariantArray& a) -> Variant {
        for (const auto& [key, format] : this->state()->formats)
          if (format.first == a.at(0).AsString()) return key;
        return std::int32_t{-1};
      });
      formats->Method("addNew", [this](const VariantArray& a) -> Variant {
        auto& known = this->state()->formats;
        const std::int32_t key = std::max<std::int32_t>(100, known.rbegin()->first + 1);
        known[key] = {a.at(0).AsString(), 16};
        return key;
      });
      return ObjectRef(formats);
    });
    Property("NullDate", [this]() -> Variant {
      const Workbook& wb = book();
      auto date = std::make_shared<FakeStruct>(this->state(), "Date",
                                               std::vector<std::string>{"Year", "Month", "Day"});
      date->fields = {{"Year", wb.nullYear}, {"Month", wb.nullMonth}, {"Day", wb.nullDay}};
      return ObjectRef(date);
    });
  }

 private:
  // As the office's text export writes one sheet, cells as shown: into a real file beside the
  // URL's, named after the sheet, from A1 to the end of the used area.
  void ExportText(const Workbook& wb, const std::string& url, const std::string& options) {
    std::vector<std::string> tokens(1);
    for (const char c : options) {
      if (c == ',')
        tokens.emplace_back();
      else
        tokens.back().push_back(c);
    }
    if (tokens.size() < 12 || tokens[8] != "true")
      OfficeError("Only the export of one sheet as shown is known here");
    const Sheet& sheet = *wb.sheets.at(static_cast<std::size_t>(std::stoi(tokens[11]) - 1));
    std::string path;
    for (std::size_t i = std::string("file://").size(); i < url.size(); ++i)
      if (url[i] == '%' && i + 2 < url.size()) {
        path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        path += url[i];
      }
    path = path.substr(0, path.size() - 4) + "-" + sheet.name + ".csv";
    std::ofstream out(path, std::ios::binary);
    for (std::int32_t r = 0; r <= sheet.EndRow(); ++r) {
      for (std::int32_t c = 0; c <= sheet.EndColumn(); ++c) {
        const Cell* cell = sheet.Find(c, r);
        const std::string shown = cell ? cell->Shown() : std::string();
        if (c > 0) out << ',';
        if (shown.find_first_of(",\"\r\n") == std::string::npos) {
          out << shown;
          continue;
        }
        out << '"';
        for (const char ch : shown) out << (ch == '"' ? "\"\"" : std::string(1, ch));
        out << '"';
      }
      out << '\n';
    }
    out.close();
    if (office().afterExport) office().afterExport(path);
  }

  void Store(const VariantArray& a, bool switchUrl) {
    Workbook& wb = book();
    const std::string url = a.at(0).AsString();
    const auto props = Properties(a.at(1));
    const auto filter = props.find("FilterName");
    static const std::vector<std::string> known = {"calc8", "MS Excel 97", "calc_pdf_Export",
                                                   "Calc MS Excel 2007 XML"};
    // The text filter: one sheet's export when it is named (the 12th option), else the file.
    const bool text =
        filter != props.end() && filter->second.AsString() == "Text - txt - csv (StarCalc)";
    if (text && std::count(props.at("FilterOptions").AsString().begin(),
                           props.at("FilterOptions").AsString().end(), ',') >= 11) {
      ExportText(wb, url, props.at("FilterOptions").AsString());
      return;
    }
    if (filter == props.end() ||
        (!text && std::find(known.begin(), known.end(), filter->second.AsString()) == known.end()))
      OfficeError("Unknown filter (com.sun.star.task.ErrorCodeIOException)");
    TellProgress(office(), props);
    office().files[url] = wb.Clone();
    if (switchUrl) doc()->url = url;
  }
};

class DesktopObject : public FakeObject {
 public:
  explicit DesktopObject(StateRef state) : FakeObject(std::move(state), "Desktop") {
    Method("loadComponentFromURL", [this](const VariantArray& a) -> Variant {
      FakeOffice& o = office();
      const std::string url = a.at(0).AsString();
      auto doc = std::make_shared<Doc>();
      doc->url = url;
      if (url == "private:factory/scalc") {
        doc->book = std::make_shared<Workbook>(Workbook::WithSheets());
      } else if (std::find(o.corruptFiles.begin(), o.corruptFiles.end(), url) !=
                 o.corruptFiles.end()) {
        return {};
      } else {
        const auto file = o.files.find(url);
        if (file == o.files.end())
          OfficeError("Unsupported URL <" + url +
                      ">: \"type detection failed\" (com.sun.star.lang.IllegalArgumentException)");
        doc->book = std::make_shared<Workbook>(file->second.Clone());
      }
      if (a.size() > 3) TellProgress(o, Properties(a.at(3)));
      this->state()->loaded.push_back(doc);
      return Make<DocumentObject>(this->state(), doc);
    });
    Property("Frames", [this]() -> Variant {
      auto frames = std::make_shared<FakeObject>(this->state(), "Frames");
      frames->Property("Count", [this]() -> Variant { return office().OpenFrames(); });
      return ObjectRef(frames);
    });
    Method("terminate", [this](const VariantArray&) -> Variant {
      office().terminated = true;
      return true;
    });
  }
};

class ServiceManagerObject : public FakeObject {
 public:
  explicit ServiceManagerObject(StateRef state) : FakeObject(std::move(state), "ServiceManager") {
    Method("createInstance", [this](const VariantArray& a) -> Variant {
      if (a.at(0).AsString() == "com.sun.star.util.NumberFormatter") {
        auto formatter = std::make_shared<FakeObject>(this->state(), "NumberFormatter");
        formatter->Method("attachNumberFormatsSupplier",
                          [](const VariantArray&) -> Variant { return {}; });
        formatter->Method("convertNumberToString", [](const VariantArray& f) -> Variant {
          return NumberShown(f.at(0).AsInt(), f.at(1).AsDouble());
        });
        return ObjectRef(formatter);
      }
      if (a.at(0).AsString() != "com.sun.star.frame.Desktop")
        OfficeError("Unknown service " + a.at(0).AsString());
      if (!this->state()->desktop)
        this->state()->desktop = std::make_shared<DesktopObject>(this->state());
      return this->state()->desktop;
    });
    // The office's own indicator would pass each report on to the object; here it is that.
    Method("Bridge_StatusIndicator", [](const VariantArray& a) -> Variant {
      if (!a.at(0).IsObject()) OfficeError("Bridge_StatusIndicator takes the object it tells");
      return a.at(0);
    });
    Method("Bridge_GetStruct", [this](const VariantArray& a) -> Variant {
      if (a.at(0).AsString() != "com.sun.star.beans.PropertyValue")
        OfficeError("Unknown struct type " + a.at(0).AsString());
      return ObjectRef(std::make_shared<FakeStruct>(this->state(), "PropertyValue",
                                                    std::vector<std::string>{"Name", "Value"}));
    });
  }
};

}  // namespace

// --- FakeOffice ----------------------------------------------------------------------------

FakeOffice::FakeOffice() : state_(std::make_shared<State>()) {
  state_->office = this;
  for (const auto& [key, format] : kFormatCodes) state_->formats[key] = {format.code, format.type};
}

FakeOffice::~FakeOffice() {
  state_->office = nullptr;
  state_->desktop.reset();  // it holds the state: break the cycle
}

ObjectRef FakeOffice::CreateObject(std::string_view progId) {
  if (!available) OfficeError("Invalid class string (no office installed)");
  if (progId != "com.sun.star.ServiceManager")
    OfficeError("Unknown automation server " + std::string(progId));
  terminated = false;
  state_->lost = false;
  state_->loseOn.clear();
  return std::make_shared<ServiceManagerObject>(state_);
}

std::size_t FakeOffice::Count(std::string_view member) const {
  const std::string wanted = Lower(member);
  return static_cast<std::size_t>(std::count_if(
      calls.begin(), calls.end(), [&](const CallRecord& c) { return Lower(c.member) == wanted; }));
}

void FakeOffice::FailOn(std::string member, int times, int after) {
  state_->failures[Lower(member)] = {after, times};
}

void FakeOffice::Abort() {
  ++aborts;
  state_->lost = true;
  if (onAbort) onAbort();
}

void FakeOffice::Forget(std::string member) {
  state_->forgotten.push_back(Lower(member));
}

void FakeOffice::LoseConnectionOn(std::string member, int after) {
  state_->loseOn = Lower(member);
  state_->loseAfter = after;
}

std::size_t FakeOffice::LoadedCount() const {
  return state_->loaded.size();
}

std::int32_t FakeOffice::OpenFrames() const {
  const auto open = std::count_if(state_->loaded.begin(), state_->loaded.end(),
                                  [](const auto& d) { return !d->closed; });
  return static_cast<std::int32_t>(open) + userFrames;
}

Workbook& FakeOffice::Loaded(std::size_t n) {
  return *state_->loaded.at(n)->book;
}

std::string FakeOffice::PropertyName(const Variant& property) {
  auto* s = dynamic_cast<FakeStruct*>(property.AsObject().get());
  return s ? s->fields["Name"].AsString() : std::string();
}

Variant FakeOffice::PropertyValue(const Variant& property) {
  auto* s = dynamic_cast<FakeStruct*>(property.AsObject().get());
  return s ? s->fields["Value"] : Variant();
}

}  // namespace fake
