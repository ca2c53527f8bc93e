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
// arrived.
//
// Chaos mode stands for a service under load: a seeded random share of the
// result-page requests that no route caught get a fault (a cut, a reset, the
// service's rate-limit page, a verification wall, a reset in mid-body). The
// draws come from one generator in the order the router reads the requests,
// so a seed and an order of requests give the same faults every time.
//
// Thread-safe; every instance has its own port. Proxy requests ("GET
// http://host/path") are relayed as they came, so the router may also stand
// in front of an HTTP proxy of the fakes. The port is a TlsFront's: https
// straight to it or through CONNECT reaches the router decrypted.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/service_endpoints.h"
#include "testing/test_server.h"
#include "testing/tls_front.h"

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

// What chaos mode did with one result-page request.
enum class ChaosFault {
  kNone,          // relayed
  kCut,           // the request read, the connection closed without a byte
  kRefuse,        // a TCP reset in place of any answer (the request is read
                  // first, to fit the fault to its service)
  kThrottle,      // the service's own rate-limit page, status 200
  kWall,          // the verification wall, status 200
  kResetMidBody,  // the page's head and part of its body, then a reset
};

struct ChaosOptions {
  unsigned seed = 0;
  double share = 0.25;  // of the result-page requests that get a fault; 0: none
  // The faults that may be drawn. A faulted request gets one of those that
  // apply to its service, chosen evenly.
  bool cut = true;
  bool refuse = true;
  bool throttle = true;         // on 爱站 requests
  bool chinazThrottle = false;  // on 站长 requests; 站长's throttle stops a whole run
  bool wall = true;
  bool resetMidBody = true;
};

// How many result-page requests chaos mode saw, and the faults it served.
struct ChaosCounts {
  std::size_t requests = 0;
  std::size_t cut = 0;
  std::size_t refuse = 0;
  std::size_t throttle = 0;
  std::size_t wall = 0;
  std::size_t resetMidBody = 0;

  // All faults served.
  std::size_t faults() const { return cut + refuse + throttle + wall + resetMidBody; }
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
  std::string hostPort() const {
    return front_->ready() ? front_->hostPort() : server_->hostPort();
  }
  std::string url(std::string_view path = "/") const { return server_->url(path); }
  // All three sites at the router.
  ServiceEndpoints endpoints() const;
  // The requests that reached a fault, in the order they arrived.
  std::vector<Hit> hits() const;
  // All requests the router read, relayed ones included.
  std::size_t requestCount() const;

  // Turns chaos mode on for result pages ("/reverse-whois" and "/reverse",
  // proxy requests for them included); routes still come first. Seeds the
  // generator and starts counts and log afresh.
  void setChaos(ChaosOptions options);
  ChaosCounts chaosCounts() const;
  // What chaos mode drew for each result-page request, in the order read.
  std::vector<ChaosFault> chaosLog() const;

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
  // Draws the fault for a result-page request of 爱站 (or 站长); under mutex_.
  ChaosFault drawChaos(bool chinaz);

  std::string upstream_;
  mutable std::mutex mutex_;
  std::vector<Route> routes_;
  std::vector<Hit> hits_;
  std::size_t requestCount_ = 0;
  bool chaosOn_ = false;
  ChaosOptions chaos_;
  std::mt19937 random_;
  ChaosCounts chaosCounts_;
  std::vector<ChaosFault> chaosLog_;
  std::unique_ptr<RawServer> server_;  // its threads stop before the rest goes
  std::unique_ptr<TlsFront> front_;    // in front of server_: stops first
};

// Parses a whole HTTP response (head and body as received up to the close).
// False when it is not a response. A body longer than its Content-Length is cut.
bool parseResponse(std::string_view bytes, HttpAnswer* answer);

}  // namespace qarvo::testing
