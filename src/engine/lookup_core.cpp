#include "engine/lookup_core.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <thread>

#include "engine/address_check.h"
#include "engine/address_text.h"
#include "engine/folder_actions.h"
#include "engine/kept_pages.h"
#include "engine/page_reading.h"
#include "engine/report_sort.h"
#include "engine/run_book.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

constexpr int kAttemptsPerPage = 10;
constexpr int kPausePerPageMs = 300;
constexpr int kRateLimitPauseMs = 5000;
// Addresses in a row that fail alike before the run stops to wait (offline)
// or to ask the user (pages it does not recognise).
constexpr size_t kStreakLimit = 3;
constexpr std::chrono::milliseconds kFirstOfflineWait = std::chrono::seconds(15);
constexpr std::chrono::milliseconds kLongestOfflineWait = std::chrono::minutes(5);

FailureReason failureOf(const PageResponse& response) {
  if (response.failure == TransferFailure::kTimeout)
    return FailureReason::kTimeout;
  return FailureReason::kConnection;
}

// An answer that is an error page of the server or a proxy under load: it
// says nothing about the address, and may pass.
bool isErrorStatus(int status) {
  return status == 429 || status >= 500;
}

void pause(LookupContext& context, LookupProgress where, LookupProgress::Pause kind,
           int milliseconds) {
  if (context.stop)
    return;
  if (milliseconds > 0) {
    where.stage = LookupProgress::Stage::kPausing;
    where.pause = kind;
    where.pauseMs = milliseconds;
    context.listener.progress(where);
  }
  context.clock.wait(std::chrono::milliseconds(std::max(0, milliseconds)), context.stop);
}

// The walk of one address, page by page.
class Walk {
 public:
  Walk(const Text& address, const LookupRequest& request, LookupContext& context,
       LookupProgress where)
      : address_(address),
        request_(request),
        context_(context),
        service_(context.services.of(request.service)),
        reader_(service_),
        where_(std::move(where)) {
    where_.address = address;
  }

  LookupResult run();

 private:
  enum class Fetched { kPage, kFailed, kStopped };
  // Asks for the current page until it comes or the attempts are spent.
  Fetched fetchPage(PageReading* reading);
  void keep(const PageResponse& response);

  const Text& address_;
  const LookupRequest& request_;
  LookupContext& context_;
  const ServiceDescription& service_;
  PageReader reader_;
  LookupProgress where_;
  LookupResult result_;
  int page_ = 0;
  FailureReason failure_ = FailureReason::kNone;
};

void Walk::keep(const PageResponse& response) {
  if (!context_.keepPages)
    return;
  Text path = keepPage({.serviceKey = service_.key,
                        .address = address_,
                        .page = page_,
                        .url = result_.url,
                        .status = response.status,
                        .body = response.body});
  if (!path.empty())
    result_.keptPage = std::move(path);
}

Walk::Fetched Walk::fetchPage(PageReading* reading) {
  Text& cookies = context_.session.cookiesOf(request_.service);
  const std::string encoded = encodeAddress(address_);
  bool retriedUnrecognised = false;
  failure_ = FailureReason::kNone;
  for (int attempt = 1; attempt <= kAttemptsPerPage; ++attempt) {
    if (context_.stop)
      return Fetched::kStopped;
    result_.url = pageUrl(service_, encoded, page_);
    PageResponse response = context_.fetch({.url = result_.url,
                                            .timeoutSeconds = context_.fetchTimeoutSeconds,
                                            .cookies = cookies.empty() ? nullptr : &cookies,
                                            .cancel = &context_.stop});
    if (context_.stop)
      return Fetched::kStopped;
    if (response.body.empty()) {
      // Refused, cut off or timed out: asked again at once.
      failure_ = failureOf(response);
      continue;
    }
    if (isErrorStatus(response.status)) {
      failure_ = FailureReason::kServerError;
      continue;
    }
    *reading = reader_.read(response.body, response.status);
    switch (reading->kind) {
      case PageKind::kResult:
      case PageKind::kNoData:
        failure_ = FailureReason::kNone;
        return Fetched::kPage;
      case PageKind::kThrottle:
        failure_ = FailureReason::kRateLimited;
        if (request_.service == Service::kAizhan) {
          context_.listener.beep();
          pause(context_, where_, LookupProgress::Pause::kRateLimit, kRateLimitPauseMs);
          continue;
        }
        // 站长 throttles for half an hour: the run ends here.
        context_.listener.throttled(service_);
        context_.halted = true;
        return Fetched::kFailed;
      case PageKind::kSignInWall:
        // The sign-in expired or never came: the rest is behind the wall.
        failure_ = FailureReason::kSignInMissing;
        return Fetched::kFailed;
      case PageKind::kUnrecognised:
        // Not a dropped connection: asking again at once would show the
        // same page. Once more after the usual pause, then give up.
        failure_ = FailureReason::kUnrecognised;
        keep(response);
        if (retriedUnrecognised)
          return Fetched::kFailed;
        retriedUnrecognised = true;
        pause(context_, where_, LookupProgress::Pause::kRetry,
              kPausePerPageMs + std::max(0, request_.intervalMs));
        continue;
    }
  }
  return context_.stop ? Fetched::kStopped : Fetched::kFailed;
}

LookupResult Walk::run() {
  result_.outcome = LookupOutcome::kStopped;
  result_.reason = FailureReason::kStopped;
  if (!isEmailAddress(address_)) {
    result_.outcome = LookupOutcome::kFailed;
    result_.reason = FailureReason::kInvalidAddress;
    return result_;
  }

  const int limit = std::max(1, request_.pageLimit);
  int totalPages = 0;
  Text all;
  bool completed = false;
  while (true) {
    ++page_;
    Text& cookies = context_.session.cookiesOf(request_.service);
    if (service_.signInFreePages > 0 && page_ > service_.signInFreePages && cookies.empty()) {
      Text signedIn;
      if (!context_.listener.signIn(service_, &signedIn) || signedIn.empty()) {
        failure_ = FailureReason::kSignInMissing;
        break;
      }
      cookies = signedIn;
    }
    if (context_.stop) {
      failure_ = FailureReason::kStopped;
      break;
    }

    where_.stage = LookupProgress::Stage::kFetching;
    where_.page = page_;
    where_.totalPages = totalPages;
    context_.listener.progress(where_);

    PageReading reading;
    const Fetched fetched = fetchPage(&reading);
    if (fetched == Fetched::kStopped) {
      failure_ = FailureReason::kStopped;
      break;
    }
    if (fetched == Fetched::kFailed)
      break;

    if (reading.kind == PageKind::kNoData) {
      // Only the first page may say there is nothing; a later one says the
      // service did not show what its pager announced.
      if (page_ == 1)
        completed = true;
      else
        failure_ = FailureReason::kEndedEarly;
      break;
    }

    if (totalPages == 0) {
      totalPages = reading.totalPages;
      if (page_ == 1)
        result_.announcedPages = totalPages;
    }
    if (!all.empty())
      all += "\r\n";
    all += reading.domains;
    result_.pages = page_;
    where_.domains = countLines(all);
    where_.totalPages = totalPages;
    where_.stage = LookupProgress::Stage::kPageRead;
    where_.domainsSoFar = &all;
    context_.listener.progress(where_);
    where_.domainsSoFar = nullptr;
    pause(context_, where_, LookupProgress::Pause::kPage, kPausePerPageMs);

    if (page_ >= limit) {
      completed = true;
      break;
    }
    // Stopped between pages: done only when no page is left to ask for.
    if (context_.stop || context_.halted) {
      completed = page_ >= std::max(totalPages, 1);
      if (!completed)
        failure_ = FailureReason::kStopped;
      break;
    }
    pause(context_, where_, LookupProgress::Pause::kInterval, request_.intervalMs);
    if (page_ >= std::max(totalPages, 1)) {
      completed = true;
      break;
    }
    if (context_.stop) {
      failure_ = FailureReason::kStopped;
      break;
    }
  }

  result_.domains = std::move(all);
  if (completed) {
    result_.outcome = result_.domains.empty() ? LookupOutcome::kNone : LookupOutcome::kFound;
    result_.reason = FailureReason::kNone;
  } else {
    result_.reason = failure_;
    result_.failedPage = page_;
    if (failure_ == FailureReason::kStopped)
      result_.outcome = LookupOutcome::kStopped;
    else
      result_.outcome = result_.pages == 0 ? LookupOutcome::kFailed : LookupOutcome::kIncomplete;
  }
  return result_;
}

bool failedToConnect(const LookupResult& result) {
  return result.outcome == LookupOutcome::kFailed &&
         (result.reason == FailureReason::kConnection || result.reason == FailureReason::kTimeout);
}

bool metUnrecognised(const LookupResult& result) {
  return result.reason == FailureReason::kUnrecognised;
}

}  // namespace

bool mayBeAskedAgain(const LookupResult& result) {
  if (failedToConnect(result) || metUnrecognised(result))
    return true;
  return std::any_of(result.answers.begin(), result.answers.end(),
                     [](const LookupResult& answer) { return mayBeAskedAgain(answer); });
}

void MonotonicClock::sleepUntil(TimePoint deadline, const StopFlag& stop) {
  for (;;) {
    processPendingEvents();
    if (stop)
      return;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
      return;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(10)));
    noteSlept();
  }
}

LookupResult lookUpAddress(const Text& address, const LookupRequest& request,
                           LookupContext& context, LookupProgress where) {
  return Walk(address, request, context, std::move(where)).run();
}

// For the length of a run: pages asked over https fall back to http for a
// host whose https port will not speak TLS, said once per host.
class HttpFallbackScope {
 public:
  HttpFallbackScope(LookupContext& context, const RunBook& book)
      : context_(context), plain_(context.fetch) {
    LookupListener& listener = context.listener;
    LookupProgress notice = book.where();
    notice.stage = LookupProgress::Stage::kNotice;
    context.fetch = withHttpFallback(plain_, [&listener, notice](const std::string& host) {
      LookupProgress said = notice;
      said.notice = host + gbk(" 的 https 端口无法使用，本次查询改用 http");
      listener.progress(said);
    });
  }
  ~HttpFallbackScope() { context_.fetch = plain_; }
  HttpFallbackScope(const HttpFallbackScope&) = delete;
  HttpFallbackScope& operator=(const HttpFallbackScope&) = delete;

 private:
  LookupContext& context_;
  PageFetcher plain_;
};

void runService(const LookupRequest& request, LookupContext& context, RunBook& book) {
  HttpFallbackScope fallback(context, book);
  RunTallies& tallies = book.tallies();
  const int total = tallies.total;

  // A streak: the addresses in a row that failed alike, to ask again once
  // the network is back or the wall was passed (their outcomes taken back).
  std::vector<int> streak;
  bool streakOffline = false;
  std::chrono::milliseconds offlineWaited{0};
  std::chrono::milliseconds nextOfflineWait = kFirstOfflineWait;

  int i = 0;
  while (i < total) {
    if (context.stop || context.halted)
      break;
    const Text& address = request.addresses[i];
    LookupProgress at = book.where();
    at.index = i + 1;
    at.address = address;

    LookupResult result;
    if (context.listener.recall(i, address, &result)) {
      result.recalled = true;
      streak.clear();
      book.finish(i, result);
      ++i;
      continue;
    }
    if (std::optional<LookupResult> answered = book.fromHistory(request.service, address)) {
      streak.clear();
      book.finish(i, *answered);
      ++i;
      continue;
    }
    at.stage = LookupProgress::Stage::kAddressStarted;
    context.listener.progress(book.withTallies(at));
    result = lookUpAddress(address, request, context, book.withTallies(at));
    result.service = request.service;
    book.record(request.service, address, &result);
    book.finish(i, result);

    const bool offline = failedToConnect(result);
    if (!offline && !metUnrecognised(result)) {
      streak.clear();
      nextOfflineWait = kFirstOfflineWait;
      ++i;
      continue;
    }
    if (!streak.empty() && streakOffline != offline)
      streak.clear();
    streakOffline = offline;
    streak.push_back(i);
    ++i;
    if (streak.size() < kStreakLimit || context.stop)
      continue;

    if (offline) {
      if (!context.listener.waitOffline(offlineWaited, nextOfflineWait)) {
        tallies.endedOffline = true;
        break;
      }
      pause(context, book.withTallies(at), LookupProgress::Pause::kOffline,
            static_cast<int>(nextOfflineWait.count()));
      offlineWaited += nextOfflineWait;
      nextOfflineWait = std::min(nextOfflineWait * 2, kLongestOfflineWait);
    } else {
      Text cookies = context.session.cookiesOf(request.service);
      if (!context.listener.passWall(context.services.of(request.service), result.keptPage,
                                     result.url, &cookies)) {
        tallies.endedByWall = true;
        break;
      }
      context.session.cookiesOf(request.service) = cookies;
    }
    if (context.stop)
      break;
    // Ask the streak again: the service is back, or the wall was passed.
    for (int member : streak)
      book.takeBack(member);
    i = streak.front();
    streak.clear();
  }
  tallies.endedByThrottle = context.halted;
}

RunTallies runLookups(const LookupRequest& request, LookupContext& context) {
  if (request.both)
    return runBothServices(request, context);
  context.halted = false;
  RunBook book(request, context);
  book.start();
  runService(request, context, book);
  book.end();
  return book.tallies();
}

int intervalMilliseconds(TextView seconds) {
  double ms = std::trunc(leadingNumber(seconds) * 1000.0);
  if (!(ms > 0))
    return 0;
  return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool writeResultFile(const Text& folder, const Text& address, const Text& text) {
  // The file is named by the address the user typed: anything that is not a
  // plain file name could reach outside the folder, so it is not written.
  if (!isPlainFileName(address))
    return false;
  const Text path = folder + kPathSeparator + address + ".txt";
  makeDirectoryPath(path);
  return writeWholeFile(path, text);
}

}  // namespace qarvo
