#include "merge/MergeRun.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>

#include "merge/Umd5.hpp"

namespace merge {

namespace fs = std::filesystem;

std::string ColumnLetters(std::int32_t column) {
  return store::clc::ColumnName(column);
}

std::string KeyPart(const std::string& cellText, bool caseSensitive) {
  std::size_t begin = 0, end = cellText.size();
  while (begin < end && static_cast<unsigned char>(cellText[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(cellText[end - 1]) <= 32) --end;
  std::string part = cellText.substr(begin, end - begin);
  if (caseSensitive) return part;
  std::string upper;
  icu::UnicodeString::fromUTF8(part).toUpper(icu::Locale::getDefault()).toUTF8String(upper);
  return upper;
}

MergeRun::MergeRun(store::clc& store) : store_(store) {}

MergeRun::~MergeRun() = default;

bool MergeRun::MainParamsComplete() const {
  return !MainFile.empty() && MainFirstRow >= 0 && AddThereColumn >= 0 && LinkCount > 0 &&
         MainSheet >= 0;
}

bool MergeRun::AddParamsComplete() const {
  return !AddFile.empty() && LinkCount > 0 && AddSheet >= 0;
}

namespace {

// Whether two names reach the same file: the same inode where the candidate exists (symlinks,
// "./", letter case on case-free file systems), else the same normalised absolute path.
bool SameFile(const std::string& candidate, const std::string& source) {
  if (source.empty()) return false;
  std::error_code ec;
  if (fs::exists(candidate, ec) && fs::exists(source, ec))
    return fs::equivalent(candidate, source, ec);
  return fs::weakly_canonical(fs::absolute(candidate, ec), ec) ==
         fs::weakly_canonical(fs::absolute(source, ec), ec);
}

}  // namespace

bool MergeRun::IsIllegalTarget(const std::string& target) const {
  if (target == MainFile || target == AddFile) return true;
  // The store appends ".ods" to a name that lacks it: that file is written too.
  const std::string stored = office::TOOCalc::ChooseStoreTarget(target, "Calc").fileName;
  for (const std::string& name : {target, stored})
    if (SameFile(name, MainFile) || SameFile(name, AddFile)) return true;
  return false;
}

std::int32_t MergeRun::RowCount(std::int32_t book, std::int32_t sheet) const {
  if (book < 0 || book >= static_cast<std::int32_t>(store_.Books.size())) return 0;
  const store::sheets& list = store_.Books[static_cast<std::size_t>(book)].SheetList;
  if (sheet < 0 || sheet >= static_cast<std::int32_t>(list.size())) return 0;
  return list[static_cast<std::size_t>(sheet)].RowCount;
}

std::int32_t MergeRun::ProgressMaximum() const {
  return std::max(0,
                  RowCount(AddBook, AddSheet) + RowCount(MainBook, MainSheet) - MainFirstRow + 2);
}

void MergeRun::Step() {
  ++position_;
  if (progress_) progress_(std::min(position_, maximum_), maximum_);
}

void MergeRun::CreateKeyList() {
  keyList_ = std::make_unique<TList>(RowCount(AddBook, AddSheet));
}

void MergeRun::FreeKeyList() {
  keyList_.reset();
}

std::string MergeRun::RowDigest(std::int32_t book, std::int32_t sheet, std::int32_t row,
                                bool main) {
  std::string key;
  for (const TLink& link : Links) {
    if (link.Deleted) continue;
    const std::int32_t column = main ? link.MainCol : link.AddCol;
    key += KeyPart(store_.CellText(book, sheet, column + 1, row + 1), CaseSensitive);
  }
  return KeyDigest(key);
}

void MergeRun::IndexAddTable() {
  if (!keyList_) CreateKeyList();
  for (std::int32_t r = 0; r < keyList_->Count; ++r) {
    keyList_->Items[static_cast<std::size_t>(r)] = {r, RowDigest(AddBook, AddSheet, r, false)};
    Step();
  }
  keyList_->Sort();
}

void MergeRun::KeepOnlySheet(std::int32_t book, std::int32_t sheet) {
  const auto count =
      static_cast<std::int32_t>(store_.Books.at(static_cast<std::size_t>(book)).SheetList.size());
  for (std::int32_t s = count - 1; s > sheet; --s) store_.DeleteSheet(book, s);
  for (std::int32_t i = 0; i < sheet; ++i) store_.DeleteSheet(book, 0);
}

bool MergeRun::MergeIntoMain(const std::string& target) {
  LastError.clear();
  RowsWalked = RowsMatched = 0;
  bool ok = true;
  try {
    store_.SaveBookAs(MainBook, target);
    KeepOnlySheet(MainBook, MainSheet);
    if (MainTitleRow >= 0 && AddTitleRow >= 0)
      store_.CopyRow(AddBook, MainBook, AddSheet, 0, AddTitleRow + 1, MainTitleRow + 1,
                     AddThereColumn);
    const std::int32_t rowsMain = RowCount(MainBook, 0);
    for (std::int32_t r = MainFirstRow; r < rowsMain; ++r) {
      ++RowsWalked;
      if (keyList_ && keyList_->Find(RowDigest(MainBook, 0, r, true))) {
        store_.CopyRow(AddBook, MainBook, AddSheet, 0, keyList_->GetFound().Row + 1, r + 1,
                       AddThereColumn);
        ++RowsMatched;
      }
      Step();
    }
    store_.SaveBook(MainBook);
    store_.CloseBook(MainBook);
  } catch (const std::exception& e) {
    LastError = e.what();
    ok = false;
  } catch (...) {
    LastError = "unknown failure";
    ok = false;
  }
  // Success or not, the next run starts from the untouched main table.
  if (!ok) {
    try {
      store_.CloseBook(MainBook);
    } catch (...) {
      // the document may be gone with the office
    }
  }
  MainBook = store_.OpenBook(MainFile);
  return ok;
}

bool MergeRun::Run(const std::string& target) {
  position_ = 0;
  CreateKeyList();
  maximum_ = ProgressMaximum();
  if (progress_) progress_(0, maximum_);
  IndexAddTable();
  const bool ok = MergeIntoMain(target);
  position_ = maximum_;
  if (progress_) progress_(maximum_, maximum_);
  FreeKeyList();
  return ok;
}

}  // namespace merge
