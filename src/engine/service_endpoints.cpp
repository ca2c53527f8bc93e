#include "engine/service_endpoints.h"

namespace qarvo {

namespace {

constexpr std::string_view kChinazQueryTail =
    "&ddlSearchMode=1&st=&startDay=&endDay=&wTimefilter=$wTimefilter&page=";

std::string baseUrl(Service service, const ServiceEndpoints& endpoints,
                    std::string_view encodedAddress) {
  std::string url = "http://";
  if (service == Service::kAizhan) {
    url += endpoints.aizhanHost;
    url += "/reverse-whois?q=";
    url += encodedAddress;
    url += "&t=email";
  } else {
    url += endpoints.chinazHost;
    url += "/reverse?host=";
    url += encodedAddress;
    url += kChinazQueryTail;
  }
  return url;
}

}  // namespace

std::string servicePageUrl(Service service, const ServiceEndpoints& endpoints,
                           std::string_view encodedAddress, int page) {
  std::string url = baseUrl(service, endpoints, encodedAddress);
  if (service == Service::kAizhan) {
    if (page != 1)
      url += "&page=" + std::to_string(page);
  } else {
    url += std::to_string(page);
  }
  return url;
}

std::string serviceResultPageUrl(Service service, const ServiceEndpoints& endpoints,
                                 std::string_view encodedAddress) {
  return baseUrl(service, endpoints, encodedAddress);
}

std::string chinazSignInUrl(const ServiceEndpoints& endpoints) {
  return "http://" + endpoints.chinazToolSite + "/";
}

}  // namespace qarvo
