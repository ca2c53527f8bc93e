#include "app/desktop_glue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/qt_text.h"
#include "platform/event_pump.h"
#include "platform/message_box.h"

namespace qarvo {

namespace {

bool quiet = false;
QPointer<QMessageBox> openOwnerlessBox;

// Raises the "pump due" flag 5 ms after events were last processed. The core
// pumps at every byte of some loops (a million calls for a 1 MB page), where
// even a clock read per call costs more than the loop itself; a call now reads
// one flag. Once the flag is up the thread sleeps until it is taken, so an idle
// program gets no wake-ups from it.
class PumpTicker {
 public:
  PumpTicker() : thread_([this] { run(); }) {}
  ~PumpTicker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  PumpTicker(const PumpTicker&) = delete;
  PumpTicker& operator=(const PumpTicker&) = delete;

  bool due() const { return due_.load(std::memory_order_relaxed); }

  // Lowers the flag; it goes up again 5 ms from now.
  void take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      due_.store(false, std::memory_order_relaxed);
    }
    wake_.notify_one();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return stop_ || !due_.load(std::memory_order_relaxed); });
      if (stop_ || wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return stop_; }))
        return;
      due_.store(true, std::memory_order_relaxed);
    }
  }

  std::atomic<bool> due_{true};  // the first call pumps at once
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

void qtEventPump() {
  static PumpTicker ticker;
  if (!ticker.due())
    return;
  ticker.take();
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

}  // namespace

void installDesktopGlue() {
  setEventPump(&qtEventPump);
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
