// File URLs as the office expects them.
#pragma once

#include <string>

namespace automation {

// "file://" + an absolute, "/"-separated path ("/home/a b" or "/C:/x"), percent-encoding
// every byte a URL path cannot hold as it is (blank, "%", "#", "?", bytes outside ASCII...).
std::string FileUrl(const std::string& absolutePath);

}  // namespace automation
