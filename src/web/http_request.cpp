#include "web/http_request.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/blanks.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "web/curl_exchange.h"
#include "web/decode_response.h"

namespace qarvo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultAgent = "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i]))
      return false;
  }
  return true;
}

bool hasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Bytes outside printable ASCII (and blanks) are percent-escaped, as the
// request object does with a URL in its URL code page.
std::string escapeUrl(std::string_view url) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool optionFlag(const HttpOptionValue& value, bool fallback) {
  if (const int* i = std::get_if<int>(&value))
    return *i != 0;
  if (const std::string* s = std::get_if<std::string>(&value)) {
    return !s->empty() && *s != "0" && !equalsIgnoringCase(*s, "false");
  }
  if (const Bytes* b = std::get_if<Bytes>(&value))
    return !b->empty();
  return fallback;
}

int optionInt(const HttpOptionValue& value) {
  if (const int* i = std::get_if<int>(&value))
    return *i;
  if (const std::string* s = std::get_if<std::string>(&value))
    return std::atoi(s->c_str());
  return 0;
}

// The iconv name for a charset label of a Content-Type header.
std::string iconvCharset(std::string label) {
  label = asciiToLower(label);
  if (label == "gb2312" || label == "gbk" || label == "x-gbk" || label == "gb18030") {
    return "GB18030";
  }
  if (label == "utf8")
    return "UTF-8";
  if (label == "unicode" || label == "utf-16")
    return "UTF-16LE";
  return asciiToUpper(label);
}

}  // namespace

struct HttpRequest::State {
  enum class Phase { kIdle, kRunning, kDone, kFailed };

  // One exchange for the object's life, set up afresh for every request.
  CurlExchange exchange;

  // Settings of the object, kept from one request to the next.
  int resolveMs = 0;
  int connectMs = 60000;
  int sendMs = 30000;
  int receiveMs = 30000;
  int proxySetting = kProxySettingDefault;
  std::string proxyServer;
  std::string proxyBypass;
  std::string user, password, proxyUser, proxyPassword;
  std::map<int, HttpOptionValue> options;
  std::string clientCertificate;
  int autoLogonPolicy = 0;

  // The open request.
  bool opened = false;
  bool async = false;
  std::string method;
  std::string url;
  std::vector<std::pair<std::string, std::string>> requestHeaders;
  std::string requestBody;

  // The transfer and its response.
  const StopFlag* cancel = nullptr;
  TransferFailure failure = TransferFailure::kNone;
  Phase phase = Phase::kIdle;
  int status = 0;
  std::string statusText;
  std::vector<std::string> headerLines;
  std::string body;

  State() {
    options[kOptionUserAgentString] = std::string(kDefaultAgent);
    options[kOptionSslErrorIgnoreFlags] = 0;
    options[kOptionEnableRedirects] = 1;
  }

  void clearResponse() {
    status = 0;
    statusText.clear();
    headerLines.clear();
    body.clear();
    body.shrink_to_fit();
  }

  void stopTransfer() {
    if (phase == Phase::kRunning)
      exchange.abandon();
    phase = Phase::kIdle;
  }

  bool cancelled() const { return cancel != nullptr && *cancel; }

  // The exchange set up for the open request. False when it cannot be.
  bool setUp() {
    CurlExchange& x = exchange;
    x.reset();
    x.sendOnlyGivenHeaders(false);  // curl's Accept and form type, as the component sends them
    if (!x.openRequest(escapeUrl(url), method))
      return false;
    x.setFollowRedirects(optionFlag(options[kOptionEnableRedirects], true));
    // SetRequestHeader kept out line breaks; a name curl cannot send is left
    // out. curl drops a custom Cookie (and Authorization) header when a
    // redirect leads to another host or port, so the caller's cookies never
    // travel to a host they were not meant for.
    for (const auto& [name, value] : requestHeaders)
      x.addHeaderLines({name + ": " + value});
    const auto& agent = options[kOptionUserAgentString];
    if (const std::string* text = std::get_if<std::string>(&agent); text && !text->empty())
      x.setUserAgent(*text);

    // Certificate checks the caller chose to ignore.
    int ignore = optionInt(options[kOptionSslErrorIgnoreFlags]);
    x.setCertificateChecks(
        (ignore & (kSslIgnoreUnknownCa | kSslIgnoreWrongUsage | kSslIgnoreCertDateInvalid)) == 0,
        (ignore & kSslIgnoreCertCnInvalid) == 0);
    if (!clientCertificate.empty())
      x.setClientCertificate(clientCertificate);

    // Connecting includes resolving the name; a synchronous request ends
    // within the receive limit as a whole too, so that a server trickling a
    // byte now and then cannot hold the caller.
    ExchangeLimits limits;
    if (connectMs > 0)
      limits.connectMs = static_cast<long long>(connectMs) + std::max(0, resolveMs);
    limits.sendIdleMs = sendMs;
    limits.receiveIdleMs = receiveMs;
    limits.totalMs = async ? 0 : receiveMs;
    x.setLimits(limits);

    // Proxy: with the default setting curl reads http_proxy / no_proxy itself.
    if (proxySetting == kProxySettingProxy) {
      std::string bypass = proxyBypass;
      std::replace(bypass.begin(), bypass.end(), ';', ',');
      x.setProxy(proxyServer, bypass);
    } else if (proxySetting == kProxySettingDirect) {
      x.setProxy("");
    } else {
      x.useProxyEnvironment();
    }
    if (!user.empty())
      x.setCredentials(false, user, password, CURLAUTH_ANY);
    if (!proxyUser.empty())
      x.setCredentials(true, proxyUser, proxyPassword, CURLAUTH_ANY);

    // The window answers during the transfer; a pumped event may raise the
    // cancel flag (a stop click, the window closing).
    x.watch(true, [this] { return cancelled(); });
    return true;
  }

  // Takes the exchange's end once it has ended.
  void settle() {
    if (phase != Phase::kRunning || !exchange.ended())
      return;
    if (exchange.outcome() != ExchangeOutcome::kComplete) {
      clearResponse();
      phase = Phase::kFailed;
      failure = exchange.failure();
      return;
    }
    status = exchange.status();
    readHead(exchange.head());
    body = std::move(exchange.body());
    phase = Phase::kDone;
    failure = TransferFailure::kNone;
  }

  // Status text and header lines (folded lines joined) of the final head.
  void readHead(std::string_view head) {
    statusText.clear();
    headerLines.clear();
    std::size_t lineEnd = head.find("\r\n");
    std::string_view statusLine = head.substr(0, lineEnd);
    std::size_t code = statusLine.find(' ');
    std::size_t reason = code == std::string_view::npos ? code : statusLine.find(' ', code + 1);
    if (reason != std::string_view::npos)
      statusText = trimAsciiWhiteSpace(statusLine.substr(reason + 1));
    while (lineEnd != std::string_view::npos) {
      std::size_t at = lineEnd + 2;
      lineEnd = head.find("\r\n", at);
      std::string_view line = head.substr(at, lineEnd - at);
      if (line.empty())
        continue;
      if ((line.front() == ' ' || line.front() == '\t') && !headerLines.empty()) {
        headerLines.back() += ' ';
        headerLines.back() += trimSpacesAndTabs(line);
      } else {
        headerLines.emplace_back(line);
      }
    }
  }

  void start() {
    if (!opened || phase == Phase::kRunning)
      return;
    opened = false;  // one Send per Open
    clearResponse();
    failure = TransferFailure::kNone;
    if (!setUp() || !exchange.start(requestBody)) {
      phase = Phase::kFailed;
      failure = exchange.ended() ? exchange.failure() : TransferFailure::kConnection;
      return;
    }
    phase = Phase::kRunning;
    exchange.drive(async ? std::optional(Clock::now()) : std::nullopt);
    settle();
  }

  bool done() const { return phase == Phase::kDone; }
};

HttpRequest::HttpRequest() : state_(std::make_unique<State>()) {}
HttpRequest::~HttpRequest() = default;

void HttpRequest::Open(std::string_view method, std::string_view url, bool async) {
  State& s = *state_;
  s.stopTransfer();
  s.clearResponse();
  s.requestHeaders.clear();
  s.requestBody.clear();
  s.method = method.empty() ? "GET" : asciiToUpper(method);
  s.url = url;
  s.async = async;
  s.opened = true;
}

void HttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
  State& s = *state_;
  if (name.empty() || hasLineBreak(name) || hasLineBreak(value) ||
      name.find(':') != std::string_view::npos) {
    return;
  }
  for (auto& header : s.requestHeaders) {
    if (equalsIgnoringCase(header.first, name)) {
      header.second = value;
      return;
    }
  }
  s.requestHeaders.emplace_back(std::string(name), std::string(value));
}

// One Send per Open: a Send without an open request changes nothing, above
// all not the body of a transfer that runs.
void HttpRequest::Send() {
  if (!state_->opened)
    return;
  state_->requestBody.clear();
  state_->start();
}

void HttpRequest::Send(std::string_view body) {
  if (!state_->opened)
    return;
  state_->requestBody.assign(body);
  state_->start();
}

void HttpRequest::Send(const Bytes& body) {
  if (!state_->opened)
    return;
  state_->requestBody.assign(body.begin(), body.end());
  state_->start();
}

bool HttpRequest::WaitForResponse(int seconds) {
  State& s = *state_;
  if (s.phase == State::Phase::kRunning) {
    std::optional<Clock::time_point> deadline;
    if (seconds >= 0)
      deadline = Clock::now() + std::chrono::seconds(seconds);
    if (!s.exchange.drive(deadline))
      s.failure = TransferFailure::kTimeout;  // the wait's limit; the transfer goes on
    s.settle();
  }
  return s.done();
}

void HttpRequest::SetCancelFlag(const StopFlag* flag) {
  state_->cancel = flag;
}

TransferFailure HttpRequest::LastFailure() const {
  return state_->failure;
}

void HttpRequest::Abort() {
  state_->stopTransfer();
  state_->clearResponse();
  state_->opened = false;
}

int HttpRequest::Status() const {
  return state_->done() ? state_->status : 0;
}

std::string HttpRequest::StatusText() const {
  return state_->done() ? state_->statusText : std::string();
}

std::u16string HttpRequest::ResponseText() const {
  if (!state_->done() || state_->body.empty())
    return {};
  std::string_view body = state_->body;
  std::string charset;
  if (body.starts_with("\xEF\xBB\xBF")) {
    charset = "UTF-8";
    body.remove_prefix(3);
  } else if (body.starts_with("\xFF\xFE")) {
    charset = "UTF-16LE";
    body.remove_prefix(2);
  } else if (body.starts_with("\xFE\xFF")) {
    charset = "UTF-16BE";
    body.remove_prefix(2);
  } else {
    std::string type = GetResponseHeader("Content-Type");
    std::string lowered = asciiToLower(type);
    std::size_t at = lowered.find("charset=");
    if (at != std::string::npos) {
      std::string_view label = std::string_view(type).substr(at + 8);
      label = label.substr(0, label.find_first_of("; \t"));
      while (!label.empty() && (label.front() == '"' || label.front() == '\'')) {
        label.remove_prefix(1);
      }
      while (!label.empty() && (label.back() == '"' || label.back() == '\''))
        label.remove_suffix(1);
      charset = iconvCharset(std::string(label));
    }
    if (charset.empty())
      charset = "UTF-8";
  }
  std::string units;
  if (!convertCharsetInto(body, charset, "UTF-16LE", "\xFD\xFF", &units)) {
    units.clear();
    convertCharsetInto(body, "UTF-8", "UTF-16LE", "\xFD\xFF", &units);
  }
  std::u16string text(units.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(units[2 * i]) |
                                    (static_cast<unsigned char>(units[2 * i + 1]) << 8));
  }
  return text;
}

Bytes HttpRequest::ResponseBody() const {
  if (!state_->done())
    return {};
  return Bytes(state_->body.begin(), state_->body.end());
}

std::istringstream HttpRequest::ResponseStream() const {
  return std::istringstream(state_->done() ? state_->body : std::string());
}

std::string HttpRequest::GetResponseHeader(std::string_view name) const {
  if (!state_->done() || name.empty())
    return {};
  for (const std::string& line : state_->headerLines) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos)
      continue;
    if (equalsIgnoringCase(trimSpacesAndTabs(std::string_view(line).substr(0, colon)), name)) {
      return std::string(trimSpacesAndTabs(std::string_view(line).substr(colon + 1)));
    }
  }
  return {};
}

std::string HttpRequest::GetAllResponseHeaders() const {
  if (!state_->done())
    return {};
  std::string all;
  for (const std::string& line : state_->headerLines) {
    all += line;
    all += "\r\n";
  }
  return all;
}

void HttpRequest::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
  state_->resolveMs = resolveMs;
  state_->connectMs = connectMs;
  state_->sendMs = sendMs;
  state_->receiveMs = receiveMs;
}

void HttpRequest::SetProxy(int setting, std::string_view server, std::string_view bypass) {
  state_->proxySetting = setting;
  state_->proxyServer = server;
  state_->proxyBypass = bypass;
}

void HttpRequest::SetCredentials(std::string_view user, std::string_view password, int flags) {
  if (flags == kCredentialsForProxy) {
    state_->proxyUser = user;
    state_->proxyPassword = password;
  } else {
    state_->user = user;
    state_->password = password;
  }
}

HttpOptionValue HttpRequest::Option(int index) const {
  if (index == kOptionUrl)
    return state_->url;
  auto it = state_->options.find(index);
  return it == state_->options.end() ? HttpOptionValue() : it->second;
}

void HttpRequest::SetOption(int index, const HttpOptionValue& value) {
  if (index == kOptionUrl)
    return;
  state_->options[index] = value;
}

void HttpRequest::SetClientCertificate(std::string_view name) {
  state_->clientCertificate = name;
}

void HttpRequest::SetAutoLogonPolicy(int policy) {
  state_->autoLogonPolicy = policy;
}

int HttpRequest::AutoLogonPolicy() const {
  return state_->autoLogonPolicy;
}

}  // namespace qarvo
