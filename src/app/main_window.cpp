#include "app/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <thread>

#include "app/artwork.h"
#include "app/ask_text.h"
#include "app/browser_pane.h"
#include "app/desktop_glue.h"
#include "app/qt_text.h"
#include "platform/code_page.h"
#include "platform/message_box.h"
#include "platform/native_file.h"
#include "settings/settings_store.h"
#include "settings/sync_controls.h"

namespace qarvo {

namespace {

// Item data roles of the report list: the GBK text of a cell, the row image.
constexpr int kGbkRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr int kNoteRole = Qt::UserRole + 3;
constexpr int kIdRole = Qt::UserRole + 4;

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

// The countdown of a pause is redrawn this often.
constexpr int kCountdownTickMs = 100;

// What the two number boxes accept while typing: whole pages 1-9999, and
// seconds 0-3600 with at most one decimal.
constexpr int kMaxPagesLimit = 9999;
constexpr char kIntervalPattern[] =
    R"((?:[0-9]{1,3}|[12][0-9]{3}|3[0-5][0-9]{2})(?:\.[0-9]?)?|3600(?:\.0?)?)";
constexpr char kLastAcceptableKey[] = "lastAcceptable";

// How long a look-up may take to wind down after the window was closed.
constexpr std::chrono::seconds kCloseGrace(3);

// Button texts treat "&" as a mnemonic mark; the program's captions are plain.
QString buttonShown(const QString& shown) {
  QString escaped = shown;
  return escaped.replace(u'&', QStringLiteral("&&"));
}

QString linkHtml(const QString& url, const QString& caption) {
  return QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), caption.toHtmlEscaped());
}

// Row images at the top of a row, beside the address, as the texts are.
class TopAlignedDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->decorationAlignment = Qt::AlignLeft | Qt::AlignTop;
  }
};

}  // namespace

// The form's controls for the settings walk, by their index in form order.
class MainWindow::FormControls final : public ControlList {
 public:
  explicit FormControls(MainWindow& window) : window_(window) {}

  int controlCount() const override { return static_cast<int>(window_.formOrder_.size()); }
  std::string name(int index) const override {
    const QWidget* widget = at(index);
    return widget != nullptr ? widget->objectName().toStdString() : std::string();
  }
  ControlKind kind(int index) const override {
    const QWidget* widget = at(index);
    if (qobject_cast<const QPushButton*>(widget))
      return ControlKind::kButton;
    if (qobject_cast<const QLineEdit*>(widget))
      return ControlKind::kEditBox;
    if (qobject_cast<const QCheckBox*>(widget))
      return ControlKind::kCheckBox;
    if (qobject_cast<const QRadioButton*>(widget))
      return ControlKind::kRadioButton;
    return ControlKind::kOther;
  }
  Text tag(int index) const override { return window_.tag(name(index)); }
  void setTag(int index, const Text& tag) override { window_.setTag(name(index), tag); }
  Text content(int index) const override { return window_.content(name(index)); }
  void setContent(int index, const Text& content) override {
    window_.setContent(name(index), content);
  }
  bool checked(int index) const override { return window_.checked(name(index)); }
  void setChecked(int index, bool checked) override { window_.setChecked(name(index), checked); }

 private:
  const QWidget* at(int index) const {
    return index >= 0 && index < controlCount() ? window_.formOrder_[size_t(index)] : nullptr;
  }
  MainWindow& window_;
};

MainWindow::MainWindow(SettingsStore* settings, ServiceEndpoints endpoints, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      formControls_(std::make_unique<FormControls>(*this)),
      engine_(*this, std::move(endpoints)),
      openDocument_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setWindowTitle(QString::fromUtf8(kMainWindowTitle));
  resize(kClientWidth, kClientHeight);
  installDesktopGlue();
  buildControls();
  bindEvents();
  created();
}

MainWindow::~MainWindow() = default;

ControlList& MainWindow::formControls() {
  return *formControls_;
}

void MainWindow::add(QWidget* widget, const char* utf8Name) {
  widget->setObjectName(QString::fromUtf8(utf8Name));
  controls_.emplace(utf8Name, widget);
}

void MainWindow::buildControls() {
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

  auto* aizhan = new QRadioButton(this);
  add(aizhan, "单选框爱站");
  aizhan->setGeometry(768, 96, 112, 24);
  auto* chinaz = new QRadioButton(this);
  add(chinaz, "单选框站长");
  chinaz->setGeometry(768, 120, 112, 24);

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

  folderButton_ = new QPushButton(this);
  add(folderButton_, "按钮自动保存路径");
  folderButton_->setGeometry(141, 122, 24, 24);
  folderButton_->setIcon(artwork::folderIcon());
  folderButton_->setToolTip(QStringLiteral("左键：选择自动保存的文件夹；右键：打开该文件夹"));

  list_ = new QTreeWidget(this);
  add(list_, "超级列表框");
  list_->setGeometry(kListLeft, kListTop, 1032, 416);
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("邮箱"), QStringLiteral("反查结果")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(false);
  // Several rows may be selected for copying; a right-click queries the row
  // it was made on (the current one).
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setAlternatingRowColors(true);
  list_->header()->setSectionsClickable(true);
  list_->header()->setSortIndicatorShown(false);
  list_->setColumnWidth(0, 300);
  // A row holds one line per domain and can be taller than the list: scroll
  // by pixel so that every line can be brought into view.
  list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setItemDelegate(new TopAlignedDelegate(list_));
  list_->verticalScrollBar()->setSingleStep(20);
  list_->installEventFilter(this);

  statusLine_ = new QLabel(this);
  statusLine_->setObjectName(QStringLiteral("状态栏"));
  statusLine_->setGeometry(kListLeft, kListTop + 416 + 4, 1032, kStatusHeight);
  statusLine_->setTextFormat(Qt::PlainText);
  statusLine_->setText(QStringLiteral("就绪"));
  countdownTimer_ = new QTimer(this);
  countdownTimer_->setInterval(kCountdownTickMs);

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
                           "浏览器"}) {
    formOrder_.push_back(control(utf8));
  }
}

void MainWindow::bindEvents() {
  connect(startButton_, &QPushButton::clicked, this, [this] {
    // A number box left half typed ("" or "0") goes back to its last value.
    keepAcceptableNumber(qobject_cast<QLineEdit*>(control(control::kMaxPagesEdit)));
    keepAcceptableNumber(qobject_cast<QLineEdit*>(control(control::kIntervalEdit)));
    runWork([this] { engine_.runQueries(); });
  });
  connect(static_cast<QPushButton*>(control(control::kInputButton)), &QPushButton::clicked, this,
          [this] { onInputButton(); });
  connect(static_cast<QPushButton*>(control(control::kSaveResultsButton)), &QPushButton::clicked,
          this, [this] { runWork([this] { engine_.saveResults(); }); });
  connect(static_cast<QCheckBox*>(control(control::kAutoSaveCheck)), &QCheckBox::clicked, this,
          [this] { applyAutoSaveRule(); });
  connect(folderButton_, &QPushButton::clicked, this,
          [this] { runWork([this] { engine_.chooseAutoSaveFolder(); }); });
  folderButton_->installEventFilter(this);

  connect(list_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    // A right-click on a row: a single query of the selected row.
    if (list_->itemAt(at) == nullptr)
      return;
    const int row = selectedRow();
    if (row >= 0)
      runWork([this, row] { engine_.queryAddress(row); });
  });
  list_->viewport()->installEventFilter(this);
  connect(list_->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { onHeaderClicked(column); });
  // A scroll by the user (wheel, bar, keys) during a run ends following the
  // row being looked up.
  connect(list_->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
    if (engine_.lookupActive())
      followCurrentRow_ = false;
  });

  connect(headerTimer_, &QTimer::timeout, this, [this] { animateHeader(); });
  updateHeaderAnimation();

  engine_.setProgressListener([this](const LookupProgress& progress) { onProgress(progress); });
  connect(countdownTimer_, &QTimer::timeout, this, [this] { showStatus(); });

  control("图片Qarvo软件")->installEventFilter(this);
  control("图片软件主页")->installEventFilter(this);
  control("图片联系作者")->installEventFilter(this);
  auto openLink = [this](const QString& url) {
    if (url == QString::fromUtf8(kHomePageUrl)) {
      runWork([this, url] { engine_.openHomePage(url.toStdString()); });
    } else {
      openDocument(url.toStdString());
    }
  };
  connect(homeLink_, &QLabel::linkActivated, this, openLink);
  connect(static_cast<QLabel*>(control("链接联系作者")), &QLabel::linkActivated, this, openLink);
}

namespace {
const Text& mainSection() {
  static const Text section = gbk("主界面");
  return section;
}
}  // namespace

void MainWindow::created() {
  // The saved control states first, then the rule that depends on them.
  if (settings_ != nullptr)
    syncControls(*formControls_, *settings_, true, mainSection());
  applyAutoSaveRule();
}

void MainWindow::saveControlStates() {
  if (statesSaved_)
    return;
  statesSaved_ = true;
  if (settings_ != nullptr)
    syncControls(*formControls_, *settings_, false, mainSection());
}

void MainWindow::applyAutoSaveRule() {
  setEnabled(control::kAutoSaveFolderButton, checked(control::kAutoSaveCheck));
}

void MainWindow::onInputButton() {
  static const Text prompt = gbk("请输入域名列表：");
  AskTextResult result = askText(tag(control::kInputButton), prompt);
  if (result.accepted)
    setTag(control::kInputButton, result.text);
}

template <typename Work>
void MainWindow::runWork(Work&& work) {
  if (closing_)
    return;
  ++busyDepth_;
  work();
  --busyDepth_;
}

void MainWindow::animateHeader() {
  int left = logo_->x();
  if (logoMovingRight_) {
    ++left;
    if (left + logo_->width() > homeLink_->x() - 20)
      logoMovingRight_ = false;
  } else {
    --left;
    if (!(left >= 20))
      logoMovingRight_ = true;
  }
  logo_->move(left, logo_->y());
}

bool MainWindow::headerAnimationRunning() const {
  return headerTimer_->isActive();
}

void MainWindow::updateHeaderAnimation() {
  // Nobody sees the logo of a minimised or hidden window: no ticks then.
  const bool seen = isVisible() && !isMinimized();
  if (seen && !headerTimer_->isActive())
    headerTimer_->start();
  else if (!seen && headerTimer_->isActive())
    headerTimer_->stop();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange)
    updateHeaderAnimation();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  updateHeaderAnimation();
}

void MainWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  updateHeaderAnimation();
}

void MainWindow::keepAcceptableNumber(QLineEdit* edit) {
  if (edit == nullptr || edit->hasAcceptableInput())
    return;
  const QVariant last = edit->property(kLastAcceptableKey);
  if (last.isValid())
    edit->setText(last.toString());
}

// --- The status line -----------------------------------------------------------

void MainWindow::onProgress(const LookupProgress& progress) {
  using Stage = LookupProgress::Stage;
  const QString address = toDisplay(progress.address);
  if (progress.total > 0) {
    tallyText_ = QStringLiteral("已找到 %1 个，无结果 %2 个，失败 %3 个")
                     .arg(progress.found)
                     .arg(progress.none)
                     .arg(progress.failed);
  }
  if (progress.stage != Stage::kPausing) {
    pauseText_.clear();
    countdownTimer_->stop();
  }
  switch (progress.stage) {
    case Stage::kRunStarted:
      followCurrentRow_ = true;
      tallyText_.clear();
      statusText_ = QStringLiteral("开始查询，共 %1 个邮箱").arg(progress.total);
      break;
    case Stage::kFetching: {
      const QString which = progress.index > 0 ? QStringLiteral("第 %1/%2 个邮箱 %3")
                                                     .arg(progress.index)
                                                     .arg(progress.total)
                                                     .arg(address)
                                               : QStringLiteral(" %1").arg(address);
      const QString page =
          progress.totalPages > 0
              ? QStringLiteral("第 %1 页（共 %2 页）").arg(progress.page).arg(progress.totalPages)
              : QStringLiteral("第 %1 页").arg(progress.page);
      statusText_ = QStringLiteral("正在查询%1，%2").arg(which, page);
      break;
    }
    case Stage::kPausing:
      switch (progress.pause) {
        case LookupProgress::Pause::kRateLimit:
          pauseText_ = QStringLiteral("查询过于频繁，%1 秒后重试");
          break;
        case LookupProgress::Pause::kInterval:
          pauseText_ = QStringLiteral("每页间隔，%1 秒后继续");
          break;
        case LookupProgress::Pause::kRetry:
          pauseText_ = QStringLiteral("页面无法识别，%1 秒后再试一次");
          break;
        case LookupProgress::Pause::kOffline:
          pauseText_ = QStringLiteral("无法连接服务，%1 秒后重试（点击“停止查询”可结束）");
          break;
        default:
          pauseText_ = QStringLiteral("%1 秒后查询下一页");
          break;
      }
      pauseMs_ = progress.pauseMs;
      pauseClock_.start();
      countdownTimer_->start();
      break;
    case Stage::kAddressEnded:
      // A single query (right-click) has no run end to say it is over.
      if (progress.index == 0)
        statusText_ = QStringLiteral("%1 查询结束").arg(address);
      break;
    case Stage::kAddressStarted:
    case Stage::kPageRead:
      break;
    case Stage::kNotice:
      statusText_ = toDisplay(progress.notice);
      break;
    case Stage::kRunEnded:
      statusText_ = QStringLiteral("查询结束");
      if (!progress.folder.empty())
        statusText_ += QStringLiteral("，结果已保存到 %1").arg(toDisplay(progress.folder));
      if (progress.unsavedFiles > 0)
        statusText_ += QStringLiteral("，%1 个结果文件未能写入").arg(progress.unsavedFiles);
      break;
  }
  showStatus();
}

void MainWindow::showStatus() {
  QString line = statusText_;
  if (!pauseText_.isEmpty()) {
    const qint64 left = std::max<qint64>(0, pauseMs_ - pauseClock_.elapsed());
    if (left == 0)
      countdownTimer_->stop();
    line += QStringLiteral("　") + pauseText_.arg(double(left) / 1000.0, 0, 'f', 1);
  }
  if (!tallyText_.isEmpty())
    line += QStringLiteral("　｜　") + tallyText_;
  statusLine_->setText(line);
}

// --- Sorting and copying -------------------------------------------------------

void MainWindow::onHeaderClicked(int column) {
  // The rows selected before, by address: the sort moves the data, not the
  // selection, so the selection is put back on the same addresses.
  std::vector<QByteArray> selected;
  QByteArray current;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item->isSelected())
      selected.push_back(item->data(0, kGbkRole).toByteArray());
  }
  if (const QTreeWidgetItem* item = list_->currentItem(); item != nullptr && item->isSelected())
    current = item->data(0, kGbkRole).toByteArray();

  bool sorted = false;
  runWork([this, column, &sorted] { sorted = engine_.onResultHeaderClick(column); });

  // The header shows the order of the last accepted sort, also after a
  // refused click (the header turns its arrow on every click by itself).
  QHeaderView* header = list_->header();
  if (engine_.sortedColumn() >= 0) {
    header->setSortIndicatorShown(true);
    header->setSortIndicator(engine_.sortedColumn(),
                             engine_.sortedAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
  } else {
    header->setSortIndicatorShown(false);
  }
  if (!sorted)
    return;

  QTreeWidgetItem* target = nullptr;
  bool targetIsCurrent = false;
  {
    const QSignalBlocker quiet(list_->selectionModel());
    list_->clearSelection();
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
      QTreeWidgetItem* item = list_->topLevelItem(row);
      const QByteArray address = item->data(0, kGbkRole).toByteArray();
      auto found = std::find(selected.begin(), selected.end(), address);
      if (found == selected.end())
        continue;
      selected.erase(found);  // a repeated address selects as many rows as before
      item->setSelected(true);
      if (!targetIsCurrent && address == current) {
        target = item;
        targetIsCurrent = true;
      } else if (target == nullptr) {
        target = item;
      }
    }
  }
  list_->viewport()->update();
  if (target != nullptr) {
    list_->setCurrentItem(target, 0, QItemSelectionModel::NoUpdate);
    list_->scrollToItem(target, QAbstractItemView::PositionAtTop);
  } else {
    list_->scrollToTop();
  }
}

QString MainWindow::selectedRowsText() const {
  QStringList rows;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item->isSelected())
      continue;
    // A row that did not complete shows why in place of domains.
    const QByteArray result = item->data(1, kGbkRole).toByteArray();
    const bool domains = !result.isEmpty() && result != item->data(0, kNoteRole).toByteArray();
    QString text = domains ? item->text(1) : QString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    rows.push_back(item->text(0) + u'\t' + text);
  }
  return rows.join(u'\n');
}

void MainWindow::refreshAddressTip(int row) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return;
  const QByteArray result = item->data(1, kGbkRole).toByteArray();
  const QByteArray note = item->data(0, kNoteRole).toByteArray();
  int domains = 0;
  if (!result.isEmpty() && result != note) {
    for (const QByteArray& line : result.split('\n'))
      domains += line.trimmed().isEmpty() ? 0 : 1;
  }
  QString tip;
  if (item->data(0, kImageRole).toInt() == kImagePending && domains == 0 && note.isEmpty())
    tip = QStringLiteral("尚未查询");
  else
    tip = QStringLiteral("%1 个域名").arg(domains);
  if (!note.isEmpty())
    tip += u'\n' + toDisplay(Text(note.constData(), size_t(note.size())));
  item->setToolTip(0, tip);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  saveControlStates();
  if (busyDepth_ > 0 && !closing_) {
    // A look-up is running further down the stack. Stop it, keep it from
    // asking anything more, and let it unwind; the event loops end with the
    // last window. Should it not wind down (a long wait, a hanging request),
    // the process ends anyway: the settings are already on disk.
    closing_ = true;
    engine_.setQueryStopFlag(true);
    setMessageBoxesQuiet(true);
    browser_->hide();
    signInBanner_->hide();
    if (endProcess_) {
      std::thread([end = endProcess_] {
        std::this_thread::sleep_for(kCloseGrace);
        end();
      }).detach();
    }
  }
  event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The browser covers the whole client area when it is shown for a sign-in,
  // under a banner that says what to do.
  browser_->setGeometry(0, 0, width(), height());
  signInBanner_->setGeometry(0, 0, width(), kBannerHeight);
  // The result list takes the room the window gets, less the status line
  // under it; the controls above it keep their places.
  const int listWidth = std::max(kListMinWidth, width() - 2 * kListLeft);
  const int listHeight = std::max(kListMinHeight, height() - kListTop - kListLeft - kStatusHeight);
  list_->setGeometry(kListLeft, kListTop, listWidth, listHeight);
  statusLine_->setGeometry(kListLeft, kListTop + listHeight + 4, listWidth, kStatusHeight);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      // Nothing selected leaves the clipboard alone.
      QClipboard* clipboard = QGuiApplication::clipboard();
      if (clipboard != nullptr && !list_->selectedItems().isEmpty())
        clipboard->setText(selectedRowsText());
      return true;
    }
    // Keys that move through the list are the user looking elsewhere.
    if (engine_.lookupActive() &&
        (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down || key->key() == Qt::Key_PageUp ||
         key->key() == Qt::Key_PageDown || key->key() == Qt::Key_Home || key->key() == Qt::Key_End))
      followCurrentRow_ = false;
  }
  if (event->type() == QEvent::FocusOut) {
    if (auto* edit = qobject_cast<QLineEdit*>(watched))
      keepAcceptableNumber(edit);
  }
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    runWork([this] { engine_.openResultPage(); });
    return true;
  }
  if (watched == folderButton_ && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
    runWork([this] { engine_.openAutoSaveFolder(); });
    return true;
  }
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == logo_) {
      runWork([this] { engine_.openMakerPage(); });
      return true;
    }
    if (watched == control("图片软件主页")) {
      const std::string url = homeLink_->property("url").toString().toStdString();
      runWork([this, url] { engine_.openHomePage(url); });
      return true;
    }
    if (watched == control("图片联系作者")) {
      openDocument(kContactPageUrl);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
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
  if (on && widget == browser_ && closing_)
    return;
  widget->setVisible(on);
  if (on)
    widget->raise();
  if (widget == browser_) {
    signInBanner_->setVisible(on);
    if (on)
      signInBanner_->raise();
  }
}

bool MainWindow::enabled(std::string_view controlName) const {
  const QWidget* widget = control(controlName);
  return widget != nullptr && widget->isEnabled();
}

void MainWindow::setEnabled(std::string_view controlName, bool on) {
  if (QWidget* widget = control(controlName))
    widget->setEnabled(on);
}

// --- MainWindowView: the report list -----------------------------------------

int MainWindow::columnCount() const {
  return list_->columnCount();
}

int MainWindow::rowCount() const {
  return list_->topLevelItemCount();
}

int MainWindow::appendRow(const Text& firstColumn, int image) {
  auto* item = new QTreeWidgetItem(list_);
  item->setText(0, toDisplay(firstColumn));
  item->setData(0, kGbkRole, QByteArray(firstColumn.data(), qsizetype(firstColumn.size())));
  item->setData(0, kImageRole, image);
  item->setIcon(0, artwork::rowImage(image));
  // The address beside the first domain, not in the middle of a tall row.
  item->setTextAlignment(0, Qt::AlignLeft | Qt::AlignTop);
  item->setTextAlignment(1, Qt::AlignLeft | Qt::AlignTop);
  const long long id = nextRowId_++;
  item->setData(0, kIdRole, id);
  rowsById_.insert(id, item);
  const int row = list_->topLevelItemCount() - 1;
  refreshAddressTip(row);
  return row;
}

void MainWindow::deleteAllRows() {
  rowsById_.clear();
  list_->clear();
}

long long MainWindow::rowId(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr ? item->data(0, kIdRole).toLongLong() : -1;
}

int MainWindow::rowOfId(long long id) const {
  QTreeWidgetItem* item = rowsById_.value(id, nullptr);
  return item != nullptr ? list_->indexOfTopLevelItem(item) : -1;
}

Text MainWindow::cellText(int row, int column) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr || column < 0 || column >= list_->columnCount())
    return Text();
  const QByteArray bytes = item->data(column, kGbkRole).toByteArray();
  return Text(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void MainWindow::setCellText(int row, int column, const Text& text) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr || column < 0 || column >= list_->columnCount())
    return;
  item->setText(column, toDisplay(text));
  item->setData(column, kGbkRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  refreshAddressTip(row);
}

int MainWindow::rowImage(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr ? item->data(0, kImageRole).toInt() : -1;
}

void MainWindow::setRowImage(int row, int image) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return;
  item->setData(0, kImageRole, image);
  item->setIcon(0, artwork::rowImage(image));
  refreshAddressTip(row);
}

Text MainWindow::rowNote(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return Text();
  const QByteArray bytes = item->data(0, kNoteRole).toByteArray();
  return Text(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void MainWindow::setRowNote(int row, const Text& note) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return;
  item->setData(0, kNoteRole, QByteArray(note.data(), static_cast<qsizetype>(note.size())));
  // Why the look-up did not complete, where the pointer rests on the row.
  // The address cell's tip also gives the domain count.
  item->setToolTip(1, toDisplay(note));
  refreshAddressTip(row);
}

void MainWindow::ensureRowVisible(int row) {
  // Once the user has scrolled elsewhere during a run, the list stays there.
  if (!followCurrentRow_ && engine_.lookupActive())
    return;
  if (QTreeWidgetItem* item = list_->topLevelItem(row))
    list_->scrollToItem(item);
}

int MainWindow::selectedRow() const {
  // With several rows selected, the one last clicked.
  if (QTreeWidgetItem* current = list_->currentItem(); current != nullptr && current->isSelected())
    return list_->indexOfTopLevelItem(current);
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.first());
}

// --- MainWindowView: browser and desktop -------------------------------------

bool MainWindow::browserNavigate(const std::string& url) {
  if (closing_)
    return false;
  browser_->setGeometry(0, 0, width(), height());
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

Text MainWindow::browserCookieText() {
  const QByteArray cookies = browser_->cookieText();
  return Text(cookies.constData(), static_cast<size_t>(cookies.size()));
}

int MainWindow::messageBox(const Text& text, const Text& title, unsigned style, bool ownerless) {
  // Closed during a look-up: it is winding down and asks nobody anything.
  if (closing_)
    return (style & 0xF) == mb::kYesNo ? mb::kIdYes : mb::kIdOk;
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
