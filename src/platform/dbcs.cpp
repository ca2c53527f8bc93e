#include "platform/dbcs.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qarvo {

namespace {

inline bool matchesAt(TextView text, std::size_t at, TextView what, bool ignoreCase) {
  if (at + what.size() > text.size())
    return false;
  if (!ignoreCase)
    return std::memcmp(text.data() + at, what.data(), what.size()) == 0;
  // Only the bytes that start a character fold. A trail byte may have the
  // value of an ASCII letter ("\xC4A" and "\xC4a" are two different
  // characters), so it is compared as it is. Both sides walk the same
  // characters: a lead byte never folds, so where they agree on it, both have
  // a double-byte character there.
  for (std::size_t i = 0; i < what.size();) {
    if (isLeadByte(static_cast<unsigned char>(what[i])) && i + 1 < what.size()) {
      if (text[at + i] != what[i] || text[at + i + 1] != what[i + 1])
        return false;
      i += 2;
      continue;
    }
    if (asciiLower(text[at + i]) != asciiLower(what[i]))
      return false;
    ++i;
  }
  return true;
}

inline bool isDigit(char c) {
  return static_cast<unsigned char>(c - '0') <= 9;
}

// Whether a hit of `what` may end inside a four-byte character of the text,
// known from `what` alone: only where it ends in a lone lead byte or in a
// lead byte and a digit can the text go on with the rest of such a character.
bool mayEndInsideFourBytes(TextView what) {
  std::size_t last = 0;
  for (std::size_t i = 0; i < what.size(); i += charLength(what, i))
    last = i;
  const std::size_t n = what.size() - last;
  return (n == 1 && isLeadByte(static_cast<unsigned char>(what[last]))) ||
         (n == 2 && isDigit(what[last + 1]));
}

// The first character boundary at or after `target`, walking on from the
// boundary `boundary`; ASCII runs eight bytes at a time.
std::size_t nextBoundary(TextView text, std::size_t boundary, std::size_t target) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (boundary < target) {
    if (boundary + 8 <= target) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + boundary, 8);
      if ((word & kHighBits) == 0) {
        boundary += 8;
        continue;
      }
    }
    boundary += charLength(text, boundary);
  }
  return boundary;
}

}  // namespace

bool cutsFourByteCharacter(TextView text, std::size_t at, std::size_t length) {
  const std::size_t end = at + length;
  if (end >= text.size() || length == 0)
    return false;
  // Inside a four-byte character, the byte at `end` is one of its digits or
  // the lead byte of its second half. Anything else ends a character, so the
  // walk below is only needed near four-byte text.
  const auto next = static_cast<unsigned char>(text[end]);
  const bool secondHalf =
      next >= 0x81 && next <= 0xFE && end + 1 < text.size() && isDigit(text[end + 1]);
  if (!isDigit(text[end]) && !secondHalf)
    return false;
  for (std::size_t i = at; i < end;) {
    const std::size_t n = charLength(text, i);
    if (i + n > end)
      return n == 4;
    i += n;
  }
  return false;
}

Text asciiToUpper(TextView text) {
  Text out(text);
  for (std::size_t i = 0; i < out.size();) {
    std::size_t n = charLength(out, i);
    if (n == 1)
      out[i] = asciiUpper(out[i]);
    i += n;
  }
  return out;
}

Text asciiToLower(TextView text) {
  Text out(text);
  asciiToLowerInPlace(&out);
  return out;
}

void asciiToLowerInPlace(Text* text) {
  Text& out = *text;
  char* const data = out.data();
  const std::size_t size = out.size();
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  for (std::size_t i = 0; i < size;) {
    // Markup is mostly ASCII: many bytes at a time, each byte from 'A' to 'Z'
    // getting the 0x20 bit. `i` is always at the start of a character.
#if defined(__SSE2__)
    if (i + 16 <= size) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8('A' - 1)),
                                    _mm_cmplt_epi8(block, _mm_set1_epi8('Z' + 1)));
      // Bytes of 0x80 and above start double-byte characters, whose trail
      // bytes must stay as they are: mark them, walking the lead bytes.
      unsigned leads = static_cast<unsigned>(_mm_movemask_epi8(block));
      unsigned trails = 0;
      std::size_t step = 16;
      while (leads != 0) {
        const unsigned at = static_cast<unsigned>(__builtin_ctz(leads));
        if (at == 15) {
          step = 17;  // the trail byte begins the next block
          break;
        }
        trails |= 2u << at;
        leads &= ~(3u << at);
      }
      if (trails != 0) {
        const __m128i bits = _mm_unpacklo_epi64(_mm_set1_epi8(static_cast<char>(trails & 0xFF)),
                                                _mm_set1_epi8(static_cast<char>(trails >> 8)));
        const __m128i select =
            _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
        const __m128i isTrail = _mm_cmpeq_epi8(_mm_and_si128(bits, select), select);
        upper = _mm_andnot_si128(isTrail, upper);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(data + i),
                       _mm_or_si128(block, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
      i += step;
      continue;
    }
#endif
    if (i + 8 <= size) {
      std::uint64_t word;
      std::memcpy(&word, data + i, 8);
      if ((word & kHighBits) == 0) {
        const std::uint64_t atLeastA = word + (0x80 - 'A') * kOnes;
        const std::uint64_t aboveZ = word + (0x80 - 'Z' - 1) * kOnes;
        word |= ((atLeastA & ~aboveZ) & kHighBits) >> 2;
        std::memcpy(data + i, &word, 8);
        i += 8;
        continue;
      }
    }
    // Lead-and-trail pairs are enough here, as in the blocks above: a
    // four-byte character folds as its two pairs do (none of its bytes is a
    // letter that starts a character).
    if (isLeadByte(static_cast<unsigned char>(data[i])) && i + 1 < size) {
      i += 2;
      continue;
    }
    data[i] = asciiLower(data[i]);
    ++i;
  }
}

bool containsAsciiUpper(TextView text) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8('A' - 1)),
                                        _mm_cmplt_epi8(block, _mm_set1_epi8('Z' + 1)));
    if (_mm_movemask_epi8(upper) != 0)
      return true;
  }
#endif
  for (; i < text.size(); ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z')
      return true;
  }
  return false;
}

std::size_t searchBytes(TextView text, TextView what, std::size_t from) {
  const std::size_t size = text.size();
  const std::size_t n = what.size();
  if (n == 0)
    return from <= size ? from : TextView::npos;
  if (from >= size || size - from < n)
    return TextView::npos;
  const char* const base = text.data();
  if (n == 1) {
    const void* hit = std::memchr(base + from, what[0], size - from);
    return hit == nullptr ? TextView::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - base);
  }
  // Candidates are places where the first byte and one more byte of `what`
  // agree. That other byte is the last one, except where `what` ends in ">"
  // like every tag: then the one before it, which tells "</tr>" from "</td>".
  std::size_t other = n - 1;
  if (what[other] == '>' && other > 1)
    --other;
  const std::size_t lastStart = size - n;  // the last place a hit can begin
  auto matchesAt = [&](std::size_t at) {
    return std::memcmp(base + at + 1, what.data() + 1, n - 1) == 0;
  };
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i firstByte = _mm_set1_epi8(what[0]);
  const __m128i otherByte = _mm_set1_epi8(what[other]);
  // Sixteen candidates at a time, while their other bytes lie in the text.
  while (i + 16 + other <= size) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i + other));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(a, firstByte), _mm_cmpeq_epi8(b, otherByte))));
    while (mask != 0) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (at > lastStart)
        return TextView::npos;
      if (matchesAt(at))
        return at;
      mask &= mask - 1;
    }
    i += 16;
  }
#endif
  for (; i <= lastStart; ++i) {
    if (base[i] == what[0] && base[i + other] == what[other] && matchesAt(i))
      return i;
  }
  return TextView::npos;
}

int findText(TextView text, TextView what, int start, bool ignoreCase) {
  if (what.empty() || what.size() > text.size())
    return -1;
  std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
  if (from >= text.size())
    return -1;
  // Walk characters from the beginning so that `from` landing on a trail byte
  // does not start a character boundary there. For a needle whose first byte
  // does not fold, memchr skips ahead between candidates.
  const std::size_t last = text.size() - what.size();
  const char first = asciiLower(what[0]);
  const bool fastSkip = !ignoreCase || first == asciiUpper(first);
  const bool mayCut = mayEndInsideFourBytes(what);
  std::size_t i = nextBoundary(text, 0, from);
  while (i <= last) {
    if (fastSkip) {
      // Jump to the next byte equal to the needle's first byte, then resync
      // the character boundary by walking from the current boundary.
      const void* hit = std::memchr(text.data() + i, what[0], last - i + 1);
      if (hit == nullptr)
        return -1;
      const std::size_t h = static_cast<const char*>(hit) - text.data();
      i = nextBoundary(text, i, h);
      if (i != h)
        continue;  // the byte was a trail byte; go on from the next boundary
    } else if (asciiLower(text[i]) != first) {
      i += charLength(text, i);
      continue;
    }
    if (matchesAt(text, i, what, ignoreCase) &&
        !(mayCut && cutsFourByteCharacter(text, i, what.size())))
      return static_cast<int>(i + 1);
    i += charLength(text, i);
  }
  return -1;
}

int findLastText(TextView text, TextView what, int limit, bool ignoreCase) {
  std::size_t end = (limit < 0 || static_cast<std::size_t>(limit) > text.size())
                        ? text.size()
                        : static_cast<std::size_t>(limit);
  if (what.empty() || what.size() > end)
    return -1;
  int found = -1;
  const char first = asciiLower(what[0]);
  const bool mayCut = mayEndInsideFourBytes(what);
  for (std::size_t i = 0; i + what.size() <= end; i += charLength(text, i)) {
    // A first byte that differs even folded rules the place out cheaply.
    if (asciiLower(text[i]) == first && matchesAt(text, i, what, ignoreCase) &&
        !(mayCut && cutsFourByteCharacter(text, i, what.size())))
      found = static_cast<int>(i + 1);
  }
  return found;
}

Text replaceAllText(TextView text, TextView what, TextView with, bool ignoreCase) {
  if (what.empty())
    return Text(text);
  Text out;
  out.reserve(text.size());
  const char first = asciiLower(what[0]);
  const bool mayCut = mayEndInsideFourBytes(what);
  for (std::size_t i = 0; i < text.size();) {
    if (asciiLower(text[i]) == first && matchesAt(text, i, what, ignoreCase) &&
        !(mayCut && cutsFourByteCharacter(text, i, what.size()))) {
      out.append(with);
      i += what.size();
    } else {
      std::size_t n = charLength(text, i);
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace qarvo
