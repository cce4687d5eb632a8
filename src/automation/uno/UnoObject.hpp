// Office objects as the automation layer sees them: members called, read and written by name.
// Private to the module.
#pragma once

#include <com/sun/star/beans/XExactName.hpp>
#include <com/sun/star/script/XInvocation2.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/Variant.hpp"
#include "automation/uno/UnoConnection.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace tabloom_uno {

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

// An office object (interface) or a struct value. A member is reached directly when it was
// learned on an earlier object of the same interface type, else through an Invocation adapter
// made on first use, which resolves the name and teaches the shortcut.
class UnoObject : public automation::Object {
 public:
  UnoObject(ConnectionRef connection, Any value);

  automation::Variant Call(std::string_view name, const automation::VariantArray& args) override;
  automation::Variant Get(std::string_view name) override;
  void Set(std::string_view name, const automation::Variant& value) override;

  // The UNO value to pass on: the interface itself, or the struct as edited so far.
  Any Value();

 protected:
  const ConnectionRef& connection() const { return connection_; }

 private:
  Reference<css::script::XInvocation2>& Invocation();
  LocalUno& Local() const { return connection_->local(); }
  bool IsInterface() const { return value_.getValueTypeClass() == css::uno::TypeClass_INTERFACE; }
  std::string Key(char kind, std::string_view name) const {
    return typeKey_ + kind + LowerAscii(name);
  }

  // A property is read or written through the property set when it is one of its
  // properties, else through its get/set method.
  BindingRef LearnProperty(const OUString& exact, const char* prefix, const char* setMethod);

  // The learned way to a member, used when this object also has the declaring interface.
  // Empty when there is none: the caller then goes through the Invocation adapter.
  std::optional<automation::Variant> Shortcut(const std::string& key,
                                              const automation::VariantArray& args,
                                              const Any* setValue);

  // This object as the given interface (asked of the office once per object and type);
  // empty when it does not have it.
  Any Interface(const css::uno::Type& type);

  // Letter case is free; a name the object does not have never reaches the office.
  OUString Resolve(std::string_view name);

  ConnectionRef connection_;
  Any value_;
  std::string typeKey_;  // the declared type, as the key prefix of learned members
  Reference<css::script::XInvocation2> invocation_;
  Reference<css::beans::XExactName> exactName_;
  std::vector<std::pair<css::uno::Type, Any>> interfaces_;
};

// The service manager answers names of its own: Bridge_GetStruct makes a UNO struct,
// Bridge_StatusIndicator an indicator of ours that tells an object of the caller's.
class ServiceManagerObject : public UnoObject {
 public:
  using UnoObject::UnoObject;

  automation::Variant Call(std::string_view name, const automation::VariantArray& args) override;
};

}  // namespace tabloom_uno
