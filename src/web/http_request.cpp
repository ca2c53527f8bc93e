#include "web/http_request.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/blanks.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "web/decode_response.h"

namespace qarvo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultAgent = "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)";
// A server that sends header lines without end is not waited for.
constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;
constexpr long kMaxRedirects = 10;
// Longest single wait inside the transfer loop, so that our own idle
// time-outs are looked at often enough.
constexpr long kPollSliceMs = 10;  // also how often a wait pumps events

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;

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
  bool hasBody = false;

  // The transfer and its response.
  const bool* cancel = nullptr;
  TransferFailure failure = TransferFailure::kNone;
  Phase phase = Phase::kIdle;
  bool connected = false;
  bool uploadDone = false;
  curl_off_t uploaded = -1;
  Clock::time_point lastActivity;
  int status = 0;
  std::string statusText;
  std::vector<std::string> headerLines;
  std::size_t headerBytes = 0;
  std::string body;

  State() {
    initialiseCurlOnce();
    multi = curl_multi_init();
    options[kOptionUserAgentString] = std::string(kDefaultAgent);
    options[kOptionSslErrorIgnoreFlags] = 0;
    options[kOptionEnableRedirects] = 1;
  }

  ~State() {
    stopTransfer();
    if (headerList != nullptr)
      curl_slist_free_all(headerList);
    if (easy != nullptr)
      curl_easy_cleanup(easy);
    if (multi != nullptr)
      curl_multi_cleanup(multi);
  }

  void clearResponse() {
    status = 0;
    statusText.clear();
    headerLines.clear();
    headerBytes = 0;
    body.clear();
    body.shrink_to_fit();
  }

  void stopTransfer() {
    if (phase == Phase::kRunning && multi != nullptr && easy != nullptr) {
      curl_multi_remove_handle(multi, easy);
    }
    phase = Phase::kIdle;
  }

  void finish(CURLcode result) {
    curl_multi_remove_handle(multi, easy);
    if (result == CURLE_OK) {
      long code = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
      status = static_cast<int>(code);
      phase = Phase::kDone;
      failure = TransferFailure::kNone;
    } else {
      clearResponse();
      phase = Phase::kFailed;
      failure = result == CURLE_OPERATION_TIMEDOUT ? TransferFailure::kTimeout
                                                   : TransferFailure::kConnection;
    }
  }

  void fail(TransferFailure why) {
    curl_multi_remove_handle(multi, easy);
    clearResponse();
    phase = Phase::kFailed;
    failure = why;
  }

  bool cancelled() const { return cancel != nullptr && *cancel; }

  // The idle limit that applies now: send while the body goes out, receive
  // after; 0 when there is none. Before the connection stands, curl's own
  // connect time-out rules.
  int idleLimitMs() const {
    if (!connected)
      return 0;
    return (hasBody && !uploadDone) ? sendMs : receiveMs;
  }

  // Runs the transfer until it ends or `deadline` passes.
  void drive(std::optional<Clock::time_point> deadline) {
    while (phase == Phase::kRunning) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
          finish(message->data.result);
        }
      }
      if (phase != Phase::kRunning)
        return;

      auto now = Clock::now();
      long waitMs = kPollSliceMs;
      if (int limit = idleLimitMs(); limit > 0) {
        auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastActivity);
        if (idle.count() >= limit) {
          fail(TransferFailure::kTimeout);
          return;
        }
        waitMs = std::min<long>(waitMs, limit - idle.count());
      }
      if (deadline) {
        if (now >= *deadline) {
          failure = TransferFailure::kTimeout;
          return;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now);
        waitMs = std::min<long>(waitMs, std::max<long>(1, left.count()));
      }
      curl_multi_poll(multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
      // The window answers during the transfer. A pumped event may raise the
      // cancel flag (a stop click, the window closing).
      noteSlept();
      processPendingEvents();
      if (cancelled()) {
        fail(TransferFailure::kCancelled);
        return;
      }
    }
  }

  static size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<State*>(user);
    size_t length = size * count;
    self->lastActivity = Clock::now();
    self->headerBytes += length;
    if (self->headerBytes > kMaxHeaderBytes)
      return 0;
    std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
      // A new response begins (after a redirect or an interim 1xx answer).
      self->headerLines.clear();
      self->statusText.clear();
      self->headerBytes = length;
      std::size_t code = line.find(' ');
      std::size_t reason = code == std::string_view::npos ? code : line.find(' ', code + 1);
      if (reason != std::string_view::npos)
        self->statusText = trimAsciiWhiteSpace(line.substr(reason + 1));
      return length;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.remove_suffix(1);
    if (line.empty())
      return length;
    if ((line.front() == ' ' || line.front() == '\t') && !self->headerLines.empty()) {
      self->headerLines.back() += ' ';
      self->headerLines.back() += trimSpacesAndTabs(line);
    } else {
      self->headerLines.emplace_back(line);
    }
    return length;
  }

  static size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<State*>(user);
    size_t length = size * count;
    self->lastActivity = Clock::now();
    if (self->body.size() + length > kMaxResponseBodyBytes)
      return 0;  // aborts the transfer
    self->body.append(data, length);
    return length;
  }

  static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                        curl_off_t uploadNow) {
    auto* self = static_cast<State*>(user);
    if (uploadNow != self->uploaded) {
      self->uploaded = uploadNow;
      self->lastActivity = Clock::now();
    }
    // Until curl knows the size, 0 of 0 bytes is no finished upload.
    if (uploadTotal > 0 && uploadNow >= uploadTotal)
      self->uploadDone = true;
    return 0;
  }

  static int onConnected(void* user, char*, char*, int, int) {
    auto* self = static_cast<State*>(user);
    self->connected = true;
    self->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
  }

  void configure() {
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, escapeUrl(url).c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // A secure request is never redirected to a plain one.
    bool secure = asciiToLower(std::string_view(url).substr(0, 8)) == "https://";
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // Bodies are handed out exactly as the server sent them.
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);

    // Method and body.
    if (method == "GET" && !hasBody) {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD" && !hasBody) {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "POST" || hasBody) {
      // curl keeps a copy: the body may change (a later Send) while it sends.
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(requestBody.size()));
      curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, requestBody.data());
      if (method != "POST")
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    // Headers. curl leaves a custom Cookie (and Authorization) header out when a
    // redirect leads to another host or port, so the caller's cookies never
    // travel to a host they were not meant for.
    if (headerList != nullptr)
      curl_slist_free_all(headerList);
    headerList = nullptr;
    bool expectGiven = false;
    for (const auto& [name, value] : requestHeaders) {
      std::string line = name;
      line += value.empty() ? ";" : ": " + value;
      headerList = curl_slist_append(headerList, line.c_str());
      if (equalsIgnoringCase(name, "Expect"))
        expectGiven = true;
    }
    if (!expectGiven)
      headerList = curl_slist_append(headerList, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
    const auto& agent = options[kOptionUserAgentString];
    if (const std::string* text = std::get_if<std::string>(&agent); text && !text->empty()) {
      curl_easy_setopt(easy, CURLOPT_USERAGENT, text->c_str());
    }

    // Redirects.
    bool follow = optionFlag(options[kOptionEnableRedirects], true);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);

    // Certificate checks the caller chose to ignore.
    int ignore = optionInt(options[kOptionSslErrorIgnoreFlags]);
    bool peer =
        (ignore & (kSslIgnoreUnknownCa | kSslIgnoreWrongUsage | kSslIgnoreCertDateInvalid)) == 0;
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, peer ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, (ignore & kSslIgnoreCertCnInvalid) ? 0L : 2L);
    if (!clientCertificate.empty()) {
      curl_easy_setopt(easy, CURLOPT_SSLCERT, clientCertificate.c_str());
    }

    // Connecting includes resolving the name; the send and receive limits are
    // watched by drive().
    long connectLimit = 0;  // 0: curl's own default
    if (connectMs > 0)
      connectLimit = connectMs + std::max(0, resolveMs);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectLimit);

    // Proxy: with the default setting curl reads http_proxy / no_proxy itself.
    if (proxySetting == kProxySettingProxy) {
      curl_easy_setopt(easy, CURLOPT_PROXY, proxyServer.c_str());
      std::string bypass = proxyBypass;
      std::replace(bypass.begin(), bypass.end(), ';', ',');
      curl_easy_setopt(easy, CURLOPT_NOPROXY, bypass.c_str());
    } else if (proxySetting == kProxySettingDirect) {
      curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    if (!user.empty()) {
      curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
      curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
      curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    }
    if (!proxyUser.empty()) {
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyPassword.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    }

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &State::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &State::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &State::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &State::onConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
  }

  void start() {
    if (!opened || phase == Phase::kRunning || multi == nullptr)
      return;
    if (easy == nullptr)
      easy = curl_easy_init();
    if (easy == nullptr)
      return;
    clearResponse();
    configure();
    connected = false;
    uploadDone = !hasBody;
    uploaded = -1;
    lastActivity = Clock::now();
    failure = TransferFailure::kNone;
    if (cancelled()) {
      phase = Phase::kFailed;
      failure = TransferFailure::kCancelled;
      return;
    }
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
      phase = Phase::kFailed;
      failure = TransferFailure::kConnection;
      return;
    }
    phase = Phase::kRunning;
    opened = false;  // one Send per Open
    if (async) {
      int running = 0;
      curl_multi_perform(multi, &running);
      return;
    }
    // A synchronous request ends within the receive limit as a whole too, so
    // a server that trickles a byte now and then cannot hold the caller.
    std::optional<Clock::time_point> cap;
    if (receiveMs > 0)
      cap = Clock::now() + std::chrono::milliseconds(receiveMs);
    drive(cap);
    if (phase == Phase::kRunning)
      fail(TransferFailure::kTimeout);
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
  s.hasBody = false;
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
  state_->hasBody = false;
  state_->start();
}

void HttpRequest::Send(std::string_view body) {
  if (!state_->opened)
    return;
  state_->requestBody.assign(body);
  state_->hasBody = !body.empty();
  state_->start();
}

void HttpRequest::Send(const Bytes& body) {
  if (!state_->opened)
    return;
  state_->requestBody.assign(body.begin(), body.end());
  state_->hasBody = !body.empty();
  state_->start();
}

bool HttpRequest::WaitForResponse(int seconds) {
  State& s = *state_;
  if (s.phase == State::Phase::kRunning) {
    std::optional<Clock::time_point> deadline;
    if (seconds >= 0)
      deadline = Clock::now() + std::chrono::seconds(seconds);
    s.drive(deadline);
  }
  return s.done();
}

void HttpRequest::SetCancelFlag(const bool* flag) {
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
