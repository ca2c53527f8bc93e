#include "web/http_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "testing/test_server.h"

namespace qarvo {
namespace {

using qarvo::testing::RawConnection;
using qarvo::testing::RawServer;
using qarvo::testing::Reply;
using qarvo::testing::TestServer;
using Clock = std::chrono::steady_clock;
using qarvo::testing::secondsSince;

// The web tests talk to loopback servers only: no proxy from the environment.
const bool proxyEnvironmentCleared = qarvo::testing::clearProxyEnvironment();

void expectEmptyResponse(const HttpRequest& request) {
  EXPECT_EQ(request.Status(), 0);
  EXPECT_EQ(request.StatusText(), "");
  EXPECT_TRUE(request.ResponseBody().empty());
  EXPECT_EQ(request.ResponseText(), u"");
  EXPECT_EQ(request.GetAllResponseHeaders(), "");
}

TEST(HttpRequestTest, SynchronousGetGivesStatusHeadersAndBody) {
  TestServer server;
  server.reply("/page",
               Reply{.status = 200,
                     .headers = {{"Content-Type", "text/plain"}, {"X-Two", "a"}, {"x-two", "b"}},
                     .body = "hello"});
  HttpRequest request;
  request.Open("GET", server.url("/page?q=1"));
  request.Send();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(request.StatusText(), "OK");
  EXPECT_EQ(toText(request.ResponseBody()), "hello");
  EXPECT_EQ(request.ResponseText(), u"hello");
  EXPECT_EQ(request.GetResponseHeader("x-TWO"), "a");
  EXPECT_EQ(request.GetResponseHeader("Missing"), "");
  EXPECT_EQ(request.GetAllResponseHeaders(),
            "Content-Type: text/plain\r\nX-Two: a\r\nx-two: b\r\nContent-Length: 5\r\n"
            "Connection: close\r\n");
  std::istringstream stream = request.ResponseStream();
  std::string streamed;
  stream >> streamed;
  EXPECT_EQ(streamed, "hello");

  ASSERT_EQ(server.requestCount(), 1u);
  auto sent = server.lastRequest();
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.target, "/page?q=1");
  EXPECT_EQ(sent.header("Accept-Encoding"), "");  // bodies are never asked for compressed
}

TEST(HttpRequestTest, AsynchronousSendReturnsAndWaitDrivesTheTransfer) {
  TestServer server;
  server.reply("/slow", Reply{.body = "late", .delayMs = 300});
  HttpRequest request;
  request.Open("GET", server.url("/slow"), true);
  auto start = Clock::now();
  request.Send();
  EXPECT_LT(secondsSince(start), 0.25);
  EXPECT_EQ(request.Status(), 0);  // nothing yet
  EXPECT_TRUE(request.WaitForResponse(5));
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(toText(request.ResponseBody()), "late");
}

TEST(HttpRequestTest, WaitForResponseStopsAtItsLimit) {
  TestServer server;
  server.reply("/slower", Reply{.body = "too late", .delayMs = 5000});
  HttpRequest request;
  request.Open("GET", server.url("/slower"), true);
  request.Send();
  auto start = Clock::now();
  EXPECT_FALSE(request.WaitForResponse(1));
  double waited = secondsSince(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 2.0);
  expectEmptyResponse(request);
}

TEST(HttpRequestTest, FaultsLeaveEmptyValuesQuickly) {
  {
    SCOPED_TRACE("connection refused");
    HttpRequest request;
    request.Open("GET", "http://127.0.0.1:" + std::to_string(qarvo::testing::unusedPort()) + "/");
    auto start = Clock::now();
    request.Send();
    EXPECT_LT(secondsSince(start), 2.0);
    expectEmptyResponse(request);
  }
  {
    SCOPED_TRACE("server never answers: the receive time-out ends it");
    RawServer server(RawServer::neverAnswer());
    HttpRequest request;
    request.SetTimeouts(300, 300, 300, 300);
    request.Open("GET", server.url("/"));
    auto start = Clock::now();
    request.Send();
    double waited = secondsSince(start);
    EXPECT_GE(waited, 0.25);
    EXPECT_LT(waited, 1.5);
    expectEmptyResponse(request);
  }
  {
    SCOPED_TRACE("reset in the middle of the body");
    RawServer server(RawServer::resetMidBody(100000, std::string(1000, 'x')));
    HttpRequest request;
    request.Open("GET", server.url("/"));
    request.Send();
    expectEmptyResponse(request);
  }
  {
    SCOPED_TRACE("not an HTTP answer");
    RawServer server(RawServer::answer("garbage\r\n\r\n"));
    HttpRequest request;
    request.Open("GET", server.url("/"));
    request.Send();
    expectEmptyResponse(request);
  }
  {
    SCOPED_TRACE("a URL curl refuses");
    HttpRequest request;
    request.Open("GET", "file:///etc/passwd");
    request.Send();
    expectEmptyResponse(request);
  }
}

TEST(HttpRequestTest, BodyBeyondTheLimitFailsTheTransfer) {
  RawServer server(RawServer::endlessBody());
  HttpRequest request;
  request.Open("GET", server.url("/"));
  request.Send();  // synchronous: only the size limit ends an endless body
  expectEmptyResponse(request);
}

TEST(HttpRequestTest, RedirectsAreFollowedUnlessSwitchedOff) {
  TestServer server;
  server.redirect("/from", "/to");
  server.reply("/to", Reply{.headers = {{"X-Final", "yes"}}, .body = "arrived"});
  HttpRequest request;
  EXPECT_EQ(std::get<int>(request.Option(kOptionEnableRedirects)), 1);
  request.Open("GET", server.url("/from"));
  request.Send();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(toText(request.ResponseBody()), "arrived");
  EXPECT_EQ(request.GetResponseHeader("Location"), "");  // only the final response's headers
  EXPECT_EQ(request.GetResponseHeader("X-Final"), "yes");

  request.SetOption(kOptionEnableRedirects, 0);
  request.Open("GET", server.url("/from"));
  request.Send();
  EXPECT_EQ(request.Status(), 302);
  EXPECT_EQ(request.GetResponseHeader("Location"), "/to");
}

TEST(HttpRequestTest, CookieHeaderStaysWithItsHost) {
  TestServer first;
  TestServer second;
  first.redirect("/away", second.url("/landing"));
  first.redirect("/here", "/landing");
  first.reply("/landing", Reply{.body = "first"});
  second.reply("/landing", Reply{.body = "second"});

  HttpRequest request;
  request.Open("GET", first.url("/away"));
  request.SetRequestHeader("Cookie", "session=secret");
  request.SetRequestHeader("Referer", "http://x/");
  request.Send();
  EXPECT_EQ(toText(request.ResponseBody()), "second");
  EXPECT_EQ(first.lastRequest().header("Cookie"), "session=secret");
  ASSERT_EQ(second.requestCount(), 1u);
  EXPECT_FALSE(second.lastRequest().hasHeader("Cookie"));
  EXPECT_EQ(second.lastRequest().header("Referer"), "http://x/");

  // On the same host and port it goes along.
  request.Open("GET", first.url("/here"));
  request.SetRequestHeader("Cookie", "session=secret");
  request.Send();
  EXPECT_EQ(toText(request.ResponseBody()), "first");
  EXPECT_EQ(first.lastRequest().path, "/landing");
  EXPECT_EQ(first.lastRequest().header("Cookie"), "session=secret");
}

TEST(HttpRequestTest, RequestHeadersAndBodies) {
  TestServer server;
  server.reply("/echo", Reply{.body = "ok"});
  HttpRequest request;
  request.Open("post", server.url("/echo"));
  request.SetRequestHeader("X-Empty", "");
  request.SetRequestHeader("X-Value", "first");
  request.SetRequestHeader("x-value", "second");  // replaces, name case aside
  request.SetRequestHeader("X-Bad", "a\r\nInjected: yes");
  request.SetRequestHeader("Content-Type", "text/plain");
  request.Send(Bytes{'a', 0, 'b'});
  auto sent = server.lastRequest();
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.body, std::string("a\0b", 3));
  EXPECT_EQ(sent.header("Content-Length"), "3");
  EXPECT_NE(sent.raw.find("\r\nX-Empty:\r\n"), std::string::npos);
  EXPECT_EQ(sent.headerCount("X-Value"), 1u);
  EXPECT_EQ(sent.header("X-Value"), "second");
  EXPECT_FALSE(sent.hasHeader("X-Bad"));
  EXPECT_FALSE(sent.hasHeader("Injected"));
  EXPECT_FALSE(sent.hasHeader("Expect"));
  EXPECT_EQ(sent.header("User-Agent"), "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)");

  // Open forgets the previous request's headers; a text body goes as given.
  request.Open("PUT", server.url("/echo"));
  request.Send(std::string_view("text body"));
  sent = server.lastRequest();
  EXPECT_EQ(sent.method, "PUT");
  EXPECT_EQ(sent.body, "text body");
  EXPECT_FALSE(sent.hasHeader("X-Value"));

  // Bytes outside ASCII in a URL are escaped.
  request.Open("GET", server.url("/echo") + "?q=\xE4\xB8\xAD a");
  request.Send();
  EXPECT_EQ(server.lastRequest().target, "/echo?q=%E4%B8%AD%20a");
}

TEST(HttpRequestTest, ResponseTextFollowsTheDeclaredCharset) {
  TestServer server;
  server.reply("/gbk", Reply{.headers = {{"Content-Type", "text/html; charset=GB2312"}},
                             .body = gbk("中文")});
  server.reply("/bom", Reply{.headers = {{"Content-Type", "text/html; charset=gbk"}},
                             .body = "\xFF\xFE" + qarvo::testing::encodeAs("中文", "UTF-16LE")});
  server.reply("/none", Reply{.body = "中文"});
  HttpRequest request;
  for (const char* path : {"/gbk", "/bom", "/none"}) {
    SCOPED_TRACE(path);
    request.Open("GET", server.url(path));
    request.Send();
    EXPECT_EQ(request.ResponseText(), u"中文");
  }
}

TEST(HttpRequestTest, GzipBodiesComeBackAsSent) {
  TestServer server;
  std::string packed = qarvo::testing::gzipCompress("compressed page");
  server.reply("/gz", Reply{.headers = {{"Content-Encoding", "gzip"}}, .body = packed});
  HttpRequest request;
  request.Open("GET", server.url("/gz"));
  request.SetRequestHeader("Accept-Encoding", "gzip");
  request.Send();
  EXPECT_EQ(toText(request.ResponseBody()), packed);
}

TEST(HttpRequestTest, ProxiesAndCredentials) {
  TestServer proxy;
  // Answers as a proxy that wants credentials.
  proxy.handle("http://qarvo.example/page", [](const qarvo::testing::RecordedRequest& r) {
    if (!r.hasHeader("Proxy-Authorization")) {
      return Reply{.status = 407, .headers = {{"Proxy-Authenticate", "Basic realm=\"p\""}}};
    }
    return Reply{.body = "via proxy"};
  });
  HttpRequest request;
  request.SetProxy(kProxySettingProxy, proxy.hostPort());
  request.SetCredentials("puser", "ppass", kCredentialsForProxy);
  request.Open("GET", "http://qarvo.example/page");
  request.Send();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(toText(request.ResponseBody()), "via proxy");
  EXPECT_EQ(proxy.lastRequest().header("Proxy-Authorization"), "Basic cHVzZXI6cHBhc3M=");

  // A server that asks for credentials gets them.
  TestServer site;
  site.handle("/private", [](const qarvo::testing::RecordedRequest& r) {
    if (!r.hasHeader("Authorization")) {
      return Reply{.status = 401, .headers = {{"WWW-Authenticate", "Basic realm=\"s\""}}};
    }
    return Reply{.body = r.header("Authorization")};
  });
  HttpRequest secured;
  secured.SetCredentials("user", "pass", kCredentialsForServer);
  secured.Open("GET", site.url("/private"));
  secured.Send();
  EXPECT_EQ(toText(secured.ResponseBody()), "Basic dXNlcjpwYXNz");
}

TEST(HttpRequestTest, DefaultProxySettingReadsTheEnvironment) {
  TestServer proxy;
  TestServer site;
  proxy.reply(site.url("/page"), Reply{.body = "env proxy"});
  site.reply("/page", Reply{.body = "direct"});
  setenv("http_proxy", proxy.url("").c_str(), 1);
  HttpRequest request;
  request.Open("GET", site.url("/page"));
  request.Send();
  EXPECT_EQ(toText(request.ResponseBody()), "env proxy");

  // The direct setting ignores it.
  request.SetProxy(kProxySettingDirect);
  request.Open("GET", site.url("/page"));
  request.Send();
  unsetenv("http_proxy");
  EXPECT_EQ(toText(request.ResponseBody()), "direct");
  EXPECT_EQ(proxy.requestCount(), 1u);
  EXPECT_EQ(site.requestCount(), 1u);
}

TEST(HttpRequestTest, OptionsAreKept) {
  HttpRequest request;
  EXPECT_EQ(std::get<int>(request.Option(kOptionSslErrorIgnoreFlags)), 0);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(request.Option(42)));
  request.SetOption(42, std::string("kept"));
  EXPECT_EQ(std::get<std::string>(request.Option(42)), "kept");
  request.Open("GET", "http://qarvo.example/x");
  EXPECT_EQ(std::get<std::string>(request.Option(kOptionUrl)), "http://qarvo.example/x");
  request.SetAutoLogonPolicy(2);
  EXPECT_EQ(request.AutoLogonPolicy(), 2);

  // A changed user agent goes out with the request.
  TestServer server;
  server.reply("/", Reply{.body = "ok"});
  request.SetOption(kOptionUserAgentString, std::string("Agent/1.0"));
  request.Open("GET", server.url("/"));
  request.Send();
  EXPECT_EQ(server.lastRequest().header("User-Agent"), "Agent/1.0");
}

namespace wait_pumping {

// A pump that counts its calls and raises the cancel flag after a while, as
// a stop click handled during the wait would.
int pumpCalls = 0;
int cancelAfterCalls = -1;
StopFlag cancelFlag{false};
void countingPump() {
  ++pumpCalls;
  if (cancelAfterCalls >= 0 && pumpCalls >= cancelAfterCalls)
    cancelFlag = true;
}

struct PumpGuard {
  PumpGuard(int cancelAfter) {
    pumpCalls = 0;
    cancelAfterCalls = cancelAfter;
    cancelFlag = false;
    previous = setEventPump(&countingPump);
  }
  ~PumpGuard() { setEventPump(previous); }
  EventPump previous;
};

}  // namespace wait_pumping

TEST(HttpRequestTest, WaitingForASlowAnswerKeepsPumpingEventsAndACancelEndsItAtOnce) {
  using namespace wait_pumping;
  TestServer server;
  server.reply("/slow", Reply{.body = "late", .delayMs = 400});
  {
    // Not cancelled: the answer arrives, and the wait pumped events all along
    // (about every 10 ms, so far more than a handful of times in 400 ms).
    PumpGuard guard(-1);
    HttpRequest request;
    request.SetCancelFlag(&cancelFlag);
    request.Open("GET", server.url("/slow"), true);
    request.Send();
    EXPECT_TRUE(request.WaitForResponse(5));
    EXPECT_EQ(toText(request.ResponseBody()), "late");
    EXPECT_EQ(request.LastFailure(), TransferFailure::kNone);
    EXPECT_GE(pumpCalls, 10);
  }
  {
    // Cancelled by a pumped event: the wait ends long before the answer.
    server.reply("/slower", Reply{.body = "never read", .delayMs = 5000});
    PumpGuard guard(3);
    HttpRequest request;
    request.SetCancelFlag(&cancelFlag);
    request.Open("GET", server.url("/slower"), true);
    auto start = Clock::now();
    request.Send();
    EXPECT_FALSE(request.WaitForResponse(30));
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_EQ(request.LastFailure(), TransferFailure::kCancelled);
    expectEmptyResponse(request);
  }
  {
    // A flag already raised sends nothing at all.
    PumpGuard guard(0);
    cancelFlag = true;
    const size_t before = server.requestCount();
    HttpRequest request;
    request.SetCancelFlag(&cancelFlag);
    request.Open("GET", server.url("/slow"));
    request.Send();
    EXPECT_EQ(request.LastFailure(), TransferFailure::kCancelled);
    EXPECT_EQ(server.requestCount(), before);
  }
}

TEST(HttpRequestTest, LastFailureTellsARefusedConnectionFromATimeOut) {
  HttpRequest request;
  {
    std::string url;
    {
      RawServer closed(RawServer::neverAnswer());  // listened on, then closed
      url = closed.url("/");
    }
    request.Open("GET", url);
    request.Send();
    EXPECT_EQ(request.LastFailure(), TransferFailure::kConnection);
  }
  TestServer server;
  server.reply("/slow", Reply{.body = "late", .delayMs = 3000});
  request.SetTimeouts(1000, 1000, 1000, 500);
  request.Open("GET", server.url("/slow"), true);
  request.Send();
  EXPECT_FALSE(request.WaitForResponse(10));
  EXPECT_EQ(request.LastFailure(), TransferFailure::kTimeout);
}

// ---- hostile servers ----

TEST(HttpRequestTest, ASecondSendDuringAnUploadLeavesItsBodyAlone) {
  // The server reads nothing for a while, so the upload is still going when
  // the caller sends again without opening. That body must neither replace
  // nor free the one on its way (AddressSanitizer watches the second).
  RawServer server([](RawConnection& connection) {
    connection.pause(300);
    if (!connection.readRequest().empty())
      connection.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  const std::string first(8 << 20, 'a');
  HttpRequest request;
  request.Open("POST", server.url("/upload"), true);
  request.Send(first);
  request.Send(std::string(16 << 20, 'b'));
  request.Send(Bytes(16 << 20, 'c'));
  EXPECT_TRUE(request.WaitForResponse(20));
  EXPECT_EQ(request.Status(), 200);
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string received = server.requests()[0];
  const std::size_t headEnd = received.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos);
  EXPECT_TRUE(received.compare(headEnd + 4, std::string::npos, first) == 0);
}

TEST(HttpRequestTest, AStalledUploadEndsAtTheSendLimit) {
  // A server that takes the connection and never reads: the body stops
  // going out once the socket buffers are full.
  RawServer server([](RawConnection& connection) { connection.pause(15000); });
  HttpRequest request;
  request.SetTimeouts(2000, 2000, 300, 12000);
  request.Open("POST", server.url("/"));
  const std::string body(16 << 20, 'x');
  auto start = Clock::now();
  request.Send(body);
  double waited = secondsSince(start);
  EXPECT_LT(waited, 6.0);  // the receive limit is 12 s
  EXPECT_EQ(request.LastFailure(), TransferFailure::kTimeout);
  expectEmptyResponse(request);
}

TEST(HttpRequestTest, ATricklingServerCannotHoldASynchronousRequest) {
  // One byte every 100 ms: never silent for long, never done.
  RawServer server([](RawConnection& connection) {
    if (connection.readRequest().empty())
      return;
    if (!connection.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"))
      return;
    for (int i = 0; i < 100 && connection.send("x"); ++i)
      connection.pause(100);
  });
  HttpRequest request;
  request.SetTimeouts(1000, 1000, 1000, 1000);
  request.Open("GET", server.url("/"));
  auto start = Clock::now();
  request.Send();
  double waited = secondsSince(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 3.0);
  EXPECT_EQ(request.LastFailure(), TransferFailure::kTimeout);
  expectEmptyResponse(request);

  // A silence as long as the receive limit ends it as well.
  RawServer silent([](RawConnection& connection) {
    if (connection.readRequest().empty())
      return;
    connection.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
    connection.pause(8000);
  });
  request.SetTimeouts(1000, 1000, 1000, 400);
  request.Open("GET", silent.url("/"));
  start = Clock::now();
  request.Send();
  EXPECT_LT(secondsSince(start), 2.0);
  EXPECT_EQ(request.LastFailure(), TransferFailure::kTimeout);
}

}  // namespace
}  // namespace qarvo
