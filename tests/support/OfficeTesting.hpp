// Support for tests and benchmarks against the real office: one office per test program,
// shared by every connection; temporary folders; workbooks built through the office itself;
// and the check that no office process outlives the program.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "office/uOpenOffice.hpp"

namespace office_testing {

using automation::Variant;
namespace fs = std::filesystem;

// Hands every caller the same office connection; starts a new office only when the last one
// was terminated (closing the last document does that).
class SharedOfficeFactory : public automation::ObjectFactory {
 public:
  automation::ObjectRef CreateObject(std::string_view progId) override;
  void SetCallTimeout(std::chrono::milliseconds limit) override {
    automation::SystemFactory().SetCallTimeout(limit);
  }
  void Abort() override { automation::SystemFactory().Abort(); }
  void Release() { shared_.reset(); }

 private:
  automation::ObjectRef shared_;
};

SharedOfficeFactory& SharedOffice();

// soffice.bin processes whose parent is `parent` (zombies excluded); default: this process.
std::vector<pid_t> ChildOfficePids(pid_t parent = 0);

// Whether a process has ended: it is gone, or a zombie not yet reaped.
bool ProcessEnded(pid_t pid);
// The state letter in /proc/PID/stat: R running, S sleeping, T stopped, Z zombie; 0 when gone.
char ProcessState(pid_t pid);

// The argument that makes an office test program start an office and kill itself.
extern const char* const kStartOfficeAndDie;

// Runs all tests, ends the shared office, and fails when an office process we started is left.
int RunOfficeTests(int argc, char** argv);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// A cell to put into a workbook built by MakeWorkbook.
struct CellSpec {
  std::int32_t column = 0, row = 0;  // zero-based
  std::string text;                  // set as text unless empty
  std::optional<double> number;      // set as a value
  std::optional<std::int32_t> backColor;
};

struct SheetSpec {
  std::string name;
  std::vector<CellSpec> cells;
};

// Writes a flat OpenDocument spreadsheet (.fods) directly, without the office. Unlike a book
// stored from a hidden document it records its active sheet.
void WriteFlatOds(const std::string& fileName, const std::vector<SheetSpec>& sheets,
                  std::int32_t activeSheet = 0);

// Numbers under formats of every kind: currency, percent, booleans, scientific, colours,
// fractions, times, the text formats, dates in a locale's words; (value, format code, "" for
// the standard format).
extern const std::vector<std::pair<double, std::string>> kFormattedNumbers;
// Formulas of every kind of result: errors, a text, a boolean, a date, a number whose format
// comes from the cell it refers to (B21: kFormattedNumbers' first, placed from row 21 on).
extern const std::vector<const char*> kFormulaKinds;

// The add table several tests merge: "Customers", ID and Name, C-03 Åsa and C-17 Chloé.
SheetSpec CustomersSheet();

// A new hidden document on the shared office whose sheets have the given names, to be filled
// through the office's own calls; closed when it goes.
class NewBook {
 public:
  explicit NewBook(const std::vector<std::string>& sheetNames);
  ~NewBook();
  NewBook(const NewBook&) = delete;
  NewBook& operator=(const NewBook&) = delete;

  Variant Sheet(std::int32_t index) const;
  // calc8, or "MS Excel 97" for a name that ends in .xls.
  void Store(const std::string& fileName);

  office::TOOCalc calc;
};

// Writes a workbook through the office (calc8 unless the name ends in .xls).
void MakeWorkbook(const std::string& fileName, const std::vector<SheetSpec>& sheets,
                  std::int32_t activeSheet = 0);

// The current document's key for a number format code (en-US), added when it is new.
std::int32_t FormatKey(office::TOOCalc& calc, const std::string& code);

// A connected office layer on the shared office; every document it loaded is closed after
// the test.
class OfficeTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<office::TOOCalc> calc;
  TempDir dir;
};

// Waits (bounded) for a condition, polling.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound);

}  // namespace office_testing
