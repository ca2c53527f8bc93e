#include "app/ask_text.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <utility>

#include "app/app_test_support.h"
#include "app/main_window.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

using apptest::kWindowTimeoutMs;
using apptest::MessageBoxRecorder;

constexpr unsigned kQuestionStyle = 0x4 | 0x40 | 0x1000;
constexpr unsigned kNoticeStyle = 0x0 | 0x40 | 0x1000;

QPlainTextEdit* body(ListEntryWindow* window) {
  return window->findChild<QPlainTextEdit*>(QStringLiteral("编辑框正文"));
}

void click(ListEntryWindow* window, const char* button) {
  auto* target = window->findChild<QPushButton*>(QString::fromUtf8(button));
  ASSERT_NE(target, nullptr) << button;
  QTest::mouseClick(target, Qt::LeftButton);
}

// Plays `steps` on the list-entry window once it is up and active, then
// makes sure it is closed, so that a failed step cannot leave askText waiting
// for ever. Watches for the window from the modal loop itself rather than
// guessing when it will be there.
class ListEntryPlayer {
 public:
  explicit ListEntryPlayer(std::function<void(ListEntryWindow*)> steps) : steps_(std::move(steps)) {
    watch_.setInterval(5);
    QObject::connect(&watch_, &QTimer::timeout, [this] { playOnceShown(); });
    watch_.start();
  }
  bool played() const { return played_; }

 private:
  void playOnceShown() {
    ListEntryWindow* window = ListEntryWindow::current();
    if (window == nullptr || !window->isVisible())
      return;
    watch_.stop();
    played_ = true;
    [&] {
      ASSERT_TRUE(apptest::waitForActiveWindow(window));
      steps_(window);
    }();
    if (ListEntryWindow::current() == window && window->isVisible()) {
      ADD_FAILURE() << "window left open";
      window->done(0);
    }
  }

  std::function<void(ListEntryWindow*)> steps_;
  QTimer watch_;
  bool played_ = false;
};

// Runs askText and plays `steps` on the open window once it shows.
AskTextResult askWith(const Text& initial, const Text& prompt,
                      std::function<void(ListEntryWindow*)> steps, const Text& info = Text()) {
  ListEntryPlayer player(std::move(steps));
  AskTextResult result = askText(initial, prompt, info);
  EXPECT_TRUE(player.played()) << "the list-entry window never showed";
  return result;
}

TEST(AskTextTest, OkWithoutChangeReturnsTheInitialTextExactly) {
  MessageBoxRecorder boxes;
  const Text initial = gbk("a@b.com\r\n 张三@例子.cn \r\n\r\n");
  AskTextResult result = askWith(initial, gbk("请输入域名列表："), [&](ListEntryWindow* window) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("请输入域名列表："));
    EXPECT_EQ(body(window)->toPlainText(), QStringLiteral("a@b.com\n 张三@例子.cn \n\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return body(window)->hasFocus(); }, kWindowTimeoutMs));
    EXPECT_TRUE(window->isModal());
    EXPECT_EQ(window->parentWidget(), nullptr);
    click(window, "按钮确定");
  });
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.text, initial);
  EXPECT_TRUE(boxes.calls.empty());
}

TEST(AskTextTest, EditedTextComesBackWithCrLfLineBreaks) {
  MessageBoxRecorder boxes;
  AskTextResult result = askWith("x@y.com", "", [&](ListEntryWindow* window) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("输入："));
    body(window)->moveCursor(QTextCursor::End);
    QTest::keyClick(body(window), Qt::Key_Return);
    QTest::keyClicks(body(window), "z@w.com");
    click(window, "按钮确定");
  });
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.text, "x@y.com\r\nz@w.com");
  EXPECT_TRUE(boxes.calls.empty());
}

TEST(AskTextTest, CancelAfterEditingAsksNothingAndReturnsNotAccepted) {
  MessageBoxRecorder boxes;
  AskTextResult result = askWith("a@b.com", "", [&](ListEntryWindow* window) {
    QTest::keyClicks(body(window), "typed");
    click(window, "按钮取消");
  });
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.text, "");
  EXPECT_TRUE(boxes.calls.empty());
}

TEST(AskTextTest, TitleBarCloseAfterEditingAsksAndNoKeepsTheEdits) {
  MessageBoxRecorder boxes;
  boxes.answers = {7, 6};  // No, then Yes
  AskTextResult result = askWith("a@b.com", "", [&](ListEntryWindow* window) {
    body(window)->setPlainText("changed");
    EXPECT_FALSE(window->close());
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "内容已被改动，是否要放弃？");
    EXPECT_EQ(boxes.calls[0].title, "Qarvo：");
    EXPECT_EQ(boxes.calls[0].style, kQuestionStyle);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(body(window)->toPlainText(), "changed");
    // Escape is the same question; Yes lets it close.
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(boxes.calls.size(), 2u);
  });
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.text, "");
}

TEST(AskTextTest, TitleBarCloseWithoutChangeClosesAtOnce) {
  MessageBoxRecorder boxes;
  AskTextResult result = askWith("a@b.com", "", [&](ListEntryWindow* window) {
    // An edit that is undone counts as no change.
    QTest::keyClicks(body(window), "x");
    QTest::keyClick(body(window), Qt::Key_Backspace);
    EXPECT_TRUE(window->close());
  });
  EXPECT_FALSE(result.accepted);
  EXPECT_TRUE(boxes.calls.empty());
}

TEST(AskTextTest, RestoreWithEmptyInitialTextSaysSoAndChangesNothing) {
  MessageBoxRecorder boxes;
  AskTextResult result = askWith("", "", [&](ListEntryWindow* window) {
    body(window)->setPlainText("typed");
    click(window, "按钮恢复");
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "启动值为空！");
    EXPECT_EQ(boxes.calls[0].title, "Qarvo：");
    EXPECT_EQ(boxes.calls[0].style, kNoticeStyle);
    EXPECT_EQ(body(window)->toPlainText(), "typed");
    click(window, "按钮确定");
  });
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.text, "typed");
}

TEST(AskTextTest, RestoreAfterClearBringsBackTheOpeningText) {
  MessageBoxRecorder boxes;
  const Text initial = "one@x.com\r\ntwo@x.com";
  AskTextResult result = askWith(initial, "", [&](ListEntryWindow* window) {
    click(window, "按钮清空");
    EXPECT_EQ(body(window)->toPlainText(), "");
    click(window, "按钮恢复");
    EXPECT_EQ(body(window)->toPlainText(), "one@x.com\ntwo@x.com");
    click(window, "按钮确定");
  });
  EXPECT_TRUE(boxes.calls.empty());
  EXPECT_EQ(result.text, initial);
}

TEST(AskTextTest, PasteReplacesTheWholeTextByTheClipboard) {
  MessageBoxRecorder boxes;
  AskTextResult result = askWith("old@x.com", "", [&](ListEntryWindow* window) {
    QGuiApplication::clipboard()->setText(QStringLiteral("p@q.com\nr@s.com"));
    click(window, "按钮粘贴");
    EXPECT_EQ(body(window)->toPlainText(), "p@q.com\nr@s.com");
    QGuiApplication::clipboard()->clear();
    click(window, "按钮粘贴");
    EXPECT_EQ(body(window)->toPlainText(), "");
    QGuiApplication::clipboard()->setText(QStringLiteral("p@q.com\nr@s.com"));
    click(window, "按钮粘贴");
    click(window, "按钮确定");
  });
  EXPECT_EQ(result.text, "p@q.com\r\nr@s.com");
}

TEST(AskTextTest, SecondRequestWhileOpenReturnsAtOnceAndLeavesTheWindowAlone) {
  MessageBoxRecorder boxes;
  AskTextResult result = askWith("first", "", [&](ListEntryWindow* window) {
    body(window)->setPlainText("being edited");
    AskTextResult second = askText("second", gbk("别的"));
    EXPECT_FALSE(second.accepted);
    EXPECT_EQ(second.text, "");
    EXPECT_EQ(ListEntryWindow::current(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(body(window)->toPlainText(), "being edited");
    EXPECT_EQ(window->windowTitle(), QStringLiteral("输入："));
    click(window, "按钮确定");
  });
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.text, "being edited");
  // Closed, it can be opened again.
  AskTextResult again = askWith("", "", [](ListEntryWindow* window) { click(window, "按钮取消"); });
  EXPECT_FALSE(again.accepted);
}

TEST(AskTextTest, LayoutFollowsTheWindowSize) {
  MessageBoxRecorder boxes;
  const Text info = Text(130, 'i') + "\r\n" + "short";
  askWith(
      "x", "",
      [&](ListEntryWindow* window) {
        // Centred on the screen, 30 pixels of task bar left out.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_EQ(window->x(), screen.width() / 2 - window->width() / 2);
        EXPECT_EQ(window->y(), (screen.height() - 30) / 2 - window->height() / 2);

        window->resize(400, 300);
        // The window system answers the resize later; a configure event of
        // the size before it, still queued, would undo it for a moment.
        QGuiApplication::sync();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return window->size() == QSize(400, 300); }, kWindowTimeoutMs));
        const int m = ListEntryWindow::kMargin;
        auto* infoBox = window->findChild<QPlainTextEdit*>(QStringLiteral("编辑框提示"));
        auto* strip = window->findChild<QFrame*>(QStringLiteral("外形框"));
        auto* ok = window->findChild<QPushButton*>(QStringLiteral("按钮确定"));
        auto* cancel = window->findChild<QPushButton*>(QStringLiteral("按钮取消"));
        // 390 / 6 = 65 bytes a line: 130 bytes are two lines, "short" one,
        // each line whole in the font shown.
        const QRect infoAt = infoBox->geometry();
        EXPECT_EQ(infoAt.topLeft(), QPoint(m, m));
        EXPECT_EQ(infoAt.width(), 400 - 2 * m);
        EXPECT_GE(infoBox->viewport()->height(), 3 * infoBox->fontMetrics().lineSpacing());
        EXPECT_LT(infoBox->viewport()->height(), 4 * infoBox->fontMetrics().lineSpacing());
        const QRect text = body(window)->geometry();
        EXPECT_EQ(text.top(), m + infoAt.height() + m);
        EXPECT_EQ(text.left(), m);
        EXPECT_EQ(text.width(), 400 - 2 * m);
        EXPECT_EQ(text.top() + text.height(), 300 - ListEntryWindow::kFrameHeight);
        EXPECT_EQ(strip->geometry().top(), text.top() + text.height());
        EXPECT_EQ(strip->x(), m);
        EXPECT_EQ(cancel->geometry().right() + 1, 400 - m);
        EXPECT_EQ(ok->geometry().right() + 1, cancel->x());
        const int middle = strip->y() + strip->height() / 2;
        EXPECT_LE(std::abs(cancel->geometry().center().y() - middle), 1);
        EXPECT_LE(std::abs(ok->geometry().center().y() - middle), 1);
        click(window, "按钮取消");
      },
      info);
  EXPECT_EQ(ListEntryWindow::infoHeight("", 400), 0);
  EXPECT_EQ(ListEntryWindow::infoHeight("a\r\n\r\nb", 400), 36);
}

TEST(AskTextTest, InputButtonKeepsTheListInItsTag) {
  apptest::ScratchProgramFolder program;
  MainWindow window(nullptr);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, kWindowTimeoutMs));
  MessageBoxRecorder boxes;
  window.setTag(control::kInputButton, "old@x.com");

  {
    ListEntryPlayer player([](ListEntryWindow* entry) {
      EXPECT_EQ(entry->windowTitle(), QStringLiteral("请输入域名列表："));
      EXPECT_EQ(body(entry)->toPlainText(), "old@x.com");
      body(entry)->setPlainText("new@x.com\n第二@x.com");
      click(entry, "按钮确定");
    });
    QTest::mouseClick(window.control("按钮输入"), Qt::LeftButton);
    EXPECT_TRUE(player.played());
    EXPECT_EQ(window.tag(control::kInputButton), gbk("new@x.com\r\n第二@x.com"));
  }
  {
    ListEntryPlayer player([](ListEntryWindow* entry) {
      body(entry)->setPlainText("discarded");
      click(entry, "按钮取消");
    });
    QTest::mouseClick(window.control("按钮输入"), Qt::LeftButton);
    EXPECT_TRUE(player.played());
    EXPECT_EQ(window.tag(control::kInputButton), gbk("new@x.com\r\n第二@x.com"));
  }
  window.close();
}

}  // namespace
}  // namespace qarvo
