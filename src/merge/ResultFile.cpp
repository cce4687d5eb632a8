#include "merge/ResultFile.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <vector>

#include "office/uOpenOffice.hpp"

namespace merge {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = ".tabloom-";

// The file a target name stands for: a symbolic link's target, else the name itself.
fs::path Resolved(const std::string& target) {
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path real = fs::weakly_canonical(target, ec);
    if (!ec) return real;
  }
  return fs::absolute(target, ec);
}

// What programs that died while writing into `folder` left there.
void RemoveStale(const fs::path& folder) {
  static const std::regex name(R"(\.tabloom-(\d+)-[A-Za-z0-9]{6})");
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::smatch m;
    const std::string file = entry.path().filename().string();
    if (!entry.is_directory(ec) || !std::regex_match(file, m, name)) continue;
    const auto owner = static_cast<pid_t>(std::stol(m[1].str()));
    if (owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
      fs::remove_all(entry.path(), ec);
  }
}

// The result is written in a hidden folder of its own beside the target: the office keeps its
// own temporary files beside the file it stores, and they go with the folder.
class Disk : public ResultFiles {
 public:
  std::string CreateTemporary(const std::string& target) override {
    const fs::path path = Resolved(target);
    const fs::path folder = path.parent_path();
    RemoveStale(folder);
    std::string pattern = (folder / (kPrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
      throw std::runtime_error("Cannot write in the folder " + folder.string() + ": " +
                               std::strerror(errno));
    return (fs::path(name.data()) / path.filename()).string();
  }

  void Replace(const std::string& temporary, const std::string& target) override {
    const fs::path path = Resolved(target);
    // The result keeps the mode an existing target has; on disk before it has the target's
    // name, so a crash leaves the old file or the new one.
    struct stat existing {};
    const bool replacing = ::stat(path.c_str(), &existing) == 0;
    if (const int fd = ::open(temporary.c_str(), O_RDONLY); fd >= 0) {
      if (replacing) ::fchmod(fd, existing.st_mode & 07777);
      ::fsync(fd);
      ::close(fd);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0)
      throw std::runtime_error("Cannot put the result in place as " + path.string() + ": " +
                               std::strerror(errno));
    Remove(temporary);
    if (const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }

  void Remove(const std::string& temporary) noexcept override {
    std::error_code ignored;
    fs::remove_all(fs::path(temporary).parent_path(), ignored);
  }
};

}  // namespace

ResultFiles& DiskFiles() {
  static Disk disk;
  return disk;
}

ResultFile::ResultFile(ResultFiles& files, const std::string& target)
    : files_(files),
      path_(office::TOOCalc::ChooseStoreTarget(target, "Calc").fileName),
      temporary_(files.CreateTemporary(path_)) {}

ResultFile::~ResultFile() {
  if (!committed_) files_.Remove(temporary_);
}

void ResultFile::Commit() {
  files_.Replace(temporary_, path_);
  committed_ = true;
}

}  // namespace merge
