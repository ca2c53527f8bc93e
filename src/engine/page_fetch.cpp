#include "engine/page_fetch.h"

#include "web/com_http.h"

namespace qarvo {

PageResponse fetchServicePage(const PageRequest& request) {
  ComHttp http;
  http.createRequest();
  PageResponse response;
  response.body = http.fetchPage(request.url, {.timeoutSeconds = request.timeoutSeconds,
                                               .cookies = request.cookies,
                                               .spoofClientAddress = true,
                                               .cancel = request.cancel});
  response.status = static_cast<int>(http.status());
  response.failure = response.body.empty() ? http.lastFailure() : TransferFailure::kNone;
  return response;
}

}  // namespace qarvo
