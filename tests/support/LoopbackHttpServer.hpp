// A tiny HTTP server on 127.0.0.1 for tests: answers each request with a canned response (or
// never answers), and keeps the requests it saw. Stops by itself when destroyed.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_http {

class LoopbackHttpServer {
 public:
  // An empty response means: read the request, then never answer.
  explicit LoopbackHttpServer(std::string response);
  ~LoopbackHttpServer();

  int port() const { return port_; }
  std::vector<std::string> Requests();
  static std::string Response(const std::string& status, const std::string& headers,
                              const std::string& body);
  // A port on 127.0.0.1 that refuses connections.
  static int RefusedPort();

 private:
  void Serve();

  std::string response_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<int> open_;
  std::thread thread_;
};

}  // namespace testing_http
