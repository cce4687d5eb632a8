// The store's sheet removal: a sheet removed from its book, and what the formulas of the sheet
// that stays showed before it, put back where the removal changed them.
#include "store/UClc.hpp"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace store {

bool clc::DeleteSheet(std::int32_t book, std::int32_t sheet, bool save) {
  try {
    Use(book);
    Office->Sheets().RemoveSheet(sheet);
    clc_file& entry = Books.at(static_cast<std::size_t>(book));
    entry.SheetList.clear();
    entry.SheetList = ReadSheets(book);
    if (save) SaveBook(book);
    return true;
  } catch (const automation::Refused&) {
    return false;
  }
}

namespace {

// Whether a formula's text reaches outside its sheet: a reference naming one of `sheets`
// ("$Other.A1", "$'Q1 plan'.B2") or another file ("'file:///x.ods'#$Sheet1.A1"). Quoted
// literals ("...") are skipped.
bool NamesElsewhere(const std::string& formula, const std::vector<std::string>& sheets) {
  std::string code;  // the formula without its string literals
  bool literal = false;
  for (const char c : formula) {
    if (c == '"') literal = !literal;
    if (!literal) code += c;
  }
  if (code.find("'#") != std::string::npos) return true;
  for (const std::string& name : sheets) {
    std::string quoted = "'";
    for (const char c : name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    if (code.find(name + ".") != std::string::npos || code.find(quoted + "'.") != std::string::npos)
      return true;
  }
  return false;
}

// A reference to another file stays valid when sheets go, so it is found by its text.
bool NamesAnotherFile(const std::string& formula) {
  return NamesElsewhere(formula, {});
}

using CellKey = std::uint64_t;

CellKey Key(std::int32_t column, std::int32_t row) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) |
         static_cast<std::uint32_t>(column);
}

std::int64_t Area(const office::CellRangeAddress& a) {
  return std::int64_t{a.EndColumn - a.StartColumn + 1} * (a.EndRow - a.StartRow + 1);
}

office::CellRangeAddress Union(office::CellRangeAddress a, const office::CellRangeAddress& b) {
  a.StartColumn = std::min(a.StartColumn, b.StartColumn);
  a.StartRow = std::min(a.StartRow, b.StartRow);
  a.EndColumn = std::max(a.EndColumn, b.EndColumn);
  a.EndRow = std::max(a.EndRow, b.EndRow);
  return a;
}

// The cells of some ranges of formula cells (the office lists no more than there are).
std::unordered_set<CellKey> CellsOf(const std::vector<office::CellRangeAddress>& ranges) {
  std::unordered_set<CellKey> cells;
  for (const office::CellRangeAddress& a : ranges)
    for (std::int32_t row = a.StartRow; row <= a.EndRow; ++row)
      for (std::int32_t column = a.StartColumn; column <= a.EndColumn; ++column)
        cells.insert(Key(column, row));
  return cells;
}

// A range joins the box before it while that box stays at most twice the size of the cells
// in it: few calls for ranges close together, no read of the space between far ones.
std::vector<FormulaSnapshot::Part> Parts(const std::vector<office::CellRangeAddress>& ranges) {
  std::vector<FormulaSnapshot::Part> parts;
  std::int64_t cells = 0;
  for (const office::CellRangeAddress& a : ranges) {
    if (!parts.empty()) {
      const office::CellRangeAddress box = Union(parts.back().box, a);
      if (Area(box) <= 2 * (cells + Area(a))) {
        parts.back().box = box;
        parts.back().ranges.push_back(a);
        cells += Area(a);
        continue;
      }
    }
    parts.push_back({a, {a}});
    cells = Area(a);
  }
  return parts;
}

// Calls `each(column, row, r, c)` for the part's cells in the snapshot's order; r and c are
// the cell's place in the part's box.
template <typename F>
void EachCell(const FormulaSnapshot::Part& part, F&& each) {
  for (const office::CellRangeAddress& a : part.ranges)
    for (std::int32_t row = a.StartRow; row <= a.EndRow; ++row)
      for (std::int32_t column = a.StartColumn; column <= a.EndColumn; ++column)
        each(column, row, static_cast<std::size_t>(row - part.box.StartRow),
             static_cast<std::size_t>(column - part.box.StartColumn));
}

// One value per snapshot cell, in its order: each part's box in one call of `read`.
std::vector<automation::Variant> ReadParts(
    office::TOOCalcSheet& target, const std::vector<FormulaSnapshot::Part>& parts,
    automation::VariantArray (office::TOOCalcCellRange::*read)()) {
  std::vector<automation::Variant> values;
  for (const FormulaSnapshot::Part& part : parts) {
    const office::CellRangeAddress& b = part.box;
    const automation::VariantArray rows =
        (target.RangeAt(b.StartColumn, b.StartRow, b.EndColumn, b.EndRow).*read)();
    EachCell(part, [&](std::int32_t, std::int32_t, std::size_t r, std::size_t c) {
      values.push_back(rows.at(r).AsArray().at(c));
    });
  }
  return values;
}

// The snapshot's formula cells that show an error now.
std::unordered_set<CellKey> FailingNow(office::TOOCalcSheet& target,
                                       const FormulaSnapshot& snapshot) {
  office::CellRangeAddress all = snapshot.parts.front().box;
  for (const FormulaSnapshot::Part& part : snapshot.parts) all = Union(all, part.box);
  return CellsOf(target.RangeAt(all.StartColumn, all.StartRow, all.EndColumn, all.EndRow)
                     .FormulaCells(office::frError));
}

// Whether a formula's result now is not what it showed when the snapshot was taken.
bool ShowsOtherwise(const FormulaSnapshot::Cell& was, const automation::Variant& now,
                    bool errorNow) {
  if (was.isError || errorNow) return was.isError != errorNow;
  if (was.isNumber) return !now.IsNumber() || now.AsDouble() != was.number;
  return !now.IsString() || now.AsString() != was.text;
}

// Puts back the results a snapshot's formulas showed, as values in the cells' own formats.
class Freezer {
 public:
  Freezer(office::TOOCalcSheet& target, const FormulaSnapshot& snapshot)
      : target_(target), snapshot_(snapshot), frozen_(snapshot.cells.size()) {
    for (std::size_t i = 0; i < snapshot.cells.size(); ++i)
      at_[Key(snapshot.cells[i].column, snapshot.cells[i].row)] = i;
  }

  // The given cells (indexes into the snapshot) not frozen yet; an error whose text was not
  // read stays as it is.
  void Freeze(std::vector<std::size_t> which) {
    std::erase_if(which, [&](std::size_t i) {
      const FormulaSnapshot::Cell& cell = snapshot_.cells[i];
      return frozen_[i] || (cell.isError && !cell.errorShown);
    });
    for (const std::size_t i : which)
      if (!frozen_[i] && snapshot_.cells[i].formula.rfind("{", 0) == 0) FreezeArray(i);
    std::erase_if(which, [&](std::size_t i) { return frozen_[i]; });
    FreezeRuns(std::move(which));
  }

  bool Frozen(std::size_t i) const { return frozen_[i]; }
  std::int32_t Count() const { return count_; }

 private:
  automation::Variant Result(std::size_t i) const {
    const FormulaSnapshot::Cell& cell = snapshot_.cells[i];
    return cell.isNumber && !cell.isError ? automation::Variant(cell.number)
                                          : automation::Variant(cell.text);
  }

  // An array formula ({=...}) can only be changed as a whole.
  void FreezeArray(std::size_t i) {
    const office::CellRangeAddress array =
        target_.FormulaArrayAt(snapshot_.cells[i].column, snapshot_.cells[i].row);
    automation::VariantArray rows;
    for (std::int32_t row = array.StartRow; row <= array.EndRow; ++row) {
      automation::VariantArray values;
      for (std::int32_t column = array.StartColumn; column <= array.EndColumn; ++column) {
        const auto k = at_.find(Key(column, row));
        values.push_back(k == at_.end() ? automation::Variant(std::string()) : Result(k->second));
        if (k != at_.end()) frozen_[k->second] = true;
      }
      rows.emplace_back(std::move(values));
    }
    target_.RangeAt(array.StartColumn, array.StartRow, array.EndColumn, array.EndRow)
        .SetDataArray(std::move(rows));
    count_ += static_cast<std::int32_t>(Area(array));
  }

  // A run of rows of one column per block write.
  void FreezeRuns(std::vector<std::size_t> which) {
    std::sort(which.begin(), which.end(), [&](std::size_t a, std::size_t b) {
      const FormulaSnapshot::Cell &x = snapshot_.cells[a], &y = snapshot_.cells[b];
      return std::tie(x.column, x.row) < std::tie(y.column, y.row);
    });
    for (std::size_t first = 0, end = 0; first < which.size(); first = end) {
      const FormulaSnapshot::Cell& top = snapshot_.cells[which[first]];
      for (end = first + 1;
           end < which.size() && snapshot_.cells[which[end]].column == top.column &&
           snapshot_.cells[which[end]].row == snapshot_.cells[which[end - 1]].row + 1;
           ++end) {
      }
      automation::VariantArray rows;
      for (std::size_t k = first; k < end; ++k)
        rows.emplace_back(automation::VariantArray{Result(which[k])});
      try {
        target_
            .RangeAt(top.column, top.row, top.column,
                     top.row + static_cast<std::int32_t>(end - first) - 1)
            .SetDataArray(rows);
      } catch (const automation::Refused&) {
        // Protected cells take single writes only.
        for (std::size_t k = first; k < end; ++k) WriteOne(which[k]);
      }
      for (std::size_t k = first; k < end; ++k) frozen_[which[k]] = true;
      count_ += static_cast<std::int32_t>(end - first);
    }
  }

  void WriteOne(std::size_t i) {
    const FormulaSnapshot::Cell& cell = snapshot_.cells[i];
    office::TOOCalcCell& single = target_.CellAt(cell.column, cell.row);
    if (cell.isNumber && !cell.isError)
      single.WriteValue(cell.number);
    else
      single.WriteString(cell.text);
  }

  office::TOOCalcSheet& target_;
  const FormulaSnapshot& snapshot_;
  std::unordered_map<CellKey, std::size_t> at_;
  std::vector<bool> frozen_;
  std::int32_t count_ = 0;
};

}  // namespace

FormulaSnapshot clc::ReadFormulas(std::int32_t book, std::int32_t sheet) {
  FormulaSnapshot snapshot;
  const clc_file& entry = Books.at(static_cast<std::size_t>(book));
  const struct sheet& s = entry.SheetList.at(static_cast<std::size_t>(sheet));
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  office::TOOCalcCellRange& used = target.RangeAt(0, 0, s.ColCount - 1, s.RowCount - 1);
  const std::vector<office::CellRangeAddress> formulas = used.ContentCells(office::cfFormula);
  if (formulas.empty()) return snapshot;
  const std::unordered_set<CellKey> failing = CellsOf(used.FormulaCells(office::frError));
  snapshot.parts = Parts(formulas);
  const std::vector<automation::Variant> texts =
      ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::FormulaArray);
  const std::vector<automation::Variant> values =
      ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::DataArray);
  std::vector<std::string> others;
  for (std::size_t i = 0; i < entry.SheetList.size(); ++i)
    if (static_cast<std::int32_t>(i) != sheet) others.push_back(entry.SheetList[i].Name);

  for (const FormulaSnapshot::Part& part : snapshot.parts)
    EachCell(part, [&](std::int32_t column, std::int32_t row, std::size_t, std::size_t) {
      const std::size_t i = snapshot.cells.size();
      FormulaSnapshot::Cell& cell = snapshot.cells.emplace_back();
      cell.column = column;
      cell.row = row;
      cell.formula = texts[i].AsString();
      cell.isNumber = values[i].IsNumber();
      if (cell.isNumber) cell.number = values[i].AsDouble();
      if (values[i].IsString()) cell.text = values[i].AsString();
      cell.isError = failing.contains(Key(column, row));
    });
  // The error a formula shows is to be had only one cell at a time: read it where the formula
  // may lose its meaning.
  for (FormulaSnapshot::Cell& cell : snapshot.cells)
    if (cell.isError && NamesElsewhere(cell.formula, others)) {
      cell.text = target.CellAt(cell.column, cell.row).ReadString();
      cell.errorShown = true;
    }
  return snapshot;
}

std::int32_t clc::FreezeFormulas(std::int32_t book, std::int32_t sheet,
                                 const FormulaSnapshot& snapshot) {
  if (snapshot.cells.empty()) return 0;
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  Freezer freezer(target, snapshot);

  // References to removed sheets changed the formula's text; references to files did not,
  // and would look elsewhere once the result is moved.
  const std::vector<automation::Variant> texts =
      ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::FormulaArray);
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < snapshot.cells.size(); ++i)
    if (texts[i].AsString() != snapshot.cells[i].formula ||
        NamesAnotherFile(snapshot.cells[i].formula))
      changed.push_back(i);
  freezer.Freeze(changed);

  // Whatever shows another result now: references the text does not show (a named range,
  // INDIRECT) that turned into errors, and results the office computes otherwise than the
  // program that wrote the file did (the removals made it calculate them again). A formula
  // of the sheet itself that depended on a frozen cell shows its old result again.
  for (int pass = 0; pass < 3; ++pass) {
    const std::vector<automation::Variant> now =
        ReadParts(target, snapshot.parts, &office::TOOCalcCellRange::DataArray);
    const std::unordered_set<CellKey> failing = FailingNow(target, snapshot);
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < snapshot.cells.size(); ++i) {
      const FormulaSnapshot::Cell& cell = snapshot.cells[i];
      if (!freezer.Frozen(i) &&
          ShowsOtherwise(cell, now[i], failing.contains(Key(cell.column, cell.row))))
        differing.push_back(i);
    }
    const std::int32_t before = freezer.Count();
    freezer.Freeze(differing);
    if (freezer.Count() == before) break;  // nothing left, or only errors of unknown text
  }
  return freezer.Count();
}

}  // namespace store
