// Reading one answer of a service: what kind of page it is, and its domains.
//
// A look-up may only rest on pages the program recognised. Every answer is
// one of: a result page (the result block with entries that are domain
// names), a no-data page (the service's no-data text, or the result block
// without entries), the service's throttle page, its sign-in wall, or
// unrecognised: anything else, including an HTTP error page with a body, a
// proxy's page, a verification wall and a changed layout. An entry that is
// not a plausible domain name makes the whole page unrecognised, since a
// shifted column is what a layout change looks like.
#pragma once

#include <string>

#include "engine/service_description.h"
#include "platform/text.h"
#include "text/com_regex.h"
#include "text/markup_extractor.h"

namespace qarvo {

enum class PageKind { kResult, kNoData, kThrottle, kSignInWall, kUnrecognised };

// Machine word: "result", "no data", "throttle", "sign-in wall", "unrecognised".
const char* pageKindName(PageKind kind);

struct PageReading {
  PageKind kind = PageKind::kUnrecognised;
  Text domains;  // kResult: GBK, joined by "\r\n", in markup order
  int domainCount = 0;
  int totalPages = 0;  // the pager's last page; 0 when there is no pager
  std::string why;     // kUnrecognised: what did not fit (UTF-8 English, one line)
};

// Reads pages of one service. Made once per address and reused for its
// pages (it holds the compiled cleaners).
class PageReader {
 public:
  // `description` is read, not copied: it must outlive the reader.
  explicit PageReader(const ServiceDescription& description);

  // `status` is the HTTP status of the answer (0: unknown, taken as 200). Any
  // status but 200 makes the page unrecognised, except that the throttle
  // texts are still looked for.
  PageReading read(TextView page, int status = 200);

 private:
  void appendCleaned(TextView cell, PageReading* reading);

  const ServiceDescription& description_;
  ComRegex tagStripper_;
  ComRegex blankTrimmer_;
  MarkupExtractor extractor_;
  // The description's markers as search options, made once.
  FindElementOptions blockOptions_;
  FindAllOptions entryOptions_;
  FindElementOptions cellOptions_;
};

// The last page number `pager` finds on `page`; 0 when the page has no pager
// (or the pager has no markers).
int announcedPages(const PagerMarker& pager, TextView page);

// A GBK text that can be a domain name: at least two labels separated by
// ".", each 1 to 63 bytes of letters (any script), digits and hyphens, not
// beginning or ending with a hyphen; no blanks or other characters; at most
// 253 bytes. "张三.中国" and "xn--fiqs8s.cn" pass; "2024-01-31",
// "Example Registrar" and "a..b" do not. Every GB18030 character beyond
// ASCII is a letter except full-width blanks and punctuation (row A1, and row
// A3 but for the full-width letters and digits). A final "." is refused, and
// so is an all-digit last label ("10.0.0.1", "2024.01.31").
bool isPlausibleDomain(TextView gbkText);

}  // namespace qarvo
