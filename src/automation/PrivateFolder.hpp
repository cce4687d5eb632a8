// A new folder of our own, for files nobody else is to see or touch while we write them.
#pragma once

#include <string>

namespace automation {

// Makes `parent`/`prefix`XXXXXX (mode 0700, XXXXXX unique) and returns its name; raises
// std::runtime_error, saying why, when it cannot be made.
std::string MakePrivateFolder(const std::string& parent, const std::string& prefix);

}  // namespace automation
