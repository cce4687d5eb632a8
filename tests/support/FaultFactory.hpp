// Wraps another factory and injects one fault at a chosen office call: the Nth call (call,
// property get or set, counted from 1) made while a named phase is current, of any member or
// of one member (letter case free). Deterministic: no timer races the work.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "automation/Variant.hpp"

namespace office_testing {

class FaultFactory : public automation::ObjectFactory {
 public:
  enum class Fault {
    Fail,        // the call raises an office error instead of reaching the office
    KillOffice,  // the office is killed first; the call then meets a dead office
    Freeze,      // the office is stopped (SIGSTOP) first; the call then waits for an answer
  };

  explicit FaultFactory(automation::ObjectFactory& inner) : inner_(inner) {}

  void At(std::string phase, int n, Fault fault, std::string member = {});
  // Runs on the calling thread once the fault is in place, before the call goes on.
  void OnFired(std::function<void()> then) { onFired_ = std::move(then); }
  // The phase now under way; calls are counted per phase.
  void EnterPhase(std::string phase);
  bool Fired() const { return fired_; }
  // The office process started by the last CreateObject, 0 when none was (a shared office).
  pid_t OfficePid() const { return officePid_; }

  automation::ObjectRef CreateObject(std::string_view progId) override;
  void SetCallTimeout(std::chrono::milliseconds limit) override { inner_.SetCallTimeout(limit); }
  // Ends this factory's own office only, as a killed office ends: other connections of the
  // inner factory (a shared office) stay.
  void Abort() override;

 private:
  class Wrapper;
  friend class Wrapper;
  // Before each call that passes.
  void Count(std::string_view member);
  automation::Variant Wrap(const automation::Variant& value);
  static automation::Variant Unwrap(const automation::Variant& value);

  automation::ObjectFactory& inner_;
  std::string phase_, armedPhase_, member_;
  int n_ = 0, seen_ = 0;
  Fault fault_ = Fault::Fail;
  bool fired_ = false;
  std::function<void()> onFired_;
  pid_t officePid_ = 0;
};

}  // namespace office_testing
