// The page walk of one address against the loopback fake services.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "engine/lookup_engine.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "testing/fake_main_window_view.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FakeAddress;
using testing::FakeServices;
using testing::FakeSite;
using ::testing::IsEmpty;
using testing::ServiceRequest;

std::vector<std::string> numberedDomains(const std::string& stem, int count) {
  std::vector<std::string> out;
  for (int i = 1; i <= count; ++i)
    out.push_back(stem + std::to_string(i) + ".com");
  return out;
}

Text joined(const std::vector<std::string>& domains, size_t from = 0,
            size_t to = std::string::npos) {
  Text out;
  for (size_t i = from; i < domains.size() && i < to; ++i) {
    if (!out.empty())
      out += "\r\n";
    out += utf8ToGbk(domains[i]);
  }
  return out;
}

std::vector<std::string> targets(const std::vector<ServiceRequest>& requests) {
  std::vector<std::string> out;
  for (const auto& r : requests)
    out.push_back(r.target);
  return out;
}

class QueryAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    engine = std::make_unique<LookupEngine>(view, fakes.endpoints());
    engine->setWaitHook([this](int ms) { waits.push_back(ms); });
  }

  int addRow(const std::string& addressUtf8) { return view.appendRow(utf8ToGbk(addressUtf8), 2); }

  FakeServices fakes;
  FakeMainWindowView view;
  std::unique_ptr<LookupEngine> engine;
  std::vector<int> waits;
};

TEST_F(QueryAddressTest, AizhanPagesAreRequestedWithoutAndThenWithPageNumbers) {
  const auto domains = numberedDomains("a", 5);
  fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = domains, .perPage = 2});
  int row = addRow("a@b.com");
  engine->setServiceCookieText("ignored=1");
  engine->queryAddress(row);

  const auto requests = fakes.requests(FakeSite::kAizhan);
  EXPECT_THAT(targets(requests), ElementsAre("/reverse-whois?q=a%40b.com&t=email",
                                             "/reverse-whois?q=a%40b.com&t=email&page=2",
                                             "/reverse-whois?q=a%40b.com&t=email&page=3"));
  for (const auto& request : requests) {
    EXPECT_EQ(request.header("Cookie"), "");  // 爱站 never gets the 站长 cookie
    EXPECT_FALSE(request.header("X-Forwarded-For").empty());
    EXPECT_EQ(request.header("X-Forwarded-For"), request.header("X-Forward-For"));
  }
  EXPECT_EQ(view.cellText(row, 1), joined(domains));
  EXPECT_EQ(view.rowImage(row), 0);
}

TEST_F(QueryAddressTest, ChinazSendsPageOneAndTheCookieText) {
  const auto domains = numberedDomains("c", 3);
  fakes.setAddress(FakeSite::kChinaz, "c@d.com", {.domains = domains, .perPage = 2});
  view.selectAizhan(false);
  engine->setServiceCookieText("sid=42; x=y");
  int row = addRow("c@d.com");
  engine->queryAddress(row);

  const std::string stem =
      "/reverse?host=c%40d.com&ddlSearchMode=1&st=&startDay=&endDay=&wTimefilter=$wTimefilter&"
      "page=";
  const auto requests = fakes.requests(FakeSite::kChinaz);
  EXPECT_THAT(targets(requests), ElementsAre(stem + "1", stem + "2"));
  for (const auto& request : requests)
    EXPECT_EQ(request.header("Cookie"), "sid=42; x=y");
  EXPECT_EQ(view.cellText(row, 1), joined(domains));
  EXPECT_EQ(view.rowImage(row), 0);
}

TEST_F(QueryAddressTest, PageLimitOfNothingZeroOrOneFetchesOnePage) {
  fakes.setAddress(FakeSite::kAizhan, "p@x.com",
                   {.domains = numberedDomains("p", 6), .perPage = 2});
  for (const char* limit : {"", "0", "1", "abc", "-3"}) {
    fakes.clearRequests();
    view.setContent(control::kMaxPagesEdit, limit);
    int row = addRow("p@x.com");
    engine->queryAddress(row);
    EXPECT_EQ(fakes.requests().size(), 1u) << "limit \"" << limit << "\"";
    EXPECT_EQ(view.cellText(row, 1), "p1.com\r\np2.com");
  }
  fakes.clearRequests();
  view.setContent(control::kMaxPagesEdit, " 2 pages");
  engine->queryAddress(addRow("p@x.com"));
  EXPECT_EQ(fakes.requests().size(), 2u);
}

TEST_F(QueryAddressTest, WalkStopsAtTheAnnouncedTotal) {
  // More domains than the pager admits: only the announced pages are read.
  const auto domains = numberedDomains("t", 8);
  fakes.setAddress(FakeSite::kAizhan, "t@x.com",
                   {.domains = domains, .perPage = 2, .announcedPages = 3});
  view.setContent(control::kMaxPagesEdit, "50");
  int row = addRow("t@x.com");
  engine->queryAddress(row);
  EXPECT_EQ(fakes.requests().size(), 3u);
  EXPECT_EQ(view.cellText(row, 1), joined(domains, 0, 6));
}

TEST_F(QueryAddressTest, APageWithoutDomainsBeforeTheLastAnnouncedOneLeavesItIncomplete) {
  // The pager promises 6 pages, page 3 says there is no data: the service
  // did not show what it announced, so the four domains are not the answer.
  const auto domains = numberedDomains("e", 4);
  fakes.setAddress(FakeSite::kChinaz, "e@x.com",
                   {.domains = domains, .perPage = 2, .announcedPages = 6});
  view.selectAizhan(false);
  int row = addRow("e@x.com");
  const LookupResult result = engine->queryAddress(row);
  EXPECT_EQ(fakes.requests().size(), 3u);
  EXPECT_EQ(result.outcome, LookupOutcome::kIncomplete);
  EXPECT_EQ(result.reason, FailureReason::kEndedEarly);
  EXPECT_EQ(view.cellText(row, 1), joined(domains));
  EXPECT_EQ(view.rowImage(row), kImageNotCompleted);
  EXPECT_EQ(view.rowNote(row), gbk("第 3 页查询失败：结果页提前结束"));
}

TEST_F(QueryAddressTest, NoDataLeavesTheCellEmptyWithImageOne) {
  for (bool aizhan : {true, false}) {
    view.selectAizhan(aizhan);
    int row = addRow("nobody@x.com");
    engine->queryAddress(row);
    EXPECT_EQ(view.cellText(row, 1), "");
    EXPECT_EQ(view.rowImage(row), 1);
  }
  EXPECT_EQ(fakes.requests().size(), 2u);
}

TEST_F(QueryAddressTest, NonAsciiAddressIsSentAsUtf8PercentBytes) {
  const std::string address = "张三@例子.中国";
  for (bool gbkPages : {false, true}) {
    for (bool aizhan : {true, false}) {
      fakes.clearRequests();
      const std::vector<std::string> domains = {"例子.中国", "xn--fiq.com", "zhang.cn"};
      fakes.setAddress(aizhan ? FakeSite::kAizhan : FakeSite::kChinaz, address,
                       {.domains = domains, .gbkPages = gbkPages});
      view.selectAizhan(aizhan);
      int row = addRow(address);
      engine->queryAddress(row);
      ASSERT_EQ(fakes.requests().size(), 1u);
      const ServiceRequest request = fakes.requests()[0];
      EXPECT_NE(request.query.find("=%E5%BC%A0%E4%B8%89%40%E4%BE%8B%E5%AD%90.%E4%B8%AD%E5%9B%BD&"),
                std::string::npos)
          << request.target;
      EXPECT_EQ(view.cellText(row, 1), joined(domains))
          << "gbk " << gbkPages << " aizhan " << aizhan;
    }
  }
}

TEST_F(QueryAddressTest, RowShowsProgressThenTheFullList) {
  const auto domains = numberedDomains("r", 10);
  fakes.setAddress(FakeSite::kAizhan, "r@x.com", {.domains = domains, .perPage = 2});
  view.setContent(control::kIntervalEdit, "0.25");
  std::vector<Text> shown;
  view.onSetCellText = [&](int, int column, const Text& text) {
    if (column == 1)
      shown.push_back(text);
  };
  int row = addRow("r@x.com");
  engine->queryAddress(row);
  EXPECT_THAT(shown, ElementsAre(gbk("查询中.."), joined(domains, 0, 2), gbk("第 2 页 (共 5 页)"),
                                 gbk("第 3 页 (共 5 页)"), gbk("第 4 页 (共 5 页)"),
                                 gbk("第 5 页 (共 5 页)"), joined(domains)));
  // 300 ms after every page, the interval between pages (also after the
  // last one, which the walk only then finds to be the last).
  EXPECT_THAT(waits, ElementsAre(300, 250, 300, 250, 300, 250, 300, 250, 300, 250));
}

TEST_F(QueryAddressTest, IntervalTextIsReadAsSeconds) {
  fakes.setAddress(FakeSite::kAizhan, "i@x.com", {.domains = {"a.com", "b.com"}, .perPage = 1});
  for (const auto& [text, ms] : std::vector<std::pair<const char*, int>>{
           {"1.9999", 1999}, {"abc", 0}, {"", 0}, {"2s", 2000}, {"-1", -1000}}) {
    waits.clear();
    view.setContent(control::kIntervalEdit, text);
    engine->queryAddress(addRow("i@x.com"));
    ASSERT_EQ(waits.size(), 4u);
    EXPECT_EQ(waits[1], std::max(ms, 0)) << text;
  }
}

TEST_F(QueryAddressTest, AizhanRateLimitBeepsPausesAndRetries) {
  const auto domains = numberedDomains("l", 4);
  fakes.setAddress(FakeSite::kAizhan, "l@x.com",
                   {.domains = domains, .perPage = 2, .rateLimitedAnswers = {{2, 2}}});
  int row = addRow("l@x.com");
  engine->queryAddress(row);
  EXPECT_EQ(view.beeps, 2);
  EXPECT_THAT(waits, ElementsAre(300, 0, 5000, 5000, 300, 0));
  EXPECT_EQ(fakes.requests().size(), 4u);
  EXPECT_EQ(view.cellText(row, 1), joined(domains));
  EXPECT_THAT(view.messageBoxes, IsEmpty());
}

TEST_F(QueryAddressTest, AizhanGivesUpAfterTenAttempts) {
  fakes.setAddress(FakeSite::kAizhan, "l@x.com",
                   {.domains = {"a.com"}, .rateLimitedAnswers = {{1, 50}}});
  int row = addRow("l@x.com");
  const LookupResult result = engine->queryAddress(row);
  EXPECT_EQ(fakes.requests().size(), 10u);
  EXPECT_EQ(view.beeps, 10);
  // Throttled to the end: the service said nothing about the address.
  EXPECT_EQ(result.outcome, LookupOutcome::kFailed);
  EXPECT_EQ(result.reason, FailureReason::kRateLimited);
  EXPECT_EQ(result.failedPage, 1);
  EXPECT_EQ(view.cellText(row, 1), gbk("查询失败：查询过于频繁"));
  EXPECT_EQ(view.rowNote(row), gbk("查询失败：查询过于频繁"));
  EXPECT_EQ(view.rowImage(row), kImageNotCompleted);
}

TEST_F(QueryAddressTest, EmptyAnswersAreRetriedAtOnce) {
  fakes.setAddress(FakeSite::kChinaz, "n@x.com", {.domains = {"a.com"}, .emptyAnswers = {{1, 3}}});
  view.selectAizhan(false);
  int row = addRow("n@x.com");
  engine->queryAddress(row);
  EXPECT_EQ(fakes.requests().size(), 4u);
  EXPECT_THAT(waits, ElementsAre(300, 0));  // no pause between the attempts
  EXPECT_EQ(view.cellText(row, 1), "a.com");
}

TEST_F(QueryAddressTest, ChinazRateLimitShowsTheMessageAndSetsTheStopFlag) {
  const auto domains = numberedDomains("z", 6);
  fakes.setAddress(FakeSite::kChinaz, "z@x.com",
                   {.domains = domains, .perPage = 2, .rateLimitedAnswers = {{2, 1}}});
  view.selectAizhan(false);
  int row = addRow("z@x.com");
  const LookupResult result = engine->queryAddress(row);
  EXPECT_EQ(fakes.requests().size(), 2u);  // no retry
  EXPECT_EQ(result.outcome, LookupOutcome::kIncomplete);
  EXPECT_EQ(result.reason, FailureReason::kRateLimited);
  EXPECT_EQ(result.pages, 1);
  EXPECT_EQ(result.failedPage, 2);
  EXPECT_EQ(view.rowNote(row), gbk("第 2 页查询失败：查询过于频繁"));
  EXPECT_EQ(view.rowImage(row), kImageNotCompleted);
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text,
            gbk("chinaz.com查询过于频繁，暂时无法采集！请等半小时后查看能查询时，"
                "再根据情况设置间隔秒，如3秒尝试"));
  EXPECT_EQ(view.messageBoxes[0].title, gbk("信息："));
  EXPECT_EQ(view.messageBoxes[0].style, mb::kOk | mb::kTaskModal);
  EXPECT_TRUE(engine->queryStopFlag());
  EXPECT_EQ(view.cellText(row, 1), joined(domains, 0, 2));
  EXPECT_EQ(view.beeps, 0);
}

TEST_F(QueryAddressTest, ARightClickAfterAStopIsAFreshStart) {
  // A stop (or the 站长 throttle) left the flag raised; the end message then
  // advises a right-click, which must look the address up to the end.
  fakes.setAddress(FakeSite::kAizhan, "s@x.com",
                   {.domains = numberedDomains("s", 6), .perPage = 2, .emptyAnswers = {{1, 2}}});
  engine->setQueryStopFlag(true);
  int row = addRow("s@x.com");
  const LookupResult result = engine->queryAddress(row);
  EXPECT_EQ(fakes.requests().size(), 5u);
  EXPECT_EQ(result.outcome, LookupOutcome::kFound);
  EXPECT_EQ(view.cellText(row, 1), joined(numberedDomains("s", 6)));
  EXPECT_EQ(view.rowImage(row), kImageFound);
  EXPECT_FALSE(engine->queryStopFlag());
}

TEST_F(QueryAddressTest, ChinazAsksForSignInBeforePageEleven) {
  const auto domains = numberedDomains("g", 12);
  fakes.setAddress(FakeSite::kChinaz, "g@x.com", {.domains = domains, .perPage = 1});
  view.selectAizhan(false);
  size_t requestsAtPrompt = 0;
  bool browserShown = false;
  view.onMessageBox = [&](const FakeMainWindowView::MessageBoxCall&) {
    requestsAtPrompt = fakes.requests().size();
    browserShown = view.visible(control::kBrowser);
    view.browserCookie = Text(FakeServices::kSignInCookie);  // the user signs in
    return mb::kIdOk;
  };
  int row = addRow("g@x.com");
  engine->queryAddress(row);

  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text,
            gbk("chinaz.com要求登录才能查询更多页！登录完成点击确定按钮继续"));
  EXPECT_EQ(view.messageBoxes[0].title, gbk("信息："));
  EXPECT_EQ(view.messageBoxes[0].style, mb::kOk | mb::kSystemModal);
  EXPECT_TRUE(view.messageBoxes[0].ownerless);
  EXPECT_THAT(view.browserUrls, ElementsAre("http://" + fakes.hostPort() + "/"));
  EXPECT_EQ(requestsAtPrompt, 10u);
  EXPECT_TRUE(browserShown);
  EXPECT_FALSE(view.visible(control::kBrowser));
  EXPECT_EQ(engine->serviceCookieText(), FakeServices::kSignInCookie);

  const auto requests = fakes.requests();
  ASSERT_EQ(requests.size(), 12u);
  EXPECT_EQ(requests[9].header("Cookie"), "");
  EXPECT_EQ(requests[10].header("Cookie"), FakeServices::kSignInCookie);
  EXPECT_EQ(requests[11].header("Cookie"), FakeServices::kSignInCookie);
  EXPECT_EQ(view.cellText(row, 1), joined(domains));

  // Signed in once: a later query goes beyond page 10 without asking.
  engine->queryAddress(addRow("g@x.com"));
  EXPECT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(fakes.requests().size(), 24u);
}

TEST_F(QueryAddressTest, SignInDeclinedIsAskedAgainLater) {
  const auto domains = numberedDomains("h", 12);
  fakes.setAddress(FakeSite::kChinaz, "h@x.com", {.domains = domains, .perPage = 1});
  view.selectAizhan(false);
  int row = addRow("h@x.com");
  // The browser has no cookie: page 11 would only bring the sign-in wall.
  const LookupResult result = engine->queryAddress(row);
  EXPECT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(fakes.requests().size(), 10u);
  EXPECT_EQ(result.outcome, LookupOutcome::kIncomplete);
  EXPECT_EQ(result.reason, FailureReason::kSignInMissing);
  EXPECT_EQ(result.failedPage, 11);
  EXPECT_EQ(view.cellText(row, 1), joined(domains, 0, 10));
  EXPECT_EQ(view.rowNote(row), gbk("第 11 页查询失败：需要登录"));
  engine->queryAddress(addRow("h@x.com"));
  EXPECT_EQ(view.messageBoxes.size(), 2u);
}

TEST_F(QueryAddressTest, WithoutABrowserBeyondPageTenTheAddressIsIncompleteAndNothingIsAsked) {
  fakes.setAddress(FakeSite::kChinaz, "h@x.com",
                   {.domains = numberedDomains("h", 12), .perPage = 1});
  view.selectAizhan(false);
  view.browserAvailable = false;
  const LookupResult result = engine->queryAddress(addRow("h@x.com"));
  EXPECT_THAT(view.messageBoxes, IsEmpty());
  EXPECT_FALSE(view.visible(control::kBrowser));
  EXPECT_EQ(fakes.requests().size(), 10u);
  EXPECT_EQ(result.outcome, LookupOutcome::kIncomplete);
  EXPECT_EQ(result.reason, FailureReason::kSignInMissing);
}

TEST_F(QueryAddressTest, RealPauseOfThreeHundredMillisecondsPumpsEvents) {
  engine->setWaitHook(nullptr);
  fakes.setAddress(FakeSite::kAizhan, "w@x.com", {.domains = {"a.com", "b.com"}, .perPage = 1});
  ScopedEventPump pump([] {});
  const auto start = std::chrono::steady_clock::now();
  int row = addRow("w@x.com");
  engine->queryAddress(row);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(600));  // two pages, 300 ms each
  EXPECT_GE(pump.calls(), 60);                         // one pump per 10 ms slice
  EXPECT_EQ(view.cellText(row, 1), "a.com\r\nb.com");
}

TEST_F(QueryAddressTest, RowDeletedMeanwhileIsLeftAlone) {
  fakes.setAddress(FakeSite::kAizhan, "d@x.com",
                   {.domains = numberedDomains("d", 6), .perPage = 2});
  engine->setWaitHook([](int) { processPendingEvents(); });
  int row = addRow("d@x.com");
  ScopedEventPump pump([&] { view.deleteAllRows(); });
  // The look-up goes on to its end and writes nowhere.
  const LookupResult result = engine->queryAddress(row);
  EXPECT_EQ(result.outcome, LookupOutcome::kFound);
  EXPECT_EQ(view.rowCount(), 0);
  EXPECT_EQ(fakes.requests().size(), 3u);
  engine->queryAddress(5);  // no such row
  EXPECT_EQ(fakes.requests().size(), 3u);
}

TEST_F(QueryAddressTest, NestedQueryOfAnotherRowFromAWait) {
  const auto first = numberedDomains("f", 6);
  const auto second = numberedDomains("s", 4);
  fakes.setAddress(FakeSite::kAizhan, "f@x.com", {.domains = first, .perPage = 2});
  fakes.setAddress(FakeSite::kAizhan, "s@x.com", {.domains = second, .perPage = 2});
  engine->setWaitHook([](int) { processPendingEvents(); });
  int rowF = addRow("f@x.com");
  int rowS = addRow("s@x.com");
  bool clicked = false;
  ScopedEventPump pump([&] {
    if (!clicked) {
      clicked = true;  // the user right-clicks the second row
      engine->queryAddress(rowS);
    }
  });
  engine->queryAddress(rowF);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(view.cellText(rowF, 1), joined(first));
  EXPECT_EQ(view.cellText(rowS, 1), joined(second));
  EXPECT_EQ(view.rowImage(rowF), 0);
  EXPECT_EQ(view.rowImage(rowS), 0);
}

TEST_F(QueryAddressTest, HeadingAndBlankCellsAddNothing) {
  // The fake pages carry a "域名" heading and a row of blanks on every page.
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"only.com"}});
  int row = addRow("b@x.com");
  engine->queryAddress(row);
  EXPECT_EQ(view.cellText(row, 1), "only.com");
}

}  // namespace
}  // namespace qarvo
