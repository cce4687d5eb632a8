// Main-sheet formulas that refer to other sheets or files: the result shows what the user saw
// (the other sheets are gone from it) and keys read from such cells still match; formulas of
// the main sheet itself stay formulas.
#include <algorithm>
#include <cstdlib>
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
    NewBook book({"Lookup", "Orders", "Totals"});
    office::TOOCalc& calc = book.calc;
    const Variant lookup = book.Sheet(0), orders = book.Sheet(1);
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
    cell(book.Sheet(2), 0, 0).Call("setFormula", "=$Orders.A2");
    calc.Sheets().ActivateSheet(1);
    book.Store(main);
  }
  {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
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

// A pivot table on the main sheet whose data come from another sheet: the result keeps its
// figures, and the command says that a refresh would lose them.
TEST(FormulaResults, APivotTableDrawingOnARemovedSheetIsWarnedOf) {
  TempDir dir;
  const std::string main = dir / "main.ods", add = dir / "add.ods";
  MakeWorkbook(add, {CustomersSheet()});
  {
    NewBook book({"Data", "Orders"});
    office::TOOCalc& calc = book.calc;
    const Variant data = book.Sheet(0), orders = book.Sheet(1);
    data.Call("getCellRangeByName", "A1:B5")
        .Call("setDataArray", automation::VariantArray{automation::VariantArray{"City", "Amount"},
                                                       automation::VariantArray{"Lyon", 1.0},
                                                       automation::VariantArray{"Köln", 2.0},
                                                       automation::VariantArray{"Lyon", 3.0},
                                                       automation::VariantArray{"Köln", 4.0}});
    orders.Call("getCellRangeByName", "A1:A2")
        .Call("setDataArray", automation::VariantArray{automation::VariantArray{"Key"},
                                                       automation::VariantArray{"C-17"}});
    const Variant tables = orders.Call("getDataPilotTables");
    const Variant pivot = tables.Call("createDataPilotDescriptor");
    const Variant source =
        calc.ServiceManager.Call("Bridge_GetStruct", "com.sun.star.table.CellRangeAddress");
    for (const auto& [field, value] : std::vector<std::pair<const char*, std::int32_t>>{
             {"Sheet", 0}, {"StartColumn", 0}, {"StartRow", 0}, {"EndColumn", 1}, {"EndRow", 4}})
      source.Set(field, value);
    pivot.Call("setSourceRange", source);
    const Variant fields = pivot.Call("getDataPilotFields");
    fields.Call("getByIndex", 0).Set("Orientation", 2);  // ROW
    fields.Call("getByIndex", 1).Set("Orientation", 4);  // DATA
    fields.Call("getByIndex", 1).Set("Function", 2);     // SUM
    const Variant at =
        calc.ServiceManager.Call("Bridge_GetStruct", "com.sun.star.table.CellAddress");
    at.Set("Sheet", 1);
    at.Set("Column", 3);
    at.Set("Row", 4);
    tables.Call("insertNewByName", "Sales", at, pivot);
    book.Store(main);
  }
  const std::string target = dir / "result.ods";
  std::ostringstream out, err;
  ASSERT_EQ(cli::RunMerge(cli::ParseMergeArguments(
                              {main, add, "-o", target, "--link", "A=A", "--main-sheet", "Orders"}),
                          SharedOffice(), out, err, false),
            cli::kMerged)
      << err.str();
  EXPECT_NE(
      err.str().find(
          "\nWarning: The pivot table \"Sales\" takes its data from the sheet \"Data\", which "
          "is not in the result: its figures are kept, but refreshing it would lose them.\n"),
      std::string::npos)
      << err.str();
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(target, office::loHidden, 0);
  ASSERT_EQ(calc.Sheets().SheetCount(), 1);
  const Sheet merged = Read(calc.Sheets().SheetByIndex(0), 10, 5);
  std::vector<std::string> figures;
  for (const auto& row : merged) figures.push_back(row[3].text + "=" + row[4].text);
  EXPECT_NE(std::find(figures.begin(), figures.end(), "Köln=6"), figures.end())
      << testing::PrintToString(figures);
  EXPECT_NE(std::find(figures.begin(), figures.end(), "Lyon=4"), figures.end());
  calc.Document.Call("close", true);
}

// A workbook written by another program with the results it computed, one of which the office
// computes otherwise once it calculates again (removing a sheet makes it): the keys are read
// as the user saw them, so the book matches a copy of itself, and the result shows what it
// showed, both ways of copying.
TEST(FormulaResults, ResultsCachedByAnotherProgramStayAsShownAndStillMatch) {
  TempDir dir;
  const std::string main = dir / "excel.xlsx", add = dir / "copy.xlsx";
  constexpr int kRows = 40;
  const std::string make = "/usr/bin/python3 '" + std::string(TABLOOM_SOURCE_DIR) +
                           "/tests/support/xlsx_with_cached_results.py' '" + main + "' " +
                           std::to_string(kRows);
  ASSERT_EQ(std::system(make.c_str()), 0)
      << "scripts/setup installs python3-openpyxl for /usr/bin/python3";
  fs::copy_file(main, add);
  for (const bool exact : {false, true}) {
    SCOPED_TRACE(exact ? "cell by cell" : "in blocks");
    const std::string target = dir / (exact ? "exact.ods" : "blocks.ods");
    std::vector<std::string> args = {
        main, add, "-o", target, "--link", "G=G", "--main-sheet", "Main", "--main-title-row", "1"};
    if (exact) args.push_back("--exact-calls");
    std::ostringstream out, err;
    ASSERT_EQ(cli::RunMerge(cli::ParseMergeArguments(args), SharedOffice(), out, err, false),
              cli::kMerged)
        << err.str();
    EXPECT_EQ(out.str(), "Result: " + target + "\nDone: " + std::to_string(kRows) + " of " +
                             std::to_string(kRows) + " main rows matched\n");

    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(target, office::loHidden, 0);
    const Sheet merged = Read(calc.Sheets().SheetByIndex(0), kRows + 1, 15);
    for (int r = 1; r <= kRows; ++r) {
      const std::string id = "R" + std::to_string(r + 1);
      const auto& row = merged[static_cast<std::size_t>(r)];
      EXPECT_EQ(row[6].text, "FALSE-Z" + id);   // G, as shown
      EXPECT_EQ(row[8].text, id);               // the add row of the same key
      EXPECT_EQ(row[14].text, "FALSE-Z" + id);  // its G
    }
    calc.Document.Call("close", true);
  }
}

}  // namespace
