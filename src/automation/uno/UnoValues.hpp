// Values across the bridge: texts between UTF-8 and UNO strings, and office values (Any) to
// and from the automation layer's variants. Private to the module.
#pragma once

#include <com/sun/star/uno/Any.hxx>
#include <rtl/ustring.hxx>

#include <memory>
#include <string>
#include <string_view>

#include "automation/Variant.hpp"

namespace tabloom_uno {

class LocalUno;
class OfficeConnection;
using ConnectionRef = std::shared_ptr<OfficeConnection>;

rtl::OUString ToU(std::string_view s);
std::string FromU(const rtl::OUString& s);
std::string LowerAscii(std::string_view s);

// An office value as a variant: numbers, texts and lists as they are, a struct or an office
// object as an object of the connection; a null reference is the empty variant.
automation::Variant ToVariant(const css::uno::Any& value, const ConnectionRef& connection);

// A variant as an office value; a list of structs of one type becomes a sequence of that type,
// and an object must belong to this office.
css::uno::Any ToAny(const automation::Variant& value, LocalUno& local);

}  // namespace tabloom_uno
