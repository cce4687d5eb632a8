// A run's choices as one value: the merge parameters the windows and the batch command fill,
// in their own names, and how the run goes about its work. The engine takes a copy per run.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "merge/RunFiles.hpp"

namespace store {
class clc;
}

namespace merge {

// A pair of columns (zero-based) whose texts must agree.
struct TLink {
  std::int32_t MainCol = -1;
  std::int32_t AddCol = -1;
  bool Deleted = false;
};

// The result's file format: the office's own (.ods, as described), Excel 2007-365 (.xlsx), or
// the result sheet's shown texts (.csv, UTF-8, comma, `"` where needed).
enum class ResultFormat { Ods, Xlsx, Csv };

// Several add rows with one key: the one the search meets first (as described), the first or
// the last in table order, or no run at all.
enum class Duplicates { AsFound, First, Last, Refuse };
// A main row whose key no add key equals: left unmatched (as described), or given the add row
// of its near key when no other is as near (Forms: case, Unicode form, spaces, punctuation,
// leading zeros; Typos: one or two edits too).
enum class NearMatch { Off, Forms, Typos };

// Their names on the command line and in saved setups ("first", "typos"); nothing for the
// default, which has none; and back.
const char* DuplicatesName(Duplicates rule);
std::optional<Duplicates> DuplicatesNamed(const std::string& name);
const char* NearName(NearMatch near);
std::optional<NearMatch> NearNamed(const std::string& name);

// Everything a format is called, in one place.
struct FormatNames {
  ResultFormat format;
  const char* name;         // the user's: "ods", as the batch command and saved setups write it
  const char* store;        // the store's: "Calc", "Xlsx", "Csv"
  const char* extension;    // ".ods"
  const char* description;  // the save dialog's: "ods", "Excel 2007-365", "Text CSV"
};
// Every format, in the order the save dialog offers them, the office's own first.
std::span<const FormatNames> ResultFormats();
const FormatNames& NamesOf(ResultFormat format);
const char* StoreFormat(ResultFormat format);
const char* FormatName(ResultFormat format);
// A format by its user's name; nothing for another name.
std::optional<ResultFormat> FormatNamed(const std::string& name);

// "Not all the parameters are specified", then what is: ": the main table's sheet, a link".
std::string NotAllSpecified(const std::vector<std::string>& missing);

// Why a run cannot begin with some parameters, in one sentence.
struct Unfit {
  enum class Kind {
    Incomplete,   // a required parameter is not set
    NotOpen,      // a table is not open in the store
    NoSuchSheet,  // a sheet index is not one of its book's
    BeyondSheet,  // a link column lies right of the sheet's last column, or a column to
                  // copy right of the add table's last used one
  };
  Kind kind;
  std::string sentence;
};

struct Parameters {
  // An index not set is -1, a file not set is empty. Rows and columns are zero-based, but
  // AddThereColumn, which is one-based. Books index the store's books.
  std::string MainFile;
  std::string AddFile;
  std::int32_t MainBook = -1;
  std::int32_t AddBook = -1;
  std::int32_t MainSheet = -1;
  std::int32_t AddSheet = -1;
  std::int32_t MainTitleRow = -1;
  std::int32_t MainFirstRow = -1;
  std::int32_t AddTitleRow = -1;
  std::int32_t AddThereColumn = -1;
  std::vector<TLink> Links;  // compact: no deleted slot between live ones
  std::int32_t LinkCount = 0;
  bool CaseSensitive = true;  // keys compare with letter case unless the user says otherwise

  // How the run works. ExactCalls: one office call per key cell and per copied cell, as the
  // described run does; the default writes the same cells in bulk. ReloadMain: after writing,
  // the main table is loaded afresh for the next run (the windows); the batch command makes
  // one run and leaves it closed.
  bool ExactCalls = false;
  bool ReloadMain = true;

  // Choices for the result, each off by default so that the described run stays the default.
  // Numbers, dates and formula results copied as values with their number formats.
  bool KeepValues = false;
  // The add columns copied (zero-based), in this order; empty: all of them.
  std::vector<std::int32_t> CopyColumns;
  ResultFormat Format = ResultFormat::Ods;
  // How several add rows with one key, and keys that are only near, are taken.
  Duplicates DuplicateRule = Duplicates::AsFound;
  NearMatch Near = NearMatch::Off;
  // Every unmatched row, near match, unused add row and duplicate key in the report, not just
  // the first few (the window's details).
  bool ListDetails = false;

  // The files of the run beside its tables, as the user named them. Target: the result,
  // written as StoredTarget(). The lists, each a csv, empty: none: UnmatchedFile, the main rows
  // that found nothing; UnusedFile, the add rows nobody took; MatchesFile, every main row's
  // outcome. SetupFile: the saved setup the choices came from; it is read, never written.
  std::string Target;
  std::string UnmatchedFile;
  std::string UnusedFile;
  std::string MatchesFile;
  std::string SetupFile;

  bool MainParamsComplete() const;
  bool AddParamsComplete() const;
  // What a run still needs, in the user's words ("the main table's data begin row", "a link"),
  // in the order the setup window asks for it; empty when nothing is missing.
  std::vector<std::string> Missing() const;
  // A table's file and the choices made on it are cleared, to be chosen again; the links go
  // too, as each names columns of both tables.
  void ForgetTable(bool mainTable);
  // The live links, in their order.
  std::vector<TLink> LiveLinks() const;
  // The result's file as it is written: the format's extension appended where missing.
  std::string StoredTarget() const;
  // What the run reads (both tables, the setup) and writes (the result, the lists), by role.
  std::vector<RoleFile> Inputs() const;
  std::vector<RoleFile> Outputs() const;
  // The output that would write over an input or another output; nothing when none would.
  std::optional<Clash> OutputClash() const;
  // What keeps a run on the books of `store` from beginning; nothing when all fits.
  std::optional<Unfit> Check(const store::clc& store) const;
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

// Opens the files of `setup` that `p` does not hold open yet and takes every choice of it;
// false when a file cannot be opened (its book index then -1) or a sheet is not in it.
bool SetUp(store::clc& store, const Setup& setup, Parameters& p);

}  // namespace merge
