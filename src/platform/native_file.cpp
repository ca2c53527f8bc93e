#include "platform/native_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <set>
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

std::atomic<bool> unnamedTemporaryFiles{true};

// The name of a temporary file in the folder `prefix` ("" or ending in "/"):
// it starts with a dot so that a file manager left open on the folder hides
// it, is short, so that a target whose name is as long as a name may be still
// gets one, and carries the writer's process id, so that what a killed writer
// left can be told from what a running one is writing.
std::string temporaryName(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  return prefix + ".qarvo-" + std::to_string(getpid()) + "-" +
         std::to_string(counter.fetch_add(1)) + ".tmp";
}

// The writer's process id when `name` is a temporary file's name.
bool processOfTemporary(std::string_view name, pid_t* pid) {
  constexpr std::string_view kStart = ".qarvo-", kEnd = ".tmp";
  if (!name.starts_with(kStart) || !name.ends_with(kEnd))
    return false;
  name = name.substr(kStart.size(), name.size() - kStart.size() - kEnd.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == name.size())
    return false;
  auto digits = [](std::string_view part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(name.substr(0, dash)) || !digits(name.substr(dash + 1)))
    return false;
  *pid = static_cast<pid_t>(std::stol(std::string(name.substr(0, dash))));
  return *pid > 0;
}

// Removes the temporary files that writers killed in mid-write left in
// `folder`: those of processes that no longer exist. A process that exists
// (or that we may not signal) may still be writing; its files stay.
void removeStaleTemporaries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr)
    return;
  const pid_t self = getpid();
  while (const dirent* entry = readdir(dir)) {
    pid_t writer = 0;
    if (!processOfTemporary(entry->d_name, &writer) || writer == self)
      continue;
    if (kill(writer, 0) != 0 && errno == ESRCH)
      unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

// Unnamed files leave nothing when their writer dies, so a folder they are
// written into only needs looking through once, for what a writer of the
// named kind left there before.
void removeStaleTemporariesOnce(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> seen;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!seen.insert(folder).second)
      return;
  }
  removeStaleTemporaries(folder);
}

// Gives `target`'s permissions (when it exists) to the new file `fd`, writes
// `bytes` to it and flushes it to disk.
bool fillTemporary(int fd, const std::string& target, std::string_view bytes) {
  struct stat old;
  bool ok = true;
  if (stat(target.c_str(), &old) == 0)
    ok = fchmod(fd, old.st_mode & 07777) == 0 || errno == EPERM;
  return ok && writeAll(fd, bytes) && fsync(fd) == 0;
}

// Gives the unnamed file `fd` a temporary name in `prefix`, through /proc
// or, where /proc is not mounted, AT_EMPTY_PATH (which needs a capability).
bool nameUnnamedFile(int fd, const std::string& prefix, std::string* temporary) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = temporaryName(prefix);
    int linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary->c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT)
      linked = linkat(fd, "", AT_FDCWD, temporary->c_str(), AT_EMPTY_PATH);
    if (linked == 0)
      return true;
    if (errno != EEXIST)
      return false;
  }
  return false;
}

enum class Written { kDone, kFailed, kRefused };

// Writes an unnamed file in the folder (O_TMPFILE), which vanishes with its
// descriptor if the writer dies, and names it only once it is whole, just
// before the rename. kRefused where the file system or the kernel has no
// unnamed files, or the file cannot be named.
Written writeUnnamed(const std::string& target, const std::string& prefix,
                     const std::string& folder, std::string_view bytes, std::string* temporary) {
  if (!unnamedTemporaryFiles.load())
    return Written::kRefused;
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0)
    return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? Written::kRefused
                                                                     : Written::kFailed;
  removeStaleTemporariesOnce(folder);
  if (!fillTemporary(fd, target, bytes)) {
    close(fd);
    return Written::kFailed;
  }
  const bool named = nameUnnamedFile(fd, prefix, temporary);
  if (close(fd) != 0 || !named) {
    if (named)
      unlink(temporary->c_str());
    return named ? Written::kFailed : Written::kRefused;
  }
  return Written::kDone;
}

// Writes a named temporary file beside `target`, after removing what killed
// writers left in the folder.
bool writeNamed(const std::string& target, const std::string& prefix, const std::string& folder,
                std::string_view bytes, std::string* temporary) {
  removeStaleTemporaries(folder);
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    *temporary = temporaryName(prefix);
    fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST)
      return false;
  }
  if (fd < 0)
    return false;
  bool ok = fillTemporary(fd, target, bytes);
  ok = close(fd) == 0 && ok;
  if (!ok)
    unlink(temporary->c_str());
  return ok;
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
  const size_t slash = target.rfind('/');
  const std::string prefix =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : target.substr(0, slash);
  std::string temporary;
  const Written unnamed = writeUnnamed(target, prefix, folder, bytes, &temporary);
  if (unnamed == Written::kFailed)
    return false;
  if (unnamed == Written::kRefused && !writeNamed(target, prefix, folder, bytes, &temporary))
    return false;
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

void setUnnamedTemporaryFiles(bool allowed) {
  unnamedTemporaryFiles.store(allowed);
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
