// Double-byte helpers for text in the system code page (GB18030).
//
// Every search in the program walks text character by character: a byte of
// 0x80 or above starts a two-byte unit, and its second (trail) byte is never
// looked at on its own, even where it has the value of an ASCII character such
// as "\", "[" or "|". A four-byte GB18030 character (a lead byte 0x81-0xFE and
// a digit, twice) is one character: no hit begins or ends inside it, so its
// second half never passes for a character of its own. Case folding touches
// ASCII letters that start a character only: a trail byte with the value of a
// letter is compared as it is ("\xC4A" and "\xC4a" differ).
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace qarvo {

// True when `byte` starts a double-byte character.
inline bool isLeadByte(unsigned char byte) {
  return byte >= 0x80;
}

// Length in bytes (1, 2 or 4) of the character that starts at the 0-based
// index `at`; a lead byte at the very end of the text counts as one byte.
inline std::size_t charLength(TextView text, std::size_t at) {
  if (!isLeadByte(static_cast<unsigned char>(text[at])) || at + 1 >= text.size())
    return 1;
  // GBK trail bytes are never digits: most double-byte characters are told
  // by their second byte alone.
  if (static_cast<unsigned char>(text[at + 1] - '0') > 9 || at + 3 >= text.size())
    return 2;
  const auto lead = static_cast<unsigned char>(text[at]);
  const auto third = static_cast<unsigned char>(text[at + 2]);
  const bool fourBytes = lead != 0x80 && lead != 0xFF && third >= 0x81 && third <= 0xFE &&
                         static_cast<unsigned char>(text[at + 3] - '0') <= 9;
  return fourBytes ? 4 : 2;
}

// Whether `length` bytes from the character boundary `at` end inside a
// four-byte character, so that a hit there would cut it. A hit may still end
// on the lead byte of a double-byte character, as GBK text always allowed.
bool cutsFourByteCharacter(TextView text, std::size_t at, std::size_t length);

inline char asciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
inline char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Copies of `text` with the ASCII letters folded; the trail bytes of every
// double-byte and four-byte character stay as they are.
Text asciiToUpper(TextView text);
Text asciiToLower(TextView text);

// Folds ASCII letters in place (trail bytes untouched), no allocation.
void asciiToLowerInPlace(Text* text);

// Whether any byte of `text` is an ASCII capital letter (trail bytes
// included); without one, folding leaves the text as it is.
bool containsAsciiUpper(TextView text);

// 0-based index of the first occurrence of `what` in `text` at or after the
// 0-based index `from`, or TextView::npos: a plain byte search with the result
// of TextView::find (a hit may begin on a trail byte), quick over markup,
// where the "<" that every tag pattern begins with comes every few bytes.
std::size_t searchBytes(TextView text, TextView what, std::size_t from = 0);

// 1-based position of the first occurrence of `what` in `text` at or after the
// 1-based position `start` (a start at or below 1 searches from the
// beginning), stepping over double-byte characters so that a match never
// begins on a trail byte nor begins or ends inside a four-byte character.
// With ignoreCase, ASCII letters that start a character fold; trail bytes
// compare as they are. -1 when absent or when `what` is empty.
int findText(TextView text, TextView what, int start = 1, bool ignoreCase = false);

// 1-based position of the last occurrence of `what` that lies entirely within
// the first `limit` bytes of `text` (the whole text when `limit` is negative),
// with the same character stepping. -1 when absent or when `what` is empty.
int findLastText(TextView text, TextView what, int limit = -1, bool ignoreCase = false);

// Replaces every occurrence of `what` by `with`, scanning character by
// character from the start (a trail byte never starts a match, and no match
// cuts a four-byte character).
Text replaceAllText(TextView text, TextView what, TextView with, bool ignoreCase = false);

}  // namespace qarvo
