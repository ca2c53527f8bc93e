// Whole runs over the address list against the loopback fake services.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "engine/engine_test_support.h"
#include "engine/lookup_engine.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "testing/fake_main_window_view.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using ::testing::ElementsAre;
using testing::FakeAddress;
using testing::FakeServices;
using testing::FakeSite;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::vector<std::string> numberedDomains(const std::string& stem, int count) {
  std::vector<std::string> out;
  for (int i = 1; i <= count; ++i)
    out.push_back(stem + std::to_string(i) + ".com");
  return out;
}

Text joined(const std::vector<std::string>& domains) {
  Text out;
  for (const auto& d : domains)
    out += (out.empty() ? "" : "\r\n") + utf8ToGbk(d);
  return out;
}

class RunQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    setProgramDirectory(program.gbkPath());
    engine = std::make_unique<LookupEngine>(view, fakes.endpoints());
    engine->setWaitHook([](int) { processPendingEvents(); });
  }
  void TearDown() override { setProgramDirectory(""); }

  Text caption() const { return view.caption(control::kStartButton); }

  TempDir program;
  TempDir out;
  FakeServices fakes;
  FakeMainWindowView view;
  std::unique_ptr<LookupEngine> engine;
};

TEST_F(RunQueriesTest, FillsEveryRowAndFileForBothServices) {
  struct Case {
    std::string address;
    FakeAddress answer;
  };
  for (bool aizhan : {true, false}) {
    const FakeSite site = aizhan ? FakeSite::kAizhan : FakeSite::kChinaz;
    const std::vector<Case> cases = {
        {"one@x.com", {.domains = numberedDomains("one", 7), .perPage = 3}},
        {"two@y.com", {.domains = numberedDomains("two", 2), .gbkPages = true}},
        {"李四@例子.中国", {.domains = {"例子.中国", "b.cn", "c.cn"}, .perPage = 1}},
        {"none@z.com", {}},
        {"many@x.com", {.domains = numberedDomains("m", 40), .perPage = 4, .gbkPages = true}}};
    for (const auto& c : cases)
      fakes.setAddress(site, c.address, c.answer);
    fakes.clearRequests();
    view.selectAizhan(aizhan);
    view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
    view.setTag(
        control::kInputButton,
        utf8ToGbk(" one@x.com\r\ntwo@y.com \r\n　李四@例子.中国　|none@z.com\r\nmany@x.com\r\n"));
    engine->runQueries();

    ASSERT_EQ(view.rowCount(), 5);
    for (int i = 0; i < 5; ++i) {
      const Case& c = cases[static_cast<size_t>(i)];
      EXPECT_EQ(view.cellText(i, 0), utf8ToGbk(c.address));
      EXPECT_EQ(view.cellText(i, 1), joined(c.answer.domains)) << c.address;
      EXPECT_EQ(view.rowImage(i), c.answer.domains.empty() ? 1 : 0);
      EXPECT_EQ(fileBytes(out.gbkPath(c.address + ".txt")), joined(c.answer.domains)) << c.address;
    }
    EXPECT_EQ(caption(), gbk("开始查询"));
    ASSERT_FALSE(view.messageBoxes.empty());
    EXPECT_EQ(view.messageBoxes.back().text, gbk("查询完成！"));
    EXPECT_EQ(view.messageBoxes.back().title, gbk("信息："));
    EXPECT_EQ(view.messageBoxes.back().style, 0x1040u);
  }
}

TEST_F(RunQueriesTest, CaptionShowsTheProgress) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a.com"}});
  view.setChecked(control::kAutoSaveCheck, false);
  view.setTag(control::kInputButton, "a@x.com|b@x.com|c@x.com");
  std::vector<Text> captions;
  ScopedEventPump pump([&] {
    if (captions.empty() || captions.back() != caption())
      captions.push_back(caption());
  });
  engine->runQueries();
  EXPECT_THAT(captions, ElementsAre(gbk("停止查询"), gbk("停止查询\r\n总 3 个，已查 1 个"),
                                    gbk("停止查询\r\n总 3 个，已查 2 个")));
  EXPECT_EQ(caption(), gbk("开始查询"));
  EXPECT_EQ(view.messageBoxes.size(), 1u);
}

TEST_F(RunQueriesTest, TheClipboardIsTakenOnlyWhenTheUserAgreesAndOnlyItsAddresses) {
  view.setChecked(control::kAutoSaveCheck, false);
  view.clipboard = gbk("会议纪要：周三下午\r\nclip@x.com\r\nhttp://intranet/x\r\n two@x.com \r\n");
  int answer = mb::kIdNo;
  view.onMessageBox = [&](const FakeMainWindowView::MessageBoxCall& call) {
    return (call.style & 0xF) == mb::kYesNo ? answer : mb::kIdOk;
  };
  view.setRows({{"old@x.com", "old.com"}});
  engine->runQueries();  // declined: nothing is sent, the list stays
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(view.messageBoxes[0].text, gbk("剪贴板中有 2 个邮箱地址，是否查询？"));
  EXPECT_EQ(view.messageBoxes[0].style & 0xF, mb::kYesNo);
  EXPECT_THAT(fakes.requests(), IsEmpty());
  EXPECT_THAT(view.columnTexts(0), ElementsAre("old@x.com"));
  EXPECT_EQ(caption(), gbk("开始查询"));

  answer = mb::kIdYes;
  engine->runQueries();
  EXPECT_THAT(view.columnTexts(0), ElementsAre("clip@x.com", "two@x.com"));
  EXPECT_EQ(fakes.requests().size(), 2u);
  EXPECT_EQ(view.messageBoxes.back().text, gbk("查询完成！"));

  view.setTag(control::kInputButton, "tag@x.com");
  const size_t boxes = view.messageBoxes.size();
  engine->runQueries();  // an entered list asks nothing
  EXPECT_THAT(view.columnTexts(0), ElementsAre("tag@x.com"));
  EXPECT_EQ(view.messageBoxes.size(), boxes + 1);
}

TEST_F(RunQueriesTest, NothingToQuerySaysSoAndLeavesTheListAlone) {
  struct Case {
    std::string entered, clipboard, message;  // UTF-8
  };
  const std::vector<Case> cases = {
      {"", "只是一段文字", "剪贴板中也没有邮箱地址"},
      // An entered list is read even when the clipboard has an address.
      {"a;b\r\nzhang(at)x.cn\r\n", "x@y.com", "输入的邮箱列表中没有邮箱地址"},
  };
  for (const Case& c : cases) {
    view.messageBoxes.clear();
    view.setRows({{"old@x.com", "old.com"}});
    view.setTag(control::kInputButton, gbk(c.entered));
    view.clipboard = gbk(c.clipboard);
    engine->runQueries();
    EXPECT_EQ(view.rowCount(), 1);
    EXPECT_THAT(fakes.requests(), IsEmpty());
    ASSERT_EQ(view.messageBoxes.size(), 1u);
    EXPECT_NE(view.messageBoxes[0].text.find(gbk(c.message)), Text::npos) << c.message;
    EXPECT_EQ(caption(), gbk("开始查询"));
  }
}

TEST_F(RunQueriesTest, OnlyAddressesAreSentEachOnceAndTheStatusLineIsToldWhatWasDropped) {
  view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
  const std::string tooLong = std::string(250, 'x') + "@x.com";
  view.setTag(control::kInputButton, gbk("a@x.com||\t b@x.com\r\n   \r\nno-at-sign\r\n" + tooLong +
                                         "\r\nc@x.com; A@X.com\r\n王五 <d@x.com>"));
  std::vector<Text> notices;
  engine->setProgressListener([&](const LookupProgress& p) {
    if (p.stage == LookupProgress::Stage::kNotice)
      notices.push_back(p.notice);
  });
  engine->runQueries();
  // A line without an address is no row.
  EXPECT_THAT(view.columnTexts(0), ElementsAre("a@x.com", "b@x.com", "c@x.com", "d@x.com"));
  ASSERT_EQ(fakes.requests().size(), 4u);
  EXPECT_EQ(fakes.requests()[3].param("q"), "d@x.com");
  EXPECT_THAT(notices, ElementsAre(gbk("已读取 4 个邮箱（去掉重复 1 个，跳过没有邮箱的 2 行）")));
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(out.utf8Path())) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_THAT(files, ElementsAre("a@x.com.txt", "b@x.com.txt", "c@x.com.txt", "d@x.com.txt"));
  EXPECT_EQ(view.messageBoxes.back().text, gbk("查询完成！"));
}

TEST_F(RunQueriesTest, AutoSaveDefaultsToTheResultFolderBesideTheProgram) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a.com", "b.com"}});
  view.setTag(control::kInputButton, "a@x.com");
  engine->runQueries();
  EXPECT_EQ(fileBytes(program.gbkPath("查询结果/a@x.com.txt")), "a.com\r\nb.com");
}

TEST_F(RunQueriesTest, AutoSaveOffWritesNothing) {
  view.setChecked(control::kAutoSaveCheck, false);
  view.setTag(control::kInputButton, "a@x.com");
  engine->runQueries();
  EXPECT_FALSE(fs::exists(program.utf8Path() + "/查询结果"));
}

TEST_F(RunQueriesTest, UnsafeAddressesAreNotSaved) {
  // No address picked from a line can leave the folder: the path around it
  // is not part of it.
  fakes.setAddress(FakeSite::kAizhan, "escape@x.com", {.domains = {"e.com"}});
  const Text folder = out.gbkPath("results");
  view.setTag(control::kAutoSaveFolderButton, folder);
  view.setTag(control::kInputButton, "../escape@x.com|..|a/b@x.com|ok@x.com");
  engine->runQueries();
  EXPECT_THAT(view.columnTexts(0), ElementsAre("escape@x.com", "b@x.com", "ok@x.com"));
  EXPECT_EQ(view.cellText(0, 1), "e.com");
  EXPECT_FALSE(fs::exists(out.utf8Path() + "/escape@x.com.txt"));
  EXPECT_FALSE(fs::exists(out.utf8Path() + "/results.txt"));
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(out.utf8Path())) {
    files.push_back(fs::relative(entry.path(), out.utf8Path()).string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_THAT(files, ElementsAre("results", "results/b@x.com.txt", "results/escape@x.com.txt",
                                 "results/ok@x.com.txt"));
}

TEST_F(RunQueriesTest, SecondClickStopsAfterThePageInProgress) {
  for (const char* a : {"a@x.com", "b@x.com", "c@x.com"}) {
    fakes.setAddress(FakeSite::kAizhan, a,
                     {.domains = numberedDomains(std::string(a, 1), 6), .perPage = 2});
  }
  view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
  view.setTag(control::kInputButton, "a@x.com\r\nb@x.com\r\nc@x.com");
  Text captionAfterClick;
  ScopedEventPump pump([&] {
    // The user clicks the button again in the pause after page 1 of the
    // second address.
    if (view.cellText(1, 1) == "b1.com\r\nb2.com" && captionAfterClick.empty()) {
      engine->runQueries();
      captionAfterClick = caption();
    }
  });
  engine->runQueries();
  EXPECT_EQ(captionAfterClick, gbk("正在停止.."));
  EXPECT_EQ(view.rowCount(), 3);
  EXPECT_EQ(view.rowImage(2), kImagePending);
  EXPECT_EQ(fakes.requests().size(), 4u);
  EXPECT_EQ(view.cellText(0, 1), joined(numberedDomains("a", 6)));
  // The stopped address keeps its first page on screen, but two of six
  // domains are no result to save; the third address never ran.
  EXPECT_EQ(view.cellText(1, 1), "b1.com\r\nb2.com");
  EXPECT_EQ(view.rowImage(1), kImageNotCompleted);
  EXPECT_EQ(view.rowNote(1), gbk("已停止"));
  EXPECT_EQ(fileBytes(out.gbkPath("b@x.com.txt")), "<missing>");
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), joined(numberedDomains("a", 6)));
  EXPECT_EQ(caption(), gbk("开始查询"));
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(
      view.messageBoxes[0].text,
      gbk("查询完成！\r\n其中 1 个邮箱查询失败或未完成（见该行说明），右击该行可重新查询。"
          "\r\n另有 1 个邮箱未查询（查询已提前结束）。\r\n\r\n是否现在重新查询这 2 个邮箱？"));

  // A right-click query, as the message advises, is a fresh start.
  fakes.clearRequests();
  EXPECT_EQ(engine->queryAddress(1).outcome, LookupOutcome::kFound);
  EXPECT_EQ(fakes.requests().size(), 3u);
  // The next run clears it.
  engine->runQueries();
  EXPECT_FALSE(engine->queryStopFlag());
  EXPECT_EQ(view.rowCount(), 3);
  EXPECT_EQ(view.cellText(2, 1), joined(numberedDomains("c", 6)));
}

TEST_F(RunQueriesTest, StopDuringASlowPageEndsTheFetchInFlightAtOnce) {
  engine->setWaitHook(nullptr);
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a.com"}});
  fakes.setAddress(FakeSite::kAizhan, "slow@x.com", {.domains = {"s.com"}, .delayMs = 4000});
  ASSERT_TRUE(writeWholeFile(out.gbkPath("slow@x.com.txt"), "earlier.com"));
  view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
  view.setTag(control::kInputButton, "a@x.com\r\nslow@x.com\r\nc@x.com");
  Clock::time_point clicked{};
  ScopedEventPump pump([&] {
    // The user clicks stop while the slow page is being fetched.
    if (clicked == Clock::time_point{} && fakes.requests().size() == 2 &&
        view.cellText(1, 1) == gbk("查询中..")) {
      clicked = Clock::now();
      engine->runQueries();
    }
  });
  engine->runQueries();
  const double stopSeconds = std::chrono::duration<double>(Clock::now() - clicked).count();
  ASSERT_NE(clicked, Clock::time_point{});
  EXPECT_LT(stopSeconds, 0.5);
  EXPECT_EQ(view.rowCount(), 3);
  EXPECT_EQ(view.cellText(1, 1), gbk("已停止"));
  EXPECT_EQ(view.rowImage(1), kImageNotCompleted);
  EXPECT_EQ(fileBytes(out.gbkPath("slow@x.com.txt")), "earlier.com");
  EXPECT_EQ(caption(), gbk("开始查询"));
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_EQ(
      view.messageBoxes[0].text,
      gbk("查询完成！\r\n其中 1 个邮箱查询失败或未完成（见该行说明），右击该行可重新查询。"
          "\r\n另有 1 个邮箱未查询（查询已提前结束）。\r\n\r\n是否现在重新查询这 2 个邮箱？"));
}

TEST_F(RunQueriesTest, ProgressReportsTellTheStatusOfTheRun) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com",
                   {.domains = numberedDomains("a", 3), .perPage = 2});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.emptyAnswers = {{1, 10}}});
  view.setChecked(control::kAutoSaveCheck, false);
  view.setTag(control::kInputButton, "a@x.com\r\nb@x.com\r\nnone@x.com");
  std::vector<std::string> seen;
  engine->setProgressListener([&](const LookupProgress& p) {
    using Stage = LookupProgress::Stage;
    std::string line;
    switch (p.stage) {
      case Stage::kRunStarted:
        line = "start " + std::to_string(p.total);
        break;
      case Stage::kFetching:
        line = std::to_string(p.index) + "/" + std::to_string(p.total) + " page " +
               std::to_string(p.page) + "/" + std::to_string(p.totalPages);
        break;
      case Stage::kPausing:
        line = "pause " + std::to_string(p.pauseMs);
        break;
      case Stage::kAddressEnded:
        line = std::string(outcomeName(p.result->outcome)) + " " + std::to_string(p.found) +
               std::to_string(p.none) + std::to_string(p.failed);
        break;
      case Stage::kRunEnded:
        line = "end " + std::to_string(p.found) + std::to_string(p.none) + std::to_string(p.failed);
        break;
      default:  // the row-level steps are not the status line's
        return;
    }
    seen.push_back(line);
  });
  engine->runQueries();
  EXPECT_THAT(seen, ElementsAre("start 3", "1/3 page 1/0", "pause 300", "1/3 page 2/2", "pause 300",
                                "found 100", "2/3 page 1/0", "failed 101", "3/3 page 1/0",
                                "none 111", "end 111"));

  // A right-click query is no part of a run, not even of one under way.
  seen.clear();
  engine->queryAddress(0);
  EXPECT_THAT(seen,
              ElementsAre("0/0 page 1/0", "pause 300", "0/0 page 2/2", "pause 300", "found 111"));
}

TEST_F(RunQueriesTest, ChinazRateLimitEndsTheRun) {
  view.selectAizhan(false);
  fakes.setAddress(FakeSite::kChinaz, "a@x.com", {.domains = {"a.com"}});
  fakes.setAddress(
      FakeSite::kChinaz, "b@x.com",
      {.domains = numberedDomains("b", 4), .perPage = 2, .rateLimitedAnswers = {{2, 1}}});
  fakes.setAddress(FakeSite::kChinaz, "c@x.com", {.domains = {"c.com"}});
  view.setTag(control::kInputButton, "a@x.com\r\nb@x.com\r\nc@x.com");
  view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
  engine->runQueries();
  EXPECT_EQ(view.rowCount(), 3);
  EXPECT_EQ(view.cellText(1, 1), "b1.com\r\nb2.com");
  EXPECT_EQ(view.rowNote(1), gbk("第 2 页查询失败：查询过于频繁"));
  EXPECT_EQ(fileBytes(out.gbkPath("b@x.com.txt")), "<missing>");
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), "a.com");
  ASSERT_EQ(view.messageBoxes.size(), 2u);
  EXPECT_EQ(
      view.messageBoxes[1].text,
      gbk("查询完成！\r\n其中 1 个邮箱查询失败或未完成（见该行说明），右击该行可重新查询。"
          "\r\n另有 1 个邮箱未查询（查询已提前结束）。\r\n\r\n是否现在重新查询这 2 个邮箱？"));
  EXPECT_EQ(caption(), gbk("开始查询"));
}

TEST_F(RunQueriesTest, RunStartedFromAWaitOfASingleQuery) {
  // A right-click query is waiting when the user starts a run: the run
  // empties the list under the single query, which must then leave it alone.
  fakes.setAddress(FakeSite::kAizhan, "single@x.com",
                   {.domains = numberedDomains("s", 4), .perPage = 2});
  fakes.setAddress(FakeSite::kAizhan, "r@x.com", {.domains = {"r.com"}});
  view.setChecked(control::kAutoSaveCheck, false);
  view.setTag(control::kInputButton, "r@x.com");
  int row = view.appendRow("single@x.com", 2);
  bool started = false;
  ScopedEventPump pump([&] {
    if (!started) {
      started = true;
      engine->runQueries();
    }
  });
  engine->queryAddress(row);
  ASSERT_EQ(view.rowCount(), 1);
  EXPECT_EQ(view.cellText(0, 0), "r@x.com");
  EXPECT_EQ(view.cellText(0, 1), "r.com");
}

}  // namespace
}  // namespace qarvo

namespace qarvo {
namespace {

// Pages the program does not recognise, in a run of the window: each ends
// its address as failed or incomplete, never as a result, and an earlier
// file stays; a no-data page is still "none".
TEST_F(RunQueriesTest, PagesTheProgramDoesNotRecogniseNeverBecomeResults) {
  TempDir cache;
  ScopedEnvironment cacheHome("XDG_CACHE_HOME", cache.utf8Path());
  struct Case {
    const char* address;
    FakeAddress answer;
    LookupOutcome outcome;
  };
  const std::vector<Case> cases = {
      {"wall@x.com", {.domains = {"w.com"}, .wallAnswers = {{1, 9}}}, LookupOutcome::kFailed},
      {"forbidden@x.com",
       {.domains = {"f.com"}, .forbiddenAnswers = {{1, 9}}},
       LookupOutcome::kFailed},
      // Not three in a row: the run does not stop to ask about a wall.
      {"nobody@x.com", {}, LookupOutcome::kNone},
      {"gone@x.com", {.domains = {"g.com"}, .notFoundAnswers = {{1, 9}}}, LookupOutcome::kFailed},
      {"shifted@x.com", {.domains = {"s.com"}, .shiftedColumn = true}, LookupOutcome::kFailed},
      {"nobody2@x.com", {}, LookupOutcome::kNone},
      {"midwall@x.com",
       {.domains = numberedDomains("m", 60), .perPage = 20, .wallAnswers = {{2, 9}}},
       LookupOutcome::kIncomplete},
  };
  Text list;
  for (const Case& c : cases) {
    if (c.outcome != LookupOutcome::kNone)
      fakes.setAddress(FakeSite::kAizhan, c.address, c.answer);
    ASSERT_TRUE(writeWholeFile(out.gbkPath(std::string(c.address) + ".txt"), "earlier.com"));
    list += Text(c.address) + "\r\n";
  }
  view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
  view.setTag(control::kInputButton, list);
  engine->runQueries();

  ASSERT_EQ(view.rowCount(), static_cast<int>(cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.address);
    const int row = static_cast<int>(i);
    EXPECT_EQ(view.rowImage(row), outcomeImage(c.outcome));
    const Text file = fileBytes(out.gbkPath(std::string(c.address) + ".txt"));
    if (c.outcome == LookupOutcome::kNone) {
      EXPECT_EQ(file, "");
      continue;
    }
    EXPECT_EQ(file, "earlier.com");
    // The row says why, and where the page the program did not understand is kept.
    EXPECT_NE(view.rowNote(row).find(gbk("页面无法识别（该页面已保存到 ") + cache.gbkPath()),
              Text::npos);
  }
  EXPECT_EQ(view.cellText(6, 1), joined(numberedDomains("m", 20)));
  ASSERT_EQ(view.messageBoxes.size(), 1u);
  EXPECT_NE(view.messageBoxes[0].text.find(gbk("其中 5 个邮箱查询失败或未完成")), Text::npos);
  EXPECT_NE(view.messageBoxes[0].text.find(gbk("无法识别的页面已保存到：") + cache.gbkPath()),
            Text::npos);
}

TEST_F(RunQueriesTest, AWallPassedInTheBrowserLetsTheRunGoOnWithItsCookie) {
  fakes.setWall(FakeSite::kAizhan, true);
  for (const char* a : {"a@x.com", "b@x.com", "c@x.com", "d@x.com"})
    fakes.setAddress(FakeSite::kAizhan, a, {.domains = {std::string(a, 1) + ".com"}});
  TempDir cache;
  ScopedEnvironment cacheHome("XDG_CACHE_HOME", cache.utf8Path());
  view.setChecked(control::kAutoSaveCheck, false);
  view.setTag(control::kInputButton, "a@x.com\r\nb@x.com\r\nc@x.com\r\nd@x.com");
  // The user answers yes, passes the wall in the browser, then confirms.
  view.onMessageBox = [](const FakeMainWindowView::MessageBoxCall& box) {
    return box.style & mb::kYesNo ? mb::kIdYes : mb::kIdOk;
  };
  view.browserCookie = Text(FakeServices::kVerifiedCookie);
  engine->runQueries();
  ASSERT_EQ(view.browserUrls.size(), 1u);
  EXPECT_NE(view.messageBoxes[0].text.find(gbk("连续返回本程序无法识别的页面")), Text::npos);
  EXPECT_NE(view.browserUrls[0].find("/reverse-whois?q=c%40x.com"), std::string::npos);
  EXPECT_THAT(view.columnTexts(1), ElementsAre("a.com", "b.com", "c.com", "d.com"));
  // Asked again and completed: the walls' pages are no longer news.
  EXPECT_EQ(view.messageBoxes.back().text, gbk("查询完成！"));
}

// What a click may do while the engine is busy: each case is a click that
// arrives from an event pumped inside a run, a sort or a save.
class RunPolicyTest : public RunQueriesTest {
 protected:
  void SetUp() override {
    RunQueriesTest::SetUp();
    engine->setProgressListener([this](const LookupProgress& p) {
      if (p.stage == LookupProgress::Stage::kNotice)
        notices.push_back(p.notice);
      if (p.stage == LookupProgress::Stage::kRunEnded)
        endedFolder = p.folder;
    });
    view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
  }

  std::vector<Text> notices;
  Text endedFolder = "unset";
};

TEST_F(RunPolicyTest, ARightClickOnTheRowTheRunIsWorkingOnLosesNothing) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com", {.domains = {"a1.com", "a2.com"}, .perPage = 1});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"b.com"}});
  view.setTag(control::kInputButton, "a@x.com\r\nb@x.com");
  bool clicked = false;
  ScopedEventPump pump([&] {
    // In the pause after the run's first page of a@, the user right-clicks a@.
    if (!clicked && view.cellText(0, 1) == "a1.com") {
      clicked = true;
      EXPECT_EQ(engine->queryAddress(0).outcome, LookupOutcome::kFound);
    }
  });
  engine->runQueries();
  ASSERT_TRUE(clicked);
  EXPECT_THAT(view.columnTexts(1), ElementsAre("a1.com\r\na2.com", "b.com"));
  // The run's own look-up of a@ still counted and was saved.
  EXPECT_EQ(fileBytes(out.gbkPath("a@x.com.txt")), "a1.com\r\na2.com");
  EXPECT_EQ(view.messageBoxes.back().text, gbk("查询完成！"));
}

TEST_F(RunPolicyTest, StartDuringASortIsRefusedAndTheSortKeepsTheNewRows) {
  view.setRows({{"b@x.com", "b.com"}, {"a@x.com", "a.com"}});
  view.setTag(control::kInputButton, "c@x.com");
  bool clicked = false;
  ScopedEventPump pump([&] {
    if (!clicked) {
      clicked = true;
      engine->runQueries();
    }
  });
  EXPECT_TRUE(engine->onResultHeaderClick(0));
  ASSERT_TRUE(clicked);
  EXPECT_THAT(view.columnTexts(0), ElementsAre("a@x.com", "b@x.com"));
  EXPECT_TRUE(view.messageBoxes.empty());  // no "查询完成！" for a run that never ran
  EXPECT_TRUE(fakes.requests().empty());
  EXPECT_THAT(notices, ElementsAre(gbk("正在排序，请稍候再试")));
}

TEST_F(RunPolicyTest, ASortDuringASaveIsRefusedSoEveryRowIsSavedOnce) {
  view.setRows({{"b@x.com", "b.com"}, {"a@x.com", "a.com"}, {"c@x.com", "c.com"}});
  view.folderAnswer = out.gbkPath();
  int sortsAccepted = 0;
  ScopedEventPump pump([&] { sortsAccepted += engine->onResultHeaderClick(1); });
  engine->saveResults();
  EXPECT_EQ(sortsAccepted, 0);
  for (const char* name : {"a", "b", "c"})
    EXPECT_EQ(fileBytes(out.gbkPath(std::string(name) + "@x.com.txt")), std::string(name) + ".com");
  EXPECT_EQ(view.messageBoxes.back().text, gbk("保存OK！\r\n已保存 3 个结果文件。"));
  EXPECT_FALSE(notices.empty());
}

TEST_F(RunPolicyTest, TheRunsEndNamesAFolderOnlyWhenSomethingWasWrittenThere) {
  fakes.setAddress(FakeSite::kAizhan, "down@x.com",
                   {.domains = {"d.com"}, .emptyAnswers = {{1, 99}}});
  view.setTag(control::kInputButton, "down@x.com");
  engine->runQueries();
  EXPECT_EQ(endedFolder, "");
  fakes.setAddress(FakeSite::kAizhan, "up@x.com", {.domains = {"u.com"}});
  view.setTag(control::kInputButton, "up@x.com");
  engine->runQueries();
  EXPECT_EQ(endedFolder, out.gbkPath());
}

}  // namespace
}  // namespace qarvo
