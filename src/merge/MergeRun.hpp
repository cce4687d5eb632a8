// The merge run, free of any window: it holds the merge parameters, builds the row key list
// from the add table, and writes the result: the main sheet alone, with the matching add row
// copied into each main row that has one. The main window and the batch command drive it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "merge/ResultFile.hpp"
#include "merge/UList.hpp"
#include "store/UClc.hpp"

namespace merge {

// A pair of columns (zero-based) whose texts must agree.
struct TLink {
  std::int32_t MainCol = -1;
  std::int32_t AddCol = -1;
  bool Deleted = false;
};

// A run's choices in the user's terms, for code that sets a run up in one step (the batch
// command, tools, tests); the setup window sets the parameters one by one as the user clicks.
struct Setup {
  std::string MainFile{};
  std::string AddFile{};
  std::int32_t MainSheet = 0;
  std::int32_t AddSheet = 0;
  std::int32_t MainTitleRow = -1;
  std::int32_t AddTitleRow = -1;
  std::int32_t MainFirstRow = 0;
  std::vector<std::pair<std::int32_t, std::int32_t>> Links{};  // (main column, add column)
  bool CaseSensitive = true;
  // One-based; -1 leaves one empty column after the main sheet's last used one.
  std::int32_t AddThereColumn = -1;
};

// Zero-based column index to letters (A..Z, AA.., as the store names columns).
std::string ColumnLetters(std::int32_t column);

// Trims characters of code 32 or less from both ends, then upper-cases by Unicode rules
// unless the match is case-sensitive.
std::string KeyPart(const std::string& cellText, bool caseSensitive);

// The steps of a run, in their order. Both tables' keys are read from the books as loaded,
// before anything changes the main book.
enum class Phase {
  ReadingAddKeys,
  ReadingMainKeys,
  StoringTarget,   // the main book stored under the result's temporary name
  RemovingSheets,  // with the formulas that showed something else since turned into results
  Copying,
  StoringResult,
  Closing,
  ReloadingMain,
};
inline constexpr int kPhaseCount = static_cast<int>(Phase::ReloadingMain) + 1;

// "reading the add table's keys": for a status line.
const char* PhaseText(Phase phase);

class MergeRun {
 public:
  // Called with the progress position and maximum as the run advances.
  using Progress = std::function<void(std::int32_t position, std::int32_t maximum)>;
  using PhaseListener = std::function<void(Phase)>;

  explicit MergeRun(store::clc& store, ResultFiles& files = DiskFiles());
  ~MergeRun();

  // --- merge parameters: an index not set is -1, a file not set is empty ---
  std::string MainFile;
  std::string AddFile;
  std::int32_t MainBook = -1;
  std::int32_t AddBook = -1;
  std::int32_t MainSheet = -1;
  std::int32_t AddSheet = -1;
  std::int32_t MainTitleRow = -1;
  std::int32_t MainFirstRow = -1;
  std::int32_t AddTitleRow = -1;
  std::int32_t AddThereColumn = -1;  // one-based
  std::vector<TLink> Links;          // compact: no deleted slot between live ones
  std::int32_t LinkCount = 0;
  bool CaseSensitive = true;  // keys compare with letter case unless the user says otherwise

  // The reference run: one office call per copied cell, as described for the window. The
  // default writes the same cells in blocks.
  bool ExactCalls = false;

  // After writing, the main table is loaded afresh for the next run (the windows). The batch
  // command makes one run and leaves it closed; MainBook is then -1.
  bool ReloadMain = true;

  // Opens the files of `setup` the run does not hold open yet and takes every choice of it;
  // false when a file cannot be opened (its book index then -1) or a sheet is not in it.
  bool SetUp(const Setup& setup);

  bool MainParamsComplete() const;
  bool AddParamsComplete() const;

  // A target that names a source file in any spelling, or does once ".ods" is appended.
  bool IsIllegalTarget(const std::string& target) const;

  // --- the run ---
  void SetProgress(Progress progress) { progress_ = std::move(progress); }
  // Told as each phase begins, in the order listeners were added.
  void AddPhaseListener(PhaseListener listener) { phaseListeners_.push_back(std::move(listener)); }
  void SetResultFiles(ResultFiles& files) { files_ = &files; }

  // A run asked to stop (through the token Run was given) ends at its next safe point with
  // kStoppedMessage and writes nothing.
  static const char* const kStoppedMessage;
  std::int32_t ProgressMaximum() const;
  void CreateKeyList();
  void IndexAddTable();
  // Writes the result to `target` (".ods" appended where missing) through a temporary file
  // that takes the target's place only when every step succeeded; false when any step failed
  // (LastError says why), and then no file was written or changed. The main book is loaded
  // afresh from MainFile either way, unless ReloadMain is off.
  bool MergeIntoMain(const std::string& target);
  void FreeKeyList();
  void KeepOnlySheet(std::int32_t book, std::int32_t sheet);
  // The digest of one row's key, from the main or the add columns of the links.
  std::string RowDigest(std::int32_t book, std::int32_t sheet, std::int32_t row, bool main);

  // The whole run after the target was chosen and checked: key list, index, merge, free.
  // Never raises: every failure is the run's, told by LastError. A stop asked of `stop` ends
  // it at its next safe point; each run has a token of its own, so a request that comes after
  // a run's end reaches no other run.
  bool Run(const std::string& target, std::stop_token stop = {});

  std::string LastError;  // the cause of the last failed merge, one sentence
  // What the last run did not do as asked, one sentence each: add columns left out, empty link
  // columns, add keys that occur more than once.
  std::vector<std::string> Warnings;
  bool LastStopped = false;      // the last run ended because a stop was asked for
  std::string ResultPath;        // the file the last successful run wrote
  std::int32_t RowsWalked = 0;   // main data rows walked by the last merge
  std::int32_t RowsMatched = 0;  // of these, rows that received an add row
  bool MainBookLost() const { return MainBook < 0; }  // the main file could not be reloaded

  const TList* KeyList() const { return keyList_.get(); }

 private:
  void Step();
  void Enter(Phase phase);
  // Raises Stopped when a stop was asked for: at the run's safe points only.
  void CheckStop() const;
  // Runs a part of the run; a failure becomes LastError (and LastStopped) and false.
  template <typename F>
  bool Guarded(F&& work);
  // Everything between the target's choice and its commit.
  void WriteResult(ResultFile& result);
  // Removes the sheets but MainSheet; formulas that showed something else since keep what they
  // showed. Raises when another sheet is left or the main sheet is not.
  void KeepOnlyMainSheet();
  void CheckOnlyMainSheetLeft(const std::string& mainSheetName);
  // The main data rows walked, with the add row each receives (zero-based, ascending main
  // rows), from the main sheet's keys as loaded.
  std::vector<std::pair<std::int32_t, std::int32_t>> MatchMainRows();
  // The title copy and the copies of the matched rows.
  void CopyMatches(const std::vector<std::pair<std::int32_t, std::int32_t>>& matches);
  // The main table loaded afresh for the next run; MainBook -1 when it cannot be.
  void ReloadMainTable(bool merged);
  void CloseMainQuietly();
  // The digests of rows first..last (zero-based) from the links' main or add columns, the
  // columns read in bulk.
  std::vector<std::string> RowDigests(std::int32_t book, std::int32_t sheet, std::int32_t first,
                                      std::int32_t last, bool main);
  // Copies add rows into main rows ((main row, add row), zero-based, ascending main rows)
  // with block reads and block writes: the same cells as one CopyRow per pair.
  void CopyRows(const std::vector<std::pair<std::int32_t, std::int32_t>>& pairs);
  void CopyTitle();
  std::int32_t RowCount(std::int32_t book, std::int32_t sheet) const;
  // The add columns the main sheet has room for from AddThereColumn on; warns of those left
  // out, and raises when not one fits.
  std::int32_t AddColumnsThatFit();
  // Warnings of link columns that are empty in their whole sheet.
  void CheckLinkColumns();
  // A warning of add keys that occur more than once, from the sorted key list.
  void CountDuplicateKeys();

  // The add rows as the copies write them, read in blocks as first needed during one merge.
  const std::vector<std::string>& AddRowTexts(std::int32_t row, std::int32_t width);

  store::clc& store_;
  ResultFiles* files_;
  std::vector<PhaseListener> phaseListeners_;
  std::stop_token stop_;
  bool officeLost_ = false;  // the last failure was the office's end
  std::unique_ptr<TList> keyList_;
  std::int32_t addWidth_ = 0;  // add columns copied by this merge
  std::vector<std::vector<std::string>> addTexts_;
  std::vector<bool> addBlocksRead_;
  Progress progress_;
  std::int32_t position_ = 0;
  std::int32_t maximum_ = 0;
};

}  // namespace merge
