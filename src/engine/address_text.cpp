#include "engine/address_text.h"

#include <unordered_set>

#include "engine/address_check.h"
#include "platform/blanks.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "text/com_regex.h"

namespace qarvo {

namespace {

// An address as people write it. Chinese text around an address has no
// blank before or after it, so the local part may end in Han (or kana,
// hangul) characters ("zhang.李四", "李四") but never has them before other
// letters: in prose ("发到sales@x.com") the address starts after them. For
// the same reason the last label of the domain is of one kind only
// ("x.com联系" ends at "com"). Labels are runs of letters and digits joined
// by hyphens, so a hyphen or a dot at either end is left out. The address
// (group 1) is tried only where a run of local-part characters begins, its
// leading dots and signs passed over, so that no run is scanned twice: a
// long line costs time in proportion to its length.
const Text& addressPattern() {
  // A letter, mark or digit; the same, not Chinese, Japanese or Korean; those.
  static const std::string any = R"([^\p{P}\p{S}\p{Z}\p{C}])";
  static const std::string latin =
      R"([^\p{P}\p{S}\p{Z}\p{C}\p{Han}\p{Hiragana}\p{Katakana}\p{Hangul}])";
  static const std::string han = R"([\p{Han}\p{Hiragana}\p{Katakana}\p{Hangul}])";
  static const std::string signs = "[._%+-]";
  static const std::string local = "(?:" + latin + "|_)(?:" + latin + "|" + signs + ")*" + han +
                                   "*|(?<!" + han + ")" + han + "+";
  static const std::string domain = "(?:" + any + "+(?:-+" + any + "+)*\\.)+(?:" + latin +
                                    "+(?:-+" + latin + "+)*|" + han + "+(?:-+" + han + "+)*)";
  static const Text pattern =
      "(?<!" + latin + ")(?<!" + signs + ")[.%+-]*((?:" + local + ")@" + domain + ")";
  return pattern;
}

}  // namespace

PickedAddresses pickAddresses(TextView gbkText) {
  PickedAddresses picked;
  ComRegex address;
  address.create(addressPattern(), false, false, true);
  std::unordered_set<Text> seen;  // ASCII-folded
  Text key;
  int lineNumber = 0;
  size_t begin = 0;
  while (begin < gbkText.size()) {
    // LF is never a trail byte, so lines split on bytes.
    size_t end = gbkText.find('\n', begin);
    if (end == TextView::npos)
      end = gbkText.size();
    const TextView line = gbkText.substr(begin, end - begin);
    begin = end + 1;
    ++lineNumber;
    if (trimWhiteSpaceAndFullWidthSpaces(line).empty())
      continue;
    bool found = false;
    // "@" may be a trail byte, but without the byte there is no address.
    const int matches = line.find('@') == TextView::npos ? 0 : address.execute(line);
    for (int n = 1; n <= matches; ++n) {
      Text match = address.subMatchValue(n, 1);
      if (!isEmailAddress(match))
        continue;  // too long for any mail system
      found = true;
      key = match;
      asciiToLowerInPlace(&key);
      if (!seen.insert(key).second) {
        ++picked.duplicates;
        continue;
      }
      picked.addresses.push_back(std::move(match));
      picked.lines.push_back(lineNumber);
    }
    if (!found)
      picked.linesWithoutAddress.push_back(lineNumber);
  }
  return picked;
}

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
