// Where automation objects come from in the running program: the LibreOffice backend module,
// loaded on first use. Without it (no office installed) every creation raises, so the office
// layer simply stays not connected.
#pragma once

#include <string>

#include "automation/Variant.hpp"

namespace automation {

// The process-wide factory. The module is looked for in TABLOOM_UNO_MODULE, then beside the
// executable, then in ../lib/tabloom relative to it.
ObjectFactory& SystemFactory();

// Shuts the process-wide factory down (ObjectFactory::Shutdown), if it was ever made: main
// calls it before it returns, so that the office ends and the module lets go of its UNO state
// while that still exists, not in whatever order static data happens to be destroyed.
void ShutdownSystemFactory();

// Loads a backend module. Never returns null: a module that cannot be loaded gives a factory
// whose every creation raises Error with the loader's reason.
std::unique_ptr<ObjectFactory> LoadBackendModule(const std::string& path);

}  // namespace automation
