#include "automation/uno/OfficeProcess.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "automation/FileUrl.hpp"
#include "automation/PrivateFolder.hpp"

extern char** environ;

namespace fs = std::filesystem;

namespace tabloom_uno {

namespace {

// Offices still running when the module is unloaded at process exit (a reference leaked past
// main) are killed here; no office call is made so late.
class LiveProcesses {
 public:
  void Add(pid_t pid, const std::string& profile) {
    std::lock_guard lock(mutex_);
    live_[pid] = profile;
  }
  void Remove(pid_t pid) {
    std::lock_guard lock(mutex_);
    live_.erase(pid);
  }
  ~LiveProcesses() {
    for (const auto& [pid, profile] : live_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      std::error_code ignored;
      fs::remove_all(profile, ignored);
    }
  }

 private:
  std::mutex mutex_;
  std::map<pid_t, std::string> live_;
};

LiveProcesses& Live() {
  static LiveProcesses live;
  return live;
}

// The kernel's "kill the child when its parent dies" (PR_SET_PDEATHSIG) follows the thread
// that forked the child, not the process: every office is forked from this one thread, which
// lives as long as the module, so an office started for a worker thread outlives the worker.
class Launcher {
 public:
  static Launcher& Get() {
    static Launcher launcher;
    return launcher;
  }

  // Runs `fork` on the launcher's thread and returns what it returned.
  pid_t Run(const std::function<pid_t()>& fork) {
    std::lock_guard one(callers_);
    std::unique_lock lock(mutex_);
    job_ = &fork;
    wake_.notify_all();
    wake_.wait(lock, [this] { return job_ == nullptr; });
    return result_;
  }

 private:
  Launcher() : thread_([this] { Loop(); }) {}
  ~Launcher() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || job_ != nullptr; });
      if (!job_) return;
      result_ = (*job_)();
      job_ = nullptr;
      wake_.notify_all();
    }
  }

  std::mutex callers_;  // one launch at a time
  std::mutex mutex_;
  std::condition_variable wake_;
  const std::function<pid_t()>* job_ = nullptr;
  pid_t result_ = -1;
  bool stopping_ = false;
  std::thread thread_;
};

bool IsExecutable(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

// Locking off: a source must load beside a stale lock file and must never get one from us.
// Macros stay off as well; documents are loaded with MacroExecutionMode 0 in any case.
constexpr const char* kProfileSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseDocumentOOoLockFile" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseDocumentSystemFileLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>3</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/AutoSave"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)";

constexpr const char* kProfilePrefix = "tabloom-office-";

// Profiles of programs that died without ending their office: "tabloom-office-<pid>-XXXXXX"
// whose pid is gone.
void RemoveStaleProfiles(const fs::path& tmp) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(tmp, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kProfilePrefix, 0) != 0) continue;
    const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + std::strlen(kProfilePrefix)));
    if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) fs::remove_all(entry.path(), ec);
  }
}

std::string MakeProfile() {
  const char* tmpEnv = std::getenv("TMPDIR");
  const std::string tmp = tmpEnv && *tmpEnv ? tmpEnv : "/tmp";
  RemoveStaleProfiles(tmp);
  const std::string dir =
      automation::MakePrivateFolder(tmp, kProfilePrefix + std::to_string(::getpid()) + "-");
  fs::create_directories(fs::path(dir) / "user");
  fs::create_directories(fs::path(dir) / "tmp");
  std::ofstream(fs::path(dir) / "user" / "registrymodifications.xcu") << kProfileSettings;
  return dir;
}

std::string UniquePipeName() {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return "tabloom_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
         std::to_string(static_cast<unsigned long long>(ticks) % 1000000007ULL);
}

}  // namespace

std::string FindOfficeProgramDir() {
  if (const char* uno = std::getenv("UNO_PATH"); uno && *uno)
    return IsExecutable(fs::path(uno) / "soffice.bin") ? std::string(uno) : std::string();

  std::vector<fs::path> candidates = {"/usr/lib/libreoffice/program",
                                      "/usr/local/lib/libreoffice/program"};
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/opt", ec))
    if (entry.path().filename().string().rfind("libreoffice", 0) == 0)
      candidates.push_back(entry.path() / "program");
  for (const auto& dir : candidates)
    if (IsExecutable(dir / "soffice.bin")) return dir.string();

  if (const char* path = std::getenv("PATH")) {
    std::string list(path);
    std::size_t start = 0;
    while (start <= list.size()) {
      const std::size_t end = std::min(list.find(':', start), list.size());
      const fs::path candidate = fs::path(list.substr(start, end - start)) / "soffice";
      if (IsExecutable(candidate)) {
        const fs::path real = fs::canonical(candidate, ec);
        if (!ec && IsExecutable(real.parent_path() / "soffice.bin"))
          return real.parent_path().string();
      }
      start = end + 1;
    }
  }
  return {};
}

OfficeProcess::OfficeProcess(const std::string& programDir)
    : programDir_(programDir), profileDir_(MakeProfile()), pipe_(UniquePipeName()) {
  try {
    Launch();
  } catch (const std::exception&) {
    std::error_code ignored;
    fs::remove_all(profileDir_, ignored);
    throw;
  }
}

OfficeProcess::~OfficeProcess() {
  End(std::chrono::milliseconds(0));
  std::error_code ignored;
  fs::remove_all(profileDir_, ignored);
  // The socket of our pipe, which an office that was killed leaves behind (the office's own
  // naming: a fixed folder, the user id, the pipe's name).
  for (const char* folder : {"/tmp", "/var/tmp"})
    fs::remove(fs::path(folder) / ("OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe_),
               ignored);
}

void OfficeProcess::Launch() {
  const std::string binary = (fs::path(programDir_) / "soffice.bin").string();
  std::vector<std::string> args = {
      binary,
      "--headless",
      "--invisible",
      "--norestore",
      "--nologo",
      "--nodefault",
      "--nolockcheck",
      "--accept=pipe,name=" + pipe_ + ";urp;StarOffice.ComponentContext",
      "-env:UserInstallation=" + automation::FileUrl(profileDir_)};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The office aborts when it inherits our in-process bootstrap setting. Its temporary files
  // (tens of megabytes for a large book) go into the profile, which is removed with it.
  std::string tmpdir = "TMPDIR=" + (fs::path(profileDir_) / "tmp").string();
  std::vector<char*> envp;
  for (char** e = environ; e && *e; ++e)
    if (std::strncmp(*e, "URE_BOOTSTRAP=", 14) != 0 && std::strncmp(*e, "TMPDIR=", 7) != 0)
      envp.push_back(*e);
  envp.push_back(tmpdir.data());
  envp.push_back(nullptr);

  const bool verbose = std::getenv("TABLOOM_OFFICE_VERBOSE") != nullptr;
  const pid_t parent = ::getpid();
  const pid_t pid = Launcher::Get().Run([&]() -> pid_t {
    const pid_t child = ::fork();
    if (child != 0) return child < 0 ? -errno : child;
    // Only async-signal-safe calls from here on. The office dies with us, and a terminal's
    // Ctrl-C or hang-up reaches only us: we end the office ourselves.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);  // ignored in us, not to be inherited
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      if (!verbose) {
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
    }
    // Inherited pipes (a test runner's output) must not be held open by the office.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  });
  if (pid < 0) throw std::runtime_error("Cannot start the office: " + std::string(strerror(-pid)));
  std::lock_guard lock(mutex_);
  pid_ = pid;
  reaped_ = false;
  Live().Add(pid_, profileDir_);
}

std::optional<int> OfficeProcess::PollExit() {
  std::lock_guard lock(mutex_);
  if (reaped_) return -1;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == 0) return std::nullopt;
  reaped_ = true;
  Live().Remove(pid_);
  if (r < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void OfficeProcess::Kill(int signal) {
  std::lock_guard lock(mutex_);
  if (!reaped_) ::kill(pid_, signal);
}

std::string OfficeProcess::DescribeExit(int status) {
  if (status > 128) return "killed by signal " + std::to_string(status - 128);
  return "exit code " + std::to_string(status);
}

void OfficeProcess::Relaunch() {
  End(std::chrono::milliseconds(0));
  Launch();
}

void OfficeProcess::End(std::chrono::milliseconds bound) {
  using clock = std::chrono::steady_clock;
  auto waitFor = [this](clock::duration d) {
    const auto deadline = clock::now() + d;
    while (!PollExit()) {
      if (clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  };
  if (waitFor(bound)) return;
  Kill(SIGTERM);
  Kill(SIGCONT);  // a stopped office handles SIGTERM only once it runs
  if (waitFor(std::chrono::seconds(3))) return;
  std::lock_guard lock(mutex_);
  if (reaped_) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  reaped_ = true;
  Live().Remove(pid_);
}

}  // namespace tabloom_uno
