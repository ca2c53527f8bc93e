#include "cli/address_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/address_text.h"
#include "platform/code_page.h"

namespace qarvo::cli {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

bool parseAddressList(std::string_view bytes, AddressList* list, std::string* error) {
  *list = AddressList();
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

  // One conversion of the whole text; LF stays LF, so the lines keep their
  // numbers.
  PickedAddresses picked = pickAddresses(utf8ToGbk(bytes));
  list->entries.reserve(picked.addresses.size());
  for (size_t i = 0; i < picked.addresses.size(); ++i) {
    ListedAddress& entry = list->entries.emplace_back();
    entry.line = picked.lines[i];
    entry.address = gbkToUtf8(picked.addresses[i]);
    entry.gbkAddress = std::move(picked.addresses[i]);
  }
  list->linesWithoutAddress = std::move(picked.linesWithoutAddress);
  list->duplicates = picked.duplicates;
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

bool readAddressList(const std::string& path, AddressList* list, std::string* error) {
  const std::string name = path.empty() || path == "-" ? std::string("standard input") : path;
  std::string bytes;
  int readError = 0;
  if (!readInputBytes(path, &bytes, &readError)) {
    *error = "cannot read " + name + ": " + std::strerror(readError);
    return false;
  }
  std::string problem;
  if (!parseAddressList(bytes, list, &problem)) {
    *error = name + ": " + problem;
    return false;
  }
  return true;
}

}  // namespace qarvo::cli
