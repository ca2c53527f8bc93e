// The one way the page walk fetches a result page.
//
// The walk asks through a PageFetcher so that tests and other front ends can
// run it without a server; the real fetcher is fetchServicePage.
#pragma once

#include <functional>
#include <string>

#include "platform/stop_flag.h"
#include "platform/text.h"
#include "web/http_request.h"

namespace qarvo {

struct PageRequest {
  std::string url;
  float timeoutSeconds = 30.0f;
  Text* cookies = nullptr;           // the Cookie header value (站长), or null
  const StopFlag* cancel = nullptr;  // raised: the fetch ends at once
};

struct PageResponse {
  Text body = {};  // GBK; empty when nothing came
  int status = 0;
  // kNoSecureChannel: the https port refused or spoke no TLS; kCertificate:
  // the peer's certificate was rejected.
  TransferFailure failure = TransferFailure::kNone;
};

using PageFetcher = std::function<PageResponse(const PageRequest&)>;

// A GET of the page with a fresh request object: the page fetch with the
// random client-address headers, the cookies given and the time limit.
PageResponse fetchServicePage(const PageRequest& request);

// `inner`, with a way back to http for a host whose https port refuses the
// connection or does not speak TLS: that page is asked again over http at
// once, and every later https page of that host (scheme, host and port as the
// URL gives them) goes over http from the start. `fellBack` hears the host
// ("whois.aizhan.com", "127.0.0.1:8443") the first time only, on the thread
// of the fetch that found it out. A rejected certificate never falls back.
// Copies share what they learnt, and may fetch from several threads at once;
// a new decorator (a new run) tries https again.
PageFetcher withHttpFallback(PageFetcher inner,
                             std::function<void(const std::string& host)> fellBack);

}  // namespace qarvo
