// A run's result file comes to be as a whole or not at all: the run writes a temporary file in
// a hidden folder beside the target, which takes the target's place in one step once the run
// succeeded and is removed otherwise. An existing target keeps its bytes until then.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "merge/RunFiles.hpp"

namespace merge {

// The file operations behind a result file; the real file system, or a test's own.
class ResultFiles {
 public:
  virtual ~ResultFiles() = default;
  // The name of a temporary file, not yet written, in a new hidden place on the file system
  // `target` is to be written to. Raises std::runtime_error, saying why, when there is none.
  virtual std::string CreateTemporary(const std::string& target) = 0;
  // Puts the temporary file in the target's place in one step; raises std::runtime_error.
  virtual void Replace(const std::string& temporary, const std::string& target) = 0;
  // The temporary file and whatever else was written beside it.
  virtual void Remove(const std::string& temporary) noexcept = 0;
  // Writes `text` as the whole temporary file (a list the run writes itself); raises
  // std::runtime_error, saying why.
  virtual void Write(const std::string& temporary, std::string_view text) = 0;
};

// The real file system. A temporary file has the target's name in a folder of its own beside
// the target, ".tabloom-HOST-PID-XXXXXX", which also takes the office's own temporary files;
// such folders of programs that died on this host are removed when the next one writes into
// the same folder (HOST tells this machine's boot and process namespace from another's on a
// shared folder). The result gets an existing target's mode and is on disk, synced, before
// it takes the target's place; a failed sync fails the replace. A target that is a symbolic
// link keeps the link: the file it points to is replaced.
class DiskResultFiles : public ResultFiles {
 public:
  std::string CreateTemporary(const std::string& target) override;
  void Replace(const std::string& temporary, const std::string& target) override;
  void Remove(const std::string& temporary) noexcept override;
  void Write(const std::string& temporary, std::string_view text) override;

  // ".tabloom-HOST-": how this host's temporary folders begin.
  static std::string FolderPrefix();

 protected:
  // fsync(2); a test's own file system fails it as a full or failing disk does.
  virtual int Sync(int fd);
};

ResultFiles& DiskFiles();

// One file a run writes: the result, or a list.
class ResultFile {
 public:
  // `path`: the file as it is written (a result with its extension). It never takes the place
  // of one of `inputs`: the commit checks again, whatever path led there.
  ResultFile(ResultFiles& files, RoleFile path, std::vector<RoleFile> inputs);
  ~ResultFile();  // removes the temporary file unless committed
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  const std::string& Temporary() const { return temporary_; }
  const std::string& Path() const { return path_.name; }  // what the file becomes
  FileRole Role() const { return path_.role; }
  // Raises std::runtime_error when the file is an input, or cannot take its place.
  void Commit();

 private:
  ResultFiles& files_;
  RoleFile path_;
  std::vector<RoleFile> inputs_;
  std::string temporary_;
  bool committed_ = false;
};

}  // namespace merge
