#include "text/keyword_search.h"

#include <opencc/opencc.h>

#include <cstdlib>

#include "platform/code_page.h"
#include "platform/dbcs.h"

namespace qarvo {

namespace {

// Whole-text comparison, folding ASCII letters but never a trail byte.
bool equalsText(TextView a, TextView b, bool ignoreCase) {
  if (a.size() != b.size())
    return false;
  if (!ignoreCase)
    return a == b;
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t n = charLength(a, i);
    if (n == 1) {
      if (asciiLower(a[i]) != asciiLower(b[i]))
        return false;
    } else if (a.compare(i, n, b, i, n) != 0) {
      return false;
    }
    i += n;
  }
  return true;
}

int searchKeyword(TextView text, TextView keyword, bool ignoreCase, bool exactMode) {
  if (exactMode)
    return equalsText(text, keyword, ignoreCase) ? 1 : -1;
  return findText(text, keyword, 1, ignoreCase);
}

// OpenCC's s2t converter, opened once for the process; nullptr when its data
// is missing.
opencc_t traditionalConverter() {
  static const opencc_t handle = [] {
    opencc_t opened = opencc_open("s2t.json");
    return opened == reinterpret_cast<opencc_t>(-1) ? nullptr : opened;
  }();
  return handle;
}

bool isHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

// Fits converted GBK text into exactly `size` bytes: cut at the last whole
// character that fits, then pad with ASCII spaces.
Text fitToLength(Text text, std::size_t size) {
  if (text.size() > size) {
    std::size_t end = 0;
    while (end < text.size()) {
      const std::size_t n = charLength(text, end);
      if (end + n > size)
        break;
      end += n;
    }
    text.resize(end);
  }
  text.resize(size, ' ');
  return text;
}

// Maps one stretch of text without NUL bytes (OpenCC works on C strings).
//
// The traditional mapping we stand in for maps character by character into a
// buffer of the input's byte length, so callers may rely on the length. OpenCC
// converts whole phrases, usually keeping the number of characters; then each
// character is replaced by its Traditional form when GBK holds that form in
// the same number of bytes, and kept otherwise. Should a phrase change the
// number of characters, the converted text is cut at a character boundary or
// padded with spaces to the input's length: a keyword built from it then
// still has the caller's length and never ends in half a character.
Text traditionalStretch(opencc_t converter, TextView stretch) {
  const std::u16string original = gbkToUtf16(stretch);
  const std::string utf8 = utf16ToUtf8(original);
  char* converted = opencc_convert_utf8(converter, utf8.data(), utf8.size());
  if (converted == nullptr)
    return Text(stretch);
  const std::string convertedUtf8(converted);
  opencc_convert_utf8_free(converted);
  if (convertedUtf8 == utf8)
    return Text(stretch);
  const std::u16string mapped = utf8ToUtf16(convertedUtf8);

  // Characters of the input as the byte walk sees them; an invalid sequence
  // may convert to a different number of units, which ends the aligned path.
  std::size_t characters = 0;
  for (std::size_t i = 0; i < stretch.size(); i += charLength(stretch, i))
    ++characters;

  std::u16string candidate;
  candidate.reserve(original.size());
  for (std::size_t j = 0; j < mapped.size(); ++j) {
    const std::size_t k = candidate.size();
    if (k >= original.size()) {
      candidate.push_back(u'\0');  // too many characters; checked below
      break;
    }
    if (isHighSurrogate(mapped[j]) && j + 1 < mapped.size()) {
      ++j;  // outside GBK anyway: keep the input's character
      candidate.push_back(original[k]);
    } else {
      candidate.push_back(mapped[j]);
    }
  }
  if (characters != original.size() || candidate.size() != original.size()) {
    return fitToLength(utf8ToGbk(convertedUtf8), stretch.size());
  }

  const Text encoded = utf16ToGbk(candidate);
  Text result;
  result.reserve(stretch.size());
  std::size_t in = 0;
  std::size_t out = 0;
  for (std::size_t k = 0; k < candidate.size(); ++k) {
    const std::size_t inLength = charLength(stretch, in);
    const std::size_t outLength = out < encoded.size() ? charLength(encoded, out) : 0;
    const bool substituted = outLength == 1 && encoded[out] == '?' && candidate[k] != u'?';
    if (outLength == inLength && !substituted) {
      result.append(encoded, out, outLength);
    } else {
      result.append(stretch.substr(in, inLength));
    }
    in += inLength;
    out += outLength;
  }
  return result;
}

bool isAscii(TextView text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

}  // namespace

Text toTraditional(TextView text) {
  if (isAscii(text))
    return Text(text);
  opencc_t converter = traditionalConverter();
  if (converter == nullptr)
    return Text(text);
  Text result;
  result.reserve(text.size());
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t nul = text.find('\0', from);
    if (nul == TextView::npos)
      nul = text.size();
    result.append(traditionalStretch(converter, text.substr(from, nul - from)));
    if (nul == text.size())
      break;
    result.push_back('\0');
    from = nul + 1;
  }
  return result;
}

bool containsKeyword(TextView text, TextView keywords, bool anyMode, TextView separator,
                     Text* matched, int* position, bool tryTraditional,
                     std::vector<Text>* keywordList, bool ignoreCase, bool exactMode) {
  std::vector<Text> split;
  const std::vector<Text>* list = keywordList;
  if (keywordList == nullptr || keywordList->empty()) {
    split = splitText(keywords, separator.empty() ? TextView("|") : separator);
    if (keywordList != nullptr) {
      *keywordList = split;
    } else {
      list = &split;
    }
  }

  if (position != nullptr)
    *position = -1;
  const Text* lastFound = nullptr;
  for (const Text& keyword : *list) {
    if (keyword.empty())
      continue;
    int found = searchKeyword(text, keyword, ignoreCase, exactMode);
    if (found < 0 && tryTraditional) {
      const Text traditional = toTraditional(keyword);
      if (traditional != keyword)
        found = searchKeyword(text, traditional, ignoreCase, exactMode);
    }
    if (position != nullptr)
      *position = found;
    if (found > 0) {
      lastFound = &keyword;
      if (anyMode)
        break;
    } else if (!anyMode) {
      return false;
    }
  }
  if (lastFound == nullptr)
    return false;
  if (matched != nullptr)
    *matched = *lastFound;
  return true;
}

}  // namespace qarvo
