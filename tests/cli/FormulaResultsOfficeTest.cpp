// Main-sheet formulas that refer to other sheets or files: the result shows what the user saw
// (the other sheets are gone from it) and keys read from such cells still match; formulas of
// the main sheet itself stay formulas.
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;
using automation::Variant;

constexpr std::int32_t kFormulaCell = 3;  // com.sun.star.table.CellContentType FORMULA

struct Shown {
  std::string text;
  bool formula = false;
};
using Sheet = std::vector<std::vector<Shown>>;

// Shown texts and formula flags of the first `rows` x `columns` cells of a sheet.
Sheet Read(office::TOOCalcSheet& sheet, std::int32_t rows, std::int32_t columns) {
  Sheet cells(static_cast<std::size_t>(rows));
  for (std::int32_t r = 0; r < rows; ++r)
    for (std::int32_t c = 0; c < columns; ++c) {
      office::TOOCalcCell& cell = sheet.CellAt(c, r);
      cells[static_cast<std::size_t>(r)].push_back(
          {cell.ReadString(), cell.CellObject.Call("getType").AsInt() == kFormulaCell});
    }
  return cells;
}

TEST(FormulaResults, FormulasReferringElsewhereKeepTheirResultsAndKeysStillMatch) {
  TempDir dir;
  const std::string main = dir / "main.ods", add = dir / "add.ods", other = dir / "other.ods";
  MakeWorkbook(other, {{"Sheet1", {{0, 0, "from another file", {}, {}}}}});
  SheetSpec customers = CustomersSheet();
  customers.cells.insert(customers.cells.end(), {{0, 3, "c-42", {}, {}}, {1, 3, "Ngozi", {}, {}}});
  MakeWorkbook(add, {customers});

  // Lookup (before the main sheet), Orders (the main sheet), Totals (after it).
  constexpr std::int32_t kRows = 5, kColumns = 8;
  Sheet source;
  {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument("", office::loHidden, 0);
    const Variant sheets = calc.Document.Call("getSheets");
    sheets.Call("getByIndex", 0).Set("Name", "Lookup");
    sheets.Call("insertNewByName", "Orders", 1);
    sheets.Call("insertNewByName", "Totals", 2);
    const Variant lookup = sheets.Call("getByIndex", 0), orders = sheets.Call("getByIndex", 1);
    const auto cell = [](const Variant& sheet, int column, int row) {
      return sheet.Call("getCellByPosition", column, row);
    };
    const char* ids[] = {"C-17", "C-03", "C-42"};
    for (int r = 0; r < 3; ++r) {
      cell(lookup, 0, r).Call("setString", ids[r]);
      cell(lookup, 1, r).Call("setValue", 45000.0 + r);
      cell(lookup, 1, r).Set("NumberFormat", FormatKey(calc, "DD.MM.YYYY"));
    }
    cell(lookup, 2, 0).Call("setValue", 0.25);
    cell(lookup, 2, 0).Set("NumberFormat", FormatKey(calc, "0%"));
    const char* titles[] = {"Key", "Since",    "Missing", "Next day",
                            "Sum", "Indirect", "Self",    "Linked"};
    for (int c = 0; c < kColumns; ++c) cell(orders, c, 0).Call("setString", titles[c]);
    for (int r = 1; r < kRows - 1; ++r) {
      const std::string row = std::to_string(r);
      cell(orders, 0, r).Call("setFormula", "=$Lookup.A" + row);                    // a key
      cell(orders, 1, r).Call("setFormula", "=$Lookup.B" + row);                    // a date
      cell(orders, 2, r).Call("setFormula", "=VLOOKUP(\"zz\";$Lookup.A1:B3;2;0)");  // #N/A
      cell(orders, 3, r).Call("setFormula", "=B" + std::to_string(r + 1) + "+1");   // main only
      cell(orders, 4, r).Call("setFormula", "=SUM(1;2)");                           // main only
      cell(orders, 5, r).Call("setFormula", "=INDIRECT(\"Lookup.C1\")");            // hidden ref
      cell(orders, 6, r).Call("setFormula", "=$Orders.A" + std::to_string(r + 1));  // main only
    }
    cell(orders, 7, 1)
        .Call("setFormula",
              "='" + office::FileNameToUrl(other) + "'#$Sheet1.A1");  // a file
    // An array formula over two cells, changed only as a whole.
    orders.Call("getCellRangeByName", "A5:B5").Call("setArrayFormula", "=$Lookup.A1:B1");
    cell(sheets.Call("getByIndex", 2), 0, 0).Call("setFormula", "=$Orders.A2");
    calc.Sheets().ActivateSheet(1);
    calc.StoreDocument(main, "Calc");
    calc.Document.Call("close", true);
    calc.LoadDocument(main, office::loHidden, 0);
    source = Read(calc.Sheets().SheetByIndex(1), kRows, kColumns);
    calc.Document.Call("close", true);
  }
  ASSERT_EQ(source[1][1].text, "15.03.2023");
  ASSERT_EQ(source[1][2].text, "#N/A");
  ASSERT_EQ(source[1][7].text, "from another file");

  const std::string target = dir / "result.ods";
  std::ostringstream out, err;
  ASSERT_EQ(cli::RunMerge(cli::ParseMergeArguments({main, add, "-o", target, "--link", "A=A",
                                                    "--main-sheet", "Orders", "--main-title-row",
                                                    "1", "--add-title-row", "1", "--ignore-case"}),
                          SharedOffice(), out, err, false),
            cli::kMerged)
      << err.str();
  EXPECT_EQ(out.str(), "Result: " + target + "\nDone: 4 of 4 main rows matched\n");

  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(target, office::loHidden, 0);
  ASSERT_EQ(calc.Sheets().SheetCount(), 1);
  office::TOOCalcSheet& result = calc.Sheets().SheetByIndex(0);
  const Sheet merged = Read(result, kRows, kColumns + 4);
  for (std::int32_t r = 0; r < kRows; ++r)
    for (std::int32_t c = 0; c < kColumns; ++c) {
      SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
      const auto& [was, now] =
          std::pair(source[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)],
                    merged[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
      EXPECT_EQ(now.text, was.text);
      // Formulas of the sheet itself stay; those that looked elsewhere are their results now.
      const bool own = r > 0 && r < kRows - 1 && (c == 3 || c == 4 || c == 6);
      EXPECT_EQ(now.formula, own);
    }
  EXPECT_EQ(merged[1][kColumns + 2].text, "Chloé");  // C-17, copied after one empty column
  EXPECT_EQ(merged[3][kColumns + 2].text, "Ngozi");  // C-42 = c-42
  calc.Document.Call("close", true);
}

}  // namespace
