// Fake 爱站 and 站长 reverse-WHOIS services, and the 站长 tool site, on loopback.
//
// The fakes answer with result pages in the markup the look-up engine reads
// (爱站: a table in div.reverse-content with a pager ending in
// "ico-pager-end"; 站长: div#ajaxInfo entries with a "domain" class and the
// pager text "共N页，到第"), in UTF-8 or GBK as the real sites send them. What
// each address yields is set up per address: its domains, how many per page,
// the page total the pager announces, rate-limit answers and empty answers on
// chosen pages. 站长 pages beyond 10 are answered only with the sign-in
// cookie that the tool site hands out. Every request is recorded.
//
//   qarvo::testing::FakeServices fakes;
//   fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"x.com", "y.com"}});
//   fakes.start();
//   LookupEngine engine(view, fakes.endpoints());
//
// start() serves all three sites on one port of 127.0.0.1 and tells them
// apart by path ("/reverse-whois", "/reverse", anything else is the tool
// site). A proxy in front of the real host names calls handle(), which routes
// by the Host header instead. Thread-safe: the server answers on its own
// threads while a test reads the records.
#pragma once

#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "engine/service_endpoints.h"

namespace qarvo::testing {

enum class FakeSite { kAizhan, kChinaz, kChinazTool };

// How a service answers for one address. All texts are UTF-8.
struct FakeAddress {
  std::vector<std::string> domains = {};  // in page order
  int perPage = 20;
  int announcedPages = 0;  // the pager's total; 0: as many as the domains fill
  bool gbkPages = false;   // send the pages in GBK (else UTF-8)
  // page -> how many times that page first answers with the rate-limit page
  std::map<int, int> rateLimitedAnswers = {};
  // page -> how many times that page first answers with an empty body
  std::map<int, int> emptyAnswers = {};
  int delayMs = 0;  // every result page of the address answers this much later
};

// One request as a fake received it.
struct ServiceRequest {
  FakeSite site = FakeSite::kAizhan;
  std::string method;
  std::string path;
  std::string query;   // raw, as sent (percent-encoding kept)
  std::string target;  // path + "?" + query (or the path alone)
  std::vector<std::pair<std::string, std::string>> headers;
  std::multimap<std::string, std::string> params;  // decoded query parameters

  // The first value of a header (name without regard to case), "" when absent.
  std::string header(std::string_view name) const;
  // The first value of a query parameter, "" when absent.
  std::string param(const std::string& name) const;
  // The requested result page: "page" as a number, 1 when absent or empty.
  int page() const;
};

class FakeServices {
 public:
  // The real host names, for handle() behind a proxy.
  static constexpr std::string_view kAizhanHost = "whois.aizhan.com";
  static constexpr std::string_view kChinazHost = "whois.chinaz.com";
  static constexpr std::string_view kChinazToolHost = "tool.chinaz.com";
  // The cookie the tool site sets on sign-in, as "name=value".
  static constexpr std::string_view kSignInCookie = "chinaz_auth=signed-in";
  // Markers of the special pages.
  static constexpr std::string_view kAizhanRateLimitText = "您的查询太频繁了";
  static constexpr std::string_view kChinazRateLimitText = "查询过于频繁";
  static constexpr std::string_view kNoDataText = "未找到相关数据";

  FakeServices();
  ~FakeServices();
  FakeServices(const FakeServices&) = delete;
  FakeServices& operator=(const FakeServices&) = delete;

  // Sets up what `site` answers for the address (UTF-8). An address that was
  // not set up gets the "no data" page.
  void setAddress(FakeSite site, const std::string& address, FakeAddress answer);

  // Every result page of either service answers `ms` later (a slow service).
  void setAnswerDelay(int ms) { answerDelayMs_.store(ms); }

  // Starts serving on 127.0.0.1 at `port` (0: an ephemeral port). False when
  // the port cannot be bound or the fakes already run.
  bool start(int port = 0);
  // Stops serving; also done by the destructor.
  void stop();
  int port() const { return port_; }
  std::string hostPort() const;
  // All three sites at hostPort(); the maker page stays the default.
  ServiceEndpoints endpoints() const;

  // Answers `request` for the site its Host header names (a real host name,
  // port ignored). False, leaving `response` alone, for any other host.
  bool handle(const httplib::Request& request, httplib::Response& response);
  // A proxy request ("GET http://host[:port]/path?query"): turns `request`
  // into what the site itself would have seen (target, path, Host). False,
  // leaving it alone, for a request that is no proxy request.
  static bool unwrapProxyRequest(httplib::Request* request);
  // Which site serves `host` (port ignored), if any.
  static std::optional<FakeSite> siteOfHost(std::string_view host);

  std::vector<ServiceRequest> requests() const;
  std::vector<ServiceRequest> requests(FakeSite site) const;
  void clearRequests();

 private:
  struct Plan {
    FakeAddress answer;
    std::map<int, int> rateLimitsLeft;
    std::map<int, int> emptiesLeft;
  };

  void serve(FakeSite site, const httplib::Request& request, httplib::Response& response);
  void serveAizhan(const httplib::Request& request, httplib::Response& response);
  void serveChinaz(const httplib::Request& request, httplib::Response& response);
  void serveToolSite(const httplib::Request& request, httplib::Response& response);
  // Takes one pending special answer of the address's page; returns what to
  // send instead of the page: 0 the page, 1 an empty body, 2 the rate-limit page.
  int specialAnswer(int page, Plan* plan);

  mutable std::mutex mutex_;
  std::map<std::pair<FakeSite, std::string>, Plan> plans_;
  std::vector<ServiceRequest> requests_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> listenerDone_{false};
  std::atomic<int> answerDelayMs_{0};
  int port_ = 0;
};

}  // namespace qarvo::testing
