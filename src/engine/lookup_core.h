// The look-up core: runs of look-ups described as data.
//
// Every front end (the window, qarvo-lookup) describes a run as a plain
// LookupRequest and hears the same events through a LookupListener; the core
// knows nothing of controls, rows or terminals. One function walks the pages
// of one address, one function runs a list. Both fetch through a PageFetcher
// and wait through a LookupClock, so tests run a 300-page walk in
// milliseconds and the window keeps answering while a real run waits.
//
// The core runs on whichever thread calls it and blocks that thread until
// the address or the run is over; it touches nothing shared but the
// LookupSession it is given.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/lookup_outcome.h"
#include "engine/page_fetch.h"
#include "engine/service_description.h"
#include "platform/stop_flag.h"
#include "platform/text.h"

namespace qarvo {

class LookupHistory;

// What to look up and how; read once when a run starts.
struct LookupRequest {
  std::vector<Text> addresses = {};  // GBK, trimmed
  Service service = Service::kAizhan;
  bool both = false;     // 爱站 and 站长 side by side, one merged result per address
                         // (`service` is then not used)
  int pageLimit = 1;     // pages at most per address; less than 1 counts as 1
  int intervalMs = 0;    // wait between two pages, beyond the fixed 300 ms
  bool save = false;     // write <saveFolder>/<address>.txt for every completed address
  Text saveFolder = {};  // GBK
  // Answer an address from the history, without a request, when a completed
  // look-up by the same service of at least as many pages is younger than
  // this. Empty: always ask.
  std::optional<std::chrono::seconds> maxAge = {};
};

// What a run shares with the runs before and after it: the cookies sent to
// each service (the 站长 sign-in, a passed verification).
struct LookupSession {
  Text aizhanCookies;
  Text chinazCookies;
  Text& cookiesOf(Service service) {
    return service == Service::kAizhan ? aizhanCookies : chinazCookies;
  }
};

// Time as the core sees it. The real clock is steady_clock; sleepUntil pumps
// the window's events while it waits.
class LookupClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~LookupClock() = default;
  virtual TimePoint now() = 0;
  // Returns at `deadline`, or as soon as `stop` is raised.
  virtual void sleepUntil(TimePoint deadline, const StopFlag& stop) = 0;
  // A pause of `length` from now (0: returns at once, after letting pending
  // events through).
  virtual void wait(std::chrono::milliseconds length, const StopFlag& stop) {
    sleepUntil(now() + length, stop);
  }
};

// steady_clock, sleeping in short slices and processing pending events
// between them (a no-op without an installed event pump).
class MonotonicClock : public LookupClock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void sleepUntil(TimePoint deadline, const StopFlag& stop) override;
};

// What the core tells its front end, and what it asks.
class LookupListener {
 public:
  virtual ~LookupListener() = default;

  // Every step: run started, address started, page asked, page read,
  // pause (with its length), address ended, run ended.
  virtual void progress(const LookupProgress& progress) { (void)progress; }

  // An address the front end already knows the answer to (an earlier run's
  // journal): true with `*result` filled to answer it without a request.
  virtual bool recall(int index, const Text& address, LookupResult* result) {
    (void)index;
    (void)address;
    (void)result;
    return false;
  }

  // The service shows more pages only to a signed-in user: true with the
  // new cookies once the user signed in, false when there is none.
  virtual bool signIn(const ServiceDescription& service, Text* cookies) {
    (void)service;
    (void)cookies;
    return false;
  }
  // The service's throttle page, for a service that ends the run on it.
  virtual void throttled(const ServiceDescription& service) { (void)service; }
  // The 爱站 throttle page: a beep before the pause.
  virtual void beep() {}

  // Several addresses in a row met pages the program does not recognise
  // (`keptPage`: the last one, kept; `url`: where it came from). True with
  // `*cookies` set (for that service) to go on and ask those addresses
  // again; false ends the run.
  virtual bool passWall(const ServiceDescription& service, const Text& keptPage,
                        const std::string& url, Text* cookies) {
    (void)service;
    (void)keptPage;
    (void)url;
    (void)cookies;
    return false;
  }
  // The service cannot be reached: true to wait `next` more (after
  // `waitedSoFar` already) and try again; false ends the run.
  virtual bool waitOffline(std::chrono::milliseconds waitedSoFar, std::chrono::milliseconds next) {
    (void)waitedSoFar;
    (void)next;
    return true;
  }
};

// Everything a walk needs besides the request.
struct LookupContext {
  const ServiceDescriptions& services;
  LookupClock& clock;
  LookupListener& listener;
  LookupSession& session;
  const StopFlag& stop;  // the user's stop: ends waits and the fetch in flight
  PageFetcher fetch = fetchServicePage;
  float fetchTimeoutSeconds = 30.0f;
  bool keepPages = true;  // keep unrecognised pages in the cache folder
  bool halted = false;    // set by a walk when the service ends the run (站长 throttle)
  // Where every ended look-up is recorded, what `maxAge` answers from and
  // what a result's HistoryNote is read from; used on the calling thread
  // only. Null: no history. A write that fails is said once per run
  // (kNotice) and never stops the run.
  LookupHistory* history = nullptr;
};

// The tallies of a run.
struct RunTallies {
  int total = 0;
  int found = 0, none = 0, failed = 0, incomplete = 0, stopped = 0;
  int recalled = 0;              // answered by recall() or from the history, no request
  int fromHistory = 0;           // of those, answered from the history
  bool historyFailed = false;    // a look-up could not be recorded
  int notReached = 0;            // never asked: the run ended first
  int saved = 0;                 // result files written
  int unsaved = 0;               // completed results whose file could not be written
  bool endedByWall = false;      // passWall() said no
  bool endedOffline = false;     // waitOffline() said no
  bool endedByThrottle = false;  // the service's throttle ends runs
  Text lastKeptPage;             // the last unrecognised page kept (GBK path)
  // Both services asked: each one's totals, and the domains both listed.
  struct OfService {
    Service service = Service::kAizhan;
    int completed = 0;     // addresses this service answered to the end
    int notCompleted = 0;  // addresses it did not (failed, incomplete, stopped, not reached)
    int domains = 0;       // domains it listed, over the completed and the cut-short
  };
  std::vector<OfService> byService = {};  // empty for a single service's run
  int sharedDomains = 0;                  // listed by both
  Text endedService;  // GBK name of a service that ended its side early (站长 throttle, ...)
  int completed() const { return found + none; }
  int notCompleted() const { return failed + incomplete + stopped + notReached; }
};

// Walks the result pages of one address. `where` carries the position the
// events report (index, total); the events of this walk are sent with it.
LookupResult lookUpAddress(const Text& address, const LookupRequest& request,
                           LookupContext& context, LookupProgress where = {});

// Runs the request's addresses in order, saving completed results when asked.
//
// With `request.both`, each service works through the list on a thread of
// its own, at its own pace and with its own pauses, throttling and
// streaks, exactly as when asked alone; the listener still hears every
// event and every question on the calling thread, which pumps events while
// it waits. An address's merged result (kAddressEnded) comes once both
// services have answered it. `context.clock` and `context.fetch` are then
// called from both threads and must be safe to (MonotonicClock and
// fetchServicePage are).
RunTallies runLookups(const LookupRequest& request, LookupContext& context);

// A result the run may still replace: one of a row of addresses that could
// not reach the service or met pages the program does not recognise, which
// the run asks again once the service is back or the wall is passed. A
// front end that writes results as they come holds such a one until a
// later address ends or the run does.
bool mayBeAskedAgain(const LookupResult& result);

// The interval in whole milliseconds from the seconds a user typed
// (fractions allowed, truncated; text that is no number counts as 0).
int intervalMilliseconds(TextView seconds);

// Writes `text` to <folder>/<address>.txt through a temporary file and a
// rename, creating the folders on the way: a failed write keeps the old
// file. False when the address cannot be a file name or the write failed.
bool writeResultFile(const Text& folder, const Text& address, const Text& text);

}  // namespace qarvo
