#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "app/app_test_support.h"
#include "app/browser_pane.h"
#include "platform/code_page.h"
#include "settings/settings_store.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using apptest::ScratchProgramFolder;

QRect geometryOf(const MainWindow& window, const char* name) {
  QWidget* widget = window.control(name);
  return widget != nullptr ? widget->geometry() : QRect();
}

TEST(MainWindowTest, FreshStartShowsTheFormsValuesAndTheEnableRuleFollowsTheCheckBox) {
  ScratchProgramFolder program;
  SettingsStore store;
  store.openSettingsFile(settingsFilePath(programDirectory(), gbk("Qarvo·Dorvane")));
  MainWindow window(&store);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, apptest::kWindowTimeoutMs));

  EXPECT_EQ(window.windowTitle(), QStringLiteral("Qarvo·Dorvane v1.2.0.0 - 右击单个查询"));
  auto* maxPages = qobject_cast<QLineEdit*>(window.control("编辑框最多查询页数"));
  auto* interval = qobject_cast<QLineEdit*>(window.control("编辑框间隔秒"));
  auto* aizhan = qobject_cast<QRadioButton*>(window.control("单选框爱站"));
  auto* chinaz = qobject_cast<QRadioButton*>(window.control("单选框站长"));
  auto* autoSave = qobject_cast<QCheckBox*>(window.control("选择框查询时自动保存"));
  auto* folder = qobject_cast<QPushButton*>(window.control("按钮自动保存路径"));
  ASSERT_TRUE(maxPages && interval && aizhan && chinaz && autoSave && folder);
  EXPECT_EQ(maxPages->text(), "50");
  EXPECT_EQ(interval->text(), "0");
  EXPECT_TRUE(aizhan->isChecked());
  EXPECT_FALSE(chinaz->isChecked());
  EXPECT_EQ(aizhan->text(), "aizhan.com");
  EXPECT_EQ(chinaz->text(), "chinaz.com");
  EXPECT_TRUE(autoSave->isChecked());
  EXPECT_TRUE(folder->isEnabled());
  EXPECT_EQ(window.caption(control::kStartButton), gbk("开始查询"));
  EXPECT_EQ(window.caption(control::kAutoSaveCheck), gbk("查询时自动保存"));
  EXPECT_EQ(window.caption("标签1"), gbk("最多查询页数："));
  EXPECT_EQ(window.caption("链接软件主页"), gbk("软件主页"));
  EXPECT_TRUE(window.tag(control::kInputButton).empty());

  // The user unticks the box: the folder button goes grey, and back.
  QTest::mouseClick(autoSave, Qt::LeftButton);
  EXPECT_FALSE(autoSave->isChecked());
  EXPECT_FALSE(folder->isEnabled());
  QTest::mouseClick(autoSave, Qt::LeftButton);
  EXPECT_TRUE(folder->isEnabled());
}

TEST(MainWindowTest, ControlsSitAtTheirFixedPlaces) {
  MainWindow window(nullptr);
  EXPECT_EQ(geometryOf(window, "图片框3"), QRect(0, 0, 1520, 90));
  EXPECT_EQ(geometryOf(window, "标签3"), QRect(0, 88, 1200, 2));
  EXPECT_EQ(geometryOf(window, "图片软件主页"), QRect(576, 0, 64, 64));
  EXPECT_EQ(geometryOf(window, "链接软件主页"), QRect(576, 64, 64, 24));
  EXPECT_EQ(geometryOf(window, "按钮开始查询"), QRect(192, 96, 440, 50));
  EXPECT_EQ(geometryOf(window, "按钮输入"), QRect(640, 96, 96, 50));
  EXPECT_EQ(geometryOf(window, "单选框爱站"), QRect(768, 96, 112, 18));
  EXPECT_EQ(geometryOf(window, "单选框站长"), QRect(768, 114, 112, 18));
  EXPECT_EQ(geometryOf(window, "单选框两者"), QRect(768, 132, 112, 18));
  EXPECT_EQ(geometryOf(window, "标签1"), QRect(888, 96, 112, 24));
  EXPECT_EQ(geometryOf(window, "编辑框最多查询页数"), QRect(1000, 96, 40, 24));
  EXPECT_EQ(geometryOf(window, "标签2"), QRect(888, 120, 112, 24));
  EXPECT_EQ(geometryOf(window, "编辑框间隔秒"), QRect(1000, 120, 40, 24));
  EXPECT_EQ(geometryOf(window, "按钮保存查询结果"), QRect(8, 96, 157, 24));
  EXPECT_EQ(geometryOf(window, "选择框查询时自动保存"), QRect(8, 122, 128, 24));
  EXPECT_EQ(geometryOf(window, "按钮自动保存路径"), QRect(141, 122, 24, 24));
  EXPECT_EQ(geometryOf(window, "按钮导出表格"), QRect(167, 96, 22, 24));
  EXPECT_EQ(geometryOf(window, "超级列表框"), QRect(8, 152, 1032, 416));
  EXPECT_EQ(window.control("图片Qarvo软件")->size(), QSize(195, 64));
  EXPECT_EQ(window.control("图片Qarvo软件")->parentWidget(), window.control("图片框3"));
  EXPECT_EQ(window.reportList()->headerItem()->text(0), QStringLiteral("邮箱"));
  EXPECT_EQ(window.reportList()->headerItem()->text(1), QStringLiteral("反查结果"));
  // The browser waits hidden and is not loaded yet.
  EXPECT_FALSE(window.visible(control::kBrowser));
  EXPECT_EQ(window.browserPane()->browser(), nullptr);
}

TEST(MainWindowTest, PropertiesReadBackExactlyWhatWasWritten) {
  MainWindow window(nullptr);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, apptest::kWindowTimeoutMs));

  // Line breaks, lone LF and "&" survive on captions, cells and tags.
  const Text caption = gbk("停止查询\r\n总 3 个，已查 1 个");
  window.setCaption(control::kStartButton, caption);
  EXPECT_EQ(window.caption(control::kStartButton), caption);
  EXPECT_EQ(qobject_cast<QPushButton*>(window.control("按钮开始查询"))->text(),
            QStringLiteral("停止查询\n总 3 个，已查 1 个"));
  window.setCaption(control::kAutoSaveCheck, "A&B\nC");
  EXPECT_EQ(window.caption(control::kAutoSaveCheck), "A&B\nC");

  const Text tag = gbk("a@b.com\r\n\r\n  c@d.com \xA1\xA1\r\n");
  window.setTag(control::kInputButton, tag);
  EXPECT_EQ(window.tag(control::kInputButton), tag);

  const int row = window.appendRow(gbk("用户@例子.com"), 2);
  EXPECT_EQ(row, 0);
  EXPECT_EQ(window.rowCount(), 1);
  EXPECT_EQ(window.cellText(0, 0), gbk("用户@例子.com"));
  EXPECT_EQ(window.cellText(0, 1), "");
  EXPECT_EQ(window.rowImage(0), 2);
  window.setCellText(0, 1, "a.com\r\nb.com\r\nc.com");
  EXPECT_EQ(window.cellText(0, 1), "a.com\r\nb.com\r\nc.com");
  QTreeWidgetItem* item = window.reportList()->topLevelItem(0);
  EXPECT_EQ(item->text(1), "a.com\nb.com\nc.com");
  // Three lines of text make the row taller than one (once laid out).
  const int threeLines = 3 * window.reportList()->fontMetrics().height();
  EXPECT_TRUE(apptest::waitUntil(
      [&] { return window.reportList()->visualItemRect(item).height() >= threeLines; }));
  window.setRowImage(0, 0);
  EXPECT_EQ(window.rowImage(0), 0);
  EXPECT_FALSE(item->icon(0).isNull());
  EXPECT_EQ(window.cellText(5, 0), "");
  EXPECT_EQ(window.cellText(0, 2), "");

  // The user types into an edit box: the content follows the screen.
  auto* maxPages = qobject_cast<QLineEdit*>(window.control("编辑框最多查询页数"));
  maxPages->clear();
  QTest::keyClicks(maxPages, "12");
  EXPECT_EQ(window.content(control::kMaxPagesEdit), "12");

  // Both radio buttons can be left unticked, like the window system's.
  window.setChecked(control::kAizhanRadio, false);
  EXPECT_FALSE(window.checked(control::kAizhanRadio));
  EXPECT_FALSE(window.checked(control::kChinazRadio));
  window.setChecked(control::kChinazRadio, true);
  window.setChecked(control::kAizhanRadio, true);
  EXPECT_FALSE(window.checked(control::kChinazRadio));

  window.deleteAllRows();
  EXPECT_EQ(window.rowCount(), 0);
  EXPECT_EQ(window.selectedRow(), -1);
}

TEST(MainWindowTest, ResizingLaysTheHiddenBrowserOverTheClientArea) {
  MainWindow window(nullptr);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, apptest::kWindowTimeoutMs));
  window.resize(1200, 700);
  ASSERT_TRUE(apptest::waitUntil([&] { return window.size() == QSize(1200, 700); }));
  // The browser lies under the banner, never beneath it.
  EXPECT_EQ(window.signInBanner()->geometry(), QRect(0, 0, 1200, 30));
  EXPECT_EQ(window.browserPane()->geometry(), QRect(0, 30, 1200, 700 - 30));
  // The result list grows with the window, above the status line; the
  // controls above keep their places.
  EXPECT_EQ(window.reportList()->geometry(), QRect(8, 152, 1200 - 16, 700 - 160 - 22));
  EXPECT_EQ(window.statusLine()->geometry().top(), window.reportList()->geometry().bottom() + 5);
  EXPECT_LE(window.statusLine()->geometry().bottom(), 700);
  EXPECT_EQ(window.control(control::kStartButton)->geometry(), QRect(192, 96, 440, 50));
  // Wider than the form: the header band spans the window.
  window.resize(1700, 800);
  ASSERT_TRUE(apptest::waitUntil([&] { return window.size() == QSize(1700, 800); }));
  EXPECT_EQ(geometryOf(window, "图片框3"), QRect(0, 0, 1700, 90));
  EXPECT_EQ(geometryOf(window, "标签3"), QRect(0, 88, 1700, 2));
  // Asked for less than the form needs: no control is cut.
  window.resize(700, 250);
  ASSERT_TRUE(apptest::waitUntil([&] { return window.size() == window.minimumSize(); }));
  for (const char* name :
       {"按钮开始查询", "按钮输入", "单选框爱站", "单选框站长", "标签1", "编辑框最多查询页数",
        "标签2", "编辑框间隔秒", "按钮保存查询结果", "按钮导出表格", "选择框查询时自动保存",
        "按钮自动保存路径", "超级列表框"})
    EXPECT_TRUE(window.rect().contains(geometryOf(window, name))) << name;
  EXPECT_TRUE(window.rect().contains(window.statusLine()->geometry()));
  EXPECT_GE(window.reportList()->height(), 120);
  EXPECT_EQ(window.browserPane()->geometry(), QRect(0, 30, window.width(), window.height() - 30));
  EXPECT_FALSE(window.visible(control::kBrowser));
  EXPECT_EQ(window.browserPane()->browser(), nullptr);
}

TEST(MainWindowTest, DoubleClickOpensTheSelectedAddressesPageAndNothingWithoutSelection) {
  MainWindow window(nullptr);
  std::vector<QUrl> opened;
  window.setDocumentOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, apptest::kWindowTimeoutMs));
  window.appendRow("a@b.com", 2);
  window.appendRow("c d@e.com", 2);
  QTreeWidget* list = window.reportList();
  ASSERT_EQ(window.selectedRow(), -1);

  // Below the rows, nothing selected: nothing happens.
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(400, 300));
  EXPECT_TRUE(opened.empty());

  const QRect second = list->visualItemRect(list->topLevelItem(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(window.selectedRow(), 1);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].toString(QUrl::FullyEncoded),
            "https://whois.aizhan.com/reverse-whois?q=c%20d%40e.com&t=email");

  // The 站长 service: the page URL ends in "&page=".
  window.setChecked(control::kChinazRadio, true);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_TRUE(opened[1]
                  .toString(QUrl::FullyEncoded)
                  .startsWith("https://whois.chinaz.com/reverse?host=c%20d%40e.com"));
  EXPECT_TRUE(opened[1].toString(QUrl::FullyEncoded).endsWith("&page="));
}

TEST(MainWindowTest, HeaderLogoTravelsBetweenItsBoundsOnTheTimer) {
  MainWindow window(nullptr);
  QWidget* logo = window.control("图片Qarvo软件");
  ASSERT_EQ(logo->x(), 104);
  ASSERT_TRUE(window.logoMovingRight());

  // The timer itself drives it: 20 ms ticks.
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, apptest::kWindowTimeoutMs));
  const int before = logo->x();
  EXPECT_TRUE(apptest::waitUntil([&] { return logo->x() > before; }));

  // Right bound: turns once left + width exceeds 576 - 20.
  logo->move(360, 12);
  window.animateHeader();  // 361 + 195 = 556, not beyond
  EXPECT_EQ(logo->x(), 361);
  EXPECT_TRUE(window.logoMovingRight());
  window.animateHeader();  // 362 + 195 = 557 > 556
  EXPECT_EQ(logo->x(), 362);
  EXPECT_FALSE(window.logoMovingRight());
  window.animateHeader();
  EXPECT_EQ(logo->x(), 361);

  // Left bound: turns once the left edge is below 20.
  logo->move(21, 12);
  window.animateHeader();
  EXPECT_EQ(logo->x(), 20);
  EXPECT_FALSE(window.logoMovingRight());
  window.animateHeader();
  EXPECT_EQ(logo->x(), 19);
  EXPECT_TRUE(window.logoMovingRight());
  window.animateHeader();
  EXPECT_EQ(logo->x(), 20);
}

TEST(MainWindowTest, HeaderPicturesOpenTheMakersPages) {
  MainWindow window(nullptr);
  std::vector<QString> opened;
  window.setDocumentOpener([&](const QUrl& url) {
    opened.push_back(url.toString());
    return true;
  });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, apptest::kWindowTimeoutMs));
  QTest::mouseClick(window.control("图片软件主页"), Qt::LeftButton);
  QTest::mouseClick(window.control("图片Qarvo软件"), Qt::LeftButton);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], "http://dorvane.qarvo.example/");
  EXPECT_EQ(opened[1], "http://qarvo.example/");
}

TEST(MainWindowTest, HeaderClickSortsAndRightClickQueriesOneRow) {
  testing::FakeServices fakes;
  fakes.setAddress(testing::FakeSite::kAizhan, "b@x.com", {.domains = {"one.com", "two.com"}});
  ASSERT_TRUE(fakes.start());
  MainWindow window(nullptr, fakes.endpoints());
  window.engine().setWaitHook([](int) {});
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, apptest::kWindowTimeoutMs));
  window.appendRow("c@x.com", 2);
  window.appendRow("A@x.com", 2);
  window.appendRow("b@x.com", 2);

  QHeaderView* header = window.reportList()->header();
  const QPoint firstColumn(header->sectionViewportPosition(0) + 20, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, firstColumn);
  EXPECT_EQ(window.cellText(0, 0), "A@x.com");
  EXPECT_EQ(window.cellText(1, 0), "b@x.com");
  EXPECT_EQ(window.cellText(2, 0), "c@x.com");
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, firstColumn);
  EXPECT_EQ(window.cellText(0, 0), "c@x.com");

  // Right-click on the row of b@x.com: selected, then looked up alone.
  QTreeWidget* list = window.reportList();
  const QRect row = list->visualItemRect(list->topLevelItem(1));
  ASSERT_EQ(window.cellText(1, 0), "b@x.com");
  QTest::mousePress(list->viewport(), Qt::RightButton, {}, row.center());
  QContextMenuEvent menu(QContextMenuEvent::Mouse, row.center(),
                         list->viewport()->mapToGlobal(row.center()));
  QCoreApplication::sendEvent(list->viewport(), &menu);
  QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, row.center());
  EXPECT_EQ(window.selectedRow(), 1);
  EXPECT_EQ(window.cellText(1, 1), "one.com\r\ntwo.com");
  EXPECT_EQ(window.rowImage(1), 0);
  EXPECT_EQ(window.rowImage(0), 2);
  EXPECT_EQ(fakes.requests(testing::FakeSite::kAizhan).size(), 1u);
}

}  // namespace
}  // namespace qarvo

namespace qarvo {
namespace {

// One start of the program against the scratch folder's settings file.
struct ProgramStart {
  SettingsStore store;
  std::unique_ptr<MainWindow> window;
  ProgramStart() {
    store.openSettingsFile(settingsFilePath(programDirectory(), gbk("Qarvo·Dorvane")));
    window = std::make_unique<MainWindow>(&store);
    window->show();
  }
};

TEST(MainWindowSettingsTest, ControlStatesSurviveARestart) {
  ScratchProgramFolder program;
  const std::string iniPath = program.native("Qarvo·Dorvane.ini");
  const Text addresses = gbk("a@b.com\r\n  张三@例子.cn\r\nc@d.com\r\n");
  {
    ProgramStart first;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first.window.get()));
    MainWindow& window = *first.window;
    window.setTag(control::kInputButton, addresses);
    window.setTag(control::kAutoSaveFolderButton, gbk("/tmp/结果"));
    QTest::mouseClick(window.control("单选框站长"), Qt::LeftButton);
    QTest::mouseClick(window.control("选择框查询时自动保存"), Qt::LeftButton);
    auto* interval = qobject_cast<QLineEdit*>(window.control("编辑框间隔秒"));
    interval->selectAll();
    QTest::keyClicks(interval, "1.5");
    // Nothing is written before the window closes.
    EXPECT_EQ(apptest::readFile(iniPath), "");
    EXPECT_TRUE(window.close());
  }
  // The file is GBK; compared here in UTF-8.
  const std::string saved = gbkToUtf8(apptest::readFile(iniPath));
  EXPECT_EQ(saved.rfind("[主界面]\r\n", 0), 0u) << saved;
  EXPECT_NE(
      saved.find("编辑框间隔秒=1.5\r\n编辑框最多查询页数=50\r\n单选框站长=真\r\n单选框爱站=假\r\n"),
      std::string::npos)
      << saved;
  EXPECT_NE(saved.find("按钮输入.标记=a@b.com┊*┊  张三@例子.cn┊*┊c@d.com┊*┊\r\n"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find("选择框查询时自动保存=假"), std::string::npos) << saved;
  EXPECT_NE(saved.substr(saved.size() - 2), "\r\n");

  ProgramStart second;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(second.window.get()));
  MainWindow& window = *second.window;
  EXPECT_EQ(window.tag(control::kInputButton), addresses);
  EXPECT_EQ(window.tag(control::kAutoSaveFolderButton), gbk("/tmp/结果"));
  EXPECT_TRUE(window.checked(control::kChinazRadio));
  EXPECT_FALSE(window.checked(control::kAizhanRadio));
  EXPECT_EQ(window.content(control::kIntervalEdit), "1.5");
  EXPECT_EQ(window.content(control::kMaxPagesEdit), "50");
  EXPECT_FALSE(window.checked(control::kAutoSaveCheck));
  // Restored before the enable rule: the folder button follows the box.
  EXPECT_FALSE(window.control("按钮自动保存路径")->isEnabled());
  window.close();
}

}  // namespace
}  // namespace qarvo
