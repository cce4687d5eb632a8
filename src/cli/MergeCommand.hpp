// The batch command: `tabloom merge MAIN ADD -o TARGET --link MAINCOL=ADDCOL ...`, the same
// merge as the windows, for scripts and large tables.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "automation/Variant.hpp"
#include "merge/MergeRun.hpp"
#include "merge/SetupFile.hpp"

namespace cli {

enum ExitStatus : int {
  kMerged = 0,
  kMergeFailed = 1,
  kUsage = 2,
  kCannotOpen = 3,
  kNoOffice = 4,
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MergeOptions {
  std::string mainFile, addFile, target;
  std::vector<std::pair<std::int32_t, std::int32_t>> links;  // zero-based main, add columns
  std::string mainSheet, addSheet;                           // empty: the first sheet
  std::int32_t mainTitleRow = -1;                            // zero-based; -1 none
  std::int32_t addTitleRow = -1;
  std::int32_t firstRow = 0;  // zero-based main data begin
  bool ignoreCase = false;
  std::optional<std::int32_t> officeTimeout;    // seconds an office call may take
  bool verbose = false;                         // each phase named on stderr
  bool exactCalls = false;                      // hidden: the cell-by-cell reference run
  bool keepValues = false;                      // numbers and dates copied as values
  std::vector<std::int32_t> copyColumns;        // zero-based add columns; empty: all
  std::optional<merge::ResultFormat> format;    // none given: ods, as described
  std::string unmatchedFile;                    // every unmatched main row listed there
  std::string unusedFile;                       // every add row nobody took listed there
  std::string matchesFile;                      // every main row's outcome listed there
  std::optional<merge::Duplicates> duplicates;  // none given: as the search meets them
  std::optional<merge::NearMatch> near;         // none given: exact keys only
  std::string setupFile;                        // a saved setup; the options above win over it
  bool firstRowGiven = false;
  bool help = false;
};

// What tests put into a run: where its result files go, and who else hears of each phase.
struct RunHooks {
  merge::ResultFiles* files = nullptr;  // the real file system when null
  std::function<void(merge::Phase)> onPhase;
};

// "B,D:F" to the zero-based columns 1, 3, 4, 5, in that order; raises UsageError.
std::vector<std::int32_t> ParseColumnList(const std::string& list);

// Raises UsageError with one clear sentence.
MergeOptions ParseMergeArguments(const std::vector<std::string>& args);

// The saved setup with every choice the options give put in its place.
merge::SavedSetup Overlay(merge::SavedSetup setup, const MergeOptions& options);

extern const char* const kMergeUsage;

// Runs the batch merge; returns the exit status. Progress goes to `err` when `progressBar`.
// SIGINT, SIGTERM and SIGHUP stop it cleanly: nothing is written, the office is ended, and
// the status is 128 + the signal.
int RunMerge(const MergeOptions& options, automation::ObjectFactory& factory, std::ostream& out,
             std::ostream& err, bool progressBar, const RunHooks& hooks = {});

}  // namespace cli
