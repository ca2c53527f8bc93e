// The window asking both services at once, and keeping the history of its
// look-ups: whole runs through the real window against the fake services.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/address_history.h"
#include "app/app_test_support.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "engine/lookup_history.h"
#include "engine/row_story.h"
#include "platform/code_page.h"
#include "settings/settings_store.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using apptest::MessageBoxRecorder;
using apptest::ScratchProgramFolder;
using testing::FakeServices;
using testing::FakeSite;

class BothServicesWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    store.openSettingsFile(settingsFilePath(programDirectory(), gbk("Qarvo·Dorvane")));
    window = std::make_unique<MainWindow>(&store, fakes.endpoints());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    boxes = std::make_unique<MessageBoxRecorder>();
    window->engine().setWaitHook([](int) { QCoreApplication::processEvents(); });
    window->setTag(control::kAutoSaveFolderButton, utf8ToGbk(folder()));
  }
  void TearDown() override {
    boxes.reset();
    window.reset();
  }

  std::string folder() const { return program.native("results"); }
  // One run of `addresses`, as the user starts it; the end message it gave.
  std::string run(const std::string& addresses) {
    window->setTag(control::kInputButton, gbk(addresses));
    boxes->calls.clear();
    QTest::mouseClick(window->control("按钮开始查询"), Qt::LeftButton);
    return boxes->calls.empty() ? "<no message>" : boxes->calls.back().text;
  }
  std::string tip(int row) const {
    return window->reportList()->topLevelItem(row)->toolTip(0).toStdString();
  }
  bool tipHas(int row, const QString& words) const {
    return window->reportList()->topLevelItem(row)->toolTip(0).contains(words);
  }
  std::string copied(int row) {
    QTreeWidget* list = window->reportList();
    list->clearSelection();
    list->topLevelItem(row)->setSelected(true);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    return QGuiApplication::clipboard()->text().toStdString();
  }

  ScratchProgramFolder program;
  FakeServices fakes;
  SettingsStore store;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<MessageBoxRecorder> boxes;
};

TEST_F(BothServicesWindowTest, BothServicesMergeEachAddressAndSayWhoListedWhat) {
  fakes.setAddress(FakeSite::kAizhan, "ops@alpha.cn",
                   {.domains = {"a1.com", "shared.com", "a2.com"}, .perPage = 2});
  fakes.setAddress(FakeSite::kChinaz, "ops@alpha.cn", {.domains = {"SHARED.com", "c1.com"}});
  fakes.setAddress(FakeSite::kChinaz, "x@beta.cn", {.domains = {"c9.com"}});
  fakes.setAnswerDelay(20);
  // On its words, where a radio button takes a click.
  QTest::mouseClick(window->control("单选框两者"), Qt::LeftButton, {}, QPoint(8, 9));
  ASSERT_TRUE(window->checked(control::kBothRadio));
  ASSERT_FALSE(window->checked(control::kAizhanRadio));

  // The window answers while the services are asked on threads of their own.
  int ticks = 0;
  QTimer clock;
  QObject::connect(&clock, &QTimer::timeout, [&] { ++ticks; });
  clock.start(5);
  const std::string message = run("ops@alpha.cn\r\nx@beta.cn");
  clock.stop();
  EXPECT_GT(ticks, 3);

  EXPECT_EQ(message,
            "查询完成！\r\n爱站：完成 2 个邮箱，域名 3 个；站长：完成 2 个邮箱，域名 3 个；"
            "两者共有 1 个域名");
  ASSERT_EQ(window->rowCount(), 2);
  const std::string merged = "a1.com\r\nshared.com\r\na2.com\r\nc1.com";
  EXPECT_EQ(window->cellText(0, 1), merged);
  EXPECT_EQ(window->cellText(1, 1), "c9.com");
  EXPECT_EQ(window->rowImage(0), kImageFound);
  EXPECT_TRUE(tipHas(0, QStringLiteral("爱站 3 个，站长 2 个，两者共有 1 个"))) << tip(0);
  EXPECT_TRUE(tipHas(1, QStringLiteral("爱站 0 个，站长 1 个，两者共有 0 个"))) << tip(1);
  EXPECT_EQ(apptest::readFile(folder() + "/ops@alpha.cn.txt"), merged);
  EXPECT_EQ(apptest::readFile(folder() + "/x@beta.cn.txt"), "c9.com");
  EXPECT_EQ(fakes.requests(FakeSite::kAizhan).size(), 3u);  // two pages, one no-data page
  EXPECT_EQ(fakes.requests(FakeSite::kChinaz).size(), 2u);

  // A right-click query asks both too.
  fakes.setAddress(FakeSite::kAizhan, "x@beta.cn", {.domains = {"a9.com"}});
  window->engine().queryAddress(1);
  EXPECT_EQ(window->cellText(1, 1), "a9.com\r\nc9.com");
  EXPECT_TRUE(tipHas(1, QStringLiteral("爱站 1 个，站长 1 个，两者共有 0 个"))) << tip(1);
}

TEST_F(BothServicesWindowTest, ALookUpAgainMarksWhatIsNewAndTheHistoryCanAnswerWithoutARequest) {
  LookupHistory history;
  ASSERT_EQ(openWindowHistory(history, utf8ToGbk(program.native("history.sqlite3"))), Text());
  window->engine().setHistory(&history);
  fakes.setAddress(FakeSite::kAizhan, "ops@alpha.cn", {.domains = {"a.com", "b.com", "c.com"}});
  EXPECT_EQ(run("ops@alpha.cn"), "查询完成！");
  // The first look-up has nothing to compare with.
  EXPECT_TRUE(window->rowStory(0).empty());

  fakes.setAddress(FakeSite::kAizhan, "ops@alpha.cn",
                   {.domains = {"a.com", "c.com", "d.com", "e.com"}});
  EXPECT_EQ(run("ops@alpha.cn"), "查询完成！");
  const std::string domains = "a.com\r\nc.com\r\nd.com\r\ne.com";
  EXPECT_EQ(window->cellText(0, 1), domains);
  EXPECT_EQ(window->rowStory(0).newLines, (std::vector<unsigned char>{0, 0, 1, 1}));
  const QString today = toDisplay(localDate(std::chrono::system_clock::now()));
  EXPECT_TRUE(tipHas(0, QStringLiteral("新增 2 个，减少 1 个（与 %1 的查询相比）").arg(today)))
      << tip(0);
  // The marks are drawn, never saved or copied.
  EXPECT_EQ(apptest::readFile(folder() + "/ops@alpha.cn.txt"), domains);
  EXPECT_EQ(copied(0), "ops@alpha.cn\ta.com\nc.com\nd.com\ne.com");

  // Looked up within the days set: the history answers, no request is made.
  window->setChecked(control::kSkipRecentCheck, true);
  fakes.clearRequests();
  EXPECT_EQ(run("ops@alpha.cn"),
            "查询完成！\r\n其中 1 个邮箱来自历史记录（近期查过，未再发送请求）。");
  EXPECT_TRUE(fakes.requests().empty());
  EXPECT_EQ(window->cellText(0, 1), domains);
  EXPECT_TRUE(window->rowStory(0).fromHistory);
  EXPECT_TRUE(tipHas(0, QStringLiteral("来自历史记录（%1").arg(today))) << tip(0);

  // Ctrl+H: the address's history, beside the window.
  window->activateWindow();
  ASSERT_TRUE(apptest::waitForActiveWindow(window.get()));
  window->reportList()->setCurrentItem(window->reportList()->topLevelItem(0));
  QTest::keyClick(window->reportList(), Qt::Key_H, Qt::ControlModifier);
  auto* shown = window->findChild<QWidget*>(QStringLiteral("查询历史"));
  ASSERT_NE(shown, nullptr);
  const QString text = shown->findChild<QPlainTextEdit*>()->toPlainText();
  EXPECT_EQ(text.count(QStringLiteral("爱站  有结果")), 2) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("b.com  %1 — %1").arg(today))) << text.toStdString();
}

TEST(WindowHistoryTest, ADamagedHistoryIsMovedAsideAndSaidOnce) {
  ScratchProgramFolder program;
  const std::string path = program.native("history.sqlite3");
  ASSERT_TRUE(writeWholeFile(utf8ToGbk(path), std::string(4096, 'x')));
  LookupHistory history;
  const std::string message = gbkToUtf8(openWindowHistory(history, utf8ToGbk(path)));
  EXPECT_EQ(message.rfind(
                "查询历史文件已损坏，已移到：\r\n" + program.native("history.sqlite3.damaged-"), 0),
            0u)
      << message;
  EXPECT_TRUE(history.isOpen());
}

TEST(WindowSettingsTest, TheServiceChoiceAndTheSkipSettingAreKeptOldFilesMeanTheSame) {
  struct Case {
    const char* saved;  // the main section of the settings file; "" for none
    bool aizhan, chinaz, both;
  };
  const Case cases[] = {
      {"", true, false, false},
      // Written before 两者 existed.
      {"单选框站长=真\r\n单选框爱站=假\r\n", false, true, false},
      {"单选框站长=假\r\n单选框爱站=真\r\n", true, false, false},
      {"单选框站长=假\r\n单选框爱站=假\r\n单选框两者=真\r\n", false, false, true},
  };
  for (const Case& c : cases) {
    ScratchProgramFolder program;
    const Text ini = settingsFilePath(programDirectory(), gbk("Qarvo·Dorvane"));
    if (*c.saved != '\0') {
      ASSERT_TRUE(writeWholeFile(ini, gbk(std::string("[主界面]\r\n") + c.saved)));
    }
    SettingsStore store;
    store.openSettingsFile(ini);
    MainWindow window(&store);
    EXPECT_EQ(window.checked(control::kAizhanRadio), c.aizhan) << c.saved;
    EXPECT_EQ(window.checked(control::kChinazRadio), c.chinaz) << c.saved;
    EXPECT_EQ(window.checked(control::kBothRadio), c.both) << c.saved;
  }

  // Set by the user, kept through a restart.
  ScratchProgramFolder program;
  const Text ini = settingsFilePath(programDirectory(), gbk("Qarvo·Dorvane"));
  {
    SettingsStore store;
    store.openSettingsFile(ini);
    MainWindow window(&store);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.control("单选框两者"), Qt::LeftButton, {}, QPoint(8, 9));
    QTest::mouseClick(window.control("选择框跳过查过的邮箱"), Qt::LeftButton, {}, QPoint(8, 11));
    auto* days = qobject_cast<QLineEdit*>(window.control("编辑框跳过天数"));
    days->selectAll();
    QTest::keyClicks(days, "40");
    EXPECT_TRUE(window.close());
  }
  const std::string saved = gbkToUtf8(apptest::readFile(gbkToUtf8(ini)));
  for (const char* line : {"单选框爱站=假\r\n", "单选框两者=真\r\n", "选择框跳过查过的邮箱=真\r\n",
                           "编辑框跳过天数=40"})
    EXPECT_NE(saved.find(line), std::string::npos) << line << saved;
  SettingsStore store;
  store.openSettingsFile(ini);
  MainWindow window(&store);
  EXPECT_TRUE(window.checked(control::kBothRadio));
  EXPECT_FALSE(window.checked(control::kAizhanRadio));
  EXPECT_TRUE(window.checked(control::kSkipRecentCheck));
  EXPECT_EQ(window.content(control::kSkipDaysEdit), "40");
}

}  // namespace
}  // namespace qarvo
