// Where automation objects come from in the running program: the LibreOffice backend module,
// loaded on first use. Without it (no office installed) every creation raises, so the office
// layer simply stays not connected.
#pragma once

#include <string>

#include "automation/Variant.hpp"

namespace automation {

// Office objects must be released before main returns: UNO's own static data is destroyed
// at exit, and an office object released after that crashes. (Should one be left, the office
// process is still killed when the module unloads.)
//
// The process-wide factory. The module is looked for in TABLOOM_UNO_MODULE, then beside the
// executable, then in ../lib/tabloom relative to it.
ObjectFactory& SystemFactory();

// Loads a backend module. Never returns null: a module that cannot be loaded gives a factory
// whose every creation raises Error with the loader's reason.
std::unique_ptr<ObjectFactory> LoadBackendModule(const std::string& path);

}  // namespace automation
