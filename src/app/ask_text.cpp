#include "app/ask_text.h"

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <algorithm>

#include "app/qt_text.h"
#include "app/window_placement.h"
#include "platform/code_page.h"
#include "platform/message_box.h"

namespace qarvo {

namespace {

QPointer<ListEntryWindow> openWindow;

// Styles of the two questions: information icon, system-modal; OK, or Yes/No.
constexpr unsigned kOkStyle = 0x0 | 0x40 | 0x1000;
constexpr unsigned kYesNoStyle = 0x4 | 0x40 | 0x1000;
constexpr int kIdYes = 6;

const Text& questionTitle() {
  static const Text title = gbk("Qarvo：");
  return title;
}

QPushButton* toolButton(QWidget* parent, const char* name, const char* caption, int left) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setAutoDefault(false);
  button->setGeometry(left, 5, 56, 24);
  return button;
}

}  // namespace

ListEntryWindow::ListEntryWindow(const Text& initialText, const Text& prompt, const Text& info)
    : QDialog(nullptr), initial_(initialText), initialShown_(toDisplay(initialText)), info_(info) {
  setWindowTitle(prompt.empty() ? QStringLiteral("输入：") : toDisplay(prompt));
  setModal(true);
  setWindowModality(Qt::ApplicationModal);
  keepOnlyCloseButton(this);

  infoBox_ = new QPlainTextEdit(this);
  infoBox_->setObjectName(QStringLiteral("编辑框提示"));
  infoBox_->setReadOnly(true);
  infoBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  infoBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  infoBox_->setPlainText(toDisplay(info));

  body_ = new QPlainTextEdit(this);
  body_->setObjectName(QStringLiteral("编辑框正文"));
  body_->setPlainText(initialShown_);
  body_->setLineWrapMode(QPlainTextEdit::NoWrap);

  strip_ = new QFrame(this);
  strip_->setObjectName(QStringLiteral("外形框"));
  strip_->setFrameShape(QFrame::NoFrame);
  QPushButton* restore = toolButton(strip_, "按钮恢复", "恢复", 0);
  QPushButton* clear = toolButton(strip_, "按钮清空", "清空", 60);
  QPushButton* pasteButton = toolButton(strip_, "按钮粘贴", "粘贴", 120);
  // Part of the form, never shown by this program.
  toolButton(strip_, "按钮文件", "文件", 180)->hide();
  toolButton(strip_, "按钮文件名", "文件名", 240)->hide();

  okButton_ = new QPushButton(QStringLiteral("确定"), this);
  okButton_->setObjectName(QStringLiteral("按钮确定"));
  okButton_->setAutoDefault(false);
  okButton_->resize(72, 26);
  cancelButton_ = new QPushButton(QStringLiteral("取消"), this);
  cancelButton_->setObjectName(QStringLiteral("按钮取消"));
  cancelButton_->setAutoDefault(false);
  cancelButton_->resize(72, 26);

  connect(restore, &QPushButton::clicked, this, [this] { restoreInitial(); });
  connect(clear, &QPushButton::clicked, this, [this] { body_->clear(); });
  connect(pasteButton, &QPushButton::clicked, this, [this] { paste(); });
  connect(okButton_, &QPushButton::clicked, this, [this] { confirm(); });
  // 取消 closes without asking.
  connect(cancelButton_, &QPushButton::clicked, this, [this] { QDialog::reject(); });

  resize(560, 420);
  layOut();
}

ListEntryWindow* ListEntryWindow::current() {
  return openWindow.data();
}

int ListEntryWindow::infoHeight(const Text& info, int width) {
  if (info.empty())
    return 0;
  const int perLine = std::max(1, (width - 2 * kMargin) / 6);
  int lines = 0;
  size_t start = 0;
  while (true) {
    size_t end = info.find("\r\n", start);
    const size_t length = (end == Text::npos ? info.size() : end) - start;
    lines += std::max<int>(1, static_cast<int>((length + perLine - 1) / perLine));
    if (end == Text::npos)
      break;
    start = end + 2;
  }
  return kInfoLineHeight * lines;
}

void ListEntryWindow::layOut() {
  const int w = width();
  const int h = height();
  const int m = kMargin;
  // The rule counts lines of 12 pixels, the form font's; the font shown here
  // may be taller, and every line of the info must be read whole.
  const int lines = infoHeight(info_, w) / kInfoLineHeight;
  const QMargins chrome = infoBox_->contentsMargins();
  const int infoBoxHeight =
      lines == 0 ? 0
                 : lines * std::max(kInfoLineHeight, infoBox_->fontMetrics().lineSpacing()) +
                       chrome.top() + chrome.bottom() +
                       2 * static_cast<int>(infoBox_->document()->documentMargin());
  infoBox_->setGeometry(m, m, w - 2 * m, infoBoxHeight);
  const int bodyTop = infoBox_->geometry().top() + infoBox_->height() + m;
  body_->setGeometry(m, bodyTop, w - 2 * m, std::max(0, h - bodyTop - kFrameHeight));
  strip_->setGeometry(m, bodyTop + body_->height(), w - 2 * m, kFrameHeight);
  const int middle = strip_->geometry().top() + kFrameHeight / 2;
  cancelButton_->move(w - m - cancelButton_->width(), middle - cancelButton_->height() / 2);
  okButton_->move(cancelButton_->x() - okButton_->width(), middle - okButton_->height() / 2);
}

void ListEntryWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layOut();
}

void ListEntryWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QWidget* main = shownMainWindow()) {
    centreOn(this, main);
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.left() + area.width() / 2 - width() / 2,
         area.top() + (area.height() - 30) / 2 - height() / 2);
  }
  body_->setFocus();
}

Text ListEntryWindow::editorText() const {
  const QString shown = body_->toPlainText();
  // Unchanged on screen: the text exactly as it came in.
  return shown == initialShown_ ? initial_ : fromDisplay(shown);
}

bool ListEntryWindow::changed() const {
  return body_->toPlainText() != initialShown_;
}

void ListEntryWindow::restoreInitial() {
  if (initial_.empty()) {
    static const Text empty = gbk("启动值为空！");
    showMessageBox(empty, questionTitle(), kOkStyle);
    return;
  }
  body_->setPlainText(initialShown_);
}

void ListEntryWindow::paste() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  body_->setPlainText(clipboard != nullptr ? clipboard->text() : QString());
}

void ListEntryWindow::confirm() {
  result_.text = editorText();
  result_.accepted = true;
  QDialog::accept();
}

void ListEntryWindow::reject() {
  if (changed()) {
    static const Text question = gbk("内容已被改动，是否要放弃？");
    if (showMessageBox(question, questionTitle(), kYesNoStyle) != kIdYes)
      return;
  }
  QDialog::reject();
}

AskTextResult askText(const Text& initialText, const Text& prompt, const Text& info) {
  if (openWindow)
    return {};
  ListEntryWindow window(initialText, prompt, info);
  openWindow = &window;
  // exec() returns only once the event loop iteration that closed the window
  // is over, and Qt delivers every input event queued behind the closing key
  // or click in that same iteration, so a click on 邮箱 right after Escape
  // comes here while this call is still on the stack. A window that closed
  // without a result is no longer open: such a request opens a new one.
  // An accepted text has yet to reach the caller, though; a window opened now
  // would show the old text and be overwritten by it, so that one still
  // counts as open until it is handed back.
  QObject::connect(&window, &QDialog::finished, &window, [&window] {
    if (!window.result().accepted && openWindow == &window)
      openWindow = nullptr;
  });
  window.exec();
  if (openWindow == &window)
    openWindow = nullptr;
  return window.result();
}

}  // namespace qarvo
