#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/native_file.h"

namespace qarvo {

namespace {
constexpr std::size_t kNone = std::string_view::npos;
}

FileOps FileOps::system() {
  FileOps ops;
  ops.writeAt = [](int fd, const void* data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset);
  };
  ops.truncate = [](int fd, off_t length) { return ::ftruncate(fd, length); };
  return ops;
}

SettingsFile::SettingsFile() : ops_(FileOps::system()), dirtyFrom_(kNone) {}

SettingsFile::~SettingsFile() {
  close();
}

void SettingsFile::setFileOps(FileOps ops) {
  ops_ = std::move(ops);
}

bool SettingsFile::open(TextView gbkPath) {
  close();
  if (gbkPath.empty())
    return false;
  int fd = ::open(nativePath(gbkPath).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0)
    return false;
  // Another instance holding the lock owns the file; we then work without it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  nativePath_ = nativePath(gbkPath);
  fileSize_ = static_cast<std::size_t>(info.st_size);
  dirtyFrom_ = kNone;
  rememberIdentity();
  return true;
}

namespace {

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool SettingsFile::Identity::operator==(const Identity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         sameTime(modified, other.modified) && sameTime(changed, other.changed);
}

void SettingsFile::rememberIdentity() {
  struct stat info;
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
    identity_ = Identity();
    return;
  }
  identity_ = {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool SettingsFile::changedOutside() const {
  if (fd_ < 0)
    return false;
  struct stat info;
  if (::stat(nativePath_.c_str(), &info) != 0)
    return true;
  return !(Identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim} ==
           identity_);
}

bool SettingsFile::flush() {
  return fd_ >= 0 && ::fdatasync(fd_) == 0;
}

void SettingsFile::close() {
  if (fd_ < 0)
    return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
  nativePath_.clear();
  identity_ = Identity();
  fileSize_ = 0;
  dirtyFrom_ = kNone;
}

bool SettingsFile::readAll(std::string* bytes) const {
  bytes->clear();
  if (fd_ < 0)
    return false;
  char buffer[65536];
  off_t at = 0;
  while (true) {
    ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      bytes->clear();
      return false;
    }
    if (n == 0)
      return true;
    bytes->append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
}

bool SettingsFile::writeRange(std::string_view image, std::size_t from, std::size_t to) {
  std::size_t done = from;
  while (done < to) {
    ssize_t n = ops_.writeAt(fd_, image.data() + done, to - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      fileSize_ = std::max(fileSize_, done);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  fileSize_ = std::max(fileSize_, to);
  return true;
}

bool SettingsFile::syncFrom(std::string_view image, std::size_t offset, bool sameLength,
                            std::size_t changed) {
  if (fd_ < 0)
    return false;
  const bool written = writeImage(image, offset, sameLength, changed);
  // Our own write, whole or in part, is no edit from outside.
  rememberIdentity();
  return written;
}

bool SettingsFile::writeImage(std::string_view image, std::size_t offset, bool sameLength,
                              std::size_t changed) {
  if (sameLength && dirtyFrom_ == kNone && fileSize_ == image.size()) {
    std::size_t end = std::min(image.size(), offset + changed);
    if (writeRange(image, offset, end))
      return true;
    dirtyFrom_ = offset;
    return false;
  }
  std::size_t from = std::min(offset, dirtyFrom_);
  if (from > image.size())
    from = image.size();
  // The shifted tail first: until it is on disk, cutting the file would lose
  // bytes that the old content still needs.
  if (!writeRange(image, from, image.size())) {
    dirtyFrom_ = from;
    return false;
  }
  dirtyFrom_ = kNone;
  if (fileSize_ > image.size()) {
    if (ops_.truncate(fd_, static_cast<off_t>(image.size())) != 0)
      return false;
    fileSize_ = image.size();
  }
  return true;
}

}  // namespace qarvo
