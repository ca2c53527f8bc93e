// Loopback HTTP servers for tests.
//
// TestServer is an HTTP/1.1 server on 127.0.0.1 (an ephemeral port) that
// records every request byte for byte and answers with whatever a test set up
// for the path: status, headers (Set-Cookie lines included), body bytes,
// redirects and a delay before answering. Paths with nothing set up get 404.
// Each connection carries one exchange ("Connection: close").
//
//   qarvo::testing::TestServer server;
//   server.reply("/page", {.headers = {{"Content-Type", "text/html; charset=utf-8"}},
//                          .body = "<p>hi</p>"});
//   fetch(server.url("/page"));
//   EXPECT_EQ(server.lastRequest().header("Referer"), ...);
//
// It is written over plain sockets rather than a server library because the
// checks need the request exactly as sent: header values untouched (no
// decoding), headers with empty values kept, and no headers of the server's
// own mixed in.
//
// RawServer is for faults that a well-behaved server never shows: it runs a
// script on each accepted connection over the bare socket (never answer, reset
// in the middle of the body, a body without end, exact response bytes).
//
// Both stop and join their threads in the destructor; every instance has its
// own port, so tests may run in parallel.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qarvo::testing {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server saw it.
struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string path;    // target without the query
  HeaderList headers;  // in the order received; values without the blanks around them
  std::string body;
  std::string raw;  // the head (request line to blank line) exactly as received

  // The first value of the header (name compared without letter case), "" when absent.
  std::string header(std::string_view name) const;
  bool hasHeader(std::string_view name) const;
  std::size_t headerCount(std::string_view name) const;
};

// Parses a request head followed by its body; false when it is not a request.
bool parseRequest(std::string_view bytes, RecordedRequest* request);

// An answer. Headers go out in the given order; repeat a name (Set-Cookie) to
// send several lines. Content-Length and "Connection: close" are added.
struct Reply {
  int status = 200;
  HeaderList headers = {};
  std::string body = {};
  int delayMs = 0;  // wait this long before answering
};

// The bare socket of one accepted connection, for RawServer scripts.
class RawConnection {
 public:
  RawConnection(int socket, const std::atomic<bool>* stopping,
                std::function<void(const std::string&)> record);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  // Reads one request head (to the blank line) and as many body bytes as its
  // Content-Length says, and records it. Empty when the peer closed first or
  // the server is stopping.
  std::string readRequest();
  // Sends all of `bytes`; false when the peer is gone or the server stops.
  bool send(std::string_view bytes);
  // Closes the connection with a TCP reset instead of an orderly close.
  void reset();
  // Waits until the peer closes or the server stops.
  void waitUntilClosed();
  // Sleeps, waking early when the server stops.
  void pause(int milliseconds);
  bool stopping() const { return stopping_->load(); }

 private:
  int socket_;
  const std::atomic<bool>* stopping_;
  std::function<void(const std::string&)> record_;
  std::string pending_;  // bytes read past the previous request
};

class RawServer {
 public:
  using Script = std::function<void(RawConnection&)>;

  explicit RawServer(Script script);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  int port() const { return port_; }
  // "127.0.0.1:<port>"
  std::string hostPort() const;
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(std::string_view path = "/") const;
  // The raw bytes of each request read by readRequest, in order.
  std::vector<std::string> requests() const;
  std::size_t connectionCount() const { return connections_.load(); }

  // Ready-made scripts.
  // Reads the request and never answers.
  static Script neverAnswer();
  // Reads the request, sends exactly `bytes` and closes.
  static Script answer(std::string bytes);
  // Sends a head announcing `declaredLength` body bytes, then `firstPart`, then a reset.
  static Script resetMidBody(std::size_t declaredLength, std::string firstPart);
  // Sends a 200 head without a length, then body bytes until the peer goes away.
  static Script endlessBody();

 private:
  void acceptLoop();

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const;
  std::string hostPort() const;
  std::string url(std::string_view path = "/") const;

  // Answers every request for exactly `path` (any method, any query) with `reply`.
  void reply(const std::string& path, Reply reply);
  // Answers with what `handler` returns for the request (called on a server thread).
  void handle(const std::string& path, std::function<Reply(const RecordedRequest&)> handler);
  // Answers with a redirect to `location`.
  void redirect(const std::string& path, const std::string& location, int status = 302);

  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  // The most recent request; an empty one when there was none.
  RecordedRequest lastRequest() const;
  void clearRequests();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
  std::unique_ptr<RawServer> server_;
};

// A port on 127.0.0.1 that nothing listens on (a connection is refused).
int unusedPort();

// Unsets the proxy variables of the environment, so that requests to loopback
// servers go straight there. Returns true (for use in a static initializer).
bool clearProxyEnvironment();

// Header names compare without regard to ASCII letter case.
bool sameHeaderName(std::string_view a, std::string_view b);
// A header value without the blanks and tabs around it.
std::string_view trimHeaderBlanks(std::string_view s);

// Seconds since `start`, for tests that check a time budget.
double secondsSince(std::chrono::steady_clock::time_point start);

// `data` compressed in the gzip format.
std::string gzipCompress(std::string_view data);

// `utf8` converted to another encoding ("UTF-16LE", "BIG5", "GBK", ...).
std::string encodeAs(std::string_view utf8, const char* encoding);

}  // namespace qarvo::testing
