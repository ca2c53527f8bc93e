// Fuzz target: MarkupExtractor over any document, nested and broken markup
// included. The tag name, attribute conditions, keywords, occurrence and flags
// come from the input; the rest of the input is the document.
//
// Invariants:
//   * a raw element (whole or inner) is a substring of the document; a whole
//     element starts with "<" and the tag name and ends with ">";
//   * the tightened result is tightenEquals of the raw one;
//   * findAll's count, itemCount and the list search's decimal text agree;
//     every raw item is a substring of the document; items 0 and count + 1
//     are empty;
//   * the n-th element of a single search is the n-th entry of the list;
//   * a single search, a copy of the extractor and a nested search run from
//     the event pump leave the list and the outer search's result alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "platform/text.h"
#include "text/markup_extractor.h"

namespace qarvo {
namespace {

using fuzz::isSubstring;

// Byte-wise ASCII lower-casing, for comparing tag names found with the
// document's own character stepping.
Text lowerBytes(TextView text) {
  Text out(text);
  for (char& c : out)
    c = asciiLower(c);
  return out;
}

// Whether every lead byte is followed by a real trail byte (0x40 and above),
// so that no blank, quote or ">" hides as the second byte of a character.
bool wellFormed(TextView text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isLeadByte(static_cast<unsigned char>(text[i]))) {
      if (i + 1 >= text.size() || static_cast<unsigned char>(text[i + 1]) < 0x40)
        return false;
      ++i;
    }
  }
  return true;
}

// The event pump runs one nested search, on another extractor, at the
// pumpTrigger-th pump call, the way a right-click handler does while a search
// is in progress.
int pumpCalls = 0;
int pumpTrigger = -1;
const Text kNestedDocument = "<td><td>a</td><tr><td>b</td></tr></td><td>c</td>";

void nestingPump() {
  if (++pumpCalls != pumpTrigger)
    return;
  MarkupExtractor nested;
  const Text found = nested.findElement(kNestedDocument, {.tagName = "td", .raw = true});
  FUZZ_CHECK(found == "<td><td>a</td><tr><td>b</td></tr></td>");
  FUZZ_CHECK(nested.findAll(kNestedDocument, {.tagNames = "td"}) == 4);
}

void armPump(int trigger) {
  pumpCalls = 0;
  pumpTrigger = trigger;
}

std::vector<Text> rawItems(const MarkupExtractor& extractor) {
  std::vector<Text> items;
  for (int n = 1; n <= extractor.itemCount(); ++n)
    items.push_back(extractor.item(n, true));
  return items;
}

void checkWholeElement(const Text& element, TextView document, const FindElementOptions& options) {
  if (element.empty())
    return;
  FUZZ_CHECK(isSubstring(element, document));
  FUZZ_CHECK(element.front() == '<');
  FUZZ_CHECK(element.back() == '>');
  if (options.tagName.empty())
    return;
  const bool ignoreCase = options.caseInsensitive.value_or(true);
  const Text opening = "<" + options.tagName;
  const Text closing = "</" + options.tagName + ">";
  // The start tag ends at its first ">", which may lie inside a tag name that
  // holds one.
  const Text start = ignoreCase ? lowerBytes(element) : element;
  const Text wanted = ignoreCase ? lowerBytes(opening) : opening;
  if (options.tagName.find('>') == Text::npos) {
    FUZZ_CHECK(start.starts_with(wanted));
  } else {
    FUZZ_CHECK(start.starts_with(wanted) || wanted.starts_with(start));
  }
  // An element is its start tag alone (no ">" before its end) or ends with
  // its closing tag.
  if (element.find('>') + 1 != element.size()) {
    if (ignoreCase) {
      FUZZ_CHECK(lowerBytes(element).ends_with(lowerBytes(closing)));
    } else {
      FUZZ_CHECK(element.ends_with(closing));
    }
  }
}

void fuzzOne(FuzzedDataProvider& input) {
  const std::uint16_t flags = input.ConsumeIntegral<std::uint16_t>();
  const int occurrence = input.ConsumeIntegralInRange<int>(0, 6);
  const int trigger = input.ConsumeIntegralInRange<int>(0, 48);
  const int attributeCount = input.ConsumeIntegralInRange<int>(0, 3);

  FindElementOptions options;
  options.tagName = input.ConsumeRandomLengthString(12);
  for (int i = 0; i < attributeCount; ++i) {
    options.attrNames.push_back(input.ConsumeRandomLengthString(12));
    // A missing value counts as empty; leave the last one out now and then.
    if (i + 1 < attributeCount || (flags & 0x100) == 0)
      options.attrValues.push_back(input.ConsumeRandomLengthString(12));
  }
  options.keywords = input.ConsumeRandomLengthString(12);
  options.containsMode = flags & 0x1;
  options.allAttributes = flags & 0x2;
  if (flags & 0x4)
    options.caseInsensitive = (flags & 0x8) != 0;
  options.innerOnly = flags & 0x10;
  options.lettersOnly = flags & 0x20;
  const bool pathQuery = flags & 0x40;
  const bool tagQuery = flags & 0x80;
  const Text document = input.ConsumeRemainingBytesAsString();

  MarkupExtractor extractor;

  // The list of every matching element.
  FindAllOptions all{.tagNames = options.tagName,
                     .attrNames = options.attrNames,
                     .attrValues = options.attrValues,
                     .keywords = options.keywords,
                     .containsMode = options.containsMode,
                     .allAttributes = options.allAttributes,
                     .caseInsensitive = options.caseInsensitive,
                     .innerOnly = options.innerOnly,
                     .lettersOnly = options.lettersOnly};
  const int count = extractor.findAll(document, all);
  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(count == extractor.itemCount());
  FUZZ_CHECK(extractor.item(0).empty());
  FUZZ_CHECK(extractor.item(count + 1).empty());
  FUZZ_CHECK(extractor.item(-1, true).empty());
  const std::vector<Text> items = rawItems(extractor);
  for (int n = 1; n <= count; ++n) {
    const Text& item = items[static_cast<std::size_t>(n - 1)];
    FUZZ_CHECK(isSubstring(item, document));
    if (!options.innerOnly) {
      FUZZ_CHECK(!item.empty());
      FUZZ_CHECK(item.front() == '<');
    }
    FUZZ_CHECK(extractor.item(n) == extractor.tightenEquals(item));
  }
  // The list search itself reports its count as decimal text.
  if (options.tagName.find('|') == Text::npos && !options.tagName.empty()) {
    MarkupExtractor lister;
    FindElementOptions listOptions = options;
    listOptions.occurrence = -1;
    FUZZ_CHECK(lister.findElement(document, listOptions) == std::to_string(count));
    FUZZ_CHECK(rawItems(lister) == items);
  }

  // Single searches: the raw element, checked against the list.
  FindElementOptions single = options;
  single.occurrence = occurrence;
  single.raw = true;
  armPump(trigger);
  const EventPump previousPump = setEventPump(&nestingPump);
  const Text rawWithNesting = extractor.findElement(document, single);
  setEventPump(previousPump);
  armPump(-1);
  const Text raw = extractor.findElement(document, single);
  FUZZ_CHECK(raw == rawWithNesting);
  if (!raw.empty())
    FUZZ_CHECK(extractor.lastElement() == raw);
  if (options.innerOnly) {
    FUZZ_CHECK(isSubstring(raw, document));
  } else {
    checkWholeElement(raw, document, single);
  }
  single.raw = false;
  FUZZ_CHECK(extractor.findElement(document, single) == extractor.tightenEquals(raw));

  // Same name, same conditions: the n-th passing element is the n-th entry.
  // (With lettersOnly the any-tag search counts elements it then rejects.)
  const bool comparable = !options.innerOnly && options.tagName.find('|') == Text::npos &&
                          (!options.lettersOnly || !options.tagName.empty() || occurrence == 0);
  if (comparable) {
    const int n = occurrence == 0 ? 1 : occurrence;
    FUZZ_CHECK(raw == (n <= count ? items[static_cast<std::size_t>(n - 1)] : Text()));
    if (occurrence > 0 && count > occurrence) {
      single.raw = true;
      single.occurrence = count;
      FUZZ_CHECK(extractor.findElement(document, single) ==
                 items[static_cast<std::size_t>(count - 1)]);
    }
  }

  // The single searches above left the list alone, and a copy carries it.
  FUZZ_CHECK(extractor.itemCount() == count);
  FUZZ_CHECK(rawItems(extractor) == items);
  const MarkupExtractor copy(extractor);
  FUZZ_CHECK(rawItems(copy) == items);

  // A single search on other text leaves the list too.
  extractor.findElement(TextView(document).substr(0, document.size() / 2), single);
  FUZZ_CHECK(rawItems(extractor) == items);

  if (pathQuery) {
    // The path comes from the attribute texts and the tag name.
    Text path = "<" + options.tagName + ">";
    for (std::size_t i = 0; i < options.attrNames.size(); ++i)
      path += "|" + options.attrNames[i];
    extractor.queryPath(document, path, (flags & 0x200) != 0, occurrence, !options.lettersOnly);
    extractor.queryPath(document, options.keywords, true, 0);
  }

  if (tagQuery && !options.attrNames.empty()) {
    // Setting an attribute to a plain value reads back as that value.
    const TextView name = options.attrNames.front();
    const bool plainName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
    Text tag = raw.empty() ? document.substr(0, 64) : raw.substr(0, raw.find('>') + 1);
    const bool tagWellFormed = wellFormed(tag);
    const Text before = MarkupExtractor::tagAttribute(&tag, name);
    FUZZ_CHECK(MarkupExtractor::tagAttribute(&tag, name, "v1", true) == before);
    if (plainName && tagWellFormed)
      FUZZ_CHECK(MarkupExtractor::tagAttribute(&tag, name) == "v1");
  }
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  qarvo::fuzzOne(input);
  return 0;
}
