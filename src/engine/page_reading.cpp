#include "engine/page_reading.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/page_extraction.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "text/text_between.h"

namespace qarvo {

const char* pageKindName(PageKind kind) {
  switch (kind) {
    case PageKind::kResult:
      return "result";
    case PageKind::kNoData:
      return "no data";
    case PageKind::kThrottle:
      return "throttle";
    case PageKind::kSignInWall:
      return "sign-in wall";
    case PageKind::kUnrecognised:
      break;
  }
  return "unrecognised";
}

namespace {

FindElementOptions elementOptions(const ElementMarker& marker) {
  FindElementOptions options;
  options.tagName = marker.tag;
  if (!marker.attribute.empty()) {
    options.attrNames = {marker.attribute};
    options.attrValues = {marker.value};
    options.containsMode = marker.contains;
  }
  return options;
}

// A cell as a message may quote it: UTF-8, on one line, not too long.
std::string excerpt(TextView gbkCell) {
  constexpr std::size_t kLimit = 60;
  std::string text = gbkToUtf8(gbkCell);
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  if (text.size() > kLimit) {
    std::size_t cut = kLimit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
      --cut;  // not inside a character
    text.resize(cut);
    text += "...";
  }
  return "\"" + text + "\"";
}

// The character boundary at or after `from`, walking on from the boundary
// `boundary`; ASCII runs eight bytes at a time.
std::size_t nextBoundary(TextView text, std::size_t boundary, std::size_t from) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (boundary < from) {
    std::uint64_t word = 0;
    if (boundary + 8 <= from) {
      std::memcpy(&word, text.data() + boundary, 8);
      if ((word & kHighBits) == 0) {
        boundary += 8;
        continue;
      }
    }
    boundary += charLength(text, boundary);
  }
  return boundary;
}

// 0-based start of the first occurrence of `what` at or after `from` that
// begins a character, as findText() finds it (case-sensitive); npos if none.
std::size_t findAligned(TextView text, TextView what, std::size_t from) {
  std::size_t boundary = 0;
  for (std::size_t at = searchBytes(text, what, from); at != TextView::npos;
       at = searchBytes(text, what, at + 1)) {
    boundary = nextBoundary(text, boundary, at);
    if (boundary == at && !cutsFourByteCharacter(text, at, what.size()))
      return at;
  }
  return TextView::npos;
}

// 0-based start of the last occurrence of `what` that begins a character and
// ends at or before `end`, as findLastText() finds it; npos if none.
std::size_t findLastAligned(TextView text, TextView what, std::size_t end) {
  std::size_t found = TextView::npos;
  std::size_t boundary = 0;
  for (std::size_t at = searchBytes(text, what, 0); at != TextView::npos && at + what.size() <= end;
       at = searchBytes(text, what, at + 1)) {
    boundary = nextBoundary(text, boundary, at);
    if (boundary == at && !cutsFourByteCharacter(text, at, what.size()))
      found = at;
  }
  return found;
}

// Whether one of `texts` occurs in `page`, as findText() would find it.
bool containsAny(TextView page, const std::vector<Text>& texts) {
  return std::any_of(texts.begin(), texts.end(), [page](const Text& text) {
    return !text.empty() && findAligned(page, text, 0) != TextView::npos;
  });
}

// textBetween(page, left, right, position 0, backward) for markers without
// quotes, with quick byte searches: the case-insensitive searches of
// textBetween walk the page character by character, which costs as much as
// reading all of its entries. Letters in the markers are matched on a
// lower-cased copy of the page.
Text outerPagerText(TextView page, const PagerMarker& pager) {
  bool plain = true, caseless = true;
  for (TextView marker : {TextView(pager.left), TextView(pager.right)}) {
    plain = plain && marker.find('"') == TextView::npos && marker.find("''") == TextView::npos;
    caseless = caseless && asciiToLower(marker) == asciiToUpper(marker);
  }
  if (!plain) {
    int position = 0;
    return textBetween(page, pager.left, pager.right, &position, pager.backward);
  }
  const Text lowered = caseless ? Text() : asciiToLower(page);
  const TextView text = caseless ? page : TextView(lowered);
  const Text left = asciiToLower(pager.left);
  const Text right = asciiToLower(pager.right);
  std::size_t l = 0, r = 0;
  if (pager.backward) {
    r = findAligned(text, right, 0);
    if (r == TextView::npos)
      return Text();
    l = findLastAligned(text, left, r);
  } else {
    l = findAligned(text, left, 0);
    if (l == TextView::npos)
      return Text();
    r = findAligned(text, right, l + left.size());
  }
  if (l == TextView::npos || r == TextView::npos || r <= l + left.size())
    return Text();
  return Text(page.substr(l + left.size(), r - l - left.size()));
}

}  // namespace

PageReader::PageReader(const ServiceDescription& description) : description_(description) {
  static const Text kBlankPattern = gbk("^[ 　\\t\\r\\n]+|[ 　\\t\\r\\n]+$");
  tagStripper_.create("<[\\s\\S]+?>");
  blankTrimmer_.create(kBlankPattern);
  blockOptions_ = elementOptions(description.resultBlock);
  const FindElementOptions entry = elementOptions(description.entry);
  entryOptions_.tagNames = entry.tagName;
  entryOptions_.attrNames = entry.attrNames;
  entryOptions_.attrValues = entry.attrValues;
  entryOptions_.containsMode = entry.containsMode;
  cellOptions_ = elementOptions(description.domainCell);
  cellOptions_.occurrence = description.domainCellOccurrence;
  cellOptions_.innerOnly = true;
}

// A cell that is no domain name leaves the reading unrecognised, with `why`
// saying so; the caller names the entry.
void PageReader::appendCleaned(TextView cell, PageReading* reading) {
  Text cleaned = blankTrimmer_.replace(tagStripper_.replace(cell));
  if (cleaned.empty() || std::find(description_.headings.begin(), description_.headings.end(),
                                   cleaned) != description_.headings.end())
    return;
  if (!isPlausibleDomain(cleaned)) {
    reading->why = "not a domain name: " + excerpt(cleaned);
    return;
  }
  if (!reading->domains.empty())
    reading->domains.append("\r\n");
  reading->domains.append(cleaned);
  ++reading->domainCount;
}

PageReading PageReader::read(TextView page, int status) {
  PageReading reading;
  // A throttle page may come with any status (429, 503, or 200).
  if (containsAny(page, description_.throttleTexts)) {
    reading.kind = PageKind::kThrottle;
    return reading;
  }
  if (status != 0 && status != 200) {
    reading.why = "HTTP " + std::to_string(status);
    return reading;
  }
  if (page.empty()) {
    reading.why = "empty page";
    return reading;
  }
  if (containsAny(page, description_.signInWallTexts)) {
    reading.kind = PageKind::kSignInWall;
    return reading;
  }
  const Text block = extractor_.findElement(page, blockOptions_);
  if (block.empty()) {
    if (containsAny(page, description_.noDataTexts)) {
      reading.kind = PageKind::kNoData;
    } else {
      reading.why = "no result block and no no-data text";
    }
    return reading;
  }
  const bool wholeEntry = description_.domainCell.tag.empty();
  const int entries = extractor_.findAll(block, entryOptions_);
  for (int n = 1; n <= entries; ++n) {
    // A single-element search keeps the entry list of findAll intact.
    appendCleaned(
        wholeEntry ? extractor_.item(n) : extractor_.findElement(extractor_.item(n), cellOptions_),
        &reading);
    if (!reading.why.empty()) {
      reading.why = "entry " + std::to_string(n) + " is " + reading.why;
      reading.domains.clear();
      reading.domainCount = 0;
      return reading;
    }
  }
  if (reading.domainCount == 0) {
    reading.kind = PageKind::kNoData;
    return reading;
  }
  reading.kind = PageKind::kResult;
  reading.totalPages = announcedPages(description_.pager, page);
  return reading;
}

int announcedPages(const PagerMarker& pager, TextView page) {
  if (pager.left.empty() || pager.right.empty())
    return 0;
  Text found = outerPagerText(page, pager);
  if (!pager.innerLeft.empty()) {
    int inner = 0;
    found = textBetween(found, pager.innerLeft, pager.innerRight, &inner);
  }
  return std::max(0, leadingInteger(found));
}

namespace {

bool isAsciiLetterOrDigit(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

// Letters of other scripts are taken by their GB18030 form: any double-byte
// or four-byte character is a letter, except the rows that hold punctuation
// and blanks: A1 (the full-width space, "。", "、", brackets) and A3 other
// than the full-width digits and letters. A final "." is refused: the
// services never write one, and a result list should hold one form of a
// name. The last label may not be all digits (no top-level domain is), so
// neither a dotted date nor an IP address passes.
bool isPlausibleDomain(TextView gbkText) {
  const std::size_t size = gbkText.size();
  if (size == 0 || size > 253)
    return false;
  int labels = 1;
  std::size_t labelLength = 0;
  bool labelAllDigits = true;
  unsigned char previous = '.';
  for (std::size_t i = 0; i < size;) {
    const unsigned char c = static_cast<unsigned char>(gbkText[i]);
    std::size_t length = 1;
    bool digit = false;
    if (c == '.') {
      if (labelLength == 0 || previous == '-')
        return false;
      ++labels;
      labelLength = 0;
      labelAllDigits = true;
      previous = c;
      ++i;
      continue;
    }
    if (c == '-') {
      if (labelLength == 0)
        return false;
    } else if (c < 0x80) {
      if (!isAsciiLetterOrDigit(c))
        return false;
      digit = c >= '0' && c <= '9';
    } else {
      if (c == 0x80 || c == 0xFF || i + 1 >= size)
        return false;
      const unsigned char trail = static_cast<unsigned char>(gbkText[i + 1]);
      if (trail >= 0x30 && trail <= 0x39) {
        // Four bytes: lead, digit, lead, digit.
        if (i + 3 >= size)
          return false;
        const unsigned char third = static_cast<unsigned char>(gbkText[i + 2]);
        const unsigned char fourth = static_cast<unsigned char>(gbkText[i + 3]);
        if (third < 0x81 || third > 0xFE || fourth < 0x30 || fourth > 0x39)
          return false;
        length = 4;
      } else {
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF)
          return false;
        if (c == 0xA1)
          return false;
        if (c == 0xA3) {
          const bool fullWidthDigit = trail >= 0xB0 && trail <= 0xB9;
          const bool fullWidthLetter =
              (trail >= 0xC1 && trail <= 0xDA) || (trail >= 0xE1 && trail <= 0xFA);
          if (!fullWidthDigit && !fullWidthLetter)
            return false;
          digit = fullWidthDigit;
        }
        length = 2;
      }
    }
    labelLength += length;
    if (labelLength > 63)
      return false;
    labelAllDigits = labelAllDigits && digit;
    previous = c;
    i += length;
  }
  return labelLength > 0 && previous != '-' && labels >= 2 && !labelAllDigits;
}

}  // namespace qarvo
