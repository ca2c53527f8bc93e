// 浏览器: the place of the embedded browser in the main window.
//
// A plain, hidden child widget from the start, so that the window can move,
// size, show and hide it at no cost; the browser itself is loaded into it on
// first use (a navigation, or being shown).
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

namespace qarvo {

class EmbeddedBrowser;

class BrowserPane : public QWidget {
  Q_OBJECT

 public:
  explicit BrowserPane(QWidget* parent);
  ~BrowserPane() override;

  // Loads `url`, creating the browser first when needed. False when the
  // browser module could not be loaded.
  bool navigate(const QString& url);
  // The cookie text of the page shown; empty before the browser exists.
  QByteArray cookieText() const;
  // The browser, or nullptr while it has not been created.
  EmbeddedBrowser* browser() const { return browser_; }
  bool ensureBrowser();
  // Why the browser could not be created (empty while it could).
  const QString& failureReason() const { return failure_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  EmbeddedBrowser* browser_ = nullptr;
  bool loadFailed_ = false;
  QString failure_;
};

}  // namespace qarvo
