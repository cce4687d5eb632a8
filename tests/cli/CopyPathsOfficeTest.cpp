// The block copies and the cell-by-cell reference give identical result files on real
// workbooks: every cell's text and type.
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;
using automation::Variant;

// Each cell of the first sheet's used area: its shown text and content type.
std::vector<std::string> Cells(const std::string& file) {
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(file, office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  sheet.MeasureUsedArea();
  std::vector<std::string> cells;
  for (std::int32_t r = 0; r <= sheet.LastUsedRow(); ++r)
    for (std::int32_t c = 0; c <= sheet.LastUsedColumn(); ++c) {
      office::TOOCalcCell& cell = sheet.CellAt(c, r);
      cells.push_back(std::to_string(r) + "," + std::to_string(c) + ": " + cell.ReadString() +
                      " [" + std::to_string(cell.CellObject.Call("getType").AsInt()) + "]");
    }
  calc.Document.Call("close", true);
  return cells;
}

TEST(CopyPaths, BlockAndCellByCellGiveTheSameFile) {
  TempDir dir;
  const std::string main = dir / "main.ods", add = dir / "add.ods";
  SheetSpec m{"Main", {{0, 0, "Key", {}, {}}, {1, 0, "Main", {}, {}}}};
  SheetSpec a{"Add", {{0, 0, "Key", {}, {}}, {1, 0, "Text", {}, {}}, {2, 0, "Number", {}, {}}}};
  for (int r = 1; r < 60; ++r) {
    m.cells.push_back({0, r, r % 7 == 0 ? "" : "K" + std::to_string(r % 23), {}, {}});
    m.cells.push_back({1, r, "main " + std::to_string(r), {}, {}});
    a.cells.push_back({0, r, r % 5 == 0 ? " " : "k" + std::to_string(r % 29), {}, {}});
    a.cells.push_back({1, r, r % 3 ? "Grüße 😀 " + std::to_string(r) : "", {}, {}});
    if (r % 4) a.cells.push_back({2, r, "", r * 1234.5678 / 7, {}});
    if (r % 11 == 0) a.cells.push_back({7, r, "", 1e-7 * r, {}});  // a wide, sparse column
  }
  MakeWorkbook(main, {m});
  MakeWorkbook(add, {a});
  // Formulas, an error, and key cells whose shown text is not their value: numbers under
  // formats, a date, text formats with and without literals.
  for (const std::string& file : {main, add}) {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(file, office::loHidden, 0);
    const Variant sheet = calc.Sheets().SheetByIndex(0).SheetObject;
    const Variant formats = calc.Document.Call("getNumberFormats");
    Variant locale = calc.ServiceManager.Call("Bridge_GetStruct", "com.sun.star.lang.Locale");
    locale.Set("Language", "en");
    locale.Set("Country", "US");
    auto format = [&](const std::string& code) {
      const std::int32_t key = formats.Call("queryKey", code, locale, false).AsInt();
      return key >= 0 ? key : formats.Call("addNew", code, locale).AsInt();
    };
    auto key = [&](int row) { return sheet.Call("getCellByPosition", 0, row); };
    key(2).Call("setValue", 17.0);  // a number key "17.00"
    key(2).Set("NumberFormat", format("0.00"));
    key(3).Call("setValue", 45000.0);  // a date key
    key(3).Set("NumberFormat", format("YYYY-MM-DD"));
    key(4).Call("setString", "k4");  // "k4 kg" shown
    key(4).Set("NumberFormat", format("@\" kg\""));
    key(6).Call("setString", "k6");  // text format without literals: shown as it is
    key(6).Set("NumberFormat", format("@"));
    key(8).Call("setFormula", "=\"K\"&\"8\"");
    if (file == add) {
      sheet.Call("getCellByPosition", 3, 2).Call("setFormula", "=C3*2");
      sheet.Call("getCellByPosition", 3, 3).Call("setFormula", "=1/0");
      sheet.Call("getCellByPosition", 3, 4).Call("setFormula", "=\"t\"&B5");
    }
    calc.StoreDocument(file, "Calc");
    calc.Document.Call("close", true);
  }

  std::vector<std::string> results[2];
  for (const bool exact : {true, false}) {
    const std::string target = dir / (exact ? "exact.ods" : "block.ods");
    std::vector<std::string> args = {main,
                                     add,
                                     "-o",
                                     target,
                                     "--link",
                                     "A=A",
                                     "--main-title-row",
                                     "1",
                                     "--add-title-row",
                                     "1",
                                     "--ignore-case"};
    if (exact) args.push_back("--exact-calls");
    std::ostringstream out, err;
    ASSERT_EQ(cli::RunMerge(cli::ParseMergeArguments(args), SharedOffice(), out, err, false),
              cli::kMerged)
        << err.str();
    results[exact] = Cells(target);
  }
  ASSERT_FALSE(results[0].empty());
  EXPECT_EQ(results[0], results[1]);
}

}  // namespace
