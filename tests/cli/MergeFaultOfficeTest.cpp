// The batch command when its office dies in the middle of a merge: a clear failure within
// seconds, no process left behind, sources untouched.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "cli/MergeCommand.hpp"
#include "support/OfficeTesting.hpp"

extern char** environ;

namespace {

using namespace office_testing;

std::string Bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Both tables with `rows` rows, every main row matching: a merge of some seconds.
void MakeTables(const std::string& main, const std::string& add, int rows) {
  SheetSpec m{"Main", {}}, a{"Add", {}};
  for (int r = 0; r < rows; ++r) {
    m.cells.push_back({0, r, "K" + std::to_string(r), {}, {}});
    m.cells.push_back({1, r, "main " + std::to_string(r), {}, {}});
    for (int c = 0; c < 6; ++c)
      a.cells.push_back(c == 0 ? CellSpec{0, r, "K" + std::to_string(r), {}, {}}
                               : CellSpec{c, r, "", r * 1.5 + c, {}});
  }
  WriteFlatOds(main, {m});
  WriteFlatOds(add, {a});
}

TEST(MergeFault, AnOfficeKilledMidMergeEndsTheCommandWithStatusOne) {
  TempDir dir;
  const std::string main = dir / "main.fods", add = dir / "add.fods";
  const std::string target = dir / "result.ods", errors = dir / "stderr.txt";
  MakeTables(main, add, 3000);
  const std::string mainBytes = Bytes(main), addBytes = Bytes(add);

  std::vector<std::string> args = {TABLOOM_BINARY, "merge", main,     add,
                                   "-o",           target,  "--link", "A=A"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t command = 0;
  ASSERT_EQ(posix_spawn(&command, argv[0], &files, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);

  // The result file appears once the merge has begun writing; then the office dies.
  std::vector<pid_t> office;
  const bool writing = WaitFor(
      [&] {
        office = ChildOfficePids(command);
        return !office.empty() && fs::exists(target);
      },
      std::chrono::seconds(60));
  if (writing) ::kill(office.at(0), SIGKILL);

  int status = 0;
  const bool ended = WaitFor([&] { return ::waitpid(command, &status, WNOHANG) == command; },
                             std::chrono::seconds(30));
  if (!ended) {
    ::kill(command, SIGKILL);
    ::waitpid(command, &status, 0);
  }
  ASSERT_TRUE(writing) << "the merge never began writing";
  ASSERT_TRUE(ended) << "the command did not end after its office died";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), cli::kMergeFailed);
  EXPECT_NE(Bytes(errors).find("The merge failed"), std::string::npos) << Bytes(errors);
  EXPECT_TRUE(ChildOfficePids(command).empty());
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(office.at(0)) + "/exe"));
  EXPECT_EQ(Bytes(main), mainBytes);
  EXPECT_EQ(Bytes(add), addBytes);
}

}  // namespace
