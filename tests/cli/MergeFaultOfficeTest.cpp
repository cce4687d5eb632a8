// The batch command when something goes wrong in the middle of a merge: an office call that
// fails, an office that dies or stops answering, a full file system, a signal. Every run ends
// with its error or its signal's status, no new file beside the target, an existing target
// byte for byte as it was, the sources untouched, no office left and nothing in $TMPDIR.
// Each fault is injected at a chosen point, never by a timer racing the run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "support/FaultFactory.hpp"
#include "support/OfficeTesting.hpp"

extern char** environ;

namespace {

using namespace office_testing;
using Fault = FaultFactory::Fault;

std::string Bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// A main table of two sheets (the merge keeps "Main") and an add table, `rows` rows each,
// every main row matching; the add cells are random hex, which compresses badly.
struct Tables {
  Tables(const TempDir& dir, int rows, int addColumns = 4) {
    main = dir / "main.fods";
    add = dir / "add.fods";
    SheetSpec notes{"Notes", {{0, 0, "kept apart", {}, {}}}}, m{"Main", {}}, a{"Add", {}};
    std::uint64_t random = 88172645463325252ULL;
    for (int r = 0; r < rows; ++r) {
      m.cells.push_back({0, r, "K" + std::to_string(r), {}, {}});
      m.cells.push_back({1, r, "main " + std::to_string(r), {}, {}});
      a.cells.push_back({0, r, "K" + std::to_string(r), {}, {}});
      for (int c = 1; c <= addColumns; ++c) {
        std::string text;
        for (int k = 0; k < 3; ++k) {
          random ^= random << 13;
          random ^= random >> 7;
          random ^= random << 17;
          char hex[17];
          std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(random));
          text += hex;
        }
        a.cells.push_back({c, r, text, {}, {}});
      }
    }
    WriteFlatOds(main, {notes, m}, 1);
    WriteFlatOds(add, {a});
    mainBytes = Bytes(main);
    addBytes = Bytes(add);
  }
  void ExpectUntouched() const {
    EXPECT_EQ(Bytes(main), mainBytes);
    EXPECT_EQ(Bytes(add), addBytes);
  }
  std::string main, add, mainBytes, addBytes;
};

constexpr const char* kEarlier = "an earlier result, to be kept";

// Each phase of a run, a fault in it: the run's error, and no trace of the run on disk.
TEST(MergeFault, AFaultInAnyPhaseLeavesNoFileAndKeepsTheOldTarget) {
  struct Case {
    const char* phase;
    int n;
    Fault fault;
    const char* member;
  };
  for (const Case& c : {Case{"reading the add table's keys", 3, Fault::KillOffice, ""},
                        Case{"removing the other sheets", 2, Fault::KillOffice, ""},
                        Case{"reading the main table's keys", 2, Fault::KillOffice, ""},
                        Case{"copying the matched rows", 3, Fault::KillOffice, ""},
                        Case{"copying the matched rows", 1, Fault::Fail, "getDataArray"},
                        Case{"storing the result", 1, Fault::Fail, "storeAsURL"},
                        Case{"closing the result", 1, Fault::Fail, "close"}}) {
    SCOPED_TRACE(std::string(c.phase) + " #" + std::to_string(c.n) + " " + c.member);
    TempDir dir;
    const Tables tables(dir, 200);
    const std::string target = dir / "result.ods";
    std::ofstream(target) << kEarlier;
    const std::set<std::string> before = Listing(dir.path());

    // A failing call leaves the office running: the shared one does. A killed office is one
    // of the fault's own.
    FaultFactory fault(c.fault == Fault::Fail
                           ? static_cast<automation::ObjectFactory&>(SharedOffice())
                           : automation::SystemFactory());
    fault.At(c.phase, c.n, c.fault, c.member);
    cli::RunHooks hooks;
    hooks.onPhase = [&](merge::Phase phase) { fault.EnterPhase(merge::PhaseText(phase)); };
    std::ostringstream out, err;
    const int status =
        cli::RunMerge(cli::ParseMergeArguments({tables.main, tables.add, "-o", target, "--link",
                                                "A=A", "--main-sheet", "Main"}),
                      fault, out, err, false, hooks);

    EXPECT_TRUE(fault.Fired());
    EXPECT_EQ(status, cli::kMergeFailed);
    EXPECT_EQ(out.str(), "");
    const std::string errors = err.str();
    EXPECT_EQ(errors.rfind("The merge failed: ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(Bytes(target), kEarlier);
    EXPECT_EQ(Listing(dir.path()), before);
    tables.ExpectUntouched();
    if (c.fault == Fault::KillOffice) {
      EXPECT_TRUE(ProcessEnded(fault.OfficePid()));
    }
  }
}

// The tabloom binary, started with its own $TMPDIR, stderr read line by line.
class Command {
 public:
  Command(std::vector<std::string> args, const std::string& tmpdir) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"TMPDIR=" + tmpdir};
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, pipe[1], 2);
    // A test runner may have started us with SIGINT ignored: the command gets the defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    if (posix_spawn(&pid_, argv[0], &files, &attributes, argv.data(), envp.data()) != 0)
      throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    ::close(pipe[1]);
    stderr_ = pipe[0];
  }
  ~Command() {
    if (!exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(stderr_);
  }

  pid_t pid() const { return pid_; }
  const std::string& stderrText() const { return text_; }

  // Reads stderr until a line starts with `prefix`; false at its end or after `bound`.
  bool WaitForLine(const std::string& prefix, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      for (std::size_t start = 0, end; (end = text_.find('\n', start)) != std::string::npos;
           start = end + 1)
        if (text_.compare(start, prefix.size(), prefix) == 0) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(left)) return false;
    }
  }

  // The exit status after the command ended (bounded), -1 when it did not.
  int Wait(std::chrono::milliseconds bound) {
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, bound)) return -1;
    exited_ = true;
    while (ReadSome(std::chrono::milliseconds(0))) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  bool ReadSome(std::chrono::milliseconds bound) {
    pollfd p{stderr_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t got = ::read(stderr_, buffer, sizeof buffer);
    if (got <= 0) return false;
    text_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int stderr_ = -1;
  bool exited_ = false;
  std::string text_;
};

// Once the command names `phase`, its office is stopped: from then on every office call hangs,
// so the run is certain to be in the middle of its work when `then` acts.
struct Frozen {
  int status;
  std::string stderrText;
};
Frozen FreezeOfficeAt(Command& command, const std::string& phase,
                      const std::function<void()>& then = {}) {
  EXPECT_TRUE(command.WaitForLine("Step: " + phase, std::chrono::seconds(120)))
      << command.stderrText();
  const std::vector<pid_t> office = ChildOfficePids(command.pid());
  EXPECT_EQ(office.size(), 1u);
  for (pid_t pid : office) ::kill(pid, SIGSTOP);
  if (then) then();
  const int status = command.Wait(std::chrono::seconds(60));
  for (pid_t pid : office)
    EXPECT_TRUE(WaitFor([&] { return ProcessEnded(pid); }, std::chrono::seconds(10)));
  return {status, command.stderrText()};
}

TEST(MergeSignals, ASignalMidRunStopsTheCommandWithNothingWritten) {
  struct Case {
    int signal;
    const char* phase;
  };
  for (const Case& c :
       {Case{SIGINT, "copying the matched rows"}, Case{SIGTERM, "reading the add table's keys"},
        Case{SIGHUP, "storing the result"}}) {
    SCOPED_TRACE(c.signal);
    TempDir dir, tmp;
    const Tables tables(dir, 300);
    const std::string target = dir / "result.ods";
    std::ofstream(target) << kEarlier;
    const std::set<std::string> before = Listing(dir.path());

    Command command({TABLOOM_BINARY, "merge", tables.main, tables.add, "-o", target, "--link",
                     "A=A", "--main-sheet", "Main", "--verbose"},
                    tmp.path());
    const auto sent = std::make_shared<std::chrono::steady_clock::time_point>();
    const Frozen run = FreezeOfficeAt(command, c.phase, [&] {
      *sent = std::chrono::steady_clock::now();
      ::kill(command.pid(), c.signal);
    });
    // The office does not answer: it is ended after a second's grace, not after the office
    // time limit of ten minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - *sent, std::chrono::seconds(30));
    EXPECT_EQ(run.status, 128 + c.signal) << run.stderrText;
    const std::string last = run.stderrText.substr(run.stderrText.rfind("Step: "));
    EXPECT_NE(last.find("\nInterrupted by SIG"), std::string::npos) << last;
    EXPECT_EQ(Bytes(target), kEarlier);
    EXPECT_EQ(Listing(dir.path()), before);
    EXPECT_TRUE(fs::is_empty(tmp.path())) << testing::PrintToString(Listing(tmp.path()));
    tables.ExpectUntouched();
  }
}

TEST(MergeTimeout, AnOfficeThatStopsAnsweringFailsTheRunAfterTheLimit) {
  TempDir dir, tmp;
  const Tables tables(dir, 300);
  const std::string target = dir / "result.ods";
  Command command({TABLOOM_BINARY, "merge", tables.main, tables.add, "-o", target, "--link", "A=A",
                   "--main-sheet", "Main", "--verbose", "--office-timeout", "10"},
                  tmp.path());
  const Frozen run = FreezeOfficeAt(command, "reading the main table's keys");
  EXPECT_EQ(run.status, cli::kMergeFailed) << run.stderrText;
  EXPECT_NE(
      run.stderrText.find("The merge failed: The office stopped answering: no answer within 10 "
                          "seconds, so it was ended\n"),
      std::string::npos)
      << run.stderrText;
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"main.fods", "add.fods"}));  // no result
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  tables.ExpectUntouched();
}

// The store refused by a full file system: a small tmpfs in a mount namespace of the command's
// own holds the target's folder. The result, with the add table's random texts, does not fit.
TEST(MergeFault, AFullFileSystemLeavesNoFileAndKeepsTheOldTarget) {
  TempDir dir, tmp;
  const Tables tables(dir, 1500);
  const std::string out = dir / "out", report = dir / "report.txt", errors = dir / "stderr.txt";
  fs::create_directory(out);
  const std::string script = dir / "run.sh";
  std::ofstream(script) << "mount -t tmpfs -o size=48k none \"$1\" || { echo nomount; exit 0; }\n"
                           "printf '%s' \"$2\" > \"$1/result.ods\"\n"
                           "\"$3\" merge \"$4\" \"$5\" -o \"$1/result.ods\" --link A=A "
                           "--main-sheet Main 2>\"$6\"\n"
                           "echo \"status=$?\"\n"
                           "echo \"files=$(ls -A \"$1\" | tr '\\n' ' ')\"\n"
                           "echo \"target=$(cat \"$1/result.ods\")\"\n";
  const std::string command = "TMPDIR='" + tmp.path().string() +
                              "' unshare --mount --map-root-user sh '" + script + "' '" + out +
                              "' '" + kEarlier + "' '" + TABLOOM_BINARY + "' '" + tables.main +
                              "' '" + tables.add + "' '" + errors + "' > '" + report + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << Bytes(report);
  const std::string result = Bytes(report);
  if (result.find("nomount") != std::string::npos || result.find("unshare") != std::string::npos)
    GTEST_SKIP() << "no mount namespace here: " << result;
  EXPECT_NE(result.find("status=1\n"), std::string::npos) << result << Bytes(errors);
  EXPECT_NE(result.find("files=result.ods \n"), std::string::npos) << result;
  EXPECT_NE(result.find(std::string("target=") + kEarlier + "\n"), std::string::npos) << result;
  EXPECT_EQ(Bytes(errors).rfind("The merge failed: ", 0), 0u) << Bytes(errors);
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  tables.ExpectUntouched();
}

}  // namespace
