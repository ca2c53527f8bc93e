#include "platform/native_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>
#include <utility>

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

namespace {

bool writeAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Opens a new file beside `target` that no one else uses. The name starts
// with a dot so that a file manager left open on the folder hides it, and is
// short, so that a target whose name is as long as a name may be still gets
// one.
int openTemporaryBeside(const std::string& target, std::string* temporary) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = folder + ".qarvo-" + std::to_string(getpid()) + "-" +
                 std::to_string(counter.fetch_add(1)) + ".tmp";
    int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  return -1;
}

// The file that `path` names once its symbolic links are followed, so that
// a user's link to a file elsewhere is written through and stays a link. A
// dangling link names the file it would point to. Only the last part of the
// path is followed: the folders on the way are the file system's business.
// False for a loop of links or a link that cannot be read.
bool followLinks(std::string path, std::string* target) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
      *target = path;
      return errno == ENOENT;
    }
    if (!S_ISLNK(info.st_mode)) {
      *target = path;
      return true;
    }
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
      return false;
    std::string next(buffer, static_cast<size_t>(n));
    if (next[0] != '/') {
      const size_t slash = path.rfind('/');
      if (slash != std::string::npos)
        next = path.substr(0, slash + 1) + next;
    }
    path = std::move(next);
  }
  return false;
}

}  // namespace

bool writeWholeFile(TextView gbkPath, std::string_view bytes) {
  if (gbkPath.empty())
    return false;
  std::string target;
  if (!followLinks(nativePath(gbkPath), &target))
    return false;
  std::string temporary;
  int fd = openTemporaryBeside(target, &temporary);
  if (fd < 0)
    return false;
  // A file that is replaced keeps its permissions.
  struct stat old;
  bool ok = true;
  if (stat(target.c_str(), &old) == 0)
    ok = fchmod(fd, old.st_mode & 07777) == 0 || errno == EPERM;
  ok = ok && writeAll(fd, bytes) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : target.substr(0, slash);
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
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
