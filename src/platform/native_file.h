// Files and folders named by GBK text.
//
// The program builds paths as GBK text (the program folder, an address, a
// section name); the Linux file system wants UTF-8 names. These helpers
// convert the name at the edge and leave file contents untouched: what is
// written is exactly the bytes given. Paths use "/" as the separator.
#pragma once

#include "platform/text.h"

namespace qarvo {

inline constexpr char kPathSeparator = '/';

// The folder the program's executable lies in, as GBK text, without a final
// separator. Tests may replace it with setProgramDirectory().
Text programDirectory();
void setProgramDirectory(TextView gbkPath);

// The UTF-8 file-system name of a GBK path.
std::string nativePath(TextView gbkPath);

// True when something (file or folder) exists under that name.
bool pathExists(TextView gbkPath);

// Creates one folder (not its parents). True when it was created.
bool createDirectory(TextView gbkPath);

// Replaces the file with exactly `bytes`, or creates it: the bytes go to a
// temporary file in the same folder, which is flushed to disk and renamed
// over the old one, so a crash or a full disk leaves either the old file or
// the new one, never a part. The temporary file is an unnamed one (O_TMPFILE)
// that gets its name only when whole, so a writer killed in mid-write leaves
// nothing; where the file system has no unnamed files it is a named
// ".qarvo-<pid>-<n>.tmp", and each write into a folder removes those of
// processes that no longer exist. A symbolic link is written through: the
// file it leads to (through any chain of links) is replaced and the link
// stays; a dangling link gets its target created when the target's folder
// exists. A replaced file keeps its permissions. False on any failure; the
// old file is then untouched and no temporary file stays behind.
bool writeWholeFile(TextView gbkPath, std::string_view bytes);
inline bool writeWholeFileAtomically(TextView gbkPath, std::string_view bytes) {
  return writeWholeFile(gbkPath, bytes);
}

// For tests: false makes writeWholeFile write as on a file system without
// unnamed files (named temporary files only); true (the default) undoes it.
void setUnnamedTemporaryFiles(bool allowed);

// Reads the whole file into `bytes`. False (and `bytes` empty) on failure.
bool readWholeFile(TextView gbkPath, std::string* bytes);

}  // namespace qarvo
