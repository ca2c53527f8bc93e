// A loopback HTTPS server for tests of certificate checks.
//
// TlsServer listens on 127.0.0.1 (an ephemeral port) and speaks TLS with a
// certificate it makes itself at start-up: self-signed, for the name
// "localhost" and the address 127.0.0.1, valid for a day. A client that checks
// certificates must refuse it; one that ignores certificate errors gets the
// Reply the test set up (any method, any path), for instance a redirect.
//
//   qarvo::testing::TlsServer server({.body = "secret"});
//   ASSERT_TRUE(server.ready());
//   fetch(server.url("/page"));           // refused by a checking client
//   EXPECT_EQ(server.requestCount(), 0u);
//
// Connections are served one after the other on the server's own thread; the
// destructor stops and joins it.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "testing/test_server.h"

namespace qarvo::testing {

class TlsServer {
 public:
  explicit TlsServer(Reply reply);
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  // False when the certificate could not be made or the port not opened.
  bool ready() const { return ready_; }
  int port() const { return port_; }
  // "https://127.0.0.1:<port>" followed by `path`.
  std::string url(std::string_view path = "/") const;
  // Connections that reached the server, and requests read after a
  // handshake that the client accepted.
  std::size_t connectionCount() const { return connections_.load(); }
  std::size_t requestCount() const { return requests_.load(); }
  // The server's certificate in PEM: a bundle that trusts it.
  const std::string& certificatePem() const { return certificatePem_; }

 private:
  struct Tls;
  void serve();
  void answer(int socket);

  Reply reply_;
  std::unique_ptr<Tls> tls_;
  std::string certificatePem_;
  bool ready_ = false;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> connections_{0};
  std::atomic<std::size_t> requests_{0};
  std::thread thread_;
};

}  // namespace qarvo::testing
