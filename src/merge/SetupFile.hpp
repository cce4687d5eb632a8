// A merge as the user set it up, kept in a file of its own (".tabloom", JSON a person can
// read), to be opened again in the windows or run by `tabloom merge --setup`; and the batch
// command line that makes the same merge.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "merge/Parameters.hpp"
#include "store/Ucommonxlsclc.hpp"

namespace store {
class clc;
}

namespace merge {

// One table of a setup. Rows are zero-based, -1 when not chosen.
struct TableSetup {
  std::string File;      // as chosen
  std::string Relative;  // the same file seen from the setup file's folder; empty: none
  std::string Sheet;     // by name; empty: not chosen
  std::int32_t TitleRow = -1;

  bool operator==(const TableSetup&) const = default;
};

struct SavedSetup {
  TableSetup Main, Add;
  std::int32_t MainFirstRow = -1;
  std::vector<std::pair<std::int32_t, std::int32_t>> Links;  // (main column, add column)
  bool CaseSensitive = true;
  bool KeepValues = false;
  std::vector<std::int32_t> CopyColumns;  // empty: all
  std::string Target;                     // empty: not chosen yet
  std::optional<ResultFormat> Format;
  std::optional<NearMatch> Near;            // none: exact keys only
  std::optional<Duplicates> DuplicateRule;  // none: as the search meets them

  bool operator==(const SavedSetup&) const = default;
};

// One sentence: the file cannot be read or written, is damaged, or is of a newer kind.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The version this program writes and the newest it reads.
inline constexpr int kSetupVersion = 1;

// Writes `setup` to `file` through a temporary file of its own, synced, which takes the old
// file's place (keeping its mode) only once it is whole; the tables' relative paths are taken
// from `file`'s folder here. A file that is not a Tabloom setup is never replaced. Raises
// SetupError.
void WriteSetup(SavedSetup setup, const std::filesystem::path& file);
// Whether the file holds a Tabloom setup, of any version.
bool IsSetupFile(const std::filesystem::path& file);
// Raises SetupError.
SavedSetup ReadSetup(const std::filesystem::path& file);

// The setup that `p` describes, sheet names taken from `store`'s books.
SavedSetup Capture(const store::clc& store, const Parameters& p, const std::string& target);

// A choice a saved setup could not restore, in the sentence the batch command prints.
struct SetupNote {
  enum class Kind {
    CannotOpen,   // a file or a sheet
    BeyondSheet,  // a row or column past what the sheet holds now
    NotChosen,    // the setup names no sheet of a table
    Used,         // which of two files was used: the run goes on
  };
  Kind kind;
  std::string sentence;
};

// Opens the setup's files into `store` (each where Locate finds it) and takes every choice
// that still fits into `p`; what does not fit is left unset and named, and so is a file used
// in the place of another. A sheet is found by name, else by its number (1 = first).
std::vector<SetupNote> Restore(store::clc& store, const SavedSetup& setup,
                               const std::filesystem::path& setupFolder, Parameters& p);

// A sheet by name, else by its number (1 = first); -1 when neither.
std::int32_t FindSheet(const store::sheets& sheets, const std::string& wanted);

// Where a table's file is: beside the setup where its relative path leads to a file (a folder
// copied whole runs against its own tables), else as chosen. `passedOver`: the file as
// chosen, when it is there too and is another file.
struct Location {
  std::string file;
  std::string passedOver;
};
Location Locate(const TableSetup& table, const std::filesystem::path& setupFolder);

// The sentences shared by the batch command and the windows.
std::string CannotOpenSentence(const char* which, const std::string& file, const store::clc& store);
std::string NoSuchSheetSentence(const char* which, const std::string& sheet);

// `program` and the batch command's arguments for the same merge, each quoted for a POSIX
// shell where it needs to be; the files after "--", so that a name may begin with '-'.
std::string CommandLine(const std::string& program, const SavedSetup& setup);
std::vector<std::string> CommandArguments(const SavedSetup& setup);
std::string ShellQuote(const std::string& word);

}  // namespace merge
