// Conversions between the system code page (GB18030) and Unicode.
//
// The code page is GB18030, GBK's superset: GBK text means the same in it,
// and every other Unicode character has a four-byte form, so nothing is lost
// on the way in. The functions keep the names of the GBK days.
//
// These are the only place in the program that talks to iconv. None of them
// fails: a byte sequence that is not valid in the source encoding becomes
// U+FFFD (or "?" when the target is the code page), the way the Windows
// converters substitute instead of stopping. Converters are opened once per
// thread and reused, so a conversion costs no set-up; at most a few dozen are
// kept open per thread, the least recently used closed first, and an encoding
// name iconv does not know is not kept at all (charset names come from
// servers).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace qarvo {

// Code-page text to UTF-8 and back. Only what is no character at all (a lone
// surrogate, broken UTF-8) becomes "?".
std::string gbkToUtf8(TextView gbk);
Text utf8ToGbk(std::string_view utf8);

// GBK text to UTF-16 code units and back.
std::u16string gbkToUtf16(TextView gbk);
Text utf16ToGbk(std::u16string_view utf16);

// The same into a buffer the caller keeps (its old content is replaced), so
// that converting many short texts in a row allocates nothing once the buffer
// has grown.
void gbkToUtf16(TextView gbk, std::u16string* out);
void utf16ToGbk(std::u16string_view utf16, Text* out);

// True when utf16ToGbk(gbkToUtf16(gbk)) gives `gbk` back byte for byte, known
// without converting: the text holds ASCII and double-byte characters that
// convert back to their own two bytes only. False when the trip may change
// it (bytes that start no character of the code page, a lead byte at the end,
// a character whose Unicode counterpart another pair also has).
bool survivesUtf16RoundTrip(TextView gbk);

// UTF-8 and UTF-16 between each other (invalid UTF-8 becomes U+FFFD).
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

// Converts `input` from the iconv encoding `from` to the iconv encoding `to`,
// substituting what cannot be converted. `substitute` is written (in the target
// encoding) for each invalid or unconvertible input character. Returns false
// only when iconv does not know one of the two encodings; `output` is then
// empty.
bool convertEncoding(std::string_view input, const char* from, const char* to,
                     std::string_view substitute, std::string* output);

// How many converters this thread keeps open (for tests).
std::size_t openConverterCount();

// Source-literal helper: the GBK form of a UTF-8 literal, for comparisons with
// page text and settings text. Use it once per literal (a function-local static).
inline Text gbk(std::string_view utf8) {
  return utf8ToGbk(utf8);
}

}  // namespace qarvo
