#include "web/com_http.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>

#include "platform/code_page.h"
#include "testing/test_server.h"

namespace qarvo {
namespace {

using qarvo::testing::encodeAs;
using qarvo::testing::RawServer;
using qarvo::testing::RecordedRequest;
using qarvo::testing::Reply;
using qarvo::testing::TestServer;
using Clock = std::chrono::steady_clock;
using qarvo::testing::secondsSince;

// The web tests talk to loopback servers only: no proxy from the environment.
const bool proxyEnvironmentCleared = qarvo::testing::clearProxyEnvironment();

ComHttp newClient() {
  ComHttp http;
  http.createRequest();
  return http;
}

// ---- pure rules ----

TEST(NormaliseUrlTest, SchemeAndFragment) {
  Text url = "example.com/a#frag#more";
  normaliseUrl(&url);
  EXPECT_EQ(url, "http://example.com/a");
  url = "HTTPS://Example.com/x";
  normaliseUrl(&url);
  EXPECT_EQ(url, "HTTPS://Example.com/x");
  url = "";
  normaliseUrl(&url);
  EXPECT_EQ(url, "");
  url = "ftp://host/";
  normaliseUrl(&url);
  EXPECT_EQ(url, "http://ftp://host/");
}

TEST(PageFetchTimingTest, TimeoutTable) {
  struct Row {
    float seconds;
    bool set;
    int resolve, connect, send, receive, wait;
  };
  const Row rows[] = {
      {30.0f, true, 15000, 15000, 30000, 30000, 30},
      {2.5f, true, 1250, 1250, 2500, 2500, 2},
      {1.9f, true, 949, 949, 1899, 1899, 1},  // single precision: 1.89999998
      {1.0f, true, 500, 500, 1000, 1000, 1},
      {0.5f, true, 10000, 10000, 60000, 120000, 120},
      {0.0f, true, 10000, 10000, 60000, 120000, 120},
      {-3.0f, true, 10000, 10000, 60000, 120000, 120},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.seconds);
    PageFetchTiming timing = pageFetchTiming(row.seconds);
    EXPECT_EQ(timing.setTimeouts, row.set);
    EXPECT_EQ(timing.resolveMs, row.resolve);
    EXPECT_EQ(timing.connectMs, row.connect);
    EXPECT_EQ(timing.sendMs, row.send);
    EXPECT_EQ(timing.receiveMs, row.receive);
    EXPECT_EQ(timing.waitSeconds, row.wait);
  }
  PageFetchTiming none = pageFetchTiming(-1.0f);
  EXPECT_FALSE(none.setTimeouts);
  EXPECT_EQ(none.waitSeconds, 120);
  // Huge values saturate instead of overflowing.
  PageFetchTiming huge = pageFetchTiming(1e12f);
  EXPECT_EQ(huge.receiveMs, INT_MAX);
  EXPECT_EQ(huge.waitSeconds, INT_MAX);
}

TEST(ComHttpTest, SpoofedAddressHeadersNameOneAddressThreeTimes) {
  ComHttp http;
  Text block = http.spoofedAddressHeaders();
  std::smatch match;
  std::regex shape(
      "X-Forward-For: (\\d+)\\.(\\d+)\\.(\\d+)\\.(\\d+)\r\nX-Forwarded-For: (.*)\r\nREMOTE_ADDR: "
      "(.*)");
  ASSERT_TRUE(std::regex_match(block, match, shape)) << block;
  std::string address =
      match[1].str() + "." + match[2].str() + "." + match[3].str() + "." + match[4].str();
  EXPECT_EQ(match[5].str(), address);
  EXPECT_EQ(match[6].str(), address);
  for (int i = 1; i <= 4; ++i)
    EXPECT_LE(std::stoi(match[i].str()), 255);
}

// ---- lifecycle ----

TEST(ComHttpTest, ConstructionCopyAndReset) {
  ComHttp empty;
  EXPECT_EQ(empty.requestObjectRef(), nullptr);
  EXPECT_EQ(empty.fetchPage("http://127.0.0.1:1/"), "");  // no request object: nothing happens
  EXPECT_EQ(empty.lastCookiesText(), "");

  TestServer server;
  server.reply("/", Reply{.headers = {{"Set-Cookie", "sid=9; path=/"}}, .body = "page"});

  // A copy shares the request object and owns its own cookie texts.
  ComHttp http = newClient();
  ASSERT_NE(http.requestObjectRef(), nullptr);
  EXPECT_EQ(http.setKeptCookies("a=1"), "a=1");
  ComHttp copy(http);
  EXPECT_EQ(copy.requestObjectRef(), http.requestObjectRef());
  copy.setKeptCookies("b=2");
  EXPECT_EQ(http.fetchPage(server.url("/")), "page");
  EXPECT_EQ(server.lastRequest().header("Cookie"), "a=1");
  EXPECT_EQ(copy.status(), 200);  // the same request object answered
  EXPECT_EQ(copy.lastCookiesText(), "");
  EXPECT_EQ(copy.fetchPage(server.url("/")), "page");
  EXPECT_EQ(server.lastRequest().header("Cookie"), "b=2");

  Text cookies;
  EXPECT_EQ(http.fetchPage(server.url("/"), {.cookies = &cookies, .keepCookies = true}), "page");
  EXPECT_EQ(http.lastCookiesText(), "sid=9; path=/; ");
  EXPECT_EQ(http.fetchPage(server.url("/")), "page");  // kept for the next fetch
  EXPECT_EQ(server.lastRequest().header("Cookie"), "sid=9; path=/;");
  auto before = http.requestObjectRef();
  http.reset();
  EXPECT_NE(http.requestObjectRef(), before);
  EXPECT_EQ(http.lastCookiesText(), "sid=9; path=/; ");  // reset leaves it
  // ... but not the kept cookies: the next fetch sends none.
  EXPECT_EQ(http.fetchPage(server.url("/")), "page");
  EXPECT_FALSE(server.lastRequest().hasHeader("Cookie"));
}

// ---- thin wrappers ----

TEST(ComHttpTest, OpenNormalisesTheCallersUrl) {
  TestServer server;
  server.reply("/a", Reply{.body = "a"});
  ComHttp http = newClient();
  Text url = server.hostPort() + "/a#section";
  http.open("", &url);
  EXPECT_EQ(url, server.url("/a"));
  http.send();
  EXPECT_EQ(http.status(), 200);
  EXPECT_EQ(http.statusText(), "OK");
  EXPECT_EQ(server.lastRequest().target, "/a");
  EXPECT_EQ(server.lastRequest().method, "GET");

  Text upper = "HTTP://" + server.hostPort() + "/a";
  http.open("GET", &upper);
  EXPECT_EQ(upper, "HTTP://" + server.hostPort() + "/a");
  http.send();
  EXPECT_EQ(http.status(), 200);
}

TEST(ComHttpTest, RefererGetsASchemeOtherHeadersStayAsGiven) {
  TestServer server;
  server.reply("/", Reply{.body = "ok"});
  ComHttp http = newClient();
  Text url = server.url("/");
  http.open("GET", &url);
  Text referer = "/from/here";
  http.setRequestHeader("REFERER", &referer);
  EXPECT_EQ(referer, "http:///from/here");
  Text other = "/from/here";
  http.setRequestHeader("X-Other", &other);
  EXPECT_EQ(other, "/from/here");
  http.send();
  EXPECT_EQ(server.lastRequest().header("Referer"), "http:///from/here");
  EXPECT_EQ(server.lastRequest().header("X-Other"), "/from/here");

  Text secure = "HTTPS://site/";
  http.setRequestHeader("referer", &secure);
  EXPECT_EQ(secure, "HTTPS://site/");
}

TEST(ComHttpTest, SetTimeoutsFillsMissingValuesFromResolve) {
  // Only the resolve value is given: the receive wait takes it too.
  RawServer server(RawServer::neverAnswer());
  ComHttp http = newClient();
  http.setTimeouts(300, -1, 0);
  Text url = server.url("/");
  http.open("GET", &url);
  auto start = Clock::now();
  http.send();
  EXPECT_LT(secondsSince(start), 1.5);
  EXPECT_EQ(http.status(), 0);
}

TEST(ComHttpTest, ProxyTextCarriesServerUserAndPassword) {
  TestServer proxy;
  proxy.handle("http://qarvo.example/p", [](const RecordedRequest& r) {
    if (!r.hasHeader("Proxy-Authorization")) {
      return Reply{.status = 407, .headers = {{"Proxy-Authenticate", "Basic realm=\"p\""}}};
    }
    return Reply{.body = r.header("Proxy-Authorization")};
  });
  {
    SCOPED_TRACE("empty password: no credentials");
    ComHttp http = newClient();
    http.setProxy(kProxySettingProxy, proxy.hostPort() + ",user,");
    Text url = "http://qarvo.example/p";
    http.open("GET", &url);
    http.send();
    EXPECT_EQ(http.status(), 407);
  }
  {
    SCOPED_TRACE("user and password: proxy credentials");
    ComHttp http = newClient();
    http.setProxy(kProxySettingProxy, proxy.hostPort() + ",user,pa,ss");
    Text url = "http://qarvo.example/p";
    http.open("GET", &url);
    http.send();
    EXPECT_EQ(http.status(), 200);
    EXPECT_EQ(toText(http.responseBody()), "Basic dXNlcjpwYSxzcw==");  // user:pa,ss
  }
}

TEST(ComHttpTest, OptionWritesTheFirstGivenValue) {
  ComHttp http = newClient();
  EXPECT_EQ(std::get<int>(http.option(kOptionEnableRedirects)), 1);
  EXPECT_EQ(std::get<int>(http.option(kOptionEnableRedirects, 0, Text("ignored"))), 0);
  EXPECT_EQ(std::get<std::string>(http.option(30, std::nullopt, Text("t"))), "t");
  Bytes bytes{1, 2};
  EXPECT_EQ(std::get<Bytes>(http.option(31, std::nullopt, std::nullopt, bytes)), bytes);
  // send() clears the certificate-error flags every time.
  http.option(kOptionSslErrorIgnoreFlags, 0x3300);
  http.send();
  EXPECT_EQ(std::get<int>(http.option(kOptionSslErrorIgnoreFlags)), 0);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(ComHttp().option(6)));
}

TEST(ComHttpTest, RedirectTargetReadsLocationWithoutFollowing) {
  TestServer server;
  server.redirect("/old", "http://qarvo.example/new");
  ComHttp http = newClient();
  EXPECT_EQ(http.redirectTarget(server.url("/old")), "http://qarvo.example/new");
  RecordedRequest sent = server.lastRequest();
  EXPECT_EQ(sent.header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");
  EXPECT_EQ(sent.header("Accept-Language"), "zh-cn");
  EXPECT_EQ(sent.header("Accept"),
            "image/gif, image/x-xbitmap, image/jpeg, imagepeg, application/x-shockwave-flash, "
            "application/x-silverlight, */*");
  EXPECT_EQ(server.requestCount(), 1u);
}

// ---- response cookies ----

TEST(ComHttpTest, ResponseCookieHelpers) {
  TestServer server;
  server.reply("/", Reply{.headers = {{"Set-Cookie", "a=1; path=/"},
                                      {"Content-Type", "text/html; charset=gbk"},
                                      {"Set-Cookie", "b=2"}},
                          .body = "x"});
  ComHttp http = newClient();
  http.fetchPage(server.url("/"));
  EXPECT_EQ(http.setCookieLines(), "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n");
  EXPECT_EQ(http.responseCookies(), "a=1; path=/; b=2; ");
  EXPECT_EQ(http.lastCookiesText(), "a=1; path=/; b=2; ");
  EXPECT_EQ(http.responseCookieValue("a"), "1");
  // A cookie without attributes ends with its line.
  EXPECT_EQ(http.responseCookieValue("b"), "2");
  EXPECT_EQ(http.responseCookieValue("c"), "");

  RawServer raw(RawServer::answer(
      "HTTP/1.1 200 OK\r\nSet-Cookie:tight=7; path=/\r\nContent-Length: 1\r\n\r\nx"));
  http.fetchPage(raw.url("/"));
  EXPECT_EQ(http.responseCookieValue("tight"), "7");
  EXPECT_EQ(http.setCookieLines(), "Set-Cookie:tight=7; path=/\r\n");
  EXPECT_EQ(http.responseCookies(), "Set-Cookie:tight=7; path=/; ");  // only "Set-Cookie: " goes
}

// ---- fetchPage: the request it sends ----

class FetchPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.handle("/page", [](const RecordedRequest&) { return Reply{.body = "page"}; });
    http.createRequest();
  }
  RecordedRequest fetchAndRecord(const FetchPageOptions& options) {
    server.clearRequests();
    http.reset();
    EXPECT_EQ(http.fetchPage(server.url("/page"), options), "page");
    EXPECT_EQ(server.requestCount(), 1u);
    return server.lastRequest();
  }
  TestServer server;
  ComHttp http;
};

TEST_F(FetchPageTest, DefaultHeadersOfAGet) {
  Text url = "  " + server.url("/page") + "#top ";
  http.reset();
  EXPECT_EQ(http.fetchPage(url), "page");
  EXPECT_EQ(url, "  " + server.url("/page") + "#top ");  // the caller's URL stays
  RecordedRequest sent = server.lastRequest();
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.target, "/page");
  EXPECT_EQ(sent.header("Referer"), server.url("/page") + "#top");  // trimmed, not normalised
  EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent.header("User-Agent"),
            "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/30.0.1599.101 Safari/537.36");
  EXPECT_FALSE(sent.hasHeader("Cookie"));
  EXPECT_FALSE(sent.hasHeader("X-Forwarded-For"));
  EXPECT_EQ(sent.body, "");
}

TEST_F(FetchPageTest, RefererContentTypeAndAgentArguments) {
  RecordedRequest sent =
      fetchAndRecord({.referer = "/search", .contentType = "text/xml", .userAgent = "Agent/2"});
  EXPECT_EQ(sent.header("Referer"), "http:///search");
  EXPECT_EQ(sent.header("Content-Type"), "text/xml");
  EXPECT_EQ(sent.header("User-Agent"), "Agent/2");

  // Given in extraHeaders, exactly so spelled, the arguments give way.
  sent = fetchAndRecord(
      {.contentType = "text/xml", .extraHeaders = "Content-Type: text/plain\r\nUser-Agent: Mine"});
  EXPECT_EQ(sent.headerCount("Content-Type"), 1u);
  EXPECT_EQ(sent.header("Content-Type"), "text/plain");
  EXPECT_EQ(sent.header("User-Agent"), "Mine");
}

TEST_F(FetchPageTest, ExtraHeaderLinesAndSpoofedAddress) {
  RecordedRequest sent = fetchAndRecord(
      {.extraHeaders = "X-One: 1\r\nX-Two: a: b\r\nX-Empty: \r\nnot a header\r\nX-Three: 3",
       .spoofClientAddress = true});
  EXPECT_EQ(sent.header("X-One"), "1");
  EXPECT_EQ(sent.header("X-Two"), "a");  // the part after a second ": " is dropped
  EXPECT_FALSE(sent.hasHeader("X-Empty"));
  EXPECT_EQ(sent.header("X-Three"), "3");
  std::string address = sent.header("X-Forwarded-For");
  EXPECT_TRUE(std::regex_match(address, std::regex("\\d+\\.\\d+\\.\\d+\\.\\d+"))) << address;
  EXPECT_EQ(sent.header("X-Forward-For"), address);
  EXPECT_EQ(sent.header("REMOTE_ADDR"), address);
  EXPECT_EQ(sent.headerCount("X-Forwarded-For"), 1u);
}

TEST_F(FetchPageTest, CookieArgument) {
  Text cookies = "a=1; b=2";
  RecordedRequest sent = fetchAndRecord({.cookies = &cookies});
  EXPECT_EQ(sent.header("Cookie"), "a=1; b=2");

  cookies = "-1";
  sent = fetchAndRecord({.cookies = &cookies});
  EXPECT_TRUE(sent.hasHeader("Cookie"));
  EXPECT_EQ(sent.header("Cookie"), "");
  EXPECT_NE(sent.raw.find("\r\nCookie:\r\n"), std::string::npos);

  // Kept cookies stand in for an empty argument and are written back to it.
  http.reset();
  http.setKeptCookies("kept=1");
  cookies.clear();
  EXPECT_EQ(http.fetchPage(server.url("/page"), {.cookies = &cookies}), "page");
  EXPECT_EQ(cookies, "kept=1");
  EXPECT_EQ(server.lastRequest().header("Cookie"), "kept=1");
}

TEST_F(FetchPageTest, PostBodies) {
  RecordedRequest sent = fetchAndRecord({.postText = "a=1&b=2"});
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.body, "a=1&b=2");
  EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded");

  sent = fetchAndRecord({.postBytes = Bytes{'x', 0, 'y'}});
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.body, std::string("x\0y", 3));

  sent = fetchAndRecord({.postText = "ignored", .postBytes = Bytes{'z'}});
  EXPECT_EQ(sent.body, "z");
}

TEST_F(FetchPageTest, TheLookupsCall) {
  Text cookies = "token=abc";
  http.reset();
  Text page =
      http.fetchPage(server.url("/page"),
                     {.timeoutSeconds = 30.0f, .cookies = &cookies, .spoofClientAddress = true});
  EXPECT_EQ(page, "page");
  RecordedRequest sent = server.lastRequest();
  EXPECT_EQ(sent.header("Cookie"), "token=abc");
  EXPECT_TRUE(sent.hasHeader("REMOTE_ADDR"));
  EXPECT_EQ(cookies, "token=abc");
}

TEST_F(FetchPageTest, SynchronousFetchAndItsTimeout) {
  http.reset();
  EXPECT_EQ(http.fetchPage(server.url("/page"), {.synchronous = true}), "page");

  // Without a wait, the receive time-out (t x 1000 ms) is what ends a silent server.
  RawServer silent(RawServer::neverAnswer());
  http.reset();
  auto start = Clock::now();
  EXPECT_EQ(http.fetchPage(silent.url("/"), {.timeoutSeconds = 1.0f, .synchronous = true}), "");
  double waited = secondsSince(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 2.0);
}

TEST_F(FetchPageTest, ProxyArgument) {
  TestServer proxy;
  proxy.reply(server.url("/page"), Reply{.body = "proxied"});
  http.reset();
  EXPECT_EQ(http.fetchPage(server.url("/page"), {.proxy = proxy.hostPort()}), "proxied");

  // "IE": the system's proxy, here the http_proxy environment value.
  setenv("http_proxy", proxy.url("").c_str(), 1);
  http.reset();
  Text viaSystem = http.fetchPage(server.url("/page"), {.proxy = Text("IE")});
  unsetenv("http_proxy");
  EXPECT_EQ(viaSystem, "proxied");
  EXPECT_EQ(proxy.requestCount(), 2u);

  // Empty or "-1": no proxy of ours.
  http.reset();
  EXPECT_EQ(http.fetchPage(server.url("/page"), {.proxy = Text("")}), "page");
  http.reset();
  EXPECT_EQ(http.fetchPage(server.url("/page"), {.proxy = Text("-1")}), "page");
}

TEST_F(FetchPageTest, CookiesDoNotFollowARedirectToAnotherHost) {
  TestServer other;
  other.reply("/elsewhere", Reply{.body = "other host"});
  server.redirect("/jump", other.url("/elsewhere"));
  Text cookies = "session=secret";
  http.reset();
  EXPECT_EQ(http.fetchPage(server.url("/jump"), {.cookies = &cookies}), "other host");
  EXPECT_EQ(server.lastRequest().header("Cookie"), "session=secret");
  EXPECT_FALSE(other.lastRequest().hasHeader("Cookie"));
}

// ---- fetchPage: what it makes of the answer ----

struct EncodingCase {
  const char* name;
  std::string contentType;
  std::string body;
  int mode;
  int modeAfter;
};

TEST_F(FetchPageTest, EncodingModes) {
  const std::string chinese = "中文網頁";  // in GBK, Big5 and Big5-HKSCS alike
  const Text expected = gbk(chinese);
  const EncodingCase cases[] = {
      {"detect, UTF-8 mark", "text/html", "\xEF\xBB\xBF" + chinese, 0, 0},
      {"detect, UTF-8 without mark", "text/html", chinese, 0, 0},
      {"detect, UTF-16LE mark", "text/html", "\xFF\xFE" + encodeAs(chinese, "UTF-16LE"), 0, 0},
      {"detect, meta Big5", "text/html",
       "<head><meta charset=big5></head>" + encodeAs(chinese, "BIG5"), 0, 0},
      {"detect, gzip", "text/html", qarvo::testing::gzipCompress(chinese), 0, 0},
      {"header UTF-8 overrides meta", "text/html; charset=\"UTF-8\"",
       "<head><meta charset=big5></head>" + chinese, 0, 2},
      {"header utf-8 in single quotes", "text/html; charset='utf-8'", chinese, 0, 2},
      {"header UTF-8 unquoted", "text/html;CHARSET=UTF-8", chinese, 0, 2},
      {"system code page", "text/html", gbk(chinese), 1, 1},
      {"UTF-8", "text/html", chinese, 2, 2},
      {"UTF-16LE", "text/html", "\xFF\xFE" + encodeAs(chinese, "UTF-16LE"), 3, 3},
      {"UTF-16BE", "text/html", "\xFE\xFF" + encodeAs(chinese, "UTF-16BE"), 4, 4},
      {"BIG5", "text/html", encodeAs(chinese, "BIG5"), 5, 5},
      {"BIG5-HKSCS", "text/html", encodeAs(chinese, "BIG5-HKSCS"), 6, 6},
      {"component text", "text/html; charset=utf-8", chinese, -2, -2},
      {"raw bytes", "text/html", gbk(chinese), -1, -1},
  };
  for (const EncodingCase& c : cases) {
    SCOPED_TRACE(c.name);
    server.reply("/enc", Reply{.headers = {{"Content-Type", c.contentType}}, .body = c.body});
    int mode = c.mode;
    http.reset();
    Text text = http.fetchPage(server.url("/enc"), {.encodingMode = &mode});
    if (std::string(c.name) == "detect, meta Big5" ||
        std::string(c.name) == "header UTF-8 overrides meta") {
      EXPECT_NE(text.find(expected), Text::npos) << text;
    } else {
      EXPECT_EQ(text, expected);
    }
    EXPECT_EQ(mode, c.modeAfter);
  }

  // Raw bytes end at the first zero byte.
  server.reply("/zero", Reply{.body = std::string("ab\0cd", 5)});
  int raw = -1;
  http.reset();
  EXPECT_EQ(http.fetchPage(server.url("/zero"), {.encodingMode = &raw}), "ab");
}

// ---- fetchPage: faults ----

TEST(FetchPageFaultTest, FaultsGiveEmptyTextAndNoCookies) {
  TestServer good;
  good.reply("/", Reply{.headers = {{"Set-Cookie", "seen=1"}}, .body = "fine"});
  ComHttp http = newClient();

  auto expectEmptyAfter = [&](const Text& url, double limitSeconds) {
    http.reset();
    EXPECT_EQ(http.fetchPage(good.url("/")), "fine");
    ASSERT_EQ(http.lastCookiesText(), "seen=1; ");
    http.reset();
    auto start = Clock::now();
    EXPECT_EQ(http.fetchPage(url, {.timeoutSeconds = 1.0f}), "");
    EXPECT_LT(secondsSince(start), limitSeconds);
    EXPECT_EQ(http.lastCookiesText(), "");
  };
  {
    SCOPED_TRACE("connection refused");
    expectEmptyAfter("http://127.0.0.1:" + std::to_string(qarvo::testing::unusedPort()) + "/", 1.0);
  }
  {
    SCOPED_TRACE("never answers");
    RawServer silent(RawServer::neverAnswer());
    expectEmptyAfter(silent.url("/"), 2.0);
  }
  {
    SCOPED_TRACE("reset mid-body");
    RawServer broken(RawServer::resetMidBody(50000, std::string(2000, 'y')));
    expectEmptyAfter(broken.url("/"), 1.0);
  }
  {
    SCOPED_TRACE("endless body");
    RawServer endless(RawServer::endlessBody());
    expectEmptyAfter(endless.url("/"), 2.5);
  }
}

}  // namespace
}  // namespace qarvo
