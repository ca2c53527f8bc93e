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
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
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

constexpr char kCaptionKey[] = "caption";
constexpr char kContentKey[] = "content";
constexpr char kTagKey[] = "tag";

// Client size that holds every control of the form with an 8-pixel border.
constexpr int kClientWidth = 1048;
constexpr int kClientHeight = 576;

// The result list's place in the form; it grows with the window from there.
constexpr int kListLeft = 8;
constexpr int kListTop = 152;
constexpr int kListMinWidth = 400;
constexpr int kListMinHeight = 120;

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
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setAlternatingRowColors(true);
  list_->header()->setSectionsClickable(true);
  list_->header()->setSortIndicatorShown(false);
  list_->setColumnWidth(0, 300);

  browser_ = new BrowserPane(this);
  add(browser_, "浏览器");
  browser_->setGeometry(40, 112, 200, 100);
  browser_->hide();

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
  connect(startButton_, &QPushButton::clicked, this,
          [this] { runWork([this] { engine_.runQueries(); }); });
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
          [this](int column) { runWork([this, column] { engine_.onResultHeaderClick(column); }); });

  connect(headerTimer_, &QTimer::timeout, this, [this] { animateHeader(); });
  headerTimer_->start();

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
  // The browser covers the whole client area when it is shown for a sign-in.
  browser_->setGeometry(0, 0, width(), height());
  // The result list takes the room the window gets; the controls above it
  // keep their places.
  list_->setGeometry(kListLeft, kListTop, std::max(kListMinWidth, width() - 2 * kListLeft),
                     std::max(kListMinHeight, height() - kListTop - kListLeft));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
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
  return list_->topLevelItemCount() - 1;
}

void MainWindow::deleteAllRows() {
  list_->clear();
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
  const QString shown = toDisplay(note);
  item->setToolTip(0, shown);
  item->setToolTip(1, shown);
}

void MainWindow::ensureRowVisible(int row) {
  if (QTreeWidgetItem* item = list_->topLevelItem(row))
    list_->scrollToItem(item);
}

int MainWindow::selectedRow() const {
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
  if (openDocument_)
    openDocument_(url);
}

bool MainWindow::openFolder(const Text& folder) {
  return openDocument_ &&
         openDocument_(QUrl::fromLocalFile(QString::fromStdString(nativePath(folder))));
}

bool MainWindow::startProgram(const Text& path) {
  return QProcess::startDetached(QString::fromStdString(nativePath(path)), {});
}

}  // namespace qarvo
