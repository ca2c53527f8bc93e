// How one address's look-up ended, and what the page walk reports while it
// runs.
//
// Only a look-up that completed (found or none) says anything about the
// address: a failed, incomplete or stopped one says only that the service
// could not be asked to the end, so it is never written over a result file.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/service_endpoints.h"
#include "platform/text.h"

namespace qarvo {

enum class LookupOutcome {
  kFound,       // every page asked for came, with at least one domain
  kNone,        // the service answered that it has nothing
  kFailed,      // the first page never came (refused, time-out, throttled, ...)
  kIncomplete,  // some pages came, then one did not
  kStopped,     // the user stopped it before it was done
};

// Why a look-up did not complete.
enum class FailureReason {
  kNone,
  kConnection,      // refused, unresolvable, cut off, or an empty answer
  kTimeout,         // no answer within the time limit
  kServerError,     // the service answered with an HTTP error (5xx, 429)
  kRateLimited,     // the service's "too many queries" page, to the end
  kSignInMissing,   // 站长 pages beyond 10 need a sign-in that did not happen
  kInvalidAddress,  // not an e-mail address; never sent
  kStopped,         // the user stopped the run
  kUnrecognised,    // a page that is no result, no-data, throttle or sign-in page
  kEndedEarly,      // a page before the last one announced had no domains
};

// Which services listed a domain, or which one an event is about.
inline constexpr unsigned char kFromAizhan = 1;
inline constexpr unsigned char kFromChinaz = 2;
inline constexpr unsigned char kFromBoth = kFromAizhan | kFromChinaz;
inline unsigned char serviceMask(Service service) {
  return service == Service::kAizhan ? kFromAizhan : kFromChinaz;
}

// What the run's history says of a result (all empty without a history).
struct HistoryNote {
  using TimePoint = std::chrono::system_clock::time_point;
  // Answered from the history without a request: when that look-up was made.
  bool fromHistory = false;
  TimePoint answeredAt = {};
  // The previous completed look-up of the address by the same service
  // (either service's, for a merged result); empty when there was none, and
  // then `isNew` and `gone` say nothing.
  std::optional<TimePoint> since = {};
  std::vector<unsigned char> isNew = {};  // per line of `domains`: 1 when not listed then
  int gone = 0;                           // listed then, not now
  std::vector<TimePoint> firstSeen = {};  // per line of `domains`: first listed (now when new)
};

struct LookupResult {
  LookupOutcome outcome = LookupOutcome::kNone;
  FailureReason reason = FailureReason::kNone;
  Text domains;                        // GBK, joined by "\r\n", in page order
  int pages = 0;                       // pages that came
  int failedPage = 0;                  // the page that did not come (0 when none failed)
  int announcedPages = 0;              // the pager's total on page 1 (0: no pager, one page)
  Text keptPage = {};                  // GBK path of the last unrecognised page kept, if any
  std::string url = {};                // the page asked for last
  bool recalled = false;               // answered from an earlier run, without a request
  Service service = Service::kAizhan;  // who answered (a merged result: 爱站)

  // A result of both services: what each said (爱站's first), which of them
  // listed each line of `domains` (kFromAizhan, kFromChinaz or kFromBoth),
  // and, when it did not complete, which service it did not complete on
  // (`reason` is that service's). All empty for a single service's result.
  std::vector<LookupResult> answers = {};
  std::vector<unsigned char> sources = {};
  unsigned char reasonFrom = 0;

  HistoryNote history = {};  // filled by a run that keeps a history

  // Found or none: the result may be shown as final and saved.
  bool completed() const {
    return outcome == LookupOutcome::kFound || outcome == LookupOutcome::kNone;
  }
};

// The row images of the report list: 0 found, 1 none, 2 not yet queried,
// 3 did not complete (failed, incomplete, stopped).
inline constexpr int kImageFound = 0;
inline constexpr int kImageNone = 1;
inline constexpr int kImagePending = 2;
inline constexpr int kImageNotCompleted = 3;
int outcomeImage(LookupOutcome outcome);

// Machine names: "found", "none", "failed", "incomplete", "stopped".
const char* outcomeName(LookupOutcome outcome);
// Short reason words (UTF-8 English, for logs and machine output):
// "connection failed", "timed out", ... ; empty for kNone.
const char* reasonName(FailureReason reason);
// The short Chinese reason (GBK): 连接失败, 超时, 服务器错误, 查询过于频繁,
// 需要登录, 无效邮箱, 已停止, 页面无法识别, 结果页提前结束; empty for kNone.
Text reasonText(FailureReason reason);
// What a row that did not complete says (GBK): failed rows "查询失败：<reason>",
// stopped rows "已停止", invalid addresses "无效邮箱"; an incomplete row's
// note names the page that failed: "第 N 页查询失败：<reason>". A merged
// result names the service its reason is from: "查询失败：站长：需要登录".
// Empty for completed look-ups.
Text outcomeNote(const LookupResult& result);

// A merged result's reason in words, "chinaz: sign-in needed" (UTF-8), or
// reasonName(reason) for a single service's result.
std::string mergedReasonName(const LookupResult& result);

// The union of both services' answers for one address: the domains in the
// order first seen (爱站's first), each with who listed it. Found or none
// only when both completed; otherwise stopped (either was stopped),
// incomplete (some domains or pages came) or failed, with the reason of the
// service that did not complete (爱站's when neither did).
LookupResult mergeAnswers(LookupResult aizhan, LookupResult chinaz);

// What the page walk is doing, for a status line or a progress display.
struct LookupProgress {
  enum class Stage {
    kRunStarted,      // `total` addresses
    kAddressStarted,  // address `index` is taken up
    kFetching,        // page `page` of `totalPages` (0: not known yet) is being asked for
    kPageRead,        // page `page` came; `domainsSoFar` holds every domain so far
    kPausing,         // `pauseMs` left of a pause of kind `pause`
    kAddressEnded,    // `result` holds the outcome
    kRunEnded,        // the tallies are final; `folder` is where results were saved
    kNotice,          // `notice` says why a click was refused or deferred
    kPartEnded,       // both services asked: `part`'s answer for the address is `result`
  };
  enum class Pause { kNone, kRateLimit, kPage, kInterval, kRetry, kOffline };

  Stage stage = Stage::kRunStarted;
  int row = -1;
  Text address;        // GBK
  bool ofRun = false;  // the run itself or its own address, not a right-click query
  int index = 0;       // 1-based position in the run, 0 for a single query
  int total = 0;       // addresses in the run
  int page = 0;
  int totalPages = 0;
  int domains = 0;  // domains so far for this address
  Pause pause = Pause::kNone;
  int pauseMs = 0;
  const LookupResult* result = nullptr;  // at kAddressEnded
  const Text* domainsSoFar = nullptr;    // at kPageRead (GBK, joined by CR LF)
  bool saved = false;                    // at kAddressEnded: its result file was written
  int found = 0, none = 0, failed = 0;   // tallies of the run so far (failed: not completed)
  Text folder;                           // GBK, at kRunEnded; empty without auto-save
  int unsavedFiles = 0;                  // result files that could not be written
  Text notice;                           // GBK, at kNotice
  // Both services asked: the service a page, pause or kPartEnded event is
  // about (kFromAizhan or kFromChinaz); 0 for the run's own events and for
  // a single service's run. At kPageRead of a part, `domainsSoFar` holds the
  // union so far of both services for that address.
  unsigned char part = 0;
};
using ProgressListener = std::function<void(const LookupProgress&)>;

}  // namespace qarvo
