#include "text/com_regex.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/code_page.h"
#include "platform/dbcs.h"

namespace qarvo {

// The compiled pattern. `code` is null when the pattern does not compile; the
// object still exists and keeps its pattern text, as the scripting object
// accepts any pattern and fails only when it is used.
struct ComRegex::RegexObject {
  Text patternText;
  bool global = true;
  pcre2_code* code = nullptr;
  pcre2_match_data* matchData = nullptr;
  std::uint32_t captureCount = 0;
  bool jit = false;  // the JIT compiled the pattern
  // Limits of every match, above PCRE2's defaults (see create()).
  pcre2_match_context* matchContext = nullptr;
  pcre2_jit_stack* jitStack = nullptr;
  // Whether every match is known to begin with one of a set of units, and
  // if so, mayStartMatch[b]: a GBK text holding the byte b may give one of
  // them.
  bool startKnown = false;
  std::array<bool, 256> mayStartMatch{};
  // Buffers of replace, kept from one call to the next (a page's cells are
  // cleaned one after the other by the same objects).
  std::u16string source;
  std::u16string with;
  std::u16string out;

  // False when no match can begin anywhere in `text`: no byte of it can turn
  // into a unit that a match begins with.
  bool mayMatch(TextView text) const {
    if (!startKnown)
      return true;
    for (const char c : text) {
      if (mayStartMatch[static_cast<unsigned char>(c)])
        return true;
    }
    return false;
  }

  RegexObject() = default;
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;
  ~RegexObject() {
    pcre2_match_data_free(matchData);
    pcre2_match_context_free(matchContext);
    pcre2_jit_stack_free(jitStack);
    pcre2_code_free(code);
  }
};

// What one execute found: the subject in UTF-16 and, per match, the start and
// end offsets of the whole match and of every group (PCRE2_UNSET when a group
// took no part).
struct ComRegex::MatchCollection {
  std::u16string subject;
  std::uint32_t captureCount = 0;
  std::vector<PCRE2_SIZE> offsets;  // (captureCount + 1) pairs per match

  std::size_t pairsPerMatch() const { return captureCount + 1; }
  int count() const { return static_cast<int>(offsets.size() / (2 * pairsPerMatch())); }
  // Offsets of group k (0 = the whole match) of match n (0-based).
  const PCRE2_SIZE* pair(int n, int k) const {
    return offsets.data() + 2 * (static_cast<std::size_t>(n) * pairsPerMatch() + k);
  }
  Text groupText(int n, int k) const {
    const PCRE2_SIZE* p = pair(n, k);
    if (p[0] == PCRE2_UNSET || p[1] < p[0])
      return Text();
    return utf16ToGbk(std::u16string_view(subject).substr(p[0], p[1] - p[0]));
  }
};

namespace {

constexpr std::uint32_t kMatchLimit = 100'000'000;
constexpr std::size_t kJitStackBytes = 16 * 1024 * 1024;

constexpr std::u16string_view kLineStart = u"(?<![^\\r\\n])";
constexpr std::u16string_view kLineEnd = u"(?![^\\r\\n])";

// Rewrites the parts of the pattern language where PCRE2 and the scripting
// component differ. With multiline, `^` and `$` outside character classes
// become lookarounds that treat every CR and every LF as a line end (PCRE2's
// newline conventions would not match between the CR and the LF of a pair).
// `\v` is the vertical tab only, as in the component (PCRE2 reads it as a
// class of vertical spaces).
std::u16string translatePattern(std::u16string_view pattern, bool multiline) {
  std::u16string out;
  out.reserve(pattern.size() + 16);
  bool inClass = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c == u'\\') {
      if (i + 1 >= pattern.size()) {
        out.push_back(c);  // a trailing backslash; PCRE2 reports it as an error
        break;
      }
      if (pattern[i + 1] == u'v') {
        out.append(u"\\x0B");
      } else {
        out.push_back(c);
        out.push_back(pattern[i + 1]);
      }
      ++i;
      continue;
    }
    if (inClass) {
      if (c == u']')
        inClass = false;
      out.push_back(c);
      continue;
    }
    if (c == u'[') {
      inClass = true;
      out.push_back(c);
      // A "]" right after "[" or "[^" is a literal member, not the end.
      if (i + 1 < pattern.size() && pattern[i + 1] == u'^')
        out.push_back(pattern[++i]);
      if (i + 1 < pattern.size() && pattern[i + 1] == u']')
        out.push_back(pattern[++i]);
      continue;
    }
    if (multiline && c == u'^') {
      out.append(kLineStart);
    } else if (multiline && c == u'$') {
      out.append(kLineEnd);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool hasSurrogates(std::u16string_view text) {
  std::size_t at = 0;
#if defined(__SSE2__)
  const __m128i range = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  for (; at + 8 <= text.size(); at += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, range), surrogate)) != 0)
      return true;
  }
#endif
  for (; at < text.size(); ++at) {
    if ((text[at] & 0xF800) == 0xD800)
      return true;
  }
  return false;
}

PCRE2_SPTR16 unitsOf(std::u16string_view text) {
  return reinterpret_cast<PCRE2_SPTR16>(text.data());
}

// Runs the pattern over `subject` the way the component walks its matches:
// the first match only, or with Global every match, where an empty match
// moves the next search on by one character. Calls onMatch(ovector) for each.
// Returns false when matching failed with an error.
template <typename OnMatch>
bool forEachMatch(const ComRegex::RegexObject& regex, std::u16string_view subject,
                  OnMatch onMatch) {
  if (regex.code == nullptr)
    return false;
  const PCRE2_SIZE length = subject.size();
  PCRE2_SIZE start = 0;
  // A subject without surrogates is valid UTF-16 as it stands, so PCRE2 need
  // not check it, and a pattern the JIT compiled can go through the JIT's own
  // entry, which leaves out the checks pcre2_match makes at every call (they
  // cost more than matching a short cell). Otherwise the UTF check runs on the
  // first search only.
  const bool plain = !hasSurrogates(subject);
  const bool direct = plain && regex.jit;
  std::uint32_t options = plain ? PCRE2_NO_UTF_CHECK : 0;
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(regex.matchData);
  while (start <= length) {
    int rc = direct ? pcre2_jit_match(regex.code, unitsOf(subject), length, start, 0,
                                      regex.matchData, regex.matchContext)
                    : pcre2_match(regex.code, unitsOf(subject), length, start, options,
                                  regex.matchData, regex.matchContext);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
      rc = pcre2_match(regex.code, unitsOf(subject), length, start, options | PCRE2_NO_JIT,
                       regex.matchData, regex.matchContext);
    }
    if (rc == PCRE2_ERROR_NOMATCH)
      return true;
    if (rc < 0)
      return false;
    options = PCRE2_NO_UTF_CHECK;
    if (ovector[1] < ovector[0])
      return false;  // \K games; give up
    onMatch(ovector);
    if (!regex.global)
      return true;
    if (ovector[1] > ovector[0]) {
      start = ovector[1];
    } else {
      start = ovector[1] + 1;
      // Do not land inside a surrogate pair.
      if (start < length && (subject[start] & 0xFC00) == 0xDC00)
        ++start;
    }
  }
  return true;
}

// Appends the expansion of `replacement` for the match in `ovector`:
// $$ $& $` $' and $1..$99 (two digits when that group exists).
void expandReplacement(std::u16string_view replacement, std::u16string_view subject,
                       const PCRE2_SIZE* ovector, std::uint32_t captureCount, std::u16string* out) {
  auto appendGroup = [&](std::uint32_t k) {
    const PCRE2_SIZE from = ovector[2 * k];
    const PCRE2_SIZE to = ovector[2 * k + 1];
    if (from != PCRE2_UNSET && to >= from)
      out->append(subject.substr(from, to - from));
  };
  auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const char16_t c = replacement[i];
    if (c != u'$' || i + 1 >= replacement.size()) {
      out->push_back(c);
      continue;
    }
    const char16_t next = replacement[i + 1];
    if (next == u'$') {
      out->push_back(u'$');
      ++i;
    } else if (next == u'&') {
      appendGroup(0);
      ++i;
    } else if (next == u'`') {
      out->append(subject.substr(0, ovector[0]));
      ++i;
    } else if (next == u'\'') {
      out->append(subject.substr(ovector[1]));
      ++i;
    } else if (isDigit(next)) {
      const std::uint32_t one = next - u'0';
      if (i + 2 < replacement.size() && isDigit(replacement[i + 2])) {
        const std::uint32_t two = one * 10 + (replacement[i + 2] - u'0');
        if (two >= 1 && two <= captureCount) {
          appendGroup(two);
          i += 2;
          continue;
        }
      }
      if (one >= 1 && one <= captureCount) {
        appendGroup(one);
        ++i;
      } else {
        out->push_back(c);
      }
    } else {
      out->push_back(c);
    }
  }
}

// Fills *table with the bytes of a GBK text that may give a UTF-16 unit that
// a match of `code` begins with, and returns true, from what PCRE2 worked out about the first unit
// of every match: one fixed unit, or a set of them in a bitmap where bit 255 stands for every unit
// from 255 up. A byte below 0x80 is taken as the ASCII unit it is when it stands alone (as a trail
// byte it belongs to a character of 0x80 or above, or, in a broken pair, to itself). A byte of 0x80
// and above may give any unit from 0x80 up, U+FFFD included. A fixed first letter may also match in
// its other case, ASCII or not (U+212A for "k", U+017F for "s"), through the case-insensitive flag
// or an inline (?i). Patterns that may match the empty string, or whose matches PCRE2 cannot tell
// the beginning of, give false (a match may begin anywhere, even in an empty text).
bool startBytes(const pcre2_code* code, std::array<bool, 256>* table) {
  std::array<bool, 256>& may = *table;
  may.fill(false);
  std::uint32_t matchEmpty = 1;
  std::uint32_t firstType = 0;
  const std::uint8_t* bitmap = nullptr;
  if (pcre2_pattern_info(code, PCRE2_INFO_MATCHEMPTY, &matchEmpty) != 0 || matchEmpty != 0 ||
      pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODETYPE, &firstType) != 0 ||
      pcre2_pattern_info(code, PCRE2_INFO_FIRSTBITMAP, &bitmap) != 0) {
    return false;
  }
  bool high = false;  // some unit from 0x80 up may begin a match
  if (firstType == 1) {
    std::uint32_t unit = 0;
    pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODEUNIT, &unit);
    if (unit < 0x80) {
      const char c = static_cast<char>(unit);
      may[static_cast<unsigned char>(asciiLower(c))] = true;
      may[static_cast<unsigned char>(asciiUpper(c))] = true;
      high = asciiLower(c) != asciiUpper(c);
    } else {
      high = true;
    }
  } else if (bitmap != nullptr) {
    for (unsigned unit = 0; unit < 256; ++unit) {
      const bool set = (bitmap[unit / 8] & (1u << (unit % 8))) != 0;
      if (unit < 0x80)
        may[unit] = set;
      else
        high = high || set;
    }
  } else {
    return false;
  }
  for (unsigned byte = 0x80; byte < 256; ++byte)
    may[byte] = high;
  return true;
}

// Walks the escaping scan of the escape helpers: every occurrence of one of
// `set`'s characters gets a backslash in front, double-byte characters are
// copied whole. One pass per character of the set, in set order, gives the
// same result as a single pass over the text, since the backslash comes first
// in every set: only backslashes already in the input are doubled.
Text escapeSet(TextView text, TextView set) {
  Text out;
  out.reserve(text.size() + text.size() / 4 + 8);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = charLength(text, i);
    if (n == 1 && set.find(text[i]) != TextView::npos)
      out.push_back('\\');
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

ComRegex::ComRegex() = default;
ComRegex::~ComRegex() = default;
ComRegex::ComRegex(const ComRegex& other) = default;
ComRegex& ComRegex::operator=(const ComRegex& other) = default;

Text ComRegex::wildcardToPattern(TextView text) {
  const Text escaped = escapeSet(text, "\\^$+.{}[]=()-\"");
  return replaceAllText(replaceAllText(escaped, "*", ".*"), "?", ".?");
}

Text ComRegex::escapeLiteral(TextView text) {
  return escapeSet(text, "\\^$+.{}[]=()?*|\"");
}

Text ComRegex::escapeLiteralKeepBar(TextView text) {
  return escapeSet(text, "\\^$+.{}[]=()?*\"");
}

Text ComRegex::escapeLiteralKeepGroups(TextView text) {
  return escapeSet(text, "\\^$+.{}[]=?*\"");
}

bool ComRegex::create(TextView pattern, std::optional<bool> ignoreCase,
                      std::optional<bool> multiline, std::optional<bool> global) {
  auto object = std::make_shared<RegexObject>();
  object->patternText = Text(pattern);
  object->global = global.value_or(true);

  std::uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY |
                          PCRE2_MATCH_UNSET_BACKREF;  // no PCRE2_UCP: \s stays ASCII
  if (ignoreCase.value_or(true))
    options |= PCRE2_CASELESS;
  const std::u16string translated = translatePattern(gbkToUtf16(pattern), multiline.value_or(true));

  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  if (context != nullptr)
    pcre2_set_newline(context, PCRE2_NEWLINE_LF);  // "." stops at LF only
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  object->code = pcre2_compile(unitsOf(translated), translated.size(), options, &errorCode,
                               &errorOffset, context);
  pcre2_compile_context_free(context);
  if (object->code != nullptr) {
    // Without the JIT, matching falls back to the interpreter.
    object->jit = pcre2_jit_compile(object->code, PCRE2_JIT_COMPLETE) == 0;
    // Cells come from the network and may hold a megabyte of blanks: give
    // the JIT room beyond its 32 KiB default stack and the interpreter ten
    // times its default match and depth limits. A match that still runs into
    // a limit counts as failed; replace() then hands the text back as it was.
    object->matchContext = pcre2_match_context_create(nullptr);
    if (object->matchContext != nullptr) {
      pcre2_set_match_limit(object->matchContext, kMatchLimit);
      pcre2_set_depth_limit(object->matchContext, kMatchLimit);
      if (object->jit) {
        object->jitStack = pcre2_jit_stack_create(32 * 1024, kJitStackBytes, nullptr);
        if (object->jitStack != nullptr)
          pcre2_jit_stack_assign(object->matchContext, nullptr, object->jitStack);
      }
    }
    pcre2_pattern_info(object->code, PCRE2_INFO_CAPTURECOUNT, &object->captureCount);
    object->matchData = pcre2_match_data_create_from_pattern(object->code, nullptr);
    if (object->matchData == nullptr) {
      pcre2_code_free(object->code);
      object->code = nullptr;
    } else {
      object->startKnown = startBytes(object->code, &object->mayStartMatch);
    }
  }
  regexObject = std::move(object);
  return true;
}

int ComRegex::execute(TextView text) {
  auto collection = std::make_shared<MatchCollection>();
  subject = Text(text);
  if (regexObject != nullptr && regexObject->code != nullptr) {
    collection->subject = gbkToUtf16(text);
    collection->captureCount = regexObject->captureCount;
    const std::size_t pairs = 2 * collection->pairsPerMatch();
    const bool ok = forEachMatch(*regexObject, collection->subject, [&](const PCRE2_SIZE* ov) {
      collection->offsets.insert(collection->offsets.end(), ov, ov + pairs);
    });
    if (!ok)
      collection->offsets.clear();
  }
  matches = std::move(collection);
  return matchCount();
}

Text ComRegex::pattern() const {
  return regexObject != nullptr ? regexObject->patternText : Text();
}

Text ComRegex::replace(TextView text, TextView replacement) const {
  if (regexObject == nullptr || regexObject->code == nullptr)
    return Text();
  RegexObject& regex = *regexObject;
  // Without a match the text comes back byte for byte, even where it is not
  // valid GBK; where no match can even begin, that is known without looking
  // further.
  if (!regex.mayMatch(text))
    return Text(text);
  std::u16string& source = regex.source;
  std::u16string& with = regex.with;
  std::u16string& out = regex.out;
  gbkToUtf16(text, &source);
  out.clear();
  PCRE2_SIZE copied = 0;
  bool any = false;
  const std::uint32_t captureCount = regex.captureCount;
  const bool ok = forEachMatch(regex, source, [&](const PCRE2_SIZE* ov) {
    if (!any) {
      gbkToUtf16(replacement, &with);
      out.reserve(source.size());
    }
    any = true;
    out.append(source, copied, ov[0] - copied);
    expandReplacement(with, source, ov, captureCount, &out);
    copied = ov[1];
  });
  // A match that failed (a resource limit on a huge cell) leaves the text as
  // it was: an empty result would wipe out the cell.
  if (!ok || !any)
    return Text(text);
  out.append(source, copied, Text::npos);
  return utf16ToGbk(out);
}

int ComRegex::matchCount() const {
  return matches != nullptr ? matches->count() : 0;
}

Text ComRegex::matchValue(int n) const {
  return matchValueWithIndex(n, nullptr);
}

Text ComRegex::subMatchValue(int n, int k) const {
  return subMatchValueWithIndex(n, k, nullptr);
}

int ComRegex::subMatchCount() const {
  return matchCount() > 0 ? static_cast<int>(matches->captureCount) : 0;
}

Text ComRegex::matchValueWithIndex(int n, int* firstIndex) const {
  if (n < 1 || n > matchCount())
    return Text();
  if (firstIndex != nullptr)
    *firstIndex = static_cast<int>(matches->pair(n - 1, 0)[0]);
  return matches->groupText(n - 1, 0);
}

Text ComRegex::subMatchValueWithIndex(int n, int k, int* firstIndex) const {
  if (n < 1 || n > matchCount() || k < 1 || k > static_cast<int>(matches->captureCount)) {
    return Text();
  }
  if (firstIndex != nullptr)
    *firstIndex = static_cast<int>(matches->pair(n - 1, 0)[0]);
  return matches->groupText(n - 1, k);
}

}  // namespace qarvo
