// CurlExchange: one HTTP exchange over a libcurl easy handle, set up step by
// step the way the platform's HTTP function interfaces are driven.
//
// It stands in for the WinHTTP functions (and the internet library's) behind
// winHttpFetch and the internet-library back-ends of fetchPageDirect. Each
// set-up call reports whether it took, so the caller can name the step that
// failed; perform() then runs the whole exchange and says in which phase it
// broke off, in the terms of those interfaces:
//
//   sending   - no connection could be made, or the request did not go out;
//   receiving - the response head did not come back (in time);
//   reading   - the head came, the body broke off.
//
// Nothing here touches the event pump or any state outside the object, so an
// exchange may run on a worker thread. Nothing throws.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include <curl/curl.h>

namespace qarvo {

// Initialises libcurl once for the process; safe to call from any thread.
void initialiseCurl();

// Whether the libcurl at hand speaks HTTP at all (the platform check).
bool curlSpeaksHttp();

// The parts of an absolute http or https URL, as the platform's URL cracker
// hands them out.
struct CrackedUrl {
  bool secure = false;  // https
  std::string host;
  int port = 0;            // the scheme's port when the URL names none
  std::string path;        // "/" when the URL has none
  std::string extraInfo;   // "?" and the query; empty when there is none
  std::string requestUrl;  // scheme, host, port, path and query, for curl
};

// Cracks `url` (UTF-8; blanks, controls and bytes of 0x80 and above in the
// path and query are percent-escaped). False for a URL without scheme, with a
// scheme other than http and https, without host or with a host that is not
// plain ASCII. User information and the fragment are not part of the result.
bool crackHttpUrl(std::string_view url, CrackedUrl* cracked);

enum class ExchangeOutcome {
  kComplete,
  kNotSetUp,    // the exchange could not be started
  kSendFailed,  // no connection, or the request did not go out
  kNoResponse,  // no complete response head came back in time
  kBodyBroken,  // the head came; the body broke off (what came is kept)
};

class CurlExchange {
 public:
  CurlExchange();
  ~CurlExchange();
  CurlExchange(const CurlExchange&) = delete;
  CurlExchange& operator=(const CurlExchange&) = delete;

  // False when libcurl could not give a handle; every later call then fails.
  bool ready() const { return easy_ != nullptr && multi_ != nullptr; }

  // The proxy in curl's form ("host:port", "http://host:port"); empty: a
  // direct connection (the http_proxy environment is not consulted either).
  bool setProxy(const std::string& proxy);
  // One limit for name resolution with connecting, for sending and for
  // receiving: the longest silence tolerated in each phase.
  bool setTimeout(int milliseconds);
  // The absolute URL (http or https, already escaped) and the method name.
  bool openRequest(const std::string& url, const std::string& method);
  // Basic credentials for the server or for the proxy.
  bool setCredentials(bool forProxy, const std::string& user, const std::string& password);
  // Accept certificates of unknown authorities, out of date, for another name
  // or for another use.
  bool ignoreCertificateErrors();
  // Whether cookies set by a redirect's answer go on to the next hop.
  bool setAutomaticCookies(bool on);
  // Redirects are followed unless switched off; a secure request is never
  // redirected to a plain one.
  bool setFollowRedirects(bool follow);
  // Adds "Name: value" lines. False (and nothing added) when a non-empty line
  // is no header: no name, no colon, or a stray CR or LF in it. Empty lines are
  // passed over.
  bool addHeaderLines(const std::vector<std::string>& lines);

  // Sends the request with `body` (no body when empty, except that POST and
  // PUT always carry a length) and reads the whole response.
  ExchangeOutcome perform(const std::string& body);

  // The final response's head: its status line and header lines, each ending
  // in CR LF, and the empty line. Empty when no head came.
  const std::string& head() const { return head_; }
  // The body bytes received (also after a broken body).
  std::string& body() { return body_; }

 private:
  using Clock = std::chrono::steady_clock;

  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                        curl_off_t uploadNow);
  static int onConnected(void* self, char*, char*, int, int);

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headerList_ = nullptr;
  std::vector<std::string> headerNames_;  // lowered, of the lines added
  std::string method_ = "GET";
  int timeoutMs_ = 30000;
  bool follow_ = true;

  // Progress of the running exchange.
  bool connected_ = false;     // a connection stands for the current request
  bool uploadDone_ = false;    // the request body is out
  bool headComplete_ = false;  // the current response head has ended
  curl_off_t uploaded_ = -1;
  Clock::time_point lastActivity_;
  std::string head_;
  std::size_t headBytes_ = 0;
  std::string body_;
};

}  // namespace qarvo
