#include "text/markup_extractor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/blanks.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "text/keyword_search.h"
#include "text/split_text.h"
#include "text/text_between.h"

namespace qarvo {

namespace {

// Openings and closings counted so far for the element whose end is being
// searched, shared by all extractors.
struct NestingCounters {
  int openingsSeen = 0;
  int closingsSeen = 0;
};
NestingCounters nestingCounters;

// Lets the user interface process pending events. A handler run from here may
// start a search of its own (a nested query), which resets and uses the shared
// nesting counters; put ours back afterwards so the search in progress still
// counts right.
void pumpEvents() {
  const NestingCounters ours = nestingCounters;
  processPendingEvents();
  nestingCounters = ours;
}

constexpr int kNotFound = -1;

int clampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// 1-based position of `what` in the first `limit` bytes of `buffer`, at or
// after the 1-based position `from`; a plain byte search.
int findBytes(TextView buffer, TextView what, std::int64_t from, std::size_t limit) {
  if (what.empty())
    return kNotFound;
  const TextView area = buffer.substr(0, std::min(limit, buffer.size()));
  const std::size_t start = from > 1 ? static_cast<std::size_t>(from - 1) : 0;
  if (start >= area.size())
    return kNotFound;
  const std::size_t hit = searchBytes(area, what, start);
  return hit == TextView::npos ? kNotFound : static_cast<int>(hit + 1);
}

// The search of findTagStart, optionally only for hits that start before the
// 1-based position `before` (so the closing-tag search does not run past the
// closing tag it checks).
int tagStartIn(TextView buffer, TextView pattern, std::int64_t from,
               std::int64_t before = INT64_MAX) {
  if (pattern.empty())
    return kNotFound;
  // A hit starting before `before` lies within this many bytes.
  std::size_t limit = buffer.size();
  if (before != INT64_MAX) {
    if (before <= 1)
      return kNotFound;
    limit = static_cast<std::size_t>(
        std::min<std::int64_t>(before - 2 + static_cast<std::int64_t>(pattern.size()),
                               static_cast<std::int64_t>(buffer.size())));
  }
  std::int64_t at = std::max<std::int64_t>(from, 0);
  while (true) {
    pumpEvents();
    const int hit = findBytes(buffer, pattern, at + 1, limit);
    if (hit == kNotFound)
      return kNotFound;
    if (pattern.size() == 1 && pattern[0] == '<')
      return hit;
    const std::size_t next = static_cast<std::size_t>(hit - 1) + pattern.size();
    if (next >= buffer.size())
      return hit;
    const char c = buffer[next];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
      return hit;
    at = hit;
  }
}

bool isBlankByte(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Equality folding ASCII letters, stepping over double-byte characters.
bool equalsIgnoringCase(TextView a, TextView b) {
  return a.size() == b.size() && (a.empty() || findText(a, b, 1, true) == 1);
}

// The four left markers and right markers under which a start tag may hold
// the value of attribute `name`: name="v", name='v', name=v<blank>, name=v>.
// Joins pieces into one text (GCC 12 mistakes `" " + Text(x)` for an
// overlapping copy at -O3; appending to a reserved text says the same plainly).
Text joined(std::initializer_list<TextView> pieces) {
  std::size_t size = 0;
  for (TextView piece : pieces)
    size += piece.size();
  Text out;
  out.reserve(size);
  for (TextView piece : pieces)
    out.append(piece);
  return out;
}

struct AttributeMarkers {
  Text doubleQuoted;
  Text singleQuoted;
  Text bare;
  explicit AttributeMarkers(TextView name)
      : doubleQuoted(joined({" ", name, "=\""})),
        singleQuoted(joined({" ", name, "='"})),
        bare(joined({" ", name, "="})) {}
};

Text betweenAt0(TextView text, TextView left, TextView right) {
  int position = 0;
  return textBetween(text, left, right, &position);
}

}  // namespace

MarkupExtractor::MarkupExtractor() {
  static const Text pattern = gbk("[\\s　]{0,10}=[\\s　]{0,10}");
  equalsSpacing.create(pattern);
}

MarkupExtractor::~MarkupExtractor() = default;
// A copy never reads the text another extractor is searching.
MarkupExtractor::MarkupExtractor(const MarkupExtractor& other)
    : starts(other.starts),
      ends(other.ends),
      searchBuffer(other.searchBuffer),
      document(other.document),
      equalsSpacing(other.equalsSpacing),
      lastResult(other.lastResult),
      documentTight(other.documentTight),
      documentFoldsToItself(other.documentFoldsToItself),
      lastItem(other.lastItem),
      lastResultFacts(other.lastResultFacts) {}

MarkupExtractor& MarkupExtractor::operator=(const MarkupExtractor& other) {
  if (this != &other) {
    starts = other.starts;
    ends = other.ends;
    searchBuffer = other.searchBuffer;
    searchText = TextView();
    document = other.document;
    equalsSpacing = other.equalsSpacing;
    lastResult = other.lastResult;
    documentTight = other.documentTight;
    documentFoldsToItself = other.documentFoldsToItself;
    lastItem = other.lastItem;
    lastResultFacts = other.lastResultFacts;
  }
  return *this;
}

Text MarkupExtractor::reset() {
  searchBuffer.clear();
  searchText = TextView();
  document.clear();
  documentTight.reset();
  documentFoldsToItself = false;
  lastItem = 0;
  lastResult.clear();
  lastResultFacts = TextFacts();
  return Text();
}

Text MarkupExtractor::queryPath(TextView doc, TextView path, bool listMode, int entry,
                                bool caseInsensitive) {
  Text cleaned(path);
  cleaned.erase(
      std::remove_if(cleaned.begin(), cleaned.end(), [](char c) { return c == '<' || c == '>'; }),
      cleaned.end());
  std::vector<Text> levels;
  for (const Text& part : splitText(cleaned, "|")) {
    const TextView level = trimWhiteSpaceAndFullWidthSpaces(part);
    if (!level.empty())
      levels.emplace_back(level);
  }
  if (levels.empty())
    return Text();

  Text current(doc);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const Text& level = levels[i];
    // Read attribute values from the level as from a start tag.
    Text asTag = "<" + level + ">";
    std::vector<Text> names;
    std::vector<Text> values;
    Text tagName;
    std::size_t at = 0;
    bool first = true;
    while (at < level.size()) {
      while (at < level.size() && isBlankByte(level[at]))
        ++at;
      std::size_t end = at;
      while (end < level.size() && !isBlankByte(level[end]))
        end += charLength(level, end);
      if (end == at)
        break;
      const TextView word = TextView(level).substr(at, end - at);
      at = end;
      if (first) {
        tagName = Text(word);
        first = false;
        continue;
      }
      const std::size_t equals = word.find('=');
      if (equals == TextView::npos || equals == 0 || equals + 1 == word.size())
        continue;
      const TextView name = word.substr(0, equals);
      names.emplace_back(name);
      values.push_back(tagAttribute(&asTag, name));
    }

    const bool last = i + 1 == levels.size();
    if (last && listMode) {
      const int count = findAll(current, {.tagNames = tagName,
                                          .attrNames = names,
                                          .attrValues = values,
                                          .allAttributes = true,
                                          .caseInsensitive = caseInsensitive});
      Text joined;
      for (int n = 1; n <= count; ++n) {
        if (entry > 0 && n != entry)
          continue;
        if (!joined.empty())
          joined.append("\r\n");
        joined.append(item(n));
      }
      return joined;
    }
    current = findElement(current, {.tagName = tagName,
                                    .attrNames = names,
                                    .attrValues = values,
                                    .allAttributes = true,
                                    .caseInsensitive = caseInsensitive,
                                    .raw = !last});
    if (current.empty())
      return Text();
  }
  return current;
}

int MarkupExtractor::findAll(TextView doc, const FindAllOptions& options) {
  FindElementOptions each{.attrNames = options.attrNames,
                          .attrValues = options.attrValues,
                          .keywords = options.keywords,
                          .containsMode = options.containsMode,
                          .allAttributes = options.allAttributes,
                          .occurrence = -1,
                          .caseInsensitive = options.caseInsensitive.value_or(true),
                          .innerOnly = options.innerOnly,
                          .lettersOnly = options.lettersOnly,
                          .raw = false,
                          .append = false};
  // An empty name between two bars would stand for every tag; leave it out.
  std::vector<Text> names = splitText(options.tagNames, "|");
  names.erase(std::remove(names.begin(), names.end(), Text()), names.end());
  if (names.empty())
    names.emplace_back();
  Text count;
  for (std::size_t i = 0; i < names.size(); ++i) {
    each.tagName = names[i];
    each.append = i > 0;
    count = findElement(doc, each);
  }
  return std::atoi(count.c_str());
}

Text MarkupExtractor::tagAttribute(Text* tag, TextView name, TextView newValue, bool set) {
  if (tag == nullptr || name.empty())
    return Text();
  const Text marker = joined({" ", name, "="});

  // Where the value sits: [valueStart, valueEnd) in *tag, and whether quoted.
  std::size_t valueStart = 0;
  std::size_t valueEnd = 0;
  auto locate = [&]() -> bool {
    const int found = findText(*tag, marker, 1, true);
    if (found < 0)
      return false;
    valueStart = static_cast<std::size_t>(found - 1) + marker.size();
    const char quote = valueStart < tag->size() ? (*tag)[valueStart] : '\0';
    if (quote == '"' || quote == '\'') {
      ++valueStart;
      const std::size_t close = tag->find(quote, valueStart);
      valueEnd = close != Text::npos ? close : tag->size();
      return true;
    }
    valueEnd = valueStart;
    while (valueEnd < tag->size()) {
      const char c = (*tag)[valueEnd];
      if (isBlankByte(c) || c == '>')
        break;
      if (c == '/' && valueEnd + 1 < tag->size() && (*tag)[valueEnd + 1] == '>')
        break;
      valueEnd += charLength(*tag, valueEnd);
    }
    valueEnd = std::min(valueEnd, tag->size());
    return true;
  };

  const bool present = locate();
  Text value = present ? tag->substr(valueStart, valueEnd - valueStart) : Text();
  if (!set)
    return value;

  if (!present) {
    const std::size_t gt = tag->rfind('>');
    std::size_t insertAt = tag->size();
    if (gt != Text::npos)
      insertAt = (gt > 0 && (*tag)[gt - 1] == '/') ? gt - 1 : gt;
    tag->insert(insertAt, marker + "\"\"");
    // The new value goes between the quotes just inserted. Searching for them
    // again could miss them (a stray lead byte before them swallows the blank).
    valueStart = insertAt + marker.size() + 1;
    valueEnd = valueStart;
  }
  tag->replace(valueStart, valueEnd - valueStart, newValue);
  return value;
}

bool MarkupExtractor::attributeValueMatches(TextView wanted, TextView candidate1,
                                            TextView candidate2, TextView candidate3,
                                            TextView candidate4, bool containsMode) {
  for (TextView candidate : {candidate1, candidate2, candidate3, candidate4}) {
    if (containsMode) {
      if (findText(candidate, wanted, 1, true) > 0)
        return true;
    } else if (equalsIgnoringCase(trimWhiteSpaceAndFullWidthSpaces(candidate), wanted)) {
      return true;
    }
  }
  return false;
}

int MarkupExtractor::findTagStart(TextView openingPattern, int fromPosition) const {
  return tagStartIn(searchText, openingPattern, fromPosition);
}

Text MarkupExtractor::lastElement() const {
  return lastResult;
}

Text MarkupExtractor::findElement(TextView doc, const FindElementOptions& options) {
  const bool caseInsensitive = options.caseInsensitive.value_or(true);
  const bool listMode = options.occurrence == -1;
  if (listMode && !options.append) {
    starts.clear();
    ends.clear();
  }
  // A page is searched level by level (page, block, row): the text of one
  // level is what this extractor handed out on the level before.
  const std::optional<TextFacts> known = knownFacts(doc);
  // Markup is mostly written in lower case; where folding would change
  // nothing, the search reads the document itself.
  const bool foldsToItself =
      caseInsensitive && ((known && known->foldsToItself) || !containsAsciiUpper(doc));
  // A list search keeps its document for item(); a single search reads the
  // caller's text in place, which leaves the listed document as it was.
  if (listMode) {
    document.assign(doc.data(), doc.size());
    if (known && known->tight)
      documentTight = true;
    else
      documentTight.reset();
    documentFoldsToItself = foldsToItself;
    lastItem = 0;
  }
  const TextView source = listMode ? TextView(document) : doc;
  // The buffer keeps its room from one search to the next.
  if (caseInsensitive && !foldsToItself) {
    searchBuffer.assign(source.data(), source.size());
    asciiToLowerInPlace(&searchBuffer);
    searchText = searchBuffer;
  } else {
    searchText = source;
  }

  Text tagName = options.tagName;
  if (caseInsensitive)
    asciiToLowerInPlace(&tagName);
  const Text opening = "<" + tagName;
  const Text closing = tagName.empty() ? Text() : "</" + tagName + ">";

  std::vector<AttributeMarkers> markers;
  markers.reserve(options.attrNames.size());
  for (const Text& name : options.attrNames)
    markers.emplace_back(name);

  Text elementOpening;
  Text elementClosing;
  int passing = 0;
  std::int64_t h = 0;
  std::optional<int> knownNext;  // what the search below would give, when known
  while (true) {
    pumpEvents();
    const int found = knownNext ? *knownNext : tagStartIn(searchText, opening, h);
    knownNext.reset();
    if (found == kNotFound)
      break;
    h = found;
    const int gt = findBytes(searchText, ">", h + 1, searchText.size());
    if (gt == kNotFound)
      break;  // no later start tag can close either
    const TextView m =
        source.substr(static_cast<std::size_t>(h - 1), static_cast<std::size_t>(gt - h + 1));
    const std::int64_t o = static_cast<std::int64_t>(m.size());
    if (m.starts_with("</"))
      continue;

    if (!options.attrNames.empty()) {
      bool held = false;
      for (std::size_t k = 0; k < markers.size(); ++k) {
        const TextView wanted =
            k < options.attrValues.size() ? TextView(options.attrValues[k]) : TextView();
        if (!wanted.empty()) {
          const AttributeMarkers& mk = markers[k];
          held = attributeValueMatches(
              wanted, betweenAt0(m, mk.doubleQuoted, "\""), betweenAt0(m, mk.singleQuoted, "'"),
              betweenAt0(m, mk.bare, " "), betweenAt0(m, mk.bare, ">"), options.containsMode);
        } else {
          held = findText(m, markers[k].bare, 1, true) > 0;
        }
        if (options.allAttributes ? !held : held)
          break;
      }
      if (!held)
        continue;
    }

    if (!options.keywords.empty() &&
        !containsKeyword(m, options.keywords, !options.allAttributes)) {
      continue;
    }

    if (options.occurrence > 0 && ++passing != options.occurrence)
      continue;

    const Text* elementOpen = &opening;
    const Text* elementClose = &closing;
    std::optional<int> firstOpening;  // the first opening after h, once searched
    if (tagName.empty()) {
      if (options.lettersOnly) {
        const char second = m.size() > 1 ? asciiLower(m[1]) : '\0';
        if (second < 'a' || second > 'z')
          continue;
      }
      // The element's own name, up to the first blank or line break, folded
      // like the text it is searched in: "<DIV>" ends at "</div>" there.
      TextView name = m.substr(1, m.size() - 2);
      std::size_t cutAt = 0;
      while (cutAt < name.size() && !isBlankByte(name[cutAt]))
        cutAt += charLength(name, cutAt);
      name = name.substr(0, cutAt);
      elementOpening = joined({"<", name});
      elementClosing = joined({"</", name, ">"});
      if (caseInsensitive) {
        asciiToLowerInPlace(&elementOpening);
        asciiToLowerInPlace(&elementClosing);
      }
      elementOpen = &elementOpening;
      elementClose = &elementClosing;
    }
    const std::int64_t closeLength = static_cast<std::int64_t>(elementClose->size());

    // End of the element: the first closing tag with as many closings before
    // it as there are nested openings. Asked closing tag by closing tag,
    // closingTagBalanced counts, over its calls for one element, every opening
    // and every closing that begins after the element's start and before the
    // closing tag in question: that is all closing tags found so far, and the
    // openings up to there. The same count is kept here in one forward scan
    // per pattern, where the calls would read the element four times over.
    const bool selfClosing = m.ends_with("/>");
    std::int64_t end = h + o;
    if (!selfClosing) {
      nestingCounters = NestingCounters();
      std::int64_t closeAt = h;
      std::int64_t lastOpening = h;    // the last opening counted, or the start
      std::optional<int> nextOpening;  // the next one, when already found
      while (true) {
        pumpEvents();
        const int next = findBytes(searchText, *elementClose, closeAt + 1, searchText.size());
        if (next == kNotFound)
          break;
        closeAt = next;
        while (true) {
          if (!nextOpening) {
            nextOpening = tagStartIn(searchText, *elementOpen, lastOpening);
            if (!firstOpening)
              firstOpening = *nextOpening;
          }
          if (*nextOpening == kNotFound || *nextOpening >= next)
            break;
          ++nestingCounters.openingsSeen;
          lastOpening = *nextOpening;
          nextOpening.reset();
        }
        if (nestingCounters.openingsSeen == nestingCounters.closingsSeen) {
          end = next + closeLength;
          break;
        }
        ++nestingCounters.closingsSeen;
      }
    }

    if (!listMode) {
      Text result;
      const std::int64_t length = end - h;
      if (!options.innerOnly) {
        result.assign(
            source.substr(static_cast<std::size_t>(h - 1), static_cast<std::size_t>(length)));
      } else if (!selfClosing && length - o - closeLength > 0) {
        result.assign(source.substr(static_cast<std::size_t>(h - 1 + o),
                                    static_cast<std::size_t>(length - o - closeLength)));
      }
      // A piece of a tight text is tight; one that tightenEquals left as it
      // was is too.
      const bool pieceOfTight = known && known->tight;
      const bool unchanged = options.raw || pieceOfTight || tightenInPlace(&result);
      lastResult = result;
      lastResultFacts = {.foldsToItself = foldsToItself && unchanged,
                         .tight = pieceOfTight || (!options.raw && unchanged)};
      searchBuffer.clear();
      searchText = TextView();
      return result;
    }

    if (options.innerOnly) {
      starts.push_back(clampToInt(h + o));
      ends.push_back(clampToInt(selfClosing ? h + o : end - closeLength));
      // Go on right after the start tag, so a nested element that follows it
      // at once is listed too.
      h = h + o - 1;
    } else {
      starts.push_back(clampToInt(h));
      ends.push_back(clampToInt(end));
      // The next start tag is the first opening after this one's start, which
      // the search for its end may have met already.
      if (elementOpen == &opening)
        knownNext = firstOpening;
    }
  }

  searchBuffer.clear();
  searchText = TextView();
  if (!listMode)
    return Text();
  return std::to_string(starts.size());
}

bool MarkupExtractor::closingTagBalanced(TextView openingPattern, TextView closingPattern,
                                         int* rangeStart, int closingPosition,
                                         bool resetCounters) const {
  if (resetCounters) {
    nestingCounters = NestingCounters();
    return true;
  }
  if (rangeStart == nullptr)
    return nestingCounters.openingsSeen == nestingCounters.closingsSeen;
  int lastOpening = kNotFound;
  for (std::int64_t at = *rangeStart;;) {
    const int found = tagStartIn(searchText, openingPattern, at, closingPosition);
    if (found == kNotFound)
      break;
    ++nestingCounters.openingsSeen;
    lastOpening = found;
    at = found;
  }
  int lastClosing = kNotFound;
  if (!closingPattern.empty() && closingPosition > 1) {
    const std::size_t limit = static_cast<std::size_t>(closingPosition - 2) + closingPattern.size();
    for (std::int64_t at = *rangeStart;;) {
      pumpEvents();
      const int found = findBytes(searchText, closingPattern, at + 1, limit);
      if (found == kNotFound)
        break;
      ++nestingCounters.closingsSeen;
      lastClosing = found;
      at = found;
    }
  }
  if (lastOpening != kNotFound || lastClosing != kNotFound) {
    *rangeStart = std::max(lastOpening, lastClosing);
  }
  return nestingCounters.openingsSeen == nestingCounters.closingsSeen;
}

TextView MarkupExtractor::entryText(int n) const {
  if (n < 1 || n > itemCount())
    return TextView();
  const std::int64_t start = starts[static_cast<std::size_t>(n - 1)];
  const std::int64_t end = ends[static_cast<std::size_t>(n - 1)];
  const auto size = static_cast<std::int64_t>(document.size());
  // An entry whose end lies before its start (innerOnly on an element without
  // a closing tag) has no text.
  if (start < 1 || start > size || end <= start)
    return TextView();
  const std::int64_t length = std::min(end - start, size - start + 1);
  return TextView(document).substr(static_cast<std::size_t>(start - 1),
                                   static_cast<std::size_t>(length));
}

Text MarkupExtractor::item(int n, bool raw) const {
  Text text(entryText(n));
  if (!raw && !entriesAreTight())
    tightenInPlace(&text);
  lastItem = text.empty() ? 0 : n;
  return text;
}

std::optional<MarkupExtractor::TextFacts> MarkupExtractor::knownFacts(TextView text) const {
  if (lastItem != 0 && entryText(lastItem) == text) {
    return TextFacts{.foldsToItself = documentFoldsToItself,
                     .tight = documentTight.value_or(false)};
  }
  if (!text.empty() && TextView(lastResult) == text)
    return lastResultFacts;
  return std::nullopt;
}

int MarkupExtractor::itemCount() const {
  return static_cast<int>(starts.size());
}

namespace {

// Whether the pattern of tightenEquals can do more to `text` than send it
// through UTF-16 and back. Most "=" in markup stand between a name and a
// quote. When no "=" has a byte beside it that could belong to a blank (ASCII
// white space, or any byte of 0x80 and above, for U+3000), every match is a
// bare "=" put back as it was (a byte below 0x80 beside "=" is that character
// itself or the trail byte of a double-byte character, and neither is a
// blank).
bool equalsMayTouchBlank(TextView text) {
  auto mayBeBlank = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || byte == ' ' || (byte >= '\t' && byte <= '\r');
  };
  auto touches = [&](std::size_t at) {
    return (at > 0 && mayBeBlank(text[at - 1])) ||
           (at + 1 < text.size() && mayBeBlank(text[at + 1]));
  };
  std::size_t i = 0;
#if defined(__SSE2__)
  // Markup has an "=" every few dozen bytes: sixteen bytes at a time.
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    auto equals =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('='))));
    for (; equals != 0; equals &= equals - 1) {
      if (touches(i + static_cast<std::size_t>(__builtin_ctz(equals))))
        return true;
    }
  }
#endif
  for (; i < text.size(); ++i) {
    if (text[i] == '=' && touches(i))
      return true;
  }
  return false;
}

}  // namespace

Text MarkupExtractor::tightenEquals(TextView text) const {
  // Nothing to tighten without "="; this also hands such text back untouched.
  if (text.find('=') == TextView::npos)
    return Text(text);
  // Running the pattern over every row of a page is costly; when it can only
  // put every "=" back, the replacement comes down to the trip through UTF-16
  // and back, and for text of well-formed characters that trip is known to
  // change nothing.
  if (equalsMayTouchBlank(text))
    return equalsSpacing.replace(text, "=");
  if (survivesUtf16RoundTrip(text))
    return Text(text);
  return utf16ToGbk(gbkToUtf16(text));
}

bool MarkupExtractor::tightenInPlace(Text* text) const {
  if (text->find('=') == Text::npos)
    return true;
  if (!equalsMayTouchBlank(*text) && survivesUtf16RoundTrip(*text))
    return true;
  *text = tightenEquals(*text);
  return false;
}

bool MarkupExtractor::entriesAreTight() const {
  if (!documentTight) {
    documentTight = document.find('=') == Text::npos ||
                    (!equalsMayTouchBlank(document) && survivesUtf16RoundTrip(document));
  }
  return *documentTight;
}

void MarkupExtractor::placeholder(int /*unused*/) const {}

}  // namespace qarvo
