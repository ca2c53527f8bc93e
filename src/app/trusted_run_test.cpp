// Runs a user can leave alone: failures are shown and keep earlier files, the
// window answers during a slow fetch, stop ends it at once, and a sort never
// strands a look-up.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHeaderView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "app/app_test_support.h"
#include "app/desktop_glue.h"
#include "app/main_window.h"
#include "platform/code_page.h"
#include "platform/native_file.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using apptest::MessageBoxRecorder;
using apptest::ScratchProgramFolder;
using testing::FakeServices;
using testing::FakeSite;

const char kNotCompletedMessage[] =
    "查询完成！\r\n其中 1 个邮箱查询失败或未完成（见该行说明），右击该行可重新查询。"
    "\r\n\r\n是否现在重新查询这 1 个邮箱？";

class TrustedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    window = std::make_unique<MainWindow>(nullptr, fakes.endpoints());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    boxes = std::make_unique<MessageBoxRecorder>();
    folder = program.native("results");
    std::filesystem::create_directories(folder);
    window->setTag(control::kAutoSaveFolderButton, utf8ToGbk(folder));
  }
  void TearDown() override {
    boxes.reset();
    window.reset();
    setMessageBoxesQuiet(false);
  }

  void clickStart() { QTest::mouseClick(window->control("按钮开始查询"), Qt::LeftButton); }
  bool idle() const { return window->caption(control::kStartButton) == gbk("开始查询"); }
  QTreeWidgetItem* item(int row) const { return window->reportList()->topLevelItem(row); }

  ScratchProgramFolder program;
  FakeServices fakes;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<MessageBoxRecorder> boxes;
  std::string folder;
};

TEST_F(TrustedRunTest, AnAddressThatFailsShowsWhyAndKeepsItsEarlierFile) {
  fakes.setAddress(FakeSite::kAizhan, "good@x.com", {.domains = {"good.com"}});
  fakes.setAddress(FakeSite::kAizhan, "flaky@x.com",
                   {.domains = {"new.com"}, .emptyAnswers = {{1, 10}}});
  ASSERT_TRUE(writeWholeFile(utf8ToGbk(folder + "/flaky@x.com.txt"), "earlier.com"));
  window->engine().setWaitHook([](int) { QCoreApplication::processEvents(); });
  window->setTag(control::kInputButton, "good@x.com\r\nflaky@x.com");
  clickStart();

  ASSERT_TRUE(idle());
  ASSERT_EQ(boxes->calls.size(), 1u);
  EXPECT_EQ(boxes->calls[0].text, kNotCompletedMessage);
  EXPECT_EQ(apptest::readFile(folder + "/good@x.com.txt"), "good.com");
  EXPECT_EQ(apptest::readFile(folder + "/flaky@x.com.txt"), "earlier.com");
  EXPECT_EQ(window->rowImage(1), kImageNotCompleted);
  EXPECT_EQ(item(1)->text(1), QStringLiteral("查询失败：连接失败"));
  EXPECT_TRUE(item(1)->toolTip(0).contains(QStringLiteral("查询失败：连接失败")))
      << item(1)->toolTip(0).toStdString();
}

TEST_F(TrustedRunTest, TheWindowAnswersDuringASlowPageAndStopEndsTheRunAtOnce) {
  fakes.setAddress(FakeSite::kAizhan, "slow@x.com", {.domains = {"s.com"}, .delayMs = 8000});
  ASSERT_TRUE(writeWholeFile(utf8ToGbk(folder + "/slow@x.com.txt"), "earlier.com"));
  window->setTag(control::kInputButton, "slow@x.com\r\nnext@x.com");

  // A timer of the window keeps firing while the page is on its way; a
  // moment into the fetch, the user clicks stop.
  int ticksDuringFetch = 0;
  QElapsedTimer sinceRequest;
  QElapsedTimer sinceStop;
  QTimer ticker;
  ticker.setInterval(20);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (fakes.requests().size() != 1 || sinceStop.isValid())
      return;
    if (!sinceRequest.isValid())
      sinceRequest.start();
    ++ticksDuringFetch;
    if (sinceRequest.elapsed() >= 400) {
      sinceStop.start();
      clickStart();
      EXPECT_EQ(window->caption(control::kStartButton), gbk("正在停止.."));
    }
  });
  ticker.start();
  clickStart();  // returns when the run has ended
  ticker.stop();

  ASSERT_TRUE(sinceStop.isValid());
  EXPECT_GE(ticksDuringFetch, 5);  // the window answered during the fetch
  // Far below the page's eight seconds: the fetch in flight was dropped.
  EXPECT_LT(sinceStop.elapsed(), 2000);
  EXPECT_TRUE(idle());
  ASSERT_EQ(boxes->calls.size(), 1u);
  EXPECT_EQ(boxes->calls[0].text,
            "查询结束，没有邮箱查询完成。\r\n其中 1 个邮箱查询失败或未完成（见该行说明），"
            "右击该行可重新查询。\r\n另有 1 个邮箱未查询（查询已提前结束）。"
            "\r\n\r\n是否现在重新查询这 2 个邮箱？");
  EXPECT_EQ(window->rowCount(), 2);
  EXPECT_EQ(item(0)->text(1), QStringLiteral("已停止"));
  EXPECT_EQ(apptest::readFile(folder + "/slow@x.com.txt"), "earlier.com");
  EXPECT_EQ(fakes.requests().size(), 1u);
}

TEST_F(TrustedRunTest, ASortDuringARightClickQueryIsRefusedAndTheRowGetsItsResult) {
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"b.com"}, .delayMs = 1000});
  window->appendRow("b@x.com", kImagePending);
  window->appendRow("a@x.com", kImagePending);
  window->setCellText(1, 1, "a.com");
  window->setRowImage(1, kImageFound);
  QTreeWidget* list = window->reportList();
  list->setCurrentItem(item(0));

  // The user clicks the 邮箱 column's header while the query waits for its page.
  bool sortClicked = false;
  Text firstAddressAfterClick;
  QTimer ticker;
  ticker.setInterval(20);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (sortClicked || fakes.requests().size() != 1)
      return;
    sortClicked = true;
    emit list->header()->sectionClicked(0);
    firstAddressAfterClick = window->cellText(0, 0);
  });
  ticker.start();
  emit list->customContextMenuRequested(list->visualItemRect(item(0)).center());
  ticker.stop();

  ASSERT_TRUE(sortClicked);
  EXPECT_EQ(firstAddressAfterClick, "b@x.com");  // refused while the query ran
  EXPECT_EQ(window->cellText(0, 1), "b.com");
  EXPECT_EQ(window->rowImage(0), kImageFound);

  // Idle again: the sort goes through, and icons move with their rows.
  window->setRowImage(1, kImageNone);
  emit list->header()->sectionClicked(0);
  EXPECT_EQ(window->cellText(0, 0), "a@x.com");
  EXPECT_EQ(window->rowImage(0), kImageNone);
  EXPECT_EQ(window->cellText(1, 0), "b@x.com");
  EXPECT_EQ(window->rowImage(1), kImageFound);
}

}  // namespace
}  // namespace qarvo
