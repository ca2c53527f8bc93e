// Windows and message boxes opened from events handled inside other event
// loops: the list-entry window closed while input is still queued behind the
// closing key or click, idle and during a look-up that pumps events while its
// pages load slowly. Each must open again when asked and the run must end
// with its message, shown as a real message box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/app_test_support.h"
#include "app/ask_text.h"
#include "app/embedded_browser.h"
#include "app/main_window.h"
#include "platform/code_page.h"
#include "testing/fake_services.h"
#include "testing/fault_router.h"

namespace qarvo {
namespace {

using testing::FakeSite;
using testing::FaultRouter;

enum class Closing { kEscape, kCancel, kTitleBar, kConfirm };

const char* nameOf(Closing how) {
  switch (how) {
    case Closing::kEscape:
      return "Escape";
    case Closing::kCancel:
      return "取消";
    case Closing::kTitleBar:
      return "title bar";
    case Closing::kConfirm:
      return "确定";
  }
  return "";
}

QMessageBox* shownBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->isVisible() && box->windowHandle() != nullptr &&
        box->windowHandle()->isExposed())
      return box;
  }
  return nullptr;
}

class NestedWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    router = std::make_unique<FaultRouter>(fakes.hostPort());
    // Slow pages: each result page comes 150 ms late.
    router->route("reverse", [](FaultRouter::Exchange& exchange) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      exchange.relay();
    });
    window = std::make_unique<MainWindow>(nullptr, router->endpoints());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->setChecked(control::kAutoSaveCheck, false);
    // Two players, so that one still runs while the other waits inside a
    // window it opened.
    for (QTimer* player : {&firstPlayer, &secondPlayer}) {
      QObject::connect(player, &QTimer::timeout, [this] { play(); });
      player->start(5);
    }
  }
  void TearDown() override {
    firstPlayer.stop();
    secondPlayer.stop();
    window.reset();
  }

  // Plays the user: closes each list-entry window the way `closing` says,
  // then (when `clickAgain` holds) clicks 邮箱 at once, from inside the event
  // loop iteration that closed it, as Qt does with a click queued behind the
  // closing key. Answers every message box with Return.
  void play() {
    ListEntryWindow* entry = ListEntryWindow::current();
    if (entry != nullptr && entry->isVisible() && entry->windowHandle() != nullptr &&
        entry->windowHandle()->isExposed() && firstSight(entry)) {
      ++openings;
      // A run under the window waits for it, and says so.
      if (window->engine().lookupActive()) {
        EXPECT_TRUE(window->statusLine()->text().startsWith(QStringLiteral("查询已暂停")))
            << window->statusLine()->text().toStdString();
      }
      shownTexts.push_back(entry->findChild<QPlainTextEdit*>(QStringLiteral("编辑框正文"))
                               ->toPlainText()
                               .toStdString());
      switch (closing) {
        case Closing::kEscape:
          QTest::keyClick(entry->windowHandle(), Qt::Key_Escape);
          break;
        case Closing::kCancel:
          QTest::mouseClick(entry->findChild<QPushButton*>(QStringLiteral("按钮取消")),
                            Qt::LeftButton);
          break;
        case Closing::kTitleBar:
          entry->close();
          break;
        case Closing::kConfirm:
          entry->findChild<QPlainTextEdit*>(QStringLiteral("编辑框正文"))
              ->setPlainText(QString::fromStdString("new" + std::to_string(openings) + "@x.com"));
          QTest::mouseClick(entry->findChild<QPushButton*>(QStringLiteral("按钮确定")),
                            Qt::LeftButton);
          break;
      }
      if (entry->isVisible()) {
        ADD_FAILURE() << nameOf(closing) << " left the window open";
        entry->done(0);
      }
      if (clickAgain && !inFollowUp) {
        inFollowUp = true;
        clickInput();
        inFollowUp = false;
      }
      return;
    }
    answerBox();
  }

  // Answers a shown message box with Return, pressed where the keyboard is:
  // the box must have taken it. One that does not within 5 s is a failure
  // (and is answered by a click, so that the test goes on).
  void answerBox() {
    QMessageBox* box = shownBox();
    if (box == nullptr || box == answering)
      return;
    if (box != waitingBox) {
      waitingBox = box;
      waitingSince.start();
    }
    const bool hasKeyboard = QGuiApplication::focusWindow() == box->windowHandle();
    if (!hasKeyboard && waitingSince.elapsed() < 5000)
      return;
    answering = box;
    waitingBox = nullptr;
    boxes.push_back(box->text().toStdString());
    if (hasKeyboard) {
      QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    } else {
      ADD_FAILURE() << "the box \"" << box->text().toStdString() << "\" never had the keyboard";
      box->button(QMessageBox::Ok)->click();
    }
    answering = nullptr;
  }

  // The windows live on the stack, so a later one may take the same address.
  bool firstSight(QObject* object) {
    if (!handled.insert(object).second)
      return false;
    QObject::connect(object, &QObject::destroyed, [this, object] { handled.erase(object); });
    return true;
  }

  void clickInput() { QTest::mouseClick(window->control("按钮输入"), Qt::LeftButton); }

  // One click on 邮箱 and how many list-entry windows it led to.
  int windowsOpenedByAClick() {
    const int before = openings;
    clickInput();
    EXPECT_EQ(ListEntryWindow::current(), nullptr) << "a window is still taken for open";
    return openings - before;
  }

  void setUpAddresses(int count) {
    std::string list;
    for (int i = 1; i <= count; ++i) {
      const std::string address = "user" + std::to_string(i) + "@x.com";
      fakes.setAddress(
          FakeSite::kAizhan, address,
          {.domains = {"u" + std::to_string(i) + "a.com", "u" + std::to_string(i) + "b.com"},
           .perPage = 1});
      list += address + "\r\n";
    }
    window->setTag(control::kInputButton, list);
  }

  apptest::ScratchProgramFolder program;
  testing::FakeServices fakes;
  std::unique_ptr<FaultRouter> router;
  std::unique_ptr<MainWindow> window;
  QTimer firstPlayer;
  QTimer secondPlayer;
  std::set<const QObject*> handled;
  QMessageBox* waitingBox = nullptr;
  QMessageBox* answering = nullptr;
  QElapsedTimer waitingSince;
  Closing closing = Closing::kEscape;
  bool clickAgain = true;
  bool inFollowUp = false;
  int openings = 0;
  std::vector<std::string> shownTexts;
  std::vector<std::string> boxes;
};

TEST_F(NestedWindowsTest, IdleAClickRightAfterClosingOpensTheWindowAgain) {
  window->setTag(control::kInputButton, "a@x.com\r\nb@x.com");
  for (Closing how : {Closing::kEscape, Closing::kCancel, Closing::kTitleBar}) {
    closing = how;
    for (int round = 1; round <= 20; ++round)
      ASSERT_EQ(windowsOpenedByAClick(), 2) << nameOf(how) << ", round " << round;
  }
  EXPECT_EQ(window->tag(control::kInputButton), "a@x.com\r\nb@x.com");
  EXPECT_EQ(shownTexts.back(), "a@x.com\nb@x.com");

  // Confirmed, the text has yet to reach the button: a window opened then
  // would show the old list and be overwritten by it, so that click is the
  // one still refused. The next one opens with the new list.
  closing = Closing::kConfirm;
  EXPECT_EQ(windowsOpenedByAClick(), 1);
  EXPECT_EQ(window->tag(control::kInputButton), "new121@x.com");
  clickAgain = false;
  closing = Closing::kEscape;
  EXPECT_EQ(windowsOpenedByAClick(), 1);
  EXPECT_EQ(shownTexts.back(), "new121@x.com");
}

TEST_F(NestedWindowsTest, DuringARunTheWindowOpensEveryTimeAndTheRunEndsWithItsMessage) {
  for (Closing how : {Closing::kEscape, Closing::kCancel, Closing::kTitleBar}) {
    SCOPED_TRACE(nameOf(how));
    closing = how;
    boxes.clear();
    setUpAddresses(3);
    const std::string list = gbkToUtf8(window->tag(control::kInputButton));
    int clicks = 0;
    std::vector<int> failedClicks;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
      // From an event the run pumps, while a page loads or between pages.
      if (!window->busy() || clicks >= 20 || ListEntryWindow::current() != nullptr)
        return;
      ++clicks;
      if (windowsOpenedByAClick() != 2)
        failedClicks.push_back(clicks);
    });
    clicker.start(20);
    QTest::mouseClick(window->control("按钮开始查询"), Qt::LeftButton);
    clicker.stop();

    EXPECT_EQ(clicks, 20) << "the run ended before the clicks were done";
    EXPECT_EQ(failedClicks, std::vector<int>{});
    EXPECT_EQ(boxes, std::vector<std::string>{"查询完成！"});
    EXPECT_EQ(window->caption(control::kStartButton), gbk("开始查询"));
    ASSERT_EQ(window->rowCount(), 3);
    EXPECT_EQ(window->cellText(2, 1), "u3a.com\r\nu3b.com");
    EXPECT_EQ(gbkToUtf8(window->tag(control::kInputButton)), list);
    // Idle again, the button still opens the window.
    EXPECT_EQ(windowsOpenedByAClick(), 2);
  }
}

TEST_F(NestedWindowsTest, TheSignInBoxTakesReturnAndEveryRunEndsWithItsMessage) {
  if (embeddedBrowserModulePath(QCoreApplication::applicationDirPath()).isEmpty())
    GTEST_SKIP() << "built without the browser module";
  std::vector<std::string> domains;
  for (int i = 1; i <= 11; ++i)
    domains.push_back("site" + std::to_string(i) + ".cn");
  fakes.setAddress(FakeSite::kChinaz, "boss@corp.cn", {.domains = domains, .perPage = 1});
  window->setChecked(control::kChinazRadio, true);
  window->setContent(control::kMaxPagesEdit, "11");
  window->setTag(control::kInputButton, "boss@corp.cn");
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE(run);
    boxes.clear();
    QTest::mouseClick(window->control("按钮开始查询"), Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "chinaz.com要求登录才能查询更多页！登录完成点击确定按钮继续");
    // Without a sign-in page 11 stays out: the one address did not complete.
    EXPECT_EQ(boxes[1].substr(0, std::string("查询结束，没有邮箱查询完成。").size()),
              "查询结束，没有邮箱查询完成。");
    EXPECT_EQ(window->caption(control::kStartButton), gbk("开始查询"));
    EXPECT_FALSE(window->visible(control::kBrowser));
  }
  // The list button still works after all that.
  EXPECT_EQ(windowsOpenedByAClick(), 2);
}

}  // namespace
}  // namespace qarvo
