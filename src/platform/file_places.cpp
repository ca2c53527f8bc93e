#include "platform/file_places.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

// An environment value that is set and not empty, as UTF-8.
std::string_view environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string_view(value) : std::string_view();
}

std::string homeNative() {
  if (std::string_view home = environmentValue("HOME"); !home.empty())
    return std::string(home);
  // A process started without HOME (a service, a bare `env -i`) still has an
  // entry in the password database.
  char buffer[4096];
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return found->pw_dir;
  return "/";
}

std::string withoutFinalSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

// A base folder of the XDG rules, UTF-8: the variable's value, or the folder
// under the home when it is unset or empty. The rules ignore a relative value.
std::string xdgHomeNative(const char* variable, std::string_view underHome) {
  std::string_view configured = environmentValue(variable);
  if (!configured.empty() && configured.front() == '/')
    return withoutFinalSlash(std::string(configured));
  return withoutFinalSlash(homeNative()) + std::string(underHome);
}

std::string configHomeNative() {
  return xdgHomeNative("XDG_CONFIG_HOME", "/.config");
}

// The value of the XDG_DOCUMENTS_DIR line of user-dirs.dirs, with "$HOME"
// expanded; empty when the file or the line is missing or the value is
// neither absolute nor under $HOME. The file is shell syntax written by
// xdg-user-dirs-update: KEY="$HOME/name" or KEY="/absolute", where a
// backslash escapes the character after it.
std::string documentsFromUserDirs(const std::string& home) {
  std::string bytes;
  if (!readWholeFile(utf8ToGbk(configHomeNative() + "/user-dirs.dirs"), &bytes))
    return std::string();
  static constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
  std::string found;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos)
      end = bytes.size();
    std::string_view line(bytes.data() + start, end - start);
    start = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    if (line.substr(0, kKey.size()) != kKey)
      continue;
    line.remove_prefix(kKey.size());
    std::string value;
    if (!line.empty() && line.front() == '"') {
      for (size_t at = 1; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] == '\\' && at + 1 < line.size())
          ++at;
        value += line[at];
      }
    } else {
      value = std::string(line.substr(0, line.find_first_of(" \t\r#")));
    }
    // The last line wins, as when the shell reads the file.
    found = std::move(value);
  }
  static constexpr std::string_view kHome = "$HOME";
  if (found.compare(0, kHome.size(), kHome) == 0 &&
      (found.size() == kHome.size() || found[kHome.size()] == '/'))
    return withoutFinalSlash(withoutFinalSlash(home) + found.substr(kHome.size()));
  if (!found.empty() && found.front() == '/')
    return withoutFinalSlash(found);
  return std::string();
}

// The program's own folder when it may keep its files there.
bool programFolderUsable(const Text& program) {
  return !runsInstalled() && folderWritable(program);
}

}  // namespace

bool runsInstalled() {
  static constexpr std::string_view kBin = "/bin";
  const Text program = programDirectory();
  return program.size() >= kBin.size() &&
         TextView(program).substr(program.size() - kBin.size()) == kBin &&
         std::filesystem::is_directory(nativePath(program) + "/../lib/" + kConfigFolderName);
}

bool folderWritable(TextView gbkFolder) {
  if (gbkFolder.empty())
    return false;
  std::string probe = nativePath(gbkFolder) + "/.qarvo-write-test-XXXXXX";
  int fd = mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0)
    return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool createFolders(TextView gbkFolder) {
  if (gbkFolder.empty())
    return false;
  std::error_code error;
  const std::filesystem::path path(nativePath(gbkFolder));
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

Text homeFolder() {
  return utf8ToGbk(withoutFinalSlash(homeNative()));
}

Text userConfigFolder() {
  return utf8ToGbk(configHomeNative() + "/" + kConfigFolderName);
}

Text userCacheFolder() {
  return utf8ToGbk(xdgHomeNative("XDG_CACHE_HOME", "/.cache") + "/" + kConfigFolderName);
}

Text userDataFolder() {
  return utf8ToGbk(xdgHomeNative("XDG_DATA_HOME", "/.local/share") + "/" + kConfigFolderName);
}

Text userDocumentsFolder() {
  const std::string home = homeNative();
  std::string documents = documentsFromUserDirs(home);
  if (documents.empty()) {
    std::string_view configured = environmentValue("XDG_DOCUMENTS_DIR");
    if (!configured.empty() && configured.front() == '/')
      documents = withoutFinalSlash(std::string(configured));
  }
  if (documents.empty())
    documents = withoutFinalSlash(home);
  return utf8ToGbk(documents);
}

Text settingsFolder(bool* writable) {
  Text program = programDirectory();
  bool ok = programFolderUsable(program);
  if (!ok) {
    program = userConfigFolder();
    ok = createFolders(program) && folderWritable(program);
  }
  if (writable != nullptr)
    *writable = ok;
  return program;
}

Text resultPlace(bool* writable) {
  Text place = programDirectory();
  bool ok = programFolderUsable(place);
  if (!ok) {
    place = userDocumentsFolder();
    ok = createFolders(place) && folderWritable(place);
  }
  if (writable != nullptr)
    *writable = ok;
  return place;
}

Text defaultResultFolder() {
  static const Text kFolderName = gbk("查询结果");
  Text place = resultPlace();
  if (place != "/")
    place += kPathSeparator;
  return place + kFolderName;
}

}  // namespace qarvo
