// ScratchFolder: a fresh folder under /tmp for one test, removed afterwards.
// Tests run in parallel, so every folder has a name of its own.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/code_page.h"
#include "platform/native_file.h"
#include "platform/text.h"

namespace qarvo {

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/qarvo-settings-XXXXXX";
    if (mkdtemp(pattern) != nullptr)
      native_ = pattern;
  }
  ~ScratchFolder() {
    if (native_.empty())
      return;
    std::error_code ignored;
    std::filesystem::permissions(native_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(native_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool ok() const { return !native_.empty(); }
  // The folder as GBK text (its name is ASCII).
  Text gbkPath() const { return utf8ToGbk(native_); }
  // The GBK path of a file in the folder, named by a UTF-8 literal.
  Text file(const std::string& utf8Name) const { return gbkPath() + "/" + utf8ToGbk(utf8Name); }
  const std::string& nativePath() const { return native_; }

  // The bytes of a file, or "<missing>" when it cannot be read.
  static std::string contents(const Text& gbkPath) {
    std::string bytes;
    if (!readWholeFile(gbkPath, &bytes))
      return "<missing>";
    return bytes;
  }

 private:
  std::string native_;
};

}  // namespace qarvo
