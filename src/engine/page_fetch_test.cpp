// The way back to http for a service whose https port will not speak TLS, and
// https pages through the fakes' TLS front over one warm connection.
#include "engine/page_fetch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/service_endpoints.h"
#include "testing/fake_services.h"
#include "testing/test_server.h"
#include "testing/tls_front.h"

namespace qarvo {
namespace {

using testing::FakeAddress;
using testing::FakeServices;
using testing::FakeSite;
using testing::TestAuthority;
using testing::TlsFront;

const bool proxyEnvironmentCleared = testing::clearProxyEnvironment();

// An inner fetcher that answers by host and records what it was asked.
struct ScriptedFetcher {
  std::mutex mutex;
  std::vector<std::string> asked;

  PageFetcher fetcher() {
    return [this](const PageRequest& request) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        asked.push_back(request.url);
      }
      const std::string& url = request.url;
      if (url.starts_with("https://refusing.example") || url.starts_with("https://REFUSING"))
        return PageResponse{.failure = TransferFailure::kNoSecureChannel};
      if (url.starts_with("https://badcert.example"))
        return PageResponse{.failure = TransferFailure::kCertificate};
      return PageResponse{.body = "page", .status = 200};
    };
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(asked, {});
  }
};

TEST(HttpFallbackTest, OnlyAPortThatWillNotSpeakTlsFallsBackAndIsToldOnce) {
  ScriptedFetcher inner;
  std::vector<std::string> told;
  PageFetcher fetch =
      withHttpFallback(inner.fetcher(), [&told](const std::string& host) { told.push_back(host); });
  PageFetcher copy = fetch;  // copies share what was learnt
  StopFlag stopped{true};
  struct Step {
    PageFetcher* through;
    PageRequest request;
    std::vector<std::string> asked;
    std::string body;
  } steps[] = {
      {&fetch,
       {.url = "https://refusing.example/a?q=1"},
       {"https://refusing.example/a?q=1", "http://refusing.example/a?q=1"},
       "page"},
      // Later pages of that host go over http at once, whatever the letter case.
      {&copy, {.url = "https://REFUSING.example/b"}, {"http://REFUSING.example/b"}, "page"},
      // A rejected certificate never falls back.
      {&fetch, {.url = "https://badcert.example/"}, {"https://badcert.example/"}, ""},
      {&fetch, {.url = "https://badcert.example/"}, {"https://badcert.example/"}, ""},
      // Other hosts and plain URLs are untouched.
      {&copy, {.url = "https://fine.example/"}, {"https://fine.example/"}, "page"},
      {&copy, {.url = "http://badcert.example/"}, {"http://badcert.example/"}, "page"},
      // A stopped fetch is not asked again.
      {&fetch,
       {.url = "https://refusing.example:8443/", .cancel = &stopped},
       {"https://refusing.example:8443/"},
       ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.request.url);
    EXPECT_EQ((*step.through)(step.request).body, step.body);
    EXPECT_EQ(inner.take(), step.asked);
  }
  EXPECT_EQ(told, std::vector<std::string>{"refusing.example"});

  // A new run tries https again; many fetches at once hear of it once.
  std::atomic<int> notices{0};
  PageFetcher nextRun = withHttpFallback(inner.fetcher(), [&](const std::string&) { ++notices; });
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back(
        [&nextRun] { EXPECT_EQ(nextRun({.url = "https://refusing.example/"}).body, "page"); });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(notices.load(), 1);
}

class SecurePagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TestAuthority::instance().ready());
    setenv("SSL_CERT_FILE", TestAuthority::instance().caFile().c_str(), 1);
    std::vector<std::string> domains;
    for (int i = 0; i < 100; ++i)
      domains.push_back("d" + std::to_string(i) + ".example");
    fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = domains});
    ASSERT_TRUE(fakes.start());
  }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  // The pages of a@b.com through `fetch`; how many came with their domains.
  int walk(const PageFetcher& fetch, const ServiceEndpoints& endpoints, int pages) {
    int good = 0;
    for (int page = 1; page <= pages; ++page) {
      PageResponse response =
          fetch({.url = servicePageUrl(Service::kAizhan, endpoints, "a%40b.com", page),
                 .timeoutSeconds = 5});
      good += response.body.find("d" + std::to_string((page - 1) * 20) + ".example") !=
              std::string::npos;
    }
    return good;
  }

  FakeServices fakes;
};

TEST_F(SecurePagesTest, ARunOfHttpsPagesOpensOneConnectionAndAPlainPortFallsBack) {
  std::vector<std::string> told;
  PageFetcher fetch = withHttpFallback(fetchServicePage,
                                       [&told](const std::string& host) { told.push_back(host); });

  // Over TLS, trusted through SSL_CERT_FILE: five pages, one connection.
  TlsFront front(fakes.hostPort());
  ASSERT_TRUE(front.ready());
  ServiceEndpoints secure = fakes.endpoints();
  secure.scheme = "https";
  secure.aizhanHost = front.hostPort();
  EXPECT_EQ(walk(fetch, secure, 5), 5);
  EXPECT_EQ(front.connectionCount(), 1u);
  EXPECT_EQ(front.secureCount(), 1u);
  EXPECT_TRUE(told.empty());

  // Without the authority the certificate is rejected, and nothing falls back.
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(fetch({.url = servicePageUrl(Service::kAizhan, secure, "a%40b.com", 1)}).failure,
            TransferFailure::kCertificate);
  EXPECT_TRUE(told.empty());

  // https to a port that answers a TLS hello in plain HTTP: said once, and
  // every page still comes.
  TlsFront plainOnly(fakes.hostPort(), 0, {}, false);
  ServiceEndpoints plainPort = fakes.endpoints();
  plainPort.scheme = "https";
  plainPort.aizhanHost = plainOnly.hostPort();
  EXPECT_EQ(walk(fetch, plainPort, 3), 3);
  EXPECT_EQ(told, std::vector<std::string>{plainOnly.hostPort()});
  EXPECT_EQ(plainOnly.secureCount(), 0u);
}

}  // namespace
}  // namespace qarvo
