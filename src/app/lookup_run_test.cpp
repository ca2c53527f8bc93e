// Whole look-ups through the real window against the fake services.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "app/desktop_glue.h"
#include "app/main_window.h"
#include "platform/code_page.h"
#include "settings/settings_store.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using apptest::MessageBoxRecorder;
using apptest::ScratchProgramFolder;
using testing::FakeAddress;
using testing::FakeServices;
using testing::FakeSite;

std::vector<std::string> numberedDomains(const std::string& stem, int count) {
  std::vector<std::string> domains;
  for (int i = 1; i <= count; ++i)
    domains.push_back(stem + std::to_string(i) + ".com");
  return domains;
}

std::string joined(const std::vector<std::string>& domains) {
  std::string text;
  for (const std::string& domain : domains)
    text += (text.empty() ? "" : "\r\n") + domain;
  return text;
}

class LookupRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    store.openSettingsFile(settingsFilePath(programDirectory(), gbk("Qarvo·Dorvane")));
    window = std::make_unique<MainWindow>(&store, fakes.endpoints());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    boxes = std::make_unique<MessageBoxRecorder>();
    // The waits between pages are recorded, not slept; the window still
    // processes its events at each of them.
    window->engine().setWaitHook([this](int milliseconds) {
      waits.push_back(milliseconds);
      captions.push_back(gbkToUtf8(window->caption(control::kStartButton)));
      if (onWait)
        onWait();
      QCoreApplication::processEvents();
    });
  }
  void TearDown() override {
    boxes.reset();
    window.reset();
    setMessageBoxesQuiet(false);
  }

  void clickStart() { QTest::mouseClick(window->control("按钮开始查询"), Qt::LeftButton); }
  // A right-click on a row, as the user makes it: a single query of it.
  void rightClickRow(int row) {
    QTreeWidget* list = window->reportList();
    const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list->viewport(), &menu);
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, at);
  }
  QString status() const { return window->statusLine()->text(); }

  ScratchProgramFolder program;
  FakeServices fakes;
  SettingsStore store;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<MessageBoxRecorder> boxes;
  std::vector<int> waits;
  std::vector<std::string> captions;
  std::function<void()> onWait;
};

TEST_F(LookupRunTest, AWholeRunFillsTheListAndAutoSavesEachAddress) {
  const std::vector<std::string> first = {"alpha-trade.com", "alpha-shop.cn", "alpha.net",
                                          "alpha-mail.org", "alpha.io"};
  fakes.setAddress(FakeSite::kAizhan, "ops@alpha-trade.com", {.domains = first, .perPage = 2});
  fakes.setAddress(FakeSite::kAizhan, "张伟@例子.cn",
                   {.domains = {"zhangwei.cn"}, .gbkPages = true});
  fakes.setAddress(FakeSite::kAizhan, "billing@hostco.net",
                   {.domains = numberedDomains("hostco-", 4), .perPage = 3});
  const std::string folder = program.native("自动保存");
  window->setTag(control::kAutoSaveFolderButton, utf8ToGbk(folder));
  // Entered with blanks around the addresses, one missing from the services.
  window->setTag(control::kInputButton,
                 gbk("ops@alpha-trade.com\r\n  张伟@例子.cn　\r\nnobody@none.org\r\nbilling@"
                     "hostco.net\r\n"));

  boxes->onShow = [&](const MessageBoxRecorder::Call&) {
    // The message comes after the caption is back.
    EXPECT_EQ(window->caption(control::kStartButton), gbk("开始查询"));
  };
  clickStart();

  ASSERT_EQ(boxes->calls.size(), 1u);
  EXPECT_EQ(boxes->calls[0].text, "查询完成！");
  EXPECT_EQ(boxes->calls[0].title, "信息：");
  EXPECT_EQ(boxes->calls[0].style, 0x1040u);
  EXPECT_EQ(window->caption(control::kStartButton), gbk("开始查询"));

  ASSERT_EQ(window->rowCount(), 4);
  EXPECT_EQ(window->cellText(0, 0), "ops@alpha-trade.com");
  EXPECT_EQ(window->cellText(1, 0), gbk("张伟@例子.cn"));
  EXPECT_EQ(window->cellText(2, 0), "nobody@none.org");
  EXPECT_EQ(window->cellText(3, 0), "billing@hostco.net");
  EXPECT_EQ(window->cellText(0, 1), joined(first));
  EXPECT_EQ(window->cellText(1, 1), "zhangwei.cn");
  EXPECT_EQ(window->cellText(2, 1), "");
  EXPECT_EQ(window->cellText(3, 1), joined(numberedDomains("hostco-", 4)));
  EXPECT_EQ(window->rowImage(0), 0);
  EXPECT_EQ(window->rowImage(1), 0);
  EXPECT_EQ(window->rowImage(2), 1);
  EXPECT_EQ(window->rowImage(3), 0);
  // On screen: one line per domain.
  EXPECT_EQ(window->reportList()->topLevelItem(0)->text(1),
            QString::fromStdString(joined(first)).replace("\r\n", "\n"));

  // The caption told the state at each wait: running, then the progress.
  ASSERT_FALSE(captions.empty());
  EXPECT_EQ(captions.front(), "停止查询");
  EXPECT_NE(std::find(captions.begin(), captions.end(), "停止查询\r\n总 4 个，已查 1 个"),
            captions.end());
  EXPECT_NE(std::find(captions.begin(), captions.end(), "停止查询\r\n总 4 个，已查 3 个"),
            captions.end());
  // 300 ms after every page, and the interval of 0 s between pages.
  EXPECT_EQ(std::count(waits.begin(), waits.end(), 300), 3 + 1 + 2);

  // One file per address, named by the trimmed address, holding the cell.
  EXPECT_EQ(apptest::readFile(folder + "/ops@alpha-trade.com.txt"), joined(first));
  EXPECT_EQ(apptest::readFile(folder + "/张伟@例子.cn.txt"), "zhangwei.cn");
  EXPECT_EQ(apptest::readFile(folder + "/nobody@none.org.txt"), "");
  EXPECT_EQ(apptest::readFile(folder + "/billing@hostco.net.txt"),
            joined(numberedDomains("hostco-", 4)));

  // Page 1 without "&page=", page 2 with it; the address percent-encoded.
  std::vector<testing::ServiceRequest> requests = fakes.requests(FakeSite::kAizhan);
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/reverse-whois?q=ops%40alpha-trade.com&t=email");
  EXPECT_EQ(requests[1].target, "/reverse-whois?q=ops%40alpha-trade.com&t=email&page=2");

  if (const char* shot = std::getenv("QARVO_SCREENSHOT")) {
    window->reportList()->setColumnWidth(0, 260);
    QTest::qWait(50);
    ASSERT_TRUE(window->grab().save(QString::fromLocal8Bit(shot)));
  }
}

TEST_F(LookupRunTest, ASecondClickStopsTheRunAfterTheCurrentAddress) {
  for (const char* address : {"a@x.com", "b@x.com", "c@x.com"}) {
    fakes.setAddress(FakeSite::kAizhan, address,
                     {.domains = numberedDomains(std::string(1, address[0]), 6), .perPage = 2});
  }
  window->setTag(control::kInputButton, "a@x.com\r\nb@x.com\r\nc@x.com");
  window->setChecked(control::kAutoSaveCheck, false);
  bool clicked = false;
  onWait = [&] {
    if (!clicked) {
      clicked = true;
      clickStart();  // handled inside the running click
      EXPECT_EQ(window->caption(control::kStartButton), gbk("正在停止.."));
    }
  };
  clickStart();
  EXPECT_EQ(window->caption(control::kStartButton), gbk("开始查询"));
  ASSERT_EQ(boxes->calls.size(), 1u);
  // Stopped after its first page, the address did not complete; the two
  // behind it never started. The message says so, how to retry, and that
  // nothing completed.
  EXPECT_EQ(boxes->calls[0].text,
            "查询结束，没有邮箱查询完成。\r\n其中 1 个邮箱查询失败或未完成（见该行说明），"
            "右击该行可重新查询。\r\n另有 2 个邮箱未查询（查询已提前结束）。"
            "\r\n\r\n是否现在重新查询这 3 个邮箱？");
  EXPECT_EQ(boxes->calls[0].style, 0x1144u);
  // Every address had its row from the start; those never reached say so.
  ASSERT_EQ(window->rowCount(), 3);
  EXPECT_EQ(window->rowImage(2), kImagePending);
  EXPECT_EQ(window->reportList()->topLevelItem(2)->toolTip(0), QStringLiteral("尚未查询"));
  EXPECT_EQ(window->cellText(0, 1), "a1.com\r\na2.com");
  EXPECT_EQ(window->rowImage(0), kImageNotCompleted);
  EXPECT_EQ(window->rowNote(0), gbk("已停止"));
  EXPECT_TRUE(window->engine().queryStopFlag());
}

TEST_F(LookupRunTest, ClosingTheWindowDuringARunAsksThenStopsItAndSaves) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com",
                   {.domains = numberedDomains("a", 8), .perPage = 2});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"b.com"}});
  window->setTag(control::kInputButton, "a@x.com\r\nb@x.com");
  window->setContent(control::kMaxPagesEdit, "7");
  bool closed = false;
  int waitsSeen = 0;
  size_t requestsAtClose = 0;
  onWait = [&] {
    if (++waitsSeen == 1) {
      // 否: the window stays and the run goes on.
      boxes->answers = {mb::kIdNo};
      EXPECT_FALSE(window->close());
      EXPECT_TRUE(window->isVisible());
    } else if (!closed) {
      closed = true;
      EXPECT_TRUE(window->busy());
      boxes->answers = {mb::kIdYes};
      requestsAtClose = fakes.requests(FakeSite::kAizhan).size();
      EXPECT_TRUE(window->close());
    }
  };
  clickStart();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(window->closing());
  EXPECT_FALSE(window->busy());
  EXPECT_FALSE(window->isVisible());
  // Asked each time; then the run ended at once: no further page, the second
  // address never started, and no end message for a window that is gone.
  ASSERT_EQ(boxes->calls.size(), 2u);
  for (const auto& call : boxes->calls) {
    EXPECT_EQ(call.text, "正在查询。关闭窗口将停止查询，是否停止查询并关闭？");
    EXPECT_EQ(call.style & 0xF, mb::kYesNo);
  }
  EXPECT_EQ(fakes.requests(FakeSite::kAizhan).size(), requestsAtClose);
  EXPECT_EQ(window->rowImage(1), kImagePending);
  // The states were saved at the close.
  const std::string saved = gbkToUtf8(apptest::readFile(program.native("Qarvo·Dorvane.ini")));
  EXPECT_NE(saved.find("编辑框最多查询页数=7"), std::string::npos) << saved;
  EXPECT_NE(saved.find("按钮输入.标记=a@x.com┊*┊b@x.com"), std::string::npos) << saved;
  // Later clicks do nothing on a closing window.
  clickStart();
  EXPECT_EQ(fakes.requests(FakeSite::kAizhan).size(), requestsAtClose);
}

TEST_F(LookupRunTest, FailuresAreOfferedAgainAndARightClickQuerySavesAndCounts) {
  const std::string folder = program.native("结果");
  window->setTag(control::kAutoSaveFolderButton, utf8ToGbk(folder));
  const FakeAddress answering{.domains = {"flaky.com"}};
  const FakeAddress failing{.domains = {"flaky.com"}, .emptyAnswers = {{1, 1000}}};
  fakes.setAddress(FakeSite::kAizhan, "good@x.com", {.domains = {"good.com"}});
  fakes.setAddress(FakeSite::kAizhan, "flaky@x.com", failing);
  window->setTag(control::kInputButton, "good@x.com\r\nflaky@x.com");

  // 否: the failed row stays as it is, and counts as failed.
  boxes->answers = {mb::kIdNo};
  clickStart();
  ASSERT_EQ(boxes->calls.size(), 1u);
  EXPECT_EQ(boxes->calls[0].text,
            "查询完成！\r\n其中 1 个邮箱查询失败或未完成（见该行说明），右击该行可重新查询。"
            "\r\n\r\n是否现在重新查询这 1 个邮箱？");
  EXPECT_EQ(boxes->calls[0].style, 0x1144u);
  EXPECT_EQ(window->rowImage(1), kImageNotCompleted);
  EXPECT_TRUE(status().contains(QStringLiteral("已找到 1 个，无结果 0 个，失败 1 个")))
      << status().toStdString();

  // The right-click the message advises, now answered: saved as a run saves
  // it, and no longer counted as failed.
  fakes.setAddress(FakeSite::kAizhan, "flaky@x.com", answering);
  rightClickRow(1);
  EXPECT_EQ(window->rowImage(1), kImageFound);
  EXPECT_EQ(apptest::readFile(folder + "/flaky@x.com.txt"), "flaky.com");
  EXPECT_TRUE(status().startsWith(
      QStringLiteral("flaky@x.com 查询结束，结果已保存到 %1").arg(QString::fromStdString(folder))))
      << status().toStdString();
  EXPECT_TRUE(status().contains(QStringLiteral("已找到 2 个，无结果 0 个，失败 0 个")))
      << status().toStdString();

  // 是: a run of just the row that failed; the other keeps its result.
  fakes.setAddress(FakeSite::kAizhan, "flaky@x.com", failing);
  std::remove((folder + "/flaky@x.com.txt").c_str());
  boxes->calls.clear();
  boxes->answers = {mb::kIdYes};
  boxes->onShow = [&](const MessageBoxRecorder::Call& call) {
    if (call.style != 0x1144u)
      return;
    fakes.clearRequests();
    fakes.setAddress(FakeSite::kAizhan, "flaky@x.com", answering);
  };
  clickStart();
  ASSERT_EQ(boxes->calls.size(), 2u);
  EXPECT_EQ(boxes->calls[1].text, "查询完成！");
  std::vector<std::string> asked;
  for (const auto& request : fakes.requests(FakeSite::kAizhan))
    asked.push_back(request.param("q"));
  EXPECT_EQ(asked, std::vector<std::string>{"flaky@x.com"});
  EXPECT_EQ(window->cellText(0, 1), "good.com");
  EXPECT_EQ(apptest::readFile(folder + "/flaky@x.com.txt"), "flaky.com");
}

TEST_F(LookupRunTest, ALookUpThatDoesNotWindDownAfterTheCloseEndsTheProcess) {
  fakes.setAddress(FakeSite::kAizhan, "a@x.com",
                   {.domains = numberedDomains("a", 4), .perPage = 2});
  window->setTag(control::kInputButton, "a@x.com");
  std::atomic<bool> ended{false};
  window->setCloseWatchdog([&ended] { ended = true; });
  bool closed = false;
  onWait = [&] {
    if (closed)
      return;
    closed = true;
    boxes->answers = {mb::kIdYes};
    EXPECT_TRUE(window->close());
    // A wait that goes on long after the close (a long interval between pages).
    QElapsedTimer clock;
    clock.start();
    while (!ended && clock.elapsed() < 30000)
      QTest::qWait(20);
    EXPECT_TRUE(ended);
    EXPECT_GE(clock.elapsed(), 2500);
  };
  clickStart();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace qarvo
