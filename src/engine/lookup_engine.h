// LookupEngine: the reverse look-up engine behind the main window's events.
//
// The window turns each click into one call here; the engine reads and writes
// the window only through MainWindowView. All calls run on the window thread
// and may nest (a wait pumps events, and a pumped event may call in again):
// every call keeps its working state local, and rows are looked up by index
// again after each pump, so a nested run that empties the list does no harm.
#pragma once

#include <functional>
#include <string>

#include "engine/lookup_outcome.h"
#include "engine/main_window_view.h"
#include "engine/page_fetch.h"
#include "engine/service_endpoints.h"
#include "platform/text.h"

namespace qarvo {

class LookupEngine {
 public:
  explicit LookupEngine(MainWindowView& view, ServiceEndpoints endpoints = {});

  // Click on 按钮开始查询: starts a run, or requests a stop of the active one.
  void runQueries();
  // Looks up the address of one report-list row (also the right-click query)
  // and says how it ended. The row shows the outcome: its image, the domains,
  // and for a look-up that did not complete a note (and, without domains, the
  // note in the result cell). Refused (kStopped, nothing touched) while the
  // list is being sorted.
  LookupResult queryAddress(int row);
  // Click on a column header of 超级列表框. Refused while any look-up runs;
  // true when the list was sorted.
  bool onResultHeaderClick(int column);
  // The column and direction of the last accepted sort (-1: none yet).
  int sortedColumn() const { return sortedColumn_; }
  bool sortedAscending() const { return sortAscending_; }

  // Click / right button on 按钮自动保存路径.
  void chooseAutoSaveFolder();
  void openAutoSaveFolder();
  // Click on 按钮保存查询结果.
  void saveResults();
  // Double-click on 超级列表框.
  void openResultPage();
  // Clicks on the header pictures.
  void openMakerPage();
  void openHomePage(const std::string& homePageUrl);

  // Process-wide state shared with the window. A raised stop flag also ends
  // the page fetch in flight at once.
  bool queryStopFlag() const { return queryStopFlag_; }
  void setQueryStopFlag(bool stop) {
    queryStopFlag_ = stop;
    stopRequested_ = stop;
  }
  // True while a run or a single query is under way.
  bool lookupActive() const { return activeLookups_ > 0; }
  // The folder auto-save writes to: the chosen one, else the default.
  Text autoSaveFolder() const;

  // How pages are fetched (tests and other front ends); empty: the network.
  void setPageFetcher(PageFetcher fetcher) { pageFetcher_ = std::move(fetcher); }
  // Told of every step of runs and look-ups (a status line, a progress display).
  void setProgressListener(ProgressListener listener) { progress_ = std::move(listener); }
  const Text& serviceCookieText() const { return serviceCookieText_; }
  void setServiceCookieText(const Text& cookies) { serviceCookieText_ = cookies; }
  const ServiceEndpoints& endpoints() const { return endpoints_; }

  // The wait of the page query: sleeps in 10 ms slices and processes pending
  // events after each; 0 ms or less returns at once. A stop request ends it.
  void wait(int milliseconds);
  // Test seam: when set, every wait calls the hook with the milliseconds it
  // would wait instead of waiting. An empty hook restores the real waits.
  using WaitHook = std::function<void(int milliseconds)>;
  void setWaitHook(WaitHook hook) { waitHook_ = std::move(hook); }
  // The time limit of every page fetch, in seconds (30 unless changed). The
  // page fetch takes values below 1 as its long defaults.
  void setFetchTimeoutSeconds(float seconds) { fetchTimeoutSeconds_ = seconds; }
  float fetchTimeoutSeconds() const { return fetchTimeoutSeconds_; }

 private:
  bool signInToChinaz();
  void report(LookupProgress progress);
  void pause(LookupProgress::Pause kind, int milliseconds, const LookupProgress& where);

  MainWindowView& view_;
  ServiceEndpoints endpoints_;
  bool queryStopFlag_ = false;
  Text serviceCookieText_;
  bool sortAscending_ = false;  // flipped before every accepted sort
  int sortedColumn_ = -1;
  // Raised by a stop request of the user (not by the service's rate-limit):
  // ends waits and the fetch in flight at once.
  bool stopRequested_ = false;
  bool sorting_ = false;
  int activeLookups_ = 0;
  int runDepth_ = 0;
  WaitHook waitHook_;
  float fetchTimeoutSeconds_ = 30.0f;
  PageFetcher pageFetcher_;
  ProgressListener progress_;
  // The run in progress (for the progress reports of its look-ups): the
  // position of its current address, its row, and the outcomes so far.
  int runIndex_ = 0;
  int runTotal_ = 0;
  int runRow_ = -1;
  int runFound_ = 0, runNone_ = 0, runFailed_ = 0;
  void countForRun(const LookupResult& result);
};

// Writes `text` to <folder>/<address>.txt through a temporary file and a
// rename, creating the folders on the way: a failed write keeps the old
// file. False when the address cannot be a file name or the write failed.
bool writeResultFile(const Text& folder, const Text& address, const Text& text);

}  // namespace qarvo
