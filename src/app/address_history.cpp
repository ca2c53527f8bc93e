#include "app/address_history.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <string>

#include "app/main_window.h"
#include "app/qt_text.h"
#include "engine/lookup_history.h"
#include "engine/row_story.h"
#include "platform/code_page.h"

namespace qarvo {

Text openWindowHistory(LookupHistory& history, const Text& path) {
  static const Text kMoved1 = gbk("查询历史文件已损坏，已移到：\r\n");
  static const Text kMoved2 = gbk("\r\n并新建了查询历史。");
  static const Text kUnusable1 = gbk("无法使用查询历史：");
  static const Text kUnusable2 =
      gbk("\r\n本次不记录查询历史，“跳过查过的邮箱”也不起作用；查询照常进行。");
  std::string problem;
  if (!history.open(path, &problem))
    return kUnusable1 + path + "\r\n" + problem + kUnusable2;
  if (!history.movedAside().empty())
    return kMoved1 + history.movedAside() + kMoved2;
  return Text();
}

QWidget* showAddressHistory(QWidget* parent, LookupHistory& history, const Text& address) {
  auto* dialog = new QDialog(parent, Qt::Window);
  dialog->setObjectName(QStringLiteral("查询历史"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("查询历史 - %1").arg(toDisplay(address)));
  auto* text = new QPlainTextEdit(dialog);
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setPlainText(toDisplay(addressHistoryText(history, address))
                         .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(text);
  layout->addWidget(buttons);
  dialog->resize(640, 420);
  dialog->show();
  return dialog;
}

void MainWindow::showRowHistory() {
  static const Text kNoRow = gbk("请先选中一行，再按 Ctrl+H 查看该邮箱的查询历史");
  static const Text kNoHistory = gbk("查询历史无法使用，没有可查看的记录");
  const int row = selectedRow();
  LookupProgress notice;
  notice.stage = LookupProgress::Stage::kNotice;
  if (row < 0) {
    notice.notice = kNoRow;
    statusLine_->onProgress(notice);
    return;
  }
  LookupHistory* history = engine_.history();
  if (history == nullptr || !history->isOpen()) {
    notice.notice = kNoHistory;
    statusLine_->onProgress(notice);
    return;
  }
  showAddressHistory(this, *history, cellText(row, 0));
}

}  // namespace qarvo
