// TLS in front of the loopback fakes, with an authority made at run time.
//
// TestAuthority: a certificate authority made once per process, and a
// certificate it signed for the services' real host names
// (whois.aizhan.com, whois.chinaz.com, tool.chinaz.com), localhost and
// 127.0.0.1. Its certificate is written to a PEM file, so that a client that
// trusts it (SSL_CERT_FILE, curl's CA file) checks the fakes' certificates
// as it would check the real ones.
//
// TlsFront: a listener on 127.0.0.1 that relays every connection to a plain
// HTTP server or proxy behind it (the fakes, the fault router), and speaks
// TLS where the client does:
//
//  - a connection that opens with a TLS handshake is answered with TLS (an
//    https URL straight to the front);
//  - "CONNECT host:port" is answered 200, then TLS (https through a proxy);
//  - anything else passes unchanged (plain HTTP, proxy requests).
//
// Decrypted requests go to the `secure` backend, plain ones to the `plain`
// backend (the same one unless told otherwise). Accepted connections are
// counted, so a test can tell whether a run's pages reused one.
//
//   FakeServices fakes;  fakes.start();
//   TlsFront front(fakes.hostPort());
//   setenv("SSL_CERT_FILE", TestAuthority::instance().caFile().c_str(), 1);
//   fetch("https://" + front.hostPort() + "/reverse-whois?...");
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include <thread>
#include "testing/loopback_listener.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace qarvo::testing {

class TestAuthority {
 public:
  // Made on first use; lives as long as the process.
  static const TestAuthority& instance();

  // False when the certificates or the PEM file could not be made.
  bool ready() const { return ready_; }
  // The PEM file of the authority's certificate (in a folder of its own
  // under the temporary folder).
  const std::string& caFile() const { return caFile_; }
  const std::string& caPem() const { return caPem_; }
  // Writes the authority's certificate to `path` as well. False on failure.
  bool writeCaFile(const std::string& path) const;
  // A server context with the signed certificate and its key.
  SSL_CTX* serverContext() const { return context_; }

 private:
  TestAuthority();
  bool ready_ = false;
  std::string caFile_;
  std::string caPem_;
  SSL_CTX* context_ = nullptr;
};

class TlsFront {
 public:
  // Listens on 127.0.0.1 at `port` (0: an ephemeral one) and relays to
  // `plainBackend` ("127.0.0.1:port"); decrypted traffic goes to
  // `secureBackend`, or to the plain one when that is empty.
  // With `speaksTls` false, a TLS handshake is answered "400 Bad Request" at
  // once, as a plain web server on the https port would.
  explicit TlsFront(std::string plainBackend, int port = 0, std::string secureBackend = {},
                    bool speaksTls = true);
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  bool ready() const { return listener_ && listener_->ready(); }
  int port() const { return listener_ ? listener_->port() : 0; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port()); }
  // Connections accepted, and those of them that went on in TLS.
  std::size_t connectionCount() const { return listener_ ? listener_->connectionCount() : 0; }
  std::size_t secureCount() const { return secure_.load(); }

 private:
  void serve(int client);
  int connectBackend(bool secure) const;

  std::string plainBackend_;
  std::string secureBackend_;
  bool speaksTls_ = true;
  std::atomic<std::size_t> secure_{0};
  std::optional<LoopbackListener> listener_;  // last: stops first
};

}  // namespace qarvo::testing
