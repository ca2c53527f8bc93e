#include "engine/address_text.h"

#include "platform/blanks.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"

namespace qarvo {

std::vector<Text> splitAddressList(TextView source) {
  std::vector<Text> elements;
  size_t begin = 0;
  size_t at = 0;
  while (at < source.size()) {
    size_t separator = 0;
    if (source[at] == '|') {
      separator = 1;
    } else if (source[at] == '\r' && at + 1 < source.size() && source[at + 1] == '\n') {
      separator = 2;
    }
    if (separator == 0) {
      at += charLength(source, at);
      continue;
    }
    elements.emplace_back(source.substr(begin, at - begin));
    at += separator;
    begin = at;
  }
  if (begin < source.size())
    elements.emplace_back(source.substr(begin));
  return elements;
}

TextView trimBlanks(TextView text) {
  return trimSpacesAndFullWidthSpaces(text);
}

std::string encodeAddress(TextView gbkAddress) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string utf8 = gbkToUtf8(gbkAddress);
  std::string encoded;
  encoded.reserve(utf8.size() * 3);
  for (unsigned char byte : utf8) {
    bool keep = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                (byte >= 'a' && byte <= 'z') || byte == '!' || byte == '(' || byte == ')' ||
                byte == '-' || byte == '.' || byte == '*' || byte == '_';
    if (keep) {
      encoded.push_back(static_cast<char>(byte));
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 0x0F]);
    }
  }
  return encoded;
}

bool isPlainFileName(TextView name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  // "/" and zero bytes are refused wherever they stand: after an invalid lead
  // byte the conversion to UTF-8 would still let them through.
  if (name.find('/') != TextView::npos || name.find('\0') != TextView::npos)
    return false;
  return findText(name, "\\") == -1;
}

}  // namespace qarvo
