#include "automation/uno/UnoValues.hpp"

#include <typelib/typedescription.h>
#include <uno/sequence2.h>

#include <cstdint>

#include "automation/uno/UnoObject.hpp"

namespace tabloom_uno {

using automation::Variant;
using automation::VariantArray;
using rtl::OString;

OUString ToU(std::string_view s) {
  return OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

std::string FromU(const OUString& s) {
  const OString utf8 = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(utf8.getStr(), utf8.getLength());
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

namespace {

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

}  // namespace

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

}  // namespace tabloom_uno
