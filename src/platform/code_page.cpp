#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace qarvo {
namespace {

// The Windows code page 936 is a superset of glibc's GBK by one character
// (0x80 = the euro sign); glibc's CP936 name covers it where available.
const char* systemCodePage() {
  static const char* name = [] {
    iconv_t probe = iconv_open("UTF-8", "CP936");
    if (probe != reinterpret_cast<iconv_t>(-1)) {
      iconv_close(probe);
      return "CP936";
    }
    return "GBK";
  }();
  return name;
}

struct ConverterCache {
  std::map<std::pair<std::string, std::string>, iconv_t> open;
  ~ConverterCache() {
    for (auto& entry : open) {
      if (entry.second != reinterpret_cast<iconv_t>(-1)) iconv_close(entry.second);
    }
  }
  iconv_t get(const char* from, const char* to) {
    auto key = std::make_pair(std::string(from), std::string(to));
    auto it = open.find(key);
    if (it == open.end()) it = open.emplace(key, iconv_open(to, from)).first;
    return it->second;
  }
};

// How many input bytes the character at `in` spans, so that a character that
// is valid but has no counterpart in the target gets one substitute, while an
// invalid byte gets one substitute of its own.
size_t unconvertibleSpan(const char* from, const unsigned char* in, size_t left) {
  if (std::strcmp(from, "UTF-8") == 0) {
    size_t n = in[0] >= 0xF0 && in[0] <= 0xF4 ? 4 : in[0] >= 0xE0 ? 3 : in[0] >= 0xC2 ? 2 : 1;
    if (in[0] >= 0xF5 || n > left) return 1;
    for (size_t i = 1; i < n; ++i) {
      if ((in[i] & 0xC0) != 0x80) return 1;
    }
    return n;
  }
  if (std::strcmp(from, "UTF-16LE") == 0) {
    if (left < 2) return left;
    unsigned unit = in[0] | (in[1] << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF && left >= 4) {
      unsigned next = in[2] | (in[3] << 8);
      if (next >= 0xDC00 && next <= 0xDFFF) return 4;
    }
    return 2;
  }
  return 1;
}

iconv_t converter(const char* from, const char* to) {
  thread_local ConverterCache cache;
  return cache.get(from, to);
}

}  // namespace

bool convertEncoding(std::string_view input, const char* from, const char* to,
                     std::string_view substitute, std::string* output) {
  output->clear();
  iconv_t cd = converter(from, to);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
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
      if (inLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) {
      output->resize(output->size() * 2 + 16);
      continue;
    }
    // EILSEQ: an invalid or unconvertible character; EINVAL: an incomplete one
    // at the end. Either way write the substitute and step over it.
    if (output->size() - used < substitute.size()) output->resize(output->size() * 2 + 16);
    std::memcpy(output->data() + used, substitute.data(), substitute.size());
    used += substitute.size();
    if (errno == EINVAL) {
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

// Page text is mostly ASCII, and the regular expressions convert every cell
// they touch, so the GBK <-> UTF-16 pair converts in pieces: runs of ASCII are
// copied unit for unit here and only the runs that hold other characters go
// through iconv. A piece may end before any byte below 0x40 (GBK trail bytes
// are 0x40 and above, and iconv steps past a lead byte that is followed by
// such a byte with one substitute, the same one an unfinished character at
// the end of a piece gets) and before any UTF-16 unit below 0x80 (never part
// of a surrogate pair), so the result is the same as converting the whole.
std::u16string gbkToUtf16(TextView text) {
  std::u16string result;
  result.reserve(text.size());
  std::string converted;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = at;
    while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80)
      ++end;
    if (end > at) {
      const std::size_t old = result.size();
      result.resize(old + (end - at));
      for (std::size_t i = at; i < end; ++i)
        result[old + (i - at)] = static_cast<unsigned char>(text[i]);
      at = end;
      continue;
    }
    end = at + 1;
    while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x40)
      ++end;
    convertEncoding(text.substr(at, end - at), systemCodePage(), "UTF-16LE", kReplacementUtf16,
                    &converted);
    const std::size_t old = result.size();
    result.resize(old + converted.size() / 2);
    std::memcpy(result.data() + old, converted.data(), (result.size() - old) * 2);
    at = end;
  }
  return result;
}

Text utf16ToGbk(std::u16string_view utf16) {
  Text result;
  result.reserve(utf16.size());
  std::string converted;
  std::size_t at = 0;
  while (at < utf16.size()) {
    std::size_t end = at;
    while (end < utf16.size() && utf16[end] < 0x80)
      ++end;
    if (end > at) {
      const std::size_t old = result.size();
      result.resize(old + (end - at));
      for (std::size_t i = at; i < end; ++i)
        result[old + (i - at)] = static_cast<char>(utf16[i]);
      at = end;
      continue;
    }
    end = at + 1;
    while (end < utf16.size() && utf16[end] >= 0x80)
      ++end;
    convertEncoding(u16Bytes(utf16.substr(at, end - at)), "UTF-16LE", systemCodePage(), "?",
                    &converted);
    result.append(converted);
    at = end;
  }
  return result;
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

}  // namespace qarvo
