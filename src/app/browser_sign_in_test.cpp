// The 站长 sign-in through the embedded browser (Qt WebEngine on the display).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "app/app_test_support.h"
#include "app/browser_pane.h"
#include "app/embedded_browser.h"
#include "app/main_window.h"
#include "platform/code_page.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using testing::FakeServices;
using testing::FakeSite;

QMessageBox* openMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
      return box;
  }
  return nullptr;
}

TEST(BrowserSignInTest, PastPageTenTheBrowserSignsInAndItsCookieGoesWithPageEleven) {
  apptest::ScratchProgramFolder program;
  FakeServices fakes;
  std::vector<std::string> domains;
  for (int i = 1; i <= 12; ++i)
    domains.push_back("site" + std::to_string(i) + ".cn");
  fakes.setAddress(FakeSite::kChinaz, "boss@corp.cn", {.domains = domains, .perPage = 1});
  ASSERT_TRUE(fakes.start());

  MainWindow window(nullptr, fakes.endpoints());
  window.engine().setWaitHook([](int) { QCoreApplication::processEvents(); });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  apptest::MessageBoxRecorder finished;
  window.setChecked(control::kChinazRadio, true);
  window.setTag(control::kInputButton, "boss@corp.cn");
  window.setChecked(control::kAutoSaveCheck, false);
  ASSERT_EQ(window.browserPane()->browser(), nullptr);

  // While the sign-in box is open, play the user: sign in on the page, then OK.
  bool sawBox = false;
  std::string failure;
  QTimer player;
  player.setInterval(50);
  QObject::connect(&player, &QTimer::timeout, [&] {
    QMessageBox* box = openMessageBox();
    if (box == nullptr || sawBox)
      return;
    sawBox = true;
    player.stop();
    EXPECT_EQ(box->text(),
              QStringLiteral("chinaz.com要求登录才能查询更多页！登录完成点击确定按钮继续"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("信息："));
    // Not modal: the browser under it takes input.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(box->isModal());
    EXPECT_TRUE(window.visible(control::kBrowser));
    EXPECT_EQ(window.browserPane()->geometry(),
              QRect(0, window.signInBanner()->height(), window.width(),
                    window.height() - window.signInBanner()->height()));
    EXPECT_TRUE(window.signInBanner()->text().startsWith(QStringLiteral("chinaz.com 要求登录")));
    EmbeddedBrowser* browser = window.browserPane()->browser();
    ASSERT_NE(browser, nullptr);
    // No page 11 yet.
    for (const auto& request : fakes.requests(FakeSite::kChinaz))
      EXPECT_LE(request.page(), 10);

    // The tool site's sign-in form shows; the user submits it from the
    // keyboard (Tab to the password field, Enter).
    EXPECT_TRUE(apptest::waitUntil([&] {
      for (const auto& request : fakes.requests(FakeSite::kChinazTool))
        if (request.path == "/")
          return true;
      return false;
    }));
    // The view lives in the browser module; found by its class name.
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
    if (!apptest::waitUntil([&] { return !browser->cookieText().isEmpty(); }, 15000))
      failure = "no cookie after the sign-in form was sent";
    EXPECT_EQ(browser->cookieText(), QByteArray(FakeServices::kSignInCookie.data()));
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  player.start();

  window.setContent(control::kMaxPagesEdit, "12");
  QTest::mouseClick(window.control("按钮开始查询"), Qt::LeftButton);

  EXPECT_TRUE(sawBox);
  EXPECT_EQ(failure, "");
  EXPECT_FALSE(window.visible(control::kBrowser));
  EXPECT_EQ(window.engine().serviceCookieText(), std::string(FakeServices::kSignInCookie));
  // The cookie came from the form the user sent.
  bool posted = false;
  for (const auto& request : fakes.requests(FakeSite::kChinazTool))
    posted = posted || (request.method == "POST" && request.path == "/login");
  EXPECT_TRUE(posted);
  std::vector<testing::ServiceRequest> requests = fakes.requests(FakeSite::kChinaz);
  ASSERT_EQ(requests.size(), 12u);
  EXPECT_EQ(requests[10].page(), 11);
  EXPECT_NE(requests[10].header("Cookie").find(std::string(FakeServices::kSignInCookie)),
            std::string::npos);
  EXPECT_EQ(requests[9].header("Cookie").find("chinaz_auth"), std::string::npos);
  std::string all;
  for (const std::string& domain : domains)
    all += (all.empty() ? "" : "\r\n") + domain;
  EXPECT_EQ(window.cellText(0, 1), all);
  ASSERT_EQ(finished.calls.size(), 1u);
  EXPECT_EQ(finished.calls[0].text, "查询完成！");
}

}  // namespace
}  // namespace qarvo
