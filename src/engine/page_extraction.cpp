#include "engine/page_extraction.h"

#include <climits>

#include "platform/code_page.h"
#include "text/text_between.h"

namespace qarvo {

PageExtractor::PageExtractor() {
  static const Text kBlankPattern = gbk("^[ 　\\t\\r\\n]+|[ 　\\t\\r\\n]+$");
  tagStripper_.create("<[\\s\\S]+?>");
  blankTrimmer_.create(kBlankPattern);
}

void PageExtractor::appendCleaned(TextView cell, Text* result) {
  static const Text kHeading = gbk("域名");
  Text cleaned = blankTrimmer_.replace(tagStripper_.replace(cell));
  if (cleaned.empty() || cleaned == kHeading)
    return;
  if (!result->empty())
    result->append("\r\n");
  result->append(cleaned);
}

namespace {

// Search options, filled field by field (the option structs leave their
// other members at their defaults).
FindElementOptions elementWithAttribute(const char* tag, const char* name, const char* value) {
  FindElementOptions options;
  options.tagName = tag;
  options.attrNames = {name};
  options.attrValues = {value};
  return options;
}

}  // namespace

Text PageExtractor::domains(Service service, TextView page) {
  Text result;
  if (service == Service::kAizhan) {
    static const FindElementOptions kBlock =
        elementWithAttribute("div", "class", "reverse-content");
    static const FindAllOptions kRows = [] {
      FindAllOptions options;
      options.tagNames = "tr";
      return options;
    }();
    static const FindElementOptions kSecondCell = [] {
      FindElementOptions options;
      options.tagName = "td";
      options.occurrence = 2;
      options.innerOnly = true;
      return options;
    }();
    const Text block = extractor_.findElement(page, kBlock);
    const int rows = extractor_.findAll(block, kRows);
    for (int n = 1; n <= rows; ++n) {
      // A single-element search keeps the row list of findAll intact.
      appendCleaned(extractor_.findElement(extractor_.item(n), kSecondCell), &result);
    }
  } else {
    static const FindElementOptions kBlock = elementWithAttribute("div", "id", "ajaxInfo");
    static const FindAllOptions kEntries = [] {
      FindAllOptions options;
      options.tagNames = "div";
      options.attrNames = {"class"};
      options.attrValues = {"domain"};
      options.containsMode = true;
      return options;
    }();
    const Text block = extractor_.findElement(page, kBlock);
    const int entries = extractor_.findAll(block, kEntries);
    for (int n = 1; n <= entries; ++n)
      appendCleaned(extractor_.item(n), &result);
  }
  return result;
}

int PageExtractor::totalPages(Service service, TextView page) {
  if (service == Service::kAizhan) {
    // The "last page" link: the nearest "<li" before the end-of-pager icon,
    // then its page number.
    int position = 0;
    Text lastItem = textBetween(page, "<li", "ico-pager-end", &position, true);
    int inner = 0;
    return leadingInteger(textBetween(lastItem, "&page=", "\"", &inner));
  }
  static const Text kLeft = gbk("共");
  static const Text kRight = gbk("页，到第");
  int position = 0;
  return leadingInteger(textBetween(page, kLeft, kRight, &position, true));
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
