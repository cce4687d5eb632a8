#include "merge/MergeRun.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

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

const char* PhaseText(Phase phase) {
  switch (phase) {
    case Phase::ReadingAddKeys:
      return "reading the add table's keys";
    case Phase::ReadingMainKeys:
      return "reading the main table's keys";
    case Phase::StoringTarget:
      return "writing the result file";
    case Phase::RemovingSheets:
      return "removing the other sheets";
    case Phase::Copying:
      return "copying the matched rows";
    case Phase::StoringResult:
      return "storing the result";
    case Phase::Closing:
      return "closing the result";
    case Phase::ReloadingMain:
      return "loading the main table again";
  }
  return "";
}

const char* const MergeRun::kStoppedMessage = "The run was stopped; no result was written";

namespace {

// Unwinds a run from a safe point once a stop was asked for.
struct Stopped {};

}  // namespace

MergeRun::MergeRun(store::clc& store, ResultFiles& files) : store_(store), files_(&files) {}

MergeRun::~MergeRun() = default;

bool MergeRun::SetUp(const Setup& setup) {
  const auto open = [this](const std::string& file, std::string& heldFile, std::int32_t& book) {
    if (book < 0 || heldFile != file) book = store_.OpenBook(file);
    heldFile = file;
    return book >= 0;
  };
  if (!open(setup.MainFile, MainFile, MainBook) || !open(setup.AddFile, AddFile, AddBook))
    return false;
  const store::sheets& mainSheets = store_.Books[static_cast<std::size_t>(MainBook)].SheetList;
  const std::size_t addSheets = store_.Books[static_cast<std::size_t>(AddBook)].SheetList.size();
  if (setup.MainSheet < 0 || static_cast<std::size_t>(setup.MainSheet) >= mainSheets.size() ||
      setup.AddSheet < 0 || static_cast<std::size_t>(setup.AddSheet) >= addSheets)
    return false;
  MainSheet = setup.MainSheet;
  AddSheet = setup.AddSheet;
  MainTitleRow = setup.MainTitleRow;
  AddTitleRow = setup.AddTitleRow;
  MainFirstRow = setup.MainFirstRow;
  AddThereColumn = setup.AddThereColumn >= 0
                       ? setup.AddThereColumn
                       : mainSheets[static_cast<std::size_t>(MainSheet)].ColCount + 2;
  Links.clear();
  for (const auto& [mainCol, addCol] : setup.Links) Links.push_back({mainCol, addCol, false});
  LinkCount = static_cast<std::int32_t>(Links.size());
  CaseSensitive = setup.CaseSensitive;
  return true;
}

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
  CheckStop();
  ++position_;
  if (progress_) progress_(std::min(position_, maximum_), maximum_);
}

void MergeRun::Enter(Phase phase) {
  for (const PhaseListener& listener : phaseListeners_) listener(phase);
}

void MergeRun::CheckStop() const {
  if (stop_.stop_requested()) throw Stopped{};
}

template <typename F>
bool MergeRun::Guarded(F&& work) {
  try {
    work();
    return true;
  } catch (const Stopped&) {
    LastError = kStoppedMessage;
    LastStopped = true;
  } catch (const automation::ConnectionLost& e) {
    LastError = e.what();
    officeLost_ = true;
  } catch (const std::exception& e) {
    LastError = e.what();
  } catch (...) {
    LastError = "An unknown failure ended the run";
  }
  return false;
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

std::vector<std::string> MergeRun::RowDigests(std::int32_t book, std::int32_t sheet,
                                              std::int32_t first, std::int32_t last, bool main) {
  std::vector<std::int32_t> wanted;
  for (const TLink& link : Links)
    if (!link.Deleted) wanted.push_back((main ? link.MainCol : link.AddCol) + 1);
  const std::vector<std::vector<std::string>> columns =
      store_.ColumnsTexts(book, sheet, wanted, first + 1, last + 1);
  std::vector<std::string> digests;
  for (std::int32_t r = first; r <= last; ++r) {
    std::string key;
    for (const auto& column : columns)
      key += KeyPart(column[static_cast<std::size_t>(r - first)], CaseSensitive);
    digests.push_back(KeyDigest(key));
  }
  return digests;
}

void MergeRun::CheckLinkColumns() {
  const auto empty = [&](std::int32_t book, std::int32_t sheet, std::int32_t column) {
    const store::sheet& s = store_.Books.at(static_cast<std::size_t>(book))
                                .SheetList.at(static_cast<std::size_t>(sheet));
    if (column >= s.ColCount || s.RowCount <= 0) return true;
    try {
      const std::vector<bool> used =
          store_.RowsInUse(book, sheet, column, 0, column, s.RowCount - 1);
      return std::find(used.begin(), used.end(), true) == used.end();
    } catch (const automation::Refused&) {
      return false;  // cannot tell: no warning
    }
  };
  for (const TLink& link : Links) {
    if (link.Deleted) continue;
    for (const bool main : {true, false})
      if (empty(main ? MainBook : AddBook, main ? MainSheet : AddSheet,
                main ? link.MainCol : link.AddCol))
        Warnings.push_back("The link column " + ColumnLetters(main ? link.MainCol : link.AddCol) +
                           " of the " + (main ? "main" : "add") +
                           " table is empty: its key part is blank in every row");
  }
}

void MergeRun::CountDuplicateKeys() {
  constexpr std::size_t kExamples = 3;
  std::int32_t duplicated = 0;
  std::vector<std::int32_t> firstRows;  // of each key that occurs more than once
  const std::vector<TListItem>& items = keyList_->Items;
  for (std::size_t i = 0; i < items.size();) {
    std::size_t end = i + 1;
    std::int32_t first = items[i].Row;
    for (; end < items.size() && items[end].Key == items[i].Key; ++end)
      first = std::min(first, items[end].Row);
    if (end - i > 1) {
      ++duplicated;
      firstRows.push_back(first);
    }
    i = end;
  }
  // The examples the user meets first in the add table.
  std::sort(firstRows.begin(), firstRows.end());
  const std::vector<std::int32_t> exampleRows(
      firstRows.begin(),
      firstRows.begin() + static_cast<std::ptrdiff_t>(std::min(firstRows.size(), kExamples)));
  if (duplicated == 0) return;
  std::string examples;
  for (const std::int32_t row : exampleRows) {
    std::string key;
    for (const TLink& link : Links) {
      if (link.Deleted) continue;
      if (!key.empty()) key += " | ";
      key += KeyPart(store_.CellText(AddBook, AddSheet, link.AddCol + 1, row + 1), true);
    }
    examples += (examples.empty() ? "\"" : ", \"") + key + "\"";
  }
  Warnings.push_back(std::to_string(duplicated) +
                     (duplicated == 1 ? " key occurs" : " keys occur") +
                     " in more than one add row (" + examples +
                     "): a main row with such a key receives one of them");
}

std::int32_t MergeRun::AddColumnsThatFit() {
  const std::int32_t width = store_.Books.at(static_cast<std::size_t>(AddBook))
                                 .SheetList.at(static_cast<std::size_t>(AddSheet))
                                 .ColCount;
  const std::int32_t limit = store_.Books.at(static_cast<std::size_t>(MainBook))
                                 .SheetList.at(static_cast<std::size_t>(MainSheet))
                                 .ColumnLimit;
  const std::int32_t room = std::max(0, limit - (AddThereColumn - 1));
  if (width > 0 && room == 0)
    throw automation::Error("No add column fits: the copies would begin at column " +
                            ColumnLetters(AddThereColumn - 1) +
                            ", right of the main sheet's last column " + ColumnLetters(limit - 1));
  if (width > room)
    Warnings.push_back(std::to_string(width - room) + " of " + std::to_string(width) +
                       " add columns were left out: the main sheet ends at column " +
                       ColumnLetters(limit - 1));
  return std::min(width, room);
}

void MergeRun::IndexAddTable() {
  if (!keyList_) CreateKeyList();
  const std::vector<std::string> digests =
      ExactCalls ? std::vector<std::string>()
                 : RowDigests(AddBook, AddSheet, 0, keyList_->Count - 1, false);
  for (std::int32_t r = 0; r < keyList_->Count; ++r) {
    keyList_->Items[static_cast<std::size_t>(r)] = {r, ExactCalls
                                                           ? RowDigest(AddBook, AddSheet, r, false)
                                                           : digests[static_cast<std::size_t>(r)]};
    Step();
  }
  keyList_->Sort();
  CountDuplicateKeys();
}

void MergeRun::KeepOnlySheet(std::int32_t book, std::int32_t sheet) {
  const auto count =
      static_cast<std::int32_t>(store_.Books.at(static_cast<std::size_t>(book)).SheetList.size());
  // Nothing reads the stored file between the deletions and the final store, so the
  // reference run's store after every deletion is left to that one.
  for (std::int32_t s = count - 1; s > sheet; --s) store_.DeleteSheet(book, s, ExactCalls);
  for (std::int32_t i = 0; i < sheet; ++i) store_.DeleteSheet(book, 0, ExactCalls);
}

void MergeRun::KeepOnlyMainSheet() {
  const std::string mainSheetName = store_.Books.at(static_cast<std::size_t>(MainBook))
                                        .SheetList.at(static_cast<std::size_t>(MainSheet))
                                        .Name;
  // Removing a sheet turns the formulas that refer to it into #REF! and makes the office
  // calculate the others again: what they showed is read first and put back where it changed.
  const store::FormulaSnapshot formulas = store_.ReadFormulas(MainBook, MainSheet);
  std::vector<std::pair<std::string, std::string>> pivots;
  try {
    pivots = store_.PivotsFromElsewhere(MainBook, MainSheet);
  } catch (const automation::Refused&) {
    // cannot tell: no warning
  }
  KeepOnlySheet(MainBook, MainSheet);
  CheckOnlyMainSheetLeft(mainSheetName);
  store_.FreezeFormulas(MainBook, 0, formulas);
  // A pivot table keeps its output, but its source would now be its own sheet.
  for (const auto& [name, source] : pivots)
    Warnings.push_back("The pivot table \"" + name + "\" takes its data from the sheet \"" +
                       source + "\", which is not in the result: its figures are kept, but " +
                       "refreshing it would lose them");
}

void MergeRun::CheckOnlyMainSheetLeft(const std::string& mainSheetName) {
  // The office may refuse a removal, or the list of what is left: neither may end in a result
  // that holds another sheet, or in copies into the wrong one.
  store::sheets left = store_.ReadSheets(MainBook);
  if (left.empty())
    throw std::runtime_error(
        "The sheets left in the result could not be read after the others were removed");
  for (const store::sheet& s : left)
    if (s.Name != mainSheetName)
      throw std::runtime_error("The sheet \"" + s.Name + "\" could not be removed from the result");
  if (left.size() != 1)
    throw std::runtime_error("The result holds the sheet \"" + mainSheetName + "\" " +
                             std::to_string(left.size()) + " times");
  store_.Books.at(static_cast<std::size_t>(MainBook)).SheetList = std::move(left);
}

void MergeRun::CloseMainQuietly() {
  try {
    store_.CloseBook(MainBook);
  } catch (const automation::Error&) {
    // the document may be gone with the office
  }
}

bool MergeRun::MergeIntoMain(const std::string& target) {
  LastError.clear();
  LastStopped = false;
  ResultPath.clear();
  addTexts_.clear();
  RowsWalked = RowsMatched = 0;
  const bool ok = Guarded([&] {
    addWidth_ = AddColumnsThatFit();  // before anything is written
    ResultFile result(*files_, target);
    WriteResult(result);
    result.Commit();
    ResultPath = result.Path();
  });
  addTexts_ = {};  // the add rows' texts are needed only while writing
  // Success or not, the next run starts from the untouched main table.
  ReloadMainTable(ok);
  return ok;
}

void MergeRun::WriteResult(ResultFile& result) {
  // A failure leaves nothing open: the main book is closed before its file goes.
  struct CloseOnFailure {
    MergeRun& run;
    bool armed = true;
    ~CloseOnFailure() {
      if (armed) run.CloseMainQuietly();
    }
  } closeOnFailure{*this};
  CheckStop();
  Enter(Phase::ReadingMainKeys);
  const std::vector<std::pair<std::int32_t, std::int32_t>> matches = MatchMainRows();
  // The reference stores the book as the target first and after each removed sheet; the
  // default stores it once, when it is whole. Nothing stores the main book under its own name.
  if (ExactCalls) {
    CheckStop();
    Enter(Phase::StoringTarget);
    store_.SaveBookAs(MainBook, result.Temporary());
  }
  CheckStop();
  Enter(Phase::RemovingSheets);
  KeepOnlyMainSheet();
  CheckStop();
  Enter(Phase::Copying);
  CopyMatches(matches);
  CheckStop();
  Enter(Phase::StoringResult);
  if (ExactCalls)
    store_.SaveBook(MainBook);
  else
    store_.SaveBookAs(MainBook, result.Temporary());
  Enter(Phase::Closing);
  closeOnFailure.armed = false;
  store_.CloseBook(MainBook);
  CheckStop();  // the last point at which nothing is written yet
}

void MergeRun::ReloadMainTable(bool merged) {
  MainBook = -1;
  if (!ReloadMain) return;
  Enter(Phase::ReloadingMain);
  try {
    MainBook = store_.OpenBook(MainFile);
  } catch (const std::exception& e) {
    // Whatever it was, the result is as the run left it; the main table is to be opened again.
    if (merged)
      Warnings.push_back("The main table could not be loaded again: " + std::string(e.what()));
  }
}

std::vector<std::pair<std::int32_t, std::int32_t>> MergeRun::MatchMainRows() {
  const std::int32_t rowsMain = RowCount(MainBook, MainSheet);
  const std::vector<std::string> digests =
      ExactCalls || MainFirstRow >= rowsMain
          ? std::vector<std::string>()
          : RowDigests(MainBook, MainSheet, MainFirstRow, rowsMain - 1, true);
  std::vector<std::pair<std::int32_t, std::int32_t>> matches;
  for (std::int32_t r = MainFirstRow; r < rowsMain; ++r) {
    ++RowsWalked;
    const std::string digest = ExactCalls ? RowDigest(MainBook, MainSheet, r, true)
                                          : digests[static_cast<std::size_t>(r - MainFirstRow)];
    if (keyList_ && keyList_->Find(digest)) {
      matches.emplace_back(r, keyList_->GetFound().Row);
      ++RowsMatched;
    }
    Step();
  }
  return matches;
}

void MergeRun::CopyMatches(const std::vector<std::pair<std::int32_t, std::int32_t>>& matches) {
  if (MainTitleRow >= 0 && AddTitleRow >= 0) CopyTitle();
  if (!ExactCalls) {
    CopyRows(matches);
    return;
  }
  for (const auto& [mainRow, addRow] : matches) {
    CheckStop();
    store_.CopyRow(AddBook, MainBook, AddSheet, 0, addRow + 1, mainRow + 1, AddThereColumn);
  }
}

void MergeRun::CopyTitle() {
  if (ExactCalls) {
    store_.CopyRow(AddBook, MainBook, AddSheet, 0, AddTitleRow + 1, MainTitleRow + 1,
                   AddThereColumn);
  } else {
    CopyRows({{MainTitleRow, AddTitleRow}});
  }
}

const std::vector<std::string>& MergeRun::AddRowTexts(std::int32_t row, std::int32_t width) {
  constexpr std::int32_t kReadRows = 10000;  // rows per block read of the add sheet
  const std::int32_t rows = RowCount(AddBook, AddSheet);
  if (addTexts_.empty()) {
    addTexts_.resize(static_cast<std::size_t>(rows) + 1);  // the last: an empty row
    addTexts_.back().resize(static_cast<std::size_t>(width));
    addBlocksRead_.assign(static_cast<std::size_t>((rows + kReadRows - 1) / kReadRows), false);
  }
  // Rows past the used area read as empty, as a single-row read of them does.
  if (row < 0 || row >= rows) return addTexts_.back();
  const auto block = static_cast<std::size_t>(row / kReadRows);
  if (!addBlocksRead_[block]) {
    CheckStop();
    const std::int32_t top = static_cast<std::int32_t>(block) * kReadRows;
    const std::int32_t bottom = std::min(rows, top + kReadRows) - 1;
    std::vector<std::vector<std::string>> texts =
        store_.ReadTexts(AddBook, AddSheet, 0, top, width - 1, bottom);
    for (std::size_t i = 0; i < texts.size(); ++i)
      addTexts_[static_cast<std::size_t>(top) + i] = std::move(texts[i]);
    addBlocksRead_[block] = true;
  }
  return addTexts_[static_cast<std::size_t>(row)];
}

void MergeRun::CopyRows(const std::vector<std::pair<std::int32_t, std::int32_t>>& pairs) {
  constexpr std::int32_t kWriteRows = 5000;  // rows per block write into the main sheet
  if (pairs.empty()) return;
  const std::int32_t width = addWidth_;
  if (width <= 0) return;
  const std::int32_t left = AddThereColumn - 1;
  const std::int32_t top = pairs.front().first;

  // A block write clears its whole area first, notes included. A block may therefore run on
  // over rows without a match only where their target cells are empty, and a matched row whose
  // target cells hold anything is copied cell by cell, as the reference does. Where the office
  // cannot tell, blocks cover runs of matched rows only.
  std::vector<bool> inUse;
  bool known = true;
  try {
    inUse = store_.RowsInUse(MainBook, 0, left, top, left + width - 1, pairs.back().first);
  } catch (const automation::Refused&) {
    known = false;
  }
  const auto holdsAnything = [&](std::int32_t row) {
    return known && inUse[static_cast<std::size_t>(row - top)];
  };
  const auto emptyBetween = [&](std::int32_t from, std::int32_t to) {
    if (!known) return from > to;
    for (std::int32_t r = from; r <= to; ++r)
      if (holdsAnything(r)) return false;
    return true;
  };

  const std::vector<std::string> emptyRow(static_cast<std::size_t>(width));
  const auto copyEach = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
      store_.CopyRow(AddBook, MainBook, AddSheet, 0, pairs[i].second + 1, pairs[i].first + 1,
                     AddThereColumn);
  };
  std::size_t first = 0;
  while (first < pairs.size()) {
    CheckStop();
    const std::int32_t row = pairs[first].first;
    if (holdsAnything(row)) {
      copyEach(first, first + 1);
      ++first;
      continue;
    }
    std::size_t end = first + 1;
    while (end < pairs.size() && pairs[end].first - row < kWriteRows &&
           !holdsAnything(pairs[end].first) &&
           emptyBetween(pairs[end - 1].first + 1, pairs[end].first - 1))
      ++end;
    std::vector<std::vector<std::string>> block;
    for (std::size_t i = first; i < end; ++i) {
      if (i > first)
        for (std::int32_t r = pairs[i - 1].first + 1; r < pairs[i].first; ++r)
          block.push_back(emptyRow);
      block.push_back(AddRowTexts(pairs[i].second, width));
    }
    try {
      store_.WriteTextBlock(MainBook, 0, left, row, block);
    } catch (const automation::Refused&) {
      // Protected cells refuse a block write but take single ones, as the reference writes.
      copyEach(first, end);
    }
    first = end;
  }
}

bool MergeRun::Run(const std::string& target, std::stop_token stop) {
  stop_ = std::move(stop);
  position_ = 0;
  LastError.clear();
  LastStopped = false;
  ResultPath.clear();
  RowsWalked = RowsMatched = 0;
  officeLost_ = false;
  Warnings.clear();
  const bool indexed = Guarded([&] {
    CheckLinkColumns();
    CreateKeyList();
    maximum_ = ProgressMaximum();
    if (progress_) progress_(0, maximum_);
    CheckStop();
    Enter(Phase::ReadingAddKeys);
    IndexAddTable();
  });
  // The main book is untouched until the merge step, but an office that is gone took it along.
  if (!indexed && officeLost_) ReloadMainTable(false);
  const bool ok = indexed && MergeIntoMain(target);
  position_ = maximum_;
  if (progress_) progress_(maximum_, maximum_);
  FreeKeyList();
  stop_ = {};
  return ok;
}

}  // namespace merge
