// LookupEngine: the main window's operations over the look-up core.
//
// The window turns each click into one call here; the engine reads and writes
// the window only through MainWindowView. A run reads the controls once when
// it starts (service, page limit, interval, auto-save and its folder) and
// hands the look-up core a plain request; the core's events come back as row
// writes, addressed by the row's identity in the list (not by its position,
// which a sort or a nested run may change). All calls run on the window
// thread and may nest (a wait pumps events, and a pumped event may call in
// again); what may happen while something runs is decided in one place,
// userActionAnswer().
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/lookup_core.h"
#include "engine/lookup_outcome.h"
#include "engine/main_window_view.h"
#include "engine/page_fetch.h"
#include "engine/run_policy.h"
#include "engine/service_description.h"
#include "engine/service_endpoints.h"
#include "platform/text.h"

namespace qarvo {

class LookupEngine {
 public:
  explicit LookupEngine(MainWindowView& view, ServiceEndpoints endpoints = {});
  ~LookupEngine();

  // Click on 按钮开始查询: starts a run, or requests a stop of the active one.
  // The list's addresses become rows not yet queried at once; a run that
  // ends with rows that did not complete offers to ask them again (是 runs
  // just those rows, the others keep their results).
  void runQueries();
  // A list was entered in the list-entry window: its addresses show at once
  // as rows not yet queried, and the status line says how many were taken.
  // While something runs the rows are left alone and the status line says
  // when the list is used.
  void showEnteredList();
  // Looks up the address of one report-list row (also the right-click query)
  // and says how it ended. The row shows the outcome: its image, the domains,
  // and for a look-up that did not complete a note (and, without domains, the
  // note in the result cell). A completed result is saved as a run saves it
  // when auto-save is ticked, and the status line's tallies follow the rows.
  // A fresh start: a stop of an earlier run does not reach it. Refused
  // (kStopped, nothing touched) while the list is sorted or saved.
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
  // Click on 按钮保存查询结果: the completed rows as text files; the message
  // says how many files were written and how many rows were passed over.
  void saveResults();
  // Click on 按钮导出表格: every row in one CSV file (UTF-8 with a byte-order
  // mark), by default in the result folder beside the text files.
  void exportResultTable();
  // Double-click on 超级列表框.
  void openResultPage();
  // Clicks on the header pictures.
  void openMakerPage();
  void openHomePage(const std::string& homePageUrl);

  // What the engine is doing now, and how it answers a user action then.
  Activity activity() const;
  PolicyAnswer answer(UserAction action) const { return userActionAnswer(activity(), action); }

  // Process-wide state shared with the window. A raised stop flag also ends
  // the page fetch in flight and every wait at once.
  bool queryStopFlag() const { return queryStopFlag_; }
  void setQueryStopFlag(bool stop) {
    queryStopFlag_ = stop;
    stopRequested_ = stop;
  }
  // True while a run or a single query is under way.
  bool lookupActive() const { return activeLookups_ > 0; }
  // The folder auto-save writes to: the chosen one, else the default.
  Text autoSaveFolder() const;

  // How pages are fetched (tests); empty: the network.
  void setPageFetcher(PageFetcher fetcher) { pageFetcher_ = std::move(fetcher); }
  // Told of every step of runs and look-ups (a status line).
  void setProgressListener(ProgressListener listener) { progress_ = std::move(listener); }
  const Text& serviceCookieText() const { return session_.chinazCookies; }
  void setServiceCookieText(const Text& cookies) { session_.chinazCookies = cookies; }
  LookupSession& session() { return session_; }
  const ServiceEndpoints& endpoints() const { return endpoints_; }
  // What the engine knows of the services' pages (built in, or services.ini).
  const ServiceDescriptions& services() const { return services_; }
  void setServices(ServiceDescriptions services) { services_ = std::move(services); }
  // Whether unrecognised pages are kept in the cache folder (default true).
  void setKeepPages(bool keep) { keepPages_ = keep; }
  // The history runs and single queries record into and answer from (not
  // owned; null: none).
  void setHistory(LookupHistory* history) { history_ = history; }
  LookupHistory* history() const { return history_; }

  // Test seam: when set, every wait calls the hook with the milliseconds it
  // would wait instead of waiting. An empty hook restores the real waits.
  using WaitHook = std::function<void(int milliseconds)>;
  void setWaitHook(WaitHook hook) { waitHook_ = std::move(hook); }
  // The time limit of every page fetch, in seconds (30 unless changed).
  void setFetchTimeoutSeconds(float seconds) { fetchTimeoutSeconds_ = seconds; }
  float fetchTimeoutSeconds() const { return fetchTimeoutSeconds_; }

 private:
  class WindowClock;
  class RowWriter;
  friend class RowWriter;

  // Runs `request` through the core with this engine's clock, fetcher and
  // session, telling `listener`.
  RunTallies runCore(const LookupRequest& request, LookupListener& listener);
  // Runs the addresses of the rows `ids` (one each, in order), offering to
  // ask the ones that did not complete again at the end.
  void runRows(std::vector<long long> ids, std::vector<Text> addresses);
  // Counts a look-up in or out; the settings it read stay locked meanwhile.
  void lookupBegins();
  void lookupEnds();
  // The found / none / not completed rows of the list, as the status line
  // shows them.
  void countRows(LookupProgress* progress);
  // The controls a look-up depends on, read once.
  LookupRequest requestFromControls() const;
  // Refuses `action` when the policy says so, telling the user why.
  bool allowed(UserAction action);
  void report(const LookupProgress& progress);
  bool signIn(const ServiceDescription& service, Text* cookies);
  bool passWall(const ServiceDescription& service, const Text& keptPage, const std::string& url,
                Text* cookies);
  // True when the user asked to look up the `again` rows that did not
  // complete once more.
  bool showEndMessage(const RunTallies& tallies, const Text& folder, int again);

  MainWindowView& view_;
  ServiceEndpoints endpoints_;
  ServiceDescriptions services_;
  LookupSession session_;
  bool queryStopFlag_ = false;
  bool sortAscending_ = false;  // flipped before every accepted sort
  int sortedColumn_ = -1;
  // Raised by a stop request of the user: ends waits and the fetch in
  // flight at once.
  StopFlag stopRequested_{false};
  bool sorting_ = false;
  bool saving_ = false;
  int activeLookups_ = 0;
  int runDepth_ = 0;
  bool keepPages_ = true;
  LookupHistory* history_ = nullptr;
  WaitHook waitHook_;
  float fetchTimeoutSeconds_ = 30.0f;
  PageFetcher pageFetcher_;
  ProgressListener progress_;
  // The tallies the status line shows, counted from the rows.
  int shownFound_ = 0, shownNone_ = 0, shownFailed_ = 0;
};

// What a completed result cut short by the page limit says (GBK):
// "已查 1/13 页（页数上限）"; empty for any other result.
Text pageLimitNote(const LookupResult& result);
// The CSV of the report list (UTF-8, byte-order mark, CR LF): a heading, then
// one line per address and domain with the row's outcome and note; a row
// without domains once.
std::string resultTableCsv(const MainWindowView& view);

}  // namespace qarvo
