// The offline demo as the README runs it: the standalone fake services as the
// HTTP proxy, the window with the real host names, a 站长 run with a sign-in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <string>

#include "app/app_test_support.h"
#include "app/browser_pane.h"
#include "app/embedded_browser.h"
#include "app/main_window.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

int countLines(const std::string& text) {
  if (text.empty())
    return 0;
  int lines = 1;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++lines;
  return lines;
}

class FakeServicesProgram {
 public:
  // `caFile`: where the fakes write the authority their https certificate
  // comes from.
  explicit FakeServicesProgram(const std::string& caFile) {
    for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
      const int port = 20000 + QRandomGenerator::global()->bounded(20000);
      process_.start(QARVO_FAKE_SERVICES_PATH,
                     {QString::number(port), "--ca-file", QString::fromStdString(caFile)});
      if (!process_.waitForStarted(5000))
        continue;
      // The banner comes once it listens.
      if (process_.waitForReadyRead(5000) && process_.state() == QProcess::Running)
        port_ = port;
      else
        process_.kill(), process_.waitForFinished();
    }
  }
  ~FakeServicesProgram() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  int port() const { return port_; }
  std::string log() {
    output_ += process_.readAllStandardOutput().toStdString();
    return output_;
  }

 private:
  QProcess process_;
  int port_ = 0;
  std::string output_;
};

QMessageBox* openMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
      return box;
  }
  return nullptr;
}

TEST(OfflineDemoTest, AWholeLookUpThroughTheFakeServicesProxy) {
  apptest::ScratchProgramFolder program;
  const std::string caFile = program.native("fakes-ca.pem");
  FakeServicesProgram fakes(caFile);
  ASSERT_NE(fakes.port(), 0) << "the fake services did not start";
  // The services' pages over https through the proxy, the sign-in page over
  // http, as the README starts the program.
  const std::string proxy = "http://127.0.0.1:" + std::to_string(fakes.port());
  setenv("http_proxy", proxy.c_str(), 1);
  setenv("https_proxy", proxy.c_str(), 1);
  setenv("SSL_CERT_FILE", caFile.c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");

  MainWindow window(nullptr);  // the real host names
  window.engine().setWaitHook([](int) { QCoreApplication::processEvents(); });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  apptest::MessageBoxRecorder finished;
  window.setChecked(control::kChinazRadio, true);
  window.setContent(control::kMaxPagesEdit, "12");
  window.setTag(control::kInputButton,
                gbk("admin@example-shop.cn\r\nhostmaster@big-holding.com\r\nzhang.wei@例子.cn"));
  const std::string folder = program.native("results");
  window.setTag(control::kAutoSaveFolderButton, utf8ToGbk(folder));

  // The sign-in past page 10, in the browser, through the proxy.
  bool signedIn = false;
  QTimer player;
  player.setInterval(50);
  QObject::connect(&player, &QTimer::timeout, [&] {
    QMessageBox* box = openMessageBox();
    if (box == nullptr)
      return;
    player.stop();
    EmbeddedBrowser* browser = window.browserPane()->browser();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(apptest::waitUntil(
        [&] { return fakes.log().find("GET http://tool.chinaz.com/ ") != std::string::npos; }));
    EXPECT_TRUE(apptest::waitUntil([&] {
      return browser->currentUrl() == "http://tool.chinaz.com/";
    })) << browser->currentUrl().toStdString();
    QWidget* view = nullptr;
    for (QWidget* child : window.browserPane()->findChildren<QWidget*>())
      if (QString::fromLatin1(child->metaObject()->className()) == "QWebEngineView")
        view = child;
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(apptest::waitUntil([&] { return !view->property("title").toString().isEmpty(); }));
    QTest::qWait(300);
    QWidget* input = view->focusProxy() != nullptr ? view->focusProxy() : view;
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(5, view->height() - 5));
    QTest::keyClick(input, Qt::Key_Tab);
    QTest::keyClick(input, Qt::Key_Tab);
    QTest::keyClick(input, Qt::Key_Return);
    signedIn = apptest::waitUntil([&] { return !browser->cookieText().isEmpty(); }, 15000);
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  player.start();

  QTest::mouseClick(window.control("按钮开始查询"), Qt::LeftButton);

  EXPECT_TRUE(signedIn);
  ASSERT_EQ(finished.calls.size(), 1u);
  EXPECT_EQ(finished.calls[0].text, "查询完成！");
  ASSERT_EQ(window.rowCount(), 3);
  EXPECT_EQ(countLines(window.cellText(0, 1)), 45);
  // Twelve pages of twenty, pages 11 and 12 with the sign-in cookie.
  EXPECT_EQ(countLines(window.cellText(1, 1)), 12 * 20);
  EXPECT_EQ(window.cellText(2, 1), "zhangwei.cn\r\nweizhang.com");
  EXPECT_EQ(window.engine().serviceCookieText(), "chinaz_auth=signed-in");
  EXPECT_NE(fakes.log().find("GET https://whois.chinaz.com/reverse?host=hostmaster%40big-holding."
                             "com&ddlSearchMode=1&st=&startDay=&endDay=&wTimefilter=$wTimefilter&"
                             "page=12 -> 200"),
            std::string::npos);
  EXPECT_EQ(apptest::readFile(folder + "/hostmaster@big-holding.com.txt"), window.cellText(1, 1));
  EXPECT_EQ(apptest::readFile(folder + "/admin@example-shop.cn.txt"), window.cellText(0, 1));
  unsetenv("http_proxy");
  unsetenv("https_proxy");
  unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace qarvo
