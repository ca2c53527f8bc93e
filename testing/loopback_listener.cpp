#include "testing/loopback_listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qarvo::testing {

namespace {

// How often the accepting thread looks whether it should stop.
constexpr int kSliceMs = 10;

void setNoDelay(int socket) {
  const int yes = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

}  // namespace

LoopbackListener::LoopbackListener(int port, Serve serve, bool noDelay)
    : serve_(std::move(serve)), noDelay_(noDelay) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0) {
    return;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  ready_ = true;
  acceptor_ = std::thread([this] { acceptLoop(); });
}

void LoopbackListener::stop() {
  stopping_ = true;
  if (acceptor_.joinable())
    acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int socket : open_)
      ::shutdown(socket, SHUT_RDWR);
  }
  for (std::thread& worker : workers_)
    if (worker.joinable())
      worker.join();
  if (listener_ >= 0)
    ::close(listener_);
  listener_ = -1;
}

void LoopbackListener::acceptLoop() {
  while (!stopping_.load()) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, kSliceMs) <= 0)
      continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
      continue;
    ++connections_;
    if (noDelay_)
      setNoDelay(client);
    std::lock_guard<std::mutex> lock(mutex_);
    open_.insert(client);
    workers_.emplace_back([this, client] {
      serve_(client);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        open_.erase(client);
      }
      ::shutdown(client, SHUT_RDWR);
      ::close(client);
    });
  }
}

int connectToHostPort(const std::string& hostPort) {
  const std::size_t colon = hostPort.rfind(':');
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (colon == std::string::npos ||
      ::getaddrinfo(hostPort.substr(0, colon).c_str(), hostPort.substr(colon + 1).c_str(), &hints,
                    &found) != 0) {
    return -1;
  }
  int socket = -1;
  for (addrinfo* at = found; at != nullptr && socket < 0; at = at->ai_next) {
    socket = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    if (socket >= 0 && ::connect(socket, at->ai_addr, at->ai_addrlen) != 0) {
      ::close(socket);
      socket = -1;
    }
  }
  ::freeaddrinfo(found);
  if (socket >= 0)
    setNoDelay(socket);
  return socket;
}

}  // namespace qarvo::testing
