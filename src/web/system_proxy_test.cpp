#include "web/system_proxy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/test_server.h"
#include "web/com_http.h"

namespace qarvo {
namespace {

using qarvo::testing::Reply;
using qarvo::testing::TestServer;

// The web tests talk to loopback servers only: no proxy from the environment.
const bool proxyEnvironmentCleared = qarvo::testing::clearProxyEnvironment();

// Sets proxy variables for one test and clears every one of them afterwards.
struct ProxyEnvironment {
  ProxyEnvironment(std::initializer_list<std::pair<const char*, std::string>> values) {
    for (const auto& [name, value] : values)
      setenv(name, value.c_str(), 1);
  }
  ~ProxyEnvironment() { qarvo::testing::clearProxyEnvironment(); }
};

TEST(SystemProxyTest, EachSchemeHasItsOwnVariable) {
  {
    ProxyEnvironment environment(
        {{"http_proxy", "plain:8080"}, {"https_proxy", "secure:8443"}, {"all_proxy", "any:1"}});
    EXPECT_EQ(systemProxyFor("http://qarvo.example/"), "plain:8080");
    EXPECT_EQ(systemProxyFor("HTTPS://qarvo.example/"), "secure:8443");
  }
  {
    // Upper-case spellings, and all_proxy for a scheme without a variable.
    ProxyEnvironment environment({{"HTTPS_PROXY", "secure:8443"}, {"ALL_PROXY", "any:1"}});
    EXPECT_EQ(systemProxyFor("https://qarvo.example/"), "secure:8443");
    EXPECT_EQ(systemProxyFor("http://qarvo.example/"), "any:1");
  }
  {
    // A plain proxy does not carry secure requests.
    ProxyEnvironment environment({{"http_proxy", "plain:8080"}});
    EXPECT_EQ(systemProxyFor("https://qarvo.example/"), "");
    EXPECT_EQ(systemProxyBypass(), "");
  }
}

TEST(SystemProxyTest, BypassListMatchesHostsAndTheirSubdomains) {
  const char* list = "localhost, .internal.example;127.0.0.1 Example.ORG";
  EXPECT_TRUE(proxyBypassed("localhost", list));
  EXPECT_TRUE(proxyBypassed("internal.example", list));
  EXPECT_TRUE(proxyBypassed("a.b.internal.example", list));
  EXPECT_TRUE(proxyBypassed("127.0.0.1", list));
  EXPECT_TRUE(proxyBypassed("www.example.org", list));  // letter case ignored
  EXPECT_FALSE(proxyBypassed("notinternal.example", list));
  EXPECT_FALSE(proxyBypassed("127.0.0.10", list));
  EXPECT_FALSE(proxyBypassed("example.com", list));
  EXPECT_TRUE(proxyBypassed("anything", "*"));
  EXPECT_TRUE(proxyBypassed("[::1]", "::1"));
  EXPECT_FALSE(proxyBypassed("qarvo.example", ""));
  EXPECT_FALSE(proxyBypassed("", "*"));
}

class SystemProxyFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site.reply("/page", Reply{.body = "direct"});
    plainProxy.reply(site.url("/page"), Reply{.body = "via plain proxy"});
    http.createRequest();
  }
  TestServer site;
  TestServer plainProxy;
  TestServer secureProxy;
  ComHttp http;
};

TEST_F(SystemProxyFetchTest, ASecureUrlGoesThroughTheSecureProxy) {
  ProxyEnvironment environment(
      {{"http_proxy", plainProxy.url("")}, {"https_proxy", secureProxy.url("")}});
  // The secure proxy is asked for a tunnel (and refuses it here).
  EXPECT_EQ(http.fetchPage("https://qarvo.example/page", {.timeoutSeconds = 5, .proxy = "IE"}), "");
  ASSERT_EQ(secureProxy.requestCount(), 1u);
  EXPECT_EQ(secureProxy.lastRequest().method, "CONNECT");
  EXPECT_EQ(secureProxy.lastRequest().target, "qarvo.example:443");
  EXPECT_EQ(plainProxy.requestCount(), 0u);

  // A plain URL still takes the plain one.
  http.reset();
  EXPECT_EQ(http.fetchPage(site.url("/page"), {.timeoutSeconds = 5, .proxy = "IE"}),
            "via plain proxy");
  EXPECT_EQ(site.requestCount(), 0u);
}

TEST_F(SystemProxyFetchTest, HostsInNoProxyGoDirect) {
  ProxyEnvironment environment({{"http_proxy", plainProxy.url("")}, {"no_proxy", "127.0.0.1"}});
  EXPECT_EQ(http.fetchPage(site.url("/page"), {.timeoutSeconds = 5, .proxy = "IE"}), "direct");
  // The function-interface fetch reads the same environment.
  EXPECT_EQ(http.fetchVia(2, site.url("/page"), {.timeoutSeconds = 5, .proxy = "IE"}), "direct");
  EXPECT_EQ(plainProxy.requestCount(), 0u);
  EXPECT_EQ(site.requestCount(), 2u);

  unsetenv("no_proxy");
  http.reset();
  EXPECT_EQ(http.fetchVia(2, site.url("/page"), {.timeoutSeconds = 5, .proxy = "IE"}),
            "via plain proxy");
  EXPECT_EQ(plainProxy.requestCount(), 1u);
}

}  // namespace
}  // namespace qarvo
