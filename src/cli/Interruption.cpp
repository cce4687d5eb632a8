#include "cli/Interruption.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>

namespace cli {

namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr char kQuit = 0;  // written by the destructor: the watcher ends

std::atomic<int> caught{0};
std::atomic<bool> active{false};
// The handler writes, the watcher reads. Made once and never closed: a handler still running
// on another thread as the handlers are put back can never write into a closed or reused
// descriptor.
int wakeUp[2] = {-1, -1};
struct sigaction previous[kSignals.size()];

void MakePipe() {
  static const bool made = [] {
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
      throw std::runtime_error("Cannot create a pipe");
    return true;
  }();
  (void)made;
  // What an earlier watcher left unread (a late signal, its quit byte) is not for this one.
  char stale[64];
  while (::read(wakeUp[0], stale, sizeof stale) > 0) {
  }
}

void Handle(int signal) {
  const int saved = errno;
  int none = 0;
  caught.compare_exchange_strong(none, signal);
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(wakeUp[1], &byte, 1);
  errno = saved;
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
  }
  return "signal " + std::to_string(signal);
}

}  // namespace

Interruption::Interruption(automation::ObjectFactory& office, std::chrono::milliseconds grace)
    : office_(office), grace_(grace) {
  if (active.exchange(true)) throw std::logic_error("one Interruption at a time");
  MakePipe();
  caught = 0;
  watcher_ = std::thread([this] { Watch(); });
  struct sigaction action {};
  action.sa_handler = Handle;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &previous[i]);
}

Interruption::~Interruption() {
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
  ReachedSafePoint();
  [[maybe_unused]] const auto written = ::write(wakeUp[1], &kQuit, 1);
  watcher_.join();
  active = false;
}

Interruption::Hook::~Hook() {
  std::lock_guard lock(owner_.mutex_);
  owner_.stop_ = nullptr;
}

Interruption::Hook Interruption::OnSignal(std::function<void()> stop) {
  std::lock_guard lock(mutex_);
  stop_ = std::move(stop);
  return Hook(*this);
}

void Interruption::ReachedSafePoint() {
  {
    std::lock_guard lock(mutex_);
    safe_ = true;
  }
  safePoint_.notify_all();
}

int Interruption::Signal() const {
  return caught.load();
}

std::string Interruption::Message() const {
  return "Interrupted by " + SignalName(Signal()) +
         ": the merge was stopped and nothing was written.";
}

void Interruption::Watch() {
  for (;;) {
    pollfd readable{wakeUp[0], POLLIN, 0};
    if (::poll(&readable, 1, -1) < 0 && errno != EINTR) return;
    char byte = kQuit;
    const auto got = ::read(wakeUp[0], &byte, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0 || byte == kQuit) return;
    std::unique_lock lock(mutex_);
    if (stop_) stop_();
    // A safe point comes within milliseconds unless an office call is under way; ending the
    // office makes that call return.
    if (!safePoint_.wait_for(lock, grace_, [this] { return safe_; })) office_.Abort();
  }
}

}  // namespace cli
