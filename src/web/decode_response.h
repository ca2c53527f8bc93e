// Turning a response body into GBK text.
//
// decodeResponse takes the raw bytes of a body, whatever the server sent
// (gzip or not, with or without a byte-order mark, UTF-8, UTF-16, Big5 or
// already GBK), and gives text in the system code page. The helpers are used
// by it and by the other fetch operations.
//
// Encoding modes: 0 detect, 1 system code page, 2 UTF-8, 3 UTF-16LE,
// 4 UTF-16BE, 5 BIG5, 6 BIG5-HKSCS; any other value behaves as 1.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace qarvo {

// The decoded body. *settledMode receives the mode finally used (1 when the
// raw bytes were taken as they are) and *text the result as well (both may be
// null). When `bytes` is empty, `sourceText` is decoded instead; when
// `fileName` is given, that file's content is (empty text when it cannot be
// read). A gzip body (1F 8B) is decompressed first while the decompressor is
// available. Byte-order marks are not part of the result; the text ends at the
// first zero byte.
Text decodeResponse(const Bytes& bytes, int mode, int* settledMode = nullptr, Text* text = nullptr,
                    TextView sourceText = {}, const std::optional<Text>& fileName = std::nullopt);

// Whether decodeResponse decompresses gzip bodies. It does; tests switch it
// off to take the path of a system without the decompressor.
bool gzipDecompressorAvailable();
void setGzipDecompressorAvailable(bool available);

// The gzip (or zlib) stream in `bytes`, inflated in rounds of up to 8192 input
// and 8192 output bytes until the stream ends, fails or stops making progress;
// pending window events run after every round.
// What came out before a failure is kept. Output beyond kMaxResponseBodyBytes
// is refused: the result is then empty.
Bytes gunzipBytes(const Bytes& bytes);

// The charset declared by the page's meta tags (inside <head> when it has
// one): *detected 1 for UTF-8, 2 for Big5, 3 for Big5-HKSCS; false and 0 when
// no meta tag declares one of them. The page is walked once, whatever it
// holds, and pending window events run every few KiB of it.
bool metaCharset(TextView page, int* detected);

// Whether `text` contains any (anyMode) or all of the alternatives separated
// by "[fg]", ignoring letter case. All-mode with no alternatives is true.
bool containsAnyOf(TextView text, TextView alternatives, bool anyMode);

// Whether `bytes` read as plausible UTF-8: only ASCII and well-formed two- and
// three-byte sequences, and at least one byte of 0x80 or above. Lets pending
// window events run once per position looked at.
bool looksLikeUtf8(const Bytes& bytes);

// `bytes` converted from one charset to another ("UTF-8", "UTF-16LE",
// "UTF-16BE", "BIG5", "BIG5-HKSCS", "GB18030", ...). Lenient: what cannot be
// converted is substituted. Empty when a charset is unknown.
Bytes convertCharset(const Bytes& bytes, TextView fromCharset, TextView toCharset);

// `input` converted as convertCharset does, appended to *out, with
// `substitute` (in the target charset) for what cannot be converted. Large
// inputs go through the converter in pieces cut between characters, so the
// scratch memory stays small and the result is that of one conversion;
// pending window events run after every piece. After
// an invalid UTF-16 unit (either byte order) the conversion goes on at the
// next unit. False when a charset is unknown.
bool convertCharsetInto(std::string_view input, TextView fromCharset, TextView toCharset,
                        std::string_view substitute, std::string* out);

}  // namespace qarvo
