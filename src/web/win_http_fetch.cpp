#include "web/win_http_fetch.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "platform/blanks.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "text/split_text.h"
#include "web/curl_exchange.h"

namespace qarvo {
namespace {

// The status messages, one per step that can fail. There has never been a 706.
constexpr const char* kNoWinHttp = "700 当前系统不支持WinHttp服务!";
constexpr const char* kBadUrl = "701 解析URL地址失败!";
constexpr const char* kNoSession = "702 创建WinHttp会话失败!";
constexpr const char* kNoRequest = "704 创建WinHttp请求失败!";
constexpr const char* kNoTimeouts = "705 设置超时时间失败!";
constexpr const char* kNoCredentials = "707 设置代理凭证失败!";
constexpr const char* kNoCertificateFlags = "忽略错误/证书错误  失败！";
constexpr const char* kNoCookieSetting = "708 禁止自动设置Cookies失败!";
constexpr const char* kNoRedirectSetting = "709 重定向设置失败!";
constexpr const char* kBadHeaders = "710 设置协议头失败!";
constexpr const char* kSendFailed = "711 发送请求失败!";
constexpr const char* kNoResponse = "712 服务器未响应!";
constexpr const char* kReadFailed = "713 读取数据失败!";

struct DefaultHeader {
  const char* lookedFor;
  const char* line;
  bool postOnly;
};
constexpr DefaultHeader kDefaultHeaders[] = {
    {"User-Agent: ",
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n",
     false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312\r\n", false},
    {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
    {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
};

bool containsIgnoringCase(TextView text, TextView what) {
  return findText(text, what, 1, true) != -1;
}

// Leaves out an explicit "Connection: keep-alive" line: keep-alive is what
// HTTP/1.1 does anyway. Only a name written exactly "Connection" counts.
void dropKeepAliveLine(Text* block) {
  std::size_t lineStart = 0;
  while (lineStart < block->size()) {
    std::size_t lineEnd = block->find("\r\n", lineStart);
    std::size_t next = lineEnd == Text::npos ? block->size() : lineEnd + 2;
    TextView line = TextView(*block).substr(lineStart, next - lineStart);
    if (line.starts_with("Connection:")) {
      TextView value = trimSpacesAndTabs(line.substr(11, line.find("\r\n") - 11));
      if (asciiToLower(value) == "keep-alive") {
        block->erase(lineStart, next - lineStart);
        return;
      }
    }
    lineStart = next;
  }
}

}  // namespace

const char* winHttpMethodName(int method) {
  static const char* const names[] = {"GET",     "POST",   "HEAD",  "PUT",
                                      "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  return (method >= 0 && method < 8) ? names[method] : "GET";
}

int winHttpTimeoutMs(int timeoutSeconds) {
  if (timeoutSeconds < 1)
    return 30000;
  return timeoutSeconds > INT_MAX / 1000 ? INT_MAX : timeoutSeconds * 1000;
}

Text winHttpProxyName(TextView proxy, bool secure) {
  if (proxy.empty())
    return {};
  return secure ? Text(proxy) : "http=" + Text(proxy);
}

Text curlProxyFor(TextView name, bool secure) {
  const TextView scheme = secure ? "https" : "http";
  for (const Text& entry : splitText(replaceAllText(name, " ", ";"), ";")) {
    TextView server = entry;
    std::size_t equals = server.find('=');
    bool named = equals != TextView::npos && equals > 0 &&
                 std::all_of(server.begin(), server.begin() + equals, [](char c) {
                   return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
                 });
    if (named) {
      if (asciiToLower(server.substr(0, equals)) != scheme)
        continue;
      server.remove_prefix(equals + 1);
    }
    if (!server.empty())
      return Text(server);
  }
  return {};
}

Text normaliseHeaderNames(TextView headers) {
  Text out(headers);
  std::size_t lineStart = 0;
  while (lineStart < out.size()) {
    std::size_t lineEnd = out.find("\r\n", lineStart);
    if (lineEnd == Text::npos)
      lineEnd = out.size();
    std::size_t colon = out.find(':', lineStart);
    if (colon < lineEnd) {
      bool partStart = true;
      for (std::size_t i = lineStart; i < colon; ++i) {
        if (out[i] == '-') {
          partStart = true;
          continue;
        }
        if (partStart)
          out[i] = asciiUpper(out[i]);
        partStart = false;
      }
    }
    lineStart = lineEnd + 2;
  }
  return out;
}

Text winHttpHeaderBlock(TextView headers, int method, TextView requestCookies,
                        bool addDefaultHeaders, bool normaliseNames) {
  Text block(headers);
  if (!block.empty())
    block += "\r\n";
  if (addDefaultHeaders) {
    bool posting = TextView(winHttpMethodName(method)) == "POST";
    for (const DefaultHeader& header : kDefaultHeaders) {
      if (header.postOnly && !posting)
        continue;
      if (!containsIgnoringCase(block, header.lookedFor))
        block += header.line;
    }
  }
  if (normaliseNames)
    block = normaliseHeaderNames(block);
  dropKeepAliveLine(&block);
  if (!requestCookies.empty() && !containsIgnoringCase(block, "Cookie:")) {
    if (findText(requestCookies, "Cookie:") != -1) {
      block += "\r\n" + Text(requestCookies) + "\r\n";
    } else {
      block += "\r\nCookie: " + Text(requestCookies) + "\r\n";
    }
  }
  return block;
}

Text statusPartOf(TextView rawHeaders) {
  std::size_t cr = rawHeaders.find('\r');
  if (cr == TextView::npos || cr < 9)
    return {};
  return Text(rawHeaders.substr(9, cr - 9 + 1));
}

// libcurl stands in for the WinHTTP functions. Set-up calls that do not take
// report the step they belong to. The transfer itself runs in one go, and its
// failures are told by the step where WinHTTP would have failed:
//   - a URL curl cannot take as absolute http(s)    -> 701 (WinHttpCrackUrl)
//   - no connection (refused, unresolvable, connect time-out) or the request
//     not going out                                  -> 711 (WinHttpSendRequest)
//   - no complete response head in time, the peer closing without answer, or a
//     redirect that cannot be followed               -> 712 (WinHttpReceiveResponse)
//   - the body breaking off, stalling or growing past the limit
//                                                    -> 713 (WinHttpReadData), bytes kept
// WinHttpConnect only makes a handle; curl connects while sending, so 703 has no step here.
Bytes winHttpFetch(const Text& url, const WinHttpFetchOptions& options) {
  Text localCookies, localHeaders, localLocation, localMessage;
  Text& returnedCookies = options.returnedCookies ? *options.returnedCookies : localCookies;
  Text& responseHeaders = options.responseHeaders ? *options.responseHeaders : localHeaders;
  Text& location = options.location ? *options.location : localLocation;
  Text& statusMessage = options.statusMessage ? *options.statusMessage : localMessage;
  returnedCookies.clear();
  responseHeaders.clear();
  location.clear();
  statusMessage.clear();
  auto fail = [&statusMessage](const char* message) {
    statusMessage = gbk(message);
    return Bytes();
  };

  // 1, 2. Platform and URL.
  if (!curlSpeaksHttp())
    return fail(kNoWinHttp);
  CrackedUrl cracked;
  if (!crackHttpUrl(gbkToUtf8(url), &cracked))
    return fail(kBadUrl);

  // 3 - 6. Session with its proxy, time-outs, request.
  CurlExchange exchange;
  if (!exchange.ready() || !exchange.setProxy(curlProxyFor(
                               winHttpProxyName(options.proxy, cracked.secure), cracked.secure))) {
    return fail(kNoSession);
  }
  // The one limit holds for each phase and for the whole exchange, so that
  // neither a trickle nor endless interim answers can hold the caller.
  if (!exchange.setLimits(ExchangeLimits::uniform(winHttpTimeoutMs(options.timeoutSeconds))))
    return fail(kNoTimeouts);
  // A caller that can stop the fetch gets its events pumped while it waits,
  // so that the stop can come.
  if (const StopFlag* cancel = options.cancel)
    exchange.watch(true, [cancel] { return cancel->load(); });
  if (!exchange.openRequest(cracked.requestUrl, winHttpMethodName(options.method)))
    return fail(kNoRequest);

  // 7 - 10. Credentials, certificate checks, cookies, redirects.
  if (!options.user.empty() && !options.password.empty() &&
      !exchange.setCredentials(false, options.user, options.password)) {
    return fail(kNoCredentials);
  }
  if (!options.proxyUser.empty() && !options.proxyPassword.empty() &&
      !exchange.setCredentials(true, options.proxyUser, options.proxyPassword)) {
    return fail(kNoCredentials);
  }
  if (!exchange.ignoreCertificateErrors())
    return fail(kNoCertificateFlags);
  // With cookies of our own the platform keeps its automatic cookies (for the
  // hops of a redirect); without, they are off.
  if (!exchange.setAutomaticCookies(!options.requestCookies.empty()))
    return fail(kNoCookieSetting);
  if (options.disableRedirects && !exchange.setFollowRedirects(false))
    return fail(kNoRedirectSetting);

  // 11. Headers. Cookies with a line break would smuggle in header lines of
  // their own.
  if (breaksHeaderLine(options.requestCookies))
    return fail(kBadHeaders);
  Text block = winHttpHeaderBlock(options.headers, options.method, options.requestCookies,
                                  options.addDefaultHeaders, options.normaliseHeaderNames);
  if (!exchange.addHeaderLines(splitText(block, "\r\n")))
    return fail(kBadHeaders);

  // 12 - 14. Send, receive, read.
  const std::string body =
      !options.postBytes.empty() ? toText(options.postBytes) : std::string(options.postText);
  ExchangeOutcome outcome = exchange.perform(body);
  switch (outcome) {
    case ExchangeOutcome::kNotSetUp:
    case ExchangeOutcome::kSendFailed:
      return fail(kSendFailed);
    case ExchangeOutcome::kNoResponse:
      return fail(kNoResponse);
    case ExchangeOutcome::kBodyBroken:
    case ExchangeOutcome::kComplete:
      break;
  }

  // 15. The head. A body that broke off keeps its 713: the status line must
  // not make a cut-short body look complete.
  responseHeaders = exchange.head();
  if (outcome == ExchangeOutcome::kBodyBroken) {
    statusMessage = gbk(kReadFailed);
  } else {
    statusMessage = statusPartOf(responseHeaders);
  }

  // 16. Cookies and Location; the window answers once per header line.
  returnedCookies = returnedCookiesOf(responseHeaders);
  location = locationHeaderOf(responseHeaders);
  for (std::size_t at = 0; at != Text::npos && at < responseHeaders.size();) {
    processPendingEvents();
    at = responseHeaders.find("\r\n", at);
    if (at != Text::npos)
      at += 2;
  }

  // 17. Cookies carried on from the request.
  if (options.mergeWithRequest && !options.requestCookies.empty())
    returnedCookies = mergeCookies(options.requestCookies, returnedCookies);

  std::string& received = exchange.body();
  return Bytes(received.begin(), received.end());
}

}  // namespace qarvo
