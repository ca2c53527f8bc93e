// The per-address page walk of LookupEngine.

#include <climits>
#include <cmath>

#include "engine/address_text.h"
#include "engine/lookup_engine.h"
#include "engine/page_extraction.h"
#include "engine/report_sort.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "web/com_http.h"

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

}  // namespace

void LookupEngine::wait(int milliseconds) {
  if (waitHook_) {
    WaitHook hook = waitHook_;  // a pumped event may replace the member
    hook(milliseconds);
    return;
  }
  for (int elapsed = 0; elapsed < milliseconds; elapsed += kWaitSliceMs) {
    sleepMilliseconds(kWaitSliceMs);
    processPendingEvents();
  }
}

void LookupEngine::signInToChinaz() {
  static const Text kPrompt = gbk("chinaz.com要求登录才能查询更多页！登录完成点击确定按钮继续");
  view_.browserNavigate(chinazSignInUrl(endpoints_));
  view_.setVisible(control::kBrowser, true);
  // Ownerless, so the browser stays usable while the box waits.
  view_.messageBox(kPrompt, gbk("信息："), mb::kOk | mb::kSystemModal, true);
  view_.setVisible(control::kBrowser, false);
  serviceCookieText_ = view_.browserCookieText();
}

void LookupEngine::queryAddress(int row) {
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

  if (row < 0 || row >= view_.rowCount())
    return;
  // Every pumped event may have changed the list: a nested run empties and
  // refills it, a sort moves the texts. A row that no longer holds this
  // address is left alone from then on.
  const Text address = view_.cellText(row, 0);
  auto rowExists = [&] { return row < view_.rowCount() && view_.cellText(row, 0) == address; };

  // The service is taken once: pages of two services must not mix in one row.
  const Service service =
      view_.checked(control::kAizhanRadio) ? Service::kAizhan : Service::kChinaz;
  PageExtractor extractor;
  ComHttp http;
  http.createRequest();
  view_.setCellText(row, 1, kQuerying);

  int page = 0;
  int totalPages = 0;
  Text allResult;
  while (true) {
    ++page;
    if (page > kSignInFreePages && service == Service::kChinaz && serviceCookieText_.empty()) {
      signInToChinaz();
    }

    Text pageText;
    for (int attempt = 1; attempt <= kAttemptsPerPage; ++attempt) {
      if (!rowExists())
        return;
      http.reset();
      const std::string url = servicePageUrl(service, endpoints_, encodeAddress(address), page);
      FetchPageOptions options{.timeoutSeconds = fetchTimeoutSeconds_, .spoofClientAddress = true};
      if (service == Service::kChinaz)
        options.cookies = &serviceCookieText_;
      pageText = http.fetchPage(url, options);
      if (!pageText.empty()) {
        if (service == Service::kAizhan) {
          if (findText(pageText, kAizhanRateLimit) == -1)
            break;
          view_.beep();
          wait(kRateLimitPauseMs);
          continue;
        }
        if (findText(pageText, kChinazRateLimit) != -1) {
          view_.messageBox(kChinazRateLimitMessage, kInfo, mb::kOk | mb::kTaskModal, false);
          queryStopFlag_ = true;
        }
        break;
      }
      if (queryStopFlag_)
        break;
    }

    // A page without domains ends the walk, whether it has no result block,
    // says "未找到相关数据" or is a rate-limit page. The cell then keeps the
    // domains of the earlier pages, and stays empty when the first page had
    // none: an empty cell (with image 1) is the "no record" answer, and it
    // saves as an empty file rather than one holding a note that would read
    // like a domain.
    Text pageResult = extractor.domains(service, pageText);
    if (pageResult.empty())
      break;
    if (!allResult.empty())
      allResult += "\r\n";
    allResult += pageResult;

    if (!rowExists())
      return;
    if (page == 1) {
      view_.setCellText(row, 1, allResult);
    } else {
      view_.setCellText(
          row, 1,
          kPageOf + std::to_string(page) + kPagesTotal + std::to_string(totalPages) + kPagesEnd);
    }
    wait(kPausePerPageMs);

    if (totalPages == 0)
      totalPages = PageExtractor::totalPages(service, pageText);

    const int maxPages = leadingInteger(view_.content(control::kMaxPagesEdit));
    if (page >= maxPages || queryStopFlag_)
      break;
    wait(intervalMilliseconds(view_.content(control::kIntervalEdit)));
    if (page >= totalPages)
      break;
  }

  if (!rowExists())
    return;
  view_.setRowImage(row, allResult.empty() ? 1 : 0);
  view_.setCellText(row, 1, allResult);
}

}  // namespace qarvo
