#include "Tables.hpp"

#include <algorithm>
#include <random>
#include <tuple>

#include "office/uOpenOffice.hpp"
#include "support/OfficeTesting.hpp"

namespace bench {

using office_testing::CellSpec;
using office_testing::SheetSpec;

Keys gKeys = Keys::Text;

Keys ParseKeys(const std::string& kind) {
  return kind == "numbers"    ? Keys::Numbers
         : kind == "dates"    ? Keys::Dates
         : kind == "formulas" ? Keys::Formulas
                              : Keys::Text;
}

const char* KeysName() {
  switch (gKeys) {
    case Keys::Numbers:
      return "numbers";
    case Keys::Dates:
      return "dates";
    case Keys::Formulas:
      return "formulas";
    default:
      return "text";
  }
}

namespace {

CellSpec KeyCell(int row, int key) {
  switch (gKeys) {
    case Keys::Numbers:
      return CellSpec{0, row, "", static_cast<double>(key), {}};
    case Keys::Dates:
      return CellSpec{0, row, "", 30000.0 + key, {}};
    default:  // formulas are put in once the sheet is loaded
      return CellSpec{0, row, "K" + std::to_string(key), {}, {}};
  }
}

// What a flat file cannot say: the date format, the formulas, each for the whole column at once.
void FinishKeyColumn(office::TOOCalc& calc, const std::vector<int>& keys) {
  const auto last = static_cast<std::int32_t>(keys.size()) - 1;
  office::TOOCalcCellRange& column = calc.Sheets().SheetByIndex(0).RangeAt(0, 0, 0, last);
  if (gKeys == Keys::Dates)
    column.CellObject.Set("NumberFormat", office_testing::FormatKey(calc, "DD.MM.YYYY"));
  if (gKeys == Keys::Formulas) {
    automation::VariantArray rows;
    for (const int key : keys)
      rows.emplace_back(automation::VariantArray{"=\"K\"&" + std::to_string(key)});
    column.CellObject.Call("setFormulaArray", rows);
  }
}

// The key "K<key>" missed in the n-th way.
std::string NearMiss(int key, int n) {
  const std::string digits = std::to_string(key);
  switch (n % 6) {
    case 0:
      return "k" + digits;
    case 1: {
      std::string wide = "K";
      for (const char d : digits)
        wide += "\xEF\xBC" + std::string(1, static_cast<char>('\x90' + (d - '0')));
      return wide;
    }
    case 2:
      return "K " + digits;
    case 3:
      return "K-" + digits;
    case 4:
      return "K0" + digits;
    default:
      return "KX" + digits;
  }
}

}  // namespace

std::string MainKeyText(int r, int rows, bool nearMisses, bool& partner) {
  partner = r % 10 != 9;
  if (nearMisses && r % 20 == 9) return NearMiss(r, r / 20);
  return "K" + std::to_string(partner ? r : rows + r);
}

void MakeTables(const office_testing::TempDir& dir, int rows, const std::string& main,
                const std::string& add, bool nearMisses) {
  std::vector<int> order(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) order[static_cast<std::size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(42));
  SheetSpec m{"Main", {}}, a{"Add", {}};
  std::vector<int> mainKeys, addKeys;
  for (int r = 0; r < rows; ++r) {
    const int key = r % 10 == 9 ? rows + r : r;  // every tenth main row has no partner
    const int addKey = order[static_cast<std::size_t>(r)];
    mainKeys.push_back(key);
    addKeys.push_back(addKey);
    if (nearMisses && r % 20 == 9)
      m.cells.push_back(CellSpec{0, r, NearMiss(r, r / 20), {}, {}});
    else
      m.cells.push_back(KeyCell(r, key));
    a.cells.push_back(KeyCell(r, addKey));
    for (int c = 1; c < 10; ++c) {
      m.cells.push_back(c % 2 ? CellSpec{c, r, "", r * 0.5 + c, {}}
                              : CellSpec{c, r, "main " + std::to_string(r), {}, {}});
      a.cells.push_back(c % 2 ? CellSpec{c, r, "", addKey * 1.25 + c, {}}
                              : CellSpec{c, r, "add " + std::to_string(addKey), {}, {}});
    }
  }
  office::TOOCalc calc(office_testing::SharedOffice());
  calc.Connect(true);
  for (const auto& [sheet, file, keys] :
       {std::tuple{m, main, mainKeys}, std::tuple{a, add, addKeys}}) {
    const std::string flat = dir / "table.fods";
    office_testing::WriteFlatOds(flat, {sheet});
    calc.LoadDocument(flat, office::loHidden, 0);
    FinishKeyColumn(calc, keys);
    calc.StoreDocument(file, "Calc");
    calc.Document.Call("close", true);
  }
}

}  // namespace bench
