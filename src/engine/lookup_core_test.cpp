// The look-up core without a server or a clock: pages come from a script,
// time from a clock that only moves when the core waits.

#include "engine/lookup_core.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "engine/engine_test_support.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;

// Time stands still until the core waits; every wait is recorded.
class FakeClock : public LookupClock {
 public:
  TimePoint now() override { return now_; }
  void sleepUntil(TimePoint deadline, const StopFlag&) override {
    waits.push_back(std::chrono::duration_cast<milliseconds>(deadline - now_).count());
    now_ = std::max(now_, deadline);
  }
  long long elapsedMs() const {
    return std::chrono::duration_cast<milliseconds>(now_ - TimePoint{}).count();
  }
  std::vector<long long> waits;

 private:
  TimePoint now_{};
};

// 爱站 pages as the service shows them (GBK).
Text resultPage(const std::vector<std::string>& domains, int totalPages) {
  std::string html = "<div class=\"reverse-content\"><table><tr><td>#</td><td>域名</td></tr>";
  for (const std::string& d : domains)
    html += "<tr><td>1</td><td><a href=\"http://" + d + "\">" + d + "</a></td></tr>";
  html += "</table></div>";
  if (totalPages > 1)
    html += "<ul><li><a href=\"/reverse-whois?q=x&t=email&page=" + std::to_string(totalPages) +
            "\"><i class=\"ico-pager-end\"></i></a></li></ul>";
  return utf8ToGbk(html);
}
const Text& noDataPage() {
  static const Text page = gbk("<div class=\"no-data\">未找到相关数据</div>");
  return page;
}
const Text& wallPage() {
  static const Text page = gbk("<html><title>安全验证</title>请完成安全验证后继续访问</html>");
  return page;
}

std::vector<std::string> domainsOf(int page, int count = 2) {
  std::vector<std::string> out;
  for (int i = 1; i <= count; ++i)
    out.push_back("p" + std::to_string(page) + "d" + std::to_string(i) + ".com");
  return out;
}

// Records the events and answers the core's questions as a test sets up.
class Recorder : public LookupListener {
 public:
  void progress(const LookupProgress& event) override {
    if (event.stage == LookupProgress::Stage::kAddressEnded)
      ended.push_back({event.index, *event.result});
    if (event.stage == LookupProgress::Stage::kPausing)
      pauses.push_back(event.pause);
    if (event.stage == LookupProgress::Stage::kNotice)
      notices.push_back(gbkToUtf8(event.notice));
  }
  bool passWall(const ServiceDescription&, const Text& keptPage, const std::string& url,
                Text* cookies) override {
    wallsMet.push_back(url);
    wallKeptPage = keptPage;
    if (wallCookie.empty())
      return false;
    *cookies = wallCookie;
    return true;
  }
  bool waitOffline(milliseconds waitedSoFar, milliseconds next) override {
    offlineWaits.push_back(next.count());
    return waitedSoFar + next <= offlineLimit;
  }

  std::vector<std::pair<int, LookupResult>> ended;
  std::vector<LookupProgress::Pause> pauses;
  std::vector<std::string> notices;
  std::vector<std::string> wallsMet;
  Text wallKeptPage;
  Text wallCookie;
  std::vector<long long> offlineWaits;
  milliseconds offlineLimit{milliseconds::max()};
};

class LookupCoreTest : public ::testing::Test {
 protected:
  // `answer` gets the request number (1-based), the URL and the cookies.
  using Script = std::function<PageResponse(int n, const std::string& url, const Text& cookies)>;

  RunTallies run(std::vector<Text> addresses, Script answer) {
    request.addresses = std::move(addresses);
    LookupContext context{.services = services,
                          .clock = clock,
                          .listener = recorder,
                          .session = session,
                          .stop = stop,
                          .fetch =
                              [&](const PageRequest& page) {
                                urls.push_back(page.url);
                                return answer(static_cast<int>(urls.size()), page.url,
                                              page.cookies ? *page.cookies : Text());
                              },
                          .keepPages = false};
    return runLookups(request, context);
  }
  static PageResponse ok(Text body) { return {.body = std::move(body), .status = 200}; }
  static int pageOf(const std::string& url) {
    const size_t at = url.find("&page=");
    return at == std::string::npos ? 1 : std::atoi(url.c_str() + at + 6);
  }

  ServiceDescriptions services{builtInDescription(Service::kAizhan),
                               builtInDescription(Service::kChinaz)};
  LookupRequest request{.pageLimit = 9999};
  FakeClock clock;
  Recorder recorder;
  LookupSession session;
  StopFlag stop{false};
  std::vector<std::string> urls;
};

TEST_F(LookupCoreTest, ThreeHundredPagesWithTheirPausesTakeNoRealTime) {
  request.intervalMs = 1000;
  const RunTallies tallies = run({"a@x.com"}, [](int, const std::string& url, const Text&) {
    return ok(resultPage(domainsOf(pageOf(url)), 300));
  });
  EXPECT_EQ(tallies.found, 1);
  EXPECT_EQ(urls.size(), 300u);
  const LookupResult& result = recorder.ended.at(0).second;
  EXPECT_EQ(result.pages, 300);
  EXPECT_EQ(result.announcedPages, 300);
  EXPECT_TRUE(result.domains.starts_with("p1d1.com\r\np1d2.com\r\np2d1.com"));
  EXPECT_TRUE(result.domains.ends_with("p300d2.com"));
  // 300 ms and the interval after every page: the page limit was not what
  // ended the walk.
  EXPECT_EQ(clock.elapsedMs(), 300 * (300 + 1000));
  EXPECT_EQ(clock.waits.size(), 600u);
}

TEST_F(LookupCoreTest, OnlyPagesTheProgramRecognisesMakeAResult) {
  struct Case {
    const char* name;
    std::vector<PageResponse> pages;  // in order of request; the last repeats
    LookupOutcome outcome;
    FailureReason reason;
    int pages_read;
    size_t requests;
  };
  const Text first = resultPage(domainsOf(1), 3);
  const Text second = resultPage(domainsOf(2), 3);
  const Text third = resultPage(domainsOf(3), 3);
  const Text shifted = utf8ToGbk(
      "<div class=\"reverse-content\"><table><tr><td>1</td><td>Example Registrar</td>"
      "<td>a.com</td></tr></table></div>");
  const std::vector<Case> cases = {
      {"no data on page 1", {ok(noDataPage())}, LookupOutcome::kNone, FailureReason::kNone, 0, 1},
      {"all three pages",
       {ok(first), ok(second), ok(third)},
       LookupOutcome::kFound,
       FailureReason::kNone,
       3,
       3},
      {"a wall that stays",
       {ok(wallPage())},
       LookupOutcome::kFailed,
       FailureReason::kUnrecognised,
       0,
       2},
      {"a wall once",
       {ok(wallPage()), ok(first), ok(second), ok(third)},
       LookupOutcome::kFound,
       FailureReason::kNone,
       3,
       4},
      {"a wall on page 2",
       {ok(first), ok(wallPage())},
       LookupOutcome::kIncomplete,
       FailureReason::kUnrecognised,
       1,
       3},
      {"no data on page 2 of 3",
       {ok(first), ok(noDataPage())},
       LookupOutcome::kIncomplete,
       FailureReason::kEndedEarly,
       1,
       2},
      {"403 with a body",
       {{.body = gbk("<h1>403 Forbidden</h1>"), .status = 403}},
       LookupOutcome::kFailed,
       FailureReason::kUnrecognised,
       0,
       2},
      {"a shifted column",
       {ok(shifted)},
       LookupOutcome::kFailed,
       FailureReason::kUnrecognised,
       0,
       2},
      {"503 ten times",
       {{.body = gbk("busy"), .status = 503}},
       LookupOutcome::kFailed,
       FailureReason::kServerError,
       0,
       10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    urls.clear();
    recorder.ended.clear();
    run({"a@x.com"}, [&](int n, const std::string&, const Text&) {
      return c.pages[std::min<size_t>(static_cast<size_t>(n), c.pages.size()) - 1];
    });
    ASSERT_EQ(recorder.ended.size(), 1u);
    const LookupResult& result = recorder.ended[0].second;
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(result.pages, c.pages_read);
    EXPECT_EQ(urls.size(), c.requests);
  }
}

TEST_F(LookupCoreTest, AnUnrecognisedPageIsAskedOnceMoreAfterTheUsualPause) {
  request.intervalMs = 2000;
  run({"a@x.com"}, [](int, const std::string&, const Text&) { return ok(wallPage()); });
  EXPECT_EQ(urls.size(), 2u);
  EXPECT_THAT(clock.waits, ElementsAre(2300));
  EXPECT_THAT(recorder.pauses, ElementsAre(LookupProgress::Pause::kRetry));
}

TEST_F(LookupCoreTest, OnlyCompletedResultsAreSavedAndAFailureKeepsTheEarlierFile) {
  TempDir out;
  request.save = true;
  request.saveFolder = out.gbkPath();
  ASSERT_TRUE(writeWholeFile(out.gbkPath("walled@x.com.txt"), "earlier.com"));
  const RunTallies tallies = run({"found@x.com", "walled@x.com", "none@x.com"},
                                 [](int, const std::string& url, const Text&) {
                                   if (url.find("walled") != std::string::npos)
                                     return ok(wallPage());
                                   if (url.find("none") != std::string::npos)
                                     return ok(noDataPage());
                                   return ok(resultPage({"f.com"}, 1));
                                 });
  EXPECT_EQ(tallies.saved, 2);
  EXPECT_EQ(fileBytes(out.gbkPath("found@x.com.txt")), "f.com");
  EXPECT_EQ(fileBytes(out.gbkPath("walled@x.com.txt")), "earlier.com");
  EXPECT_EQ(fileBytes(out.gbkPath("none@x.com.txt")), "");
}

TEST_F(LookupCoreTest, ThreeWalledAddressesAskTheUserAndGoOnWithTheCookieOfThePassedWall) {
  recorder.wallCookie = "fake_verified=yes";
  const RunTallies tallies =
      run({"a@x.com", "b@x.com", "c@x.com", "d@x.com"},
          [](int, const std::string&, const Text& cookies) {
            return ok(cookies == "fake_verified=yes" ? resultPage({"ok.com"}, 1) : wallPage());
          });
  ASSERT_EQ(recorder.wallsMet.size(), 1u);
  EXPECT_NE(recorder.wallsMet[0].find("q=c%40x.com"), std::string::npos);
  EXPECT_EQ(session.aizhanCookies, "fake_verified=yes");
  // The walled three were asked again: every address counts once, as found.
  EXPECT_EQ(tallies.found, 4);
  EXPECT_EQ(tallies.failed, 0);
  EXPECT_EQ(tallies.notReached, 0);
  std::vector<int> endedIndexes;
  for (const auto& [index, result] : recorder.ended)
    endedIndexes.push_back(index);
  EXPECT_THAT(endedIndexes, ElementsAre(1, 2, 3, 1, 2, 3, 4));

  // Refused: the run ends, and says so.
  recorder = Recorder();
  session = LookupSession();
  urls.clear();
  const RunTallies refused =
      run({"a@x.com", "b@x.com", "c@x.com", "d@x.com"},
          [](int, const std::string&, const Text&) { return ok(wallPage()); });
  EXPECT_TRUE(refused.endedByWall);
  EXPECT_EQ(refused.failed, 3);
  EXPECT_EQ(refused.notReached, 1);
  EXPECT_EQ(urls.size(), 6u);
}

TEST_F(LookupCoreTest, WithoutANetworkTheRunWaitsLongerEachTimeAndAsksTheFailedAddressesAgain) {
  const std::vector<Text> list = {"a@x.com", "b@x.com", "c@x.com", "d@x.com"};
  int refusals = 0;
  auto network = [&](int, const std::string&, const Text&) {
    if (refusals-- > 0)
      return PageResponse{.failure = TransferFailure::kConnection};
    return ok(resultPage({"ok.com"}, 1));
  };
  refusals = 3 * 3 * 10;  // three rounds of three addresses, ten attempts each
  const RunTallies tallies = run(list, network);
  EXPECT_THAT(recorder.offlineWaits, ElementsAre(15000, 30000, 60000));
  EXPECT_THAT(recorder.pauses,
              ElementsAre(LookupProgress::Pause::kOffline, LookupProgress::Pause::kOffline,
                          LookupProgress::Pause::kOffline, LookupProgress::Pause::kPage,
                          LookupProgress::Pause::kPage, LookupProgress::Pause::kPage,
                          LookupProgress::Pause::kPage));
  EXPECT_EQ(tallies.found, 4);
  EXPECT_EQ(tallies.failed, 0);

  // A front end that waits at most 20 s: the second wait is refused.
  recorder = Recorder();
  recorder.offlineLimit = milliseconds(20000);
  refusals = 1000;
  const RunTallies gaveUp = run(list, network);
  EXPECT_THAT(recorder.offlineWaits, ElementsAre(15000, 30000));
  EXPECT_TRUE(gaveUp.endedOffline);
  EXPECT_EQ(gaveUp.failed, 3);
  EXPECT_EQ(gaveUp.notReached, 1);
}

TEST_F(LookupCoreTest, AServiceWithoutTlsIsAskedOverHttpForTheRestOfTheRunSaidOnce) {
  for (TransferFailure failure :
       {TransferFailure::kNoSecureChannel, TransferFailure::kCertificate}) {
    SCOPED_TRACE(static_cast<int>(failure));
    recorder = Recorder();
    urls.clear();
    const RunTallies tallies =
        run({"a@x.com", "b@x.com"}, [failure](int, const std::string& url, const Text&) {
          if (url.starts_with("https:"))
            return PageResponse{.failure = failure};
          return ok(resultPage({"ok.com"}, 1));
        });
    if (failure == TransferFailure::kNoSecureChannel) {
      EXPECT_EQ(tallies.found, 2);
      EXPECT_THAT(recorder.notices,
                  ElementsAre("whois.aizhan.com 的 https 端口无法使用，本次查询改用 http"));
      EXPECT_EQ(urls.size(), 3u);  // once over https, then http only
    } else {
      // A rejected certificate is never a reason to send the page in clear.
      EXPECT_EQ(tallies.found, 0);
      EXPECT_TRUE(recorder.notices.empty());
      for (const std::string& url : urls)
        EXPECT_TRUE(url.starts_with("https:")) << url;
    }
  }
}

}  // namespace
}  // namespace qarvo
