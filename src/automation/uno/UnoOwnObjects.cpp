// What we hand the office beside its own objects: a status indicator of ours, and structs made
// here; the service manager's names of our own make them.
#include <com/sun/star/task/XStatusIndicator.hpp>
#include <cppuhelper/implbase1.hxx>

#include <cstdint>

#include "automation/uno/UnoObject.hpp"

namespace tabloom_uno {

using automation::Variant;
using automation::VariantArray;

namespace {

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

}  // namespace

Variant ServiceManagerObject::Call(std::string_view name, const VariantArray& args) {
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
      return Variant(
          MakeObject<UnoObject>(connection(), connection()->local().NewStruct(args[0].AsString())));
    });
  }
  return UnoObject::Call(name, args);
}

}  // namespace tabloom_uno
