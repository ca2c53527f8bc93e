// The listening half of the loopback test servers that relay connections
// (the latency relay, the TLS front): a socket on 127.0.0.1 that hands each
// accepted connection to `serve` on a thread of its own, and counts them.
//
// stop() (and the destructor) stops accepting, shuts down the connections
// still open, so that their serve() returns, and waits for every thread. The
// socket a serve() was given is shut down and closed once it returns. An
// owner declares its listener last, so that it stops before anything its
// serve() uses is gone.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace qarvo::testing {

class LoopbackListener {
 public:
  using Serve = std::function<void(int client)>;

  // Listens at `port` (0: an ephemeral one); `noDelay` sets TCP_NODELAY on
  // every accepted connection.
  LoopbackListener(int port, Serve serve, bool noDelay = false);
  ~LoopbackListener() { stop(); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  void stop();

  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::size_t connectionCount() const { return connections_.load(); }
  // Raised by stop(): a serve() that waits should end.
  const std::atomic<bool>& stopping() const { return stopping_; }

 private:
  void acceptLoop();

  Serve serve_;
  bool noDelay_ = false;
  bool ready_ = false;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> connections_{0};
  std::mutex mutex_;
  std::set<int> open_;  // sockets of running connections, shut down on stop
  std::list<std::thread> workers_;
  std::thread acceptor_;
};

// Connects to "host:port" (a name or an address) with TCP_NODELAY set; -1
// when that fails.
int connectToHostPort(const std::string& hostPort);

}  // namespace qarvo::testing
