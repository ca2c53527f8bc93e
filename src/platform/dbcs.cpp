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

}  // namespace

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
    std::size_t n = charLength(out, i);
    if (n == 1)
      data[i] = asciiLower(data[i]);
    i += n;
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
  // does not start a character boundary there. For a plain byte needle that
  // starts with an ASCII byte we can skip ahead with memchr between candidates.
  std::size_t i = 0;
  const std::size_t last = text.size() - what.size();
  const unsigned char first = static_cast<unsigned char>(what[0]);
  const bool fastSkip =
      !ignoreCase || !((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'));
  while (i <= last) {
    if (i >= from) {
      if (fastSkip) {
        // Jump to the next byte equal to the needle's first byte, then resync
        // the character boundary by walking from the current boundary.
        const void* hit = std::memchr(text.data() + i, what[0], last - i + 1);
        if (hit == nullptr)
          return -1;
        std::size_t h = static_cast<const char*>(hit) - text.data();
        while (i < h)
          i += charLength(text, i);
        if (i != h)
          continue;  // the byte was a trail byte; go on from the next boundary
      }
      if (matchesAt(text, i, what, ignoreCase))
        return static_cast<int>(i + 1);
    }
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
  for (std::size_t i = 0; i + what.size() <= end; i += charLength(text, i)) {
    if (matchesAt(text, i, what, ignoreCase))
      found = static_cast<int>(i + 1);
  }
  return found;
}

Text replaceAllText(TextView text, TextView what, TextView with, bool ignoreCase) {
  if (what.empty())
    return Text(text);
  Text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (matchesAt(text, i, what, ignoreCase)) {
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
