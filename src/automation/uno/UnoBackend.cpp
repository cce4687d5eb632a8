// The LibreOffice backend of the automation layer: a private office process reached over a
// UNO bridge, its objects called by name through locally created Invocation adapters.
//
// This is the only code that links LibreOffice's libraries; it is built as a module that the
// program loads at run time, so the program starts (not connected) where no office exists.
#include <typelib/typedescription.h>
#include <uno/sequence2.h>
#include <com/sun/star/beans/MethodConcept.hpp>
#include <com/sun/star/beans/PropertyConcept.hpp>
#include <com/sun/star/beans/XExactName.hpp>
#include <com/sun/star/beans/XIntrospectionAccess.hpp>
#include <com/sun/star/beans/XMaterialHolder.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/XDesktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XSingleServiceFactory.hpp>
#include <com/sun/star/reflection/InvocationTargetException.hpp>
#include <com/sun/star/reflection/ParamMode.hpp>
#include <com/sun/star/reflection/XIdlClass.hpp>
#include <com/sun/star/reflection/XIdlMethod.hpp>
#include <com/sun/star/reflection/theCoreReflection.hpp>
#include <com/sun/star/script/Converter.hpp>
#include <com/sun/star/script/XInvocation2.hpp>
#include <com/sun/star/script/XTypeConverter.hpp>
#include <com/sun/star/task/XStatusIndicator.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <cppu/unotype.hxx>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ustring.hxx>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "automation/Variant.hpp"
#include "automation/uno/CallWatch.hpp"
#include "automation/uno/OfficeProcess.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OString;
using rtl::OUString;

namespace tabloom_uno {

namespace {

using automation::Variant;
using automation::VariantArray;

constexpr auto kConnectBound = std::chrono::seconds(30);
constexpr auto kConnectPoll = std::chrono::milliseconds(25);
constexpr auto kExitBound = std::chrono::seconds(3);
constexpr auto kTerminateBound = std::chrono::seconds(10);
constexpr auto kDefaultCallLimit = std::chrono::minutes(10);

using Limit = std::shared_ptr<std::atomic<std::int64_t>>;  // milliseconds, shared by a factory

// Set by the factory's Shutdown: from then on nothing of UNO is touched again. Plain data, so it
// is still there while static data is destroyed.
std::atomic<bool> shutDown{false};

// "600 seconds", "1.5 seconds".
std::string Seconds(std::chrono::milliseconds limit) {
  const long long ms = limit.count();
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000) text += "." + std::to_string(ms % 1000 / 100);
  return text + (ms == 1000 ? " second" : " seconds");
}

OUString ToU(std::string_view s) {
  return OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

std::string FromU(const OUString& s) {
  const OString utf8 = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(utf8.getStr(), utf8.getLength());
}

// The office's error, unwrapped from the reflection's wrapper. Must be called in a catch block.
Any CaughtException() {
  Any caught = cppu::getCaughtException();
  css::reflection::InvocationTargetException wrapped;
  if (caught >>= wrapped) caught = wrapped.TargetException;
  return caught;
}

// Whether the error says the object is gone: the bridge raises it once the office's pipe
// closed, and so may an object the office disposed of. Must be called in a catch block.
bool CaughtDisposed() {
  return CaughtException().isExtractableTo(cppu::UnoType<css::lang::DisposedException>::get());
}

// The office's error as one text: its message and its type. Must be called in a catch block.
std::string CaughtMessage() {
  const Any caught = CaughtException();
  css::uno::Exception e;
  std::string message;
  if (caught >>= e) message = FromU(e.Message);
  const std::string type = FromU(caught.getValueTypeName());
  return message.empty() ? type : message + " (" + type + ")";
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

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
  static LocalUno& Get(const std::string& programDir) {
    static LocalUno instance(programDir);
    started_ = &instance;
    return instance;
  }

  // Lets go of everything held and disposes the local context, if it was ever made.
  static void ShutdownIfStarted() {
    LocalUno* local = started_.exchange(nullptr);
    if (!local) return;
    local->bindings_.clear();
    local->invocationFactory_.clear();
    local->reflection_.clear();
    local->converter_.clear();
    Reference<css::lang::XComponent> component(local->context_, UNO_QUERY);
    local->context_.clear();
    if (component.is()) component->dispose();
  }

  const Reference<css::uno::XComponentContext>& context() const { return context_; }

  Reference<css::script::XInvocation2> Invoke(const Any& target) {
    // The Invocation service is only offered through this (deprecated) factory interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Reference<css::script::XInvocation2> inv(
        invocationFactory_->createInstanceWithArguments(Sequence<Any>(&target, 1)),
        UNO_QUERY_THROW);
#pragma GCC diagnostic pop
    return inv;
  }

  // A list of structs of one type becomes a sequence of that type: a method that declares
  // `any` (an event binding, say) gets what it expects; declared sequences convert either way.
  Any TypedSequence(const Sequence<Any>& items) {
    if (items.getLength() == 0) return Any(items);
    const css::uno::Type& first = items[0].getValueType();
    if (first.getTypeClass() != css::uno::TypeClass_STRUCT) return Any(items);
    for (const Any& item : items)
      if (item.getValueType() != first) return Any(items);
    const css::uno::Type seqType(css::uno::TypeClass_SEQUENCE, "[]" + first.getTypeName());
    return converter_->convertTo(Any(items), seqType);
  }

  // Nothing found means "not learned yet"; a null binding means "no shortcut for this one".
  const BindingRef* FindBinding(const std::string& key) const {
    const auto it = bindings_.find(key);
    return it == bindings_.end() ? nullptr : &it->second;
  }
  void Learn(const std::string& key, BindingRef binding) {
    bindings_[key] = std::move(binding);
  }

  BindingRef MethodBinding(const Reference<css::reflection::XIdlMethod>& method,
                           const OUString& property = OUString(),
                           const css::uno::Type& propertyType = css::uno::Type()) {
    if (!method.is()) return nullptr;
    auto binding = std::make_shared<Binding>();
    const Reference<css::reflection::XIdlClass> declaring = method->getDeclaringClass();
    binding->interface = css::uno::Type(declaring->getTypeClass(), declaring->getName());
    binding->method = method;
    for (const auto& info : method->getParameterInfos()) {
      if (info.aMode != css::reflection::ParamMode_IN) return nullptr;  // out values: adapter
      binding->parameters.emplace_back(info.aType->getTypeClass(), info.aType->getName());
    }
    binding->property = property;
    binding->propertyType = propertyType;
    return binding;
  }

  Reference<css::reflection::XIdlMethod> PropertySetMethod(const char* name) {
    return reflection_->forName("com.sun.star.beans.XPropertySet")
        ->getMethod(OUString::createFromAscii(name));
  }

  Any Convert(const Any& value, const css::uno::Type& type) {
    if (type.getTypeClass() == css::uno::TypeClass_ANY || value.getValueType() == type)
      return value;
    return converter_->convertTo(value, type);
  }

  Any NewStruct(const std::string& typeName) {
    Reference<css::reflection::XIdlClass> type = reflection_->forName(ToU(typeName));
    if (!type.is() || (type->getTypeClass() != css::uno::TypeClass_STRUCT &&
                       type->getTypeClass() != css::uno::TypeClass_EXCEPTION))
      throw automation::Error("Unknown struct type: " + typeName);
    Any value;
    type->createObject(value);
    return value;
  }

 private:
  explicit LocalUno(const std::string& programDir) {
    rtl::Bootstrap::set(OUString("URE_BOOTSTRAP"),
                        ToU("vnd.sun.star.pathname:" + programDir + "/fundamentalrc"));
    context_ = cppu::defaultBootstrap_InitialComponentContext();
    invocationFactory_.set(context_->getServiceManager()->createInstanceWithContext(
                               "com.sun.star.script.Invocation", context_),
                           UNO_QUERY_THROW);
    reflection_ = css::reflection::theCoreReflection::get(context_);
    converter_ = css::script::Converter::create(context_);
  }

  Reference<css::uno::XComponentContext> context_;
  Reference<css::lang::XSingleServiceFactory> invocationFactory_;
  Reference<css::reflection::XIdlReflection> reflection_;
  Reference<css::script::XTypeConverter> converter_;
  std::unordered_map<std::string, BindingRef> bindings_;
  static inline std::atomic<LocalUno*> started_{nullptr};
};

class OfficeConnection;

// Every connection alive or starting, so that Abort reaches offices still starting too.
class Connections {
 public:
  static Connections& Get() {
    static Connections instance;
    return instance;
  }
  void Add(OfficeConnection* c) {
    std::lock_guard lock(mutex_);
    live_.insert(c);
  }
  void Remove(OfficeConnection* c) {
    std::lock_guard lock(mutex_);
    live_.erase(c);
  }
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
  OfficeConnection(const std::string& programDir, Limit limit)
      : local_(LocalUno::Get(programDir)),
        limit_(std::move(limit)),
        process_(programDir),
        watch_([this] { process_.Kill(SIGKILL); }),
        registration_(this) {
    Reference<css::bridge::XUnoUrlResolver> resolver =
        css::bridge::UnoUrlResolver::create(local_.context());
    const OUString url =
        ToU("uno:pipe,name=" + process_.pipeName() + ";urp;StarOffice.ComponentContext");
    const auto deadline = std::chrono::steady_clock::now() + kConnectBound;
    bool relaunched = false;
    for (;;) {
      try {
        const CallWatch::Scope watched(watch_, kConnectBound);
        remoteContext_.set(resolver->resolve(url), UNO_QUERY_THROW);
        break;
      } catch (const css::connection::NoConnectException&) {
        // not listening yet
      }
      if (auto code = process_.PollExit()) {
        // A fresh profile makes the first start exit with 81 and ask for a restart.
        if (*code == 81 && !relaunched && !aborted_) {
          relaunched = true;
          process_.Relaunch();
          continue;
        }
        throw automation::Error("The office ended during start-up (" +
                                OfficeProcess::DescribeExit(*code) + ")");
      }
      if (std::chrono::steady_clock::now() >= deadline)
        throw automation::Error("The office did not answer within " +
                                std::to_string(kConnectBound.count()) + " seconds");
      std::this_thread::sleep_for(kConnectPoll);
    }
    serviceManager_ = remoteContext_->getServiceManager();
    if (!serviceManager_.is()) throw automation::Error("The office has no service manager");
  }

  ~OfficeConnection() { End(); }

  // Terminates the office and waits for it to go (or ends it); the connection is then lost.
  void End() {
    std::lock_guard lock(endMutex_);
    if (ended_) return;
    try {
      if (!Gone()) {
        const CallWatch::Scope watched(
            watch_, std::min<std::chrono::milliseconds>(kTerminateBound, CallLimit()));
        Reference<css::frame::XDesktop> desktop(serviceManager_->createInstanceWithContext(
                                                    "com.sun.star.frame.Desktop", remoteContext_),
                                                UNO_QUERY);
        if (desktop.is()) desktop->terminate();
      }
    } catch (const css::uno::Exception&) {
      // Gone or refusing: the process is ended below either way.
    }
    serviceManager_.clear();
    remoteContext_.clear();
    process_.End(kExitBound);
    ended_ = true;
  }

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
  void Abort() {
    aborted_ = true;
    process_.Kill(SIGKILL);
  }

 private:
  std::chrono::milliseconds CallLimit() const { return std::chrono::milliseconds(limit_->load()); }

  // Whether the office is out of reach for good. Reaping it here also tells how it ended.
  bool Gone() {
    if (!exitStatus_) exitStatus_ = process_.PollExit();
    return KnownGone();
  }
  bool KnownGone() const {
    return ended_ || aborted_ || watch_.Expired() || bridgeGone_ || exitStatus_.has_value();
  }

  // One round trip over the bridge; false when it is disposed.
  bool BridgeAnswers() {
    try {
      return remoteContext_.is() && remoteContext_->getServiceManager().is();
    } catch (const css::uno::Exception&) {
      return false;
    }
  }

  void AwaitExit() {
    const auto deadline = std::chrono::steady_clock::now() + kExitBound;
    while (!(exitStatus_ = process_.PollExit()) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  std::string LostMessage() const {
    if (watch_.Expired())
      return "The office stopped answering: no answer within " + Seconds(watch_.ExpiredLimit()) +
             ", so it was ended";
    if (aborted_) return "The office was ended before the work was done";
    if (ended_) return "The office was ended as the program ends";
    if (!exitStatus_) return "The connection to the office was lost";
    return "The office ended unexpectedly (" + OfficeProcess::DescribeExit(*exitStatus_) + ")";
  }

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

void Connections::AbortAll() {
  std::lock_guard lock(mutex_);
  for (OfficeConnection* c : live_) c->Abort();
}

void Connections::EndAll() {
  std::lock_guard lock(mutex_);
  for (OfficeConnection* c : live_) c->End();
}

using ConnectionRef = std::shared_ptr<OfficeConnection>;

// Objects are let go of through this: after the shutdown an object is left as it is, since
// releasing its UNO references may run after UNO's own data was destroyed.
template <typename T, typename... Args>
automation::ObjectRef MakeObject(Args&&... args) {
  return std::shared_ptr<T>(new T(std::forward<Args>(args)...), [](T* object) {
    if (!shutDown.load()) {
      delete object;
      return;
    }
#if defined(__SANITIZE_ADDRESS__)
    __lsan_ignore_object(object);  // left on purpose: the program is ending
#endif
  });
}

Variant ToVariant(const Any& value, const ConnectionRef& connection);
Any ToAny(const Variant& value, LocalUno& local);

// An office object (interface) or a struct value. A member is reached directly when it was
// learned on an earlier object of the same interface type, else through an Invocation adapter
// made on first use, which resolves the name and teaches the shortcut.
class UnoObject : public automation::Object {
 public:
  UnoObject(ConnectionRef connection, Any value)
      : connection_(std::move(connection)),
        value_(std::move(value)),
        typeKey_(FromU(value_.getValueTypeName()) + '|') {}

  Variant Call(std::string_view name, const VariantArray& args) override {
    return connection_->Watched([&] {
      const std::string key = Key('C', name);
      if (auto result = Shortcut(key, args, nullptr)) return *std::move(result);
      auto& inv = Invocation();
      const OUString exact = Resolve(name);
      if (!inv->hasMethod(exact))
        throw automation::UnknownMemberError(std::string(name) + " is no method of this object");
      if (IsInterface()) {
        const auto access = inv->getIntrospection();
        Local().Learn(key, access.is() ? Local().MethodBinding(access->getMethod(
                                             exact, css::beans::MethodConcept::ALL))
                                       : nullptr);
      }
      Sequence<Any> params(static_cast<sal_Int32>(args.size()));
      Any* out = params.getArray();
      for (std::size_t i = 0; i < args.size(); ++i) out[i] = ToAny(args[i], Local());
      Sequence<sal_Int16> outIndex;
      Sequence<Any> outParams;
      return ToVariant(inv->invoke(exact, params, outIndex, outParams), connection_);
    });
  }

  Variant Get(std::string_view name) override {
    return connection_->Watched([&] {
      const std::string key = Key('G', name);
      if (auto result = Shortcut(key, {}, nullptr)) return *std::move(result);
      auto& inv = Invocation();
      const OUString exact = Resolve(name);
      if (!inv->hasProperty(exact))
        throw automation::UnknownMemberError(std::string(name) + " is no property of this object");
      if (IsInterface()) Local().Learn(key, LearnProperty(exact, "get", "getPropertyValue"));
      return ToVariant(inv->getValue(exact), connection_);
    });
  }

  void Set(std::string_view name, const Variant& value) override {
    connection_->Watched([&] {
      const std::string key = Key('S', name);
      const Any any = ToAny(value, Local());
      if (Shortcut(key, {}, &any)) return;
      auto& inv = Invocation();
      const OUString exact = Resolve(name);
      if (!inv->hasProperty(exact))
        throw automation::UnknownMemberError(std::string(name) + " is no property of this object");
      if (IsInterface()) Local().Learn(key, LearnProperty(exact, "set", "setPropertyValue"));
      inv->setValue(exact, any);
    });
  }

  // The UNO value to pass on: the interface itself, or the struct as edited so far.
  Any Value() {
    if (IsInterface() || !invocation_.is()) return value_;
    Reference<css::beans::XMaterialHolder> material(invocation_, UNO_QUERY);
    return material.is() ? material->getMaterial() : value_;
  }

 protected:
  const ConnectionRef& connection() const { return connection_; }

 private:
  Reference<css::script::XInvocation2>& Invocation() {
    if (!invocation_.is()) {
      invocation_ = Local().Invoke(value_);
      exactName_.set(invocation_, UNO_QUERY);
    }
    return invocation_;
  }

  LocalUno& Local() const { return connection_->local(); }
  bool IsInterface() const { return value_.getValueTypeClass() == css::uno::TypeClass_INTERFACE; }

  std::string Key(char kind, std::string_view name) const {
    return typeKey_ + kind + LowerAscii(name);
  }

  // A property is read or written through the property set when it is one of its
  // properties, else through its get/set method.
  BindingRef LearnProperty(const OUString& exact, const char* prefix, const char* setMethod) {
    const auto access = invocation_->getIntrospection();
    if (!access.is()) return nullptr;
    if (access->hasProperty(exact, css::beans::PropertyConcept::PROPERTYSET)) {
      const css::beans::Property property =
          access->getProperty(exact, css::beans::PropertyConcept::PROPERTYSET);
      return Local().MethodBinding(Local().PropertySetMethod(setMethod), exact, property.Type);
    }
    const OUString accessor = OUString::createFromAscii(prefix) + exact;
    if (access->hasMethod(accessor, css::beans::MethodConcept::ALL))
      return Local().MethodBinding(access->getMethod(accessor, css::beans::MethodConcept::ALL));
    return nullptr;
  }

  // The learned way to a member, used when this object also has the declaring interface.
  // Empty when there is none: the caller then goes through the Invocation adapter.
  std::optional<Variant> Shortcut(const std::string& key, const VariantArray& args,
                                  const Any* setValue) {
    if (!IsInterface()) return std::nullopt;
    const BindingRef* found = Local().FindBinding(key);
    if (!found || !*found) return std::nullopt;
    const Binding& b = **found;
    const std::size_t given = args.size() + (setValue ? 1 : 0) + (b.property.isEmpty() ? 0 : 1);
    if (given != b.parameters.size()) return std::nullopt;  // let the adapter explain
    const Any target = Interface(b.interface);
    if (!target.hasValue()) return std::nullopt;
    Sequence<Any> params(static_cast<sal_Int32>(b.parameters.size()));
    Any* out = params.getArray();
    std::size_t i = 0;
    if (!b.property.isEmpty()) out[i++] <<= b.property;
    if (setValue) {
      const css::uno::Type& type = b.property.isEmpty() ? b.parameters[i] : b.propertyType;
      out[i++] = Local().Convert(*setValue, type);
    }
    for (const Variant& arg : args) {
      out[i] = Local().Convert(ToAny(arg, Local()), b.parameters[i]);
      ++i;
    }
    return ToVariant(b.method->invoke(target, params), connection_);
  }

  // This object as the given interface (asked of the office once per object and type);
  // empty when it does not have it.
  Any Interface(const css::uno::Type& type) {
    for (const auto& [known, as] : interfaces_)
      if (known == type) return as;
    if (value_.getValueType() == type) return value_;
    const Reference<css::uno::XInterface> object(value_, UNO_QUERY);
    Any as = object.is() ? object->queryInterface(type) : Any();
    interfaces_.emplace_back(type, as);
    return as;
  }

  // Letter case is free; a name the object does not have never reaches the office.
  OUString Resolve(std::string_view name) {
    const OUString wanted = ToU(name);
    OUString exact = exactName_.is() ? exactName_->getExactName(wanted) : OUString();
    if (exact.isEmpty()) {
      if (invocation_->hasMethod(wanted) || invocation_->hasProperty(wanted)) return wanted;
      throw automation::UnknownMemberError("Unknown name: " + std::string(name));
    }
    return exact;
  }

  ConnectionRef connection_;
  Any value_;
  std::string typeKey_;  // the declared type, as the key prefix of learned members
  Reference<css::script::XInvocation2> invocation_;
  Reference<css::beans::XExactName> exactName_;
  std::vector<std::pair<css::uno::Type, Any>> interfaces_;
};

// Ours, for a media descriptor's StatusIndicator: the office tells it how far a load or a
// store has come, and each call goes on to `sink` by the same name (start, setValue, ...).
// The calls come over the bridge on threads of the office's making while our caller waits:
// they are passed on at once, and whatever fails on our side stays here, since an exception
// would fail the office's work. The office may keep it past the call; the sink decides what
// late calls mean.
class StatusIndicator : public cppu::WeakImplHelper1<css::task::XStatusIndicator> {
 public:
  explicit StatusIndicator(automation::ObjectRef sink) : sink_(std::move(sink)) {}

  void SAL_CALL start(const OUString& text, sal_Int32 range) override {
    Tell("start", [&] { return VariantArray{FromU(text), std::int32_t{range}}; });
  }
  void SAL_CALL end() override {
    Tell("end", [] { return VariantArray{}; });
  }
  void SAL_CALL setText(const OUString& text) override {
    Tell("setText", [&] { return VariantArray{FromU(text)}; });
  }
  void SAL_CALL setValue(sal_Int32 value) override {
    Tell("setValue", [&] { return VariantArray{std::int32_t{value}}; });
  }
  void SAL_CALL reset() override {
    Tell("reset", [] { return VariantArray{}; });
  }

 private:
  template <typename Args>
  void Tell(std::string_view member, Args&& args) noexcept {
    if (shutDown.load()) return;
    try {
      sink_->Call(member, args());
    } catch (...) {
      // ours alone: the office's work goes on
    }
  }

  const automation::ObjectRef sink_;
};

// The service manager answers names of its own: Bridge_GetStruct makes a UNO struct,
// Bridge_StatusIndicator an indicator of ours that tells an object of the caller's.
class ServiceManagerObject : public UnoObject {
 public:
  using UnoObject::UnoObject;

  Variant Call(std::string_view name, const VariantArray& args) override {
    if (LowerAscii(name) == "bridge_statusindicator") {
      if (args.size() != 1 || !args[0].IsObject())
        throw automation::Error("Bridge_StatusIndicator takes the object it tells");
      return connection()->Watched([&] {
        const Reference<css::task::XStatusIndicator> indicator(
            new StatusIndicator(args[0].AsObject()));
        return Variant(MakeObject<UnoObject>(connection(), Any(indicator)));
      });
    }
    if (LowerAscii(name) == "bridge_getstruct") {
      if (args.size() != 1) throw automation::Error("Bridge_GetStruct takes one type name");
      // Local work, but after the office (or the module's UNO state) is gone it is refused
      // like every other member.
      return connection()->Watched([&] {
        return Variant(MakeObject<UnoObject>(connection(),
                                             connection()->local().NewStruct(args[0].AsString())));
      });
    }
    return UnoObject::Call(name, args);
  }
};

Variant SequenceToVariant(const Any& value, const ConnectionRef& connection) {
  typelib_TypeDescription* seqType = nullptr;
  TYPELIB_DANGER_GET(&seqType, value.getValueTypeRef());
  typelib_TypeDescriptionReference* elementRef =
      reinterpret_cast<typelib_IndirectTypeDescription*>(seqType)->pType;
  typelib_TypeDescription* elementType = nullptr;
  TYPELIB_DANGER_GET(&elementType, elementRef);
  const sal_Int32 size = elementType->nSize;
  const uno_Sequence* seq = *static_cast<uno_Sequence* const*>(value.getValue());
  VariantArray items;
  items.reserve(static_cast<std::size_t>(seq->nElements));
  for (sal_Int32 i = 0; i < seq->nElements; ++i)
    items.push_back(
        ToVariant(Any(seq->elements + static_cast<std::size_t>(i) * size, elementRef), connection));
  TYPELIB_DANGER_RELEASE(elementType);
  TYPELIB_DANGER_RELEASE(seqType);
  return items;
}

Variant ToVariant(const Any& value, const ConnectionRef& connection) {
  using css::uno::TypeClass;
  const void* p = value.getValue();
  switch (value.getValueTypeClass()) {
    case TypeClass::TypeClass_VOID:
      return {};
    case TypeClass::TypeClass_BOOLEAN:
      return *static_cast<const sal_Bool*>(p) != 0;
    case TypeClass::TypeClass_BYTE:
      return static_cast<std::uint8_t>(*static_cast<const sal_Int8*>(p));
    case TypeClass::TypeClass_SHORT:
      return static_cast<std::int32_t>(*static_cast<const sal_Int16*>(p));
    case TypeClass::TypeClass_UNSIGNED_SHORT:
      return static_cast<std::int32_t>(*static_cast<const sal_uInt16*>(p));
    case TypeClass::TypeClass_LONG:
    case TypeClass::TypeClass_ENUM:
      return static_cast<std::int32_t>(*static_cast<const sal_Int32*>(p));
    case TypeClass::TypeClass_UNSIGNED_LONG: {
      const sal_uInt32 v = *static_cast<const sal_uInt32*>(p);
      return v <= 0x7FFFFFFFu ? Variant(static_cast<std::int32_t>(v)) : Variant(double(v));
    }
    case TypeClass::TypeClass_HYPER: {
      const sal_Int64 v = *static_cast<const sal_Int64*>(p);
      return v >= INT32_MIN && v <= INT32_MAX ? Variant(static_cast<std::int32_t>(v))
                                              : Variant(static_cast<double>(v));
    }
    case TypeClass::TypeClass_UNSIGNED_HYPER: {
      const sal_uInt64 v = *static_cast<const sal_uInt64*>(p);
      return v <= INT32_MAX ? Variant(static_cast<std::int32_t>(v))
                            : Variant(static_cast<double>(v));
    }
    case TypeClass::TypeClass_FLOAT:
      return static_cast<double>(*static_cast<const float*>(p));
    case TypeClass::TypeClass_DOUBLE:
      return *static_cast<const double*>(p);
    case TypeClass::TypeClass_CHAR:
      return FromU(OUString(*static_cast<const sal_Unicode*>(p)));
    case TypeClass::TypeClass_STRING:
      return FromU(*static_cast<const OUString*>(p));
    case TypeClass::TypeClass_TYPE:
      return FromU(static_cast<const css::uno::Type*>(p)->getTypeName());
    case TypeClass::TypeClass_ANY:
      return ToVariant(*static_cast<const Any*>(p), connection);
    case TypeClass::TypeClass_SEQUENCE:
      return SequenceToVariant(value, connection);
    case TypeClass::TypeClass_STRUCT:
    case TypeClass::TypeClass_EXCEPTION:
      return MakeObject<UnoObject>(connection, value);
    case TypeClass::TypeClass_INTERFACE: {
      if (!*static_cast<void* const*>(p)) return {};
      return MakeObject<UnoObject>(connection, value);
    }
    default:
      throw automation::Error("Unsupported office value type " + FromU(value.getValueTypeName()));
  }
}

Any ToAny(const Variant& value, LocalUno& local) {
  switch (value.type()) {
    case Variant::Type::Empty:
      return {};
    case Variant::Type::Boolean:
      return Any(value.AsBool());
    case Variant::Type::Int32:
      return Any(static_cast<sal_Int32>(value.AsInt()));
    case Variant::Type::Byte:
      return Any(static_cast<sal_Int8>(value.AsByte()));
    case Variant::Type::Double:
      return Any(value.AsDouble());
    case Variant::Type::String:
      return Any(ToU(value.AsString()));
    case Variant::Type::Array: {
      const VariantArray& items = value.AsArray();
      Sequence<Any> seq(static_cast<sal_Int32>(items.size()));
      Any* out = seq.getArray();
      for (std::size_t i = 0; i < items.size(); ++i) out[i] = ToAny(items[i], local);
      return local.TypedSequence(seq);
    }
    case Variant::Type::Object: {
      auto* object = dynamic_cast<UnoObject*>(value.AsObject().get());
      if (!object) throw automation::Error("The object does not belong to this office");
      return object->Value();
    }
  }
  return {};
}

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
