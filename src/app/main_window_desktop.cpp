// The main window's browser pane and desktop services: the sign-in pane with
// its banner, message boxes, the clipboard, the folder dialog, and handing
// documents, folders and programs to the desktop.
#include "app/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>

#include "app/browser_pane.h"
#include "app/desktop_glue.h"
#include "app/qt_text.h"
#include "platform/code_page.h"
#include "platform/message_box.h"
#include "platform/native_file.h"

namespace qarvo {

void MainWindow::showSignInPane(bool on) {
  if (on && closing_)
    return;
  browser_->setVisible(on);
  if (on)
    browser_->raise();
  signInBanner_->setVisible(on);
  if (on)
    signInBanner_->raise();
}

bool MainWindow::browserNavigate(const std::string& url) {
  if (closing_)
    return false;
  placeBrowser();
  if (browser_->navigate(QString::fromStdString(url)))
    return true;
  // No pane to sign in with: say why instead of showing a blank one. Once per
  // start is enough; the look-ups that need it end as incomplete.
  if (!browserFailureShown_) {
    browserFailureShown_ = true;
    const QString text =
        QStringLiteral(
            "内嵌浏览器无法启动：%1。\n\nchinaz.com 的第 10 页以后的结果需要登录后才能查询，"
            "本次只能查询前 10 页，该邮箱的查询结果不完整。")
            .arg(browser_->failureReason());
    showMessageBox(fromDisplay(text), gbk("信息："), mb::kOk | mb::kIconInformation);
  }
  return false;
}

void MainWindow::setBrowserBanner(const Text& text) {
  signInBanner_->setText(toDisplay(text));
}

Text MainWindow::browserCookieText() {
  const QByteArray cookies = browser_->cookieText();
  return Text(cookies.constData(), static_cast<size_t>(cookies.size()));
}

int MainWindow::messageBox(const Text& text, const Text& title, unsigned style, bool ownerless) {
  // Closed during a look-up: it is winding down and asks nobody anything;
  // a question gets the answer that starts nothing new.
  if (closing_)
    return (style & 0xF) == mb::kYesNo ? mb::kIdNo : mb::kIdOk;
  if (ownerless)
    return showDesktopMessageBox(text, title, style, true);
  return showMessageBox(text, title, style);
}

void MainWindow::beep() {
  QApplication::beep();
}

Text MainWindow::clipboardText() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  // The desktop's clipboard has LF line breaks; the program splits at CR LF.
  return clipboard != nullptr ? fromDisplay(clipboard->text()) : Text();
}

Text MainWindow::chooseFolder(const Text& initialPath, const Text& title, unsigned flags) {
  QFileDialog::Options options;
  if ((flags & 0x4000) == 0)
    options |= QFileDialog::ShowDirsOnly;
  const QString chosen = QFileDialog::getExistingDirectory(
      nullptr, toDisplay(title), QString::fromStdString(nativePath(initialPath)), options);
  return chosen.isEmpty() ? Text() : utf8ToGbk(chosen.toStdString());
}

Text MainWindow::chooseSaveFile(const Text& initialPath, const Text& title) {
  // The dialog asks before an existing file is replaced.
  const QString chosen = QFileDialog::getSaveFileName(
      nullptr, toDisplay(title), QString::fromStdString(nativePath(initialPath)),
      QStringLiteral("CSV 表格 (*.csv)"));
  return chosen.isEmpty() ? Text() : utf8ToGbk(chosen.toStdString());
}

void MainWindow::openDocument(const std::string& target) {
  QUrl url;
  if (target.find("://") != std::string::npos) {
    url = QUrl(QString::fromStdString(target), QUrl::TolerantMode);
  } else {
    url = QUrl::fromLocalFile(QString::fromStdString(nativePath(target)));
  }
  if (!openDocument_ || openDocument_(url))
    return;
  // Said in the window, not only on the terminal.
  const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toString();
  const QString text =
      url.isLocalFile()
          ? QStringLiteral("无法打开“%1”：桌面没有设置用来打开它的程序。").arg(shown)
          : QStringLiteral(
                "无法打开网页：桌面没有设置默认的网页浏览器。\n\n请在浏览器中手动打开：\n%1")
                .arg(shown);
  showMessageBox(fromDisplay(text), gbk("信息："), mb::kOk | mb::kIconInformation);
}

bool MainWindow::openFolder(const Text& folder) {
  return openDocument_ &&
         openDocument_(QUrl::fromLocalFile(QString::fromStdString(nativePath(folder))));
}

bool MainWindow::startProgram(const Text& path) {
  return QProcess::startDetached(QString::fromStdString(nativePath(path)), {});
}

}  // namespace qarvo
