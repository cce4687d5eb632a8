// Helpers shared by the store's own files; not for use outside src/store/.
#pragma once

#include <optional>
#include <string>

#include "office/uOpenOffice.hpp"

namespace store {

// The separator of a text file (.csv, .tsv, .txt), found in its head; none for other files.
std::optional<char> TextSeparator(const std::string& fileName);

// The office's import filter for delimited text with that separator, read as UTF-8.
office::ImportFilter TextFilter(char separator);

}  // namespace store
