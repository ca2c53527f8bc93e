#include "engine/kept_pages.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_places.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 2> kServiceKeys = {"aizhan", "chinaz"};

// File names may be 255 bytes; one less leaves no doubt on any file system.
constexpr size_t kNameLimit = 254;

// Names a second counter may take before giving up: far more pages than a
// second ever sees, few enough that a broken folder is not tried for long.
constexpr int kCounterLimit = 1000;

bool knownServiceKey(std::string_view key) {
  return std::find(kServiceKeys.begin(), kServiceKeys.end(), key) != kServiceKeys.end();
}

// Only names keepPage() writes: anything else in the folder is the user's.
bool keptPageName(std::string_view name) {
  static constexpr std::string_view kExtension = ".html";
  if (name.size() <= kExtension.size() || !name.ends_with(kExtension))
    return false;
  return std::any_of(kServiceKeys.begin(), kServiceKeys.end(), [&](std::string_view key) {
    return name.size() > key.size() && name.starts_with(key) && name[key.size()] == '-';
  });
}

// The address as part of a file name (UTF-8): letters, digits, ".", "@",
// "-", "_" and non-ASCII characters stay, everything else (separators,
// controls, shell and URL punctuation) becomes "_".
std::string fileNameAddress(TextView gbkAddress) {
  const std::string utf8 = gbkToUtf8(gbkAddress);
  std::string name;
  for (size_t at = 0; at < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    if (lead < 0x80) {
      const bool kept = (lead >= 'a' && lead <= 'z') || (lead >= 'A' && lead <= 'Z') ||
                        (lead >= '0' && lead <= '9') || lead == '.' || lead == '@' || lead == '-' ||
                        lead == '_';
      name += kept ? static_cast<char>(lead) : '_';
      ++at;
      continue;
    }
    const size_t length = std::min<size_t>(lead >= 0xF0   ? 4
                                           : lead >= 0xE0 ? 3
                                                          : 2,
                                           utf8.size() - at);
    // U+0080..U+009F are control characters as much as the ASCII ones.
    const bool control =
        lead == 0xC2 && length == 2 && static_cast<unsigned char>(utf8[at + 1]) < 0xA0;
    if (control)
      name += '_';
    else
      name.append(utf8, at, length);
    at += length;
  }
  return name;
}

// `utf8` cut to at most `limit` bytes, never inside a character.
std::string cutAt(std::string utf8, size_t limit) {
  if (utf8.size() <= limit)
    return utf8;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
    --end;
  utf8.resize(end);
  return utf8;
}

// A value for the opening comment: UTF-8 without "--", which would end the
// comment early and let the page's own text pose as the program's.
std::string commentValue(std::string_view utf8) {
  std::string value;
  for (char c : utf8) {
    if (c == '-' && !value.empty() && value.back() == '-')
      value += ' ';
    value += c;
  }
  return value;
}

std::string formatTime(const std::tm& time, const char* format) {
  char buffer[32];
  const size_t length = std::strftime(buffer, sizeof buffer, format, &time);
  return std::string(buffer, length);
}

// Claims a fresh name in the folder by creating it empty, so that a page kept
// in the same second, by this process or another, never replaces another.
// Returns the name (UTF-8), empty when none could be made.
std::string claimName(const std::string& nativeFolder, const std::string& head,
                      const std::string& address, const std::string& tail) {
  for (int n = 1; n <= kCounterLimit; ++n) {
    const std::string end = tail + "-" + std::to_string(n) + ".html";
    const size_t fixed = head.size() + end.size();
    if (fixed >= kNameLimit)
      return std::string();
    const std::string name = head + cutAt(address, kNameLimit - fixed) + end;
    const int fd =
        open((nativeFolder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    if (errno != EEXIST)
      return std::string();
  }
  return std::string();
}

// Removes the oldest kept pages (by modification time, then name) so that
// kKeptPagesLimit remain, counting `newName` as the newest whatever its time
// says (a clock set back must not take the page just kept).
void removeOldPages(const std::string& nativeFolder, const std::string& newName) {
  struct Page {
    fs::file_time_type time;
    std::string name;
  };
  std::vector<Page> pages;
  std::error_code error;
  for (fs::directory_iterator it(nativeFolder, error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name == newName || !keptPageName(name))
      continue;
    std::error_code entryError;
    if (it->symlink_status(entryError).type() != fs::file_type::regular)
      continue;
    const fs::file_time_type time = it->last_write_time(entryError);
    if (!entryError)
      pages.push_back({time, std::move(name)});
  }
  const size_t keep = kKeptPagesLimit - 1;
  if (pages.size() <= keep)
    return;
  std::sort(pages.begin(), pages.end(), [](const Page& a, const Page& b) {
    return a.time != b.time ? a.time < b.time : a.name < b.name;
  });
  for (size_t at = 0; at < pages.size() - keep; ++at) {
    std::error_code ignored;
    fs::remove(nativeFolder + "/" + pages[at].name, ignored);
  }
}

}  // namespace

Text keptPagesFolder() {
  return userCacheFolder() + "/pages";
}

Text keepPage(const KeptPage& page) {
  // An unknown key would make a file that is never cleared away again.
  if (!knownServiceKey(page.serviceKey))
    return Text();
  const Text folder = keptPagesFolder();
  if (!createFolders(folder))
    return Text();
  const std::string nativeFolder = nativePath(folder);

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);

  const std::string name =
      claimName(nativeFolder, page.serviceKey + "-", fileNameAddress(page.address),
                "-p" + std::to_string(page.page) + "-" + formatTime(local, "%Y%m%d-%H%M%S"));
  if (name.empty())
    return Text();
  const Text path = folder + kPathSeparator + utf8ToGbk(name);

  std::string content =
      "<!-- qarvo-dorvane kept page: service " + commentValue(page.serviceKey) + ", address " +
      commentValue(gbkToUtf8(page.address)) + ", page " + std::to_string(page.page) + ", status " +
      std::to_string(page.status) + ", url " + commentValue(gbkToUtf8(page.url)) + ", time " +
      formatTime(local, "%Y-%m-%d %H:%M:%S") + " -->\n" + "<meta charset=\"utf-8\">\n";
  content += gbkToUtf8(page.body);
  if (!writeWholeFile(path, content)) {
    std::error_code ignored;
    fs::remove(nativeFolder + "/" + name, ignored);
    return Text();
  }
  removeOldPages(nativeFolder, name);
  return path;
}

}  // namespace qarvo
