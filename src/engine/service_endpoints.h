// The two reverse-WHOIS services: where they live and how their URLs look.
#pragma once

#include <string>
#include <string_view>

namespace qarvo {

// Where the two services live. The real hosts by default; tests point these
// at loopback fakes ("127.0.0.1:port"). The services' pages are asked over
// `scheme`: https, so that the sign-in cookie and the addresses looked up do
// not cross the network in clear (and the cookie is not dropped by a redirect
// from http to https); a run may fall back to http for a service whose https
// port will not speak TLS (withHttpFallback). The sign-in page stays http: the
// browser follows the site's own redirects.
struct ServiceEndpoints {
  std::string scheme = "https";                     // of the services' pages
  std::string aizhanHost = "whois.aizhan.com";      // 爱站 reverse-WHOIS host
  std::string chinazHost = "whois.chinaz.com";      // 站长 WHOIS host
  std::string chinazToolSite = "tool.chinaz.com";   // 站长 tool site (sign-in)
  std::string makerPage = "http://qarvo.example/";  // the maker's web page
};

enum class Service { kAizhan, kChinaz };

// URL of result page `page` (1-based) for an address already run through
// encodeAddress(). 爱站 leaves "&page=" off on page 1; 站长 always sends it.
std::string servicePageUrl(Service service, const ServiceEndpoints& endpoints,
                           std::string_view encodedAddress, int page);

// URL of the address's result page for a web browser: the page URL without
// a page number (站长: ending in "&page=").
std::string serviceResultPageUrl(Service service, const ServiceEndpoints& endpoints,
                                 std::string_view encodedAddress);

// Root page of the 站长 tool site, where the user signs in.
std::string chinazSignInUrl(const ServiceEndpoints& endpoints);

}  // namespace qarvo
