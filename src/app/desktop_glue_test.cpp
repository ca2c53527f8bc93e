#include "app/desktop_glue.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QObject>
#include <QTimer>

#include "platform/event_pump.h"

namespace qarvo {
namespace {

// A queued call that posts itself again each time it runs, so the number of
// runs tells how often events were really processed.
struct RepostingEvent {
  QObject context;
  int runs = 0;
  bool stopped = false;
  void post() {
    QMetaObject::invokeMethod(
        &context,
        [this] {
          ++runs;
          if (!stopped)
            post();
        },
        Qt::QueuedConnection);
  }
};

// Core work that pumps keeps the window's events flowing.
TEST(DesktopEventPump, EventsRunWhileTheCorePumps) {
  installDesktopGlue();
  bool ran = false;
  QObject context;
  QMetaObject::invokeMethod(
      &context, [&] { ran = true; }, Qt::QueuedConnection);
  QElapsedTimer clock;
  clock.start();
  while (!ran && clock.elapsed() < 5000)
    processPendingEvents();
  EXPECT_TRUE(ran);
}

// Pumping at every byte of a large body must not process events at every
// call: at most once per 5 ms of pumping.
TEST(DesktopEventPump, ProcessesEventsAtMostEveryFiveMilliseconds) {
  installDesktopGlue();
  RepostingEvent event;
  event.post();
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < 5'000'000; ++i)
    processPendingEvents();
  const qint64 elapsed = clock.elapsed();
  event.stopped = true;
  EXPECT_GE(event.runs, 1) << "events were never processed";
  EXPECT_LE(event.runs, elapsed / 5 + 2) << "after " << elapsed << " ms";
  QCoreApplication::processEvents();
}

// A key stuck down (an input method or a tool that sent the press and never
// the release) repeats: its repeats must not close every dialog that opens,
// while a key pressed for the dialog still does.
TEST(DesktopKeyRepeat, RepeatsOfEscapeAndReturnDoNotCloseADialog) {
  installDesktopGlue();
  QDialog dialog;
  dialog.show();
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), /*autorep=*/true);
    QApplication::sendEvent(&dialog, &repeat);
    EXPECT_TRUE(dialog.isVisible()) << key;
  }
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &press);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace qarvo
