// qarvo-browser.so: the embedded browser over Qt WebEngine.
//
// Loaded by the window on first use (see embedded_browser.h). The profile is
// off the record: a sign-in lasts as long as the program runs, like the cookie
// text the look-up keeps. The browser reaches the web through the proxy named
// by http_proxy, the same one the page requests use.
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWidget>
#include <cstdlib>

#include "app/cookie_text.h"
#include "app/embedded_browser.h"

namespace qarvo {

namespace {

// http_proxy (or HTTP_PROXY) as the application proxy, which WebEngine hands
// on to Chromium. Chromium's own loopback bypass stays in force.
void useEnvironmentProxy() {
  const char* value = std::getenv("http_proxy");
  if (value == nullptr || *value == '\0')
    value = std::getenv("HTTP_PROXY");
  if (value == nullptr || *value == '\0')
    return;
  QString text = QString::fromLocal8Bit(value).trimmed();
  if (!text.contains(QStringLiteral("://")))
    text.prepend(QStringLiteral("http://"));
  const QUrl url(text);
  if (!url.isValid() || url.host().isEmpty())
    return;
  QNetworkProxy proxy(QNetworkProxy::HttpProxy, url.host(), static_cast<quint16>(url.port(8080)),
                      url.userName(), url.password());
  if (url.scheme().startsWith(QStringLiteral("socks")))
    proxy.setType(QNetworkProxy::Socks5Proxy);
  QNetworkProxy::setApplicationProxy(proxy);
}

class WebEngineBrowser final : public QWidget, public EmbeddedBrowser {
 public:
  explicit WebEngineBrowser(QWidget* parent) : QWidget(parent) {
    useEnvironmentProxy();
    profile_ = new QWebEngineProfile(this);  // no storage name: off the record
    QWebEngineCookieStore* store = profile_->cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, this,
                     [this](const QNetworkCookie& cookie) {
                       cookies_.add(cookie.name(), cookie.value(), cookie.domain(), cookie.path());
                     });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, this,
                     [this](const QNetworkCookie& cookie) {
                       cookies_.remove(cookie.name(), cookie.domain(), cookie.path());
                     });
    store->loadAllCookies();

    view_ = new QWebEngineView(this);
    page_ = new QWebEnginePage(profile_, view_);
    view_->setPage(page_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
  }

  ~WebEngineBrowser() override {
    // The page must go before its profile.
    delete view_;
    view_ = nullptr;
  }

  QWidget* widget() override { return this; }

  void navigate(const QString& url) override { page_->load(QUrl::fromUserInput(url)); }

  QString currentUrl() const override { return shownUrl().toString(); }

  QByteArray cookieText() const override {
    const QUrl url = shownUrl();
    return cookies_.headerFor(url.host(), url.path());
  }

 private:
  // The page's address; while the first load is still under way, the one
  // asked for.
  QUrl shownUrl() const {
    const QUrl url = page_->url();
    return url.isEmpty() ? page_->requestedUrl() : url;
  }

  QWebEngineProfile* profile_ = nullptr;
  QWebEngineView* view_ = nullptr;
  QWebEnginePage* page_ = nullptr;
  CookieText cookies_;
};

}  // namespace

}  // namespace qarvo

extern "C" Q_DECL_EXPORT qarvo::EmbeddedBrowser* qarvoCreateEmbeddedBrowser(QWidget* parent) {
  return new qarvo::WebEngineBrowser(parent);
}
