// Inputs shared by the benchmarks: result pages as the services send them and
// the engine's way of reading one.
#pragma once

#include <string>
#include <vector>

#include "engine/page_extraction.h"
#include "platform/text.h"

namespace qarvo::bench {

// A 爱站 reverse-WHOIS result page as its UTF-8 body, of at least `minBytes`
// bytes: the site's head (meta charset, styles, scripts, navigation), the
// result table with as many rows as it takes (each domain cell padded with
// blanks, a full-width space and a link, as the site writes it; now and then a
// row whose domain cell is blank), and the pager. *domainCount receives the
// number of domains the page lists.
std::string aizhanPageUtf8(std::size_t minBytes, int* domainCount);

// The same kind of page without a meta charset, so that decoding has to look
// at every byte to tell that it is UTF-8.
std::string undeclaredUtf8Page(std::size_t minBytes);

// What the program does with a fetched 爱站 page: fetchPage's decoding of the
// body (no charset in the response headers, so mode 0), then the domains of
// the page as the page walk reads them, with the extractor that the walk makes
// once per address. GBK, joined by CR LF.
Text decodeAndExtract(const Bytes& body, PageExtractor& extractor);

// Number of CR LF separated entries in `joined` (0 for empty text).
int countLines(const Text& joined);

}  // namespace qarvo::bench
