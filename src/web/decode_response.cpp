#include "web/decode_response.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"
#include "text/split_text.h"
#include "text/text_between.h"
#include "web/http_request.h"

namespace qarvo {
namespace {

std::atomic<bool> gzipAvailable{true};

constexpr std::size_t kGzipBlock = 8192;

// Bytes taken as a zero-terminated text: everything before the first zero byte.
Text asText(std::string_view bytes) {
  return Text(bytes.substr(0, bytes.find('\0')));
}

const char* charsetOfMode(int mode) {
  switch (mode) {
    case 2:
      return "UTF-8";
    case 3:
      return "UTF-16LE";
    case 4:
      return "UTF-16BE";
    case 5:
      return "BIG5";
    case 6:
      return "BIG5-HKSCS";
    default:
      return nullptr;
  }
}

}  // namespace

bool gzipDecompressorAvailable() {
  return gzipAvailable.load();
}
void setGzipDecompressorAvailable(bool available) {
  gzipAvailable = available;
}

namespace {

// The gzip (or zlib) stream in `input` inflated into *out (replaced), in rounds
// of up to 8192 input and 8192 output bytes. Output beyond
// kMaxResponseBodyBytes is refused: *out is then empty.
template <typename Buffer>
void inflateInto(std::string_view input, Buffer* out) {
  out->clear();
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 32) != Z_OK)
    return;  // gzip or zlib header
  // A gzip stream ends with its length modulo 2^32: room for that much saves
  // the copies of growing (a false figure costs address space, not memory).
  if (input.size() >= 18) {
    std::uint32_t length = 0;
    std::memcpy(&length, input.data() + input.size() - 4, 4);
    out->reserve(std::min<std::size_t>(length, kMaxResponseBodyBytes));
  }
  unsigned char output[kGzipBlock];
  std::size_t position = 0;
  while (true) {
    std::size_t take = std::min(kGzipBlock, input.size() - position);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + position));
    stream.avail_in = static_cast<uInt>(take);
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(kGzipBlock);
    int status = inflate(&stream, Z_NO_FLUSH);
    std::size_t consumed = take - stream.avail_in;
    std::size_t produced = kGzipBlock - stream.avail_out;
    if (out->size() + produced > kMaxResponseBodyBytes) {
      // A small body that inflates without end is not followed into memory.
      out->clear();
      out->shrink_to_fit();
      break;
    }
    out->insert(out->end(), output, output + produced);
    position += consumed;
    processPendingEvents();
    if (status != Z_OK)
      break;  // stream end, a fault, or no way forward
    if (consumed == 0 && produced == 0)
      break;
  }
  inflateEnd(&stream);
}

std::string_view viewOf(const Bytes& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool sameCharset(TextView a, const char* b) {
  return asciiToLower(a) == asciiToLower(TextView(b));
}

// How conversions are cut into pieces: where a piece may end so that every
// character lies wholly in one piece, as a conversion of the whole would see
// it (also around invalid bytes, which the converter steps over as below).
enum class PieceRule { kWhole, kUtf16Le, kUtf16Be, kUtf8, kBig5 };

PieceRule pieceRuleOf(TextView charset) {
  if (sameCharset(charset, "UTF-16LE"))
    return PieceRule::kUtf16Le;
  if (sameCharset(charset, "UTF-16BE"))
    return PieceRule::kUtf16Be;
  if (sameCharset(charset, "UTF-8"))
    return PieceRule::kUtf8;
  if (sameCharset(charset, "BIG5") || sameCharset(charset, "BIG5-HKSCS"))
    return PieceRule::kBig5;
  return PieceRule::kWhole;
}

// Input bytes converted at a time: the converter's scratch stays this small
// however large the body.
constexpr std::size_t kPieceBytes = 256 * 1024;
// How far back from a piece's nominal end a byte that stands alone is looked for.
constexpr std::size_t kBoundaryLookBack = 64;

// Bytes of the sequence at input[at] as the converter steps over it: a
// well-formed sequence whole, any other byte alone.
std::size_t utf8Step(std::string_view input, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(input[at + i]); };
  const unsigned lead = byte(0);
  std::size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
  if (lead >= 0xF5 || n > input.size() - at)
    return 1;
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xC0) != 0x80)
      return 1;
  }
  return n;
}

// Whether input[at, p) ends in the first bytes of a UTF-8 sequence that
// would need more bytes than it has.
bool endsInUnfinishedSequence(std::string_view input, std::size_t at, std::size_t p) {
  for (std::size_t k = 1; k <= 3 && p >= at + k; ++k) {
    const unsigned b = static_cast<unsigned char>(input[p - k]);
    if (b >= 0x80 && b <= 0xBF)
      continue;
    const std::size_t n = b >= 0xF0 && b <= 0xF4   ? 4
                          : b >= 0xE0 && b <= 0xEF ? 3
                          : b >= 0xC2 && b <= 0xDF ? 2
                                                   : 0;
    return n > k;
  }
  return false;
}

// The end of the piece that starts at `at`.
std::size_t pieceEnd(std::string_view input, std::size_t at, PieceRule rule) {
  const std::size_t size = input.size();
  if (rule == PieceRule::kWhole || size - at <= kPieceBytes)
    return size;
  std::size_t end = at + kPieceBytes;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(input[i]); };
  switch (rule) {
    case PieceRule::kUtf16Le:
    case PieceRule::kUtf16Be: {
      // Whole units, and never after the first half of a surrogate pair.
      const unsigned high = rule == PieceRule::kUtf16Le ? byte(end - 1) : byte(end - 2);
      if (high >= 0xD8 && high <= 0xDB)
        end -= 2;
      return end;
    }
    case PieceRule::kUtf8:
    case PieceRule::kBig5: {
      // Right after a byte that no sequence continues with: ASCII for UTF-8,
      // a byte below 0x40 (never a trail byte) for Big5.
      const unsigned alone = rule == PieceRule::kUtf8 ? 0x80 : 0x40;
      for (std::size_t i = end; i > end - kBoundaryLookBack; --i) {
        if (byte(i - 1) < alone)
          return i;
      }
      // None near: step through the piece from its start as the converter
      // would, and end at the last step that leaves no unfinished UTF-8
      // sequence behind (the converter would take that for a cut-off
      // character, where the whole text has invalid bytes).
      std::size_t p = at;
      std::size_t clean = at;
      while (p < end) {
        p += rule == PieceRule::kUtf8 ? utf8Step(input, p) : (byte(p) >= 0x81 ? 2 : 1);
        if (p <= end && (rule != PieceRule::kUtf8 || !endsInUnfinishedSequence(input, at, p)))
          clean = p;
      }
      return std::min(clean > at ? clean : p, size);
    }
    case PieceRule::kWhole:
      break;
  }
  return size;
}

}  // namespace

bool convertCharsetInto(std::string_view input, TextView fromCharset, TextView toCharset,
                        std::string_view substitute, std::string* out) {
  const std::string to(toCharset);
  // UTF-16BE goes through the UTF-16LE converter with its bytes swapped, so
  // that after an invalid unit the conversion goes on at the next unit.
  const bool swapped = sameCharset(fromCharset, "UTF-16BE");
  const std::string from = swapped ? std::string("UTF-16LE") : std::string(fromCharset);
  const PieceRule rule = pieceRuleOf(fromCharset);
  out->reserve(out->size() + input.size() + 16);
  std::string scratch;
  std::string piece;
  std::size_t at = 0;
  do {
    const std::size_t end = pieceEnd(input, at, rule);
    std::string_view part = input.substr(at, end - at);
    if (swapped) {
      scratch.assign(part);
      for (std::size_t i = 0; i + 1 < scratch.size(); i += 2)
        std::swap(scratch[i], scratch[i + 1]);
      part = scratch;
    }
    if (!convertEncoding(part, from.c_str(), to.c_str(), substitute, &piece))
      return false;
    out->append(piece);
    at = end;
    processPendingEvents();
  } while (at < input.size());
  return true;
}

Bytes gunzipBytes(const Bytes& bytes) {
  Bytes result;
  inflateInto(viewOf(bytes), &result);
  return result;
}

bool containsAnyOf(TextView text, TextView alternatives, bool anyMode) {
  for (const Text& alternative : splitText(alternatives, "[fg]")) {
    bool found = findText(text, alternative, 1, true) != -1;
    if (anyMode && found)
      return true;
    if (!anyMode && !found)
      return false;
  }
  return !anyMode;
}

namespace {

// How many bytes a walk over a page steps over between two looks at the
// window's events.
constexpr std::size_t kPumpStride = 4096;

// Searches for ASCII markers in page text, always onwards: every byte is
// stepped over once however many markers are looked for, where a search
// from the page's start for each marker would make a page of tags cost its
// size squared. Steps go by characters, as the program's searches do (a
// marker never begins on a trail byte), and letter case is ignored. Pending
// events run every kPumpStride bytes.
class PageWalk {
 public:
  explicit PageWalk(TextView text) : text_(text) {}

  // 0-based index of the first `marker` at or after the character boundary
  // `from`; npos when there is none.
  std::size_t find(TextView marker, std::size_t from) {
    for (std::size_t i = from; i < text_.size() && text_.size() - i >= marker.size();
         i += charLength(text_, i)) {
      if (++sinceEvents_ >= kPumpStride) {
        sinceEvents_ = 0;
        processPendingEvents();
      }
      if (matchesFolded(i, marker))
        return i;
    }
    return TextView::npos;
  }

 private:
  // At a character boundary an ASCII marker meets only characters of one
  // byte, so byte-wise folding is the program's folding here.
  bool matchesFolded(std::size_t at, TextView marker) const {
    for (std::size_t j = 0; j < marker.size(); ++j) {
      if (asciiLower(text_[at + j]) != asciiLower(marker[j]))
        return false;
    }
    return true;
  }

  TextView text_;
  std::size_t sinceEvents_ = 0;
};

// The charset alternatives of one kind, each looked for unquoted, in double
// and in single quotes.
struct CharsetForms {
  std::vector<Text> forms;
  explicit CharsetForms(TextView alternatives)
      : forms(splitText(apostrophesToQuote(alternatives), "[fg]")) {}
  bool foundIn(TextView tag) const {
    for (const Text& form : forms) {
      if (findText(tag, form, 1, true) != -1)
        return true;
    }
    return false;
  }
};

}  // namespace

// The text between the first "<head>" and the next "</head>" (else the whole
// page), then the text between each "<meta" and the next ">", as the
// text-between walk over the page gives them, in one pass.
bool metaCharset(TextView page, int* detected) {
  static const CharsetForms utf8("charset=UTF-8[fg]charset=''UTF-8''[fg]charset='UTF-8'");
  static const CharsetForms big5("charset=Big5[fg]charset=''Big5''[fg]charset='Big5'");
  static const CharsetForms hkscs(
      "charset=Big5-HKSCS[fg]charset=''Big5-HKSCS''[fg]charset='Big5-HKSCS'");
  *detected = 0;
  TextView area = page;
  {
    PageWalk walk(page);
    const std::size_t head = walk.find("<head>", 0);
    const std::size_t headEnd = head == TextView::npos ? head : walk.find("</head>", head + 6);
    if (headEnd != TextView::npos && headEnd > head + 6)
      area = page.substr(head + 6, headEnd - head - 6);
  }
  PageWalk walk(area);
  std::size_t position = 0;
  while (true) {
    const std::size_t left = walk.find("<meta", position);
    const std::size_t right = left == TextView::npos ? left : walk.find(">", left + 5);
    if (right == TextView::npos)
      return false;
    const TextView tag = area.substr(left + 5, right - left - 5);
    if (tag.empty())
      return false;  // the walk ends at the first empty tag
    position = right + 1;
    if (utf8.foundIn(tag)) {
      *detected = 1;
    } else if (big5.foundIn(tag)) {
      *detected = 2;
    } else if (hkscs.foundIn(tag)) {
      *detected = 3;
    } else {
      continue;
    }
    return true;
  }
}

namespace {

bool looksLikeUtf8(std::string_view bytes) {
  const std::size_t size = bytes.size();
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t ascii = 0;
  std::size_t at = 0;
  while (at < size) {
    processPendingEvents();
    unsigned char byte = byteAt(at);
    if (byte < 0x80) {
      ++ascii;
      at += 1;
    } else if (at + 1 < size && (byte & 0xE0) == 0xC0 && (byteAt(at + 1) & 0xC0) == 0x80) {
      at += 2;
    } else if (at + 2 < size && (byte & 0xF0) == 0xE0 && (byteAt(at + 1) & 0xC0) == 0x80 &&
               (byteAt(at + 2) & 0xC0) == 0x80) {
      at += 3;
    } else {
      return false;
    }
  }
  return ascii != size;
}

}  // namespace

bool looksLikeUtf8(const Bytes& bytes) {
  return looksLikeUtf8(viewOf(bytes));
}

Bytes convertCharset(const Bytes& bytes, TextView fromCharset, TextView toCharset) {
  if (bytes.empty())
    return {};
  std::string substitute;
  if (!convertEncoding("?", "ASCII", std::string(toCharset).c_str(), "", &substitute))
    return {};
  std::string converted;
  if (!convertCharsetInto(viewOf(bytes), fromCharset, toCharset, substitute, &converted))
    return {};
  return toBytes(converted);
}

// The body is looked at through one view and never copied: only a file or a
// gzip body gets a buffer of its own, and the conversion writes the result
// straight into the text handed back.
Text decodeResponse(const Bytes& bytes, int mode, int* settledMode, Text* text, TextView sourceText,
                    const std::optional<Text>& fileName) {
  // 1. The source.
  std::string owned;
  std::string_view view;
  if (fileName) {
    if (!readWholeFile(*fileName, &owned)) {
      if (text != nullptr)
        text->clear();
      return {};
    }
    view = owned;
  } else if (!bytes.empty()) {
    view = viewOf(bytes);
  } else {
    view = sourceText;
  }

  // 2. Gzip.
  if (gzipDecompressorAvailable() && view.size() >= 2 &&
      static_cast<unsigned char>(view[0]) == 0x1F && static_cast<unsigned char>(view[1]) == 0x8B) {
    std::string inflated;
    inflateInto(view, &inflated);
    owned = std::move(inflated);
    view = owned;
  }

  // 3. Byte-order marks and declared charsets.
  std::size_t position = 0;
  int settled = mode;
  if (mode == 3 || mode == 4) {
    position = 2;  // a two-byte mark is taken to be there
  } else if (mode == 2) {
    if (view.starts_with("\xEF\xBB\xBF"))
      position = 3;
  } else if (mode == 0) {
    if (view.starts_with("\xEF\xBB\xBF")) {
      settled = 2;
      position = 3;
    } else if (view.starts_with("\xFF\xFE")) {
      settled = 3;
      position = 2;
    } else if (view.starts_with("\xFE\xFF")) {
      settled = 4;
      position = 2;
    } else {
      int detected = 0;
      metaCharset(view.substr(0, view.find('\0')), &detected);
      if (detected == 1)
        settled = 2;
      if (detected == 2)
        settled = 5;
      if (detected == 3)
        settled = 6;
    }
  }

  // 4. The body after any mark.
  std::string_view body = position < view.size() ? view.substr(position) : std::string_view();

  // 5. Plausible UTF-8.
  if (settled == 0 && looksLikeUtf8(body))
    settled = 2;

  // 6. Conversion, up to the first zero byte.
  Text result;
  if (const char* charset = charsetOfMode(settled); charset != nullptr && !body.empty()) {
    if (!convertCharsetInto(body, charset, "GB18030", "?", &result))
      result.clear();
    if (std::size_t zero = result.find('\0'); zero != Text::npos)
      result.resize(zero);
  }

  // 7. Otherwise the raw bytes, a mark included.
  if (result.empty()) {
    result = asText(view);
    settled = 1;
  }
  // Room reserved for a result that came out much shorter is given back.
  if (result.capacity() > 2 * result.size() + 4096)
    result.shrink_to_fit();

  if (settledMode != nullptr)
    *settledMode = settled;
  if (text != nullptr)
    *text = result;
  return result;
}

}  // namespace qarvo
