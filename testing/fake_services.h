// Fake 爱站 and 站长 reverse-WHOIS services, and the 站长 tool site, on loopback.
//
// The fakes answer with result pages in the markup the look-up engine reads
// (爱站: a table in div.reverse-content with a pager ending in
// "ico-pager-end"; 站长: div#ajaxInfo entries with a "domain" class and the
// pager text "共N页，到第"), in UTF-8 or GBK as the real sites send them. What
// each address yields is set up per address: its domains, how many per page,
// the page total the pager announces, and what chosen pages answer first
// instead of the page (an empty body, the rate-limit page, a verification
// wall, 403, 404), as a busy service does. 站长 pages beyond 10 are answered
// only with the sign-in cookie that the tool site hands out. A whole site can
// be put behind a verification wall that a visit to "/verify" clears, and the
// result block can be renamed or its columns shifted (a changed layout).
// Every request is recorded.
//
//   qarvo::testing::FakeServices fakes;
//   fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"x.com", "y.com"}});
//   fakes.start();
//   LookupEngine engine(view, fakes.endpoints());
//
// start() serves all three sites on one port of 127.0.0.1 and tells them
// apart by path ("/reverse-whois", "/reverse", anything else is the tool
// site; see siteOfPath() for "/verify"). A proxy in front of the real host
// names calls handle(), which routes by the Host header instead. Thread-safe:
// the server answers on its own threads while a test reads the records.
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
  // page -> how many times that page first answers with the verification
  // wall (status 200, neither results nor the no-data text)
  std::map<int, int> wallAnswers = {};
  // page -> how many times that page first answers 403 with nginx's page
  std::map<int, int> forbiddenAnswers = {};
  // page -> how many times that page first answers 404 with nginx's page
  std::map<int, int> notFoundAnswers = {};
  int delayMs = 0;  // every result page of the address answers this much later
  // A changed layout: 爱站 rows get an extra first column, so the second cell
  // holds the row number; 站长's "domain" div holds the registrar.
  bool shiftedColumn = false;
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
  static constexpr std::string_view kWallTitle = "安全验证";
  static constexpr std::string_view kWallText = "请完成安全验证后继续访问";
  // Where the wall sends the visitor, on the walled site's own host.
  static constexpr std::string_view kVerifyPath = "/verify";
  static constexpr std::string_view kVerifiedText = "验证通过";
  // The cookie "/verify" sets, as "name=value"; it lets a request past the wall.
  static constexpr std::string_view kVerifiedCookie = "fake_verified=yes";
  // The registrar every result row names (and a shifted layout puts in the
  // domain's place).
  static constexpr std::string_view kRegistrarName = "Example Registrar, Inc.";
  // The result block: 爱站's div class and 站长's div id, unless renamed.
  static constexpr std::string_view kAizhanResultBlock = "reverse-content";
  static constexpr std::string_view kChinazResultBlock = "ajaxInfo";

  FakeServices();
  ~FakeServices();
  FakeServices(const FakeServices&) = delete;
  FakeServices& operator=(const FakeServices&) = delete;

  // Sets up what `site` answers for the address (UTF-8). An address that was
  // not set up gets the "no data" page.
  void setAddress(FakeSite site, const std::string& address, FakeAddress answer);

  // Every result page of either service answers `ms` later (a slow service).
  void setAnswerDelay(int ms) { answerDelayMs_.store(ms); }

  // While `on`, every result page of `site` (爱站 or 站长) answers with the
  // verification wall, in the address's charset, unless the request's Cookie
  // carries kVerifiedCookie. Per-address answers wait behind the wall.
  void setWall(FakeSite site, bool on);
  // The result block of `site` (爱站's class, 站长's id) is called `name`.
  void setResultBlockName(FakeSite site, std::string name);

  // The pages, in UTF-8, for a fault that stands in front of the fakes.
  // The rate-limit page of 爱站 or 站长.
  static std::string rateLimitPage(FakeSite site);
  // The verification wall; its link goes to kVerifyPath on the same host.
  static std::string wallPage();

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
  // Which site a request straight to start()'s port is for, by its path:
  // "/reverse-whois" 爱站, "/reverse" 站长, anything else the tool site. All
  // sites share that host, so "/verify" is 爱站's unless the query holds
  // "site=chinaz"; its cookie then lets requests past both walls.
  static FakeSite siteOfPath(std::string_view path, std::string_view query);

  std::vector<ServiceRequest> requests() const;
  std::vector<ServiceRequest> requests(FakeSite site) const;
  void clearRequests();

 private:
  // What a result page answers in place of the page.
  enum class Special { kPage, kEmpty, kRateLimit, kWall, kForbidden, kNotFound };
  struct Plan {
    FakeAddress answer;
    std::map<int, int> rateLimitsLeft;
    std::map<int, int> emptiesLeft;
    std::map<int, int> wallsLeft;
    std::map<int, int> forbiddenLeft;
    std::map<int, int> notFoundLeft;
  };
  // What serveAizhan and serveChinaz need to know under the lock.
  struct PageAnswer {
    FakeAddress answer;
    bool known = false;
    Special special = Special::kPage;
    std::string blockName;
  };

  void serve(FakeSite site, const httplib::Request& request, httplib::Response& response);
  void serveAizhan(const httplib::Request& request, httplib::Response& response);
  void serveChinaz(const httplib::Request& request, httplib::Response& response);
  void serveToolSite(const httplib::Request& request, httplib::Response& response);
  // Looks up the address's plan for `page` and takes one pending special
  // answer from it; a walled site without the cookie answers the wall.
  PageAnswer pageAnswer(FakeSite site, const httplib::Request& request, const std::string& address,
                        int page);
  // Sends the special answer; false for Special::kPage.
  bool sendSpecial(FakeSite site, const PageAnswer& page, httplib::Response& response);
  static void serveVerify(httplib::Response& response);

  mutable std::mutex mutex_;
  std::map<std::pair<FakeSite, std::string>, Plan> plans_;
  std::vector<ServiceRequest> requests_;
  std::map<FakeSite, bool> walls_;
  std::map<FakeSite, std::string> blockNames_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> listenerDone_{false};
  std::atomic<int> answerDelayMs_{0};
  int port_ = 0;
};

}  // namespace qarvo::testing
