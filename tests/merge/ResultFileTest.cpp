// Result files on the real file system: hidden beside the target while the run writes, in the
// target's place in one step when it succeeded, gone when it did not.
#include "merge/ResultFile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {

namespace fs = std::filesystem;
using merge::ResultFile;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

merge::RoleFile Output(const fs::path& file) {
  return {merge::FileRole::Result, file.string()};
}

class ResultFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("tabloom-result-" + std::to_string(::getpid()) + "-" +
                                       std::to_string(std::random_device()()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir;
};

TEST_F(ResultFiles, TheTemporaryFileIsHiddenBesideTheTargetAndTakesItsPlace) {
  std::ofstream(dir / "result.ods") << "old";
  ::chmod((dir / "result.ods").c_str(), 0640);
  ResultFile result(merge::DiskFiles(), Output(dir / "result.ods"), {});
  const fs::path temporary = result.Temporary();
  EXPECT_EQ(temporary.parent_path().parent_path(), dir);
  EXPECT_EQ(temporary.parent_path().filename().string().rfind(
                merge::DiskResultFiles::FolderPrefix() + std::to_string(::getpid()) + "-", 0),
            0u);
  EXPECT_EQ(temporary.filename(), "result.ods");
  EXPECT_EQ(Bytes(dir / "result.ods"), "old");  // untouched while the run writes
  std::ofstream(temporary) << "new";
  std::ofstream(temporary.parent_path() / "lu1234.tmp") << "the office's own";
  result.Commit();
  EXPECT_EQ(Bytes(dir / "result.ods"), "new");
  EXPECT_EQ(Names(), std::vector<std::string>{"result.ods"});
  struct stat status {};
  ASSERT_EQ(::stat((dir / "result.ods").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);  // the mode the target had
}

TEST_F(ResultFiles, WithoutCommitNothingIsLeftAndTheTargetKeepsItsBytes) {
  std::ofstream(dir / "result.ods") << "old";
  {
    ResultFile result(merge::DiskFiles(), Output(dir / "result.ods"), {});
    std::ofstream(result.Temporary()) << "half written";
    std::ofstream(fs::path(result.Temporary()).parent_path() / "lu1234.tmp") << "the office's";
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"result.ods"});
  EXPECT_EQ(Bytes(dir / "result.ods"), "old");
}

TEST_F(ResultFiles, ANewFileIsMadeAsAnyNewFileUnderItsOwnName) {
  ResultFile result(merge::DiskFiles(), Output(dir / "t1.xlsx"), {});
  EXPECT_EQ(result.Path(), (dir / "t1.xlsx").string());
  std::ofstream(result.Temporary()) << "new";  // as the office makes a file
  result.Commit();
  EXPECT_EQ(Names(), std::vector<std::string>{"t1.xlsx"});
  struct stat status {};
  ASSERT_EQ(::stat((dir / "t1.xlsx").c_str(), &status), 0);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(status.st_mode & 0777, 0666u & ~mask);  // as any new file
}

TEST_F(ResultFiles, ALinkedTargetKeepsItsLink) {
  fs::create_directory(dir / "real");
  std::ofstream(dir / "real" / "data.ods") << "old";
  fs::create_symlink(dir / "real" / "data.ods", dir / "link.ods");
  ResultFile result(merge::DiskFiles(), Output(dir / "link.ods"), {});
  EXPECT_EQ(fs::path(result.Temporary()).parent_path().parent_path(), dir / "real");
  std::ofstream(result.Temporary()) << "new";
  result.Commit();
  EXPECT_TRUE(fs::is_symlink(dir / "link.ods"));
  EXPECT_EQ(Bytes(dir / "real" / "data.ods"), "new");
}

TEST_F(ResultFiles, AFolderThatTakesNoFileIsTheRunsError) {
  try {
    ResultFile result(merge::DiskFiles(), Output(dir / "missing" / "r.ods"), {});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(
        std::string(e.what()).find("Cannot write in the folder " + (dir / "missing").string()),
        std::string::npos)
        << e.what();
  }
}

// Only this host's folders whose program is gone: a pid of another host or container on a
// shared folder names no process here, and a name that is not ours is left alone.
TEST_F(ResultFiles, WhatADeadProgramLeftIsRemovedByTheNext) {
  const std::string ours = merge::DiskResultFiles::FolderPrefix();
  // pid 1 lives; a pid above the kernel's limit never does.
  fs::create_directory(dir / (ours + "1-abcdef"));
  fs::create_directory(dir / (ours + "99999999-abcdef"));
  std::ofstream(dir / (ours + "99999999-abcdef") / "r.ods") << "a dead program's";
  std::ofstream(dir / (ours + "99999999-abcdef") / "lu1.tmp") << "its office's";
  std::ofstream(dir / (ours + "99999999-ghijkl")) << "not a folder of ours";
  const std::string elsewhere =
      ours == ".tabloom-00000000-" ? ".tabloom-11111111-" : ".tabloom-00000000-";
  const std::vector<std::string> kept = {
      elsewhere + "99999999-abcdef",               // another host's
      ".tabloom-99999999-abcdef",                  // no host: cannot tell
      ours + "99999999999999999999999999-abcdef",  // no pid at all
      ours + "99999999-abcdefg",                   // not the name we make
  };
  for (const std::string& name : kept) fs::create_directory(dir / name);
  ResultFile result(merge::DiskFiles(), Output(dir / "r.ods"), {});
  std::ofstream(result.Temporary()) << "new";
  result.Commit();
  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {ours + "1-abcdef", ours + "99999999-ghijkl", "r.ods"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(), expected);
}

// A disk that reports its failure only when the result is synced: the result does not take
// the target's place, the target keeps its bytes, and nothing of the run is left.
TEST_F(ResultFiles, AFailedSyncLeavesTheOldTarget) {
  struct FailingDisk : merge::DiskResultFiles {
    int Sync(int) override {
      errno = EIO;
      return -1;
    }
  } disk;
  std::ofstream(dir / "result.ods") << "old";
  {
    ResultFile result(disk, Output(dir / "result.ods"), {});
    std::ofstream(result.Temporary()) << "cut off";
    try {
      result.Commit();
      ADD_FAILURE() << "a failed sync was taken for a written result";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("Input/output error"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(Bytes(dir / "result.ods"), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"result.ods"});
}

// Whatever path led there, a commit never replaces a file the run reads: a link made to point
// at the main table while the run wrote is refused at the rename, and the table keeps its bytes.
TEST_F(ResultFiles, TheCommitNeverReplacesAnInput) {
  std::ofstream(dir / "main.ods") << "the main table";
  const std::vector<merge::RoleFile> inputs = {
      {merge::FileRole::MainTable, (dir / "main.ods").string()}};
  {
    ResultFile result(merge::DiskFiles(), Output(dir / "r.ods"), inputs);
    std::ofstream(result.Temporary()) << "new";
    fs::create_symlink(dir / "main.ods", dir / "r.ods");
    try {
      result.Commit();
      ADD_FAILURE() << "an input was replaced";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("(it is the main table)"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(Bytes(dir / "main.ods"), "the main table");
  EXPECT_EQ(Names(), (std::vector<std::string>{"main.ods", "r.ods"}));
}

}  // namespace
