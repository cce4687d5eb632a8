// One plain HTTP GET, the whole body as text, empty on any failure.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace update {

struct HttpOptions {
  int port = 80;
  std::chrono::milliseconds connectTimeout{15000};
  std::chrono::milliseconds transferTimeout{60000};
  const std::atomic<bool>* cancel = nullptr;  // set: the transfer stops soon (empty result)
};

// GET http://host:port/path with the user agent "Kelv Informer", the system's proxy
// settings, user "anonymous" without password (sent only when the server asks), and the
// no-cache headers. The status code is not examined; the body is read in full whatever the
// content length says. Empty when anything fails or the body is empty. Never raises.
std::string HttpGet(const std::string& host, const std::string& path,
                    const HttpOptions& options = {});

}  // namespace update
