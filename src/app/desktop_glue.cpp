#include "app/desktop_glue.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QSpacerItem>
#include <algorithm>
#include <chrono>

#include "app/qt_text.h"
#include "app/window_placement.h"
#include "platform/event_pump.h"
#include "platform/message_box.h"

namespace qarvo {

namespace {

bool quiet = false;
QPointer<QMessageBox> openOwnerlessBox;

// The core pumps at every byte of some loops (a million calls for a 1 MB
// page), where even a clock read per call costs more than the loop itself. So
// a call only counts down, the clock is read once in a while, and events are
// really processed at most every 5 ms. A sleep of the core (the wait helper
// sleeps 10 ms between two pumps) makes the next call read the clock at once,
// so sparse callers are served on time even right after a dense loop.
constexpr int kCallsBetweenClockReads = 32;
// Room a title bar takes besides the title (icon, buttons, margins), and the
// narrowest box.
constexpr int kTitleBarAllowance = 120;
constexpr int kMinimumBoxWidth = 260;
constexpr auto kPumpInterval = std::chrono::milliseconds(5);

void qtEventPump() {
  static int countdown = 0;
  static std::chrono::steady_clock::time_point lastPump;  // the first call pumps
  if (--countdown > 0 && !takeSleepMark())
    return;
  countdown = kCallsBetweenClockReads;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPump < kPumpInterval)
    return;
  lastPump = now;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int buttonId(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Cancel:
      return 2;
    case QMessageBox::Abort:
      return 3;
    case QMessageBox::Retry:
      return 4;
    case QMessageBox::Ignore:
      return 5;
    case QMessageBox::Yes:
      return 6;
    case QMessageBox::No:
      return 7;
    default:
      return 1;
  }
}

// A box as narrow as a short text ("保存OK！") leaves the window manager no
// room for its title: it is made wide enough for the title, the close button
// and the frame's margins.
void keepTitleInView(QMessageBox* box) {
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (grid == nullptr)
    return;
  QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
  titleFont.setBold(true);
  const int wanted =
      QFontMetrics(titleFont).horizontalAdvance(box->windowTitle()) + kTitleBarAllowance;
  grid->addItem(new QSpacerItem(std::max(wanted, kMinimumBoxWidth), 0, QSizePolicy::Minimum,
                                QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

// A key held down, or pressed without a release (an input method or an
// automation tool that sends the press and then fails), repeats: each repeat
// of Escape or Return would close the next dialog the moment it opens, the
// list-entry window and the end of a run's message among them. A dialog
// answers a key that was pressed for it, never its repeats.
class KeyRepeatGuard final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
      return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (!key->isAutoRepeat())
      return false;
    if (key->key() != Qt::Key_Escape && key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
      return false;
    return qobject_cast<QDialog*>(static_cast<QWidget*>(watched)->window()) != nullptr;
  }
};

void installDesktopGlue() {
  setEventPump(&qtEventPump);
  static QPointer<KeyRepeatGuard> guard;
  if (guard.isNull() && QCoreApplication::instance() != nullptr) {
    guard = new KeyRepeatGuard(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(guard);
  }
  setMessageBoxHandler([](const Text& text, const Text& title, unsigned style) {
    return showDesktopMessageBox(text, title, style, false);
  });
}

int showDesktopMessageBox(const Text& text, const Text& title, unsigned style, bool ownerless) {
  const unsigned buttons = style & 0xF;
  if (quiet)
    return buttons == 4 || buttons == 3 ? 6 : 1;

  QMessageBox::StandardButtons set;
  switch (buttons) {
    case 1:
      set = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case 2:
      set = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
      break;
    case 3:
      set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
    case 4:
      set = QMessageBox::Yes | QMessageBox::No;
      break;
    case 5:
      set = QMessageBox::Retry | QMessageBox::Cancel;
      break;
    default:
      set = QMessageBox::Ok;
  }
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & 0xF0) {
    case 0x10:
      icon = QMessageBox::Critical;
      break;
    case 0x20:
      icon = QMessageBox::Question;
      break;
    case 0x30:
      icon = QMessageBox::Warning;
      break;
    case 0x40:
      icon = QMessageBox::Information;
      break;
  }

  // Parentless either way: the boxes of this program have no owner window.
  QMessageBox box(icon, toDisplay(title), toDisplay(text), set);
  keepOnlyCloseButton(&box);
  keepTitleInView(&box);
  if ((style & 0x100) != 0 && buttons == 4)
    box.setDefaultButton(QMessageBox::No);
  if (!ownerless) {
    box.setWindowModality(Qt::ApplicationModal);
    return buttonId(static_cast<QMessageBox::StandardButton>(box.exec()));
  }

  // Non-modal, kept above the other windows, answered through a nested loop.
  box.setWindowModality(Qt::NonModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  QEventLoop loop;
  QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
  openOwnerlessBox = &box;
  box.show();
  // Out of the middle of the page, where a sign-in form usually is.
  placeAtBottomRight(&box, shownMainWindow());
  // A window shown without being asked for does not take the keyboard where
  // no window manager hands it over, and Return or Escape then went to the
  // page under it instead of answering. Clicks still reach the browser.
  box.raise();
  box.activateWindow();
  loop.exec();
  openOwnerlessBox = nullptr;
  QAbstractButton* clicked = box.clickedButton();
  return clicked ? buttonId(box.standardButton(clicked)) : 1;
}

void setMessageBoxesQuiet(bool on) {
  quiet = on;
  if (on && openOwnerlessBox)
    openOwnerlessBox->close();
}

bool messageBoxesQuiet() {
  return quiet;
}

}  // namespace qarvo
