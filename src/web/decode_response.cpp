#include "web/decode_response.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>

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

Bytes gunzipBytes(const Bytes& bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 32) != Z_OK)
    return {};  // gzip or zlib header
  Bytes result;
  unsigned char output[kGzipBlock];
  std::size_t position = 0;
  while (true) {
    std::size_t take = std::min(kGzipBlock, bytes.size() - position);
    stream.next_in = const_cast<Bytef*>(bytes.data() + position);
    stream.avail_in = static_cast<uInt>(take);
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(kGzipBlock);
    int status = inflate(&stream, Z_NO_FLUSH);
    std::size_t consumed = take - stream.avail_in;
    std::size_t produced = kGzipBlock - stream.avail_out;
    result.insert(result.end(), output, output + produced);
    position += consumed;
    if (result.size() > kMaxResponseBodyBytes) {
      // A small body that inflates without end is not followed into memory.
      result.clear();
      break;
    }
    if (status != Z_OK)
      break;  // stream end, a fault, or no way forward
    if (consumed == 0 && produced == 0)
      break;
  }
  inflateEnd(&stream);
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

bool metaCharset(TextView page, int* detected) {
  static const Text utf8 =
      apostrophesToQuote("charset=UTF-8[fg]charset=''UTF-8''[fg]charset='UTF-8'");
  static const Text big5 = apostrophesToQuote("charset=Big5[fg]charset=''Big5''[fg]charset='Big5'");
  static const Text hkscs =
      apostrophesToQuote("charset=Big5-HKSCS[fg]charset=''Big5-HKSCS''[fg]charset='Big5-HKSCS'");
  *detected = 0;
  Text head = textBetween(page, "<head>", "</head>");
  TextView area = head.empty() ? page : TextView(head);
  int position = 0;
  while (true) {
    Text tag = textBetween(area, "<meta", ">", &position);
    if (tag.empty())
      return false;
    if (containsAnyOf(tag, utf8, true)) {
      *detected = 1;
    } else if (containsAnyOf(tag, big5, true)) {
      *detected = 2;
    } else if (containsAnyOf(tag, hkscs, true)) {
      *detected = 3;
    } else {
      continue;
    }
    return true;
  }
}

bool looksLikeUtf8(const Bytes& bytes) {
  const std::size_t size = bytes.size();
  std::size_t ascii = 0;
  std::size_t at = 0;
  while (at < size) {
    processPendingEvents();
    unsigned char byte = bytes[at];
    if (byte < 0x80) {
      ++ascii;
      at += 1;
    } else if (at + 1 < size && (byte & 0xE0) == 0xC0 && (bytes[at + 1] & 0xC0) == 0x80) {
      at += 2;
    } else if (at + 2 < size && (byte & 0xF0) == 0xE0 && (bytes[at + 1] & 0xC0) == 0x80 &&
               (bytes[at + 2] & 0xC0) == 0x80) {
      at += 3;
    } else {
      return false;
    }
  }
  return ascii != size;
}

Bytes convertCharset(const Bytes& bytes, TextView fromCharset, TextView toCharset) {
  if (bytes.empty())
    return {};
  std::string from(fromCharset);
  std::string to(toCharset);
  std::string substitute;
  if (!convertEncoding("?", "ASCII", to.c_str(), "", &substitute))
    return {};
  std::string converted;
  std::string_view input(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!convertEncoding(input, from.c_str(), to.c_str(), substitute, &converted))
    return {};
  return toBytes(converted);
}

Text decodeResponse(const Bytes& bytes, int mode, int* settledMode, Text* text, TextView sourceText,
                    const std::optional<Text>& fileName) {
  // 1. The source, as one buffer.
  std::string buffer;
  if (fileName) {
    if (!readWholeFile(*fileName, &buffer)) {
      if (text != nullptr)
        text->clear();
      return {};
    }
  } else if (!bytes.empty()) {
    buffer.assign(bytes.begin(), bytes.end());
  } else {
    buffer.assign(sourceText);
  }

  // 2. Gzip.
  if (gzipDecompressorAvailable() && buffer.size() >= 2 &&
      static_cast<unsigned char>(buffer[0]) == 0x1F &&
      static_cast<unsigned char>(buffer[1]) == 0x8B) {
    Bytes inflated = gunzipBytes(toBytes(buffer));
    buffer.assign(inflated.begin(), inflated.end());
  }

  // 3. Byte-order marks and declared charsets.
  std::string_view view(buffer);
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
      metaCharset(asText(view), &detected);
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
  Bytes bodyBytes(body.begin(), body.end());
  if (settled == 0 && looksLikeUtf8(bodyBytes))
    settled = 2;

  // 6. Conversion.
  Text result;
  if (const char* charset = charsetOfMode(settled); charset != nullptr && !bodyBytes.empty()) {
    Bytes converted = convertCharset(bodyBytes, charset, "GB18030");
    result =
        asText(std::string_view(reinterpret_cast<const char*>(converted.data()), converted.size()));
  }

  // 7. Otherwise the raw bytes, a mark included.
  if (result.empty()) {
    result = asText(view);
    settled = 1;
  }

  if (settledMode != nullptr)
    *settledMode = settled;
  if (text != nullptr)
    *text = result;
  return result;
}

}  // namespace qarvo
