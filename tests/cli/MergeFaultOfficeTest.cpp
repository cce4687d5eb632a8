// The batch command when something goes wrong in the middle of a merge: an office call that
// fails, an office that dies or stops answering, a full file system, a signal. Every run ends
// with its error or its signal's status, no new file beside the target, an existing target
// byte for byte as it was, the sources untouched, no office left and nothing in $TMPDIR.
// Each fault is injected at a chosen point, never by a timer racing the run.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "support/FaultFactory.hpp"
#include "support/OfficeTesting.hpp"

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

// $TMPDIR for the life of the object: the office's profile and the scratch folders go there.
class TmpdirAs {
 public:
  explicit TmpdirAs(const fs::path& folder) {
    if (const char* was = std::getenv("TMPDIR")) was_ = was;
    ::setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TmpdirAs() {
    if (was_)
      ::setenv("TMPDIR", was_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }
  TmpdirAs(const TmpdirAs&) = delete;
  TmpdirAs& operator=(const TmpdirAs&) = delete;

 private:
  std::optional<std::string> was_;
};

// The command run in this process on an office of its own that stops answering at a chosen
// office call: the n-th of `phase` (of `member`, when given). `then` acts right after.
struct Frozen {
  int status = -1;
  std::string out, err;
  bool fired = false;
  pid_t office = 0;
};
Frozen RunFrozen(std::vector<std::string> args, const std::string& phase, int n,
                 const std::string& member, const std::function<void()>& then = {}) {
  FaultFactory fault(automation::SystemFactory());
  fault.At(phase, n, Fault::Freeze, member);
  fault.OnFired(then);
  cli::RunHooks hooks;
  hooks.onPhase = [&](merge::Phase p) { fault.EnterPhase(merge::PhaseText(p)); };
  std::ostringstream out, err;
  Frozen run;
  run.status = cli::RunMerge(cli::ParseMergeArguments(args), fault, out, err, false, hooks);
  run.out = out.str();
  run.err = err.str();
  run.fired = fault.Fired();
  run.office = fault.OfficePid();
  return run;
}

TEST(MergeSignals, ASignalMidRunStopsTheCommandWithNothingWritten) {
  struct Case {
    int signal;
    const char* name;
    const char* phase;
    int n;
    const char* member;
  };
  for (const Case& c : {Case{SIGINT, "SIGINT", "copying the matched rows", 2, ""},
                        Case{SIGTERM, "SIGTERM", "reading the add table's keys", 2, ""},
                        Case{SIGHUP, "SIGHUP", "storing the result", 1, "storeAsURL"}}) {
    SCOPED_TRACE(c.name);
    TempDir dir, tmp;
    const Tables tables(dir, 300);
    const std::string target = dir / "result.ods";
    std::ofstream(target) << kEarlier;
    const std::set<std::string> before = Listing(dir.path());

    std::chrono::steady_clock::time_point sent;
    Frozen run;
    {
      const TmpdirAs scratch(tmp.path());
      run = RunFrozen(
          {tables.main, tables.add, "-o", target, "--link", "A=A", "--main-sheet", "Main"}, c.phase,
          c.n, c.member, [&] {
            sent = std::chrono::steady_clock::now();
            ::kill(::getpid(), c.signal);
          });
    }
    ASSERT_TRUE(run.fired);
    // The office does not answer: it is ended after a second's grace, not after the office
    // time limit of ten minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(30));
    EXPECT_EQ(run.status, 128 + c.signal) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("Interrupted by ") + c.name +
                           ": the merge was stopped and nothing was written.\n");
    EXPECT_EQ(Bytes(target), kEarlier);
    EXPECT_EQ(Listing(dir.path()), before);
    EXPECT_TRUE(fs::is_empty(tmp.path())) << testing::PrintToString(Listing(tmp.path()));
    EXPECT_TRUE(WaitFor([&] { return ProcessEnded(run.office); }, std::chrono::seconds(10)));
    tables.ExpectUntouched();
  }
}

TEST(MergeTimeout, AnOfficeThatStopsAnsweringFailsTheRunAfterTheLimit) {
  TempDir dir, tmp;
  const Tables tables(dir, 300);
  const std::string target = dir / "result.ods";
  Frozen run;
  {
    const TmpdirAs scratch(tmp.path());
    run = RunFrozen({tables.main, tables.add, "-o", target, "--link", "A=A", "--main-sheet", "Main",
                     "--office-timeout", "10"},
                    "reading the main table's keys", 1, "");
  }
  automation::SystemFactory().SetCallTimeout(std::chrono::minutes(10));  // as for every test
  ASSERT_TRUE(run.fired);
  EXPECT_EQ(run.status, cli::kMergeFailed) << run.err;
  EXPECT_EQ(run.err,
            "The merge failed: The office stopped answering: no answer within 10 seconds, so it "
            "was ended\n");
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"main.fods", "add.fods"}));  // no result
  EXPECT_TRUE(fs::is_empty(tmp.path())) << testing::PrintToString(Listing(tmp.path()));
  EXPECT_TRUE(WaitFor([&] { return ProcessEnded(run.office); }, std::chrono::seconds(10)));
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
