// Reading the update answer: an XML document whose root has a child "version" with the
// attribute "val".
#pragma once

#include <optional>
#include <string>

namespace update {

// The span from the first "<" to the last ">", both included; empty without such a span.
std::string ExtractMarkup(const std::string& answer);

// The version the answer names, or nothing for a malformed answer, no "version" child of the
// document element, or no "val".
std::optional<std::string> AnsweredVersion(const std::string& answer);

// Whether to offer the download: the answer names a version that differs, in any way, from
// the program's own.
bool OfferUpdate(const std::string& answer, const std::string& programVersion);

}  // namespace update
