// Which fetch checks the peer's certificate, and that none of them follows a
// redirect from https down to http. A loopback HTTPS server with a
// self-signed certificate made at run time stands for a peer that cannot
// prove its name.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
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
  EXPECT_EQ(request.LastFailure(), TransferFailure::kCertificate);
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
  EXPECT_EQ(http.lastFailure(), TransferFailure::kCertificate);
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

// ---- what kept a secure channel from standing ----

// Sets SSL_CERT_FILE for the scope, or unsets it for an empty path.
class CaBundle {
 public:
  explicit CaBundle(const std::string& path) {
    if (path.empty())
      unsetenv("SSL_CERT_FILE");
    else
      setenv("SSL_CERT_FILE", path.c_str(), 1);
  }
  ~CaBundle() { unsetenv("SSL_CERT_FILE"); }
};

TEST_F(SelfSignedPeerTest, FailuresTellARefusingOrPlainPortFromARejectedCertificate) {
  // A plain web server answers a TLS hello with 400 at once (the client may
  // be gone by then).
  std::signal(SIGPIPE, SIG_IGN);
  qarvo::testing::RawServer plain([](qarvo::testing::RawConnection& connection) {
    connection.send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
  });
  const int closedPort = qarvo::testing::unusedPort();
  const std::string bundle = ::testing::TempDir() + "/peer-ca.pem";
  std::ofstream(bundle) << server.certificatePem();
  const std::string junk = ::testing::TempDir() + "/junk-ca.pem";
  std::ofstream(junk) << "not a certificate\n";
  struct Case {
    const char* name;
    std::string url;
    std::string caFile;
    TransferFailure failure;
  } cases[] = {
      {"the https port refuses", "https://127.0.0.1:" + std::to_string(closedPort) + "/", "",
       TransferFailure::kNoSecureChannel},
      {"plain HTTP on the https port", "https://" + plain.hostPort() + "/", "",
       TransferFailure::kNoSecureChannel},
      {"a plain port refuses: no TLS was asked", "http://127.0.0.1:" + std::to_string(closedPort),
       "", TransferFailure::kConnection},
      {"an authority the system does not know", server.url("/"), "", TransferFailure::kCertificate},
      {"a bundle that cannot be read", server.url("/"), junk, TransferFailure::kCertificate},
      {"SSL_CERT_FILE names a bundle that trusts it", server.url("/"), bundle,
       TransferFailure::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaBundle trusted(c.caFile);
    ComHttp http = newClient();
    const Text body = http.fetchPage(c.url, {.timeoutSeconds = 5});
    EXPECT_EQ(http.lastFailure(), c.failure);
    EXPECT_EQ(body, c.failure == TransferFailure::kNone ? "secret" : "");
  }
  EXPECT_EQ(server.requestCount(), 1u);
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
