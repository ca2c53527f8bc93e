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
  Text* cookies = nullptr;       // the Cookie header value (站长), or null
  const StopFlag* cancel = nullptr;  // raised: the fetch ends at once
};

struct PageResponse {
  Text body = {};  // GBK; empty when nothing came
  int status = 0;
  TransferFailure failure = TransferFailure::kNone;
};

using PageFetcher = std::function<PageResponse(const PageRequest&)>;

// A GET of the page with a fresh request object: the page fetch with the
// random client-address headers, the cookies given and the time limit.
PageResponse fetchServicePage(const PageRequest& request);

}  // namespace qarvo
