// Fuzz target: the escape helpers of ComRegex on any bytes, and the pattern
// built from them matched against the very text it was built from; also a
// short arbitrary pattern run over a short text, for the match collection and
// replace.
//
// Invariants:
//   * each escape puts a backslash before exactly its set's characters and
//     copies every other character, double-byte ones whole: undoing the
//     escapes gives the input back, and no unescaped set character is left;
//   * wildcardToPattern is the escape of its set followed by "*" -> ".*" and
//     "?" -> ".?";
//   * the bar and group variants equal escapeLiteral on text without those
//     characters;
//   * for valid GBK text x, the pattern escapeLiteral(x) matches x at index 0
//     with the value x, replacing it leaves nothing, and wildcardToPattern(x)
//     matches at index 0 too;
//   * for any pattern, every match value of a valid GBK subject is a substring
//     of it, match indices do not decrease, and reads out of range are empty.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/text.h"
#include "text/com_regex.h"

namespace qarvo {
namespace {

using fuzz::isSubstring;

constexpr std::string_view kLiteralSet = "\\^$+.{}[]=()?*|\"";
constexpr std::string_view kBarSet = "\\^$+.{}[]=()?*\"";
constexpr std::string_view kGroupSet = "\\^$+.{}[]=?*\"";
constexpr std::string_view kWildcardSet = "\\^$+.{}[]=()-\"";

// Undoes an escape walk over `escaped`: a backslash before a set character is
// dropped; a set character without one is an error, and so is a character
// split in two (the walk steps over double-byte characters as the escape
// does). With `wildcards`, ".*" and ".?" turn back into "*" and "?".
bool unescape(TextView escaped, TextView set, bool wildcards, Text* out) {
  out->clear();
  for (std::size_t i = 0; i < escaped.size();) {
    const std::size_t n = charLength(escaped, i);
    const char c = escaped[i];
    if (n == 1 && c == '\\') {
      if (i + 1 >= escaped.size() || charLength(escaped, i + 1) != 1 ||
          set.find(escaped[i + 1]) == TextView::npos) {
        return false;
      }
      out->push_back(escaped[i + 1]);
      i += 2;
      continue;
    }
    if (wildcards && n == 1 && c == '.' && i + 1 < escaped.size() &&
        (escaped[i + 1] == '*' || escaped[i + 1] == '?')) {
      out->push_back(escaped[i + 1]);
      i += 2;
      continue;
    }
    if (n == 1 && set.find(c) != TextView::npos)
      return false;  // a set character left bare
    if (wildcards && n == 1 && (c == '*' || c == '?'))
      return false;  // a wildcard left unconverted
    out->append(escaped.substr(i, n));
    i += n;
  }
  return true;
}

void checkEscape(TextView text, const Text& escaped, TextView set, bool wildcards = false) {
  Text back;
  FUZZ_CHECK(unescape(escaped, set, wildcards, &back));
  FUZZ_CHECK(back == text);
}

bool isValidGbk(TextView text) {
  return utf16ToGbk(gbkToUtf16(text)) == text;
}

// Valid GBK whose characters the converter sees as the character walk does:
// one UTF-16 unit per character. (The converter's code page takes 0x80 alone
// as the euro sign, where the walk takes it as a lead byte; the escapes then
// leave the byte after it bare.)
bool isAlignedGbk(TextView text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = charLength(text, i);
    const TextView character = text.substr(i, n);
    if (gbkToUtf16(character).size() != 1 || !isValidGbk(character))
      return false;
    i += n;
  }
  return true;
}

void checkEscapes(TextView text, bool ignoreCase, bool multiline, bool global) {
  const Text literal = ComRegex::escapeLiteral(text);
  checkEscape(text, literal, kLiteralSet);
  const Text keepBar = ComRegex::escapeLiteralKeepBar(text);
  checkEscape(text, keepBar, kBarSet);
  const Text keepGroups = ComRegex::escapeLiteralKeepGroups(text);
  checkEscape(text, keepGroups, kGroupSet);
  const Text wildcard = ComRegex::wildcardToPattern(text);
  checkEscape(text, wildcard, kWildcardSet, true);

  // Byte-level search is enough here: the characters only differ in bytes
  // below 0x80 that are not trail bytes, which unescape has checked.
  if (text.find('|') == TextView::npos)
    FUZZ_CHECK(keepBar == literal);
  if (text.find_first_of("()|") == TextView::npos)
    FUZZ_CHECK(keepGroups == literal);

  if (!isAlignedGbk(text))
    return;
  ComRegex regex;
  FUZZ_CHECK(regex.create(literal, ignoreCase, multiline, global));
  FUZZ_CHECK(regex.pattern() == literal);
  FUZZ_CHECK(regex.execute(text) >= 1);
  int firstIndex = -1;
  FUZZ_CHECK(regex.matchValueWithIndex(1, &firstIndex) == text);
  FUZZ_CHECK(firstIndex == 0);
  if (!text.empty())
    FUZZ_CHECK(regex.replace(text, "").empty());
  FUZZ_CHECK(regex.replace(text, "$&") == text);

  // The wildcard pattern matches at the start too (its first alternative is
  // the text's start, "*" and "?" standing for themselves). Every ".*" and
  // ".?" multiplies the backtracking, until the matcher's step limit ends the
  // search without a match; keep to texts with few of them.
  const auto stars = std::count(text.begin(), text.end(), '*');
  const auto questionMarks = std::count(text.begin(), text.end(), '?');
  if (stars <= 2 && questionMarks <= 4 && text.size() <= 256) {
    ComRegex wild;
    wild.create(wildcard, ignoreCase, multiline, global);
    FUZZ_CHECK(wild.execute(text) >= 1);
    FUZZ_CHECK(wild.matchValueWithIndex(1, &firstIndex) == wild.matchValue(1));
    FUZZ_CHECK(firstIndex == 0);
  }
}

void checkPattern(TextView pattern, TextView subject, TextView replacement, bool ignoreCase,
                  bool multiline, bool global) {
  ComRegex regex;
  FUZZ_CHECK(regex.matchCount() == 0);
  FUZZ_CHECK(regex.replace(subject).empty());
  regex.create(pattern, ignoreCase, multiline, global);
  const int count = regex.execute(subject);
  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(count == regex.matchCount());
  if (!global)
    FUZZ_CHECK(count <= 1);
  const bool valid = isValidGbk(subject);
  int previous = -1;
  for (int n = 1; n <= count; ++n) {
    int firstIndex = -1;
    const Text value = regex.matchValueWithIndex(n, &firstIndex);
    FUZZ_CHECK(firstIndex >= previous);
    previous = firstIndex;
    if (valid)
      FUZZ_CHECK(isSubstring(value, subject));
    for (int k = 1; k <= regex.subMatchCount(); ++k) {
      const Text group = regex.subMatchValue(n, k);
      if (valid)
        FUZZ_CHECK(isSubstring(group, subject));
    }
  }
  FUZZ_CHECK(regex.matchValue(0).empty());
  FUZZ_CHECK(regex.matchValue(count + 1).empty());
  FUZZ_CHECK(regex.subMatchValue(1, regex.subMatchCount() + 1).empty());
  const Text replaced = regex.replace(subject, replacement);
  // Without a match the text comes back as it was; a pattern that does not
  // compile (or fails while matching) gives empty text instead.
  if (count == 0 && valid && !replaced.empty())
    FUZZ_CHECK(replaced == subject);
  // A copy shares the matches.
  const ComRegex copy(regex);
  FUZZ_CHECK(copy.matchCount() == count);
  if (count > 0)
    FUZZ_CHECK(copy.matchValue(count) == regex.matchValue(count));
}

void fuzzOne(FuzzedDataProvider& input) {
  const bool ignoreCase = input.ConsumeBool();
  const bool multiline = input.ConsumeBool();
  const bool global = input.ConsumeBool();
  if (input.ConsumeIntegralInRange<int>(0, 3) == 0) {
    const Text pattern = input.ConsumeRandomLengthString(24);
    const Text replacement = input.ConsumeRandomLengthString(12);
    const Text subject = input.ConsumeRandomLengthString(64);
    checkPattern(pattern, subject, replacement, ignoreCase, multiline, global);
    return;
  }
  checkEscapes(input.ConsumeRemainingBytesAsString(), ignoreCase, multiline, global);
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  qarvo::fuzzOne(input);
  return 0;
}
