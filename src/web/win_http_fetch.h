// winHttpFetch: a page fetch over the platform's HTTP function interface.
//
// Unlike fetchPage it builds its request headers itself, handles cookies
// itself and names the step that failed in a numbered status message. It is
// the WinHTTP back-end of ComHttp::fetchPageDirect. libcurl does the work
// here; see winHttpFetch for how its failures map onto the steps.
#pragma once

#include "platform/stop_flag.h"
#include "platform/text.h"
#include "web/cookie_text.h"  // mergeCookies

namespace qarvo {

// Arguments of winHttpFetch after the URL. Out-arguments are pointers
// (nullptr: not wanted); each is set afresh by the call.
struct WinHttpFetchOptions {
  int method = 0;                   // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE,
                                    // 7 CONNECT; any other number GET
  Text postText{};                  // request body as text
  Text requestCookies{};            // "name=value; ..." to send
  Text* returnedCookies = nullptr;  // the response's cookies (merged with the request's)
  Text headers{};                   // header lines separated by CR LF
  Text* responseHeaders = nullptr;  // the response's raw head, CR LF separated
  bool disableRedirects = false;
  Text user{};
  Text password{};
  Text proxy{};  // "host:port"; empty: a direct connection
  Text proxyUser{};
  Text proxyPassword{};
  int timeoutSeconds = 0;         // below 1: 30 seconds
  Text* location = nullptr;       // the response's Location header
  Text* statusMessage = nullptr;  // a numbered failure message, or e.g. "200 OK\r"
  bool mergeWithRequest = true;   // returned cookies carry on the request's other cookies
  bool addDefaultHeaders = true;
  Bytes postBytes{};  // request body as bytes; wins over postText
  bool normaliseHeaderNames = true;
  const StopFlag* cancel = nullptr;  // raised while waiting (events are then pumped): the fetch
                                 // ends at once, as the failing step says
};

// Fetches `url` (an absolute http or https URL; nothing is put in front) and
// returns the body, empty after any failure before the body. A body that
// breaks off is returned as far as it came, with message 713. The whole
// exchange ends within the time-out (as each of its phases does). Request
// cookies holding CR or LF are refused as bad headers (710): they would add
// lines of their own to the request.
Bytes winHttpFetch(const Text& url, const WinHttpFetchOptions& options = {});

// Every header name (the text before the first ":" of a line) with the first
// letter of each "-"-separated part in upper case; values stay as they are.
Text normaliseHeaderNames(TextView headers);

// The request method for a method number.
const char* winHttpMethodName(int method);

// The one time-out used for resolving, connecting, sending and receiving.
int winHttpTimeoutMs(int timeoutSeconds);

// The proxy name handed to the session: "http=" + proxy for a plain request
// (the proxy serves http only), the bare proxy for a secure one.
Text winHttpProxyName(TextView proxy, bool secure);

// The proxy that a session with proxy name `name` uses for a plain or secure
// request, in curl's form: entries are separated by ";" or blanks, "scheme="
// limits an entry to that scheme. Empty: a direct connection.
Text curlProxyFor(TextView name, bool secure);

// The header block that goes out: `headers` (with CR LF after them), the
// default lines for the ones missing, names normalised, an explicit
// "Connection: keep-alive" line left out and the Cookie line added.
Text winHttpHeaderBlock(TextView headers, int method, TextView requestCookies,
                        bool addDefaultHeaders, bool normaliseNames);

// The status part of a raw response head: from its tenth character up to and
// including the CR that ends the first line ("200 OK\r").
Text statusPartOf(TextView rawHeaders);

}  // namespace qarvo
