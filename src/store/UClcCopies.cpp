// The store's copies: cells read as a copy writes them, written one at a time or in blocks, their
// number formats carried into the target book; the sheet protection that stops them.
#include "store/UClc.hpp"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace store {

namespace {

// General decimal form: at most 15 significant digits, no trailing zeros, the locale's
// decimal separator; exponent form (1E20, 1.5E-7) beyond 15 integer digits or below 1E-5.
std::string NumberText(double value) {
  if (value == 0 || !std::isfinite(value)) return value == 0 ? "0" : std::to_string(value);
  // As printf's "%.14e" writes it, without its cost: every number copied as text passes here.
  char buf[32];
  const auto end =
      std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14)
          .ptr;
  *end = '\0';  // d.dddddddddddddde[+-]x
  std::string digits;
  digits += buf[0];
  digits.append(buf + 2, 14);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int exponent = std::atoi(std::strchr(buf, 'e') + 1);

  const char* point = std::localeconv()->decimal_point;
  const std::string separator = point && *point ? point : ".";
  std::string text = value < 0 ? "-" : "";
  if (exponent >= 15 || std::fabs(value) < 1e-5) {
    text += digits[0];
    if (digits.size() > 1) text += separator + digits.substr(1);
    text += "E" + std::to_string(exponent);
  } else if (exponent < 0) {
    text += "0" + separator + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto integer = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integer) {
      text += digits + std::string(integer - digits.size(), '0');
    } else {
      text += digits.substr(0, integer) + separator + digits.substr(integer);
    }
  }
  return text;
}

// Days from 1970-01-01 to a calendar day (proleptic Gregorian).
std::int64_t DaysOf(const office::Day& d) {
  const std::int64_t y = d.year - (d.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The source columns a row copy writes: the given ones, else all of the sheet's, as far as
// the target sheet has room from targetColumn (one-based) on.
std::vector<std::int32_t> ColumnsThatFit(const std::vector<std::int32_t>* columns,
                                         std::int32_t sourceColumns, std::int32_t room) {
  std::vector<std::int32_t> fit;
  if (columns)
    fit = *columns;
  else
    for (std::int32_t c = 0; c < sourceColumns; ++c) fit.push_back(c);
  if (static_cast<std::int32_t>(fit.size()) > room)
    fit.resize(static_cast<std::size_t>(std::max(0, room)));
  return fit;
}

}  // namespace

std::string clc::ValueText(const automation::Variant& value) {
  switch (value.type()) {
    case automation::Variant::Type::String:
      return value.AsString();
    case automation::Variant::Type::Int32:
    case automation::Variant::Type::Byte:
    case automation::Variant::Type::Double:
      return NumberText(value.AsDouble());
    case automation::Variant::Type::Boolean:
      return value.AsBool() ? "True" : "False";
    default:
      return {};
  }
}

const clc::CopiedFormat& clc::CopyFormat(std::int32_t sourceBook, std::int32_t key,
                                         std::int32_t targetBook) {
  const auto at = std::tuple(sourceBook, key, targetBook);
  if (const auto found = copiedFormats_.find(at); found != copiedFormats_.end())
    return found->second;
  // A format key belongs to its document: the code goes over, in its locale.
  Use(sourceBook);
  const office::NumberFormat format = Office->NumberFormatOf(key);
  const office::Day sourceNull = Office->NullDate();
  Use(targetBook);
  CopiedFormat copied;
  copied.key = Office->NumberFormatKey(format.code, format.locale);
  if (format.type & office::kDateFormat)
    copied.shift = static_cast<double>(DaysOf(sourceNull) - DaysOf(Office->NullDate()));
  return copiedFormats_[at] = copied;
}

CellCopy clc::AsCopy(const automation::Variant& value, std::int32_t sourceBook, std::int32_t key,
                     std::int32_t targetBook, CopyAs as) {
  if (as == CopyAs::Texts) return {ValueText(value), -1};
  const CopiedFormat& format = CopyFormat(sourceBook, key, targetBook);
  if (value.IsNumber()) return {value.AsDouble() + format.shift, format.key};
  return {value.IsString() ? value : automation::Variant(std::string()), format.key};
}

void clc::CopyRow(std::int32_t sourceBook, std::int32_t targetBook, std::int32_t sourceSheet,
                  std::int32_t targetSheet, std::int32_t sourceRow, std::int32_t targetRow,
                  std::int32_t targetColumn, const CopyPlan* plan) {
  const std::vector<std::int32_t>* columns = plan ? &plan->columns : nullptr;
  const CopyAs as = plan ? plan->as : CopyAs::Texts;
  const std::int32_t width = Books.at(static_cast<std::size_t>(sourceBook))
                                 .SheetList.at(static_cast<std::size_t>(sourceSheet))
                                 .ColCount;
  const std::int32_t limit = Books.at(static_cast<std::size_t>(targetBook))
                                 .SheetList.at(static_cast<std::size_t>(targetSheet))
                                 .ColumnLimit;
  const std::vector<std::int32_t> fit = ColumnsThatFit(columns, width, limit - (targetColumn - 1));
  if (fit.empty()) return;  // nothing fits: ask the office nothing

  Use(sourceBook);
  office::TOOCalcSheet& source = Office->Sheets().SheetByIndex(sourceSheet);
  const auto [left, right] = std::minmax_element(fit.begin(), fit.end());
  const automation::VariantArray rows =
      source.RangeAt(*left, sourceRow - 1, *right, sourceRow - 1).DataArray();
  const automation::VariantArray& values = rows.at(0).AsArray();
  std::vector<CellCopy> copies;
  for (const std::int32_t column : fit) {
    automation::Variant value = values.at(static_cast<std::size_t>(column - *left));
    std::int32_t key = 0;
    if (as == CopyAs::Values) {
      Use(sourceBook);
      office::TOOCalcCell& cell =
          Office->Sheets().SheetByIndex(sourceSheet).CellAt(column, sourceRow - 1);
      key = cell.NumberFormatKey();
      if (value.IsEmpty()) value = cell.ErrorText();  // an error reads as nothing
    }
    copies.push_back(AsCopy(value, sourceBook, key, targetBook, as));
  }

  SelectBook(targetBook);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(targetSheet);
  for (std::size_t i = 0; i < copies.size(); ++i) {
    office::TOOCalcCell& cell =
        target.CellAt(targetColumn - 1 + static_cast<std::int32_t>(i), targetRow - 1);
    if (copies[i].value.IsNumber())
      cell.WriteValue(copies[i].value.AsDouble());
    else
      cell.WriteString(copies[i].value.AsString());
    if (copies[i].format >= 0) cell.SetNumberFormat(copies[i].format);
  }
}

bool clc::LiftProtection(std::int32_t book, std::int32_t sheet) {
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  if (!target.IsProtected()) return false;
  try {
    target.Unprotect("");
  } catch (const automation::Refused&) {
    throw std::runtime_error("The sheet \"" + target.SheetName() +
                             "\" is protected with a password, so the kept values cannot have "
                             "their number formats there: remove its protection, or copy "
                             "without keeping values");
  }
  return true;
}

void clc::RestoreProtection(std::int32_t book, std::int32_t sheet) {
  Use(book);
  Office->Sheets().SheetByIndex(sheet).Protect("");
}

std::vector<std::vector<CellCopy>> clc::ReadCopies(std::int32_t book, std::int32_t sheet,
                                                   const std::vector<std::int32_t>& columns,
                                                   std::int32_t top, std::int32_t bottom,
                                                   std::int32_t targetBook, CopyAs as) {
  std::vector<std::vector<CellCopy>> rows(static_cast<std::size_t>(bottom - top + 1));
  if (columns.empty()) return rows;
  // Kept until the run ends: a row takes no more room than its cells.
  for (std::vector<CellCopy>& row : rows) row.reserve(columns.size());
  const auto [left, right] = std::minmax_element(columns.begin(), columns.end());
  Use(book);
  office::TOOCalcSheet& source = Office->Sheets().SheetByIndex(sheet);
  const automation::VariantArray values = source.RangeAt(*left, top, *right, bottom).DataArray();
  // The number format of each copied column: one call where the column has one, its parts
  // where it has several.
  std::vector<std::vector<std::int32_t>> keys(columns.size());
  if (as == CopyAs::Values)
    for (std::size_t k = 0; k < columns.size(); ++k) {
      office::TOOCalcCellRange& column = source.RangeAt(columns[k], top, columns[k], bottom);
      if (const std::optional<std::int32_t> key = column.UniformNumberFormat()) {
        keys[k].assign(rows.size(), *key);
        continue;
      }
      keys[k].assign(rows.size(), 0);
      for (const office::FormatPart& part : column.FormatParts())
        for (std::int32_t r = std::max(part.address.StartRow, top);
             r <= std::min(part.address.EndRow, bottom); ++r)
          keys[k][static_cast<std::size_t>(r - top)] = part.numberFormat;
    }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const automation::VariantArray& row = values.at(r).AsArray();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      automation::Variant value = row.at(static_cast<std::size_t>(columns[k] - *left));
      if (as == CopyAs::Values && value.IsEmpty()) {  // an error reads as nothing
        Use(book);
        value = Office->Sheets()
                    .SheetByIndex(sheet)
                    .CellAt(columns[k], top + static_cast<std::int32_t>(r))
                    .ErrorText();
      }
      rows[r].push_back(AsCopy(value, book, as == CopyAs::Values ? keys[k][r] : 0, targetBook, as));
    }
  }
  return rows;
}

void clc::WriteCopies(std::int32_t book, std::int32_t sheet, std::int32_t left, std::int32_t top,
                      std::span<const std::vector<CellCopy>* const> rows) {
  if (rows.empty() || rows.front()->empty()) return;
  automation::VariantArray values;
  values.reserve(rows.size());
  for (const auto* row : rows) {
    automation::VariantArray cells;
    cells.reserve(row->size());
    for (const CellCopy& cell : *row) cells.push_back(cell.value);
    values.emplace_back(std::move(cells));
  }
  Use(book);
  office::TOOCalcSheet& target = Office->Sheets().SheetByIndex(sheet);
  const auto width = static_cast<std::int32_t>(rows.front()->size());
  const auto height = static_cast<std::int32_t>(rows.size());
  target.RangeAt(left, top, left + width - 1, top + height - 1).SetDataArray(std::move(values));
  // One format write per run of rows of a column; rows without a format of their own (empty
  // rows between copied ones, whose cells are empty) join the run around them.
  const auto format = [&](std::int32_t r, std::int32_t c) {
    return (*rows[static_cast<std::size_t>(r)])[static_cast<std::size_t>(c)].format;
  };
  for (std::int32_t c = 0; c < width; ++c)
    for (std::int32_t first = 0, end = 0; first < height; first = end) {
      std::int32_t key = format(first, c);
      for (end = first + 1; end < height; ++end) {
        const std::int32_t next = format(end, c);
        if (key < 0)
          key = next;
        else if (next >= 0 && next != key)
          break;
      }
      if (key >= 0)
        target.RangeAt(left + c, top + first, left + c, top + end - 1).SetNumberFormat(key);
    }
}

}  // namespace store
