#include "platform/native_file.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace qarvo {
namespace {

size_t entriesIn(const std::string& folder) {
  size_t count = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      count += name != "." && name != "..";
    }
    closedir(dir);
  }
  return count;
}

// A file reached through symbolic links is replaced where it lies: the links
// stay links, the temporary file goes beside the target, and a dangling
// link gets its target created when the target's folder exists.
TEST(NativeFile, WritesThroughSymbolicLinksToTheirTarget) {
  struct Case {
    const char* name;
    // Each link and its text; "@" in the text stands for the case's folder.
    std::vector<std::pair<std::string, std::string>> links;
    const char* written;  // the path written, under the case's folder
    bool ok;
    const char* target;  // where the bytes land; null when nothing may
    size_t filesInB;     // the old file, and a target created beside it
  };
  const Case cases[] = {
      {"link to a file in another folder", {{"a/link", "../b/file"}}, "a/link", true, "b/file", 1},
      {"chain of two links",
       {{"a/first", "second"}, {"a/second", "../b/file"}},
       "a/first",
       true,
       "b/file",
       1},
      {"absolute link", {{"a/link", "@/b/file"}}, "a/link", true, "b/file", 1},
      {"dangling link", {{"a/link", "../b/new"}}, "a/link", true, "b/new", 2},
      {"dangling link into a missing folder",
       {{"a/link", "../missing/new"}},
       "a/link",
       false,
       nullptr,
       1},
      {"link loop", {{"a/x", "y"}, {"a/y", "x"}}, "a/x", false, nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char pattern[] = "/tmp/qarvo-links-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    ASSERT_EQ(mkdir((root + "/a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/b").c_str(), 0755), 0);
    ASSERT_TRUE(writeWholeFile(root + "/b/file", "old"));
    ASSERT_EQ(chmod((root + "/b/file").c_str(), 0640), 0);
    auto textOf = [&](std::string text) { return text[0] == '@' ? root + text.substr(1) : text; };
    for (const auto& [link, text] : c.links)
      ASSERT_EQ(symlink(textOf(text).c_str(), (root + "/" + link).c_str()), 0);

    EXPECT_EQ(writeWholeFile(root + "/" + c.written, "new"), c.ok);

    for (const auto& link : c.links) {
      struct stat info;
      ASSERT_EQ(lstat((root + "/" + link.first).c_str(), &info), 0);
      EXPECT_TRUE(S_ISLNK(info.st_mode)) << link.first;
    }
    std::string back;
    if (c.target != nullptr) {
      EXPECT_TRUE(readWholeFile(root + "/" + c.target, &back));
      EXPECT_EQ(back, "new");
      EXPECT_TRUE(readWholeFile(root + "/" + c.written, &back));
      EXPECT_EQ(back, "new");
    }
    if (c.target == nullptr || std::string(c.target) != "b/file") {
      EXPECT_TRUE(readWholeFile(root + "/b/file", &back));
      EXPECT_EQ(back, "old");
    }
    // The replaced file keeps its permissions; no temporary file stays.
    struct stat info;
    ASSERT_EQ(stat((root + "/b/file").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(entriesIn(root + "/a"), c.links.size());
    EXPECT_EQ(entriesIn(root + "/b"), c.filesInB);
    std::system(("rm -rf " + root).c_str());
  }
}

}  // namespace
}  // namespace qarvo
