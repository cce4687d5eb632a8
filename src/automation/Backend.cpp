#include "automation/Backend.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace automation {

namespace {

constexpr const char* kModuleName = "libtabloom-uno.so";
constexpr const char* kEntryPoint = "tabloom_uno_create_factory";

class UnavailableFactory : public ObjectFactory {
 public:
  explicit UnavailableFactory(std::string reason) : reason_(std::move(reason)) {}
  ObjectRef CreateObject(std::string_view) override { throw Error(reason_); }

 private:
  std::string reason_;
};

std::string DefaultModulePath() {
  if (const char* path = std::getenv("TABLOOM_UNO_MODULE"); path && *path) return path;
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path exeDir = fs::read_symlink("/proc/self/exe", ec).parent_path();
  if (ec) return kModuleName;
  for (const fs::path& candidate :
       {exeDir / kModuleName, exeDir / ".." / "lib" / "tabloom" / kModuleName})
    if (fs::exists(candidate, ec)) return candidate.string();
  return (exeDir / kModuleName).string();
}

}  // namespace

std::unique_ptr<ObjectFactory> LoadBackendModule(const std::string& path) {
  // Never unloaded: office objects may live until the process ends.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = ::dlerror();
    return std::make_unique<UnavailableFactory>("The office backend cannot be loaded: " +
                                                std::string(why ? why : path));
  }
  using Entry = ObjectFactory* (*)();
  auto entry = reinterpret_cast<Entry>(::dlsym(module, kEntryPoint));
  if (!entry)
    return std::make_unique<UnavailableFactory>("The office backend has no entry point: " + path);
  return std::unique_ptr<ObjectFactory>(entry());
}

namespace {
std::atomic<ObjectFactory*> made{nullptr};
}  // namespace

ObjectFactory& SystemFactory() {
  static std::unique_ptr<ObjectFactory> factory = [] {
    auto loaded = LoadBackendModule(DefaultModulePath());
    made = loaded.get();
    return loaded;
  }();
  return *factory;
}

void ShutdownSystemFactory() {
  if (ObjectFactory* factory = made.load()) factory->Shutdown();
}

}  // namespace automation
