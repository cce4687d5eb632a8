// The store's books: open, read their sheet lists, select, save, close; the office connection.
#include "store/UClc.hpp"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "store/StoreInternal.hpp"

namespace store {

namespace {

// 1048576 -> "1,048,576".
std::string Grouped(std::int64_t n) {
  std::string digits = std::to_string(n);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), 1, ',');
  return digits;
}

std::string WithoutFolder(const std::string& fileName) {
  const std::size_t sep = fileName.find_last_of("\\/:");
  return sep == std::string::npos ? fileName : fileName.substr(sep + 1);
}

}  // namespace

clc::clc(automation::ObjectFactory& factory)
    : Office(std::make_unique<office::TOOCalc>(factory)), factory_(factory) {
  // The office is ours for the program's life: closing the last book must not end it.
  Office->KeepsOffice = true;
  Office->Connect(true);
  Connected = Office->IsConnected();
}

clc::~clc() = default;

void clc::Reconnect() {
  Books.clear();
  CurrentBook = -1;
  rowLimit_ = 0;
  copiedFormats_.clear();
  Office = std::make_unique<office::TOOCalc>(factory_);
  Office->KeepsOffice = true;
  Office->Connect(true);
  Connected = Office->IsConnected();
}

void clc::Use(std::int32_t book) {
  if (book != CurrentBook) SelectBook(book);
}

bool clc::SelectBook(std::int32_t book) {
  const bool selected = Office->SelectDocument(book);
  CurrentBook = Office->CurrentDocumentIndex();
  return selected;
}

std::int32_t clc::OpenBook(const std::string& fileName) {
  // The office takes an empty file for an empty workbook: nothing a user meant to merge.
  LastOpenError.clear();
  LastOpenTooLong = false;
  std::error_code ec;
  if (std::filesystem::is_regular_file(fileName, ec) &&
      std::filesystem::file_size(fileName, ec) == 0) {
    LastOpenError = "the file is empty";
    return -1;
  }
  const std::optional<char> separator = TextSeparator(fileName);
  try {
    // The office loads a text file's first rows only, without a word, when it has more.
    if (separator && !FitsASheet(fileName, *separator)) return -1;
    Office->LoadDocument(fileName, office::loHidden, 0,
                         separator ? TextFilter(*separator) : office::ImportFilter{});
  } catch (const automation::ConnectionLost& e) {
    LastOpenError = e.what();
    return -1;
  } catch (const automation::Refused&) {
    return -1;  // what the office cannot read; a mistake of ours passes
  }
  const std::int32_t index = Office->CurrentDocumentIndex();
  sheets list;
  try {
    list = ReadSheets(index);
  } catch (const automation::ConnectionLost& e) {
    LastOpenError = e.what();
    return -1;  // the office is gone with the document
  }
  Books.resize(static_cast<std::size_t>(index) + 1);
  clc_file& entry = Books[static_cast<std::size_t>(index)];
  entry.Path = fileName;
  entry.ShortName = WithoutFolder(fileName);
  entry.SheetList = std::move(list);
  return index;
}

std::int32_t clc::SheetRowLimit() {
  if (rowLimit_ > 0) return rowLimit_;
  for (const clc_file& book : Books)
    for (const sheet& s : book.SheetList)
      if (s.RowLimit > 0) return rowLimit_ = s.RowLimit;
  return rowLimit_ = Office->BlankSheetRowCount();
}

bool clc::FitsASheet(const std::string& fileName, char separator) {
  std::ifstream file(fileName, std::ios::binary);
  const std::int64_t records = CountRecords(file, separator);
  const std::int32_t limit = SheetRowLimit();
  if (records <= limit) return true;
  LastOpenError = fileName + " has " + Grouped(records) + " rows; a sheet holds at most " +
                  Grouped(limit) + ": it cannot be opened whole";
  LastOpenTooLong = true;
  return false;
}

sheets clc::ReadSheets(std::int32_t book) {
  sheets list;
  try {
    Use(book);
    office::TOOCalcSheets& all = Office->Sheets();
    const std::int32_t active = all.ActiveSheetIndex();
    const std::int32_t count = all.SheetCount();
    for (std::int32_t i = 0; i < count; ++i) {
      sheet& entry = list.emplace_back();
      all.ActivateSheet(i);
      office::TOOCalcSheet& current = all.SheetByIndex(i);
      entry.Name = current.SheetName();
      current.MeasureUsedArea();
      entry.RowCount = current.LastUsedRow() + 1;
      entry.ColCount = current.LastUsedColumn() + 1;
      entry.ColumnLimit = current.ColumnCount();
      entry.RowLimit = current.RowCount();
    }
    all.ActivateSheet(active);
  } catch (const automation::Refused&) {
    return {};  // never a partly read list
  }
  return list;
}

void clc::SaveBookAs(std::int32_t book, const std::string& fileName, const std::string& format) {
  Use(book);
  Office->StoreDocument(fileName, format);
  clc_file& entry = Books.at(static_cast<std::size_t>(book));
  entry.Path = fileName;
  entry.ShortName = WithoutFolder(fileName);
  entry.Format = format;
}

void clc::SaveBook(std::int32_t book) {
  Use(book);
  const clc_file& entry = Books.at(static_cast<std::size_t>(book));
  Office->StoreDocument(entry.Path, entry.Format);
}

void clc::CloseBook(std::int32_t book) {
  Use(book);
  // A book that cannot be made current is not closed: another book's document would be.
  if (CurrentBook != book) return;
  Office->CloseDocument();
}

}  // namespace store
