#include "merge/ResultFile.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "automation/PrivateFolder.hpp"

namespace merge {

namespace fs = std::filesystem;

namespace {

// The file a target name stands for: a symbolic link's target, else the name itself.
fs::path Resolved(const std::string& target) {
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path real = fs::weakly_canonical(target, ec);
    if (!ec) return real;
  }
  return fs::absolute(target, ec);
}

std::string FirstLine(const char* file) {
  std::string line;
  std::getline(std::ifstream(file), line);
  return line;
}

// This boot of this machine and this process namespace, as eight hex digits: a process id is
// only believed where it names the same process.
std::string HostTag() {
  std::string identity = FirstLine("/proc/sys/kernel/random/boot_id");
  char link[256] = {};
  if (::readlink("/proc/self/ns/pid", link, sizeof link - 1) > 0) identity += link;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) identity += host;
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (const char c : identity) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char tag[9];
  std::snprintf(tag, sizeof tag, "%08x", hash);
  return tag;
}

// What programs that died on this host while writing into `folder` left there. A folder of
// another host, or one whose owner cannot be told, stays.
void RemoveStale(const fs::path& folder) {
  const std::string prefix = DiskResultFiles::FolderPrefix();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory(ec) || name.rfind(prefix, 0) != 0) continue;
    const char* digits = name.c_str() + prefix.size();
    const char* end = name.c_str() + name.size();
    pid_t owner = 0;
    const auto [rest, error] = std::from_chars(digits, end, owner);
    if (error != std::errc() || rest == digits || end - rest != 7 || *rest != '-' || owner <= 0)
      continue;
    if (owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
      fs::remove_all(entry.path(), ec);
  }
}

}  // namespace

std::string DiskResultFiles::FolderPrefix() {
  static const std::string prefix = ".tabloom-" + HostTag() + "-";
  return prefix;
}

std::string DiskResultFiles::CreateTemporary(const std::string& target) {
  const fs::path path = Resolved(target);
  const fs::path folder = path.parent_path();
  RemoveStale(folder);
  const std::string own = automation::MakePrivateFolder(
      folder.string(), FolderPrefix() + std::to_string(::getpid()) + "-");
  return (fs::path(own) / path.filename()).string();
}

int DiskResultFiles::Sync(int fd) {
  return ::fsync(fd);
}

void DiskResultFiles::Replace(const std::string& temporary, const std::string& target) {
  const fs::path path = Resolved(target);
  // On disk, with the mode an existing target has, before it has the target's name: a crash
  // leaves the old file or the new one, and a disk that reports its failure only now (a full
  // disk, an I/O error at the sync) leaves the old one.
  const auto failed = [&](const char* what) {
    return std::runtime_error(std::string(what) + " " + path.string() + ": " +
                              std::strerror(errno));
  };
  struct stat existing {};
  const bool replacing = ::stat(path.c_str(), &existing) == 0;
  const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw failed("Cannot open the result written for");
  if (replacing) ::fchmod(fd, existing.st_mode & 07777);
  if (Sync(fd) != 0) {
    const std::runtime_error error = failed("Cannot write the result out to the disk of");
    ::close(fd);
    throw error;
  }
  if (::close(fd) != 0) throw failed("Cannot write the result out to the disk of");
  if (::rename(temporary.c_str(), path.c_str()) != 0)
    throw failed("Cannot put the result in place as");
  Remove(temporary);
  if (const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void DiskResultFiles::Write(const std::string& temporary, std::string_view text) {
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw std::runtime_error("Cannot write " + temporary + ": " + std::strerror(errno));
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string cause = std::strerror(n < 0 ? errno : ENOSPC);
      ::close(fd);
      throw std::runtime_error("Cannot write " + temporary + ": " + cause);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0)
    throw std::runtime_error("Cannot write " + temporary + ": " + std::strerror(errno));
}

void DiskResultFiles::Remove(const std::string& temporary) noexcept {
  std::error_code ignored;
  fs::remove_all(fs::path(temporary).parent_path(), ignored);
}

ResultFiles& DiskFiles() {
  static DiskResultFiles disk;
  return disk;
}

ResultFile::ResultFile(ResultFiles& files, RoleFile path, std::vector<RoleFile> inputs)
    : files_(files),
      path_(std::move(path)),
      inputs_(std::move(inputs)),
      temporary_(files.CreateTemporary(path_.name)) {}

ResultFile::~ResultFile() {
  if (!committed_) files_.Remove(temporary_);
}

void ResultFile::Commit() {
  if (const std::optional<Clash> clash = FirstClash(inputs_, {path_}))
    throw std::runtime_error(ClashSentence(*clash) + "; nothing was written");
  files_.Replace(temporary_, path_.name);
  committed_ = true;
}

}  // namespace merge
