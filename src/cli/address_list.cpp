#include "cli/address_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/code_page.h"

namespace qarvo::cli {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kFullWidthSpace = "\xE3\x80\x80";  // U+3000

std::string_view trimAddress(std::string_view line) {
  for (;;) {
    if (!line.empty() && line.front() == ' ')
      line.remove_prefix(1);
    else if (line.starts_with(kFullWidthSpace))
      line.remove_prefix(kFullWidthSpace.size());
    else
      break;
  }
  for (;;) {
    if (!line.empty() && line.back() == ' ')
      line.remove_suffix(1);
    else if (line.ends_with(kFullWidthSpace))
      line.remove_suffix(kFullWidthSpace.size());
    else
      break;
  }
  return line;
}

// C0 controls (tab and a lone CR among them), DEL, and the C1 controls
// U+0080..U+009F (C2 80..C2 9F in UTF-8).
bool holdsControlCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F)
      return true;
    if (byte == 0xC2 && i + 1 < text.size()) {
      unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F)
        return true;
    }
  }
  return false;
}

bool readAll(int fd, std::string* bytes, int* error) {
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0)
      return true;
    if (got < 0) {
      if (errno == EINTR)
        continue;
      *error = errno;
      return false;
    }
    bytes->append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace

size_t validUtf8Prefix(std::string_view bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    unsigned char lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) {
      ++at;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0)
        low = 0xA0;  // overlong
      if (lead == 0xED)
        high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0)
        low = 0x90;  // overlong
      if (lead == 0xF4)
        high = 0x8F;  // above U+10FFFF
    } else {
      return at;
    }
    if (at + length > bytes.size())
      return at;
    for (size_t k = 1; k < length; ++k) {
      unsigned char byte = static_cast<unsigned char>(bytes[at + k]);
      unsigned char min = k == 1 ? low : 0x80;
      unsigned char max = k == 1 ? high : 0xBF;
      if (byte < min || byte > max)
        return at;
    }
    at += length;
  }
  return at;
}

bool parseAddressList(std::string_view bytes, std::vector<ListedAddress>* entries,
                      std::string* error) {
  entries->clear();
  if (bytes.starts_with(kByteOrderMark))
    bytes.remove_prefix(kByteOrderMark.size());

  const size_t valid = validUtf8Prefix(bytes);
  if (valid < bytes.size()) {
    int line = 1;
    for (size_t i = 0; i < valid; ++i)
      line += bytes[i] == '\n';
    *error = "line " + std::to_string(line) + " is not UTF-8 text (save the list as UTF-8)";
    return false;
  }

  int lineNumber = 0;
  size_t begin = 0;
  while (begin < bytes.size()) {
    size_t end = bytes.find('\n', begin);
    if (end == std::string_view::npos)
      end = bytes.size();
    std::string_view line = bytes.substr(begin, end - begin);
    begin = end + 1;
    ++lineNumber;
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    if (line.empty())
      continue;

    ListedAddress entry;
    entry.line = lineNumber;
    entry.address = std::string(trimAddress(line));
    if (entry.address.empty())
      continue;  // a blank line, as the window skips it
    if (holdsControlCharacter(entry.address)) {
      entry.valid = false;
      entry.problem = "control character in the address";
    } else {
      entry.gbkAddress = utf8ToGbk(entry.address);
    }
    entries->push_back(std::move(entry));
  }
  return true;
}

bool readInputBytes(const std::string& path, std::string* bytes, int* errorNumber) {
  const bool standardInput = path.empty() || path == "-";
  int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *errorNumber = errno;
    return false;
  }
  bool read = readAll(fd, bytes, errorNumber);
  if (!standardInput)
    ::close(fd);
  return read;
}

bool readAddressList(const std::string& path, std::vector<ListedAddress>* entries,
                     std::string* error) {
  const std::string name = path.empty() || path == "-" ? std::string("standard input") : path;
  std::string bytes;
  int readError = 0;
  if (!readInputBytes(path, &bytes, &readError)) {
    *error = "cannot read " + name + ": " + std::strerror(readError);
    return false;
  }
  std::string problem;
  if (!parseAddressList(bytes, entries, &problem)) {
    *error = name + ": " + problem;
    return false;
  }
  return true;
}

}  // namespace qarvo::cli
