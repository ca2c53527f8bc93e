// Reading the services' result pages: the domains of a page and the number
// of pages the pager announces.
#pragma once

#include <optional>

#include "engine/page_reading.h"
#include "engine/service_endpoints.h"
#include "platform/text.h"

namespace qarvo {

// The page readers of the built-in service descriptions, made once per
// address and reused for each of its pages.
class PageExtractor {
 public:
  PageExtractor();

  // The domains listed on one result page of `service`, in markup order,
  // joined by CR LF; empty unless PageReader takes the page for a result
  // page (so also for a "no data" page, a rate-limit page, or a page with an
  // entry that is no domain name). Cells that are empty after cleaning, and
  // the column heading "域名", are left out.
  Text domains(Service service, TextView page);

  // The last page number the pager of `service` announces; 0 when the page
  // has no pager.
  static int totalPages(Service service, TextView page);

 private:
  // Made on first use: a walk reads one service only.
  std::optional<PageReader> aizhan_;
  std::optional<PageReader> chinaz_;
};

// The integer a text starts with, read like the C library's atoi: leading
// white space skipped, an optional sign, digits up to the first non-digit; 0
// when there are none. Values beyond the int range are held at its edges.
int leadingInteger(TextView text);

}  // namespace qarvo
