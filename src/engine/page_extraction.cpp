#include "engine/page_extraction.h"

#include <climits>

#include "engine/service_description.h"

namespace qarvo {

namespace {

// The built-in descriptions; reading needs no hosts.
const ServiceDescription& builtIn(Service service) {
  static const ServiceDescription aizhan = builtInDescription(Service::kAizhan);
  static const ServiceDescription chinaz = builtInDescription(Service::kChinaz);
  return service == Service::kAizhan ? aizhan : chinaz;
}

// The same without the pager, which domains() has no use for.
const ServiceDescription& withoutPager(Service service) {
  static const ServiceDescription aizhan = [] {
    ServiceDescription d = builtIn(Service::kAizhan);
    d.pager = {};
    return d;
  }();
  static const ServiceDescription chinaz = [] {
    ServiceDescription d = builtIn(Service::kChinaz);
    d.pager = {};
    return d;
  }();
  return service == Service::kAizhan ? aizhan : chinaz;
}

}  // namespace

PageExtractor::PageExtractor() = default;

Text PageExtractor::domains(Service service, TextView page) {
  std::optional<PageReader>& reader = service == Service::kAizhan ? aizhan_ : chinaz_;
  if (!reader)
    reader.emplace(withoutPager(service));
  PageReading reading = reader->read(page);
  return reading.kind == PageKind::kResult ? std::move(reading.domains) : Text();
}

int PageExtractor::totalPages(Service service, TextView page) {
  return announcedPages(builtIn(service).pager, page);
}

int leadingInteger(TextView text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
    ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-'))
    negative = text[at++] == '-';
  long long value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    value = value * 10 + (text[at] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1)
      value = static_cast<long long>(INT_MAX) + 1;
    ++at;
  }
  if (negative)
    value = -value;
  if (value > INT_MAX)
    value = INT_MAX;
  return static_cast<int>(value);
}

}  // namespace qarvo
