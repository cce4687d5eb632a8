// A private headless office process: found, started on a unique pipe with a fresh profile,
// and ended (by its process id only) when this object goes away. Its temporary files live in
// that profile too, so nothing of it outlives the object.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

namespace tabloom_uno {

// The office's program folder (the one holding soffice.bin): UNO_PATH when it is set, else
// the usual install locations, else the folder `soffice` on PATH resolves to. Empty when there
// is no office.
std::string FindOfficeProgramDir();

class OfficeProcess {
 public:
  // Starts soffice.bin from programDir. Raises std::runtime_error when it cannot be started.
  explicit OfficeProcess(const std::string& programDir);
  ~OfficeProcess();
  OfficeProcess(const OfficeProcess&) = delete;
  OfficeProcess& operator=(const OfficeProcess&) = delete;

  const std::string& pipeName() const { return pipe_; }
  pid_t pid() const { return pid_; }

  // Reaps the process if it has exited; returns its exit status then (128 + the signal for a
  // killed one). A first start on a fresh profile exits once with code 81 (restart);
  // Relaunch() starts it again.
  std::optional<int> PollExit();
  void Relaunch();

  // Sends a signal unless the process has been reaped; callable from any thread.
  void Kill(int signal);

  // Waits up to `bound` for the process to exit by itself, then SIGTERM, then SIGKILL.
  void End(std::chrono::milliseconds bound);

  // "exit code 3", "killed by signal 9".
  static std::string DescribeExit(int status);

 private:
  void Launch();

  std::string programDir_;
  std::string profileDir_;
  std::string pipe_;
  std::mutex mutex_;  // pid_ and reaped_: a reaped process id may belong to another process
  pid_t pid_ = -1;
  bool reaped_ = true;
};

}  // namespace tabloom_uno
