// SettingsFile: the settings file, held open and locked for the whole run.
//
// The store keeps the file's bytes in memory and mirrors every edit onto the
// disk at the edit's own offset. On Linux a file cannot grow or shrink in the
// middle, so an edit at offset O rewrites the bytes from O to the end and only
// then cuts off what lies beyond the new end: a write that fails part-way never
// leaves the file shorter than it was. Bytes before O are never touched.
//
// While this process holds the file, other instances of the program cannot
// lock it (an exclusive advisory lock); they may still read it. A text editor
// ignores the lock: it may change the file in place or put a new file in its
// place. The file remembers what it looked like after its own last write
// (inode, size, modification and change times), so that the store can tell
// such an edit before it writes and load the file anew.
//
// The two calls that change the file go through FileOps, so that tests can make
// a write fail part-way.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace qarvo {

// The system calls that change the file's content. The defaults are pwrite(2)
// and ftruncate(2); a replacement must behave like them (a short count or -1
// with errno set).
struct FileOps {
  std::function<ssize_t(int fd, const void* data, std::size_t size, off_t offset)> writeAt;
  std::function<int(int fd, off_t length)> truncate;

  static FileOps system();
};

class SettingsFile {
 public:
  SettingsFile();
  ~SettingsFile();

  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

  // Replaces the system calls used by later writes.
  void setFileOps(FileOps ops);

  // Opens the file at the GBK path for reading and writing, creating it when
  // absent, and takes the exclusive lock. False (and nothing held) when the
  // file cannot be opened or another process holds the lock. A file held
  // before is closed first.
  bool open(TextView gbkPath);

  // Releases the lock and closes the file; harmless when nothing is held.
  void close();

  bool isOpen() const { return fd_ >= 0; }

  // Reads the whole content of the held file into `bytes`. False on failure.
  bool readAll(std::string* bytes) const;

  // Whether the file under the path is no longer the one held as this
  // process left it: replaced, removed, or changed by someone else since the
  // open or our last write. False when nothing is held.
  bool changedOutside() const;

  // Flushes what was written to the disk. False on failure.
  bool flush();

  // Brings the file in line with `image`, whose bytes before `offset` already
  // match the file. `sameLength` says the edit did not change the length and
  // touched only `image[offset, offset + changed)`; then only those bytes are
  // written. Otherwise the bytes from `offset` to the end are written and the
  // file is cut to the length of `image`. A failure leaves the file no shorter
  // than before; the next call rewrites from the first byte that may differ,
  // so one successful call makes the file equal to `image` again.
  bool syncFrom(std::string_view image, std::size_t offset, bool sameLength = false,
                std::size_t changed = 0);

 private:
  bool writeRange(std::string_view image, std::size_t from, std::size_t to);
  bool writeImage(std::string_view image, std::size_t offset, bool sameLength, std::size_t changed);
  // Notes the held file's identity as it is now.
  void rememberIdentity();

  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};
    bool operator==(const Identity& other) const;
  };

  int fd_ = -1;
  std::string nativePath_;
  Identity identity_;
  FileOps ops_;
  std::size_t fileSize_ = 0;  // the length the file has on disk, as far as we know
  std::size_t dirtyFrom_;     // first offset that may differ from the image; npos when none
};

}  // namespace qarvo
