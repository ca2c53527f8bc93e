#include "platform/native_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/code_page.h"

namespace qarvo {

namespace {

Text& programDirectoryOverride() {
  static Text value;
  return value;
}

}  // namespace

Text programDirectory() {
  if (!programDirectoryOverride().empty())
    return programDirectoryOverride();
  static const Text fromExecutable = [] {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
      return Text(".");
    std::string_view path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
      return Text(".");
    return utf8ToGbk(slash == 0 ? std::string_view("/") : path.substr(0, slash));
  }();
  return fromExecutable;
}

void setProgramDirectory(TextView gbkPath) {
  programDirectoryOverride() = Text(gbkPath);
}

std::string nativePath(TextView gbkPath) {
  return gbkToUtf8(gbkPath);
}

bool pathExists(TextView gbkPath) {
  struct stat info;
  return !gbkPath.empty() && stat(nativePath(gbkPath).c_str(), &info) == 0;
}

bool createDirectory(TextView gbkPath) {
  return !gbkPath.empty() && mkdir(nativePath(gbkPath).c_str(), 0777) == 0;
}

bool writeWholeFile(TextView gbkPath, std::string_view bytes) {
  if (gbkPath.empty())
    return false;
  int fd = open(nativePath(gbkPath).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0;
}

bool readWholeFile(TextView gbkPath, std::string* bytes) {
  bytes->clear();
  if (gbkPath.empty())
    return false;
  int fd = open(nativePath(gbkPath).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  char buffer[65536];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      close(fd);
      bytes->clear();
      return false;
    }
    if (n == 0)
      break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

}  // namespace qarvo
