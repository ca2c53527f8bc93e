#include "platform/blanks.h"

#include "platform/dbcs.h"

namespace qarvo {

namespace {

bool isAsciiWhiteSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isFullWidthSpace(TextView text, std::size_t at) {
  return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xA1 &&
         static_cast<unsigned char>(text[at + 1]) == 0xA1;
}

// Walks the characters from the start, so that a pair A1 A1 counts only on
// a character boundary; `blankAt` tells the length of the blank character at
// an index (0 when the character there is none).
template <typename BlankAt>
TextView trimCharacters(TextView text, BlankAt blankAt) {
  std::size_t first = text.size();
  std::size_t last = 0;  // one past the last character that is not blank
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t blank = blankAt(text, at);
    const std::size_t length = blank != 0 ? blank : charLength(text, at);
    if (blank == 0) {
      if (first == text.size())
        first = at;
      last = at + length;
    }
    at += length;
  }
  return first == text.size() ? TextView() : text.substr(first, last - first);
}

// Bytes below 0x30 never belong to a double-byte character, so ASCII blanks
// can be trimmed from both ends byte by byte.
template <typename IsBlank>
TextView trimBytes(TextView text, IsBlank isBlank) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace

TextView trimSpacesAndFullWidthSpaces(TextView text) {
  return trimCharacters(text, [](TextView t, std::size_t at) -> std::size_t {
    if (t[at] == ' ')
      return 1;
    return isFullWidthSpace(t, at) ? 2 : 0;
  });
}

TextView trimWhiteSpaceAndFullWidthSpaces(TextView text) {
  return trimCharacters(text, [](TextView t, std::size_t at) -> std::size_t {
    if (isAsciiWhiteSpace(t[at]))
      return 1;
    return isFullWidthSpace(t, at) ? 2 : 0;
  });
}

TextView trimAsciiWhiteSpace(TextView text) {
  return trimBytes(text, isAsciiWhiteSpace);
}

TextView trimSpacesAndTabs(TextView text) {
  return trimBytes(text, [](char c) { return c == ' ' || c == '\t'; });
}

}  // namespace qarvo
