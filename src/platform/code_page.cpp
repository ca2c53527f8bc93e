#include "platform/code_page.h"

#include <iconv.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qarvo {
namespace {

// The system code page. GB18030 holds every GBK character with the same
// bytes, so text written in GBK reads unchanged, and it holds every other
// Unicode character too (in four bytes: lead, digit, lead, digit), so a path
// such as "/home/jörg" survives the trip through the program's text.
const char* systemCodePage() {
  return "GB18030";
}

// The converters opened so far, by encoding names, the most recently used
// first. A page converts a few stretches per row, so a look-up compares names
// in place instead of building key strings. Charset names come from servers:
// the cache keeps at most kMaxConverters and never a name iconv refused.
constexpr std::size_t kMaxConverters = 24;

struct ConverterCache {
  struct Entry {
    std::string from;
    std::string to;
    iconv_t cd;
  };
  std::vector<Entry> open;
  ~ConverterCache() {
    for (Entry& entry : open)
      iconv_close(entry.cd);
  }
  iconv_t get(const char* from, const char* to) {
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i].from == from && open[i].to == to) {
        // Move it to the front, so that the busy pairs stay.
        std::rotate(open.begin(), open.begin() + static_cast<std::ptrdiff_t>(i),
                    open.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        return open.front().cd;
      }
    }
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
      return cd;
    if (open.size() >= kMaxConverters) {
      iconv_close(open.back().cd);
      open.pop_back();
    }
    open.insert(open.begin(), Entry{from, to, cd});
    return cd;
  }
};

// How many input bytes the character at `in` spans, so that a character that
// is valid but has no counterpart in the target gets one substitute, while an
// invalid byte gets one substitute of its own.
size_t unconvertibleSpan(const char* from, const unsigned char* in, size_t left) {
  if (std::strcmp(from, "UTF-8") == 0) {
    size_t n = in[0] >= 0xF0 && in[0] <= 0xF4 ? 4 : in[0] >= 0xE0 ? 3 : in[0] >= 0xC2 ? 2 : 1;
    if (in[0] >= 0xF5 || n > left)
      return 1;
    for (size_t i = 1; i < n; ++i) {
      if ((in[i] & 0xC0) != 0x80)
        return 1;
    }
    return n;
  }
  if (std::strcmp(from, "UTF-16LE") == 0) {
    if (left < 2)
      return left;
    unsigned unit = in[0] | (in[1] << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF && left >= 4) {
      unsigned next = in[2] | (in[3] << 8);
      if (next >= 0xDC00 && next <= 0xDFFF)
        return 4;
    }
    return 2;
  }
  return 1;
}

ConverterCache& converterCache() {
  thread_local ConverterCache cache;
  return cache;
}

iconv_t converter(const char* from, const char* to) {
  return converterCache().get(from, to);
}

// Index of the first byte at or after `at` that is not ASCII (text.size()
// when there is none), many bytes at a time.
std::size_t asciiRunEnd(TextView text, std::size_t at) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  const std::size_t size = text.size();
#if defined(__SSE2__)
  while (at + 16 <= size) {
    const int high =
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at)));
    if (high != 0)
      return at + static_cast<std::size_t>(__builtin_ctz(high));
    at += 16;
  }
#endif
  while (at + 8 <= size) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    if ((word & kHighBits) != 0)
      break;
    at += 8;
  }
  while (at < size && static_cast<unsigned char>(text[at]) < 0x80)
    ++at;
  return at;
}

}  // namespace

namespace {

bool convertWhole(std::string_view input, const char* from, const char* to,
                  std::string_view substitute, std::string* output);

// UTF-8 into a code page that keeps ASCII as it is: decoded pages are mostly
// ASCII markup, which is copied here, and the common characters come from
// tables; iconv sees only the stretches from a character that the tables do
// not know. A stretch ends right after an ASCII byte (never part of a UTF-8
// sequence, so iconv is at a character boundary there in the whole text too,
// and no stretch ends inside a sequence unless the whole input does) that
// starts at least 16 ASCII bytes in a row, so text that mixes short ASCII
// pieces with other characters still goes to iconv in few calls.
bool asciiTransparent(const char* from, const char* to) {
  if (strcasecmp(from, "UTF-8") != 0)
    return false;
  for (const char* name : {"GB18030", "GBK", "CP936"}) {
    if (strcasecmp(to, name) == 0)
      return true;
  }
  return false;
}

// The two-byte code of each UTF-16 unit in the code page `to`, where the
// program knows it from iconv (zero where it does not); null for a code page
// it keeps no table for. Defined with the tables below.
const std::uint16_t* twoByteCodes(const char* to);

// A well-formed UTF-8 sequence of two or three bytes at input[at]: its length,
// with the unit it stands for in *unit; 0 for anything else (ASCII, four-byte
// sequences, surrogates, overlong forms, broken sequences).
std::size_t bmpSequence(std::string_view input, std::size_t at, char16_t* unit) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(input[at + i]); };
  const std::size_t left = input.size() - at;
  const unsigned lead = byte(0);
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (left < 2 || (byte(1) & 0xC0) != 0x80)
      return 0;
    *unit = static_cast<char16_t>((lead & 0x1F) << 6 | (byte(1) & 0x3F));
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3 || (byte(1) & 0xC0) != 0x80 || (byte(2) & 0xC0) != 0x80)
      return 0;
    const unsigned value = (lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    if (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))
      return 0;
    *unit = static_cast<char16_t>(value);
    return 3;
  }
  return 0;
}

bool convertAsciiApart(std::string_view input, const char* from, const char* to,
                       std::string_view substitute, std::string* output) {
  constexpr std::size_t kAsciiStretch = 16;
  const std::uint16_t* codes = twoByteCodes(to);
  std::string piece;
  std::size_t at = 0;
  const std::size_t size = input.size();
  while (at < size) {
    std::size_t end = asciiRunEnd(input, at);
    output->append(input.substr(at, end - at));
    at = end;
    // The characters that the table knows go straight in. iconv takes over
    // from the first one it does not know, at a character boundary, as it
    // would be over the whole text (these code pages keep no shift state).
    while (codes != nullptr && at < size && static_cast<unsigned char>(input[at]) >= 0x80) {
      char16_t unit = 0;
      const std::size_t length = bmpSequence(input, at, &unit);
      const std::uint16_t code = length != 0 ? codes[unit] : 0;
      if (code == 0)
        break;
      const char pair[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
      output->append(pair, 2);
      at += length;
    }
    if (at == size || static_cast<unsigned char>(input[at]) < 0x80)
      continue;
    end = at;
    std::size_t ascii = 0;  // ASCII bytes in a row just before `end`
    while (end < size && ascii < kAsciiStretch) {
      ascii = static_cast<unsigned char>(input[end]) < 0x80 ? ascii + 1 : 0;
      ++end;
    }
    if (ascii > 0)
      end -= ascii - 1;  // up to and including the first ASCII byte of the stretch
    if (!convertWhole(input.substr(at, end - at), from, to, substitute, &piece))
      return false;
    output->append(piece);
    at = end;
  }
  return true;
}

}  // namespace

bool convertEncoding(std::string_view input, const char* from, const char* to,
                     std::string_view substitute, std::string* output) {
  output->clear();
  if (asciiTransparent(from, to)) {
    if (converter(from, to) == reinterpret_cast<iconv_t>(-1))
      return false;
    output->reserve(input.size() + 16);
    if (convertAsciiApart(input, from, to, substitute, output))
      return true;
    output->clear();
    return false;
  }
  return convertWhole(input, from, to, substitute, output);
}

namespace {

bool convertWhole(std::string_view input, const char* from, const char* to,
                  std::string_view substitute, std::string* output) {
  output->clear();
  iconv_t cd = converter(from, to);
  if (cd == reinterpret_cast<iconv_t>(-1))
    return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state

  output->resize(input.size() * 4 + 16);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  size_t used = 0;
  while (true) {
    char* out = output->data() + used;
    size_t outLeft = output->size() - used;
    size_t rc = inLeft == 0 ? iconv(cd, nullptr, nullptr, &out, &outLeft)
                            : iconv(cd, &in, &inLeft, &out, &outLeft);
    used = output->size() - outLeft;
    if (rc != static_cast<size_t>(-1)) {
      if (inLeft == 0)
        break;
      continue;
    }
    if (errno == E2BIG) {
      output->resize(output->size() * 2 + 16);
      continue;
    }
    // EILSEQ: an invalid or unconvertible character; EINVAL: an incomplete one
    // at the end. Either way write the substitute and step over it.
    if (output->size() - used < substitute.size())
      output->resize(output->size() * 2 + 16);
    std::memcpy(output->data() + used, substitute.data(), substitute.size());
    used += substitute.size();
    // An unfinished character at the very end gets one substitute. In
    // GB18030 only its lead byte goes, as in the middle of a text: the bytes
    // after it (a digit, a lead byte) may be characters of their own, and a
    // text converted in pieces must give what the whole text gives.
    if (errno == EINVAL && strcasecmp(from, "GB18030") != 0) {
      inLeft = 0;
    } else {
      size_t span = unconvertibleSpan(from, reinterpret_cast<unsigned char*>(in), inLeft);
      in += span;
      inLeft -= span;
    }
    if (inLeft == 0) {
      output->resize(used);
      char* flushOut = nullptr;
      size_t flushLeft = 0;
      iconv(cd, nullptr, nullptr, &flushOut, &flushLeft);
      return true;
    }
  }
  output->resize(used);
  return true;
}

}  // namespace

std::string gbkToUtf8(TextView text) {
  std::string out;
  convertEncoding(text, systemCodePage(), "UTF-8", "\xEF\xBF\xBD", &out);
  return out;
}

Text utf8ToGbk(std::string_view utf8) {
  std::string out;
  convertEncoding(utf8, "UTF-8", systemCodePage(), "?", &out);
  return out;
}

namespace {
std::u16string bytesToU16(const std::string& bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}
std::string_view u16Bytes(std::u16string_view text) {
  return std::string_view(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}
constexpr std::string_view kReplacementUtf16{"\xFD\xFF", 2};  // U+FFFD little-endian
}  // namespace

namespace {

// The double-byte characters of the code page as iconv converts them, read
// from iconv once in two batch conversions: the UTF-16 unit of every
// lead/trail pair and the pair of every unit that such a pair decodes to.
// Zero marks what the tables do not know (invalid pairs, unmapped units);
// conversions hand those to iconv itself.
struct DoubleByteTables {
  std::vector<char16_t> unitOfPair;       // [(lead - 0x81) * 256 + trail]
  std::vector<std::uint16_t> pairOfUnit;  // [unit]: lead << 8 | trail
  // Bit (lead - 0x81) * 256 + trail: the pair converts to a unit and back to
  // itself. Small enough to stay in the first-level cache.
  std::vector<std::uint64_t> pairComesBack;

  bool comesBack(unsigned lead, unsigned trail) const {
    const unsigned index = (lead - 0x81) * 256 + trail;
    return (pairComesBack[index / 64] >> (index % 64) & 1) != 0;
  }

  DoubleByteTables() : unitOfPair(126 * 256), pairOfUnit(0x10000), pairComesBack(126 * 256 / 64) {
    // Every pair, each followed by LF: a byte below 0x40 is never a trail
    // byte, so each pair converts on its own.
    std::string pairs;
    pairs.reserve(126 * 191 * 3);
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        pairs.push_back(static_cast<char>(lead));
        pairs.push_back(static_cast<char>(trail));
        pairs.push_back('\n');
      }
    }
    std::string units;
    if (!convertEncoding(pairs, systemCodePage(), "UTF-16LE", kReplacementUtf16, &units))
      return;
    std::u16string decoded = bytesToU16(units);
    std::u16string known;  // the units found, each followed by LF
    std::vector<std::uint16_t> knownPairs;
    std::size_t at = 0;
    for (std::size_t i = 0; i < pairs.size(); i += 3) {
      const std::size_t end = decoded.find(u'\n', at);
      if (end == std::u16string::npos)
        return;
      const char16_t unit = decoded[at];
      if (end == at + 1 && unit >= 0x80 && unit != 0xFFFD && (unit < 0xD800 || unit > 0xDFFF)) {
        const auto lead = static_cast<unsigned char>(pairs[i]);
        const auto trail = static_cast<unsigned char>(pairs[i + 1]);
        unitOfPair[(lead - 0x81) * 256 + trail] = unit;
        known.push_back(unit);
        known.push_back(u'\n');
        knownPairs.push_back(static_cast<std::uint16_t>(lead << 8 | trail));
      }
      at = end + 1;
    }
    // The way back, as iconv encodes each unit (a unit some other pair also
    // decodes to gets iconv's own choice).
    std::string encoded;
    if (!convertEncoding(u16Bytes(known), "UTF-16LE", systemCodePage(), "?", &encoded))
      return;
    at = 0;
    for (std::size_t k = 0; k < knownPairs.size(); ++k) {
      const std::size_t end = encoded.find('\n', at);
      if (end == std::string::npos)
        return;
      if (end == at + 2 && static_cast<unsigned char>(encoded[at]) >= 0x81) {
        pairOfUnit[known[2 * k]] =
            static_cast<std::uint16_t>(static_cast<unsigned char>(encoded[at]) << 8 |
                                       static_cast<unsigned char>(encoded[at + 1]));
      }
      at = end + 1;
    }
    for (const std::uint16_t pair : knownPairs) {
      const unsigned index = ((pair >> 8) - 0x81) * 256 + (pair & 0xFF);
      if (pairOfUnit[unitOfPair[index]] == pair)
        pairComesBack[index / 64] |= std::uint64_t{1} << (index % 64);
    }
  }
};

const DoubleByteTables& doubleByteTables() {
  static const DoubleByteTables tables;
  return tables;
}

// The two-byte GB18030 code of every unit of the basic plane that iconv
// encodes in two bytes (most of them the GBK codes), read from iconv once in
// one batch, each unit followed by LF. LF never occurs inside a GB18030 code.
struct Gb18030Codes {
  std::vector<std::uint16_t> codeOfUnit;

  Gb18030Codes() : codeOfUnit(0x10000) {
    std::u16string units;
    units.reserve(2 * 0x10000);
    for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
      if (unit >= 0xD800 && unit <= 0xDFFF)
        continue;
      units.push_back(static_cast<char16_t>(unit));
      units.push_back(u'\n');
    }
    std::string encoded;
    if (!convertEncoding(u16Bytes(units), "UTF-16LE", "GB18030", "?", &encoded))
      return;
    std::size_t at = 0;
    for (std::size_t i = 0; i < units.size(); i += 2) {
      const std::size_t end = encoded.find('\n', at);
      if (end == std::string::npos)
        return;
      if (end == at + 2 && static_cast<unsigned char>(encoded[at]) >= 0x81) {
        codeOfUnit[units[i]] =
            static_cast<std::uint16_t>(static_cast<unsigned char>(encoded[at]) << 8 |
                                       static_cast<unsigned char>(encoded[at + 1]));
      }
      at = end + 1;
    }
  }
};

const std::uint16_t* twoByteCodes(const char* to) {
  if (strcasecmp(to, "GB18030") == 0) {
    static const Gb18030Codes codes;
    return codes.codeOfUnit.data();
  }
  if (strcasecmp(to, systemCodePage()) == 0)
    return doubleByteTables().pairOfUnit.data();
  return nullptr;
}

}  // namespace

// Page text is mostly ASCII, and the regular expressions convert every cell
// they touch, so the GBK <-> UTF-16 pair converts in runs: ASCII is copied
// unit for unit, double-byte characters go through the tables above, and only
// what the tables do not know goes through iconv, up to the end of its run. A
// run may end before any byte below 0x30 (no byte of a GB18030 character is
// below 0x30: trail bytes are 0x40 and above, the second and fourth bytes of
// a four-byte character digits, and iconv steps past a lead byte that is
// followed by such a byte with one substitute, the same one an unfinished
// character at the end of a run gets) and before any UTF-16 unit below 0x80
// (never part of a surrogate pair), so the result is the same as converting
// the whole text with iconv.
void gbkToUtf16(TextView text, std::u16string* out) {
  std::u16string& result = *out;
  // One unit per byte is room enough for the tables and for iconv (one unit
  // per character or per substituted byte); the room is checked anyway.
  result.resize(text.size());
  std::size_t used = 0;
  auto makeRoom = [&](std::size_t more) {
    if (result.size() < used + more)
      result.resize(used + more);
  };
  std::string converted;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = asciiRunEnd(text, at);
    if (end > at) {
      makeRoom(end - at);
      char16_t* to = result.data() + used;
      used += end - at;
#if defined(__SSE2__)
      for (; at + 16 <= end; at += 16, to += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), _mm_unpackhi_epi8(bytes, zero));
      }
#endif
      for (; at < end; ++at)
        *to++ = static_cast<unsigned char>(text[at]);
      continue;
    }
    end = at + 1;
    while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x30)
      ++end;
    const DoubleByteTables& tables = doubleByteTables();
    makeRoom(end - at);
    while (at < end) {
      const auto byte = static_cast<unsigned char>(text[at]);
      if (byte < 0x80) {
        result[used++] = byte;
        ++at;
        continue;
      }
      if (byte >= 0x81 && byte <= 0xFE && at + 1 < end) {
        const char16_t unit =
            tables.unitOfPair[(byte - 0x81) * 256 + static_cast<unsigned char>(text[at + 1])];
        if (unit != 0) {
          result[used++] = unit;
          at += 2;
          continue;
        }
      }
      convertEncoding(text.substr(at, end - at), systemCodePage(), "UTF-16LE", kReplacementUtf16,
                      &converted);
      makeRoom(converted.size() / 2);
      std::memcpy(result.data() + used, converted.data(), converted.size() / 2 * 2);
      used += converted.size() / 2;
      at = end;
    }
  }
  result.resize(used);
}

std::u16string gbkToUtf16(TextView text) {
  std::u16string result;
  gbkToUtf16(text, &result);
  return result;
}

void utf16ToGbk(std::u16string_view utf16, Text* out) {
  Text& result = *out;
  // Two bytes per unit is room enough for the tables and for iconv (a
  // character of the code page or one "?"); the room is checked anyway.
  result.resize(utf16.size() * 2);
  std::size_t used = 0;
  auto makeRoom = [&](std::size_t more) {
    if (result.size() < used + more)
      result.resize(used + more);
  };
  std::string converted;
  std::size_t at = 0;
  while (at < utf16.size()) {
    std::size_t end = at;
#if defined(__SSE2__)
    // Sixteen ASCII units at a time, narrowed as they go.
    const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (end + 16 <= utf16.size()) {
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(utf16.data() + end));
      const __m128i high =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(utf16.data() + end + 8));
      const __m128i beyond = _mm_and_si128(_mm_or_si128(low, high), nonAscii);
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) != 0xFFFF)
        break;
      makeRoom(16);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(result.data() + used),
                       _mm_packus_epi16(low, high));
      used += 16;
      end += 16;
    }
    at = end;
#endif
    while (end < utf16.size() && utf16[end] < 0x80)
      ++end;
    if (end > at) {
      makeRoom(end - at);
      for (; at < end; ++at)
        result[used++] = static_cast<char>(utf16[at]);
      continue;
    }
    if (at >= utf16.size())
      break;
    end = at + 1;
    while (end < utf16.size() && utf16[end] >= 0x80)
      ++end;
    const DoubleByteTables& tables = doubleByteTables();
    while (at < end) {
      const std::uint16_t pair = tables.pairOfUnit[utf16[at]];
      if (pair != 0) {
        makeRoom(2);
        result[used++] = static_cast<char>(pair >> 8);
        result[used++] = static_cast<char>(pair & 0xFF);
        ++at;
        continue;
      }
      convertEncoding(u16Bytes(utf16.substr(at, end - at)), "UTF-16LE", systemCodePage(), "?",
                      &converted);
      makeRoom(converted.size());
      std::memcpy(result.data() + used, converted.data(), converted.size());
      used += converted.size();
      at = end;
    }
  }
  result.resize(used);
}

Text utf16ToGbk(std::u16string_view utf16) {
  Text result;
  utf16ToGbk(utf16, &result);
  return result;
}

// The two conversions above take a character the tables know to its unit and
// the unit back to the pair the tables give for it; ASCII goes both ways
// unchanged. Whatever else the text holds goes through iconv, which may
// substitute, so it is not vouched for.
bool survivesUtf16RoundTrip(TextView text) {
  const DoubleByteTables& tables = doubleByteTables();
  const std::size_t size = text.size();
  std::size_t at = 0;
  while (true) {
    at = asciiRunEnd(text, at);
    if (at == size)
      return true;
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x81 || lead > 0xFE || at + 1 >= size)
      return false;
    if (!tables.comesBack(lead, static_cast<unsigned char>(text[at + 1])))
      return false;
    at += 2;
  }
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::string out;
  convertEncoding(utf8, "UTF-8", "UTF-16LE", kReplacementUtf16, &out);
  return bytesToU16(out);
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  convertEncoding(u16Bytes(utf16), "UTF-16LE", "UTF-8", "\xEF\xBF\xBD", &out);
  return out;
}

std::size_t openConverterCount() {
  return converterCache().open.size();
}

}  // namespace qarvo
