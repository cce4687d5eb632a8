// The files a run reads and the files it writes, and the one rule between them: no output is
// ever a file the run reads, nor another output. Every front end, the engine at its start and
// every output's commit ask the same function.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace merge {

enum class FileRole {
  MainTable,
  AddTable,
  Setup,
  Result,
  UnmatchedList,
  UnusedList,
  MatchesList,
  SavedList,  // a list the windows save
};

// A file by its role, named as it is opened or written (a result with its extension).
struct RoleFile {
  FileRole role;
  std::string name;
};

// "the main table", "the unmatched list", ...
const char* RoleName(FileRole role);

// Whether two names reach one file: by device and inode where both exist (symbolic links,
// "..", hard links, letter case on a case-free file system), else by their absolute paths
// with "." and ".." gone and the symbolic links of their existing parts resolved.
bool SameFile(const std::string& a, const std::string& b);

// An output that would write a file the run reads, or another output.
struct Clash {
  RoleFile output;
  FileRole with;
  // "it is the main table"
  std::string Why() const;
};

// The first output (in their order) that is the same file as an input or an earlier output.
std::optional<Clash> FirstClash(const std::vector<RoleFile>& inputs,
                                const std::vector<RoleFile>& outputs);

// The sentence that refuses a clash: "Illegal target file name: NAME" for the result, a like
// one naming the option for a list, each followed by why.
std::string ClashSentence(const Clash& clash);

}  // namespace merge
