// Runs of both services against the fake services, and the history a run
// keeps: merged results, each service at its own pace, one service short
// while the other completes, stop, and what changed since the last look-up.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "engine/engine_test_support.h"
#include "engine/lookup_core.h"
#include "engine/lookup_history.h"
#include "engine/sqlite_database.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using testing::FakeAddress;
using testing::FakeServices;
using testing::FakeSite;

TEST(MergeAnswersTest, TheUnionKeepsWhoListedWhatAndBlamesTheServiceThatFellShort) {
  auto answer = [](LookupOutcome outcome, Text domains, FailureReason reason = {}, int pages = 1) {
    LookupResult r;
    r.outcome = outcome;
    r.domains = std::move(domains);
    r.reason = reason;
    r.pages = pages;
    r.failedPage = reason == FailureReason::kNone ? 0 : pages + 1;
    return r;
  };
  using O = LookupOutcome;
  using R = FailureReason;
  struct Case {
    const char* name;
    LookupResult aizhan, chinaz;
    O outcome;
    Text domains;
    std::vector<unsigned char> sources;
    const char* reason;  // mergedReasonName
    const char* note;    // UTF-8
  };
  const std::vector<Case> cases = {
      {"both found, one shared (case aside)",
       answer(O::kFound, "a.com\r\nShared.com"),
       answer(O::kFound, "shared.COM\r\nc.com"),
       O::kFound,
       "a.com\r\nShared.com\r\nc.com",
       {kFromAizhan, kFromBoth, kFromChinaz},
       "",
       ""},
      {"both none",
       answer(O::kNone, "", {}, 0),
       answer(O::kNone, "", {}, 0),
       O::kNone,
       "",
       {},
       "",
       ""},
      {"站长 needs a sign-in past page 10",
       answer(O::kFound, "a.com"),
       answer(O::kIncomplete, "c.com", R::kSignInMissing, 10),
       O::kIncomplete,
       "a.com\r\nc.com",
       {kFromAizhan, kFromChinaz},
       "chinaz: sign-in needed",
       "站长：第 11 页查询失败：需要登录"},
      {"爱站 refused, 站长 none",
       answer(O::kFailed, "", R::kConnection, 0),
       answer(O::kNone, "", {}, 0),
       O::kIncomplete,
       "",
       {},
       "aizhan: connection failed",
       "爱站：查询失败：连接失败"},
      {"both refused",
       answer(O::kFailed, "", R::kConnection, 0),
       answer(O::kFailed, "", R::kConnection, 0),
       O::kFailed,
       "",
       {},
       "connection failed",
       "查询失败：连接失败"},
      {"one stopped",
       answer(O::kFound, "a.com"),
       answer(O::kStopped, "", R::kStopped, 0),
       O::kStopped,
       "a.com",
       {kFromAizhan},
       "stopped",
       "已停止"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LookupResult merged = mergeAnswers(c.aizhan, c.chinaz);
    EXPECT_EQ(merged.outcome, c.outcome);
    EXPECT_EQ(merged.domains, c.domains);
    EXPECT_EQ(merged.sources, c.sources);
    EXPECT_EQ(mergedReasonName(merged), c.reason);
    EXPECT_EQ(gbkToUtf8(outcomeNote(merged)), c.note);
    ASSERT_EQ(merged.answers.size(), 2u);
    EXPECT_EQ(merged.answers[1].service, Service::kChinaz);
  }
}

// Hears the run; every call must come on the thread that runs it.
class Recorder : public LookupListener {
 public:
  void progress(const LookupProgress& event) override {
    checkThread();
    if (event.stage == LookupProgress::Stage::kAddressEnded)
      ended[event.index] = *event.result;
    if (event.stage == LookupProgress::Stage::kPartEnded)
      ++partsEnded;
    if (event.stage == LookupProgress::Stage::kNotice)
      notices.push_back(gbkToUtf8(event.notice));
    if (event.stage == LookupProgress::Stage::kFetching && stopAtFirstFetch)
      *stopAtFirstFetch = true;
  }
  void throttled(const ServiceDescription& service) override {
    checkThread();
    throttledBy.push_back(service.key);
  }
  void checkThread() {
    if (std::this_thread::get_id() != runner)
      ++offThread;
  }

  std::thread::id runner = std::this_thread::get_id();
  std::map<int, LookupResult> ended;  // by 1-based position
  int partsEnded = 0;
  int offThread = 0;
  std::vector<std::string> notices;
  std::vector<std::string> throttledBy;
  StopFlag* stopAtFirstFetch = nullptr;
};

class BothServicesRunTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(started); }

  RunTallies run(std::vector<Text> addresses) {
    request.addresses = std::move(addresses);
    LookupContext context{.services = services,
                          .clock = clock,
                          .listener = recorder,
                          .session = session,
                          .stop = stop,
                          .keepPages = false,
                          .history = history.isOpen() ? &history : nullptr};
    return runLookups(request, context);
  }
  Text domainsOf(int position) { return recorder.ended.at(position).domains; }

  FakeServices fakes;
  bool started = fakes.start();
  ServiceDescriptions services{builtInDescription(Service::kAizhan, fakes.endpoints()),
                               builtInDescription(Service::kChinaz, fakes.endpoints())};
  LookupRequest request{.both = true, .pageLimit = 50};
  MonotonicClock clock;
  Recorder recorder;
  LookupSession session;
  StopFlag stop{false};
  LookupHistory history;
  TempDir folder;
};

TEST_F(BothServicesRunTest, EachServiceGoesAtItsOwnPaceAndTheAnswersMerge) {
  // Each service is slow for a different address: side by side, the run
  // takes about as long as one of them, not both.
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a.com", "shared.com"}});
  fakes.setAddress(FakeSite::kChinaz, "a@x.com",
                   {.domains = {"SHARED.com", "c.com"}, .delayMs = 1500});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.delayMs = 1500});
  fakes.setAddress(FakeSite::kChinaz, "b@x.com", {.domains = {"b.com"}});
  request.save = true;
  request.saveFolder = folder.gbkPath();

  const auto started = std::chrono::steady_clock::now();
  const RunTallies tallies = run({"a@x.com", "b@x.com"});
  const auto took = std::chrono::steady_clock::now() - started;

  EXPECT_EQ(tallies.found, 2);
  EXPECT_EQ(domainsOf(1), "a.com\r\nshared.com\r\nc.com");
  EXPECT_THAT(recorder.ended.at(1).sources, ElementsAre(kFromAizhan, kFromBoth, kFromChinaz));
  EXPECT_EQ(fileBytes(folder.gbkPath("a@x.com.txt")), "a.com\r\nshared.com\r\nc.com");
  EXPECT_EQ(fileBytes(folder.gbkPath("b@x.com.txt")), "b.com");
  ASSERT_EQ(tallies.byService.size(), 2u);
  EXPECT_EQ(tallies.byService[0].completed, 2);
  EXPECT_EQ(tallies.byService[0].domains, 2);
  EXPECT_EQ(tallies.byService[1].domains, 3);
  EXPECT_EQ(tallies.sharedDomains, 1);
  EXPECT_EQ(recorder.partsEnded, 4);
  EXPECT_EQ(recorder.offThread, 0);
  // One after the other: 3 s of slow answers alone.
  EXPECT_LT(took, std::chrono::milliseconds(2900));
}

TEST_F(BothServicesRunTest, AThrottledServiceEndsItsSideAndNoMergedResultIsSaved) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a.com"}});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"b.com"}});
  fakes.setAddress(FakeSite::kChinaz, "a@x.com",
                   {.domains = {"c.com"}, .rateLimitedAnswers = {{1, 100}}});
  request.save = true;
  request.saveFolder = folder.gbkPath();
  ASSERT_TRUE(writeWholeFile(folder.gbkPath("b@x.com.txt"), "earlier.com"));

  const RunTallies tallies = run({"a@x.com", "b@x.com"});

  EXPECT_THAT(recorder.throttledBy, ElementsAre("chinaz"));
  EXPECT_TRUE(tallies.endedByThrottle);
  EXPECT_EQ(tallies.incomplete, 2);
  for (int position : {1, 2}) {
    const LookupResult& merged = recorder.ended.at(position);
    EXPECT_EQ(merged.reasonFrom, kFromChinaz);
    EXPECT_EQ(merged.reason, FailureReason::kRateLimited);
  }
  EXPECT_EQ(domainsOf(2), "b.com");  // 爱站's answer stays on screen
  EXPECT_EQ(tallies.saved, 0);
  EXPECT_EQ(fileBytes(folder.gbkPath("b@x.com.txt")), "earlier.com");
  EXPECT_EQ(recorder.offThread, 0);
}

TEST_F(BothServicesRunTest, StopEndsBothSidesWithinHalfASecond) {
  for (FakeSite site : {FakeSite::kAizhan, FakeSite::kChinaz})
    fakes.setAddress(site, "a@x.com", {.domains = {"a.com"}, .delayMs = 5000});
  recorder.stopAtFirstFetch = &stop;
  const auto started = std::chrono::steady_clock::now();
  const RunTallies tallies = run({"a@x.com", "b@x.com"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(500));
  EXPECT_EQ(tallies.stopped, 1);
  EXPECT_EQ(tallies.notReached, 1);
}

TEST_F(BothServicesRunTest, TheHistorySaysWhatChangedAndAnswersWithoutARequest) {
  std::string problem;
  ASSERT_TRUE(history.open(folder.gbkPath("history.sqlite3"), &problem)) << problem;
  request.both = false;
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"old.com", "kept.com"}});
  run({"a@x.com"});
  EXPECT_FALSE(recorder.ended.at(1).history.since);

  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"kept.com", "new.com"}});
  run({"a@x.com"});
  const HistoryNote& note = recorder.ended.at(1).history;
  ASSERT_TRUE(note.since);
  EXPECT_THAT(note.isNew, ElementsAre(0, 1));
  EXPECT_EQ(note.gone, 1);
  ASSERT_EQ(note.firstSeen.size(), 2u);
  EXPECT_LT(note.firstSeen[0], note.firstSeen[1]);

  // Young enough: answered from the history, byte for byte, with no request.
  request.maxAge = std::chrono::hours(1);
  request.save = true;
  request.saveFolder = folder.gbkPath();
  const size_t asked = fakes.requests().size();
  const RunTallies tallies = run({"a@x.com"});
  EXPECT_EQ(fakes.requests().size(), asked);
  EXPECT_EQ(tallies.fromHistory, 1);
  EXPECT_TRUE(recorder.ended.at(1).history.fromHistory);
  EXPECT_EQ(fileBytes(folder.gbkPath("a@x.com.txt")), "kept.com\r\nnew.com");

  // Both services: 爱站 from the history, 站长 asked.
  request.both = true;
  request.save = false;
  fakes.setAddress(FakeSite::kChinaz, "a@x.com", {.domains = {"old.com"}});
  run({"a@x.com"});
  const LookupResult& merged = recorder.ended.at(1);
  EXPECT_EQ(merged.domains, "kept.com\r\nnew.com\r\nold.com");
  EXPECT_FALSE(merged.history.fromHistory);
  EXPECT_TRUE(merged.answers[0].history.fromHistory);
  EXPECT_EQ(fakes.requests().size(), asked + 1);
}

int pumped = 0;

TEST_F(BothServicesRunTest, AHistoryLockedTooLongIsSaidOnceAndTheRunGoesOnAnswering) {
  std::string problem;
  ASSERT_TRUE(history.open(folder.gbkPath("history.sqlite3"), &problem)) << problem;
  SqliteConnection other;  // another program, in the middle of a long write
  ASSERT_TRUE(other.open(folder.utf8Path() + "/history.sqlite3"));
  ASSERT_TRUE(other.execute("BEGIN EXCLUSIVE"));
  request.both = false;
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a.com"}});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"b.com"}});

  const EventPump previous = setEventPump([] { ++pumped; });
  const RunTallies tallies = run({"a@x.com", "b@x.com"});
  setEventPump(previous);

  EXPECT_EQ(tallies.found, 2);
  EXPECT_TRUE(tallies.historyFailed);
  ASSERT_EQ(recorder.notices.size(), 1u);
  EXPECT_TRUE(recorder.notices[0].starts_with("历史记录无法写入")) << recorder.notices[0];
  // The wait for the lock let the window's events through all along.
  EXPECT_GT(pumped, 500);
  other.execute("ROLLBACK");
}

}  // namespace
}  // namespace qarvo
