#include "web/system_proxy.h"

#include <cstdlib>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "web/curl_exchange.h"

namespace qarvo {
namespace {

// The first of the variables that is set and not empty.
Text environmentValue(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      return Text(value);
  }
  return {};
}

bool isSeparator(char c) {
  return c == ',' || c == ';' || c == ' ' || c == '\t';
}

}  // namespace

Text systemProxyFor(TextView url) {
  bool secure = asciiToLower(url.substr(0, 8)) == "https://";
  Text proxy = secure ? environmentValue({"https_proxy", "HTTPS_PROXY"})
                      : environmentValue({"http_proxy", "HTTP_PROXY"});
  if (proxy.empty())
    proxy = environmentValue({"all_proxy", "ALL_PROXY"});
  return proxy;
}

Text systemProxyBypass() {
  return environmentValue({"no_proxy", "NO_PROXY"});
}

bool proxyBypassed(TextView host, TextView bypass) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty())
    return false;
  const Text lowered = asciiToLower(host);
  std::size_t at = 0;
  while (at < bypass.size()) {
    while (at < bypass.size() && isSeparator(bypass[at]))
      ++at;
    std::size_t end = at;
    while (end < bypass.size() && !isSeparator(bypass[end]))
      ++end;
    TextView entry = bypass.substr(at, end - at);
    at = end;
    if (entry == "*")
      return true;
    if (entry.starts_with('.'))
      entry.remove_prefix(1);
    if (entry.empty())
      continue;
    const Text name = asciiToLower(entry);
    if (lowered == name)
      return true;
    if (lowered.size() > name.size() && lowered.ends_with(name) &&
        lowered[lowered.size() - name.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

Text systemProxyForFetch(TextView url) {
  Text proxy = systemProxyFor(url);
  if (proxy.empty())
    return proxy;
  CrackedUrl cracked;
  if (crackHttpUrl(gbkToUtf8(url), &cracked) && proxyBypassed(cracked.host, systemProxyBypass()))
    return {};
  return proxy;
}

}  // namespace qarvo
