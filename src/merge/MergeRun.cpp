#include "merge/MergeRun.hpp"

#include <algorithm>
#include <stdexcept>

namespace merge {

const char* PhaseText(Phase phase) {
  switch (phase) {
    case Phase::ReadingAddKeys:
      return "reading the add table's keys";
    case Phase::ReadingMainKeys:
      return "reading the main table's keys";
    case Phase::StoringTarget:
      return "storing the result before the other sheets go";
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

template <typename F>
bool MergeRun::Attempt(F&& work) {
  try {
    work();
    return true;
  } catch (const Stopped&) {
    report_.Error = kStoppedMessage;
    report_.Stopped = true;
  } catch (const automation::ConnectionLost& e) {
    report_.Error = e.what();
    officeLost_ = true;
  } catch (const std::exception& e) {
    report_.Error = e.what();
  }
  return false;
}

void MergeRun::Step() {
  CheckStop();
  ++position_;
  if (progress_) progress_(std::min(position_, maximum_), maximum_);
}

void MergeRun::Enter(Phase phase) {
  phase_ = phase;
  for (const PhaseListener& listener : phaseListeners_) listener(phase);
}

void MergeRun::Within(double fraction) const {
  if (phaseProgress_) phaseProgress_(fraction);
}

void MergeRun::OfficeProgress(double fraction) const {
  const Phase phase = phase_.load();
  if (phase == Phase::StoringTarget || phase == Phase::StoringResult ||
      phase == Phase::ReloadingMain)
    Within(fraction);
}

void MergeRun::Copied(std::int32_t rows) {
  copied_ += rows;
  if (toCopy_ > 0) Within(static_cast<double>(copied_) / toCopy_);
}

void MergeRun::CheckStop() const {
  if (stop_.stop_requested()) throw Stopped{};
}

std::int32_t MergeRun::RowCount(std::int32_t book, std::int32_t sheet) const {
  return store_.Books.at(static_cast<std::size_t>(book))
      .SheetList.at(static_cast<std::size_t>(sheet))
      .RowCount;
}

std::vector<std::int32_t> MergeRun::LinkColumns(bool main) const {
  std::vector<std::int32_t> columns;
  for (const TLink& link : p_.LiveLinks()) columns.push_back(main ? link.MainCol : link.AddCol);
  return columns;
}

RunReport MergeRun::Run(const Parameters& parameters, std::stop_token stop) {
  p_ = parameters;
  report_ = {};
  report_.MainBook = p_.MainBook;
  stop_ = std::move(stop);
  officeLost_ = false;
  position_ = 0;
  maximum_ = 0;
  // For as long as the run lasts, when someone listens: the office's loads and stores tell how
  // far they have come.
  struct OfficeReports {
    office::TOOCalc& office;
    ~OfficeReports() { office.Progress = nullptr; }
  } reports{*store_.Office};
  if (phaseProgress_)
    store_.Office->Progress = [this](double fraction) { OfficeProgress(fraction); };
  const bool indexed = Attempt([&] {
    if (p_.Target.empty()) throw std::runtime_error("No result file was chosen");
    if (const std::optional<Clash> clash = p_.OutputClash())
      throw std::runtime_error(ClashSentence(*clash));
    if (const std::optional<Unfit> unfit = p_.Check(store_))
      throw std::runtime_error(unfit->sentence);
    CheckLinkColumns();
    const CopyContext context{
        store_,
        p_,
        {AddColumnsThatFit(), p_.KeepValues ? store::CopyAs::Values : store::CopyAs::Texts},
        [this] { CheckStop(); },
        [this] { Step(); },
        [this](Phase phase) { Enter(phase); },
        [this](std::int32_t rows) { Copied(rows); }};
    copyWidth_ = static_cast<std::int32_t>(context.plan.columns.size());
    path_ = p_.ExactCalls ? CellByCellCopy(context) : BulkCopy(context);
    maximum_ = std::max(0, RowCount(p_.AddBook, p_.AddSheet) + RowCount(p_.MainBook, p_.MainSheet) -
                               p_.MainFirstRow + 2);
    if (progress_) progress_(0, maximum_);
    IndexAddTable();
  });
  // The main book is untouched until the result is written, but an office that is gone took
  // it along: it is loaded again as after a written result.
  report_.Ok = indexed && Attempt([&] {
                 const std::vector<RoleFile> inputs = p_.Inputs();
                 ResultFile result(*files_, {FileRole::Result, p_.StoredTarget()}, inputs);
                 // Every list's file is made at once: a folder that takes none fails the run before
                 // the office's work.
                 std::vector<std::unique_ptr<ResultFile>> lists;
                 for (const RoleFile& output : p_.Outputs())
                   if (output.role != FileRole::Result)
                     lists.push_back(std::make_unique<ResultFile>(*files_, output, inputs));
                 WriteResult(result);
                 // The lists take their places first: a run that fails leaves no new file.
                 for (const auto& list : lists)
                   files_->Write(list->Temporary(), ListText(list->Role()));
                 for (const auto& list : lists) list->Commit();
                 result.Commit();
                 report_.ResultPath = result.Path();
               });
  if (indexed || officeLost_) ReloadMainTable();
  if (progress_) progress_(maximum_, maximum_);
  keyList_.reset();
  matching_.reset();
  matchesCsv_.clear();
  path_.reset();
  stop_ = {};
  return std::move(report_);
}

void MergeRun::IndexAddTable() {
  CheckStop();
  Enter(Phase::ReadingAddKeys);
  const std::int32_t rows = RowCount(p_.AddBook, p_.AddSheet);
  keyList_ = std::make_unique<TList>(rows);
  KeyColumns texts = rows > 0
                         ? path_->KeyTexts(p_.AddBook, p_.AddSheet, LinkColumns(false), 0, rows - 1)
                         : KeyColumns(LinkColumns(false).size());
  const std::vector<std::string> digests = Digests(texts);
  for (std::int32_t r = 0; r < rows; ++r)
    keyList_->Items[static_cast<std::size_t>(r)] = {r, digests[static_cast<std::size_t>(r)]};
  keyList_->Sort();
  // The add keys' texts stay for the near keys and the lists, until the matching is done.
  matching_ = std::make_unique<Matching>(p_, std::move(texts), *keyList_);
  const auto [count, examples] = matching_->DuplicateKeys(3);
  if (const std::string warning = DuplicatesWarning(count, examples, p_.DuplicateRule);
      !warning.empty())
    report_.Warnings.push_back(warning);
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
  const std::vector<RowPair> matches = MatchMainRows();
  path_->Begin(result.Temporary());
  CheckStop();
  Enter(Phase::RemovingSheets);
  KeepOnlyMainSheet();
  CheckStop();
  Enter(Phase::Copying);
  const bool title = p_.MainTitleRow >= 0 && p_.AddTitleRow >= 0;
  toCopy_ = static_cast<std::int32_t>(matches.size()) + (title ? 1 : 0);
  copied_ = 0;
  // Kept values need their number formats, which a protected sheet's locked cells ignore
  // without a word: its protection is lifted for the copies and put back after them.
  const bool lifted = p_.KeepValues && store_.LiftProtection(p_.MainBook, 0);
  if (title) path_->CopyRows({{p_.MainTitleRow, p_.AddTitleRow}});
  path_->CopyRows(matches);
  if (lifted) store_.RestoreProtection(p_.MainBook, 0);
  CheckStop();
  CheckFormatHolds();
  Enter(Phase::StoringResult);
  path_->Store(result.Temporary());
  Enter(Phase::Closing);
  closeOnFailure.armed = false;
  store_.CloseBook(p_.MainBook);
  CheckStop();  // the last point at which nothing is written yet
}

std::string MergeRun::ListText(FileRole role) const {
  switch (role) {
    case FileRole::UnmatchedList:
      return UnmatchedCsv(LinkColumns(true), report_.Unmatched);
    case FileRole::UnusedList:
      return UnusedCsv(LinkColumns(false), report_.Unused);
    case FileRole::MatchesList:
      return matchesCsv_;
    default:
      return {};
  }
}

std::vector<std::string> MergeRun::Digests(
    const std::vector<std::vector<std::string>>& texts) const {
  std::vector<std::string> digests(texts.empty() ? 0 : texts.front().size());
  for (std::size_t r = 0; r < digests.size(); ++r) {
    RowKey key(p_.CaseSensitive);
    for (const auto& column : texts) key.Add(column[r]);
    digests[r] = key.Digest();
  }
  return digests;
}

std::vector<RowPair> MergeRun::MatchMainRows() {
  const std::int32_t rows = RowCount(p_.MainBook, p_.MainSheet);
  const KeyColumns texts =
      p_.MainFirstRow < rows
          ? path_->KeyTexts(p_.MainBook, p_.MainSheet, LinkColumns(true), p_.MainFirstRow, rows - 1)
          : KeyColumns(LinkColumns(true).size());
  Matches found = matching_->Match(texts, Digests(texts), p_.MainFirstRow);
  matching_.reset();
  report_.RowsWalked = found.walked;
  report_.RowsMatched = found.matched;
  report_.RowsNear = found.near;
  for (const std::string& warning : {UnmatchedWarning(found), NearWarning(found)})
    if (!warning.empty()) report_.Warnings.push_back(warning);
  report_.Unmatched = std::move(found.unmatched);
  report_.NearMatches = std::move(found.nearMatches);
  report_.Unused = std::move(found.unused);
  report_.Duplicates = std::move(found.duplicates);
  matchesCsv_ = std::move(found.matchesCsv);
  return std::move(found.pairs);
}

void MergeRun::KeepOnlyMainSheet() {
  const std::string mainSheetName = store_.Books.at(static_cast<std::size_t>(p_.MainBook))
                                        .SheetList.at(static_cast<std::size_t>(p_.MainSheet))
                                        .Name;
  // Removing a sheet turns the formulas that refer to it into #REF! and makes the office
  // calculate the others again: what they showed is read first and put back where it changed.
  const store::FormulaSnapshot formulas = store_.ReadFormulas(p_.MainBook, p_.MainSheet);
  std::vector<std::pair<std::string, std::string>> pivots;
  try {
    pivots = store_.PivotsFromElsewhere(p_.MainBook, p_.MainSheet);
  } catch (const automation::Refused&) {
    // cannot tell: no warning
  }
  // The sheets behind the main sheet from the last, then those before it: indexes of the
  // sheets still to go do not move.
  const auto count = static_cast<std::int32_t>(
      store_.Books.at(static_cast<std::size_t>(p_.MainBook)).SheetList.size());
  for (std::int32_t s = count - 1; s > p_.MainSheet; --s) path_->RemoveSheet(s);
  for (std::int32_t i = 0; i < p_.MainSheet; ++i) path_->RemoveSheet(0);
  CheckOnlyMainSheetLeft(mainSheetName);
  store_.FreezeFormulas(p_.MainBook, 0, formulas);
  // A pivot table keeps its output, but its source would now be its own sheet.
  for (const auto& [name, source] : pivots)
    report_.Warnings.push_back("The pivot table \"" + name + "\" takes its data from the sheet \"" +
                               source + "\", which is not in the result: its figures are kept, " +
                               "but refreshing it would lose them");
}

void MergeRun::CheckOnlyMainSheetLeft(const std::string& mainSheetName) {
  // The office may refuse a removal, or the list of what is left: neither may end in a result
  // that holds another sheet, or in copies into the wrong one.
  store::sheets left = store_.ReadSheets(p_.MainBook);
  if (left.empty())
    throw std::runtime_error(
        "The sheets left in the result could not be read after the others were removed");
  for (const store::sheet& s : left)
    if (s.Name != mainSheetName)
      throw std::runtime_error("The sheet \"" + s.Name + "\" could not be removed from the result");
  if (left.size() != 1)
    throw std::runtime_error("The result holds the sheet \"" + mainSheetName + "\" " +
                             std::to_string(left.size()) + " times");
  store_.Books.at(static_cast<std::size_t>(p_.MainBook)).SheetList = std::move(left);
}

void MergeRun::CloseMainQuietly() {
  try {
    store_.CloseBook(p_.MainBook);
  } catch (const automation::Error&) {
    // the document may be gone with the office
  }
}

void MergeRun::ReloadMainTable() {
  report_.MainBook = -1;
  if (!p_.ReloadMain) return;
  Enter(Phase::ReloadingMain);
  // Success or not, the next run starts from the untouched main table. Whatever keeps it from
  // loading, the result is as the run left it: the table is to be opened again.
  try {
    report_.MainBook = store_.OpenBook(p_.MainFile);
  } catch (const std::exception& e) {
    if (report_.Ok)
      report_.Warnings.push_back("The main table could not be loaded again: " +
                                 std::string(e.what()));
  }
}

std::vector<std::int32_t> MergeRun::AddColumnsThatFit() {
  std::vector<std::int32_t> columns = p_.CopyColumns;
  if (columns.empty())
    for (std::int32_t c = 0; c < store_.Books.at(static_cast<std::size_t>(p_.AddBook))
                                     .SheetList.at(static_cast<std::size_t>(p_.AddSheet))
                                     .ColCount;
         ++c)
      columns.push_back(c);
  const auto width = static_cast<std::int32_t>(columns.size());
  const std::int32_t limit = store_.Books.at(static_cast<std::size_t>(p_.MainBook))
                                 .SheetList.at(static_cast<std::size_t>(p_.MainSheet))
                                 .ColumnLimit;
  const std::int32_t room = std::max(0, limit - (p_.AddThereColumn - 1));
  if (width > 0 && room == 0)
    throw std::runtime_error("No add column fits: the copies would begin at column " +
                             store::clc::ColumnName(p_.AddThereColumn - 1) +
                             ", right of the main sheet's last column " +
                             store::clc::ColumnName(limit - 1));
  if (width > room) {
    report_.Warnings.push_back(std::to_string(width - room) + " of " + std::to_string(width) +
                               " add columns were left out: the main sheet ends at column " +
                               store::clc::ColumnName(limit - 1));
    columns.resize(static_cast<std::size_t>(room));
  }
  return columns;
}

void MergeRun::CheckFormatHolds() {
  if (p_.Format != ResultFormat::Xlsx) return;
  // Excel's own limits; what is longer would be cut, or the file refused, by the program that
  // opens it.
  constexpr std::int32_t kRows = 1048576, kColumns = 16384;
  constexpr std::size_t kText = 32767;
  const store::sheet& result =
      store_.Books.at(static_cast<std::size_t>(p_.MainBook)).SheetList.at(0);
  const std::int32_t columns = std::max(result.ColCount, p_.AddThereColumn - 1 + copyWidth_);
  if (result.RowCount > kRows || columns > kColumns)
    throw std::runtime_error(
        "An xlsx file holds at most 1,048,576 rows and 16,384 columns; the "
        "result has " +
        std::to_string(result.RowCount) + " rows and " + std::to_string(columns) + " columns");
  const std::optional<std::size_t> known = path_->LongestText();
  const std::size_t longest = known ? *known : store_.LongestShownText(p_.MainBook, 0);
  if (longest > kText)
    throw std::runtime_error(
        "An xlsx file holds at most 32,767 characters in a cell; a cell of the result holds " +
        std::to_string(longest));
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
  for (const TLink& link : p_.LiveLinks())
    for (const bool main : {true, false})
      if (empty(main ? p_.MainBook : p_.AddBook, main ? p_.MainSheet : p_.AddSheet,
                main ? link.MainCol : link.AddCol))
        report_.Warnings.push_back("The link column " +
                                   store::clc::ColumnName(main ? link.MainCol : link.AddCol) +
                                   " of the " + (main ? "main" : "add") +
                                   " table is empty: its key part is blank in every row");
}

}  // namespace merge
