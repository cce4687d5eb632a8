#include "automation/FileUrl.hpp"

#include <cctype>
#include <cstring>

namespace automation {

std::string FileUrl(const std::string& absolutePath) {
  static const char* hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (const unsigned char c : absolutePath) {
    if (std::isalnum(c) || std::strchr("/-._~:!$&'()*+,;=@", c)) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

}  // namespace automation
