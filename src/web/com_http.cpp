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
#include "web/decode_response.h"

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

// The system proxy: the http_proxy environment value (empty when unset).
Text systemProxyServer() {
  const char* value = std::getenv("http_proxy");
  if (value == nullptr || *value == '\0')
    value = std::getenv("HTTP_PROXY");
  return value == nullptr ? Text() : Text(value);
}

}  // namespace

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
  Text headers = getAllResponseHeaders();
  TextView all(headers);
  for (TextView prefix : {TextView("Set-Cookie: "), TextView("Set-Cookie:")}) {
    Text left = Text(prefix) + Text(name) + "=";
    std::size_t at = all.find(left);
    if (at == TextView::npos)
      continue;
    TextView value = all.substr(at + left.size());
    // The value ends at its ";", and never runs on past its own header line.
    Text found(value.substr(0, value.find_first_of(";\r\n")));
    if (!found.empty())
      return found;
  }
  return {};
}

Text ComHttp::setCookieLines() const {
  Text lines;
  for (const Text& line : splitText(getAllResponseHeaders(), "\r\n")) {
    if (line.starts_with("Set-Cookie:")) {
      lines += line;
      lines += "\r\n";
    }
  }
  return lines;
}

Text ComHttp::fetchPage(const Text& url, const FetchPageOptions& options) {
  int localMode = 0;
  int& encodingMode = options.encodingMode != nullptr ? *options.encodingMode : localMode;
  Text localCookies;
  Text& cookies = options.cookies != nullptr ? *options.cookies : localCookies;
  const Text& extra = options.extraHeaders;

  // 1, 2. Method and request line; the caller's URL stays as it is.
  bool posting = !options.postText.empty() || !options.postBytes.empty();
  Text trimmedUrl = trimBlanks(url);
  Text target = trimmedUrl;
  open(posting ? "POST" : "GET", &target, !options.synchronous);

  // 3 - 5. Referer, Content-Type (GET too), User-Agent.
  Text referer = options.referer.empty() ? trimmedUrl : options.referer;
  setRequestHeader("Referer", &referer);
  if (findText(extra, "Content-Type:") == -1) {
    Text type = options.contentType.empty() ? Text(kDefaultContentType) : options.contentType;
    setRequestHeader("Content-Type", &type);
  }
  if (findText(extra, "User-Agent:") == -1) {
    Text agent = options.userAgent.empty() ? Text(kDefaultPageUserAgent) : options.userAgent;
    setRequestHeader("User-Agent", &agent);
  }

  // 6. Further header lines, the spoofed client address among them.
  Text headerText = extra;
  if (options.spoofClientAddress) {
    if (!headerText.empty())
      headerText += "\r\n";
    headerText += spoofedAddressHeaders();
  }
  for (const Text& line : splitText(headerText, "\r\n")) {
    std::vector<Text> pieces = splitText(line, ": ");
    if (pieces.size() < 2 || pieces[0].empty() || pieces[1].empty())
      continue;
    setRequestHeader(pieces[0], &pieces[1]);
  }

  // 7. Cookies.
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
  PageFetchTiming timing = pageFetchTiming(options.timeoutSeconds);
  if (timing.setTimeouts) {
    setTimeouts(timing.resolveMs, timing.connectMs, timing.sendMs, timing.receiveMs);
  }

  // 9. Proxy.
  if (options.proxy && *options.proxy != "-1") {
    Text proxy = *options.proxy == "IE" ? systemProxyServer() : *options.proxy;
    processPendingEvents();
    setProxy(proxy.empty() ? kProxySettingDefault : kProxySettingProxy, proxy, {});
  }

  // 10, 11. Send and wait.
  send(options.postText, options.postBytes);
  if (!options.synchronous)
    waitForResponse(timing.waitSeconds);

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
  if (encodingMode == 0) {
    static const Text utf8Charset =
        apostrophesToQuote("charset=utf-8|charset=''utf-8''|charset='utf-8'");
    if (containsKeyword(getAllResponseHeaders(), utf8Charset, true))
      encodingMode = 2;
  }
  return decodeResponse(body, encodingMode);
}

Text ComHttp::lastCookiesText() const {
  return lastCookies;
}

Text ComHttp::setKeptCookies(TextView cookies) {
  keptCookies = Text(cookies);
  return keptCookies;
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

void ComHttp::reset() {
  recreateRequest();
  clearKeptCookies();
}

Text ComHttp::responseCookies() const {
  Text cookies = replaceAllText(setCookieLines(), "Set-Cookie: ", "");
  return replaceAllText(cookies, "\r\n", "; ");
}

}  // namespace qarvo
