// HttpRequest: one HTTP request object over libcurl, in the shape of the
// WinHttpRequest automation object that ComHttp drives.
//
// The member names are the component's own (Open, Send, Status, ...), so that
// ComHttp reads as a thin wrapper. The object keeps its settings (time-outs,
// proxy, credentials, options) from one request to the next; Open starts a new
// request and forgets the previous request's headers and response.
//
// A synchronous Open performs the whole transfer inside Send, which ends
// within the receive time-out as a whole as well as after a silence that long.
// An asynchronous Open only starts it in Send; WaitForResponse then drives it
// on the calling thread, up to its limit. Transfers run on CurlExchange, over
// the process's warm connections. Redirects are followed, but never back to
// http once a hop was https; certificates are checked unless the
// SslErrorIgnoreFlags option says otherwise. Nothing here throws and nothing
// reports an error: a call that fails leaves the response values empty
// (status 0, empty texts and bytes), and so does a transfer that has not
// finished yet.
//
// Strings: the URL and the request header texts go out as the bytes given
// (bytes of 0x80 and above in a URL are percent-escaped); status text and
// response headers come back as the bytes the server sent. ResponseText is the
// only decoded value and is UTF-16, as the component hands it out.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>

#include "platform/stop_flag.h"
#include "platform/text.h"

namespace qarvo {

// A value of the request object's Option property.
using HttpOptionValue = std::variant<std::monostate, int, std::string, Bytes>;

// Option indexes with a meaning here; every other index is stored and read back.
inline constexpr int kOptionUserAgentString = 0;
inline constexpr int kOptionUrl = 1;  // read only: the URL of the open request
inline constexpr int kOptionSslErrorIgnoreFlags = 4;
inline constexpr int kOptionEnableRedirects = 6;  // non-zero: follow redirects (the default)

// Why the last transfer brought no response.
enum class TransferFailure {
  kNone,        // a response came (or no transfer ran)
  kConnection,  // refused, unresolvable, reset or cut off
  kTimeout,     // a time-out or the wait's limit passed
  kCancelled,   // the cancel flag was raised
  // An https URL whose port refused the connection or answered without
  // speaking TLS (a plain HTTP server, say): http may work where https does not.
  kNoSecureChannel,
  // The peer's certificate was rejected (authority, date or name): never a
  // reason to try without TLS.
  kCertificate,
};

// SslErrorIgnoreFlags bits.
inline constexpr int kSslIgnoreUnknownCa = 0x0100;
inline constexpr int kSslIgnoreWrongUsage = 0x0200;
inline constexpr int kSslIgnoreCertCnInvalid = 0x1000;
inline constexpr int kSslIgnoreCertDateInvalid = 0x2000;

// SetProxy settings.
inline constexpr int kProxySettingDefault = 0;  // the platform's: http_proxy / no_proxy
inline constexpr int kProxySettingDirect = 1;   // no proxy at all
inline constexpr int kProxySettingProxy = 2;    // the given server

// SetCredentials flags.
inline constexpr int kCredentialsForServer = 0;
inline constexpr int kCredentialsForProxy = 1;

// Bodies larger than this are not accepted: the transfer is aborted and counts
// as failed.
inline constexpr std::size_t kMaxResponseBodyBytes = 64u * 1024u * 1024u;
// Nor are response heads beyond this, counted over every answer of a request
// together: interim answers and the hops of redirects.
inline constexpr std::size_t kMaxResponseHeadBytes = 1024u * 1024u;

class HttpRequest {
 public:
  HttpRequest();
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Starts a new request (an unfinished one is dropped). An empty method is
  // "GET"; one that is no HTTP token (a blank, CR or LF in it) fails the Send.
  void Open(std::string_view method, std::string_view url, bool async = false);

  // Adds a request header, replacing one of the same name (letter case
  // ignored). An empty value sends the header with nothing after the colon.
  // A name or value holding CR or LF is refused.
  void SetRequestHeader(std::string_view name, std::string_view value);

  // Sends the open request with no body, a text body or a byte body (curl
  // keeps its own copy). One Send per Open: without an open request nothing
  // happens, and a transfer that runs keeps its body.
  void Send();
  void Send(std::string_view body);
  void Send(const Bytes& body);

  // Drives an asynchronous transfer until it ends or `seconds` pass (-1 or
  // less: no limit). True when the response is complete.
  bool WaitForResponse(int seconds = -1);

  // Drops the running transfer and the response.
  void Abort();

  // While a transfer runs, every wait processes the program's pending events
  // every few milliseconds, so the window answers during a fetch. When
  // `*flag` (may be null) is true at such a point, the transfer is dropped at
  // once and the request fails as cancelled. The flag must outlive the waits.
  void SetCancelFlag(const StopFlag* flag);
  // Why the last transfer ended without a response (kNone after a response).
  TransferFailure LastFailure() const;

  int Status() const;
  std::string StatusText() const;
  // The body decoded by the charset of Content-Type (a byte-order mark wins;
  // UTF-8 when neither says).
  std::u16string ResponseText() const;
  Bytes ResponseBody() const;
  std::istringstream ResponseStream() const;

  // The value of the first response header of that name (letter case
  // ignored); empty when absent.
  std::string GetResponseHeader(std::string_view name) const;
  // The final response's header lines, each followed by CR LF, without the
  // status line.
  std::string GetAllResponseHeaders() const;

  // Milliseconds; 0 or less waits without limit. Defaults: 0, 60000, 30000, 30000.
  // Send is the longest silence while the body goes out, receive after it.
  void SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);
  // `bypass` is a list of host names separated by ";" or ",".
  void SetProxy(int setting, std::string_view server = {}, std::string_view bypass = {});
  void SetCredentials(std::string_view user, std::string_view password, int flags);

  // The UserAgentString option goes out as the User-Agent line unless a
  // request header names one; an agent holding CR or LF is not sent.
  HttpOptionValue Option(int index) const;
  void SetOption(int index, const HttpOptionValue& value);

  // Here the name of a PEM file holding the client certificate (and key).
  void SetClientCertificate(std::string_view name);
  // Kept for Option-style read back; automatic logon does not exist here.
  void SetAutoLogonPolicy(int policy);
  int AutoLogonPolicy() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qarvo
