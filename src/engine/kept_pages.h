// Pages the program did not recognise, kept for the user to see.
//
// When a service answers with a page that is neither a result, a no-data
// page, a throttle page nor a sign-in wall, the look-up fails; the page
// itself is the only evidence of why (a verification wall, a proxy's page, a
// changed layout). The last 50 such pages are kept in the user's cache
// folder, $XDG_CACHE_HOME/qarvo-dorvane/pages/ (~/.cache/... by default),
// named by service, address and page, so a message can say where to look.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace qarvo {

inline constexpr int kKeptPagesLimit = 50;

// The folder the pages are kept in (GBK path, not created here).
Text keptPagesFolder();

struct KeptPage {
  std::string serviceKey;  // "aizhan", "chinaz"
  Text address;            // GBK
  int page = 0;
  std::string url;
  int status = 0;  // HTTP status
  Text body;       // the page as decoded (GBK)
};

// Writes the page as an HTML file (UTF-8, with a comment naming the URL,
// status and time) named "<service>-<address>-p<page>-<time>-<n>.html"
// (address characters unsafe in a file name replaced, <n> keeping pages of
// the same second apart), then removes the oldest kept pages beyond
// kKeptPagesLimit. Returns the file's path (GBK), empty when it could not be
// written or the service key is not a known one.
Text keepPage(const KeptPage& page);

}  // namespace qarvo
