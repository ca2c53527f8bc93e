#include "web/curl_exchange.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/dbcs.h"
#include "web/http_request.h"

namespace qarvo {
namespace {

// A server that sends header lines without end is not listened to for ever.
constexpr std::size_t kMaxHeadBytes = 1024 * 1024;
constexpr long kMaxRedirects = 10;
// Longest single wait in the transfer loop, so the silence limits are looked at often enough.
constexpr long kPollSliceMs = 50;

bool isHeaderNameChar(unsigned char c) {
  return c > 0x20 && c < 0x7F && c != ':';
}

// "Name: value" with a well-formed name, or nullptr when the line is no header.
bool splitHeaderLine(std::string_view line, std::string_view* name, std::string_view* value) {
  if (line.find_first_of("\r\n") != std::string_view::npos)
    return false;
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0)
    return false;
  *name = line.substr(0, colon);
  for (unsigned char c : *name) {
    if (!isHeaderNameChar(c))
      return false;
  }
  *value = line.substr(colon + 1);
  while (!value->empty() && (value->front() == ' ' || value->front() == '\t'))
    value->remove_prefix(1);
  while (!value->empty() && (value->back() == ' ' || value->back() == '\t'))
    value->remove_suffix(1);
  return true;
}

int statusCodeOf(std::string_view head) {
  // "HTTP/1.1 200 OK"
  std::size_t blank = head.find(' ');
  if (blank == std::string_view::npos)
    return 0;
  return std::atoi(std::string(head.substr(blank + 1, 3)).c_str());
}

bool headHasLocation(std::string_view head) {
  std::size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string_view::npos) {
    at += 2;
    if (asciiToLower(head.substr(at, 9)) == "location:")
      return true;
  }
  return false;
}

bool needsEscape(unsigned char c) {
  return c <= 0x20 || c >= 0x7F;
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

  bool set(const std::string& url) {
    return url_ != nullptr && curl_url_set(url_, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
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
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // The body is handed on exactly as the server sent it.
  curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy_, CURLOPT_PROXY, "");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs_));
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlExchange::onHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlExchange::onBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlExchange::onProgress);
  curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CurlExchange::onConnected);
  curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
}

CurlExchange::~CurlExchange() {
  if (easy_ != nullptr)
    curl_easy_cleanup(easy_);
  if (headerList_ != nullptr)
    curl_slist_free_all(headerList_);
  if (multi_ != nullptr)
    curl_multi_cleanup(multi_);
}

bool CurlExchange::setProxy(const std::string& proxy) {
  return ready() && curl_easy_setopt(easy_, CURLOPT_PROXY, proxy.c_str()) == CURLE_OK;
}

bool CurlExchange::setTimeout(int milliseconds) {
  if (!ready())
    return false;
  timeoutMs_ = milliseconds;
  return curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                          static_cast<long>(std::max(0, milliseconds))) == CURLE_OK;
}

bool CurlExchange::openRequest(const std::string& url, const std::string& method) {
  if (!ready() || method.empty())
    return false;
  method_ = method;
  bool secure = asciiToLower(std::string_view(url).substr(0, 8)) == "https://";
  return curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https") ==
             CURLE_OK;
}

bool CurlExchange::setCredentials(bool forProxy, const std::string& user,
                                  const std::string& password) {
  if (!ready())
    return false;
  if (forProxy) {
    return curl_easy_setopt(easy_, CURLOPT_PROXYUSERNAME, user.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_PROXYPASSWORD, password.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)) ==
               CURLE_OK;
  }
  return curl_easy_setopt(easy_, CURLOPT_USERNAME, user.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_PASSWORD, password.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) == CURLE_OK;
}

bool CurlExchange::ignoreCertificateErrors() {
  return ready() && curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK &&
         curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 0L) == CURLE_OK;
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

ExchangeOutcome CurlExchange::perform(const std::string& body) {
  if (!ready())
    return ExchangeOutcome::kNotSetUp;

  // Method and body.
  bool carriesBody = !body.empty() || method_ == "POST" || method_ == "PUT";
  if (method_ == "HEAD" && body.empty()) {
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
  } else if (carriesBody) {
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy_, CURLOPT_COPYPOSTFIELDS, body.c_str());
    if (method_ != "POST")
      curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method_.c_str());
  } else if (method_ == "GET") {
    curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method_.c_str());
  }

  // Only the caller's headers go out: curl's own Accept, form Content-Type and
  // Expect are switched off unless the caller gave them.
  for (const char* own : {"accept", "content-type", "expect"}) {
    if (std::find(headerNames_.begin(), headerNames_.end(), own) != headerNames_.end())
      continue;
    std::string off = std::string(own) + ":";
    curl_slist* grown = curl_slist_append(headerList_, off.c_str());
    if (grown == nullptr)
      return ExchangeOutcome::kNotSetUp;
    headerList_ = grown;
  }
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);

  connected_ = false;
  uploadDone_ = !carriesBody;
  headComplete_ = false;
  uploaded_ = -1;
  head_.clear();
  headBytes_ = 0;
  body_.clear();
  lastActivity_ = Clock::now();
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK)
    return ExchangeOutcome::kNotSetUp;

  bool finished = false;
  bool timedOut = false;
  CURLcode result = CURLE_OK;
  while (!finished) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
        result = message->data.result;
        finished = true;
      }
    }
    if (finished)
      break;
    long waitMs = kPollSliceMs;
    // Until the connection stands, curl's connect limit rules; after that, silence is timed here.
    if (connected_ && timeoutMs_ > 0) {
      auto idle =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastActivity_);
      if (idle.count() >= timeoutMs_) {
        timedOut = true;
        break;
      }
      waitMs = std::min<long>(waitMs, timeoutMs_ - idle.count());
    }
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs), nullptr);
  }
  curl_multi_remove_handle(multi_, easy_);

  if (finished && result == CURLE_OK)
    return ExchangeOutcome::kComplete;
  if (headComplete_)
    return ExchangeOutcome::kBodyBroken;
  if (timedOut)
    return uploadDone_ ? ExchangeOutcome::kNoResponse : ExchangeOutcome::kSendFailed;
  if (!connected_ || result == CURLE_SEND_ERROR)
    return ExchangeOutcome::kSendFailed;
  return ExchangeOutcome::kNoResponse;
}

size_t CurlExchange::onHeader(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlExchange*>(user);
  size_t length = size * count;
  self->lastActivity_ = Clock::now();
  self->headBytes_ += length;
  if (self->headBytes_ > kMaxHeadBytes)
    return 0;
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    // A new response begins: after an interim answer or a redirect.
    self->head_.assign(line);
    self->head_ += "\r\n";
    self->headBytes_ = length;
    self->headComplete_ = false;
    return length;
  }
  self->head_.append(line);
  self->head_ += "\r\n";
  if (line.empty()) {
    int status = statusCodeOf(self->head_);
    // The head of an interim answer, or of a redirect that curl goes on to
    // follow, is not the response yet.
    bool redirecting =
        self->follow_ && status >= 300 && status < 400 && headHasLocation(self->head_);
    self->headComplete_ = status >= 200 && !redirecting;
  }
  return length;
}

size_t CurlExchange::onBody(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlExchange*>(user);
  size_t length = size * count;
  self->lastActivity_ = Clock::now();
  if (self->body_.size() + length > kMaxResponseBodyBytes)
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
