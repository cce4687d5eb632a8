// The merge run, free of any window: given a run's parameters it builds the row key list from
// the add table and writes the result, the main sheet alone with the matching add row copied
// into each main row that has one. The main window and the batch command drive it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "merge/CopyPath.hpp"
#include "merge/Lists.hpp"
#include "merge/Matching.hpp"
#include "merge/Parameters.hpp"
#include "merge/Phase.hpp"
#include "merge/ResultFile.hpp"
#include "merge/UList.hpp"
#include "store/UClc.hpp"

namespace merge {

// What a run did.
struct RunReport {
  bool Ok = false;
  bool Stopped = false;  // it ended because a stop was asked for
  std::string Error;     // the cause of a failed run, one sentence
  // What the run did not do as asked, one sentence each: add columns left out, empty link
  // columns, add keys that occur more than once, a pivot table that lost its source.
  std::vector<std::string> Warnings;
  std::string ResultPath;  // the file written
  std::int32_t RowsWalked = 0;
  std::int32_t RowsMatched = 0;  // near matches among them
  std::int32_t RowsNear = 0;
  // The main rows that found nothing, with their nearest keys, and the near matches: the
  // first few, or all of them when the parameters ask; the add rows nobody took and the keys
  // of several add rows, when asked for.
  std::vector<UnmatchedRow> Unmatched;
  std::vector<NearMatchRow> NearMatches;
  std::vector<UnusedRow> Unused;
  std::vector<DuplicateKey> Duplicates;
  // The main table loaded afresh (ReloadMain), -1 when it was not or could not be.
  std::int32_t MainBook = -1;
};

class MergeRun {
 public:
  // Called with the progress position and maximum as the run advances: one step per add row
  // and per main row whose key was read.
  using Progress = std::function<void(std::int32_t position, std::int32_t maximum)>;
  using PhaseListener = std::function<void(Phase)>;
  // How far the current phase has come, 0..1, where it can tell: the rows copied of those to
  // copy, the office's own progress of a store or of the main table's load. The office's
  // reports come on its threads, while the run waits for its answer.
  using PhaseProgress = std::function<void(double fraction)>;

  explicit MergeRun(store::clc& store, ResultFiles& files = DiskFiles());
  ~MergeRun();
  MergeRun(const MergeRun&) = delete;
  MergeRun& operator=(const MergeRun&) = delete;

  void SetProgress(Progress progress) { progress_ = std::move(progress); }
  void SetPhaseProgress(PhaseProgress progress) { phaseProgress_ = std::move(progress); }
  // Told as each phase begins, in the order listeners were added.
  void AddPhaseListener(PhaseListener listener) { phaseListeners_.push_back(std::move(listener)); }
  void SetResultFiles(ResultFiles& files) { files_ = &files; }

  // The whole run on its resolved choices: writes the result to `parameters.StoredTarget()`
  // and the lists it names, each through a temporary file that takes its place only when
  // every step succeeded; otherwise nothing is written or changed. An output that is one of
  // the run's inputs, or another output, fails the run before anything else. Never raises. A
  // stop asked of `stop` ends the run at its next safe point with kStoppedMessage; each run
  // has a token of its own, so a request that comes after a run's end reaches no other run.
  RunReport Run(const Parameters& parameters, std::stop_token stop = {});
  static const char* const kStoppedMessage;

 private:
  // Runs a part of the run; a failure of any kind becomes the report's and false.
  template <typename F>
  bool Attempt(F&& work);
  void Step();
  void Enter(Phase phase);
  void Within(double fraction) const;
  // The office's report of a load or a store; other calls (a key export, the reference's
  // stores between removals) are not the phase's measure.
  void OfficeProgress(double fraction) const;
  void Copied(std::int32_t rows);
  // Raises at the run's safe points once a stop was asked for.
  void CheckStop() const;
  std::int32_t RowCount(std::int32_t book, std::int32_t sheet) const;
  std::vector<std::int32_t> LinkColumns(bool main) const;

  void IndexAddTable();
  void WriteResult(ResultFile& result);
  // The main data rows with the add row each receives, from the main sheet's keys as loaded.
  std::vector<RowPair> MatchMainRows();
  // Removes the sheets but the main sheet; formulas that show something else since keep what
  // they showed. Raises when another sheet is left or the main sheet is not.
  void KeepOnlyMainSheet();
  void CheckOnlyMainSheetLeft(const std::string& mainSheetName);
  void CloseMainQuietly();
  // The main table loaded afresh for the next run, when asked for.
  void ReloadMainTable();

  // The key digests of rows from their link cells' texts, one vector per link.
  std::vector<std::string> Digests(const std::vector<std::vector<std::string>>& texts) const;
  // Raises when the result's format cannot hold it whole.
  void CheckFormatHolds();

  // What the run reports beside its counts.
  // The add columns copied, those the main sheet has room for; raises when not one fits.
  std::vector<std::int32_t> AddColumnsThatFit();
  void CheckLinkColumns();
  // A list's text, by its role.
  std::string ListText(FileRole role) const;

  store::clc& store_;
  ResultFiles* files_;
  std::vector<PhaseListener> phaseListeners_;
  Progress progress_;
  PhaseProgress phaseProgress_;

  // One run's own state.
  Parameters p_;
  RunReport report_;
  std::stop_token stop_;
  bool officeLost_ = false;  // the office ended during the run
  std::unique_ptr<TList> keyList_;
  std::unique_ptr<Matching> matching_;  // from the add keys read to the main rows matched
  std::string matchesCsv_;
  std::unique_ptr<CopyPath> path_;
  std::int32_t copyWidth_ = 0;  // add columns copied
  std::int32_t position_ = 0;
  std::int32_t maximum_ = 0;
  std::atomic<Phase> phase_{Phase::ReadingAddKeys};
  std::int32_t toCopy_ = 0;  // rows, the title row among them
  std::int32_t copied_ = 0;
};

}  // namespace merge
