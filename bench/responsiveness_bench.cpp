// How the window answers during a run against a slow service: the longest
// time its event loop goes without processing events, and the time from a
// stop click to the end of the run. The fake services answer every page two
// (for the stop: five) seconds late; the program's own event pump is in
// place, as in the window.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/main_window.h"
#include "bench/bench_figures.h"
#include "platform/code_page.h"
#include "platform/message_box.h"
#include "settings/scratch_folder.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using testing::FakeServices;
using testing::FakeSite;

// A window against the fakes, auto-save into a scratch folder, message boxes
// answered at once.
struct SlowServiceWindow {
  explicit SlowServiceWindow(int delayMs) {
    fakes.start();
    fakes.setAnswerDelay(delayMs);
    fakes.setAddress(FakeSite::kAizhan, "slow@x.com",
                     {.domains = {"one.com", "two.com"}, .perPage = 1});
    window = std::make_unique<MainWindow>(nullptr, fakes.endpoints());
    setMessageBoxHandler([](const Text&, const Text&, unsigned) { return 1; });
    window->setTag(control::kAutoSaveFolderButton, results.gbkPath());
    window->setTag(control::kInputButton, "slow@x.com");
    window->show();
    // The window's first paint (fonts, icons) is start-up, not the run.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ~SlowServiceWindow() { setMessageBoxHandler(nullptr); }

  QPushButton* startButton() const {
    return static_cast<QPushButton*>(window->control(control::kStartButton));
  }
  bool idle() const { return window->caption(control::kStartButton) == gbk("开始查询"); }

  ScratchFolder results;
  FakeServices fakes;
  std::unique_ptr<MainWindow> window;
};

// The longest gap between two ticks of a 1 ms timer of the window while
// `work` runs: the longest time the window did not answer, in seconds.
template <typename Work>
double longestEventLoopGap(Work&& work) {
  QElapsedTimer clock;
  qint64 lastTick = -1;
  qint64 longestGap = 0;
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (lastTick >= 0 && now - lastTick > longestGap) {
      longestGap = now - lastTick;
      if (std::getenv("QARVO_BENCH_GAPS"))
        std::fprintf(stderr, "gap %.1f ms ending at %.1f ms\n", longestGap / 1e6, now / 1e6);
    }
    lastTick = now;
  });
  clock.start();
  ticker.start();
  work(clock);
  ticker.stop();
  return static_cast<double>(longestGap) / 1e9;
}

// A whole run of two pages, each two seconds late.
void BM_Window_LongestEventLoopGapDuringSlowPages(benchmark::State& state) {
  SlowServiceWindow slow(2000);
  for (auto _ : state) {
    state.SetIterationTime(longestEventLoopGap([&](const QElapsedTimer&) {
      slow.startButton()->click();  // returns when the run has ended
    }));
  }
}
BENCHMARK(BM_Window_LongestEventLoopGapDuringSlowPages)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same measure over an idle window for the same time: what the machine
// itself costs (a loaded machine lets the event loop wait for the processor).
void BM_Window_LongestEventLoopGapIdle(benchmark::State& state) {
  SlowServiceWindow idle(0);
  for (auto _ : state) {
    state.SetIterationTime(longestEventLoopGap([](const QElapsedTimer& clock) {
      while (clock.elapsed() < 4600)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }));
  }
}
BENCHMARK(BM_Window_LongestEventLoopGapIdle)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A click on the button while a page five seconds late is on its way, half
// a second into the fetch: the time until the run has ended.
void BM_Window_StopClickToRunEnd(benchmark::State& state) {
  SlowServiceWindow slow(5000);
  for (auto _ : state) {
    QElapsedTimer sinceClick;
    QTimer::singleShot(500, slow.window.get(), [&] {
      sinceClick.start();
      slow.startButton()->click();  // the stop
    });
    slow.startButton()->click();
    state.SetIterationTime(
        sinceClick.isValid() ? static_cast<double>(sinceClick.nsecsElapsed()) / 1e9 : 5.0);
    if (!slow.idle())
      state.SkipWithError("the run did not end");
  }
}
BENCHMARK(BM_Window_StopClickToRunEnd)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

const bool kFigures =
    bench::addFigure({.title = "window: longest event-loop gap, pages 2 s late",
                      .benchmark = "BM_Window_LongestEventLoopGapDuringSlowPages/iterations:1/"
                                   "manual_time",
                      .maxMilliseconds = 50}) &&
    bench::addFigure({.title = "window: stop click to the end of the run",
                      .benchmark = "BM_Window_StopClickToRunEnd/iterations:1/manual_time",
                      .maxMilliseconds = 500});

}  // namespace
}  // namespace qarvo
