#include "web/internet_fetch.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "text/split_text.h"
#include "web/com_http.h"
#include "web/cookie_text.h"
#include "web/curl_exchange.h"
#include "web/win_http_fetch.h"

namespace qarvo {
namespace {

constexpr const char* kThreadedAccept =
    "image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*";
constexpr const char* kFormType = "application/x-www-form-urlencoded";
// How long the waiting thread sleeps between two looks at its event queue.
constexpr auto kWaitSlice = std::chrono::milliseconds(10);

// Everything the exchange needs, converted and assembled beforehand: the
// worker's parameter block.
struct PreparedExchange {
  bool valid = false;
  std::string url;
  std::string method;
  std::vector<std::string> headerLines;
  std::string body;
  std::string proxy;
  int timeoutMs = 0;
};

// The worker's result.
struct ExchangeOutput {
  std::string head;
  std::string body;
};

bool hasHeader(TextView text, TextView name) {
  return findText(text, name, 1, true) != -1;
}

void appendLine(Text* text, TextView line) {
  if (!text->empty() && !text->ends_with("\r\n"))
    *text += "\r\n";
  *text += line;
  *text += "\r\n";
}

PreparedExchange prepare(const InternetFetchRequest& request, bool threaded) {
  PreparedExchange prepared;
  CrackedUrl cracked;
  if (!crackHttpUrl(gbkToUtf8(request.url), &cracked))
    return prepared;
  prepared.valid = true;
  prepared.url = cracked.requestUrl;
  prepared.method = request.method == 1 ? "POST" : "GET";
  prepared.headerLines = splitText(internetHeaderText(request, threaded), "\r\n");
  prepared.body = toText(request.body);
  prepared.proxy = curlProxyFor(winHttpProxyName(request.proxy, cracked.secure), cracked.secure);
  prepared.timeoutMs = winHttpTimeoutMs(request.timeoutSeconds);
  return prepared;
}

// Runs on either thread: touches nothing but its arguments (and the pump,
// when `pumpEvents`).
ExchangeOutput runExchange(const PreparedExchange& prepared, bool pumpEvents,
                           std::function<bool()> stopRequested) {
  ExchangeOutput output;
  if (!prepared.valid)
    return output;
  CurlExchange exchange;
  // A line that is no header is left out; the others go. Certificates are
  // checked: a secure request reaches only a peer that proves its name.
  for (const std::string& line : prepared.headerLines)
    exchange.addHeaderLines({line});
  if (!exchange.setProxy(prepared.proxy) ||
      !exchange.setLimits(ExchangeLimits::uniform(prepared.timeoutMs)) ||
      !exchange.openRequest(prepared.url, prepared.method)) {
    return output;
  }
  exchange.watch(pumpEvents, std::move(stopRequested));
  ExchangeOutcome outcome = exchange.perform(prepared.body);
  if (outcome == ExchangeOutcome::kComplete || outcome == ExchangeOutcome::kBodyBroken) {
    output.head = exchange.head();
    output.body = std::move(exchange.body());
  }
  return output;
}

InternetFetchResult finish(ExchangeOutput output) {
  InternetFetchResult result;
  result.body = toBytes(output.body);
  result.headers = std::move(output.head);
  result.cookies = internetCookiesOf(result.headers);
  return result;
}

}  // namespace

Text internetHeaderText(const InternetFetchRequest& request, bool threaded) {
  Text text = request.headers;
  bool posting = request.method == 1;
  if (!threaded) {
    if (!hasHeader(text, "User-Agent:"))
      appendLine(&text, Text("User-Agent: ") + kDefaultPageUserAgent);
    if (!hasHeader(text, "Accept:"))
      appendLine(&text, "Accept: */*");
    if (!hasHeader(text, "Accept-Language:"))
      appendLine(&text, "Accept-Language: zh-cn");
    if (!hasHeader(text, "Content-Type:"))
      appendLine(&text, Text("Content-Type: ") + kFormType);
  } else {
    bool noReferer = findText(text, "RefererNo") != -1;
    if (noReferer)
      text = replaceAllText(text, "RefererNo", "");
    if (!hasHeader(text, "Accept:"))
      appendLine(&text, Text("Accept: ") + kThreadedAccept);
    if (!noReferer && !request.referer.empty() && !breaksHeaderLine(request.referer) &&
        !hasHeader(text, "Referer:")) {
      appendLine(&text, "Referer: " + request.referer);
    }
    if (!hasHeader(text, "Accept-Language:"))
      appendLine(&text, "Accept-Language: zh-cn");
    if (posting && !hasHeader(text, "Content-Type:"))
      appendLine(&text, Text("Content-Type: ") + kFormType);
    if (posting && !hasHeader(text, "Content-Length:"))
      appendLine(&text, "Content-Length: " + std::to_string(request.body.size()));
  }
  // Cookies with a line break would add header lines of their own: left out.
  if (!request.cookies.empty() && !breaksHeaderLine(request.cookies))
    appendLine(&text, "Cookie: " + request.cookies);
  return text;
}

InternetFetchResult internetFetch(const InternetFetchRequest& request) {
  // Waiting pumps events only for a caller that can stop the fetch.
  const StopFlag* cancel = request.cancel;
  if (cancel == nullptr)
    return finish(runExchange(prepare(request, false), false, nullptr));
  return finish(runExchange(prepare(request, false), true, [cancel] { return cancel->load(); }));
}

InternetFetchResult threadedInternetFetch(const InternetFetchRequest& request) {
  // The block is filled here, read by the worker, and its result read here
  // only after the worker has ended.
  struct Block {
    PreparedExchange request;
    ExchangeOutput result;
    std::atomic<bool> stop{false};  // the caller's cancel flag, handed over
  } block;
  block.request = prepare(request, true);
  block.stop = request.cancel != nullptr && *request.cancel;
  initialiseCurl();

  std::promise<void> ended;
  std::future<void> done = ended.get_future();
  std::thread worker;
  try {
    worker = std::thread([&block, &ended] {
      try {
        block.result = runExchange(block.request, false, [&block] { return block.stop.load(); });
      } catch (...) {
        block.result = {};  // out of memory: nothing fetched, and the waiter still wakes
      }
      ended.set_value();
    });
  } catch (const std::system_error&) {
    return {};  // no thread to be had: nothing was fetched
  }
  while (done.wait_for(kWaitSlice) != std::future_status::ready) {
    processPendingEvents();
    if (request.cancel != nullptr && *request.cancel)
      block.stop = true;
  }
  worker.join();
  return finish(std::move(block.result));
}

}  // namespace qarvo
