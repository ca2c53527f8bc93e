#include "web/win_http_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "testing/test_server.h"

namespace qarvo {
namespace {

using qarvo::testing::RawConnection;
using qarvo::testing::RawServer;
using qarvo::testing::RecordedRequest;
using qarvo::testing::Reply;
using qarvo::testing::TestServer;
using Clock = std::chrono::steady_clock;
using qarvo::testing::secondsSince;

// The web tests talk to loopback servers only: no proxy from the environment.
const bool proxyEnvironmentCleared = qarvo::testing::clearProxyEnvironment();

std::string asString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// ---- the rules that need no server ----

TEST(MergeCookiesTest, NewValuesWinOldOnesCarryOnDeletedOnesGo) {
  EXPECT_EQ(mergeCookies("a=1; b=2", "b=3; c=deleted"), "b=3; a=1");
  // Blanks go everywhere, also inside values.
  EXPECT_EQ(mergeCookies(" x = 1 ", "y=2"), "y=2; x=1");
  // A name without "=" is the whole item; repeated items are kept once.
  EXPECT_EQ(mergeCookies("flag; a=1", "a=2; a=2; z=9"), "a=2; z=9; flag");
  // An old cookie set to deleted goes as well; empty items leave no "; ; ".
  EXPECT_EQ(mergeCookies("gone=deleted;; k=1;", ""), "k=1");
  EXPECT_EQ(mergeCookies("", ""), "");
}

TEST(NormaliseHeaderNamesTest, EachNamePartCapitalisedValuesUntouched) {
  EXPECT_EQ(normaliseHeaderNames("x-forwarded-for: a-b\r\ncontent-type: text/x; q=a:b\r\n"),
            "X-Forwarded-For: a-b\r\nContent-Type: text/x; q=a:b\r\n");
  EXPECT_EQ(normaliseHeaderNames("no colon here\r\n\r\nconnection:keep-alive"),
            "no colon here\r\n\r\nConnection:keep-alive");
  EXPECT_EQ(normaliseHeaderNames("a--b: v"), "A--B: v");
  EXPECT_EQ(normaliseHeaderNames(""), "");
}

TEST(WinHttpRulesTest, MethodNamesAndTimeouts) {
  const char* expected[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  for (int method = 0; method < 8; ++method)
    EXPECT_STREQ(winHttpMethodName(method), expected[method]);
  EXPECT_STREQ(winHttpMethodName(9), "GET");
  EXPECT_STREQ(winHttpMethodName(-1), "GET");

  EXPECT_EQ(winHttpTimeoutMs(0), 30000);
  EXPECT_EQ(winHttpTimeoutMs(-5), 30000);
  EXPECT_EQ(winHttpTimeoutMs(1), 1000);
  EXPECT_EQ(winHttpTimeoutMs(120), 120000);
  EXPECT_EQ(winHttpTimeoutMs(INT_MAX), INT_MAX);
}

TEST(WinHttpRulesTest, ProxyNameForPlainAndSecureRequests) {
  EXPECT_EQ(winHttpProxyName("10.0.0.1:8080", false), "http=10.0.0.1:8080");
  EXPECT_EQ(winHttpProxyName("10.0.0.1:8080", true), "10.0.0.1:8080");
  EXPECT_EQ(winHttpProxyName("", false), "");

  // What the session then uses for each kind of request.
  EXPECT_EQ(curlProxyFor("http=10.0.0.1:8080", false), "10.0.0.1:8080");
  EXPECT_EQ(curlProxyFor("http=10.0.0.1:8080", true), "");
  EXPECT_EQ(curlProxyFor("10.0.0.1:8080", true), "10.0.0.1:8080");
  EXPECT_EQ(curlProxyFor("https=s:1;http=p:2", false), "p:2");
  EXPECT_EQ(curlProxyFor("https=s:1 http=p:2", true), "s:1");
  EXPECT_EQ(curlProxyFor("http=http://p:2/", false), "http://p:2/");
  EXPECT_EQ(curlProxyFor("", false), "");
}

TEST(WinHttpRulesTest, HeaderBlock) {
  // Defaults for what is missing (names looked for without letter case),
  // Content-Type only for POST.
  Text get = winHttpHeaderBlock("user-agent: Mine", 0, "", true, true);
  EXPECT_EQ(get,
            "User-Agent: Mine\r\n"
            "Accept: text/html, application/xhtml+xml, */*\r\n"
            "Accept-Encoding: gbk, GB2312\r\n"
            "Accept-Language: zh-cn\r\n"
            "Cache-Control: no-cache\r\n");
  Text post = winHttpHeaderBlock("", 1, "", true, true);
  EXPECT_NE(post.find("Content-Type: application/x-www-form-urlencoded\r\n"), Text::npos);
  EXPECT_NE(post.find("User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; "
                      "Trident/5.0)\r\n"),
            Text::npos);
  EXPECT_EQ(winHttpHeaderBlock("", 0, "", false, true), "");

  // keep-alive is left out only under the name "Connection" exactly.
  EXPECT_EQ(winHttpHeaderBlock("A: 1\r\nConnection: keep-alive\r\nB: 2", 0, "", false, false),
            "A: 1\r\nB: 2\r\n");
  EXPECT_EQ(winHttpHeaderBlock("connection: keep-alive", 0, "", false, false),
            "connection: keep-alive\r\n");
  EXPECT_EQ(winHttpHeaderBlock("connection: keep-alive", 0, "", false, true), "");
  EXPECT_EQ(winHttpHeaderBlock("Connection: close", 0, "", false, false), "Connection: close\r\n");
  EXPECT_EQ(winHttpHeaderBlock("Proxy-Connection: keep-alive", 0, "", false, false),
            "Proxy-Connection: keep-alive\r\n");

  // The cookie line, unless the block already has one.
  EXPECT_EQ(winHttpHeaderBlock("A: 1", 0, "a=1; b=2", false, true),
            "A: 1\r\n\r\nCookie: a=1; b=2\r\n");
  EXPECT_EQ(winHttpHeaderBlock("", 0, "Cookie: a=1", false, true), "\r\nCookie: a=1\r\n");
  EXPECT_EQ(winHttpHeaderBlock("cookie: x=1", 0, "a=1", false, false), "cookie: x=1\r\n");
}

TEST(WinHttpRulesTest, StatusPartOfTheFirstLine) {
  EXPECT_EQ(statusPartOf("HTTP/1.1 200 OK\r\nA: b\r\n\r\n"), "200 OK\r");
  EXPECT_EQ(statusPartOf("HTTP/1.0 404 Not Found\r\n"), "404 Not Found\r");
  EXPECT_EQ(statusPartOf("HTTP/1\r\n"), "");
  EXPECT_EQ(statusPartOf(""), "");
}

// ---- over loopback ----

class WinHttpFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.handle("/page", [](const RecordedRequest&) { return Reply{.body = "page"}; });
  }
  // Fetches with `options`, expecting the page, and returns what the server got.
  RecordedRequest sent(WinHttpFetchOptions options, const std::string& path = "/page") {
    server.clearRequests();
    Text message;
    options.statusMessage = &message;
    Bytes body = winHttpFetch(server.url(path), options);
    EXPECT_EQ(message, "200 OK\r");
    EXPECT_EQ(asString(body), "page");
    EXPECT_EQ(server.requestCount(), 1u);
    return server.lastRequest();
  }
  TestServer server;
};

TEST_F(WinHttpFetchTest, MethodsBodiesAndDefaultHeaders) {
  RecordedRequest request = sent({});
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/page");
  EXPECT_EQ(request.header("User-Agent"),
            "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)");
  EXPECT_EQ(request.header("Accept"), "text/html, application/xhtml+xml, */*");
  EXPECT_EQ(request.header("Accept-Encoding"), "gbk, GB2312");
  EXPECT_EQ(request.header("Accept-Language"), "zh-cn");
  EXPECT_EQ(request.header("Cache-Control"), "no-cache");
  EXPECT_FALSE(request.hasHeader("Content-Type"));
  EXPECT_FALSE(request.hasHeader("Cookie"));

  request = sent({.method = 9});
  EXPECT_EQ(request.method, "GET");

  request = sent({.method = 1, .postText = "a=1&b=2"});
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.body, "a=1&b=2");
  EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");

  request = sent({.method = 3, .postText = "ignored", .postBytes = Bytes{'x', 0, 'y'}});
  EXPECT_EQ(request.method, "PUT");
  EXPECT_EQ(request.body, std::string("x\0y", 3));
  EXPECT_FALSE(request.hasHeader("Content-Type"));

  request = sent({.method = 5});
  EXPECT_EQ(request.method, "DELETE");

  // Without defaults only the caller's lines go (curl adds none of its own).
  request = sent({.headers = "X-Only: 1", .addDefaultHeaders = false});
  EXPECT_EQ(request.header("X-Only"), "1");
  EXPECT_FALSE(request.hasHeader("Accept"));
  EXPECT_FALSE(request.hasHeader("User-Agent"));

  // HEAD: status and headers, no body.
  Text message;
  EXPECT_TRUE(winHttpFetch(server.url("/page"), {.method = 2, .statusMessage = &message}).empty());
  EXPECT_EQ(server.lastRequest().method, "HEAD");
  EXPECT_EQ(message, "200 OK\r");
}

TEST_F(WinHttpFetchTest, HeaderNamesAndTheKeepAliveLine) {
  RecordedRequest request = sent({.headers = "x-custom-name: Value-stays\r\nempty: "});
  EXPECT_NE(request.raw.find("\r\nX-Custom-Name: Value-stays\r\n"), std::string::npos);
  EXPECT_NE(request.raw.find("\r\nEmpty:"), std::string::npos);

  request = sent({.headers = "connection: keep-alive", .normaliseHeaderNames = false});
  EXPECT_NE(request.raw.find("\r\nconnection: keep-alive\r\n"), std::string::npos);
  request = sent({.headers = "Connection: keep-alive"});
  EXPECT_FALSE(request.hasHeader("Connection"));
}

TEST_F(WinHttpFetchTest, RequestAndResponseCookiesMerged) {
  server.reply("/cookies",
               Reply{.headers = {{"Set-Cookie", "b=3; path=/"},
                                 {"Set-Cookie", "c=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT"},
                                 {"Set-Cookie", " plain=1 "}},
                     .body = "page"});
  Text cookies = "stale";
  RecordedRequest request =
      sent({.requestCookies = "a=1; b=2", .returnedCookies = &cookies}, "/cookies");
  EXPECT_EQ(request.header("Cookie"), "a=1; b=2");
  EXPECT_EQ(cookies, "b=3; plain=1; a=1");

  sent({.requestCookies = "a=1; b=2", .returnedCookies = &cookies, .mergeWithRequest = false},
       "/cookies");
  EXPECT_EQ(cookies, "b=3; c=deleted; plain=1");

  // Nothing to merge with: only the response's cookies, without a final "; ".
  sent({.returnedCookies = &cookies}, "/cookies");
  EXPECT_EQ(cookies, "b=3; c=deleted; plain=1");
}

TEST_F(WinHttpFetchTest, StatusTextHeadersAndLocation) {
  RawServer raw(RawServer::answer(
      "HTTP/1.1 203 Non-Authoritative Information\r\nX-A: 1\r\nContent-Length: 2\r\n\r\nok"));
  Text message, headers;
  int pumped = 0;
  static int* counter = nullptr;
  counter = &pumped;
  EventPump previous = setEventPump([] { ++*counter; });
  Bytes body = winHttpFetch(raw.url("/"), {.responseHeaders = &headers, .statusMessage = &message});
  setEventPump(previous);
  EXPECT_EQ(asString(body), "ok");
  EXPECT_EQ(message, "203 Non-Authoritative Information\r");
  EXPECT_EQ(headers,
            "HTTP/1.1 203 Non-Authoritative Information\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n");
  EXPECT_GE(pumped, 3);  // once per header line

  // Redirects switched off: the 302 and its Location; on: the target's page.
  server.redirect("/jump", server.url("/page"));
  Text location = "old";
  body = winHttpFetch(server.url("/jump"),
                      {.disableRedirects = true, .location = &location, .statusMessage = &message});
  EXPECT_EQ(message, "302 Found\r");
  EXPECT_EQ(location, server.url("/page"));
  EXPECT_EQ(asString(body), "moved");
  body = winHttpFetch(server.url("/jump"), {.location = &location, .statusMessage = &message});
  EXPECT_EQ(message, "200 OK\r");
  EXPECT_EQ(location, "");
  EXPECT_EQ(asString(body), "page");
}

TEST_F(WinHttpFetchTest, CredentialsAndProxy) {
  RecordedRequest request = sent({.user = "u", .password = "p"});
  EXPECT_EQ(request.header("Authorization"), "Basic dTpw");
  request = sent({.user = "u"});  // no password: no credentials
  EXPECT_FALSE(request.hasHeader("Authorization"));

  // A plain request goes to the proxy as "http=" names it.
  TestServer proxy;
  proxy.reply(server.url("/page"), Reply{.body = "proxied"});
  Text message;
  Bytes body = winHttpFetch(server.url("/page"), {.proxy = proxy.hostPort(),
                                                  .proxyUser = "pu",
                                                  .proxyPassword = "pp",
                                                  .statusMessage = &message});
  EXPECT_EQ(asString(body), "proxied");
  EXPECT_EQ(proxy.lastRequest().target, server.url("/page"));
  EXPECT_EQ(proxy.lastRequest().header("Proxy-Authorization"), "Basic cHU6cHA=");

  // A secure one takes the bare proxy: a tunnel is asked for (and refused here).
  body = winHttpFetch("https://127.0.0.1:1/x",
                      {.proxy = proxy.hostPort(), .timeoutSeconds = 1, .statusMessage = &message});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(message, gbk("711 发送请求失败!"));
  EXPECT_EQ(proxy.lastRequest().method, "CONNECT");
  EXPECT_EQ(proxy.lastRequest().target, "127.0.0.1:1");
}

TEST(WinHttpFetchFaultTest, EachFailingStepHasItsMessage) {
  auto expectMessage = [](const Text& url, const WinHttpFetchOptions& base, const char* utf8,
                          double limitSeconds) {
    SCOPED_TRACE(utf8);
    WinHttpFetchOptions options = base;
    Text message, cookies = "x", location = "y";
    options.statusMessage = &message;
    options.returnedCookies = &cookies;
    options.location = &location;
    auto start = Clock::now();
    EXPECT_TRUE(winHttpFetch(url, options).empty());
    EXPECT_LT(secondsSince(start), limitSeconds);
    EXPECT_EQ(message, gbk(utf8));
    EXPECT_EQ(cookies, "");
    EXPECT_EQ(location, "");
  };
  const char* badUrl = "701 解析URL地址失败!";
  expectMessage("127.0.0.1/page", {}, badUrl, 1.0);  // no scheme is put in front here
  expectMessage("ftp://127.0.0.1/", {}, badUrl, 1.0);
  expectMessage("http://", {}, badUrl, 1.0);
  expectMessage("http://bad host/", {}, badUrl, 1.0);
  expectMessage("", {}, badUrl, 1.0);

  TestServer server;
  server.reply("/", Reply{.body = "never reached"});
  expectMessage(server.url("/"), {.headers = "not a header line"}, "710 设置协议头失败!", 1.0);
  expectMessage(server.url("/"), {.headers = "Bad Name: x"}, "710 设置协议头失败!", 1.0);
  // Cookies that would end the Cookie line early and add lines of their own.
  for (const char* cookies : {"a=1\r\nX-Injected: yes", "a=1\nX-Injected: yes", "a=1\r"}) {
    expectMessage(server.url("/"), {.requestCookies = cookies}, "710 设置协议头失败!", 1.0);
  }
  EXPECT_EQ(server.requestCount(), 0u);

  const std::string refused =
      "http://127.0.0.1:" + std::to_string(qarvo::testing::unusedPort()) + "/";
  expectMessage(refused, {}, "711 发送请求失败!", 1.0);

  RawServer silent(RawServer::neverAnswer());
  expectMessage(silent.url("/"), {.timeoutSeconds = 1}, "712 服务器未响应!", 2.0);
  EXPECT_EQ(silent.requests().size(), 1u);

  RawServer hangsUp(RawServer::answer(""));
  expectMessage(hangsUp.url("/"), {}, "712 服务器未响应!", 1.0);
}

TEST(WinHttpFetchFaultTest, ABrokenBodyKeepsWhatCameAndSays713) {
  const Text readFailed = gbk("713 读取数据失败!");
  {
    SCOPED_TRACE("reset mid-body");
    RawServer broken(RawServer::resetMidBody(50000, std::string(2000, 'y')));
    Text message, headers, cookies;
    Bytes body = winHttpFetch(broken.url("/"), {.returnedCookies = &cookies,
                                                .responseHeaders = &headers,
                                                .timeoutSeconds = 2,
                                                .statusMessage = &message});
    EXPECT_EQ(asString(body), std::string(2000, 'y'));
    EXPECT_EQ(message, readFailed);
    EXPECT_EQ(headers.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(cookies, "lost=1");  // the head is still read
  }
  {
    SCOPED_TRACE("stalls mid-body");
    RawServer stalling([](RawConnection& connection) {
      if (connection.readRequest().empty())
        return;
      connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
      connection.waitUntilClosed();
    });
    Text message;
    auto start = Clock::now();
    Bytes body = winHttpFetch(stalling.url("/"), {.timeoutSeconds = 1, .statusMessage = &message});
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_EQ(asString(body), "0123456789");
    EXPECT_EQ(message, readFailed);
  }
}

}  // namespace
}  // namespace qarvo
