// Automation values and late-bound object references.
//
// A Variant carries what crosses the automation boundary: empty, boolean, 32-bit integer,
// unsigned byte, double, UTF-8 string, array of variants, or a reference to an object that
// is reached by member name (call, property get, property set).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace automation {

class Variant;
using VariantArray = std::vector<Variant>;

// Raised for every failed automation call; the message is the server's error text.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when an object has no member of the requested name and kind. The name is never sent
// to the server.
class UnknownMemberError : public Error {
 public:
  using Error::Error;
};

// Raised when the server refused a call: its own error, which a caller may answer another way
// (another call, a default). Nothing else is a refusal: not a lost server, not an unknown
// member, not a value of an unexpected kind.
class Refused : public Error {
 public:
  using Error::Error;
};

// Raised when the server is gone: it ended, was ended because it stopped answering, or was
// aborted. Every later call on its objects raises it too; nothing can be retried there.
class ConnectionLost : public Error {
 public:
  using Error::Error;
};

// An object reached by member name. Names are matched without regard to letter case.
class Object {
 public:
  virtual ~Object() = default;
  virtual Variant Call(std::string_view name, const VariantArray& args) = 0;
  virtual Variant Get(std::string_view name) = 0;
  virtual void Set(std::string_view name, const Variant& value) = 0;
};

using ObjectRef = std::shared_ptr<Object>;

class Variant {
 public:
  enum class Type { Empty, Boolean, Int32, Byte, Double, String, Array, Object };

  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(std::int32_t v) : value_(v) {}
  Variant(std::uint8_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::string_view v) : value_(std::string(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(VariantArray v) : value_(std::move(v)) {}
  // A null reference is the empty variant: there is no object to call.
  Variant(ObjectRef v) {
    if (v) value_ = std::move(v);
  }

  Type type() const { return static_cast<Type>(value_.index()); }
  bool IsEmpty() const { return type() == Type::Empty; }
  bool IsObject() const { return type() == Type::Object; }
  bool IsString() const { return type() == Type::String; }
  bool IsArray() const { return type() == Type::Array; }
  bool IsNumber() const;  // Int32, Byte or Double

  // Typed reads; each raises Error when the variant holds another kind of value (numbers
  // convert among each other, booleans read as 0 / 1).
  bool AsBool() const;
  std::int32_t AsInt() const;
  std::uint8_t AsByte() const;
  double AsDouble() const;
  // On a temporary these give the value itself, so `for (auto& v : x.Call(..).AsArray())`
  // does not iterate a destroyed array.
  const std::string& AsString() const&;
  std::string AsString() &&;
  const VariantArray& AsArray() const&;
  VariantArray AsArray() &&;
  const ObjectRef& AsObject() const;

  // Late-bound access; raises Error when the variant holds no object.
  template <typename... Args>
  Variant Call(std::string_view name, Args&&... args) const {
    return CallWith(name, VariantArray{Variant(std::forward<Args>(args))...});
  }
  Variant CallWith(std::string_view name, const VariantArray& args) const;
  Variant Get(std::string_view name) const;
  void Set(std::string_view name, const Variant& value) const;

  // Structural equality; objects compare by identity.
  friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

  // For messages and test output: 5, "x", true, [1, "a"], <object>, <empty>.
  std::string Describe() const;

 private:
  std::variant<std::monostate, bool, std::int32_t, std::uint8_t, double, std::string, VariantArray,
               ObjectRef>
      value_;
};

const char* TypeName(Variant::Type type);

// Creates automation objects by programmatic identifier ("com.sun.star.ServiceManager").
class ObjectFactory {
 public:
  virtual ~ObjectFactory() = default;
  // Raises Error when the object cannot be created (no server installed, start failed).
  virtual ObjectRef CreateObject(std::string_view progId) = 0;

  // A call that has had no answer for `limit` ends its server: that call and every later one
  // on the server's objects raise ConnectionLost. Holds for servers started later as well.
  virtual void SetCallTimeout(std::chrono::milliseconds limit) { (void)limit; }

  // Ends every server this factory started, at once; callable from any thread. Calls in flight
  // and later calls on their objects raise ConnectionLost; new objects may be created.
  virtual void Abort() {}

  // Ends every server this factory started, in order, and lets go of the factory's own state;
  // called once before the program ends. Later creations raise Error; objects still held raise
  // ConnectionLost and are let go without a word to the server or its library, whose own data
  // may already be gone when they are.
  virtual void Shutdown() {}
};

}  // namespace automation
