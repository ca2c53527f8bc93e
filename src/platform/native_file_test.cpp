#include "platform/native_file.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace qarvo {
namespace {

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

size_t entriesIn(const std::string& folder) {
  return namesIn(folder).size();
}

// Every test here runs with unnamed temporary files and with named ones (as
// on a file system without O_TMPFILE).
class NativeFileWrite : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { setUnnamedTemporaryFiles(GetParam()); }
  void TearDown() override { setUnnamedTemporaryFiles(true); }
};

INSTANTIATE_TEST_SUITE_P(TemporaryFiles, NativeFileWrite, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Unnamed" : "Named";
                         });

// True while process `pid` holds a file in `folder` open.
bool writesInto(pid_t pid, const std::string& folder) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
  for (const std::string& fd : namesIn(fds)) {
    char buffer[4096];
    const ssize_t n = readlink((fds + fd).c_str(), buffer, sizeof buffer);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)).starts_with(folder + "/"))
      return true;
  }
  return false;
}

// A writer killed while it writes leaves the old file as it was. An unnamed
// temporary file vanishes with it; a named one stays until the next write
// into the folder, which removes it since its writer no longer exists.
TEST_P(NativeFileWrite, AWriterKilledInMidWriteLeavesTheOldFileAndNoTemporaryFile) {
  char pattern[] = "/tmp/qarvo-killed-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  ASSERT_TRUE(writeWholeFile(folder + "/file", "old"));
  const std::string large(128 << 20, 'x');

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    writeWholeFile(folder + "/file", large);
    _exit(0);
  }
  // Killed as soon as it holds its temporary file open.
  int status = 0;
  while (!writesInto(child, folder) && waitpid(child, &status, WNOHANG) == 0) {
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the write ended before the kill";

  std::string back;
  EXPECT_TRUE(readWholeFile(folder + "/file", &back));
  EXPECT_EQ(back, "old");
  if (GetParam()) {
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"file"});
  } else {
    const std::vector<std::string> left = namesIn(folder);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_TRUE(left[0].starts_with(".qarvo-" + std::to_string(child) + "-")) << left[0];
    // A process that still runs (init) may still be writing its own.
    ASSERT_TRUE(writeWholeFile(folder + "/.qarvo-1-5.tmp", "busy"));
    EXPECT_TRUE(writeWholeFile(folder + "/other", "x"));
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{".qarvo-1-5.tmp", "file", "other"}));
  }
  std::system(("rm -rf " + folder).c_str());
}

// A file reached through symbolic links is replaced where it lies: the links
// stay links, the temporary file goes beside the target, and a dangling
// link gets its target created when the target's folder exists.
TEST_P(NativeFileWrite, WritesThroughSymbolicLinksToTheirTarget) {
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
