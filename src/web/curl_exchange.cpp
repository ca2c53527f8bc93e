#include "web/curl_exchange.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/blanks.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "web/connection_cache.h"

namespace qarvo {
namespace {

constexpr long kMaxRedirects = 10;
// Longest single wait of the transfer loop: how often the limits, the stop
// request and the event pump are looked at.
constexpr long long kPollSliceMs = 10;
// Idle connections the cache keeps (curl's default is 4 per transfer running).
constexpr long kCachedConnections = 16;

bool isHeaderNameChar(unsigned char c) {
  return c > 0x20 && c < 0x7F && c != ':';
}

bool hasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// "Name: value" with a well-formed name, or false when the line is no header.
bool splitHeaderLine(std::string_view line, std::string_view* name, std::string_view* value) {
  if (hasLineBreak(line))
    return false;
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0)
    return false;
  *name = line.substr(0, colon);
  for (unsigned char c : *name) {
    if (!isHeaderNameChar(c))
      return false;
  }
  *value = trimSpacesAndTabs(line.substr(colon + 1));
  return true;
}

int statusCodeOf(std::string_view head) {
  // "HTTP/1.1 200 OK"
  std::size_t blank = head.find(' ');
  if (blank == std::string_view::npos)
    return 0;
  return std::atoi(std::string(head.substr(blank + 1, 3)).c_str());
}

// The value of the first header line named `lowerName` in a head, if any.
std::optional<std::string_view> headerValue(std::string_view head, std::string_view lowerName) {
  std::size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string_view::npos) {
    at += 2;
    std::string_view line = head.substr(at, head.find("\r\n", at) - at);
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && asciiToLower(line.substr(0, colon)) == lowerName)
      return trimSpacesAndTabs(line.substr(colon + 1));
  }
  return std::nullopt;
}

bool needsEscape(unsigned char c) {
  return c <= 0x20 || c >= 0x7F;
}

long long millisecondsBetween(CurlExchange::Clock::time_point from,
                              CurlExchange::Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// Owns a CURLU handle and the strings it hands out.
class UrlHandle {
 public:
  UrlHandle() : url_(curl_url()) {}
  ~UrlHandle() {
    if (url_ != nullptr)
      curl_url_cleanup(url_);
  }
  UrlHandle(const UrlHandle&) = delete;
  UrlHandle& operator=(const UrlHandle&) = delete;

  // A relative URL is taken relative to the one set before.
  bool set(const std::string& url, unsigned int flags = 0) {
    return url_ != nullptr && curl_url_set(url_, CURLUPART_URL, url.c_str(), flags) == CURLUE_OK;
  }
  // The part, or empty when the URL has none.
  std::string get(CURLUPart part, unsigned int flags = 0) const {
    char* value = nullptr;
    if (curl_url_get(url_, part, &value, flags) != CURLUE_OK || value == nullptr)
      return {};
    std::string text(value);
    curl_free(value);
    return text;
  }

 private:
  CURLU* url_;
};

}  // namespace

bool crackHttpUrl(std::string_view url, CrackedUrl* cracked) {
  std::size_t authorityStart = url.find("://");
  if (authorityStart == std::string_view::npos)
    return false;
  authorityStart += 3;
  std::size_t authorityEnd = url.find_first_of("/?#", authorityStart);
  if (authorityEnd == std::string_view::npos)
    authorityEnd = url.size();
  std::string escaped(url.substr(0, authorityEnd));
  for (unsigned char c : escaped) {
    if (needsEscape(c))
      return false;
  }
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : url.substr(authorityEnd)) {
    if (needsEscape(c)) {
      escaped += '%';
      escaped += hex[c >> 4];
      escaped += hex[c & 0x0F];
    } else {
      escaped += static_cast<char>(c);
    }
  }

  initialiseCurl();
  UrlHandle handle;
  if (!handle.set(escaped))
    return false;
  std::string scheme = asciiToLower(handle.get(CURLUPART_SCHEME));
  if (scheme != "http" && scheme != "https")
    return false;
  CrackedUrl parts;
  parts.secure = scheme == "https";
  parts.host = handle.get(CURLUPART_HOST);
  if (parts.host.empty())
    return false;
  parts.port = std::atoi(handle.get(CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str());
  if (parts.port <= 0 || parts.port > 65535)
    return false;
  parts.path = handle.get(CURLUPART_PATH);
  if (parts.path.empty())
    parts.path = "/";
  std::string query = handle.get(CURLUPART_QUERY);
  if (!query.empty())
    parts.extraInfo = "?" + query;
  parts.requestUrl =
      scheme + "://" + parts.host + ":" + std::to_string(parts.port) + parts.path + parts.extraInfo;
  *cracked = std::move(parts);
  return true;
}

bool isHttpToken(std::string_view method) {
  static constexpr std::string_view kTokenMarks = "!#$%&'*+-.^_`|~";
  if (method.empty())
    return false;
  for (char c : method) {
    bool alphanumeric = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alphanumeric && kTokenMarks.find(c) == std::string_view::npos)
      return false;
  }
  return true;
}

bool redirectAllowed(const std::string& currentUrl, std::string_view location) {
  if (asciiToLower(std::string_view(currentUrl).substr(0, 6)) != "https:")
    return true;
  // Resolved as curl resolves the hop it follows.
  UrlHandle target;
  if (!target.set(currentUrl) ||
      !target.set(std::string(trimAsciiWhiteSpace(location)), CURLU_URLENCODE | CURLU_ALLOW_SPACE))
    return false;
  return asciiToLower(target.get(CURLUPART_SCHEME)) == "https";
}

void initialiseCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool curlSpeaksHttp() {
  initialiseCurl();
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  if (info == nullptr || info->protocols == nullptr)
    return false;
  for (const char* const* protocol = info->protocols; *protocol != nullptr; ++protocol) {
    if (std::strcmp(*protocol, "http") == 0)
      return true;
  }
  return false;
}

CurlExchange::CurlExchange() {
  initialiseCurl();
  easy_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (!ready())
    return;
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kCachedConnections);
  applyDefaults();
}

CurlExchange::~CurlExchange() {
  abandon();
  if (easy_ != nullptr)
    curl_easy_cleanup(easy_);
  if (headerList_ != nullptr)
    curl_slist_free_all(headerList_);
  if (multi_ != nullptr)
    curl_multi_cleanup(multi_);
}

void CurlExchange::applyDefaults() {
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // The body is handed on exactly as the server sent it.
  curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy_, CURLOPT_PROXY, "");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlExchange::onHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlExchange::onBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlExchange::onProgress);
  curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CurlExchange::onConnected);
  curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
  // As OpenSSL-based tools do: SSL_CERT_FILE names the bundle trusted in
  // place of the system's (behind a company's TLS proxy, or the offline fakes).
  if (const char* bundle = std::getenv("SSL_CERT_FILE"); bundle != nullptr && *bundle != '\0') {
    curl_easy_setopt(easy_, CURLOPT_CAINFO, bundle);
    curl_easy_setopt(easy_, CURLOPT_CAPATH, nullptr);
  }
  setLimits(ExchangeLimits::uniform(30000));
}

void CurlExchange::reset() {
  abandon();
  if (!ready())
    return;
  curl_easy_reset(easy_);
  if (headerList_ != nullptr)
    curl_slist_free_all(headerList_);
  headerList_ = nullptr;
  headerNames_.clear();
  method_ = "GET";
  url_.clear();
  follow_ = true;
  onlyGivenHeaders_ = true;
  pumpEvents_ = false;
  stopRequested_ = nullptr;
  state_ = State::kSetUp;
  outcome_ = ExchangeOutcome::kNotSetUp;
  failure_ = TransferFailure::kNone;
  status_ = 0;
  head_.clear();
  body_.clear();
  body_.shrink_to_fit();
  applyDefaults();
}

bool CurlExchange::setProxy(const std::string& proxy, const std::string& bypass) {
  return ready() && curl_easy_setopt(easy_, CURLOPT_PROXY, proxy.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_NOPROXY, bypass.empty() ? nullptr : bypass.c_str()) ==
             CURLE_OK;
}

bool CurlExchange::useProxyEnvironment() {
  // No proxy of our own: curl reads http_proxy, no_proxy and the like itself.
  return ready() && curl_easy_setopt(easy_, CURLOPT_PROXY, nullptr) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_NOPROXY, nullptr) == CURLE_OK;
}

bool CurlExchange::setLimits(const ExchangeLimits& limits) {
  if (!ready())
    return false;
  limits_ = limits;
  // Until the connection stands curl's connect limit rules; after that the
  // silences are timed by drive().
  const long connect = static_cast<long>(std::clamp<long long>(limits.connectMs, 0, LONG_MAX));
  return curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, connect) == CURLE_OK;
}

bool CurlExchange::openRequest(const std::string& url, const std::string& method) {
  if (!ready() || !isHttpToken(method))
    return false;
  method_ = method;
  url_ = url;
  // A secure start never leaves https; later hops are judged by onHeader.
  bool secure = asciiToLower(std::string_view(url).substr(0, 8)) == "https://";
  return curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https") ==
             CURLE_OK;
}

bool CurlExchange::setCredentials(bool forProxy, const std::string& user,
                                  const std::string& password, unsigned long schemes) {
  if (!ready())
    return false;
  const long mask = static_cast<long>(schemes);
  if (forProxy) {
    return curl_easy_setopt(easy_, CURLOPT_PROXYUSERNAME, user.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_PROXYPASSWORD, password.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_PROXYAUTH, mask) == CURLE_OK;
  }
  return curl_easy_setopt(easy_, CURLOPT_USERNAME, user.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_PASSWORD, password.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, mask) == CURLE_OK;
}

bool CurlExchange::setCertificateChecks(bool checkChain, bool checkName) {
  return ready() &&
         curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, checkChain ? 1L : 0L) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, checkName ? 2L : 0L) == CURLE_OK;
}

bool CurlExchange::setClientCertificate(const std::string& pemFile) {
  return ready() && curl_easy_setopt(easy_, CURLOPT_SSLCERT, pemFile.c_str()) == CURLE_OK;
}

bool CurlExchange::setAutomaticCookies(bool on) {
  if (!ready())
    return false;
  // An empty file name starts curl's cookie store in memory; nothing is read or written.
  return on ? curl_easy_setopt(easy_, CURLOPT_COOKIEFILE, "") == CURLE_OK
            : curl_easy_setopt(easy_, CURLOPT_COOKIELIST, "ALL") == CURLE_OK;
}

bool CurlExchange::setFollowRedirects(bool follow) {
  if (!ready())
    return false;
  follow_ = follow;
  return curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L) == CURLE_OK;
}

bool CurlExchange::setUserAgent(const std::string& agent) {
  if (!ready())
    return false;
  if (hasLineBreak(agent)) {
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, nullptr);
    return false;
  }
  return curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK;
}

bool CurlExchange::addHeaderLines(const std::vector<std::string>& lines) {
  if (!ready())
    return false;
  std::vector<std::string> entries;
  std::vector<std::string> names;
  for (const std::string& line : lines) {
    if (line.empty())
      continue;
    std::string_view name, value;
    if (!splitHeaderLine(line, &name, &value))
      return false;
    // curl drops "Name:" without a value; "Name;" sends it with an empty one.
    entries.push_back(value.empty() ? std::string(name) + ";" : line);
    names.push_back(asciiToLower(name));
  }
  for (const std::string& entry : entries) {
    curl_slist* grown = curl_slist_append(headerList_, entry.c_str());
    if (grown == nullptr)
      return false;
    headerList_ = grown;
  }
  headerNames_.insert(headerNames_.end(), names.begin(), names.end());
  return true;
}

void CurlExchange::watch(bool pumpEvents, std::function<bool()> stopRequested) {
  pumpEvents_ = pumpEvents;
  stopRequested_ = std::move(stopRequested);
}

bool CurlExchange::start(const std::string& body) {
  if (state_ != State::kSetUp)
    return false;
  state_ = State::kEnded;
  outcome_ = ExchangeOutcome::kNotSetUp;
  failure_ = TransferFailure::kConnection;
  if (!ready())
    return false;

  // Method and body.
  hasBody_ = !body.empty();
  bool carriesBody = hasBody_ || method_ == "POST" || method_ == "PUT";
  if (method_ == "HEAD" && !hasBody_) {
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
  } else if (carriesBody) {
    // curl keeps a copy: the caller's body may change while it goes out.
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy_, CURLOPT_COPYPOSTFIELDS, body.c_str());
    if (method_ != "POST")
      curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method_.c_str());
  } else if (method_ == "GET") {
    curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method_.c_str());
  }

  // curl's own Expect never goes out unasked; its Accept and form
  // Content-Type only when the caller wants curl's defaults.
  std::vector<const char*> own = {"expect"};
  if (onlyGivenHeaders_)
    own.insert(own.end(), {"accept", "content-type"});
  for (const char* name : own) {
    if (std::find(headerNames_.begin(), headerNames_.end(), name) != headerNames_.end())
      continue;
    std::string off = std::string(name) + ":";
    curl_slist* grown = curl_slist_append(headerList_, off.c_str());
    if (grown == nullptr)
      return false;
    headerList_ = grown;
    headerNames_.push_back(name);
  }
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);

  started_ = Clock::now();
  timedOut_ = false;
  cancelled_ = false;
  resetProgress();
  if (stopRequested()) {
    cancelled_ = true;
    outcome_ = ExchangeOutcome::kSendFailed;
    failure_ = TransferFailure::kCancelled;
    return false;
  }
  // The share that knows the origin (scheme, host and port) holds its connection.
  const std::size_t authority = url_.find("://");
  const std::size_t pathStart =
      authority == std::string::npos ? std::string::npos : url_.find_first_of("/?#", authority + 3);
  lease_ = std::make_unique<ConnectionLease>(url_.substr(0, pathStart));
  if (lease_->share() == nullptr ||
      curl_easy_setopt(easy_, CURLOPT_SHARE, lease_->share()) != CURLE_OK) {
    lease_.reset();  // a connection of its own
  }
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
    detach();
    return false;
  }
  state_ = State::kRunning;
  return true;
}

void CurlExchange::resetProgress() {
  connected_ = false;
  uploadDone_ = !hasBody_;
  headComplete_ = false;
  uploaded_ = -1;
  lastActivity_ = Clock::now();
  headBytes_ = 0;
  head_.clear();
  body_.clear();
}

void CurlExchange::detach() {
  curl_multi_remove_handle(multi_, easy_);
  if (lease_) {
    // The easy handle keeps nothing of the cache once its lease is gone.
    curl_easy_setopt(easy_, CURLOPT_SHARE, nullptr);
    lease_.reset();
  }
}

bool CurlExchange::drive(std::optional<Clock::time_point> until) {
  while (state_ == State::kRunning) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    std::optional<CURLcode> result;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_)
        result = message->data.result;
    }
    if (result) {
      // A kept connection that the server had closed meanwhile is no failure:
      // curl sends the request again on a new one before it reports anything.
      end(*result);
      continue;
    }

    const Clock::time_point now = Clock::now();
    long long waitMs = kPollSliceMs;
    if (limits_.totalMs > 0) {
      const long long left = limits_.totalMs - millisecondsBetween(started_, now);
      if (left <= 0) {
        timedOut_ = true;
        end(CURLE_OPERATION_TIMEDOUT);
        break;
      }
      waitMs = std::min(waitMs, left);
    }
    const long long idleLimit =
        !connected_ ? 0 : (uploadDone_ ? limits_.receiveIdleMs : limits_.sendIdleMs);
    if (idleLimit > 0) {
      const long long idle = millisecondsBetween(lastActivity_, now);
      if (idle >= idleLimit) {
        timedOut_ = true;
        end(CURLE_OPERATION_TIMEDOUT);
        break;
      }
      waitMs = std::min(waitMs, idleLimit - idle);
    }
    if (until) {
      if (now >= *until)
        return false;
      waitMs = std::min(waitMs, std::max(1LL, millisecondsBetween(now, *until)));
    }
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::max(1LL, waitMs)), nullptr);
    if (pumpEvents_) {
      // A pumped event may stop (or even restart) this exchange.
      noteSlept();
      processPendingEvents();
    }
    if (state_ == State::kRunning && stopRequested()) {
      cancelled_ = true;
      end(CURLE_ABORTED_BY_CALLBACK);
    }
  }
  return true;
}

ExchangeOutcome CurlExchange::perform(const std::string& body) {
  if (start(body))
    drive();
  return outcome_;
}

void CurlExchange::abandon() {
  if (state_ != State::kRunning)
    return;
  cancelled_ = true;
  end(CURLE_ABORTED_BY_CALLBACK);
}

void CurlExchange::end(CURLcode result) {
  detach();
  state_ = State::kEnded;
  const bool complete = result == CURLE_OK && !timedOut_ && !cancelled_;
  if (complete) {
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    status_ = static_cast<int>(code);
    outcome_ = ExchangeOutcome::kComplete;
    failure_ = TransferFailure::kNone;
    return;
  }
  status_ = headComplete_ ? statusCodeOf(head_) : 0;
  if (headComplete_) {
    outcome_ = ExchangeOutcome::kBodyBroken;
  } else if (!connected_) {
    outcome_ = ExchangeOutcome::kSendFailed;
  } else if (timedOut_ || cancelled_) {
    outcome_ = uploadDone_ ? ExchangeOutcome::kNoResponse : ExchangeOutcome::kSendFailed;
  } else {
    outcome_ =
        result == CURLE_SEND_ERROR ? ExchangeOutcome::kSendFailed : ExchangeOutcome::kNoResponse;
  }
  if (cancelled_) {
    failure_ = TransferFailure::kCancelled;
  } else if (timedOut_ || result == CURLE_OPERATION_TIMEDOUT) {
    failure_ = TransferFailure::kTimeout;
  } else {
    failure_ = connectionFailureOf(result);
  }
}

TransferFailure CurlExchange::connectionFailureOf(CURLcode result) const {
  switch (result) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return TransferFailure::kCertificate;
    default:
      break;
  }
  char* current = nullptr;
  curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &current);
  const bool secure = current != nullptr && std::string_view(current).starts_with("https://");
  if (!secure || connected_)
    return TransferFailure::kConnection;
  // A proxy that could not reach the port answers the tunnel request 5xx.
  long tunnelStatus = 0;
  curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
  if (result == CURLE_COULDNT_CONNECT || result == CURLE_SSL_CONNECT_ERROR || tunnelStatus >= 500) {
    return TransferFailure::kNoSecureChannel;
  }
  return TransferFailure::kConnection;
}

size_t CurlExchange::onHeader(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlExchange*>(user);
  const size_t length = size * count;
  self->lastActivity_ = Clock::now();
  // Counted over every answer of the exchange, so that neither interim
  // answers nor redirects can make the heads grow without end.
  self->headBytes_ += length;
  if (self->headBytes_ > self->limits_.maxHeadBytes)
    return 0;
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    // A new response begins: after an interim answer or a redirect.
    self->head_.assign(line);
    self->head_ += "\r\n";
    self->headComplete_ = false;
    return length;
  }
  self->head_.append(line);
  self->head_ += "\r\n";
  if (!line.empty())
    return length;

  const int status = statusCodeOf(self->head_);
  const std::optional<std::string_view> location = headerValue(self->head_, "location");
  // The head of an interim answer, or of a redirect that curl goes on to
  // follow, is not the response yet.
  const bool redirecting = self->follow_ && status >= 300 && status < 400 && location;
  if (redirecting) {
    // Where this hop came over https, the next one must too.
    char* current = nullptr;
    curl_easy_getinfo(self->easy_, CURLINFO_EFFECTIVE_URL, &current);
    if (!redirectAllowed(current != nullptr ? current : "", *location))
      return 0;
  }
  self->headComplete_ = status >= 200 && !redirecting;
  return length;
}

size_t CurlExchange::onBody(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlExchange*>(user);
  const size_t length = size * count;
  self->lastActivity_ = Clock::now();
  if (self->body_.size() + length > self->limits_.maxBodyBytes)
    return 0;  // ends the transfer; what came stays
  self->body_.append(data, length);
  return length;
}

int CurlExchange::onProgress(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                             curl_off_t uploadNow) {
  auto* self = static_cast<CurlExchange*>(user);
  if (uploadNow != self->uploaded_) {
    self->uploaded_ = uploadNow;
    self->lastActivity_ = Clock::now();
  }
  // Until curl knows the size, 0 of 0 bytes is no finished upload.
  if (uploadTotal > 0 && uploadNow >= uploadTotal)
    self->uploadDone_ = true;
  return 0;
}

int CurlExchange::onConnected(void* user, char*, char*, int, int) {
  auto* self = static_cast<CurlExchange*>(user);
  // Called again for every redirect hop: a new request goes out.
  self->connected_ = true;
  self->headComplete_ = false;
  self->lastActivity_ = Clock::now();
  return CURL_PREREQFUNC_OK;
}

}  // namespace qarvo
