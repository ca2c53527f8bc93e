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

// Creates or truncates the file and writes all of `bytes`. False on failure.
bool writeWholeFile(TextView gbkPath, std::string_view bytes);

// Reads the whole file into `bytes`. False (and `bytes` empty) on failure.
bool readWholeFile(TextView gbkPath, std::string* bytes);

}  // namespace qarvo
