// The block copies and the cell-by-cell reference give identical result files on real
// workbooks: every cell's text and type.
#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;
using automation::Variant;

// Each non-empty cell of the first sheet's used area: its shown text and content type. The
// formula array finds the non-empty cells in one call; each is then read by itself.
std::vector<std::string> Cells(const std::string& file) {
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(file, office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  sheet.MeasureUsedArea();
  const automation::VariantArray formulas =
      sheet.RangeAt(0, 0, sheet.LastUsedColumn(), sheet.LastUsedRow())
          .CellObject.Call("getFormulaArray")
          .AsArray();
  std::vector<std::string> cells;
  for (std::int32_t r = 0; r <= sheet.LastUsedRow(); ++r)
    for (std::int32_t c = 0; c <= sheet.LastUsedColumn(); ++c) {
      if (formulas[r].AsArray()[c].AsString().empty()) continue;
      office::TOOCalcCell& cell = sheet.CellAt(c, r);
      cells.push_back(std::to_string(r) + "," + std::to_string(c) + ": " + cell.ReadString() +
                      " [" + std::to_string(cell.CellObject.Call("getType").AsInt()) + "]");
    }
  const Variant notes = sheet.SheetObject.Call("getAnnotations");
  for (std::int32_t i = 0; i < notes.Call("getCount").AsInt(); ++i) {
    const Variant note = notes.Call("getByIndex", i);
    const Variant at = note.Call("getPosition");
    cells.push_back("note " + std::to_string(at.Get("Row").AsInt()) + "," +
                    std::to_string(at.Get("Column").AsInt()) + ": " +
                    note.Call("getString").AsString());
  }
  calc.Document.Call("close", true);
  return cells;
}

// Merges with the cell-by-cell reference and with the block copies; the cells of both results.
std::pair<std::vector<std::string>, std::vector<std::string>> MergeBothWays(
    const TempDir& dir, std::vector<std::string> args) {
  std::vector<std::string> results[2];
  for (const bool exact : {true, false}) {
    const std::string target = dir / (exact ? "exact.ods" : "block.ods");
    std::vector<std::string> all = args;
    all.insert(all.begin() + 2, {"-o", target});
    if (exact) all.push_back("--exact-calls");
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunMerge(cli::ParseMergeArguments(all), SharedOffice(), out, err, false),
              cli::kMerged)
        << err.str();
    results[exact] = Cells(target);
  }
  return {results[1], results[0]};
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
    auto format = [&](const std::string& code) { return FormatKey(calc, code); };
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

  const auto [exact, block] = MergeBothWays(dir, {main, add, "--link", "A=A", "--main-title-row",
                                                  "1", "--add-title-row", "1", "--ignore-case"});
  ASSERT_FALSE(exact.empty());
  EXPECT_EQ(exact, block);
}
// A protected main sheet refuses block writes but takes single cell writes, and ignores
// number formats set on its cells. Whatever the choices for the result, the default run
// writes what the reference writes, and what it writes to the same sheet unprotected: the
// chosen columns, in their order, as values with their formats where asked. The sheet is
// protected as before in the result.
TEST(CopyPaths, AProtectedMainSheetGetsTheSameFileEveryWay) {
  TempDir dir;
  const std::string open = dir / "open.ods", locked = dir / "main.ods", add = dir / "add.ods";
  SheetSpec m{"Main", {{0, 0, "Key", {}, {}}}}, a{"Add", {{0, 0, "Key", {}, {}}}};
  for (int r = 1; r < 30; ++r) {
    m.cells.push_back({0, r, "k" + std::to_string(r % 9), {}, {}});
    a.cells.push_back({0, r, "k" + std::to_string(r % 7), {}, {}});
    a.cells.push_back({1, r, "", r * 2.5, {}});
    a.cells.push_back({2, r, "text " + std::to_string(r), {}, {}});
    a.cells.push_back({3, r, "", 45000.0 + r, {}});
  }
  MakeWorkbook(add, {a});
  MakeWorkbook(open, {m});
  MakeWorkbook(locked, {m});
  for (const std::string& file : {add, locked}) {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(file, office::loHidden, 0);
    const Variant sheet = calc.Sheets().SheetByIndex(0).SheetObject;
    if (file == add)
      sheet.Call("getCellRangeByName", "D2:D30").Set("NumberFormat", FormatKey(calc, "YYYY-MM-DD"));
    else
      sheet.Call("protect", "");  // every cell locked
    calc.StoreDocument(file, "Calc");
    calc.Document.Call("close", true);
  }
  const auto isProtected = [](const std::string& file) {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(file, office::loHidden, 0);
    const bool protectedSheet = calc.Sheets().SheetByIndex(0).IsProtected();
    calc.Document.Call("close", true);
    return protectedSheet;
  };
  for (const bool keepValues : {false, true})
    for (const std::string copy : {"", "D,A"}) {
      SCOPED_TRACE(std::string(keepValues ? "--keep-values " : "") + copy);
      std::vector<std::string> choices = {"--link",          "A=A", "--main-title-row", "1",
                                          "--add-title-row", "1"};
      if (keepValues) choices.push_back("--keep-values");
      if (!copy.empty()) choices.insert(choices.end(), {"--copy", copy});
      std::vector<std::string> lockedArgs = {locked, add}, openArgs = {open, add};
      lockedArgs.insert(lockedArgs.end(), choices.begin(), choices.end());
      openArgs.insert(openArgs.end(), choices.begin(), choices.end());
      const auto [exact, block] = MergeBothWays(dir, lockedArgs);
      ASSERT_FALSE(exact.empty());
      EXPECT_EQ(exact, block);
      EXPECT_TRUE(isProtected(dir / "block.ods"));
      EXPECT_EQ(MergeBothWays(dir, openArgs).second, block);
      const std::string date = copy.empty() ? "1,5: " : "1,2: ";  // row 1 found add row 15
      const std::string shown = keepValues ? "2023-03-30 [1]" : "45015 [2]";
      EXPECT_NE(std::find(block.begin(), block.end(), date + shown), block.end())
          << testing::PrintToString(block);
    }
}

// --- generated workbooks -------------------------------------------------------------------

// One generated cell: a value (text or number) or a formula, under a number format code
// ("" keeps the standard format).
struct GenCell {
  std::int32_t column = 0, row = 0;
  Variant value;        // string or double; unused for formulas
  std::string formula;  // set instead of the value when not empty
  std::string format;
};

// Varied cells: the key columns draw on a small pool of ids (so add keys repeat and some main
// keys find nothing) in every form a key may be shown in; the other columns mix texts,
// numbers under formats, dates, formulas, errors, booleans and blanks.
class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  std::vector<GenCell> Sheet(std::int32_t rows, std::int32_t keyColumns, std::int32_t width,
                             std::int32_t keyPool) {
    std::vector<GenCell> cells;
    for (std::int32_t c = 0; c < width; ++c) cells.push_back({c, 0, "Title " + Letters(c), "", ""});
    for (std::int32_t r = 1; r <= rows; ++r)
      for (std::int32_t c = 0; c < width; ++c) {
        if (c < keyColumns) {
          if (auto cell = Key(c, r, Pick(keyPool) * (c + 1))) cells.push_back(*cell);
        } else if (auto cell = Other(c, r)) {
          cells.push_back(*cell);
        }
      }
    return cells;
  }

 private:
  static std::string Letters(std::int32_t c) {
    return std::string(1, static_cast<char>('A' + c % 26));
  }
  std::int32_t Pick(std::int32_t n) {
    return std::uniform_int_distribution<std::int32_t>(0, n - 1)(random_);
  }

  std::optional<GenCell> Key(std::int32_t c, std::int32_t r, std::int32_t id) {
    const std::string n = std::to_string(id);
    const double v = id;
    switch (Pick(28)) {
      case 0:
        return std::nullopt;
      case 1:
        return GenCell{c, r, "K" + n, "", ""};
      case 19:  // dates and times in two locales' ways
        return GenCell{c, r, v + 45000.5, "", "[$-407]NNNN, D. MMMM YYYY"};
      case 20:
        return GenCell{c, r, v + 45000.25, "", "[$-409]MM/DD/YYYY HH:MM AM/PM"};
      case 21:
        return GenCell{c, r, v / 100, "", "HH:MM:SS"};
      case 22:
        return GenCell{c, r, v / 1000, "", "0.00%"};
      case 23:
        return GenCell{c, r, static_cast<double>(id % 2), "", "BOOLEAN"};
      case 24:
        return GenCell{c, r, {}, "=NA()", ""};
      case 25:
        return GenCell{c, r, "K\n" + n, "", ""};  // a line break
      case 26:
        return GenCell{c, r, "K,\"" + n + "\"", "", ""};  // a comma and quotes
      case 27:
        return GenCell{c, r, {}, "=DATE(2024;1;1)+" + n, "[$-407]DD.MM.YYYY"};
      case 2:
        return GenCell{c, r, "k" + n + "  ", "", ""};  // case and blanks around
      case 3:
        return GenCell{c, r, " \tK" + n, "", ""};
      case 4:
        return GenCell{c, r, "Ключ" + n, "", ""};
      case 5:
        return GenCell{c, r, "ключ" + n + " 😀", "", ""};
      case 6:
        return GenCell{c, r, n, "", ""};  // a text that reads like the number
      case 7:
        return GenCell{c, r, v, "", ""};
      case 8:
        return GenCell{c, r, v, "", "0.00"};
      case 9:
        return GenCell{c, r, v + 45000, "", "YYYY-MM-DD"};
      case 10:
        return GenCell{c, r, "K" + n, "", "@"};
      case 11:
        return GenCell{c, r, "K" + n, "", "@\" kg\""};
      case 12:
        return GenCell{c, r, {}, "=\"K\"&\"" + n + "\"", ""};
      case 13:
        return GenCell{c, r, {}, "=" + n + "+0", ""};
      case 14:
        return GenCell{c, r, v, "", "#,##0"};
      case 15:
        return GenCell{c, r, v, "", "@"};  // a number under the text format
      case 16:
        return GenCell{c, r, v, "", "@\" kg\""};
      case 17:
        return GenCell{c, r, v * 1000, "", "#,##0.00 [$€-407]"};
      default:
        return GenCell{c, r, {}, "=1/0", ""};
    }
  }

  std::optional<GenCell> Other(std::int32_t c, std::int32_t r) {
    const double x = std::uniform_real_distribution<double>(-1e6, 1e6)(random_);
    switch (Pick(20)) {
      case 0:
      case 1:
        return std::nullopt;
      case 2:
        return GenCell{c, r, "text " + std::to_string(r), "", ""};
      case 3:
        return GenCell{c, r, "Grüße\nzwei Zeilen", "", ""};
      case 4:
        return GenCell{c, r, "  spaced  ", "", ""};
      case 5:
        return GenCell{c, r, std::string(300, 'w'), "", ""};
      case 6:
        return GenCell{c, r, x, "", ""};
      case 7:
        return GenCell{c, r, std::floor(x), "", ""};
      case 8:
        return GenCell{c, r, x * 1e15, "", ""};
      case 9:
        return GenCell{c, r, x * 1e-12, "", ""};
      case 10:
        return GenCell{c, r, 0.1 + 0.2, "", ""};
      case 11:
        return GenCell{c, r, x, "", "0.0;[RED]-0.0"};
      case 12:
        return GenCell{c, r, 45000 + x / 1e3, "", "DD.MM.YYYY HH:MM"};
      case 13:
        return GenCell{c, r, x / 1e6, "", "0%"};
      case 14:
        return GenCell{c, r, 1.0, "", "BOOLEAN"};
      case 15:
        return GenCell{c, r, {}, "=ROW()*1.5", ""};
      case 16:
        return GenCell{c, r, {}, "=\"f\"&ROW()", ""};
      case 17:
        return GenCell{c, r, {}, "=NA()", ""};
      case 18:
        return GenCell{c, r, "z" + std::to_string(r), "", "\"<\"@\">\""};
      default:
        return GenCell{c, r, x, "", "0.00E+00"};
    }
  }

  std::mt19937 random_;
};

// Writes generated cells into a new workbook: values in one block, then formulas and formats
// cell by cell.
void WriteGenerated(const std::string& file, const std::vector<GenCell>& cells,
                    const std::vector<std::pair<std::int32_t, std::int32_t>>& notes = {}) {
  std::int32_t right = 0, bottom = 0;
  for (const GenCell& c : cells) {
    right = std::max(right, c.column);
    bottom = std::max(bottom, c.row);
  }
  std::vector<automation::VariantArray> grid(static_cast<std::size_t>(bottom) + 1,
                                             automation::VariantArray(right + 1, Variant("")));
  for (const GenCell& c : cells)
    if (c.formula.empty()) grid[c.row][c.column] = c.value;
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument("", office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  sheet.RangeAt(0, 0, right, bottom)
      .SetDataArray(automation::VariantArray(grid.begin(), grid.end()));
  std::map<std::string, std::int32_t> keys;
  for (const GenCell& c : cells) {
    if (c.formula.empty() && c.format.empty()) continue;
    const Variant cell = sheet.SheetObject.Call("getCellByPosition", c.column, c.row);
    if (!c.formula.empty()) cell.Call("setFormula", c.formula);
    if (c.format.empty()) continue;
    if (!keys.count(c.format)) keys[c.format] = FormatKey(calc, c.format);
    cell.Set("NumberFormat", keys[c.format]);
  }
  for (const auto& [column, row] : notes) {
    Variant at = calc.ServiceManager.Call("Bridge_GetStruct", "com.sun.star.table.CellAddress");
    at.Set("Column", column);
    at.Set("Row", row);
    sheet.SheetObject.Call("getAnnotations").Call("insertNew", at, "note " + std::to_string(row));
  }
  calc.StoreDocument(file, "Calc");
  calc.Document.Call("close", true);
}

struct GeneratedCase {
  unsigned seed;
  std::int32_t mainRows, addRows, keyColumns, addWidth, keyPool;
  bool ignoreCase;
  bool wideMain;            // a main cell far right: only the first few add columns fit
  bool keepValues = false;  // numbers and dates copied as values with their formats
};

std::ostream& operator<<(std::ostream& out, const GeneratedCase& g) {
  return out << "seed " << g.seed << ", " << g.mainRows << " main rows, " << g.addRows
             << " add rows x " << g.addWidth << ", " << g.keyColumns << " link(s)"
             << (g.ignoreCase ? ", case-free" : "") << (g.wideMain ? ", wide main" : "")
             << (g.keepValues ? ", values kept" : "");
}

class GeneratedWorkbooks : public testing::TestWithParam<GeneratedCase> {};

TEST_P(GeneratedWorkbooks, BothPathsGiveTheSameFile) {
  const GeneratedCase& g = GetParam();
  TempDir dir;
  const std::string main = dir / "main.ods", add = dir / "add.ods";
  Generator generate(g.seed);
  std::vector<GenCell> mainCells =
      generate.Sheet(g.mainRows, g.keyColumns, g.keyColumns + 3, g.keyPool);
  if (g.wideMain) mainCells.push_back({249, 3, "far right", "", ""});
  // Notes just right of the main table's cells: they widen the table, the copies go after them.
  std::vector<std::pair<std::int32_t, std::int32_t>> notes;
  for (std::int32_t r = 2; r < g.mainRows; r += 7) notes.emplace_back(g.keyColumns + 4, r);
  WriteGenerated(main, mainCells, notes);
  WriteGenerated(add, generate.Sheet(g.addRows, g.keyColumns, g.addWidth, g.keyPool));

  std::vector<std::string> args = {main, add, "--main-title-row", "1", "--add-title-row", "1"};
  for (std::int32_t k = 0; k < g.keyColumns; ++k) {
    const std::string column(1, static_cast<char>('A' + k));
    args.insert(args.end(), {"--link", column + "=" + column});
  }
  if (g.ignoreCase) args.push_back("--ignore-case");
  if (g.keepValues) args.push_back("--keep-values");
  const auto [exact, block] = MergeBothWays(dir, args);
  ASSERT_GT(exact.size(), static_cast<std::size_t>(g.mainRows));
  EXPECT_EQ(exact, block);
}

INSTANTIATE_TEST_SUITE_P(Varied, GeneratedWorkbooks,
                         testing::Values(GeneratedCase{1, 150, 120, 1, 12, 40, false, false},
                                         GeneratedCase{2, 150, 120, 1, 12, 40, true, false},
                                         GeneratedCase{3, 120, 150, 2, 40, 6, true, false},
                                         GeneratedCase{4, 60, 80, 1, 20, 30, false, true},
                                         GeneratedCase{5, 150, 120, 1, 12, 40, false, false, true},
                                         GeneratedCase{6, 120, 150, 2, 40, 6, true, true, true}));

}  // namespace
