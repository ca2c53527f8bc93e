#include "testing/fake_services.h"

#include <gtest/gtest.h>

namespace qarvo::testing {
namespace {

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

}  // namespace
}  // namespace qarvo::testing
