// LatencyRelay: a TCP relay that puts a round trip between a client and a
// server on loopback, as a service far away would.
//
// A new connection waits one round trip before anything passes (the TCP
// handshake a client pays); after that each chunk is delivered half a round
// trip after it arrived, in each direction, so a request and its answer cost
// one round trip and a TLS handshake costs its own. Accepted connections are
// counted, so a measurement can say how many a run opened.
//
//   FakeServices fakes;  fakes.start();
//   LatencyRelay relay(fakes.hostPort(), std::chrono::milliseconds(100));
//   ... point the client at relay.hostPort() ...
#pragma once

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace qarvo::testing {

class LatencyRelay {
 public:
  LatencyRelay(std::string backendHostPort, std::chrono::milliseconds roundTrip);
  ~LatencyRelay();
  LatencyRelay(const LatencyRelay&) = delete;
  LatencyRelay& operator=(const LatencyRelay&) = delete;

  bool ready() const { return ready_; }
  std::string hostPort() const;
  std::chrono::milliseconds roundTrip() const { return roundTrip_; }
  std::size_t connectionCount() const { return connections_.load(); }

 private:
  void acceptLoop();
  void serve(int client);

  std::string backend_;
  std::chrono::milliseconds roundTrip_;
  bool ready_ = false;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> connections_{0};
  std::mutex mutex_;
  std::set<int> open_;
  std::list<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace qarvo::testing
