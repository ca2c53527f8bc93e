// Which fetch checks the peer's certificate, and that none of them follows a
// redirect from https down to http. A loopback HTTPS server with a
// self-signed certificate made at run time stands for a peer that cannot
// prove its name.
#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"
#include "testing/test_server.h"
#include "testing/tls_server.h"
#include "web/com_http.h"
#include "web/http_request.h"
#include "web/internet_fetch.h"
#include "web/win_http_fetch.h"

namespace qarvo {
namespace {

using qarvo::testing::Reply;
using qarvo::testing::TestServer;
using qarvo::testing::TlsServer;

// The web tests talk to loopback servers only: no proxy from the environment.
const bool proxyEnvironmentCleared = qarvo::testing::clearProxyEnvironment();

constexpr int kIgnoreEveryCertificateError = kSslIgnoreUnknownCa | kSslIgnoreWrongUsage |
                                             kSslIgnoreCertCnInvalid | kSslIgnoreCertDateInvalid;

std::string asString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

ComHttp newClient() {
  ComHttp http;
  http.createRequest();
  return http;
}

class SelfSignedPeerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ready()); }
  TlsServer server{
      Reply{.headers = {{"Content-Type", "text/html; charset=utf-8"}}, .body = "secret"}};
};

TEST_F(SelfSignedPeerTest, TheRequestObjectChecksUnlessTheErrorsAreIgnored) {
  HttpRequest request;
  request.Open("GET", server.url("/"));
  request.Send();
  EXPECT_EQ(request.Status(), 0);
  EXPECT_EQ(request.LastFailure(), TransferFailure::kConnection);
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_GE(server.connectionCount(), 1u);

  request.SetOption(kOptionSslErrorIgnoreFlags, kIgnoreEveryCertificateError);
  request.Open("GET", server.url("/"));
  request.Send();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(asString(request.ResponseBody()), "secret");
}

TEST_F(SelfSignedPeerTest, ThePageFetchAndItsVariantsRefuseIt) {
  ComHttp http = newClient();
  EXPECT_EQ(http.fetchPage(server.url("/")), "");
  EXPECT_EQ(http.lastFailure(), TransferFailure::kConnection);
  // The ignore flags a caller set are cleared by every send.
  http.reset();
  http.option(kOptionSslErrorIgnoreFlags, kIgnoreEveryCertificateError);
  EXPECT_EQ(http.fetchPage(server.url("/")), "");
  http.reset();
  EXPECT_TRUE(http.fetchPageGzip(server.url("/")).empty());
  http.reset();
  EXPECT_EQ(http.probeStatus(server.url("/")), 0.0);
  http.reset();
  EXPECT_EQ(http.locationOf(server.url("/")), "");
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(SelfSignedPeerTest, TheInternetLibraryFetchesRefuseIt) {
  InternetFetchRequest request{.url = server.url("/"), .timeoutSeconds = 5};
  InternetFetchResult direct = internetFetch(request);
  EXPECT_TRUE(direct.body.empty());
  EXPECT_EQ(direct.headers, "");
  InternetFetchResult threaded = threadedInternetFetch(request);
  EXPECT_TRUE(threaded.body.empty());
  // And so does fetchPageDirect over them.
  ComHttp http = newClient();
  Text url = server.url("/");
  EXPECT_EQ(http.fetchPageDirect(&url, {.timeoutSeconds = 5}), "");
  EXPECT_EQ(http.fetchPageDirect(&url, {.timeoutSeconds = 5, .useWinInet = true}), "");
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(SelfSignedPeerTest, TheFunctionInterfaceFetchIgnoresCertificateErrors) {
  Text message;
  Bytes body = winHttpFetch(server.url("/"), {.timeoutSeconds = 5, .statusMessage = &message});
  EXPECT_EQ(asString(body), "secret");
  EXPECT_EQ(message, "200 OK\r");
  ComHttp http = newClient();
  EXPECT_EQ(http.fetchVia(2, server.url("/"), {.timeoutSeconds = 5}), "secret");
  EXPECT_EQ(server.requestCount(), 2u);
}

// ---- no way down from https to http ----

class DowngradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plain.reply("/plain", Reply{.body = "in the clear"});
    ASSERT_TRUE(secure.ready());
  }
  TestServer plain;
  TlsServer secure{Reply{.status = 302, .headers = {{"Location", plain.url("/plain")}}}};
};

TEST_F(DowngradeTest, TheRequestObjectRefusesToFollow) {
  HttpRequest request;
  request.SetOption(kOptionSslErrorIgnoreFlags, kIgnoreEveryCertificateError);
  request.Open("GET", secure.url("/"));
  request.Send();
  EXPECT_EQ(request.Status(), 0);
  EXPECT_EQ(request.LastFailure(), TransferFailure::kConnection);
  EXPECT_EQ(secure.requestCount(), 1u);
  EXPECT_EQ(plain.requestCount(), 0u);

  // Asynchronous requests alike.
  request.Open("GET", secure.url("/"), true);
  request.Send();
  EXPECT_FALSE(request.WaitForResponse(5));
  EXPECT_EQ(request.LastFailure(), TransferFailure::kConnection);
  EXPECT_EQ(plain.requestCount(), 0u);

  // Not following, the redirect is an answer like any other.
  request.SetOption(kOptionEnableRedirects, 0);
  request.Open("GET", secure.url("/"));
  request.Send();
  EXPECT_EQ(request.Status(), 302);
  EXPECT_EQ(request.GetResponseHeader("Location"), plain.url("/plain"));
}

TEST_F(DowngradeTest, AWayUpIsFollowed) {
  TlsServer target{Reply{.body = "upgraded"}};
  ASSERT_TRUE(target.ready());
  plain.redirect("/up", target.url("/"));
  HttpRequest request;
  request.SetOption(kOptionSslErrorIgnoreFlags, kIgnoreEveryCertificateError);
  request.Open("GET", plain.url("/up"));
  request.Send();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(asString(request.ResponseBody()), "upgraded");
}

TEST_F(DowngradeTest, NoWayBackDownAfterAHopUp) {
  // http -> https -> http: the second hop came over https, so the third may not leave it.
  plain.redirect("/start", secure.url("/"));
  HttpRequest request;
  request.SetOption(kOptionSslErrorIgnoreFlags, kIgnoreEveryCertificateError);
  request.Open("GET", plain.url("/start"));
  request.Send();
  EXPECT_EQ(request.Status(), 0);
  EXPECT_EQ(request.LastFailure(), TransferFailure::kConnection);

  Text message;
  EXPECT_TRUE(
      winHttpFetch(plain.url("/start"), {.timeoutSeconds = 5, .statusMessage = &message}).empty());
  EXPECT_EQ(message, gbk("712 服务器未响应!"));
  EXPECT_EQ(secure.requestCount(), 2u);
  ASSERT_EQ(plain.requestCount(), 2u);
  EXPECT_EQ(plain.lastRequest().path, "/start");
}

TEST_F(DowngradeTest, TheFunctionInterfaceFetchRefusesToFollow) {
  Text message;
  Bytes body = winHttpFetch(secure.url("/"), {.timeoutSeconds = 5, .statusMessage = &message});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(message, gbk("712 服务器未响应!"));
  EXPECT_EQ(plain.requestCount(), 0u);
}

}  // namespace
}  // namespace qarvo
