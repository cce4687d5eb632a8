// The LibreOffice backend of the automation layer: a private office process reached over a
// UNO bridge, its objects called by name through locally created Invocation adapters.
//
// This is the only code that links LibreOffice's libraries; it is built as a module that the
// program loads at run time, so the program starts (not connected) where no office exists.
//
// This file holds the factory the program loads; the bridge is in the Uno*.cpp files beside it.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "automation/Variant.hpp"
#include "automation/uno/OfficeProcess.hpp"
#include "automation/uno/UnoConnection.hpp"
#include "automation/uno/UnoObject.hpp"

namespace tabloom_uno {

namespace {

constexpr auto kDefaultCallLimit = std::chrono::minutes(10);

class UnoFactory : public automation::ObjectFactory {
 public:
  // The bridge writes to the office's pipe: once the office is dead, a write must fail with an
  // error, not end the program with SIGPIPE. Where the program chose its own answer to
  // SIGPIPE, it stays.
  UnoFactory() {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
      ::signal(SIGPIPE, SIG_IGN);
  }

  void SetCallTimeout(std::chrono::milliseconds limit) override { limit_->store(limit.count()); }
  void Abort() override { Connections::Get().AbortAll(); }

  void Shutdown() override {
    if (shutDown.exchange(true)) return;
    Connections::Get().EndAll();
    LocalUno::ShutdownIfStarted();
  }

  automation::ObjectRef CreateObject(std::string_view progId) override {
    if (shutDown.load()) throw automation::Error("The office module was shut down");
    if (progId != "com.sun.star.ServiceManager")
      throw automation::Error("Unknown automation server: " + std::string(progId));
    const std::string programDir = FindOfficeProgramDir();
    if (programDir.empty())
      throw automation::Error("No office suite found (set UNO_PATH to its program folder)");
    try {
      auto connection = std::make_shared<OfficeConnection>(programDir, limit_);
      return MakeObject<ServiceManagerObject>(connection, Any(connection->serviceManager()));
    } catch (const css::uno::Exception&) {
      throw automation::Error("Cannot connect to the office: " + CaughtMessage());
    } catch (const std::runtime_error& e) {
      throw automation::Error(std::string("Cannot connect to the office: ") + e.what());
    }
  }

 private:
  Limit limit_ = std::make_shared<std::atomic<std::int64_t>>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kDefaultCallLimit).count());
};

}  // namespace

}  // namespace tabloom_uno

extern "C" __attribute__((visibility("default"))) automation::ObjectFactory*
tabloom_uno_create_factory() {
  return new tabloom_uno::UnoFactory();
}
