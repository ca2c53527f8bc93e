// The per-address page walk of LookupEngine.

#include <climits>
#include <cmath>

#include "engine/address_check.h"
#include "engine/address_text.h"
#include "engine/lookup_engine.h"
#include "engine/page_extraction.h"
#include "engine/report_sort.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"

namespace qarvo {

namespace {

constexpr int kAttemptsPerPage = 10;
constexpr int kPausePerPageMs = 300;
constexpr int kRateLimitPauseMs = 5000;
constexpr int kWaitSliceMs = 10;
constexpr int kSignInFreePages = 10;  // 站长 shows this many pages without sign-in

// The page interval: seconds, fractions allowed, as whole milliseconds
// (truncated); text that is no number counts as 0.
int intervalMilliseconds(TextView seconds) {
  double ms = std::trunc(leadingNumber(seconds) * 1000.0);
  if (!(ms > 0))
    return 0;
  return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
}

FailureReason failureOf(const PageResponse& response) {
  if (response.failure == TransferFailure::kTimeout)
    return FailureReason::kTimeout;
  return FailureReason::kConnection;
}

// An answer that is an error page of the server or a proxy, not the
// service's result page: it says nothing about the address.
bool isErrorStatus(int status) {
  return status == 429 || status >= 500;
}

int countLines(const Text& joined) {
  if (joined.empty())
    return 0;
  int lines = 1;
  for (size_t at = joined.find("\r\n"); at != Text::npos; at = joined.find("\r\n", at + 2))
    ++lines;
  return lines;
}

}  // namespace

void LookupEngine::wait(int milliseconds) {
  if (waitHook_) {
    WaitHook hook = waitHook_;  // a pumped event may replace the member
    hook(milliseconds);
    return;
  }
  for (int elapsed = 0; elapsed < milliseconds && !stopRequested_; elapsed += kWaitSliceMs) {
    sleepMilliseconds(kWaitSliceMs);
    processPendingEvents();
  }
}

void LookupEngine::report(LookupProgress progress) {
  if (!progress_)
    return;
  if (progress.ofRun) {
    progress.index = runIndex_;
    progress.total = runTotal_;
    progress.found = runFound_;
    progress.none = runNone_;
    progress.failed = runFailed_;
  }
  ProgressListener listener = progress_;  // the listener may replace itself
  listener(progress);
}

void LookupEngine::pause(LookupProgress::Pause kind, int milliseconds,
                         const LookupProgress& where) {
  if (milliseconds > 0) {
    LookupProgress progress = where;
    progress.stage = LookupProgress::Stage::kPausing;
    progress.pause = kind;
    progress.pauseMs = milliseconds;
    report(progress);
  }
  wait(milliseconds);
}

void LookupEngine::countForRun(const LookupResult& result) {
  switch (result.outcome) {
    case LookupOutcome::kFound:
      ++runFound_;
      break;
    case LookupOutcome::kNone:
      ++runNone_;
      break;
    default:
      ++runFailed_;
      break;
  }
}

bool LookupEngine::signInToChinaz() {
  static const Text kPrompt = gbk("chinaz.com要求登录才能查询更多页！登录完成点击确定按钮继续");
  if (!view_.browserNavigate(chinazSignInUrl(endpoints_)))
    return false;  // no browser to sign in with; the window has said why
  view_.setVisible(control::kBrowser, true);
  // Ownerless, so the browser stays usable while the box waits.
  view_.messageBox(kPrompt, gbk("信息："), mb::kOk | mb::kSystemModal, true);
  view_.setVisible(control::kBrowser, false);
  serviceCookieText_ = view_.browserCookieText();
  return true;
}

LookupResult LookupEngine::queryAddress(int row) {
  static const Text kQuerying = gbk("查询中..");
  static const Text kAizhanRateLimit = gbk("您的查询太频繁了");
  static const Text kChinazRateLimit = gbk("查询过于频繁");
  static const Text kChinazRateLimitMessage = gbk(
      "chinaz.com查询过于频繁，暂时无法采集！请等半小时后查看能查询时，再根据情况设置间隔秒，如3"
      "秒尝试");
  static const Text kPageOf = gbk("第 ");
  static const Text kPagesTotal = gbk(" 页 (共 ");
  static const Text kPagesEnd = gbk(" 页)");
  static const Text kInfo = gbk("信息：");

  LookupResult result;
  result.outcome = LookupOutcome::kStopped;
  result.reason = FailureReason::kStopped;
  // A sort writes every row back after pumping events; a look-up started in
  // between would lose its row.
  if (sorting_ || row < 0 || row >= view_.rowCount())
    return result;

  struct Active {
    int& count;
    explicit Active(int& c) : count(c) { ++count; }
    ~Active() { --count; }
  } active(activeLookups_);
  // A single query outside a run is not under the stop request of a run that
  // ended before it.
  if (runDepth_ == 0)
    stopRequested_ = false;

  const Text address = view_.cellText(row, 0);
  // The run's own address (not a right-click query nested in the run).
  const bool runsOwn = runDepth_ > 0 && row == runRow_;
  runRow_ = -1;
  LookupProgress where;
  where.ofRun = runsOwn;
  where.row = row;
  where.address = address;

  // Every pumped event may have changed the list: a nested run empties and
  // refills it, a single query or a sort rewrites cells. The row is the one
  // that holds this address and the text this look-up wrote last; once there
  // is none, the look-up has lost its row and leaves the list alone.
  Text lastWritten;
  auto locateRow = [&] {
    auto ours = [&](int r) {
      return view_.cellText(r, 0) == address && view_.cellText(r, 1) == lastWritten;
    };
    if (row < view_.rowCount() && ours(row))
      return true;
    for (int r = 0; r < view_.rowCount(); ++r) {
      if (ours(r)) {
        row = r;
        where.row = r;
        return true;
      }
    }
    return false;
  };
  auto writeCell = [&](const Text& text) {
    view_.setCellText(row, 1, text);
    lastWritten = text;
  };

  if (!isEmailAddress(address)) {
    result.outcome = LookupOutcome::kFailed;
    result.reason = FailureReason::kInvalidAddress;
    view_.setRowImage(row, outcomeImage(result.outcome));
    view_.setRowNote(row, outcomeNote(result));
    view_.setCellText(row, 1, outcomeNote(result));
    if (runsOwn)
      countForRun(result);
    where.stage = LookupProgress::Stage::kAddressEnded;
    where.result = &result;
    report(where);
    return result;
  }

  // The service is taken once: pages of two services must not mix in one row.
  const Service service =
      view_.checked(control::kAizhanRadio) ? Service::kAizhan : Service::kChinaz;
  const PageFetcher& fetch = pageFetcher_ ? pageFetcher_ : PageFetcher(fetchServicePage);
  PageExtractor extractor;
  // In progress: not a result to save until it ends.
  view_.setRowImage(row, kImagePending);
  view_.setRowNote(row, Text());
  writeCell(kQuerying);

  int page = 0;
  int totalPages = 0;
  Text allResult;
  bool completed = false;
  FailureReason failure = FailureReason::kNone;
  while (true) {
    ++page;
    if (page > kSignInFreePages && service == Service::kChinaz && serviceCookieText_.empty()) {
      // Without a sign-in the service shows its sign-in wall instead of the
      // page: the address cannot be looked up to the end.
      if (!signInToChinaz() || serviceCookieText_.empty()) {
        failure = FailureReason::kSignInMissing;
        break;
      }
    }

    where.stage = LookupProgress::Stage::kFetching;
    where.page = page;
    where.totalPages = totalPages;
    report(where);

    Text pageText;
    failure = FailureReason::kNone;
    for (int attempt = 1; attempt <= kAttemptsPerPage; ++attempt) {
      if (!locateRow())
        return result;
      if (stopRequested_)
        break;
      const std::string url = servicePageUrl(service, endpoints_, encodeAddress(address), page);
      PageResponse response =
          fetch({.url = url,
                 .timeoutSeconds = fetchTimeoutSeconds_,
                 .cookies = service == Service::kChinaz ? &serviceCookieText_ : nullptr,
                 .cancel = &stopRequested_});
      if (stopRequested_)
        break;
      pageText = std::move(response.body);
      if (pageText.empty() || isErrorStatus(response.status)) {
        failure = pageText.empty() ? failureOf(response) : FailureReason::kServerError;
        pageText.clear();
        if (queryStopFlag_)
          break;
        continue;
      }
      if (service == Service::kAizhan) {
        if (findText(pageText, kAizhanRateLimit) == -1) {
          failure = FailureReason::kNone;
          break;
        }
        failure = FailureReason::kRateLimited;
        view_.beep();
        pause(LookupProgress::Pause::kRateLimit, kRateLimitPauseMs, where);
        continue;
      }
      if (findText(pageText, kChinazRateLimit) != -1) {
        failure = FailureReason::kRateLimited;
        view_.messageBox(kChinazRateLimitMessage, kInfo, mb::kOk | mb::kTaskModal, false);
        queryStopFlag_ = true;
        break;
      }
      failure = FailureReason::kNone;
      break;
    }
    if (stopRequested_) {
      failure = FailureReason::kStopped;
      break;
    }
    if (failure != FailureReason::kNone)
      break;

    // A page without domains ends the walk, whether it has no result block
    // or says "未找到相关数据". The cell then keeps the domains of the
    // earlier pages, and stays empty when the first page had none: an empty
    // cell (with image 1) is the "no record" answer, and it saves as an empty
    // file rather than one holding a note that would read like a domain.
    Text pageResult = extractor.domains(service, pageText);
    if (pageResult.empty()) {
      completed = true;
      break;
    }
    if (!allResult.empty())
      allResult += "\r\n";
    allResult += pageResult;
    result.pages = page;
    where.domains = countLines(allResult);

    if (!locateRow())
      return result;
    if (page == 1) {
      writeCell(allResult);
    } else {
      writeCell(kPageOf + std::to_string(page) + kPagesTotal + std::to_string(totalPages) +
                kPagesEnd);
    }
    pause(LookupProgress::Pause::kPage, kPausePerPageMs, where);

    if (totalPages == 0)
      totalPages = PageExtractor::totalPages(service, pageText);

    const int maxPages = leadingInteger(view_.content(control::kMaxPagesEdit));
    if (page >= maxPages) {
      completed = true;
      break;
    }
    // Stopped between pages: done only when no page is left to ask for.
    if (queryStopFlag_ || stopRequested_) {
      completed = page >= totalPages;
      if (!completed)
        failure = FailureReason::kStopped;
      break;
    }
    where.totalPages = totalPages;
    pause(LookupProgress::Pause::kInterval,
          intervalMilliseconds(view_.content(control::kIntervalEdit)), where);
    if (page >= totalPages) {
      completed = true;
      break;
    }
    if (stopRequested_) {
      failure = FailureReason::kStopped;
      break;
    }
  }

  result.domains = allResult;
  if (completed) {
    result.outcome = allResult.empty() ? LookupOutcome::kNone : LookupOutcome::kFound;
    result.reason = FailureReason::kNone;
  } else {
    result.reason = failure;
    result.failedPage = page;
    if (failure == FailureReason::kStopped)
      result.outcome = LookupOutcome::kStopped;
    else
      result.outcome = result.pages == 0 ? LookupOutcome::kFailed : LookupOutcome::kIncomplete;
  }

  if (runsOwn)
    countForRun(result);
  where.stage = LookupProgress::Stage::kAddressEnded;
  where.result = &result;
  if (!locateRow()) {
    report(where);
    return result;
  }
  const Text note = outcomeNote(result);
  view_.setRowImage(row, outcomeImage(result.outcome));
  view_.setRowNote(row, note);
  writeCell(allResult.empty() ? note : allResult);
  report(where);
  return result;
}

}  // namespace qarvo
