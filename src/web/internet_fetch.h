// The internet-library back-ends of ComHttp::fetchPageDirect.
//
// Both send one GET or POST with a header text of their own making and return
// the body, the raw response head and the response's cookies. The direct one
// runs on the calling thread. The threaded one runs the same exchange on a
// worker thread while the calling thread waits and lets pending window events
// run; the worker sees nothing but its parameter block and result, and it has
// ended (and been joined) before the call returns. libcurl does the work.
// Both check the peer's certificate on a secure request and never follow a
// redirect back to http once a hop was https; the whole exchange ends within
// the time-out.
#pragma once

#include "platform/stop_flag.h"
#include "platform/text.h"

namespace qarvo {

struct InternetFetchRequest {
  Text url{};      // absolute http or https URL
  int method = 0;  // 1: POST; anything else: GET
  Text headers{};  // header lines separated by CR LF
  Text referer{};  // the threaded back-end's Referer line
  Text cookies{};  // sent in a Cookie line when not empty
  Bytes body{};
  Text proxy{};                  // "host:port"; empty: a direct connection
  int timeoutSeconds = 0;        // connect, send, receive and the whole; below 1: 30 seconds
  const StopFlag* cancel = nullptr;  // raised while waiting: the fetch ends at once. The direct
                                 // back-end pumps events while it waits only when given one
};

struct InternetFetchResult {
  Bytes body{};    // as far as it came
  Text headers{};  // the response's raw head; empty when none came
  Text cookies{};  // "name=value; " for each Set-Cookie line, in order
};

// On the calling thread.
InternetFetchResult internetFetch(const InternetFetchRequest& request);

// On a worker thread; the caller processes pending events until it has ended.
InternetFetchResult threadedInternetFetch(const InternetFetchRequest& request);

// The header text each back-end sends: the given lines, then its default
// lines for the headers missing, then the Cookie line. The threaded one drops
// a "RefererNo" marker from the given headers and then adds no Referer. A
// Referer or Cookie line whose text holds CR or LF is left out: it would add
// lines of its own.
Text internetHeaderText(const InternetFetchRequest& request, bool threaded);

}  // namespace qarvo
