// Wraps another factory's objects and records every call that passes through, so a test can
// see exactly what reached the real office.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/Variant.hpp"

namespace office_testing {

struct RecordedCall {
  std::string member;
  automation::VariantArray args;  // as the caller passed them (objects unwrapped)
};

class RecordingFactory : public automation::ObjectFactory {
 public:
  explicit RecordingFactory(automation::ObjectFactory& inner) : inner_(inner) {}

  automation::ObjectRef CreateObject(std::string_view progId) override {
    return Wrap(inner_.CreateObject(progId));
  }

  std::vector<RecordedCall> calls;

  std::size_t Count(const std::string& member) const {
    std::size_t n = 0;
    for (const auto& c : calls) n += c.member == member;
    return n;
  }

 private:
  class Recorder : public automation::Object {
   public:
    Recorder(RecordingFactory& owner, automation::ObjectRef inner)
        : owner_(owner), inner_(std::move(inner)) {}

    automation::Variant Call(std::string_view name, const automation::VariantArray& args) override {
      auto plain = Unwrap(automation::Variant(args)).AsArray();
      owner_.calls.push_back({std::string(name), plain});
      return owner_.WrapValue(inner_->Call(name, plain));
    }
    automation::Variant Get(std::string_view name) override {
      owner_.calls.push_back({std::string(name), {}});
      return owner_.WrapValue(inner_->Get(name));
    }
    void Set(std::string_view name, const automation::Variant& value) override {
      auto plain = Unwrap(value);
      owner_.calls.push_back({std::string(name), {plain}});
      inner_->Set(name, plain);
    }

    static automation::Variant Unwrap(const automation::Variant& v) {
      if (v.IsObject()) {
        auto* r = dynamic_cast<Recorder*>(v.AsObject().get());
        return r ? automation::Variant(r->inner_) : v;
      }
      if (!v.IsArray()) return v;
      automation::VariantArray items;
      for (const auto& item : v.AsArray()) items.push_back(Unwrap(item));
      return items;
    }

   private:
    RecordingFactory& owner_;
    automation::ObjectRef inner_;
  };

  automation::ObjectRef Wrap(automation::ObjectRef inner) {
    return std::make_shared<Recorder>(*this, std::move(inner));
  }

  automation::Variant WrapValue(const automation::Variant& v) {
    if (v.IsObject()) return Wrap(v.AsObject());
    if (!v.IsArray()) return v;
    automation::VariantArray items;
    for (const auto& item : v.AsArray()) items.push_back(WrapValue(item));
    return items;
  }

  automation::ObjectFactory& inner_;
};

}  // namespace office_testing
