// ComHttp's fetch operations besides fetchPage: fetchPageDirect, fetchVia,
// fetchPageGzip, locationOf, probeEncoding and probeStatus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "testing/test_server.h"
#include "web/com_http.h"
#include "web/decode_response.h"

namespace qarvo {
namespace {

using qarvo::testing::gzipCompress;
using qarvo::testing::RecordedRequest;
using qarvo::testing::Reply;
using qarvo::testing::TestServer;

// The web tests talk to loopback servers only: no proxy from the environment.
const bool proxyEnvironmentCleared = qarvo::testing::clearProxyEnvironment();

std::string asString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

const char* const kImageAccept =
    "image/gif, image/x-xbitmap, image/jpeg, imagepeg, application/x-shockwave-flash, "
    "application/x-silverlight, */*";

class FetchVariantsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.reply("/page", Reply{.body = "page"});
    http.createRequest();
  }
  TestServer server;
  ComHttp http;
};

// ---- fetchPageDirect ----

TEST(DirectFetchTimeoutTest, ZeroMeans120SecondsOthersAreTruncated) {
  EXPECT_EQ(directFetchTimeoutSeconds(0.0f), 120);
  EXPECT_EQ(directFetchTimeoutSeconds(0.5f), 0);  // and winHttpFetch makes that 30 s
  EXPECT_EQ(directFetchTimeoutSeconds(2.9f), 2);
  EXPECT_EQ(directFetchTimeoutSeconds(-1.0f), -1);
  EXPECT_EQ(directFetchTimeoutSeconds(1e20f), INT_MAX);
}

TEST_F(FetchVariantsTest, DirectFetchCutsTheFragmentAndSendsTheReferer) {
  Text url = server.url("/page") + "#part#two";
  EXPECT_EQ(http.fetchPageDirect(&url, {.useWinHttpApi = true}), "page");
  EXPECT_EQ(url, server.url("/page"));
  RecordedRequest sent = server.lastRequest();
  EXPECT_EQ(sent.target, "/page");
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.header("Referer"), server.url("/page"));

  url = server.url("/page");
  EXPECT_EQ(http.fetchPageDirect(&url, {.postText = "q=1",
                                        .referer = "http://from.example/",
                                        .extraHeaders = "X-A: 1",
                                        .spoofClientAddress = true,
                                        .useWinHttpApi = true}),
            "page");
  sent = server.lastRequest();
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.body, "q=1");
  EXPECT_EQ(sent.header("Referer"), "http://from.example/");
  EXPECT_EQ(sent.header("X-A"), "1");
  EXPECT_EQ(sent.header("X-Forwarded-For"), sent.header("Remote_Addr"));
  EXPECT_FALSE(sent.header("X-Forwarded-For").empty());
}

TEST_F(FetchVariantsTest, DirectFetchOverEachBackEnd) {
  const std::string chinese = "中文";
  server.reply("/utf8", Reply{.headers = {{"Content-Type", "text/html; charset='UTF-8'"},
                                          {"Set-Cookie", "b=3; path=/"}},
                              .body = chinese});
  struct BackEnd {
    const char* name;
    bool winHttp;
    bool winInet;
    const char* cookiesAfter;
  };
  for (const BackEnd& backEnd : {BackEnd{"WinHTTP", true, false, "b=3; a=1"},
                                 BackEnd{"internet library", false, true, "b=3; "},
                                 BackEnd{"threaded", false, false, "b=3; "}}) {
    SCOPED_TRACE(backEnd.name);
    Text url = server.url("/utf8");
    int mode = 0;
    Text cookies;
    Bytes raw;
    Text text = http.fetchPageDirect(&url, {.postText = "k=v",
                                            .encodingMode = &mode,
                                            .cookies = "a=1; b=2",
                                            .useWinInet = backEnd.winInet,
                                            .returnedCookies = &cookies,
                                            .rawBody = &raw,
                                            .useWinHttpApi = backEnd.winHttp});
    EXPECT_EQ(text, gbk(chinese));
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(asString(raw), chinese);
    EXPECT_EQ(cookies, backEnd.cookiesAfter);
    RecordedRequest sent = server.lastRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.body, "k=v");  // a text body reaches every back-end
    EXPECT_EQ(sent.header("Cookie"), "a=1; b=2");
  }
}

TEST_F(FetchVariantsTest, DirectFetchFailureGivesEmptyText) {
  Text url = "http://127.0.0.1:" + std::to_string(qarvo::testing::unusedPort()) + "/";
  Bytes raw = {'x'};
  Text cookies = "x";
  EXPECT_EQ(http.fetchPageDirect(
                &url, {.returnedCookies = &cookies, .rawBody = &raw, .useWinHttpApi = true}),
            "");
  EXPECT_TRUE(raw.empty());
  EXPECT_EQ(cookies, "");
}

// ---- fetchVia ----

TEST_F(FetchVariantsTest, FetchViaDispatchesByKind) {
  const char* chrome =
      "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/30.0.1599.101 Safari/537.36";
  auto fetchKind = [&](int kind, const FetchPageOptions& options) {
    http.reset();
    server.clearRequests();
    EXPECT_EQ(http.fetchVia(kind, server.url("/page"), options), "page");
    EXPECT_EQ(server.requestCount(), 1u);
    return server.lastRequest();
  };

  // 1: fetchPage itself.
  RecordedRequest sent = fetchKind(1, {});
  EXPECT_EQ(sent.header("User-Agent"), chrome);
  EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_FALSE(sent.hasHeader("Cache-Control"));

  // 2: WinHTTP, with fetchPage's content type and agent as header lines.
  sent = fetchKind(2, {.proxy = Text("-1"), .contentType = "text/plain"});
  EXPECT_EQ(sent.header("Cache-Control"), "no-cache");
  EXPECT_EQ(sent.header("Accept-Encoding"), "gbk, GB2312");
  EXPECT_EQ(sent.header("User-Agent"), chrome);
  EXPECT_EQ(sent.header("Content-Type"), "text/plain");
  EXPECT_EQ(sent.headerCount("User-Agent"), 1u);

  // Anything else: the threaded internet-library back-end.
  for (int kind : {0, 3}) {
    SCOPED_TRACE(kind);
    Text cookies = "c=1";
    sent = fetchKind(kind, {.cookies = &cookies, .userAgent = "Agent/9"});
    EXPECT_EQ(sent.header("Accept").substr(0, 21), "image/gif, image/bmp,");
    EXPECT_EQ(sent.header("User-Agent"), "Agent/9");
    EXPECT_EQ(sent.header("Cookie"), "c=1");
    EXPECT_FALSE(sent.hasHeader("Cache-Control"));
  }
}

// ---- fetchPageGzip ----

TEST(GzipFetchTimingTest, WholeSeconds) {
  PageFetchTiming timing = gzipFetchTiming(-1);
  EXPECT_FALSE(timing.setTimeouts);
  EXPECT_EQ(timing.waitSeconds, 120);
  timing = gzipFetchTiming(3);
  EXPECT_TRUE(timing.setTimeouts);
  EXPECT_EQ(timing.resolveMs, 3000);
  EXPECT_EQ(timing.connectMs, 3000);
  EXPECT_EQ(timing.sendMs, 3000);
  EXPECT_EQ(timing.receiveMs, 3000);
  EXPECT_EQ(timing.waitSeconds, 3);
  for (int seconds : {0, -2}) {
    timing = gzipFetchTiming(seconds);
    EXPECT_TRUE(timing.setTimeouts);
    EXPECT_EQ(timing.resolveMs, 10000);
    EXPECT_EQ(timing.connectMs, 10000);
    EXPECT_EQ(timing.sendMs, 60000);
    EXPECT_EQ(timing.receiveMs, 120000);
    EXPECT_EQ(timing.waitSeconds, 120);
  }
}

TEST_F(FetchVariantsTest, GzipFetchReturnsTheInflatedBody) {
  server.reply("/first", Reply{.headers = {{"Set-Cookie", "first=1"}}, .body = "x"});
  server.reply("/gz", Reply{.headers = {{"Content-Type", "text/html;charset=\"utf-8\""},
                                        {"Set-Cookie", "kept=7; path=/"}},
                            .body = gzipCompress("hello gzip")});
  http.fetchPage(server.url("/first"));
  ASSERT_EQ(http.lastCookiesText(), "first=1; ");

  int mode = 0;
  http.reset();
  Bytes body = http.fetchPageGzip(server.url("/gz"), {.keepCookies = true, .encodingMode = &mode});
  EXPECT_EQ(asString(body), "hello gzip");
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(http.lastCookiesText(), "first=1; ");  // untouched
  // The kept cookies go out with the next page.
  http.fetchPage(server.url("/page"));
  EXPECT_EQ(server.lastRequest().header("Cookie"), "kept=7; path=/;");

  // A plain body comes back as it is; without the decompressor, gzip does too.
  http.reset();
  EXPECT_EQ(asString(http.fetchPageGzip(server.url("/page"), {.timeoutSeconds = 2})), "page");
  setGzipDecompressorAvailable(false);
  http.reset();
  body = http.fetchPageGzip(server.url("/gz"));
  setGzipDecompressorAvailable(true);
  EXPECT_EQ(asString(body), gzipCompress("hello gzip"));
}

// ---- the probes: no redirect is followed ----

TEST_F(FetchVariantsTest, LocationOfReadsTheRedirect) {
  TestServer target;
  target.reply("/there", Reply{.body = "there"});
  server.redirect("/jump", target.url("/there"));

  EXPECT_EQ(http.locationOf(server.url("/jump"),
                            {.cookies = Text("a=1"), .extraHeaders = "X-A: 1\r\nbad line"}),
            target.url("/there"));
  EXPECT_EQ(target.requestCount(), 0u);
  RecordedRequest sent = server.lastRequest();
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.header("User-Agent"),
            "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/30.0.1599.101 Safari/537.36");
  EXPECT_EQ(sent.header("Accept-Language"), "zh-cn");
  EXPECT_EQ(sent.header("Connection"), "Keep-Alive");
  EXPECT_EQ(sent.header("Accept"), kImageAccept);
  EXPECT_EQ(sent.header("Referer"), server.url("/jump"));
  EXPECT_EQ(sent.header("Cookie"), "a=1");
  EXPECT_EQ(sent.header("X-A"), "1");

  http.reset();
  EXPECT_EQ(
      http.locationOf(
          server.url("/jump"),
          {.synchronous = true, .referer = "/from", .userAgent = "Agent/1", .postText = "p=1"}),
      target.url("/there"));
  sent = server.lastRequest();
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.body, "p=1");
  EXPECT_EQ(sent.header("User-Agent"), "Agent/1");
  EXPECT_EQ(sent.header("Referer"), "http:///from");
  EXPECT_FALSE(sent.hasHeader("Cookie"));

  // Through a proxy, whenever one is named.
  TestServer proxy;
  proxy.redirect(server.url("/jump"), "http://via.example/");
  http.reset();
  EXPECT_EQ(http.locationOf(server.url("/jump"), {.proxy = proxy.hostPort()}),
            "http://via.example/");

  http.reset();
  EXPECT_EQ(http.locationOf(server.url("/page")), "");
}

TEST_F(FetchVariantsTest, ProbeStatusDoesNotFollow) {
  TestServer target;
  server.redirect("/jump", target.url("/"), 301);
  EXPECT_EQ(http.probeStatus(server.url("/jump")), 301);
  EXPECT_EQ(target.requestCount(), 0u);
  EXPECT_FALSE(server.lastRequest().hasHeader("Cookie"));

  http.reset();
  EXPECT_EQ(http.probeStatus(server.url("/nothing"), {.synchronous = true, .cookies = Text("")}),
            404);
  EXPECT_TRUE(server.lastRequest().hasHeader("Cookie"));

  http.reset();
  EXPECT_EQ(http.probeStatus(server.url("/page"), {.timeoutSeconds = 2, .proxy = Text("-1")}), 200);

  http.reset();
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(qarvo::testing::unusedPort()) + "/";
  EXPECT_EQ(http.probeStatus(refused), 0);
}

TEST_F(FetchVariantsTest, ProbeEncodingReadsTheDeclaredCharset) {
  struct Case {
    const char* contentType;
    int expected;
  };
  for (const Case& c :
       {Case{"text/html; charset=utf-8", 2}, Case{"text/html; Charset=\"UTF-8\"", 2},
        Case{"text/html; charset='utf-8'", 2}, Case{"text/html; charset=gbk", 0},
        Case{"text/html", 0}}) {
    SCOPED_TRACE(c.contentType);
    server.reply("/enc", Reply{.headers = {{"Content-Type", c.contentType}}, .body = "x"});
    http.reset();
    EXPECT_EQ(http.probeEncoding(server.url("/enc")), c.expected);
  }
  EXPECT_EQ(server.lastRequest().header("User-Agent"),
            "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)");

  // A redirect's target is not asked.
  TestServer target;
  target.reply("/", Reply{.headers = {{"Content-Type", "text/html; charset=utf-8"}}});
  server.redirect("/jump", target.url("/"));
  http.reset();
  EXPECT_EQ(http.probeEncoding(server.url("/jump"), {.cookies = Text("a=1")}), 0);
  EXPECT_EQ(target.requestCount(), 0u);
  EXPECT_EQ(server.lastRequest().header("Cookie"), "a=1");
}

}  // namespace
}  // namespace qarvo
