// ComHttp: the program's HTTP client.
//
// Each instance drives one HttpRequest (the request object) and exposes its
// members as plain text, number and byte operations, plus the page fetch that
// every result page goes through and a few cookie helpers. All texts in and
// out are GBK; nothing throws: failures come back as empty text, 0 or empty
// bytes.
//
// The page query uses it so, once per page attempt:
//
//   ComHttp http;
//   http.createRequest();
//   ...
//   http.reset();
//   Text page = http.fetchPage(url, {.timeoutSeconds = 30.0f,
//                                    .cookies = &cookieText,  // or left out
//                                    .spoofClientAddress = true});
//
// The operations are declared in the order of the class's operation table.
#pragma once

#include <memory>
#include <optional>
#include <sstream>

#include "platform/stop_flag.h"
#include "platform/text.h"
#include "web/http_request.h"

namespace qarvo {

// The default User-Agent of fetchPage.
inline constexpr const char* kDefaultPageUserAgent =
    "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/30.0.1599.101 Safari/537.36";
inline constexpr const char* kDefaultContentType = "application/x-www-form-urlencoded";

// The arguments of fetchPage after the URL, in their order. Left out, each
// takes its default. By-reference arguments are pointers; nullptr means "not
// given" (the fetch then works on a local value).
struct FetchPageOptions {
  Text postText{};                   // request body as text; makes the request a POST
  int* encodingMode = nullptr;       // -2 .. 6 (0 when not given); a 0 may become 2
  float timeoutSeconds = 0.0f;       // see pageFetchTiming
  std::optional<Text> proxy{};       // server[,user,password], "IE" or "-1"
  bool synchronous = false;          // open synchronously and skip the wait
  Bytes postBytes{};                 // request body as bytes; wins over postText
  Text referer{};                    // empty: the URL
  Text* cookies = nullptr;           // Cookie header value; "-1" sends an empty one
  bool keepCookies = false;          // keep the response's cookies for later fetches
  Text contentType{};                // empty: application/x-www-form-urlencoded
  Text userAgent{};                  // empty: kDefaultPageUserAgent
  Text extraHeaders{};               // "Name: value" lines separated by CR LF
  bool spoofClientAddress = false;   // add spoofedAddressHeaders()
  const StopFlag* cancel = nullptr;  // raised: the fetch ends at once, empty (see SetCancelFlag)
};

// What a page fetch's timeoutSeconds turns into.
struct PageFetchTiming {
  bool setTimeouts = false;  // false: the request object's own defaults stay
  int resolveMs = 0;
  int connectMs = 0;
  int sendMs = 0;
  int receiveMs = 0;
  int waitSeconds = 120;  // the limit of WaitForResponse
};
PageFetchTiming pageFetchTiming(float timeoutSeconds);

// URL normalisation of `open`: "http://" in front when the URL has neither
// "http://" nor "https://" (letter case ignored), then the fragment (from the
// first "#") cut off. An empty URL stays empty.
void normaliseUrl(Text* url);

// What fetchPageGzip's whole-second timeoutSeconds turns into: -1 sets no
// time-outs, above 0 all four are that many seconds, otherwise 10, 10, 60 and
// 120 seconds; the wait is the seconds, or 120 below 1.
PageFetchTiming gzipFetchTiming(int timeoutSeconds);

// The whole seconds fetchPageDirect hands its back-end: timeoutSeconds
// truncated toward zero, 120 for 0.
int directFetchTimeoutSeconds(float timeoutSeconds);

// Arguments of the fetch variants that the look-up does not use.
struct FetchGzipOptions {
  Text postText{};
  int timeoutSeconds = 0;  // see gzipFetchTiming
  std::optional<Text> proxy{};
  bool synchronous = false;
  Bytes postBytes{};
  Text referer{};
  Text* cookies = nullptr;
  bool keepCookies = false;
  Text contentType{};
  Text userAgent{};
  Text extraHeaders{};
  int* encodingMode = nullptr;  // a 0 becomes 2 when the headers declare UTF-8
  bool spoofClientAddress = false;
  const StopFlag* cancel = nullptr;  // as fetchPage's
};
struct FetchDirectOptions {
  Text postText{};
  int* encodingMode = nullptr;  // as fetchPage's; a 0 may become 2
  float timeoutSeconds = 0.0f;  // see directFetchTimeoutSeconds
  Text proxy{};                 // "host:port"; empty: none
  int unused = 0;
  Bytes postBytes{};  // wins over postText
  Text referer{};     // empty: the URL. Holding CR or LF: the fetch is refused
  Text cookies{};
  Text extraHeaders{};              // header lines separated by CR LF
  bool useWinInet = false;          // the internet-library back-end
  Text* returnedCookies = nullptr;  // out: the cookies after the exchange
  Bytes* rawBody = nullptr;         // out: the body before decoding
  bool spoofClientAddress = false;
  bool useWinHttpApi = false;        // winHttpFetch; wins over useWinInet. Neither: the threaded
                                     // internet-library back-end
  const StopFlag* cancel = nullptr;  // raised while waiting: the fetch ends at once
};
struct LocationOptions {
  bool synchronous = false;
  Text referer{};  // empty: the URL
  std::optional<Text> cookies{};
  Text proxy{};      // as fetchPage's, used whenever not empty
  Text userAgent{};  // empty: kDefaultPageUserAgent
  Text postText{};   // makes the request a POST
  Text extraHeaders{};
  const StopFlag* cancel = nullptr;  // as fetchPage's
};
struct ProbeEncodingOptions {
  bool synchronous = false;
  Text referer{};
  std::optional<Text> cookies{};
  const StopFlag* cancel = nullptr;  // as fetchPage's
};
struct ProbeStatusOptions {
  bool synchronous = false;
  int timeoutSeconds = 0;  // the wait; 0: 25 seconds
  std::optional<Text> cookies{};
  std::optional<Text> proxy{};       // as fetchPage's
  const StopFlag* cancel = nullptr;  // as fetchPage's
};

class ComHttp {
 public:
  // Construction leaves the request object empty; call createRequest next.
  ComHttp();

  // 0: releases the request object.
  ~ComHttp();
  // 1: shares the request object, copies both cookie texts.
  ComHttp(const ComHttp& other);
  ComHttp& operator=(const ComHttp& other);

  // 2: the Location header of a plain GET of `url` with redirects off.
  Text redirectTarget(const Text& url);
  // 3: (no operation)

  // 4: a fresh request object in place of the current one.
  void recreateRequest();
  // 5: creates the request object.
  void createRequest();
  // 6: normalises *url in place and opens it. An empty method means "GET".
  void open(TextView method, Text* url, bool async = false);
  // 7: another reference to the request object (empty before createRequest).
  std::shared_ptr<HttpRequest> requestObjectRef() const;
  // 8 - 12: the response.
  double status() const;
  Text statusText() const;
  Text responseText() const;
  Bytes responseBody() const;
  std::istringstream responseStream() const;
  // 13: writes the first given of the values to Option(index), then reads it back.
  HttpOptionValue option(int index, std::optional<int> intValue = std::nullopt,
                         std::optional<Text> textValue = std::nullopt,
                         std::optional<Bytes> bytesValue = std::nullopt,
                         std::optional<HttpOptionValue> anyValue = std::nullopt);
  // 14: (no operation)

  // 15: `proxy` is "server[,user,password]"; user and password, when both are
  // non-empty, become proxy credentials.
  void setProxy(int setting = kProxySettingProxy, TextView proxy = {}, TextView bypass = {});
  // 16
  void setCredentials(TextView user, TextView password, int flags = kCredentialsForServer);
  // 17: a Referer value without scheme gets "http://" in front (in *value).
  void setRequestHeader(TextView name, Text* value);
  // 18, 19
  Text getResponseHeader(TextView name) const;
  Text getAllResponseHeaders() const;
  // 20: SSL error-ignore flags to 0, then the bytes, else the text, else no body.
  void send(TextView body = {}, const Bytes& bodyBytes = {});
  // 21 - 25
  void waitForResponse(int seconds);
  void abort();
  // connect, send and receive of 0 or less take the value of resolve.
  void setTimeouts(int resolve, int connect = 0, int send = 0, int receive = 0);
  void setClientCertificate(TextView name);
  void setAutoLogonPolicy(int policy);

  // 26: the value of the named cookie in the response's Set-Cookie headers.
  Text responseCookieValue(TextView name) const;
  // 27: the response's "Set-Cookie:" lines, each followed by CR LF.
  Text setCookieLines() const;
  // 28: kind 1 fetchPage, 2 fetchPageDirect over WinHTTP, other: the threaded back-end.
  // For the other kinds the content type and agent travel as header lines:
  // either holding CR or LF, the fetch is refused (empty text, nothing sent).
  Text fetchVia(int kind, const Text& url, const FetchPageOptions& options = {});
  // 29: downloads `url` and returns the body as GBK text; empty when nothing came back.
  Text fetchPage(const Text& url, const FetchPageOptions& options = {});
  // 30, 31
  Text lastCookiesText() const;
  Text setKeptCookies(TextView cookies);
  // 32: fetchPage's request; the body undecoded, gunzipped when it is gzip.
  Bytes fetchPageGzip(const Text& url, const FetchGzipOptions& options = {});
  // 33: "X-Forward-For", "X-Forwarded-For" and "REMOTE_ADDR" lines naming
  // one random IPv4 address, separated by CR LF.
  Text spoofedAddressHeaders() const;
  // 34
  Text clearKeptCookies();
  // 35: a fetch over the HTTP function interfaces instead of the request
  // object; *url loses its fragment. The body decoded as fetchPage's. A
  // referer (or, standing in for it, a URL) holding CR or LF would add header
  // lines of its own: the fetch is refused (empty text, nothing sent).
  Text fetchPageDirect(Text* url, const FetchDirectOptions& options = {});
  // 36: the Location header of the answer, redirects not followed.
  Text locationOf(const Text& url, const LocationOptions& options = {});
  // 37: 2 when the response headers declare UTF-8, else 0.
  int probeEncoding(const Text& url, const ProbeEncodingOptions& options = {});
  // 38: a fresh request object and no kept cookies; lastCookies stays.
  void reset();
  // 39: the response status, redirects not followed.
  double probeStatus(const Text& url, const ProbeStatusOptions& options = {});
  // 40: the Set-Cookie values joined by "; " (attributes included), ending in "; ".
  Text responseCookies() const;

  // Why the last request brought no response (kNone when one came).
  TransferFailure lastFailure() const;

 private:
  struct PageRequestParts;
  // fetchPage's request up to the wait (shared with fetchPageGzip).
  void sendPageRequest(const Text& url, const PageRequestParts& parts,
                       const PageFetchTiming& timing);
  // The same from fetchPage's or fetchPageGzip's options (`cookies`: the
  // caller's variable), with the caller's cancel flag for the request.
  template <typename Options>
  void sendPageRequest(const Text& url, const Options& options, Text& cookies,
                       const PageFetchTiming& timing);

  std::shared_ptr<HttpRequest> requestObject;
  Text keptCookies;
  Text lastCookies;
};

}  // namespace qarvo
