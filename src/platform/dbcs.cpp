#include "platform/dbcs.h"

#include <cstdint>
#include <cstring>

namespace qarvo {

namespace {

inline bool matchesAt(TextView text, std::size_t at, TextView what, bool ignoreCase) {
  if (at + what.size() > text.size())
    return false;
  if (!ignoreCase)
    return std::memcmp(text.data() + at, what.data(), what.size()) == 0;
  // Folding byte by byte is safe for the pattern too: both sides fold only
  // ASCII letters, and a trail byte never starts a comparison.
  for (std::size_t i = 0; i < what.size(); ++i) {
    if (asciiLower(text[at + i]) != asciiLower(what[i]))
      return false;
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
  const std::size_t size = out.size();
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  for (std::size_t i = 0; i < size;) {
    // Markup is mostly ASCII: eight ASCII bytes at a time, each byte from 'A'
    // to 'Z' getting the 0x20 bit.
    if (i + 8 <= size) {
      std::uint64_t word;
      std::memcpy(&word, out.data() + i, 8);
      if ((word & kHighBits) == 0) {
        const std::uint64_t atLeastA = word + (0x80 - 'A') * kOnes;
        const std::uint64_t aboveZ = word + (0x80 - 'Z' - 1) * kOnes;
        word |= ((atLeastA & ~aboveZ) & kHighBits) >> 2;
        std::memcpy(out.data() + i, &word, 8);
        i += 8;
        continue;
      }
    }
    std::size_t n = charLength(out, i);
    if (n == 1)
      out[i] = asciiLower(out[i]);
    i += n;
  }
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
