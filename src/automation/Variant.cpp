#include "automation/Variant.hpp"

#include <cmath>
#include <limits>
#include <sstream>

namespace automation {

namespace {

[[noreturn]] void WrongType(Variant::Type have, const char* want) {
  throw Error(std::string("Type mismatch: expected ") + want + ", have " + TypeName(have));
}

}  // namespace

const char* TypeName(Variant::Type type) {
  switch (type) {
    case Variant::Type::Empty:
      return "empty";
    case Variant::Type::Boolean:
      return "boolean";
    case Variant::Type::Int32:
      return "integer";
    case Variant::Type::Byte:
      return "byte";
    case Variant::Type::Double:
      return "double";
    case Variant::Type::String:
      return "string";
    case Variant::Type::Array:
      return "array";
    case Variant::Type::Object:
      return "object";
  }
  return "?";
}

bool Variant::IsNumber() const {
  const Type t = type();
  return t == Type::Int32 || t == Type::Byte || t == Type::Double;
}

bool Variant::AsBool() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b;
  if (IsNumber()) return AsDouble() != 0.0;
  WrongType(type(), "boolean");
}

std::int32_t Variant::AsInt() const {
  switch (type()) {
    case Type::Boolean:
      return std::get<bool>(value_) ? 1 : 0;
    case Type::Int32:
      return std::get<std::int32_t>(value_);
    case Type::Byte:
      return std::get<std::uint8_t>(value_);
    case Type::Double: {
      const double d = std::get<double>(value_);
      if (!std::isfinite(d) || d < std::numeric_limits<std::int32_t>::min() ||
          d > std::numeric_limits<std::int32_t>::max())
        throw Error("Overflow: " + Describe() + " is no 32-bit integer");
      return static_cast<std::int32_t>(std::lround(d));
    }
    default:
      WrongType(type(), "integer");
  }
}

std::uint8_t Variant::AsByte() const {
  const std::int32_t i = AsInt();
  if (i < 0 || i > 255) throw Error("Overflow: " + Describe() + " is no byte");
  return static_cast<std::uint8_t>(i);
}

double Variant::AsDouble() const {
  switch (type()) {
    case Type::Int32:
      return std::get<std::int32_t>(value_);
    case Type::Byte:
      return std::get<std::uint8_t>(value_);
    case Type::Double:
      return std::get<double>(value_);
    case Type::Boolean:
      return std::get<bool>(value_) ? 1.0 : 0.0;
    default:
      WrongType(type(), "number");
  }
}

const std::string& Variant::AsString() const& {
  if (auto* s = std::get_if<std::string>(&value_)) return *s;
  WrongType(type(), "string");
}

std::string Variant::AsString() && {
  if (auto* s = std::get_if<std::string>(&value_)) return std::move(*s);
  WrongType(type(), "string");
}

const VariantArray& Variant::AsArray() const& {
  if (auto* a = std::get_if<VariantArray>(&value_)) return *a;
  WrongType(type(), "array");
}

VariantArray Variant::AsArray() && {
  if (auto* a = std::get_if<VariantArray>(&value_)) return std::move(*a);
  WrongType(type(), "array");
}

const ObjectRef& Variant::AsObject() const {
  if (auto* o = std::get_if<ObjectRef>(&value_)) return *o;
  throw Error(std::string("Object required, have ") + TypeName(type()));
}

Variant Variant::CallWith(std::string_view name, const VariantArray& args) const {
  return AsObject()->Call(name, args);
}

Variant Variant::Get(std::string_view name) const {
  return AsObject()->Get(name);
}

void Variant::Set(std::string_view name, const Variant& value) const {
  AsObject()->Set(name, value);
}

std::string Variant::Describe() const {
  std::ostringstream out;
  switch (type()) {
    case Type::Empty:
      out << "<empty>";
      break;
    case Type::Boolean:
      out << (std::get<bool>(value_) ? "true" : "false");
      break;
    case Type::Int32:
      out << std::get<std::int32_t>(value_);
      break;
    case Type::Byte:
      out << static_cast<int>(std::get<std::uint8_t>(value_)) << "b";
      break;
    case Type::Double:
      out << std::get<double>(value_) << "d";
      break;
    case Type::String:
      out << '"' << std::get<std::string>(value_) << '"';
      break;
    case Type::Array: {
      out << '[';
      const auto& items = std::get<VariantArray>(value_);
      for (std::size_t i = 0; i < items.size(); ++i) out << (i ? ", " : "") << items[i].Describe();
      out << ']';
      break;
    }
    case Type::Object:
      out << "<object>";
      break;
  }
  return out.str();
}

}  // namespace automation
