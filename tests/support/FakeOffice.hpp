// An in-memory office suite that answers the office layer's calls by name.
//
// Documents are workbooks of sheets of cells (display text, value, background colour); stored
// "files" live in `files` by URL; every call is recorded with its arguments; any member can be
// told to fail. Names resolve without regard to letter case, and a name an object does not
// have raises UnknownMemberError, as with the real office.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/Variant.hpp"

namespace fake {

using automation::ObjectRef;
using automation::Variant;
using automation::VariantArray;

// The in-memory office's number formats, by key: how a number cell shows its value.
enum Format : std::int32_t {
  kStandard = 0,     // "General": up to 15 significant digits
  kTwoDecimals = 1,  // "0.00"
  kText = 2,         // "@": text as it is
  kUnits = 3,        // "@\" kg\"": text with a literal after it
  kDate = 4,         // "YYYY-MM-DD": a date (its number counted from the book's null date)
};

struct Cell {
  std::string text;              // the text the cell shows (and its value when not a number)
  std::optional<double> number;  // a number cell's value
  std::int32_t backColor = -1;   // office form 0xRRGGBB, -1 without fill
  std::int32_t format = kStandard;

  bool HasContent() const { return number.has_value() || !text.empty(); }
  std::string Shown() const;  // the cell's text under its format
};

struct Sheet {
  std::string name;
  std::map<std::pair<std::int32_t, std::int32_t>, Cell> cells;  // (row, column), zero-based
  // Its password while protected: block writes are refused and number formats ignored.
  std::optional<std::string> protection;

  Cell& At(std::int32_t column, std::int32_t row) { return cells[{row, column}]; }
  const Cell* Find(std::int32_t column, std::int32_t row) const;
  // Zero-based end of the used area, (0, 0) for an empty sheet.
  std::int32_t EndRow() const;
  std::int32_t EndColumn() const;
};

struct Workbook {
  std::vector<std::shared_ptr<Sheet>> sheets;
  std::int32_t activeSheet = 0;
  std::int32_t nullYear = 1899, nullMonth = 12, nullDay = 30;  // what date numbers count from

  // A workbook with the given sheet names (default: one "Sheet1").
  static Workbook WithSheets(std::vector<std::string> names = {"Sheet1"});
  Sheet& operator[](std::size_t i) { return *sheets.at(i); }
  Workbook Clone() const;  // deep copy: a stored file is independent of its document
};

struct CallRecord {
  std::string object;  // kind of object: "ServiceManager", "Desktop", "Document", "Cell", ...
  std::string member;  // the name as the caller spelled it
  VariantArray args;   // for property sets: the value
};

class FakeOffice : public automation::ObjectFactory {
 public:
  FakeOffice();
  ~FakeOffice() override;

  ObjectRef CreateObject(std::string_view progId) override;

  // --- what the office holds ---
  std::map<std::string, Workbook> files;  // by URL
  std::vector<std::string> corruptFiles;  // URLs whose load answers an empty reference
  std::int32_t columnLimit = 16384;       // columns of every sheet, as the office has them
  std::int32_t rowLimit = 1048576;        // rows of every sheet
  bool available = true;                  // false: CreateObject raises (no office installed)
  std::int32_t userFrames = 0;            // office windows the user opened himself
  bool terminated = false;

  // --- what was asked ---
  std::vector<CallRecord> calls;
  std::size_t Count(std::string_view member) const;  // calls of a member, any letter case
  void ClearCalls() { calls.clear(); }

  // After `after` more calls that succeed, the next `times` calls of the member (any letter
  // case) raise an office error.
  void FailOn(std::string member, int times = 1, int after = 0);
  // After `after` more calls of the member succeed, the office is gone, as when it dies: that
  // call and every later one raise ConnectionLost, until a new connection is made.
  void LoseConnectionOn(std::string member, int after = 0);
  // The member is unknown from now on, as though misspelt in the caller.
  void Forget(std::string member);
  // Called before every call, on the calling thread: a test can hold a run at a chosen call.
  std::function<void(std::string_view member)> beforeCall;
  // Called with the file each text export wrote: a test can spoil it as a failing disk would.
  std::function<void(const std::string& file)> afterExport;
  // What a load or a store tells a StatusIndicator handed in with it, on a thread of its own:
  // start with a range of kProgressRange, setValue with each of these, end. An indicator that
  // raises fails the work. The last indicator handed in is kept, as the office keeps it.
  static constexpr std::int32_t kProgressRange = 100;
  std::vector<std::int32_t> progressValues = {25, 50, 75};
  Variant lastIndicator;
  // As the office's end: every later call raises ConnectionLost, until a new connection;
  // `onAbort` lets a held call go.
  void Abort() override;
  std::function<void()> onAbort;
  std::size_t aborts = 0;

  // Documents loaded so far (closed ones included), in load order.
  std::size_t LoadedCount() const;
  std::int32_t OpenFrames() const;
  // The live workbook of the n-th loaded document.
  Workbook& Loaded(std::size_t n);

  // A PropertyValue struct's fields, read without recording a call.
  static std::string PropertyName(const Variant& property);
  static Variant PropertyValue(const Variant& property);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace fake
