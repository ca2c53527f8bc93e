#include "engine/page_fetch.h"

#include <memory>
#include <mutex>
#include <set>

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

namespace {

constexpr std::string_view kSecure = "https://";

bool startsWithIgnoringCase(std::string_view text, std::string_view head) {
  if (text.size() < head.size())
    return false;
  for (std::size_t i = 0; i < head.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != head[i])
      return false;
  }
  return true;
}

// The host (with its port, as written) of an https URL; "" for any other URL.
std::string secureHostOf(std::string_view url) {
  if (!startsWithIgnoringCase(url, kSecure))
    return {};
  std::string_view rest = url.substr(kSecure.size());
  rest = rest.substr(0, rest.find_first_of("/?#"));
  // User information is not part of the host.
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos)
    rest.remove_prefix(at + 1);
  std::string host(rest);
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return host;
}

struct FallbackState {
  std::mutex mutex;
  std::set<std::string> plainHosts;
};

}  // namespace

PageFetcher withHttpFallback(PageFetcher inner,
                             std::function<void(const std::string& host)> fellBack) {
  auto state = std::make_shared<FallbackState>();
  return [inner = std::move(inner), fellBack = std::move(fellBack),
          state](const PageRequest& request) -> PageResponse {
    const std::string host = secureHostOf(request.url);
    if (host.empty())
      return inner(request);
    PageRequest plain = request;
    plain.url = "http://" + request.url.substr(kSecure.size());
    bool known = false;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      known = state->plainHosts.count(host) > 0;
    }
    if (known)
      return inner(plain);
    PageResponse response = inner(request);
    if (response.failure != TransferFailure::kNoSecureChannel ||
        (request.cancel != nullptr && request.cancel->load()))
      return response;
    bool first = false;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      first = state->plainHosts.insert(host).second;
    }
    if (first && fellBack)
      fellBack(host);
    return inner(plain);
  };
}

}  // namespace qarvo
