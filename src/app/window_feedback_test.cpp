// The window as a user meets it: every line of a tall row reachable, sorting
// that keeps the selection, number boxes that refuse letters, a status line
// that says what a run is doing, Chinese standard buttons, and checked input.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "app/ask_text.h"
#include "app/desktop_glue.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/translations.h"
#include "platform/code_page.h"
#include "settings/settings_store.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using apptest::MessageBoxRecorder;
using apptest::ScratchProgramFolder;
using apptest::waitUntil;
using testing::FakeServices;
using testing::FakeSite;

std::string numbered(const std::string& stem, int count) {
  std::string text;
  for (int i = 1; i <= count; ++i)
    text += (text.empty() ? "" : "\r\n") + stem + std::to_string(i) + ".com";
  return text;
}

std::vector<std::string> numberedList(const std::string& stem, int count) {
  std::vector<std::string> domains;
  for (int i = 1; i <= count; ++i)
    domains.push_back(stem + std::to_string(i) + ".com");
  return domains;
}

class ShownWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>(nullptr);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    list = window->reportList();
  }
  std::unique_ptr<MainWindow> window;
  QTreeWidget* list = nullptr;
};

TEST_F(ShownWindow, EveryDomainOfATallRowCanBeScrolledIntoViewAndCopied) {
  window->appendRow("short@a.com", 0);
  window->setCellText(0, 1, "a.com");
  const int tall = window->appendRow("many@b.com", 0);
  window->setCellText(tall, 1, numbered("many-", 45));
  QTreeWidgetItem* item = list->topLevelItem(tall);
  ASSERT_GT(list->visualItemRect(item).height(), list->viewport()->height())
      << "the row must be taller than the list for this test";

  // To the end of the bar: the bottom of the tall row, its 45th domain, is
  // inside the list (a bar that moves by whole rows stops at the row's top).
  QScrollBar* bar = list->verticalScrollBar();
  bar->setValue(bar->maximum());
  QApplication::processEvents();
  EXPECT_LE(list->visualItemRect(item).bottom(), list->viewport()->height());
  EXPECT_GE(list->visualItemRect(item).bottom(), list->viewport()->height() - 40);
  // The wheel moves by pixels, not by a row.
  const int before = bar->value();
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_GT(bar->value(), before - list->viewport()->height());
  EXPECT_LT(bar->value(), before);

  // The address cell shows the address alone; its tip gives the count.
  EXPECT_EQ(item->text(0), QStringLiteral("many@b.com"));
  EXPECT_EQ(item->toolTip(0), QStringLiteral("45 个域名"));
  EXPECT_EQ(list->topLevelItem(0)->toolTip(0), QStringLiteral("1 个域名"));

  // A row that did not complete keeps its note in the tip, with the count.
  window->setRowImage(0, kImageNotCompleted);
  window->setRowNote(0, gbk("第 2 页查询失败：超时"));
  EXPECT_EQ(list->topLevelItem(0)->toolTip(0), QStringLiteral("1 个域名\n第 2 页查询失败：超时"));
  const int failed = window->appendRow("down@c.com", kImageNotCompleted);
  window->setCellText(failed, 1, gbk("查询失败：连接失败"));
  window->setRowNote(failed, gbk("查询失败：连接失败"));
  EXPECT_EQ(list->topLevelItem(failed)->toolTip(0), QStringLiteral("0 个域名\n查询失败：连接失败"));

  // Ctrl+C copies the selected rows: address, tab, the domains one per line;
  // a failed row's reason is no domain.
  list->clearSelection();
  list->topLevelItem(0)->setSelected(true);
  list->topLevelItem(failed)->setSelected(true);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QStringLiteral("short@a.com\ta.com\ndown@c.com\t"));
  list->clearSelection();
  item->setSelected(true);
  QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
  const QString copied = QGuiApplication::clipboard()->text();
  EXPECT_TRUE(copied.startsWith(QStringLiteral("many@b.com\tmany-1.com\nmany-2.com\n")));
  EXPECT_TRUE(copied.endsWith(QStringLiteral("\nmany-45.com")));
}

TEST_F(ShownWindow, ASortShowsItsArrowAndKeepsTheSelectedAddress) {
  for (const char* address : {"b@x.com", "c@x.com", "a@x.com"})
    window->setCellText(window->appendRow(address, 1), 1, "");
  list->setCurrentItem(list->topLevelItem(1));  // c@x.com
  ASSERT_EQ(window->selectedRow(), 1);

  QHeaderView* header = list->header();
  auto clickHeader = [&](int column) {
    const QPoint at(header->sectionViewportPosition(column) + 20, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  };
  clickHeader(0);
  ASSERT_EQ(window->cellText(0, 0), "a@x.com");
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), 0);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
  // The selection went with the address, not the row position.
  EXPECT_EQ(window->selectedRow(), 2);
  EXPECT_EQ(window->cellText(window->selectedRow(), 0), "c@x.com");
  ASSERT_EQ(list->selectedItems().size(), 1);

  clickHeader(0);
  ASSERT_EQ(window->cellText(0, 0), "c@x.com");
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(window->selectedRow(), 0);
}

TEST_F(ShownWindow, NumberBoxesRefuseLettersAndOutOfRangeNumbers) {
  // No window manager activates it under a bare X server.
  window->activateWindow();
  ASSERT_TRUE(apptest::waitForActiveWindow(window.get()));
  auto* pages = qobject_cast<QLineEdit*>(window->control("编辑框最多查询页数"));
  auto* interval = qobject_cast<QLineEdit*>(window->control("编辑框间隔秒"));
  ASSERT_TRUE(pages && interval);

  auto typed = [](QLineEdit* edit, const char* keys) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromLatin1(keys));
    return edit->text();
  };
  EXPECT_EQ(typed(pages, "abc"), QString());
  EXPECT_EQ(typed(pages, "1a2b"), QStringLiteral("12"));
  EXPECT_EQ(typed(pages, "99999"), QStringLiteral("9999"));
  EXPECT_EQ(typed(pages, "-3"), QStringLiteral("3"));
  EXPECT_EQ(typed(interval, "abc"), QString());
  EXPECT_EQ(typed(interval, "1.25"), QStringLiteral("1.2"));
  EXPECT_EQ(typed(interval, "3601"), QStringLiteral("360"));
  EXPECT_EQ(typed(interval, "0.5"), QStringLiteral("0.5"));

  // Left half typed, a box goes back to the last number it held.
  EXPECT_EQ(typed(pages, "0"), QStringLiteral("0"));
  interval->setFocus();
  EXPECT_TRUE(waitUntil([&] { return pages->text() == QStringLiteral("3"); }));
  EXPECT_EQ(window->content(control::kMaxPagesEdit), "3");
}

TEST_F(ShownWindow, TheHeaderAnimationRestsWhileTheWindowCannotBeSeen) {
  EXPECT_TRUE(window->headerAnimationRunning());
  // Without a window manager the state may be taken back later; the window
  // reacts to the change itself.
  window->setWindowState(Qt::WindowMinimized);
  EXPECT_FALSE(window->headerAnimationRunning());
  window->setWindowState(Qt::WindowNoState);
  EXPECT_TRUE(window->headerAnimationRunning());
  window->hide();
  EXPECT_FALSE(window->headerAnimationRunning());
  window->show();
  EXPECT_TRUE(window->headerAnimationRunning());
}

TEST_F(ShownWindow, SignInBannerAndAMissingBrowserAreSaidInTheWindow) {
  window->setVisible(control::kBrowser, true);
  EXPECT_TRUE(window->signInBanner()->isVisible());
  EXPECT_EQ(window->signInBanner()->geometry().top(), 0);
  EXPECT_EQ(window->signInBanner()->width(), window->width());
  window->setVisible(control::kBrowser, false);
  EXPECT_FALSE(window->signInBanner()->isVisible());

  MessageBoxRecorder boxes;
  window->setDocumentOpener([](const QUrl&) { return false; });
  window->openDocument("http://whois.aizhan.com/reverse-whois?q=a%40b.com");
  ASSERT_EQ(boxes.calls.size(), 1u);
  EXPECT_NE(boxes.calls[0].text.find("默认的网页浏览器"), std::string::npos);
  EXPECT_NE(boxes.calls[0].text.find("http://whois.aizhan.com/"), std::string::npos);
  window->setDocumentOpener([](const QUrl&) { return true; });
  window->openDocument("http://whois.aizhan.com/");
  EXPECT_EQ(boxes.calls.size(), 1u);
}

// Calls `check` with the first visible top-level widget of type T once one
// shows, from the event loop of whatever modal call is running.
template <typename T>
class WhenShown {
 public:
  explicit WhenShown(std::function<void(T*)> check) : check_(std::move(check)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* shown = qobject_cast<T*>(widget);
        if (shown == nullptr || !shown->isVisible())
          continue;
        timer_.stop();
        seen = true;
        check_(shown);
        return;
      }
    });
    timer_.start();
  }
  bool seen = false;

 private:
  std::function<void(T*)> check_;
  QTimer timer_;
};

bool hasMinMaxButtons(const QWidget* window) {
  return (window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)) !=
         0;
}

TEST_F(ShownWindow, SmallWindowsOpenOverTheMainWindowWithoutMinMaxButtons) {
  window->move(60, 40);
  ASSERT_TRUE(waitUntil([&] { return window->pos() == QPoint(60, 40); }));
  const QRect main = window->frameGeometry();

  // The list-entry window, centred on the main window.
  WhenShown<ListEntryWindow> entry([&](ListEntryWindow* opened) {
    EXPECT_FALSE(hasMinMaxButtons(opened));
    EXPECT_LE((opened->geometry().center() - main.center()).manhattanLength(), 4)
        << opened->geometry().x() << "," << opened->geometry().y();
    opened->findChild<QPushButton*>(QStringLiteral("按钮取消"))->click();
  });
  QTest::mouseClick(window->control("按钮输入"), Qt::LeftButton);
  EXPECT_TRUE(entry.seen);

  // The ownerless box of the sign-in, in the bottom right corner.
  WhenShown<QMessageBox> box([&](QMessageBox* shown) {
    EXPECT_FALSE(hasMinMaxButtons(shown));
    const QRect at = shown->geometry();
    EXPECT_TRUE(main.contains(at)) << at.x() << "," << at.y();
    EXPECT_GT(at.center().x(), main.center().x());
    EXPECT_GT(at.center().y(), main.center().y());
    shown->buttons().first()->click();
  });
  showDesktopMessageBox(gbk("登录完成点击确定按钮继续"), gbk("信息："), mb::kOk, true);
  EXPECT_TRUE(box.seen);

  // A short text under a long title: the box is wide enough for the title.
  const QString title = QStringLiteral("选择一个在查询时自动保存到的文件夹");
  WhenShown<QMessageBox> narrow([&](QMessageBox* shown) {
    EXPECT_GE(shown->width(), QFontMetrics(shown->font()).horizontalAdvance(title) + 60)
        << shown->width();
    shown->buttons().first()->click();
  });
  showDesktopMessageBox(gbk("保存OK！"), fromDisplay(title), mb::kOk, false);
  EXPECT_TRUE(narrow.seen);
}

TEST(StandardButtonsTest, MessageBoxButtonsReadChinese) {
  QTranslator* translator = installChineseTranslations();
  ASSERT_NE(translator, nullptr) << "Qt's zh_CN translations are not installed";

  auto buttonTexts = [](unsigned style) {
    QStringList texts;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible())
          continue;
        answer.stop();
        for (QAbstractButton* button : box->buttons())
          texts.push_back(button->text().remove(u'&'));
        box->buttons().last()->click();
        return;
      }
    });
    answer.start();
    showDesktopMessageBox(gbk("问题"), gbk("Qarvo："), style, false);
    return texts.join(u' ');
  };
  const QString ok = buttonTexts(mb::kOk);
  EXPECT_TRUE(ok.contains(QStringLiteral("确定"))) << ok.toStdString();
  const QString yesNoCancel = buttonTexts(0x3);
  EXPECT_TRUE(yesNoCancel.contains(QStringLiteral("是"))) << yesNoCancel.toStdString();
  EXPECT_TRUE(yesNoCancel.contains(QStringLiteral("否"))) << yesNoCancel.toStdString();
  EXPECT_TRUE(yesNoCancel.contains(QStringLiteral("取消"))) << yesNoCancel.toStdString();
  EXPECT_FALSE(yesNoCancel.contains(QStringLiteral("Yes")));

  QCoreApplication::removeTranslator(translator);
  delete translator;
}

// A run against the fakes, the waits recorded instead of slept.
class WindowRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    window = std::make_unique<MainWindow>(nullptr, fakes.endpoints());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    boxes = std::make_unique<MessageBoxRecorder>();
    window->setTag(control::kAutoSaveFolderButton, utf8ToGbk(program.native("结果")));
    window->engine().setWaitHook([this](int milliseconds) {
      if (onWait)
        onWait(milliseconds);
      QCoreApplication::processEvents();
    });
  }
  void TearDown() override {
    boxes.reset();
    window.reset();
  }
  void clickStart() { QTest::mouseClick(window->control("按钮开始查询"), Qt::LeftButton); }
  std::vector<std::string> askedAddresses() const {
    std::vector<std::string> asked;
    for (const auto& request : fakes.requests(FakeSite::kAizhan))
      asked.push_back(request.param("q"));
    return asked;
  }
  QString status() const { return window->statusLine()->text(); }

  ScratchProgramFolder program;
  FakeServices fakes;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<MessageBoxRecorder> boxes;
  std::function<void(int)> onWait;
};

TEST_F(WindowRunTest, TheStatusLineCountsDownTheThrottlePauseAndSaysWhereFilesWent) {
  fakes.setAddress(FakeSite::kAizhan, "busy@x.com",
                   {.domains = numberedList("busy-", 3), .rateLimitedAnswers = {{1, 1}}});
  window->setTag(control::kInputButton, gbk("nobody@x.com\r\nbusy@x.com"));

  std::vector<QString> during;
  onWait = [&](int milliseconds) {
    if (milliseconds < 5000)
      return;
    // The throttle pause, counted down for real by the window's timer.
    during.push_back(status());
    EXPECT_TRUE(waitUntil([&] { return !status().contains(QStringLiteral("5.0 秒后重试")); }))
        << status().toStdString();
    during.push_back(status());
    if (const char* shot = std::getenv("QARVO_SCREENSHOT_PAUSE")) {
      EXPECT_TRUE(window->grab().save(QString::fromLocal8Bit(shot)));
    }
  };
  clickStart();

  ASSERT_EQ(during.size(), 2u);
  EXPECT_TRUE(during[0].contains(QStringLiteral("第 2/2 个邮箱 busy@x.com，第 1 页")))
      << during[0].toStdString();
  EXPECT_TRUE(during[0].contains(QStringLiteral("查询过于频繁，5.0 秒后重试")));
  EXPECT_TRUE(during[0].contains(QStringLiteral("已找到 0 个，无结果 1 个，失败 0 个")));
  EXPECT_TRUE(during[1].contains(QStringLiteral("查询过于频繁，4.")) ||
              during[1].contains(QStringLiteral("查询过于频繁，3.")))
      << during[1].toStdString();

  // After the run: where the files went, and the final tallies.
  ASSERT_FALSE(boxes->calls.empty());
  EXPECT_EQ(boxes->calls.back().text, "查询完成！");
  EXPECT_TRUE(status().startsWith(QStringLiteral("查询结束，结果已保存到 ")))
      << status().toStdString();
  EXPECT_TRUE(status().contains(QString::fromStdString(program.native("结果"))));
  EXPECT_TRUE(status().contains(QStringLiteral("已找到 1 个，无结果 1 个，失败 0 个")));
  EXPECT_FALSE(status().contains(QStringLiteral("秒后")));
}

TEST_F(WindowRunTest, TheListFollowsTheRunUntilTheUserScrollsAway) {
  std::string list;
  for (int i = 1; i <= 6; ++i) {
    const std::string address = "tall" + std::to_string(i) + "@x.com";
    fakes.setAddress(FakeSite::kAizhan, address,
                     {.domains = numberedList("t" + std::to_string(i) + "-", 30), .perPage = 15});
    list += address + "\r\n";
  }
  window->setTag(control::kInputButton, list);
  QScrollBar* bar = window->reportList()->verticalScrollBar();

  // Followed: by the fourth address the list has scrolled down to it.
  int followedTo = -1;
  bool scrolledAway = false;
  std::vector<int> afterwards;
  onWait = [&](int) {
    if (!scrolledAway && status().contains(QStringLiteral("第 4/6 个邮箱"))) {
      followedTo = bar->value();
      // The user drags the bar back to the top.
      bar->triggerAction(QAbstractSlider::SliderToMinimum);
      scrolledAway = true;
    } else if (scrolledAway) {
      afterwards.push_back(bar->value());
    }
  };
  clickStart();
  EXPECT_GT(followedTo, 0);
  ASSERT_FALSE(afterwards.empty());
  for (int value : afterwards)
    EXPECT_EQ(value, 0);

  // The next run follows again.
  onWait = nullptr;
  clickStart();
  EXPECT_GT(bar->value(), 0);
}

TEST_F(WindowRunTest, AnEnteredListShowsAtOnceAndARunLocksTheSettingsItRead) {
  // 13 pages announced, the limit at 1.
  fakes.setAddress(FakeSite::kAizhan, "cut@x.com",
                   {.domains = numberedList("cut-", 26), .perPage = 2});
  fakes.setAddress(FakeSite::kAizhan, "b@x.com", {.domains = {"b.com"}});
  window->setContent(control::kMaxPagesEdit, "1");

  // Entered in the list-entry window, which says one address per line.
  WhenShown<ListEntryWindow> entry([&](ListEntryWindow* opened) {
    auto* info = opened->findChild<QPlainTextEdit*>(QStringLiteral("编辑框提示"));
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->toPlainText().startsWith(QStringLiteral("每行一个邮箱地址")));
    opened->findChild<QPlainTextEdit*>(QStringLiteral("编辑框正文"))
        ->setPlainText(QStringLiteral("cut@x.com\nb@x.com\ncut@x.com"));
    opened->findChild<QPushButton*>(QStringLiteral("按钮确定"))->click();
  });
  QTest::mouseClick(window->control("按钮输入"), Qt::LeftButton);
  ASSERT_TRUE(entry.seen);
  ASSERT_EQ(window->rowCount(), 2);
  EXPECT_EQ(window->rowImage(1), kImagePending);
  EXPECT_EQ(status(), QStringLiteral("已读取 2 个邮箱（去掉重复 1 个）"));
  EXPECT_TRUE(fakes.requests().empty());

  // During the run the controls it read are locked, and the status line
  // still says what the list gave.
  const std::vector<QWidget*> locked = {
      window->control("单选框爱站"),           window->control("单选框站长"),
      window->control("编辑框最多查询页数"),   window->control("编辑框间隔秒"),
      window->control("选择框查询时自动保存"), window->control("按钮自动保存路径")};
  int lockedWaits = 0;
  onWait = [&](int) {
    for (QWidget* widget : locked)
      EXPECT_FALSE(widget->isEnabled()) << widget->objectName().toStdString();
    QTest::mouseClick(window->control("单选框站长"), Qt::LeftButton);
    EXPECT_TRUE(window->checked(control::kAizhanRadio));
    EXPECT_TRUE(status().contains(QStringLiteral("已读取 2 个邮箱（去掉重复 1 个）")))
        << status().toStdString();
    ++lockedWaits;
  };
  clickStart();
  EXPECT_GT(lockedWaits, 0);
  for (QWidget* widget : locked)
    EXPECT_TRUE(widget->isEnabled()) << widget->objectName().toStdString();
  EXPECT_TRUE(fakes.requests(FakeSite::kChinaz).empty());

  // A result cut short by the page limit says so, in the tip and the status
  // line, and is no less saved.
  const QString cut = QStringLiteral("2 个域名，已查 1/13 页（页数上限）");
  EXPECT_EQ(window->reportList()->topLevelItem(0)->toolTip(0), cut);
  EXPECT_EQ(window->reportList()->topLevelItem(0)->toolTip(1), cut);
  EXPECT_TRUE(status().contains(QStringLiteral("1 个邮箱达到页数上限，未查完全部页")))
      << status().toStdString();
  EXPECT_EQ(apptest::readFile(program.native("结果") + "/cut@x.com.txt"), "cut-1.com\r\ncut-2.com");
  onWait = nullptr;
  window->engine().queryAddress(0);
  EXPECT_TRUE(status().startsWith(QStringLiteral("cut@x.com 查询结束：") + cut))
      << status().toStdString();
}

TEST_F(WindowRunTest, ASingleQuerySaysWhenItIsOver) {
  fakes.setAddress(FakeSite::kAizhan, "solo@x.com",
                   {.domains = numberedList("solo-", 4), .perPage = 2});
  window->appendRow("solo@x.com", kImagePending);
  std::vector<QString> during;
  onWait = [&](int) { during.push_back(status()); };
  window->engine().queryAddress(0);
  ASSERT_FALSE(during.empty());
  EXPECT_TRUE(during[0].startsWith(QStringLiteral("正在查询 solo@x.com，第 1 页")))
      << during[0].toStdString();
  EXPECT_TRUE(status().startsWith(QStringLiteral("solo@x.com 查询结束"))) << status().toStdString();
}

TEST_F(WindowRunTest, LinesWithoutAnAddressAndTheClipboardSendNothingButAddresses) {
  fakes.setAddress(FakeSite::kAizhan, "good@x.com", {.domains = {"good.com"}});
  window->setTag(control::kInputButton,
                 gbk("good@x.com\r\nnot-an-address\r\n\r\n王五 <space@x.com>\r\n"));
  clickStart();
  // The addresses are picked out of the lines; a line without one is no row.
  ASSERT_EQ(window->rowCount(), 2);
  EXPECT_EQ(window->cellText(1, 0), "space@x.com");
  EXPECT_EQ(window->rowImage(1), kImageNone);
  EXPECT_EQ(askedAddresses(), (std::vector<std::string>{"good@x.com", "space@x.com"}));
  EXPECT_TRUE(status().contains(QStringLiteral("已找到 1 个，无结果 1 个，失败 0 个")));

  // With no list, the clipboard's addresses only after a yes.
  fakes.clearRequests();
  boxes->calls.clear();
  window->setTag(control::kInputButton, "");
  QGuiApplication::clipboard()->setText(
      QStringLiteral("周会 3 点\nhttp://meet.example/room\nfriend@x.com\n"));
  boxes->answers = {mb::kIdNo};
  clickStart();
  ASSERT_EQ(boxes->calls.size(), 1u);
  EXPECT_EQ(boxes->calls[0].text, "剪贴板中有 1 个邮箱地址，是否查询？");
  EXPECT_TRUE(fakes.requests().empty());

  boxes->calls.clear();
  boxes->answers = {mb::kIdYes};
  clickStart();
  ASSERT_GE(boxes->calls.size(), 1u);
  EXPECT_EQ(askedAddresses(), std::vector<std::string>{"friend@x.com"});

  // A clipboard without any address: said so, nothing sent.
  fakes.clearRequests();
  boxes->calls.clear();
  QGuiApplication::clipboard()->setText(QStringLiteral("只是一段笔记"));
  clickStart();
  ASSERT_EQ(boxes->calls.size(), 1u);
  EXPECT_NE(boxes->calls[0].text.find("剪贴板中也没有邮箱地址"), std::string::npos);
  EXPECT_TRUE(fakes.requests().empty());
}

}  // namespace
}  // namespace qarvo
