#include "support/FaultFactory.hpp"

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "support/OfficeTesting.hpp"

namespace office_testing {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return out;
}

}  // namespace

class FaultFactory::Wrapper : public automation::Object {
 public:
  Wrapper(FaultFactory& owner, automation::ObjectRef inner)
      : owner_(owner), inner_(std::move(inner)) {}

  automation::Variant Call(std::string_view name, const automation::VariantArray& args) override {
    owner_.Count(name);
    return owner_.Wrap(inner_->Call(name, Unwrap(automation::Variant(args)).AsArray()));
  }
  automation::Variant Get(std::string_view name) override {
    owner_.Count(name);
    return owner_.Wrap(inner_->Get(name));
  }
  void Set(std::string_view name, const automation::Variant& value) override {
    owner_.Count(name);
    inner_->Set(name, Unwrap(value));
  }

  const automation::ObjectRef& inner() const { return inner_; }

 private:
  FaultFactory& owner_;
  automation::ObjectRef inner_;
};

void FaultFactory::At(std::string phase, int n, Fault fault, std::string member) {
  armedPhase_ = std::move(phase);
  n_ = n;
  fault_ = fault;
  member_ = Lower(member);
  seen_ = 0;
  fired_ = false;
}

void FaultFactory::EnterPhase(std::string phase) {
  phase_ = std::move(phase);
}

void FaultFactory::Count(std::string_view member) {
  if (n_ == 0 || fired_ || phase_ != armedPhase_ || (!member_.empty() && Lower(member) != member_))
    return;
  if (++seen_ < n_) return;
  fired_ = true;
  if (fault_ == Fault::Fail)
    throw automation::Refused("Injected failure of " + std::string(member) + " while " + phase_);
  if (officePid_ <= 0) throw std::logic_error("no office process of our own to stop or kill");
  if (fault_ == Fault::Freeze) {
    ::kill(officePid_, SIGSTOP);
    if (!WaitFor([&] { return ProcessState(officePid_) == 'T'; }, std::chrono::seconds(10)))
      throw std::logic_error("the office did not stop");
  } else {
    ::kill(officePid_, SIGKILL);
    if (!WaitFor([&] { return ProcessEnded(officePid_); }, std::chrono::seconds(10)))
      throw std::logic_error("the office outlived SIGKILL");
  }
  if (onFired_) onFired_();
}

void FaultFactory::Abort() {
  if (officePid_ > 0)
    ::kill(officePid_, SIGKILL);
  else
    inner_.Abort();
}

automation::ObjectRef FaultFactory::CreateObject(std::string_view progId) {
  const std::vector<pid_t> before = ChildOfficePids();
  automation::ObjectRef object = inner_.CreateObject(progId);
  officePid_ = 0;
  for (pid_t pid : ChildOfficePids())
    if (std::find(before.begin(), before.end(), pid) == before.end()) officePid_ = pid;
  return std::make_shared<Wrapper>(*this, std::move(object));
}

automation::Variant FaultFactory::Wrap(const automation::Variant& value) {
  if (value.IsObject())
    return automation::ObjectRef(std::make_shared<Wrapper>(*this, value.AsObject()));
  if (!value.IsArray()) return value;
  automation::VariantArray items;
  for (const auto& item : value.AsArray()) items.push_back(Wrap(item));
  return items;
}

automation::Variant FaultFactory::Unwrap(const automation::Variant& value) {
  if (value.IsObject()) {
    auto* w = dynamic_cast<Wrapper*>(value.AsObject().get());
    return w ? automation::Variant(w->inner()) : value;
  }
  if (!value.IsArray()) return value;
  automation::VariantArray items;
  for (const auto& item : value.AsArray()) items.push_back(Unwrap(item));
  return items;
}

}  // namespace office_testing
