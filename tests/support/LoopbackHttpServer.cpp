#include "support/LoopbackHttpServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testing_http {

namespace {

int Listen(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 8) != 0)
    throw std::runtime_error("cannot listen on loopback");
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(std::string response) : response_(std::move(response)) {
  listen_ = Listen(port_);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stop_ = true;
  thread_.join();
  ::close(listen_);
  for (int fd : open_) ::close(fd);
}

int LoopbackHttpServer::RefusedPort() {
  int port = 0;
  ::close(Listen(port));  // free now: nobody listens there
  return port;
}

std::string LoopbackHttpServer::Response(const std::string& status, const std::string& headers,
                                         const std::string& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

std::vector<std::string> LoopbackHttpServer::Requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::Serve() {
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
      pollfd c{client, POLLIN, 0};
      if (::poll(&c, 1, 20) <= 0) continue;
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    if (response_.empty()) {  // stall: keep the connection open, never answer
      open_.push_back(client);
      continue;
    }
    ::send(client, response_.data(), response_.size(), MSG_NOSIGNAL);
    ::shutdown(client, SHUT_WR);
    ::close(client);
  }
}

}  // namespace testing_http
