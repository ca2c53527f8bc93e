#include "engine/service_endpoints.h"

#include "engine/service_description.h"

namespace qarvo {

std::string servicePageUrl(Service service, const ServiceEndpoints& endpoints,
                           std::string_view encodedAddress, int page) {
  return pageUrl(builtInDescription(service, endpoints), encodedAddress, page);
}

std::string serviceResultPageUrl(Service service, const ServiceEndpoints& endpoints,
                                 std::string_view encodedAddress) {
  return resultPageUrl(builtInDescription(service, endpoints), encodedAddress);
}

std::string chinazSignInUrl(const ServiceEndpoints& endpoints) {
  return builtInDescription(Service::kChinaz, endpoints).signInUrl;
}

}  // namespace qarvo
