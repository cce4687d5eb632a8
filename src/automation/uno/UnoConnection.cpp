#include "automation/uno/UnoConnection.hpp"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/XDesktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/reflection/InvocationTargetException.hpp>
#include <com/sun/star/reflection/ParamMode.hpp>
#include <com/sun/star/reflection/XIdlClass.hpp>
#include <com/sun/star/reflection/theCoreReflection.hpp>
#include <com/sun/star/script/Converter.hpp>
#include <cppu/unotype.hxx>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <rtl/bootstrap.hxx>

#include <signal.h>

#include <algorithm>
#include <thread>

namespace tabloom_uno {

using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

constexpr auto kConnectBound = std::chrono::seconds(30);
constexpr auto kConnectPoll = std::chrono::milliseconds(25);
constexpr auto kExitBound = std::chrono::seconds(3);
constexpr auto kTerminateBound = std::chrono::seconds(10);

// "600 seconds", "1.5 seconds".
std::string Seconds(std::chrono::milliseconds limit) {
  const long long ms = limit.count();
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000) text += "." + std::to_string(ms % 1000 / 100);
  return text + (ms == 1000 ? " second" : " seconds");
}

}  // namespace

Any CaughtException() {
  Any caught = cppu::getCaughtException();
  css::reflection::InvocationTargetException wrapped;
  if (caught >>= wrapped) caught = wrapped.TargetException;
  return caught;
}

bool CaughtDisposed() {
  return CaughtException().isExtractableTo(cppu::UnoType<css::lang::DisposedException>::get());
}

std::string CaughtMessage() {
  const Any caught = CaughtException();
  css::uno::Exception e;
  std::string message;
  if (caught >>= e) message = FromU(e.Message);
  const std::string type = FromU(caught.getValueTypeName());
  return message.empty() ? type : message + " (" + type + ")";
}

LocalUno& LocalUno::Get(const std::string& programDir) {
  static LocalUno instance(programDir);
  started_ = &instance;
  return instance;
}

void LocalUno::ShutdownIfStarted() {
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

LocalUno::LocalUno(const std::string& programDir) {
  rtl::Bootstrap::set(OUString("URE_BOOTSTRAP"),
                      ToU("vnd.sun.star.pathname:" + programDir + "/fundamentalrc"));
  context_ = cppu::defaultBootstrap_InitialComponentContext();
  invocationFactory_.set(context_->getServiceManager()->createInstanceWithContext(
                             "com.sun.star.script.Invocation", context_),
                         UNO_QUERY_THROW);
  reflection_ = css::reflection::theCoreReflection::get(context_);
  converter_ = css::script::Converter::create(context_);
}

Reference<css::script::XInvocation2> LocalUno::Invoke(const Any& target) {
  // The Invocation service is only offered through this (deprecated) factory interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Reference<css::script::XInvocation2> inv(
      invocationFactory_->createInstanceWithArguments(Sequence<Any>(&target, 1)), UNO_QUERY_THROW);
#pragma GCC diagnostic pop
  return inv;
}

Any LocalUno::TypedSequence(const Sequence<Any>& items) {
  if (items.getLength() == 0) return Any(items);
  const css::uno::Type& first = items[0].getValueType();
  if (first.getTypeClass() != css::uno::TypeClass_STRUCT) return Any(items);
  for (const Any& item : items)
    if (item.getValueType() != first) return Any(items);
  const css::uno::Type seqType(css::uno::TypeClass_SEQUENCE, "[]" + first.getTypeName());
  return converter_->convertTo(Any(items), seqType);
}

BindingRef LocalUno::MethodBinding(const Reference<css::reflection::XIdlMethod>& method,
                                   const OUString& property, const css::uno::Type& propertyType) {
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

Reference<css::reflection::XIdlMethod> LocalUno::PropertySetMethod(const char* name) {
  return reflection_->forName("com.sun.star.beans.XPropertySet")
      ->getMethod(OUString::createFromAscii(name));
}

Any LocalUno::Convert(const Any& value, const css::uno::Type& type) {
  if (type.getTypeClass() == css::uno::TypeClass_ANY || value.getValueType() == type) return value;
  return converter_->convertTo(value, type);
}

Any LocalUno::NewStruct(const std::string& typeName) {
  Reference<css::reflection::XIdlClass> type = reflection_->forName(ToU(typeName));
  if (!type.is() || (type->getTypeClass() != css::uno::TypeClass_STRUCT &&
                     type->getTypeClass() != css::uno::TypeClass_EXCEPTION))
    throw automation::Error("Unknown struct type: " + typeName);
  Any value;
  type->createObject(value);
  return value;
}

Connections& Connections::Get() {
  static Connections instance;
  return instance;
}

void Connections::Add(OfficeConnection* c) {
  std::lock_guard lock(mutex_);
  live_.insert(c);
}

void Connections::Remove(OfficeConnection* c) {
  std::lock_guard lock(mutex_);
  live_.erase(c);
}

void Connections::AbortAll() {
  std::lock_guard lock(mutex_);
  for (OfficeConnection* c : live_) c->Abort();
}

void Connections::EndAll() {
  std::lock_guard lock(mutex_);
  for (OfficeConnection* c : live_) c->End();
}

OfficeConnection::OfficeConnection(const std::string& programDir, Limit limit)
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

void OfficeConnection::End() {
  std::lock_guard lock(endMutex_);
  if (ended_) return;
  try {
    if (!Gone()) {
      const CallWatch::Scope watched(
          watch_, std::min<std::chrono::milliseconds>(kTerminateBound, CallLimit()));
      Reference<css::frame::XDesktop> desktop(
          serviceManager_->createInstanceWithContext("com.sun.star.frame.Desktop", remoteContext_),
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

void OfficeConnection::Abort() {
  aborted_ = true;
  process_.Kill(SIGKILL);
}

bool OfficeConnection::Gone() {
  if (!exitStatus_) exitStatus_ = process_.PollExit();
  return KnownGone();
}

bool OfficeConnection::BridgeAnswers() {
  try {
    return remoteContext_.is() && remoteContext_->getServiceManager().is();
  } catch (const css::uno::Exception&) {
    return false;
  }
}

void OfficeConnection::AwaitExit() {
  const auto deadline = std::chrono::steady_clock::now() + kExitBound;
  while (!(exitStatus_ = process_.PollExit()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::string OfficeConnection::LostMessage() const {
  if (watch_.Expired())
    return "The office stopped answering: no answer within " + Seconds(watch_.ExpiredLimit()) +
           ", so it was ended";
  if (aborted_) return "The office was ended before the work was done";
  if (ended_) return "The office was ended as the program ends";
  if (!exitStatus_) return "The connection to the office was lost";
  return "The office ended unexpectedly (" + OfficeProcess::DescribeExit(*exitStatus_) + ")";
}

}  // namespace tabloom_uno
