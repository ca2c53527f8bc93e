// The main window's form: its controls, their places as the window grows,
// and their properties as the engine and the settings walk see them.
#include "app/main_window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "app/artwork.h"
#include "app/browser_pane.h"
#include "app/qt_text.h"
#include "platform/code_page.h"

namespace qarvo {

namespace {

constexpr char kCaptionKey[] = "caption";
constexpr char kContentKey[] = "content";
constexpr char kTagKey[] = "tag";

// The status line under the result list, and the banner over the browser.
constexpr int kStatusHeight = 22;
constexpr int kBannerHeight = 30;

// Client size that holds every control of the form with an 8-pixel border,
// and the status line below them.
constexpr int kClientWidth = 1048;
constexpr int kClientHeight = 576 + kStatusHeight;

// The result list's place in the form; it grows with the window from there.
constexpr int kListLeft = 8;
constexpr int kListTop = 152;
constexpr int kListMinWidth = 400;
constexpr int kListMinHeight = 120;

// Below this the controls above the list would be cut: they keep their
// places, so the window is never narrower than the form, and the list keeps
// a few rows.
constexpr int kMinClientHeight = kListTop + kListMinHeight + 4 + kStatusHeight + 8;

// The header band and its separator are at least as wide as in the form and
// as wide as the window when it is wider.
constexpr int kHeaderWidth = 1520;
constexpr int kSeparatorWidth = 1200;

// What the two number boxes accept while typing: whole pages 1-9999, and
// seconds 0-3600 with at most one decimal.
constexpr int kMaxPagesLimit = 9999;
constexpr char kIntervalPattern[] =
    R"((?:[0-9]{1,3}|[12][0-9]{3}|3[0-5][0-9]{2})(?:\.[0-9]?)?|3600(?:\.0?)?)";
constexpr char kLastAcceptableKey[] = "lastAcceptable";

// Button texts treat "&" as a mnemonic mark; the program's captions are plain.
QString buttonShown(const QString& shown) {
  QString escaped = shown;
  return escaped.replace(u'&', QStringLiteral("&&"));
}

QString linkHtml(const QString& url, const QString& caption) {
  return QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), caption.toHtmlEscaped());
}

}  // namespace

void MainWindow::add(QWidget* widget, const char* utf8Name) {
  widget->setObjectName(QString::fromUtf8(utf8Name));
  controls_.emplace(utf8Name, widget);
}

void MainWindow::buildControls() {
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kClientWidth, kMinClientHeight);

  // The header band and what it holds.
  header_ = new QFrame(this);
  add(header_, "图片框3");
  header_->setGeometry(0, 0, 1520, 90);
  header_->setAutoFillBackground(true);
  QPalette band = header_->palette();
  band.setColor(QPalette::Window, QColor(0xf7, 0xfa, 0xfd));
  header_->setPalette(band);

  auto* separator = new QFrame(header_);
  add(separator, "标签3");
  separator->setGeometry(0, 88, 1200, 2);
  separator->setFrameShape(QFrame::HLine);
  separator->setFrameShadow(QFrame::Sunken);

  logo_ = new QLabel(header_);
  add(logo_, "图片Qarvo软件");
  logo_->setGeometry(104, 12, 195, 64);
  logo_->setPixmap(artwork::makerLogo(195, 64));
  logo_->setCursor(Qt::PointingHandCursor);

  auto* homePicture = new QLabel(header_);
  add(homePicture, "图片软件主页");
  homePicture->setGeometry(576, 0, 64, 64);
  homePicture->setPixmap(artwork::homePagePicture(64));
  homePicture->setCursor(Qt::PointingHandCursor);

  homeLink_ = new QLabel(header_);
  add(homeLink_, "链接软件主页");
  homeLink_->setGeometry(576, 64, 64, 24);
  homeLink_->setAlignment(Qt::AlignCenter);
  homeLink_->setProperty("url", QString::fromUtf8(kHomePageUrl));
  homeLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);

  auto* contactPicture = new QLabel(header_);
  add(contactPicture, "图片联系作者");
  contactPicture->setGeometry(656, 0, 64, 64);
  contactPicture->setPixmap(artwork::contactPicture(64));
  contactPicture->setCursor(Qt::PointingHandCursor);

  auto* contactLink = new QLabel(header_);
  add(contactLink, "链接联系作者");
  contactLink->setGeometry(656, 64, 64, 24);
  contactLink->setAlignment(Qt::AlignCenter);
  contactLink->setProperty("url", QString::fromUtf8(kContactPageUrl));
  contactLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);

  headerTimer_ = new QTimer(this);
  headerTimer_->setObjectName(QStringLiteral("时钟官网"));
  headerTimer_->setInterval(20);

  // The working controls.
  startButton_ = new QPushButton(this);
  add(startButton_, "按钮开始查询");
  startButton_->setGeometry(192, 96, 440, 50);
  QFont big = startButton_->font();
  big.setPixelSize(18);
  big.setBold(true);
  startButton_->setFont(big);

  auto* inputButton = new QPushButton(this);
  add(inputButton, "按钮输入");
  inputButton->setGeometry(640, 96, 96, 50);
  inputButton->setToolTip(QStringLiteral("输入要查询的邮箱列表"));
  {
    QFont words = inputButton->font();
    words.setPixelSize(14);
    const QSize size(80, 32);
    inputButton->setIcon(
        QIcon(artwork::buttonPicture(artwork::listEntryIcon(), 26, QStringLiteral("邮箱"), words,
                                     size, QColor(0x1f, 0x4e, 0x79))));
    inputButton->setIconSize(size);
  }

  // The services, one above the other beside the start button: either one,
  // or both side by side.
  auto* aizhan = new QRadioButton(this);
  add(aizhan, "单选框爱站");
  aizhan->setGeometry(768, 96, 112, 18);
  auto* chinaz = new QRadioButton(this);
  add(chinaz, "单选框站长");
  chinaz->setGeometry(768, 114, 112, 18);
  auto* both = new QRadioButton(this);
  add(both, "单选框两者");
  both->setGeometry(768, 132, 112, 18);
  both->setToolTip(QStringLiteral("两个服务同时查询，合并结果并标明每个域名的来源"));

  auto* label1 = new QLabel(this);
  add(label1, "标签1");
  label1->setGeometry(888, 96, 112, 24);
  auto* maxPages = new QLineEdit(this);
  add(maxPages, "编辑框最多查询页数");
  maxPages->setGeometry(1000, 96, 40, 24);

  auto* label2 = new QLabel(this);
  add(label2, "标签2");
  label2->setGeometry(888, 120, 112, 24);
  auto* interval = new QLineEdit(this);
  add(interval, "编辑框间隔秒");
  interval->setGeometry(1000, 120, 40, 24);
  // A typo here would silently spoil a run ("abc" read as one page), so only
  // numbers can be typed. The texts set from the saved states stay as saved.
  auto* pagesValidator = new QIntValidator(1, kMaxPagesLimit, maxPages);
  pagesValidator->setLocale(QLocale::c());
  maxPages->setValidator(pagesValidator);
  interval->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QString::fromLatin1(kIntervalPattern)), interval));
  for (QLineEdit* edit : {maxPages, interval}) {
    connect(edit, &QLineEdit::textChanged, edit, [edit] {
      if (edit->hasAcceptableInput())
        edit->setProperty(kLastAcceptableKey, edit->text());
    });
    edit->installEventFilter(this);
  }

  // Addresses looked up lately are answered from the history, without a
  // request: in the header band's free right-hand part.
  auto* skipRecent = new QCheckBox(header_);
  add(skipRecent, "选择框跳过查过的邮箱");
  skipRecent->setGeometry(844, 62, 56, 22);
  auto* skipDays = new QLineEdit(header_);
  add(skipDays, "编辑框跳过天数");
  skipDays->setGeometry(900, 62, 36, 22);
  auto* skipLabel = new QLabel(header_);
  add(skipLabel, "标签跳过天数");
  skipLabel->setGeometry(940, 62, 100, 22);
  auto* daysValidator = new QIntValidator(1, 365, skipDays);
  daysValidator->setLocale(QLocale::c());
  skipDays->setValidator(daysValidator);
  connect(skipDays, &QLineEdit::textChanged, skipDays, [skipDays] {
    if (skipDays->hasAcceptableInput())
      skipDays->setProperty(kLastAcceptableKey, skipDays->text());
  });
  skipDays->installEventFilter(this);
  for (QWidget* part : std::initializer_list<QWidget*>{skipRecent, skipDays, skipLabel})
    part->setToolTip(
        QStringLiteral("这些天内查询完成过的邮箱直接用查询历史中的结果，不再发送请求"));

  auto* saveButton = new QPushButton(this);
  add(saveButton, "按钮保存查询结果");
  saveButton->setGeometry(8, 96, 157, 24);
  saveButton->setToolTip(QStringLiteral("把列表中的查询结果保存为文本文件"));
  {
    QFont words = saveButton->font();
    words.setPixelSize(12);
    const QSize size(130, 18);
    saveButton->setIcon(
        QIcon(artwork::buttonPicture(artwork::saveIcon(), 16, QStringLiteral("保存查询结果"), words,
                                     size, QColor(0x1f, 0x4e, 0x79))));
    saveButton->setIconSize(size);
  }

  auto* autoSave = new QCheckBox(this);
  add(autoSave, "选择框查询时自动保存");
  autoSave->setGeometry(8, 122, 128, 24);

  // Every row as one table, beside the save button.
  auto* exportButton = new QPushButton(this);
  add(exportButton, "按钮导出表格");
  exportButton->setGeometry(167, 96, 22, 24);
  exportButton->setIcon(artwork::tableIcon());
  exportButton->setToolTip(
      QStringLiteral("导出全部结果为一个 CSV 表格（UTF-8，可用 Excel、WPS 打开）"));

  folderButton_ = new QPushButton(this);
  add(folderButton_, "按钮自动保存路径");
  folderButton_->setGeometry(141, 122, 24, 24);
  folderButton_->setIcon(artwork::folderIcon());
  folderButton_->setToolTip(QStringLiteral("左键：选择自动保存的文件夹；右键：打开该文件夹"));

  results_ = std::make_unique<ResultList>(this, [this] { return engine_.lookupActive(); });
  add(results_->widget(), "超级列表框");
  results_->widget()->setGeometry(kListLeft, kListTop, 1032, 416);

  statusLine_ = new StatusLine(this);
  statusLine_->setGeometry(kListLeft, kListTop + 416 + 4, 1032, kStatusHeight);

  browser_ = new BrowserPane(this);
  add(browser_, "浏览器");
  browser_->setGeometry(40, 112, 200, 100);
  browser_->hide();

  signInBanner_ = new QLabel(this);
  signInBanner_->setObjectName(QStringLiteral("登录提示"));
  signInBanner_->setTextFormat(Qt::PlainText);
  signInBanner_->setText(QStringLiteral(
      "chinaz.com 要求登录才能查询更多页：请在下面的页面中登录，完成后点击窗口右下角提示框中的"
      "“确定”按钮继续查询。"));
  signInBanner_->setAlignment(Qt::AlignCenter);
  signInBanner_->setAutoFillBackground(true);
  {
    QPalette notice = signInBanner_->palette();
    notice.setColor(QPalette::Window, QColor(0xff, 0xf4, 0xce));
    notice.setColor(QPalette::WindowText, QColor(0x5c, 0x3c, 0x00));
    signInBanner_->setPalette(notice);
    QFont bold = signInBanner_->font();
    bold.setBold(true);
    signInBanner_->setFont(bold);
  }
  signInBanner_->hide();

  // Captions and initial states of the form.
  setCaption("链接软件主页", gbk("软件主页"));
  setCaption("链接联系作者", gbk("联系作者"));
  setCaption(control::kStartButton, gbk("开始查询"));
  setCaption(control::kAizhanRadio, gbk("aizhan.com"));
  setCaption(control::kChinazRadio, gbk("chinaz.com"));
  setCaption(control::kBothRadio, gbk("两者"));
  setCaption(control::kSkipRecentCheck, gbk("跳过"));
  setCaption("标签跳过天数", gbk("天内查过的邮箱"));
  setContent(control::kSkipDaysEdit, gbk("7"));
  setCaption("标签1", gbk("最多查询页数："));
  setCaption("标签2", gbk("每页间隔秒数："));
  setCaption(control::kAutoSaveCheck, gbk("查询时自动保存"));
  setContent(control::kMaxPagesEdit, gbk("50"));
  setContent(control::kIntervalEdit, gbk("0"));
  setChecked(control::kAizhanRadio, true);
  setChecked(control::kAutoSaveCheck, true);

  // The form's control order, which is also the order settings are written in.
  for (const char* utf8 : {"编辑框间隔秒",
                           "编辑框最多查询页数",
                           "单选框站长",
                           "单选框爱站",
                           "按钮输入",
                           "按钮自动保存路径",
                           "选择框查询时自动保存",
                           "按钮保存查询结果",
                           "按钮开始查询",
                           "图片框3",
                           "标签3",
                           "图片Qarvo软件",
                           "图片软件主页",
                           "链接软件主页",
                           "图片联系作者",
                           "链接联系作者",
                           "标签1",
                           "标签2",
                           "超级列表框",
                           "浏览器",
                           "单选框两者",
                           "选择框跳过查过的邮箱",
                           "编辑框跳过天数",
                           "标签跳过天数"}) {
    formOrder_.push_back(control(utf8));
  }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeBrowser();
  // The result list takes the room the window gets, less the status line
  // under it; the controls above it keep their places.
  const int listWidth = std::max(kListMinWidth, width() - 2 * kListLeft);
  const int listHeight = std::max(kListMinHeight, height() - kListTop - kListLeft - kStatusHeight);
  results_->widget()->setGeometry(kListLeft, kListTop, listWidth, listHeight);
  statusLine_->setGeometry(kListLeft, kListTop + listHeight + 4, listWidth, kStatusHeight);
  header_->resize(std::max(kHeaderWidth, width()), header_->height());
  if (QWidget* separator = control("标签3"))
    separator->resize(std::max(kSeparatorWidth, width()), separator->height());
}

void MainWindow::placeBrowser() {
  // The browser takes the client area when it is shown for a sign-in or a
  // verification, under a banner of its own that says what to do: the page's
  // first lines (a sign-in form, a confirmation) are never under it.
  signInBanner_->setGeometry(0, 0, width(), kBannerHeight);
  browser_->setGeometry(0, kBannerHeight, width(), std::max(0, height() - kBannerHeight));
}

void MainWindow::keepAcceptableNumber(QLineEdit* edit) {
  if (edit == nullptr || edit->hasAcceptableInput())
    return;
  const QVariant last = edit->property(kLastAcceptableKey);
  if (last.isValid())
    edit->setText(last.toString());
}

QWidget* MainWindow::control(std::string_view controlName) const {
  auto it = controls_.find(controlName);
  return it == controls_.end() ? nullptr : it->second;
}

// --- MainWindowView: control properties -------------------------------------

Text MainWindow::caption(std::string_view controlName) const {
  const QWidget* widget = control(controlName);
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    return recalledText(button, kCaptionKey, button->text());
  }
  if (const auto* label = qobject_cast<const QLabel*>(widget)) {
    if (label->property("url").isValid())
      return gbkProperty(label, kCaptionKey);
    return recalledText(label, kCaptionKey, label->text());
  }
  return Text();
}

void MainWindow::setCaption(std::string_view controlName, const Text& text) {
  QWidget* widget = control(controlName);
  const QString shown = toDisplay(text);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    const QString escaped = buttonShown(shown);
    button->setText(escaped);
    rememberText(button, kCaptionKey, text, escaped);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->property("url").isValid()) {
      label->setText(linkHtml(label->property("url").toString(), shown));
      setGbkProperty(label, kCaptionKey, text);
    } else {
      label->setText(shown);
      rememberText(label, kCaptionKey, text, shown);
    }
  }
}

Text MainWindow::content(std::string_view controlName) const {
  if (const auto* edit = qobject_cast<const QLineEdit*>(control(controlName))) {
    return recalledText(edit, kContentKey, edit->text());
  }
  return Text();
}

void MainWindow::setContent(std::string_view controlName, const Text& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(control(controlName))) {
    const QString shown = toDisplay(text);
    edit->setText(shown);
    // What the edit shows after taking the text (it drops line breaks).
    rememberText(edit, kContentKey, text, edit->text());
  }
}

Text MainWindow::tag(std::string_view controlName) const {
  const QWidget* widget = control(controlName);
  return widget != nullptr ? gbkProperty(widget, kTagKey) : Text();
}

void MainWindow::setTag(std::string_view controlName, const Text& text) {
  if (QWidget* widget = control(controlName))
    setGbkProperty(widget, kTagKey, text);
}

bool MainWindow::checked(std::string_view controlName) const {
  const auto* button = qobject_cast<const QAbstractButton*>(control(controlName));
  return button != nullptr && button->isChecked();
}

void MainWindow::setChecked(std::string_view controlName, bool on) {
  auto* button = qobject_cast<QAbstractButton*>(control(controlName));
  if (button == nullptr)
    return;
  if (!on && button->autoExclusive()) {
    // Like the window system's radio buttons, both may be left unticked.
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
    return;
  }
  button->setChecked(on);
}

bool MainWindow::visible(std::string_view controlName) const {
  const QWidget* widget = control(controlName);
  return widget != nullptr && !widget->isHidden();
}

void MainWindow::setVisible(std::string_view controlName, bool on) {
  QWidget* widget = control(controlName);
  if (widget == nullptr)
    return;
  if (widget == browser_) {
    showSignInPane(on);
    return;
  }
  widget->setVisible(on);
  if (on)
    widget->raise();
}

bool MainWindow::enabled(std::string_view controlName) const {
  const QWidget* widget = control(controlName);
  return widget != nullptr && widget->isEnabled();
}

void MainWindow::setEnabled(std::string_view controlName, bool on) {
  if (QWidget* widget = control(controlName))
    widget->setEnabled(on);
}

}  // namespace qarvo
