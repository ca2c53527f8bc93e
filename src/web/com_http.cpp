#include "web/com_http.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "text/keyword_search.h"
#include "text/split_text.h"
#include "text/text_between.h"
#include "web/cookie_text.h"
#include "web/decode_response.h"
#include "web/internet_fetch.h"
#include "web/system_proxy.h"
#include "web/win_http_fetch.h"

namespace qarvo {
namespace {

// Accept list of the plain requests; "imagepeg" is how the program has always sent it.
constexpr const char* kImageAccept =
    "image/gif, image/x-xbitmap, image/jpeg, imagepeg, application/x-shockwave-flash, "
    "application/x-silverlight, */*";
constexpr const char* kOldAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";

bool beginsWithHttpScheme(TextView text) {
  Text head = asciiToLower(text.substr(0, 8));
  return head.starts_with("http://") || head.starts_with("https://");
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

Text trimBlanks(TextView text) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return Text(text);
}

int truncatedMs(double value) {
  if (!(value < static_cast<double>(INT_MAX)))
    return INT_MAX;
  return static_cast<int>(value);  // toward zero
}

// Whether response headers declare UTF-8: charset=utf-8 unquoted, in double or
// in single quotes, letter case ignored.
bool declaresUtf8(TextView headers) {
  static const Text utf8Charset =
      apostrophesToQuote("charset=utf-8|charset=''utf-8''|charset='utf-8'");
  return containsKeyword(headers, utf8Charset, true);
}

// "Name: value" lines separated by CR LF, each set as a request header; a line
// without both parts is passed over, and a value ends at a second ": ".
void setHeaderLines(ComHttp& http, TextView lines) {
  for (const Text& line : splitText(lines, "\r\n")) {
    std::vector<Text> pieces = splitText(line, ": ");
    if (pieces.size() < 2 || pieces[0].empty() || pieces[1].empty())
      continue;
    http.setRequestHeader(pieces[0], &pieces[1]);
  }
}

// A proxy text as the page fetch takes it: "IE" stands for the system's proxy
// for `url` (by its scheme), with the system's no_proxy hosts as the bypass
// list; pending events run once; an empty proxy leaves the component's
// defaults.
void setPageProxy(ComHttp& http, const Text& given, TextView url) {
  Text proxy = given;
  Text bypass;
  if (given == "IE") {
    proxy = systemProxyFor(url);
    bypass = systemProxyBypass();
  }
  processPendingEvents();
  http.setProxy(proxy.empty() ? kProxySettingDefault : kProxySettingProxy, proxy, bypass);
}

// The opening of the plain probes: redirects off, short time-outs, the old
// browser's headers, Referer and, when given, Cookie.
void openProbe(ComHttp& http, TextView method, const Text& url, bool synchronous,
               const Text& userAgent, const Text& referer, const std::optional<Text>& cookies) {
  http.option(kOptionEnableRedirects, 0);
  http.setTimeouts(5000, 5000, 10000, 5000);
  Text target = url;
  http.open(method, &target, !synchronous);
  Text agent = userAgent;
  http.setRequestHeader("User-Agent", &agent);
  Text language = "zh-cn";
  http.setRequestHeader("Accept-Language", &language);
  Text connection = "Keep-Alive";
  http.setRequestHeader("Connection", &connection);
  Text accept = kImageAccept;
  http.setRequestHeader("Accept", &accept);
  Text refererValue = referer.empty() ? trimBlanks(url) : referer;
  http.setRequestHeader("Referer", &refererValue);
  if (cookies) {
    Text value = *cookies;
    http.setRequestHeader("Cookie", &value);
  }
}

// Hands the caller's cancel flag to the request object for one fetch.
class CancelScope {
 public:
  CancelScope(std::shared_ptr<HttpRequest> request, const StopFlag* cancel)
      : request_(std::move(request)) {
    if (request_)
      request_->SetCancelFlag(cancel);
  }
  ~CancelScope() {
    if (request_)
      request_->SetCancelFlag(nullptr);
  }
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;

 private:
  std::shared_ptr<HttpRequest> request_;
};

}  // namespace

struct ComHttp::PageRequestParts {
  const Text& postText;
  const Bytes& postBytes;
  const std::optional<Text>& proxy;
  bool synchronous;
  const Text& referer;
  Text& cookies;  // the caller's variable: kept cookies may be written to it
  const Text& contentType;
  const Text& userAgent;
  const Text& extraHeaders;
  bool spoofClientAddress;
};

PageFetchTiming pageFetchTiming(float timeoutSeconds) {
  const double t = timeoutSeconds;  // the single-precision value, widened exactly
  PageFetchTiming timing;
  if (std::fabs(t + 1.0) < 1e-7) {
    timing.setTimeouts = false;
    timing.waitSeconds = 120;
  } else if (t - 1.0 >= -1e-7) {
    timing.setTimeouts = true;
    timing.resolveMs = truncatedMs(t * 500);
    timing.connectMs = truncatedMs(t * 500);
    timing.sendMs = truncatedMs(t * 1000);
    timing.receiveMs = truncatedMs(t * 1000);
    timing.waitSeconds = truncatedMs(t);
  } else {
    timing.setTimeouts = true;
    timing.resolveMs = 10000;
    timing.connectMs = 10000;
    timing.sendMs = 60000;
    timing.receiveMs = 120000;
    timing.waitSeconds = 120;
  }
  return timing;
}

PageFetchTiming gzipFetchTiming(int timeoutSeconds) {
  PageFetchTiming timing;
  if (timeoutSeconds == -1) {
    timing.setTimeouts = false;
  } else if (timeoutSeconds > 0) {
    int ms = truncatedMs(static_cast<double>(timeoutSeconds) * 1000);
    timing = {true, ms, ms, ms, ms, timeoutSeconds};
  } else {
    timing = {true, 10000, 10000, 60000, 120000, 120};
  }
  if (timeoutSeconds < 1)
    timing.waitSeconds = 120;
  return timing;
}

int directFetchTimeoutSeconds(float timeoutSeconds) {
  const double t = timeoutSeconds;
  if (std::fabs(t) < 1e-7)
    return 120;
  if (!(t > static_cast<double>(INT_MIN)))  // also NaN
    return INT_MIN;
  return truncatedMs(t);
}

void normaliseUrl(Text* url) {
  if (url->empty())
    return;
  if (!beginsWithHttpScheme(*url))
    url->insert(0, "http://");
  std::size_t fragment = url->find('#');
  if (fragment != Text::npos)
    url->resize(fragment);
}

ComHttp::ComHttp() = default;
ComHttp::~ComHttp() = default;
ComHttp::ComHttp(const ComHttp& other) = default;
ComHttp& ComHttp::operator=(const ComHttp& other) = default;

Text ComHttp::redirectTarget(const Text& url) {
  if (!requestObject)
    return {};
  HttpRequest& request = *requestObject;
  request.SetOption(kOptionEnableRedirects, 0);
  request.SetTimeouts(5000, 5000, 10000, 5000);
  request.Open("GET", gbkToUtf8(url), false);
  request.SetRequestHeader("User-Agent", kOldAgent);
  request.SetRequestHeader("Accept-Language", "zh-cn");
  request.SetRequestHeader("Connection", "Keep-Alive");
  request.SetRequestHeader("Accept", kImageAccept);
  request.Send();
  return request.GetResponseHeader("Location");
}

void ComHttp::recreateRequest() {
  requestObject.reset();
  createRequest();
}

void ComHttp::createRequest() {
  requestObject = std::make_shared<HttpRequest>();
}

void ComHttp::open(TextView method, Text* url, bool async) {
  normaliseUrl(url);
  if (!requestObject)
    return;
  // The request object takes URLs in Unicode; ours are GBK.
  requestObject->Open(method.empty() ? TextView("GET") : method, gbkToUtf8(*url), async);
}

std::shared_ptr<HttpRequest> ComHttp::requestObjectRef() const {
  return requestObject;
}

double ComHttp::status() const {
  return requestObject ? requestObject->Status() : 0;
}

Text ComHttp::statusText() const {
  return requestObject ? requestObject->StatusText() : Text();
}

Text ComHttp::responseText() const {
  return requestObject ? utf16ToGbk(requestObject->ResponseText()) : Text();
}

Bytes ComHttp::responseBody() const {
  return requestObject ? requestObject->ResponseBody() : Bytes();
}

std::istringstream ComHttp::responseStream() const {
  return requestObject ? requestObject->ResponseStream() : std::istringstream();
}

HttpOptionValue ComHttp::option(int index, std::optional<int> intValue,
                                std::optional<Text> textValue, std::optional<Bytes> bytesValue,
                                std::optional<HttpOptionValue> anyValue) {
  if (!requestObject)
    return {};
  if (intValue) {
    requestObject->SetOption(index, *intValue);
  } else if (textValue) {
    requestObject->SetOption(index, *textValue);
  } else if (bytesValue) {
    requestObject->SetOption(index, *bytesValue);
  } else if (anyValue) {
    requestObject->SetOption(index, *anyValue);
  }
  return requestObject->Option(index);
}

void ComHttp::setProxy(int setting, TextView proxy, TextView bypass) {
  // "server,user,password"; a password may itself hold commas.
  TextView server = proxy;
  TextView user;
  TextView password;
  std::size_t comma = proxy.find(',');
  if (comma != TextView::npos) {
    server = proxy.substr(0, comma);
    TextView rest = proxy.substr(comma + 1);
    std::size_t second = rest.find(',');
    user = rest.substr(0, second);
    if (second != TextView::npos)
      password = rest.substr(second + 1);
  }
  if (requestObject)
    requestObject->SetProxy(setting, server, bypass);
  if (!user.empty() && !password.empty())
    setCredentials(user, password, kCredentialsForProxy);
}

void ComHttp::setCredentials(TextView user, TextView password, int flags) {
  if (requestObject)
    requestObject->SetCredentials(user, password, flags);
}

void ComHttp::setRequestHeader(TextView name, Text* value) {
  if (asciiToLower(name) == "referer" && !beginsWithHttpScheme(*value))
    value->insert(0, "http://");
  if (requestObject)
    requestObject->SetRequestHeader(name, *value);
}

Text ComHttp::getResponseHeader(TextView name) const {
  return requestObject ? requestObject->GetResponseHeader(name) : Text();
}

Text ComHttp::getAllResponseHeaders() const {
  return requestObject ? requestObject->GetAllResponseHeaders() : Text();
}

void ComHttp::send(TextView body, const Bytes& bodyBytes) {
  option(kOptionSslErrorIgnoreFlags, 0);
  if (!requestObject)
    return;
  if (!bodyBytes.empty()) {
    requestObject->Send(bodyBytes);
  } else if (!body.empty()) {
    requestObject->Send(body);
  } else {
    requestObject->Send();
  }
}

void ComHttp::waitForResponse(int seconds) {
  if (requestObject)
    requestObject->WaitForResponse(seconds);
}

void ComHttp::abort() {
  if (requestObject)
    requestObject->Abort();
}

void ComHttp::setTimeouts(int resolve, int connect, int send, int receive) {
  if (connect <= 0)
    connect = resolve;
  if (send <= 0)
    send = resolve;
  if (receive <= 0)
    receive = resolve;
  if (requestObject)
    requestObject->SetTimeouts(resolve, connect, send, receive);
}

void ComHttp::setClientCertificate(TextView name) {
  if (requestObject)
    requestObject->SetClientCertificate(name);
}

void ComHttp::setAutoLogonPolicy(int policy) {
  if (requestObject)
    requestObject->SetAutoLogonPolicy(policy);
}

Text ComHttp::responseCookieValue(TextView name) const {
  return responseCookieValueOf(getAllResponseHeaders(), name);
}

Text ComHttp::setCookieLines() const {
  return setCookieLinesOf(getAllResponseHeaders());
}

void ComHttp::sendPageRequest(const Text& url, const PageRequestParts& parts,
                              const PageFetchTiming& timing) {
  const Text& extra = parts.extraHeaders;

  // 1, 2. Method and request line; the caller's URL stays as it is.
  bool posting = !parts.postText.empty() || !parts.postBytes.empty();
  Text trimmedUrl = trimBlanks(url);
  Text target = trimmedUrl;
  open(posting ? "POST" : "GET", &target, !parts.synchronous);

  // 3 - 5. Referer, Content-Type (GET too), User-Agent.
  Text referer = parts.referer.empty() ? trimmedUrl : parts.referer;
  setRequestHeader("Referer", &referer);
  if (findText(extra, "Content-Type:") == -1) {
    Text type = parts.contentType.empty() ? Text(kDefaultContentType) : parts.contentType;
    setRequestHeader("Content-Type", &type);
  }
  if (findText(extra, "User-Agent:") == -1) {
    Text agent = parts.userAgent.empty() ? Text(kDefaultPageUserAgent) : parts.userAgent;
    setRequestHeader("User-Agent", &agent);
  }

  // 6. Further header lines, the spoofed client address among them.
  Text headerText = extra;
  if (parts.spoofClientAddress) {
    if (!headerText.empty())
      headerText += "\r\n";
    headerText += spoofedAddressHeaders();
  }
  setHeaderLines(*this, headerText);

  // 7. Cookies.
  Text& cookies = parts.cookies;
  if (!keptCookies.empty() && cookies.empty())
    cookies = keptCookies;
  if (cookies == "-1") {
    Text none;
    setRequestHeader("Cookie", &none);
  } else if (!cookies.empty()) {
    Text value = cookies;
    setRequestHeader("Cookie", &value);
  }

  // 8. Time-outs.
  if (timing.setTimeouts) {
    setTimeouts(timing.resolveMs, timing.connectMs, timing.sendMs, timing.receiveMs);
  }

  // 9. Proxy.
  if (parts.proxy && *parts.proxy != "-1")
    setPageProxy(*this, *parts.proxy, target);

  // 10, 11. Send and wait.
  send(parts.postText, parts.postBytes);
  if (!parts.synchronous)
    waitForResponse(timing.waitSeconds);
}

template <typename Options>
void ComHttp::sendPageRequest(const Text& url, const Options& options, Text& cookies,
                              const PageFetchTiming& timing) {
  CancelScope scope(requestObject, options.cancel);
  sendPageRequest(url,
                  {.postText = options.postText,
                   .postBytes = options.postBytes,
                   .proxy = options.proxy,
                   .synchronous = options.synchronous,
                   .referer = options.referer,
                   .cookies = cookies,
                   .contentType = options.contentType,
                   .userAgent = options.userAgent,
                   .extraHeaders = options.extraHeaders,
                   .spoofClientAddress = options.spoofClientAddress},
                  timing);
}

Text ComHttp::fetchPage(const Text& url, const FetchPageOptions& options) {
  int localMode = 0;
  int& encodingMode = options.encodingMode != nullptr ? *options.encodingMode : localMode;
  Text localCookies;
  Text& cookies = options.cookies != nullptr ? *options.cookies : localCookies;

  sendPageRequest(url, options, cookies, pageFetchTiming(options.timeoutSeconds));

  // 12. The response's cookies.
  lastCookies = responseCookies();
  if (options.keepCookies)
    keptCookies = lastCookies;

  // 13. The body.
  if (encodingMode == -2)
    return responseText();
  Bytes body = responseBody();
  if (encodingMode == -1) {
    TextView raw(reinterpret_cast<const char*>(body.data()), body.size());
    return Text(raw.substr(0, raw.find('\0')));
  }
  if (encodingMode == 0 && declaresUtf8(getAllResponseHeaders()))
    encodingMode = 2;
  return decodeResponse(body, encodingMode);
}

Text ComHttp::fetchVia(int kind, const Text& url, const FetchPageOptions& options) {
  if (kind == 1)
    return fetchPage(url, options);

  // Content type and agent travel as header lines; left out, they are
  // fetchPage's defaults. A line break in either would add lines of its own.
  Text contentType = options.contentType.empty() ? Text(kDefaultContentType) : options.contentType;
  Text userAgent = options.userAgent.empty() ? Text(kDefaultPageUserAgent) : options.userAgent;
  if (breaksHeaderLine(contentType) || breaksHeaderLine(userAgent))
    return {};
  Text headers =
      options.extraHeaders + "\r\nContent-Type: " + contentType + "\r\nUser-Agent: " + userAgent;
  // fetchPage's proxy words mean the same here: "-1" none, "IE" the system's.
  Text proxy;
  if (options.proxy && *options.proxy != "-1")
    proxy = *options.proxy == "IE" ? systemProxyForFetch(url) : *options.proxy;

  Text target = url;
  return fetchPageDirect(&target, {.postText = options.postText,
                                   .encodingMode = options.encodingMode,
                                   .timeoutSeconds = options.timeoutSeconds,
                                   .proxy = proxy,
                                   .unused = options.synchronous ? 1 : 0,
                                   .postBytes = options.postBytes,
                                   .referer = options.referer,
                                   .cookies = options.cookies ? *options.cookies : Text(),
                                   .extraHeaders = headers,
                                   .useWinInet = false,
                                   .spoofClientAddress = options.spoofClientAddress,
                                   .useWinHttpApi = kind == 2,
                                   .cancel = options.cancel});
}

Text ComHttp::lastCookiesText() const {
  return lastCookies;
}

Text ComHttp::setKeptCookies(TextView cookies) {
  keptCookies = Text(cookies);
  return keptCookies;
}

Bytes ComHttp::fetchPageGzip(const Text& url, const FetchGzipOptions& options) {
  int localMode = 0;
  int& encodingMode = options.encodingMode != nullptr ? *options.encodingMode : localMode;
  Text localCookies;
  Text& cookies = options.cookies != nullptr ? *options.cookies : localCookies;

  sendPageRequest(url, options, cookies, gzipFetchTiming(options.timeoutSeconds));

  // lastCookies stays as the last fetchPage left it.
  if (options.keepCookies)
    keptCookies = responseCookies();
  if (encodingMode == 0 && declaresUtf8(getAllResponseHeaders()))
    encodingMode = 2;
  Bytes body = responseBody();
  if (gzipDecompressorAvailable() && body.size() >= 2 && body[0] == 0x1F && body[1] == 0x8B)
    return gunzipBytes(body);
  return body;
}

Text ComHttp::spoofedAddressHeaders() const {
  auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  std::mt19937 generator(static_cast<std::mt19937::result_type>(ticks.count()));
  std::uniform_int_distribution<int> part(0, 255);
  Text address;
  for (int i = 0; i < 4; ++i) {
    if (i > 0)
      address += '.';
    address += std::to_string(part(generator));
  }
  return "X-Forward-For: " + address + "\r\nX-Forwarded-For: " + address +
         "\r\nREMOTE_ADDR: " + address;
}

Text ComHttp::clearKeptCookies() {
  keptCookies.clear();
  return {};
}

Text ComHttp::fetchPageDirect(Text* url, const FetchDirectOptions& options) {
  int localMode = 0;
  int& encodingMode = options.encodingMode != nullptr ? *options.encodingMode : localMode;
  Text localCookies;
  Text& returnedCookies =
      options.returnedCookies != nullptr ? *options.returnedCookies : localCookies;
  Bytes localBody;
  Bytes& rawBody = options.rawBody != nullptr ? *options.rawBody : localBody;

  // 1. No fragment goes out, and the caller sees the URL that did.
  std::size_t fragment = url->find('#');
  if (fragment != Text::npos)
    url->resize(fragment);
  returnedCookies.clear();
  rawBody.clear();

  // 2 - 4. Header block, method, time-out.
  Text headers = options.extraHeaders;
  if (options.spoofClientAddress) {
    if (!headers.empty())
      headers += "\r\n";
    headers += spoofedAddressHeaders();
  }
  const Text& referer = options.referer.empty() ? *url : options.referer;
  if (breaksHeaderLine(referer))
    return {};  // its Referer line would end early and start lines of its own
  headers += "\r\nReferer: " + referer;
  int method = (!options.postText.empty() || !options.postBytes.empty()) ? 1 : 0;
  int timeout = directFetchTimeoutSeconds(options.timeoutSeconds);

  // 5. The back-end.
  Text responseHeaders;
  if (options.useWinHttpApi) {
    rawBody = winHttpFetch(*url, {.method = method,
                                  .postText = options.postText,
                                  .requestCookies = options.cookies,
                                  .returnedCookies = &returnedCookies,
                                  .headers = headers,
                                  .responseHeaders = &responseHeaders,
                                  .proxy = options.proxy,
                                  .timeoutSeconds = timeout,
                                  .postBytes = options.postBytes,
                                  .cancel = options.cancel});
  } else {
    // Both internet-library back-ends get a body given only as text, so that
    // a POST never goes out without it.
    InternetFetchRequest request{
        .url = *url,
        .method = method,
        .headers = headers,
        .referer = referer,
        .cookies = options.cookies,
        .body = options.postBytes.empty() ? toBytes(options.postText) : options.postBytes,
        .proxy = options.proxy,
        .timeoutSeconds = timeout,
        .cancel = options.cancel};
    InternetFetchResult result =
        options.useWinInet ? internetFetch(request) : threadedInternetFetch(request);
    rawBody = std::move(result.body);
    returnedCookies = std::move(result.cookies);
    responseHeaders = std::move(result.headers);
  }

  // 6, 7. Decoding.
  if (encodingMode == 0 && declaresUtf8(responseHeaders))
    encodingMode = 2;
  return decodeResponse(rawBody, encodingMode);
}

Text ComHttp::locationOf(const Text& url, const LocationOptions& options) {
  CancelScope scope(requestObject, options.cancel);
  bool posting = !options.postText.empty();
  openProbe(*this, posting ? "POST" : "GET", url, options.synchronous,
            options.userAgent.empty() ? Text(kDefaultPageUserAgent) : options.userAgent,
            options.referer, options.cookies);
  setHeaderLines(*this, options.extraHeaders);
  if (!options.proxy.empty()) {
    Text target = url;
    normaliseUrl(&target);
    setPageProxy(*this, options.proxy, target);
  }
  send(options.postText);
  if (!options.synchronous)
    waitForResponse(posting ? 100 : 25);
  return getResponseHeader("Location");
}

int ComHttp::probeEncoding(const Text& url, const ProbeEncodingOptions& options) {
  CancelScope scope(requestObject, options.cancel);
  openProbe(*this, "GET", url, options.synchronous,
            "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)", options.referer,
            options.cookies);
  send();
  if (!options.synchronous)
    waitForResponse(25);
  return declaresUtf8(getAllResponseHeaders()) ? 2 : 0;
}

TransferFailure ComHttp::lastFailure() const {
  return requestObject ? requestObject->LastFailure() : TransferFailure::kConnection;
}

void ComHttp::reset() {
  recreateRequest();
  clearKeptCookies();
}

double ComHttp::probeStatus(const Text& url, const ProbeStatusOptions& options) {
  CancelScope scope(requestObject, options.cancel);
  option(kOptionEnableRedirects, 0);
  setTimeouts(5000, 5000, 10000, 5000);
  Text target = url;
  open("GET", &target, !options.synchronous);
  if (options.cookies) {
    Text value = *options.cookies;
    setRequestHeader("Cookie", &value);
  }
  if (options.proxy && *options.proxy != "-1")
    setPageProxy(*this, *options.proxy, target);
  send();
  if (!options.synchronous)
    waitForResponse(options.timeoutSeconds == 0 ? 25 : options.timeoutSeconds);
  return status();
}

Text ComHttp::responseCookies() const {
  return responseCookiesOf(getAllResponseHeaders());
}

}  // namespace qarvo
