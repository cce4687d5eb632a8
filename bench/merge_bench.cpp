// End-to-end cost of `tabloom merge` against the office's own work on the same files.
//
// For each size it writes a main and an add workbook of N rows x 10 columns (one text key
// column, 90% of the main rows matching, add rows shuffled), then times
//   * the batch command, start to end (office start, loads, keys, copies, store), and
//   * the floor: an office started, both files loaded, the main stored as the result, ended.
// Usage: merge_bench [--keys text|numbers|dates|formulas] [--exact-calls] [ROWS...]
//                    (default: text keys; 1000 10000 50000 rows; --numeric-keys = --keys numbers)
//        merge_bench [--keys KIND] --keep-values [ROWS...]
//                    (the run that copies texts beside the one that keeps values, in turns)
//        merge_bench [--keys KIND] --write-tables DIR ROWS   (only the tables, for profiling)
//        merge_bench --near [--turns N] [ROWS...]
//                    (near misses: the run without and with --near=typos, and the search alone)
// The last columns give the peak resident memory of the batch command and of its office.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Tables.hpp"
#include "merge/MergeRun.hpp"
#include "merge/NearKeys.hpp"
#include "office/uOpenOffice.hpp"
#include "support/OfficeTesting.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using bench::gKeys;
using bench::Keys;
using bench::KeysName;
using bench::MakeTables;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The floor: what the office itself needs to start, load both files and store the result.
double LoadAndStore(const std::string& main, const std::string& add, const std::string& result) {
  const auto start = Clock::now();
  {
    office::TOOCalc calc;
    calc.Connect(true);
    calc.LoadDocument(add, office::loHidden, 0);
    calc.LoadDocument(main, office::loHidden, 0);
    calc.StoreDocument(result, "Calc");
  }
  return Seconds(start);
}

// The resident high-water mark of a live process in KiB, 0 once it is gone.
long PeakKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// Runs the command to its end; the peaks are the program's own and its office's, read from
// the kernel's high-water marks while they run (the last reading is at most 20 ms old).
double RunCommand(std::vector<std::string> args, int& status, long& peakKb, long& officePeakKb) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = 0;
  // Its report and its warnings would cut into the table.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  peakKb = officePeakKb = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    peakKb = std::max(peakKb, PeakKb(pid));
    for (const pid_t office : office_testing::ChildOfficePids(pid))
      officePeakKb = std::max(officePeakKb, PeakKb(office));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Seconds(start);
}

// The same merge in this process, timed by phase on an office already running.
void Phases(const std::string& main, const std::string& add, const std::string& result, int rows) {
  store::clc books(office_testing::SharedOffice());
  merge::MergeRun run(books);
  auto start = Clock::now();
  merge::Parameters p;
  merge::SetUp(books, {.MainFile = main, .AddFile = add, .Links = {{0, 0}}, .AddThereColumn = 12},
               p);
  const double open = Seconds(start);
  start = Clock::now();
  double index = 0;  // until the main keys are read
  run.AddPhaseListener([&](merge::Phase phase) {
    if (phase == merge::Phase::ReadingMainKeys) index = Seconds(start);
  });
  p.Target = result;
  const merge::RunReport report = run.Run(p);
  const double write = Seconds(start) - index;
  std::printf("| %9d | %8.1f s | %12.1f s | %16.1f s | %s |\n", rows, open, index, write,
              report.Ok ? "ok" : report.Error.c_str());
}

}  // namespace

// The batch command on one pair of tables, without and with `option`, in turns: the quicker
// of each; nothing when a run failed.
std::optional<std::pair<double, double>> InTurns(const office_testing::TempDir& dir,
                                                 const std::string& main, const std::string& add,
                                                 const std::string& option, int turns) {
  double best[2] = {1e9, 1e9};
  for (int turn = 0; turn < 2 * std::max(1, turns); ++turn) {
    const bool with = turn % 2 == 1;
    std::vector<std::string> command = {TABLOOM_BINARY,     "merge",  main, add, "-o",
                                        dir / "result.ods", "--link", "A=A"};
    if (with) command.push_back(option);
    int status = 0;
    long peakKb = 0, officePeakKb = 0;
    const double seconds = RunCommand(command, status, peakKb, officePeakKb);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    best[with] = std::min(best[with], seconds);
  }
  return std::pair(best[0], best[1]);
}

// The text run and the run that keeps values, side by side on the same files: each twice, in
// turns, the quicker of each counted.
int CompareKeptValues(const std::vector<int>& sizes) {
  std::printf("%s keys: texts against values kept\n", KeysName());
  std::printf("| rows x 10 | texts (default) | values kept | ratio |\n");
  std::printf("|-----------|-----------------|-------------|-------|\n");
  for (const int rows : sizes) {
    office_testing::TempDir dir;
    const std::string main = dir / "main.ods", add = dir / "add.ods";
    MakeTables(dir, rows, main, add);
    office_testing::SharedOffice().Release();
    const auto best = InTurns(dir, main, add, "--keep-values", 2);
    if (!best) {
      std::fprintf(stderr, "tabloom merge failed for %d rows\n", rows);
      return 1;
    }
    std::printf("| %9d | %13.1f s | %9.1f s | %5.2f |\n", rows, best->first, best->second,
                best->second / best->first);
    std::fflush(stdout);
  }
  return 0;
}

// The near keys' cost: the batch command on tables with near misses, without and with
// --near=typos, in turns; and the search for the nearest keys by itself, on the same keys.
int CompareNear(const std::vector<int>& sizes, int turns) {
  std::printf("text keys, 10%% of the main keys without a partner, half of them near misses\n");
  std::printf(
      "| rows x 10 | default run | --near=typos | the near search alone | both over a "
      "run without them |\n");
  std::printf(
      "|-----------|-------------|--------------|-----------------------|-------------"
      "-----------------|\n");
  for (const int rows : sizes) {
    office_testing::TempDir dir;
    const std::string main = dir / "main.ods", add = dir / "add.ods";
    MakeTables(dir, rows, main, add, true);
    office_testing::SharedOffice().Release();
    const auto best = InTurns(dir, main, add, "--near=typos", turns);
    if (!best) {
      std::fprintf(stderr, "tabloom merge failed for %d rows\n", rows);
      return 1;
    }
    // The search as a run makes it: the distinct unmatched main keys against every add key.
    std::vector<std::string> keys, candidates;
    for (int r = 0; r < rows; ++r) {
      bool partner = false;
      const std::string key = bench::MainKeyText(r, rows, true, partner);
      if (!partner) keys.push_back(key);
      candidates.push_back("K" + std::to_string(r));
    }
    const auto start = Clock::now();
    const std::vector<merge::NearKey> found = merge::FindNearKeys(keys, candidates);
    const double search = Seconds(start);
    const double without = best->first - search;
    std::printf("| %9d | %9.2f s | %10.2f s | %9.3f s (%zu found) | %+26.1f %% |\n", rows,
                best->first, best->second, search,
                static_cast<std::size_t>(std::count_if(
                    found.begin(), found.end(), [](const merge::NearKey& k) { return k.Found(); })),
                100.0 * (best->second - without) / without);
    std::fflush(stdout);
  }
  return 0;
}

int main(int argc, char** argv) {
  std::vector<int> sizes;
  bool exact = false, keepValues = false, phases = true, near = false;
  int turns = 1;
  std::string writeTo;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--numeric-keys") {
      gKeys = Keys::Numbers;
    } else if (a == "--keys" && i + 1 < argc) {
      gKeys = bench::ParseKeys(argv[++i]);
    } else if (a == "--exact-calls") {
      exact = true;
    } else if (a == "--keep-values") {
      keepValues = true;
    } else if (a == "--near") {
      near = true;
    } else if (a == "--no-phases") {
      phases = false;
    } else if (a == "--turns" && i + 1 < argc) {
      turns = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--write-tables" && i + 1 < argc) {
      writeTo = argv[++i];
    } else {
      sizes.push_back(std::atoi(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {1000, 10000, 50000};
  if (near) {
    const int status = CompareNear(sizes, turns);
    office_testing::SharedOffice().Release();
    return status;
  }
  if (keepValues) {
    const int status = CompareKeptValues(sizes);
    office_testing::SharedOffice().Release();
    return status;
  }

  if (!writeTo.empty()) {  // only the tables, for a profiler run of the batch command
    office_testing::TempDir scratch;
    MakeTables(scratch, sizes.front(), writeTo + "/main.ods", writeTo + "/add.ods");
    office_testing::SharedOffice().Release();
    std::printf("%s merge %s/main.ods %s/add.ods -o %s/result.ods --link A=A\n", TABLOOM_BINARY,
                writeTo.c_str(), writeTo.c_str(), writeTo.c_str());
    return 0;
  }

  std::printf("%s keys, %s\n", KeysName(), exact ? "cell-by-cell run" : "block run");
  std::printf(
      "| rows x 10 | tabloom merge | office load + store | ratio | program peak RSS | office peak "
      "RSS |\n");
  std::printf(
      "|-----------|---------------|---------------------|-------|------------------|-----------"
      "------|\n");
  for (const int rows : sizes) {
    office_testing::TempDir dir;
    const std::string main = dir / "main.ods", add = dir / "add.ods";
    MakeTables(dir, rows, main, add);
    office_testing::SharedOffice().Release();

    // The floor and the merge in turns, the quicker of each counted: the machine's own pace
    // drifts by a third from run to run.
    double floor = 1e9, merge = 1e9;
    long peakKb = 0, officePeakKb = 0;
    for (int turn = 0; turn < turns; ++turn) {
      floor = std::min(floor, LoadAndStore(main, add, dir / "plain.ods"));
      int status = 0;
      long peak = 0, officePeak = 0;
      std::vector<std::string> command = {TABLOOM_BINARY,     "merge",  main, add, "-o",
                                          dir / "result.ods", "--link", "A=A"};
      if (exact) command.push_back("--exact-calls");
      merge = std::min(merge, RunCommand(command, status, peak, officePeak));
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "tabloom merge failed for %d rows\n", rows);
        return 1;
      }
      peakKb = std::max(peakKb, peak);
      officePeakKb = std::max(officePeakKb, officePeak);
    }
    std::printf("| %9d | %11.1f s | %17.1f s | %5.1f | %12.1f MB | %11.1f MB |\n", rows, merge,
                floor, merge / floor, peakKb / 1024.0, officePeakKb / 1024.0);
    std::fflush(stdout);
  }

  if (!phases) {
    office_testing::SharedOffice().Release();
    return 0;
  }
  // Where the time goes, at the first size: opening, the add keys and their index, and
  // writing (store as target, main keys, copies, store, the main table loaded again).
  std::printf("\n| rows x 10 | open both | index add rows | walk, copy, store | result |\n");
  std::printf("|-----------|-----------|----------------|-------------------|--------|\n");
  {
    office_testing::TempDir dir;
    const std::string main = dir / "main.ods", add = dir / "add.ods";
    MakeTables(dir, sizes.front(), main, add);
    Phases(main, add, dir / "result.ods", sizes.front());
  }
  office_testing::SharedOffice().Release();
  return 0;
}
