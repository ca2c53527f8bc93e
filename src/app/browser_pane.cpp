#include "app/browser_pane.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QVBoxLayout>
#include <cstdio>

#include "app/embedded_browser.h"

// Exported by QtGui; what QGuiApplication sets up under
// Qt::AA_ShareOpenGLContexts. We set it up ourselves on first use instead.
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace qarvo {

namespace {

// Qt WebEngine draws through a context shared with the application's global
// one. Qt would create that at start-up when asked to, which costs tens of
// megabytes and a GL driver load that most runs never need; creating it here,
// before the engine's module is mapped, gives the engine what it expects.
bool prepareSharedOpenGlContext() {
  if (qt_gl_global_share_context() != nullptr)
    return true;
  auto* context = new QOpenGLContext(QCoreApplication::instance());
  if (!context->create()) {
    delete context;
    return false;
  }
  qt_gl_set_global_share_context(context);
  return true;
}

}  // namespace

QString embeddedBrowserModulePath(const QString& programFolder) {
  const QDir folder(programFolder);
  for (const QString& candidate : {folder.filePath(kEmbeddedBrowserModule),
                                   folder.filePath(QStringLiteral("%1/%2").arg(
                                       kEmbeddedBrowserInstalledFolder, kEmbeddedBrowserModule))}) {
    if (QFileInfo(candidate).isFile())
      return QDir::cleanPath(candidate);
  }
  return QString();
}

BrowserPane::BrowserPane(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

BrowserPane::~BrowserPane() = default;  // the browser is a child widget

bool BrowserPane::ensureBrowser() {
  if (browser_ != nullptr)
    return true;
  if (loadFailed_)
    return false;
  loadFailed_ = true;
  // WebEngine reports its set-up on every start; that is not news to a user.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
  if (!prepareSharedOpenGlContext()) {
    failure_ = QStringLiteral("没有可用的 OpenGL 环境");
    std::fprintf(stderr, "qarvo-dorvane: no OpenGL context for the embedded browser\n");
    return false;
  }
  const QString path = embeddedBrowserModulePath(QCoreApplication::applicationDirPath());
  if (path.isEmpty()) {
    failure_ = QStringLiteral("找不到浏览器模块 %1").arg(QString::fromUtf8(kEmbeddedBrowserModule));
    std::fprintf(stderr,
                 "qarvo-dorvane: the browser module %s is missing beside the program and in %s\n",
                 kEmbeddedBrowserModule, kEmbeddedBrowserInstalledFolder);
    return false;
  }
  QLibrary module(path);
  auto create =
      reinterpret_cast<CreateEmbeddedBrowserFunction>(module.resolve(kCreateEmbeddedBrowserSymbol));
  if (create == nullptr) {
    failure_ = QStringLiteral("浏览器模块无法加载：%1").arg(module.errorString());
    std::fprintf(stderr, "qarvo-dorvane: %s\n", qPrintable(module.errorString()));
    return false;
  }
  browser_ = create(this);
  if (browser_ == nullptr) {
    failure_ = QStringLiteral("浏览器模块无法启动");
    return false;
  }
  failure_.clear();
  layout()->addWidget(browser_->widget());
  loadFailed_ = false;
  return true;
}

bool BrowserPane::navigate(const QString& url) {
  if (!ensureBrowser())
    return false;
  browser_->navigate(url);
  return true;
}

QByteArray BrowserPane::cookieText() const {
  return browser_ != nullptr ? browser_->cookieText() : QByteArray();
}

void BrowserPane::showEvent(QShowEvent* event) {
  ensureBrowser();
  QWidget::showEvent(event);
}

}  // namespace qarvo
