// Helpers shared by the engine's tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/code_page.h"
#include "platform/native_file.h"
#include "platform/text.h"

namespace qarvo {

// A fresh folder under the system's temporary folder, removed with all its
// content at the end of the test. Tests may run in parallel: every instance
// gets its own name.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qarvo-engine-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made == nullptr ? std::string() : std::string(made);
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder as GBK text (what the engine works with).
  Text gbkPath() const { return utf8ToGbk(path_); }
  // A path inside it, given as UTF-8, as GBK text.
  Text gbkPath(const std::string& relativeUtf8) const {
    return utf8ToGbk(path_ + "/" + relativeUtf8);
  }
  const std::string& utf8Path() const { return path_; }

 private:
  std::string path_;
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name))
      old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (old_.empty())
      unsetenv(name_);
    else
      setenv(name_, old_.c_str(), 1);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::string old_;
};

// The bytes of a file, or "<missing>" when it cannot be read.
inline std::string fileBytes(const Text& gbkPath) {
  std::string bytes;
  return readWholeFile(gbkPath, &bytes) ? bytes : std::string("<missing>");
}

}  // namespace qarvo
