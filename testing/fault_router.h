// FaultRouter: a loopback server in front of the fake services that answers
// chosen requests with a fault and hands every other request on to the fakes.
//
// The look-up engine speaks to one host per service, so a run in which one
// address's service misbehaves while the others are served normally needs a
// server that tells requests apart by their target. Requests whose target
// contains a routed text (an encoded address, say) go to that route's fault;
// the rest are relayed to the upstream server unchanged.
//
//   qarvo::testing::FakeServices fakes;
//   fakes.start();
//   qarvo::testing::FaultRouter router(fakes.hostPort());
//   router.route("bad%40x.com", FaultRouter::neverAnswer());
//   LookupEngine engine(view, router.endpoints());
//
// A fault gets the exchange: the request as read, the bare connection, and a
// way to fetch the fakes' own answer (so that a fault may be the real page,
// altered). Every request that reached a fault is recorded with the time it
// arrived. Thread-safe; every instance has its own port.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/service_endpoints.h"
#include "testing/test_server.h"

namespace qarvo::testing {

// An HTTP answer as it travels between the router, the fakes and the client.
struct HttpAnswer {
  int status = 0;  // 0: no answer came
  std::string reason = "OK";
  HeaderList headers = {};  // without Content-Length, Connection and Transfer-Encoding
  std::string body = {};

  // The first value of the header (name compared without letter case), "" when absent.
  std::string header(std::string_view name) const;
  void setHeader(const std::string& name, const std::string& value);
};

class FaultRouter {
 public:
  // One request at the router.
  class Exchange {
   public:
    Exchange(RawConnection& connection, RecordedRequest request, std::string raw,
             std::string upstream);
    const RecordedRequest& request() const { return request_; }
    RawConnection& connection() { return connection_; }
    // The upstream server's answer to this request.
    HttpAnswer fetchUpstream() const;
    // Sends `answer` with a Content-Length and "Connection: close".
    bool send(const HttpAnswer& answer);
    // Hands the request on and its answer back untouched.
    void relay() { send(fetchUpstream()); }

   private:
    RawConnection& connection_;
    RecordedRequest request_;
    std::string raw_;
    std::string upstream_;
  };
  using Fault = std::function<void(Exchange&)>;

  struct Hit {
    std::string target;
    std::chrono::steady_clock::time_point at;
  };

  // `upstreamHostPort` is "127.0.0.1:<port>" of the server to relay to.
  explicit FaultRouter(std::string upstreamHostPort);
  ~FaultRouter();
  FaultRouter(const FaultRouter&) = delete;
  FaultRouter& operator=(const FaultRouter&) = delete;

  // Requests whose target contains `needle` get `fault`. The route set up
  // first wins when several match.
  void route(std::string needle, Fault fault);

  int port() const { return server_->port(); }
  std::string hostPort() const { return server_->hostPort(); }
  std::string url(std::string_view path = "/") const { return server_->url(path); }
  // All three sites at the router.
  ServiceEndpoints endpoints() const;
  // The requests that reached a fault, in the order they arrived.
  std::vector<Hit> hits() const;
  // All requests the router read, relayed ones included.
  std::size_t requestCount() const;

  // Ready-made faults.
  // Reads the request and never answers.
  static Fault neverAnswer();
  // Sends exactly `bytes` and closes.
  static Fault rawAnswer(std::string bytes);
  // Sends `answer` (Content-Length and "Connection: close" added).
  static Fault answer(HttpAnswer answer);
  // A head announcing `declaredLength` body bytes, `firstPart` of them, then a TCP reset.
  static Fault resetMidBody(std::size_t declaredLength, std::string firstPart);
  // A 200 head without a length, then body bytes until the peer goes away.
  static Fault endlessBody();
  // The fakes' answer, passed through `change` first.
  static Fault altered(std::function<void(HttpAnswer&)> change);
  // A redirect to `location`.
  static Fault redirect(std::string location, int status = 302);
  // `fault` for the first `times` matching requests, then the plain relay.
  static Fault firstTimes(int times, Fault fault);

 private:
  struct Route {
    std::string needle;
    Fault fault;
  };
  void serve(RawConnection& connection);

  std::string upstream_;
  mutable std::mutex mutex_;
  std::vector<Route> routes_;
  std::vector<Hit> hits_;
  std::size_t requestCount_ = 0;
  std::unique_ptr<RawServer> server_;  // last: its threads stop before the rest goes
};

// Parses a whole HTTP response (head and body as received up to the close).
// False when it is not a response. A body longer than its Content-Length is cut.
bool parseResponse(std::string_view bytes, HttpAnswer* answer);

}  // namespace qarvo::testing
