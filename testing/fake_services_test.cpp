#include "testing/fake_services.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "testing/fault_router.h"

namespace qarvo::testing {
namespace {

// Page `page` of `site` for a@b.com, straight to the fakes' port.
std::string resultTarget(FakeSite site, int page) {
  const std::string tail = "a%40b.com&page=" + std::to_string(page);
  return site == FakeSite::kAizhan ? "/reverse-whois?t=email&q=" + tail : "/reverse?host=" + tail;
}

// The texts a page holds, in the page's charset.
std::string inCharset(std::string_view utf8, bool gbk) {
  return gbk ? std::string(utf8ToGbk(utf8)) : std::string(utf8);
}

// What the reader finds where the first row's domain belongs: 爱站's second
// cell, 站长's "Domain" div.
std::string domainSlot(FakeSite site, const std::string& html) {
  size_t at = 0;
  if (site == FakeSite::kAizhan) {
    at = html.find("<tr class=\"row\">");
    for (int cell = 0; cell < 2 && at != std::string::npos; ++cell)
      at = html.find("<td>", at + 1);
    at = at == std::string::npos ? at : at + 4;
  } else {
    at = html.find("Domain\">");
    at = at == std::string::npos ? at : at + 8;
  }
  if (at == std::string::npos)
    return "<none>";
  return html.substr(at, html.find(site == FakeSite::kAizhan ? "</td>" : "</div>", at) - at);
}

class FakeServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    client = std::make_unique<httplib::Client>("127.0.0.1", fakes.port());
  }

  std::string get(const std::string& target, const httplib::Headers& headers = {}) {
    auto result = client->Get(target.c_str(), headers);
    return result ? result->body : "<no answer>";
  }

  FakeServices fakes;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(FakeServicesTest, ServesPagesByPathAndRecordsRequests) {
  fakes.setAddress(FakeSite::kAizhan, "a@b.com",
                   {.domains = {"x.com", "y.com", "z.com"}, .perPage = 2});
  const std::string page1 = get("/reverse-whois?q=a%40b.com&t=email", {{"X-Test", "1"}});
  EXPECT_NE(page1.find("reverse-content"), std::string::npos);
  EXPECT_NE(page1.find("y.com"), std::string::npos);
  EXPECT_EQ(page1.find("z.com"), std::string::npos);
  EXPECT_NE(page1.find("&page=2\" title=\"尾页\"><i class=\"ico-pager-end\">"), std::string::npos);
  const std::string page2 = get("/reverse-whois?q=a%40b.com&t=email&page=2");
  EXPECT_NE(page2.find("z.com"), std::string::npos);
  EXPECT_NE(get("/reverse-whois?q=a%40b.com&t=email&page=3").find("未找到相关数据"),
            std::string::npos);

  const auto requests = fakes.requests(FakeSite::kAizhan);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, "/reverse-whois?q=a%40b.com&t=email");
  EXPECT_EQ(requests[0].query, "q=a%40b.com&t=email");
  EXPECT_EQ(requests[0].param("q"), "a@b.com");
  EXPECT_EQ(requests[0].header("x-test"), "1");
  EXPECT_EQ(requests[0].page(), 1);
  EXPECT_EQ(requests[1].page(), 2);
}

TEST_F(FakeServicesTest, GbkPagesAndSpecialAnswers) {
  fakes.setAddress(FakeSite::kChinaz, "c@d.com",
                   {.domains = {"例子.中国"},
                    .gbkPages = true,
                    .rateLimitedAnswers = {{1, 1}},
                    .emptyAnswers = {{1, 1}}});
  auto first = client->Get("/reverse?host=c%40d.com&page=1");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->body, "");
  const std::string limited = get("/reverse?host=c%40d.com&page=1");
  EXPECT_NE(limited.find("\xB2\xE9\xD1\xAF\xB9\xFD\xD3\xDA\xC6\xB5\xB7\xB1"),
            std::string::npos);  // 查询过于频繁 in GBK
  auto page = client->Get("/reverse?host=c%40d.com&page=1");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=gbk");
  EXPECT_NE(page->body.find("id=\"ajaxInfo\""), std::string::npos);
  EXPECT_NE(page->body.find("\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA"), std::string::npos);
}

TEST_F(FakeServicesTest, ChinazBeyondPageTenWantsTheSignInCookie) {
  std::vector<std::string> domains;
  for (int i = 1; i <= 12; ++i)
    domains.push_back("d" + std::to_string(i) + ".com");
  fakes.setAddress(FakeSite::kChinaz, "c@d.com", {.domains = domains, .perPage = 1});
  EXPECT_NE(get("/reverse?host=c%40d.com&page=10").find("d10.com"), std::string::npos);
  EXPECT_EQ(get("/reverse?host=c%40d.com&page=11").find("d11.com"), std::string::npos);

  // Sign in on the tool site; its cookie opens the later pages.
  auto signIn =
      client->Post("/login", "user=demo&password=demo", "application/x-www-form-urlencoded");
  ASSERT_TRUE(signIn);
  EXPECT_EQ(signIn->status, 302);
  const std::string cookie = signIn->get_header_value("Set-Cookie");
  EXPECT_EQ(cookie.rfind(std::string(FakeServices::kSignInCookie), 0), 0u);
  EXPECT_EQ(cookie.find("Domain"), std::string::npos);  // loopback: host-only cookie
  const httplib::Headers withCookie = {{"Cookie", std::string(FakeServices::kSignInCookie)}};
  EXPECT_NE(get("/reverse?host=c%40d.com&page=11", withCookie).find("d11.com"), std::string::npos);
  EXPECT_NE(get("/", withCookie).find("已登录"), std::string::npos);
  EXPECT_NE(get("/").find("action=\"/login\""), std::string::npos);
}

TEST(FakeServicesHandle, RoutesByTheRealHostNames) {
  FakeServices fakes;  // not started: a proxy calls handle() itself
  fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"x.com"}});
  EXPECT_EQ(FakeServices::siteOfHost("whois.aizhan.com"), FakeSite::kAizhan);
  EXPECT_EQ(FakeServices::siteOfHost("WHOIS.CHINAZ.COM:80"), FakeSite::kChinaz);
  EXPECT_EQ(FakeServices::siteOfHost("tool.chinaz.com"), FakeSite::kChinazTool);
  EXPECT_EQ(FakeServices::siteOfHost("example.com"), std::nullopt);

  httplib::Request request;
  request.method = "GET";
  request.path = "/reverse-whois";
  request.target = "/reverse-whois?q=a%40b.com&t=email";
  request.params = {{"q", "a@b.com"}, {"t", "email"}};
  request.headers = {{"Host", "whois.aizhan.com"}};
  httplib::Response response;
  ASSERT_TRUE(fakes.handle(request, response));
  EXPECT_NE(response.body.find("x.com"), std::string::npos);

  request.headers = {{"Host", "tool.chinaz.com"}};
  request.path = "/login";
  request.target = "/login";
  httplib::Response signIn;
  ASSERT_TRUE(fakes.handle(request, signIn));
  EXPECT_NE(signIn.get_header_value("Set-Cookie").find("Domain=.chinaz.com"), std::string::npos);

  request.headers = {{"Host", "elsewhere.example"}};
  httplib::Response untouched;
  EXPECT_FALSE(fakes.handle(request, untouched));
  EXPECT_EQ(fakes.requests().size(), 2u);
}

TEST_F(FakeServicesTest, PerAddressFaultsAnswerOnceThenThePage) {
  struct Case {
    const char* name;
    FakeSite site;
    FakeAddress answer;  // the fault on page 1, once
    int status;
    std::vector<std::string_view> shown;
  };
  const std::vector<Case> cases = {
      {"aizhan wall",
       FakeSite::kAizhan,
       {.wallAnswers = {{1, 1}}},
       200,
       {FakeServices::kWallTitle, FakeServices::kWallText, "href=\"/verify\""}},
      {"chinaz wall in GBK",
       FakeSite::kChinaz,
       {.gbkPages = true, .wallAnswers = {{1, 1}}},
       200,
       {FakeServices::kWallTitle, FakeServices::kWallText}},
      {"aizhan 403", FakeSite::kAizhan, {.forbiddenAnswers = {{1, 1}}}, 403, {"403 Forbidden"}},
      {"chinaz 403", FakeSite::kChinaz, {.forbiddenAnswers = {{1, 1}}}, 403, {"nginx"}},
      {"aizhan 404", FakeSite::kAizhan, {.notFoundAnswers = {{1, 1}}}, 404, {"404 Not Found"}},
      {"chinaz 404", FakeSite::kChinaz, {.notFoundAnswers = {{1, 1}}}, 404, {"404 Not Found"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeAddress answer = c.answer;
    answer.domains = {"first.com", "second.com"};
    answer.perPage = 1;
    fakes.setAddress(c.site, "a@b.com", answer);
    const bool gbk = answer.gbkPages;
    const std::string block(c.site == FakeSite::kAizhan ? FakeServices::kAizhanResultBlock
                                                        : FakeServices::kChinazResultBlock);
    // Other pages of the address are not affected.
    EXPECT_NE(get(resultTarget(c.site, 2)).find("second.com"), std::string::npos);

    auto faulted = client->Get(resultTarget(c.site, 1).c_str());
    ASSERT_TRUE(faulted);
    EXPECT_EQ(faulted->status, c.status);
    for (std::string_view text : c.shown)
      EXPECT_NE(faulted->body.find(inCharset(text, gbk)), std::string::npos) << text;
    EXPECT_EQ(faulted->body.find(block), std::string::npos);
    EXPECT_EQ(faulted->body.find(inCharset(FakeServices::kNoDataText, gbk)), std::string::npos);
    EXPECT_EQ(faulted->body.find("first.com"), std::string::npos);

    auto normal = client->Get(resultTarget(c.site, 1).c_str());
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->status, 200);
    EXPECT_NE(normal->body.find(block), std::string::npos);
    EXPECT_NE(normal->body.find("first.com"), std::string::npos);
  }
}

TEST_F(FakeServicesTest, ChangedLayouts) {
  struct Case {
    const char* name;
    FakeSite site;
    bool shifted;
    std::string blockName;  // "" keeps the default
    std::string_view slotHolds;
    bool slotHoldsDomain;
  };
  const std::vector<Case> cases = {
      {"aizhan as usual", FakeSite::kAizhan, false, "", "first.com", true},
      {"chinaz as usual", FakeSite::kChinaz, false, "", "first.com", true},
      {"aizhan shifted", FakeSite::kAizhan, true, "", "1", false},
      {"chinaz shifted", FakeSite::kChinaz, true, "", FakeServices::kRegistrarName, false},
      {"aizhan renamed", FakeSite::kAizhan, false, "whois-list", "first.com", true},
      {"chinaz renamed", FakeSite::kChinaz, false, "resultBox2", "first.com", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string usual(c.site == FakeSite::kAizhan ? FakeServices::kAizhanResultBlock
                                                        : FakeServices::kChinazResultBlock);
    fakes.setResultBlockName(c.site, c.blockName.empty() ? usual : c.blockName);
    fakes.setAddress(c.site, "a@b.com", {.domains = {"first.com"}, .shiftedColumn = c.shifted});
    const std::string page = get(resultTarget(c.site, 1));
    const std::string block = c.blockName.empty() ? usual : c.blockName;
    const std::string attribute = c.site == FakeSite::kAizhan ? "class=\"" : "id=\"";
    EXPECT_NE(page.find(attribute + block + "\""), std::string::npos);
    EXPECT_EQ(page.find(usual) == std::string::npos, !c.blockName.empty());
    const std::string slot = domainSlot(c.site, page);
    if (c.slotHoldsDomain) {
      EXPECT_NE(slot.find(c.slotHolds), std::string::npos) << slot;
    } else {
      EXPECT_EQ(slot.find("first.com"), std::string::npos) << slot;
      EXPECT_NE(slot.find(c.slotHolds), std::string::npos) << slot;
      EXPECT_NE(page.find("first.com"), std::string::npos);  // still on the page, elsewhere
    }
  }
}

TEST_F(FakeServicesTest, SiteWallClearsWithTheVerifyCookie) {
  fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"first.com"}});
  fakes.setAddress(FakeSite::kAizhan, "g@b.com", {.domains = {"gbk.com"}, .gbkPages = true});
  fakes.setWall(FakeSite::kAizhan, true);
  const std::string utf8Target = resultTarget(FakeSite::kAizhan, 1);
  const std::string gbkTarget = "/reverse-whois?q=g%40b.com&t=email";

  EXPECT_NE(get(utf8Target).find(FakeServices::kWallText), std::string::npos);
  const std::string gbkWall = get(gbkTarget);
  EXPECT_NE(gbkWall.find(inCharset(FakeServices::kWallText, true)), std::string::npos);
  EXPECT_EQ(gbkWall.find("gbk.com"), std::string::npos);
  // 站长 is not walled.
  EXPECT_NE(get(resultTarget(FakeSite::kChinaz, 1)).find(FakeServices::kNoDataText),
            std::string::npos);

  auto verified = client->Get("/verify");
  ASSERT_TRUE(verified);
  EXPECT_EQ(verified->status, 200);
  EXPECT_NE(verified->body.find(FakeServices::kVerifiedText), std::string::npos);
  const std::string setCookie = verified->get_header_value("Set-Cookie");
  EXPECT_EQ(setCookie, std::string(FakeServices::kVerifiedCookie) + "; Path=/");
  const std::string pair = setCookie.substr(0, setCookie.find(';'));

  EXPECT_NE(get(utf8Target, {{"Cookie", "other=1; " + pair}}).find("first.com"), std::string::npos);
  EXPECT_NE(get(gbkTarget, {{"Cookie", pair}}).find("gbk.com"), std::string::npos);
  EXPECT_NE(get(utf8Target, {{"Cookie", "x" + pair}}).find(FakeServices::kWallText),
            std::string::npos);
  fakes.setWall(FakeSite::kAizhan, false);
  EXPECT_NE(get(utf8Target).find("first.com"), std::string::npos);

  // One port for all sites: the query says whose "/verify" it was.
  get("/verify?site=chinaz");
  const auto chinaz = fakes.requests(FakeSite::kChinaz);
  ASSERT_FALSE(chinaz.empty());
  EXPECT_EQ(chinaz.back().path, "/verify");
  EXPECT_EQ(fakes.requests(FakeSite::kAizhan).size(), 7u);
}

// Chaos mode, watched from the client's side.
class ChaosTest : public FakeServicesTest {
 protected:
  struct Seen {
    int failed = 0;  // no whole answer
    int walled = 0;
    int aizhanThrottled = 0;
    int chinazThrottled = 0;
    int pages = 0;
  };

  // `count` result pages through `router`, 爱站 and 站长 in turn; through
  // the router as an HTTP proxy when `asProxy`.
  Seen ask(FaultRouter& router, int count, bool asProxy) {
    Seen seen;
    for (int i = 0; i < count; ++i) {
      const FakeSite site = i % 2 == 0 ? FakeSite::kAizhan : FakeSite::kChinaz;
      const std::string host(site == FakeSite::kAizhan ? FakeServices::kAizhanHost
                                                       : FakeServices::kChinazHost);
      httplib::Client direct("127.0.0.1", router.port());
      httplib::Client proxied(host);
      proxied.set_proxy("127.0.0.1", router.port());
      httplib::Client& to = asProxy ? proxied : direct;
      auto answer = to.Get(resultTarget(site, 1).c_str());
      if (!answer) {
        ++seen.failed;
      } else if (answer->body.find(FakeServices::kWallText) != std::string::npos) {
        ++seen.walled;
      } else if (answer->body.find(FakeServices::kAizhanRateLimitText) != std::string::npos) {
        ++seen.aizhanThrottled;
      } else if (answer->body.find(FakeServices::kChinazRateLimitText) != std::string::npos) {
        ++seen.chinazThrottled;
      } else if (answer->body.find("first.com") != std::string::npos) {
        ++seen.pages;
      }
    }
    return seen;
  }

  void SetUp() override {
    FakeServicesTest::SetUp();
    fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"first.com"}});
    fakes.setAddress(FakeSite::kChinaz, "a@b.com", {.domains = {"first.com"}});
  }
};

TEST_F(ChaosTest, ASeedGivesTheSameFaultsInTheSameOrder) {
  FaultRouter first(fakes.hostPort());
  FaultRouter second(fakes.hostPort());
  FaultRouter otherSeed(fakes.hostPort());
  first.setChaos({.seed = 7, .share = 0.5});
  second.setChaos({.seed = 7, .share = 0.5});
  otherSeed.setChaos({.seed = 8, .share = 0.5});
  ask(first, 40, false);
  ask(second, 40, false);
  ask(otherSeed, 40, false);
  ASSERT_EQ(first.chaosLog().size(), 40u);
  EXPECT_EQ(first.chaosLog(), second.chaosLog());
  EXPECT_NE(first.chaosLog(), otherSeed.chaosLog());
  // Setting chaos again starts from the seed again.
  const auto before = first.chaosLog();
  first.setChaos({.seed = 7, .share = 0.5});
  ask(first, 40, false);
  EXPECT_EQ(first.chaosLog(), before);
}

TEST_F(ChaosTest, ServesAboutTheShareAndWhatItCounts) {
  FaultRouter router(fakes.hostPort());
  router.setChaos({.seed = 1, .share = 0.25});
  constexpr int kRequests = 300;
  const Seen seen = ask(router, kRequests, true);
  // Not a result page: no draw.
  EXPECT_TRUE(httplib::Client("127.0.0.1", router.port()).Get("/"));
  const ChaosCounts counts = router.chaosCounts();
  EXPECT_EQ(counts.requests, static_cast<size_t>(kRequests));
  EXPECT_GE(counts.faults(), 45u);
  EXPECT_LE(counts.faults(), 105u);
  for (size_t kind : {counts.cut, counts.refuse, counts.throttle, counts.wall, counts.resetMidBody})
    EXPECT_GT(kind, 0u);
  // The client met exactly what the router counted; 站长 was never throttled.
  EXPECT_EQ(static_cast<size_t>(seen.failed), counts.cut + counts.refuse + counts.resetMidBody);
  EXPECT_EQ(static_cast<size_t>(seen.walled), counts.wall);
  EXPECT_EQ(static_cast<size_t>(seen.aizhanThrottled), counts.throttle);
  EXPECT_EQ(seen.chinazThrottled, 0);
  EXPECT_EQ(static_cast<size_t>(seen.pages), kRequests - counts.faults());
}

}  // namespace
}  // namespace qarvo::testing
