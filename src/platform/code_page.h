// Conversions between the system code page (GBK) and Unicode.
//
// These are the only place in the program that talks to iconv. None of them
// fails: a byte sequence that is not valid in the source encoding becomes
// U+FFFD (or "?" when the target is GBK), the way the Windows converters
// substitute instead of stopping. Converters are opened once per thread and
// reused, so a conversion costs no set-up.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace qarvo {

// GBK text to UTF-8 and back. Characters GBK cannot hold become "?".
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

// Source-literal helper: the GBK form of a UTF-8 literal, for comparisons with
// page text and settings text. Use it once per literal (a function-local static).
inline Text gbk(std::string_view utf8) {
  return utf8ToGbk(utf8);
}

}  // namespace qarvo
