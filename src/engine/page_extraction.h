// Reading the services' result pages: the domains of a page and the number
// of pages the pager announces.
#pragma once

#include "engine/service_endpoints.h"
#include "platform/text.h"
#include "text/com_regex.h"
#include "text/markup_extractor.h"

namespace qarvo {

// The tools one address's page walk needs, made once per address and reused
// for each of its pages: a tag stripper, a blank trimmer and an extractor.
class PageExtractor {
 public:
  PageExtractor();

  // The domains listed on one result page of `service`, in markup order,
  // joined by CR LF; empty when the page holds none (no result block, a "no
  // data" page, a rate-limit page). Cells that are empty after cleaning, and
  // the column heading "域名", are left out.
  Text domains(Service service, TextView page);

  // The last page number the pager of `service` announces; 0 when the page
  // has no pager.
  static int totalPages(Service service, TextView page);

 private:
  void appendCleaned(TextView cell, Text* result);

  ComRegex tagStripper_;
  ComRegex blankTrimmer_;
  MarkupExtractor extractor_;
};

// The integer a text starts with, read like the C library's atoi: leading
// white space skipped, an optional sign, digits up to the first non-digit; 0
// when there are none. Values beyond the int range are held at its edges.
int leadingInteger(TextView text);

}  // namespace qarvo
