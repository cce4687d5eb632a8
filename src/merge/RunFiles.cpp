#include "merge/RunFiles.hpp"

#include <filesystem>

namespace merge {

namespace fs = std::filesystem;

const char* RoleName(FileRole role) {
  switch (role) {
    case FileRole::MainTable:
      return "the main table";
    case FileRole::AddTable:
      return "the add table";
    case FileRole::Setup:
      return "the setup file";
    case FileRole::Result:
      return "the result file";
    case FileRole::UnmatchedList:
      return "the unmatched list";
    case FileRole::UnusedList:
      return "the unused list";
    case FileRole::MatchesList:
      return "the matches list";
    case FileRole::SavedList:
      return "the list saved";
  }
  return "";
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  // Where a name does not exist yet, the path it will be created at.
  const auto path = [](const std::string& name) {
    std::error_code error;
    const fs::path absolute = fs::absolute(name, error);
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
  };
  return path(a) == path(b);
}

std::string Clash::Why() const {
  return std::string("it is ") + RoleName(with);
}

std::optional<Clash> FirstClash(const std::vector<RoleFile>& inputs,
                                const std::vector<RoleFile>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (const RoleFile& input : inputs)
      if (SameFile(outputs[i].name, input.name)) return Clash{outputs[i], input.role};
    for (std::size_t j = 0; j < i; ++j)
      if (SameFile(outputs[i].name, outputs[j].name)) return Clash{outputs[i], outputs[j].role};
  }
  return std::nullopt;
}

std::string ClashSentence(const Clash& clash) {
  std::string what;
  switch (clash.output.role) {
    case FileRole::Result:
      what = "Illegal target file name";
      break;
    case FileRole::UnmatchedList:
      what = "Illegal file name for --unmatched";
      break;
    case FileRole::UnusedList:
      what = "Illegal file name for --unused";
      break;
    case FileRole::MatchesList:
      what = "Illegal file name for --matches";
      break;
    case FileRole::SavedList:
      what = "Illegal file name for the list";
      break;
    case FileRole::Setup:
      what = "Illegal setup file name";
      break;
    case FileRole::MainTable:
    case FileRole::AddTable:
      what = "Illegal file name";
      break;
  }
  return what + ": " + clash.output.name + " (" + clash.Why() + ")";
}

}  // namespace merge
