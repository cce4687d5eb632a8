// The bridge to the office: the client side of UNO, which learns once per interface type how
// a member is reached, and the connection to one office process, under which every office call
// is watched. Private to the module.
#pragma once

#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XSingleServiceFactory.hpp>
#include <com/sun/star/reflection/XIdlMethod.hpp>
#include <com/sun/star/reflection/XIdlReflection.hpp>
#include <com/sun/star/script/XInvocation2.hpp>
#include <com/sun/star/script/XTypeConverter.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "automation/Variant.hpp"
#include "automation/uno/CallWatch.hpp"
#include "automation/uno/OfficeProcess.hpp"
#include "automation/uno/UnoValues.hpp"

namespace tabloom_uno {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using rtl::OUString;

// Set by the factory's Shutdown: from then on nothing of UNO is touched again. Plain data, so it
// is still there while static data is destroyed.
inline std::atomic<bool> shutDown{false};

using Limit = std::shared_ptr<std::atomic<std::int64_t>>;  // milliseconds, shared by a factory

// The office's error, unwrapped from the reflection's wrapper. Must be called in a catch block.
Any CaughtException();
// Whether the error says the object is gone: the bridge raises it once the office's pipe
// closed, and so may an object the office disposed of. Must be called in a catch block.
bool CaughtDisposed();
// The office's error as one text: its message and its type. Must be called in a catch block.
std::string CaughtMessage();

// How a member of objects of one interface type was reached: the interface that declares it
// and the method to call there. Learned once per type through a full Invocation adapter,
// then used on every further object of that type, which saves the adapter's introspection
// (several round trips) per new object.
struct Binding {
  css::uno::Type interface;
  Reference<css::reflection::XIdlMethod> method;
  std::vector<css::uno::Type> parameters;
  OUString property;  // a property-set property: its name goes first
  css::uno::Type propertyType;
};
using BindingRef = std::shared_ptr<const Binding>;

// The client side of UNO: one local component context per process, bootstrapped from the
// office's own fundamentalrc so it knows every office type.
class LocalUno {
 public:
  static LocalUno& Get(const std::string& programDir);

  // Lets go of everything held and disposes the local context, if it was ever made.
  static void ShutdownIfStarted();

  const Reference<css::uno::XComponentContext>& context() const { return context_; }

  Reference<css::script::XInvocation2> Invoke(const Any& target);

  // A list of structs of one type becomes a sequence of that type: a method that declares
  // `any` (an event binding, say) gets what it expects; declared sequences convert either way.
  Any TypedSequence(const Sequence<Any>& items);

  // Nothing found means "not learned yet"; a null binding means "no shortcut for this one".
  const BindingRef* FindBinding(const std::string& key) const {
    const auto it = bindings_.find(key);
    return it == bindings_.end() ? nullptr : &it->second;
  }
  void Learn(const std::string& key, BindingRef binding) { bindings_[key] = std::move(binding); }

  BindingRef MethodBinding(const Reference<css::reflection::XIdlMethod>& method,
                           const OUString& property = OUString(),
                           const css::uno::Type& propertyType = css::uno::Type());
  Reference<css::reflection::XIdlMethod> PropertySetMethod(const char* name);
  Any Convert(const Any& value, const css::uno::Type& type);
  Any NewStruct(const std::string& typeName);

 private:
  explicit LocalUno(const std::string& programDir);

  Reference<css::uno::XComponentContext> context_;
  Reference<css::lang::XSingleServiceFactory> invocationFactory_;
  Reference<css::reflection::XIdlReflection> reflection_;
  Reference<css::script::XTypeConverter> converter_;
  std::unordered_map<std::string, BindingRef> bindings_;
  static inline std::atomic<LocalUno*> started_{nullptr};
};

// Every connection alive or starting, so that Abort reaches offices still starting too.
class Connections {
 public:
  static Connections& Get();
  void Add(OfficeConnection* c);
  void Remove(OfficeConnection* c);
  void AbortAll();
  void EndAll();

 private:
  std::mutex mutex_;
  std::set<OfficeConnection*> live_;
};

// One office process and the bridge to it. Every object handed out keeps it alive; when the
// last one goes, the office is told to terminate and the process is reaped (or killed).
// Every office call runs under a watch: one that gets no answer within the limit ends the
// office, and from then on every call raises ConnectionLost, as after Abort or the office's
// own death.
class OfficeConnection {
 public:
  OfficeConnection(const std::string& programDir, Limit limit);
  ~OfficeConnection() { End(); }

  // Terminates the office and waits for it to go (or ends it); the connection is then lost.
  void End();

  LocalUno& local() { return local_; }
  const Reference<css::lang::XMultiComponentFactory>& serviceManager() const {
    return serviceManager_;
  }

  // One office call: watched, and its UNO failure turned into our error.
  template <typename F>
  auto Watched(F&& work) -> decltype(work()) {
    if (KnownGone()) throw automation::ConnectionLost(LostMessage());
    const CallWatch::Scope watched(watch_, CallLimit());
    try {
      return work();
    } catch (const css::uno::Exception&) {
      std::string message = CaughtMessage();
      // The bridge sees a dead office when its pipe closes, a moment before the process can be
      // reaped: when the bridge itself no longer answers, wait for the process to tell how it
      // ended. A bridge gone is a lost office even if the process lives on.
      if (CaughtDisposed() && !BridgeAnswers()) {
        bridgeGone_ = true;
        AwaitExit();
      }
      if (Gone()) throw automation::ConnectionLost(LostMessage());
      throw automation::Refused(std::move(message));
    }
  }

  // Ends the office at once; callable from any thread.
  void Abort();

 private:
  std::chrono::milliseconds CallLimit() const { return std::chrono::milliseconds(limit_->load()); }

  // Whether the office is out of reach for good. Reaping it here also tells how it ended.
  bool Gone();
  bool KnownGone() const {
    return ended_ || aborted_ || watch_.Expired() || bridgeGone_ || exitStatus_.has_value();
  }

  // One round trip over the bridge; false when it is disposed.
  bool BridgeAnswers();
  void AwaitExit();
  std::string LostMessage() const;

  LocalUno& local_;
  Limit limit_;
  OfficeProcess process_;
  CallWatch watch_;
  std::atomic<bool> aborted_{false};
  std::mutex endMutex_;
  std::atomic<bool> ended_{false};
  bool bridgeGone_ = false;
  std::optional<int> exitStatus_;
  Reference<css::uno::XComponentContext> remoteContext_;
  Reference<css::lang::XMultiComponentFactory> serviceManager_;

  // Last: registered once everything Abort touches exists, unregistered before it goes.
  struct Registration {
    explicit Registration(OfficeConnection* c) : connection(c) { Connections::Get().Add(c); }
    ~Registration() { Connections::Get().Remove(connection); }
    OfficeConnection* connection;
  } registration_;
};

}  // namespace tabloom_uno
