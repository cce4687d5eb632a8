#include "automation/PrivateFolder.hpp"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace automation {

std::string MakePrivateFolder(const std::string& parent, const std::string& prefix) {
  const std::string pattern = parent + "/" + prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data()))
    throw std::runtime_error("Cannot write in the folder " + parent + ": " + std::strerror(errno));
  return name.data();
}

}  // namespace automation
