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

#include <chrono>
#include <string>

#include "testing/loopback_listener.h"

namespace qarvo::testing {

class LatencyRelay {
 public:
  LatencyRelay(std::string backendHostPort, std::chrono::milliseconds roundTrip);

  bool ready() const { return listener_.ready(); }
  std::string hostPort() const { return listener_.hostPort(); }
  std::chrono::milliseconds roundTrip() const { return roundTrip_; }
  std::size_t connectionCount() const { return listener_.connectionCount(); }

 private:
  void serve(int client);

  std::string backend_;
  std::chrono::milliseconds roundTrip_;
  LoopbackListener listener_;  // last: stops first
};

}  // namespace qarvo::testing
