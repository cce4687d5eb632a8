// The steps of a run, in their order, as the windows and the batch command name them.
#pragma once

namespace merge {

// Both tables' keys are read from the books as loaded, before anything changes the main book.
enum class Phase {
  ReadingAddKeys,
  ReadingMainKeys,
  StoringTarget,   // the reference only: the main book stored as the result before the removals
  RemovingSheets,  // with the formulas that showed something else since turned into results
  Copying,
  StoringResult,
  Closing,
  ReloadingMain,
};
inline constexpr int kPhaseCount = static_cast<int>(Phase::ReloadingMain) + 1;

// "reading the add table's keys": for a status line.
const char* PhaseText(Phase phase);

}  // namespace merge
