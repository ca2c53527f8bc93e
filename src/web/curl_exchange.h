// CurlExchange: the one core that drives every HTTP transfer of the program.
//
// The request object (HttpRequest), winHttpFetch and the internet-library
// back-ends each set an exchange up step by step and let it run here, so that
// every guarantee holds for all of them alike:
//
//  - connections, name look-ups and TLS sessions come from the process's
//    connection cache (connection_cache.h); a reused connection that the
//    server had closed meanwhile is opened afresh (by curl), unseen by the
//    caller;
//  - limits: connecting, the longest silence while the request goes out and
//    after it, and a deadline for the whole exchange; a stop request ends it
//    at once;
//  - redirects lead to http or https only, and never back to http once a hop
//    was https;
//  - certificates are checked against the system's authorities, or against
//    the bundle that SSL_CERT_FILE names when it is set; a failure says
//    whether the certificate was rejected or the https port would not speak
//    TLS at all (refused, or plain HTTP on it);
//  - no text given for the request can start a header line of its own: header
//    lines and the agent holding CR or LF, and methods that are no token, are
//    refused;
//  - at most kMaxResponseHeadBytes of response heads (every answer of the
//    exchange together: interim ones and redirects) and kMaxResponseBodyBytes
//    of body are taken in; beyond that the exchange breaks off. (The libcurl
//    of Debian 12 stops at 300 KiB of heads on its own already.)
//
// Each set-up call says whether it took, so that a caller can name the step
// that failed. The outcome says in which phase an exchange broke off, in the
// terms of the platform's HTTP function interfaces:
//
//   sending   - no connection could be made, or the request did not go out;
//   receiving - the response head did not come back (in time);
//   reading   - the head came, the body broke off.
//
// An exchange touches nothing outside itself but the connection cache and,
// when asked to, the event pump, so it may run on a worker thread. Nothing
// throws.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <curl/curl.h>

#include "web/http_request.h"  // TransferFailure and the size limits

namespace qarvo {

class ConnectionLease;

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

// Whether `method` can stand in a request line: one HTTP token.
bool isHttpToken(std::string_view method);

// Whether a redirect answered on `currentUrl` may go on to `location` (as the
// Location header gives it, absolute or relative): never from https down to
// another scheme. False when the target cannot be made out.
bool redirectAllowed(const std::string& currentUrl, std::string_view location);

// Times in milliseconds; 0 or less means no limit of that kind (for
// connecting: curl's own).
struct ExchangeLimits {
  long long connectMs = 0;      // name resolution with connecting
  long long sendIdleMs = 0;     // longest silence while the request goes out
  long long receiveIdleMs = 0;  // longest silence after it
  long long totalMs = 0;        // the whole exchange, from its start
  // Response heads of the exchange together, and the body.
  std::size_t maxHeadBytes = kMaxResponseHeadBytes;
  std::size_t maxBodyBytes = kMaxResponseBodyBytes;

  // One limit for every phase and for the whole.
  static ExchangeLimits uniform(long long milliseconds) {
    return {milliseconds, milliseconds, milliseconds, milliseconds};
  }
};

enum class ExchangeOutcome {
  kComplete,
  kNotSetUp,    // the exchange could not be started
  kSendFailed,  // no connection, or the request did not go out
  kNoResponse,  // no complete response head came back in time
  kBodyBroken,  // the head came; the body broke off (what came is kept)
};

class CurlExchange {
 public:
  using Clock = std::chrono::steady_clock;

  CurlExchange();
  ~CurlExchange();
  CurlExchange(const CurlExchange&) = delete;
  CurlExchange& operator=(const CurlExchange&) = delete;

  // False when libcurl could not give a handle; every later call then fails.
  bool ready() const { return easy_ != nullptr && multi_ != nullptr; }

  // Back to a fresh exchange, set-up included; a running one is abandoned.
  void reset();

  // ---- set-up, before start() ----

  // The proxy in curl's form ("host:port", "http://host:port") and hosts that
  // go direct (separated by commas); an empty proxy: a direct connection. The
  // default, until one of these is called, is a direct connection.
  bool setProxy(const std::string& proxy, const std::string& bypass = {});
  // The usual http_proxy / no_proxy environment decides.
  bool useProxyEnvironment();
  bool setLimits(const ExchangeLimits& limits);
  // The absolute URL (http or https, already escaped) and the method name.
  bool openRequest(const std::string& url, const std::string& method);
  // Credentials for the server or for the proxy, offered with `schemes`
  // (CURLAUTH_BASIC, CURLAUTH_ANY, ...).
  bool setCredentials(bool forProxy, const std::string& user, const std::string& password,
                      unsigned long schemes = CURLAUTH_BASIC);
  // Whether the peer's certificate chain (date, authority, use) and its name
  // are checked. Both are, unless switched off.
  bool setCertificateChecks(bool checkChain, bool checkName);
  bool ignoreCertificateErrors() { return setCertificateChecks(false, false); }
  // The PEM file with the client certificate (and key).
  bool setClientCertificate(const std::string& pemFile);
  // Whether cookies set by a redirect's answer go on to the next hop.
  bool setAutomaticCookies(bool on);
  // Redirects are followed unless switched off.
  bool setFollowRedirects(bool follow);
  // The User-Agent line unless a header line names one. False (and no agent)
  // for an agent holding CR or LF.
  bool setUserAgent(const std::string& agent);
  // Adds "Name: value" lines. False (and nothing added) when a non-empty line
  // is no header: no name, no colon, or a stray CR or LF in it. Empty lines are
  // passed over.
  bool addHeaderLines(const std::vector<std::string>& lines);
  // Whether curl's own Accept and form Content-Type stay out unless a line
  // names them (the default); its Expect never goes out unasked.
  void sendOnlyGivenHeaders(bool only) { onlyGivenHeaders_ = only; }
  // How waits go: with `pumpEvents` the program's pending events run every
  // few milliseconds; `stopRequested` (may be empty) is asked as often, and
  // true ends the exchange at once as cancelled.
  void watch(bool pumpEvents, std::function<bool()> stopRequested);

  // ---- running ----

  // Starts sending the request with `body` (no body when empty, except that
  // POST and PUT always carry a length). False when it could not start: the
  // exchange has then ended (kNotSetUp, or cancelled before anything went out).
  bool start(const std::string& body);
  // Runs the started exchange until it ends or `until` passes (it then goes on
  // running); true once it has ended.
  bool drive(std::optional<Clock::time_point> until = std::nullopt);
  // start() and drive() to the end.
  ExchangeOutcome perform(const std::string& body);
  // Ends a running exchange at once, as cancelled.
  void abandon();
  bool running() const { return state_ == State::kRunning; }
  bool ended() const { return state_ == State::kEnded; }

  // ---- results, once ended ----

  ExchangeOutcome outcome() const { return outcome_; }
  // kNone after a complete exchange, else why it ended.
  TransferFailure failure() const { return failure_; }
  // The final response's status code; 0 when none came.
  int status() const { return status_; }
  // The final response's head: its status line and header lines, each ending
  // in CR LF, and the empty line. Empty when no head came.
  const std::string& head() const { return head_; }
  // The body bytes received (also after a broken body).
  std::string& body() { return body_; }

 private:
  enum class State { kSetUp, kRunning, kEnded };

  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                        curl_off_t uploadNow);
  static int onConnected(void* self, char*, char*, int, int);

  void applyDefaults();
  void resetProgress();
  void detach();
  void end(CURLcode result);
  // Why a transfer that was neither stopped nor timed out brought nothing.
  TransferFailure connectionFailureOf(CURLcode result) const;
  bool stopRequested() const { return stopRequested_ && stopRequested_(); }

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  std::unique_ptr<ConnectionLease> lease_;
  curl_slist* headerList_ = nullptr;
  std::vector<std::string> headerNames_;  // lowered, of the lines added
  std::string method_ = "GET";
  std::string url_;  // as opened
  ExchangeLimits limits_ = ExchangeLimits::uniform(30000);
  bool follow_ = true;
  bool onlyGivenHeaders_ = true;
  bool pumpEvents_ = false;
  std::function<bool()> stopRequested_;

  // Progress of the running exchange.
  State state_ = State::kSetUp;
  bool connected_ = false;     // a connection stands for the current request
  bool uploadDone_ = false;    // the request body is out
  bool headComplete_ = false;  // the final response's head has ended
  bool hasBody_ = false;
  bool timedOut_ = false;
  bool cancelled_ = false;
  curl_off_t uploaded_ = -1;
  Clock::time_point started_;
  Clock::time_point lastActivity_;
  std::size_t headBytes_ = 0;  // of every head of the exchange
  std::string head_;
  std::string body_;

  // The end.
  ExchangeOutcome outcome_ = ExchangeOutcome::kNotSetUp;
  TransferFailure failure_ = TransferFailure::kNone;
  int status_ = 0;
};

}  // namespace qarvo
