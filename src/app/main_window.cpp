#include "app/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <thread>

#include "app/ask_text.h"
#include "app/browser_pane.h"
#include "app/desktop_glue.h"
#include "platform/code_page.h"
#include "settings/settings_store.h"
#include "settings/sync_controls.h"

namespace qarvo {

namespace {

// How long a look-up may take to wind down after the window was closed.
constexpr std::chrono::seconds kCloseGrace(3);

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
  installDesktopGlue();
  buildControls();
  bindEvents();
  created();
}

MainWindow::~MainWindow() = default;

ControlList& MainWindow::formControls() {
  return *formControls_;
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
  connect(static_cast<QPushButton*>(control(control::kExportButton)), &QPushButton::clicked, this,
          [this] { runWork([this] { engine_.exportResultTable(); }); });
  connect(folderButton_, &QPushButton::clicked, this,
          [this] { runWork([this] { engine_.chooseAutoSaveFolder(); }); });
  folderButton_->installEventFilter(this);
  QTreeWidget* list = results_->widget();
  connect(list, &QTreeWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
    // A right-click on a row: a single query of the selected row.
    if (list->itemAt(at) == nullptr)
      return;
    const int row = selectedRow();
    if (row >= 0)
      runWork([this, row] { engine_.queryAddress(row); });
  });
  list->viewport()->installEventFilter(this);
  // The right-click looks the row up again; its history is a key away.
  connect(new QShortcut(QKeySequence(QStringLiteral("Ctrl+H")), this), &QShortcut::activated, this,
          [this] { showRowHistory(); });
  connect(list->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { onHeaderClicked(column); });

  connect(headerTimer_, &QTimer::timeout, this, [this] { animateHeader(); });
  updateHeaderAnimation();

  engine_.setProgressListener([this](const LookupProgress& progress) {
    if (progress.stage == LookupProgress::Stage::kRunStarted)
      results_->followCurrentRow();
    statusLine_->onProgress(progress);
  });

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
  static const Text info = gbk("每行一个邮箱地址；也可以粘贴含有邮箱的文字，程序会从中找出邮箱。");
  if (engine_.lookupActive()) {
    // The window is modal: the look-up under it waits until it closes, and
    // says so rather than seeming to hang.
    LookupProgress notice;
    notice.stage = LookupProgress::Stage::kNotice;
    notice.notice = gbk("查询已暂停：关闭“邮箱”窗口后继续");
    statusLine_->onProgress(notice);
  }
  AskTextResult result = askText(tag(control::kInputButton), prompt, info);
  if (!result.accepted)
    return;
  setTag(control::kInputButton, result.text);
  // The rows show at once what the next run will ask.
  engine_.showEnteredList();
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

// The engine sorts the rows' data in place; the selection is put back on
// the same addresses, and the header shows the order of the last accepted
// sort, also after a refused click (the header turns its arrow on every
// click by itself).
void MainWindow::onHeaderClicked(int column) {
  ResultList::SelectionByAddress selection = results_->selectionByAddress();
  bool sorted = false;
  runWork([this, column, &sorted] { sorted = engine_.onResultHeaderClick(column); });
  results_->showSortOrder(engine_.sortedColumn(), engine_.sortedAscending());
  if (sorted)
    results_->reselect(std::move(selection));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  static const Text kStopAndClose = gbk("正在查询。关闭窗口将停止查询，是否停止查询并关闭？");
  if (!closing_ && engine_.lookupActive() &&
      messageBox(kStopAndClose, gbk("信息："), mb::kYesNo | mb::kIconInformation, false) !=
          mb::kIdYes) {
    event->ignore();
    return;
  }
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

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    if (auto* edit = qobject_cast<QLineEdit*>(watched))
      keepAcceptableNumber(edit);
  }
  if (event->type() == QEvent::MouseButtonDblClick && watched == results_->widget()->viewport()) {
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

}  // namespace qarvo
