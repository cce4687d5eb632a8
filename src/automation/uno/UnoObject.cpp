#include "automation/uno/UnoObject.hpp"

#include <com/sun/star/beans/MethodConcept.hpp>
#include <com/sun/star/beans/PropertyConcept.hpp>
#include <com/sun/star/beans/XIntrospectionAccess.hpp>
#include <com/sun/star/beans/XMaterialHolder.hpp>

namespace tabloom_uno {

using automation::Variant;
using automation::VariantArray;
using css::uno::UNO_QUERY;

UnoObject::UnoObject(ConnectionRef connection, Any value)
    : connection_(std::move(connection)),
      value_(std::move(value)),
      typeKey_(FromU(value_.getValueTypeName()) + '|') {}

Variant UnoObject::Call(std::string_view name, const VariantArray& args) {
  return connection_->Watched([&] {
    const std::string key = Key('C', name);
    if (auto result = Shortcut(key, args, nullptr)) return *std::move(result);
    auto& inv = Invocation();
    const OUString exact = Resolve(name);
    if (!inv->hasMethod(exact))
      throw automation::UnknownMemberError(std::string(name) + " is no method of this object");
    if (IsInterface()) {
      const auto access = inv->getIntrospection();
      Local().Learn(key, access.is() ? Local().MethodBinding(
                                           access->getMethod(exact, css::beans::MethodConcept::ALL))
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

Variant UnoObject::Get(std::string_view name) {
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

void UnoObject::Set(std::string_view name, const Variant& value) {
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

Any UnoObject::Value() {
  if (IsInterface() || !invocation_.is()) return value_;
  Reference<css::beans::XMaterialHolder> material(invocation_, UNO_QUERY);
  return material.is() ? material->getMaterial() : value_;
}

Reference<css::script::XInvocation2>& UnoObject::Invocation() {
  if (!invocation_.is()) {
    invocation_ = Local().Invoke(value_);
    exactName_.set(invocation_, UNO_QUERY);
  }
  return invocation_;
}

BindingRef UnoObject::LearnProperty(const OUString& exact, const char* prefix,
                                    const char* setMethod) {
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

std::optional<Variant> UnoObject::Shortcut(const std::string& key, const VariantArray& args,
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

Any UnoObject::Interface(const css::uno::Type& type) {
  for (const auto& [known, as] : interfaces_)
    if (known == type) return as;
  if (value_.getValueType() == type) return value_;
  const Reference<css::uno::XInterface> object(value_, UNO_QUERY);
  Any as = object.is() ? object->queryInterface(type) : Any();
  interfaces_.emplace_back(type, as);
  return as;
}

OUString UnoObject::Resolve(std::string_view name) {
  const OUString wanted = ToU(name);
  OUString exact = exactName_.is() ? exactName_->getExactName(wanted) : OUString();
  if (exact.isEmpty()) {
    if (invocation_->hasMethod(wanted) || invocation_->hasProperty(wanted)) return wanted;
    throw automation::UnknownMemberError("Unknown name: " + std::string(name));
  }
  return exact;
}

}  // namespace tabloom_uno
